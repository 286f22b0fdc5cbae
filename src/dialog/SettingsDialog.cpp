// The dialog run: opening (settings, screens, layout, buffers, frame, request,
// panels, sources, first preview), the event loop and the closing steps.
#include "dialog/SettingsDialog.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"
#include "dialog/EventHandling.h"
#include "dialog/Panels.h"
#include "dialog/PreviewDisplay.h"
#include "driver/FrameRender.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "engine/Engine.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

DialogState dialog;

namespace {

constexpr uint32_t kRequestFlags = 0x001021C0;
constexpr int32_t kGuiColourIndex = 10;
constexpr int32_t kMaxFrameCount = 32767; // previewFrameCount is a 16-bit field

// Where the closing steps start.
enum ClosingStep { kCloseAll = 1, kCloseBuffers = 2, kCloseEngine = 3 };

void closeDialog(ClosingStep from) {
    if (from <= kCloseAll) {
        removeMainPanels();
        if (dialog.guiMonitor == 1 && !dialog.twoMonitorsConnected) dgColorBarOn();
        dreqDeleteRequest(&dialog.request);
    }
    if (from <= kCloseBuffers) {
        releaseSourceImages();
        std::free(dialog.previewPicture);
        std::free(dialog.previewFrame);
        std::free(fieldState.inputFrame0);
        std::free(fieldState.inputFrame1);
        dialog.previewPicture = dialog.previewFrame = nullptr;
        fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;
        previewTarget = PreviewTarget{};
    }
    // Torn down even when not ready: a failed set-up may hold buffers, and the
    // tear-down is harmless on a released engine.
    const int32_t teardown = engineTeardown();
    if (driverState.engineReady && driverState.engineError == 0) driverState.engineError = teardown;
    driverState.engineReady = 0;
    // Nothing uses the preview's work buffers once the engine is down.
    releaseWorkBuffers();
    previewNeedsSetup = 0;
    writeSettingsFile();
    if (dialog.imageTable) resFreeImages(dialog.imageTable);
    if (dialog.stringTable) resFreeStrings(dialog.stringTable);
    dialog.imageTable = dialog.stringTable = nullptr;
}

void queryScreens() {
    dialog.screenWidth = dgGetScreenWidth();
    dialog.screenHeight = dgGetScreenHeight();
    dgGetVisibleAreaMonitor(&dialog.visibleLeft, &dialog.visibleTop, &dialog.visibleRight,
                            &dialog.visibleBottom, 2);
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    dgGetVisibleArea(&left, &top, &right, &bottom); // queried, not used
    dialog.monitor2Width = dgGetScreenWidthMonitor(2);
    dialog.monitor2Height = dgGetScreenHeightMonitor(2);
    dialog.guiMonitor = dgGetDefaultMonitor();
    dialog.twoMonitorsConnected = dialog.guiMonitor == 1 && dgGetConnectedMonitors() == 2 ? 1 : 0;
}

// The project's frame size from the host's field geometry; false when the
// host gives none the preview can use.
bool readProjectFrameSize() {
    OpImage *geometry = opAllocImage(0, 0, 1, 0);
    if (!geometry) return false;
    const int32_t width = geometry->width, height = 2 * int32_t(geometry->height);
    opFreeImage(geometry);
    if (width <= 0 || height <= 0 || width > kMaxFrameWidth || height > kMaxFrameHeight)
        return false;
    dialog.projectFrameWidth = fieldState.projectFrameWidth = width;
    dialog.projectFrameHeight = fieldState.projectFrameHeight = height;
    return true;
}

// The monitor-1 layout: the scaled preview above the strip, both centred.
void placeOnMonitor1() {
    const int32_t fa = textHeight();
    const int64_t frameWidth = dialog.projectFrameWidth, frameHeight = dialog.projectFrameHeight;
    const int64_t aspect = dialog.pixelAspect;
    int32_t available = dialog.screenHeight - (4 * fa + 44) - (fa + 20) - 16;
    dialog.shiftX = (dialog.screenWidth - 150 - 388 - 82 - 20) / 2;
    dialog.previewHeight = (available - 11) & ~1;
    dialog.previewY = 6;
    dialog.previewWidth = static_cast<int32_t>(
        ((int64_t(dialog.previewHeight) - 8) * frameWidth / frameHeight * 1000 / aspect + 9) & ~1);
    if (dialog.previewWidth >= dialog.screenWidth) {
        dialog.previewWidth = dialog.screenWidth;
        dialog.previewHeight = static_cast<int32_t>(
            ((int64_t(dialog.screenWidth) - 8) * frameHeight / frameWidth * aspect / 1000 + 9) &
            ~1);
        const int32_t shift = (available - dialog.previewHeight - 12) / 2;
        available -= shift;
        dialog.previewY = shift + 6;
    }
    dialog.shiftY = available;
    dialog.previewX = (dialog.screenWidth - dialog.previewWidth) / 2;
}

// The monitor-2 layout: the whole frame full-screen, the strip in its frame.
void placeOnMonitor2() {
    dialog.shiftX = dialog.shiftY = 8;
    dialog.previewX = dialog.previewY = -4;
    dialog.previewWidth = dialog.projectFrameWidth + 8;
    dialog.previewHeight = dialog.projectFrameHeight + 8;
}

bool allocatePreviewBuffers() {
    const size_t framePixels = size_t(dialog.projectFrameWidth) * size_t(dialog.projectFrameHeight);
    if (dialog.previewInnerWidth > 0 && dialog.previewInnerHeight > 0)
        dialog.previewPicture = static_cast<uint32_t *>(allocateDialogBuffer(
            size_t(dialog.previewInnerWidth) * size_t(dialog.previewInnerHeight) * 4));
    if (!dialog.previewPicture) return false;
    fieldState.inputFrame0 = static_cast<uint32_t *>(allocateDialogBuffer(framePixels * 4));
    if (!fieldState.inputFrame0) return false;
    fieldState.inputFrame1 = static_cast<uint32_t *>(allocateDialogBuffer(framePixels * 4));
    if (!fieldState.inputFrame1) return false;
    dialog.previewFrame = static_cast<uint32_t *>(allocateDialogBuffer(framePixels * 4));
    return dialog.previewFrame != nullptr;
}

void eventLoop() {
    GuiMessage message;
    for (;;) {
        std::memset(&message, 0, sizeof message);
        // A queue that fails ends the dialog like a close message.
        if (dgMsgQReceive(dialog.messageQueue, &message, -1) < 0) break;
        if (handleGuiMessage(message)) break;
    }
}

} // namespace

void runSettingsDialog(OperatorContext &context) {
    // 1. Settings, caches and the state of the last run.
    dialog = DialogState{};
    readSettingsFile();
    operatorState.sourcesCached = 0;
    releaseSourceImages();
    releaseWorkBuffers();
    previewNeedsSetup = 0;
    std::free(fieldState.inputFrame0);
    std::free(fieldState.inputFrame1);
    fieldState.inputFrame0 = fieldState.inputFrame1 = nullptr;

    // 2. Resources.
    dialog.stringTable = resLoadStrings(kResourceFile);
    dialog.imageTable = resLoadImages(kResourceFile);

    // 3. The clip: pixel aspect and length.
    dialog.pixelAspect = context.pixelAspect > 0 ? context.pixelAspect : 1000;
    dialog.fieldCount = context.fieldCount;

    // 4. A clip without a whole frame has nothing to preview.
    if (dialog.fieldCount < 2) {
        askText(kStringNoFields, kTextStyleMessage);
        closeDialog(kCloseEngine);
        return;
    }

    // 5. The frame shown: the remembered one when it lies inside the clip.
    const uint32_t frames = dialog.fieldCount / 2;
    settings.previewFrameCount =
        static_cast<int16_t>(frames > uint32_t(kMaxFrameCount) ? kMaxFrameCount : frames);
    if (settings.previewFrame < 0 || settings.previewFrame >= settings.previewFrameCount)
        settings.previewFrame = 0;

    // 6. Screens and monitors.
    queryScreens();
    dialog.fontHeight = dgGetFontHeightMonitor(dgGetDefaultMonitor());
    dialog.addHeight = dgGetAddHeight();

    // 7. Layout.
    dialog.request.title = nullptr;
    if (dialog.guiMonitor == 2) {
        dialog.request.title = resourceText(kStringTitle);
        dialog.fullScreenPreview = 1;
    }
    dialog.messageQueue = msgQCreate(10, sizeof(GuiMessage), 0);
    if (!readProjectFrameSize()) {
        logFailure(kLogFrameUnavailable);
        closeDialog(kCloseBuffers);
        return;
    }
    if (dialog.guiMonitor == 2)
        placeOnMonitor2();
    else
        placeOnMonitor1();
    dialog.previewInnerWidth = dialog.previewWidth - 8;
    dialog.previewInnerHeight = dialog.previewHeight - 8;

    // 8. Buffers (a screen too small for any preview counts as a failure).
    if (!allocatePreviewBuffers()) {
        logFailure(kLogPreviewAllocation);
        closeDialog(kCloseBuffers);
        return;
    }

    // 9. The frame shown.
    if (loadFieldPair(2 * settings.previewFrame) != 0) {
        logFailure(kLogFrameUnavailable);
        closeDialog(kCloseBuffers);
        return;
    }
    dialog.loadedFrame = settings.previewFrame;
    std::memcpy(dialog.previewFrame, fieldState.inputFrame1,
                size_t(dialog.projectFrameWidth) * size_t(dialog.projectFrameHeight) * 4);

    // 10. The request.
    dialog.request.zero = 0;
    dialog.request.width = static_cast<int16_t>(dialog.screenWidth);
    dialog.request.height = static_cast<int16_t>(dialog.screenHeight);
    dialog.request.queue = dialog.messageQueue;
    dialog.request.flags = kRequestFlags;
    if (!dialog.messageQueue || dreqCreateRequest(&dialog.request) != 0) {
        closeDialog(kCloseBuffers);
        return;
    }

    // 11. GUI mode and colour.
    dialog.guiMode = dgGetGuiMode();
    dgSetColorYUV(dgGetGuiColorYUV(kGuiColourIndex));

    // 12. Panels.
    buildMainPanels();

    // 13. Source pictures.
    dgBusyPointer();
    loadAllSourceImages();
    dgStandardPointer();

    // 14. Colour bar.
    if (dialog.guiMonitor == 1 && !dialog.twoMonitorsConnected) dgColorBarOff();

    // 15. First preview, then the messages until the dialog closes.
    previewTarget.frame = dialog.previewFrame;
    previewTarget.display = &drawPreview;
    renderPreview(kStepAll);
    eventLoop();
    closeDialog(kCloseAll);
}

} // namespace lustra
