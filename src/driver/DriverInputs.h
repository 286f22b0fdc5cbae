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

// The rows of a frame kept as two pictures of every second row: frame row r
// is row r / 2 of field[r % 2], rows `pitch` pixels apart. A frame buffer of
// width w is field[0] = frame, field[1] = frame + w, pitch 2w; one field
// line-doubled into a frame is field[0] = field[1] = the field, pitch w. The
// rows of a null field are left out (nothing reads or writes them).
struct FrameRows {
    uint32_t *field[2] = {nullptr, nullptr};
    size_t pitch = 0; // 0: no rows at all

    uint32_t *row(int32_t r) const {
        uint32_t *base = field[r & 1];
        return base ? base + size_t(r >> 1) * pitch : nullptr;
    }
    static FrameRows ofFrame(uint32_t *frame, int32_t width) {
        if (!frame) return {};
        return {{frame, frame + width}, 2 * size_t(width)};
    }
};

// The frames of the current render call: the field rendering fills them,
// the frame render reads input 0 and renders into input 1.
struct FieldRenderState {
    uint32_t *inputFrame0 = nullptr; // frame buffer of input 0 (host pixels)
    uint32_t *inputFrame1 = nullptr; // frame buffer of input 1, receives the result
    // When the field rendering keeps the inputs in the host's fields rather
    // than in the frame buffers (pitch non-zero): where their rows are, and
    // where the rendered rows go, each with the alpha byte of input 1's row.
    FrameRows input0Rows;
    FrameRows input1Rows;
    FrameRows outputRows;
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
