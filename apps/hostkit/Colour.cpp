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
#define LUSTRA_COLOUR_VARIANTS 1
#define LUSTRA_COLOUR_VARIANT(suffix, isa)                                                         \
    __attribute__((target(isa))) void rgbaToHost##suffix(const uint8_t *rgba, int count,           \
                                                         bool useAlpha, uint32_t *host) {          \
        rgbaRowBody(rgba, count, useAlpha ? 0u : 255u, host);                                      \
    }                                                                                              \
    __attribute__((target(isa))) void hostToRgba##suffix(const uint32_t *host, int count,          \
                                                         uint8_t *rgba) {                          \
        hostRowBody<4>(host, count, rgba);                                                         \
    }                                                                                              \
    __attribute__((target(isa))) void hostToRgb##suffix(const uint32_t *host, int count,           \
                                                        uint8_t *rgb) {                            \
        hostRowBody<3>(host, count, rgb);                                                          \
    }
LUSTRA_COLOUR_VARIANT(Avx512, "avx512f,avx512bw,avx512vl")
LUSTRA_COLOUR_VARIANT(Avx2, "avx2")
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
