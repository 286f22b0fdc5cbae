// Row kernels of the final shading: the loops that shade one frame row,
// which the stage calls row by row. They only look up what the stage built
// for the call (ShadingLookup): the fills' colour tables and light lobes,
// the texel coordinates of each column and row, the glow ramp. The light
// lobe, plain background, shadow and glow loops are compiled for each
// instruction set, and the loader picks one variant per loop once, when the
// module loads (see LUSTRA_VECTOR_CLONES). Every kernel states its exact
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

// What one frame row reads besides the lookups: its coverage (at column 0;
// when not valid every pixel is taken as below full coverage and
// uncovered), both fills' rows, the shadow's reach and the row's glow
// weights (null when the glow is off).
struct RowInputs {
    const uint8_t *coverage;
    bool coverageValid;
    FillRow object, background;
    ShadowReach shadow;
    const uint8_t *glow;
    int32_t glowWeight; // glow opacity x 255 / 100
};

// Shades columns [x0, x1) of one frame row (`out` at column 0), from back
// to front. The row splits into runs of full coverage and runs below it.
// Below full coverage: the background fill replacing the pixels, the shadow
// where it reaches (weight s = (S x shadow weight) >> 8, blending toward the
// shadow colour where s > 0), the glow (weight g = (G x glow weight) >> 8,
// blending toward the glow ramp's colour at g where g > 0), and the object
// fill blended with the coverage where there is some. Under full coverage
// the object alone: lerp8 with weight 255 keeps nothing of what lies
// beneath, so background, shadow and glow are not computed there. Every
// pixel keeps its fourth byte.
typedef void (*ShadeRow)(const ShadingLookup &lookup, const RowInputs &row, int32_t x0, int32_t x1,
                         uint32_t *out);

// The row kernel for object fill mode `objectMode` and background fill mode
// `backgroundMode` (0 plain, 1 light lobe, 2 metal, 3 picture: the modes the
// stage settled on), chosen once per frame.
ShadeRow shadeRow(int objectMode, int backgroundMode);

} // namespace lustra::shadingKernels
