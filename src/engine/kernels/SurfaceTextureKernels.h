// Row kernels of the surface texture stages: the vectorised loops the stage
// calls. Their definitions are compiled for each instruction set, and the
// loader picks one variant per kernel once, when the module loads (see
// LUSTRA_VECTOR_CLONES); the running texel sums, the filtered rows, the
// stretches, the unit texels and the row writes also have AVX-512 forms
// (with its byte permutes) beside the portable ones, picked once the same
// way (variant, selectVariant in CpuVariant.h). Every kernel states its
// exact arithmetic.
#pragma once

#include "engine/Blend.h"
#include "engine/Footprints.h"
#include "engine/Stretch.h"
#include "engine/kernels/CpuVariant.h"

#include <cstddef>
#include <cstdint>

namespace lustra::textureKernels {

// (depth x g) >> 8 for a texel inside the height window lo..hi, else 0: the
// area average of a footprint of exactly one texel.
inline int32_t unitGradient(uint8_t height, int8_t g, int32_t lo, int32_t hi, int32_t depth) {
    const int32_t inside = (height >= lo) & (height <= hi); // branch-free, so that it vectorises
    return ((depth * g) >> 8) * inside;
}

// Accepted texels in a word sum.
inline int32_t wordCount(uint32_t w) {
    return int32_t(w >> 24);
}

// Sum of x gradients over the accepted texels of a word sum (0 for none).
inline int32_t wordX(uint32_t w) {
    return int32_t(w & 0xFFFu) - 128 * wordCount(w);
}

// Sum of y gradients over the accepted texels of a word sum.
inline int32_t wordY(uint32_t w) {
    return int32_t((w >> 12) & 0xFFFu) - 128 * wordCount(w);
}

// s / n truncated toward zero, for |s| <= 16 x 128 and n in 1..16, from
// n's reciprocal (see divideSmall); n = 0 gives 0.
inline int32_t divideSigned(int32_t s, uint32_t reciprocal) {
    const int32_t q = int32_t(divideSmall(uint32_t(s < 0 ? -s : s), reciprocal));
    return s < 0 ? -q : q;
}

// What the unit texel kernels take of a stage call: the height window
// lo..hi, the depth, and (depth x g) >> 8 of every gradient byte g cast to
// a byte (see unitGradient), made once by unitTexelsOf.
struct UnitTexels {
    int32_t lo, hi, depth;
    int8_t products[256];
};

UnitTexels unitTexelsOf(int32_t lo, int32_t hi, int32_t depth);

// Texture 1 over n pixels that take n consecutive texels: covered pixels
// get the relief slope plus the texel's gradient, clamped to -128..127.
void addUnitTexelsToRelief(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                           const int8_t *__restrict slopeY, const uint8_t *__restrict heights,
                           const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                           const UnitTexels &texels, int32_t n, int8_t *__restrict outX,
                           int8_t *__restrict outY);

// Texture 2 over n pixels that take n consecutive texels: pixels not fully
// covered get the texel's gradient (within -128..126, so no clamping).
void setUnitTexels(const uint8_t *__restrict coverage, const uint8_t *__restrict heights,
                   const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                   const UnitTexels &texels, int32_t n, int8_t *__restrict outX,
                   int8_t *__restrict outY);

// A texel as the filters sum it: inside the height window lo..hi
// (gx + 128) in bits 0..11, (gy + 128) in bits 12..23 and a count of 1 from
// bit 24; outside it 0. A sum of up to 16 words keeps every field in its own
// bits (16 x 255 < 2^12), so the window's gradient sums and texel count read
// straight off it.
void buildTexelWords(const uint8_t *__restrict heights, const int8_t *__restrict gradientX,
                     const int8_t *__restrict gradientY, int32_t lo, int32_t hi, size_t count,
                     uint32_t *__restrict words);

// One texture row of words (`width` of them) blended across by the column
// fractions: the windowed gradients of columns u and uNext,
// (b x fu + (255 - fu) x a) >> 8.
void blendAcross(const uint32_t *__restrict words, int32_t width, const int32_t *__restrict u,
                 const int32_t *__restrict uNext, const int32_t *__restrict fu, int32_t count,
                 int32_t *__restrict outX, int32_t *__restrict outY);

// Two rows taken across, blended down by the row fraction fv and scaled by
// depth: ((bottom x fv + (255 - fv) x top) x depth) >> 16, as
// sample<Bilinear> and sample<ColumnSpans>.
void blendDown(const int32_t *__restrict topX, const int32_t *__restrict topY,
               const int32_t *__restrict bottomX, const int32_t *__restrict bottomY, int32_t fv,
               int32_t depth, int32_t count, int32_t *__restrict outX, int32_t *__restrict outY);

// Up to four texture rows: their heights and gradients.
struct TexelRows {
    const uint8_t *heights[4];
    const int8_t *gradientX[4];
    const int8_t *gradientY[4];
};

// Running sums of texel words (see buildTexelWords, height window lo..hi)
// down `count` (0..4) texture rows along `total` texture columns from column
// `first` on, wrapping after `width`: sums[0] = 0 and sums[j + 1] = sums[j]
// + the words of the j-th column in rows 0 .. count - 1, all in wrapping
// 32-bit arithmetic (only differences over one footprint are read, and
// they are exact).
void runningTexelSums(const TexelRows &rows, int32_t count, int32_t width, int32_t first,
                      int32_t total, int32_t lo, int32_t hi, uint32_t *__restrict sums);

// Running sums of word rows built by buildTexelWords along any columns: the
// j-th is column[j].
void runningColumnSums(const uint32_t *const *rows, int32_t count, const int32_t *column,
                       int32_t total, uint32_t *__restrict sums);

// Area averages, times depth, of `count` pixels from running word sums over
// the span columns of the row span: (depth x (sum / accepted)) >> 8, 0 when
// no texel of the footprint is accepted; sum is sums[end] - sums[start]
// (sums has `entries` entries).
void areaRow(const uint32_t *__restrict sums, int32_t entries, const int32_t *__restrict start,
             const int32_t *__restrict end, int32_t depth, int32_t count, int32_t *__restrict outX,
             int32_t *__restrict outY);

// Column-span averages of one texture row, from its running word sums: the
// windowed gradient sums over each pixel's column span, divided by the span
// (0 for an empty span); sums has `entries` entries.
void spanAverages(const uint32_t *__restrict sums, int32_t entries, const int32_t *__restrict start,
                  const int32_t *__restrict end, const int32_t *__restrict span, int32_t count,
                  int32_t *__restrict outX, int32_t *__restrict outY);

// Adds a texture row of words to the column sums.
void addWordRow(const uint32_t *__restrict row, int32_t width, uint32_t *__restrict sums);

// Row-span averages in columns u and uNext (from the column word sums of
// the texture's `width` columns, divided by the row span through its
// reciprocal), blended by the column fraction, times depth, as
// sample<RowSpans>.
void rowSpanRow(const uint32_t *__restrict sums, int32_t width, const int32_t *__restrict u,
                const int32_t *__restrict uNext, const int32_t *__restrict fu, uint32_t r,
                int32_t depth, int32_t count, int32_t *__restrict outX, int32_t *__restrict outY);

// Writes the gradients of pixels x0..x1 of row y to the visited pixels:
// texture 1 adds them to the relief slopes, clamped; texture 2 sets them.
void writeObjectRow(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                    const int8_t *__restrict slopeY, const int32_t *__restrict gx,
                    const int32_t *__restrict gy, int32_t count, int8_t *__restrict outX,
                    int8_t *__restrict outY);

void writeBackgroundRow(const uint8_t *__restrict coverage, const int32_t *__restrict gx,
                        const int32_t *__restrict gy, int32_t count, int8_t *__restrict outX,
                        int8_t *__restrict outY);

// Whether any of `count` pixels is visited (see visited).
bool anyVisited(bool object, const uint8_t *coverage, int32_t count);

// Heights from minimum..maximum (minimum < maximum) stretched to 0..255:
// v becomes (v - min) x 255 / (max - min).
void stretchHeights(uint8_t *__restrict plane, size_t count, int32_t minimum, int32_t maximum);

// Gradients from minimum..maximum (minimum < maximum) stretched to
// -128..127: g becomes (g - min) x 255 / (max - min) - 128.
void stretchGradientPlane(int8_t *__restrict plane, size_t count, int32_t minimum, int32_t maximum);

// Height of each pixel: the brightest of blue, green and red.
void brightestChannels(const uint32_t *__restrict picture, size_t count,
                       uint8_t *__restrict heights);

// Least and greatest height of a plane.
void heightRange(const uint8_t *plane, size_t count, int32_t &least, int32_t &most);

} // namespace lustra::textureKernels
