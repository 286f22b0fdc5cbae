// The settings dialog is not built yet: the edit action determines the
// settings name and returns without opening anything.
#include "dialog/SettingsDialog.h"

namespace lustra {

void runSettingsDialog(OperatorContext &) {}

} // namespace lustra
