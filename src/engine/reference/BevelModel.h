// The readable per-pixel model of the bevel stage, against which the stage
// is tested byte for byte (tests/unit/test_bevel_reference.cpp).
#pragma once

#include "engine/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace lustra::reference {

// The model: the stage written out straightforwardly, one pixel at a time,
// on its own stamp tables and planes. It reads the edge list, the bounding
// box and the smoothing kernel from the engine.
struct BevelModel {
    int32_t stride = 0; // 2R+1
    std::vector<uint8_t> stampHeight;
    std::vector<int8_t> stampX, stampY;
    std::vector<uint8_t> stampMax;
    std::vector<int8_t> rawX, rawY, slopeX, slopeY;

    static int8_t lowByte(int64_t v) { return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF)); }

    static int8_t stampSlope(double v) {
        if (v < -127.0) v = -127.0;
        if (v > 127.0) v = 127.0;
        return static_cast<int8_t>(v);
    }

    uint8_t covered(int32_t x, int32_t y) const {
        return engine.mask[engine.paddedRowOffset[y] + x];
    }

    void buildStamps(int32_t a, float E, float I) {
        stride = engine.stampSpan + 1;
        stampHeight.assign(size_t(stride) * stride, 0);
        stampX.assign(size_t(stride) * stride, 0);
        stampY.assign(size_t(stride) * stride, 0);
        for (int32_t dy = -a; dy <= a; ++dy)
            for (int32_t dx = -a; dx <= a; ++dx) {
                const int32_t cell = (dy + a) * stride + (dx + a);
                const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
                if (d >= a) continue;
                const double t = 1.0 - d / a;
                const double X =
                    t * t * (3 - 2 * t) + E * t * t * (t - 1) + I * t * (t - 1) * (t - 1);
                const double height = X * 255;
                const int32_t level =
                    height >= 0 ? static_cast<int32_t>(height) : static_cast<int32_t>(height) - 1;
                stampHeight[cell] = static_cast<uint8_t>(level);
                const double r = t;
                const float D = static_cast<float>(
                    -(I * (3 * r * r - 4 * r + 1) + E * (3 * r * r - 2 * r) - 6 * (r * r - r)));
                const double ux = d > 0 ? dx * 127 / d : 0.0;
                const float uy = d > 0 ? static_cast<float>(dy * 127 / d) : 0.0f;
                stampX[cell] = stampSlope(D * ux);
                stampY[cell] = stampSlope(static_cast<double>(D) * uy);
            }
    }

    void stampEdges(int32_t a) {
        const int32_t w = engine.frameWidth, h = engine.frameHeight;
        for (int32_t i = 0; i < engine.edgeCount; ++i)
            for (int32_t dy = -a; dy <= a; ++dy)
                for (int32_t dx = -a; dx <= a; ++dx) {
                    const int32_t x = engine.edgeX[i] + dx, y = engine.edgeY[i] + dy;
                    if (x < 0 || y < 0 || x >= w || y >= h || covered(x, y) == 0) continue;
                    const int32_t cell = (dy + a) * stride + (dx + a);
                    const size_t p = size_t(y) * w + x;
                    if (stampMax[p] >= stampHeight[cell]) continue;
                    stampMax[p] = stampHeight[cell];
                    rawX[p] = stampX[cell];
                    rawY[p] = stampY[cell];
                }
    }

    // Weighted mean of the covered raw slopes around each covered pixel:
    // columns summed down the frame rows, then the column sums along the
    // row over the bounding box's columns only.
    void smoothAndScale(int32_t r, int32_t f) {
        const int32_t w = engine.frameWidth, h = engine.frameHeight;
        const int32_t *kernel = engine.blurKernel;
        const int32_t x0 = std::max<int32_t>(engine.boundsMinX, 0);
        const int32_t x1 = std::min<int32_t>(engine.boundsMaxX + 1, w);
        const int32_t y0 = std::max<int32_t>(engine.boundsMinY, 0);
        const int32_t y1 = std::min<int32_t>(engine.boundsMaxY + 1, h);
        std::vector<int64_t> sumX(w), sumY(w), weight(w);
        for (int32_t y = y0; y < y1; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                sumX[x] = sumY[x] = weight[x] = 0;
                for (int32_t k = 0; k <= 2 * r; ++k) {
                    const int32_t yy = y - r + k;
                    if (yy < 0 || yy >= h || covered(x, yy) == 0) continue;
                    sumX[x] += int64_t(rawX[size_t(yy) * w + x]) * kernel[k];
                    sumY[x] += int64_t(rawY[size_t(yy) * w + x]) * kernel[k];
                    weight[x] += kernel[k];
                }
            }
            for (int32_t x = x0; x < x1; ++x) {
                if (covered(x, y) == 0) continue;
                int64_t totalX = 0, totalY = 0, totalW = 0;
                for (int32_t k = 0; k <= 2 * r; ++k) {
                    const int32_t xx = x - r + k;
                    if (xx < x0 || xx >= x1) continue;
                    totalX += sumX[xx] * kernel[k];
                    totalY += sumY[xx] * kernel[k];
                    totalW += weight[xx] * kernel[k];
                }
                const size_t p = size_t(y) * w + x;
                if (totalW == 0) {
                    slopeX[p] = slopeY[p] = 0;
                    continue;
                }
                // Exact integer quotient, truncated toward zero.
                slopeX[p] = lowByte(totalX * f / (totalW * 256));
                slopeY[p] = lowByte(totalY * f / (totalW * 256));
            }
        }
    }

    void run(const uint8_t *settings) {
        const int32_t border = std::max<int32_t>(engine.border, 0);
        const int32_t a = std::min<int32_t>(settings[0], border);
        const int32_t r = std::min<int32_t>(settings[2], border);
        const float E = static_cast<float>(static_cast<int8_t>(settings[3]) * 0.2);
        const float I = static_cast<float>(static_cast<int8_t>(settings[4]) * 0.2);
        const int32_t f = (settings[1] * 256 / 100) * static_cast<int8_t>(settings[5]);
        const int32_t w = engine.frameWidth, h = engine.frameHeight;
        if (a > 0) buildStamps(a, E, I);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (covered(x, y) != 0) {
                    const size_t p = size_t(y) * w + x;
                    stampMax[p] = 0, rawX[p] = 0, rawY[p] = 0;
                }
        if (a > 0) stampEdges(a);
        if (r == 0) {
            for (size_t p = 0; p < size_t(w) * h; ++p) {
                slopeX[p] = lowByte((rawX[p] * f) >> 8);
                slopeY[p] = lowByte((rawY[p] * f) >> 8);
            }
        } else {
            buildSmoothKernel(static_cast<uint8_t>(r), 256.0);
            smoothAndScale(r, f);
        }
    }
};

} // namespace lustra::reference
