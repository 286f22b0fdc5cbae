// Row kernels of the surface texture stages; see SurfaceTextureKernels.h.
#include "engine/kernels/SurfaceTextureKernels.h"

// The running texel sums, the filtered rows, the stretches, the unit
// texels and the row writes have AVX-512 forms besides the portable ones;
// the file picks one when the module loads (see CpuVariant.h).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#define LUSTRA_TEXTURE_AVX512 1
// The AVX-512 intrinsics start their unmasked results from an undefined
// vector, which this compiler then reports as maybe uninitialised once
// inlined; every lane of those results is written.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lustra::textureKernels {

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

// Adds a texture row of words to the column sums.
LUSTRA_VECTOR_CLONES void addWordRow(const uint32_t *__restrict row, int32_t width,
                                     uint32_t *__restrict sums) {
    for (int32_t c = 0; c < width; ++c) sums[c] += row[c];
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

namespace {

// One texture row of words blended across by the column fractions: the
// windowed gradients of columns u and uNext, (b x fu + (255 - fu) x a) >> 8.
LUSTRA_VECTOR_CLONES void blendAcrossPortable(const uint32_t *__restrict words, int32_t,
                                              const int32_t *__restrict u,
                                              const int32_t *__restrict uNext,
                                              const int32_t *__restrict fu, int32_t count,
                                              int32_t *__restrict outX, int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t a = words[u[i]], b = words[uNext[i]];
        const int32_t w = fu[i];
        outX[i] = lerp8(wordX(a), wordX(b), w);
        outY[i] = lerp8(wordY(a), wordY(b), w);
    }
}

// Column-span averages of one texture row, from its running word sums: the
// windowed gradient sums over each pixel's column span, divided by the span
// (0 for an empty span).
LUSTRA_VECTOR_CLONES void spanAveragesPortable(const uint32_t *__restrict sums, int32_t,
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

// Row-span averages in columns u and uNext (from the column word sums,
// divided by the row span through its reciprocal), blended by the column
// fraction, times depth, as sample<RowSpans>.
LUSTRA_VECTOR_CLONES void rowSpanRowPortable(const uint32_t *__restrict sums, int32_t,
                                             const int32_t *__restrict u,
                                             const int32_t *__restrict uNext,
                                             const int32_t *__restrict fu, uint32_t r,
                                             int32_t depth, int32_t count, int32_t *__restrict outX,
                                             int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t sum0 = sums[u[i]], sum1 = sums[uNext[i]];
        const int32_t a0x = divideSigned(wordX(sum0), r), a0y = divideSigned(wordY(sum0), r);
        const int32_t a1x = divideSigned(wordX(sum1), r), a1y = divideSigned(wordY(sum1), r);
        const int32_t w = fu[i];
        outX[i] = ((a1x * w + (255 - w) * a0x) * depth) >> 16;
        outY[i] = ((a1y * w + (255 - w) * a0y) * depth) >> 16;
    }
}

// The portable forms.

// Texture 1 over n pixels that take n consecutive texels: covered pixels
// get the relief slope plus the texel's gradient, clamped to -128..127.
LUSTRA_VECTOR_CLONES void
addUnitTexelsToReliefPortable(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                              const int8_t *__restrict slopeY, const uint8_t *__restrict heights,
                              const int8_t *__restrict gradientX,
                              const int8_t *__restrict gradientY, const UnitTexels &texels,
                              int32_t n, int8_t *__restrict outX, int8_t *__restrict outY) {
    const int32_t lo = texels.lo, hi = texels.hi, depth = texels.depth;
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
LUSTRA_VECTOR_CLONES void setUnitTexelsPortable(const uint8_t *__restrict coverage,
                                                const uint8_t *__restrict heights,
                                                const int8_t *__restrict gradientX,
                                                const int8_t *__restrict gradientY,
                                                const UnitTexels &texels, int32_t n,
                                                int8_t *__restrict outX, int8_t *__restrict outY) {
    const int32_t lo = texels.lo, hi = texels.hi, depth = texels.depth;
    for (int32_t i = 0; i < n; ++i) {
        const int8_t x = static_cast<int8_t>(unitGradient(heights[i], gradientX[i], lo, hi, depth));
        const int8_t y = static_cast<int8_t>(unitGradient(heights[i], gradientY[i], lo, hi, depth));
        const bool visit = coverage[i] != 255;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

// Writes the gradients of pixels x0..x1 of row y to the visited pixels:
// texture 1 adds them to the relief slopes, clamped; texture 2 sets them.
LUSTRA_VECTOR_CLONES void writeObjectRowPortable(const uint8_t *__restrict coverage,
                                                 const int8_t *__restrict slopeX,
                                                 const int8_t *__restrict slopeY,
                                                 const int32_t *__restrict gx,
                                                 const int32_t *__restrict gy, int32_t count,
                                                 int8_t *__restrict outX, int8_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const int8_t x = static_cast<int8_t>(clampRange(slopeX[i] + gx[i], -128, 127));
        const int8_t y = static_cast<int8_t>(clampRange(slopeY[i] + gy[i], -128, 127));
        const bool visit = coverage[i] != 0;
        const int8_t oldX = outX[i], oldY = outY[i]; // both read first: the loop vectorises
        outX[i] = visit ? x : oldX;
        outY[i] = visit ? y : oldY;
    }
}

LUSTRA_VECTOR_CLONES void writeBackgroundRowPortable(const uint8_t *__restrict coverage,
                                                     const int32_t *__restrict gx,
                                                     const int32_t *__restrict gy, int32_t count,
                                                     int8_t *__restrict outX,
                                                     int8_t *__restrict outY) {
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
LUSTRA_VECTOR_CLONES bool anyVisitedPortable(bool object, const uint8_t *coverage, int32_t count) {
    const uint8_t skipped = object ? 0 : 255;
    uint8_t differs = 0;
    for (int32_t i = 0; i < count; ++i) differs |= coverage[i] ^ skipped;
    return differs != 0;
}

// A texel's word, as buildTexelWords.
inline uint32_t texelWord(uint8_t height, int8_t gx, int8_t gy, int32_t lo, int32_t hi) {
    const uint32_t word = uint32_t(gx + 128) | uint32_t(gy + 128) << 12 | 1u << 24;
    return (height >= lo) & (height <= hi) ? word : 0;
}

void runningTexelSumsPortable(const TexelRows &rows, int32_t count, int32_t width, int32_t first,
                              int32_t total, int32_t lo, int32_t hi, uint32_t *__restrict sums) {
    uint32_t running = 0;
    sums[0] = 0;
    for (int32_t j = 0, c = first; j < total; ++j, c = nextWrapped(c, width)) {
        uint32_t down = 0;
        for (int32_t m = 0; m < count; ++m)
            down +=
                texelWord(rows.heights[m][c], rows.gradientX[m][c], rows.gradientY[m][c], lo, hi);
        running += down;
        sums[j + 1] = running;
    }
}

LUSTRA_VECTOR_CLONES void areaRowPortable(const uint32_t *__restrict sums, int32_t,
                                          const int32_t *__restrict start,
                                          const int32_t *__restrict end, int32_t depth,
                                          int32_t count, int32_t *__restrict outX,
                                          int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t sum = sums[end[i]] - sums[start[i]];
        const uint32_t r = kReciprocal[wordCount(sum)];
        outX[i] = (depth * divideSigned(wordX(sum), r)) >> 8;
        outY[i] = (depth * divideSigned(wordY(sum), r)) >> 8;
    }
}

// Heights from minimum..maximum (minimum < maximum) stretched to 0..255:
// v becomes (v - min) x 255 / (max - min).
LUSTRA_VECTOR_CLONES void stretchHeightsPortable(uint8_t *__restrict plane, size_t count,
                                                 int32_t minimum, int32_t maximum) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<uint8_t>(stretched(plane[i] - minimum, maximum - minimum));
}

// Gradients from minimum..maximum (minimum < maximum) stretched to
// -128..127: g becomes (g - min) x 255 / (max - min) - 128.
LUSTRA_VECTOR_CLONES void stretchGradientPlanePortable(int8_t *__restrict plane, size_t count,
                                                       int32_t minimum, int32_t maximum) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<int8_t>(stretched(plane[i] - minimum, maximum - minimum) - 128);
}

#ifdef LUSTRA_TEXTURE_AVX512

#define LUSTRA_AVX512_BYTES __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

// A table of 256 bytes in four registers.
struct ByteTable {
    __m512i t0, t1, t2, t3;
};

LUSTRA_AVX512_BYTES inline ByteTable loadTable(const void *table) {
    const uint8_t *t = static_cast<const uint8_t *>(table);
    return {_mm512_loadu_si512(t), _mm512_loadu_si512(t + 64), _mm512_loadu_si512(t + 128),
            _mm512_loadu_si512(t + 192)};
}

// The table's entry for each of 64 bytes: two two-register byte permutes
// take entries 0..127 and 128..255, and the byte's top bit picks between
// them.
LUSTRA_AVX512_BYTES inline __m512i lookUp(const ByteTable &t, __m512i b) {
    const __m512i low = _mm512_permutex2var_epi8(t.t0, b, t.t1);
    const __m512i high = _mm512_permutex2var_epi8(t.t2, b, t.t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(b), low, high);
}

// The lanes of the first `left` (0..) of 64.
LUSTRA_AVX512_BYTES inline __mmask64 firstBytes(size_t left) {
    return left >= 64 ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
}

// Each byte of a plane replaced by its entry in a table of 256, 64 bytes at
// a time.
LUSTRA_AVX512_BYTES void lookUpBytes(uint8_t *__restrict plane, size_t count,
                                     const uint8_t *table) {
    const ByteTable t = loadTable(table);
    for (size_t i = 0; i < count; i += 64) {
        const __mmask64 part = firstBytes(count - i);
        const __m512i b = _mm512_maskz_loadu_epi8(part, plane + i);
        _mm512_mask_storeu_epi8(plane + i, part, lookUp(t, b));
    }
}

// The texels of 64 pixels inside the height window lo..hi (0 <= lo <= hi
// <= 255).
LUSTRA_AVX512_BYTES inline __mmask64 insideWindow(__m512i h, __m512i lo, __m512i hi) {
    return _mm512_cmpge_epu8_mask(h, lo) & _mm512_cmple_epu8_mask(h, hi);
}

// 64 pixels at a time: the gradients looked up in the table of
// UnitTexels (depth 0..256, whose products fit a byte), zero outside
// the height window, added to the relief slopes with signed saturation
// (the clamp to -128..127) and stored under the coverage.
LUSTRA_AVX512_BYTES void
addUnitTexelsToReliefAvx512(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                            const int8_t *__restrict slopeY, const uint8_t *__restrict heights,
                            const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                            const UnitTexels &texels, int32_t n, int8_t *__restrict outX,
                            int8_t *__restrict outY) {
    const int32_t lo = texels.lo, hi = texels.hi, depth = texels.depth;
    if (depth < 0 || depth > 256 || lo < 0 || hi > 255 || lo > hi)
        return addUnitTexelsToReliefPortable(coverage, slopeX, slopeY, heights, gradientX,
                                             gradientY, texels, n, outX, outY);
    const ByteTable table = loadTable(texels.products);
    const __m512i low = _mm512_set1_epi8(char(lo)), high = _mm512_set1_epi8(char(hi));
    const __m512i zero = _mm512_setzero_si512();
    for (int32_t i = 0; i < n; i += 64) {
        const __mmask64 part = firstBytes(size_t(n - i));
        const __mmask64 visit =
            _mm512_mask_cmpneq_epu8_mask(part, _mm512_maskz_loadu_epi8(part, coverage + i), zero);
        const __mmask64 inside =
            insideWindow(_mm512_maskz_loadu_epi8(part, heights + i), low, high);
        const __m512i gx = _mm512_maskz_mov_epi8(
            inside, lookUp(table, _mm512_maskz_loadu_epi8(part, gradientX + i)));
        const __m512i gy = _mm512_maskz_mov_epi8(
            inside, lookUp(table, _mm512_maskz_loadu_epi8(part, gradientY + i)));
        _mm512_mask_storeu_epi8(outX + i, visit,
                                _mm512_adds_epi8(_mm512_maskz_loadu_epi8(part, slopeX + i), gx));
        _mm512_mask_storeu_epi8(outY + i, visit,
                                _mm512_adds_epi8(_mm512_maskz_loadu_epi8(part, slopeY + i), gy));
    }
}

// The same for texture 2, which sets the pixels not fully covered to the
// looked-up gradients (any depth: the table holds the products' low bytes,
// as the portable form's cast).
LUSTRA_AVX512_BYTES void setUnitTexelsAvx512(const uint8_t *__restrict coverage,
                                             const uint8_t *__restrict heights,
                                             const int8_t *__restrict gradientX,
                                             const int8_t *__restrict gradientY,
                                             const UnitTexels &texels, int32_t n,
                                             int8_t *__restrict outX, int8_t *__restrict outY) {
    const int32_t lo = texels.lo, hi = texels.hi;
    if (lo < 0 || hi > 255 || lo > hi)
        return setUnitTexelsPortable(coverage, heights, gradientX, gradientY, texels, n, outX,
                                     outY);
    const ByteTable table = loadTable(texels.products);
    const __m512i low = _mm512_set1_epi8(char(lo)), high = _mm512_set1_epi8(char(hi));
    const __m512i full = _mm512_set1_epi8(char(255));
    for (int32_t i = 0; i < n; i += 64) {
        const __mmask64 part = firstBytes(size_t(n - i));
        const __mmask64 visit =
            _mm512_mask_cmpneq_epu8_mask(part, _mm512_maskz_loadu_epi8(part, coverage + i), full);
        const __mmask64 inside =
            insideWindow(_mm512_maskz_loadu_epi8(part, heights + i), low, high);
        _mm512_mask_storeu_epi8(
            outX + i, visit,
            _mm512_maskz_mov_epi8(inside,
                                  lookUp(table, _mm512_maskz_loadu_epi8(part, gradientX + i))));
        _mm512_mask_storeu_epi8(
            outY + i, visit,
            _mm512_maskz_mov_epi8(inside,
                                  lookUp(table, _mm512_maskz_loadu_epi8(part, gradientY + i))));
    }
}

#undef LUSTRA_AVX512_BYTES

// The stretches as tables of every byte value, worked out by the portable
// forms themselves, then looked up.
void stretchHeightsAvx512(uint8_t *__restrict plane, size_t count, int32_t minimum,
                          int32_t maximum) {
    uint8_t table[256];
    for (int32_t b = 0; b < 256; ++b) table[b] = uint8_t(b);
    stretchHeightsPortable(table, 256, minimum, maximum);
    lookUpBytes(plane, count, table);
}

void stretchGradientPlaneAvx512(int8_t *__restrict plane, size_t count, int32_t minimum,
                                int32_t maximum) {
    int8_t table[256];
    for (int32_t b = 0; b < 256; ++b) table[b] = int8_t(uint8_t(b));
    stretchGradientPlanePortable(table, 256, minimum, maximum);
    lookUpBytes(reinterpret_cast<uint8_t *>(plane), count, reinterpret_cast<uint8_t *>(table));
}

#define LUSTRA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

// The lanes of the first `left` (0..) of 16.
LUSTRA_AVX512 inline __mmask16 firstLanes(int32_t left) {
    return left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
}

// Sixteen pixels at a time: the gradients (plus the relief slopes for
// texture 1) narrowed to bytes with signed saturation, which is the clamp
// to -128..127, and stored under the visited pixels.
LUSTRA_AVX512 void writeObjectRowAvx512(const uint8_t *__restrict coverage,
                                        const int8_t *__restrict slopeX,
                                        const int8_t *__restrict slopeY,
                                        const int32_t *__restrict gx, const int32_t *__restrict gy,
                                        int32_t count, int8_t *__restrict outX,
                                        int8_t *__restrict outY) {
    const __m128i zero = _mm_setzero_si128();
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        const __mmask16 visit =
            _mm_mask_cmpneq_epu8_mask(part, _mm_maskz_loadu_epi8(part, coverage + i), zero);
        const __m512i x =
            _mm512_add_epi32(_mm512_cvtepi8_epi32(_mm_maskz_loadu_epi8(part, slopeX + i)),
                             _mm512_maskz_loadu_epi32(part, gx + i));
        const __m512i y =
            _mm512_add_epi32(_mm512_cvtepi8_epi32(_mm_maskz_loadu_epi8(part, slopeY + i)),
                             _mm512_maskz_loadu_epi32(part, gy + i));
        _mm_mask_storeu_epi8(outX + i, visit, _mm512_cvtsepi32_epi8(x));
        _mm_mask_storeu_epi8(outY + i, visit, _mm512_cvtsepi32_epi8(y));
    }
}

LUSTRA_AVX512 void writeBackgroundRowAvx512(const uint8_t *__restrict coverage,
                                            const int32_t *__restrict gx,
                                            const int32_t *__restrict gy, int32_t count,
                                            int8_t *__restrict outX, int8_t *__restrict outY) {
    const __m128i full = _mm_set1_epi8(char(255));
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        const __mmask16 visit =
            _mm_mask_cmpneq_epu8_mask(part, _mm_maskz_loadu_epi8(part, coverage + i), full);
        _mm_mask_storeu_epi8(outX + i, visit,
                             _mm512_cvtsepi32_epi8(_mm512_maskz_loadu_epi32(part, gx + i)));
        _mm_mask_storeu_epi8(outY + i, visit,
                             _mm512_cvtsepi32_epi8(_mm512_maskz_loadu_epi32(part, gy + i)));
    }
}

// 64 pixels at a time, stopping at the first visited one.
LUSTRA_AVX512 bool anyVisitedAvx512(bool object, const uint8_t *coverage, int32_t count) {
    const __m512i skipped = _mm512_set1_epi8(char(object ? 0 : 255));
    for (int32_t i = 0; i < count; i += 64) {
        const __mmask64 part = count - i >= 64 ? ~__mmask64(0) : (__mmask64(1) << (count - i)) - 1;
        if (_mm512_mask_cmpneq_epu8_mask(part, _mm512_maskz_loadu_epi8(part, coverage + i),
                                         skipped))
            return true;
    }
    return false;
}

// Inclusive running sums along the 16 lanes, in four shifted adds, plus the
// running sum before them (`carry`, broadcast), which becomes lane 15.
LUSTRA_AVX512 inline __m512i runOn(__m512i v, __m512i &carry) {
    const __m512i zero = _mm512_setzero_si512();
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 15));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 14));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 12));
    v = _mm512_add_epi32(v, _mm512_alignr_epi32(v, zero, 8));
    v = _mm512_add_epi32(v, carry);
    carry = _mm512_permutexvar_epi32(_mm512_set1_epi32(15), v);
    return v;
}

// Sixteen texel words from 16-bit sums of their fields.
LUSTRA_AVX512 inline __m512i packWords(__m256i x, __m256i y, __m256i n) {
    return _mm512_or_si512(
        _mm512_or_si512(_mm512_cvtepu16_epi32(x), _mm512_slli_epi32(_mm512_cvtepu16_epi32(y), 12)),
        _mm512_slli_epi32(_mm512_cvtepu16_epi32(n), 24));
}

// The texel words of 32 columns from `at` summed down the rows, as two
// vectors of 16 words: the windowed gradients and the texel count are
// summed in 16-bit lanes (at most 4 x 255), the gradients as signed bytes
// with 128 per texel added at the end, and packed into words (no field
// carries into the next). `part` picks the columns that exist (Whole: all
// 32); low..high is the height window, limited to -1..256.
template <bool Whole>
LUSTRA_AVX512 inline void sumTexelWords(const TexelRows &rows, int32_t count, int32_t at,
                                        __mmask32 part, __m512i low, __m512i high, __m512i &first,
                                        __m512i &second) {
    const __m512i one = _mm512_set1_epi16(1);
    __m512i x = _mm512_setzero_si512(), y = x, n = x;
    for (int32_t m = 0; m < count; ++m) {
        __m256i h8, x8, y8;
        if (Whole) {
            h8 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows.heights[m] + at));
            x8 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows.gradientX[m] + at));
            y8 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows.gradientY[m] + at));
        } else {
            h8 = _mm256_maskz_loadu_epi8(part, rows.heights[m] + at);
            x8 = _mm256_maskz_loadu_epi8(part, rows.gradientX[m] + at);
            y8 = _mm256_maskz_loadu_epi8(part, rows.gradientY[m] + at);
        }
        const __m512i h = _mm512_cvtepu8_epi16(h8);
        const __mmask32 inside =
            _mm512_mask_cmpge_epi16_mask(part, h, low) & _mm512_cmple_epi16_mask(h, high);
        x = _mm512_mask_add_epi16(x, inside, x, _mm512_cvtepi8_epi16(x8));
        y = _mm512_mask_add_epi16(y, inside, y, _mm512_cvtepi8_epi16(y8));
        n = _mm512_mask_add_epi16(n, inside, n, one);
    }
    const __m512i bias = _mm512_slli_epi16(n, 7);
    x = _mm512_add_epi16(x, bias), y = _mm512_add_epi16(y, bias);
    first =
        packWords(_mm512_castsi512_si256(x), _mm512_castsi512_si256(y), _mm512_castsi512_si256(n));
    second = packWords(_mm512_extracti64x4_epi64(x, 1), _mm512_extracti64x4_epi64(y, 1),
                       _mm512_extracti64x4_epi64(n, 1));
}

// Thirty-two columns at a time (sumTexelWords), each half run along
// (runOn) and stored.
LUSTRA_AVX512 void runningTexelSumsAvx512(const TexelRows &rows, int32_t count, int32_t width,
                                          int32_t first, int32_t total, int32_t lo, int32_t hi,
                                          uint32_t *__restrict sums) {
    const __m512i low = _mm512_set1_epi16(short(lo < -1 ? -1 : lo > 256 ? 256 : lo));
    const __m512i high = _mm512_set1_epi16(short(hi < -1 ? -1 : hi > 256 ? 256 : hi));
    __m512i carry = _mm512_setzero_si512();
    sums[0] = 0;
    for (int32_t j = 0, c = first; j < total; c = 0) {
        // Columns c .. c + run - 1 lie side by side in each row.
        const int32_t run = total - j < width - c ? total - j : width - c;
        uint32_t *out = sums + j + 1;
        int32_t k = 0;
        for (; k + 32 <= run; k += 32) {
            __m512i a, b;
            sumTexelWords<true>(rows, count, c + k, ~__mmask32(0), low, high, a, b);
            _mm512_storeu_si512(out + k, runOn(a, carry));
            _mm512_storeu_si512(out + k + 16, runOn(b, carry));
        }
        if (k < run) {
            const int32_t left = run - k;
            __m512i a, b;
            sumTexelWords<false>(rows, count, c + k, __mmask32((uint64_t(1) << left) - 1), low,
                                 high, a, b);
            _mm512_mask_storeu_epi32(out + k, firstLanes(left), runOn(a, carry));
            if (left > 16)
                _mm512_mask_storeu_epi32(out + k + 16, firstLanes(left - 16), runOn(b, carry));
        }
        j += run;
    }
}

// s / n truncated toward zero in each lane, r being n's reciprocal, as
// divideSigned: |s| x r >> 18 with the sign put back.
LUSTRA_AVX512 inline __m512i signedQuotient(__m512i s, __m512i r) {
    const __m512i zero = _mm512_setzero_si512();
    const __mmask16 negative = _mm512_cmplt_epi32_mask(s, zero);
    const __m512i q = _mm512_srli_epi32(_mm512_mullo_epi32(_mm512_abs_epi32(s), r), 18);
    return _mm512_mask_sub_epi32(q, negative, zero, q);
}

// (depth x (s / n)) >> 8 in each lane.
LUSTRA_AVX512 inline __m512i scaledAverage(__m512i s, __m512i r, __m512i depth) {
    return _mm512_srai_epi32(_mm512_mullo_epi32(depth, signedQuotient(s, r)), 8);
}

// The x and y gradient sums of word sums, as wordX and wordY.
LUSTRA_AVX512 inline __m512i wordXOf(__m512i w) {
    return _mm512_sub_epi32(_mm512_and_si512(w, _mm512_set1_epi32(0xFFF)),
                            _mm512_slli_epi32(_mm512_srli_epi32(w, 24), 7));
}

LUSTRA_AVX512 inline __m512i wordYOf(__m512i w) {
    return _mm512_sub_epi32(_mm512_and_si512(_mm512_srli_epi32(w, 12), _mm512_set1_epi32(0xFFF)),
                            _mm512_slli_epi32(_mm512_srli_epi32(w, 24), 7));
}

// The entries of a window of 64 at each lane's index (0..63): two
// two-register permutes take entries 0..31 and 32..63, and bit 5 of the
// index picks between them.
LUSTRA_AVX512 inline __m512i fromWindow(const __m512i *window, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi32(window[0], index, window[1]);
    const __m512i high = _mm512_permutex2var_epi32(window[2], index, window[3]);
    return _mm512_mask_blend_epi32(_mm512_test_epi32_mask(index, _mm512_set1_epi32(32)), low, high);
}

// table[a] and table[b] in the lanes of `part` (the others 0), of a table
// of `entries`: taken by permutes from the 64 entries from a's first lane
// on when every index lies among them (neighbouring pixels mostly read
// neighbouring entries), else gathered.
LUSTRA_AVX512 inline void lookUpPair(const uint32_t *table, int32_t entries, __m512i a, __m512i b,
                                     __mmask16 part, __m512i &ta, __m512i &tb) {
    const __m512i zero = _mm512_setzero_si512(), reach = _mm512_set1_epi32(64);
    const int32_t base = _mm_cvtsi128_si32(_mm512_castsi512_si128(a));
    const __m512i from = _mm512_set1_epi32(base);
    const __m512i ra = _mm512_sub_epi32(a, from), rb = _mm512_sub_epi32(b, from);
    if ((_mm512_mask_cmplt_epu32_mask(part, ra, reach) &
         _mm512_mask_cmplt_epu32_mask(part, rb, reach)) == part) {
        __m512i window[4];
        for (int32_t k = 0; k < 4; ++k) {
            const int32_t left = entries - base - 16 * k;
            window[k] =
                left > 0 ? _mm512_maskz_loadu_epi32(firstLanes(left), table + base + 16 * k) : zero;
        }
        ta = _mm512_maskz_mov_epi32(part, fromWindow(window, ra));
        tb = _mm512_maskz_mov_epi32(part, fromWindow(window, rb));
        return;
    }
    ta = _mm512_mask_i32gather_epi32(zero, part, a, table, 4);
    tb = _mm512_mask_i32gather_epi32(zero, part, b, table, 4);
}

// The reciprocal of each lane's count (0..16) from a two-register table.
LUSTRA_AVX512 inline __m512i reciprocalOf(__m512i n) {
    return _mm512_permutex2var_epi32(_mm512_loadu_si512(kReciprocal), n,
                                     _mm512_set1_epi32(kReciprocal[16]));
}

// Sixteen pixels at a time: the two running sums (lookUpPair), the
// reciprocal of the texel count, and the signed divisions as
// scaledAverage.
LUSTRA_AVX512 void areaRowAvx512(const uint32_t *__restrict sums, int32_t entries,
                                 const int32_t *__restrict start, const int32_t *__restrict end,
                                 int32_t depth, int32_t count, int32_t *__restrict outX,
                                 int32_t *__restrict outY) {
    const __m512i scale = _mm512_set1_epi32(depth);
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        __m512i from, to;
        lookUpPair(sums, entries, _mm512_maskz_loadu_epi32(part, start + i),
                   _mm512_maskz_loadu_epi32(part, end + i), part, from, to);
        const __m512i sum = _mm512_sub_epi32(to, from);
        const __m512i r = reciprocalOf(_mm512_srli_epi32(sum, 24));
        _mm512_mask_storeu_epi32(outX + i, part, scaledAverage(wordXOf(sum), r, scale));
        _mm512_mask_storeu_epi32(outY + i, part, scaledAverage(wordYOf(sum), r, scale));
    }
}

// Sixteen pixels at a time: the words of columns u and uNext (lookUpPair)
// blended as lerp8.
LUSTRA_AVX512 void blendAcrossAvx512(const uint32_t *__restrict words, int32_t width,
                                     const int32_t *__restrict u, const int32_t *__restrict uNext,
                                     const int32_t *__restrict fu, int32_t count,
                                     int32_t *__restrict outX, int32_t *__restrict outY) {
    const __m512i full = _mm512_set1_epi32(255);
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        __m512i a, b;
        lookUpPair(words, width, _mm512_maskz_loadu_epi32(part, u + i),
                   _mm512_maskz_loadu_epi32(part, uNext + i), part, a, b);
        const __m512i w = _mm512_maskz_loadu_epi32(part, fu + i);
        const __m512i rest = _mm512_sub_epi32(full, w);
        auto lerp = [&](__m512i p, __m512i q) LUSTRA_AVX512 {
            return _mm512_srai_epi32(
                _mm512_add_epi32(_mm512_mullo_epi32(p, rest), _mm512_mullo_epi32(q, w)), 8);
        };
        _mm512_mask_storeu_epi32(outX + i, part, lerp(wordXOf(a), wordXOf(b)));
        _mm512_mask_storeu_epi32(outY + i, part, lerp(wordYOf(a), wordYOf(b)));
    }
}

// Sixteen pixels at a time: the word sums of their column spans
// (lookUpPair) divided by the span, as divideSigned.
LUSTRA_AVX512 void spanAveragesAvx512(const uint32_t *__restrict sums, int32_t entries,
                                      const int32_t *__restrict start,
                                      const int32_t *__restrict end, const int32_t *__restrict span,
                                      int32_t count, int32_t *__restrict outX,
                                      int32_t *__restrict outY) {
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        __m512i from, to;
        lookUpPair(sums, entries, _mm512_maskz_loadu_epi32(part, start + i),
                   _mm512_maskz_loadu_epi32(part, end + i), part, from, to);
        const __m512i sum = _mm512_sub_epi32(to, from);
        const __m512i r = reciprocalOf(_mm512_maskz_loadu_epi32(part, span + i));
        _mm512_mask_storeu_epi32(outX + i, part, signedQuotient(wordXOf(sum), r));
        _mm512_mask_storeu_epi32(outY + i, part, signedQuotient(wordYOf(sum), r));
    }
}

// Sixteen pixels at a time: the column sums of columns u and uNext
// (lookUpPair) divided by the row span, blended by the column fraction and
// scaled by depth, as the portable form.
LUSTRA_AVX512 void rowSpanRowAvx512(const uint32_t *__restrict sums, int32_t width,
                                    const int32_t *__restrict u, const int32_t *__restrict uNext,
                                    const int32_t *__restrict fu, uint32_t r, int32_t depth,
                                    int32_t count, int32_t *__restrict outX,
                                    int32_t *__restrict outY) {
    const __m512i reciprocal = _mm512_set1_epi32(int32_t(r)), scale = _mm512_set1_epi32(depth);
    const __m512i full = _mm512_set1_epi32(255);
    for (int32_t i = 0; i < count; i += 16) {
        const __mmask16 part = firstLanes(count - i);
        __m512i s0, s1;
        lookUpPair(sums, width, _mm512_maskz_loadu_epi32(part, u + i),
                   _mm512_maskz_loadu_epi32(part, uNext + i), part, s0, s1);
        const __m512i w = _mm512_maskz_loadu_epi32(part, fu + i);
        const __m512i rest = _mm512_sub_epi32(full, w);
        auto blend = [&](__m512i a0, __m512i a1) LUSTRA_AVX512 {
            const __m512i mixed =
                _mm512_add_epi32(_mm512_mullo_epi32(a1, w), _mm512_mullo_epi32(rest, a0));
            return _mm512_srai_epi32(_mm512_mullo_epi32(mixed, scale), 16);
        };
        _mm512_mask_storeu_epi32(outX + i, part,
                                 blend(signedQuotient(wordXOf(s0), reciprocal),
                                       signedQuotient(wordXOf(s1), reciprocal)));
        _mm512_mask_storeu_epi32(outY + i, part,
                                 blend(signedQuotient(wordYOf(s0), reciprocal),
                                       signedQuotient(wordYOf(s1), reciprocal)));
    }
}

#undef LUSTRA_AVX512
#endif

struct Kernels {
    CpuVariant variant;
    void (*runningTexelSums)(const TexelRows &, int32_t, int32_t, int32_t, int32_t, int32_t,
                             int32_t, uint32_t *);
    void (*areaRow)(const uint32_t *, int32_t, const int32_t *, const int32_t *, int32_t, int32_t,
                    int32_t *, int32_t *);
    void (*stretchHeights)(uint8_t *, size_t, int32_t, int32_t);
    void (*stretchGradientPlane)(int8_t *, size_t, int32_t, int32_t);
    void (*addUnitTexelsToRelief)(const uint8_t *, const int8_t *, const int8_t *, const uint8_t *,
                                  const int8_t *, const int8_t *, const UnitTexels &, int32_t,
                                  int8_t *, int8_t *);
    void (*setUnitTexels)(const uint8_t *, const uint8_t *, const int8_t *, const int8_t *,
                          const UnitTexels &, int32_t, int8_t *, int8_t *);
    void (*writeObjectRow)(const uint8_t *, const int8_t *, const int8_t *, const int32_t *,
                           const int32_t *, int32_t, int8_t *, int8_t *);
    void (*writeBackgroundRow)(const uint8_t *, const int32_t *, const int32_t *, int32_t, int8_t *,
                               int8_t *);
    bool (*anyVisited)(bool, const uint8_t *, int32_t);
    void (*blendAcross)(const uint32_t *, int32_t, const int32_t *, const int32_t *,
                        const int32_t *, int32_t, int32_t *, int32_t *);
    void (*spanAverages)(const uint32_t *, int32_t, const int32_t *, const int32_t *,
                         const int32_t *, int32_t, int32_t *, int32_t *);
    void (*rowSpanRow)(const uint32_t *, int32_t, const int32_t *, const int32_t *, const int32_t *,
                       uint32_t, int32_t, int32_t, int32_t *, int32_t *);
};

// The AVX-512 forms also take its byte permutes.
bool hasAvx512Forms() {
#ifdef LUSTRA_TEXTURE_AVX512
    __builtin_cpu_init();
    return detectedCpuVariant() == CpuVariant::kAvx512 && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

Kernels kernelsFor(CpuVariant wanted) {
#ifdef LUSTRA_TEXTURE_AVX512
    if (wanted >= CpuVariant::kAvx512 && hasAvx512Forms())
        return {CpuVariant::kAvx512,  runningTexelSumsAvx512,     areaRowAvx512,
                stretchHeightsAvx512, stretchGradientPlaneAvx512, addUnitTexelsToReliefAvx512,
                setUnitTexelsAvx512,  writeObjectRowAvx512,       writeBackgroundRowAvx512,
                anyVisitedAvx512,     blendAcrossAvx512,          spanAveragesAvx512,
                rowSpanRowAvx512};
#else
    (void)wanted;
#endif
    return {CpuVariant::kBaseline,  runningTexelSumsPortable,     areaRowPortable,
            stretchHeightsPortable, stretchGradientPlanePortable, addUnitTexelsToReliefPortable,
            setUnitTexelsPortable,  writeObjectRowPortable,       writeBackgroundRowPortable,
            anyVisitedPortable,     blendAcrossPortable,          spanAveragesPortable,
            rowSpanRowPortable};
}

Kernels kernels = kernelsFor(CpuVariant::kAvx512);

} // namespace

CpuVariant variant() {
    return kernels.variant;
}

CpuVariant selectVariant(CpuVariant wanted) {
    kernels = kernelsFor(wanted);
    return kernels.variant;
}

void runningTexelSums(const TexelRows &rows, int32_t count, int32_t width, int32_t first,
                      int32_t total, int32_t lo, int32_t hi, uint32_t *__restrict sums) {
    kernels.runningTexelSums(rows, count, width, first, total, lo, hi, sums);
}

void runningColumnSums(const uint32_t *const *rows, int32_t count, const int32_t *column,
                       int32_t total, uint32_t *__restrict sums) {
    uint32_t running = 0;
    sums[0] = 0;
    for (int32_t j = 0; j < total; ++j) {
        uint32_t down = 0;
        for (int32_t m = 0; m < count; ++m) down += rows[m][column[j]];
        running += down;
        sums[j + 1] = running;
    }
}

void areaRow(const uint32_t *__restrict sums, int32_t entries, const int32_t *__restrict start,
             const int32_t *__restrict end, int32_t depth, int32_t count, int32_t *__restrict outX,
             int32_t *__restrict outY) {
    kernels.areaRow(sums, entries, start, end, depth, count, outX, outY);
}

void stretchHeights(uint8_t *__restrict plane, size_t count, int32_t minimum, int32_t maximum) {
    kernels.stretchHeights(plane, count, minimum, maximum);
}

void stretchGradientPlane(int8_t *__restrict plane, size_t count, int32_t minimum,
                          int32_t maximum) {
    kernels.stretchGradientPlane(plane, count, minimum, maximum);
}

UnitTexels unitTexelsOf(int32_t lo, int32_t hi, int32_t depth) {
    UnitTexels texels{lo, hi, depth, {}};
    for (int32_t b = 0; b < 256; ++b)
        texels.products[b] = static_cast<int8_t>(unitGradient(0, int8_t(uint8_t(b)), 0, 0, depth));
    return texels;
}

void addUnitTexelsToRelief(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                           const int8_t *__restrict slopeY, const uint8_t *__restrict heights,
                           const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                           const UnitTexels &texels, int32_t n, int8_t *__restrict outX,
                           int8_t *__restrict outY) {
    kernels.addUnitTexelsToRelief(coverage, slopeX, slopeY, heights, gradientX, gradientY, texels,
                                  n, outX, outY);
}

void setUnitTexels(const uint8_t *__restrict coverage, const uint8_t *__restrict heights,
                   const int8_t *__restrict gradientX, const int8_t *__restrict gradientY,
                   const UnitTexels &texels, int32_t n, int8_t *__restrict outX,
                   int8_t *__restrict outY) {
    kernels.setUnitTexels(coverage, heights, gradientX, gradientY, texels, n, outX, outY);
}

void writeObjectRow(const uint8_t *__restrict coverage, const int8_t *__restrict slopeX,
                    const int8_t *__restrict slopeY, const int32_t *__restrict gx,
                    const int32_t *__restrict gy, int32_t count, int8_t *__restrict outX,
                    int8_t *__restrict outY) {
    kernels.writeObjectRow(coverage, slopeX, slopeY, gx, gy, count, outX, outY);
}

void writeBackgroundRow(const uint8_t *__restrict coverage, const int32_t *__restrict gx,
                        const int32_t *__restrict gy, int32_t count, int8_t *__restrict outX,
                        int8_t *__restrict outY) {
    kernels.writeBackgroundRow(coverage, gx, gy, count, outX, outY);
}

bool anyVisited(bool object, const uint8_t *coverage, int32_t count) {
    return kernels.anyVisited(object, coverage, count);
}

void blendAcross(const uint32_t *__restrict words, int32_t width, const int32_t *__restrict u,
                 const int32_t *__restrict uNext, const int32_t *__restrict fu, int32_t count,
                 int32_t *__restrict outX, int32_t *__restrict outY) {
    kernels.blendAcross(words, width, u, uNext, fu, count, outX, outY);
}

void spanAverages(const uint32_t *__restrict sums, int32_t entries, const int32_t *__restrict start,
                  const int32_t *__restrict end, const int32_t *__restrict span, int32_t count,
                  int32_t *__restrict outX, int32_t *__restrict outY) {
    kernels.spanAverages(sums, entries, start, end, span, count, outX, outY);
}

void rowSpanRow(const uint32_t *__restrict sums, int32_t width, const int32_t *__restrict u,
                const int32_t *__restrict uNext, const int32_t *__restrict fu, uint32_t r,
                int32_t depth, int32_t count, int32_t *__restrict outX, int32_t *__restrict outY) {
    kernels.rowSpanRow(sums, width, u, uNext, fu, r, depth, count, outX, outY);
}

} // namespace lustra::textureKernels
