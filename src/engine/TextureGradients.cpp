// Gradient planes of tiling height textures, shared by the pattern and
// picture textures.
#include "engine/TextureGradients.h"

#include "engine/Blend.h"

#include <initializer_list>

namespace lustra {

namespace {

// Per column of a row: above + here + below, and above - below.
LUSTRA_VECTOR_CLONES void columnTotals(const uint8_t *__restrict above,
                                       const uint8_t *__restrict here,
                                       const uint8_t *__restrict below, int32_t w,
                                       int32_t *__restrict vertical,
                                       int32_t *__restrict difference) {
    for (int32_t u = 0; u < w; ++u) {
        vertical[u] = above[u] + here[u] + below[u];
        difference[u] = above[u] - below[u];
    }
}

// Gradients of columns 1..w-2, whose neighbours need no wrapping.
LUSTRA_VECTOR_CLONES void interiorGradients(const int32_t *__restrict vertical,
                                            const int32_t *__restrict difference, int32_t w,
                                            int8_t *__restrict outX, int8_t *__restrict outY) {
    for (int32_t u = 1; u < w - 1; ++u) {
        outX[u] = static_cast<int8_t>((vertical[u - 1] - vertical[u + 1]) / 6);
        outY[u] = static_cast<int8_t>((difference[u - 1] + difference[u] + difference[u + 1]) / 6);
    }
}

} // namespace

void textureRowGradients(const uint8_t *above, const uint8_t *here, const uint8_t *below, int32_t w,
                         int32_t *totals, int8_t *outX, int8_t *outY) {
    int32_t *vertical = totals, *difference = totals + w;
    columnTotals(above, here, below, w, vertical, difference);
    interiorGradients(vertical, difference, w, outX, outY);
    for (int32_t u : {0, w - 1}) {
        const int32_t l = u == 0 ? w - 1 : u - 1, r = u == w - 1 ? 0 : u + 1;
        outX[u] = static_cast<int8_t>((vertical[l] - vertical[r]) / 6);
        outY[u] = static_cast<int8_t>((difference[l] + difference[u] + difference[r]) / 6);
    }
}

LUSTRA_VECTOR_CLONES void gradientRange(const int8_t *plane, size_t count, int32_t &least,
                                        int32_t &most) {
    int8_t lo = 127, hi = -128;
    for (size_t i = 0; i < count; ++i) {
        lo = plane[i] < lo ? plane[i] : lo;
        hi = plane[i] > hi ? plane[i] : hi;
    }
    least = lo, most = hi;
}

} // namespace lustra
