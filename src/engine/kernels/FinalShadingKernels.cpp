// Row kernels of the final shading; see FinalShadingKernels.h.
#include "engine/kernels/FinalShadingKernels.h"

#include "engine/kernels/CpuVariant.h"

// The plain background, the light lobe and the glow have AVX2 and AVX-512
// variants written with intrinsics besides the auto-vectorised ones; the
// file picks one set when the module loads. The AVX2 light lobe takes the
// spans that replace or cover the pixels; the AVX-512 one also the blended
// spans and the short ones, its masked lanes cutting every span to length,
// and lays the shadow on a light-lobe background in the same pass.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#define LUSTRA_SHADING_INTRINSICS 1
#define LUSTRA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
// The AVX-512 intrinsics start their unmasked results from an undefined
// vector, which this compiler then reports as maybe uninitialised once
// inlined; every lane of those results is written.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lustra::shadingKernels {

namespace {

// The variant the intrinsics kernels run (see selectVariant).
#ifdef LUSTRA_SHADING_INTRINSICS
CpuVariant chosenVariant = detectedCpuVariant();
#else
CpuVariant chosenVariant = CpuVariant::kBaseline;
#endif

// The red, green and blue bytes of an RGB work pixel, in that order.
struct RgbChannels {
    int32_t c[3];
    explicit RgbChannels(uint32_t p)
        : c{static_cast<int32_t>((p >> 16) & 0xFF), static_cast<int32_t>((p >> 8) & 0xFF),
            static_cast<int32_t>(p & 0xFF)} {}
};

// Lobe index of a slope at a lobe position: |(slope x 2^19 + position) >> 16|,
// at most 1023 (32-bit arithmetic that wraps, shift before the absolute
// value). The sum is formed unsigned, which wraps alike and vectorises.
inline int32_t lobeIndex(int32_t slope, int32_t position) {
    const int32_t shifted =
        wrap32(uint32_t(slope) * uint32_t(kLobeScale) + uint32_t(position)) >> 16;
    const int32_t magnitude = shifted < 0 ? -shifted : shifted;
    return magnitude > kLobeSize - 1 ? kLobeSize - 1 : magnitude;
}

// Texel coordinate c (0 .. m - 1) moved by slope d: (c + d) mod m, true
// modulo; only a move past either end needs the division.
inline int32_t shiftTexel(int32_t c, int32_t d, int32_t m) {
    const int32_t moved = c + d;
    return moved >= 0 && moved < m ? moved : trueMod(moved, m);
}

// The colour of fill F (0 object, 1 background) in mode M (0, 2 or 3) at pixel (x, y)
// with slopes (dx, dy); `map` is the fill's image-map pixel or null.
template <int F, int M>
inline void fillColour(const ShadingLookup &lookup, int32_t x, int32_t y, int32_t dx, int32_t dy,
                       const uint32_t *map, int32_t out[3]) {
    const FillLookup &fill = lookup.fill[F];
    const FillColours &colours = fill.colours;
    if constexpr (M == 0) {
        // Plain: colour A, tinted (M x A) >> 8 by an image map.
        if (map) {
            const RgbChannels m(*map);
            for (int k = 0; k < 3; ++k) out[k] = mul8(m.c[k], colours.a[k]);
        } else {
            for (int k = 0; k < 3; ++k) out[k] = colours.a[k];
        }
    } else {
        static_assert(M == 2 || M == 3, "the light lobe (mode 1) shades whole rows: lobeRow");
        // The metal texture is 256 x 256; a picture has its own size.
        const int32_t mu = M == 2 ? 256 : fill.modulusU, mv = M == 2 ? 256 : fill.modulusV;
        const int32_t u = shiftTexel(fill.colCoord[x], dx, mu);
        const int32_t v = shiftTexel(fill.rowCoord[y], dy, mv);
        const int32_t uNext = u + 1 == mu ? 0 : u + 1;
        const int32_t vNext = v + 1 == mv ? 0 : v + 1;
        const int32_t fu = lookup.colFrac[x], fv = lookup.rowFrac[y];
        if constexpr (M == 2) {
            // Metal: the environment intensity j, bilinear (object: / 255,
            // background: >> 8), through the diffuse and specular tables.
            const uint8_t *metal = lookup.metal;
            const int32_t tl = metal[v * 256 + u], tr = metal[v * 256 + uNext];
            const int32_t bl = metal[vNext * 256 + u], br = metal[vNext * 256 + uNext];
            int32_t j;
            if constexpr (F == 0) {
                const int32_t top = (tr * fu + tl * (255 - fu)) / 255;
                const int32_t bottom = (br * fu + bl * (255 - fu)) / 255;
                j = (top * (255 - fv) + bottom * fv) / 255;
            } else {
                j = lerp8(lerp8(tl, tr, fu), lerp8(bl, br, fu), fv);
            }
            const RgbChannels tint = map ? RgbChannels(*map) : RgbChannels(0x00FFFFFFu);
            for (int k = 0; k < 3; ++k) {
                const int32_t t = tint.c[k];
                out[k] = clampHigh255(((fill.diffuse[k][j] * t) >> 8) + fill.specular[k][j]);
            }
        } else {
            // Picture: bilinear sample of the fill picture times the tint.
            const uint32_t *image = fill.image;
            const size_t row = size_t(v) * mu, rowNext = size_t(vNext) * mu;
            const RgbChannels tl(image[row + u]), tr(image[row + uNext]);
            const RgbChannels bl(image[rowNext + u]), br(image[rowNext + uNext]);
            const RgbChannels mapTint(map ? *map : 0u);
            for (int k = 0; k < 3; ++k) {
                const int32_t top = lerp8(tl.c[k], tr.c[k], fu);
                const int32_t bottom = lerp8(bl.c[k], br.c[k], fu);
                const int32_t t = map ? mapTint.c[k] : colours.a[k];
                out[k] = ((bottom * fv + (255 - fv) * top) * t) >> 16;
            }
        }
    }
}

// The fourth byte of a work pixel, which the shading keeps.
constexpr uint32_t kFourthByte = 0xFF000000u;

// lerp8 of each channel of `pixel` toward `colour` with weight w (0..255),
// keeping the pixel's fourth byte.
inline uint32_t blendPixel(uint32_t pixel, uint32_t colour, int32_t w) {
    return (pixel & kFourthByte) | lerpRgb(pixel, colour, uint32_t(w));
}

// One channel of the light lobe: diffuse weight d mixes C toward A, the
// tint t scales it and highlight s adds B:
// min(255, ((((C x (255 - d) + A x d) >> 8) x t + B x s) >> 8), the mix
// formed as 255 C + (A - C) d (the same sum with one product).
inline int32_t lobeChannel(int32_t a, int32_t b, int32_t c, int32_t d, int32_t s, int32_t t) {
    const int32_t lit = (c * 255 + (a - c) * d) >> 8;
    return clampHigh255((lit * t + b * s) >> 8);
}

// How a fill meets the pixels beneath it: it replaces them (a background),
// blends toward them with their coverage, or lies on fully covered pixels
// (lerp8 with weight 255, which keeps nothing of what lies beneath).
enum class Lay { Replace, Blend, Opaque };

// A fill colour laid on a pixel as L says, keeping the pixel's fourth byte.
template <Lay L> inline uint32_t layFill(uint32_t pixel, uint32_t fill, int32_t coverage) {
    if constexpr (L == Lay::Replace) return (pixel & kFourthByte) | fill;
    if constexpr (L == Lay::Blend) return blendPixel(pixel, fill, coverage);
    return blendPixel(pixel, fill, 255);
}

// The light-lobe fill (mode 1) at one pixel with slopes (dx, dy) and lobe
// positions (u, v), laid on `pixel` as L says. Lobe index a comes from dx
// and u, b from dy and v; `lobe` pairs the cosine lobe (low half) with the
// fill's highlight lobe (high half).
template <Lay L>
inline uint32_t lobePixel(const uint32_t *lobe, int32_t dx, int32_t dy, int32_t u, int32_t v,
                          uint32_t tint, const FillColours &colours, uint32_t pixel,
                          int32_t coverage) {
    const uint32_t across = lobe[lobeIndex(dx, u)];
    const uint32_t down = lobe[lobeIndex(dy, v)];
    // d = (cosine(b) x cosine(a)) >> 8, s = (highlight(b) x highlight(a)) >> 8
    const int32_t d = int32_t(((down & 0xFFFF) * (across & 0xFFFF)) >> 8);
    const int32_t s = int32_t(((down >> 16) * (across >> 16)) >> 8);
    const uint32_t fill =
        packRgb(lobeChannel(colours.a[0], colours.b[0], colours.c[0], d, s, pixelRed(tint)),
                lobeChannel(colours.a[1], colours.b[1], colours.c[1], d, s, pixelGreen(tint)),
                lobeChannel(colours.a[2], colours.b[2], colours.c[2], d, s, pixelBlue(tint)));
    return layFill<L>(pixel, fill, coverage);
}

// The light-lobe fill along a row segment, in a loop that vectorises. The
// slopes are 0 unless Sloped, the tint white unless Tinted; `coverage` is
// read only to blend. The colours come by value, so that the loop holds
// them in registers.
template <bool Tinted, bool Sloped, Lay L>
LUSTRA_VECTOR_CLONES void lobeRow(const uint32_t *__restrict lobe, const int32_t *__restrict lobeU,
                                  int32_t lobeV, const int8_t *__restrict slopeX,
                                  const int8_t *__restrict slopeY, const uint32_t *__restrict map,
                                  const uint8_t *__restrict coverage, const FillColours colours,
                                  int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x)
        out[x] = lobePixel<L>(lobe, Sloped ? slopeX[x] : 0, Sloped ? slopeY[x] : 0, lobeU[x], lobeV,
                              Tinted ? map[x] : 0x00FFFFFFu, colours, out[x],
                              L == Lay::Blend ? coverage[x] : 255);
}

#ifdef LUSTRA_SHADING_INTRINSICS
// lobeRow for fills that replace the pixels or lie on fully covered ones,
// eight pixels a vector in 32-bit lanes. The lobe indices as lobeIndex
// (shift, add and arithmetic shift wrap alike in the lanes), the two pairs
// gathered; one 16-bit product of the pairs gives d (low half) and s (high
// half), each at most 254. Per channel the mix 255 C + (A - C) d and then
// lit x t + B x s are each one multiply-add of 16-bit pairs, exact in
// 32 bits. Fully covered pixels take lerp8 with weight 255 of the fill,
// (v x 255) >> 8 = v - 1 for v > 0 and 0 for v = 0: a saturating byte
// subtraction of 1. The last count mod 8 pixels go through lobeRow.
template <bool Tinted, bool Sloped, Lay L>
__attribute__((target("avx2"))) void
lobeRowAvx2(const uint32_t *__restrict lobe, const int32_t *__restrict lobeU, int32_t lobeV,
            const int8_t *__restrict slopeX, const int8_t *__restrict slopeY,
            const uint32_t *__restrict map, const FillColours colours, int32_t count,
            uint32_t *__restrict out) {
    static_assert(L != Lay::Blend, "blended spans go through lobeRow");
    const __m256i v = _mm256_set1_epi32(lobeV);
    const __m256i top = _mm256_set1_epi32(kLobeSize - 1);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i fullHigh = _mm256_set1_epi32(255 << 16);
    const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(kFourthByte));
    const int *table = reinterpret_cast<const int *>(lobe);
    __m256i mixes[3], highlights[3];
    for (int k = 0; k < 3; ++k) {
        // (A - C, C) against (d, 255); (t, B) against (lit, s)
        mixes[k] = _mm256_set1_epi32(int32_t(uint32_t(uint16_t(colours.a[k] - colours.c[k])) |
                                             uint32_t(colours.c[k]) << 16));
        highlights[k] = _mm256_set1_epi32(int32_t(255u | uint32_t(colours.b[k]) << 16));
    }
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        __m256i across = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lobeU + x));
        __m256i down = v;
        if constexpr (Sloped) {
            const __m256i dx = _mm256_cvtepi8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(slopeX + x)));
            const __m256i dy = _mm256_cvtepi8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i *>(slopeY + x)));
            across = _mm256_add_epi32(across, _mm256_slli_epi32(dx, 19));
            down = _mm256_add_epi32(down, _mm256_slli_epi32(dy, 19));
        }
        const __m256i a = _mm256_min_epi32(_mm256_abs_epi32(_mm256_srai_epi32(across, 16)), top);
        const __m256i b = _mm256_min_epi32(_mm256_abs_epi32(_mm256_srai_epi32(down, 16)), top);
        const __m256i ds =
            _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_i32gather_epi32(table, b, 4),
                                                 _mm256_i32gather_epi32(table, a, 4)),
                              8);
        const __m256i dPair = _mm256_or_si256(_mm256_and_si256(ds, low16), fullHigh);
        const __m256i sHigh = _mm256_andnot_si256(low16, ds);
        __m256i tints = _mm256_setzero_si256();
        if constexpr (Tinted)
            tints = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(map + x));
        __m256i fill = _mm256_setzero_si256();
        for (int k = 0; k < 3; ++k) {
            const int shift = 16 - 8 * k; // red, green, blue
            const __m256i lit = _mm256_srli_epi32(_mm256_madd_epi16(dPair, mixes[k]), 8);
            __m256i weights = highlights[k];
            if constexpr (Tinted)
                weights = _mm256_or_si256(
                    _mm256_andnot_si256(low16, weights),
                    _mm256_and_si256(_mm256_srli_epi32(tints, shift), _mm256_set1_epi32(0xFF)));
            const __m256i lit255 = _mm256_min_epi32(
                _mm256_srli_epi32(_mm256_madd_epi16(_mm256_or_si256(lit, sHigh), weights), 8),
                _mm256_set1_epi32(255));
            fill = _mm256_or_si256(fill, _mm256_slli_epi32(lit255, shift));
        }
        if constexpr (L == Lay::Opaque)
            fill = _mm256_subs_epu8(fill, _mm256_set1_epi32(0x00010101));
        __m256i *to = reinterpret_cast<__m256i *>(out + x);
        _mm256_storeu_si256(
            to, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(to), fourth), fill));
    }
    if (x < count)
        lobeRow<Tinted, Sloped, L>(lobe, lobeU + x, lobeV, Sloped ? slopeX + x : nullptr,
                                   Sloped ? slopeY + x : nullptr, Tinted ? map + x : nullptr,
                                   nullptr, colours, count - x, out + x);
}

// Loads and stores of sixteen pixels' values with AVX-512: whole vectors
// when Full, else only the `lanes` given (the others read as 0 and are left
// unwritten; nothing outside those lanes is touched).
template <bool Full> LUSTRA_AVX512 inline __m512i load16(__mmask16 lanes, const void *p) {
    if constexpr (Full) return _mm512_loadu_si512(p);
    return _mm512_maskz_loadu_epi32(lanes, p);
}
template <bool Full> LUSTRA_AVX512 inline __m128i load16Bytes(__mmask16 lanes, const void *p) {
    if constexpr (Full) return _mm_loadu_si128(static_cast<const __m128i *>(p));
    return _mm_maskz_loadu_epi8(lanes, p);
}
template <bool Full> LUSTRA_AVX512 inline void store16(__mmask16 lanes, void *p, __m512i v) {
    if constexpr (Full)
        _mm512_storeu_si512(p, v);
    else
        _mm512_mask_storeu_epi32(p, lanes, v);
}

// The lanes of the first `left` of sixteen pixels (left below 16).
inline __mmask16 firstLanes(int32_t left) {
    return __mmask16((1u << left) - 1);
}

// What lobeRowAvx512 holds in registers along a row. The shadow's weight
// and each channel of its colour in the high halves (shades) are used only
// when the kernel lays the shadow too.
struct LobeVectors {
    __m512i v, top, low16, fullHigh, byteMask, fourth, mixes[3], highlights[3];
    __m512i shadowWeight, shades[3];
};

// Sixteen pixels of lobeRowAvx512 from column x on, in `lanes` unless Full.
template <bool Tinted, bool Sloped, Lay L, bool Shaded, bool Full>
LUSTRA_AVX512 inline void
lobeVector(const LobeVectors &k, const uint32_t *lobe, const int32_t *lobeU, const int8_t *slopeX,
           const int8_t *slopeY, const uint32_t *map, const uint8_t *coverage,
           const uint8_t *shadow, int32_t x, __mmask16 lanes, uint32_t *out) {
    __m512i across = load16<Full>(lanes, lobeU + x);
    __m512i down = k.v;
    if constexpr (Sloped) {
        const __m512i dx = _mm512_cvtepi8_epi32(load16Bytes<Full>(lanes, slopeX + x));
        const __m512i dy = _mm512_cvtepi8_epi32(load16Bytes<Full>(lanes, slopeY + x));
        across = _mm512_add_epi32(across, _mm512_slli_epi32(dx, 19));
        down = _mm512_add_epi32(down, _mm512_slli_epi32(dy, 19));
    }
    const __m512i a = _mm512_min_epi32(_mm512_abs_epi32(_mm512_srai_epi32(across, 16)), k.top);
    const __m512i b = _mm512_min_epi32(_mm512_abs_epi32(_mm512_srai_epi32(down, 16)), k.top);
    const __m512i ds = _mm512_srli_epi16(
        _mm512_mullo_epi16(_mm512_i32gather_epi32(b, lobe, 4), _mm512_i32gather_epi32(a, lobe, 4)),
        8);
    const __m512i dPair = _mm512_or_si512(_mm512_and_si512(ds, k.low16), k.fullHigh);
    const __m512i sHigh = _mm512_andnot_si512(k.low16, ds);
    __m512i tints = _mm512_setzero_si512();
    if constexpr (Tinted) tints = load16<Full>(lanes, map + x);
    const __m512i pixels = load16<Full>(lanes, out + x);
    __m512i weighting = _mm512_setzero_si512();
    if constexpr (L == Lay::Blend) {
        // (255 - w, w) per pixel
        const __m512i w = _mm512_cvtepu8_epi32(load16Bytes<Full>(lanes, coverage + x));
        weighting = _mm512_or_si512(_mm512_sub_epi32(k.byteMask, w), _mm512_slli_epi32(w, 16));
    }
    __m512i fill = _mm512_setzero_si512();
    for (int c = 0; c < 3; ++c) {
        const int shift = 16 - 8 * c; // red, green, blue
        const __m512i lit = _mm512_srli_epi32(_mm512_madd_epi16(dPair, k.mixes[c]), 8);
        __m512i weights = k.highlights[c];
        if constexpr (Tinted)
            weights =
                _mm512_or_si512(_mm512_andnot_si512(k.low16, weights),
                                _mm512_and_si512(_mm512_srli_epi32(tints, shift), k.byteMask));
        __m512i channel = _mm512_min_epi32(
            _mm512_srli_epi32(_mm512_madd_epi16(_mm512_or_si512(lit, sHigh), weights), 8),
            k.byteMask);
        if constexpr (L == Lay::Blend) {
            const __m512i under = _mm512_and_si512(_mm512_srli_epi32(pixels, shift), k.byteMask);
            channel = _mm512_srli_epi32(
                _mm512_madd_epi16(_mm512_or_si512(under, _mm512_slli_epi32(channel, 16)),
                                  weighting),
                8);
        }
        fill = _mm512_or_si512(fill, _mm512_slli_epi32(channel, shift));
    }
    if constexpr (L == Lay::Opaque) fill = _mm512_subs_epu8(fill, _mm512_set1_epi32(0x00010101));
    if constexpr (Shaded) {
        // Where s = (S x weight) >> 8 > 0, each channel f of the fill
        // toward the shadow's c: (f, c) against (255 - s, s).
        const __m128i bytes = load16Bytes<Full>(lanes, shadow + x);
        if (!_mm_testz_si128(bytes, bytes)) {
            const __m512i s = _mm512_srli_epi16(
                _mm512_mullo_epi16(_mm512_cvtepu8_epi32(bytes), k.shadowWeight), 8);
            const __m512i weighting =
                _mm512_or_si512(_mm512_sub_epi32(k.byteMask, s), _mm512_slli_epi32(s, 16));
            __m512i shaded = _mm512_setzero_si512();
            for (int c = 0; c < 3; ++c) {
                const int shift = 16 - 8 * c;
                const __m512i channel =
                    _mm512_and_si512(_mm512_srli_epi32(fill, shift), k.byteMask);
                const __m512i mixed = _mm512_srli_epi32(
                    _mm512_madd_epi16(_mm512_or_si512(channel, k.shades[c]), weighting), 8);
                shaded = _mm512_or_si512(shaded, _mm512_slli_epi32(mixed, shift));
            }
            fill = _mm512_mask_mov_epi32(fill, _mm512_cmpgt_epi32_mask(s, _mm512_setzero_si512()),
                                         shaded);
        }
    }
    store16<Full>(lanes, out + x, _mm512_or_si512(_mm512_and_si512(pixels, k.fourth), fill));
}

// lobeRow sixteen pixels a vector with AVX-512, as lobeRowAvx2 for spans
// that replace or cover the pixels; a blended span mixes each channel of
// the pixel p and the fill f as one multiply-add of the 16-bit pairs
// (p, f) and (255 - w, w), exact in 32 bits. When Shaded (a background, L
// Replace) the shadow is laid over the fill in the same pass, as shadowRow
// would after it: `shadow` holds the span's shadow bytes. The last count
// mod 16 pixels take the same steps in masked lanes: their loads read
// nothing past the span (lanes beyond it are zero, whose lobe indices stay
// in the table) and their stores write nothing there.
template <bool Tinted, bool Sloped, Lay L, bool Shaded = false>
LUSTRA_AVX512 void lobeRowAvx512(const uint32_t *__restrict lobe, const int32_t *__restrict lobeU,
                                 int32_t lobeV, const int8_t *__restrict slopeX,
                                 const int8_t *__restrict slopeY, const uint32_t *__restrict map,
                                 const uint8_t *__restrict coverage, const FillColours colours,
                                 int32_t count, uint32_t *__restrict out,
                                 const uint8_t *__restrict shadow = nullptr,
                                 int32_t shadowWeight = 0, uint32_t shadowColour = 0) {
    static_assert(!Shaded || L == Lay::Replace, "only a background takes the shadow");
    LobeVectors k;
    k.v = _mm512_set1_epi32(lobeV);
    k.top = _mm512_set1_epi32(kLobeSize - 1);
    k.low16 = _mm512_set1_epi32(0xFFFF);
    k.fullHigh = _mm512_set1_epi32(255 << 16);
    k.byteMask = _mm512_set1_epi32(0xFF);
    k.fourth = _mm512_set1_epi32(static_cast<int32_t>(kFourthByte));
    k.shadowWeight = _mm512_set1_epi32(shadowWeight);
    const RgbChannels shade(shadowColour);
    for (int c = 0; c < 3; ++c) {
        // (A - C, C) against (d, 255); (t, B) against (lit, s)
        k.mixes[c] = _mm512_set1_epi32(int32_t(uint32_t(uint16_t(colours.a[c] - colours.c[c])) |
                                               uint32_t(colours.c[c]) << 16));
        k.highlights[c] = _mm512_set1_epi32(int32_t(255u | uint32_t(colours.b[c]) << 16));
        k.shades[c] = _mm512_set1_epi32(int32_t(uint32_t(shade.c[c]) << 16));
    }
    int32_t x = 0;
    for (; x + 16 <= count; x += 16)
        lobeVector<Tinted, Sloped, L, Shaded, true>(k, lobe, lobeU, slopeX, slopeY, map, coverage,
                                                    shadow, x, 0, out);
    if (x < count)
        lobeVector<Tinted, Sloped, L, Shaded, false>(k, lobe, lobeU, slopeX, slopeY, map, coverage,
                                                     shadow, x, firstLanes(count - x), out);
}
#endif

// The light-lobe fill along a row segment (see lobeRow), through the
// variant the file runs; blended spans through lobeRow unless on AVX-512.
template <bool Tinted, bool Sloped, Lay L>
inline void lobeSpan(const uint32_t *lobe, const int32_t *lobeU, int32_t lobeV,
                     const int8_t *slopeX, const int8_t *slopeY, const uint32_t *map,
                     const uint8_t *coverage, const FillColours &colours, int32_t count,
                     uint32_t *out) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512)
        return lobeRowAvx512<Tinted, Sloped, L>(lobe, lobeU, lobeV, slopeX, slopeY, map, coverage,
                                                colours, count, out);
    if constexpr (L != Lay::Blend)
        if (chosenVariant != CpuVariant::kBaseline)
            return lobeRowAvx2<Tinted, Sloped, L>(lobe, lobeU, lobeV, slopeX, slopeY, map, colours,
                                                  count, out);
#endif
    lobeRow<Tinted, Sloped, L>(lobe, lobeU, lobeV, slopeX, slopeY, map, coverage, colours, count,
                               out);
}

// Plain fill (mode 0) replacing a row segment: colour A (packed), or
// (M x A) >> 8 per channel under the image map when Tinted. When Shaded the
// shadow is laid over it in the same pass: weight s = (S x shadow weight)
// >> 8, and where s > 0 the pixel blends toward the shadow colour.
template <bool Tinted, bool Shaded>
LUSTRA_VECTOR_CLONES void plainRow(const uint32_t *__restrict map, uint32_t colour,
                                   const uint8_t *__restrict shadow, int32_t weight,
                                   uint32_t shadowColour, int32_t count, uint32_t *__restrict out) {
    const int32_t r = pixelRed(colour), g = pixelGreen(colour), b = pixelBlue(colour);
    for (int32_t x = 0; x < count; ++x) {
        const uint32_t m = Tinted ? map[x] : 0;
        const uint32_t fill =
            Tinted ? packRgb(mul8(pixelRed(m), r), mul8(pixelGreen(m), g), mul8(pixelBlue(m), b))
                   : colour;
        const uint32_t back = (out[x] & kFourthByte) | fill;
        if constexpr (Shaded) {
            const int32_t s = (shadow[x] * weight) >> 8;
            const uint32_t shaded = blendPixel(back, shadowColour, s);
            out[x] = s > 0 ? shaded : back;
        } else {
            out[x] = back;
        }
    }
}

#ifdef LUSTRA_SHADING_INTRINSICS
// plainRow in 16-bit lanes, eight pixels a vector: the channels of pixels
// 0, 1, 4, 5 in one vector and 2, 3, 6, 7 in the other (the byte unpacking's
// order, which packing undoes). Every product of two bytes and the blend's
// sum a x (255 - s) + b x s stay below 2^16, so the 16-bit arithmetic is
// exact; the fourth byte's lanes are 0 in colour, tint and shadow colour and
// stay 0. Eight pixels whose shadow bytes are all 0 take no blend (s = 0
// there); the last count mod 8 pixels go through plainRow.
// lerp8 of 16-bit channel lanes toward the shadow colour's with weight s
// (255 at most), where s > 0; the lanes unchanged where s = 0.
__attribute__((target("avx2"))) inline __m256i shadeLanes(__m256i back, __m256i shade, __m256i s) {
    const __m256i mixed = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(back, _mm256_sub_epi16(_mm256_set1_epi16(255), s)),
                         _mm256_mullo_epi16(shade, s)),
        8);
    return _mm256_blendv_epi8(back, mixed, _mm256_cmpgt_epi16(s, _mm256_setzero_si256()));
}

template <bool Tinted, bool Shaded>
__attribute__((target("avx2"))) void
plainRowAvx2(const uint32_t *__restrict map, uint32_t colour, const uint8_t *__restrict shadow,
             int32_t weight, uint32_t shadowColour, int32_t count, uint32_t *__restrict out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(kFourthByte));
    const __m256i colours = _mm256_unpacklo_epi8(_mm256_set1_epi32(int32_t(colour)), zero);
    const __m256i shades = _mm256_unpacklo_epi8(_mm256_set1_epi32(int32_t(shadowColour)), zero);
    const __m256i weights = _mm256_set1_epi32(weight);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        __m256i low = colours, high = colours;
        if constexpr (Tinted) {
            // (M x A) >> 8 per channel
            const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(map + x));
            low = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(m, zero), colours), 8);
            high = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(m, zero), colours), 8);
        }
        if constexpr (Shaded) {
            uint64_t eight;
            std::memcpy(&eight, shadow + x, sizeof eight);
            if (eight != 0) {
                // s = (S x weight) >> 8 per pixel, spread over its four lanes.
                const __m256i s32 = _mm256_srli_epi32(
                    _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_loadl_epi64(
                                           reinterpret_cast<const __m128i *>(shadow + x))),
                                       weights),
                    8);
                const __m256i s16 = _mm256_or_si256(s32, _mm256_slli_epi32(s32, 16));
                const __m256i sLow = _mm256_unpacklo_epi32(s16, s16);
                const __m256i sHigh = _mm256_unpackhi_epi32(s16, s16);
                low = shadeLanes(low, shades, sLow);
                high = shadeLanes(high, shades, sHigh);
            }
        }
        __m256i *to = reinterpret_cast<__m256i *>(out + x);
        const __m256i kept = _mm256_and_si256(_mm256_loadu_si256(to), fourth);
        _mm256_storeu_si256(to, _mm256_or_si256(kept, _mm256_packus_epi16(low, high)));
    }
    if (x < count)
        plainRow<Tinted, Shaded>(Tinted ? map + x : nullptr, colour, Shaded ? shadow + x : nullptr,
                                 weight, shadowColour, count - x, out + x);
}

// lerp8 of 16-bit channel lanes toward the shadow colour's with weight s
// (255 at most), where s > 0; the lanes unchanged where s = 0.
LUSTRA_AVX512 inline __m512i shadeLanes512(__m512i back, __m512i shade, __m512i s) {
    const __m512i mixed = _mm512_srli_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(back, _mm512_sub_epi16(_mm512_set1_epi16(255), s)),
                         _mm512_mullo_epi16(shade, s)),
        8);
    return _mm512_mask_mov_epi16(back, _mm512_cmpgt_epi16_mask(s, _mm512_setzero_si512()), mixed);
}

// The weights w = (W x weight) >> 8 of sixteen pixels (bytes W), each in the
// four 16-bit lanes of its pixel's channels as the byte unpacking orders
// them: low and high for the pixels' low and high unpacked halves, and w
// per pixel in 32-bit lanes. W x weight is at most 255 x 255, so the 16-bit
// product is exact.
struct SpreadWeights {
    __m512i w, low, high;
};
LUSTRA_AVX512 inline SpreadWeights spreadWeights(__m128i bytes, __m512i weight) {
    const __m512i w = _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_cvtepu8_epi32(bytes), weight), 8);
    const __m512i both = _mm512_or_si512(w, _mm512_slli_epi32(w, 16));
    return {w, _mm512_unpacklo_epi32(both, both), _mm512_unpackhi_epi32(both, both)};
}

// plainRowAvx2 with AVX-512, sixteen pixels a vector in two vectors of 32
// 16-bit lanes (the same lane order and exact 16-bit arithmetic); sixteen
// pixels whose shadow bytes are all 0 take no blend. The last count mod 16
// pixels take the same steps in masked lanes, reading and writing nothing
// past the span. plainVector takes the sixteen pixels from column x on, in
// `lanes` unless Full.
template <bool Tinted, bool Shaded, bool Full>
LUSTRA_AVX512 inline void plainVector(const uint32_t *map, __m512i colours, const uint8_t *shadow,
                                      __m512i weights, __m512i shades, int32_t x, __mmask16 lanes,
                                      uint32_t *out) {
    const __m512i zero = _mm512_setzero_si512();
    __m512i low = colours, high = colours;
    if constexpr (Tinted) {
        // (M x A) >> 8 per channel
        const __m512i m = load16<Full>(lanes, map + x);
        low = _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(m, zero), colours), 8);
        high = _mm512_srli_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(m, zero), colours), 8);
    }
    if constexpr (Shaded) {
        const __m128i bytes = load16Bytes<Full>(lanes, shadow + x);
        if (!_mm_testz_si128(bytes, bytes)) {
            const SpreadWeights s = spreadWeights(bytes, weights);
            low = shadeLanes512(low, shades, s.low);
            high = shadeLanes512(high, shades, s.high);
        }
    }
    const __m512i kept = _mm512_and_si512(load16<Full>(lanes, out + x),
                                          _mm512_set1_epi32(static_cast<int32_t>(kFourthByte)));
    store16<Full>(lanes, out + x, _mm512_or_si512(kept, _mm512_packus_epi16(low, high)));
}

template <bool Tinted, bool Shaded>
LUSTRA_AVX512 void plainRowAvx512(const uint32_t *__restrict map, uint32_t colour,
                                  const uint8_t *__restrict shadow, int32_t weight,
                                  uint32_t shadowColour, int32_t count, uint32_t *__restrict out) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i colours = _mm512_unpacklo_epi8(_mm512_set1_epi32(int32_t(colour)), zero);
    const __m512i shades = _mm512_unpacklo_epi8(_mm512_set1_epi32(int32_t(shadowColour)), zero);
    const __m512i weights = _mm512_set1_epi32(weight);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16)
        plainVector<Tinted, Shaded, true>(map, colours, shadow, weights, shades, x, 0, out);
    if (x < count)
        plainVector<Tinted, Shaded, false>(map, colours, shadow, weights, shades, x,
                                           firstLanes(count - x), out);
}
#endif

// The plain background over a row segment (see plainRow), through the
// variant the file runs.
template <bool Tinted, bool Shaded>
inline void plainBackground(const uint32_t *map, uint32_t colour, const uint8_t *shadow,
                            int32_t weight, uint32_t shadowColour, int32_t count, uint32_t *out) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512)
        return plainRowAvx512<Tinted, Shaded>(map, colour, shadow, weight, shadowColour, count,
                                              out);
    if (chosenVariant != CpuVariant::kBaseline)
        return plainRowAvx2<Tinted, Shaded>(map, colour, shadow, weight, shadowColour, count, out);
#endif
    plainRow<Tinted, Shaded>(map, colour, shadow, weight, shadowColour, count, out);
}

// Shadow along a row segment: weight s = (S x shadow weight) >> 8; where
// s > 0 the pixel blends toward the shadow colour with weight s.
LUSTRA_VECTOR_CLONES void shadowRow(const uint8_t *__restrict shadow, int32_t weight,
                                    uint32_t colour, int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t s = (shadow[x] * weight) >> 8;
        const uint32_t blended = blendPixel(out[x], colour, s);
        out[x] = s > 0 ? blended : out[x];
    }
}

// Spans shorter than this are shaded pixel by pixel rather than by a row
// loop, whose set-up would cost more than the pixels.
constexpr int32_t kShortSpan = 16;

// Fill F in mode M over columns [x0, x1) of the row, laid on the pixels as L
// says.
template <int F, int M, Lay L>
void fillSpan(const ShadingLookup &lookup, const FillRow &row, const uint8_t *coverage, int32_t x0,
              int32_t x1, uint32_t *out) {
    const FillColours &colours = lookup.fill[F].colours;
    const int32_t count = x1 - x0, y = row.y;
    if constexpr (M == 0 && L == Lay::Replace) {
        const uint32_t a = packRgb(colours.a[0], colours.a[1], colours.a[2]);
        if (row.map)
            plainBackground<true, false>(row.map + x0, a, nullptr, 0, 0, count, out + x0);
        else
            plainBackground<false, false>(nullptr, a, nullptr, 0, 0, count, out + x0);
    } else if constexpr (M == 1) {
        const uint32_t *lobe = lookup.fill[F].lobePairs;
        if (count < kShortSpan && chosenVariant != CpuVariant::kAvx512) {
            // A few pixels, as at the soft edge of a shape: one at a time
            // (AVX-512 takes them as one masked vector).
            for (int32_t x = x0; x < x1; ++x)
                out[x] = lobePixel<L>(lobe, row.slopeX ? row.slopeX[x] : 0,
                                      row.slopeY ? row.slopeY[x] : 0, lookup.lobeU[x],
                                      lookup.lobeV[y], row.map ? row.map[x] : 0x00FFFFFFu, colours,
                                      out[x], L == Lay::Blend ? coverage[x] : 255);
            return;
        }
        const int32_t *lobeU = lookup.lobeU + x0;
        const int32_t v = lookup.lobeV[y];
        const uint8_t *weights = L == Lay::Blend ? coverage + x0 : nullptr;
        if (row.map && row.slopeX)
            lobeSpan<true, true, L>(lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, row.map + x0,
                                    weights, colours, count, out + x0);
        else if (row.map)
            lobeSpan<true, false, L>(lobe, lobeU, v, nullptr, nullptr, row.map + x0, weights,
                                     colours, count, out + x0);
        else if (row.slopeX)
            lobeSpan<false, true, L>(lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, nullptr,
                                     weights, colours, count, out + x0);
        else
            lobeSpan<false, false, L>(lobe, lobeU, v, nullptr, nullptr, nullptr, weights, colours,
                                      count, out + x0);
    } else {
        for (int32_t x = x0; x < x1; ++x) {
            int32_t fill[3];
            fillColour<F, M>(lookup, x, y, row.slopeX ? row.slopeX[x] : 0,
                             row.slopeY ? row.slopeY[x] : 0, row.map ? row.map + x : nullptr, fill);
            const uint32_t colour = packRgb(fill[0], fill[1], fill[2]);
            out[x] = layFill<L>(out[x], colour, L == Lay::Blend ? coverage[x] : 255);
        }
    }
}

#ifdef LUSTRA_SHADING_INTRINSICS
// The light-lobe background replacing columns [x0, x1) of the row with the
// shadow laid over it in the same pass (AVX-512); `weights` holds the
// shadow bytes of those columns.
inline void shadedLobeSpan(const ShadingLookup &lookup, const FillRow &row,
                           const ShadowReach &shadow, const uint8_t *weights, int32_t x0,
                           int32_t x1, uint32_t *out) {
    const FillColours &colours = lookup.fill[1].colours;
    const uint32_t *lobe = lookup.fill[1].lobePairs;
    const int32_t *lobeU = lookup.lobeU + x0;
    const int32_t v = lookup.lobeV[row.y], count = x1 - x0;
    if (row.map && row.slopeX)
        lobeRowAvx512<true, true, Lay::Replace, true>(
            lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, row.map + x0, nullptr, colours, count,
            out + x0, weights, shadow.weight, shadow.colour);
    else if (row.map)
        lobeRowAvx512<true, false, Lay::Replace, true>(
            lobe, lobeU, v, nullptr, nullptr, row.map + x0, nullptr, colours, count, out + x0,
            weights, shadow.weight, shadow.colour);
    else if (row.slopeX)
        lobeRowAvx512<false, true, Lay::Replace, true>(
            lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, nullptr, nullptr, colours, count,
            out + x0, weights, shadow.weight, shadow.colour);
    else
        lobeRowAvx512<false, false, Lay::Replace, true>(lobe, lobeU, v, nullptr, nullptr, nullptr,
                                                        nullptr, colours, count, out + x0, weights,
                                                        shadow.weight, shadow.colour);
}
#endif

// The background fill of mode M replacing columns [x0, x1) of the row, with
// the shadow laid over it where it reaches; a plain background takes its
// shadow in the same pass.
template <int M>
void layBackground(const ShadingLookup &lookup, const FillRow &row, const ShadowReach &shadow,
                   int32_t x0, int32_t x1, uint32_t *out) {
    const int64_t reachFirst = shadow.first > x0 ? shadow.first : x0;
    const int64_t reachEnd = shadow.end < x1 ? shadow.end : x1;
    if (!shadow.row || reachFirst >= reachEnd)
        return fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, x0, x1, out);
    const int32_t first = int32_t(reachFirst), end = int32_t(reachEnd);
    const uint8_t *weights = shadow.row + shadow.offset + first;
    if constexpr (M == 0) {
        const FillColours &colours = lookup.fill[1].colours;
        const uint32_t a = packRgb(colours.a[0], colours.a[1], colours.a[2]);
        fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, x0, first, out);
        if (row.map)
            plainBackground<true, true>(row.map + first, a, weights, shadow.weight, shadow.colour,
                                        end - first, out + first);
        else
            plainBackground<false, true>(nullptr, a, weights, shadow.weight, shadow.colour,
                                         end - first, out + first);
        fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, end, x1, out);
    } else {
#ifdef LUSTRA_SHADING_INTRINSICS
        if constexpr (M == 1)
            if (chosenVariant == CpuVariant::kAvx512) {
                // The light lobe takes the shadow in the same pass.
                fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, x0, first, out);
                shadedLobeSpan(lookup, row, shadow, weights, first, end, out);
                fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, end, x1, out);
                return;
            }
#endif
        fillSpan<1, M, Lay::Replace>(lookup, row, nullptr, x0, x1, out);
        shadowRow(weights, shadow.weight, shadow.colour, end - first, out + first);
    }
}

// Glow along a row segment: weight g = (G x glow weight) >> 8; where g > 0
// the pixel blends toward the glow ramp's colour at g with weight g.
LUSTRA_VECTOR_CLONES void glowRow(const uint8_t *__restrict glow, int32_t weight,
                                  const uint32_t *__restrict ramp, int32_t count,
                                  uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t g = (glow[x] * weight) >> 8;
        const uint32_t blended = blendPixel(out[x], ramp[g], g);
        out[x] = g > 0 ? blended : out[x];
    }
}

#ifdef LUSTRA_SHADING_INTRINSICS
// glowRow eight pixels a vector: the pixels' channels in 16-bit lanes as in
// plainRowAvx2, the ramp's colours gathered and spread alike, each blended
// by shadeLanes (unchanged where g = 0); every pixel's fourth byte is taken
// back from before. Eight pixels whose glow bytes are all 0 are left as
// they are; the last count mod 8 pixels go through glowRow.
__attribute__((target("avx2"))) void glowRowAvx2(const uint8_t *__restrict glow, int32_t weight,
                                                 const uint32_t *__restrict ramp, int32_t count,
                                                 uint32_t *__restrict out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(kFourthByte));
    const __m256i weights = _mm256_set1_epi32(weight);
    const int *table = reinterpret_cast<const int *>(ramp);
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        uint64_t eight;
        std::memcpy(&eight, glow + x, sizeof eight);
        if (eight == 0) continue;
        // g = (G x weight) >> 8 per pixel, spread over its four lanes.
        const __m256i g32 = _mm256_srli_epi32(
            _mm256_mullo_epi32(
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(glow + x))),
                weights),
            8);
        const __m256i g16 = _mm256_or_si256(g32, _mm256_slli_epi32(g32, 16));
        const __m256i colours = _mm256_i32gather_epi32(table, g32, 4);
        __m256i *to = reinterpret_cast<__m256i *>(out + x);
        const __m256i pixels = _mm256_loadu_si256(to);
        const __m256i low =
            shadeLanes(_mm256_unpacklo_epi8(pixels, zero), _mm256_unpacklo_epi8(colours, zero),
                       _mm256_unpacklo_epi32(g16, g16));
        const __m256i high =
            shadeLanes(_mm256_unpackhi_epi8(pixels, zero), _mm256_unpackhi_epi8(colours, zero),
                       _mm256_unpackhi_epi32(g16, g16));
        const __m256i kept = _mm256_and_si256(pixels, fourth);
        _mm256_storeu_si256(
            to, _mm256_or_si256(kept, _mm256_andnot_si256(fourth, _mm256_packus_epi16(low, high))));
    }
    if (x < count) glowRow(glow + x, weight, ramp, count - x, out + x);
}

// glowRowAvx2 with AVX-512, sixteen pixels a vector; sixteen pixels whose
// glow bytes are all 0 are left as they are, and the last count mod 16
// pixels take the same steps in masked lanes (their glow bytes read as 0,
// so their gathers read the ramp's first entry). glowVector takes the
// sixteen pixels from column x on, in `lanes` unless Full.
template <bool Full>
LUSTRA_AVX512 inline void glowVector(const uint8_t *glow, __m512i weights, const uint32_t *ramp,
                                     int32_t x, __mmask16 lanes, uint32_t *out) {
    const __m128i bytes = load16Bytes<Full>(lanes, glow + x);
    if (_mm_testz_si128(bytes, bytes)) return;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i fourth = _mm512_set1_epi32(static_cast<int32_t>(kFourthByte));
    const SpreadWeights g = spreadWeights(bytes, weights);
    const __m512i colours = _mm512_i32gather_epi32(g.w, ramp, 4);
    const __m512i pixels = load16<Full>(lanes, out + x);
    const __m512i low = shadeLanes512(_mm512_unpacklo_epi8(pixels, zero),
                                      _mm512_unpacklo_epi8(colours, zero), g.low);
    const __m512i high = shadeLanes512(_mm512_unpackhi_epi8(pixels, zero),
                                       _mm512_unpackhi_epi8(colours, zero), g.high);
    const __m512i kept = _mm512_and_si512(pixels, fourth);
    store16<Full>(
        lanes, out + x,
        _mm512_or_si512(kept, _mm512_andnot_si512(fourth, _mm512_packus_epi16(low, high))));
}

LUSTRA_AVX512 void glowRowAvx512(const uint8_t *__restrict glow, int32_t weight,
                                 const uint32_t *__restrict ramp, int32_t count,
                                 uint32_t *__restrict out) {
    const __m512i weights = _mm512_set1_epi32(weight);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) glowVector<true>(glow, weights, ramp, x, 0, out);
    if (x < count) glowVector<false>(glow, weights, ramp, x, firstLanes(count - x), out);
}
#endif

// The glow over a row segment (see glowRow), through the variant the file
// runs.
inline void glowSpan(const uint8_t *glow, int32_t weight, const uint32_t *ramp, int32_t count,
                     uint32_t *out) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512) return glowRowAvx512(glow, weight, ramp, count, out);
    if (chosenVariant != CpuVariant::kBaseline) return glowRowAvx2(glow, weight, ramp, count, out);
#endif
    glowRow(glow, weight, ramp, count, out);
}

// What a coverage scan looks for.
enum class Seek { Full, NotFull, Covered, Uncovered };

#ifdef LUSTRA_SHADING_INTRINSICS
// The bytes of 64 coverage values that a scan for S stops at.
template <Seek S> LUSTRA_AVX512 inline __mmask64 seekMatches(__m512i bytes) {
    const __m512i full = _mm512_set1_epi8(char(0xFF));
    if constexpr (S == Seek::Full) return _mm512_cmpeq_epi8_mask(bytes, full);
    if constexpr (S == Seek::NotFull) return _mm512_cmpneq_epi8_mask(bytes, full);
    if constexpr (S == Seek::Covered) return _mm512_test_epi8_mask(bytes, bytes);
    return _mm512_testn_epi8_mask(bytes, bytes);
}

// A coverage scan (see nextFull) with AVX-512, 64 bytes a step, the last
// count mod 64 in masked lanes (which read nothing past count and never
// match).
template <Seek S>
LUSTRA_AVX512 int32_t seekAvx512(const uint8_t *coverage, int32_t x, int32_t count) {
    for (; x + 64 <= count; x += 64) {
        const __mmask64 found = seekMatches<S>(_mm512_loadu_si512(coverage + x));
        if (found) return x + int32_t(__builtin_ctzll(found));
    }
    if (x < count) {
        const __mmask64 lanes = (uint64_t(1) << (count - x)) - 1;
        const __mmask64 found =
            seekMatches<S>(_mm512_maskz_loadu_epi8(lanes, coverage + x)) & lanes;
        if (found) return x + int32_t(__builtin_ctzll(found));
    }
    return count;
}
#endif

// Coverage scans: the first column from x on (count when none) whose
// coverage is full (255), not full, non-zero, or zero. The first three
// step over eight bytes at a time while none of them can match; on AVX-512
// all four take 64 bytes a step once the next eight bytes hold no match.
inline int32_t nextFull(const uint8_t *coverage, int32_t x, int32_t count) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512 && x + 8 <= count &&
        !anyZeroByte(~eightBytes(coverage + x)))
        return seekAvx512<Seek::Full>(coverage, x + 8, count);
#endif
    while (x + 8 <= count && !anyZeroByte(~eightBytes(coverage + x))) x += 8;
    while (x < count && coverage[x] != 255) ++x;
    return x;
}
inline int32_t nextNotFull(const uint8_t *coverage, int32_t x, int32_t count) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512 && x + 8 <= count &&
        eightBytes(coverage + x) == ~uint64_t(0))
        return seekAvx512<Seek::NotFull>(coverage, x + 8, count);
#endif
    while (x + 8 <= count && eightBytes(coverage + x) == ~uint64_t(0)) x += 8;
    while (x < count && coverage[x] == 255) ++x;
    return x;
}
inline int32_t nextCovered(const uint8_t *coverage, int32_t x, int32_t count) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512 && x + 8 <= count && eightBytes(coverage + x) == 0)
        return seekAvx512<Seek::Covered>(coverage, x + 8, count);
#endif
    while (x + 8 <= count && eightBytes(coverage + x) == 0) x += 8;
    while (x < count && coverage[x] == 0) ++x;
    return x;
}
inline int32_t nextUncovered(const uint8_t *coverage, int32_t x, int32_t count) {
#ifdef LUSTRA_SHADING_INTRINSICS
    if (chosenVariant == CpuVariant::kAvx512 && x + 8 <= count && allNonZero<8>(coverage + x))
        return seekAvx512<Seek::Uncovered>(coverage, x + 8, count);
#endif
    while (x < count && coverage[x] != 0) ++x;
    return x;
}

// One frame row for object fill mode M1 and background fill mode M2 (see
// ShadeRow): every span of the row inlined here, so that the many short
// spans at the soft edges of a shape cost no call.
template <int M1, int M2>
void shadeRowOf(const ShadingLookup &lookup, const RowInputs &inputs, int32_t x0, int32_t x1,
                uint32_t *out) {
    const RowInputs row = inputs;
    const uint8_t *coverage = row.coverage;
    for (int32_t x = x0; x < x1;) {
        // Below full coverage: background and shadow, glow, and the
        // object blended with the coverage where there is some.
        const int32_t open = row.coverageValid ? nextFull(coverage, x, x1) : x1;
        if (x < open) {
            layBackground<M2>(lookup, row.background, row.shadow, x, open, out);
            if (row.glow)
                glowSpan(row.glow + x, row.glowWeight, lookup.glowRamp, open - x, out + x);
            for (int32_t c = row.coverageValid ? nextCovered(coverage, x, open) : open; c < open;) {
                const int32_t end = nextUncovered(coverage, c, open);
                fillSpan<0, M1, Lay::Blend>(lookup, row.object, coverage, c, end, out);
                c = nextCovered(coverage, end, open);
            }
        }
        // Full coverage: the object alone.
        x = open < x1 ? nextNotFull(coverage, open, x1) : x1;
        fillSpan<0, M1, Lay::Opaque>(lookup, row.object, coverage, open, x, out);
    }
}

template <int M1> ShadeRow shadeRowWithObjectMode(int backgroundMode) {
    switch (backgroundMode) {
    case 0:
        return &shadeRowOf<M1, 0>;
    case 1:
        return &shadeRowOf<M1, 1>;
    case 2:
        return &shadeRowOf<M1, 2>;
    default:
        return &shadeRowOf<M1, 3>;
    }
}

} // namespace

CpuVariant variant() {
    return chosenVariant;
}

CpuVariant selectVariant(CpuVariant wanted) {
    const CpuVariant best = detectedCpuVariant();
    const CpuVariant v = wanted < best ? wanted : best;
#ifdef LUSTRA_SHADING_INTRINSICS
    chosenVariant = v;
#else
    (void)v;
    chosenVariant = CpuVariant::kBaseline;
#endif
    return chosenVariant;
}

ShadeRow shadeRow(int objectMode, int backgroundMode) {
    switch (objectMode) {
    case 0:
        return shadeRowWithObjectMode<0>(backgroundMode);
    case 1:
        return shadeRowWithObjectMode<1>(backgroundMode);
    case 2:
        return shadeRowWithObjectMode<2>(backgroundMode);
    default:
        return shadeRowWithObjectMode<3>(backgroundMode);
    }
}

} // namespace lustra::shadingKernels
