// Stretching a range of values to the full byte range, shared by the
// pattern and picture textures.
#pragma once

#include <cstdint>

namespace lustra {

// t x 255 / range, truncating, for t in 0..range and range in 1..255, in
// single precision so that loops over it vectorise: t x 255 is exact, and a
// quotient that is not whole lies at least 1/255 below the next whole number,
// far beyond the division's rounding error, so truncation gives the integer
// quotient (checked for every case below).
constexpr int32_t stretched(int32_t t, int32_t range) {
    return static_cast<int32_t>(static_cast<float>(t * 255) / static_cast<float>(range));
}

constexpr bool stretchExact() {
    for (int32_t range = 1; range <= 255; ++range)
        for (int32_t t = 0; t <= range; ++t)
            if (stretched(t, range) != t * 255 / range) return false;
    return true;
}
static_assert(stretchExact(), "the stretch must equal integer division");

} // namespace lustra
