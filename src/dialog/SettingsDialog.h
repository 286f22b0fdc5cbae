// The settings dialog of the edit action: a modal run over the host's GUI
// with a live preview of the effect on one frame of the clip.
#pragma once

#include "lustrafex/host_sdk.h"

namespace lustra {

// Runs the settings dialog for the host's context. Its only lasting effects
// are the settings record and the settings file, which is written whichever
// way the dialog closes.
void runSettingsDialog(OperatorContext &context);

} // namespace lustra
