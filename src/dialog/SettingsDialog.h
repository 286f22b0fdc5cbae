// The settings dialog of the edit action.
#pragma once

#include "lustrafex/host_sdk.h"

namespace lustra {

// Runs the settings dialog for the host's context.
void runSettingsDialog(OperatorContext &context);

} // namespace lustra
