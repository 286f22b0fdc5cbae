// The inner loops of the separable blurs of the glow and shadow stages, over
// one row segment each, written so that they vectorise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra {

// Column pass over `taps` mask rows, `stride` bytes apart from firstRow:
// column[i] = sum over k of weights[k] wherever firstRow[k x stride + i] is
// exactly 255 (fully opaque). The weights must add up to at most 32,767.
void sumOpaqueColumns(const uint8_t *firstRow, ptrdiff_t stride, const int32_t *weights,
                      int32_t taps, int32_t count, int32_t *column);

// out[i] = sum over k = 0..taps-1 of kernel[k] x column[i + k]; the taps and
// the column values must fit 16 bits (signed).
void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out);

} // namespace lustra
