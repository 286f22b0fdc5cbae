// Row kernels of the surface texture stages; see SurfaceTextureKernels.h.
#include "engine/kernels/SurfaceTextureKernels.h"

namespace lustra::textureKernels {

// Texture 1 over n pixels that take n consecutive texels: covered pixels
// get the relief slope plus the texel's gradient, clamped to -128..127.
LUSTRA_VECTOR_CLONES void
addUnitTexelsToRelief(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                      const int8_t *__restrict slopeY, const uint8_t *__restrict heights,
                      const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                      int32_t lo, int32_t hi, int32_t depth, int32_t n, int8_t *__restrict outX,
                      int8_t *__restrict outY) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t gx = unitGradient(heights[i], gradientX[i], lo, hi, depth);
        const int32_t gy = unitGradient(heights[i], gradientY[i], lo, hi, depth);
        const int8_t x = static_cast<int8_t>(clampRange(slopeX[i] + gx, -128, 127));
        const int8_t y = static_cast<int8_t>(clampRange(slopeY[i] + gy, -128, 127));
        const bool visit = coverage[i] != 0;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

// Texture 2 over n pixels that take n consecutive texels: pixels not fully
// covered get the texel's gradient (within -128..126, so no clamping).
LUSTRA_VECTOR_CLONES void setUnitTexels(const uint8_t *__restrict coverage,
                                        const uint8_t *__restrict heights,
                                        const int8_t *__restrict gradientX,
                                        const int8_t *__restrict gradientY, int32_t lo, int32_t hi,
                                        int32_t depth, int32_t n, int8_t *__restrict outX,
                                        int8_t *__restrict outY) {
    for (int32_t i = 0; i < n; ++i) {
        const int8_t x = static_cast<int8_t>(unitGradient(heights[i], gradientX[i], lo, hi, depth));
        const int8_t y = static_cast<int8_t>(unitGradient(heights[i], gradientY[i], lo, hi, depth));
        const bool visit = coverage[i] != 255;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

// A texel as the filters sum it: inside the height window lo..hi
// (gx + 128) in bits 0..11, (gy + 128) in bits 12..23 and a count of 1 from
// bit 24; outside it 0. A sum of up to 16 words keeps every field in its own
// bits (16 x 255 < 2^12), so the window's gradient sums and texel count read
// straight off it.
LUSTRA_VECTOR_CLONES void buildTexelWords(const uint8_t *__restrict heights,
                                          const int8_t *__restrict gradientX,
                                          const int8_t *__restrict gradientY, int32_t lo,
                                          int32_t hi, size_t count, uint32_t *__restrict words) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t word =
            uint32_t(gradientX[i] + 128) | uint32_t(gradientY[i] + 128) << 12 | 1u << 24;
        words[i] = (heights[i] >= lo) & (heights[i] <= hi) ? word : 0;
    }
}

// One texture row of words blended across by the column fractions: the
// windowed gradients of columns u and uNext, (b x fu + (255 - fu) x a) >> 8.
LUSTRA_VECTOR_CLONES void blendAcross(const uint32_t *__restrict words, const int32_t *__restrict u,
                                      const int32_t *__restrict uNext, const int32_t *__restrict fu,
                                      int32_t count, int32_t *__restrict outX,
                                      int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t a = words[u[i]], b = words[uNext[i]];
        const int32_t w = fu[i];
        outX[i] = lerp8(wordX(a), wordX(b), w);
        outY[i] = lerp8(wordY(a), wordY(b), w);
    }
}

// Two rows taken across, blended down by the row fraction fv and scaled by
// depth: ((bottom x fv + (255 - fv) x top) x depth) >> 16, as
// sample<Bilinear> and sample<ColumnSpans>.
LUSTRA_VECTOR_CLONES void blendDown(const int32_t *__restrict topX, const int32_t *__restrict topY,
                                    const int32_t *__restrict bottomX,
                                    const int32_t *__restrict bottomY, int32_t fv, int32_t depth,
                                    int32_t count, int32_t *__restrict outX,
                                    int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        outX[i] = ((bottomX[i] * fv + (255 - fv) * topX[i]) * depth) >> 16;
        outY[i] = ((bottomY[i] * fv + (255 - fv) * topY[i]) * depth) >> 16;
    }
}

// Area averages, times depth, of `count` pixels from running word sums over
// the span columns of the row span: (depth x (sum / accepted)) >> 8, 0 when
// no texel of the footprint is accepted.
LUSTRA_VECTOR_CLONES void areaRow(const uint64_t *__restrict sums, const int32_t *__restrict start,
                                  const int32_t *__restrict end, int32_t depth, int32_t count,
                                  int32_t *__restrict outX, int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t sum = static_cast<uint32_t>(sums[end[i]] - sums[start[i]]);
        const uint32_t r = kReciprocal[wordCount(sum)];
        outX[i] = (depth * divideSigned(wordX(sum), r)) >> 8;
        outY[i] = (depth * divideSigned(wordY(sum), r)) >> 8;
    }
}

// Column-span averages of one texture row, from its running word sums: the
// windowed gradient sums over each pixel's column span, divided by the span
// (0 for an empty span).
LUSTRA_VECTOR_CLONES void spanAverages(const uint64_t *__restrict sums,
                                       const int32_t *__restrict start,
                                       const int32_t *__restrict end,
                                       const int32_t *__restrict span, int32_t count,
                                       int32_t *__restrict outX, int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t sum = static_cast<uint32_t>(sums[end[i]] - sums[start[i]]);
        const uint32_t r = kReciprocal[span[i]];
        outX[i] = divideSigned(wordX(sum), r);
        outY[i] = divideSigned(wordY(sum), r);
    }
}

// Adds a texture row of words to the column sums.
LUSTRA_VECTOR_CLONES void addWordRow(const uint32_t *__restrict row, int32_t width,
                                     uint32_t *__restrict sums) {
    for (int32_t c = 0; c < width; ++c) sums[c] += row[c];
}

// Row-span averages in columns u and uNext (from the column word sums,
// divided by the row span through its reciprocal), blended by the column
// fraction, times depth, as sample<RowSpans>.
LUSTRA_VECTOR_CLONES void rowSpanRow(const uint32_t *__restrict sums, const int32_t *__restrict u,
                                     const int32_t *__restrict uNext, const int32_t *__restrict fu,
                                     uint32_t r, int32_t depth, int32_t count,
                                     int32_t *__restrict outX, int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t sum0 = sums[u[i]], sum1 = sums[uNext[i]];
        const int32_t a0x = divideSigned(wordX(sum0), r), a0y = divideSigned(wordY(sum0), r);
        const int32_t a1x = divideSigned(wordX(sum1), r), a1y = divideSigned(wordY(sum1), r);
        const int32_t w = fu[i];
        outX[i] = ((a1x * w + (255 - w) * a0x) * depth) >> 16;
        outY[i] = ((a1y * w + (255 - w) * a0y) * depth) >> 16;
    }
}

// Writes the gradients of pixels x0..x1 of row y to the visited pixels:
// texture 1 adds them to the relief slopes, clamped; texture 2 sets them.
LUSTRA_VECTOR_CLONES void writeObjectRow(const uint8_t *__restrict coverage,
                                         const int8_t *__restrict slopeX,
                                         const int8_t *__restrict slopeY,
                                         const int32_t *__restrict gx, const int32_t *__restrict gy,
                                         int32_t count, int8_t *__restrict outX,
                                         int8_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const int8_t x = static_cast<int8_t>(clampRange(slopeX[i] + gx[i], -128, 127));
        const int8_t y = static_cast<int8_t>(clampRange(slopeY[i] + gy[i], -128, 127));
        const bool visit = coverage[i] != 0;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

LUSTRA_VECTOR_CLONES void writeBackgroundRow(const uint8_t *__restrict coverage,
                                             const int32_t *__restrict gx,
                                             const int32_t *__restrict gy, int32_t count,
                                             int8_t *__restrict outX, int8_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const int8_t x = static_cast<int8_t>(clampRange(gx[i], -128, 127));
        const int8_t y = static_cast<int8_t>(clampRange(gy[i], -128, 127));
        const bool visit = coverage[i] != 255;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

// Whether any of `count` pixels is visited (see visited).
LUSTRA_VECTOR_CLONES bool anyVisited(bool object, const uint8_t *coverage, int32_t count) {
    const uint8_t skipped = object ? 0 : 255;
    uint8_t differs = 0;
    for (int32_t i = 0; i < count; ++i) differs |= coverage[i] ^ skipped;
    return differs != 0;
}

// Heights from minimum..maximum (minimum < maximum) stretched to 0..255:
// v becomes (v - min) x 255 / (max - min).
LUSTRA_VECTOR_CLONES void stretchHeights(uint8_t *__restrict plane, size_t count, int32_t minimum,
                                         int32_t maximum) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<uint8_t>(stretched(plane[i] - minimum, maximum - minimum));
}

// Gradients from minimum..maximum (minimum < maximum) stretched to
// -128..127: g becomes (g - min) x 255 / (max - min) - 128.
LUSTRA_VECTOR_CLONES void stretchGradientPlane(int8_t *__restrict plane, size_t count,
                                               int32_t minimum, int32_t maximum) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<int8_t>(stretched(plane[i] - minimum, maximum - minimum) - 128);
}

// Height of each pixel: the brightest of blue, green and red.
LUSTRA_VECTOR_CLONES void brightestChannels(const uint32_t *__restrict picture, size_t count,
                                            uint8_t *__restrict heights) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = picture[i];
        const uint32_t blue = pixel & 0xFFu, green = (pixel >> 8) & 0xFFu;
        const uint32_t red = (pixel >> 16) & 0xFFu;
        const uint32_t brighter = green > blue ? green : blue;
        heights[i] = static_cast<uint8_t>(red > brighter ? red : brighter);
    }
}

// Least and greatest height of a plane.
LUSTRA_VECTOR_CLONES void heightRange(const uint8_t *plane, size_t count, int32_t &least,
                                      int32_t &most) {
    uint8_t lo = 255, hi = 0;
    for (size_t i = 0; i < count; ++i) {
        lo = plane[i] < lo ? plane[i] : lo;
        hi = plane[i] > hi ? plane[i] : hi;
    }
    least = lo, most = hi;
}

} // namespace lustra::textureKernels
