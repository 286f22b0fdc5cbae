// Row kernels of the glow stage; see GlowKernels.h.
#include "engine/kernels/GlowKernels.h"

namespace lustra::glowKernels {

// Pixels that are not fully opaque start without glow: held[i] = mask[i]
// == 255 ? held[i] : 0. Runs of 32 pixels none of which is fully opaque are
// cleared without reading what they held (which on fresh pages saves
// mapping them twice), fully opaque runs are skipped, and the others taken
// branch-free so that it vectorises.
LUSTRA_VECTOR_CLONES void clearUncoveredRow(const uint8_t *__restrict mask, int32_t count,
                                            uint8_t *__restrict held) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && noneOpaque32(mask + run)) {
            std::memset(held + run, 0, 32);
            continue;
        }
        if (end == run + 32 && allOpaque32(mask + run)) continue;
        for (int32_t i = run; i < end; ++i) held[i] = mask[i] == 255 ? held[i] : 0;
    }
}

// glow[i] = mask[i] == 255 ? glow[i] : held[i]: the stamped heights become
// the glow of the pixels that are not fully opaque; in runs of 32 as
// clearUncoveredRow.
LUSTRA_VECTOR_CLONES void copyStampedRow(const uint8_t *__restrict mask,
                                         const uint8_t *__restrict held, int32_t count,
                                         uint8_t *__restrict glow) {
    for (int32_t run = 0; run < count; run += 32) {
        const int32_t end = count - run < 32 ? count : run + 32;
        if (end == run + 32 && noneOpaque32(mask + run)) {
            std::memcpy(glow + run, held + run, 32);
            continue;
        }
        if (end == run + 32 && allOpaque32(mask + run)) continue;
        for (int32_t i = run; i < end; ++i) glow[i] = mask[i] == 255 ? glow[i] : held[i];
    }
}

// column[i] = trunc(column[i] x 1.3), in double precision as always (the
// vector variant converts, multiplies and truncates lane by lane alike).
LUSTRA_VECTOR_CLONES void scaleColumns(int32_t *column, int32_t count) {
    for (int32_t i = 0; i < count; ++i) column[i] = static_cast<int32_t>(column[i] * 1.3);
}

// glow[i] = min(sums[i] / 65536, 255) where mask[i] is not 255, glow[i]
// unchanged elsewhere; returns the highest value written (at least `peak`).
// In chunks of 256: the clamped quotients as bytes first, then the bytes
// stored and their peak taken, each loop of one width so that it vectorises.
LUSTRA_VECTOR_CLONES int32_t storeGlowRow(const int32_t *__restrict sums,
                                          const uint8_t *__restrict mask, int32_t count,
                                          uint8_t *__restrict glow, int32_t peak) {
    uint8_t top = static_cast<uint8_t>(peak); // peak is 1 .. 255
    for (int32_t chunk = 0; chunk < count; chunk += 256) {
        const int32_t n = count - chunk < 256 ? count - chunk : 256;
        uint8_t value[256];
        for (int32_t i = 0; i < n; ++i) {
            const int32_t v = sums[chunk + i] / 65536;
            value[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
        for (int32_t i = 0; i < n; ++i) {
            const bool opaque = mask[chunk + i] == 255;
            glow[chunk + i] = opaque ? glow[chunk + i] : value[i];
            const uint8_t written = opaque ? 0 : value[i];
            top = written > top ? written : top;
        }
    }
    return top;
}

} // namespace lustra::glowKernels
