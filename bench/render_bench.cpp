// Render benchmark: renders frames of a title-like shape with the default
// settings through OperatorAction and times each engine step separately.
//
//   lustra_bench [--frames N]
//
// Prints milliseconds per frame (median of N runs) for 720 x 576 and
// 1920 x 1080, and per engine step.
#include "driver/FrameRender.h"
#include "driver/RenderJob.h"
#include "driver/SourceImages.h"
#include "engine/Engine.h"
#include "lustrafex/host_backend.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A title-like shape: a bar of block letters with rounded, anti-aliased
// edges and a ring, as luminance 16 (background) to 235 (title).
std::vector<uint32_t> titleFrame(int width, int height) {
    std::vector<uint32_t> frame(size_t(width) * height);
    const double unit = height / 12.0;
    auto coverage = [&](double x, double y) {
        double best = -1e9;
        // Five letter blocks with a counter (hole) each.
        for (int letter = 0; letter < 5; ++letter) {
            const double cx = width * (0.2 + 0.15 * letter), cy = height * 0.5;
            const double dx = std::fabs(x - cx) - unit * 1.6, dy = std::fabs(y - cy) - unit * 2.5;
            const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0)) +
                                   std::min(std::max(dx, dy), 0.0) - unit * 0.4;
            const double hole = std::hypot(x - cx, y - cy) - unit * 0.9;
            best = std::max(best, std::min(-outside, hole));
        }
        const double ring = unit * 0.5 - std::fabs(std::hypot(x - width * 0.5, y - height * 0.5) - unit * 5.2);
        return std::clamp(std::max(best, ring) + 0.5, 0.0, 1.0);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t luminance = 16 + uint32_t(219 * coverage(x + 0.5, y + 0.5));
            frame[size_t(y) * width + x] = (luminance << 24) | (128u << 16) | (128u << 8) | 255u;
        }
    return frame;
}

class BenchHost : public lustra::HostBackend {
  public:
    int width = 0, height = 0;
    std::vector<uint32_t> title, background;

    OpImage *image(int w, int h) {
        auto *result = new OpImage{new uint32_t[size_t(w) * h], int16_t(w), int16_t(h)};
        return result;
    }
    OpImage *getField(int32_t input, int32_t field) override {
        const std::vector<uint32_t> &frame = input == 1 ? title : background;
        OpImage *result = image(width, height / 2);
        const int first = field % 2 == 0 ? 1 : 0;
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(result->pixels + size_t(y) * width,
                        frame.data() + size_t(2 * y + first) * width, size_t(width) * 4);
        return result;
    }
    OpImage *allocImage(int32_t, int32_t, int32_t, int32_t) override { return image(width, height / 2); }
    int32_t putField(OpImage *field) override {
        freeImage(field);
        return 0;
    }
    void freeImage(OpImage *field) override {
        if (!field) return;
        delete[] field->pixels;
        delete field;
    }
    void logMessage(int32_t, int32_t line, const char *, uint32_t, const char *) override {
        std::fprintf(stderr, "module reported failure line %d\n", line);
    }
};

void benchmark(BenchHost &host, int width, int height, int frames) {
    using namespace lustra;
    host.width = width;
    host.height = height;
    host.title = titleFrame(width, height);
    host.background.assign(size_t(width) * height, (120u << 24) | (128u << 16) | (128u << 8) | 255u);

    OperatorContext context{};
    GetOperatorInfo();
    context.action = 1;
    OperatorAction(&context);

    // Whole frames through the operator's entry point (frame-wise: the first
    // call of each pair renders and returns both fields).
    std::vector<double> whole;
    for (int i = 0; i < frames; ++i) {
        context.action = 3;
        context.fieldNumber = 0;
        const Clock::time_point start = Clock::now();
        if (OperatorAction(&context) != 0) std::fprintf(stderr, "render failed\n");
        whole.push_back(millisecondsSince(start));
        OperatorAction(&context); // the second field of the pair
    }

    // The same frame step by step.
    const char *names[] = {"sources + job", "work buffers + mask", "engine set-up", "bevel", "glow",
                           "shadow", "surface texture 1", "surface texture 2", "image map 1",
                           "image map 2", "final shading", "output conversion", "tear-down"};
    constexpr int kSteps = 13;
    std::vector<double> steps[kSteps];
    std::vector<uint32_t> frame0 = host.background, frame1 = host.title;
    fieldState.inputFrame0 = frame0.data();
    fieldState.inputFrame1 = frame1.data();
    fieldState.projectFrameWidth = width;
    fieldState.projectFrameHeight = height;
    using StageFunction = int32_t (*)(const RenderJob &);
    const StageFunction stages[] = {bevelStage,     glowStage,      shadowStage,
                                    surfaceTextureStage1, surfaceTextureStage2, imageMapStage1,
                                    imageMapStage2, finalShadingStage};
    for (int i = 0; i < frames; ++i) {
        Clock::time_point start = Clock::now();
        for (auto load : {loadMap1Source, loadMap2Source, loadFill1Source, loadFill2Source,
                          loadTexture1Source, loadTexture2Source})
            load();
        fillRenderJob(0);
        steps[0].push_back(millisecondsSince(start));
        start = Clock::now();
        allocateWorkBuffers(width, height);
        renderJob.pixels = driverState.workPixels;
        renderJob.paddedMask = driverState.mask;
        renderJob.width = int16_t(width);
        renderJob.height = int16_t(height);
        driverState.maskBuilt = 0;
        buildMask();
        steps[1].push_back(millisecondsSince(start));
        start = Clock::now();
        if (engineSetup(renderJob) != 0) std::fprintf(stderr, "engine set-up failed\n");
        steps[2].push_back(millisecondsSince(start));
        for (int s = 0; s < 8; ++s) {
            start = Clock::now();
            stages[s](renderJob);
            steps[3 + s].push_back(millisecondsSince(start));
        }
        start = Clock::now();
        convertOutput(frame1.data());
        steps[11].push_back(millisecondsSince(start));
        start = Clock::now();
        engineTeardown();
        releaseWorkBuffers();
        steps[12].push_back(millisecondsSince(start));
        frame1 = host.title;
    }
    fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;
    context.action = 2;
    OperatorAction(&context);

    std::printf("%d x %d: %.2f ms per frame (median of %d)\n", width, height, median(whole), frames);
    for (int s = 0; s < kSteps; ++s) std::printf("  %-20s %8.2f ms\n", names[s], median(steps[s]));
}

} // namespace

int main(int argc, char **argv) {
    int frames = 9;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--help" || argument == "-h") {
            std::printf("usage: lustra_bench [--frames N]\n"
                        "Renders a title over a grey background with the default settings at\n"
                        "720x576 and 1920x1080 and prints milliseconds per frame (median of N,\n"
                        "default 9) and per engine step.\n");
            return 0;
        } else {
            std::fprintf(stderr, "lustra_bench: unknown argument '%s' (see --help)\n", argv[i]);
            return 2;
        }
    }
    if (!std::getenv("VXHOME")) setenv("VXHOME", LUSTRA_DATA_DIR, 1);
    BenchHost host;
    lustra::lustraInstallBackend(&host);
    benchmark(host, 720, 576, frames);
    benchmark(host, 1920, 1080, frames);
    lustra::lustraInstallBackend(nullptr);
    return 0;
}
