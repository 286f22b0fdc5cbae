// The readable per-pixel model of the final shading, against which the
// stage is tested byte for byte (tests/unit/test_shading_reference.cpp).
#pragma once

#include "engine/Job.h"

#include <cstdint>

namespace lustra::reference {

// The whole stage on the engine's state and the job, as the model computes
// it; returns what finalShadingStage returns.
int32_t finalShading(const RenderJob &job);

} // namespace lustra::reference
