// The dialog's panels and gadgets, built from the settings record.
#include "dialog/Panels.h"

#include "dialog/DialogServices.h"
#include "dialog/DialogState.h"
#include "dialog/PageTables.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

namespace lustra {

namespace {

constexpr uint32_t kPanelFlags = 0x40;
constexpr uint32_t kOuterPanelFlags = 0x100;
constexpr uint32_t kPreviewPanelFlags = 0x400;
constexpr uint32_t kPagePanelFlags2 = 0x800;
constexpr uint32_t kSliderStyle = 0x130000;
constexpr uint32_t kSliderDisabled = 2;
constexpr uint32_t kStateDisabled = 2;
constexpr uint32_t kPageButtonState = 0x20000;
constexpr uint32_t kGuiColour = 1001;

constexpr int32_t kStripWidth = 82 + 36 + 388 + 150; // 656
constexpr int32_t kGadgetX = 178;
constexpr int32_t kTextButtonX = 8;

// Page buttons: (page, key, help) per row, left (x 8) and right (x 42).
struct PageButton {
    int32_t page;
    int32_t key;
    int32_t help;
};
constexpr PageButton kPageButtons[5][2] = {
    {{0, 'b', 1100}, {1, 'l', 1101}}, {{2, 'g', 1102}, {3, 's', 1103}},
    {{6, 'm', 1104}, {7, 'M', 1105}}, {{8, 'j', 1106}, {9, 'J', 1107}},
    {{4, 'u', 1108}, {5, 'U', 1109}},
};

// Keys of the command panel.
constexpr int32_t kKeyPresets = 'r';
constexpr int32_t kKeyReset = 0x20E002;
constexpr int32_t kKeyInfo = 0xE012;
constexpr int32_t kKeyCollapse = 'x';
constexpr int32_t kKeyTopBottom = 'y';
constexpr int32_t kKeyClose = 0x100065;
constexpr int32_t kKeyFrameSlider = 't';
constexpr int32_t kKeyHeaderPopup = '0';

DgId panelParent() {
    return dialog.guiMonitor == 2 ? dialog.outerPanel : dialog.request.handle;
}

// A panel at a base rectangle moved by the layout shift.
DgId createShiftedPanel(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags2 = 0) {
    return dgCreatePanel(panelParent(), x + dialog.shiftX, y + dialog.shiftY, width, height,
                         kPanelFlags, flags2, 0);
}

void removePanel(DgId &panel) {
    if (panel != 0) dgRemovePanel(panel);
    panel = 0;
}

// The outer panel of the monitor-2 layout, `width` x `height`, at the top or
// the bottom of monitor 2's visible area; x as computed by the caller.
void createOuterPanel(int32_t x, int32_t width, int32_t height, bool atTop) {
    const int32_t y = roundUpToEven(atTop ? dialog.visibleTop : dialog.visibleBottom - height);
    dialog.outerPanel =
        dgCreatePanel(dialog.request.handle, x, y, width, height, kOuterPanelFlags, 0, 0);
    dialog.outerRect = Rect{x, y, width, height};
}

int32_t centredInVisibleArea(int32_t width) {
    return roundUpTo4(dialog.visibleLeft + (dialog.visibleRight - dialog.visibleLeft - width) / 2);
}

void setGuiColour() {
    dgSetColorYUV(dgGetNewGuiColorYUV(kGuiColour));
}

void buildPageButtons(GadgetExtensions &extensions) {
    const int32_t h = gadgetHeight();
    static const DgGadgetExt kZeroExtension{};
    const bool secondLayers = secondLayersOption.value == 1;
    for (int32_t row = 0; row < 5; ++row) {
        for (int32_t column = 0; column < 2; ++column) {
            // The right buttons of rows 2 to 4 show the second layers.
            if (column == 1 && row >= 2 && !secondLayers) continue;
            const PageButton &button = kPageButtons[row][column];
            const DgGadgetExt *extension = extensions.withLabel(nullptr);
            const uint32_t state = kPageButtonState + (button.page == shownPage() ? 1u : 0u);
            const DgId id = dgAddImageButton(dialog.pageButtonPanel, column == 0 ? 8 : 42,
                                             rowY(row), 32, h, resourceImage(101 + button.page),
                                             state, extension ? extension : &kZeroExtension);
            dialog.pageButtons[button.page] = id;
            setKey(dialog.pageButtonPanel, id, button.key);
            setHelp(dialog.pageButtonPanel, id, button.help);
        }
    }
}

void buildCommandButtons() {
    const int32_t h = gadgetHeight();
    dialog.presetsButton = dgAddTextButton(dialog.commandPanel, 8, rowY(0), 134, h,
                                           resourceText(kStringPresets), 0, 0);
    setKey(dialog.commandPanel, dialog.presetsButton, kKeyPresets);
    dialog.resetButton =
        dgAddTextButton(dialog.commandPanel, 8, rowY(1), 134, h, resourceText(kStringReset), 0, 0);
    setKey(dialog.commandPanel, dialog.resetButton, kKeyReset);
}

void buildFrameSlider(GadgetExtensions &extensions) {
    DgGadgetExt *extension = extensions.withFormatter(&dgSliderCallbackFramesTime);
    dialog.frameSlider = dgAddSlider(dialog.frameSliderPanel, 8, 8, 134, gadgetHeight(), 0,
                                     settings.previewFrameCount - 1, settings.previewFrame, nullptr,
                                     nullptr, kSliderStyle, extension);
    setKey(dialog.frameSliderPanel, dialog.frameSlider, kKeyFrameSlider);
}

void buildCommandImageButtons() {
    const int32_t h = gadgetHeight(), y = rowY(3);
    DgId panel = dialog.commandPanel;
    dialog.infoButton = dgAddImageButton(panel, 8, y, 32, h, guiImage(kGuiImageInfo), 0, nullptr);
    setKey(panel, dialog.infoButton, kKeyInfo);
    // Screen position of the command panel, for the buttons the pointer goes to.
    const int32_t panelX = dialog.outerRect.x + dialog.shiftX + 490;
    const int32_t panelY = dialog.outerRect.y + dialog.shiftY + textHeight() + 30;
    if (dialog.guiMonitor == 2) {
        dialog.collapseButton =
            dgAddImageButton(panel, 42, y, 32, h, guiImage(kGuiImageCollapse), 0, nullptr);
        setKey(panel, dialog.collapseButton, kKeyCollapse);
        dialog.collapseButtonRect = Rect{panelX + 42, panelY + y, 32, h};
        dialog.topBottomButton =
            dgAddImageButton(panel, 76, y, 32, h, guiImage(kGuiImageTopBottom), 0, nullptr);
        setKey(panel, dialog.topBottomButton, kKeyTopBottom);
        dialog.topBottomButtonRect = Rect{panelX + 76, panelY + y, 32, h};
    }
    if (dialog.guiMode == 3) {
        dialog.closeButton =
            dgAddImageButton(panel, 110, y, 32, h, guiImage(kGuiImageClose), 0, nullptr);
    } else {
        const int32_t extra = (dialog.guiMonitor == 1 || dgGetVideoMode() == 1) ? 4 : 8;
        dialog.closeButton = dgAddImageButton(panel, 102, y, 40, textHeight() + extra,
                                              guiImage(kGuiImageClose), 0, nullptr);
    }
    setKey(panel, dialog.closeButton, kKeyClose);
}

void buildFullStrip() {
    const int32_t fa = textHeight();
    const int32_t pageButtonsHeight = 5 * fa + 52;
    if (dialog.guiMonitor == 2) {
        createOuterPanel(centredInVisibleArea(kStripWidth), kStripWidth, pageButtonsHeight + 42,
                         settings.dialogAtTop != 0);
    } else {
        dialog.previewPanel =
            dgCreatePanel(dialog.request.handle, dialog.previewX, dialog.previewY,
                          dialog.previewWidth, dialog.previewHeight, kPreviewPanelFlags, 0, 0);
        dialog.outerRect = Rect{};
    }
    dialog.pageButtonPanel = createShiftedPanel(0, 0, 82, pageButtonsHeight);
    dialog.frameSliderPanel = createShiftedPanel(490, 0, 150, fa + 20);
    dialog.commandPanel = createShiftedPanel(490, fa + 30, 150, 4 * fa + 44);

    GadgetExtensions extensions;
    setGuiColour();
    buildPageButtons(extensions);
    buildCommandButtons();
    buildFrameSlider(extensions);
    buildCommandImageButtons();
    buildPageHeader();
}

void buildCollapsedStrip() {
    const int32_t h = gadgetHeight();
    const int32_t innerHeight = 2 * textHeight() + 28;
    createOuterPanel(roundUpTo4(dialog.visibleLeft - 8), 64, innerHeight + 16,
                     settings.dialogAtTop != 0);
    dialog.collapsedPanel =
        dgCreatePanel(dialog.outerPanel, 8, 8, 48, innerHeight, kPanelFlags, 0, 0);
    setGuiColour();
    const int32_t panelX = dialog.outerRect.x + 8, panelY = dialog.outerRect.y + 8;
    dialog.collapseButton = dgAddImageButton(dialog.collapsedPanel, 8, rowY(0), 32, h,
                                             guiImage(kGuiImageCollapse), 0, nullptr);
    setKey(dialog.collapsedPanel, dialog.collapseButton, kKeyCollapse);
    dialog.collapseButtonRect = Rect{panelX + 8, panelY + rowY(0), 32, h};
    dialog.topBottomButton = dgAddImageButton(dialog.collapsedPanel, 8, rowY(1), 32, h,
                                              guiImage(kGuiImageTopBottom), 0, nullptr);
    setKey(dialog.collapsedPanel, dialog.topBottomButton, kKeyTopBottom);
    dialog.topBottomButtonRect = Rect{panelX + 8, panelY + rowY(1), 32, h};
}

void buildPositionShape() {
    const int32_t fa = textHeight();
    const int32_t outerHeight = fa + 36;
    // The position panel always sits at the bottom of the visible area.
    createOuterPanel(centredInVisibleArea(268), 268, outerHeight, false);
    dialog.positionPanel = dgCreatePanel(dialog.outerPanel, 6, 6, 252, fa + 20, kPanelFlags, 0, 0);
    setGuiColour();
    const PageEntry &page = kPages[dialog.dragPage];
    if (page.positionLabel == 0) return;
    GadgetExtensions extensions;
    DgGadgetExt *extension = extensions.withLabel(resourceText(page.positionLabel));
    dialog.positionText = dgAddTextGadget(
        dialog.positionPanel, 144, 8, 102, gadgetHeight(),
        positionText(readField(page.positionX), readField(page.positionY)), 1, extension);
    dialog.positionTextPanel = dialog.positionPanel;
}

// The value a slider shows for its field.
int32_t sliderValue(const GadgetEntry &gadget) {
    const int32_t value = readField(gadget.field);
    return gadget.role == Role::InvertedPercent ? 100 - value : value;
}

DgId addBodyGadget(const PageEntry &page, const GadgetEntry &gadget, GadgetExtensions &extensions) {
    const DgId panel = dialog.pageBodyPanel;
    const int32_t y = rowY(gadget.row), h = gadgetHeight();
    const bool disabled = gadgetDisabled(page, gadget);
    const uint32_t state = disabled ? kStateDisabled : 0;
    switch (gadget.kind) {
    case GadgetKind::Slider:
        return dgAddSlider(panel, kGadgetX, y, 202, h, gadget.minimum, gadget.maximum,
                           sliderValue(gadget), resourceText(gadget.label),
                           resourceText(gadget.valueText),
                           kSliderStyle | (disabled ? kSliderDisabled : 0), nullptr);
    case GadgetKind::CheckBox:
        return dgAddCheckBox(panel, kGadgetX, y, 32, h, readField(gadget.field), state,
                             extensions.withLabel(resourceText(gadget.label)));
    case GadgetKind::Popup: {
        ItemList items(gadget.firstItem, gadget.itemCount);
        const DgId id = dgAddPopup(panel, kGadgetX, y, 202, h, items.list(),
                                   readField(gadget.field), resourceText(gadget.label), state, 0);
        items.freeItemList();
        return id;
    }
    case GadgetKind::TextButton:
        return dgAddTextButton(panel, kTextButtonX, y, 372, h, resourceText(gadget.label), state,
                               0);
    case GadgetKind::TextGadget: {
        const DgId id =
            dgAddTextGadget(panel, kGadgetX, y, 170, h,
                            positionText(readField(gadget.field), readField(gadget.fieldY)), 1,
                            extensions.withLabel(resourceText(gadget.label)));
        dialog.positionText = id;
        dialog.positionTextPanel = panel;
        return id;
    }
    case GadgetKind::Colour:
        return dgAddPaletteButton(panel, kGadgetX, y, 66, h, resourceText(gadget.label),
                                  static_cast<uint32_t>(readField(gadget.field)), state, 0);
    }
    return 0;
}

void clearBodyIds() {
    for (BodyGadget &gadget : dialog.body) gadget = BodyGadget{};
    if (dialog.positionTextPanel == dialog.pageBodyPanel) {
        dialog.positionText = 0;
        dialog.positionTextPanel = 0;
    }
}

} // namespace

int32_t textHeight() {
    return dialog.fontHeight + dialog.addHeight;
}
int32_t gadgetHeight() {
    return textHeight() + 4;
}
int32_t rowY(int32_t row) {
    return 8 + row * (textHeight() + 8);
}

int32_t roundUpTo4(int32_t value) {
    return static_cast<int32_t>((static_cast<uint32_t>(value) + 3u) & ~3u);
}
int32_t roundUpToEven(int32_t value) {
    return static_cast<int32_t>((static_cast<uint32_t>(value) + 1u) & ~1u);
}

void buildMainPanels() {
    if (dialog.guiMonitor == 2 && dialog.positionMode)
        buildPositionShape();
    else if (dialog.guiMonitor == 2 && dialog.collapsed)
        buildCollapsedStrip();
    else
        buildFullStrip();
}

void removeMainPanels() {
    removePanel(dialog.pageButtonPanel);
    removePanel(dialog.collapsedPanel);
    removePanel(dialog.positionPanel);
    removePanel(dialog.pageHeaderPanel);
    removePanel(dialog.pageBodyPanel);
    removePanel(dialog.frameSliderPanel);
    removePanel(dialog.commandPanel);
    removePanel(dialog.outerPanel);
    removePanel(dialog.previewPanel);
    for (DgId &id : dialog.pageButtons) id = 0;
    dialog.presetsButton = dialog.resetButton = dialog.infoButton = 0;
    dialog.collapseButton = dialog.topBottomButton = dialog.closeButton = 0;
    dialog.frameSlider = dialog.headerSwitch = dialog.headerPopup = 0;
    for (BodyGadget &gadget : dialog.body) gadget = BodyGadget{};
    dialog.positionText = dialog.positionTextPanel = 0;
}

void buildPageHeader() {
    if (dialog.collapsed || dialog.positionMode) return;
    removePanel(dialog.pageHeaderPanel);
    dialog.headerSwitch = dialog.headerPopup = 0;
    const int32_t h = gadgetHeight();
    dialog.pageHeaderPanel = createShiftedPanel(92, 0, 388, textHeight() + 20, kPagePanelFlags2);
    const PageEntry &page = kPages[shownPage()];
    if (page.switchField.size != 0)
        dialog.headerSwitch = dgAddCheckBox(dialog.pageHeaderPanel, 8, 8, 32, h,
                                            readField(page.switchField), 0, nullptr);
    if (page.popup) {
        ItemList items(page.firstItem, page.itemCount);
        dialog.headerPopup =
            dgAddPopup(dialog.pageHeaderPanel, kGadgetX, 8, 202, h, items.list(),
                       readField(page.viewField), resourceText(page.headerLabel), 0, 0);
        items.freeItemList();
        setKey(dialog.pageHeaderPanel, dialog.headerPopup, kKeyHeaderPopup);
    } else {
        dgBoxText(dialog.pageHeaderPanel, resourceText(page.headerLabel), 36, 8, 136, h, 20);
    }
    buildPageBody();
}

void buildPageBody() {
    if (dialog.collapsed || dialog.positionMode) return;
    clearBodyIds();
    removePanel(dialog.pageBodyPanel);
    dialog.pageBodyPanel =
        createShiftedPanel(92, textHeight() + 30, 388, 4 * textHeight() + 44, kPagePanelFlags2);
    const PageEntry &page = kPages[shownPage()];
    const PageView *view = currentView(shownPage());
    if (!view) return;
    GadgetExtensions extensions;
    for (int32_t i = 0; i < view->count && i < kBodyRows; ++i) {
        const GadgetEntry &gadget = view->gadgets[i];
        const DgId id = addBodyGadget(page, gadget, extensions);
        dialog.body[i] = BodyGadget{id, &gadget};
        setKey(dialog.pageBodyPanel, id, gadget.key);
    }
}

} // namespace lustra
