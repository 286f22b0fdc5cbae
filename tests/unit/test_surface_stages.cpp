// The zoom curve and texture coordinates, the two surface texture stages and
// the two image map stages, run on small frames through the engine set-up.

#include <gtest/gtest.h>

#include "engine/BufferRecycler.h"
#include "engine/Engine.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace lustra;

constexpr int kBorder = 30;
constexpr int8_t kUntouched = 99;

uint32_t bgr(int b, int g, int r) {
    return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16;
}

std::vector<uint32_t> numberedPicture(int w, int h) {
    std::vector<uint32_t> picture(size_t(w) * h);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = bgr(int(i * 7 % 256), int(i * 31 % 256), int(i * 101 % 256)) | uint32_t(i)
                                                                                        << 24;
    return picture;
}

// An engine set up on a small frame, with a data directory holding metal.pat
// and the ramp pattern normal.pat: heights = column, so every x gradient is
// -128 after normalisation except 127 on columns 0 and 255; no y gradient.
class StageFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lustra_surfaceXXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        directory = std::string(name) + "/";
        writePattern("metal.pat", [](int, int) { return 0; });
        writePattern("normal.pat", [](int x, int) { return x; });
    }
    void TearDown() override {
        engineTeardown();
        for (const char *file : {"metal.pat", "normal.pat", "fractal.pat"})
            std::remove((directory + file).c_str());
        rmdir(directory.c_str());
    }
    void writePattern(const char *file, const std::function<int(int, int)> &height) {
        std::vector<uint8_t> bytes(65536);
        for (int i = 0; i < 65536; ++i) bytes[i] = uint8_t(height(i % 256, i / 256));
        std::FILE *out = std::fopen((directory + file).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    void setUp(int w, int h, const std::function<int(int, int)> &coverage) {
        engineTeardown();
        const int pw = w + 2 * kBorder;
        paddedMask.assign(size_t(pw) * (h + 2 * kBorder), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                paddedMask[size_t(y + kBorder) * pw + x + kBorder] = uint8_t(coverage(x, y));
        pixels.assign(size_t(w) * h, 0);
        job.width = int16_t(w);
        job.height = int16_t(h);
        job.paddedMask = paddedMask.data();
        job.pixels = pixels.data();
        job.dataDirectory = directory.c_str();
        ASSERT_EQ(engineSetup(job), 0);
        frame = size_t(w) * h;
        for (size_t p = 0; p < frame; ++p)
            engine.texturedSlopeX1[p] = engine.texturedSlopeY1[p] = engine.texturedSlopeX2[p] =
                engine.texturedSlopeY2[p] = kUntouched;
    }
    // Texture `which` on, full height window, no inversion, offset 0.
    void texture(int which, int type, int depth, int zoomX = 0, int zoomY = 0,
                 const uint32_t *image = nullptr, int w = 0, int h = 0) {
        if (which == 1) {
            job.texture[0].zoomX = int8_t(zoomX), job.texture[0].zoomY = int8_t(zoomY);
            job.texture[0].depth = uint8_t(depth), job.texture[0].type = TextureType(type);
            job.texture[0].heightMin = 0, job.texture[0].heightMax = 255, job.texture[0].on = 1;
            job.texture[0].invert = 0, job.texture[0].offsetX = job.texture[0].offsetY = 0;
            job.texture[0].image = image, job.texture[0].imageWidth = int16_t(w);
            job.texture[0].imageHeight = int16_t(h);
        } else {
            job.texture[1].zoomX = int8_t(zoomX), job.texture[1].zoomY = int8_t(zoomY);
            job.texture[1].depth = uint8_t(depth), job.texture[1].type = TextureType(type);
            job.texture[1].heightMin = 0, job.texture[1].heightMax = 255, job.texture[1].on = 1;
            job.texture[1].invert = 0, job.texture[1].offsetX = job.texture[1].offsetY = 0;
            job.texture[1].image = image, job.texture[1].imageWidth = int16_t(w);
            job.texture[1].imageHeight = int16_t(h);
        }
    }
    void map(int which, const std::vector<uint32_t> &picture, int w, int h, int zoomX = 0,
             int zoomY = 0, int32_t offsetX = 0, int32_t offsetY = 0) {
        if (which == 1) {
            job.map[0].on = 1, job.map[0].image = picture.data();
            job.map[0].imageWidth = int16_t(w), job.map[0].imageHeight = int16_t(h);
            job.map[0].zoomX = int8_t(zoomX), job.map[0].zoomY = int8_t(zoomY);
            job.map[0].offsetX = offsetX, job.map[0].offsetY = offsetY;
        } else {
            job.map[1].on = 1, job.map[1].image = picture.data();
            job.map[1].imageWidth = int16_t(w), job.map[1].imageHeight = int16_t(h);
            job.map[1].zoomX = int8_t(zoomX), job.map[1].zoomY = int8_t(zoomY);
            job.map[1].offsetX = offsetX, job.map[1].offsetY = offsetY;
        }
    }
    int gx(int which, int x, int y) const {
        return (which == 1 ? engine.texturedSlopeX1 : engine.texturedSlopeX2)[y * job.width + x];
    }
    int gy(int which, int x, int y) const {
        return (which == 1 ? engine.texturedSlopeY1 : engine.texturedSlopeY2)[y * job.width + x];
    }
    uint32_t colour(int which, int x, int y) const {
        return (which == 1 ? engine.imageMap1 : engine.imageMap2)[y * job.width + x] & 0xFFFFFFu;
    }

    std::string directory;
    RenderJob job;
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    size_t frame = 0;
};

TEST(ZoomCurve, FollowsTheThreeBranchesExactly) {
    const int zooms[] = {0, 1, 64, 127, -1, -128}, scales[] = {128, 127, 80, 32, 131, 512};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(zoomScale(int8_t(zooms[i])), scales[i]);
    EXPECT_EQ(zoomedOffset(-128, INT32_MIN), -512LL * 2147483648LL);
}

using TextureCoords = StageFixture;

TEST_F(TextureCoords, StepAndFractionAroundTheCentre) {
    setUp(320, 8, [](int, int) { return 0; });
    // Zoom 0 on 256 texels: x mod 256, fraction 0; offset -1 shifts one
    // texel left everywhere, the centre column included.
    for (int offset : {0, -1}) {
        buildColumnCoords(128, engine.colCoords, engine.colFracs, 256, zoomedOffset(0, offset));
        for (int x = 0; x <= 320; ++x) {
            ASSERT_EQ(engine.colCoords[x], (x + 256 + offset) % 256) << x;
            ASSERT_EQ(engine.colFracs[x], 0) << x;
        }
    }
    // Scale 32 on 4 texels: four rows per texel, fractions 0, 64, 128, 192;
    // the rows above the centre floor to texel 3.
    buildRowCoords(32, engine.rowCoords, engine.rowFracs, 4, 0);
    const int coords[9] = {3, 3, 3, 3, 0, 0, 0, 0, 1}, fracs[4] = {0, 64, 128, 192};
    for (int y = 0; y <= 8; ++y) {
        EXPECT_EQ(engine.rowCoords[y], coords[y]) << y;
        EXPECT_EQ(engine.rowFracs[y], fracs[y % 4]) << y;
    }
}

TEST_F(TextureCoords, HugeOffsetsKeepTheTilingPeriod) {
    // Shifting by 7 x 128 x k texels moves a 7-wide picture by whole tiles at
    // every scale, though zoom x offset needs more than 32 bits.
    setUp(37, 3, [](int, int) { return 0; });
    std::vector<uint16_t> base(38);
    std::vector<uint8_t> baseFracs(38);
    for (int zoom : {-128, -77, 0, 5, 127}) {
        const int32_t scale = zoomScale(int8_t(zoom));
        buildColumnCoords(scale, base.data(), baseFracs.data(), 7, zoomedOffset(int8_t(zoom), 3));
        for (int32_t k : {2396745, -2396745, 12345}) {
            buildColumnCoords(scale, engine.colCoords, engine.colFracs, 7,
                              zoomedOffset(int8_t(zoom), 3 + 7 * 128 * k));
            for (int x = 0; x <= 37; ++x) {
                ASSERT_EQ(engine.colCoords[x], base[x]) << zoom << " " << x;
                ASSERT_EQ(engine.colFracs[x], baseFracs[x]) << zoom << " " << x;
            }
        }
    }
}

using SurfaceTexture = StageFixture;

TEST_F(SurfaceTexture, VisitsTheShapeForTextureOneAndTheRestForTextureTwo) {
    // A shape in the bottom-right corner touching the last row and column,
    // one pixel partly covered. At zoom 0 and depth 200 column 0 gets
    // (200 x 127) >> 8 = 99, every other column (200 x -128) >> 8 = -100.
    auto coverage = [](int x, int y) {
        return x >= 9 && y >= 7 ? 255 : x == 8 && y == 7 ? 128 : 0;
    };
    setUp(12, 10, coverage);
    texture(1, 0, 200);
    texture(2, 0, 200);
    surfaceTextureStage1(job);
    surfaceTextureStage2(job);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
            const int texel = x == 0 ? 99 : -100, m = coverage(x, y);
            ASSERT_EQ(gx(1, x, y), m != 0 ? texel : kUntouched) << x << "," << y;
            ASSERT_EQ(gx(2, x, y), m != 255 ? texel : kUntouched) << x << "," << y;
        }
    // Empty mask: texture 1 covers nothing.
    setUp(12, 10, [](int, int) { return 0; });
    surfaceTextureStage1(job);
    for (size_t p = 0; p < frame; ++p) ASSERT_EQ(engine.texturedSlopeX1[p], kUntouched);
}

TEST_F(SurfaceTexture, TextureOneAddsToTheReliefAndClamps) {
    setUp(300, 4, [](int, int) { return 255; });
    for (size_t p = 0; p < frame; ++p) engine.slopeX[p] = int8_t(p % 2 ? 120 : -120);
    texture(1, 0, 255);
    surfaceTextureStage1(job);
    // GX = 126 on texel column 0 and 255, -128 elsewhere (255 x -128 >> 8 floors).
    EXPECT_EQ(gx(1, 0, 0), 6);     // -120 + 126
    EXPECT_EQ(gx(1, 255, 0), 127); // 120 + 126
    EXPECT_EQ(gx(1, 1, 0), -8);    // 120 - 128
    EXPECT_EQ(gx(1, 2, 0), -128);  // -120 - 128
    EXPECT_EQ(gx(1, 256, 3), 6);   // tiled: texel column 0 again
    EXPECT_EQ(gy(1, 7, 1), 0);
}

TEST_F(SurfaceTexture, UnusableTexturesLeaveTheOutputsAlone) {
    setUp(16, 8, [](int x, int) { return x < 8 ? 255 : 0; });
    const uint32_t pic[4] = {bgr(0, 0, 0), bgr(255, 0, 0), bgr(0, 9, 0), bgr(0, 0, 90)};
    // Off, pattern file missing, unknown type, no picture, empty sizes.
    const int on[] = {0, 2, 1, 1, 1, 1, 1}, type[] = {0, 0, 1, 9, 4, 4, 4};
    const uint32_t *image[] = {pic, pic, pic, pic, nullptr, pic, pic};
    const int w[] = {2, 2, 2, 2, 2, 0, 2}, h[] = {2, 2, 2, 2, 2, 2, -2};
    for (int c = 0; c < 7; ++c) {
        for (int which : {1, 2}) texture(which, type[c], 255, 0, 0, image[c], w[c], h[c]);
        job.texture[0].on = job.texture[1].on = uint8_t(on[c]);
        surfaceTextureStage1(job);
        surfaceTextureStage2(job);
        for (size_t p = 0; p < frame; ++p) {
            ASSERT_EQ(engine.texturedSlopeX1[p], kUntouched) << c;
            ASSERT_EQ(engine.texturedSlopeY2[p], kUntouched) << c;
        }
        // Recorded as off, so that the shading does not read the stale slopes.
        EXPECT_NE(engine.textureOn[0], 1) << c;
        EXPECT_NE(engine.textureOn[1], 1) << c;
    }
}

TEST_F(SurfaceTexture, DepthZeroOrAClosedWindowLeavesTheRelief) {
    writePattern("fractal.pat", [](int x, int y) { return 1 + (x * 3 + y * 5) % 200; });
    setUp(30, 9, [](int x, int) { return x < 15 ? 255 : 0; });
    for (size_t p = 0; p < frame; ++p) engine.slopeX[p] = int8_t(p * 7);
    const int zooms[][2] = {{127, 127}, {-128, 127}, {127, -128}, {-128, -128}, {0, 0}};
    for (const auto &z : zooms)
        for (int closed : {0, 1}) {
            for (int which : {1, 2}) texture(which, 1, closed ? 255 : 0, z[0], z[1]);
            if (closed) job.texture[0].heightMax = job.texture[1].heightMax = 0; // all heights > 0
            surfaceTextureStage1(job);
            surfaceTextureStage2(job);
            for (size_t p = 0; p < frame; ++p)
                if (p % 30 < 15)
                    ASSERT_EQ(engine.texturedSlopeX1[p], engine.slopeX[p]);
                else
                    ASSERT_EQ(engine.texturedSlopeX2[p] | engine.texturedSlopeY2[p], 0);
        }
}

TEST_F(SurfaceTexture, RejectedTexelsLeaveTheAreaAverageButCountInSpans) {
    // Zoom -128 across: pixel x covers ramp columns (4x - 96) mod 256 + 0..3.
    // The window 0..125 accepts columns 0..125.
    setUp(64, 4, [](int, int) { return 0; });
    for (int zoomY : {-128, 127}) {
        texture(2, 0, 255, -128, zoomY);
        job.texture[1].heightMax = 125;
        surfaceTextureStage2(job);
        EXPECT_EQ(gx(2, 24, 1), -64); // columns 0..3: (127 - 3 x 128) / 4 truncates to -64
        EXPECT_EQ(gx(2, 56, 1), 0);   // columns 128..131: none accepted
        // Columns 124..127: the area average takes 124 and 125 only; the
        // column span counts 126 and 127 as zero.
        EXPECT_EQ(gx(2, 55, 1), zoomY < 0 ? -128 : -64);
    }
}

TEST_F(SurfaceTexture, InversionMirrorsEveryByteOnce) {
    setUp(270, 3, [](int, int) { return 0; });
    texture(2, 0, 200);
    surfaceTextureStage2(job);
    const std::vector<uint8_t> heights(engine.textureHeight[1], engine.textureHeight[1] + 65536);
    const std::vector<int8_t> slopes(engine.textureSlopeX[1], engine.textureSlopeX[1] + 65536);
    job.texture[1].invert = 1;
    job.texture[1].heightMin = 250; // inverted heights 250..255: columns 0..5
    for (int run = 0; run < 2; ++run) {
        surfaceTextureStage2(job);
        for (int i = 0; i < 65536; ++i) {
            ASSERT_EQ(engine.textureHeight[1][i], 255 - heights[i]); // 10 -> 245
            ASSERT_EQ(engine.textureSlopeX[1][i], -slopes[i] - 1);   // 5 -> -6, -3 -> 2
            ASSERT_EQ(engine.textureSlopeY[1][i], -1);
        }
        EXPECT_EQ(gx(2, 0, 0), -100); // 127 read as -128
        EXPECT_EQ(gx(2, 3, 0), 99);   // -128 read as 127
        EXPECT_EQ(gx(2, 10, 0), 0);   // inverted height 245 is outside the window
    }
}

TEST_F(SurfaceTexture, PictureHeightsAndGradientsAreStretched) {
    // One row, brightest bytes 100, 110, 130, 200: heights 0, 25, 76, 255;
    // gradients 690 / 6 = 115, -38, -115, 38 stretch to 127, -43, -128, 41.
    const uint32_t row[4] = {bgr(100, 0, 0), bgr(0, 110, 3), bgr(1, 2, 130), bgr(200, 200, 7)};
    setUp(4, 2, [](int, int) { return 0; });
    texture(2, 4, 255, 0, 0, row, 4, 1);
    surfaceTextureStage2(job);
    const PictureTexture &t = engine.pictureTexture[1];
    const int heights[4] = {0, 25, 76, 255}, slopes[4] = {127, -43, -128, 41};
    for (int u = 0; u < 4; ++u) {
        EXPECT_EQ(t.heights[u], heights[u]);
        EXPECT_EQ(t.gradientX[u], slopes[u]);
        EXPECT_EQ(t.gradientY[u], 0);
    }
    // A uniform picture keeps its heights and has no gradient at all.
    const std::vector<uint32_t> flat(15, bgr(40, 90, 60));
    texture(2, 4, 255, 0, 0, flat.data(), 5, 3);
    surfaceTextureStage2(job);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(t.heights[i], 90);
        EXPECT_EQ(t.gradientX[i] | t.gradientY[i], 0);
    }
    for (size_t p = 0; p < frame; ++p) EXPECT_EQ(engine.texturedSlopeX2[p], 0);
}

TEST_F(SurfaceTexture, PicturePlanesAreRebuiltWholeInRecycledBuffers) {
    // The planes of a picture texture are recycled buffers: a later call at
    // the same size gets the earlier call's bytes back and must overwrite
    // every one of them, and the tear-down hands all three back.
    setUp(6, 4, [](int, int) { return 0; });
    const std::vector<uint32_t> first = numberedPicture(7, 5);
    std::vector<uint32_t> second(first.size());
    for (size_t i = 0; i < second.size(); ++i) second[i] = bgr(int(i * 13 % 256), 0, 0);
    // The second picture's planes as built into fresh memory.
    texture(2, 4, 255, 0, 0, second.data(), 7, 5);
    surfaceTextureStage2(job);
    const PictureTexture &t = engine.pictureTexture[1];
    const std::vector<uint8_t> heights(t.heights, t.heights + 35);
    const std::vector<int8_t> slopesX(t.gradientX, t.gradientX + 35);
    const std::vector<int8_t> slopesY(t.gradientY, t.gradientY + 35);
    engineTeardown();
    const size_t before = takenBufferBytes();
    setUp(6, 4, [](int, int) { return 0; });
    const size_t setUpBytes = takenBufferBytes();
    surfaceTextureStage2(job);
    EXPECT_EQ(takenBufferBytes(), setUpBytes + 3 * 35);
    engineTeardown();
    EXPECT_EQ(takenBufferBytes(), before);
    for (int run = 0; run < 3; ++run) {
        setUp(6, 4, [](int, int) { return 0; });
        texture(2, 4, 255, 0, 0, (run == 1 ? first : second).data(), 7, 5);
        surfaceTextureStage2(job);
        if (run == 1) continue; // leaves the first picture's bytes in the buffers
        for (int i = 0; i < 35; ++i) {
            ASSERT_EQ(t.heights[i], heights[i]) << "run " << run << " texel " << i;
            ASSERT_EQ(t.gradientX[i], slopesX[i]) << "run " << run << " texel " << i;
            ASSERT_EQ(t.gradientY[i], slopesY[i]) << "run " << run << " texel " << i;
        }
    }
}

TEST_F(SurfaceTexture, TextureTwoOnTextureOnesPixelsMatchesItsOwnBuild) {
    // In a single run texture 2 takes texture 1's planes when its picture
    // holds the same pixels: whatever either inversion, and only then, it
    // must come out as when built from its own picture.
    setUp(12, 9, [](int x, int y) { return x >= 3 && x < 9 && y >= 2 && y < 7 ? 255 : 0; });
    const std::vector<uint32_t> picture = numberedPicture(11, 7);
    for (int change = 0; change < 3; ++change)
        for (int invert1 = 0; invert1 < 2; ++invert1)
            for (int invert2 = 0; invert2 < 2; ++invert2) {
                std::vector<uint32_t> other = picture;     // a buffer of its own
                if (change == 1) other[40] ^= 0x000100u;   // one green step apart
                if (change == 2) other[76] ^= 0x01000000u; // the byte no plane reads
                texture(1, 4, 200, 0, 0, picture.data(), 11, 7);
                texture(2, 4, 255, -100, -60, other.data(), 11, 7);
                job.texture[0].invert = uint8_t(invert1);
                job.texture[1].invert = uint8_t(invert2);
                job.texture[1].heightMin = 20;
                job.singleRun = 0;
                surfaceTextureStage2(job);
                const PictureTexture &t = engine.pictureTexture[1];
                const std::vector<uint8_t> heights(t.heights, t.heights + 77);
                const std::vector<int8_t> planeX(t.gradientX, t.gradientX + 77);
                const std::vector<int8_t> planeY(t.gradientY, t.gradientY + 77);
                const std::vector<int8_t> outX(engine.texturedSlopeX2,
                                               engine.texturedSlopeX2 + frame);
                const std::vector<int8_t> outY(engine.texturedSlopeY2,
                                               engine.texturedSlopeY2 + frame);
                for (size_t p = 0; p < frame; ++p)
                    engine.texturedSlopeX2[p] = engine.texturedSlopeY2[p] = kUntouched;
                job.singleRun = 1;
                surfaceTextureStage1(job);
                surfaceTextureStage2(job);
                const std::string what = "change " + std::to_string(change) + " inversions " +
                                         std::to_string(invert1) + std::to_string(invert2);
                for (int i = 0; i < 77; ++i) {
                    ASSERT_EQ(t.heights[i], heights[i]) << what;
                    ASSERT_EQ(t.gradientX[i], planeX[i]) << what;
                    ASSERT_EQ(t.gradientY[i], planeY[i]) << what;
                }
                for (size_t p = 0; p < frame; ++p) {
                    ASSERT_EQ(engine.texturedSlopeX2[p], outX[p]) << what;
                    ASSERT_EQ(engine.texturedSlopeY2[p], outY[p]) << what;
                }
                // Texture 1's planes keep its own inversion (texture 2's heights
                // above carry texture 2's).
                const PictureTexture &one = engine.pictureTexture[0];
                EXPECT_EQ(one.heights[0], invert1 == invert2 ? heights[0] : 255 - heights[0])
                    << what;
            }
    // Texture 1 over an empty mask builds nothing this run: texture 2 builds
    // its own planes rather than take those of an earlier run.
    setUp(12, 9, [](int, int) { return 0; });
    std::vector<uint32_t> flat(77, bgr(9, 9, 9));
    texture(1, 4, 200, 0, 0, flat.data(), 11, 7);
    job.singleRun = 1;
    surfaceTextureStage1(job);
    std::vector<uint32_t> second = flat;
    texture(2, 4, 255, 0, 0, second.data(), 11, 7);
    surfaceTextureStage2(job);
    EXPECT_EQ(engine.pictureTexture[1].heights[0], 9);
}

TEST_F(SurfaceTexture, BilinearSamplingWrapsAndFloors) {
    // A 4 x 4 picture, bright at (0, 0): gradients 127 / -128 beside it
    // (wrapping round every edge), -1 elsewhere. Zoom 127: four pixels per
    // texel, pixel (1, 0) on texel (3, 3) at fractions (64, 0).
    std::vector<uint32_t> picture(16, bgr(20, 5, 0));
    picture[0] = bgr(10, 200, 100);
    setUp(8, 8, [](int, int) { return 0; });
    texture(2, 4, 255, 127, 127, picture.data(), 4, 4);
    surfaceTextureStage2(job);
    const PictureTexture &t = engine.pictureTexture[1];
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u) {
            EXPECT_EQ(t.gradientX[v * 4 + u], v == 2 ? -1 : u == 1 ? 127 : u == 3 ? -128 : -1);
            EXPECT_EQ(t.gradientY[v * 4 + u], u == 2 ? -1 : v == 1 ? 127 : v == 3 ? -128 : -1);
        }
    EXPECT_EQ(gx(2, 1, 0), -96); // ((-1 x 64 + 191 x -128) >> 8 = -96, x 255 x 255) >> 16
    EXPECT_EQ(gy(2, 1, 0), -128);
    EXPECT_EQ(gx(2, 6, 6), 62);
    EXPECT_EQ(gy(2, 6, 6), 62);
    job.texture[1].offsetX = 8; // two texels: pixel (6, 6) on texel (2, 0) at (128, 128)
    surfaceTextureStage2(job);
    EXPECT_EQ(gx(2, 6, 6), -65);
    EXPECT_EQ(gy(2, 6, 6), 30);
}

TEST_F(SurfaceTexture, SpansBlendTheNextRowOrColumn) {
    // One bright row: y gradients 127 on row 1, -1 on row 0. Four columns
    // per pixel; rows magnified and shifted so that frame rows 0..3 lie on
    // texel row 0 at fractions 0, 64, 128, 192. The transposed picture and
    // zooms give the same along x.
    std::vector<uint32_t> bright(64, 0), transposed(64, 0);
    for (int i = 0; i < 8; ++i) bright[i] = transposed[i * 8] = bgr(255, 255, 255);
    setUp(8, 8, [](int, int) { return 0; });
    texture(2, 4, 255, -128, 127, bright.data(), 8, 8);
    job.texture[1].offsetY = -12;
    surfaceTextureStage2(job);
    EXPECT_EQ(gy(2, 2, 0), -1);
    EXPECT_EQ(gy(2, 2, 1), 30); // ((127 x 64 + 191 x -1) x 255) >> 16
    EXPECT_EQ(gy(2, 2, 4), 126);
    EXPECT_EQ(gx(2, 2, 1), 0);
    texture(2, 4, 255, 127, -128, transposed.data(), 8, 8);
    job.texture[1].offsetX = -12;
    surfaceTextureStage2(job);
    EXPECT_EQ(gx(2, 0, 2), -1);
    EXPECT_EQ(gx(2, 1, 2), 30);
    EXPECT_EQ(gx(2, 4, 2), 126);
    EXPECT_EQ(gy(2, 1, 2), 0);
}

using ImageMap = StageFixture;

TEST_F(ImageMap, CopiesAndTilesAtZoomZeroKeepingTheFourthByte) {
    setUp(20, 6, [](int x, int y) { return x == 4 && y == 2 ? 255 : 0; });
    for (size_t p = 0; p < frame; ++p) engine.imageMap1[p] = engine.imageMap2[p] = 0xAB000000u;
    const std::vector<uint32_t> same = numberedPicture(20, 6), small = numberedPicture(7, 4);
    map(1, same, 20, 6);
    map(2, small, 7, 4, 0, 0, -1, 0); // one source pixel to the left
    imageMapStage1(job);
    imageMapStage2(job);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(engine.imageMap1[y * 20 + x], (same[y * 20 + x] & 0xFFFFFFu) | 0xAB000000u);
            ASSERT_EQ(engine.imageMap2[y * 20 + x],
                      (small[(y % 4) * 7 + (x + 6) % 7] & 0xFFFFFFu) | 0xAB000000u);
        }
}

// In a single run a picture of the frame's size placed without a shift is
// the map plane itself; a shifted one gets a plane of its own. Either way the
// colours are those a copied plane holds, and the tear-down leaves the
// picture alone.
TEST_F(ImageMap, ASingleRunTakesAPicturePlacedAsItIsForItsPlane) {
    const std::vector<uint32_t> picture = numberedPicture(20, 6);
    const std::vector<uint32_t> kept = picture;
    for (const uint8_t singleRun : {uint8_t(1), uint8_t(0)}) {
        job = RenderJob();
        job.singleRun = singleRun;
        job.texture[0].on = job.texture[1].on = 1; // setUp marks their planes
        setUp(20, 6, [](int x, int y) { return x == 4 && y == 2 ? 255 : 0; });
        job.texture[0].on = job.texture[1].on = 0;
        map(1, picture, 20, 6);
        map(2, picture, 20, 6, 0, 0, 1, 0); // one source pixel to the right
        ASSERT_EQ(imageMapStage1(job), 0);
        ASSERT_EQ(imageMapStage2(job), 0);
        EXPECT_EQ(engine.imageMap1 == picture.data(), singleRun == 1);
        EXPECT_NE(engine.imageMap2, picture.data());
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 20; ++x) {
                ASSERT_EQ(colour(1, x, y), picture[y * 20 + x] & 0xFFFFFFu) << x << "," << y;
                ASSERT_EQ(colour(2, x, y), picture[y * 20 + (x + 1) % 20] & 0xFFFFFFu);
            }
        engineTeardown();
        EXPECT_EQ(picture, kept);
        EXPECT_EQ(engine.imageMap1, nullptr);
    }
}

TEST_F(ImageMap, SkippedWhenOffWithoutPictureOrMapOneOnAnEmptyMask) {
    setUp(6, 4, [](int, int) { return 0; });
    const std::vector<uint32_t> picture(24, bgr(1, 2, 3));
    for (size_t p = 0; p < frame; ++p) engine.imageMap1[p] = engine.imageMap2[p] = 0x11223344u;
    map(1, picture, 6, 4);
    imageMapStage1(job); // empty mask
    map(2, picture, 6, 0);
    imageMapStage2(job);
    EXPECT_EQ(engine.mapTints[1], 0) << "a picture without rows does not tint";
    job.map[1].image = nullptr;
    job.map[1].imageHeight = 4;
    imageMapStage2(job);
    map(2, picture, 6, 4);
    job.map[1].on = 0;
    imageMapStage2(job);
    for (size_t p = 0; p < frame; ++p) {
        ASSERT_EQ(engine.imageMap1[p], 0x11223344u);
        ASSERT_EQ(engine.imageMap2[p], 0x11223344u);
    }
    job.map[1].on = 1; // map 2 ignores the mask
    imageMapStage2(job);
    EXPECT_EQ(engine.imageMap2[5], 0x11030201u);
}

TEST_F(ImageMap, MagnifiedFourTimesBlendsTwice) {
    setUp(8, 8, [](int, int) { return 0; });
    std::vector<uint32_t> picture(16, 0);
    picture[0] = picture[5] = bgr(255, 255, 255); // white at (0, 0) and (1, 1)
    map(2, picture, 4, 4, 127, 127);
    imageMapStage2(job);
    EXPECT_EQ(colour(2, 4, 4), bgr(253, 253, 253)); // fraction 0: ((255 x 255 >> 8) x 255) >> 8
    EXPECT_EQ(colour(2, 6, 4) & 0xFF, 125u);        // (255 x ((127 x 255) >> 8)) >> 8
    EXPECT_EQ(colour(2, 6, 6) & 0xFF, 126u);        // (127 x 126 + 128 x 127) >> 8
    const std::vector<uint32_t> white(16, bgr(255, 255, 255));
    map(2, white, 4, 4, 127, 127);
    imageMapStage2(job);
    for (size_t p = 0; p < frame; ++p) ASSERT_EQ(engine.imageMap2[p] & 0xFFFFFF, 0xFDFDFDu);
}

TEST_F(ImageMap, SpansAndBoxesAverageTruncating) {
    // Zoom -128 across: pixel 0 covers columns 2..5, pixel 1 columns 6, 7,
    // 0, 1. Zoom 127 down: rows 1, 1, 2, 2 at fractions 128, 192, 0, 64.
    std::vector<uint32_t> picture(64), transposed(64);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            picture[v * 8 + u] = bgr(u * u, 10 * v, 7);
            transposed[u * 8 + v] = bgr(u * u, 10 * v, 7);
        }
    const int blue[2] = {12, 20};          // (255 x (54 / 4)) >> 8, (255 x (86 / 4)) >> 8
    const int green[4] = {14, 17, 19, 22}; // rows v and v + 1 blended
    setUp(4, 4, [](int, int) { return 0; });
    map(2, picture, 8, 8, -128, 127);
    imageMapStage2(job);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(colour(2, x, y), bgr(blue[x % 2], green[y], 6));
    map(2, transposed, 8, 8, 127, -128);
    imageMapStage2(job);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(colour(2, x, y), bgr(blue[y % 2], green[x], 6));
    // Reduced both ways, blue = column squared + row, 9 more at (2, 2):
    // (4 x 54 + 4 x 14 + 9) / 16 = 17, (4 x 86 + 4 x 14) / 16 = 25.
    for (int i = 0; i < 64; ++i)
        picture[i] = bgr((i % 8) * (i % 8) + i / 8 + (i == 18 ? 9 : 0), 0, 0);
    map(2, picture, 8, 8, -128, -128);
    imageMapStage2(job);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(colour(2, x, y), x % 2 ? 25u : 17u);
}

// Every zoom, tiny, odd and oversized pictures, huge offsets: the sanitizers
// check the accesses; a 1 x 1 texture must stay flat.
using SurfaceExtremes = StageFixture;

TEST_F(SurfaceExtremes, EveryZoomSizeAndOffsetStaysInBounds) {
    setUp(13, 7, [](int x, int y) { return (x * 37 + y * 11) % 5 == 0 ? 0 : (x + y) * 20; });
    const int sizes[7][2] = {{1, 1}, {1, 5}, {5, 1}, {2, 3}, {3, 3}, {31, 17}, {13, 7}};
    const int32_t offsets[7] = {0, -1, 1, INT32_MIN, INT32_MAX, 123457, -99999999};
    std::vector<std::vector<uint32_t>> pictures;
    for (const auto &s : sizes) pictures.push_back(numberedPicture(s[0], s[1]));
    const uint32_t flat = bgr(9, 9, 9);
    int n = 0;
    for (int zx = -128; zx <= 127; ++zx)
        for (int zy : {-128, -43, -1, 0, 1, 127, zx}) {
            const int s = n % 7, w = sizes[s][0], h = sizes[s][1];
            const int32_t ox = offsets[n % 7], oy = offsets[(n / 7) % 7];
            ++n;
            for (int which : {1, 2}) {
                texture(which, which == 1 ? 4 : n % 5, 255, zx, zy, pictures[s].data(), w, h);
                map(which, pictures[s], w, h, zx, zy, ox, oy);
            }
            job.texture[0].offsetX = job.texture[1].offsetX = ox;
            job.texture[0].offsetY = job.texture[1].offsetY = oy;
            job.texture[0].invert = job.texture[1].invert = uint8_t(n % 2);
            job.texture[0].heightMin = uint8_t(n % 3),
            job.texture[0].heightMax = uint8_t(255 - n % 7);
            surfaceTextureStage1(job);
            surfaceTextureStage2(job);
            imageMapStage1(job);
            imageMapStage2(job);
            texture(2, 4, 255, zx, zy, &flat, 1, 1);
            job.texture[1].offsetX = ox;
            surfaceTextureStage2(job);
            for (size_t p = 0; p < frame; ++p) {
                if (paddedMask[(p / 13 + kBorder) * 73 + p % 13 + kBorder] == 255) continue;
                ASSERT_EQ(engine.texturedSlopeX2[p] | engine.texturedSlopeY2[p], 0) << zx;
            }
        }
}

} // namespace
