// The list of the engine's stages; see Stages.h.
#include "driver/Stages.h"

#include "engine/Engine.h"

namespace lustra {

namespace {

bool always(const RenderJob &) {
    return true;
}

bool texture1On(const RenderJob &job) {
    return job.texture[0].on == 1;
}

} // namespace

// Texture 1 adds its gradients to the bevel's slopes: a new bevel needs a
// new texture 1 on top.
const StageEntry kStageList[kStageCount] = {
    {"bevel", bevelStage, kStepBevel, -1, always, true},
    {"glow", glowStage, kStepGlow, -1, always, false},
    {"shadow", shadowStage, kStepShadow, -1, always, false},
    {"surface texture 1", surfaceTextureStage1, kStepTexture1, 0, texture1On, false},
    {"surface texture 2", surfaceTextureStage2, kStepTexture2, -1, always, false},
    {"image map 1", imageMapStage1, kStepMap1, -1, always, false},
    {"image map 2", imageMapStage2, kStepMap2, -1, always, false},
    {"final shading", finalShadingStage, kStepShading, -1, always, false},
};

int32_t stageOfStep(int32_t step) {
    if (step == kStepShading) return -1;
    for (int32_t i = 0; i < kStageCount; ++i)
        if (kStageList[i].step == step) return i;
    return -1;
}

} // namespace lustra
