// The bevel stage: gives the opaque part of the picture a rounded rim. Every
// edge pixel stamps a cubic height profile of the distance to the outline
// into its neighbourhood; each covered pixel keeps the slopes of the highest
// stamp it receives. The raw slopes are then smoothed inside the bounding box
// and scaled by the bevel depth and direction into slopeX and slopeY.
#include "engine/Blend.h"
#include "engine/Engine.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace lustra {

namespace {

struct BevelParams {
    int32_t width;     // profile radius a, limited to the border
    int32_t smoothing; // smoothing radius r, limited to the border
    float edgeSlope;   // E: profile slope at the outline
    float innerSlope;  // I: profile slope at the inner end of the rim
    int32_t scale;     // f = trunc(depth x 256 / 100) x direction
};

BevelParams readParams() {
    const uint8_t *p = engine.bevelSettings;
    BevelParams params;
    params.width = limitToBorder(p[kBevelWidth]);
    params.smoothing = limitToBorder(p[kBevelSmoothing]);
    // Profile slopes in units of 0.2, signed, rounded to single precision.
    params.edgeSlope = static_cast<float>(static_cast<int8_t>(p[kBevelEdgeSlope]) * 0.2);
    params.innerSlope = static_cast<float>(static_cast<int8_t>(p[kBevelInnerSlope]) * 0.2);
    // Depth 0..255 gives at most 652; the direction byte is signed (+1 raised,
    // -1 sunken), so |f| stays below 2^17.
    params.scale = (p[kBevelDepth] * 256 / 100) * static_cast<int8_t>(p[kBevelDirection]);
    return params;
}

// The low 8 bits of v as a signed byte.
int8_t lowByte(int64_t v) {
    return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF));
}

// (sum x f) / divisor, truncated toward zero, as a signed byte. The product
// can pass 32 bits. The quotient is taken in double precision, which is exact
// here: the product stays far below 2^53, so a correctly rounded quotient
// never crosses an integer that the exact one does not reach (a non-integer
// quotient lies at least 1 / divisor from every integer).
int8_t scaledMean(int32_t sum, int32_t f, int32_t divisor) {
    const double quotient = static_cast<double>(int64_t(sum) * f) / divisor;
    return lowByte(static_cast<int64_t>(quotient));
}

// A stamp slope: clamped to -127..127, then truncated toward zero.
int8_t stampSlope(double v) {
    if (v < -127.0) v = -127.0;
    if (v > 127.0) v = 127.0;
    return static_cast<int8_t>(v);
}

// Height and slope stamps for radius a. Cell (dx, dy) lies at row dy + a,
// column dx + a, with the stride of the largest stamp (2R+1).
void buildStamps(int32_t a, float E, float I) {
    const int32_t stride = engine.stampSpan + 1;
    for (int32_t dy = -a; dy <= a; ++dy) {
        for (int32_t dx = -a; dx <= a; ++dx) {
            const int32_t cell = (dy + a) * stride + (dx + a);
            const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            if (d >= a) {
                engine.bevelStampHeight[cell] = 0;
                engine.bevelStampSlopeX[cell] = 0;
                engine.bevelStampSlopeY[cell] = 0;
                continue;
            }
            const double t = 1.0 - d / a;

            // Height X(t) x 255: truncated when 0 or more, truncated minus 1
            // when negative; kept modulo 256, so an overshooting profile wraps.
            const double X = t * t * (3 - 2 * t) + E * t * t * (t - 1) + I * t * (t - 1) * (t - 1);
            const double height = X * 255;
            const int32_t level =
                height >= 0 ? static_cast<int32_t>(height) : static_cast<int32_t>(height) - 1;
            engine.bevelStampHeight[cell] = static_cast<uint8_t>(level);

            // Slope: minus the profile derivative along the direction from the
            // edge pixel to the cell, that direction scaled to length 127.
            const double r = t;
            const float D = static_cast<float>(
                -(I * (3 * r * r - 4 * r + 1) + E * (3 * r * r - 2 * r) - 6 * (r * r - r)));
            const double ux = d > 0 ? dx * 127 / d : 0.0;
            const float uy = d > 0 ? static_cast<float>(dy * 127 / d) : 0.0f;
            engine.bevelStampSlopeX[cell] = stampSlope(D * ux);
            engine.bevelStampSlopeY[cell] = stampSlope(static_cast<double>(D) * uy);
        }
    }
}

// Covered pixels start with no stamp and no slope; transparent ones keep
// whatever they hold (nothing reads them).
// One row of clearCoveredPixels, branch-free so that it vectorises.
LUSTRA_VECTOR_CLONES void clearCoveredRow(const uint8_t *__restrict mask, int32_t count,
                                          uint8_t *__restrict stampMax, int8_t *__restrict rawX,
                                          int8_t *__restrict rawY) {
    for (int32_t x = 0; x < count; ++x) {
        const bool covered = mask[x] != 0;
        stampMax[x] = covered ? 0 : stampMax[x];
        rawX[x] = covered ? 0 : rawX[x];
        rawY[x] = covered ? 0 : rawY[x];
    }
}

void clearCoveredPixels() {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t row = engine.rowOffset[y];
        clearCoveredRow(engine.mask + engine.paddedRowOffset[y], w, engine.stampMax + row,
                        engine.rawSlopeX + row, engine.rawSlopeY + row);
    }
}

// Stamp rows are applied in runs of V cells with GCC vector extensions: V
// bytes of each plane at once, compiled for the widest registers the clone
// targets (two halves each where a vector is wider than the registers).
// (The vector attribute needs a literal size, hence one type per width.)
template <int V> struct ByteVector;
template <> struct ByteVector<8> { typedef uint8_t type __attribute__((vector_size(8))); };
template <> struct ByteVector<16> { typedef uint8_t type __attribute__((vector_size(16))); };
template <> struct ByteVector<32> { typedef uint8_t type __attribute__((vector_size(32))); };
template <int V> using Bytes = typename ByteVector<V>::type;

// Vectors go by reference: passed by value, their ABI differs between the
// clones.
template <typename Vector> void load(Vector &v, const void *p) {
    std::memcpy(&v, p, sizeof v);
}

template <typename Vector> void store(void *p, const Vector &v) {
    std::memcpy(p, &v, sizeof v);
}

// The pointers of one stamp row and of the frame row it lands on, all at the
// column of the edge pixel (offset dx = 0).
struct StampRow {
    const uint8_t *mask;
    uint8_t *stampMax;
    uint8_t *rawX, *rawY;
    const uint8_t *height, *slopeX, *slopeY;
};

// Stamps cells s .. s + V - 1 of the row: a covered pixel whose held height
// is lower (unsigned) than the stamp's takes the stamp's height and slopes.
// Stamping the same cells again changes nothing, so runs may overlap.
template <int V> inline void stampRun(const StampRow &row, int32_t s) {
    Bytes<V> mask, height, held, slopeX, slopeY, rawX, rawY;
    load(mask, row.mask + s), load(height, row.height + s), load(held, row.stampMax + s);
    load(slopeX, row.slopeX + s), load(slopeY, row.slopeY + s);
    load(rawX, row.rawX + s), load(rawY, row.rawY + s);
    const auto take = (mask != 0) & (height > held);
    store(row.stampMax + s, Bytes<V>(take ? height : held));
    store(row.rawX + s, Bytes<V>(take ? slopeX : rawX));
    store(row.rawY + s, Bytes<V>(take ? slopeY : rawY));
}

// Stamps cells first .. last of the row when cells lo .. hi (a range around
// them inside the frame and the stamp) hold at least V cells: the range is
// widened to V cells where shorter and covered by runs of V, the last one
// ending at the last cell. False when lo .. hi is too short.
template <int V>
inline bool stampRuns(const StampRow &row, int32_t first, int32_t last, int32_t lo, int32_t hi) {
    if (hi - lo + 1 < V) return false;
    if (last - first + 1 < V) {
        first = first < hi - V + 1 ? first : hi - V + 1;
        last = first + V - 1;
    }
    for (int32_t s = first; s < last - V + 1; s += V) stampRun<V>(row, s);
    stampRun<V>(row, last - V + 1);
    return true;
}

// The cells of stamp row dy that can take anything, those of non-zero
// height: first .. last (first > last when there are none).
struct StampExtent {
    int32_t first, last;
};

std::vector<StampExtent> stampExtents(int32_t a) {
    const int32_t stride = engine.stampSpan + 1;
    std::vector<StampExtent> extents(2 * size_t(a) + 1, StampExtent{a + 1, a});
    for (int32_t dy = -a; dy <= a; ++dy) {
        StampExtent &e = extents[dy + a];
        const uint8_t *height = engine.bevelStampHeight + (dy + a) * stride + a;
        for (int32_t dx = -a; dx <= a; ++dx) {
            if (height[dx] == 0) continue;
            if (e.first > dx) e.first = dx;
            e.last = dx;
        }
    }
    return extents;
}

// Stamps the profile around every edge pixel in list (scan) order. A covered
// pixel takes a stamp only when it is strictly higher (unsigned) than the one
// it holds, so among equal heights the first edge pixel wins; as each stamp
// row is finished before the next begins, a row may be taken in vector runs.
// Cells of height 0 never take anything and are skipped; the stamp rows and
// columns are clipped to the frame once per edge pixel.
LUSTRA_VECTOR_CLONES void stampEdges(int32_t a, const StampExtent *extents) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t stride = engine.stampSpan + 1;
    for (int32_t i = 0; i < engine.edgeCount; ++i) {
        pollAbort(i);
        const int32_t ex = engine.edgeX[i], ey = engine.edgeY[i];
        const int32_t dyFirst = -a > -ey ? -a : -ey;
        const int32_t dyLast = a < h - 1 - ey ? a : h - 1 - ey;
        const int32_t dxFirst = -a > -ex ? -a : -ex;
        const int32_t dxLast = a < w - 1 - ex ? a : w - 1 - ex;
        for (int32_t dy = dyFirst; dy <= dyLast; ++dy) {
            const StampExtent e = extents[dy + a];
            const int32_t first = e.first > dxFirst ? e.first : dxFirst;
            const int32_t last = e.last < dxLast ? e.last : dxLast;
            if (first > last) continue;
            const int32_t pixel = engine.rowOffset[ey + dy] + ex;
            const int32_t cell = (dy + a) * stride + a;
            const StampRow row = {
                engine.mask + engine.paddedRowOffset[ey + dy] + ex,
                engine.stampMax + pixel,
                reinterpret_cast<uint8_t *>(engine.rawSlopeX + pixel),
                reinterpret_cast<uint8_t *>(engine.rawSlopeY + pixel),
                engine.bevelStampHeight + cell,
                reinterpret_cast<const uint8_t *>(engine.bevelStampSlopeX + cell),
                reinterpret_cast<const uint8_t *>(engine.bevelStampSlopeY + cell)};
            if (stampRuns<32>(row, first, last, dxFirst, dxLast) ||
                stampRuns<16>(row, first, last, dxFirst, dxLast) ||
                stampRuns<8>(row, first, last, dxFirst, dxLast))
                continue;
            for (int32_t dx = first; dx <= last; ++dx) {
                if (row.mask[dx] == 0 || row.stampMax[dx] >= row.height[dx]) continue;
                row.stampMax[dx] = row.height[dx];
                row.rawX[dx] = row.slopeX[dx];
                row.rawY[dx] = row.slopeY[dx];
            }
        }
    }
}

// Without smoothing: every frame pixel's raw slope times f, shifted right
// arithmetically by 8 (rounding toward minus infinity).
void scaleUnsmoothed(int32_t f) {
    const size_t count = size_t(engine.frameWidth) * engine.frameHeight;
    for (size_t i = 0; i < count; ++i) {
        engine.slopeX[i] = lowByte((engine.rawSlopeX[i] * f) >> 8);
        engine.slopeY[i] = lowByte((engine.rawSlopeY[i] * f) >> 8);
    }
}

// Adds the raw slopes of the covered pixels of one row segment, weighted by
// `weight`, to the column sums (and the weight to the column weights).
LUSTRA_VECTOR_CLONES void addCoveredRow(const uint8_t *__restrict mask,
                                        const int8_t *__restrict rawX,
                                        const int8_t *__restrict rawY, int32_t weight,
                                        int32_t count, int32_t *__restrict sumX,
                                        int32_t *__restrict sumY, int32_t *__restrict weights) {
    // Branch-free (an uncovered pixel adds weight 0), so that it vectorises.
    for (int32_t i = 0; i < count; ++i) {
        const int32_t w = mask[i] != 0 ? weight : 0;
        sumX[i] += rawX[i] * w;
        sumY[i] += rawY[i] * w;
        weights[i] += w;
    }
}

// One kernel tap of the row pass over a row segment: totals += sums x tap.
LUSTRA_VECTOR_CLONES void convolveStep(const int32_t *__restrict sumX,
                                       const int32_t *__restrict sumY,
                                       const int32_t *__restrict weights, int32_t tap,
                                       int32_t count, int32_t *__restrict totalX,
                                       int32_t *__restrict totalY, int32_t *__restrict totalW) {
    for (int32_t i = 0; i < count; ++i) {
        totalX[i] += sumX[i] * tap;
        totalY[i] += sumY[i] * tap;
        totalW[i] += weights[i] * tap;
    }
}

// Separable weighted mean of the raw slopes of covered pixels within radius
// r, over the bounding box, scaled by f / 256 with truncation toward zero.
// Column c's x sum, weight and y sum live at index c + R of the first half of
// columnSums, of its second half and of columnSumsY; columns outside the box
// stay 0 and so never count.
void smoothAndScale(int32_t r, int32_t f) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t half = engine.columnSumsCount / 2;
    int32_t *sumX = engine.columnSums + engine.border;
    int32_t *weight = engine.columnSums + half + engine.border;
    int32_t *sumY = engine.columnSumsY + engine.border;
    const int32_t *kernel = engine.blurKernel;
    std::vector<int32_t> rowSums(3 * size_t(w));
    int32_t *rowX = rowSums.data(), *rowY = rowX + w, *rowW = rowY + w;

    const int32_t x0 = engine.boundsMinX > 0 ? engine.boundsMinX : 0;
    const int32_t x1 = engine.boundsMaxX + 1 < w ? engine.boundsMaxX + 1 : w;
    const int32_t y0 = engine.boundsMinY > 0 ? engine.boundsMinY : 0;
    const int32_t y1 = engine.boundsMaxY + 1 < h ? engine.boundsMaxY + 1 : h;

    for (int32_t y = y0; y < y1; ++y) {
        pollAbort(y - y0);

        // Column pass: rows y - r .. y + r that lie in the frame, taken row by
        // row so that the planes are read in memory order.
        const int32_t kFirst = r - y > 0 ? r - y : 0;
        const int32_t kLast = h - 1 - y + r < 2 * r ? h - 1 - y + r : 2 * r;
        for (int32_t x = x0; x < x1; ++x) sumX[x] = sumY[x] = weight[x] = 0;
        for (int32_t k = kFirst; k <= kLast; ++k) {
            const int32_t yy = y - r + k;
            addCoveredRow(engine.mask + engine.paddedRowOffset[yy] + x0,
                          engine.rawSlopeX + engine.rowOffset[yy] + x0,
                          engine.rawSlopeY + engine.rowOffset[yy] + x0, kernel[k], x1 - x0,
                          sumX + x0, sumY + x0, weight + x0);
        }

        // Row pass: the kernel along the row, over the columns of weight
        // greater than 0 (a column of weight 0 has sums of 0 too, so it is
        // added as it is). Computed for the whole row segment at once so that
        // it vectorises; only covered pixels take the result. The sums stay
        // far inside 32 bits; SX x f need not.
        for (int32_t x = x0; x < x1; ++x) rowX[x] = rowY[x] = rowW[x] = 0;
        for (int32_t k = 0; k <= 2 * r; ++k)
            convolveStep(sumX + x0 - r + k, sumY + x0 - r + k, weight + x0 - r + k, kernel[k],
                         x1 - x0, rowX + x0, rowY + x0, rowW + x0);
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const int32_t row = engine.rowOffset[y];
        for (int32_t x = x0; x < x1; ++x) {
            if (maskRow[x] == 0) continue;
            // The pixel's own column always counts; only a kernel whose
            // weights all truncate to 0 leaves no weight, and then no slope.
            if (rowW[x] == 0) {
                engine.slopeX[row + x] = 0;
                engine.slopeY[row + x] = 0;
                continue;
            }
            engine.slopeX[row + x] = scaledMean(rowX[x], f, rowW[x] * 256);
            engine.slopeY[row + x] = scaledMean(rowY[x], f, rowW[x] * 256);
        }
    }
}

} // namespace

int32_t bevelStage(const RenderJob &job) {
    std::memcpy(engine.bevelSettings, job.bevelParams, sizeof engine.bevelSettings);
    engine.bevelEnabled = job.bevelOn;
    if (job.bevelOn != 1) return 0;
    if (engine.edgeCount <= 0 || !engine.mask) return 0;

    const BevelParams params = readParams();
    if (params.width > 0) buildStamps(params.width, params.edgeSlope, params.innerSlope);

    clearCoveredPixels();
    if (params.width > 0) stampEdges(params.width, stampExtents(params.width).data());

    std::memset(engine.columnSums, 0, sizeof(int32_t) * engine.columnSumsCount);
    std::memset(engine.columnSumsY, 0, sizeof(int32_t) * engine.columnSumsCount);
    if (params.smoothing == 0) {
        scaleUnsmoothed(params.scale);
    } else {
        buildSmoothKernel(static_cast<uint8_t>(params.smoothing), 256.0);
        try {
            smoothAndScale(params.smoothing, params.scale);
        } catch (const std::bad_alloc &) {
            return -1; // no room for one row of sums: the render fails
        }
    }

    engine.bevelEnabled = 1;
    return 0;
}

} // namespace lustra
