// The settings dialog's module-wide state: screens and layout, the preview
// rectangle and buffers, the request and its queue, the panel and gadget ids
// of the current build and the position drag.
#pragma once

#include "lustrafex/host_sdk.h"

#include <cstdint>

namespace lustra {

struct GadgetEntry;

// A gadget of the page body: its id and the row of the page table it shows.
struct BodyGadget {
    DgId id = 0;
    const GadgetEntry *entry = nullptr;
};

constexpr int kBodyRows = 5;
constexpr int kPageCount = 10;

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

struct DialogState {
    // Resources.
    ResTable *stringTable = nullptr;
    ResTable *imageTable = nullptr;

    // Context.
    int32_t pixelAspect = 1000; // thousandths
    uint32_t fieldCount = 0;

    // Screens.
    int32_t guiMonitor = 1;
    int32_t twoMonitorsConnected = 0;
    int32_t screenWidth = 0, screenHeight = 0;
    int32_t monitor2Width = 0, monitor2Height = 0;
    int32_t visibleLeft = 0, visibleTop = 0, visibleRight = 0, visibleBottom = 0; // monitor 2
    int32_t guiMode = 0;
    int32_t fontHeight = 0; // F
    int32_t addHeight = 0;  // A

    // Layout: what is added to the base rectangles of the panels.
    int32_t shiftX = 0, shiftY = 0;

    // Preview.
    int32_t projectFrameWidth = 0, projectFrameHeight = 0;
    int32_t previewX = 0, previewY = 0, previewWidth = 0, previewHeight = 0;
    int32_t previewInnerWidth = 0, previewInnerHeight = 0;
    int32_t fullScreenPreview = 0;
    uint32_t *previewPicture = nullptr; // previewInnerWidth x previewInnerHeight
    uint32_t *previewFrame = nullptr;   // the finished preview frame, frame size
    int32_t loadedFrame = 0;            // the frame whose fields the buffers hold

    // The request and its queue.
    DreqRequest request{};
    MsgQueue *messageQueue = nullptr;

    // Panels of the current build (0 when absent).
    DgId pageButtonPanel = 0, pageHeaderPanel = 0, pageBodyPanel = 0, frameSliderPanel = 0;
    DgId commandPanel = 0, collapsedPanel = 0, previewPanel = 0, outerPanel = 0;
    DgId positionPanel = 0;
    Rect outerRect; // screen rectangle of the outer panel (monitor-2 layout)

    // Gadgets.
    DgId pageButtons[kPageCount] = {};
    DgId presetsButton = 0, resetButton = 0, infoButton = 0, collapseButton = 0;
    DgId topBottomButton = 0, closeButton = 0, frameSlider = 0;
    DgId headerSwitch = 0, headerPopup = 0;
    BodyGadget body[kBodyRows];
    DgId positionText = 0;      // the text gadget showing the current position pair
    DgId positionTextPanel = 0; // its panel
    Rect collapseButtonRect, topBottomButtonRect; // screen rectangles

    // Shapes of the strip and the position drag.
    int32_t collapsed = 0;
    int32_t positionMode = 0;
    int32_t dragActive = 0;
    int32_t dragPage = 0; // the page whose position the drag moves
    int32_t dragSavedX = 0, dragSavedY = 0;
    int32_t dragCentreX = 0, dragCentreY = 0;
    int32_t closeRequested = 0;
};

extern DialogState dialog;

// Resource string ids of the dialog-level texts.
constexpr int32_t kStringTitle = 100;
constexpr int32_t kStringPresets = 121;
constexpr int32_t kStringReset = 122;
constexpr int32_t kStringPercentValue = 997;
constexpr int32_t kStringValue = 999;
constexpr int32_t kStringNoFields = 1000;
constexpr int32_t kStringResetQuestion = 1001;
constexpr int32_t kStringInfo = 1002;

// Images of the GUI library's own resources.
constexpr int32_t kGuiImageTopBottom = 20;
constexpr int32_t kGuiImageCollapse = 43;
constexpr int32_t kGuiImageClose = 48;
constexpr int32_t kGuiImageInfo = 69;

// Text request styles.
constexpr int32_t kTextStyleMessage = 1;
constexpr int32_t kTextStyleQuestion = 67;

// Log lines of the dialog.
constexpr int32_t kLogFrameUnavailable = 4328;
constexpr int32_t kLogPreviewAllocation = 4333;

constexpr const char *kResourceFile = "lustra_ops";

} // namespace lustra
