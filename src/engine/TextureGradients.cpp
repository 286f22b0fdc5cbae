// Gradient planes of tiling height textures, shared by the pattern and
// picture textures.
#include "engine/TextureGradients.h"

#include "engine/Blend.h"
#include "engine/kernels/CpuVariant.h"

#include <initializer_list>

// The interior columns also have an AVX-512 form, run when the surface
// texture kernels run theirs (textureKernels::variant).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#include <immintrin.h>
#define LUSTRA_GRADIENTS_AVX512 1
// The AVX-512 intrinsics start their unmasked results from an undefined
// vector, which this compiler then reports as maybe uninitialised once
// inlined; every lane of those results is written.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lustra {

namespace {

// Per column of a row: above + here + below, and above - below.
LUSTRA_VECTOR_CLONES void columnTotals(const uint8_t *__restrict above,
                                       const uint8_t *__restrict here,
                                       const uint8_t *__restrict below, int32_t w,
                                       int32_t *__restrict vertical,
                                       int32_t *__restrict difference) {
    for (int32_t u = 0; u < w; ++u) {
        vertical[u] = above[u] + here[u] + below[u];
        difference[u] = above[u] - below[u];
    }
}

// Gradients of columns 1..w-2, whose neighbours need no wrapping.
LUSTRA_VECTOR_CLONES void interiorGradients(const int32_t *__restrict vertical,
                                            const int32_t *__restrict difference, int32_t w,
                                            int8_t *__restrict outX, int8_t *__restrict outY) {
    for (int32_t u = 1; u < w - 1; ++u) {
        outX[u] = static_cast<int8_t>((vertical[u - 1] - vertical[u + 1]) / 6);
        outY[u] = static_cast<int8_t>((difference[u - 1] + difference[u] + difference[u + 1]) / 6);
    }
}

#ifdef LUSTRA_GRADIENTS_AVX512

// t / 6 truncated toward zero as (|t| x 10923) >> 16 with the sign put
// back: exact for |t| <= 765, the largest a gradient's sum of three
// heights minus three heights reaches (checked for every case below).
constexpr bool sixthsExact() {
    for (int32_t t = 0; t <= 765; ++t)
        if (((t * 10923) >> 16) != t / 6) return false;
    return true;
}
static_assert(sixthsExact(), "the sixths must equal integer division");

#define LUSTRA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

LUSTRA_AVX512 inline __m512i sixth(__m512i t) {
    const __m512i q = _mm512_mulhi_epu16(_mm512_abs_epi16(t), _mm512_set1_epi16(10923));
    return _mm512_mask_sub_epi16(q, _mm512_movepi16_mask(t), _mm512_setzero_si512(), q);
}

// Heights of 32 columns from p, widened to 16 bits (the first `left`).
LUSTRA_AVX512 inline __m512i heightsAt(const uint8_t *p, __mmask32 part) {
    return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(part, p));
}

// Columns 1..w-2, 32 at a time in 16-bit lanes: the column sums and
// differences of the three rows at u - 1, u and u + 1, their gradients as
// sixth, narrowed to bytes (they lie within -127..127).
LUSTRA_AVX512 void interiorGradientsAvx512(const uint8_t *above, const uint8_t *here,
                                           const uint8_t *below, int32_t w, int8_t *outX,
                                           int8_t *outY) {
    for (int32_t u = 1; u < w - 1; u += 32) {
        const int32_t left = w - 1 - u;
        const __mmask32 part = left >= 32 ? ~__mmask32(0) : __mmask32((1u << left) - 1);
        __m512i vertical[3], difference[3];
        for (int32_t k = 0; k < 3; ++k) {
            const int32_t at = u - 1 + k;
            const __m512i a = heightsAt(above + at, part), b = heightsAt(below + at, part);
            vertical[k] = _mm512_add_epi16(_mm512_add_epi16(a, heightsAt(here + at, part)), b);
            difference[k] = _mm512_sub_epi16(a, b);
        }
        const __m512i x = sixth(_mm512_sub_epi16(vertical[0], vertical[2]));
        const __m512i y =
            sixth(_mm512_add_epi16(_mm512_add_epi16(difference[0], difference[1]), difference[2]));
        _mm256_mask_storeu_epi8(outX + u, part, _mm512_cvtepi16_epi8(x));
        _mm256_mask_storeu_epi8(outY + u, part, _mm512_cvtepi16_epi8(y));
    }
}

#undef LUSTRA_AVX512
#endif

} // namespace

void textureRowGradients(const uint8_t *above, const uint8_t *here, const uint8_t *below, int32_t w,
                         int32_t *totals, int8_t *outX, int8_t *outY) {
#ifdef LUSTRA_GRADIENTS_AVX512
    if (textureKernels::variant() == CpuVariant::kAvx512) {
        interiorGradientsAvx512(above, here, below, w, outX, outY);
        auto vertical = [&](int32_t c) { return above[c] + here[c] + below[c]; };
        auto difference = [&](int32_t c) { return above[c] - below[c]; };
        for (int32_t u : {0, w - 1}) {
            const int32_t l = u == 0 ? w - 1 : u - 1, r = u == w - 1 ? 0 : u + 1;
            outX[u] = static_cast<int8_t>((vertical(l) - vertical(r)) / 6);
            outY[u] = static_cast<int8_t>((difference(l) + difference(u) + difference(r)) / 6);
        }
        return;
    }
#endif
    int32_t *vertical = totals, *difference = totals + w;
    columnTotals(above, here, below, w, vertical, difference);
    interiorGradients(vertical, difference, w, outX, outY);
    for (int32_t u : {0, w - 1}) {
        const int32_t l = u == 0 ? w - 1 : u - 1, r = u == w - 1 ? 0 : u + 1;
        outX[u] = static_cast<int8_t>((vertical[l] - vertical[r]) / 6);
        outY[u] = static_cast<int8_t>((difference[l] + difference[u] + difference[r]) / 6);
    }
}

LUSTRA_VECTOR_CLONES void gradientRange(const int8_t *plane, size_t count, int32_t &least,
                                        int32_t &most) {
    int8_t lo = 127, hi = -128;
    for (size_t i = 0; i < count; ++i) {
        lo = plane[i] < lo ? plane[i] : lo;
        hi = plane[i] > hi ? plane[i] : hi;
    }
    least = lo, most = hi;
}

} // namespace lustra
