// Row kernels of the glow stage: the vectorised loops the stage calls. Their
// definitions are compiled for each instruction set, and the loader picks one
// variant per kernel once, when the module loads (see LUSTRA_VECTOR_CLONES).
#pragma once

#include "engine/Blend.h"
#include "engine/Footprints.h"

#include <cstddef>
#include <cstdint>

namespace lustra::glowKernels {

// Pixels that are not fully opaque start without glow: held[i] = mask[i]
// == 255 ? held[i] : 0. Runs of 32 pixels none of which is fully opaque are
// cleared without reading what they held (which on fresh pages saves
// mapping them twice), fully opaque runs are skipped, and the others taken
// branch-free so that it vectorises.
void clearUncoveredRow(const uint8_t *__restrict mask, int32_t count, uint8_t *__restrict held);

// glow[i] = mask[i] == 255 ? glow[i] : held[i]: the stamped heights become
// the glow of the pixels that are not fully opaque; in runs of 32 as
// clearUncoveredRow.
void copyStampedRow(const uint8_t *__restrict mask, const uint8_t *__restrict held, int32_t count,
                    uint8_t *__restrict glow);

// column[i] = trunc(column[i] x 1.3), in double precision as always (the
// vector variant converts, multiplies and truncates lane by lane alike).
void scaleColumns(int32_t *column, int32_t count);

// glow[i] = min(sums[i] / 65536, 255) where mask[i] is not 255, glow[i]
// unchanged elsewhere; returns the highest value written (at least `peak`).
// In chunks of 256: the clamped quotients as bytes first, then the bytes
// stored and their peak taken, each loop of one width so that it vectorises.
int32_t storeGlowRow(const int32_t *__restrict sums, const uint8_t *__restrict mask, int32_t count,
                     uint8_t *__restrict glow, int32_t peak);

} // namespace lustra::glowKernels
