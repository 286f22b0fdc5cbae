// The bevel stage against a plain scalar model of it: random masks (empty
// and full areas, shapes cut by the frame edges, random coverage levels),
// tiny and larger frames, every width and smoothing radius up to 30 and past
// the border, extreme profile slopes, depths and directions. Every plane the
// stage writes (stamp heights, raw slopes, slopes) must match byte for byte,
// and pixels the stage does not write must keep what they held.

#include <gtest/gtest.h>

#include "DataDirectory.h"
#include "engine/Engine.h"
#include "engine/kernels/BevelKernels.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/reference/BevelModel.h"

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
using namespace lustra::reference;

class BevelReference : public ::testing::Test {
  protected:
    void TearDown() override {
        engineTeardown();
        bevelKernels::selectVariant(detectedCpuVariant()); // the load-time choice
        bevelKernels::stampFrameRowsFrom(bevelKernels::kFrameRowsFrom);
    }

    // A random mask: a transparent or full background, rectangles and discs
    // that may run past the frame edges, and scattered noise pixels.
    void setUpRandomMask(int w, int h, int border) {
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
        setUpMask(w, h, border, m);
    }

    // The engine set up for the mask m of w x h pixels.
    void setUpMask(int w, int h, int border, const std::vector<uint8_t> &m) {
        engineTeardown();
        W = w, H = h, R = border;
        const int paddedWidth = w + 2 * border;
        paddedMask.assign(size_t(paddedWidth) * (h + 2 * border), 0);
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

// Each variant of the smoothing's passes that this processor runs (the
// portable one, AVX2, AVX-512), forced in turn, matches the model for every
// smoothing radius, on frames whose box ends inside and at the vectors.
TEST_F(BevelReference, EveryCpuVariantMatchesTheModel) {
    std::string checked;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(bevelKernels::selectVariant(CpuVariant(v)), CpuVariant(v));
        checked += std::string(checked.empty() ? "" : " ") + cpuVariantName(CpuVariant(v));
        const int sizes[][2] = {{17, 9}, {48, 33}, {95, 70}, {161, 47}};
        for (const auto &size : sizes) {
            setUpRandomMask(size[0], size[1], 30);
            for (int smoothing = 1; smoothing <= 30; ++smoothing) {
                uint8_t settings[6] = {uint8_t(random() % 31), 0, uint8_t(smoothing)};
                randomSettings(settings);
                ASSERT_TRUE(matches(settings)) << cpuVariantName(CpuVariant(v));
            }
        }
    }
    RecordProperty("variants", checked);
    std::printf("bevel variants checked: %s\n", checked.c_str());
}

// The stamping's variants take the edge pixels of a row in groups whose
// stamps share 32 pixels, or (radii 16 to 31) frame row by frame row in
// chunks of 256 pixels (AVX-512) or 128 (the others) cut at the frame's
// right edge: long horizontal outlines, frames whose width is a multiple of
// the vectors or of the chunks or neither, shapes against the left and right
// edges, and widths on both sides of 15 and of 31 with a border of 40, in
// every variant.
TEST_F(BevelReference, GroupedStampingInEveryVariant) {
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(bevelKernels::selectVariant(CpuVariant(v)), CpuVariant(v));
        for (int w : {97, 128, 160, 293}) {
            setUpRandomMask(w, 38, 40);
            for (int width : {1, 7, 8, 15, 16, 17, 24, 30, 31, 32, 40}) {
                uint8_t settings[6] = {uint8_t(width), 0, uint8_t(random() % 8)};
                randomSettings(settings);
                ASSERT_TRUE(matches(settings)) << cpuVariantName(CpuVariant(v));
            }
        }
    }
}

// The frame-row stamping of the AVX2 and portable variants forced onto
// every radius from 1 (it takes radii 16 to 31 by itself): frames narrower
// than one vector, one chunk and a cut vector, chunks of fewer vectors at
// the right edge, every smoothing-free width up to 31 so that the raw planes
// are compared as stamped.
TEST_F(BevelReference, FrameRowStampingForcedOnEveryRadius) {
    for (int v = 0; v <= int(detectedCpuVariant()) && v <= int(CpuVariant::kAvx2); ++v) {
        ASSERT_EQ(bevelKernels::selectVariant(CpuVariant(v)), CpuVariant(v));
        bevelKernels::stampFrameRowsFrom(1);
        for (int w : {5, 31, 33, 129, 200}) {
            setUpRandomMask(w, 23, 31);
            for (int width = 1; width <= 31; ++width) {
                uint8_t settings[6] = {uint8_t(width), 0, uint8_t(width % 3 == 0 ? 2 : 0)};
                randomSettings(settings);
                ASSERT_TRUE(matches(settings)) << cpuVariantName(CpuVariant(v)) << " width " << w;
            }
        }
    }
}

// The smoothing's kernels work on the bounding box in vectors of 16 to 64
// columns, cut at the box's right end: every box width from 1 to 130 at
// varying offsets, as a partly covered rectangle (holes, ragged ends and
// edges in every vector), in every variant.
TEST_F(BevelReference, EveryBoxWidthInEveryVariant) {
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(bevelKernels::selectVariant(CpuVariant(v)), CpuVariant(v));
        for (int boxWidth = 1; boxWidth <= 130; ++boxWidth) {
            const int w = boxWidth + 11, h = 21, left = int(random() % 9);
            std::vector<uint8_t> m(size_t(w) * h, 0);
            for (int y = 1; y < h - 1; ++y)
                for (int x = left; x < left + boxWidth; ++x)
                    if (random() % 5 != 0 || x == left || x == left + boxWidth - 1)
                        m[size_t(y) * w + x] = uint8_t(random() % 2 ? 255 : 1 + random() % 255);
            setUpMask(w, h, 12, m);
            uint8_t settings[6] = {uint8_t(random() % 12), 0, uint8_t(1 + random() % 9)};
            randomSettings(settings);
            ASSERT_TRUE(matches(settings))
                << cpuVariantName(CpuVariant(v)) << " box width " << boxWidth;
        }
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
