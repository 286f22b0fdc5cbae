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

// flags[b] = 1 for each run of 32 columns i = 32b .. 32b + 31 (the last one
// shorter) in which row[i] and the row above, row[i - stride], differ in
// being exactly 255, else 0: what countOpacityChanges counts, kept so that
// a row leaving the blur's window takes back exactly what it added.
void opacityChangeRuns(const uint8_t *row, ptrdiff_t stride, int32_t count,
                       uint8_t *__restrict flags);

// changes[b] += delta x flags[b] for the runs b < (count + 31) / 32.
void addChangeRuns(const uint8_t *__restrict flags, int32_t count, int32_t delta,
                   int32_t *__restrict changes);

} // namespace lustra::shadowKernels
