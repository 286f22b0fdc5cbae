// The settings dialog through the loaded module, as a host runs it: open the
// dialog, edit a setting on every page, close it; the settings file holds
// exactly the edits.
#include "dialog/ScriptedHost.h"

#include <gtest/gtest.h>

using namespace lustra::test;

namespace {

constexpr int32_t kWidth = 48, kHeight = 32;

class DialogScenario : public ::testing::Test {
  protected:
    ScriptedHost host;
    TempHome home;
    Module module;

    void SetUp() override {
        Frame title = solidFrame(kWidth, kHeight, hostPixel(16, 128, 128));
        for (int32_t y = 8; y < 24; ++y)
            for (int32_t x = 8; x < 40; ++x)
                title.pixels[size_t(y) * kWidth + x] = hostPixel(230, 128, 128);
        for (int k = 0; k < 4; ++k) {
            host.clip[0].push_back(solidFrame(kWidth, kHeight, hostPixel(90 + 10 * k, 100, 160)));
            host.clip[1].push_back(title);
        }
        module.getOperatorInfo();
        module.setChoices(1, 0, 0);
        module.action(1);
        module.context.fieldCount = 8;
        module.context.pixelAspect = 1000;
    }
    int32_t edit() {
        module.context.noDialog = 0;
        return module.action(4);
    }
};

} // namespace

TEST_F(DialogScenario, EditsOnEveryPageLandInTheSettingsFile) {
    std::vector<uint8_t> expected = defaultSettingsBytes();
    auto page = [&](int32_t n) {
        host.gadgetEvent(host.pageButton(n));
        expected[1] = uint8_t(n);
    };
    // Page 0: bevel width 12.
    host.gadgetEvent(host.byLabel(203), 12);
    expected[11] = 12;
    page(1); // light: fill zoom 200
    host.gadgetEvent(host.byLabel(251), 200);
    expected[27] = 200;
    page(2); // glow on, width 20
    host.gadgetEvent(host.headerSwitch(), 1);
    host.gadgetEvent(host.byLabel(220), 20);
    expected[22] = 1;
    expected[18] = 20;
    page(3); // shadow distance 55
    host.gadgetEvent(host.byLabel(243), 55);
    expected[25] = 55;
    page(4); // image map 1 on, 150 % wide
    host.gadgetEvent(host.headerSwitch(), 1);
    host.gadgetEvent(host.byLabel(267), 150);
    expected[160] = 1;
    put16(expected, 148, 150);
    page(5); // image map 2: second view, then centre the picture
    host.gadgetEvent(host.headerSwitch(), 1);
    host.gadgetEvent(host.headerPopup(), 1);
    host.gadgetEvent(host.byLabel(291));
    expected[288] = 1;
    expected[6] = 1;
    page(6); // object fill: metal, highlight 70 shown (30 stored)
    host.gadgetEvent(host.byLabel(303), 2);
    host.gadgetEvent(host.byLabel(309), 70);
    expected[417] = 2;
    expected[416] = 30;
    page(7); // background fill colour A through the colour request
    host.gadgetEvent(host.headerPopup(), 1);
    host.paletteAnswers.push_back({0, 1, 0x40506070u});
    host.gadgetEvent(host.byLabel(361));
    expected[8] = 1;
    put32(expected, 532, 0x40506070u);
    page(8); // texture 1 on, fractal
    host.gadgetEvent(host.headerSwitch(), 1);
    host.gadgetEvent(host.byLabel(404), 1);
    expected[665] = 1;
    expected[666] = 1;
    page(9); // texture 2 on, depth 99 on the second view
    host.gadgetEvent(host.headerSwitch(), 1);
    host.gadgetEvent(host.headerPopup(), 1);
    host.gadgetEvent(host.byLabel(444), 99);
    expected[795] = 1;
    expected[10] = 1;
    expected[792] = 99;
    // The clip: 4 frames, frame 0 shown.
    put16(expected, 820, 0);
    put16(expected, 822, 4);
    host.gadgetEvent(host.guiButton(48)); // close

    EXPECT_EQ(edit(), 0);
    EXPECT_FALSE(host.ranDry);
    EXPECT_EQ(readBytes(home.settingsPath()), expected);
    EXPECT_TRUE(host.logLines.empty());
    EXPECT_EQ(host.liveExtensions, 0);
    EXPECT_EQ(host.liveStringTables, 0);
    EXPECT_EQ(host.liveImageTables, 0);
    EXPECT_TRUE(host.live(ElementKind::Panel).empty());
    EXPECT_EQ(host.callsNamed("deleteRequest").size(), 1u);
}

TEST_F(DialogScenario, TheHostsCloseMessageAlsoWritesTheSettings) {
    host.gadgetEvent(host.byLabel(204), 40);
    host.closeMessage();
    EXPECT_EQ(edit(), 0);
    std::vector<uint8_t> expected = defaultSettingsBytes();
    expected[12] = 40;
    put16(expected, 822, 4);
    EXPECT_EQ(readBytes(home.settingsPath()), expected);

    // A later render uses what the dialog wrote.
    EXPECT_EQ(module.action(3, 0), 0);
    EXPECT_EQ(host.putFields.size(), 2u);
}

TEST_F(DialogScenario, NoDialogOnlyDeterminesTheSettingsName) {
    module.context.noDialog = 1;
    EXPECT_EQ(module.action(4), 0);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(readBytes(home.settingsPath()).empty());
}
