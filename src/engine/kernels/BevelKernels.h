// Row kernels of the bevel stage: the vectorised loops the stage calls. The
// auto-vectorised ones are compiled for each instruction set and the loader
// picks one variant per kernel once, when the module loads (see
// LUSTRA_VECTOR_CLONES); the smoothing's column and row passes are written
// with multiply-add intrinsics besides a portable variant. Every kernel
// states its exact arithmetic.
#pragma once

#include "engine/Blend.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lustra::bevelKernels {

// The low 8 bits of v as a signed byte.
inline int8_t lowByte(int64_t v) {
    return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF));
}

// Covered pixels start with no stamp and no slope; transparent ones keep
// whatever they hold (nothing reads them). In runs of 32 pixels: runs without
// a covered pixel are skipped, runs of covered pixels cleared, and the others
// taken branch-free so that it vectorises.
void clearCoveredRow(const uint8_t *__restrict mask, int32_t count, uint8_t *__restrict stampMax,
                     int8_t *__restrict rawX, int8_t *__restrict rawY);

// The cells of stamp row dy that can take anything, those of non-zero
// height: first .. last (first > last when there are none).
struct StampExtent {
    int32_t first, last;
};

// The stamps of radius a <= kLargestRadius copied with 64 empty cells on
// each side of every row, so that a run of 32 or 64 frame pixels can take a
// stamp row at any offset from it that overlaps the run: cell
// (dx, dy) at row dy + a, column dx + a + 64. Built by the stage from its
// stamp tables.
struct PaddedStamp {
    static constexpr int32_t kMargin = 64;
    static constexpr int32_t kLargestRadius = 31; // a stamp row fits 64 cells
    int32_t pitch = 0;
    std::vector<uint8_t> height, slopeX, slopeY;

    explicit PaddedStamp(int32_t a);
};

// The frame rows first .. last that a stamping call writes (the stamps of
// the edge pixels of rows first - a .. last + a, cut to them), and the
// engine's edge list by row: edgeRows[y] is the first edge pixel on row y or
// below, for y = 0 .. frame height (the edge count there); see
// edgeRowStarts. A pixel takes the same stamps in the same order whether its
// row is stamped alone or with others.
struct StampRows {
    const int32_t *edgeRows;
    int32_t first, last;
};

// edgeRows of StampRows for the engine's edge list (which is in scan order).
std::vector<int32_t> edgeRowStarts();

// Stamps the profile of radius a around every edge pixel of the engine's
// edge list, in list (scan) order, onto stampMax, rawSlopeX and rawSlopeY
// in the frame rows `rows`: a
// covered pixel takes a stamp cell (height and slopes) only when the cell is
// strictly higher (unsigned) than the height it holds, so among equal
// heights the first edge pixel wins. `extents` gives the cells of non-zero
// height of each stamp row dy + a; `padded` (radius kLargestRadius or less,
// else null) lets neighbouring edge pixels of one row whose stamps fit 32
// frame pixels be taken together, and radii past 15 be taken frame row by
// frame row (vectors of 64 with AVX-512, of 32 otherwise). The variant is
// the smoothing passes' (selectVariant).
void stampEdges(int32_t a, const StampExtent *extents, const PaddedStamp *padded,
                const StampRows &rows);

// The smallest radius that the AVX2 and portable variants stamp frame row by
// frame row when given a padded stamp; the tests lower it to take every
// radius that way. Returns the previous one.
constexpr int32_t kFrameRowsFrom = 16;
int32_t stampFrameRowsFrom(int32_t radius);

// Without smoothing: slope[i] = low byte of (raw[i] x f) >> 8, the shift
// arithmetic (rounding toward minus infinity), for both planes.
void scaleRawSlopes(const int8_t *__restrict rawX, const int8_t *__restrict rawY, size_t count,
                    int32_t f, int8_t *__restrict slopeX, int8_t *__restrict slopeY);

// The smoothing runs on vectors of 16 columns: the column pass in 16-bit
// lanes, the row pass in 32-bit lanes, both two taps at a time, the means in
// 32-bit lanes with a single-precision estimate. Every value stays an
// integer that these types hold exactly (see the stage's smoothing). The row
// pass and the means skip vectors of 8 transparent pixels, which take
// nothing.
constexpr int32_t kColumnLanes = 16;
constexpr int32_t kRowLanes = 8;

// One frame row of the bounding box, ready for the column pass: the raw
// slopes of covered pixels (0 elsewhere) and the coverage (1 or 0).
void prepareRow(const uint8_t *__restrict mask, const int8_t *__restrict rawX,
                const int8_t *__restrict rawY, int32_t count, int8_t *__restrict coveredX,
                int8_t *__restrict coveredY, int8_t *__restrict coverage);

// previous[c] and current[c] side by side at pairs[2c] and pairs[2c + 1], so
// that one multiply-add takes two rows of a column.
void interleaveRows(const int8_t *__restrict previous, const int8_t *__restrict current,
                    int32_t count, int8_t *__restrict pairs);

// One frame row of the bounding box made ready for the smoothing, into its
// slot of 9 x width + width / kColumnLanes bytes (width a whole number of
// column vectors, count <= width of them in the box): the planes of
// prepareRow (0 past count), then each of them interleaved after the same
// plane of the row above (`above`: its three planes of width bytes), as
// interleaveRows, then per column vector a flag, 1 where a pixel is covered.
// slopeBits (one bit per group of kRowLanes columns, 64 to a word, the words
// that width / kRowLanes groups take) gets the groups with a non-zero x or y
// slope. The variant is the smoothing passes' (selectVariant).
void prepareSlot(const uint8_t *mask, const int8_t *rawX, const int8_t *rawY, int32_t count,
                 int32_t width, const int8_t *above, int8_t *slot, uint64_t *slopeBits);

// Two neighbouring 16-bit values in one 32-bit word: low in the low half.
inline int32_t pairOf(int16_t low, int16_t high) {
    return static_cast<int32_t>(static_cast<uint16_t>(low) |
                                static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16);
}

// The column pass's planes: for each pair of rows, its interleaved bytes for
// x, y and coverage (each plane 2 x width bytes after the previous) and its
// two taps (the upper row's in the low byte); out, for each plane, the pairs
// of neighbouring column sums that the row pass takes.
struct ColumnPass {
    const int8_t *const *rows; // the interleaved planes of each row pair
    const uint16_t *taps;
    int32_t pairCount;
    int32_t width;     // a whole number of column vectors
    int32_t *pairs[3]; // at column 0; written from column -1 to width - 1
    int16_t *sums[3];  // room for width sums, for the portable variant
    // Per column vector: how many of the rows have a covered pixel there.
    // Where none has, every sum is 0 and the rows are not read.
    const int32_t *occupancy;
};

// Column pass: sum[c] = sum over the row pairs p of low(taps[p]) x
// rows[p][plane][2c] + high(taps[p]) x rows[p][plane][2c + 1], for c in
// 0 .. width - 1 and 0 outside; then pairs[plane][c] = pairOf(sum[c],
// sum[c + 1]) for c in -1 .. width - 1.
void sumColumnPairs(const ColumnPass &pass);

// The row pass's planes: column-sum pairs in (x, y and weight, each plane
// `stride` words after the previous), totals out.
struct RowPass {
    const int32_t *pairs;
    size_t stride;
    int32_t *totals[3];
    const int32_t *tapPairs; // pairOf(taps[2p], taps[2p + 1]), the last odd tap 0
    int32_t pairCount;
    const int8_t *coverage; // the row's prepared coverage
    int32_t width;          // a whole number of row vectors
};

// Row pass: total[c] = sum over k of taps[k] x sum[c + k], taken as the sum
// over p of the two products of pairs[c + 2p] with tapPairs[p], for the
// vectors of the row with a covered pixel.
void convolvePairs(const RowPass &pass);

// The smoothed slopes of `width` pixels (a whole number of vectors):
// trunc(T x f / (W x 256)) for the vectors with a covered pixel, 0 where no
// weight reached the pixel. Ranges: |T| < 2^23, W x 256 < 2^24, |f| < 2^17.
void meanSlopes(const int32_t *totalX, const int32_t *totalY, const int32_t *totalW,
                const int8_t *coverage, int32_t width, int32_t f, int32_t *__restrict meanX,
                int32_t *__restrict meanY);

// Covered pixels of a row segment take the slopes 0 (a smoothed slope from
// sums of 0); the others keep what they hold.
void clearCoveredSlopes(const uint8_t *__restrict mask, int32_t count, int8_t *__restrict slopeX,
                        int8_t *__restrict slopeY);

// Covered pixels of a row segment take the low bytes of their smoothed
// slopes; the others keep what they hold.
void takeCovered(const uint8_t *__restrict mask, const int32_t *__restrict meanX,
                 const int32_t *__restrict meanY, int32_t count, int8_t *__restrict slopeX,
                 int8_t *__restrict slopeY);

} // namespace lustra::bevelKernels
