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

class GlowShadowReference : public ::testing::Test {
  protected:
    void TearDown() override { engineTeardown(); }

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
