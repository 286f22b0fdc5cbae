// The zoom curve and texture coordinates, the two surface texture stages and
// the two image map stages, run on small frames through the engine set-up.

#include <gtest/gtest.h>

#include "engine/Engine.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace lustra;

constexpr int kBorder = 30;
constexpr int8_t kSentinel = 99;

// A pixel with blue, green and red bytes and a fourth byte.
uint32_t bgr(int b, int g, int r, int extra = 0) {
    return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | uint32_t(extra) << 24;
}

// An engine set up on a small frame, with a data directory holding
// metal.pat and whatever patterns a test writes.
class EngineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lustra_surfaceXXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        directory = std::string(name) + "/";
        writePattern("metal.pat", [](int, int) { return 0; });
    }

    void TearDown() override {
        engineTeardown();
        for (const char *file :
             {"metal.pat", "normal.pat", "fractal.pat", "turbulence.pat", "fracturb.pat"})
            std::remove((directory + file).c_str());
        rmdir(directory.c_str());
    }

    void writePattern(const char *file, const std::function<int(int, int)> &height) {
        std::vector<uint8_t> bytes(65536);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) bytes[y * 256 + x] = uint8_t(height(x, y));
        std::FILE *out = std::fopen((directory + file).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }

    // Sets the engine up for a w x h frame whose mask is `coverage`.
    void setUp(int w, int h, const std::function<int(int, int)> &coverage) {
        engineTeardown();
        const int pw = w + 2 * kBorder, ph = h + 2 * kBorder;
        paddedMask.assign(size_t(pw) * ph, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                paddedMask[size_t(y + kBorder) * pw + x + kBorder] = uint8_t(coverage(x, y));
        pixels.assign(size_t(w) * h, 0);
        job.width = int16_t(w);
        job.height = int16_t(h);
        job.paddedMask = paddedMask.data();
        job.pixels = pixels.data();
        job.dataDirectory = directory.c_str();
        job.border = kBorder;
        ASSERT_EQ(engineSetup(job), 0);
        frame = size_t(w) * h;
    }

    int8_t outX(int which, int x, int y) const {
        return (which == 1 ? engine.texturedSlopeX1 : engine.texturedSlopeX2)[y * job.width + x];
    }
    int8_t outY(int which, int x, int y) const {
        return (which == 1 ? engine.texturedSlopeY1 : engine.texturedSlopeY2)[y * job.width + x];
    }

    void fillOutputs(int8_t value) {
        for (size_t p = 0; p < frame; ++p)
            engine.texturedSlopeX1[p] = engine.texturedSlopeY1[p] = engine.texturedSlopeX2[p] =
                engine.texturedSlopeY2[p] = value;
    }

    std::string directory;
    RenderJob job;
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    size_t frame = 0;
};

// ---------------------------------------------------------------------------
// Zoom curve and coordinate tables

TEST(ZoomCurve, FollowsTheThreeBranches) {
    EXPECT_EQ(zoomScale(0), 128);
    EXPECT_EQ(zoomScale(1), 127);
    EXPECT_EQ(zoomScale(64), 80);
    EXPECT_EQ(zoomScale(127), 32);
    EXPECT_EQ(zoomScale(-1), 131);
    EXPECT_EQ(zoomScale(-128), 512);
    for (int z = -128; z < 127; ++z) EXPECT_GE(zoomScale(int8_t(z)), zoomScale(int8_t(z + 1)));
    EXPECT_EQ(zoomedOffset(-128, INT32_MIN), -512LL * 2147483648LL);
    EXPECT_EQ(zoomedOffset(127, INT32_MAX), 32LL * INT32_MAX);
}

class TextureCoordsTest : public EngineFixture {};

TEST_F(TextureCoordsTest, ZoomZeroSamplesEveryTexelInTurn) {
    setUp(320, 4, [](int, int) { return 0; });
    buildColumnCoords(128, engine.colCoords, engine.colFracs, 256, 0);
    for (int x = 0; x <= 320; ++x) {
        EXPECT_EQ(engine.colCoords[x], x % 256) << x;
        EXPECT_EQ(engine.colFracs[x], 0) << x;
    }
    // Offset -1 texel: one texel to the left everywhere, the centre included.
    buildColumnCoords(128, engine.colCoords, engine.colFracs, 256, zoomedOffset(0, -1));
    for (int x = 0; x <= 320; ++x) {
        EXPECT_EQ(engine.colCoords[x], (x + 255) % 256) << x;
        EXPECT_EQ(engine.colFracs[x], 0) << x;
    }
}

TEST_F(TextureCoordsTest, MagnifiedFractionsFloorAcrossTheCentre) {
    setUp(8, 8, [](int, int) { return 0; });
    // Scale 32 on a 4-texel texture: four pixels per texel, fractions 0, 64,
    // 128, 192; the pixels left of the centre belong to texel 3 (floor).
    buildRowCoords(32, engine.rowCoords, engine.rowFracs, 4, 0);
    const int coords[9] = {3, 3, 3, 3, 0, 0, 0, 0, 1};
    const int fracs[9] = {0, 64, 128, 192, 0, 64, 128, 192, 0};
    for (int y = 0; y <= 8; ++y) {
        EXPECT_EQ(engine.rowCoords[y], coords[y]) << y;
        EXPECT_EQ(engine.rowFracs[y], fracs[y]) << y;
    }
}

TEST_F(TextureCoordsTest, HugeOffsetsKeepTheTilingPeriod) {
    setUp(37, 3, [](int, int) { return 0; });
    // A whole number of tiles of an odd-sized picture moves nothing, even
    // when zoom x offset needs more than 32 bits.
    std::vector<uint16_t> base(38);
    std::vector<uint8_t> baseFracs(38);
    for (int zoom : {-128, -77, 0, 5, 127}) {
        const int32_t scale = zoomScale(int8_t(zoom));
        buildColumnCoords(scale, base.data(), baseFracs.data(), 7, zoomedOffset(int8_t(zoom), 3));
        for (int32_t tiles : {306783378, -306783378}) {
            buildColumnCoords(scale, engine.colCoords, engine.colFracs, 7,
                              zoomedOffset(int8_t(zoom), 3 + 7 * tiles));
            for (int x = 0; x <= 37; ++x) {
                ASSERT_LT(engine.colCoords[x], 7);
                EXPECT_EQ(engine.colCoords[x], base[x]) << zoom << " " << x;
                EXPECT_EQ(engine.colFracs[x], baseFracs[x]) << zoom << " " << x;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Surface textures

class SurfaceTextureTest : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        // A ramp along x: every gradient is -1 except at the wrap (columns 0
        // and 255, 127), so after normalisation -128 and 127; gy is flat.
        writePattern("normal.pat", [](int x, int) { return x; });
    }

    void textureOn(int which, int type, int depth, int8_t zoomX = 0, int8_t zoomY = 0) {
        if (which == 1) {
            job.texture1On = 1;
            job.texture1Type = uint8_t(type);
            job.texture1Depth = uint8_t(depth);
            job.texture1HeightMin = 0;
            job.texture1HeightMax = 255;
            job.texture1ScaleX = zoomX;
            job.texture1ScaleY = zoomY;
        } else {
            job.texture2On = 1;
            job.texture2Type = uint8_t(type);
            job.texture2Depth = uint8_t(depth);
            job.texture2HeightMin = 0;
            job.texture2HeightMax = 255;
            job.texture2ScaleX = zoomX;
            job.texture2ScaleY = zoomY;
        }
    }
};

TEST_F(SurfaceTextureTest, PatternAtZoomZeroScalesEachTexelByDepth) {
    setUp(320, 6, [](int, int) { return 0; });
    textureOn(2, 0, 200);
    surfaceTextureStage2(job);
    // Column x samples texel column x mod 256: 127 at columns 0 and 255,
    // -128 elsewhere; (200 x g) >> 8 floors.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 320; ++x) {
            const int g = (x % 256 == 0 || x % 256 == 255) ? 127 : -128;
            ASSERT_EQ(outX(2, x, y), (200 * g) >> 8) << x;
            ASSERT_EQ(outY(2, x, y), 0) << x;
        }
    EXPECT_EQ(outX(2, 1, 0), -100);
    EXPECT_EQ(outX(2, 0, 0), 99);
}

@@REST@@

} // namespace
