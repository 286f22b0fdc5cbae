// Operator lifecycle: the host's context, the host choice parameters, the
// module-wide lifecycle state, the abort check and failure logging.
#pragma once

#include "lustrafex/host_sdk.h"

#include <cstdint>

namespace lustra {

enum ActionCode : uint16_t {
    kActionSetup = 1,
    kActionCleanup = 2,
    kActionRender = 3,
    kActionEdit = 4,
    kActionDeleteSettings = 6,
};

// Module-wide lifecycle state (one effect instance at a time).
struct OperatorState {
    OperatorContext *context = nullptr; // the latest context the host passed
    const char *settingsName = nullptr; // settings file name below VXHOME
    int32_t dialogActive = 0;           // 1 while the settings dialog runs
    int32_t sourcesCached = 0;          // 1: fetched source pictures are reused
};

extern OperatorState operatorState;

// The three host choice parameters; the host writes their values.
extern HostChoice secondLayersOption;
extern HostChoice flickerFilterOption;
extern HostChoice fieldWiseOption;

constexpr const char *kSettingsPrefix = "/programs/lustra/settings/";
constexpr const char *kDefaultSettingsName = "/programs/lustra/settings/last.prf";

// The settings dialog, run by the edit action: it lies above the operator,
// so the module's entry file, which sees both, provides it (null: no dialog).
using SettingsDialogRunner = void (*)(OperatorContext &context);
extern const SettingsDialogRunner settingsDialog;

// Calls the host's abort check unless the dialog is active; the result is
// passed on but no caller acts on it.
int32_t checkAbort();

// Reports a failure to the host logger: severity 4, the line number that
// identifies the failure, source "src\LustraFex", code 0x0C1B0000, text " ".
void logFailure(int32_t line);

// The module's 128-byte text buffer (64 characters) offered to the host.
XChar *moduleTextBuffer();

// The two entry points behind the exports.
int32_t operatorAction(OperatorContext *context);
const OperatorInfoTag *operatorInfo();

// Log lines of the lifecycle.
constexpr int32_t kLogNoCustomSettingsName = 998;
constexpr int32_t kLogSettingsPathTooLong = 999;

} // namespace lustra
