// Layout of the dialog: the preview rectangle and the strip in the monitor-1
// and monitor-2 layouts, the page buttons, the command panel and the frame
// slider, the collapsed strip and the top/bottom switch.
#include "dialog/DialogTest.h"

using namespace lustra;
using namespace lustra::test;

namespace {

// F + A = 16 in the scripted host: gadgets are 20 high, rows 24 apart.
constexpr int32_t kH = 20;
int32_t row(int32_t k) {
    return 8 + 24 * k;
}

struct PanelBox {
    int32_t x, y, width, height;
    uint32_t flags, flags2;
};

void expectPanel(const ScriptedHost &host, const PanelBox &box, DgId parent, const char *what) {
    const Element *panel = host.livePanel(box.x, box.y, box.width, box.height);
    ASSERT_NE(panel, nullptr) << what;
    EXPECT_EQ(panel->flags, box.flags) << what;
    EXPECT_EQ(panel->flags2, box.flags2) << what;
    EXPECT_EQ(panel->panel, parent) << what;
}

const Element *imageButton(const ScriptedHost &host, int32_t image) {
    for (const Element *button : host.live(ElementKind::ImageButton))
        if (button->image == image) return button;
    return nullptr;
}

class DialogLayout : public DialogTest {};

} // namespace

TEST_F(DialogLayout, MonitorOnePlacesThePreviewAboveTheCentredStrip) {
    host.then([this] {
        // available = 300 - 108 - 36 - 16 = 140, shift x = (400 - 640) / 2 = -120.
        EXPECT_EQ(dialog.previewHeight, 128);
        EXPECT_EQ(dialog.previewWidth, 168); // (120 x 64 / 48 x 1000 / 1000 + 9), even
        EXPECT_EQ(dialog.previewX, 116);
        EXPECT_EQ(dialog.previewY, 6);
        EXPECT_EQ(dialog.fullScreenPreview, 0);
        expectPanel(host, {116, 6, 168, 128, 0x400, 0}, 7, "preview panel");
        expectPanel(host, {-120, 140, 82, 132, 0x40, 0}, 7, "page buttons");
        expectPanel(host, {-28, 140, 388, 36, 0x40, 0x800}, 7, "page header");
        expectPanel(host, {-28, 186, 388, 108, 0x40, 0x800}, 7, "page body");
        expectPanel(host, {370, 140, 150, 36, 0x40, 0}, 7, "frame slider");
        expectPanel(host, {370, 186, 150, 108, 0x40, 0}, 7, "command panel");
    });
    host.closeMessage();
    runDialog();

    ASSERT_EQ(host.requests.size(), 1u);
    const DreqRequest &request = host.requests[0];
    EXPECT_EQ(request.width, 400);
    EXPECT_EQ(request.height, 300);
    EXPECT_EQ(request.flags, 0x001021C0u);
    EXPECT_EQ(request.title, nullptr);
    EXPECT_EQ(request.zero, 0);
    ASSERT_EQ(host.callsNamed("createQueue").size(), 1u);
    EXPECT_EQ(host.callsNamed("createQueue")[0].args, (std::vector<int64_t>{10, 44, 0}));
    // The GUI colour of the request, then that of the panels.
    const std::vector<Call> colours = host.callsNamed("setColour");
    ASSERT_GE(colours.size(), 2u);
    EXPECT_EQ(colours[0].args[0], 0x20000 + 10);
    EXPECT_EQ(colours[1].args[0], 0x10000 + 1001);
    // Single GUI monitor: the colour bar is off while the dialog runs.
    EXPECT_EQ(host.callsNamed("colorBarOff").size(), 1u);
    EXPECT_EQ(host.callsNamed("colorBarOn").size(), 1u);
    // The first preview: the inner rectangle, inset by 4, then monitor 2.
    ASSERT_EQ(host.overlays.size(), 2u);
    EXPECT_FALSE(host.overlays[0].monitor);
    EXPECT_EQ(host.overlays[0].x, 120);
    EXPECT_EQ(host.overlays[0].y, 10);
    EXPECT_EQ(host.overlays[0].width, 160);
    EXPECT_EQ(host.overlays[0].height, 120);
    EXPECT_EQ(host.overlays[0].strideBytes, 640);
    EXPECT_TRUE(host.overlays[1].monitor);
    EXPECT_EQ(host.overlays[1].monitorNumber, 2);
}

TEST_F(DialogLayout, AFrameTooWideForTheScreenTakesTheFullWidth) {
    host.screenW = 200;
    context.pixelAspect = 500; // wide pixels: 320 pixels at the height that fits
    host.then([this] {
        EXPECT_EQ(dialog.previewWidth, 200);
        EXPECT_EQ(dialog.previewHeight, 80); // (192 x 48 / 64 x 500 / 1000 + 9), even
        // shift = (140 - 80 - 12) / 2 = 24: the strip moves up, the preview down.
        EXPECT_EQ(dialog.previewY, 30);
        EXPECT_EQ(dialog.previewX, 0);
        expectPanel(host, {-220, 116, 82, 132, 0x40, 0}, 7, "page buttons");
        expectPanel(host, {0, 30, 200, 80, 0x400, 0}, 7, "preview panel");
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogLayout, TwoGuiMonitorsLeaveMonitorTwoAndTheColourBarAlone) {
    host.connected = 2;
    host.closeMessage();
    runDialog();
    EXPECT_TRUE(host.callsNamed("colorBarOff").empty());
    EXPECT_TRUE(host.callsNamed("colorBarOn").empty());
    ASSERT_EQ(host.overlays.size(), 1u);
    EXPECT_FALSE(host.overlays[0].monitor);
}

TEST_F(DialogLayout, PageButtonsCarryImagesKeysHelpAndTheCurrentPage) {
    prepare([](EffectSettings &s) { s.currentPage = 3; });
    host.then([this] {
        struct Expected {
            int32_t page, x, y, key, help;
        };
        const Expected expected[] = {{0, 8, row(0), 'b', 1100}, {1, 42, row(0), 'l', 1101},
                                     {2, 8, row(1), 'g', 1102}, {3, 42, row(1), 's', 1103},
                                     {6, 8, row(2), 'm', 1104}, {7, 42, row(2), 'M', 1105},
                                     {8, 8, row(3), 'j', 1106}, {9, 42, row(3), 'J', 1107},
                                     {4, 8, row(4), 'u', 1108}, {5, 42, row(4), 'U', 1109}};
        const Element *panel = host.livePanel(-120, 140, 82, 132);
        ASSERT_NE(panel, nullptr);
        const std::vector<const Element *> buttons = host.gadgetsIn(panel->id);
        ASSERT_EQ(buttons.size(), 10u);
        for (size_t i = 0; i < 10; ++i) {
            const Element &button = *buttons[i];
            SCOPED_TRACE(expected[i].page);
            EXPECT_EQ(button.image, 101 + expected[i].page);
            EXPECT_EQ(button.x, expected[i].x);
            EXPECT_EQ(button.y, expected[i].y);
            EXPECT_EQ(button.width, 32);
            EXPECT_EQ(button.height, kH);
            EXPECT_EQ(button.state, expected[i].page == 3 ? 0x20001u : 0x20000u);
            EXPECT_EQ(button.key, expected[i].key);
            EXPECT_EQ(button.helpId, expected[i].help);
            EXPECT_EQ(button.helpTable, reinterpret_cast<intptr_t>(dialog.stringTable));
            EXPECT_TRUE(button.hasExtension);
        }
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(host.liveExtensions, 0);
}

TEST_F(DialogLayout, WithoutSecondLayersOnlySevenPagesCanBeReached) {
    secondLayersOption.value = 0;
    host.then([this] {
        std::vector<int32_t> images;
        for (const Element *button : host.live(ElementKind::ImageButton))
            if (button->image > 100 && button->image <= 110) images.push_back(button->image);
        EXPECT_EQ(images, (std::vector<int32_t>{101, 102, 103, 104, 107, 109, 105}));
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogLayout, CommandPanelAndFrameSlider) {
    prepare([](EffectSettings &s) { s.previewFrame = 2; });
    host.then([this] {
        const Element *presets = host.gadget(121);
        ASSERT_NE(presets, nullptr);
        EXPECT_EQ(presets->kind, ElementKind::TextButton);
        EXPECT_EQ((std::vector<int32_t>{presets->x, presets->y, presets->width, presets->height}),
                  (std::vector<int32_t>{8, row(0), 134, kH}));
        EXPECT_EQ(presets->key, 'r');
        const Element *reset = host.gadget(122);
        ASSERT_NE(reset, nullptr);
        EXPECT_EQ((std::vector<int32_t>{reset->x, reset->y, reset->width}),
                  (std::vector<int32_t>{8, row(1), 134}));
        EXPECT_EQ(reset->key, 0x20E002);
        int found = 0;
        for (const Element *button : host.live(ElementKind::ImageButton)) {
            if (button->image == kGuiImageBase + 69) {
                ++found;
                EXPECT_EQ(
                    (std::vector<int32_t>{button->x, button->y, button->width, button->height}),
                    (std::vector<int32_t>{8, row(3), 32, kH}));
                EXPECT_EQ(button->key, 0xE012);
            }
            if (button->image == kGuiImageBase + 48) {
                ++found;
                // Not GUI mode 3, monitor 1: 40 wide, F + A + 4 high.
                EXPECT_EQ(
                    (std::vector<int32_t>{button->x, button->y, button->width, button->height}),
                    (std::vector<int32_t>{102, row(3), 40, 20}));
                EXPECT_EQ(button->key, 0x100065);
            }
            // Collapse and top/bottom exist only in the monitor-2 layout.
            EXPECT_NE(button->image, kGuiImageBase + 43);
            EXPECT_NE(button->image, kGuiImageBase + 20);
        }
        EXPECT_EQ(found, 2);
        const Element *slider = nullptr;
        for (const Element *candidate : host.live(ElementKind::Slider))
            if (candidate->key == 't') slider = candidate;
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ((std::vector<int32_t>{slider->x, slider->y, slider->width, slider->height,
                                        slider->minimum, slider->maximum, slider->value}),
                  (std::vector<int32_t>{8, 8, 134, kH, 0, 2, 2}));
        EXPECT_EQ(slider->label, 0);
        EXPECT_EQ(slider->valueText, 0);
        EXPECT_EQ(slider->state, 0x130000u);
        EXPECT_EQ(slider->formatter, &dgSliderCallbackFramesTime);
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogLayout, TheCloseButtonFollowsTheGuiMode) {
    host.mode = 3;
    host.then([this] {
        const Element *close = imageButton(host, kGuiImageBase + 48);
        ASSERT_NE(close, nullptr);
        EXPECT_EQ((std::vector<int32_t>{close->x, close->width, close->height}),
                  (std::vector<int32_t>{110, 32, kH}));
    });
    host.closeMessage();
    runDialog();
}

namespace {

class MonitorTwo : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        host.guiMonitor = 2;
        host.monitor2W = 720;
        host.monitor2H = 576;
        host.visible[0] = 0;
        host.visible[1] = 0;
        host.visible[2] = 720;
        host.visible[3] = 576;
    }
    const Element *outer() const {
        for (const Element *panel : host.live(ElementKind::Panel))
            if (panel->flags == 0x100) return panel;
        return nullptr;
    }
};

} // namespace

TEST_F(MonitorTwo, TheStripSitsInItsFrameAtTheBottomOfMonitorTwo) {
    host.then([this] {
        const Element *frame = outer();
        ASSERT_NE(frame, nullptr);
        // 656 wide, 42 higher than the page buttons, centred and at the bottom.
        EXPECT_EQ((std::vector<int32_t>{frame->x, frame->y, frame->width, frame->height}),
                  (std::vector<int32_t>{32, 576 - 174, 656, 174}));
        EXPECT_EQ(frame->panel, 7);
        expectPanel(host, {8, 8, 82, 132, 0x40, 0}, frame->id, "page buttons");
        expectPanel(host, {100, 8, 388, 36, 0x40, 0x800}, frame->id, "page header");
        expectPanel(host, {100, 54, 388, 108, 0x40, 0x800}, frame->id, "page body");
        expectPanel(host, {498, 8, 150, 36, 0x40, 0}, frame->id, "frame slider");
        expectPanel(host, {498, 54, 150, 108, 0x40, 0}, frame->id, "command panel");
        EXPECT_EQ(dialog.previewX, -4);
        EXPECT_EQ(dialog.previewY, -4);
        EXPECT_EQ(dialog.previewInnerWidth, kFrameWidth);
        EXPECT_EQ(dialog.previewInnerHeight, kFrameHeight);
        EXPECT_EQ(dialog.fullScreenPreview, 1);
        // Collapse and top/bottom buttons; the close button 40 wide, F + A + 8 high.
        std::map<int32_t, const Element *> byImage;
        for (const Element *button : host.live(ElementKind::ImageButton))
            byImage[button->image] = button;
        ASSERT_TRUE(byImage.count(kGuiImageBase + 43));
        ASSERT_TRUE(byImage.count(kGuiImageBase + 20));
        EXPECT_EQ(byImage[kGuiImageBase + 43]->x, 42);
        EXPECT_EQ(byImage[kGuiImageBase + 43]->key, 'x');
        EXPECT_EQ(byImage[kGuiImageBase + 20]->x, 76);
        EXPECT_EQ(byImage[kGuiImageBase + 20]->key, 'y');
        EXPECT_EQ(byImage[kGuiImageBase + 48]->height, 24);
    });
    host.closeMessage();
    runDialog();
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.textId(host.requests[0].title), 100);
    // The preview covers monitor 2 around the strip: above, left and right of
    // it (nothing is below a strip at the bottom edge).
    ASSERT_EQ(host.overlays.size(), 3u);
    const std::vector<std::vector<int32_t>> pieces = {
        {0, 0, 720, 402}, {0, 402, 32, 174}, {688, 402, 32, 174}};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ((std::vector<int32_t>{host.overlays[i].x, host.overlays[i].y,
                                        host.overlays[i].width, host.overlays[i].height}),
                  pieces[i]);
    EXPECT_TRUE(host.callsNamed("colorBarOff").empty());
}

TEST_F(MonitorTwo, VideoModeOneGivesTheCloseButtonTheSmallerHeight) {
    host.video = 1;
    host.then([this] {
        const Element *close = imageButton(host, kGuiImageBase + 48);
        ASSERT_NE(close, nullptr);
        EXPECT_EQ(close->height, 20);
    });
    host.closeMessage();
    runDialog();
}

TEST_F(MonitorTwo, TopBottomMovesTheStripAndThePointerFollowsTheButton) {
    host.gadgetEvent(host.guiButton(20));
    host.then([this] {
        EXPECT_EQ(settings.dialogAtTop, 1);
        ASSERT_NE(outer(), nullptr);
        EXPECT_EQ(outer()->y, 0);
        // Centre of the top/bottom button: frame x 32 + 8 + 490 + 76 + 16,
        // frame y 0 + 8 + 46 + row 3 (80) + 10.
        const std::vector<Call> moves = host.callsNamed("movePointer");
        ASSERT_FALSE(moves.empty());
        EXPECT_EQ(moves.back().args, (std::vector<int64_t>{622, 144}));
    });
    host.gadgetEvent(host.guiButton(20));
    host.then([this] {
        EXPECT_EQ(settings.dialogAtTop, 0);
        EXPECT_EQ(outer()->y, 402);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(readBytes(home.settingsPath())[0], 0);
}

TEST_F(MonitorTwo, ResetPutsAStripAtTheTopBackAtTheBottom) {
    prepare([](EffectSettings &s) { s.dialogAtTop = 1; });
    host.then([this] {
        ASSERT_NE(outer(), nullptr);
        EXPECT_EQ(outer()->y, 0);
        host.textAnswers.push_back(1);
    });
    host.gadgetEvent(host.byLabel(122));
    host.then([this] {
        EXPECT_EQ(settings.dialogAtTop, 0);
        ASSERT_NE(outer(), nullptr);
        EXPECT_EQ(outer()->y, 402);
        // The rebuilt strip is whole and live: the top/bottom button of the
        // new strip moves it up again.
        ASSERT_NE(host.gadget(122), nullptr);
    });
    host.gadgetEvent(host.guiButton(20));
    host.then([this] {
        EXPECT_EQ(settings.dialogAtTop, 1);
        EXPECT_EQ(outer()->y, 0);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(readBytes(home.settingsPath())[0], 1);
}

TEST_F(MonitorTwo, CollapsingFoldsTheStripToTwoButtons) {
    host.gadgetEvent(host.guiButton(43));
    host.then([this] {
        EXPECT_EQ(dialog.collapsed, 1);
        const Element *frame = outer();
        ASSERT_NE(frame, nullptr);
        // 64 wide, 16 higher than the collapsed panel (2(F+A)+28 = 60).
        EXPECT_EQ((std::vector<int32_t>{frame->x, frame->y, frame->width, frame->height}),
                  (std::vector<int32_t>{-8, 500, 64, 76}));
        expectPanel(host, {8, 8, 48, 60, 0x40, 0}, frame->id, "collapsed panel");
        // Only the collapse and top/bottom buttons exist; no page header or body.
        std::vector<int32_t> images;
        for (const Element *button : host.live(ElementKind::ImageButton))
            images.push_back(button->image);
        EXPECT_EQ(images, (std::vector<int32_t>{kGuiImageBase + 43, kGuiImageBase + 20}));
        EXPECT_TRUE(host.live(ElementKind::Slider).empty());
        EXPECT_EQ(host.callsNamed("movePointer").back().args,
                  (std::vector<int64_t>{-8 + 8 + 8 + 16, 500 + 8 + 8 + 10}));
        // The preview is drawn around the small frame only: above it and to
        // its right (it starts left of the screen and ends at the bottom).
        ASSERT_GE(host.overlays.size(), 2u);
        const Overlay &above = host.overlays[host.overlays.size() - 2];
        const Overlay &right = host.overlays.back();
        EXPECT_EQ((std::vector<int32_t>{above.x, above.y, above.width, above.height}),
                  (std::vector<int32_t>{0, 0, 720, 500}));
        EXPECT_EQ((std::vector<int32_t>{right.x, right.y, right.width, right.height}),
                  (std::vector<int32_t>{56, 500, 664, 76}));
    });
    host.gadgetEvent(host.guiButton(43));
    host.then([this] {
        EXPECT_EQ(dialog.collapsed, 0);
        EXPECT_EQ(outer()->width, 656);
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogLayout, AScreenTooSmallForAnyPreviewClosesTheDialog) {
    host.screenH = 150; // available 150 - 160 < 0
    std::vector<uint8_t> expected = record();
    put16(expected, 822, kClipFrames); // the clip's length is taken on opening
    host.closeMessage();
    runDialog();
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{4333});
    EXPECT_TRUE(host.requests.empty());
    EXPECT_EQ(settingsFile(), expected);
    EXPECT_EQ(host.liveStringTables, 0);
    EXPECT_EQ(host.liveImageTables, 0);
}
