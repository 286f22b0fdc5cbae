// Field rendering: turns the host's fields into two frame buffers, lets the
// frame render driver render into input 1's frame, and hands fields back.
#pragma once

#include "driver/DriverInputs.h"
#include "lustrafex/host_sdk.h"

#include <cstdint>

namespace lustra {

// Renders the field the context asks for; returns the result of the last
// opPutField, 0 for the skipped half of a frame pair, or -1 on failure.
int32_t renderFields(const OperatorContext &context);

// Fetches fields n (odd rows) and n + 1 (even rows) of both inputs into the
// frame buffers. Returns 0 or -1.
int32_t loadFieldPair(int32_t fieldNumber);

// Largest frame the render job's 16-bit geometry can describe.
constexpr int32_t kMaxFrameWidth = 32767;
constexpr int32_t kMaxFrameHeight = 32766;

// Log lines of field rendering.
constexpr int32_t kLogFieldInput0Missing = 680;
constexpr int32_t kLogFieldInput1Missing = 687;
constexpr int32_t kLogFieldGeometryMismatch = 690;     // field-wise: fields unusable or unlike
constexpr int32_t kLogFrameGeometryUnavailable = 5700; // frame-wise: no field geometry
constexpr int32_t kLogFrameGeometryUnusable = 5705;    // frame empty or too large
constexpr int32_t kLogPairFirstInput0 = 5731;
constexpr int32_t kLogPairSecondInput0 = 5755;
constexpr int32_t kLogPairFirstInput1 = 5787;
constexpr int32_t kLogPairSecondInput1 = 5811;
constexpr int32_t kLogPairFieldMismatch = 5830;   // a field unlike the project geometry
constexpr int32_t kLogOutputFieldMismatch = 5900; // an output field unlike the project geometry

} // namespace lustra
