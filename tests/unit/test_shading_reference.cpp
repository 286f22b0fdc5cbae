// Final shading checked pixel for pixel against a reference: the per-pixel
// loop in its first, straightforward form (each pixel shades its object fill,
// glow, shadow and background in turn), run on random engine states that
// cover every pair of fill modes, the maps, texture 2, glow and shadow with
// random planes, and extreme offsets, zooms and distances.

#include <gtest/gtest.h>

#include "driver/RenderJob.h"
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/reference/ShadingReference.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace lustra;

namespace {

// One random engine state: the job's settings and the planes the shading
// reads, with what was drawn recorded for the failure message.
struct ShadingCase {
    int width = 1, height = 1, border = 30;
    int fill1Mode = 0, fill2Mode = 0;
    int pictureWidth[2] = {0, 0}, pictureHeight[2] = {0, 0};
    bool coverageValid = true;
    std::string describe() const {
        std::ostringstream text;
        text << width << "x" << height << " border " << border << " modes " << fill1Mode << "/"
             << fill2Mode << " pictures " << pictureWidth[0] << "x" << pictureHeight[0] << ", "
             << pictureWidth[1] << "x" << pictureHeight[1]
             << (coverageValid ? "" : " coverage unused");
        return text.str();
    }
};

class ShadingExactness : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lustra_shadingXXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        directory = std::string(name) + "/";
        std::FILE *out = std::fopen((directory + "metal.pat").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::vector<uint8_t> metal(65536);
        for (uint8_t &m : metal) m = uint8_t(random());
        std::fwrite(metal.data(), 1, metal.size(), out);
        std::fclose(out);
    }
    void TearDown() override {
        shadingKernels::selectVariant(detectedCpuVariant()); // the load-time choice
        engineTeardown();
        std::remove((directory + "metal.pat").c_str());
        rmdir(directory.c_str());
    }

    int below(int n) { return int(random() % uint32_t(n)); }
    uint8_t byte() { return uint8_t(random()); }
    // With `saturated`, colours and weights at the ends of their range, where
    // the vector kernels' 16-bit sums come closest to overflowing.
    uint8_t extreme() {
        const uint8_t ends[] = {0, 1, 254, 255};
        return pick(ends);
    }
    Rgb colour() {
        return saturated ? Rgb{extreme(), extreme(), extreme()} : Rgb{byte(), byte(), byte()};
    }
    template <typename T, size_t N> T pick(const T (&values)[N]) { return values[below(N)]; }

    // Coverage in runs of zeros, full coverage and partial levels, so that
    // covered spans of every length start and end anywhere in a row; with
    // spanLength set, every run but a row's first is that long (a row
    // shorter than spanLength is one run).
    void drawMask(const ShadingCase &c) {
        const int paddedWidth = c.width + 2 * c.border;
        paddedMask.assign(size_t(paddedWidth) * (c.height + 2 * c.border), 0);
        for (uint8_t &m : paddedMask) m = below(4) == 0 ? byte() : 0; // outside the frame too
        const int emptyShare = below(4);                              // 0: dense .. 3: sparse
        for (int y = 0; y < c.height; ++y) {
            uint8_t *row = &paddedMask[size_t(y + c.border) * paddedWidth + c.border];
            for (int x = 0; x < c.width;) {
                const int lengths[] = {4, 4, 40, 400};
                const int run = spanLength == 0                  ? 1 + below(pick(lengths))
                                : x == 0 && spanLength < c.width ? 1 + below(spanLength)
                                                                 : spanLength;
                const int kind = below(4 + emptyShare * 2);
                for (int i = 0; i < run && x < c.width; ++i, ++x)
                    row[x] = kind == 0 ? 255 : kind == 1 ? uint8_t(1 + below(254)) : 0;
            }
        }
    }

    // Random settings around `c`'s fill modes; extreme values when asked.
    void drawJob(ShadingCase &c, bool extremes) {
        job = RenderJob();
        job.width = int16_t(c.width), job.height = int16_t(c.height), job.border = c.border;
        job.paddedMask = paddedMask.data(), job.pixels = pixels.data();
        job.dataDirectory = directory.c_str();
        job.fill[0].mode = FillMode(c.fill1Mode), job.fill[1].mode = FillMode(c.fill2Mode);
        job.fill[0].colourA = colour(), job.fill[0].colourB = colour(),
        job.fill[0].colourC = colour();
        job.fill[1].colourA = colour(), job.fill[1].colourB = colour(),
        job.fill[1].colourC = colour();
        job.fill[0].shininess = byte(), job.fill[1].shininess = byte();
        const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {3, 2}, {5, 5}, {17, 3}, {64, 1}, {257, 2}};
        for (int f = 0; f < 2; ++f) {
            const int *size = sizes[below(8)];
            const bool none = below(6) == 0; // mode 3 without a picture shades as metal
            c.pictureWidth[f] = none ? 0 : size[0];
            c.pictureHeight[f] = none ? 0 : size[1];
            pictures[f].resize(size_t(size[0]) * size[1]);
            for (uint32_t &p : pictures[f]) p = uint32_t(random());
            (f == 0 ? job.fill[0].image : job.fill[1].image) = none ? nullptr : pictures[f].data();
            (f == 0 ? job.fill[0].imageWidth : job.fill[1].imageWidth) = int16_t(c.pictureWidth[f]);
            (f == 0 ? job.fill[0].imageHeight : job.fill[1].imageHeight) =
                int16_t(c.pictureHeight[f]);
        }
        const int32_t farOffsets[] = {INT32_MIN, INT32_MIN + 1, -1000000, -4096,    -4095,
                                      4095,      4096,          1000000,  INT32_MAX};
        const uint8_t zooms[] = {0, 1, 127, 128, 254, 255};
        if (extremes) {
            job.fillZoom = pick(zooms);
            job.offsetX = below(3) ? pick(farOffsets) : below(81) - 40;
            job.offsetY = below(3) ? pick(farOffsets) : below(81) - 40;
        } else {
            job.fillZoom = below(3) ? byte() : pick(zooms);
            job.offsetX = below(201) - 100;
            job.offsetY = below(201) - 100;
        }
        job.glow.on = uint8_t(below(3)); // 2 counts as off
        job.glow.opacity = extremes ? pick(zooms) : byte();
        job.glow.colour1 = colour(), job.glow.colour2 = colour();
        job.shadow.on = uint8_t(below(4) ? 1 : below(3));
        job.shadow.opacity = extremes ? pick(zooms) : byte();
        job.shadow.colour = colour();
        job.shadow.distance = extremes ? pick(zooms) : byte();
        if (saturated) {
            job.glow.opacity = job.shadow.opacity = uint8_t(below(2) ? 100 : 255);
            job.fill[0].shininess = extreme(), job.fill[1].shininess = extreme();
        }
        for (int f = 0; f < 2; ++f)
            if (shininess[f] >= 0) job.fill[f].shininess = uint8_t(shininess[f]);
    }

    // The planes the shading reads, filled at random after the set-up.
    void drawPlanes(ShadingCase &c) {
        const size_t frame = size_t(c.width) * c.height;
        const size_t padded = size_t(engine.paddedWidth) * engine.paddedHeight;
        for (int8_t *plane :
             {engine.slopeX, engine.slopeY, engine.texturedSlopeX1, engine.texturedSlopeY1,
              engine.texturedSlopeX2, engine.texturedSlopeY2}) {
            const bool gentle = below(2) == 0;
            for (size_t p = 0; p < frame; ++p)
                plane[p] = int8_t(gentle ? below(9) - 4 : int(byte()) - 128);
        }
        for (size_t p = 0; p < frame; ++p) engine.glowMap[p] = below(3) ? byte() : 255;
        for (size_t p = 0; p < padded; ++p) engine.shadowMap[p] = below(3) ? byte() : 255;
        // Shadow and glow in runs: zeros (as beyond their reach), small
        // weights that the opacity takes to 0, and any level.
        if (weightsInRuns) {
            const auto drawRuns = [this](uint8_t *plane, size_t size) {
                for (size_t p = 0; p < size;) {
                    const int kind = below(3);
                    for (int run = 1 + below(below(2) ? 12 : 100); run > 0 && p < size; --run, ++p)
                        plane[p] = kind == 0 ? 0 : kind == 1 ? uint8_t(below(3)) : byte();
                }
            };
            drawRuns(engine.shadowMap, padded);
            drawRuns(engine.glowMap, frame);
        }
        for (uint32_t *map : {engine.imageMap1, engine.imageMap2})
            for (size_t p = 0; p < frame; ++p) map[p] = uint32_t(random());
        if (saturated) {
            for (size_t p = 0; p < padded; ++p) engine.shadowMap[p] = extreme();
            for (size_t p = 0; p < frame; ++p) engine.glowMap[p] = extreme();
            for (uint32_t *map : {engine.imageMap1, engine.imageMap2})
                for (size_t p = 0; p < frame; ++p)
                    map[p] = uint32_t(extreme()) << 24 | uint32_t(extreme()) << 16 |
                             uint32_t(extreme()) << 8 | extreme();
        }
        const uint8_t onValues[] = {0, 1, 1, 2};
        engine.textureOn[0] = pick(onValues);
        engine.textureOn[1] = pick(onValues);
        for (int which = 0; which < 2; ++which) {
            const uint8_t on = pick(onValues);
            const bool picture = below(5) != 0;
            engine.mapTints[which] = on == 1 && picture ? 1 : 0;
        }
        if (!c.coverageValid) engine.edgeCount = 0, engine.maskFull = 0;
    }

    // Sets up a random engine state, renders it through the stage and through
    // the reference from the same starting pixels, and compares every pixel.
    void check(ShadingCase c, bool extremes) {
        const std::string what = c.describe();
        SCOPED_TRACE(what);
        engineTeardown();
        drawMask(c);
        pixels.resize(size_t(c.width) * c.height);
        for (uint32_t &p : pixels) p = uint32_t(random());
        drawJob(c, extremes);
        ASSERT_EQ(engineSetup(job), 0);
        drawPlanes(c);
        const std::vector<uint32_t> before = pixels;
        ASSERT_EQ(finalShadingStage(job), 0);
        const std::vector<uint32_t> fast = pixels;
        std::copy(before.begin(), before.end(), pixels.begin());
        ASSERT_EQ(reference::finalShading(job), 0);
        for (size_t p = 0; p < pixels.size(); ++p)
            ASSERT_EQ(fast[p], pixels[p])
                << "pixel (" << p % c.width << ", " << p / c.width << ") offsets " << job.offsetX
                << ", " << job.offsetY << " zoom " << int(job.fillZoom) << " glow "
                << int(job.glow.on) << " shadow " << int(job.shadow.on) << " distance "
                << int(job.shadow.distance) << " texture 2 " << int(engine.textureOn[1]);
    }

    ShadingCase randomCase(int fill1Mode, int fill2Mode) {
        ShadingCase c;
        const int borders[] = {0, 1, 2, 7, 30};
        c.width = below(4) == 0 ? 1 + below(300) : 1 + below(70);
        c.height = 1 + below(30);
        c.border = pick(borders);
        c.fill1Mode = fill1Mode, c.fill2Mode = fill2Mode;
        return c;
    }

    bool weightsInRuns = false, saturated = false;
    int spanLength = 0;          // 0: runs of random lengths
    int shininess[2] = {-1, -1}; // the fills' shininess when not negative
    std::mt19937 random{20261208};
    std::string directory;
    RenderJob job;
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    std::vector<uint32_t> pictures[2];
};

TEST_F(ShadingExactness, EveryPairOfFillModesMatchesTheReference) {
    for (int fill1 = 0; fill1 < 4; ++fill1)
        for (int fill2 = 0; fill2 < 4; ++fill2)
            for (int i = 0; i < 40; ++i) check(randomCase(fill1, fill2), false);
}

// Every variant the processor runs, on rows long enough for the vector
// loops and their tails, with shadows and glows that vanish in places: the
// blocks of eight pixels that take no shadow or glow must equal the model
// too.
TEST_F(ShadingExactness, EveryCpuVariantMatchesTheReference) {
    weightsInRuns = true;
    std::string checked;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        const CpuVariant variant = shadingKernels::selectVariant(CpuVariant(v));
        checked += std::string(" ") + cpuVariantName(variant);
        SCOPED_TRACE(cpuVariantName(variant));
        for (int i = 0; i < 120; ++i) {
            ShadingCase c = randomCase(below(4), below(3) ? 0 : below(4));
            c.width = 1 + below(260);
            check(c, below(4) == 0);
        }
    }
    std::printf("final shading variants checked:%s\n", checked.c_str());
}

// Colours, tints and glow and shadow weights of 0, 1, 254 and 255 only, on
// every variant and pair of fill modes.
TEST_F(ShadingExactness, SaturatedColoursAndWeightsMatchTheReferenceOnEveryVariant) {
    saturated = true;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        SCOPED_TRACE(cpuVariantName(shadingKernels::selectVariant(CpuVariant(v))));
        for (int fill1 = 0; fill1 < 4; ++fill1)
            for (int fill2 = 0; fill2 < 4; ++fill2)
                for (int i = 0; i < 6; ++i) {
                    ShadingCase c = randomCase(fill1, fill2);
                    c.width = 24 + below(200);
                    check(c, false);
                }
    }
}

// Spans of every length from 1 to 64 on every variant: the vector loops'
// tails of every length (the AVX-512 kernels cut theirs with masked lanes,
// which must neither drop nor add a pixel), with spans of length 0 where
// the runs meet. Each length comes as the whole row (background, blended or
// opaque alone) and as runs of that length of each kind along longer rows,
// with shadows and glows that vanish in places and, in every other case,
// colours and weights at the ends of their range.
TEST_F(ShadingExactness, SpansOfEveryLengthMatchTheReferenceOnEveryVariant) {
    weightsInRuns = true;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        const CpuVariant variant = shadingKernels::selectVariant(CpuVariant(v));
        ASSERT_EQ(variant, CpuVariant(v)) << "a variant the processor runs was not taken";
        SCOPED_TRACE(cpuVariantName(variant));
        for (int length = 1; length <= 64; ++length) {
            SCOPED_TRACE("span length " + std::to_string(length));
            for (int i = 0; i < 4; ++i) {
                saturated = i % 2 == 1;
                ShadingCase c = randomCase(below(4), below(3) ? 0 : below(4));
                spanLength = i < 2 ? INT_MAX : length; // one run a row, or runs of `length`
                c.width = i < 2 ? length : 2 * length + 1 + below(40);
                c.height = 4 + below(5);
                check(c, false);
            }
        }
    }
    saturated = false, spanLength = 0;
}

// The highlight lobes and curves that calls keep between them: calls whose
// fills repeat, swap, share or change their shininess, and the lobe of
// every fill mode, each matching the reference's tables built afresh.
TEST_F(ShadingExactness, HighlightsKeptBetweenCallsMatchTheReference) {
    const int sequence[][2] = {{10, 200}, {10, 200}, {200, 10}, {200, 200}, {0, 255},
                               {255, 0},  {37, 255}, {37, 37},  {10, 200},  {10, 201}};
    for (int round = 0; round < 3; ++round)
        for (const auto &pair : sequence) {
            shininess[0] = pair[0], shininess[1] = pair[1];
            SCOPED_TRACE("shininess " + std::to_string(pair[0]) + ", " + std::to_string(pair[1]));
            check(randomCase(1 + below(3), 1 + below(3)), false);
        }
    shininess[0] = shininess[1] = -1;
}

TEST_F(ShadingExactness, ExtremeOffsetsZoomsAndDistancesMatchTheReference) {
    for (int i = 0; i < 400; ++i) check(randomCase(below(4), below(4)), true);
}

TEST_F(ShadingExactness, UnknownModesAndUnusedCoverageMatchTheReference) {
    const int modes[] = {0, 1, 2, 3, 4, 200, 255};
    for (int i = 0; i < 200; ++i) {
        ShadingCase c = randomCase(pick(modes), pick(modes));
        c.coverageValid = below(2) == 0;
        check(c, below(2) == 0);
    }
    // A frame whose every pixel is covered: no edges, but the mask counts.
    engineTeardown();
    for (int i = 0; i < 20; ++i) {
        ShadingCase full = randomCase(below(4), below(4));
        SCOPED_TRACE(full.describe());
        drawMask(full);
        for (int y = 0; y < full.height; ++y)
            for (int x = 0; x < full.width; ++x)
                paddedMask[size_t(y + full.border) * (full.width + 2 * full.border) + x +
                           full.border] = uint8_t(1 + below(255));
        pixels.assign(size_t(full.width) * full.height, 0xA5000000u);
        drawJob(full, false);
        ASSERT_EQ(engineSetup(job), 0);
        ASSERT_EQ(engine.maskFull, 1);
        const std::vector<uint32_t> before = pixels;
        ASSERT_EQ(finalShadingStage(job), 0);
        const std::vector<uint32_t> fast = pixels;
        std::copy(before.begin(), before.end(), pixels.begin());
        ASSERT_EQ(reference::finalShading(job), 0);
        ASSERT_EQ(fast, pixels);
        engineTeardown();
    }
}

} // namespace
