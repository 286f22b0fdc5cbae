#include "engine/RowPasses.h"

#include "engine/Blend.h"

namespace lustra {

LUSTRA_VECTOR_CLONES void addOpaqueWeights(const uint8_t *__restrict mask, int32_t weight,
                                           int32_t count, int32_t *__restrict column) {
    for (int32_t i = 0; i < count; ++i) column[i] += mask[i] == 255 ? weight : 0;
}

LUSTRA_VECTOR_CLONES void convolveRow(const int32_t *__restrict kernel, int32_t taps,
                                      const int32_t *__restrict column, int32_t count,
                                      int32_t *__restrict out) {
    for (int32_t i = 0; i < count; ++i) out[i] = 0;
    for (int32_t k = 0; k < taps; ++k) {
        const int32_t tap = kernel[k];
        const int32_t *source = column + k;
        for (int32_t i = 0; i < count; ++i) out[i] += tap * source[i];
    }
}

} // namespace lustra
