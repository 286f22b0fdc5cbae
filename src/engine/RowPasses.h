// The inner loops of the separable blurs of the glow and shadow stages, over
// one row segment each, written so that they vectorise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lustra {

// Column pass over `taps` mask rows, `stride` bytes apart from firstRow:
// column[i] = sum over k of weights[k] wherever firstRow[k x stride + i] is
// exactly 255 (fully opaque). The weights must add up to at most 32,767.
// With `changes` (see countOpacityChanges), the runs of 32 columns i = 32b ..
// 32b + 31 with changes[b] = 0 have the same fully opaque pixels in every
// row: each of their columns sums to all of the weights or to 0, as in the
// first row; the rows are not read.
void sumOpaqueColumns(const uint8_t *firstRow, ptrdiff_t stride, const int32_t *weights,
                      int32_t taps, int32_t count, int32_t *column,
                      const int32_t *changes = nullptr);

// Adds delta to changes[b] for each run of 32 columns i = 32b .. 32b + 31
// (the last one shorter) in which row[i] and the row above, row[i - stride],
// differ in being exactly 255. Kept up to date while a window of rows moves
// down, the count of run b is 0 exactly where no row of the window differs
// from the one above it.
void countOpacityChanges(const uint8_t *row, ptrdiff_t stride, int32_t count, int32_t delta,
                         int32_t *changes);

// out[i] = sum over k = 0..taps-1 of kernel[k] x column[i + k]; the taps and
// the column values must fit 16 bits (signed).
// `scratch` is working room that the call resizes as it needs: a pass that
// hands the same vector to each row allocates it once. With `skip`, outputs
// that are not wanted may be left as they are: those of the runs of eight i
// = 8b .. 8b + 7 whose bytes skip[i] are all 255 (the fully opaque pixels of
// a mask row, say).
void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out, std::vector<int32_t> &scratch, const uint8_t *skip = nullptr);
void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out);

// The row pass of the shadow map: out[i] = the low byte of s / 65536 for the
// sum s of convolveRow. `sums` is room for `count` values that a variant may
// use for the sums on their way (its contents are unspecified after the
// call).
void convolveRowToShadow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                         int32_t *sums, uint8_t *out, std::vector<int32_t> &scratch);

} // namespace lustra
