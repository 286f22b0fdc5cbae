// The inner loops of the separable blurs of the glow and shadow stages, over
// one row segment each, written so that they vectorise.
#pragma once

#include <cstdint>

namespace lustra {

// column[i] += weight wherever mask[i] is exactly 255 (fully opaque).
void addOpaqueWeights(const uint8_t *mask, int32_t weight, int32_t count, int32_t *column);

// out[i] = sum over k = 0..taps-1 of kernel[k] x column[i + k].
void convolveRow(const int32_t *kernel, int32_t taps, const int32_t *column, int32_t count,
                 int32_t *out);

} // namespace lustra
