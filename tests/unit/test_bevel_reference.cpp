// The bevel stage against a plain scalar model of it: random masks (empty
// and full areas, shapes cut by the frame edges, random coverage levels),
// tiny and larger frames, every width and smoothing radius up to 30 and past
// the border, extreme profile slopes, depths and directions. Every plane the
// stage writes (stamp heights, raw slopes, slopes) must match byte for byte,
// and pixels the stage does not write must keep what they held.

#include <gtest/gtest.h>

#include "DataDirectory.h"
#include "engine/Engine.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace lustra;

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

class BevelReference : public ::testing::Test {
  protected:
    void TearDown() override { engineTeardown(); }

    // A random mask: a transparent or full background, rectangles and discs
    // that may run past the frame edges, and scattered noise pixels.
    void setUpRandomMask(int w, int h, int border) {
        engineTeardown();
        W = w, H = h, R = border;
        const int paddedWidth = w + 2 * border;
        paddedMask.assign(size_t(paddedWidth) * (h + 2 * border), 0);
        std::vector<uint8_t> m(size_t(w) * h, random() % 4 == 0 ? 255 : 0);
        auto level = [&] {
            const int pick = int(random() % 4);
            return uint8_t(pick == 0 ? 0 : pick == 1 ? 1 + random() % 255 : 255);
        };
        const int shapes = int(random() % 6);
        for (int s = 0; s < shapes; ++s) {
            const int cx = int(random() % (w + 8)) - 4, cy = int(random() % (h + 8)) - 4;
            const int rx = 1 + int(random() % (w / 2 + 3)), ry = 1 + int(random() % (h / 2 + 3));
            const bool disc = random() % 2 == 0;
            const bool uniform = random() % 3 != 0;
            const uint8_t fill = level();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double u = double(x - cx) / rx, v = double(y - cy) / ry;
                    const bool inside =
                        disc ? u * u + v * v <= 1 : std::abs(u) <= 1 && std::abs(v) <= 1;
                    if (inside) m[size_t(y) * w + x] = uniform ? fill : level();
                }
        }
        const int noise = int(random() % 4) == 0 ? 0 : int(random() % 20);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (int(random() % 100) < noise) m[size_t(y) * w + x] = level();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                paddedMask[size_t(y + border) * paddedWidth + x + border] = m[size_t(y) * w + x];
        pixels.assign(size_t(w) * h, 0);
        job = RenderJob();
        job.width = int16_t(w), job.height = int16_t(h), job.border = border;
        job.paddedMask = paddedMask.data(), job.pixels = pixels.data();
        job.dataDirectory = data.path.c_str();
        ASSERT_EQ(engineSetup(job), 0);
    }

    // Runs the stage and the model from the same random plane contents and
    // compares every plane; false (with a failure) at the first difference.
    bool matches(const uint8_t settings[6]) {
        const size_t frame = size_t(W) * H;
        BevelModel model;
        model.stampMax.resize(frame);
        model.rawX.resize(frame), model.rawY.resize(frame);
        model.slopeX.resize(frame), model.slopeY.resize(frame);
        for (size_t p = 0; p < frame; ++p) {
            model.stampMax[p] = uint8_t(random());
            model.rawX[p] = int8_t(random()), model.rawY[p] = int8_t(random());
            model.slopeX[p] = int8_t(random()), model.slopeY[p] = int8_t(random());
        }
        std::memcpy(engine.stampMax, model.stampMax.data(), frame);
        std::memcpy(engine.rawSlopeX, model.rawX.data(), frame);
        std::memcpy(engine.rawSlopeY, model.rawY.data(), frame);
        std::memcpy(engine.slopeX, model.slopeX.data(), frame);
        std::memcpy(engine.slopeY, model.slopeY.data(), frame);

        job.bevel.width = settings[0], job.bevel.depth = settings[1],
        job.bevel.smoothing = settings[2];
        job.bevel.edgeSlope = int8_t(settings[3]), job.bevel.innerSlope = int8_t(settings[4]);
        job.bevel.direction = BevelDirection(int8_t(settings[5]));
        job.bevel.on = 1;
        bevelStage(job);
        model.run(settings);

        const std::string what = "frame " + std::to_string(W) + "x" + std::to_string(H) +
                                 " border " + std::to_string(R) + " settings " +
                                 std::to_string(settings[0]) + "," + std::to_string(settings[1]) +
                                 "," + std::to_string(settings[2]) + "," +
                                 std::to_string(settings[3]) + "," + std::to_string(settings[4]) +
                                 "," + std::to_string(settings[5]);
        auto same = [&](const void *stage, const void *expected, const char *plane) {
            for (size_t p = 0; p < frame; ++p) {
                const uint8_t s = static_cast<const uint8_t *>(stage)[p];
                const uint8_t e = static_cast<const uint8_t *>(expected)[p];
                if (s == e) continue;
                ADD_FAILURE() << plane << " differs at (" << p % W << ", " << p / W
                              << "): " << int(s) << " instead of " << int(e) << "; " << what;
                return false;
            }
            return true;
        };
        if (engine.edgeCount <= 0) return true; // the stage leaves the planes alone
        return same(engine.stampMax, model.stampMax.data(), "stampMax") &&
               same(engine.rawSlopeX, model.rawX.data(), "rawSlopeX") &&
               same(engine.rawSlopeY, model.rawY.data(), "rawSlopeY") &&
               same(engine.slopeX, model.slopeX.data(), "slopeX") &&
               same(engine.slopeY, model.slopeY.data(), "slopeY");
    }

    // Random profile slopes, depth and direction, often at their extremes.
    void randomSettings(uint8_t settings[6]) {
        const uint8_t slopes[] = {0, 1, 127, 128, 129, 255, 5, 250};
        const uint8_t depths[] = {0, 1, 100, 255};
        const uint8_t directions[] = {1, 255, 0, 127, 128};
        settings[1] = random() % 2 ? depths[random() % 4] : uint8_t(random());
        settings[3] = random() % 2 ? slopes[random() % 8] : uint8_t(random());
        settings[4] = random() % 2 ? slopes[random() % 8] : uint8_t(random());
        settings[5] = random() % 3 ? directions[random() % 5] : uint8_t(random());
    }

    std::mt19937 random{20261208};
    test::DataDirectory data; // holds the metal pattern set-up needs
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    RenderJob job;
    int W = 0, H = 0, R = 30;
};

// Tiny frames: every width with every smoothing radius 0..30.
TEST_F(BevelReference, TinyFramesEveryWidthAndSmoothing) {
    const int sizes[][2] = {{1, 2}, {2, 1}, {3, 3}, {2, 5}, {6, 4}};
    for (const auto &size : sizes)
        for (int mask = 0; mask < 3; ++mask) {
            setUpRandomMask(size[0], size[1], 30);
            for (int width = 0; width <= 30; ++width)
                for (int smoothing = 0; smoothing <= 30; ++smoothing) {
                    uint8_t settings[6] = {uint8_t(width), 0, uint8_t(smoothing)};
                    randomSettings(settings);
                    ASSERT_TRUE(matches(settings));
                }
        }
}

// Frames up to a few hundred pixels: each width and each smoothing radius
// with random partners, on shapes that reach the frame edges.
TEST_F(BevelReference, LargerFramesEveryWidthAndSmoothing) {
    const int sizes[][2] = {{17, 9}, {40, 33}, {64, 3}, {95, 70}, {161, 47}};
    for (const auto &size : sizes)
        for (int mask = 0; mask < 2; ++mask) {
            setUpRandomMask(size[0], size[1], 30);
            for (int radius = 0; radius <= 30; ++radius) {
                uint8_t settings[6] = {uint8_t(radius), 0, uint8_t(random() % 31)};
                randomSettings(settings);
                ASSERT_TRUE(matches(settings));
                settings[0] = uint8_t(random() % 31), settings[2] = uint8_t(radius);
                randomSettings(settings);
                ASSERT_TRUE(matches(settings));
            }
        }
    setUpRandomMask(400, 300, 30);
    for (int width : {1, 8, 30})
        for (int smoothing : {0, 1, 7, 30}) {
            uint8_t settings[6] = {uint8_t(width), 100, uint8_t(smoothing), 0, 0, 1};
            ASSERT_TRUE(matches(settings));
        }
}

// Radii past the border act as the border, with borders down to 0.
TEST_F(BevelReference, RadiiBeyondTheBorder) {
    for (int border : {0, 1, 2, 7, 40})
        for (int mask = 0; mask < 3; ++mask) {
            setUpRandomMask(23 + mask * 10, 19, border);
            for (int width : {0, 1, 8, 40, 255})
                for (int smoothing : {0, 1, 7, 40, 255}) {
                    uint8_t settings[6] = {uint8_t(width), 0, uint8_t(smoothing)};
                    randomSettings(settings);
                    ASSERT_TRUE(matches(settings));
                }
        }
}

// The smoothing multiplies slopes by weights taken as unsigned bytes, keeps
// column sums in 16 bits and row totals in single precision: for every
// radius each kernel weight must fit a byte and the weights must add up to
// at most 32,767 / 127, so that a column of slopes (|slope| <= 127) sums
// within 16 bits, and a row total (and the weight total times 256) must stay
// below 2^24.
TEST_F(BevelReference, SmoothingKernelsKeepSumsInRange) {
    setUpRandomMask(4, 4, 255);
    for (int r = 1; r <= 255; ++r) {
        buildSmoothKernel(uint8_t(r), 256.0);
        int64_t total = 0;
        for (int k = 0; k <= 2 * r; ++k) {
            ASSERT_GE(engine.blurKernel[k], 0) << r;
            ASSERT_LE(engine.blurKernel[k], 255) << r; // a byte of the column pass
            total += engine.blurKernel[k];
        }
        ASSERT_LE(total * 127, INT16_MAX) << r;
        ASSERT_LT(total * total * 127, int64_t(1) << 24) << r;
        ASSERT_LT(total * total * 256, int64_t(1) << 24) << r;
    }
    // The glow and shadow blurs sum their column weights in 16 bits.
    for (int r = 1; r <= 255; ++r) {
        buildSmoothKernel(uint8_t(r), kBlurGain);
        int64_t total = 0;
        for (int k = 0; k <= 2 * r; ++k) total += engine.blurKernel[k];
        ASSERT_LE(total, INT16_MAX) << r;
    }
}

} // namespace
