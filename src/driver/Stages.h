// The engine's stages in the order they run: one list for the frame render,
// the preview render and the benchmark.
#pragma once

#include "driver/PreviewRender.h"
#include "engine/Job.h"

#include <cstdint>

namespace lustra {

struct StageEntry {
    const char *name;                     // as the benchmark prints it
    int32_t (*run)(const RenderJob &job); // 0 on success
    PreviewStep step;                     // the preview step that re-runs it
    // The stage whose planes this one builds on (-1: none): a preview step
    // that re-runs that stage re-runs this one too, when it is active.
    int32_t dependsOn;
    bool (*active)(const RenderJob &job);
    bool slow; // the preview shows the busy pointer while re-running it
};

constexpr int32_t kStageCount = 8;
extern const StageEntry kStageList[kStageCount];

// Index of the final shading, which every preview step ends with.
constexpr int32_t kShadingStage = kStageCount - 1;

// The stage that preview step `step` re-runs, or -1 (kStepAll, kStepShading
// and unknown steps).
int32_t stageOfStep(int32_t step);

} // namespace lustra
