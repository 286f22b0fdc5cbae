// Row kernels of the bevel stage; see BevelKernels.h.
#include "engine/kernels/BevelKernels.h"

#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"

#include <cstring>
#include <vector>

// The smoothing's passes have AVX2 and AVX-512 variants written with their
// multiply-add instructions, besides portable ones; the file picks one when
// the module loads (see CpuVariant.h).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#define LUSTRA_PAIRED_PASSES 1
#endif

namespace lustra::bevelKernels {

namespace {

// The portable variants of the clearing and of the taking of smoothed slopes
// (the AVX-512 ones store under the coverage mask).
void clearCoveredRowPortable(const uint8_t *__restrict mask, int32_t count,
                             uint8_t *__restrict stampMax, int8_t *__restrict rawX,
                             int8_t *__restrict rawY);
void clearCoveredSlopesPortable(const uint8_t *__restrict mask, int32_t count,
                                int8_t *__restrict slopeX, int8_t *__restrict slopeY);
void takeCoveredPortable(const uint8_t *__restrict mask, const int32_t *__restrict meanX,
                         const int32_t *__restrict meanY, int32_t count, int8_t *__restrict slopeX,
                         int8_t *__restrict slopeY);

LUSTRA_VECTOR_CLONES void clearCoveredRowPortable(const uint8_t *__restrict mask, int32_t count,
                                                  uint8_t *__restrict stampMax,
                                                  int8_t *__restrict rawX,
                                                  int8_t *__restrict rawY) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && !anyNonZero<32>(mask + run)) continue;
        if (end == run + 32 && allNonZero<32>(mask + run)) {
            std::memset(stampMax + run, 0, 32);
            std::memset(rawX + run, 0, 32), std::memset(rawY + run, 0, 32);
            continue;
        }
        for (int32_t x = run; x < end; ++x) {
            const bool covered = mask[x] != 0;
            stampMax[x] = covered ? 0 : stampMax[x];
            rawX[x] = covered ? 0 : rawX[x];
            rawY[x] = covered ? 0 : rawY[x];
        }
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

// One run of V cells starting at s, loaded and worked out; store() writes it.
template <int V> struct StampRun {
    int32_t s;
    Bytes<V> height, held, slopeX, slopeY, rawX, rawY, take;

    StampRun(const StampRow &row, int32_t start) : s(start) {
        Bytes<V> mask;
        load(mask, row.mask + s), load(height, row.height + s), load(held, row.stampMax + s);
        load(slopeX, row.slopeX + s), load(slopeY, row.slopeY + s);
        load(rawX, row.rawX + s), load(rawY, row.rawY + s);
        take = Bytes<V>((mask != 0) & (height > held));
    }
    void store(const StampRow &row) const {
        bevelKernels::store(row.stampMax + s, Bytes<V>(take != 0 ? height : held));
        bevelKernels::store(row.rawX + s, Bytes<V>(take != 0 ? slopeX : rawX));
        bevelKernels::store(row.rawY + s, Bytes<V>(take != 0 ? slopeY : rawY));
    }
};

// Stamps cells s .. s + V - 1 of the row: a covered pixel whose held height
// is lower (unsigned) than the stamp's takes the stamp's height and slopes.
// Stamping the same cells again changes nothing, so runs may overlap. A run
// without a covered pixel takes nothing and is skipped.
template <int V> inline void stampRun(const StampRow &row, int32_t s) {
    if (anyNonZero<V>(row.mask + s)) StampRun<V>(row, s).store(row);
}

// Two runs that may overlap, both loaded before either is stored (a load
// that overlaps a store just made stalls): the same as one after the other,
// since the cells they share take the same values in both.
template <int V> inline void stampRunPair(const StampRow &row, int32_t s1, int32_t s2) {
    const StampRun<V> first(row, s1), second(row, s2);
    first.store(row);
    second.store(row);
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
    int32_t s = first;
    for (; last - s + 1 > 2 * V; s += V) stampRun<V>(row, s);
    if (last - s + 1 > V)
        stampRunPair<V>(row, s, last - V + 1);
    else
        stampRun<V>(row, last - V + 1);
    return true;
}

// Stamps edge pixels first .. last - 1, all on row ey, whose stamps all lie
// in the V frame pixels from column s: each frame row is
// loaded once, takes the stamp rows of the edge pixels in list order, and is
// stored once. Each pixel thus sees the same stamps in the same order as
// when the edge pixels are taken one by one.
template <int V>
__attribute__((always_inline)) inline void stampGroup(int32_t a, const PaddedStamp &stamp,
                                                      int32_t first, int32_t last, int32_t s,
                                                      const StampRows &rows) {
    const int32_t w = engine.frameWidth;
    const int32_t ey = engine.edgeY[first];
    // The stamp rows that land on the rows (which lie in the frame).
    const int32_t dyFirst = -a > rows.first - ey ? -a : rows.first - ey;
    const int32_t dyLast = a < rows.last - ey ? a : rows.last - ey;
    if (dyFirst > dyLast) return;
    const uint8_t *mask = engine.mask + engine.paddedRowOffset[ey + dyFirst] + s;
    const size_t pixel = size_t(engine.rowOffset[ey + dyFirst]) + s;
    uint8_t *stampMax = engine.stampMax + pixel;
    uint8_t *rawX = reinterpret_cast<uint8_t *>(engine.rawSlopeX + pixel);
    uint8_t *rawY = reinterpret_cast<uint8_t *>(engine.rawSlopeY + pixel);
    for (int32_t dy = dyFirst; dy <= dyLast; ++dy) {
        if (anyNonZero<V>(mask)) {
            Bytes<V> covered, held, x, y;
            load(covered, mask), load(held, stampMax), load(x, rawX), load(y, rawY);
            const auto isCovered = covered != 0;
            // The stamp row of an edge pixel at column ex starts at cell
            // dx = s - ex, that is column s - ex + a + kMargin of the padded
            // row; the cells past the stamp read as height 0.
            const size_t row = size_t(dy + a) * stamp.pitch + PaddedStamp::kMargin + a + s;
            for (int32_t i = first; i < last; ++i) {
                const size_t cell = row - engine.edgeX[i];
                Bytes<V> height, slopeX, slopeY;
                load(height, &stamp.height[cell]), load(slopeX, &stamp.slopeX[cell]);
                load(slopeY, &stamp.slopeY[cell]);
                const auto take = isCovered & (height > held);
                held = take ? height : held;
                x = take ? slopeX : x;
                y = take ? slopeY : y;
            }
            store(stampMax, held), store(rawX, x), store(rawY, y);
        }
        mask += engine.paddedWidth;
        stampMax += w, rawX += w, rawY += w;
    }
}

// Stamps the profile around every edge pixel in list (scan) order. A covered
// pixel takes a stamp only when it is strictly higher (unsigned) than the one
// it holds, so among equal heights the first edge pixel wins; as each stamp
// row is finished before the next begins, a row may be taken in vector runs.
// Cells of height 0 never take anything and are skipped; the stamp rows are
// clipped to the rows being stamped and the columns to the frame once per
// edge pixel, and only the edge pixels whose stamps reach those rows are
// taken. With a padded stamp
// whose rows fit 32 frame pixels (radius 15 or less), neighbouring edge
// pixels of one row whose stamps fit 32 frame pixels inside the frame are
// taken together (stampGroup). Compiled into each variant (always inline).
__attribute__((always_inline)) inline void stampEdgesWith(int32_t a, const StampExtent *extents,
                                                          const PaddedStamp *padded,
                                                          const StampRows &rows) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t stride = engine.stampSpan + 1;
    const bool grouped = padded && 2 * a + 1 <= 32;
    // The edge pixels whose stamps reach the rows.
    const int32_t iFirst = rows.edgeRows[rows.first - a > 0 ? rows.first - a : 0];
    const int32_t iEnd = rows.edgeRows[rows.last + a < h - 1 ? rows.last + a + 1 : h];
    for (int32_t i = iFirst; i < iEnd;) {
        const int32_t ex = engine.edgeX[i], ey = engine.edgeY[i];
        if (grouped && ex - a >= 0 && ex - a + 31 <= w - 1) {
            int32_t last = i + 1;
            while (last < iEnd && engine.edgeY[last] == ey && engine.edgeX[last] + a <= ex - a + 31)
                ++last;
            for (int32_t k = i; k < last; ++k) pollAbort(k);
            stampGroup<32>(a, *padded, i, last, ex - a, rows);
            i = last;
            continue;
        }
        pollAbort(i);
        const int32_t dyFirst = -a > rows.first - ey ? -a : rows.first - ey;
        const int32_t dyLast = a < rows.last - ey ? a : rows.last - ey;
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
        ++i;
    }
}

// The frame-row stamping's vector of 32 pixels, with GCC vector extensions
// (any variant). The held heights of transparent pixels are raised to 255
// while a row is stamped, so that no cell is higher there, and put back
// before they are stored.
struct PortableLanes {
    typedef Bytes<32> Vector;
    static void load(Vector &v, const uint8_t *p) { bevelKernels::load(v, p); }
    static void store(uint8_t *p, const Vector &v) { bevelKernels::store(p, v); }
    // held, 255 where the mask byte is 0.
    static void raiseTransparent(Vector &held, const uint8_t *mask) {
        Vector m;
        bevelKernels::load(m, mask);
        held = Vector(m == 0) | held;
    }
    // held where the mask byte is non-zero, original elsewhere.
    static void restoreTransparent(Vector &held, const uint8_t *mask, const uint8_t *original) {
        Vector m, o;
        bevelKernels::load(m, mask), bevelKernels::load(o, original);
        held = m != 0 ? held : o;
    }
    // Where the cell's height is higher (unsigned) than the held one, the
    // pixel takes the cell's height and slopes.
    static void take(const uint8_t *height, const uint8_t *slopeX, const uint8_t *slopeY,
                     Vector &held, Vector &x, Vector &y) {
        Vector cell, cellX, cellY;
        bevelKernels::load(cell, height), bevelKernels::load(cellX, slopeX);
        bevelKernels::load(cellY, slopeY);
        const auto taken = cell > held;
        held = taken ? cell : held;
        x = taken ? cellX : x;
        y = taken ? cellY : y;
    }
};

#ifdef LUSTRA_PAIRED_PASSES
// The same with AVX2 intrinsics: "not higher" as max(cell, held) = held,
// the planes blended on it.
struct Avx2Lanes {
    typedef __m256i Vector;
    __attribute__((target("avx2"))) static void load(Vector &v, const uint8_t *p) {
        v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    __attribute__((target("avx2"))) static void store(uint8_t *p, const Vector &v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
    }
    __attribute__((target("avx2"))) static void raiseTransparent(Vector &held,
                                                                 const uint8_t *mask) {
        __m256i m;
        load(m, mask);
        held = _mm256_or_si256(held, _mm256_cmpeq_epi8(m, _mm256_setzero_si256()));
    }
    __attribute__((target("avx2"))) static void
    restoreTransparent(Vector &held, const uint8_t *mask, const uint8_t *original) {
        __m256i m, o;
        load(m, mask), load(o, original);
        held = _mm256_blendv_epi8(held, o, _mm256_cmpeq_epi8(m, _mm256_setzero_si256()));
    }
    __attribute__((target("avx2"))) static void take(const uint8_t *height, const uint8_t *slopeX,
                                                     const uint8_t *slopeY, Vector &held, Vector &x,
                                                     Vector &y) {
        __m256i cell, cellX, cellY;
        load(cell, height), load(cellX, slopeX), load(cellY, slopeY);
        const __m256i notHigher = _mm256_cmpeq_epi8(_mm256_max_epu8(cell, held), held);
        held = _mm256_blendv_epi8(cell, held, notHigher);
        x = _mm256_blendv_epi8(cellX, x, notHigher);
        y = _mm256_blendv_epi8(cellY, y, notHigher);
    }
};
#endif

// The stamping taken frame row by frame row in vectors of 32 pixels: each
// frame row is held in chunks of kVectors vectors per plane (a vector cut by
// the frame's right edge goes through a copy whose lanes past the edge are
// transparent), and every edge pixel of the rows y - a .. y + a whose stamp
// row reaches a vector with cells of non-zero height applies that stamp row
// to it, edge rows in order and each row's edge pixels left to right. A
// pixel thus sees exactly the stamps that reach it, in list order, as when
// the edge pixels are taken one by one, while the frame planes are loaded
// and stored once per row instead of once per edge pixel. Vectors without a
// covered pixel take nothing and are passed over. The abort poll sees every
// edge index whose stamp reaches the rows once per call, when the last of
// those frame rows its stamp reaches is done.
// Compiled into each variant (always inline); the loops over a chunk's
// vectors have constant length so that the vectors stay in registers.
template <typename Lanes>
__attribute__((always_inline)) inline void
stampByFrameRowsWith(int32_t a, const StampExtent *extents, const PaddedStamp &stamp,
                     const StampRows &rows) {
    typedef typename Lanes::Vector Vector;
    constexpr int32_t V = 32, kVectors = 4, kChunk = V * kVectors;
    const int32_t w = engine.frameWidth, h = engine.frameHeight, count = engine.edgeCount;
    const int32_t *edgeX = engine.edgeX;
    const int32_t *rowFirst = rows.edgeRows;
    std::vector<int32_t> cursor(2 * size_t(a) + 1);
    const uint8_t *height = stamp.height.data(), *slopeX = stamp.slopeX.data();
    const uint8_t *slopeY = stamp.slopeY.data();
    const int32_t yFirst = engine.edgeY[0] - a > rows.first ? engine.edgeY[0] - a : rows.first;
    const int32_t yLast =
        engine.edgeY[count - 1] + a < rows.last ? engine.edgeY[count - 1] + a : rows.last;
    // The planes of a vector cut by the right edge, copied in and out.
    alignas(32) uint8_t tail[4][V];
    alignas(32) const uint8_t none[V] = {}; // the planes past the frame's last vector
    for (int32_t y = yFirst; y <= yLast; ++y) {
        const int32_t e0 = y - a > 0 ? y - a : 0, e1 = y + a < h - 1 ? y + a : h - 1;
        for (int32_t ey = e0; ey <= e1; ++ey) cursor[ey - e0] = rowFirst[ey];
        const uint8_t *mask = engine.mask + engine.paddedRowOffset[y];
        const size_t pixel = size_t(engine.rowOffset[y]);
        uint8_t *stampMax = engine.stampMax + pixel;
        uint8_t *rawX = reinterpret_cast<uint8_t *>(engine.rawSlopeX + pixel);
        uint8_t *rawY = reinterpret_cast<uint8_t *>(engine.rawSlopeY + pixel);
        for (int32_t c0 = 0; c0 < w; c0 += kChunk) {
            // The chunk's vectors that hold frame pixels; the last may be cut.
            const int32_t left = w - c0;
            const int32_t vectors = left >= kChunk ? kVectors : (left + V - 1) / V;
            const int32_t cut = left < kChunk ? left % V : 0;
            Vector held[kVectors], x[kVectors], yv[kVectors];
            bool covered[kVectors];
            bool any = false;
            for (int j = 0; j < kVectors; ++j) {
                const int32_t c = c0 + V * j;
                covered[j] = false;
                const uint8_t *from[4] = {mask + c, stampMax + c, rawX + c, rawY + c};
                if (j >= vectors) {
                    from[0] = from[1] = from[2] = from[3] = none;
                } else if (j == vectors - 1 && cut != 0) {
                    std::memset(tail, 0, sizeof tail);
                    for (int plane = 0; plane < 4; ++plane) {
                        std::memcpy(tail[plane], from[plane], size_t(cut));
                        from[plane] = tail[plane];
                    }
                }
                covered[j] = anyNonZero<V>(from[0]);
                Lanes::load(held[j], from[1]);
                Lanes::raiseTransparent(held[j], from[0]);
                Lanes::load(x[j], from[2]), Lanes::load(yv[j], from[3]);
                any = any || covered[j];
            }
            if (!any) continue;
            for (int32_t ey = e0; ey <= e1; ++ey) {
                // The cells of non-zero height of the stamp row that lands
                // here: ex + first .. ex + last for the edge pixel at ex.
                const StampExtent e = extents[y - ey + a];
                if (e.first > e.last) continue;
                int32_t k = cursor[ey - e0];
                const int32_t end = rowFirst[ey + 1];
                while (k < end && edgeX[k] + e.last < c0) ++k; // stamps left of the chunk
                cursor[ey - e0] = k;
                // The cell under vector j's first pixel for the edge pixel
                // at column ex: row + c0 + V j - ex.
                const size_t row = size_t(y - ey + a) * stamp.pitch + PaddedStamp::kMargin + a;
                for (; k < end && edgeX[k] + e.first < c0 + kChunk; ++k) {
                    const int32_t ex = edgeX[k];
                    // The vectors that the cells ex + first .. ex + last reach.
                    const int32_t from = ex + e.first - c0, to = ex + e.last - c0;
                    const int32_t jFirst = from > 0 ? from / V : 0, jLast = to / V;
                    for (int j = 0; j < kVectors; ++j) {
                        if (j < jFirst || j > jLast || !covered[j]) continue;
                        const size_t cell = row + c0 + V * j - ex;
                        Lanes::take(height + cell, slopeX + cell, slopeY + cell, held[j], x[j],
                                    yv[j]);
                    }
                }
            }
            for (int j = 0; j < kVectors; ++j) {
                if (!covered[j]) continue;
                const int32_t c = c0 + V * j;
                if (j == vectors - 1 && cut != 0) {
                    Lanes::restoreTransparent(held[j], tail[0], tail[1]);
                    Lanes::store(tail[1], held[j]), Lanes::store(tail[2], x[j]);
                    Lanes::store(tail[3], yv[j]);
                    std::memcpy(stampMax + c, tail[1], size_t(cut));
                    std::memcpy(rawX + c, tail[2], size_t(cut));
                    std::memcpy(rawY + c, tail[3], size_t(cut));
                } else {
                    Lanes::restoreTransparent(held[j], mask + c, stampMax + c);
                    Lanes::store(stampMax + c, held[j]), Lanes::store(rawX + c, x[j]);
                    Lanes::store(rawY + c, yv[j]);
                }
            }
        }
        // Edge rows whose stamps end at this frame row (at the last one, all
        // that reach the rows).
        const int32_t reach = rows.last + a < h - 1 ? rows.last + a : h - 1;
        const int32_t doneFirst = y == yLast ? e0 : y - a, doneLast = y == yLast ? reach : y - a;
        for (int32_t ey = doneFirst > 0 ? doneFirst : 0; ey <= doneLast; ++ey)
            for (int32_t k = rowFirst[ey]; k < rowFirst[ey + 1]; ++k) pollAbort(k);
    }
}

// The smallest radius stamped frame row by frame row (stampByFrameRowsWith)
// in the AVX2 and portable variants: below it, groups of 32 pixels measured
// faster.
int32_t frameRowsFrom = kFrameRowsFrom;

void stampEdgesBaseline(int32_t a, const StampExtent *extents, const PaddedStamp *padded,
                        const StampRows &rows) {
    if (padded && a >= frameRowsFrom)
        stampByFrameRowsWith<PortableLanes>(a, extents, *padded, rows);
    else
        stampEdgesWith(a, extents, padded, rows);
}

#ifdef LUSTRA_PAIRED_PASSES
__attribute__((target("avx2"))) void stampEdgesAvx2(int32_t a, const StampExtent *extents,
                                                    const PaddedStamp *padded,
                                                    const StampRows &rows) {
    if (padded && a >= frameRowsFrom)
        stampByFrameRowsWith<Avx2Lanes>(a, extents, *padded, rows);
    else
        stampEdgesWith(a, extents, padded, rows);
}

#ifdef LUSTRA_PAIRED_PASSES
// The stamping taken frame row by frame row, with AVX-512BW: each frame row
// is held in chunks of 256 pixels (four vectors of 64 per plane, the last
// chunk of a row cut to the frame with masked loads and stores), and every
// edge pixel of the rows y - a .. y + a whose stamp reaches the chunk
// applies its stamp row to it, edge rows in order and each row's edge pixels
// left to right. A pixel thus sees exactly the stamps that reach it, in list
// order, as when the edge pixels are taken one by one, while the frame
// planes are loaded and stored once per row instead of once per edge pixel.
// The abort poll sees every edge index whose stamp reaches the rows once
// per call, when the last of those frame rows its stamp reaches is done.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
stampByFrameRows(int32_t a, const PaddedStamp &stamp, const StampRows &rows) {
    constexpr int32_t kVectors = 4, kChunk = 64 * kVectors;
    const int32_t w = engine.frameWidth, h = engine.frameHeight, count = engine.edgeCount;
    const int32_t *edgeX = engine.edgeX;
    const int32_t *rowFirst = rows.edgeRows;
    std::vector<int32_t> cursor(2 * size_t(a) + 1);
    const uint8_t *height = stamp.height.data(), *slopeX = stamp.slopeX.data();
    const uint8_t *slopeY = stamp.slopeY.data();
    const int32_t yFirst = engine.edgeY[0] - a > rows.first ? engine.edgeY[0] - a : rows.first;
    const int32_t yLast =
        engine.edgeY[count - 1] + a < rows.last ? engine.edgeY[count - 1] + a : rows.last;
    for (int32_t y = yFirst; y <= yLast; ++y) {
        const int32_t e0 = y - a > 0 ? y - a : 0, e1 = y + a < h - 1 ? y + a : h - 1;
        for (int32_t ey = e0; ey <= e1; ++ey) cursor[ey - e0] = rowFirst[ey];
        const uint8_t *mask = engine.mask + engine.paddedRowOffset[y];
        const size_t pixel = size_t(engine.rowOffset[y]);
        uint8_t *stampMax = engine.stampMax + pixel;
        int8_t *rawX = engine.rawSlopeX + pixel, *rawY = engine.rawSlopeY + pixel;
        for (int32_t c0 = 0; c0 < w; c0 += kChunk) {
            // The chunk's pixels inside the frame, per vector.
            __mmask64 inFrame[kVectors], isCovered[kVectors];
            bool any = false;
            for (int j = 0; j < kVectors; ++j) {
                const int32_t left = w - c0 - 64 * j;
                inFrame[j] = left >= 64 ? ~__mmask64(0)
                             : left > 0 ? (__mmask64(1) << left) - 1
                                        : __mmask64(0);
                const __m512i covered = _mm512_maskz_loadu_epi8(inFrame[j], mask + c0 + 64 * j);
                isCovered[j] = _mm512_mask_test_epi8_mask(inFrame[j], covered, covered);
                any = any || isCovered[j] != 0;
            }
            if (!any) continue;
            __m512i held[kVectors], x[kVectors], yv[kVectors];
            for (int j = 0; j < kVectors; ++j) {
                const int32_t c = c0 + 64 * j;
                held[j] = _mm512_maskz_loadu_epi8(inFrame[j], stampMax + c);
                x[j] = _mm512_maskz_loadu_epi8(inFrame[j], rawX + c);
                yv[j] = _mm512_maskz_loadu_epi8(inFrame[j], rawY + c);
            }
            for (int32_t ey = e0; ey <= e1; ++ey) {
                int32_t k = cursor[ey - e0];
                const int32_t end = rowFirst[ey + 1];
                while (k < end && edgeX[k] + a < c0) ++k; // stamps left of the chunk
                cursor[ey - e0] = k;
                // The cell under vector j's first pixel for the edge pixel
                // at column ex: row + c0 + 64 j - ex.
                const size_t row = size_t(y - ey + a) * stamp.pitch + PaddedStamp::kMargin + a;
                for (; k < end && edgeX[k] - a < c0 + kChunk; ++k) {
                    const int32_t ex = edgeX[k];
                    for (int j = 0; j < kVectors; ++j) {
                        const int32_t c = c0 + 64 * j; // vector j: columns c .. c + 63
                        if (ex + a < c || ex - a > c + 63) continue;
                        const size_t cell = row + c - ex;
                        const __m512i cellHeight = _mm512_loadu_si512(height + cell);
                        const __mmask64 take =
                            _mm512_mask_cmpgt_epu8_mask(isCovered[j], cellHeight, held[j]);
                        held[j] = _mm512_mask_max_epu8(held[j], isCovered[j], held[j], cellHeight);
                        x[j] = _mm512_mask_loadu_epi8(x[j], take, slopeX + cell);
                        yv[j] = _mm512_mask_loadu_epi8(yv[j], take, slopeY + cell);
                    }
                }
            }
            for (int j = 0; j < kVectors; ++j) {
                const int32_t c = c0 + 64 * j;
                _mm512_mask_storeu_epi8(stampMax + c, inFrame[j], held[j]);
                _mm512_mask_storeu_epi8(rawX + c, inFrame[j], x[j]);
                _mm512_mask_storeu_epi8(rawY + c, inFrame[j], yv[j]);
            }
        }
        // Edge rows whose stamps end at this frame row (at the last one, all
        // that reach the rows).
        const int32_t reach = rows.last + a < h - 1 ? rows.last + a : h - 1;
        const int32_t doneFirst = y == yLast ? e0 : y - a, doneLast = y == yLast ? reach : y - a;
        for (int32_t ey = doneFirst > 0 ? doneFirst : 0; ey <= doneLast; ++ey)
            for (int32_t k = rowFirst[ey]; k < rowFirst[ey + 1]; ++k) pollAbort(k);
    }
}
#endif

// Radii 16 to 31 frame row by frame row in vectors of 64 (byte compares and
// blends on them need AVX-512BW); radius 15 or less in groups of 32 as with
// AVX2, which measured faster there; larger radii (borders past 31) edge
// pixel by edge pixel.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
stampEdgesAvx512(int32_t a, const StampExtent *extents, const PaddedStamp *padded,
                 const StampRows &rows) {
    if (2 * a + 1 > 32 && padded)
        stampByFrameRows(a, *padded, rows);
    else
        stampEdgesWith(a, extents, padded, rows);
}
#endif

} // namespace

// rowFirst[y]: the first edge pixel on row y or below (the list is in scan
// order), for y = 0 .. h; rowFirst[h] = the edge count.
std::vector<int32_t> edgeRowStarts() {
    const int32_t h = engine.frameHeight, count = engine.edgeCount;
    std::vector<int32_t> rowFirst(size_t(h) + 1);
    for (int32_t y = 0, i = 0; y <= h; ++y) {
        while (i < count && engine.edgeY[i] < y) ++i;
        rowFirst[y] = i;
    }
    return rowFirst;
}

LUSTRA_VECTOR_CLONES void scaleRawSlopes(const int8_t *__restrict rawX,
                                         const int8_t *__restrict rawY, size_t count, int32_t f,
                                         int8_t *__restrict slopeX, int8_t *__restrict slopeY) {
    for (size_t i = 0; i < count; ++i) {
        slopeX[i] = lowByte((rawX[i] * f) >> 8);
        slopeY[i] = lowByte((rawY[i] * f) >> 8);
    }
}

// One frame row of the bounding box, ready for the column pass: the raw
// slopes of covered pixels (0 elsewhere) and the coverage (1 or 0).
LUSTRA_VECTOR_CLONES void prepareRow(const uint8_t *__restrict mask, const int8_t *__restrict rawX,
                                     const int8_t *__restrict rawY, int32_t count,
                                     int8_t *__restrict coveredX, int8_t *__restrict coveredY,
                                     int8_t *__restrict coverage) {
    // Branch-free, with every byte read, so that it vectorises.
    for (int32_t i = 0; i < count; ++i) {
        const int8_t keep = mask[i] != 0 ? -1 : 0;
        coveredX[i] = static_cast<int8_t>(rawX[i] & keep);
        coveredY[i] = static_cast<int8_t>(rawY[i] & keep);
        coverage[i] = static_cast<int8_t>(keep & 1);
    }
}

// previous[c] and current[c] side by side at pairs[2c] and pairs[2c + 1], so
// that one multiply-add takes two rows of a column.
LUSTRA_VECTOR_CLONES void interleaveRows(const int8_t *__restrict previous,
                                         const int8_t *__restrict current, int32_t count,
                                         int8_t *__restrict pairs) {
    for (int32_t c = 0; c < count; ++c) {
        pairs[2 * c] = previous[c];
        pairs[2 * c + 1] = current[c];
    }
}

namespace {

// The portable variant of prepareSlot: the row kernels above, then the
// flags and the groups with a slope.
void prepareSlotBaseline(const uint8_t *mask, const int8_t *rawX, const int8_t *rawY, int32_t count,
                         int32_t width, const int8_t *above, int8_t *slot, uint64_t *slopeBits) {
    prepareRow(mask, rawX, rawY, count, slot, slot + width, slot + 2 * width);
    for (int plane = 0; plane < 3; ++plane)
        interleaveRows(above + plane * width, slot + plane * width, width,
                       slot + 3 * width + 2 * plane * width);
    int8_t *flags = slot + 9 * size_t(width);
    for (int32_t v = 0; v < width / kColumnLanes; ++v)
        flags[v] = anyNonZero<kColumnLanes>(slot + 2 * width + v * kColumnLanes) ? 1 : 0;
    const int32_t groups = width / kRowLanes;
    for (int32_t v = 0; v < (groups + 63) / 64; ++v) slopeBits[v] = 0;
    for (int32_t g = 0; g < groups; ++g) {
        // kRowLanes = 8 bytes of each plane as one word.
        const uint64_t any = eightBytes(reinterpret_cast<const uint8_t *>(slot) + g * 8) |
                             eightBytes(reinterpret_cast<const uint8_t *>(slot) + width + g * 8);
        slopeBits[g / 64] |= uint64_t(any != 0) << (g % 64);
    }
}

#ifdef LUSTRA_PAIRED_PASSES
// The AVX-512 variant, 64 columns at a time in one pass over the row: the
// coverage as a bit mask, the planes taken under it with zeroing loads, the
// interleaving as byte unpacks put back in column order, a flag per 16 bits
// of the mask and a group bit per non-zero 64-bit lane of x | y. The last
// vector's loads and stores are cut to the box and to the slot. The group
// bits go in byte by byte (the words are little-endian).
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
prepareSlotAvx512(const uint8_t *mask, const int8_t *rawX, const int8_t *rawY, int32_t count,
                  int32_t width, const int8_t *above, int8_t *slot, uint64_t *slopeBits) {
    const int32_t groups = width / kRowLanes;
    for (int32_t v = 0; v < (groups + 63) / 64; ++v) slopeBits[v] = 0;
    uint8_t *groupBytes = reinterpret_cast<uint8_t *>(slopeBits);
    int8_t *flags = slot + 9 * size_t(width);
    const __m512i one = _mm512_set1_epi8(1);
    // The 128-bit lanes of the unpacks in column order: low 0, high 0, low 1,
    // high 1, then lanes 2 and 3 likewise.
    const __m512i firstLanes = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
    const __m512i secondLanes = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
    auto lowBits = [](int32_t n) {
        return n >= 64 ? ~__mmask64(0) : n > 0 ? (__mmask64(1) << n) - 1 : __mmask64(0);
    };
    for (int32_t c = 0; c < width; c += 64) {
        const __mmask64 inBox = lowBits(count - c), inSlot = lowBits(width - c);
        const __m512i m = _mm512_maskz_loadu_epi8(inBox, mask + c);
        const __mmask64 keep = _mm512_test_epi8_mask(m, m);
        // Whole vectors loaded plainly and then masked (a load under the
        // coverage mask measured slower), the last one under inBox.
        const bool whole = count - c >= 64;
        const __m512i x =
            whole ? _mm512_loadu_si512(rawX + c) : _mm512_maskz_loadu_epi8(inBox, rawX + c);
        const __m512i y =
            whole ? _mm512_loadu_si512(rawY + c) : _mm512_maskz_loadu_epi8(inBox, rawY + c);
        const __m512i current[3] = {_mm512_maskz_mov_epi8(keep, x), _mm512_maskz_mov_epi8(keep, y),
                                    _mm512_maskz_mov_epi8(keep, one)};
        const __mmask64 firstPairs = lowBits(2 * (width - c)),
                        secondPairs = lowBits(2 * (width - c) - 64);
        for (int plane = 0; plane < 3; ++plane) {
            _mm512_mask_storeu_epi8(slot + plane * width + c, inSlot, current[plane]);
            const __m512i previous = _mm512_maskz_loadu_epi8(inSlot, above + plane * width + c);
            const __m512i low = _mm512_unpacklo_epi8(previous, current[plane]);
            const __m512i high = _mm512_unpackhi_epi8(previous, current[plane]);
            int8_t *pairs = slot + 3 * width + 2 * plane * width + 2 * c;
            _mm512_mask_storeu_epi8(pairs, firstPairs,
                                    _mm512_permutex2var_epi64(low, firstLanes, high));
            _mm512_mask_storeu_epi8(pairs + 64, secondPairs,
                                    _mm512_permutex2var_epi64(low, secondLanes, high));
        }
        for (int32_t j = 0; j < 4 && c + j * kColumnLanes < width; ++j)
            flags[c / kColumnLanes + j] = (keep >> (j * kColumnLanes) & 0xFFFF) != 0 ? 1 : 0;
        const __m512i slopes = _mm512_or_si512(current[0], current[1]);
        groupBytes[c / 64] = static_cast<uint8_t>(_mm512_test_epi64_mask(slopes, slopes));
    }
}

// pairs[i] = pairOf(sums[i], sums[i + 1]) for the 16 sums of a vector, the
// one after them the first of `next`.
__attribute__((target("avx2"))) inline void storeSumPairs(int32_t *pairs, __m256i sums,
                                                          __m256i next) {
    const __m256i following =
        _mm256_alignr_epi8(_mm256_permute2x128_si256(sums, next, 0x21), sums, 2);
    const __m256i low = _mm256_unpacklo_epi16(sums, following);  // pairs 0-3 and 8-11
    const __m256i high = _mm256_unpackhi_epi16(sums, following); // pairs 4-7 and 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pairs),
                        _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pairs + 8),
                        _mm256_permute2x128_si256(low, high, 0x31));
}

// The AVX2 variant: one instruction multiplies 32 unsigned taps by signed
// bytes and adds each pair's products (they stay within 16 bits). A
// vector's pairs are stored once the next vector's sums are known.
__attribute__((target("avx2"))) void sumColumnPairsAvx2(const ColumnPass &pass) {
    const size_t stride = 2 * size_t(pass.width);
    __m256i previous[3];
    for (int32_t c = 0; c < pass.width; c += kColumnLanes) {
        __m256i sum[3] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
        const int32_t pairCount = pass.occupancy[c / kColumnLanes] > 0 ? pass.pairCount : 0;
        for (int32_t p = 0; p < pairCount; ++p) {
            const int8_t *two = pass.rows[p] + 2 * c;
            const __m256i taps = _mm256_set1_epi16(static_cast<int16_t>(pass.taps[p]));
            for (int plane = 0; plane < 3; ++plane) {
                const __m256i bytes =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(two + plane * stride));
                sum[plane] = _mm256_add_epi16(sum[plane], _mm256_maddubs_epi16(taps, bytes));
            }
        }
        for (int plane = 0; plane < 3; ++plane) {
            if (c == 0)
                pass.pairs[plane][-1] =
                    pairOf(0, static_cast<int16_t>(_mm256_extract_epi16(sum[plane], 0)));
            else
                storeSumPairs(pass.pairs[plane] + c - kColumnLanes, previous[plane], sum[plane]);
            previous[plane] = sum[plane];
        }
    }
    for (int plane = 0; plane < 3; ++plane)
        storeSumPairs(pass.pairs[plane] + pass.width - kColumnLanes, previous[plane],
                      _mm256_setzero_si256());
}
#endif

#ifdef LUSTRA_PAIRED_PASSES
// pairs[i] = pairOf(sums[i], sums[i + 1]) for the 32 sums of a vector, the
// one after them the first of `next`; only the first 16 pairs when `half`.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void
storeSumPairs512(int32_t *pairs, __m512i sums, __m512i next, bool half) {
    // Word 2i of the pairs from sum i, word 2i + 1 from sum i + 1 (32 and up
    // from `next`).
    alignas(64) static const uint16_t firstWords[32] = {0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,
                                                        6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11,
                                                        11, 12, 12, 13, 13, 14, 14, 15, 15, 16};
    alignas(64) static const uint16_t secondWords[32] = {16, 17, 17, 18, 18, 19, 19, 20, 20, 21, 21,
                                                         22, 22, 23, 23, 24, 24, 25, 25, 26, 26, 27,
                                                         27, 28, 28, 29, 29, 30, 30, 31, 31, 32};
    _mm512_storeu_si512(pairs,
                        _mm512_permutex2var_epi16(sums, _mm512_load_si512(firstWords), next));
    if (!half)
        _mm512_storeu_si512(pairs + 16,
                            _mm512_permutex2var_epi16(sums, _mm512_load_si512(secondWords), next));
}

// The AVX-512 variant: as the AVX2 one on 32 columns per instruction, two
// column vectors whose occupancy is checked apart: when either has a
// covered pixel both are summed, and the sums of one without are then put
// to 0. A box that ends half way through a vector is loaded and stored cut.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
sumColumnPairsAvx512(const ColumnPass &pass) {
    const size_t stride = 2 * size_t(pass.width);
    const int32_t vectors = pass.width / kColumnLanes;
    __m512i previous[3];
    int32_t c = 0;
    for (; c < pass.width; c += 2 * kColumnLanes) {
        const int32_t v = c / kColumnLanes;
        const bool whole = v + 1 < vectors;
        const __mmask32 keep = (pass.occupancy[v] > 0 ? 0xFFFFu : 0u) |
                               (whole && pass.occupancy[v + 1] > 0 ? 0xFFFF0000u : 0u);
        const __mmask64 bytes = whole ? ~__mmask64(0) : __mmask64(0xFFFFFFFFu);
        __m512i sum[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
        const int32_t pairCount = keep != 0 ? pass.pairCount : 0;
        for (int32_t p = 0; p < pairCount; ++p) {
            const int8_t *two = pass.rows[p] + 2 * c;
            const __m512i taps = _mm512_set1_epi16(static_cast<int16_t>(pass.taps[p]));
            for (int plane = 0; plane < 3; ++plane) {
                const __m512i pairsOfRows = _mm512_maskz_loadu_epi8(bytes, two + plane * stride);
                sum[plane] = _mm512_add_epi16(sum[plane], _mm512_maddubs_epi16(taps, pairsOfRows));
            }
        }
        for (int plane = 0; plane < 3; ++plane) {
            sum[plane] = _mm512_maskz_mov_epi16(keep, sum[plane]);
            if (c == 0)
                pass.pairs[plane][-1] =
                    pairOf(0, static_cast<int16_t>(_mm512_cvtsi512_si32(sum[plane])));
            else
                storeSumPairs512(pass.pairs[plane] + c - 2 * kColumnLanes, previous[plane],
                                 sum[plane], false);
            previous[plane] = sum[plane];
        }
    }
    const int32_t last = c - 2 * kColumnLanes;
    for (int plane = 0; plane < 3; ++plane)
        storeSumPairs512(pass.pairs[plane] + last, previous[plane], _mm512_setzero_si512(),
                         pass.width - last < 2 * kColumnLanes);
}
#endif

void sumColumnPairsBaseline(const ColumnPass &pass) {
    const size_t stride = 2 * size_t(pass.width);
    for (int plane = 0; plane < 3; ++plane) {
        int16_t *sums = pass.sums[plane];
        for (int32_t c = 0; c < pass.width; ++c) {
            int32_t sum = 0;
            const int32_t pairCount = pass.occupancy[c / kColumnLanes] > 0 ? pass.pairCount : 0;
            for (int32_t p = 0; p < pairCount; ++p) {
                const int8_t *two = pass.rows[p] + plane * stride + 2 * c;
                sum += (pass.taps[p] & 0xFF) * two[0] + (pass.taps[p] >> 8) * two[1];
            }
            sums[c] = static_cast<int16_t>(sum);
        }
        for (int32_t c = -1; c < pass.width; ++c)
            pass.pairs[plane][c] =
                pairOf(c >= 0 ? sums[c] : 0, c + 1 < pass.width ? sums[c + 1] : 0);
    }
}

// Row pass: total[c] = sum over k of taps[k] x sum[c + k], taken as the sum
// over p of the two products of pairs[c + 2p] with tapPairs[p], for the
// vectors of the row with a covered pixel.
#ifdef LUSTRA_PAIRED_PASSES
// The AVX2 variant: one instruction multiplies both halves of 8 pairs and
// adds each pair's products.
__attribute__((target("avx2"))) void convolvePairsAvx2(const RowPass &pass) {
    for (int32_t c = 0; c < pass.width; c += kRowLanes) {
        if (!anyNonZero<8>(pass.coverage + c)) continue;
        __m256i total[3] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
        for (int32_t p = 0; p < pass.pairCount; ++p) {
            const int32_t *pairs = pass.pairs + c + 2 * p;
            const __m256i taps = _mm256_set1_epi32(pass.tapPairs[p]);
            for (int plane = 0; plane < 3; ++plane) {
                const __m256i two = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i *>(pairs + plane * pass.stride));
                total[plane] = _mm256_add_epi32(total[plane], _mm256_madd_epi16(two, taps));
            }
        }
        for (int plane = 0; plane < 3; ++plane)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(pass.totals[plane] + c), total[plane]);
    }
}

// The AVX-512 variant: as the AVX2 one, on 16 columns per instruction; runs
// of 16 columns without a covered pixel are worked out too (their totals
// are not read).
__attribute__((target("avx512f,avx512bw,avx512vl"))) void convolvePairsAvx512(const RowPass &pass) {
    for (int32_t c = 0; c < pass.width; c += 2 * kRowLanes) {
        if (!anyNonZero<16>(pass.coverage + c)) continue;
        __m512i total[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
        for (int32_t p = 0; p < pass.pairCount; ++p) {
            const int32_t *pairs = pass.pairs + c + 2 * p;
            const __m512i taps = _mm512_set1_epi32(pass.tapPairs[p]);
            for (int plane = 0; plane < 3; ++plane) {
                const __m512i two = _mm512_loadu_si512(pairs + plane * pass.stride);
                total[plane] = _mm512_add_epi32(total[plane], _mm512_madd_epi16(two, taps));
            }
        }
        for (int plane = 0; plane < 3; ++plane)
            _mm512_storeu_si512(pass.totals[plane] + c, total[plane]);
    }
}
#endif

void convolvePairsBaseline(const RowPass &pass) {
    for (int32_t c = 0; c < pass.width; c += kRowLanes) {
        if (!anyNonZero<8>(pass.coverage + c)) continue;
        for (int plane = 0; plane < 3; ++plane)
            for (int32_t i = c; i < c + kRowLanes; ++i) {
                int32_t total = 0;
                for (int32_t p = 0; p < pass.pairCount; ++p) {
                    const int32_t pair = pass.pairs[plane * pass.stride + i + 2 * p];
                    const int32_t taps = pass.tapPairs[p];
                    total +=
                        static_cast<int16_t>(pair & 0xFFFF) * static_cast<int16_t>(taps & 0xFFFF) +
                        static_cast<int16_t>(pair >> 16) * static_cast<int16_t>(taps >> 16);
                }
                pass.totals[plane][i] = total;
            }
    }
}

typedef int32_t Lanes __attribute__((vector_size(32)));
typedef uint32_t LaneWords __attribute__((vector_size(32)));
typedef float LaneFloats __attribute__((vector_size(32)));
constexpr int32_t kMeanLanes = 8;

// trunc(size x g / d) for sizes >= 0, g >= 0 and 0 < d < 2^24 whose quotients
// are below 2^30, given scale within a relative 2^-23 of g / d: the product
// size x scale in single precision lies well within one of the quotient, so
// its truncation is off by at most one. The remainder size x g - q x d then
// lies in [-d, 2d) and is exact when taken modulo 2^32; it says which way to
// go.
inline void truncatedQuotients(const Lanes &size, uint32_t g, const LaneFloats &scale,
                               const Lanes &d, Lanes &q) {
    q = __builtin_convertvector(__builtin_convertvector(size, LaneFloats) * scale, Lanes);
    const Lanes remainder = (Lanes)((LaneWords)size * g - (LaneWords)q * (LaneWords)d);
    // Comparisons give -1 where true.
    q = q - (remainder >= d) + (remainder < 0);
}

#ifdef LUSTRA_PAIRED_PASSES
// The first n bits (n may be 64 or more, or 0 or less).
inline __mmask64 firstBits(int32_t n) {
    return n >= 64 ? ~__mmask64(0) : n > 0 ? (__mmask64(1) << n) - 1 : __mmask64(0);
}

// The covered pixels of 64 (the first `count` of them) as a bit mask.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __mmask64
coveredBits(const uint8_t *mask, int32_t count) {
    const __m512i m = _mm512_maskz_loadu_epi8(firstBits(count), mask);
    return _mm512_test_epi8_mask(m, m);
}

// The AVX-512 variants of the clearing and of the taking of smoothed
// slopes: zeros or the low bytes stored under the coverage mask, 64 pixels
// at a time, so that transparent pixels keep what they hold.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
clearCoveredRowAvx512(const uint8_t *__restrict mask, int32_t count, uint8_t *__restrict stampMax,
                      int8_t *__restrict rawX, int8_t *__restrict rawY) {
    const __m512i zero = _mm512_setzero_si512();
    for (int32_t x = 0; x < count; x += 64) {
        const __mmask64 covered = coveredBits(mask + x, count - x);
        _mm512_mask_storeu_epi8(stampMax + x, covered, zero);
        _mm512_mask_storeu_epi8(rawX + x, covered, zero);
        _mm512_mask_storeu_epi8(rawY + x, covered, zero);
    }
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void
clearCoveredSlopesAvx512(const uint8_t *__restrict mask, int32_t count, int8_t *__restrict slopeX,
                         int8_t *__restrict slopeY) {
    const __m512i zero = _mm512_setzero_si512();
    for (int32_t x = 0; x < count; x += 64) {
        const __mmask64 covered = coveredBits(mask + x, count - x);
        _mm512_mask_storeu_epi8(slopeX + x, covered, zero);
        _mm512_mask_storeu_epi8(slopeY + x, covered, zero);
    }
}

// The means' low bytes, 16 at a time (a truncating narrowing).
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
takeCoveredAvx512(const uint8_t *__restrict mask, const int32_t *__restrict meanX,
                  const int32_t *__restrict meanY, int32_t count, int8_t *__restrict slopeX,
                  int8_t *__restrict slopeY) {
    for (int32_t x = 0; x < count; x += 64) {
        const __mmask64 covered = coveredBits(mask + x, count - x);
        if (covered == 0) continue;
        for (int32_t q = 0; q < 4 && x + 16 * q < count; ++q) {
            const __mmask16 part = static_cast<__mmask16>(covered >> (16 * q));
            if (part == 0) continue;
            const int32_t i = x + 16 * q;
            // The means past `count` are not read: the mask is 0 there.
            const __m512i mx = _mm512_maskz_loadu_epi32(part, meanX + i);
            const __m512i my = _mm512_maskz_loadu_epi32(part, meanY + i);
            _mm_mask_storeu_epi8(slopeX + i, part, _mm512_maskz_cvtepi32_epi8(part, mx));
            _mm_mask_storeu_epi8(slopeY + i, part, _mm512_maskz_cvtepi32_epi8(part, my));
        }
    }
}
#endif

// The passes' variants, picked when the module loads.
struct Passes {
    CpuVariant variant;
    void (*sumColumnPairs)(const ColumnPass &);
    void (*convolvePairs)(const RowPass &);
    void (*stampEdges)(int32_t, const StampExtent *, const PaddedStamp *, const StampRows &);
    void (*prepareSlot)(const uint8_t *, const int8_t *, const int8_t *, int32_t, int32_t,
                        const int8_t *, int8_t *, uint64_t *);
    void (*clearCoveredRow)(const uint8_t *, int32_t, uint8_t *, int8_t *, int8_t *);
    void (*clearCoveredSlopes)(const uint8_t *, int32_t, int8_t *, int8_t *);
    void (*takeCovered)(const uint8_t *, const int32_t *, const int32_t *, int32_t, int8_t *,
                        int8_t *);
};

Passes passesFor(CpuVariant wanted) {
    const CpuVariant best = detectedCpuVariant();
    const CpuVariant v = wanted < best ? wanted : best;
#ifdef LUSTRA_PAIRED_PASSES
    if (v == CpuVariant::kAvx512)
        return {v,
                sumColumnPairsAvx512,
                convolvePairsAvx512,
                stampEdgesAvx512,
                prepareSlotAvx512,
                clearCoveredRowAvx512,
                clearCoveredSlopesAvx512,
                takeCoveredAvx512};
    if (v == CpuVariant::kAvx2)
        return {v,
                sumColumnPairsAvx2,
                convolvePairsAvx2,
                stampEdgesAvx2,
                prepareSlotBaseline,
                clearCoveredRowPortable,
                clearCoveredSlopesPortable,
                takeCoveredPortable};
#else
    (void)v;
#endif
    return {CpuVariant::kBaseline,      sumColumnPairsBaseline, convolvePairsBaseline,
            stampEdgesBaseline,         prepareSlotBaseline,    clearCoveredRowPortable,
            clearCoveredSlopesPortable, takeCoveredPortable};
}

Passes passes = passesFor(CpuVariant::kAvx512);

} // namespace

CpuVariant variant() {
    return passes.variant;
}

CpuVariant selectVariant(CpuVariant wanted) {
    passes = passesFor(wanted);
    return passes.variant;
}

void sumColumnPairs(const ColumnPass &pass) {
    passes.sumColumnPairs(pass);
}

void convolvePairs(const RowPass &pass) {
    passes.convolvePairs(pass);
}

void stampEdges(int32_t a, const StampExtent *extents, const PaddedStamp *padded,
                const StampRows &rows) {
    passes.stampEdges(a, extents, padded, rows);
}

void prepareSlot(const uint8_t *mask, const int8_t *rawX, const int8_t *rawY, int32_t count,
                 int32_t width, const int8_t *above, int8_t *slot, uint64_t *slopeBits) {
    passes.prepareSlot(mask, rawX, rawY, count, width, above, slot, slopeBits);
}

int32_t stampFrameRowsFrom(int32_t radius) {
    const int32_t before = frameRowsFrom;
    frameRowsFrom = radius;
    return before;
}

// The smoothed slopes of `width` pixels (a whole number of vectors):
// trunc(T x f / (W x 256)) for the vectors with a covered pixel, 0 where no
// weight reached the pixel (there the sums are 0 too, and so is the quotient
// by the stand-in divisor 256). The sizes are divided and the sign of
// T x f put back. Ranges: |T| < 2^23 and W x 256 < 2^24 (exact in single
// precision), |f| < 2^17, and a quotient is at most 127 x |f| / 256.
LUSTRA_VECTOR_CLONES void meanSlopes(const int32_t *totalX, const int32_t *totalY,
                                     const int32_t *totalW, const int8_t *coverage, int32_t width,
                                     int32_t f, int32_t *__restrict meanX,
                                     int32_t *__restrict meanY) {
    const uint32_t g = static_cast<uint32_t>(f < 0 ? -f : f);
    const Lanes none = {}, one = none + 1;
    for (int32_t i = 0; i < width; i += kMeanLanes) {
        if (!anyNonZero<8>(coverage + i)) continue;
        Lanes tx, ty, tw;
        load(tx, totalX + i), load(ty, totalY + i), load(tw, totalW + i);
        const Lanes weighed = tw > 0; // -1 where true
        const Lanes d = (weighed != 0 ? tw : one) * 256;
        const LaneFloats scale = static_cast<float>(g) / __builtin_convertvector(d, LaneFloats);
        // The sign of T x f as 0 or -1; (q ^ s) - s is q with that sign.
        const Lanes sx = (tx ^ f) >> 31, sy = (ty ^ f) >> 31;
        Lanes qx, qy;
        truncatedQuotients(tx < 0 ? -tx : tx, g, scale, d, qx);
        truncatedQuotients(ty < 0 ? -ty : ty, g, scale, d, qy);
        store(meanX + i, Lanes(((qx ^ sx) - sx) & weighed));
        store(meanY + i, Lanes(((qy ^ sy) - sy) & weighed));
    }
}

// In runs of 32 pixels: runs without a covered pixel are skipped, runs of
// covered pixels cleared, the others taken branch-free.
namespace {

LUSTRA_VECTOR_CLONES void clearCoveredSlopesPortable(const uint8_t *__restrict mask, int32_t count,
                                                     int8_t *__restrict slopeX,
                                                     int8_t *__restrict slopeY) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && !anyNonZero<32>(mask + run)) continue;
        if (end == run + 32 && allNonZero<32>(mask + run)) {
            std::memset(slopeX + run, 0, 32), std::memset(slopeY + run, 0, 32);
            continue;
        }
        for (int32_t x = run; x < end; ++x) {
            const bool covered = mask[x] != 0;
            slopeX[x] = covered ? 0 : slopeX[x];
            slopeY[x] = covered ? 0 : slopeY[x];
        }
    }
}

// Covered pixels of a row segment take the low bytes of their smoothed
// slopes; the others keep what they hold. In runs of 32 pixels: runs of
// covered pixels are written straight, the others branch-free.
LUSTRA_VECTOR_CLONES void takeCoveredPortable(const uint8_t *__restrict mask,
                                              const int32_t *__restrict meanX,
                                              const int32_t *__restrict meanY, int32_t count,
                                              int8_t *__restrict slopeX,
                                              int8_t *__restrict slopeY) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && allNonZero<32>(mask + run)) {
            for (int32_t i = run; i < end; ++i) {
                slopeX[i] = lowByte(meanX[i]);
                slopeY[i] = lowByte(meanY[i]);
            }
            continue;
        }
        for (int32_t i = run; i < end; ++i) {
            const bool covered = mask[i] != 0;
            slopeX[i] = covered ? lowByte(meanX[i]) : slopeX[i];
            slopeY[i] = covered ? lowByte(meanY[i]) : slopeY[i];
        }
    }
}

} // namespace

void clearCoveredRow(const uint8_t *__restrict mask, int32_t count, uint8_t *__restrict stampMax,
                     int8_t *__restrict rawX, int8_t *__restrict rawY) {
    passes.clearCoveredRow(mask, count, stampMax, rawX, rawY);
}

void clearCoveredSlopes(const uint8_t *__restrict mask, int32_t count, int8_t *__restrict slopeX,
                        int8_t *__restrict slopeY) {
    passes.clearCoveredSlopes(mask, count, slopeX, slopeY);
}

void takeCovered(const uint8_t *__restrict mask, const int32_t *__restrict meanX,
                 const int32_t *__restrict meanY, int32_t count, int8_t *__restrict slopeX,
                 int8_t *__restrict slopeY) {
    passes.takeCovered(mask, meanX, meanY, count, slopeX, slopeY);
}

} // namespace lustra::bevelKernels
