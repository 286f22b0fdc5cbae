// Row kernels of the final shading: the span and row loops the stage calls
// for each run of a row. They only look up what the stage built for the call
// (ShadingLookup): the fills' colour tables and light lobes, the texel
// coordinates of each column and row, the glow ramp. The light lobe, the
// plain background, the shadow and the glow rows are compiled for each
// instruction set, and the loader picks one variant per kernel once, when
// the module loads (see LUSTRA_VECTOR_CLONES). Every kernel states its exact
// arithmetic.
#pragma once

#include "engine/Blend.h"

#include <cstddef>
#include <cstdint>

namespace lustra::shadingKernels {

constexpr int32_t kLobeSize = 1024;
constexpr int32_t kLobeScale = 524288; // 2^19: lobe positions in 1/2^19 texel

// A fill's colours as channel arrays (0 red, 1 green, 2 blue).
struct FillColours {
    int32_t a[3], b[3], c[3];
};

// What the kernels look up for one fill (0 object, 1 background).
struct FillLookup {
    FillColours colours;
    uint8_t diffuse[3][256];       // light-weighted mix of colour C and colour A
    uint8_t specular[3][256];      // colour B scaled by the highlight curve
    uint32_t lobePairs[kLobeSize]; // cosine lobe | the fill's highlight lobe << 16
    // Texel per column and per row, reduced modulo the texture size, which
    // is modulusU x modulusV (256 x 256 unless the fill shows a picture).
    const int32_t *colCoord, *rowCoord;
    int32_t modulusU, modulusV;
    const uint32_t *image; // the fill's picture (read in picture mode only)
};

// Everything the kernels of one call look up, built once by the stage.
struct ShadingLookup {
    FillLookup fill[2];
    const uint8_t *colFrac, *rowFrac; // sub-texel fractions (shared by both fills)
    const int32_t *lobeU, *lobeV;     // light lobe positions per column and row
    const uint8_t *metal;             // the metal texture, 256 x 256
    uint32_t glowRamp[256];           // the glow colour at each glow weight, as an RGB work pixel
};

// Where a fill reads along row y: its slopes (null: flat) and its image-map
// pixels (null: untinted), indexed by column.
struct FillRow {
    const int8_t *slopeX, *slopeY;
    const uint32_t *map;
    int32_t y;
};

// The shadow along one row: its shadow-map row (null when the row has no
// shadow), the offset R + shift from a frame column to its shadow-map
// column, the frame columns [first, end) whose shadow-map column lies in
// 1 .. paddedW - 1, the weight and the colour.
struct ShadowReach {
    const uint8_t *row;
    int64_t offset, first, end;
    int32_t weight;
    uint32_t colour;
};

// How a fill meets the pixels beneath it: it replaces them (a background),
// blends toward them with their coverage, or lies on fully covered pixels
// (lerp8 with weight 255, which keeps nothing of what lies beneath).
enum class Lay { Replace, Blend, Opaque };

// The object fill over columns [x0, x1) of a row, laid on `out` (the frame
// row at column 0) as the kernel's Lay says; `coverage` (at column 0) is
// read only to blend. Each fill keeps the pixel's fourth byte.
typedef void (*ObjectSpan)(const ShadingLookup &lookup, const FillRow &row, const uint8_t *coverage,
                           int32_t x0, int32_t x1, uint32_t *out);

// The kernel of object fill mode `mode` (0 plain, 1 light lobe, 2 metal,
// 3 picture: the mode the stage settled on) laid as `lay` (Blend or Opaque).
ObjectSpan objectSpan(int mode, Lay lay);

// The background fill replacing columns [x0, x1) of a row, with the shadow
// laid over it where it reaches: weight s = (S x shadow weight) >> 8, and
// where s > 0 the pixel blends toward the shadow colour with weight s.
typedef void (*BackgroundSpan)(const ShadingLookup &lookup, const FillRow &row,
                               const ShadowReach &shadow, int32_t x0, int32_t x1, uint32_t *out);

// The kernel of background fill mode `mode` (as for objectSpan).
BackgroundSpan backgroundSpan(int mode);

// Glow along a row segment: weight g = (G x glow weight) >> 8; where g > 0
// the pixel blends toward the glow ramp's colour at g with weight g.
void glowRow(const uint8_t *__restrict glow, int32_t weight, const uint32_t *__restrict ramp,
             int32_t count, uint32_t *__restrict out);

// Coverage scans: the first column from x on (count when none) whose
// coverage is full (255), not full, non-zero, or zero. The first three
// step over eight bytes at a time while none of them can match.
inline int32_t nextFull(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && !anyZeroByte(~eightBytes(coverage + x))) x += 8;
    while (x < count && coverage[x] != 255) ++x;
    return x;
}
inline int32_t nextNotFull(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && eightBytes(coverage + x) == ~uint64_t(0)) x += 8;
    while (x < count && coverage[x] == 255) ++x;
    return x;
}
inline int32_t nextCovered(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && eightBytes(coverage + x) == 0) x += 8;
    while (x < count && coverage[x] == 0) ++x;
    return x;
}
inline int32_t nextUncovered(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x < count && coverage[x] != 0) ++x;
    return x;
}

} // namespace lustra::shadingKernels
