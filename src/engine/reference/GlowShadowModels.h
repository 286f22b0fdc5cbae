// The readable per-pixel models of the glow and shadow stages, against which
// the stages are tested byte for byte (tests/unit/test_glow_shadow_reference.cpp).
#pragma once

#include "engine/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lustra::reference {

// The models: the stages written out one pixel at a time on their own
// planes. They read the mask, the edge list, the bounding box and the blur
// kernel from the engine.
struct GlowModel {
    int32_t stride = 0; // 2R+1
    std::vector<uint8_t> stamp, glow, stampMax;

    uint8_t covered(int32_t x, int32_t y) const {
        return engine.mask[engine.paddedRowOffset[y] + x];
    }

    void buildStamp(int32_t g, int32_t softness) {
        stride = engine.stampSpan + 1;
        stamp.assign(size_t(stride) * stride, 0);
        for (int32_t dy = -g; dy <= g; ++dy)
            for (int32_t dx = -g; dx <= g; ++dx) {
                const double q = std::sqrt(static_cast<double>(dx * dx + dy * dy)) / g;
                if (q >= 1) continue;
                const double t = 1 - q;
                const double X = t * t * (3 - 2 * t) + softness * 0.02 * t * t * (t - 1) +
                                 (100 - softness) * 0.01 * t * (t - 1) * (t - 1);
                stamp[size_t(dy + g) * stride + dx + g] =
                    static_cast<uint8_t>(static_cast<int32_t>(X * 255));
            }
    }

    void profile(int32_t g, int32_t softness) {
        const int32_t w = engine.frameWidth, h = engine.frameHeight;
        if (g > 0) buildStamp(g, softness);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (covered(x, y) != 255) glow[size_t(y) * w + x] = stampMax[size_t(y) * w + x] = 0;
        if (g == 0) return;
        for (int32_t i = 0; i < engine.edgeCount; ++i)
            for (int32_t dy = -g; dy <= g; ++dy)
                for (int32_t dx = -g; dx <= g; ++dx) {
                    const int32_t x = engine.edgeX[i] + dx, y = engine.edgeY[i] + dy;
                    if (x < 0 || y < 0 || x >= w || y >= h || covered(x, y) == 255) continue;
                    const uint8_t cell = stamp[size_t(dy + g) * stride + dx + g];
                    const size_t p = size_t(y) * w + x;
                    if (stampMax[p] >= cell) continue;
                    stampMax[p] = glow[p] = cell;
                }
    }

    // Column sums over mask rows y - g .. y + g (into the margin) of the
    // fully opaque pixels, times 1.3 and truncated; the row sums of those
    // over the grown bounding box's columns, divided by 65,536.
    void blurred(int32_t g) {
        const int32_t w = engine.frameWidth, h = engine.frameHeight;
        if (g > 0) buildSmoothKernel(static_cast<uint8_t>(g), kBlurGain);
        const int32_t *kernel = engine.blurKernel;
        const int32_t x0 = std::max(engine.boundsMinX - g, 0);
        const int32_t y0 = std::max(engine.boundsMinY - g, 0);
        const int32_t x1 = std::min(engine.boundsMaxX + 1 + g, w);
        const int32_t y1 = std::min(engine.boundsMaxY + 1 + g, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (covered(x, y) != 255) glow[size_t(y) * w + x] = 0;
        int32_t peak = 1;
        std::vector<int64_t> column(w);
        for (int32_t y = y0; y < y1; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                int64_t sum = 0;
                for (int32_t k = 0; k <= 2 * g; ++k)
                    if (engine.mask[(y - g + k) * engine.paddedWidth + x] == 255) sum += kernel[k];
                column[x] = static_cast<int32_t>(sum * 1.3);
            }
            for (int32_t x = x0; x < x1; ++x) {
                if (covered(x, y) == 255) continue;
                int64_t sum = 0;
                for (int32_t k = 0; k <= 2 * g; ++k) {
                    const int32_t xx = x - g + k;
                    if (xx >= x0 && xx < x1) sum += kernel[k] * column[xx];
                }
                const int32_t v = static_cast<int32_t>(std::min<int64_t>(sum / 65536, 255));
                glow[size_t(y) * w + x] = static_cast<uint8_t>(v);
                peak = std::max(peak, v);
            }
        }
        for (uint8_t &v : glow) v = static_cast<uint8_t>(std::min(v * 255 / peak, 255));
    }
};

struct ShadowModel {
    std::vector<uint8_t> map; // padded

    // Column sums over the padded rows y - c .. y + c that exist, then row
    // sums over the grown bounding box's columns (within the padded frame),
    // divided by 65,536 and kept as their low byte.
    void run(int32_t c) {
        const int32_t w = engine.frameWidth, h = engine.frameHeight, R = engine.border;
        const int32_t pw = engine.paddedWidth;
        std::fill(map.begin(), map.end(), 0);
        auto padded = [&](int32_t x, int32_t y) { return size_t(y + R) * pw + x + R; };
        if (c == 0) {
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) map[padded(x, y)] = engine.paddedMask[padded(x, y)];
            return;
        }
        buildSmoothKernel(static_cast<uint8_t>(c), kBlurGain);
        const int32_t *kernel = engine.blurKernel;
        const int32_t x0 = std::max(engine.boundsMinX - c, -R);
        const int32_t y0 = std::max(engine.boundsMinY - c, -R);
        const int32_t x1 = std::min(engine.boundsMaxX + 1 + c, w + R);
        const int32_t y1 = std::min(engine.boundsMaxY + 1 + c, h + R);
        std::vector<int64_t> column(size_t(w) + 2 * R);
        for (int32_t y = y0; y < y1; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                int64_t sum = 0;
                for (int32_t k = 0; k <= 2 * c; ++k) {
                    const int32_t yy = y - c + k;
                    if (yy < -R || yy >= h + R) continue;
                    if (engine.paddedMask[padded(x, yy)] == 255) sum += kernel[k];
                }
                column[x + R] = sum;
            }
            for (int32_t x = x0; x < x1; ++x) {
                int64_t sum = 0;
                for (int32_t k = 0; k <= 2 * c; ++k) {
                    const int32_t xx = x - c + k;
                    if (xx >= x0 && xx < x1) sum += kernel[k] * column[xx + R];
                }
                map[padded(x, y)] = static_cast<uint8_t>(sum / 65536);
            }
        }
    }
};

} // namespace lustra::reference
