// The operator's entry points: its description for the host, the action
// dispatch and the lifecycle state.
#include "operator/Operator.h"

#include "driver/FrameRender.h"
#include "driver/SourceImages.h"
#include "engine/BufferRecycler.h"
#include "operator/FieldRendering.h"
#include "operator/Settings.h"

#include <cstdio>

namespace lustra {

OperatorState operatorState;

namespace {

const int32_t secondLayersOptionIds[] = {103, 104, 0};
const int32_t flickerFilterOptionIds[] = {106, 107, 0};
const int32_t fieldWiseOptionIds[] = {109, 110, 0};

// The author field of the version text.
const char versionId[] = "$Id: LustraFex,v 1.0 2014/11/26 00:00:00 LustraFex developers $";

XChar textBufferStorage[64]; // 128 bytes of 16-bit characters
TextBufferRecord textBuffer = {textBufferStorage, 128, 0};
const ThreeNumbers threeNumbers = {4, 101, 2};

} // namespace

HostChoice secondLayersOption = {0, 102, 0, secondLayersOptionIds, 0};
HostChoice flickerFilterOption = {0, 105, 0, flickerFilterOptionIds, 0};
HostChoice fieldWiseOption = {0, 108, 0, fieldWiseOptionIds, 0};

const DriverInputs driverInputs = {
    &settings,  &secondLayersOption, &flickerFilterOption, &operatorState.sourcesCached,
    checkAbort, logFailure};

namespace {

const OperatorInfoTag operatorInfoTags[] = {
    {LFX_TAG(0x00), 32},
    {LFX_TAG(0x01), 0},
    {LFX_TAG(0x03), reinterpret_cast<uintptr_t>(&OperatorAction)},
    {LFX_TAG(0x0D), 2},
    {LFX_TAG(0x10), reinterpret_cast<uintptr_t>(versionId)},
    {LFX_TAG(0x09), reinterpret_cast<uintptr_t>(&textBuffer)},
    {LFX_TAG(0x04), reinterpret_cast<uintptr_t>(&threeNumbers)},
    {LFX_TAG(0x05), reinterpret_cast<uintptr_t>(&secondLayersOption)},
    {LFX_TAG(0x06), reinterpret_cast<uintptr_t>(&flickerFilterOption)},
    {LFX_TAG(0x07), reinterpret_cast<uintptr_t>(&fieldWiseOption)},
    {0, 0},
};

// The per-instance settings name, or the shared "last.prf".
void determineSettingsName(const OperatorContext &context) {
    const char *custom = opGetCustomPrefsName(context.node, kSettingsPrefix, 0, 0);
    operatorState.settingsName = custom ? custom : kDefaultSettingsName;
}

int32_t setup(const OperatorContext &context) {
    determineSettingsName(context);
    readSettingsFile();
    // Buffers still held from an earlier instance are released rather than
    // forgotten, so nothing leaks across set-ups.
    releaseSourceImages();
    resetSourceFetchFlags();
    releaseWorkBuffers();
    operatorState.sourcesCached = 1;
    driverState.engineError = 0;
    fieldState.frameDelivered = 0;
    return 0;
}

int32_t cleanup() {
    operatorState.sourcesCached = 0;
    releaseSourceImages();
    releaseKeptBuffers();
    return 0;
}

int32_t edit(OperatorContext &context) {
    determineSettingsName(context);
    if (context.noDialog != 0) return 0;
    operatorState.dialogActive = 1;
    if (settingsDialog) settingsDialog(context);
    operatorState.dialogActive = 0;
    return 0;
}

// Removes the instance's own settings file; "last.prf" is never deleted.
int32_t deleteSettings(const OperatorContext &context) {
    operatorState.settingsName = opGetCustomPrefsName(context.node, kSettingsPrefix, 0, 0);
    if (!operatorState.settingsName) {
        logFailure(kLogNoCustomSettingsName);
        return -1;
    }
    char path[kPathCapacity];
    if (!buildHomePath(operatorState.settingsName, path)) {
        logFailure(kLogSettingsPathTooLong);
        return -1;
    }
    std::remove(path);
    return 0;
}

} // namespace

XChar *moduleTextBuffer() {
    return textBufferStorage;
}

int32_t checkAbort() {
    if (operatorState.dialogActive != 0) return 0;
    return opChkAbort();
}

void logFailure(int32_t line) {
    loggerMessage(4, line, "src\\LustraFex", 0x0C1B0000u, " ");
}

const OperatorInfoTag *operatorInfo() {
    textBufferStorage[0] = 0;
    resetSettings();
    return operatorInfoTags;
}

int32_t operatorAction(OperatorContext *context) {
    operatorState.context = context;
    if (!context) return 0;
    switch (context->action) {
    case kActionSetup:
        return setup(*context);
    case kActionCleanup:
        return cleanup();
    case kActionRender:
        operatorState.dialogActive = 0;
        return renderFields(*context);
    case kActionEdit:
        return edit(*context);
    case kActionDeleteSettings:
        return deleteSettings(*context);
    default:
        return 0;
    }
}

} // namespace lustra
