// Fixed-point helpers of the engine's pixel loops. Channels are 8-bit,
// weights 8-bit; every helper states its exact formula.
#pragma once

#include <cstdint>
#include <cstring>

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

// (a x (255 - w) + b x w) >> 8: a moved toward b by weight w (0..255), the
// step of every bilinear filter and blend; full weight yields at most 254
// for 8-bit values, and signed values (slopes) shift arithmetically.
inline int32_t lerp8(int32_t a, int32_t b, int32_t w) {
    return (a * (255 - w) + b * w) >> 8;
}

// lerp8 on red and blue of two work pixels at once (bits 16..23 and 0..7):
// each 16-bit half holds at most 255 x 255 before the shift, so neither
// carries into the other. Green and byte 3 come out 0.
inline uint32_t lerpRedBlue(uint32_t a, uint32_t b, uint32_t w) {
    return (((255 - w) * (a & 0xFF00FFu) + w * (b & 0xFF00FFu)) >> 8) & 0xFF00FFu;
}

// lerp8 on green (bits 8..15) of two work pixels, in place; the other bytes
// come out 0.
inline uint32_t lerpGreen(uint32_t a, uint32_t b, uint32_t w) {
    return ((255 - w) * ((a >> 8) & 0xFFu) + w * ((b >> 8) & 0xFFu)) & 0xFF00u;
}

// lerp8 on the three channels of two work pixels; byte 3 comes out 0.
inline uint32_t lerpRgb(uint32_t a, uint32_t b, uint32_t w) {
    return lerpRedBlue(a, b, w) | lerpGreen(a, b, w);
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

// An RGB work pixel from its red, green and blue bytes (byte 3 zero).
inline uint32_t packRgb(int32_t r, int32_t g, int32_t b) {
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

// Byte runs of the mask and coverage rows. Eight bytes as one word:
inline uint64_t eightBytes(const uint8_t *bytes) {
    uint64_t eight;
    std::memcpy(&eight, bytes, sizeof eight);
    return eight;
}

// Whether any byte of v is zero: (v - 0x01..01) & ~v & 0x80..80 is non-zero.
inline bool anyZeroByte(uint64_t v) {
    return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
}

// Whether any of the V bytes at p (V a multiple of 8) is non-zero.
template <int V> inline bool anyNonZero(const void *p) {
    const uint8_t *bytes = static_cast<const uint8_t *>(p);
    uint64_t any = 0;
    for (int k = 0; k < V; k += 8) any |= eightBytes(bytes + k);
    return any != 0;
}

// Whether all of the V bytes at p (V a multiple of 8) are non-zero.
template <int V> inline bool allNonZero(const void *p) {
    const uint8_t *bytes = static_cast<const uint8_t *>(p);
    for (int k = 0; k < V; k += 8)
        if (anyZeroByte(eightBytes(bytes + k))) return false;
    return true;
}

// Whether all of the 32 bytes at p are 255 (fully opaque).
inline bool allOpaque32(const uint8_t *p) {
    uint64_t all = ~uint64_t(0);
    for (int k = 0; k < 32; k += 8) all &= eightBytes(p + k);
    return all == ~uint64_t(0);
}

// Whether none of the 32 bytes at p is 255: a word has a 0xFF byte exactly
// when its complement has a zero byte.
inline bool noneOpaque32(const uint8_t *p) {
    for (int k = 0; k < 32; k += 8)
        if (anyZeroByte(~eightBytes(p + k))) return false;
    return true;
}

// Whether any of the `count` bytes at p is non-zero.
inline bool anyNonZero(const uint8_t *p, int32_t count) {
    uint8_t any = 0;
    for (int32_t i = 0; i < count; ++i) any |= p[i];
    return any != 0;
}

// Whether all of the `count` bytes at p are non-zero.
inline bool allNonZero(const uint8_t *p, int32_t count) {
    uint8_t least = 255;
    for (int32_t i = 0; i < count; ++i) least = p[i] < least ? p[i] : least;
    return least != 0;
}

// A rectangle of pixels, half-open: columns x0 .. x1 - 1, rows y0 .. y1 - 1
// (empty when x1 <= x0 or y1 <= y0).
struct PixelRect {
    int32_t x0, x1, y0, y1;
};

} // namespace lustra
