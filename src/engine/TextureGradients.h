// Gradient planes of tiling height textures, shared by the pattern and
// picture textures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra {

// Gradients of one row of a texture w texels wide over the 3 x 3
// neighbourhoods, `above` and `below` being the neighbouring rows (wrapped
// by the caller) and columns wrapping at the row's ends: x is the left
// column minus the right column, y the upper row minus the lower row, each
// a sum of three heights, over 6 (truncating). `totals` has room for 2 x w
// values.
void textureRowGradients(const uint8_t *above, const uint8_t *here, const uint8_t *below, int32_t w,
                         int32_t *totals, int8_t *outX, int8_t *outY);

// Least and greatest value of a gradient plane of `count` values (count > 0).
void gradientRange(const int8_t *plane, size_t count, int32_t &least, int32_t &most);

} // namespace lustra
