// Row kernels of the frame render driver (see HostPixelKernels.h): written
// as plain loops over whole rows so that each variant vectorises.
#include "driver/kernels/HostPixelKernels.h"

#include "engine/Blend.h"

#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define LUSTRA_DRIVER_WIDE 1
#include <immintrin.h>
// The AVX-512 intrinsics start their unmasked results from an undefined
// vector, which this compiler then reports as maybe uninitialised once
// inlined; every lane of those results is written.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lustra::driverKernels {

namespace {

#ifdef LUSTRA_DRIVER_WIDE
bool processorHasWide() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
}
#else
bool processorHasWide() {
    return false;
}
#endif

bool wideKernels = processorHasWide();

LUSTRA_VECTOR_CLONES void hostToRgbPortable(const uint32_t *__restrict host,
                                            uint32_t *__restrict rgb, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = host[i];
        const float y = static_cast<float>(pixel >> 24);
        const float cb = static_cast<float>(static_cast<int32_t>((pixel >> 16) & 0xFF) - 128);
        const float cr = static_cast<float>(static_cast<int32_t>((pixel >> 8) & 0xFF) - 128);
        int32_t r = static_cast<int32_t>(y + 1.402f * cr);
        int32_t g = static_cast<int32_t>(y - 0.344136f * cb - 0.714136f * cr);
        int32_t b = static_cast<int32_t>(y + 1.772f * cb);
        r = r < 0 ? 0 : (r > 255 ? 255 : r);
        g = g < 0 ? 0 : (g > 255 ? 255 : g);
        b = b < 0 ? 0 : (b > 255 ? 255 : b);
        rgb[i] = (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
    }
}

LUSTRA_VECTOR_CLONES uint32_t maskRowPortable(const uint32_t *__restrict pixels, int32_t count,
                                              uint32_t flip, uint8_t *__restrict out) {
    uint32_t any = 0;
    for (int32_t c = 0; c < count; ++c) {
        const uint32_t v = maskValue(pixels[c] >> 24);
        any |= v;
        out[c] = static_cast<uint8_t>(v ^ flip);
    }
    return any;
}

// The body of the conversion; `alpha` and `destination` either are the same
// row or do not overlap, so that each variant keeps its own aliasing promise.
inline void convertRun(const uint32_t *__restrict rgb, const uint32_t *alpha, uint32_t *destination,
                       size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float b = static_cast<float>(rgb[i] & 0xFF);
        const float g = static_cast<float>((rgb[i] >> 8) & 0xFF);
        const float r = static_cast<float>((rgb[i] >> 16) & 0xFF);
        const float y = 0.299f * r + 0.587f * g + 0.114f * b;
        const float cb = 0.5f * b - (0.168736f * r + 0.331264f * g) + 128.0f;
        const float cr = 0.5f * r - 0.418688f * g - 0.081312f * b + 128.0f;
        destination[i] = (uint32_t(static_cast<int32_t>(y)) << 24) |
                         (uint32_t(static_cast<int32_t>(cb)) << 16) |
                         (uint32_t(static_cast<int32_t>(cr)) << 8) | (alpha[i] & 0xFF);
    }
}

LUSTRA_VECTOR_CLONES void convertInPlace(const uint32_t *__restrict rgb,
                                         uint32_t *__restrict destination, size_t count) {
    convertRun(rgb, destination, destination, count);
}

LUSTRA_VECTOR_CLONES void convertApart(const uint32_t *__restrict rgb,
                                       const uint32_t *__restrict alpha,
                                       uint32_t *__restrict destination, size_t count) {
    convertRun(rgb, alpha, destination, count);
}

#ifdef LUSTRA_DRIVER_WIDE
#define LUSTRA_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl")))

// The lanes of the 16 pixels from `i` that lie within `count`.
LUSTRA_WIDE_TARGET inline __mmask16 laneMask(size_t i, size_t count) {
    const size_t left = count - i;
    return left >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << left) - 1);
}

// maskValue 16 pixels at a time: (a - 48) x 320 / 208 is (a - 48) x 20 / 13,
// and for (a - 48) x 20 <= 4140 the division by 13 is (x x 5042) >> 16
// exactly. Lanes past the row load as 0 and add nothing to the OR.
LUSTRA_WIDE_TARGET uint32_t maskRowWide(const uint32_t *pixels, int32_t count, uint32_t flip,
                                        uint8_t *out) {
    const __m512i k48 = _mm512_set1_epi32(48), k20 = _mm512_set1_epi32(20);
    const __m512i kThirteenth = _mm512_set1_epi32(5042), k255 = _mm512_set1_epi32(255);
    const __m512i flips = _mm512_set1_epi32(static_cast<int32_t>(flip));
    const size_t n = count > 0 ? size_t(count) : 0;
    __m512i any = _mm512_setzero_si512();
    for (size_t i = 0; i < n; i += 16) {
        const __mmask16 lanes = laneMask(i, n);
        const __m512i luminance =
            _mm512_srli_epi32(_mm512_maskz_loadu_epi32(lanes, pixels + i), 24);
        const __m512i above = _mm512_subs_epu16(luminance, k48);
        const __m512i v = _mm512_min_epi32(
            _mm512_srli_epi32(_mm512_mullo_epi32(_mm512_mullo_epi32(above, k20), kThirteenth), 16),
            k255);
        any = _mm512_or_si512(any, v);
        const __m512i flipped = _mm512_xor_si512(v, flips);
        // Whole vectors store unmasked, which some processors do much faster.
        if (lanes == 0xFFFF)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm512_cvtepi32_epi8(flipped));
        else
            _mm512_mask_cvtepi32_storeu_epi8(out + i, lanes, flipped);
    }
    alignas(64) uint32_t anyLanes[16];
    _mm512_store_si512(anyLanes, any);
    uint32_t result = 0;
    for (uint32_t lane : anyLanes) result |= lane;
    return result;
}

#undef LUSTRA_WIDE_TARGET
#endif

} // namespace

bool selectWideKernels(bool wanted) {
    wideKernels = wanted && processorHasWide();
    return wideKernels;
}

bool wideKernelsInUse() {
    return wideKernels;
}

void hostToRgbPixels(const uint32_t *__restrict host, uint32_t *__restrict rgb, size_t count) {
    hostToRgbPortable(host, rgb, count);
}

uint32_t maskRow(const uint32_t *__restrict pixels, int32_t count, uint32_t flip,
                 uint8_t *__restrict out) {
#ifdef LUSTRA_DRIVER_WIDE
    if (wideKernels) return maskRowWide(pixels, count, flip, out);
#endif
    return maskRowPortable(pixels, count, flip, out);
}

void rgbToHostPixels(const uint32_t *__restrict rgb, const uint32_t *alpha, uint32_t *destination,
                     size_t count) {
    if (alpha == destination)
        convertInPlace(rgb, destination, count);
    else
        convertApart(rgb, alpha, destination, count);
}

namespace {

// One host pixel of the conversion above from the three colour bytes.
inline uint32_t hostFromChannels(int32_t r, int32_t g, int32_t b, uint32_t alpha) {
    const float fb = static_cast<float>(b), fg = static_cast<float>(g), fr = static_cast<float>(r);
    const float y = 0.299f * fr + 0.587f * fg + 0.114f * fb;
    const float cb = 0.5f * fb - (0.168736f * fr + 0.331264f * fg) + 128.0f;
    const float cr = 0.5f * fr - 0.418688f * fg - 0.081312f * fb + 128.0f;
    return (uint32_t(static_cast<int32_t>(y)) << 24) | (uint32_t(static_cast<int32_t>(cb)) << 16) |
           (uint32_t(static_cast<int32_t>(cr)) << 8) | (alpha & 0xFF);
}

// The tint of one colour byte: (m x a) >> 8.
inline int32_t tintByte(uint32_t m, uint32_t a) {
    return static_cast<int32_t>((m * a) >> 8);
}

inline void tintedRun(const uint32_t *__restrict rgb, uint32_t tint, const uint32_t *alpha,
                      uint32_t *destination, size_t count) {
    const uint32_t ar = (tint >> 16) & 0xFF, ag = (tint >> 8) & 0xFF, ab = tint & 0xFF;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t m = rgb[i];
        destination[i] =
            hostFromChannels(tintByte((m >> 16) & 0xFF, ar), tintByte((m >> 8) & 0xFF, ag),
                             tintByte(m & 0xFF, ab), alpha[i]);
    }
}

// A host pixel's colour bytes as the source pictures hold them: truncated
// and limited to 0..255.
inline int32_t limitByte(float value) {
    const int32_t v = static_cast<int32_t>(value);
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline void tintedHostRun(const uint32_t *__restrict host, uint32_t tint, const uint32_t *alpha,
                          uint32_t *destination, size_t count) {
    const uint32_t ar = (tint >> 16) & 0xFF, ag = (tint >> 8) & 0xFF, ab = tint & 0xFF;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = host[i];
        const float y = static_cast<float>(pixel >> 24);
        const float cb = static_cast<float>(static_cast<int32_t>((pixel >> 16) & 0xFF) - 128);
        const float cr = static_cast<float>(static_cast<int32_t>((pixel >> 8) & 0xFF) - 128);
        const int32_t r = limitByte(y + 1.402f * cr);
        const int32_t g = limitByte(y - 0.344136f * cb - 0.714136f * cr);
        const int32_t b = limitByte(y + 1.772f * cb);
        destination[i] = hostFromChannels(tintByte(uint32_t(r), ar), tintByte(uint32_t(g), ag),
                                          tintByte(uint32_t(b), ab), alpha[i]);
    }
}

LUSTRA_VECTOR_CLONES void tintedInPlace(const uint32_t *__restrict rgb, uint32_t tint,
                                        uint32_t *__restrict destination, size_t count) {
    tintedRun(rgb, tint, destination, destination, count);
}

LUSTRA_VECTOR_CLONES void tintedApart(const uint32_t *__restrict rgb, uint32_t tint,
                                      const uint32_t *__restrict alpha,
                                      uint32_t *__restrict destination, size_t count) {
    tintedRun(rgb, tint, alpha, destination, count);
}

LUSTRA_VECTOR_CLONES void tintedHostInPlace(const uint32_t *__restrict host, uint32_t tint,
                                            uint32_t *__restrict destination, size_t count) {
    tintedHostRun(host, tint, destination, destination, count);
}

LUSTRA_VECTOR_CLONES void tintedHostApart(const uint32_t *__restrict host, uint32_t tint,
                                          const uint32_t *__restrict alpha,
                                          uint32_t *__restrict destination, size_t count) {
    tintedHostRun(host, tint, alpha, destination, count);
}

} // namespace

void tintedRgbToHostPixels(const uint32_t *__restrict rgb, uint32_t tint, const uint32_t *alpha,
                           uint32_t *destination, size_t count) {
    if (alpha == destination)
        tintedInPlace(rgb, tint, destination, count);
    else
        tintedApart(rgb, tint, alpha, destination, count);
}

void tintedHostToHostPixels(const uint32_t *__restrict host, uint32_t tint, const uint32_t *alpha,
                            uint32_t *destination, size_t count) {
    if (alpha == destination)
        tintedHostInPlace(host, tint, destination, count);
    else
        tintedHostApart(host, tint, alpha, destination, count);
}

void fillHostPixels(uint32_t rgb, const uint32_t *alpha, uint32_t *destination, size_t count) {
    const uint32_t colour = hostFromChannels(int32_t((rgb >> 16) & 0xFF),
                                             int32_t((rgb >> 8) & 0xFF), int32_t(rgb & 0xFF), 0);
    for (size_t i = 0; i < count; ++i) destination[i] = colour | (alpha[i] & 0xFF);
}

} // namespace lustra::driverKernels
