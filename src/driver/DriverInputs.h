// What the operator hands the driver: the settings record, the host's
// choices, the frame buffers of the current call, and the operator's abort
// check and failure log. The driver reads them only through this header.
#pragma once

#include "driver/SettingsRecord.h"
#include "lustrafex/host_sdk.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

// Longest full path the module builds (VXHOME plus a file name).
constexpr size_t kPathCapacity = 1024;

// The frames of the current render call: the field rendering fills them,
// the frame render reads input 0 and renders into input 1.
struct FieldRenderState {
    uint32_t *inputFrame0 = nullptr; // frame buffer of input 0 (host pixels)
    uint32_t *inputFrame1 = nullptr; // frame buffer of input 1, receives the result
    int32_t projectFrameWidth = 0;
    int32_t projectFrameHeight = 0; // always twice the field height
    int32_t scaleNumerator = 1;
    int32_t scaleDenominator = 1;
    int32_t frameDelivered = 0; // frame-wise toggle: 1 after the first call of a pair
};

extern FieldRenderState fieldState;

struct DriverInputs {
    const EffectSettings *settings;   // the module's settings record
    const HostChoice *secondLayers;   // value 1: map 2, fill 2 and texture 2 from the settings
    const HostChoice *flickerFilter;  // value 1: smooth interline differences on output
    const int32_t *sourcesCached;     // 1: fetched source pictures are reused
    int32_t (*checkAbort)();          // the host's abort check, polled between steps
    void (*logFailure)(int32_t line); // reports a failure by its log line
};

// Defined by the operator, which owns everything it points at.
extern const DriverInputs driverInputs;

} // namespace lustra
