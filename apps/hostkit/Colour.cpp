// See Colour.h.
#include "Colour.h"

namespace lustra::cli {

// The conversions are those of lustrafex/host_pixels.h, the module's own;
// the row loops below inline the same functions.
uint32_t rgbToHost(uint8_t r, uint8_t g, uint8_t b, uint8_t alpha) {
    return hostPixelFromRgb(r, g, b, alpha);
}

void hostToRgb(uint32_t pixel, uint8_t rgb[3]) {
    hostPixelToRgb(pixel, rgb);
}

namespace {

// The row bodies, inlined into one function per instruction set, each pixel
// through the per-pixel conversions of lustrafex/host_pixels.h (which
// vectorise once inlined).
#define LUSTRA_COLOUR_ROW inline __attribute__((always_inline))

// `opaque` is 255 to make every key byte 255, else 0 to keep the alpha.
LUSTRA_COLOUR_ROW void rgbaRowBody(const uint8_t *__restrict rgba, int count, uint32_t opaque,
                                   uint32_t *__restrict host) {
    for (int x = 0; x < count; ++x) {
        const uint8_t *in = rgba + 4 * size_t(x);
        host[x] = hostPixelFromRgb(in[0], in[1], in[2], static_cast<uint8_t>(in[3] | opaque));
    }
}

template <int Bytes>
LUSTRA_COLOUR_ROW void hostRowBody(const uint32_t *__restrict host, int count,
                                   uint8_t *__restrict out) {
    for (int x = 0; x < count; ++x) {
        const uint32_t pixel = host[x];
        uint8_t *to = out + size_t(Bytes) * size_t(x);
        hostPixelToRgb(pixel, to);
        if (Bytes == 4) to[3] = static_cast<uint8_t>(pixel & 0xFF);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
} // namespace
} // namespace lustra::cli
#include <immintrin.h>
namespace lustra::cli {
namespace {

// Eight pixels at a time with 256-bit vectors: the same single-precision
// operations in the same order as the per-pixel functions (products and
// sums rounded one by one, no fused multiply-add), truncation toward zero
// and clamping, so every byte is theirs. The rest of a row goes through
// the per-pixel bodies.
#define LUSTRA_COLOUR_VECTOR inline __attribute__((always_inline, target("avx2")))

// The 8-bit field of each word at `shift`, as float.
#define LUSTRA_FIELD(words, shift)                                                                 \
    _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(words, shift), _mm256_set1_epi32(0xFF)))

// Truncated toward zero, then clamped to 0..255.
LUSTRA_COLOUR_VECTOR __m256i clamp(__m256 v) {
    return _mm256_min_epi32(_mm256_max_epi32(_mm256_cvttps_epi32(v), _mm256_setzero_si256()),
                            _mm256_set1_epi32(255));
}

// Eight host pixels to RGBA words (R in the low byte, the key byte on top).
LUSTRA_COLOUR_VECTOR __m256i hostToRgbaWords(__m256i pixels) {
    const __m256 y = _mm256_cvtepi32_ps(_mm256_srli_epi32(pixels, 24));
    const __m256 offset = _mm256_set1_ps(128.0f);
    const __m256 cb = _mm256_sub_ps(LUSTRA_FIELD(pixels, 16), offset);
    const __m256 cr = _mm256_sub_ps(LUSTRA_FIELD(pixels, 8), offset);
    const __m256 r = _mm256_add_ps(y, _mm256_mul_ps(_mm256_set1_ps(1.402f), cr));
    const __m256 g = _mm256_sub_ps(_mm256_sub_ps(y, _mm256_mul_ps(_mm256_set1_ps(0.344136f), cb)),
                                   _mm256_mul_ps(_mm256_set1_ps(0.714136f), cr));
    const __m256 b = _mm256_add_ps(y, _mm256_mul_ps(_mm256_set1_ps(1.772f), cb));
    return _mm256_or_si256(
        _mm256_or_si256(clamp(r), _mm256_slli_epi32(clamp(g), 8)),
        _mm256_or_si256(_mm256_slli_epi32(clamp(b), 16), _mm256_slli_epi32(pixels, 24)));
}

// Eight RGBA words (R in the low byte) to host pixels; `opaque` ORed into
// the alpha byte.
LUSTRA_COLOUR_VECTOR __m256i rgbaWordsToHost(__m256i words, __m256i opaque) {
    const __m256 r = LUSTRA_FIELD(words, 0), g = LUSTRA_FIELD(words, 8),
                 b = LUSTRA_FIELD(words, 16);
    const __m256 y = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(0.299f), r),
                                                 _mm256_mul_ps(_mm256_set1_ps(0.587f), g)),
                                   _mm256_mul_ps(_mm256_set1_ps(0.114f), b));
    const __m256 offset = _mm256_set1_ps(128.0f);
    const __m256 cb =
        _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(0.5f), b),
                                    _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(0.168736f), r),
                                                  _mm256_mul_ps(_mm256_set1_ps(0.331264f), g))),
                      offset);
    const __m256 cr =
        _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(_mm256_mul_ps(_mm256_set1_ps(0.5f), r),
                                                  _mm256_mul_ps(_mm256_set1_ps(0.418688f), g)),
                                    _mm256_mul_ps(_mm256_set1_ps(0.081312f), b)),
                      offset);
    const __m256i alpha = _mm256_or_si256(_mm256_srli_epi32(words, 24), opaque);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(_mm256_cvttps_epi32(y), 24),
                                           _mm256_slli_epi32(_mm256_cvttps_epi32(cb), 16)),
                           _mm256_or_si256(_mm256_slli_epi32(_mm256_cvttps_epi32(cr), 8), alpha));
}
#undef LUSTRA_FIELD

LUSTRA_COLOUR_VECTOR void rgbaRowVector(const uint8_t *__restrict rgba, int count, uint32_t opaque,
                                        uint32_t *__restrict host) {
    const __m256i alpha = _mm256_set1_epi32(int(opaque));
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(rgba + 4 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(host + x), rgbaWordsToHost(words, alpha));
    }
    rgbaRowBody(rgba + 4 * size_t(x), count - x, opaque, host + x);
}

LUSTRA_COLOUR_VECTOR void hostRowVector4(const uint32_t *__restrict host, int count,
                                         uint8_t *__restrict rgba) {
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(host + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(rgba + 4 * x), hostToRgbaWords(pixels));
    }
    hostRowBody<4>(host + x, count - x, rgba + 4 * size_t(x));
}

LUSTRA_COLOUR_VECTOR void hostRowVector3(const uint32_t *__restrict host, int count,
                                         uint8_t *__restrict rgb) {
    // Each 128-bit half of four RGBA words packed to 12 RGB bytes (the
    // last four bytes zero); a half is stored as 16 bytes, the four beyond
    // its pixels overwritten by the next half, so the loop stops while 16
    // bytes still fit in the row.
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 10 <= count; x += 8) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(host + x));
        const __m256i packed = _mm256_shuffle_epi8(hostToRgbaWords(pixels), pack);
        uint8_t *to = rgb + 3 * size_t(x);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm256_castsi256_si128(packed));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 12), _mm256_extracti128_si256(packed, 1));
    }
    hostRowBody<3>(host + x, count - x, rgb + 3 * size_t(x));
}

// Sixteen pixels at a time with 512-bit vectors: the operations of the
// 256-bit loops above, lane for lane. The end of a row goes through the
// same vectors with masked loads and stores, which touch no byte beyond
// the row's pixels.
// The unmasked forms of these operations leave GCC 12 warning about the
// undefined vector they start from; with every lane selected the masked
// forms are the same instructions.
constexpr __mmask16 kAllLanes = 0xFFFF;

#define LUSTRA_COLOUR_VECTOR512                                                                    \
    inline __attribute__((always_inline, target("avx512f,avx512bw,avx512vl")))

#define LUSTRA_FIELD512(words, shift)                                                              \
    _mm512_maskz_cvtepi32_ps(kAllLanes,                                                            \
                             _mm512_and_si512(_mm512_maskz_srli_epi32(kAllLanes, words, shift),    \
                                              _mm512_set1_epi32(0xFF)))

LUSTRA_COLOUR_VECTOR512 __m512i clamp512(__m512 v) {
    return _mm512_maskz_min_epi32(kAllLanes,
                                  _mm512_maskz_max_epi32(kAllLanes,
                                                         _mm512_maskz_cvttps_epi32(kAllLanes, v),
                                                         _mm512_setzero_si512()),
                                  _mm512_set1_epi32(255));
}

LUSTRA_COLOUR_VECTOR512 __m512i hostToRgbaWords512(__m512i pixels) {
    const __m512 y =
        _mm512_maskz_cvtepi32_ps(kAllLanes, _mm512_maskz_srli_epi32(kAllLanes, pixels, 24));
    const __m512 offset = _mm512_set1_ps(128.0f);
    const __m512 cb = _mm512_sub_ps(LUSTRA_FIELD512(pixels, 16), offset);
    const __m512 cr = _mm512_sub_ps(LUSTRA_FIELD512(pixels, 8), offset);
    const __m512 r = _mm512_add_ps(y, _mm512_mul_ps(_mm512_set1_ps(1.402f), cr));
    const __m512 g = _mm512_sub_ps(_mm512_sub_ps(y, _mm512_mul_ps(_mm512_set1_ps(0.344136f), cb)),
                                   _mm512_mul_ps(_mm512_set1_ps(0.714136f), cr));
    const __m512 b = _mm512_add_ps(y, _mm512_mul_ps(_mm512_set1_ps(1.772f), cb));
    return _mm512_or_si512(
        _mm512_or_si512(clamp512(r), _mm512_maskz_slli_epi32(kAllLanes, clamp512(g), 8)),
        _mm512_or_si512(_mm512_maskz_slli_epi32(kAllLanes, clamp512(b), 16),
                        _mm512_maskz_slli_epi32(kAllLanes, pixels, 24)));
}

LUSTRA_COLOUR_VECTOR512 __m512i rgbaWordsToHost512(__m512i words, __m512i opaque) {
    const __m512 r = LUSTRA_FIELD512(words, 0), g = LUSTRA_FIELD512(words, 8),
                 b = LUSTRA_FIELD512(words, 16);
    const __m512 y = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(0.299f), r),
                                                 _mm512_mul_ps(_mm512_set1_ps(0.587f), g)),
                                   _mm512_mul_ps(_mm512_set1_ps(0.114f), b));
    const __m512 offset = _mm512_set1_ps(128.0f);
    const __m512 cb =
        _mm512_add_ps(_mm512_sub_ps(_mm512_mul_ps(_mm512_set1_ps(0.5f), b),
                                    _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(0.168736f), r),
                                                  _mm512_mul_ps(_mm512_set1_ps(0.331264f), g))),
                      offset);
    const __m512 cr =
        _mm512_add_ps(_mm512_sub_ps(_mm512_sub_ps(_mm512_mul_ps(_mm512_set1_ps(0.5f), r),
                                                  _mm512_mul_ps(_mm512_set1_ps(0.418688f), g)),
                                    _mm512_mul_ps(_mm512_set1_ps(0.081312f), b)),
                      offset);
    const __m512i alpha = _mm512_or_si512(_mm512_maskz_srli_epi32(kAllLanes, words, 24), opaque);
    return _mm512_or_si512(
        _mm512_or_si512(
            _mm512_maskz_slli_epi32(kAllLanes, _mm512_maskz_cvttps_epi32(kAllLanes, y), 24),
            _mm512_maskz_slli_epi32(kAllLanes, _mm512_maskz_cvttps_epi32(kAllLanes, cb), 16)),
        _mm512_or_si512(
            _mm512_maskz_slli_epi32(kAllLanes, _mm512_maskz_cvttps_epi32(kAllLanes, cr), 8),
            alpha));
}
#undef LUSTRA_FIELD512

// The first `count` (0..16) of sixteen lanes.
LUSTRA_COLOUR_VECTOR512 __mmask16 firstLanes(int count) {
    return static_cast<__mmask16>((1u << count) - 1u);
}

LUSTRA_COLOUR_VECTOR512 void rgbaRowVector512(const uint8_t *__restrict rgba, int count,
                                              uint32_t opaque, uint32_t *__restrict host) {
    const __m512i alpha = _mm512_set1_epi32(int(opaque));
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m512i words = _mm512_loadu_si512(rgba + 4 * size_t(x));
        _mm512_storeu_si512(host + x, rgbaWordsToHost512(words, alpha));
    }
    if (x < count) {
        const __mmask16 lanes = firstLanes(count - x);
        const __m512i words = _mm512_maskz_loadu_epi32(lanes, rgba + 4 * size_t(x));
        _mm512_mask_storeu_epi32(host + x, lanes, rgbaWordsToHost512(words, alpha));
    }
}

LUSTRA_COLOUR_VECTOR512 void hostRowVector512x4(const uint32_t *__restrict host, int count,
                                                uint8_t *__restrict rgba) {
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m512i pixels = _mm512_loadu_si512(host + x);
        _mm512_storeu_si512(rgba + 4 * size_t(x), hostToRgbaWords512(pixels));
    }
    if (x < count) {
        const __mmask16 lanes = firstLanes(count - x);
        const __m512i pixels = _mm512_maskz_loadu_epi32(lanes, host + x);
        _mm512_mask_storeu_epi32(rgba + 4 * size_t(x), lanes, hostToRgbaWords512(pixels));
    }
}

// Sixteen host pixels to 48 RGB bytes in the low bytes of the vector.
LUSTRA_COLOUR_VECTOR512 __m512i packRgb512(__m512i words, __m512i pack, __m512i gather) {
    return _mm512_maskz_permutexvar_epi32(kAllLanes, gather,
                                          _mm512_shuffle_epi8(hostToRgbaWords512(words), pack));
}

LUSTRA_COLOUR_VECTOR512 void hostRowVector512x3(const uint32_t *__restrict host, int count,
                                                uint8_t *__restrict rgb) {
    // Each 128-bit lane of four RGBA words packed to 12 RGB bytes, then the
    // four 12-byte groups moved together: 48 bytes for 16 pixels. While 64
    // bytes fit in the row they are stored whole (the last 16 overwritten
    // by the next pixels); the rest through a byte mask, 3 bytes a pixel.
    const __m512i pack = _mm512_maskz_broadcast_i32x4(
        kAllLanes, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    const __m512i gather = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    int x = 0;
    for (; 3 * (x + 16) + 16 <= 3 * count; x += 16)
        _mm512_storeu_si512(rgb + 3 * size_t(x),
                            packRgb512(_mm512_loadu_si512(host + x), pack, gather));
    for (; x < count; x += 16) {
        const int pixels = count - x < 16 ? count - x : 16;
        const __m512i words = _mm512_maskz_loadu_epi32(firstLanes(pixels), host + x);
        const __mmask64 bytes = (uint64_t(1) << (3 * pixels)) - 1;
        _mm512_mask_storeu_epi8(rgb + 3 * size_t(x), bytes, packRgb512(words, pack, gather));
    }
}

#define LUSTRA_COLOUR_VARIANTS 1
// The AVX-512 rows: the 512-bit loops above.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
rgbaToHostAvx512(const uint8_t *rgba, int count, bool useAlpha, uint32_t *host) {
    rgbaRowVector512(rgba, count, useAlpha ? 0u : 255u, host);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) void
hostToRgbaAvx512(const uint32_t *host, int count, uint8_t *rgba) {
    hostRowVector512x4(host, count, rgba);
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) void hostToRgbAvx512(const uint32_t *host,
                                                                          int count, uint8_t *rgb) {
    hostRowVector512x3(host, count, rgb);
}
// The AVX2 rows: the vector loops above.
__attribute__((target("avx2"))) void rgbaToHostAvx2(const uint8_t *rgba, int count, bool useAlpha,
                                                    uint32_t *host) {
    rgbaRowVector(rgba, count, useAlpha ? 0u : 255u, host);
}
__attribute__((target("avx2"))) void hostToRgbaAvx2(const uint32_t *host, int count,
                                                    uint8_t *rgba) {
    hostRowVector4(host, count, rgba);
}
__attribute__((target("avx2"))) void hostToRgbAvx2(const uint32_t *host, int count, uint8_t *rgb) {
    hostRowVector3(host, count, rgb);
}
#endif

void rgbaToHostBaseline(const uint8_t *rgba, int count, bool useAlpha, uint32_t *host) {
    rgbaRowBody(rgba, count, useAlpha ? 0u : 255u, host);
}
void hostToRgbaBaseline(const uint32_t *host, int count, uint8_t *rgba) {
    hostRowBody<4>(host, count, rgba);
}
void hostToRgbBaseline(const uint32_t *host, int count, uint8_t *rgb) {
    hostRowBody<3>(host, count, rgb);
}

const ColourRows kBaseline{"baseline", rgbaToHostBaseline, hostToRgbaBaseline, hostToRgbBaseline};
#ifdef LUSTRA_COLOUR_VARIANTS
const ColourRows kAvx2{"avx2", rgbaToHostAvx2, hostToRgbaAvx2, hostToRgbAvx2};
const ColourRows kAvx512{"avx512", rgbaToHostAvx512, hostToRgbaAvx512, hostToRgbAvx512};
#endif

} // namespace

std::vector<const ColourRows *> colourRowVariants() {
    std::vector<const ColourRows *> variants;
#ifdef LUSTRA_COLOUR_VARIANTS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        variants.push_back(&kAvx512);
    if (__builtin_cpu_supports("avx2")) variants.push_back(&kAvx2);
#endif
    variants.push_back(&kBaseline);
    return variants;
}

const ColourRows &colourRows() {
    static const ColourRows *const chosen = colourRowVariants().front();
    return *chosen;
}

void rgbaToHostFrame(const uint8_t *rgba, int stride, bool useAlpha, HostFrame &frame) {
    const ColourRows &rows = colourRows();
    for (int y = 0; y < frame.height; ++y)
        rows.rgbaToHost(rgba + size_t(y) * size_t(stride), frame.width, useAlpha, frame.row(y));
}

void hostFrameToRgba(const HostFrame &frame, uint8_t *rgba, int stride) {
    const ColourRows &rows = colourRows();
    for (int y = 0; y < frame.height; ++y)
        rows.hostToRgba(frame.row(y), frame.width, rgba + size_t(y) * size_t(stride));
}

void hostFrameToRgb(const HostFrame &frame, uint8_t *rgb, int stride) {
    const ColourRows &rows = colourRows();
    for (int y = 0; y < frame.height; ++y)
        rows.hostToRgb(frame.row(y), frame.width, rgb + size_t(y) * size_t(stride));
}

} // namespace lustra::cli
