// The bevel, glow and shadow stages on small masks set up through the engine:
// stamp values, tie and rounding rules, frame borders and margins, and extreme
// settings on tiny frames (meant to run under the sanitizers).

#include <gtest/gtest.h>

#include "DataDirectory.h"
#include "engine/Engine.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace lustra;

// An engine on a small frame whose padded mask has exactly the promised
// size, so that any read outside it is caught by the sanitizers.
class ReliefFixture : public ::testing::Test {
  protected:
    void TearDown() override { engineTeardown(); }

    void setUp(int w, int h, const std::function<int(int, int)> &coverage, int border = 30) {
        engineTeardown();
        W = w, H = h, R = border, paddedWidth = w + 2 * border;
        paddedMask.assign(size_t(paddedWidth) * (h + 2 * border), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) paddedMask[padded(x, y)] = uint8_t(coverage(x, y));
        pixels.assign(size_t(w) * h, 0);
        job = RenderJob();
        job.width = int16_t(w), job.height = int16_t(h), job.border = border;
        job.paddedMask = paddedMask.data(), job.pixels = pixels.data();
        job.dataDirectory = data.path.c_str();
        ASSERT_EQ(engineSetup(job), 0);
    }

    size_t padded(int x, int y) const { return size_t(y + R) * paddedWidth + x + R; }
    size_t at(int x, int y) const { return size_t(y) * W + x; }
    // Stamp cell (dx, dy) of radius a: row dy + a, column dx + a, stride 2R+1.
    int cell(int a, int dx, int dy) const { return (dy + a) * (2 * R + 1) + dx + a; }

    void bevel(int width, int depth, int smoothing, int inner = 0, int direction = 1,
               int edge = 0) {
        const uint8_t params[6] = {uint8_t(width), uint8_t(depth), uint8_t(smoothing),
                                   uint8_t(edge),  uint8_t(inner), uint8_t(direction)};
        job.bevel.width = params[0], job.bevel.depth = params[1], job.bevel.smoothing = params[2];
        job.bevel.edgeSlope = int8_t(params[3]), job.bevel.innerSlope = int8_t(params[4]);
        job.bevel.direction = BevelDirection(int8_t(params[5]));
        job.bevel.on = 1;
        bevelStage(job);
    }
    void glow(int width, int softness, int profile) {
        const uint8_t params[4] = {uint8_t(width), 100, uint8_t(softness), uint8_t(profile)};
        job.glow.width = params[0], job.glow.opacity = params[1], job.glow.softness = params[2];
        job.glow.profile = GlowProfile(params[3]);
        job.glow.on = 1;
        glowStage(job);
    }
    void shadow(int softness) {
        job.shadow.softness = uint8_t(softness), job.shadow.opacity = 100, job.shadow.on = 1;
        shadowStage(job);
    }

    test::DataDirectory data; // holds the metal pattern set-up needs
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    RenderJob job;
    int W = 0, H = 0, R = 30, paddedWidth = 0;
};

using BevelStageTest = ReliefFixture;
using GlowStageTest = ReliefFixture;
using ShadowStageTest = ReliefFixture;
using ReliefRobustness = ReliefFixture;

int singlePixel(int x, int y) {
    return x == 4 && y == 4 ? 255 : 0;
}

TEST_F(BevelStageTest, StampsFollowTheCubicProfile) {
    setUp(9, 9, singlePixel);
    bevel(3, 100, 0);
    const uint8_t *height = engine.bevelStampHeight;
    EXPECT_EQ(height[cell(3, 0, 0)], 255);
    EXPECT_EQ(height[cell(3, 1, 0)], 188);
    EXPECT_EQ(height[cell(3, 2, 0)], 66);
    EXPECT_EQ(height[cell(3, 3, 0)], 0);
    EXPECT_EQ(height[cell(3, 0, -2)], 66);
    EXPECT_EQ(height[cell(3, 1, 1)], 138);
    // Slopes point back toward the edge pixel, clamped from about -169.
    EXPECT_EQ(engine.bevelStampSlopeX[cell(3, 0, 0)], 0);
    EXPECT_EQ(engine.bevelStampSlopeX[cell(3, 1, 0)], -127);
    EXPECT_EQ(engine.bevelStampSlopeX[cell(3, 2, 0)], -127);
    EXPECT_EQ(engine.bevelStampSlopeX[cell(3, -2, 0)], 127);
    EXPECT_EQ(engine.bevelStampSlopeY[cell(3, 1, 0)], 0);
    EXPECT_EQ(engine.bevelStampSlopeY[cell(3, 0, 1)], -127);

    // Overshooting profiles wrap: inner slope +10 gives X(0.5) = 1.75, 446
    // wraps to 190; inner slope -10 gives -191.25, made -192, that is 64.
    bevel(2, 100, 0, 50);
    EXPECT_EQ(height[cell(2, 1, 0)], 190);
    bevel(2, 100, 0, uint8_t(-50));
    EXPECT_EQ(height[cell(2, 1, 0)], 64);
}

// A 1-pixel line across a 40 x 9 frame (row 4): each line pixel is reached
// at distance 1 by the edge pixels above and below with the equal height 188
// (above 127, so compared unsigned); the one above comes first and wins.
TEST_F(BevelStageTest, LineTieRuleScaleAndRounding) {
    setUp(40, 9, [](int, int y) { return y == 4 ? 255 : 0; });
    auto expectLine = [&](int expectedY) {
        for (int x = 0; x < W; ++x) {
            ASSERT_EQ(engine.slopeX[at(x, 4)], 0) << x;
            ASSERT_EQ(engine.slopeY[at(x, 4)], expectedY) << x;
        }
    };
    bevel(3, 100, 0);
    for (int x = 0; x < W; ++x) ASSERT_EQ(engine.rawSlopeY[at(x, 4)], -127) << x;
    expectLine(-127); // f = 256: the raw slopes exactly
    bevel(3, 100, 0, 0, 255);
    expectLine(127); // sunken
    bevel(3, 50, 0); // f = 128 without smoothing: -63.5 shifts down to -64
    expectLine(-64);

    // With smoothing the division truncates toward zero; only covered pixels
    // are written, the first and last columns included.
    std::memset(engine.slopeY, 99, size_t(W) * H);
    bevel(3, 50, 1);
    expectLine(-63);
    EXPECT_EQ(engine.slopeY[at(0, 3)], 99);

    // Depth 255 and direction 127 (f = 652 x 127) with smoothing 30: the mean
    // is exactly -127, and SX x f passes 32 bits; the low byte is kept.
    bevel(3, 255, 30, 0, 127);
    expectLine(int8_t(uint8_t(int64_t(-127) * 652 * 127 / 256)));
}

TEST_F(BevelStageTest, NoWidthOrNoEdgesLeaveFlatOrUntouchedSlopes) {
    setUp(9, 9, [](int x, int y) { return x > 2 && x < 7 && y > 2 && y < 7 ? 200 : 0; });
    std::memset(engine.rawSlopeX, 77, 81);
    bevel(0, 100, 2);
    for (int y = 3; y < 7; ++y)
        for (int x = 3; x < 7; ++x) EXPECT_EQ(engine.slopeX[at(x, y)], 0);

    setUp(9, 9, [](int, int) { return 255; });
    std::memset(engine.slopeX, 5, 81);
    bevel(3, 100, 2);
    EXPECT_EQ(engine.slopeX[at(4, 4)], 5);
}

TEST_F(GlowStageTest, ProfileStampsFollowSoftnessAroundTheOutline) {
    // An opaque pixel with a partly covered one to its right.
    setUp(15, 15, [](int x, int y) { return y != 7 ? 0 : x == 7 ? 255 : x == 8 ? 128 : 0; });
    std::memset(engine.glowMap, 9, 225);
    glow(4, 100, 1); // X = t^2
    EXPECT_EQ(engine.glowStamp[cell(4, 0, -3)], 15);
    EXPECT_EQ(engine.glowStamp[cell(4, 2, 2)], 21);
    const int expected[] = {9, 143, 255, 143, 63, 15, 0}; // x = 7..13
    for (int x = 7; x <= 13; ++x) EXPECT_EQ(engine.glowMap[at(x, 7)], expected[x - 7]) << x;
    EXPECT_EQ(engine.glowMap[at(0, 0)], 0);

    glow(4, 0, 1); // X = t + t^2 - t^3
    EXPECT_EQ(engine.glowStamp[cell(4, 1, 0)], 227);
    EXPECT_EQ(engine.glowStamp[cell(4, 2, 0)], 159);
    EXPECT_EQ(engine.glowStamp[cell(4, 3, 0)], 75);
}

TEST_F(GlowStageTest, BlurredShapeIsClampedAndNormalisedToItsPeak) {
    // A 3 x 3 square, radius 1 (weights 681, 2725, 681): the raw values right
    // of it are 55 (the peak), 46 and 9.
    setUp(11, 11, [](int x, int y) { return x >= 4 && x <= 6 && y >= 4 && y <= 6 ? 255 : 0; });
    glow(1, 0, 0);
    EXPECT_EQ(engine.glowMap[at(7, 5)], 255);
    EXPECT_EQ(engine.glowMap[at(7, 4)], 46 * 255 / 55);
    EXPECT_EQ(engine.glowMap[at(7, 3)], 9 * 255 / 55);
    EXPECT_EQ(engine.glowMap[at(5, 3)], 255);
    EXPECT_EQ(engine.glowMap[at(5, 2)], 0);
    EXPECT_EQ(engine.glowMap[at(8, 5)], 0);

    // A partly covered hole in a solid block collects about 1.3 x 255.
    setUp(21, 21, [](int x, int y) {
        return x == 10 && y == 10 ? 100 : x >= 3 && x <= 17 && y >= 3 && y <= 17 ? 255 : 0;
    });
    glow(3, 0, 0);
    EXPECT_EQ(engine.glowMap[at(10, 10)], 255);
    EXPECT_GT(engine.glowMap[at(18, 10)], engine.glowMap[at(19, 10)]);
}

TEST_F(ShadowStageTest, SoftnessZeroCopiesTheMask) {
    setUp(6, 5, [](int x, int y) { return (x + y) % 3 == 0 ? 0 : x % 2 ? 255 : 30 * x + y + 1; });
    std::memset(engine.shadowMap, 7, size_t(paddedWidth) * (H + 2 * R));
    shadow(0);
    for (int y = -R; y < H + R; ++y)
        for (int x = -R; x < W + R; ++x) {
            const bool inFrame = x >= 0 && x < W && y >= 0 && y < H;
            ASSERT_EQ(engine.shadowMap[padded(x, y)], inFrame ? paddedMask[padded(x, y)] : 0);
        }
}

TEST_F(ShadowStageTest, SoftSquareFromOpaquePixelsReachesIntoTheMargin) {
    // An opaque square in the top-left corner and a partly covered one.
    setUp(60, 40, [](int x, int y) { return y >= 12 ? 0 : x < 12 ? 255 : x >= 40 ? 254 : 0; });
    shadow(5);
    const auto map = [&](int x, int y) { return engine.shadowMap[padded(x, y)]; };
    EXPECT_EQ(map(6, 6), 254);
    for (int x = 11; x < 16; ++x) EXPECT_GT(map(x, 6), map(x + 1, 6)) << x;
    EXPECT_GT(map(16, 6), 0);
    EXPECT_EQ(map(17, 6), 0);
    EXPECT_GT(map(-5, 6), 0);
    EXPECT_EQ(map(-6, 6), 0);
    EXPECT_EQ(map(-1, 6), map(6, -1));
    EXPECT_EQ(map(50, 6), 0); // partly covered pixels cast no shadow
}

TEST_F(ShadowStageTest, WideSoftnessReadsNothingBeyondThePaddedMask) {
    // Softness 30 on a 6-row band reaches 60 rows above and below it; rows
    // beyond the padded mask read as transparent, so the map stays symmetric.
    setUp(20, 6, [](int x, int) { return x >= 5 && x < 15 ? 255 : 0; });
    shadow(30);
    EXPECT_GT(engine.shadowMap[padded(10, -10)], 0);
    for (int y = -R; y < H + R; ++y)
        for (int x = -R; x < W + R; ++x)
            ASSERT_EQ(engine.shadowMap[padded(x, y)], engine.shadowMap[padded(x, H - 1 - y)]);
}

// Radii beyond the border act as the border (also for a border of 2).
TEST_F(ReliefRobustness, RadiiAreLimitedToTheBorder) {
    for (int border : {30, 2}) {
        setUp(
            12, 9, [](int x, int y) { return x > 3 && x < 8 && y > 2 && y < 6 ? 255 : 0; }, border);
        const size_t frame = size_t(W) * H, paddedSize = size_t(paddedWidth) * (H + 2 * R);
        auto planes = [&] {
            bevel(255, 100, 255);
            glow(255, 50, 1);
            shadow(255);
            std::vector<uint8_t> all(engine.glowMap, engine.glowMap + frame);
            all.insert(all.end(), engine.slopeX, engine.slopeX + frame);
            all.insert(all.end(), engine.shadowMap, engine.shadowMap + paddedSize);
            return all;
        };
        const std::vector<uint8_t> wide = planes();
        bevel(border, 100, border);
        glow(border, 50, 1);
        shadow(border);
        EXPECT_EQ(planes(), wide);
    }
}

// Tiny frames, random masks and the extreme bytes of every setting, with
// borders 30, 1 and 0: no access outside any plane (the sanitizers check),
// and the shadow map keeps its range.
TEST_F(ReliefRobustness, ExtremeSettingsOnTinyFrames) {
    std::mt19937 random(7);
    const int levels[] = {0, 1, 128, 254, 255};
    const int sizes[][2] = {{1, 2}, {2, 1}, {2, 2}, {3, 3}, {1, 7}, {7, 1}, {5, 4}};
    for (const auto &size : sizes)
        for (int trial = 0; trial < 4; ++trial)
            for (int border : {30, 1, 0}) {
                setUp(
                    size[0], size[1], [&](int, int) { return levels[random() % 5]; }, border);
                for (int radius : {0, 1, 30, 255}) {
                    for (int direction : {1, 255, 128, 127}) {
                        bevel(radius, 255, radius, 127, direction, 128);
                        bevel(radius, 100, 255 - radius, 128, direction, 127);
                    }
                    for (int softness : {0, 100, 255}) {
                        glow(radius, softness, 1);
                        glow(radius, softness, 0);
                    }
                    shadow(radius);
                    if (engine.edgeCount == 0 || radius == 0 || R == 0) continue;
                    for (int y = -R; y < H + R; ++y)
                        for (int x = -R; x < W + R; ++x)
                            ASSERT_LE(engine.shadowMap[padded(x, y)], 254);
                }
            }
}

} // namespace
