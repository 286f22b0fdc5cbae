// The module's two exports: the C interface the host loads, mapped onto the
// operator's entry points. Nothing else is visible outside the module.
#include "dialog/SettingsDialog.h"
#include "lustrafex/host_sdk.h"
#include "operator/Operator.h"

namespace lustra {
const SettingsDialogRunner settingsDialog = runSettingsDialog;
} // namespace lustra

extern "C" {

LFX_API int32_t OperatorAction(OperatorContext *context) {
    return lustra::operatorAction(context);
}

LFX_API const OperatorInfoTag *GetOperatorInfo(void) {
    return lustra::operatorInfo();
}

} // extern "C"
