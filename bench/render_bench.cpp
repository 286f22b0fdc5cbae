// Render benchmark: renders frames of a title-like shape with the default
// settings through OperatorAction and times each engine step separately.
//
//   lustra_bench [--frames N]
//
// Prints milliseconds of CPU time per frame (median of N runs) for 720 x 576 and
// 1920 x 1080, and per engine step.
#include "driver/FrameRender.h"
#include "driver/RenderJob.h"
#include "driver/SourceImages.h"
#include "engine/Engine.h"
#include "common/MemoryHost.h"
#include "common/TitleShape.h"
#include "lustrafex/host_backend.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The render thread's own CPU time, so that other processes on the machine
// do not distort the figures.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
};

double millisecondsSince(double start) { return Clock::now() - start; }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void benchmark(lustra::tools::MemoryHost &host, int width, int height, int frames) {
    using namespace lustra;
    host.setFrames(width, height, lustra::tools::titleFrame(width, height),
                   lustra::tools::backgroundFrame(width, height));

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
    lustra::tools::MemoryHost host;
    lustra::lustraInstallBackend(&host);
    benchmark(host, 720, 576, frames);
    benchmark(host, 1920, 1080, frames);
    lustra::lustraInstallBackend(nullptr);
    return 0;
}
