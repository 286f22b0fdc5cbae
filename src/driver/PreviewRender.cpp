// The preview render: the engine stays set up while the settings dialog is
// open; a changed setting re-runs the stage it affects and the final shading,
// and the result is converted into the dialog's preview frame and shown.
#include "driver/PreviewRender.h"

#include "driver/FrameRender.h"
#include "driver/DriverInputs.h"
#include "driver/RenderJob.h"
#include "driver/Stages.h"
#include "engine/Engine.h"
#include "lustrafex/host_sdk.h"

namespace lustra {

int32_t previewNeedsSetup = 0;
PreviewTarget previewTarget;
PreviewTrace previewTrace;

namespace {

// Runs one stage unless an earlier step failed; false when it did not succeed.
bool runStage(int32_t index) {
    if (driverState.engineError != 0) return false;
    previewTrace.stages |= 1u << index;
    driverState.engineError = kStageList[index].run(renderJob);
    return driverState.engineError == 0;
}

// All eight stages, each only while no earlier one failed; no abort checks.
void runAllStages() {
    for (int32_t index = 0; index < kStageCount; ++index) runStage(index);
    if (driverState.engineError != 0) driverInputs.logFailure(kLogPreviewStageFailed);
}

void pointJobAtWorkBuffers() {
    renderJob.pixels = driverState.workPixels;
    renderJob.paddedMask = driverState.mask;
    renderJob.width = static_cast<int16_t>(driverState.width);
    renderJob.height = static_cast<int16_t>(driverState.height);
}

void setUpEngine() {
    previewTrace.setUp = 1;
    renderJob.fuseFarRegion = 0;
    renderJob.singleRun = 0; // single stages re-run with a changed job
    driverState.engineError = engineSetup(renderJob);
    if (driverState.engineError == 0)
        driverState.engineReady = 1;
    else
        driverInputs.logFailure(kLogEngineSetupFailed);
}

bool workBuffersFitFrame() {
    return driverState.workPixels && driverState.mask &&
           driverState.width == fieldState.projectFrameWidth &&
           driverState.height == fieldState.projectFrameHeight;
}

// One step on a ready engine: the step's stage, the stages that build on it
// (when active), then the final shading. runStage runs nothing once an
// earlier step failed.
void runStep(int32_t step) {
    const int32_t stage = stageOfStep(step);
    const bool busy = stage >= 0 && kStageList[stage].slow;
    if (busy) dgBusyPointer();
    if (stage >= 0 && runStage(stage)) {
        for (int32_t i = 0; i < kStageCount; ++i)
            if (kStageList[i].dependsOn == stage && kStageList[i].active(renderJob)) runStage(i);
    }
    runStage(kShadingStage);
    if (busy) dgStandardPointer();
}

} // namespace

int32_t renderPreview(int32_t step) {
    previewTrace.step = step;
    previewTrace.stages = 0;
    previewTrace.setUp = 0;
    previewTrace.shown = 0;
    ++previewTrace.calls;

    fillRenderJob(0);
    if (previewNeedsSetup == 1 && workBuffersFitFrame()) {
        // Restart: a new frame or a new record. Nothing of the earlier set-up,
        // complete or failed, survives.
        pointJobAtWorkBuffers();
        previewNeedsSetup = 0;
        dgBusyPointer();
        engineTeardown();
        driverState.engineReady = 0;
        driverState.maskBuilt = 0;
        buildMask();
        setUpEngine();
        runAllStages();
        dgStandardPointer();
    } else if (driverState.engineReady == 0 || !workBuffersFitFrame()) {
        if (allocateWorkBuffers(fieldState.projectFrameWidth, fieldState.projectFrameHeight) != 0) {
            driverInputs.logFailure(kLogPreviewBuffersMissing);
            driverState.engineError = -1;
            return -1;
        }
        engineTeardown();
        driverState.engineReady = 0;
        // The mask buffer is new: its content has to be built whatever the
        // flag said about the previous one.
        driverState.maskBuilt = 0;
        previewNeedsSetup = 0;
        pointJobAtWorkBuffers();
        dgBusyPointer();
        buildMask();
        setUpEngine();
        runAllStages();
        dgStandardPointer();
    } else {
        pointJobAtWorkBuffers();
        // The job was filled anew: apply the empty-shape rule of the mask
        // again (builds nothing while the mask is current), so that the
        // preview matches the full render for a frame without a shape.
        buildMask();
        switch (step) {
        case kStepAll:
            dgBusyPointer();
            runAllStages();
            dgStandardPointer();
            break;
        case kStepBevel:
        case kStepGlow:
        case kStepShadow:
        case kStepTexture1:
        case kStepTexture2:
        case kStepMap1:
        case kStepMap2:
        case kStepShading:
            runStep(step);
            break;
        default:
            break; // the existing result is converted and shown again
        }
    }

    if (driverState.engineError != 0 || !previewTarget.frame) return 0;
    convertOutput(previewTarget.frame);
    previewTrace.shown = 1;
    if (previewTarget.display) previewTarget.display();
    return 0;
}

} // namespace lustra
