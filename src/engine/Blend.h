// Fixed-point helpers of the engine's pixel loops. Channels are 8-bit,
// weights 8-bit; every helper states its exact formula.
#pragma once

#include <cstdint>

// Hot loops are compiled three times, for AVX-512, for AVX2 and for the
// baseline, and the loader picks the variant the processor supports. Results
// are the same either way: integer arithmetic is exact, and single-precision
// arithmetic is never contracted into fused multiply-adds (-ffp-contract=off).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define LUSTRA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define LUSTRA_VECTOR_CLONES
#endif

namespace lustra {

// (a * (255 - w) + b * w) >> 8: blend of a toward b with weight w; full
// weight yields at most 254.
inline int32_t blend8(int32_t a, int32_t b, int32_t w) {
    return (a * (255 - w) + b * w) >> 8;
}

// (a * b) >> 8: an 8-bit product, as in a tint or a scaled weight.
inline int32_t mul8(int32_t a, int32_t b) {
    return (a * b) >> 8;
}

// min(255, v)
inline int32_t clampHigh255(int32_t v) {
    return v > 255 ? 255 : v;
}

// v limited to lo..hi
inline int32_t clampRange(int32_t v, int32_t lo, int32_t hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// a mod m with a result in 0..m-1 (true modulo; m > 0).
inline int32_t trueMod(int64_t a, int32_t m) {
    int64_t r = a % m;
    return static_cast<int32_t>(r < 0 ? r + m : r);
}

// The low 32 bits of v as a signed 32-bit value: two's-complement wrap of a
// signed 32-bit sum or product, without undefined behaviour.
inline int32_t wrap32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// a >> s on a signed value: arithmetic shift (floor division by 2^s).
inline int32_t shiftDown(int32_t a, int s) {
    return a >> s;
}

// Bytes of an RGB work pixel: blue in byte 0, green in byte 1, red in byte 2.
inline int32_t pixelBlue(uint32_t p) {
    return static_cast<int32_t>(p & 0xFF);
}
inline int32_t pixelGreen(uint32_t p) {
    return static_cast<int32_t>((p >> 8) & 0xFF);
}
inline int32_t pixelRed(uint32_t p) {
    return static_cast<int32_t>((p >> 16) & 0xFF);
}

} // namespace lustra
