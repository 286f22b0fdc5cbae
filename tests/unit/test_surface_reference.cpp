// Surface texture and image map stages checked byte for byte against a
// reference: their per-pixel loops in their first, straightforward form
// (every pixel builds its footprint and samples it texel by texel), run on
// random masks, bounding boxes, patterns, pictures, zooms and offsets.

#include <gtest/gtest.h>

#include "driver/RenderJob.h"
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/reference/SurfaceReference.h"
#include "engine/Scratch.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace lustra;

namespace {

// A scratch allocator that fails the allocation numbered `failAt` of a call
// (counting from 0) and counts the allocations asked for.
int scratchCalls = 0, scratchFailAt = -1;
void *failingScratch(size_t bytes) {
    return scratchCalls++ == scratchFailAt ? nullptr : std::malloc(bytes);
}

// Installs failingScratch for one stage call failing allocation `failAt`,
// and restores malloc afterwards.
struct FailingScratch {
    explicit FailingScratch(int failAt) {
        scratchCalls = 0;
        scratchFailAt = failAt;
        scratchAllocator = failingScratch;
    }
    ~FailingScratch() {
        scratchAllocator = [](size_t bytes) { return std::malloc(bytes); };
    }
};

// Zooms that choose each filter: magnified on both axes (bilinear), reduced
// across and magnified down (column spans), the other way round (row spans),
// reduced on both (box or area).
const int8_t kFilterZooms[][2] = {{127, 127}, {-90, 60}, {60, -90}, {-100, -100}};

constexpr int kBorder = 30;
const char *const kPatternFiles[] = {"metal.pat", "normal.pat", "fractal.pat", "turbulence.pat",
                                     "fracturb.pat"};

// Random cases through the engine and the reference, on one data directory
// whose four patterns are rewritten with random heights now and then.
class StageReference : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lustra_surfrefXXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        directory = std::string(name) + "/";
        for (const char *file : kPatternFiles) writePattern(file);
    }
    void TearDown() override {
        engineTeardown();
        for (const char *file : kPatternFiles) std::remove((directory + file).c_str());
        rmdir(directory.c_str());
    }
    // Noise, smooth ramps or few levels, so that gradients and windows vary.
    void writePattern(const char *file) {
        std::vector<uint8_t> bytes(65536);
        const int kind = int(rng() % 3);
        for (int i = 0; i < 65536; ++i) {
            const int x = i % 256, y = i / 256;
            bytes[i] = kind == 0   ? uint8_t(rng())
                       : kind == 1 ? uint8_t((x * 3 + y * 7 + int(rng() % 9)) & 255)
                                   : uint8_t((rng() % 4) * 80);
        }
        std::FILE *out = std::fopen((directory + file).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    int random(int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); }

    // A frame with a random mask (runs of empty, full and partial coverage),
    // random bounds (partly outside the frame at times), relief slopes and
    // previous bytes in every output plane.
    void randomFrame(int width = 0) {
        engineTeardown();
        const int w = width > 0 ? width : rng() % 5 == 0 ? random(200, 600) : random(1, 70);
        const int h = random(1, 40);
        const int pw = w + 2 * kBorder;
        paddedMask.assign(size_t(pw) * (h + 2 * kBorder), 0);
        const int style = random(0, 3);
        for (int y = 0; y < h; ++y) {
            int x = 0;
            while (x < w) {
                const int run = random(1, style == 0 ? 3 : 60);
                const int kind = random(0, 2);
                const uint8_t value = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(random(1, 254));
                for (int i = 0; i < run && x < w; ++i, ++x)
                    paddedMask[size_t(y + kBorder) * pw + x + kBorder] =
                        style == 3 ? 255 : (kind == 2 && i % 2 ? uint8_t(rng()) : value);
            }
        }
        pixels.assign(size_t(w) * h, 0);
        job = RenderJob();
        job.width = int16_t(w);
        job.height = int16_t(h);
        job.paddedMask = paddedMask.data();
        job.pixels = pixels.data();
        job.dataDirectory = directory.c_str();
        ASSERT_EQ(engineSetup(job), 0);
        frame = size_t(w) * h;
        engine.edgeCount = random(0, 3) == 0 ? 0 : 1;
        engine.maskFull = random(0, 3) == 0 ? 1 : 0;
        engine.boundsMinX = random(-5, w + 2), engine.boundsMaxX = random(-3, w + 5);
        engine.boundsMinY = random(-5, h + 2), engine.boundsMaxY = random(-3, h + 5);
        if (random(0, 2) == 0) engine.boundsMinX = engine.boundsMinY = 0;
        if (random(0, 2) == 0) engine.boundsMaxX = w - 1, engine.boundsMaxY = h - 1;
        for (size_t p = 0; p < frame; ++p) {
            engine.slopeX[p] = int8_t(rng()), engine.slopeY[p] = int8_t(rng());
            engine.texturedSlopeX1[p] = int8_t(rng()), engine.texturedSlopeY1[p] = int8_t(rng());
            engine.texturedSlopeX2[p] = int8_t(rng()), engine.texturedSlopeY2[p] = int8_t(rng());
            engine.imageMap1[p] = uint32_t(rng()), engine.imageMap2[p] = uint32_t(rng());
        }
    }
    int8_t randomZoom() {
        const int pick = random(0, 9);
        if (pick == 0) return 0;
        if (pick == 1) return -128;
        if (pick == 2) return 127;
        if (pick == 3) return int8_t(random(-3, 3));
        return int8_t(random(-128, 127));
    }
    int32_t randomOffset() {
        const int pick = random(0, 5);
        if (pick == 0) return 0;
        if (pick == 1) return random(0, 1) ? INT32_MIN : INT32_MAX;
        if (pick == 2) return int32_t(rng());
        return random(-700, 700);
    }
    // A picture of odd size at times: a single pixel, one row or column, or
    // larger than the frame.
    void randomPicture(std::vector<uint32_t> &picture, int &pw, int &ph) {
        static const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {3, 2}, {257, 3}, {2, 2}, {5, 300}};
        const int pick = random(0, 9);
        if (pick < 7) {
            pw = sizes[pick][0], ph = sizes[pick][1];
        } else {
            pw = random(1, pick == 9 ? 700 : 40), ph = random(1, pick == 9 ? 60 : 40);
        }
        picture.resize(size_t(pw) * ph);
        const int levels = random(0, 2);
        for (uint32_t &p : picture)
            p = levels == 0   ? uint32_t(rng())
                : levels == 1 ? uint32_t(rng() % 3) * 0x00404040u
                              : 0x00101010u;
    }

    // The job record of image map `which` (0 or 1), switched on.
    void setMapJob(int which, const uint32_t *picture, int pw, int ph, int8_t zoomX, int8_t zoomY,
                   int32_t offsetX, int32_t offsetY) {
        MapJob &map = job.map[which];
        map.on = 1, map.image = picture;
        map.imageWidth = int16_t(pw), map.imageHeight = int16_t(ph);
        map.zoomX = zoomX, map.zoomY = zoomY;
        map.offsetX = offsetX, map.offsetY = offsetY;
    }
    // The job record of surface texture `index` (0 or 1).
    void setTextureJob(int index, const reference::TextureCase &s) {
        TextureJob &t = job.texture[index];
        t.zoomX = s.zoomX, t.zoomY = s.zoomY;
        t.depth = s.depth, t.heightMax = s.heightMax, t.heightMin = s.heightMin;
        t.type = TextureType(s.type), t.on = s.on, t.invert = s.invert;
        t.image = s.image, t.imageWidth = s.imageWidth, t.imageHeight = s.imageHeight;
        t.offsetX = s.offsetX, t.offsetY = s.offsetY;
    }

    // One random surface texture case through the stage and the reference
    // on a frame of `width` columns (random when 0).
    void randomTextureRound(int round, std::vector<uint32_t> &picture, int width = 0) {
        if (round % 50 == 0)
            for (const char *file : kPatternFiles) writePattern(file);
        randomFrame(width);
        const int index = random(0, 1);
        reference::TextureCase s;
        s.zoomX = randomZoom(), s.zoomY = randomZoom();
        if (round % 4 == 0) s.zoomX = s.zoomY = 0; // one texel per pixel
        s.depth = uint8_t(random(0, 3) == 0 ? (random(0, 1) ? 0 : 255) : random(0, 255));
        s.heightMin = uint8_t(random(0, 2) == 0 ? 0 : random(0, 255));
        s.heightMax = uint8_t(random(0, 2) == 0 ? 255 : random(0, 255));
        s.type = uint8_t(random(0, 4));
        s.on = uint8_t(random(0, 9) == 0 ? 0 : 1);
        s.invert = uint8_t(random(0, 1));
        s.offsetX = randomOffset(), s.offsetY = randomOffset();
        int pw = 0, ph = 0;
        randomPicture(picture, pw, ph);
        s.image = picture.data(), s.imageWidth = int16_t(pw), s.imageHeight = int16_t(ph);
        setTextureJob(index, s);
        int8_t *planeX = index == 0 ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
        int8_t *planeY = index == 0 ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
        std::vector<int8_t> expectX(planeX, planeX + frame), expectY(planeY, planeY + frame);
        reference::textureStage(directory, index, s, expectX, expectY);
        if (index == 0)
            surfaceTextureStage1(job);
        else
            surfaceTextureStage2(job);
        const std::string what = std::string(cpuVariantName(textureKernels::variant())) +
                                 " round " + std::to_string(round) + " texture " +
                                 std::to_string(index + 1) + " type " + std::to_string(s.type) +
                                 " zoom " + std::to_string(s.zoomX) + "," +
                                 std::to_string(s.zoomY) + " frame " + std::to_string(job.width) +
                                 "x" + std::to_string(job.height);
        for (size_t p = 0; p < frame; ++p) {
            ASSERT_EQ(planeX[p], expectX[p]) << what << " pixel " << p;
            ASSERT_EQ(planeY[p], expectY[p]) << what << " pixel " << p;
        }
    }

    std::mt19937 rng{20261208};
    std::string directory;
    RenderJob job;
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    size_t frame = 0;
};

TEST_F(StageReference, SurfaceTexturesMatchTheReferenceOnRandomCases) {
    std::vector<uint32_t> picture;
    for (int round = 0; round < 700 && !HasFatalFailure(); ++round)
        randomTextureRound(round, picture);
}

// Each variant of the texture kernels this processor runs, forced in turn,
// on frames whose width ends inside and at the vectors.
TEST_F(StageReference, SurfaceTexturesMatchTheReferenceInEveryCpuVariant) {
    std::vector<uint32_t> picture;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        textureKernels::selectVariant(CpuVariant(v));
        for (int width : {1, 2, 15, 16, 17, 63, 64, 65, 300})
            for (int round = 0; round < 40 && !HasFatalFailure(); ++round)
                randomTextureRound(round, picture, width);
    }
    textureKernels::selectVariant(detectedCpuVariant());
}

TEST_F(StageReference, SurfaceTexturesMatchTheReferenceAtEveryZoom) {
    // Every zoom pair along the diagonal and across each axis, on a frame
    // wider than the pattern, with both textures and a picture of 3 x 2.
    const uint32_t small[6] = {0x000000u, 0x102030u, 0xFFFFFFu, 0x808080u, 0x00FF00u, 0x123456u};
    for (int zoom = -128; zoom <= 127; ++zoom)
        for (int variant = 0; variant < 3; ++variant) {
            randomFrame();
            const int8_t zx = int8_t(zoom);
            const int8_t zy = int8_t(variant == 0 ? zoom : variant == 1 ? 0 : random(-128, 127));
            reference::TextureCase s{zx,
                                     zy,
                                     uint8_t(random(1, 255)),
                                     255,
                                     0,
                                     uint8_t(variant == 2 ? 4 : random(0, 3)),
                                     1,
                                     uint8_t(random(0, 1)),
                                     small,
                                     3,
                                     2,
                                     random(-300, 300),
                                     randomOffset()};
            const int index = zoom & 1;
            setTextureJob(0, s);
            setTextureJob(1, s);
            int8_t *planeX = index == 0 ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
            int8_t *planeY = index == 0 ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
            std::vector<int8_t> expectX(planeX, planeX + frame), expectY(planeY, planeY + frame);
            reference::textureStage(directory, index, s, expectX, expectY);
            if (index == 0)
                surfaceTextureStage1(job);
            else
                surfaceTextureStage2(job);
            for (size_t p = 0; p < frame; ++p) {
                ASSERT_EQ(planeX[p], expectX[p]) << zoom << " " << variant << " pixel " << p;
                ASSERT_EQ(planeY[p], expectY[p]) << zoom << " " << variant << " pixel " << p;
            }
        }
}

TEST_F(StageReference, ImageMapsMatchTheReferenceOnRandomCases) {
    std::vector<uint32_t> picture;
    for (int round = 0; round < 1200; ++round) {
        randomFrame();
        const int which = random(0, 1);
        int pw = 0, ph = 0;
        randomPicture(picture, pw, ph);
        // Every zoom appears on each axis over the rounds.
        int8_t zoomX = round < 256 ? int8_t(round - 128) : randomZoom();
        int8_t zoomY = round < 256   ? randomZoom()
                       : round < 512 ? int8_t(round - 384)
                                     : randomZoom();
        if (round >= 512 && round % 4 == 0) zoomX = zoomY = 0; // one source pixel per pixel
        const int32_t offsetX = randomOffset(), offsetY = randomOffset();
        const uint8_t on = uint8_t(random(0, 9) == 0 ? 0 : 1);
        setMapJob(which, picture.data(), pw, ph, zoomX, zoomY, offsetX, offsetY);
        job.map[which].on = on;
        uint32_t *plane = which == 0 ? engine.imageMap1 : engine.imageMap2;
        std::vector<uint32_t> expect(plane, plane + frame);
        if (on == 1)
            reference::imageMap(which, picture.data(), pw, ph, zoomX, zoomY, offsetX, offsetY,
                                expect);
        if (which == 0)
            imageMapStage1(job);
        else
            imageMapStage2(job);
        const std::string what = "round " + std::to_string(round) + " map " +
                                 std::to_string(which + 1) + " picture " + std::to_string(pw) +
                                 "x" + std::to_string(ph) + " zoom " + std::to_string(zoomX) + "," +
                                 std::to_string(zoomY) + " frame " + std::to_string(job.width) +
                                 "x" + std::to_string(job.height);
        for (size_t p = 0; p < frame; ++p) ASSERT_EQ(plane[p], expect[p]) << what << " pixel " << p;
    }
}

TEST_F(StageReference, ImageMapsMatchTheReferenceWhenScratchMemoryFails) {
    // Every filter with each of its scratch allocations failing in turn: the
    // stage falls back on a slower loop of the same filter.
    std::vector<uint32_t> picture(size_t(37) * 23);
    for (uint32_t &p : picture) p = uint32_t(rng()) & 0x00FFFFFFu;
    for (const auto &zoom : kFilterZooms)
        for (int which = 0; which < 2; ++which)
            for (int failAt = 0;; ++failAt) {
                randomFrame();
                engine.edgeCount = 1;
                const int32_t offsetX = random(-300, 300), offsetY = random(-300, 300);
                uint32_t *plane = which == 0 ? engine.imageMap1 : engine.imageMap2;
                std::vector<uint32_t> expect(plane, plane + frame);
                reference::imageMap(which, picture.data(), 37, 23, zoom[0], zoom[1], offsetX,
                                    offsetY, expect);
                int calls = 0;
                {
                    const FailingScratch failing(failAt);
                    setMapJob(which, picture.data(), 37, 23, zoom[0], zoom[1], offsetX, offsetY);
                    which == 0 ? imageMapStage1(job) : imageMapStage2(job);
                    calls = scratchCalls;
                }
                for (size_t p = 0; p < frame; ++p)
                    ASSERT_EQ(plane[p], expect[p]) << "zoom " << int(zoom[0]) << "," << int(zoom[1])
                                                   << " failing " << failAt << " pixel " << p;
                if (failAt >= calls) break;
            }
}

TEST_F(StageReference, AnImageMapMagnifiedFourTimesSurvivesFailingScratchMemory) {
    // The 8 x 4 full frame with map 1 at 400 %: without its row buffer the
    // bilinear map once came out as an almost black box average.
    engineTeardown();
    paddedMask.assign(size_t(8 + 2 * kBorder) * (4 + 2 * kBorder), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            paddedMask[size_t(y + kBorder) * (8 + 2 * kBorder) + x + kBorder] = 255;
    pixels.assign(32, 0);
    job = RenderJob();
    job.width = 8, job.height = 4;
    job.paddedMask = paddedMask.data();
    job.pixels = pixels.data();
    job.dataDirectory = directory.c_str();
    ASSERT_EQ(engineSetup(job), 0);
    ASSERT_EQ(engine.maskFull, 1);
    std::vector<uint32_t> picture(16);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = 0x00C0A080u + uint32_t(i);
    setMapJob(0, picture.data(), 4, 4, 127, 127, 0, 0);
    imageMapStage1(job);
    const std::vector<uint32_t> expect(engine.imageMap1, engine.imageMap1 + 32);
    for (int failAt = 0; failAt < 3; ++failAt) {
        std::fill(engine.imageMap1, engine.imageMap1 + 32, 0u);
        const FailingScratch failing(failAt);
        imageMapStage1(job);
        for (int p = 0; p < 32; ++p) {
            ASSERT_EQ(engine.imageMap1[p], expect[p]) << "failing " << failAt << " pixel " << p;
            EXPECT_GE(engine.imageMap1[p] & 0xFFu, 0x70u) << "pixel " << p;
        }
    }
}

TEST_F(StageReference, SurfaceTexturesMatchTheReferenceWhenScratchMemoryFails) {
    const uint32_t small[6] = {0x000000u, 0x102030u, 0xFFFFFFu, 0x808080u, 0x00FF00u, 0x123456u};
    for (const auto &zoom : kFilterZooms)
        for (int type : {1, 4})
            for (int index = 0; index < 2; ++index)
                for (int failAt = 0;; ++failAt) {
                    randomFrame();
                    engine.edgeCount = 1;
                    reference::TextureCase s{zoom[0],
                                             zoom[1],
                                             uint8_t(random(1, 255)),
                                             uint8_t(random(128, 255)),
                                             uint8_t(random(0, 100)),
                                             uint8_t(type),
                                             1,
                                             uint8_t(random(0, 1)),
                                             small,
                                             3,
                                             2,
                                             random(-300, 300),
                                             random(-300, 300)};
                    setTextureJob(index, s);
                    int8_t *planeX = index == 0 ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
                    int8_t *planeY = index == 0 ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
                    std::vector<int8_t> expectX(planeX, planeX + frame);
                    std::vector<int8_t> expectY(planeY, planeY + frame);
                    reference::textureStage(directory, index, s, expectX, expectY);
                    int calls = 0;
                    {
                        const FailingScratch failing(failAt);
                        index == 0 ? surfaceTextureStage1(job) : surfaceTextureStage2(job);
                        calls = scratchCalls;
                    }
                    for (size_t p = 0; p < frame; ++p) {
                        ASSERT_EQ(planeX[p], expectX[p])
                            << "type " << type << " failing " << failAt;
                        ASSERT_EQ(planeY[p], expectY[p])
                            << "type " << type << " failing " << failAt;
                    }
                    if (failAt >= calls) break;
                }
}

} // namespace
