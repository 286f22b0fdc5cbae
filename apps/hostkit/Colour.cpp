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

void rgbaToHostFrame(const uint8_t *rgba, int stride, bool useAlpha, HostFrame &frame) {
    const Tables &t = tables();
    for (int y = 0; y < frame.height; ++y) {
        const uint8_t *in = rgba + size_t(y) * size_t(stride);
        uint32_t *out = frame.row(y);
        if (useAlpha)
            for (int x = 0; x < frame.width; ++x, in += 4)
                out[x] = convertRgb(t, in[0], in[1], in[2], in[3]);
        else
            for (int x = 0; x < frame.width; ++x, in += 4)
                out[x] = convertRgb(t, in[0], in[1], in[2], 255);
    }
}

void hostFrameToRgba(const HostFrame &frame, uint8_t *rgba, int stride) {
    const Tables &t = tables();
    for (int y = 0; y < frame.height; ++y) {
        const uint32_t *in = frame.row(y);
        uint8_t *out = rgba + size_t(y) * size_t(stride);
        for (int x = 0; x < frame.width; ++x, out += 4) {
            convertHost(t, in[x], out);
            out[3] = static_cast<uint8_t>(in[x] & 0xFF);
        }
    }
}

void hostFrameToRgb(const HostFrame &frame, uint8_t *rgb, int stride) {
    const Tables &t = tables();
    for (int y = 0; y < frame.height; ++y) {
        const uint32_t *in = frame.row(y);
        uint8_t *out = rgb + size_t(y) * size_t(stride);
        for (int x = 0; x < frame.width; ++x, out += 3) convertHost(t, in[x], out);
    }
}

} // namespace lustra::cli
