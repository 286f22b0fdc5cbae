// The dialog's event handling: each gadget writes straight into the settings
// record and re-renders the preview from the stage the change affects.
#include "dialog/EventHandling.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"
#include "dialog/PageTables.h"
#include "dialog/Panels.h"
#include "dialog/Presets.h"
#include "dialog/PreviewDisplay.h"
#include "driver/FrameRender.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

namespace {

constexpr int32_t kLightPage = 1;
constexpr int32_t kTransferTypes = 15;
constexpr int16_t kPaletteValue = 25600;

// Fields of a GUI message.
uint8_t byteAt(const GuiMessage &message, size_t offset) {
    return message.bytes[offset];
}
uint16_t u16At(const GuiMessage &message, size_t offset) {
    uint16_t value;
    std::memcpy(&value, message.bytes + offset, 2);
    return value;
}
int16_t s16At(const GuiMessage &message, size_t offset) {
    return int16_t(u16At(message, offset));
}
int32_t s32At(const GuiMessage &message, size_t offset) {
    int32_t value;
    std::memcpy(&value, message.bytes + offset, 4);
    return value;
}

// A 32-bit position that wraps like the record's field instead of overflowing.
int32_t wrapped(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int32_t clampTo(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

void movePointerToCentre(const Rect &rect) {
    dgMovePointer(rect.x + rect.width / 2, rect.y + rect.height / 2);
}

void rebuildMainPanels() {
    removeMainPanels();
    buildMainPanels();
}

// Shows a position pair in the text gadget of `page`, when one shows it.
void showPosition(int32_t page, int32_t x, int32_t y) {
    if (dialog.positionText == 0) return;
    if (!dialog.positionMode && shownPage() != page) return;
    changeElement(dialog.positionTextPanel, dialog.positionText, kAttributeText,
                  reinterpret_cast<intptr_t>(positionText(x, y)), 1);
}

// Enables or disables body gadgets as their creation would; `label` 0 means
// every body gadget that has a state.
void refreshEnabling(const PageEntry &page, int32_t label) {
    for (const BodyGadget &gadget : dialog.body) {
        if (gadget.id == 0 || !gadget.entry || gadget.entry->kind == GadgetKind::TextGadget)
            continue;
        if (label != 0 && gadget.entry->label != label) continue;
        enableGadget(dialog.pageBodyPanel, gadget.id, !gadgetDisabled(page, *gadget.entry));
    }
}

// --- Position drags ------------------------------------------------------

// The area pointer positions are clamped to: monitor 2 or the preview picture.
void dragArea(int32_t &width, int32_t &height) {
    width = dialog.guiMonitor == 2 ? dialog.monitor2Width : dialog.previewInnerWidth;
    height = dialog.guiMonitor == 2 ? dialog.monitor2Height : dialog.previewInnerHeight;
}

// The drag's new position for a pointer at (x, y); returns the step to redo.
int32_t dragPosition(int32_t x, int32_t y, int32_t &newX, int32_t &newY) {
    int32_t width, height;
    dragArea(width, height);
    const int32_t px = clampTo(x - dialog.previewX - 4, 0, width - 1 > 0 ? width - 1 : 0);
    const int32_t py = clampTo(y - dialog.previewY - 4, 0, height - 1 > 0 ? height - 1 : 0);
    if (dialog.dragPage == kLightPage) {
        newX = width > 0 ? (px - width / 2) * 255 / width : 0;
        newY = height > 0 ? (py - height / 2) * 255 / height : 0;
        return kStepShading;
    }
    newX = wrapped(int64_t(dialog.dragSavedX) + dialog.dragCentreX - px);
    newY = wrapped(int64_t(dialog.dragSavedY) + dialog.dragCentreY - py);
    return kPages[dialog.dragPage].step;
}

void startDrag(int32_t page) {
    const PageEntry &entry = kPages[page];
    dialog.dragActive = 1;
    dialog.dragPage = page;
    if (dialog.guiMonitor == 2) {
        dialog.positionMode = 1;
        rebuildMainPanels();
        drawPreview();
    }
    dialog.dragSavedX = readField(entry.positionX);
    dialog.dragSavedY = readField(entry.positionY);
    if (page == kLightPage) {
        writeField(entry.positionX, 0);
        writeField(entry.positionY, 0);
        showPosition(page, 0, 0);
        int32_t width, height;
        dragArea(width, height);
        dgMovePointer(dialog.previewX + width / 2 + 4, dialog.previewY + height / 2 + 4);
        renderPreview(kStepShading);
        return;
    }
    dialog.dragCentreX = dialog.previewInnerWidth / 2;
    dialog.dragCentreY = dialog.previewInnerHeight / 2;
    dgMovePointer(dialog.previewX + dialog.dragCentreX + 4,
                  dialog.previewY + dialog.dragCentreY + 4);
}

void dragMoved(int32_t x, int32_t y) {
    const PageEntry &entry = kPages[dialog.dragPage];
    int32_t newX, newY;
    const int32_t step = dragPosition(x, y, newX, newY);
    writeField(entry.positionX, newX);
    writeField(entry.positionY, newY);
    renderPreview(step);
    showPosition(dialog.dragPage, newX, newY);
}

void dragButton(uint16_t button, int32_t x, int32_t y) {
    if (button != 1 && button != 2) return;
    dialog.dragActive = 0;
    dialog.positionMode = 0;
    if (dialog.guiMonitor == 2) rebuildMainPanels();
    const PageEntry &entry = kPages[dialog.dragPage];
    int32_t newX = dialog.dragSavedX, newY = dialog.dragSavedY;
    int32_t step = dialog.dragPage == kLightPage ? int32_t(kStepShading) : entry.step;
    if (button == 1) step = dragPosition(x, y, newX, newY);
    writeField(entry.positionX, newX);
    writeField(entry.positionY, newY);
    showPosition(dialog.dragPage, newX, newY);
    renderPreview(step);
}

// --- Requests ------------------------------------------------------------

void requestSource(const GadgetEntry &gadget) {
    TxRequest *request = txAllocRequest(0);
    if (!request) return;
    uint8_t *descriptor = fieldAddress(gadget.field);
    txSetPrefs(request, descriptor);
    txSetTypes(request, kTransferTypes);
    if (txRequest(request, 0) == 0 && txGetStatus(request) == 1) {
        txGetPrefs(request, descriptor, kSourceSize);
        loadSourceImage(gadget.reload);
        renderPreview(gadget.step);
    }
    txFreeRequest(request);
}

void requestColour(const GadgetEntry &gadget, DgId id) {
    DreqPaletteRequest request{};
    request.colour = static_cast<uint32_t>(readField(gadget.field));
    request.value25600 = kPaletteValue;
    request.result = 0;
    if (dreqPaletteRequest(&request) != 0 || request.result != 1) return;
    writeField(gadget.field, static_cast<int32_t>(request.colour));
    changeElement(dialog.pageBodyPanel, id, kAttributeColour, request.colour, 1);
    renderPreview(gadget.step);
}

// --- Gadgets -------------------------------------------------------------

// The new value of a setting gadget, false when it is outside the gadget's
// range (the event is then ignored).
bool gadgetValue(const GadgetEntry &gadget, const GuiMessage &message, int32_t &value) {
    const bool wide = gadget.kind == GadgetKind::Slider && gadget.maximum > 255;
    value = wide ? int32_t(s16At(message, 20)) : int32_t(byteAt(message, 20));
    return value >= gadget.minimum && value <= gadget.maximum;
}

void settingChanged(const PageEntry &page, const GadgetEntry &gadget, const GuiMessage &message) {
    int32_t value;
    if (!gadgetValue(gadget, message, value)) return;
    writeField(gadget.field, gadget.role == Role::InvertedPercent ? 100 - value : value);
    for (int32_t label : gadget.refresh)
        if (label != 0) refreshEnabling(page, label);
    if (gadget.reload != kNoLayer) loadSourceImage(gadget.reload);
    if (gadget.needsSetup) previewNeedsSetup = 1;
    renderPreview(gadget.step);
}

void bodyGadgetEvent(const BodyGadget &body, const GuiMessage &message) {
    const int32_t pageNumber = shownPage();
    const PageEntry &page = kPages[pageNumber];
    const GadgetEntry &gadget = *body.entry;
    switch (gadget.role) {
    case Role::Value:
    case Role::InvertedPercent:
        settingChanged(page, gadget, message);
        break;
    case Role::LightDrag:
    case Role::PositionDrag:
        startDrag(pageNumber);
        break;
    case Role::PositionReset:
        writeField(gadget.field, 0);
        writeField(gadget.fieldY, 0);
        showPosition(pageNumber, 0, 0);
        renderPreview(gadget.step);
        break;
    case Role::PickSource:
        requestSource(gadget);
        break;
    case Role::PickColour:
        requestColour(gadget, body.id);
        break;
    case Role::PositionText:
        break;
    }
}

void headerSwitchEvent(const GuiMessage &message) {
    const PageEntry &page = kPages[shownPage()];
    const int32_t value = byteAt(message, 20);
    if (value > 1 || page.switchField.size == 0) return;
    writeField(page.switchField, value);
    refreshEnabling(page, 0);
    if (page.switchReload != kNoLayer) loadSourceImage(page.switchReload);
    if (page.switchClearsMask) driverState.maskBuilt = 0;
    renderPreview(page.switchStep);
}

void headerPopupEvent(const GuiMessage &message) {
    const PageEntry &page = kPages[shownPage()];
    const int32_t value = byteAt(message, 20);
    if (!page.popup || value >= page.itemCount) return;
    writeField(page.viewField, value);
    buildPageBody();
}

void frameSliderEvent(const GuiMessage &message, uint16_t code) {
    const int32_t frame = s16At(message, 20);
    if (frame < 0 || frame >= settings.previewFrameCount) return;
    settings.previewFrame = static_cast<int16_t>(frame);
    if (code != 3 && code != 4) return;
    if (fetchPreviewFrame(frame) != 0) {
        // The host cannot deliver that frame: the preview stays on the frame
        // it shows, and so do the record and the slider.
        settings.previewFrame = static_cast<int16_t>(dialog.loadedFrame);
        changeElement(dialog.frameSliderPanel, dialog.frameSlider, kAttributeSliderValue,
                      dialog.loadedFrame, 1);
        return;
    }
    previewNeedsSetup = 1;
    operatorState.sourcesCached = 1;
    loadAllSourceImages();
    operatorState.sourcesCached = 0;
    renderPreview(kStepAll);
}

void resetEvent() {
    if (!askText(kStringResetQuestion, kTextStyleQuestion)) return;
    // The defaults replace the whole record, the strip's placement included
    // (its default is the bottom); on monitor 2, where the placement shows,
    // a strip at the top is built anew at the bottom.
    const uint8_t atTop = settings.dialogAtTop;
    resetSettings();
    endPositionDrag();
    if (dialog.guiMonitor == 2 && settings.dialogAtTop != atTop) rebuildMainPanels();
    if (dialog.pageButtons[0] != 0)
        dgActivateElement(dialog.pageButtonPanel, dialog.pageButtons[0]);
    changeElement(dialog.frameSliderPanel, dialog.frameSlider, kAttributeSliderMaximum,
                  settings.previewFrameCount - 1, 1);
    changeElement(dialog.frameSliderPanel, dialog.frameSlider, kAttributeSliderValue,
                  settings.previewFrame, 1);
    buildPageHeader();
    releaseSourceImages();
    loadAllSourceImages();
    // The defaults may change the shape's inversion: the mask is built anew.
    previewNeedsSetup = 1;
    renderPreview(kStepAll);
}

void gadgetEvent(DgId id, uint16_t code, const GuiMessage &message) {
    if (id == 0 || id == dialog.closeButton) return;
    if (id == dialog.infoButton) {
        askText(kStringInfo, kTextStyleMessage);
    } else if (id == dialog.topBottomButton) {
        settings.dialogAtTop = settings.dialogAtTop == 0 ? 1 : 0;
        rebuildMainPanels();
        movePointerToCentre(dialog.topBottomButtonRect);
        drawPreview();
    } else if (id == dialog.collapseButton) {
        dialog.collapsed = dialog.collapsed == 0 ? 1 : 0;
        rebuildMainPanels();
        movePointerToCentre(dialog.collapseButtonRect);
        drawPreview();
    } else if (id == dialog.frameSlider) {
        frameSliderEvent(message, code);
    } else if (id == dialog.resetButton) {
        resetEvent();
    } else if (id == dialog.presetsButton) {
        const uint8_t atTop = settings.dialogAtTop;
        runPresetsRequester();
        settings.dialogAtTop = atTop;
    } else if (id == dialog.headerSwitch) {
        headerSwitchEvent(message);
    } else if (id == dialog.headerPopup) {
        headerPopupEvent(message);
    } else {
        for (int32_t page = 0; page < kPageCount; ++page) {
            if (id != dialog.pageButtons[page]) continue;
            settings.currentPage = static_cast<uint8_t>(page);
            buildPageHeader();
            return;
        }
        for (const BodyGadget &body : dialog.body) {
            if (id != body.id || !body.entry) continue;
            bodyGadgetEvent(body, message);
            return;
        }
    }
}

} // namespace

void loadSourceImage(int32_t layer) {
    using Loader = void (*)();
    static constexpr Loader kLoaders[kLayerCount] = {loadMap1Source,     loadMap2Source,
                                                     loadFill1Source,    loadFill2Source,
                                                     loadTexture1Source, loadTexture2Source};
    if (layer >= 0 && layer < kLayerCount) kLoaders[layer]();
}

void loadAllSourceImages() {
    for (int32_t layer = 0; layer < kLayerCount; ++layer) loadSourceImage(layer);
}

void endPositionDrag() {
    if (!dialog.dragActive) return;
    dialog.dragActive = 0;
    if (dialog.positionMode) {
        dialog.positionMode = 0;
        if (dialog.guiMonitor == 2) rebuildMainPanels();
    }
}

int32_t fetchPreviewFrame(int32_t frame) {
    const size_t bytes = size_t(dialog.projectFrameWidth) * size_t(dialog.projectFrameHeight) * 4;
    auto *frame0 = static_cast<uint32_t *>(allocateDialogBuffer(bytes));
    auto *frame1 = static_cast<uint32_t *>(allocateDialogBuffer(bytes));
    uint32_t *held0 = fieldState.inputFrame0, *held1 = fieldState.inputFrame1;
    if (frame0 && frame1) {
        fieldState.inputFrame0 = frame0;
        fieldState.inputFrame1 = frame1;
        if (loadFieldPair(2 * frame) == 0) {
            std::free(held0);
            std::free(held1);
            dialog.loadedFrame = frame;
            // The preview frame takes the alpha bytes of the new input 1.
            const size_t count = bytes / 4;
            for (size_t i = 0; i < count; ++i)
                dialog.previewFrame[i] = (dialog.previewFrame[i] & ~0xFFu) | (frame1[i] & 0xFFu);
            return 0;
        }
        fieldState.inputFrame0 = held0;
        fieldState.inputFrame1 = held1;
    }
    std::free(frame0);
    std::free(frame1);
    return -1;
}

bool handleGuiMessage(const GuiMessage &message) {
    switch (u16At(message, GUI_MESSAGE_KIND_OFFSET)) {
    case kMessageClose:
        return true;
    case kMessagePointerMoved:
        if (dialog.dragActive) dragMoved(s16At(message, 12), s16At(message, 14));
        return false;
    case kMessagePointerButton:
        if (dialog.dragActive)
            dragButton(u16At(message, 12), s16At(message, 14), s16At(message, 16));
        return false;
    case kMessageGadget: {
        const DgId id = s32At(message, 12);
        if (id != 0 && id == dialog.closeButton) dialog.closeRequested = 1;
        gadgetEvent(id, u16At(message, 16), message);
        return dialog.closeRequested != 0;
    }
    default:
        return false;
    }
}

} // namespace lustra
