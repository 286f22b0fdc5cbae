// Row kernels of the shadow stage: the vectorised loops the stage calls. Their
// definitions are compiled for each instruction set, and the loader picks one
// variant per kernel once, when the module loads (see LUSTRA_VECTOR_CLONES).
#pragma once

#include "engine/Blend.h"
#include "engine/Footprints.h"

#include <cstddef>
#include <cstdint>

namespace lustra::shadowKernels {

// map[i] = sums[i] / 65536, kept as its low byte.
void storeShadowRow(const int32_t *__restrict sums, int32_t count, uint8_t *__restrict map);

} // namespace lustra::shadowKernels
