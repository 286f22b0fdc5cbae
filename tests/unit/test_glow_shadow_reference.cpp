// The glow and shadow stages against plain scalar models of them: random
// masks (empty and full areas, runs of fully opaque pixels, shapes cut by the
// frame edges, random coverage levels, sometimes noise in the mask margin),
// tiny and larger frames, every glow width and shadow softness up to 30 and
// past the border, every profile softness 0..255, both glow variants. The
// planes the stages write (glow stamp, glowMap, stampMax, shadowMap) must
// match byte for byte, and pixels a stage does not write must keep what they
// held.

#include <gtest/gtest.h>

#include "DataDirectory.h"
#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/kernels/ShadowKernels.h"
#include "engine/RowPasses.h"
#include "engine/reference/GlowShadowModels.h"

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

class GlowShadowReference : public ::testing::Test {
  protected:
    void TearDown() override {
        engineTeardown();
        rowPasses::selectVariant(detectedCpuVariant()); // the load-time choice
    }

    // A random mask: a transparent or fully opaque background, rectangles
    // and discs that may run past the frame edges (often fully opaque),
    // scattered noise pixels, and now and then noise in the margin.
    void setUpRandomMask(int w, int h, int border) {
        engineTeardown();
        W = w, H = h, R = border;
        const int paddedWidth = w + 2 * border;
        paddedMask.assign(size_t(paddedWidth) * (h + 2 * border), 0);
        auto level = [&] {
            const int pick = int(random() % 4);
            return uint8_t(pick == 0 ? 0 : pick == 1 ? 1 + random() % 255 : 255);
        };
        if (random() % 3 == 0)
            for (uint8_t &m : paddedMask) m = random() % 5 == 0 ? level() : 0;
        std::vector<uint8_t> m(size_t(w) * h, random() % 4 == 0 ? 255 : 0);
        const int shapes = int(random() % 6);
        for (int s = 0; s < shapes; ++s) {
            const int cx = int(random() % (w + 8)) - 4, cy = int(random() % (h + 8)) - 4;
            const int rx = 1 + int(random() % (w / 2 + 3)), ry = 1 + int(random() % (h / 2 + 3));
            const bool disc = random() % 2 == 0;
            const bool uniform = random() % 3 != 0;
            const uint8_t fill = random() % 2 ? 255 : level();
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

    std::string what(const char *stage, int a, int b = -1) const {
        return std::string(stage) + " " + std::to_string(a) + "," + std::to_string(b) +
               " on frame " + std::to_string(W) + "x" + std::to_string(H) + " border " +
               std::to_string(R);
    }

    static bool same(const uint8_t *stage, const uint8_t *expected, size_t count, int pitch,
                     const char *plane, const std::string &what) {
        for (size_t p = 0; p < count; ++p) {
            if (stage[p] == expected[p]) continue;
            ADD_FAILURE() << plane << " differs at (" << p % pitch << ", " << p / pitch
                          << "): " << int(stage[p]) << " instead of " << int(expected[p]) << "; "
                          << what;
            return false;
        }
        return true;
    }

    // Runs the glow stage and the model from the same random plane contents
    // and compares them; false (with a failure) at the first difference.
    bool glowMatches(int width, int softness, bool profile) {
        const size_t frame = size_t(W) * H;
        GlowModel model;
        model.glow.resize(frame), model.stampMax.resize(frame);
        for (size_t p = 0; p < frame; ++p)
            model.glow[p] = uint8_t(random()), model.stampMax[p] = uint8_t(random());
        std::memcpy(engine.glowMap, model.glow.data(), frame);
        std::memcpy(engine.stampMax, model.stampMax.data(), frame);

        const uint8_t params[4] = {uint8_t(width), 100, uint8_t(softness), uint8_t(profile)};
        job.glow.width = params[0], job.glow.opacity = params[1], job.glow.softness = params[2];
        job.glow.profile = GlowProfile(params[3]);
        job.glow.on = 1;
        glowStage(job);
        const std::string context =
            what(profile ? "profile glow" : "blurred glow", width, softness);
        const int32_t g = limitToBorder(width);
        if (engine.edgeCount > 0 && profile) model.profile(g, softness);
        if (engine.edgeCount > 0 && !profile) model.blurred(g);
        if (engine.edgeCount > 0 && profile && g > 0)
            for (int32_t row = 0; row <= 2 * g; ++row)
                if (!same(engine.glowStamp + size_t(row) * model.stride,
                          &model.stamp[size_t(row) * model.stride], 2 * size_t(g) + 1, model.stride,
                          "glow stamp", context))
                    return false;
        return same(engine.glowMap, model.glow.data(), frame, W, "glowMap", context) &&
               same(engine.stampMax, model.stampMax.data(), frame, W, "stampMax", context);
    }

    bool shadowMatches(int softness) {
        const size_t padded = size_t(engine.paddedWidth) * engine.paddedHeight;
        ShadowModel model;
        model.map.resize(padded);
        for (uint8_t &v : model.map) v = uint8_t(random());
        std::memcpy(engine.shadowMap, model.map.data(), padded);
        job.shadow.softness = uint8_t(softness), job.shadow.opacity = 100, job.shadow.on = 1;
        shadowStage(job);
        if (engine.edgeCount > 0) model.run(limitToBorder(softness));
        return same(engine.shadowMap, model.map.data(), padded, engine.paddedWidth, "shadowMap",
                    what("shadow", softness));
    }

    // Profile softness: often 0, 100 or an extreme, else any byte.
    int randomSoftness() {
        const int extremes[] = {0, 1, 50, 99, 100, 101, 200, 254, 255};
        return random() % 2 ? extremes[random() % 9] : int(random() % 256);
    }

    std::mt19937 random{20261209};
    test::DataDirectory data; // holds the metal pattern set-up needs
    std::vector<uint8_t> paddedMask;
    std::vector<uint32_t> pixels;
    RenderJob job;
    int W = 0, H = 0, R = 30;
};

// Tiny frames: every glow width with both variants, every shadow softness.
TEST_F(GlowShadowReference, TinyFramesEveryWidthAndSoftness) {
    const int sizes[][2] = {{1, 2}, {2, 1}, {3, 3}, {2, 5}, {6, 4}, {1, 1}};
    for (const auto &size : sizes)
        for (int mask = 0; mask < 3; ++mask) {
            setUpRandomMask(size[0], size[1], 30);
            for (int width = 0; width <= 30; ++width) {
                ASSERT_TRUE(glowMatches(width, randomSoftness(), true));
                ASSERT_TRUE(glowMatches(width, randomSoftness(), false));
                ASSERT_TRUE(shadowMatches(width));
            }
        }
}

// Frames up to a few hundred pixels, on shapes that reach the frame edges.
TEST_F(GlowShadowReference, LargerFramesEveryWidthAndSoftness) {
    const int sizes[][2] = {{17, 9}, {40, 33}, {64, 3}, {3, 70}, {95, 70}, {161, 47}};
    for (const auto &size : sizes)
        for (int mask = 0; mask < 2; ++mask) {
            setUpRandomMask(size[0], size[1], 30);
            for (int width = 0; width <= 30; ++width) {
                ASSERT_TRUE(glowMatches(width, randomSoftness(), true));
                ASSERT_TRUE(glowMatches(width, randomSoftness(), false));
                ASSERT_TRUE(shadowMatches(width));
            }
        }
    setUpRandomMask(300, 200, 30);
    for (int width : {1, 8, 29, 30}) {
        ASSERT_TRUE(glowMatches(width, 100, true));
        ASSERT_TRUE(glowMatches(width, 0, false));
        ASSERT_TRUE(shadowMatches(width));
    }
}

// Each variant of the blurs' column and row passes that this processor runs
// (the portable one, AVX2, AVX-512), forced in turn, matches the models for
// every blurred glow width and shadow softness, on frames wider than the
// passes' vectors and with tails of every length.
TEST_F(GlowShadowReference, EveryCpuVariantMatchesTheModels) {
    std::string checked;
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        ASSERT_EQ(rowPasses::selectVariant(CpuVariant(v)), CpuVariant(v));
        checked += std::string(checked.empty() ? "" : " ") + cpuVariantName(CpuVariant(v));
        const int sizes[][2] = {{40, 33}, {95, 70}, {161, 47}, {200, 21}};
        for (const auto &size : sizes) {
            setUpRandomMask(size[0], size[1], 30);
            for (int width = 1; width <= 30; ++width) {
                ASSERT_TRUE(glowMatches(width, 0, false)) << cpuVariantName(CpuVariant(v));
                ASSERT_TRUE(shadowMatches(width)) << cpuVariantName(CpuVariant(v));
            }
        }
    }
    RecordProperty("variants", checked);
    std::printf("glow and shadow blur variants checked: %s\n", checked.c_str());
}

// Every profile softness 0..255 (the stamp overshoots and wraps past 100).
TEST_F(GlowShadowReference, EveryProfileSoftness) {
    for (int mask = 0; mask < 4; ++mask) {
        setUpRandomMask(37 + mask * 11, 29, 30);
        for (int softness = 0; softness <= 255; ++softness)
            ASSERT_TRUE(glowMatches(int(random() % 31), softness, true));
    }
}

// Widths and softness past the border act as the border, with borders down
// to 0; softness up to 255.
TEST_F(GlowShadowReference, RadiiBeyondTheBorder) {
    for (int border : {0, 1, 2, 7, 30, 40})
        for (int mask = 0; mask < 3; ++mask) {
            setUpRandomMask(23 + mask * 10, 19, border);
            for (int width : {0, 1, 2, 7, 8, 30, 31, 40, 100, 255}) {
                ASSERT_TRUE(glowMatches(width, randomSoftness(), true));
                ASSERT_TRUE(glowMatches(width, randomSoftness(), false));
                ASSERT_TRUE(shadowMatches(width));
            }
        }
}

} // namespace

namespace {

// The shadow blur keeps each mask row's opacity changes from when it enters
// its window and takes them back when it leaves: the kept runs must be
// exactly those the blur's column pass counts, for every width (the last run
// shorter) and for rows that differ in one pixel only, anywhere.
TEST(ShadowWindow, KeptOpacityChangesAreThoseTheColumnPassCounts) {
    std::mt19937 random(20261209);
    const uint8_t levels[] = {0, 1, 254, 255};
    for (int i = 0; i < 400; ++i) {
        const int width = 1 + int(random() % 300), stride = width + int(random() % 40);
        std::vector<uint8_t> rows(size_t(stride) * 2);
        for (uint8_t &m : rows) m = levels[random() % 4];
        uint8_t *row = rows.data() + stride;
        if (random() % 2) {
            // The row above the same but for one pixel, or the same in full.
            std::memcpy(row, rows.data(), size_t(width));
            if (random() % 4) row[random() % width] ^= uint8_t(1 + random() % 255);
        }
        const int32_t runs = (width + 31) / 32;
        std::vector<int32_t> counted(runs, 0), kept(runs, 0);
        std::vector<uint8_t> flags(runs, 7);
        countOpacityChanges(row, stride, width, 1, counted.data());
        shadowKernels::opacityChangeRuns(row, stride, width, flags.data());
        shadowKernels::addChangeRuns(flags.data(), width, 1, kept.data());
        ASSERT_EQ(counted, kept) << "width " << width;
        shadowKernels::addChangeRuns(flags.data(), width, -1, kept.data());
        ASSERT_EQ(kept, std::vector<int32_t>(runs, 0)) << "width " << width;
    }
}

} // namespace
