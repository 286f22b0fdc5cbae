// Presets: whole settings records saved to and loaded from files the user
// picks with the host's file requester.
#include "dialog/Presets.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"
#include "dialog/EventHandling.h"
#include "dialog/Panels.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstdio>
#include <cstring>

namespace lustra {

namespace {

constexpr int32_t kBufferSize = 256;
constexpr int32_t kTextBufferCharacters = 64; // the module's 128-byte text buffer

char presetPath[kBufferSize];
XChar presetName[kBufferSize];
DreqFileRequest fileRequest;

} // namespace

const char *requestPresetFile(int32_t mode) {
    presetPath[0] = 0;
    presetName[0] = 0;
    fileRequest = DreqFileRequest{};
    fileRequest.zero = 0;
    fileRequest.directory = kPresetDirectory;
    fileRequest.defaultName = moduleTextBuffer();
    fileRequest.mode = mode;
    fileRequest.path = presetPath;
    fileRequest.pathSize = kBufferSize;
    fileRequest.name = presetName;
    fileRequest.nameSize = kBufferSize;
    fileRequest.status = 0;
    if (dreqFileRequest(&fileRequest) != 0 || fileRequest.status != 1) return nullptr;
    presetPath[kBufferSize - 1] = 0;
    presetName[kBufferSize - 1] = 0;
    // The text buffer keeps the chosen name for the next request; a longer
    // name is cut to what the buffer holds.
    XChar name[kTextBufferCharacters];
    int32_t length = 0;
    while (length < kTextBufferCharacters - 1 && presetName[length] != 0) {
        name[length] = presetName[length];
        ++length;
    }
    name[length] = 0;
    xcscpy(moduleTextBuffer(), name);
    return presetPath[0] != 0 ? presetPath : nullptr;
}

void loadPreset() {
    const char *path = requestPresetFile(1);
    if (!path) return;
    // The preset is a whole record; the dialog's placement and the frame of
    // the clip being edited stay as they are.
    const uint8_t atTop = settings.dialogAtTop;
    const int16_t frame = settings.previewFrame, frameCount = settings.previewFrameCount;
    if (!readSettingsFrom(path)) return;
    settings.dialogAtTop = atTop;
    settings.previewFrame = frame;
    settings.previewFrameCount = frameCount;
    endPositionDrag();

    settings.currentPage = 0;
    if (dialog.pageButtons[0] != 0)
        dgActivateElement(dialog.pageButtonPanel, dialog.pageButtons[0]);
    buildPageHeader();
    releaseSourceImages();
    loadAllSourceImages();
    previewNeedsSetup = 1;
    renderPreview(kStepAll);
}

bool hasPresetSuffix(const char *path) {
    const size_t length = std::strlen(path);
    if (length < 4) return false;
    const char *end = path + length - 4;
    return end[0] == '.' && (end[1] | 0x20) == 'p' && (end[2] | 0x20) == 'r' &&
           (end[3] | 0x20) == 'f';
}

void savePreset() {
    const char *path = requestPresetFile(2);
    if (!path) return;
    // The load requester lists presets by their ".prf" ending: a name chosen
    // without it is saved with it, whichever host asked for the name.
    if (hasPresetSuffix(path)) {
        writeSettingsTo(path);
        return;
    }
    char withSuffix[kBufferSize + 4];
    std::snprintf(withSuffix, sizeof withSuffix, "%s.prf", path);
    writeSettingsTo(withSuffix);
}

void deletePreset() {
    const char *path = requestPresetFile(3);
    if (path) std::remove(path);
}

void runPresetsRequester() {
    ResTable *strings = resLoadStrings(kResourceFile);
    DreqArchivesRequest request{};
    request.title = strings ? resGetString(strings, kStringPresets) : nullptr;
    request.action = 0;
    if (dreqArchivesRequest(&request) == 0) {
        switch (request.action) {
        case kArchivesLoad:
            loadPreset();
            break;
        case kArchivesSave:
            savePreset();
            break;
        case kArchivesDelete:
            deletePreset();
            break;
        default:
            break;
        }
    }
    if (strings) resFreeStrings(strings);
}

} // namespace lustra
