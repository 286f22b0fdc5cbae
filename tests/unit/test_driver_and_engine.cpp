// The frame render driver's mask and output conversion, the engine's set-up
// and mask analysis, pattern loading and the final shading.
#include "DataDirectory.h"
#include "driver/FrameRender.h"
#include "driver/RenderJob.h"
#include "driver/kernels/HostPixelKernels.h"
#include "driver/reference/HostPixelModel.h"
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "lustrafex/host_pixels.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace lustra;
namespace fs = std::filesystem;

namespace {

using test::DataDirectory;

struct EngineRun {
    int32_t width, height;
    std::vector<uint8_t> padded;
    std::vector<uint32_t> pixels;
    RenderJob job;

    EngineRun(int32_t w, int32_t h, const DataDirectory &data)
        : width(w), height(h), padded(size_t(w + 60) * (h + 60), 0), pixels(size_t(w) * h, 0) {
        job.width = static_cast<int16_t>(w);
        job.height = static_cast<int16_t>(h);
        job.paddedMask = padded.data();
        job.pixels = pixels.data();
        job.dataDirectory = data.path.c_str();
        job.border = 30;
        job.bevel.on = 1;
    }
    ~EngineRun() { engineTeardown(); }
    uint8_t &mask(int32_t x, int32_t y) { return padded[size_t(y + 30) * (width + 60) + x + 30]; }
    int32_t setup() { return engineSetup(job); }
    uint32_t pixel(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

uint32_t rgb(int r, int g, int b) {
    return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

} // namespace

TEST(OutputConversion, BulkConversionMatchesThePixelConversionEverywhere) {
    std::vector<uint32_t> rgbRow(65536), out(65536);
    for (uint32_t r = 0; r < 256; ++r) {
        for (uint32_t i = 0; i < 65536; ++i) {
            rgbRow[i] = (r << 16) | i;
            out[i] = 0xA5A5A500u | (i & 0xFF);
        }
        driverKernels::rgbToHostPixels(rgbRow.data(), out.data(), out.data(), out.size());
        for (uint32_t i = 0; i < 65536; ++i)
            ASSERT_EQ(out[i], reference::hostPixelFromWork(rgbRow[i], i & 0xFF)) << r << " " << i;
    }
}

TEST(OutputConversion, RgbBecomesFullRangeYCbCrAndKeepsTheAlpha) {
    using reference::hostPixelFromWork;
    EXPECT_EQ(hostPixelFromWork(rgb(255, 255, 255), 0x12345678), 0xFF808078u);
    EXPECT_EQ(hostPixelFromWork(rgb(255, 0, 0), 0), 0x4C54FF00u); // Y 76, Cb 84, Cr 255
    EXPECT_EQ(hostPixelFromWork(rgb(0, 0, 255), 0), 0x1DFF6B00u); // Y 29, Cb 255, Cr 107
    EXPECT_EQ(hostPixelFromWork(rgb(0, 0, 0), 0xAB), 0x008080ABu);
    // Every colour lands in 0..255 without clamping.
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                float ycc[3];
                lustra::hostYCbCrFromRgb(uint8_t(r), uint8_t(g), uint8_t(b), ycc);
                ASSERT_TRUE(ycc[0] >= 0 && ycc[0] < 256 && ycc[1] >= 0 && ycc[1] < 256 &&
                            ycc[2] >= 0 && ycc[2] < 256);
            }
}

class Driver : public ::testing::Test {
  protected:
    std::vector<uint32_t> frame;
    void SetUp() override {
        resetSettings();
        flickerFilterOption.value = 0;
    }
    void TearDown() override {
        releaseWorkBuffers();
        fieldState.inputFrame1 = nullptr;
    }
    void prepare(int32_t w, int32_t h, uint32_t luminance) {
        frame.assign(size_t(w) * h, luminance << 24);
        fieldState.inputFrame1 = frame.data();
        ASSERT_EQ(allocateWorkBuffers(w, h), 0);
        driverState.maskBuilt = 0;
        renderJob.glow.on = 1;
        renderJob.bevel.width = 8;
    }
    uint8_t maskAt(int32_t x, int32_t y) const {
        return driverState.mask[size_t(y + 30) * (driverState.width + 60) + x + 30];
    }
};

TEST_F(Driver, MaskFollowsLuminanceAbove48) {
    prepare(4, 2, 16);
    const std::pair<uint32_t, uint8_t> cases[] = {{48, 0},    {49, 1},    {100, 80},
                                                  {213, 253}, {214, 255}, {255, 255}};
    for (size_t i = 0; i < std::size(cases); ++i) frame[i] = cases[i].first << 24;
    buildMask();
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(maskAt(int32_t(i % 4), int32_t(i / 4)), cases[i].second) << cases[i].first;
    EXPECT_EQ(driverState.mask[0], 0) << "the margin stays clear";
}

TEST_F(Driver, EmptyShapesSwitchOffTheGlowOrTheBevel) {
    prepare(6, 4, 48);
    buildMask();
    EXPECT_EQ(maskAt(0, 0), 1);
    EXPECT_EQ(maskAt(1, 0), 0);
    EXPECT_EQ(renderJob.glow.on, 0);
    EXPECT_EQ(renderJob.bevel.width, 8);

    prepare(6, 4, 48);
    settings.invertShape = 1;
    buildMask();
    EXPECT_EQ(maskAt(0, 0), 0);
    EXPECT_EQ(maskAt(5, 3), 255);
    EXPECT_EQ(driverState.mask[0], 0) << "the margin stays 0 when inverted";
    EXPECT_EQ(renderJob.bevel.width, 0);
    EXPECT_EQ(renderJob.glow.on, 1);
}

TEST_F(Driver, FlickerFilterAveragesLargeRowDifferencesDownwards) {
    prepare(2, 3, 16);
    uint32_t *p = driverState.workPixels;
    p[0] = rgb(100, 0, 0);
    p[1] = rgb(10, 10, 10);
    p[2] = rgb(150, 0, 0);
    p[3] = rgb(59, 10, 10);
    p[4] = rgb(0, 0, 0);
    p[5] = rgb(59, 10, 10);
    smoothInterlineDifferences();
    EXPECT_EQ(p[0], rgb(125, 0, 0));
    EXPECT_EQ(p[1], rgb(10, 10, 10)) << "a difference of 49 stays";
    EXPECT_EQ(p[2], rgb(75, 0, 0)) << "rows are smoothed top to bottom";
    EXPECT_EQ(p[4], rgb(0, 0, 0)) << "the bottom row never changes";

    flickerFilterOption.value = 1;
    std::vector<uint32_t> out(6, 0x11);
    convertOutput(out.data());
    EXPECT_EQ(out[4], 0x00808011u);
    flickerFilterOption.value = 0;
}

TEST(EngineSetup, TablesAndMetalPattern) {
    DataDirectory data(77);
    EngineRun run(5, 4, data);
    ASSERT_EQ(run.setup(), 0);
    EXPECT_EQ(engine.cosineRamp[0], 1);
    EXPECT_EQ(engine.cosineRamp[64], 99);
    EXPECT_EQ(engine.cosineRamp[128], 181);
    EXPECT_EQ(engine.cosineRamp[192], 236);
    EXPECT_EQ(engine.cosineRamp[255], 255);
    EXPECT_EQ(engine.metalTexture[12345], 77);
    EXPECT_EQ(engine.rowOffset[3], 15);
    EXPECT_EQ(engine.paddedRowOffset[2], 130);
    EXPECT_EQ(engine.paddedWidth, 65);
    EXPECT_EQ(engine.mask, run.padded.data() + 30 * 66);
    EXPECT_EQ(engine.textureOn[0], run.job.texture[0].on);
    EXPECT_EQ(engineTeardown(), 0);
    EXPECT_EQ(engineTeardown(), 0) << "a second tear-down is harmless";
    EXPECT_EQ(engine.slopeX, nullptr);
}

TEST(EngineSetup, MissingOrUnnameableMetalPatternFails) {
    DataDirectory data;
    fs::remove(data.path + "metal.pat");
    EngineRun run(4, 4, data);
    EXPECT_EQ(run.setup(), 1);
    engineTeardown();
    std::string longDirectory = "/" + std::string(300, 'd') + "/";
    run.job.dataDirectory = longDirectory.c_str();
    EXPECT_EQ(run.setup(), 1);
    engineTeardown();
    run.job.dataDirectory = nullptr;
    EXPECT_EQ(run.setup(), 1);
}

TEST(MaskAnalysis, EdgesBoundsAndFullMasks) {
    DataDirectory data;
    {
        // A single opaque pixel: four edge pixels in scan order, 3 x 3 box.
        EngineRun run(7, 7, data);
        run.mask(3, 3) = 200;
        ASSERT_EQ(run.setup(), 0);
        ASSERT_EQ(engine.edgeCount, 4);
        const int32_t xs[4] = {3, 2, 4, 3}, ys[4] = {2, 3, 3, 4};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(engine.edgeX[i], xs[i]);
            EXPECT_EQ(engine.edgeY[i], ys[i]);
        }
        EXPECT_EQ(engine.boundsMinX, 2);
        EXPECT_EQ(engine.boundsMaxX, 4);
        EXPECT_EQ(engine.boundsMinY, 2);
        EXPECT_EQ(engine.boundsMaxY, 4);
        EXPECT_EQ(engine.maskFull, 0);
    }
    {
        // Transparent: the box keeps its starting values.
        EngineRun run(7, 5, data);
        ASSERT_EQ(run.setup(), 0);
        EXPECT_EQ(engine.edgeCount, 0);
        EXPECT_EQ(engine.boundsMinX, 6);
        EXPECT_EQ(engine.boundsMinY, 4);
        EXPECT_EQ(engine.boundsMaxX, 0);
        EXPECT_EQ(engine.boundsMaxY, 0);
    }
    {
        // Fully opaque: full, no edges, box over the whole frame.
        EngineRun run(6, 4, data);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x) run.mask(x, y) = 9;
        ASSERT_EQ(run.setup(), 0);
        EXPECT_EQ(engine.maskFull, 1);
        EXPECT_EQ(engine.edgeCount, 0);
        EXPECT_EQ(engine.boundsMaxX, 5);
        EXPECT_EQ(engine.boundsMaxY, 3);
    }
    {
        // A checkerboard fills the edge list; later edge pixels are skipped.
        EngineRun run(5, 5, data);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) run.mask(x, y) = (x + y) % 2 ? 255 : 0;
        ASSERT_EQ(run.setup(), 0);
        EXPECT_EQ(engine.edgeCount, 12);
        EXPECT_EQ(engine.edgeX[11], 2);
        EXPECT_EQ(engine.edgeY[11], 4);
    }
    {
        // A shape along the frame's border: the margin is never a neighbour.
        EngineRun run(4, 3, data);
        for (int y = 0; y < 3; ++y) run.mask(0, y) = 255;
        ASSERT_EQ(run.setup(), 0);
        EXPECT_EQ(engine.edgeCount, 3);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(engine.edgeX[i], 1);
    }
}

// Sparse shapes and a block with holes, on frames around the width of the
// runs that the analysis takes as a whole: edges (in scan order), box and full flag equal a
// pixel-by-pixel reading, whatever the margin holds.
TEST(MaskAnalysis, ShapesOnWideFramesMatchAPixelByPixelReading) {
    DataDirectory data;
    std::mt19937 random(11);
    for (const int32_t width : {1, 2, 63, 64, 65, 127, 129, 200}) {
        for (const int32_t height : {2, 3, 17}) {
            EngineRun run(width, height, data);
            std::fill(run.padded.begin(), run.padded.end(), uint8_t(77));
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x) run.mask(x, y) = 0;
            // A block covered throughout, wider than a run on the wide frames.
            for (int32_t y = height / 4; y < height - height / 4; ++y)
                for (int32_t x = width / 8; x < width - width / 8; ++x) run.mask(x, y) = 200;
            for (int k = random() % 6; k > 0; --k)
                run.mask(random() % width, random() % height) = uint8_t(1 + random() % 255);
            for (int k = random() % 3; k > 0; --k) run.mask(random() % width, height / 2) = 0;
            run.mask(width - 1, random() % height) = 5; // at the right border
            if (width > 64) run.mask(64, 0) = 9;        // at a run boundary
            std::vector<std::pair<int32_t, int32_t>> edges;
            int32_t covered = 0;
            int32_t minX = width - 1, minY = height - 1, maxX = 0, maxY = 0;
            auto at = [&](int32_t x, int32_t y) {
                return x < 0 || y < 0 || x >= width || y >= height ? 0 : run.mask(x, y);
            };
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x) {
                    const bool edge = at(x, y) == 0 && (at(x + 1, y) + at(x - 1, y) + at(x, y + 1) +
                                                        at(x, y - 1)) != 0;
                    covered += at(x, y) != 0;
                    if (at(x, y) == 0 && !edge) continue;
                    if (edge) edges.emplace_back(x, y);
                    minX = std::min(minX, x);
                    minY = std::min(minY, y);
                    maxX = std::max(maxX, x);
                    maxY = std::max(maxY, y);
                }
            ASSERT_EQ(run.setup(), 0);
            const std::string where = std::to_string(width) + " x " + std::to_string(height);
            ASSERT_EQ(engine.edgeCount, int32_t(edges.size())) << where;
            for (size_t i = 0; i < edges.size(); ++i) {
                EXPECT_EQ(engine.edgeX[i], edges[i].first) << where;
                EXPECT_EQ(engine.edgeY[i], edges[i].second) << where;
            }
            EXPECT_EQ(engine.boundsMinX, minX) << where;
            EXPECT_EQ(engine.boundsMinY, minY) << where;
            EXPECT_EQ(engine.boundsMaxX, maxX) << where;
            EXPECT_EQ(engine.boundsMaxY, maxY) << where;
            EXPECT_EQ(engine.maskFull, covered == width * height ? 1 : 0) << where;
        }
    }
}

// Masks of scattered pixels and blobs at every density, so that most runs
// mix covered, transparent and edge pixels: on frames whose widths end in
// every position of a run and of its groups of eight bytes, with a margin
// that is not 0, edges (in scan order), box and full flag equal a
// pixel-by-pixel reading (which, like the analysis, keeps the first
// floor(W x H / 2) edges).
TEST(MaskAnalysis, NoisyMasksMatchAPixelByPixelReading) {
    DataDirectory data;
    std::mt19937 random(12);
    for (const int32_t width : {1, 3, 7, 8, 9, 15, 57, 63, 64, 65, 71, 128, 131, 190}) {
        for (int trial = 0; trial < 6; ++trial) {
            const int32_t height = 1 + int32_t(random() % 9);
            EngineRun run(width, height, data);
            std::fill(run.padded.begin(), run.padded.end(), uint8_t(77));
            const int density = int(random() % 101);
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x)
                    run.mask(x, y) = int(random() % 100) < density
                                         ? uint8_t(random() % 4 == 0 ? 1 + random() % 255 : 255)
                                         : 0;
            std::vector<std::pair<int32_t, int32_t>> edges;
            int32_t covered = 0;
            int32_t minX = width - 1, minY = height - 1, maxX = 0, maxY = 0;
            auto at = [&](int32_t x, int32_t y) {
                return x < 0 || y < 0 || x >= width || y >= height ? 0 : run.mask(x, y);
            };
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x) {
                    const bool edge = at(x, y) == 0 && (at(x + 1, y) + at(x - 1, y) + at(x, y + 1) +
                                                        at(x, y - 1)) != 0;
                    covered += at(x, y) != 0;
                    if (at(x, y) == 0 && !edge) continue;
                    if (edge && int32_t(edges.size()) >= width * height / 2) continue;
                    if (edge) edges.emplace_back(x, y);
                    minX = std::min(minX, x);
                    minY = std::min(minY, y);
                    maxX = std::max(maxX, x);
                    maxY = std::max(maxY, y);
                }
            ASSERT_EQ(run.setup(), 0);
            const std::string where = std::to_string(width) + " x " + std::to_string(height) +
                                      ", density " + std::to_string(density);
            ASSERT_EQ(engine.edgeCount, int32_t(edges.size())) << where;
            for (size_t i = 0; i < edges.size(); ++i) {
                ASSERT_EQ(engine.edgeX[i], edges[i].first) << where << ", edge " << i;
                ASSERT_EQ(engine.edgeY[i], edges[i].second) << where << ", edge " << i;
            }
            EXPECT_EQ(engine.boundsMinX, minX) << where;
            EXPECT_EQ(engine.boundsMinY, minY) << where;
            EXPECT_EQ(engine.boundsMaxX, maxX) << where;
            EXPECT_EQ(engine.boundsMaxY, maxY) << where;
            EXPECT_EQ(engine.maskFull, covered == width * height ? 1 : 0) << where;
        }
    }
}

// The edge lists grow while the analysis finds edges, up to floor(W x H / 2)
// entries, the edges beyond that left out. A checkerboard of odd size has one
// transparent pixel more than that, each an edge, the last one at the bottom
// right corner.
TEST(MaskAnalysis, EdgeListsGrowToTheMostEdgesInScanOrder) {
    DataDirectory data;
    const int32_t w = 641, h = 411;
    for (const uint8_t singleRun : {uint8_t(0), uint8_t(1)}) {
        EngineRun run(w, h, data);
        run.job.singleRun = singleRun;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) run.mask(x, y) = (x + y) % 2 ? 200 : 0;
        ASSERT_EQ(run.setup(), 0);
        const int32_t most = w * h / 2;
        ASSERT_EQ(engine.edgeCount, most);
        int32_t i = 0;
        for (int32_t y = 0; y < h && i < most; ++y)
            for (int32_t x = 0; x < w && i < most; ++x) {
                if (run.mask(x, y) != 0) continue;
                ASSERT_EQ(engine.edgeX[i], x) << i;
                ASSERT_EQ(engine.edgeY[i], y) << i;
                ++i;
            }
        EXPECT_EQ(i, most);
        EXPECT_EQ(engine.boundsMaxX, w - 1);
        EXPECT_EQ(engine.boundsMaxY, h - 1);
        engineTeardown();
    }
}

TEST(PatternLoading, SlopesWrapAndSpanTheSignedRange) {
    DataDirectory data;
    std::vector<uint8_t> bright(65536, 0);
    bright[0] = 255; // a single bright cell at (0, 0)
    data.writePattern("fractal.pat", bright);
    EngineRun run(4, 4, data);
    ASSERT_EQ(run.setup(), 0);
    std::vector<int8_t> sx(65536), sy(65536);
    std::vector<uint8_t> raw(65536);
    ASSERT_EQ(loadPattern(1, sx.data(), sy.data(), raw.data(), run.job), 1);
    EXPECT_EQ(raw[0], 255);
    // Right of the cell the height falls: the left-minus-right slope is
    // positive; left of it (column 255, through the wrap) negative.
    EXPECT_EQ(sx[1], 127);
    EXPECT_EQ(sx[255], -128);
    EXPECT_EQ(sy[256], 127);
    EXPECT_EQ(sy[255 * 256], -128);
    EXPECT_EQ(sx[128 * 256 + 128], sx[100]) << "flat cells share one value";

    // A flat pattern has no slope; a missing file leaves the planes alone.
    data.writePattern("normal.pat", std::vector<uint8_t>(65536, 9));
    ASSERT_EQ(loadPattern(0, sx.data(), sy.data(), raw.data(), run.job), 1);
    EXPECT_EQ(sx[77], 0);
    sx[0] = 42;
    EXPECT_EQ(loadPattern(2, sx.data(), sy.data(), raw.data(), run.job), 0);
    EXPECT_EQ(sx[0], 42);
    EXPECT_EQ(loadPattern(7, sx.data(), sy.data(), raw.data(), run.job), 0);
}

TEST(SmoothingKernel, WeightsForBothGains) {
    DataDirectory data;
    EngineRun run(4, 4, data);
    ASSERT_EQ(run.setup(), 0);
    auto kernel = [](int r) {
        return std::vector<int32_t>(engine.blurKernel, engine.blurKernel + 2 * r + 1);
    };
    buildSmoothKernel(1, 4087.992064);
    EXPECT_EQ(kernel(1), (std::vector<int32_t>{681, 2725, 681}));
    buildSmoothKernel(2, 4087.992064);
    EXPECT_EQ(kernel(2), (std::vector<int32_t>{272, 953, 1635, 953, 272}));
    buildSmoothKernel(1, 256);
    EXPECT_EQ(kernel(1), (std::vector<int32_t>{42, 170, 42}));
    buildSmoothKernel(3, 256);
    EXPECT_EQ(kernel(3), (std::vector<int32_t>{9, 25, 56, 73, 56, 25, 9}));
    buildSmoothKernel(0, 256);
    EXPECT_EQ(kernel(3), (std::vector<int32_t>{9, 25, 56, 73, 56, 25, 9}))
        << "radius 0 writes nothing";
}

class FinalShading : public ::testing::Test {
  protected:
    DataDirectory data{100};
    EngineRun run{8, 6, data};

    void SetUp() override {
        RenderJob &job = run.job;
        job.fill[0].colourA = {200, 100, 50};
        job.fill[1].colourA = {10, 20, 30};
        job.fill[0].mode = job.fill[1].mode = FillMode(0);
        job.fillZoom = 128;
    }
    void shade() {
        ASSERT_EQ(run.setup(), 0);
        ASSERT_EQ(finalShadingStage(run.job), 0);
    }
};

TEST_F(FinalShading, PlainFillsMixByCoverage) {
    run.mask(2, 2) = 255;
    run.mask(3, 2) = 100;
    for (uint32_t &p : run.pixels) p = 0xAB000000u;
    shade();
    EXPECT_EQ(run.pixel(2, 2), 0xAB000000u | rgb(199, 99, 49)) << "(255 x F) >> 8";
    const auto mix = [](int a1, int a2, int c) { return ((255 - c) * a2 + c * a1) >> 8; };
    EXPECT_EQ(run.pixel(3, 2),
              0xAB000000u | rgb(mix(200, 10, 100), mix(100, 20, 100), mix(50, 30, 100)));
    EXPECT_EQ(run.pixel(0, 0), 0xAB000000u | rgb(10, 20, 30)) << "outside: exactly the background";
}

TEST_F(FinalShading, EmptyMasksShowOnlyTheBackground) {
    shade();
    for (uint32_t p : run.pixels) EXPECT_EQ(p, rgb(10, 20, 30));
}

TEST_F(FinalShading, MetalFillsReadTheirTablesAndTheBackgroundShifts) {
    run.mask(4, 3) = 255;
    run.job.fill[0].mode = run.job.fill[1].mode = FillMode(2);
    run.job.fill[0].colourB = run.job.fill[1].colourB = {0, 0, 0};
    run.job.fill[0].colourC = run.job.fill[1].colourC = {0, 0, 0};
    run.job.fill[1].colourA = run.job.fill[0].colourA;
    shade();
    // Uniform texture 100: fill 1 reads entry 100, fill 2 reads
    // ((((100 x 255) >> 8) x 255) >> 8) = 98.
    const auto diffuse = [](int a, int j) { return (a * engine.cosineRamp[j * 255 / 256]) >> 8; };
    const int f1 = (255 * ((diffuse(200, 100) * 255) >> 8)) >> 8;
    EXPECT_EQ(pixelRed(run.pixel(4, 3)), f1);
    EXPECT_EQ(pixelRed(run.pixel(0, 0)), (diffuse(200, 98) * 255) >> 8);
}

TEST_F(FinalShading, LightLobeIsBrightestAtTheCentreTexel) {
    run.job.fill[1].mode = FillMode(1);
    run.job.fill[1].colourA = {255, 255, 255};
    run.job.fill[1].colourC = {0, 0, 0};
    run.job.fill[1].colourB = {0, 0, 0};
    run.job.offsetX = run.job.offsetY = 0;
    shade();
    // The picture centre maps to the lobe's peak: d = (255 x 255) >> 8 = 254,
    // colour ((255 x 254) >> 8) x 255 >> 8 = 252.
    EXPECT_EQ(pixelRed(run.pixel(4, 3)), 252);
    EXPECT_LT(pixelRed(run.pixel(0, 0)), pixelRed(run.pixel(4, 3)));
}

TEST_F(FinalShading, ShadowAndGlowWeightsComposeInOrder) {
    run.job.shadow.on = 1;
    run.job.shadow.opacity = 100;
    run.job.shadow.colour = {0, 0, 0};
    run.job.shadow.distance = 0;
    run.job.glow.on = 1;
    run.job.glow.opacity = 100;
    run.job.glow.colour1 = run.job.glow.colour2 = {250, 0, 0};
    run.mask(7, 5) = 255; // some shape so that coverage counts
    ASSERT_EQ(run.setup(), 0);
    engine.shadowMap[(30 + 1) * engine.paddedWidth + 30 + 1] = 255; // shadow at (1, 1)
    engine.glowMap[2 * 8 + 2] = 255;                                // glow at (2, 2)
    ASSERT_EQ(finalShadingStage(run.job), 0);
    const int s = (255 * 255) >> 8; // 254
    EXPECT_EQ(pixelBlue(run.pixel(1, 1)), ((255 - s) * 30) >> 8);
    const int g = (255 * 255) >> 8;
    const int ramp = (250 * ((255 * (g * 255 / 256)) >> 8 & 255) +
                      250 * (255 - ((255 * (g * 255 / 256)) >> 8 & 255))) >>
                     8;
    EXPECT_EQ(pixelRed(run.pixel(2, 2)), ((255 - g) * 10 + g * ramp) >> 8);
}

TEST_F(FinalShading, ExtremeOffsetsAndOpacitiesStayDefined) {
    // Offsets far beyond the frame: the light lobe holds at its limit, the
    // metal texture wraps every 256 texels, and the shadow, shifted off its
    // map, shows nowhere; opacities above 100 % count as 100 %.
    run.mask(3, 3) = 255;
    run.job.fill[0].mode = kFillLight;
    run.job.fill[1].mode = kFillMetal;
    run.job.glow.on = 1;
    run.job.glow.opacity = 255;
    run.job.shadow.opacity = 255;
    run.job.shadow.distance = 255;
    auto render = [&](int32_t offset, uint8_t shadowOn) {
        run.job.offsetX = run.job.offsetY = offset;
        run.job.shadow.on = shadowOn;
        std::fill(run.pixels.begin(), run.pixels.end(), 0xAB000000u);
        EXPECT_EQ(run.setup(), 0);
        std::fill_n(engine.shadowMap, size_t(engine.paddedWidth) * engine.paddedHeight, 255);
        EXPECT_EQ(finalShadingStage(run.job), 0);
        const std::vector<uint32_t> out = run.pixels;
        engineTeardown();
        return out;
    };
    for (int32_t offset : {INT32_MIN, -4096, 4096, 8192, INT32_MAX}) {
        const std::vector<uint32_t> shaded = render(offset, 1);
        EXPECT_EQ(shaded, render(offset, 0)) << "the shadow lies off its map at " << offset;
        for (uint32_t p : shaded) EXPECT_EQ(p >> 24, 0xABu) << "the fourth byte is kept";
    }
    EXPECT_EQ(render(4096, 1), render(8192, 1)) << "the same lobe, the same texels";
    run.job.shadow.opacity = 100;
    const std::vector<uint32_t> full = render(10, 1);
    run.job.shadow.opacity = 255;
    EXPECT_EQ(render(10, 1), full) << "255 % shades as 100 %";
    EXPECT_NE(full, render(10, 0)) << "a shadow 25 pixels away lies on the frame";
}

TEST_F(FinalShading, PictureFillsWrapForAnyWidth) {
    std::vector<uint32_t> picture(3 * 2);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = rgb(int(i) * 40, 0, 0);
    run.job.fill[1].mode = FillMode(3);
    run.job.fill[1].image = picture.data();
    run.job.fill[1].imageWidth = 3;
    run.job.fill[1].imageHeight = 2;
    run.job.fill[1].colourA = {255, 255, 255};
    run.job.fillZoom = 255; // every pixel samples texel 127 - offset
    run.job.offsetX = -1000;
    run.job.offsetY = 5;
    shade();
    // u = (127 + 1000) mod 3 = 2, v = (127 - 5) mod 2 = 0; fractions 0:
    // top = (255 x 80) >> 8 = 79, colour = (255 x 79 x 255) >> 16 = 78.
    EXPECT_EQ(pixelRed(run.pixel(5, 4)), 78);
    // Without a picture, mode 3 shades as metal.
    const auto render = [&](FillMode mode, const uint32_t *image) {
        run.job.fill[1].mode = mode;
        run.job.fill[1].image = image;
        std::fill(run.pixels.begin(), run.pixels.end(), 0xAB000000u);
        engineTeardown();
        shade();
        return run.pixels;
    };
    const std::vector<uint32_t> metal = render(kFillMetal, nullptr);
    EXPECT_EQ(render(kFillPicture, nullptr), metal);
    EXPECT_NE(render(kFillPicture, picture.data()), metal);
}
