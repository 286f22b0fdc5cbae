// Row kernels of the frame render driver (see HostPixelKernels.h): written
// as plain loops over whole rows so that each variant vectorises.
#include "driver/kernels/HostPixelKernels.h"

#include "engine/Blend.h"

namespace lustra::driverKernels {

LUSTRA_VECTOR_CLONES uint32_t maskRow(const uint32_t *__restrict pixels, int32_t count,
                                      uint32_t flip, uint8_t *__restrict out) {
    uint32_t any = 0;
    for (int32_t c = 0; c < count; ++c) {
        const uint32_t v = maskValue(pixels[c] >> 24);
        any |= v;
        out[c] = static_cast<uint8_t>(v ^ flip);
    }
    return any;
}

namespace {

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

} // namespace

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
