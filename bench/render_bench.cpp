// Render benchmark: renders frames of a title-like shape with the default
// settings through OperatorAction and times each engine step separately.
//
//   lustra_bench [--frames N] [--scenario NAME] [--check] [--whole-frame | --far-always]
//
// Prints milliseconds of CPU time per frame (median of N runs) for 720 x 576 and
// 1920 x 1080: the whole render call, the module's part of it (the call less
// the time the host spends in its field callbacks), and per engine step.
#include "driver/FrameRender.h"
#include "driver/RenderJob.h"
#include "driver/SourceImages.h"
#include "driver/Stages.h"
#include "driver/kernels/HostPixelKernels.h"
#include "engine/BufferRecycler.h"
#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/reference/ShadingReference.h"
#include "support/MemoryHost.h"
#include "support/TitleShape.h"
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

double millisecondsSince(double start) {
    return Clock::now() - start;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The memory host, timing its own callbacks so that the host's share of a
// render call (handing fields over and taking them back) can be told apart
// from the module's.
class TimedHost : public lustra::tools::MemoryHost {
  public:
    double hostMilliseconds = 0;

    // The benchmark renders frame-wise: every field is a view.
    TimedHost() { fieldWise = false; }

    OpImage *getField(int32_t input, int32_t field) override {
        const double start = Clock::now();
        OpImage *result = MemoryHost::getField(input, field);
        hostMilliseconds += millisecondsSince(start);
        return result;
    }
    OpImage *allocImage(int32_t w, int32_t h, int32_t depth, int32_t flags) override {
        const double start = Clock::now();
        OpImage *result = MemoryHost::allocImage(w, h, depth, flags);
        hostMilliseconds += millisecondsSince(start);
        return result;
    }
    int32_t putField(OpImage *field) override {
        const double start = Clock::now();
        const int32_t result = MemoryHost::putField(field);
        hostMilliseconds += millisecondsSince(start);
        return result;
    }
    void freeImage(OpImage *field) override {
        const double start = Clock::now();
        MemoryHost::freeImage(field);
        hostMilliseconds += millisecondsSince(start);
    }
};

// A settings record to measure: a change of the defaults and the host's
// second-layers choice.
struct Scenario {
    const char *name;
    int secondLayers;
    void (*change)(lustra::EffectSettings &);
    bool smallTitle = false; // the title shape at a tenth of the frame
};

// The title shape drawn into a box of 4/10 of the width and 1/4 of the
// height in the lower part of the frame, luminance 16 around it: a title that
// covers about a tenth of the frame, as a lower third does.
std::vector<uint32_t> smallTitleFrame(int width, int height) {
    const int w = width * 4 / 10, h = height / 4;
    const int left = width * 3 / 10, top = height * 2 / 3;
    const std::vector<uint32_t> title = lustra::tools::titleFrame(w, h);
    std::vector<uint32_t> frame(size_t(width) * height, lustra::tools::hostPixel(16, 128, 128));
    for (int y = 0; y < h; ++y)
        std::copy(title.begin() + size_t(y) * w, title.begin() + size_t(y + 1) * w,
                  frame.begin() + size_t(top + y) * width + left);
    return frame;
}

const Scenario kScenarios[] = {
    {"default", 0, [](lustra::EffectSettings &) {}},
    {"bevel-30-smoothing-30", 0,
     [](lustra::EffectSettings &s) {
         s.bevelWidth = 30;
         s.bevelSmoothing = 30;
     }},
    // The bevel's width alone (default smoothing); 60 is limited to the
    // border, 30.
    {"bevel-15", 0, [](lustra::EffectSettings &s) { s.bevelWidth = 15; }},
    {"bevel-30", 0, [](lustra::EffectSettings &s) { s.bevelWidth = 30; }},
    {"bevel-60", 0, [](lustra::EffectSettings &s) { s.bevelWidth = 60; }},
    {"glow-profile-30", 0,
     [](lustra::EffectSettings &s) {
         s.glowOn = 1;
         s.glowWidth = 30;
     }},
    {"glow-blurred-30", 0,
     [](lustra::EffectSettings &s) {
         s.glowOn = 1;
         s.glowWidth = 30;
         s.glowBlurred = 1;
     }},
    {"shadow-softness-30", 0, [](lustra::EffectSettings &s) { s.shadowSoftness = 30; }},
    {"textures-and-maps", 1,
     [](lustra::EffectSettings &s) {
         s.texture1On = s.texture2On = 1;
         s.texture1Type = 1;
         s.texture2Type = 2;
         s.map1On = s.map2On = 1;
         s.map1ScaleX = s.map1ScaleY = 150;
     }},
    // Textures magnified (bilinear), map 1 reduced (box), map 2 magnified.
    {"textures-and-maps-zoomed", 1,
     [](lustra::EffectSettings &s) {
         s.texture1On = s.texture2On = 1;
         s.texture1Type = 1;
         s.texture2Type = 2;
         s.texture1ScaleX = s.texture1ScaleY = s.texture2ScaleX = s.texture2ScaleY = 150;
         s.map1On = s.map2On = 1;
         s.map1ScaleX = s.map1ScaleY = 50;
         s.map2ScaleX = s.map2ScaleY = 300;
     }},
    // Picture textures (built from the source frame on every call).
    {"picture-textures", 1,
     [](lustra::EffectSettings &s) {
         s.texture1On = s.texture2On = 1;
         s.texture1Type = s.texture2Type = 4;
         s.texture2ScaleX = s.texture2ScaleY = 50;
     }},
    // Column spans and row spans on both textures and both maps.
    {"textures-and-maps-spans", 1,
     [](lustra::EffectSettings &s) {
         s.texture1On = s.texture2On = 1;
         s.texture1Type = 1;
         s.texture2Type = 2;
         s.texture1ScaleX = s.texture2ScaleY = 50;
         s.texture1ScaleY = s.texture2ScaleX = 150;
         s.map1On = s.map2On = 1;
         s.map1ScaleX = s.map2ScaleY = 60;
         s.map1ScaleY = s.map2ScaleX = 140;
     }},
    // The default look on a title that covers a tenth of the frame.
    {"small-title", 0, [](lustra::EffectSettings &) {}, true},
};

// Set by --check: the final shading of the first step-by-step frame is
// compared with its readable per-pixel model.
bool checkReference = false;

void benchmark(TimedHost &host, const Scenario &scenario, int width, int height, int frames) {
    using namespace lustra;
    host.setFrames(width, height,
                   scenario.smallTitle ? smallTitleFrame(width, height)
                                       : lustra::tools::titleFrame(width, height),
                   lustra::tools::backgroundFrame(width, height));

    OperatorContext context{};
    GetOperatorInfo();
    secondLayersOption.value = scenario.secondLayers;
    context.action = 1;
    OperatorAction(&context);
    scenario.change(settings);

    // Whole frames through the operator's entry point (frame-wise: the first
    // call of each pair renders and returns both fields).
    std::vector<double> whole, module;
    lustra::resetPeakBufferBytes();
    for (int i = 0; i < frames; ++i) {
        context.action = 3;
        context.fieldNumber = 0;
        host.hostMilliseconds = 0;
        const Clock::time_point start = Clock::now();
        if (OperatorAction(&context) != 0) std::fprintf(stderr, "render failed\n");
        whole.push_back(millisecondsSince(start));
        module.push_back(whole.back() - host.hostMilliseconds);
        OperatorAction(&context); // the second field of the pair
    }
    // The module's large buffers (frames, sources, work buffer, mask, engine
    // planes) at their most during a call, and those kept between calls.
    const size_t peakBytes = lustra::peakBufferBytes();
    const size_t keptBytes = lustra::keptBufferBytes();
    size_t engineBytes = 0;

    // The same frame step by step.
    constexpr int kSteps = 3 + kStageCount + 2;
    const char *names[kSteps] = {"sources + job", "work buffers + mask", "engine set-up"};
    for (int s = 0; s < kStageCount; ++s) names[3 + s] = kStageList[s].name;
    names[3 + kStageCount] = "output conversion";
    names[4 + kStageCount] = "tear-down";
    std::vector<double> steps[kSteps];
    std::vector<uint32_t> frame0 = host.background, frame1 = host.title;
    fieldState.inputFrame0 = frame0.data();
    fieldState.inputFrame1 = frame1.data();
    fieldState.projectFrameWidth = width;
    fieldState.projectFrameHeight = height;
    for (int i = 0; i < frames; ++i) {
        Clock::time_point start = Clock::now();
        // As the frame render does, map 2's picture of the frame is converted
        // after the set-up (counted with the sources).
        deferMap2Conversion(true);
        for (auto load : {loadMap1Source, loadMap2Source, loadFill1Source, loadFill2Source,
                          loadTexture1Source, loadTexture2Source})
            load();
        deferMap2Conversion(false);
        fillRenderJob(0);
        steps[0].push_back(millisecondsSince(start));
        start = Clock::now();
        allocateWorkBuffers(width, height);
        renderJob.pixels = driverState.workPixels;
        renderJob.paddedMask = driverState.mask;
        renderJob.width = int16_t(width);
        renderJob.height = int16_t(height);
        // As the frame render does; the model shades the whole frame, so the
        // frame it checks is shaded whole.
        renderJob.fuseFarRegion = checkReference && i == 0 ? 0 : driverState.fuseFarRegion;
        renderJob.singleRun = 1;
        driverState.maskBuilt = 0;
        buildMask();
        steps[1].push_back(millisecondsSince(start));
        start = Clock::now();
        if (engineSetup(renderJob) != 0) std::fprintf(stderr, "engine set-up failed\n");
        engineBytes = engineBufferBytes();
        steps[2].push_back(millisecondsSince(start));
        start = Clock::now();
        convertMap2ForStages(width, height);
        steps[0].back() += millisecondsSince(start);
        for (int s = 0; s < kStageCount; ++s) {
            start = Clock::now();
            kStageList[s].run(renderJob);
            steps[3 + s].push_back(millisecondsSince(start));
        }
        if (checkReference && i == 0) {
            // Shade once more through the model, from the same pixels.
            const size_t count = size_t(width) * height;
            const std::vector<uint32_t> fast(renderJob.pixels, renderJob.pixels + count);
            reference::finalShading(renderJob);
            size_t differing = 0;
            for (size_t p = 0; p < count; ++p) differing += renderJob.pixels[p] != fast[p];
            std::printf("%s, %d x %d: final shading %s its model (%zu pixels differ)\n",
                        scenario.name, width, height, differing ? "DIFFERS FROM" : "equals",
                        differing);
            if (differing) std::exit(1);
        }
        start = Clock::now();
        convertOutput(frame1.data());
        steps[3 + kStageCount].push_back(millisecondsSince(start));
        start = Clock::now();
        engineTeardown();
        releaseWorkBuffers();
        dropPartialMap2();
        steps[4 + kStageCount].push_back(millisecondsSince(start));
        frame1 = host.title;
    }
    fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;
    context.action = 2;
    OperatorAction(&context);

    std::printf("%s, %d x %d: %.2f ms per frame (median of %d), of which the module %.2f ms "
                "and the host's field hand-over %.2f ms\n",
                scenario.name, width, height, median(whole), frames, median(module),
                median(whole) - median(module));
    for (int s = 0; s < kSteps; ++s) std::printf("  %-20s %8.2f ms\n", names[s], median(steps[s]));
    constexpr double kMiB = 1024.0 * 1024.0;
    std::printf("  memory: engine set-up %.1f MiB; the module's buffers %.1f MiB at most in a "
                "call, %.1f MiB kept between calls\n",
                engineBytes / kMiB, peakBytes / kMiB, keptBytes / kMiB);
}

} // namespace

int main(int argc, char **argv) {
    int frames = 9;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (argument == "--whole-frame") {
            lustra::driverState.fuseFarRegion = 0;
        } else if (argument == "--far-always") {
            lustra::driverState.fuseFarRegion = 2;
        } else if (argument == "--check") {
            checkReference = true;
        } else if (argument == "--scenario" && i + 1 < argc) {
            only = argv[++i];
        } else if (argument == "--help" || argument == "-h") {
            std::printf("usage: lustra_bench [--frames N] [--scenario NAME] [--check] "
                        "[--whole-frame | --far-always]\n"
                        "Renders the built-in title over its background at 720x576 and\n"
                        "1920x1080 for each scenario (default, bevel-15, bevel-30, bevel-60,\n"
                        "bevel-30-smoothing-30, "
                        "glow-profile-30, glow-blurred-30, shadow-softness-30,\n"
                        "textures-and-maps..., small-title) and prints the render thread's CPU "
                        "milliseconds\n"
                        "per frame (median of N, default 9) and per engine step.\n"
                        "--check compares the final shading of each scenario with its\n"
                        "readable per-pixel model and stops at the first difference.\n"
                        "--whole-frame renders every pixel through every stage, also where\n"
                        "the title cannot reach; --far-always leaves the part the title cannot\n"
                        "reach to the output conversion however large the near box is.\n");
            return 0;
        } else {
            std::fprintf(stderr, "lustra_bench: unknown argument '%s' (see --help)\n", argv[i]);
            return 2;
        }
    }
    if (!std::getenv("VXHOME")) setenv("VXHOME", LUSTRA_DATA_DIR, 1);
    // The variant each kernel file chose when the module loaded.
    std::printf("CPU variants: %s mask-row=%s\n", lustra::kernelVariantReport().c_str(),
                lustra::driverKernels::wideKernelsInUse() ? "avx512" : "clones");
    TimedHost host;
    lustra::lustraInstallBackend(&host);
    for (const Scenario &scenario : kScenarios) {
        if (!only.empty() && only != scenario.name) continue;
        benchmark(host, scenario, 720, 576, frames);
        benchmark(host, scenario, 1920, 1080, frames);
    }
    lustra::lustraInstallBackend(nullptr);
    return 0;
}
