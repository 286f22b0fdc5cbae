// Position drags in the preview: the light and the picture positions follow
// the pointer, clamped to the preview; button 1 accepts, button 2 puts the
// position back exactly as it was.
#include "dialog/DialogTest.h"

#include <climits>

using namespace lustra;
using namespace lustra::test;

namespace {

// Monitor-1 layout of the fixture: the preview picture is 160 x 120 at
// (120, 10); its centre is at (200, 70).
constexpr int32_t kLeft = 120, kTop = 10, kCentreX = 200, kCentreY = 70;

class DialogDrag : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        prepare([](EffectSettings &s) {
            s.map1On = s.map2On = s.texture1On = s.texture2On = 1;
            s.map1View = s.map2View = 1;
            s.texture1View = s.texture2View = 2;
            s.map1OffsetX = 1000;
            s.map1OffsetY = -2000;
        });
    }
    std::vector<int64_t> lastPointerMove() const {
        const std::vector<Call> moves = host.callsNamed("movePointer");
        return moves.empty() ? std::vector<int64_t>{} : moves.back().args;
    }
    std::u16string text(int32_t label) const {
        const Element *gadget = host.gadget(label);
        return gadget ? gadget->text : u"<none>";
    }
};

} // namespace

TEST_F(DialogDrag, TheLightFollowsThePointerAndIsClampedToThePreview) {
    host.gadgetEvent(host.pageButton(1));
    host.gadgetEvent(host.byLabel(255));
    host.then([this] {
        EXPECT_EQ(dialog.dragActive, 1);
        EXPECT_EQ(settings.offsetX, 0);
        EXPECT_EQ(settings.offsetY, 0);
        EXPECT_EQ(text(252), u"0, 0");
        EXPECT_EQ(lastPointerMove(), (std::vector<int64_t>{kCentreX, kCentreY}));
        EXPECT_EQ(previewTrace.step, 8);
    });
    host.pointerMoved(kLeft - 50, kTop - 3); // beyond the left and top edges
    host.then([this] {
        EXPECT_EQ(settings.offsetX, -127); // (0 - 80) x 255 / 160
        EXPECT_EQ(settings.offsetY, -127); // (0 - 60) x 255 / 120
        EXPECT_EQ(text(252), u"-127, -127");
        EXPECT_EQ(previewTrace.step, 8);
    });
    host.pointerMoved(5000, 5000); // beyond the right and bottom edges
    host.then([this] {
        EXPECT_EQ(settings.offsetX, 125); // (159 - 80) x 255 / 160
        EXPECT_EQ(settings.offsetY, 125); // (119 - 60) x 255 / 120
    });
    host.pointerMoved(kCentreX + 16, kCentreY - 12);
    host.then([this] {
        EXPECT_EQ(settings.offsetX, 25);  // 16 x 255 / 160
        EXPECT_EQ(settings.offsetY, -25); // -12 x 255 / 120
    });
    host.pointerButton(1, kCentreX + 32, kCentreY);
    host.then([this] {
        EXPECT_EQ(dialog.dragActive, 0);
        EXPECT_EQ(settings.offsetX, 51);
        EXPECT_EQ(settings.offsetY, 0);
        EXPECT_EQ(text(252), u"51, 0");
    });
    // Moves after the drag ended do nothing.
    host.pointerMoved(kLeft, kTop);
    host.then([this] { EXPECT_EQ(settings.offsetX, 51); });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogDrag, CancellingRestoresTheLightExactly) {
    host.gadgetEvent(host.pageButton(1));
    host.gadgetEvent(host.byLabel(255));
    host.pointerMoved(kLeft + 3, kTop + 100);
    host.pointerButton(3, 0, 0); // other buttons are ignored
    host.then([this] { EXPECT_EQ(dialog.dragActive, 1); });
    host.pointerButton(2, kLeft, kTop);
    host.then([this] {
        EXPECT_EQ(dialog.dragActive, 0);
        EXPECT_EQ(settings.offsetX, -18);
        EXPECT_EQ(settings.offsetY, -18);
        EXPECT_EQ(text(252), u"-18, -18");
        EXPECT_EQ(previewTrace.step, 8);
    });
    host.closeMessage();
    runDialog();
    std::vector<uint8_t> file = settingsFile();
    EXPECT_EQ(int32_t(file[28] | file[29] << 8 | file[30] << 16 | uint32_t(file[31]) << 24), -18);
}

TEST_F(DialogDrag, APicturePositionMovesAgainstThePointer) {
    host.gadgetEvent(host.pageButton(4));
    host.then([this] { host.clearRecords(); });
    host.gadgetEvent(host.byLabel(272));
    host.then([this] {
        EXPECT_EQ(dialog.dragActive, 1);
        EXPECT_TRUE(host.callsNamed("overlay").empty()); // starting renders nothing
        EXPECT_EQ(lastPointerMove(), (std::vector<int64_t>{kCentreX, kCentreY}));
        EXPECT_EQ(settings.map1OffsetX, 1000);
    });
    host.pointerMoved(150, 30); // preview (30, 20): right of and below the centre (80, 60)
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1000 + 80 - 30);
        EXPECT_EQ(settings.map1OffsetY, -2000 + 60 - 20);
        EXPECT_EQ(text(269), u"1050, -1960");
        EXPECT_EQ(previewTrace.step, 6);
    });
    host.pointerMoved(-500, 5000); // clamped to (0, 119)
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1080);
        EXPECT_EQ(settings.map1OffsetY, -2059);
    });
    host.pointerButton(2, 0, 0);
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1000);
        EXPECT_EQ(settings.map1OffsetY, -2000);
        EXPECT_EQ(text(269), u"1000, -2000");
        EXPECT_EQ(previewTrace.step, 6);
    });
    // Accepting keeps the pointer's position.
    host.gadgetEvent(host.byLabel(272));
    host.pointerMoved(kCentreX - 10, kCentreY + 5);
    host.pointerButton(1, kCentreX - 20, kCentreY + 7);
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1020);
        EXPECT_EQ(settings.map1OffsetY, -2007);
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogDrag, EveryPositionPageDragsItsOwnPairWithItsStep) {
    struct Case {
        int32_t page, button, text, step;
        int32_t *x, *y;
    };
    const Case cases[] = {{5, 292, 289, 7, &settings.map2OffsetX, &settings.map2OffsetY},
                          {8, 421, 418, 4, &settings.texture1OffsetX, &settings.texture1OffsetY},
                          {9, 451, 448, 5, &settings.texture2OffsetX, &settings.texture2OffsetY}};
    for (const Case &c : cases) {
        host.gadgetEvent(host.pageButton(c.page));
        host.gadgetEvent(host.byLabel(c.button));
        host.pointerMoved(kCentreX + 5, kCentreY + 6);
        host.then([this, c] {
            SCOPED_TRACE(c.page);
            EXPECT_EQ(*c.x, -5);
            EXPECT_EQ(*c.y, -6);
            EXPECT_EQ(text(c.text), u"-5, -6");
            EXPECT_EQ(previewTrace.step, c.step);
        });
        host.pointerButton(1, kCentreX + 5, kCentreY + 6);
    }
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogDrag, ADragMovesThePositionItStartedWithWhicheverPageIsShown) {
    host.gadgetEvent(host.pageButton(4));
    host.gadgetEvent(host.byLabel(272));
    host.gadgetEvent(host.pageButton(2)); // pages stay usable during a drag
    host.pointerMoved(kCentreX - 40, kCentreY);
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1040);
        EXPECT_EQ(settings.offsetX, -18); // the light is not touched
        EXPECT_EQ(previewTrace.step, 6);
    });
    host.gadgetEvent(host.pageButton(8));
    host.pointerButton(2, 0, 0);
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1000);
        EXPECT_EQ(settings.map1OffsetY, -2000);
        EXPECT_EQ(settings.texture1OffsetX, 0);
        EXPECT_EQ(settings.texture1OffsetY, 0);
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogDrag, PositionsAtTheEndOfTheirRangeWrapInsteadOfOverflowing) {
    prepare([](EffectSettings &s) {
        s.map1OffsetX = INT32_MAX;
        s.map1OffsetY = INT32_MIN;
    });
    host.gadgetEvent(host.pageButton(4));
    host.gadgetEvent(host.byLabel(272));
    host.pointerMoved(kLeft, kTop + 119);
    host.then([] {
        EXPECT_EQ(settings.map1OffsetX, INT32_MIN + 79); // INT32_MAX + 80 wrapped
        EXPECT_EQ(settings.map1OffsetY, INT32_MAX - 58); // INT32_MIN - 59 wrapped
    });
    host.pointerButton(2, 0, 0);
    host.then([] { EXPECT_EQ(settings.map1OffsetX, INT32_MAX); });
    host.closeMessage();
    runDialog();
}

namespace {

class DialogDragMonitorTwo : public DialogDrag {
  protected:
    void SetUp() override {
        DialogDrag::SetUp();
        host.guiMonitor = 2;
        host.monitor2W = 720;
        host.monitor2H = 576;
        host.visible[2] = 720;
        host.visible[3] = 576;
    }
};

} // namespace

TEST_F(DialogDragMonitorTwo, TheStripBecomesThePositionPanelWhileDragging) {
    host.gadgetEvent(host.pageButton(4));
    host.gadgetEvent(host.byLabel(272));
    host.then([this] {
        EXPECT_EQ(dialog.positionMode, 1);
        const Element *outer = nullptr;
        for (const Element *panel : host.live(ElementKind::Panel))
            if (panel->flags == 0x100) outer = panel;
        ASSERT_NE(outer, nullptr);
        // 268 x (F + A + 36), centred, at the bottom.
        EXPECT_EQ((std::vector<int32_t>{outer->x, outer->y, outer->width, outer->height}),
                  (std::vector<int32_t>{228, 524, 268, 52}));
        const Element *inner = host.livePanel(6, 6, 252, 36);
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(inner->panel, outer->id);
        const std::vector<const Element *> gadgets = host.gadgetsIn(inner->id);
        ASSERT_EQ(gadgets.size(), 1u);
        EXPECT_EQ(gadgets[0]->kind, ElementKind::TextGadget);
        EXPECT_EQ((std::vector<int32_t>{gadgets[0]->x, gadgets[0]->y, gadgets[0]->width}),
                  (std::vector<int32_t>{144, 8, 102}));
        EXPECT_EQ(gadgets[0]->label, 269);
        EXPECT_EQ(gadgets[0]->text, u"1000, -2000");
        EXPECT_TRUE(host.live(ElementKind::Slider).empty());
        // The pointer goes to the middle of the frame (centre 32, 24 of the
        // frame, the preview at -4, -4).
        EXPECT_EQ(lastPointerMove(), (std::vector<int64_t>{32, 24}));
    });
    // Pointer positions are screen positions, clamped to monitor 2.
    host.pointerMoved(700, 20);
    host.then([this] {
        EXPECT_EQ(settings.map1OffsetX, 1000 + 32 - 700);
        EXPECT_EQ(settings.map1OffsetY, -2000 + 24 - 20);
        EXPECT_EQ(text(269), u"332, -1996");
    });
    host.pointerMoved(900, -9);
    host.then([] { EXPECT_EQ(settings.map1OffsetX, 1000 + 32 - 719); });
    host.pointerButton(1, 40, 30);
    host.then([this] {
        EXPECT_EQ(dialog.positionMode, 0);
        EXPECT_EQ(settings.map1OffsetX, 992);
        EXPECT_EQ(settings.map1OffsetY, -2006);
        // The full strip is back, its text showing the accepted position.
        EXPECT_NE(host.gadget(272), nullptr);
        EXPECT_EQ(text(269), u"992, -2006");
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogDragMonitorTwo, TheLightIsCentredOnMonitorTwo) {
    host.gadgetEvent(host.pageButton(1));
    host.gadgetEvent(host.byLabel(255));
    host.then([this] {
        EXPECT_EQ(lastPointerMove(), (std::vector<int64_t>{360, 288}));
        EXPECT_EQ(host.gadget(252)->panel, dialog.positionPanel);
    });
    host.pointerMoved(0, 575);
    host.then([] {
        EXPECT_EQ(settings.offsetX, -127); // (0 - 360) x 255 / 720
        EXPECT_EQ(settings.offsetY, 127);  // (575 - 288) x 255 / 576
    });
    host.pointerButton(2, 0, 0);
    host.then([] { EXPECT_EQ(settings.offsetX, -18); });
    host.closeMessage();
    runDialog();
}
