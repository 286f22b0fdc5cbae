#include "Colour.h"

namespace lustra::cli {
namespace {

inline uint8_t clampChannel(float value) {
    const int32_t v = static_cast<int32_t>(value); // truncation toward zero
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Single-precision products of each coefficient with every byte value: the
// same float operations as the direct formulas, with the products looked up.
struct Tables {
    float yR[256], yG[256], yB[256];
    float cbR[256], cbG[256], half[256];
    float crG[256], crB[256];
    float rCr[256], gCb[256], gCr[256], bCb[256];
    Tables() {
        for (int i = 0; i < 256; ++i) {
            const float v = static_cast<float>(i);
            const float c = static_cast<float>(i - 128);
            yR[i] = 0.299f * v;
            yG[i] = 0.587f * v;
            yB[i] = 0.114f * v;
            cbR[i] = 0.168736f * v;
            cbG[i] = 0.331264f * v;
            half[i] = 0.5f * v;
            crG[i] = 0.418688f * v;
            crB[i] = 0.081312f * v;
            rCr[i] = 1.402f * c;
            gCb[i] = 0.344136f * c;
            gCr[i] = 0.714136f * c;
            bCb[i] = 1.772f * c;
        }
    }
};

const Tables &tables() {
    static const Tables t;
    return t;
}

} // namespace

// The results lie in 0..255 for every input (checked over all of them by
// the tests), so truncation alone gives the byte.
inline uint32_t convertRgb(const Tables &t, uint32_t r, uint32_t g, uint32_t b, uint32_t alpha) {
    const float y = t.yR[r] + t.yG[g] + t.yB[b];
    const float cb = t.half[b] - (t.cbR[r] + t.cbG[g]) + 128.0f;
    const float cr = t.half[r] - t.crG[g] - t.crB[b] + 128.0f;
    return (uint32_t(int32_t(y)) << 24) | (uint32_t(int32_t(cb)) << 16) |
           (uint32_t(int32_t(cr)) << 8) | alpha;
}

uint32_t rgbToHost(uint8_t r, uint8_t g, uint8_t b, uint8_t alpha) {
    return convertRgb(tables(), r, g, b, alpha);
}

inline void convertHost(const Tables &t, uint32_t pixel, uint8_t rgb[3]) {
    const uint32_t yByte = pixel >> 24, cb = (pixel >> 16) & 0xFF, cr = (pixel >> 8) & 0xFF;
    const float y = static_cast<float>(yByte);
    rgb[0] = clampChannel(y + t.rCr[cr]);
    rgb[1] = clampChannel(y - t.gCb[cb] - t.gCr[cr]);
    rgb[2] = clampChannel(y + t.bCb[cb]);
}

void hostToRgb(uint32_t pixel, uint8_t rgb[3]) {
    convertHost(tables(), pixel, rgb);
}

namespace {

// The row bodies, inlined into one function per instruction set. They are
// convertRgb and convertHost with each table entry computed where it is
// used: the same single-precision product, sums in the same order.
#define LUSTRA_COLOUR_ROW inline __attribute__((always_inline))

LUSTRA_COLOUR_ROW void rgbaRowBody(const uint8_t *__restrict rgba, int count, uint32_t opaque,
                                   uint32_t *__restrict host) {
    for (int x = 0; x < count; ++x) {
        const uint8_t *in = rgba + 4 * size_t(x);
        const float r = static_cast<float>(in[0]);
        const float g = static_cast<float>(in[1]);
        const float b = static_cast<float>(in[2]);
        const float y = 0.299f * r + 0.587f * g + 0.114f * b;
        const float cb = 0.5f * b - (0.168736f * r + 0.331264f * g) + 128.0f;
        const float cr = 0.5f * r - 0.418688f * g - 0.081312f * b + 128.0f;
        host[x] = (uint32_t(static_cast<int32_t>(y)) << 24) |
                  (uint32_t(static_cast<int32_t>(cb)) << 16) |
                  (uint32_t(static_cast<int32_t>(cr)) << 8) | (uint32_t(in[3]) | opaque);
    }
}

LUSTRA_COLOUR_ROW int32_t clampInt(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

template <int Bytes>
LUSTRA_COLOUR_ROW void hostRowBody(const uint32_t *__restrict host, int count,
                                   uint8_t *__restrict out) {
    for (int x = 0; x < count; ++x) {
        const uint32_t pixel = host[x];
        const float y = static_cast<float>(pixel >> 24);
        const float cb = static_cast<float>(static_cast<int32_t>((pixel >> 16) & 0xFF) - 128);
        const float cr = static_cast<float>(static_cast<int32_t>((pixel >> 8) & 0xFF) - 128);
        uint8_t *to = out + size_t(Bytes) * size_t(x);
        to[0] = static_cast<uint8_t>(clampInt(static_cast<int32_t>(y + 1.402f * cr)));
        to[1] = static_cast<uint8_t>(
            clampInt(static_cast<int32_t>(y - 0.344136f * cb - 0.714136f * cr)));
        to[2] = static_cast<uint8_t>(clampInt(static_cast<int32_t>(y + 1.772f * cb)));
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
