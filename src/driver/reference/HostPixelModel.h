// The readable per-pixel models of the driver's row kernels
// (driver/kernels/HostPixelKernels.h), against which the kernels are tested
// byte for byte (tests/unit/test_driver_and_engine.cpp).
#pragma once

#include "lustrafex/host_pixels.h"

#include <cstdint>

namespace lustra::reference {

// The mask value of one luminance: luminance 48 and below gives 0, each step
// above 48 adds 20/13 (320/208, truncated), luminance 214 and above gives 255.
inline uint8_t maskValue(uint32_t luminance) {
    if (luminance <= 48) return 0;
    const uint32_t v = (luminance - 48) * 320 / 208;
    return static_cast<uint8_t>(v < 255 ? v : 255);
}

// The mask byte of one host pixel, from its Y byte; inverted (255 - v) when
// the shape is inverted.
inline uint8_t maskByte(uint32_t hostPixel, bool invert) {
    const uint8_t v = maskValue(hostPixel >> 24);
    return invert ? static_cast<uint8_t>(255 - v) : v;
}

// One RGB work pixel (blue in byte 0, green, red) to a host pixel with the
// alpha byte of `host`: the hosts' own conversion, one colour at a time.
inline uint32_t hostPixelFromWork(uint32_t rgb, uint32_t host) {
    const uint8_t b = rgb & 0xFF, g = (rgb >> 8) & 0xFF, r = (rgb >> 16) & 0xFF;
    return hostPixelFromRgb(r, g, b, static_cast<uint8_t>(host & 0xFF));
}

// The far region's pixel: map pixel `rgb` (blue in byte 0) tinted by the
// colour (r, g, b), (M x A) >> 8 per channel, as a host pixel with the alpha
// byte of `host`.
inline uint32_t tintedHostPixelFromWork(uint32_t rgb, uint8_t r, uint8_t g, uint8_t b,
                                        uint32_t host) {
    const uint32_t tinted = ((((rgb >> 16) & 0xFF) * r) >> 8) << 16 |
                            ((((rgb >> 8) & 0xFF) * g) >> 8) << 8 | (((rgb & 0xFF) * b) >> 8);
    return hostPixelFromWork(tinted, host);
}

// A host pixel as a source picture holds it: the hosts' conversion to RGB,
// red in byte 2, green in byte 1, blue in byte 0.
inline uint32_t workFromHostPixel(uint32_t host) {
    uint8_t rgb[3];
    hostPixelToRgb(host, rgb);
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

} // namespace lustra::reference
