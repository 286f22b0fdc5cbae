// Row kernels of the image map stages: the vectorised loops the stage calls.
// Their definitions are compiled for each instruction set, and the loader
// picks one variant per kernel once, when the module loads (see
// LUSTRA_VECTOR_CLONES). Every kernel states its exact arithmetic.
#pragma once

#include "engine/Blend.h"
#include "engine/Footprints.h"

#include <cstddef>
#include <cstdint>

namespace lustra::mapKernels {

// Blue, green and red of a pixel in the 16-bit lanes at bits 0, 16 and 32.
inline uint64_t spreadChannels(uint32_t p) {
    return (p & 0xFFu) | (uint64_t(p & 0xFF00u) << 8) | (uint64_t(p & 0xFF0000u) << 16);
}

// Lane k (0 blue, 1 green, 2 red) of a spread sum.
inline uint32_t laneOf(uint64_t sum, int k) {
    return static_cast<uint32_t>(sum >> (16 * k)) & 0xFFFFu;
}

// One source row blended across by the frame's column fractions: each
// channel ((255 - fu) x a + fu x b) >> 8 of the pixels in columns u and
// uNext, kept as a pixel (channels at most 254).
void blendAcross(const uint32_t *__restrict row, const int32_t *__restrict u,
                 const int32_t *__restrict uNext, const int32_t *__restrict fu, int32_t count,
                 uint32_t *__restrict out);

// Two rows blended across, blended down by the row fraction fv: bytes 0..2
// written, byte 3 kept.
void blendDown(const uint32_t *__restrict top, const uint32_t *__restrict bottom, uint32_t fv,
               int32_t count, uint32_t *__restrict out);

// Box filter on one frame row: each pixel the average over its column span
// and the row's `rowSpan` rows, from the running sums; 0 when empty.
void boxRow(const uint64_t *__restrict sums, const int32_t *__restrict start,
            const int32_t *__restrict end, const int32_t *__restrict span, int32_t rowSpan,
            int32_t count, uint32_t *__restrict out);

// Column spans on one frame row: averages over each pixel's column span on
// source rows v (sums0) and vNext (sums1), blended by the row fraction fv.
void columnSpanRow(const uint64_t *__restrict sums0, const uint64_t *__restrict sums1,
                   const int32_t *__restrict start, const int32_t *__restrict end,
                   const int32_t *__restrict span, uint32_t fv, int32_t count,
                   uint32_t *__restrict out);

// Adds the spread channels of a source row to the column sums.
void addSpreadRow(const uint32_t *__restrict row, int32_t width, uint64_t *__restrict sums);

// Row spans on one frame row: averages of the column sums in columns u and
// uNext (divided by the row span through its reciprocal r), blended by the
// column fraction.
void rowSpanRow(const uint64_t *__restrict sums, const int32_t *__restrict u,
                const int32_t *__restrict uNext, const int32_t *__restrict fu, uint32_t r,
                int32_t count, uint32_t *__restrict out);

// Copies `count` pixels: bytes 0..2 from the source, byte 3 kept.
void copyColourBytes(const uint32_t *__restrict source, int32_t count, uint32_t *__restrict out);

} // namespace lustra::mapKernels
