// LustraFex host pixels and their conversion to and from 8-bit RGB.
//
// A host pixel is full-range YCbCr in a 32-bit word: Y in bits 24..31, Cb in
// 16..23, Cr in 8..15 and the alpha (key) byte in 0..7. A host that converts
// with these functions gets byte for byte what the module gets: single
// precision, the terms summed left to right, truncation toward zero, and
// (from host pixels to RGB) clamping to 0..255. Compile without fused
// multiply-add contraction (-ffp-contract=off), as the module is.
#ifndef LUSTRAFEX_HOST_PIXELS_H
#define LUSTRAFEX_HOST_PIXELS_H

#include <cstdint>

namespace lustra {

constexpr uint32_t hostPixel(uint32_t y, uint32_t cb, uint32_t cr, uint32_t alpha = 255) {
    return (y << 24) | (cb << 16) | (cr << 8) | alpha;
}

// The unrounded Y, Cb, Cr of an RGB colour: Y = 0.299 R + 0.587 G + 0.114 B,
// Cb = 0.5 B - (0.168736 R + 0.331264 G) + 128,
// Cr = 0.5 R - 0.418688 G - 0.081312 B + 128. Each lies in 0..255 for every
// colour, so truncation alone gives the byte.
inline void hostYCbCrFromRgb(uint8_t r, uint8_t g, uint8_t b, float ycbcr[3]) {
    const float R = static_cast<float>(r), G = static_cast<float>(g), B = static_cast<float>(b);
    ycbcr[0] = 0.299f * R + 0.587f * G + 0.114f * B;
    ycbcr[1] = 0.5f * B - (0.168736f * R + 0.331264f * G) + 128.0f;
    ycbcr[2] = 0.5f * R - 0.418688f * G - 0.081312f * B + 128.0f;
}

inline uint32_t hostPixelFromRgb(uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 255) {
    float ycbcr[3];
    hostYCbCrFromRgb(r, g, b, ycbcr);
    return hostPixel(uint32_t(int32_t(ycbcr[0])), uint32_t(int32_t(ycbcr[1])),
                     uint32_t(int32_t(ycbcr[2])), alpha);
}

// A host pixel to RGB: R = Y + 1.402 Cr, G = Y - 0.344136 Cb - 0.714136 Cr,
// B = Y + 1.772 Cb, with Cb and Cr centred on 128; truncated, then clamped.
inline void hostPixelToRgb(uint32_t pixel, uint8_t rgb[3]) {
    const float y = static_cast<float>(pixel >> 24);
    const float cb = static_cast<float>(int32_t((pixel >> 16) & 0xFF) - 128);
    const float cr = static_cast<float>(int32_t((pixel >> 8) & 0xFF) - 128);
    const float values[3] = {y + 1.402f * cr, y - 0.344136f * cb - 0.714136f * cr, y + 1.772f * cb};
    for (int k = 0; k < 3; ++k) {
        const int32_t v = static_cast<int32_t>(values[k]);
        rgb[k] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
}

} // namespace lustra

#endif
