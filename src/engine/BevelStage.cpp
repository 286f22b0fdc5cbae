// The bevel stage: gives the opaque part of the picture a rounded rim. Every
// edge pixel stamps a cubic height profile of the distance to the outline
// into its neighbourhood; each covered pixel keeps the slopes of the highest
// stamp it receives. The raw slopes are then smoothed inside the bounding box
// and scaled by the bevel depth and direction into slopeX and slopeY.
//
// The readable per-pixel model, which the tests and the render fuzzer match
// this stage against byte for byte: engine/reference/BevelModel.h. The row
// kernels it calls: engine/kernels/BevelKernels.h.
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/BevelKernels.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace lustra {

namespace bevelKernels {

// The padded copy of the stamp tables of radius a (see BevelKernels.h).
PaddedStamp::PaddedStamp(int32_t a) : pitch(2 * a + 1 + 2 * kMargin) {
    const size_t size = size_t(2 * a + 1) * pitch;
    height.assign(size, 0), slopeX.assign(size, 0), slopeY.assign(size, 0);
    const int32_t stride = engine.stampSpan + 1;
    for (int32_t row = 0; row <= 2 * a; ++row) {
        const size_t to = size_t(row) * pitch + kMargin, from = size_t(row) * stride;
        std::memcpy(&height[to], engine.bevelStampHeight + from, 2 * size_t(a) + 1);
        std::memcpy(&slopeX[to], engine.bevelStampSlopeX + from, 2 * size_t(a) + 1);
        std::memcpy(&slopeY[to], engine.bevelStampSlopeY + from, 2 * size_t(a) + 1);
    }
}

} // namespace bevelKernels

namespace {

using namespace bevelKernels;

struct BevelParams {
    int32_t width;     // profile radius a, limited to the border
    int32_t smoothing; // smoothing radius r, limited to the border
    float edgeSlope;   // E: profile slope at the outline
    float innerSlope;  // I: profile slope at the inner end of the rim
    int32_t scale;     // f = trunc(depth x 256 / 100) x direction
};

BevelParams readParams(const BevelJob &bevel) {
    BevelParams params;
    params.width = limitToBorder(bevel.width);
    params.smoothing = limitToBorder(bevel.smoothing);
    // Profile slopes in units of 0.2, signed, rounded to single precision.
    params.edgeSlope = static_cast<float>(bevel.edgeSlope * 0.2);
    params.innerSlope = static_cast<float>(bevel.innerSlope * 0.2);
    // Depth 0..255 gives at most 652; the direction is +1 raised, -1 sunken,
    // so |f| stays below 2^17.
    params.scale = (bevel.depth * 256 / 100) * bevel.direction;
    return params;
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

// Covered pixels of rows first .. last start with no stamp and no slope;
// transparent ones keep whatever they hold (nothing reads them).
void clearCoveredPixels(int32_t first, int32_t last) {
    const PixelRect box = maskBounds(0);
    for (int32_t y = first; y <= last; ++y) {
        const int32_t row = engine.rowOffset[y] + box.x0;
        clearCoveredRow(engine.mask + engine.paddedRowOffset[y] + box.x0, box.x1 - box.x0,
                        engine.stampMax + row, engine.rawSlopeX + row, engine.rawSlopeY + row);
    }
}

// The extents of the stamp rows of radius a, per row dy + a.
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

// The box's rows cleared and stamped in bands of kBandRows, each band when
// the smoothing first needs one of its rows: the smoothing then reads the
// rows while the stamping's writes are still in cache (the band's planes
// and the smoothing's rows take a few hundred kilobytes at 1920 pixels a
// row). A pixel takes the same stamps in the same order as when the whole
// box is stamped at once, since every stamp that reaches its row is
// applied in the row's band, after the row is cleared.
class StampedRows {
  public:
    static constexpr int32_t kBandRows = 32;

    explicit StampedRows(int32_t a)
        : a_(a), box_(maskBounds(0)), next_(box_.y0), edgeRows_(edgeRowStarts()) {
        if (a <= 0) return;
        extents_ = stampExtents(a);
        if (a <= PaddedStamp::kLargestRadius) padded_.reset(new PaddedStamp(a));
    }

    // Clears and stamps the bands up to the one that holds row y (rows past
    // the box hold no covered pixel and are left alone).
    void reach(int32_t y) {
        while (next_ < box_.y1 && next_ <= y) {
            const int32_t last = next_ + kBandRows < box_.y1 ? next_ + kBandRows - 1 : box_.y1 - 1;
            clearCoveredPixels(next_, last);
            if (a_ > 0)
                stampEdges(a_, extents_.data(), padded_.get(), {edgeRows_.data(), next_, last});
            next_ = last + 1;
        }
    }

  private:
    int32_t a_;
    PixelRect box_;
    int32_t next_; // the first row not yet stamped
    std::vector<int32_t> edgeRows_;
    std::vector<StampExtent> extents_;
    std::unique_ptr<PaddedStamp> padded_;
};

// Without smoothing: every frame pixel's raw slope times f, shifted right
// arithmetically by 8 (rounding toward minus infinity).
void scaleUnsmoothed(int32_t f) {
    scaleRawSlopes(engine.rawSlopeX, engine.rawSlopeY,
                   size_t(engine.frameWidth) * engine.frameHeight, f, engine.slopeX, engine.slopeY);
}

// Separable weighted mean of the raw slopes of covered pixels within radius
// r, over the bounding box, scaled by f / 256 with truncation toward zero.
// The column pass runs down the frame rows, the row pass along the box's
// columns only (columns outside the box count as empty).
//
// Ranges: the kernel weights (gain 256) add up to at most 254 for every
// radius and each fits an unsigned byte, so a column sum of slopes
// (|slope| <= 127) stays within 127 x 254 = 32,258 and fits 16 bits, as does
// any two weighted slopes' sum; a row total stays within 254 x 32,258 < 2^24,
// and the weight total times 256 within 254 x 254 x 256 < 2^24, so single
// precision holds them exactly. A mean times f is at most
// 127 x 652 x 128 / 256 in size.
void smoothAndScale(int32_t r, int32_t f, StampedRows &stamped) {
    const int32_t h = engine.frameHeight;
    const PixelRect box = maskBounds(0);
    const int32_t x0 = box.x0, x1 = box.x1, y0 = box.y0, y1 = box.y1;
    const int32_t tapCount = 2 * r + 1;
    const int32_t count = x1 - x0;
    const int32_t width = (count + kColumnLanes - 1) / kColumnLanes * kColumnLanes;

    std::vector<int16_t> taps16(engine.blurKernel, engine.blurKernel + tapCount);

    // Prepared rows y - r .. y + r, frame row yy in slot yy mod (2r+1): its
    // three planes, then the same interleaved with row yy - 1's, then a flag
    // per column vector with a covered pixel; the columns past the box stay 0.
    // The flags of the rows y - r .. y + r add up to the occupancy.
    const int32_t vectors = width / kColumnLanes;
    const size_t slotSize = 9 * size_t(width) + vectors;
    std::vector<int8_t> ring(size_t(tapCount) * slotSize, 0);
    const std::vector<int8_t> emptyRow(slotSize, 0); // the planes of a row above the box
    auto slot = [&](int32_t yy) { return ring.data() + size_t(yy % tapCount) * slotSize; };
    // Pairs of neighbouring column sums with r empty columns on each side,
    // the column pass's own sums for its portable variant, then the totals.
    const size_t sumsLength = size_t(width) + 2 * r;
    std::vector<int32_t> pairs(3 * sumsLength, 0);
    std::vector<int16_t> sums(3 * size_t(width));
    std::vector<int32_t> totals(3 * size_t(width));
    int32_t *totalX = totals.data(), *totalY = totalX + width, *totalW = totalY + width;
    std::vector<int32_t> tapPairs(size_t(r) + 1);
    for (int32_t p = 0; p <= r; ++p)
        tapPairs[p] = pairOf(taps16[2 * p], 2 * p + 1 < tapCount ? taps16[2 * p + 1] : 0);
    RowPass pass;
    pass.pairs = pairs.data(), pass.stride = sumsLength;
    pass.totals[0] = totalX, pass.totals[1] = totalY, pass.totals[2] = totalW;
    pass.tapPairs = tapPairs.data(), pass.pairCount = r + 1, pass.width = width;
    std::vector<int32_t> means(2 * size_t(width));
    int32_t *meanX = means.data(), *meanY = meanX + width;
    std::vector<const int8_t *> rowPairs(size_t(r) + 1);
    std::vector<uint16_t> rowTaps(size_t(r) + 1);
    std::vector<int32_t> occupancy(vectors, 0);
    auto countRow = [&](int32_t yy, int32_t sign) {
        const int8_t *flags = slot(yy) + 9 * size_t(width);
        for (int32_t v = 0; v < vectors; ++v) occupancy[v] += sign * flags[v];
    };
    // A pixel whose window (rows y - r .. y + r, columns x - r .. x + r)
    // holds no non-zero slope has sums of 0 and so the mean 0 whatever its
    // weights; far inside a shape, beyond the stamps' reach, that is much
    // of the bounding box. Sets of groups of kRowLanes columns, as bits, 64 to a word:
    // per prepared row the groups with a non-zero slope; per output row the
    // groups some of whose windows hold one (`live`, worked out as usual;
    // the others take 0), and the groups within r columns of a live one,
    // whose column sums are needed (elsewhere the column pass takes the
    // occupancy as 0).
    static_assert(kRowLanes == 8 && kColumnLanes == 2 * kRowLanes, "groups of 8, vectors of 2");
    const int32_t groups = width / kRowLanes, words = (groups + 63) / 64;
    const int32_t reach = (r + kRowLanes - 1) / kRowLanes; // in groups
    std::vector<uint64_t> slopeBits(size_t(tapCount) * words, 0);
    auto bitsOf = [&](int32_t yy) { return slopeBits.data() + size_t(yy % tapCount) * words; };
    std::vector<uint64_t> window(words), live(words), nearLive(words);
    // out = in grown by `reach` groups to each side.
    auto grow = [&](const std::vector<uint64_t> &in, std::vector<uint64_t> &out) {
        out = in;
        if (reach >= 64) { // radii past 504 (borders that wide): all of the row
            for (uint64_t &bits : out) bits = ~uint64_t(0);
            return;
        }
        for (int32_t k = 1; k <= reach; ++k)
            for (int32_t v = 0; v < words; ++v) {
                const uint64_t before = v > 0 ? in[v - 1] >> (64 - k) : 0;
                const uint64_t after = v + 1 < words ? in[v + 1] << (64 - k) : 0;
                out[v] |= in[v] << k | before | in[v] >> k | after;
            }
    };
    auto isSet = [](const std::vector<uint64_t> &bits, int32_t g) {
        return (bits[g / 64] >> (g % 64) & 1) != 0;
    };
    // The first group from g on whose bit is not `on` (groups if none).
    auto runEnd = [&](const std::vector<uint64_t> &bits, int32_t g, bool on) {
        for (int32_t v = g / 64; v < words; ++v) {
            uint64_t other = on ? ~bits[v] : bits[v];
            if (v == g / 64) other &= ~uint64_t(0) << (g % 64);
            if (other != 0) {
                const int32_t end = v * 64 + __builtin_ctzll(other);
                return end < groups ? end : groups;
            }
        }
        return groups;
    };
    std::vector<int32_t> needed(vectors, 0);
    std::vector<int8_t> liveCoverage(width, 0);
    ColumnPass columns;
    columns.occupancy = needed.data();
    columns.rows = rowPairs.data(), columns.taps = rowTaps.data(), columns.width = width;
    for (int plane = 0; plane < 3; ++plane) {
        columns.pairs[plane] = pairs.data() + plane * sumsLength + r;
        columns.sums[plane] = sums.data() + plane * size_t(width);
    }

    const int32_t firstRow = y0 - r > 0 ? y0 - r : 0;
    int32_t prepared = firstRow - 1; // the last prepared row
    for (int32_t y = y0; y < y1; ++y) {
        pollAbort(y - y0);

        // Rows y - r .. y + r that lie in the frame.
        const int32_t kFirst = r - y > 0 ? r - y : 0;
        const int32_t kLast = h - 1 - y + r < 2 * r ? h - 1 - y + r : 2 * r;
        if (y - r - 1 >= firstRow) countRow(y - r - 1, -1); // leaves, before its slot is reused
        for (; prepared < y - r + kLast; ++prepared) {
            const int32_t yy = prepared + 1;
            stamped.reach(yy);
            prepareSlot(engine.mask + engine.paddedRowOffset[yy] + x0,
                        engine.rawSlopeX + engine.rowOffset[yy] + x0,
                        engine.rawSlopeY + engine.rowOffset[yy] + x0, count, width,
                        yy > firstRow ? slot(yy - 1) : emptyRow.data(), slot(yy), bitsOf(yy));
            countRow(yy, 1);
        }

        // The rows in pairs, each pair from the slot of its lower row; with
        // an odd count the first row goes alone, with a zero tap above it.
        columns.pairCount = 0;
        auto addPair = [&](int32_t lower, int32_t upperTap) {
            rowPairs[columns.pairCount] = slot(y - r + lower) + 3 * width;
            rowTaps[columns.pairCount++] = static_cast<uint16_t>(upperTap | taps16[lower] << 8);
        };
        int32_t k = kFirst;
        if ((kLast - kFirst) % 2 == 0) addPair(k++, 0);
        for (; k < kLast; k += 2) addPair(k + 1, taps16[k]);
        for (int32_t v = 0; v < words; ++v) window[v] = 0;
        for (int32_t kk = kFirst; kk <= kLast; ++kk) {
            const uint64_t *bits = bitsOf(y - r + kk);
            for (int32_t v = 0; v < words; ++v) window[v] |= bits[v];
        }
        grow(window, live);
        grow(live, nearLive);
        // A column vector is two groups.
        for (int32_t v = 0; v < vectors; ++v)
            needed[v] = occupancy[v] & -int32_t(nearLive[v / 32] >> (2 * v % 64) & 3 ? 1 : 0);
        sumColumnPairs(columns);

        // The row pass and the means for the live groups only, in runs.
        const int8_t *coverage = slot(y) + 2 * width;
        for (int32_t g = 0; g < groups;) {
            const bool on = isSet(live, g);
            const int32_t end = runEnd(live, g, on);
            const size_t first = size_t(g) * kRowLanes, length = size_t(end - g) * kRowLanes;
            if (on)
                std::memcpy(liveCoverage.data() + first, coverage + first, length);
            else
                std::memset(liveCoverage.data() + first, 0, length);
            g = end;
        }
        pass.coverage = liveCoverage.data();
        convolvePairs(pass);
        const int32_t row = engine.rowOffset[y] + x0;
        meanSlopes(totalX, totalY, totalW, liveCoverage.data(), width, f, meanX, meanY);
        const uint8_t *mask = engine.mask + engine.paddedRowOffset[y] + x0;
        for (int32_t g = 0; g * kRowLanes < count;) {
            const bool on = isSet(live, g);
            const int32_t end = runEnd(live, g, on);
            const int32_t first = g * kRowLanes;
            const int32_t length = (end * kRowLanes < count ? end * kRowLanes : count) - first;
            if (on)
                takeCovered(mask + first, meanX + first, meanY + first, length,
                            engine.slopeX + row + first, engine.slopeY + row + first);
            else
                clearCoveredSlopes(mask + first, length, engine.slopeX + row + first,
                                   engine.slopeY + row + first);
            g = end;
        }
    }
}

} // namespace

int32_t bevelStage(const RenderJob &job) {
    if (job.bevel.on != 1) return 0;
    if (engine.edgeCount <= 0 || !engine.mask) return 0;

    const BevelParams params = readParams(job.bevel);
    if (params.width > 0) buildStamps(params.width, params.edgeSlope, params.innerSlope);

    try {
        StampedRows stamped(params.width);
        if (params.smoothing == 0) {
            stamped.reach(engine.frameHeight);
            scaleUnsmoothed(params.scale);
        } else {
            buildSmoothKernel(static_cast<uint8_t>(params.smoothing), 256.0);
            smoothAndScale(params.smoothing, params.scale, stamped);
        }
    } catch (const std::bad_alloc &) {
        return -1; // no room for the stamp extents or the smoothing's rows
    }

    return 0;
}

} // namespace lustra
