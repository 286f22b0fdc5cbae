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

} // namespace lustra::driverKernels
