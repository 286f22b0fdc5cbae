// Row kernels of the shadow stage; see ShadowKernels.h.
#include "engine/kernels/ShadowKernels.h"

namespace lustra::shadowKernels {

// map[i] = sums[i] / 65536, kept as its low byte.
LUSTRA_VECTOR_CLONES void storeShadowRow(const int32_t *__restrict sums, int32_t count,
                                         uint8_t *__restrict map) {
    for (int32_t i = 0; i < count; ++i) map[i] = static_cast<uint8_t>(sums[i] / 65536);
}

} // namespace lustra::shadowKernels
