// Event handling: every setting gadget writes its field (and nothing else)
// and re-renders the preview from the right step; the enabling rules; the
// source and colour requests; the frame slider; reset and info; messages and
// values the dialog must ignore.
#include "dialog/DialogTest.h"

using namespace lustra;
using namespace lustra::test;

namespace {

// Stages a preview step runs (bit 0 bevel ... bit 7 final shading).
constexpr uint32_t kAll = 0xFF, kBevel = 0x01, kTexture1 = 0x08, kShading = 0x80;
uint32_t stagesOf(int32_t step) {
    switch (step) {
    case 0:
        return kAll;
    case 1:
        return kBevel | kTexture1 | kShading; // texture 1 is on in these tests
    case 8:
        return kShading;
    default:
        return (1u << (step - 1)) | kShading;
    }
}

struct SettingCase {
    int32_t page, view, label, value;
    size_t offset, size;
    int64_t stored;
    int32_t step;
};

const std::vector<SettingCase> kSettingCases = {
    {0, 0, 203, 17, 11, 1, 17, 1},    {0, 0, 204, 60, 12, 1, 60, 1},
    {0, 0, 205, 9, 13, 1, 9, 1},      {0, 0, 206, 1, 17, 1, 1, 0},
    {0, 1, 210, 4, 14, 1, 4, 1},      {0, 1, 211, 6, 15, 1, 6, 1},
    {0, 1, 207, 1, 16, 1, 1, 1},      {1, 0, 251, 77, 27, 1, 77, 8},
    {2, 0, 220, 12, 18, 1, 12, 2},    {2, 0, 221, 50, 19, 1, 50, 2},
    {2, 0, 222, 30, 20, 1, 30, 2},    {2, 0, 223, 1, 21, 1, 1, 2},
    {3, 0, 242, 40, 24, 1, 40, 3},    {3, 0, 241, 11, 23, 1, 11, 3},
    {3, 0, 243, 80, 25, 1, 80, 3},    {4, 0, 263, 0, 161, 1, 0, 6},
    {4, 0, 267, 200, 148, 2, 200, 6}, {4, 0, 268, 50, 150, 2, 50, 6},
    {5, 0, 283, 0, 289, 1, 0, 7},     {5, 0, 287, 300, 274, 2, 300, 7},
    {5, 0, 288, 25, 276, 2, 25, 7},   {6, 0, 303, 2, 417, 1, 2, 8},
    {6, 0, 309, 90, 416, 1, 10, 8},   {7, 0, 353, 3, 545, 1, 3, 8},
    {7, 0, 359, 0, 544, 1, 100, 8},   {8, 0, 404, 3, 666, 1, 3, 4},
    {8, 0, 412, 400, 658, 2, 400, 4}, {8, 0, 413, 125, 660, 2, 125, 4},
    {8, 1, 414, 5, 662, 1, 5, 4},     {8, 1, 415, 200, 663, 1, 200, 4},
    {8, 1, 416, 20, 664, 1, 20, 4},   {8, 1, 417, 1, 667, 1, 1, 4},
    {9, 0, 434, 2, 796, 1, 2, 5},     {9, 0, 442, 60, 788, 2, 60, 5},
    {9, 0, 443, 70, 790, 2, 70, 5},   {9, 1, 444, 7, 792, 1, 7, 5},
    {9, 1, 445, 100, 793, 1, 100, 5}, {9, 1, 446, 3, 794, 1, 3, 5},
    {9, 1, 447, 1, 797, 1, 1, 5},
};

int64_t fieldAt(const std::vector<uint8_t> &bytes, size_t offset, size_t size) {
    int64_t value = 0;
    for (size_t i = 0; i < size; ++i) value |= int64_t(bytes[offset + i]) << (8 * i);
    return value;
}

// Bytes of `after` that differ from `before`, as offsets.
std::vector<size_t> changedBytes(const std::vector<uint8_t> &before,
                                 const std::vector<uint8_t> &after) {
    std::vector<size_t> changed;
    for (size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) changed.push_back(i);
    return changed;
}

class DialogEvents : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        prepare([](EffectSettings &s) {
            s.glowOn = s.shadowOn = s.map1On = s.map2On = s.texture1On = s.texture2On = 1;
            s.map1FromSource = s.map2FromSource = 1;
            s.fill1Mode = 4;
            s.fill2Mode = 4;
        });
    }
    std::vector<uint8_t> before;
    void snapshot() {
        host.then([this] {
            before = record();
            traces.clear();
            host.clearRecords();
        });
    }
    // The (enable/disable, label) calls recorded since the last snapshot.
    std::vector<std::pair<std::string, int64_t>> enabling() const {
        std::vector<std::pair<std::string, int64_t>> out;
        for (const Call &call : host.calls)
            if (call.name == "enable" || call.name == "disable")
                out.emplace_back(call.name, call.args[1]);
        return out;
    }
    void goTo(int32_t page, int32_t view) {
        host.gadgetEvent(host.pageButton(page));
        if (page != 1 && page != 3) host.gadgetEvent(host.headerPopup(), view);
    }
};

} // namespace

TEST_F(DialogEvents, EverySettingGadgetWritesItsFieldAndRedoesItsStep) {
    for (const SettingCase &c : kSettingCases) {
        goTo(c.page, c.view);
        snapshot();
        host.gadgetEvent(host.byLabel(c.label), c.value);
        host.then([this, &c] {
            SCOPED_TRACE(c.label);
            const std::vector<uint8_t> after = record();
            EXPECT_EQ(fieldAt(after, c.offset, c.size), c.stored);
            for (size_t offset : changedBytes(before, after))
                EXPECT_TRUE(offset >= c.offset && offset < c.offset + c.size) << offset;
            EXPECT_EQ(previewTrace.step, c.step);
            EXPECT_EQ(previewTrace.stages, stagesOf(c.step));
            EXPECT_EQ(previewTrace.setUp, c.label == 206 ? 1 : 0); // inverting the shape
            EXPECT_EQ(previewTrace.shown, 1);
        });
    }
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
    EXPECT_TRUE(host.logLines.empty());
}

TEST_F(DialogEvents, TheBevelStepSkipsTextureOneWhileItIsOff) {
    prepare([](EffectSettings &s) { s.texture1On = 0; });
    host.gadgetEvent(host.byLabel(203), 3);
    host.then([] {
        EXPECT_EQ(previewTrace.step, 1);
        EXPECT_EQ(previewTrace.stages, kBevel | kShading);
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogEvents, HeaderSwitchesWriteTheirFieldAndApplyTheEnablingRules) {
    prepare([](EffectSettings &s) {
        s.glowOn = s.map1On = s.texture1On = s.shadowOn = 0;
        s.glowBlurred = 1;
        s.map1FromSource = 0;
        s.texture1Type = 2;
    });
    // Rule A, view 0: sliders 220, 221 on, 222 off while blurred, check box 223 on.
    host.gadgetEvent(host.pageButton(2));
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(settings.glowOn, 1);
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"enable", 220}, {"enable", 221}, {"disable", 222}, {"enable", 223}}));
        EXPECT_EQ(previewTrace.step, 2);
    });
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 0);
    host.then([this] {
        EXPECT_EQ(settings.glowOn, 0);
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"disable", 220}, {"disable", 221}, {"disable", 222}, {"disable", 223}}));
    });
    // Rule A, the colour view.
    host.gadgetEvent(host.headerPopup(), 1);
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{{"enable", 226}, {"enable", 227}}));
    });
    // The shadow switch.
    host.gadgetEvent(host.pageButton(3));
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(settings.shadowOn, 1);
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"enable", 242}, {"enable", 241}, {"enable", 243}, {"enable", 244}}));
        EXPECT_EQ(previewTrace.step, 3);
    });
    // Rule B: the source button only while the map takes a fetched picture.
    host.gadgetEvent(host.pageButton(4));
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(settings.map1On, 1);
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"enable", 263}, {"disable", 266}, {"enable", 267}, {"enable", 268}}));
        EXPECT_EQ(previewTrace.step, 6);
    });
    host.gadgetEvent(host.headerPopup(), 1);
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 0);
    host.then([this] {
        EXPECT_EQ(enabling(), (std::vector<std::pair<std::string, int64_t>>{{"disable", 272},
                                                                            {"disable", 271}}));
    });
    // Rule C on each of the three views; the switch renders everything.
    host.gadgetEvent(host.pageButton(8));
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(settings.texture1On, 1);
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"enable", 404}, {"disable", 411}, {"enable", 412}, {"enable", 413}}));
        EXPECT_EQ(previewTrace.step, 0);
        EXPECT_EQ(previewTrace.stages, kAll);
        EXPECT_EQ(previewTrace.setUp, 0);
    });
    host.gadgetEvent(host.headerPopup(), 1);
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 0);
    host.then([this] {
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{
                      {"disable", 414}, {"disable", 415}, {"disable", 416}, {"disable", 417}}));
    });
    host.gadgetEvent(host.headerPopup(), 2);
    snapshot();
    host.gadgetEvent(host.headerSwitch(), 1);
    host.then([this] {
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{{"enable", 421}, {"enable", 420}}));
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogEvents, SelectorsEnableTheGadgetsTheyGovern) {
    prepare([](EffectSettings &s) {
        s.map1FromSource = 0;
        s.fill1Mode = 1;
        s.texture2Type = 0;
    });
    host.gadgetEvent(host.pageButton(2));
    snapshot();
    host.gadgetEvent(host.byLabel(223), 1);
    host.then([this] {
        EXPECT_EQ(enabling(), (std::vector<std::pair<std::string, int64_t>>{{"disable", 222}}));
    });
    host.gadgetEvent(host.pageButton(4));
    snapshot();
    host.gadgetEvent(host.byLabel(263), 1);
    host.then([this] {
        EXPECT_EQ(enabling(), (std::vector<std::pair<std::string, int64_t>>{{"enable", 266}}));
    });
    host.gadgetEvent(host.pageButton(6));
    snapshot();
    host.gadgetEvent(host.byLabel(303), 4);
    host.then([this] {
        EXPECT_EQ(enabling(),
                  (std::vector<std::pair<std::string, int64_t>>{{"enable", 310}, {"enable", 309}}));
    });
    snapshot();
    host.gadgetEvent(host.byLabel(303), 0);
    host.then([this] {
        EXPECT_EQ(enabling(), (std::vector<std::pair<std::string, int64_t>>{{"disable", 310},
                                                                            {"disable", 309}}));
    });
    host.gadgetEvent(host.pageButton(9));
    snapshot();
    host.gadgetEvent(host.byLabel(434), 5);
    host.then([this] {
        EXPECT_EQ(enabling(), (std::vector<std::pair<std::string, int64_t>>{{"enable", 441}}));
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogEvents, PositionResetsClearThePairAndShowIt) {
    prepare([](EffectSettings &s) {
        s.offsetX = 9;
        s.map1OffsetX = s.map2OffsetY = s.texture1OffsetX = s.texture2OffsetY = 77;
    });
    struct Reset {
        int32_t page, view, button, text;
        size_t offset;
        int32_t step;
    };
    const Reset resets[] = {{1, 0, 254, 252, 28, 8},
                            {4, 1, 271, 269, 152, 6},
                            {5, 1, 291, 289, 280, 7},
                            {8, 2, 420, 418, 668, 4},
                            {9, 2, 450, 448, 800, 5}};
    for (const Reset &reset : resets) {
        goTo(reset.page, reset.view);
        host.gadgetEvent(host.byLabel(reset.button));
        host.then([this, reset] {
            SCOPED_TRACE(reset.button);
            EXPECT_EQ(fieldAt(record(), reset.offset, 8), 0);
            EXPECT_EQ(host.gadget(reset.text)->text, u"0, 0");
            EXPECT_EQ(previewTrace.step, reset.step);
        });
    }
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogEvents, ColourButtonsAskForAColourAndKeepItWhenChosen) {
    struct ColourCase {
        int32_t page, view, label;
        size_t offset;
        int32_t step;
    };
    const ColourCase cases[] = {{2, 1, 226, 808, 2}, {2, 1, 227, 812, 2}, {3, 0, 244, 816, 3},
                                {6, 1, 311, 404, 8}, {6, 1, 312, 408, 8}, {6, 1, 313, 412, 8},
                                {7, 1, 361, 532, 8}, {7, 1, 362, 536, 8}, {7, 1, 363, 540, 8}};
    uint32_t colour = 0x30405060;
    for (const ColourCase &c : cases) {
        goTo(c.page, c.view);
        host.paletteAnswers.push_back({0, 1, colour});
        host.gadgetEvent(host.byLabel(c.label));
        host.then([this, c, colour] {
            SCOPED_TRACE(c.label);
            EXPECT_EQ(fieldAt(record(), c.offset, 4), colour);
            EXPECT_EQ(host.gadget(c.label)->colour, colour);
            EXPECT_EQ(previewTrace.step, c.step);
        });
        colour += 0x01010101;
    }
    // A cancelled request and a failed one change nothing and render nothing.
    host.gadgetEvent(host.pageButton(3));
    snapshot();
    host.paletteAnswers.push_back({0, 0, 0x99999999});
    host.gadgetEvent(host.byLabel(244));
    host.paletteAnswers.push_back({-1, 1, 0x99999999});
    host.gadgetEvent(host.byLabel(244));
    host.then([this] {
        EXPECT_EQ(record(), before);
        EXPECT_TRUE(traces.empty());
        EXPECT_EQ(previewTrace.calls, 0 + previewTrace.calls); // nothing new rendered:
        EXPECT_TRUE(host.callsNamed("overlay").empty());
    });
    host.closeMessage();
    runDialog();
    ASSERT_GE(host.palettesAsked.size(), 1u);
    EXPECT_EQ(host.palettesAsked[0], 0xD21092FFu); // the glow colour's default goes in
}

TEST_F(DialogEvents, SourceButtonsPickADescriptorAndReloadTheLayer) {
    struct SourceCase {
        int32_t page, label;
        size_t offset;
        int32_t step;
    };
    const SourceCase cases[] = {{4, 266, 36, 6},  {5, 286, 162, 7}, {6, 310, 290, 8},
                                {7, 360, 418, 8}, {8, 411, 546, 4}, {9, 441, 676, 5}};
    prepare([](EffectSettings &s) { s.texture1Type = s.texture2Type = 5; });
    for (const SourceCase &c : cases) {
        const std::string name = "picture-" + std::to_string(c.label);
        host.sources[name] = solidFrame(8, 6, hostPixel(100, 90, 200));
        goTo(c.page, 0);
        snapshot();
        host.transferAnswers.push_back({0, 1, name});
        host.gadgetEvent(host.byLabel(c.label));
        host.then([this, c, name] {
            SCOPED_TRACE(c.label);
            const std::vector<uint8_t> after = record();
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(&after[c.offset])), name);
            for (size_t offset : changedBytes(before, after))
                EXPECT_TRUE(offset >= c.offset && offset < c.offset + 112) << offset;
            EXPECT_EQ(previewTrace.step, c.step);
            EXPECT_EQ(host.callsNamed("txTypes").at(0).args[0], 15);
            EXPECT_EQ(host.callsNamed("txGetPrefs").at(0).args[0], 112);
            EXPECT_EQ(host.callsNamed("txFree").size(), 1u);
        });
    }
    // Cancelled, failed and refused requests change nothing.
    host.gadgetEvent(host.pageButton(4));
    snapshot();
    host.transferAnswers.push_back({0, 0, "cancelled"});
    host.gadgetEvent(host.byLabel(266));
    host.transferAnswers.push_back({-1, 1, "failed"});
    host.gadgetEvent(host.byLabel(266));
    host.then([this] {
        host.refuseTransfer = true;
        EXPECT_EQ(host.callsNamed("txFree").size(), 2u);
    });
    host.gadgetEvent(host.byLabel(266));
    host.then([this] {
        EXPECT_EQ(record(), before);
        EXPECT_TRUE(host.callsNamed("overlay").empty());
        EXPECT_EQ(host.callsNamed("txFree").size(), 2u);
    });
    host.closeMessage();
    const int32_t requestsBefore = host.sourceRequests;
    runDialog();
    EXPECT_GT(host.sourceRequests, requestsBefore);
    EXPECT_TRUE(host.logLines.empty());
}

TEST_F(DialogEvents, TheFrameSliderFetchesTheFrameOnlyForAFinalValue) {
    host.then([this] { host.fieldRequests.clear(); });
    snapshot();
    host.gadgetEvent(host.frameSlider(), 1, 1); // still moving
    host.then([this] {
        EXPECT_EQ(settings.previewFrame, 1);
        EXPECT_TRUE(host.fieldRequests.empty());
        EXPECT_TRUE(traces.empty() && host.callsNamed("overlay").empty());
    });
    host.gadgetEvent(host.frameSlider(), 2, 4);
    host.then([this] {
        EXPECT_EQ(settings.previewFrame, 2);
        EXPECT_EQ(host.fieldRequests,
                  (std::vector<std::pair<int32_t, int32_t>>{{0, 4}, {0, 5}, {1, 4}, {1, 5}}));
        EXPECT_EQ(previewTrace.step, 0);
        EXPECT_EQ(previewTrace.setUp, 1);
        EXPECT_EQ(operatorState.sourcesCached, 0);
        EXPECT_EQ(dialog.loadedFrame, 2);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(fieldAt(settingsFile(), 820, 2), 2);
}

TEST_F(DialogEvents, AFrameTheHostCannotDeliverLeavesThePreviewWhereItWas) {
    host.missingFields.insert({1, 3});
    std::vector<uint32_t> shown;
    host.then(
        [&] { shown = std::vector<uint32_t>(dialog.previewFrame, dialog.previewFrame + 64 * 48); });
    host.gadgetEvent(host.frameSlider(), 1, 3);
    host.then([&] {
        EXPECT_EQ(settings.previewFrame, 0);
        EXPECT_EQ(dialog.loadedFrame, 0);
        EXPECT_EQ(host.frameSlider() ? host.find(host.frameSlider()())->value : -1, 0);
    });
    // Re-rendering still shows frame 0.
    host.gadgetEvent(host.byLabel(203), 8);
    host.then([&] {
        EXPECT_EQ(std::vector<uint32_t>(dialog.previewFrame, dialog.previewFrame + 64 * 48), shown);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(host.loggedLines(), std::vector<int32_t>{5811}); // logged by the field fetch
    EXPECT_EQ(fieldAt(settingsFile(), 820, 2), 0);
}

TEST_F(DialogEvents, ResetAsksFirstWritesTheDefaultsAndKeepsTheFrame) {
    prepare([](EffectSettings &s) {
        s.dialogAtTop = 1;
        s.bevelWidth = 25;
        s.invertShape = 1;
        s.currentPage = 4;
        s.previewFrame = 1;
    });
    snapshot();
    host.gadgetEvent(host.byLabel(122)); // answered no
    host.then([this] {
        EXPECT_EQ(record(), before);
        EXPECT_TRUE(traces.empty() && host.callsNamed("overlay").empty());
    });
    host.then([this] { host.textAnswers.push_back(1); });
    snapshot();
    host.gadgetEvent(host.byLabel(122));
    host.then([this] {
        // The placement too goes back to its default, the bottom.
        std::vector<uint8_t> expected = defaultSettingsBytes();
        put16(expected, 820, 1);
        put16(expected, 822, kClipFrames);
        EXPECT_EQ(record(), expected);
        EXPECT_EQ(host.callsNamed("activate").at(0).args[1], 101);
        std::vector<std::vector<int64_t>> slider;
        for (const Call &call : host.callsNamed("change"))
            if (call.args[2] == 39 || call.args[2] == 40)
                slider.push_back({call.args[2], call.args[3], call.args[4]});
        EXPECT_EQ(slider, (std::vector<std::vector<int64_t>>{{39, 2, 1}, {40, 1, 1}}));
        EXPECT_EQ(host.gadget(203)->value, 8); // the page 0 body, rebuilt
        EXPECT_EQ(previewTrace.step, 0);
        EXPECT_EQ(previewTrace.setUp, 1); // the inversion changed: a new mask
    });
    host.closeMessage();
    runDialog();
    ASSERT_EQ(host.textsAsked.size(), 2u);
    EXPECT_EQ(host.textsAsked[0].text, 1001);
    EXPECT_EQ(host.textsAsked[0].style, 67);
}

TEST_F(DialogEvents, InfoShowsTheInformationText) {
    host.gadgetEvent(host.guiButton(69));
    host.closeMessage();
    runDialog();
    ASSERT_EQ(host.textsAsked.size(), 1u);
    EXPECT_EQ(host.textsAsked[0].text, 1002);
    EXPECT_EQ(host.textsAsked[0].style, 1);
}

TEST_F(DialogEvents, PageButtonsShowTheirPage) {
    host.gadgetEvent(host.pageButton(9));
    host.then([this] {
        EXPECT_EQ(settings.currentPage, 9);
        EXPECT_NE(host.gadget(430), nullptr);
        EXPECT_EQ(host.gadget(400), nullptr);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(settingsFile()[1], 9);
}

TEST_F(DialogEvents, UnknownMessagesGadgetsAndValuesOutOfRangeChangeNothing) {
    host.gadgetEvent(host.pageButton(4));
    snapshot();
    for (uint16_t kind : {0, 1, 5, 6, 8, 999}) host.message(kind);
    host.gadgetEvent(host.fixed(0), 1);
    host.gadgetEvent(host.fixed(987654), 1);
    host.pointerMoved(10, 10); // no drag running
    host.pointerButton(1, 10, 10);
    host.gadgetEvent(host.byLabel(267), 401); // 25..400
    host.gadgetEvent(host.byLabel(267), 24);
    host.gadgetEvent(host.byLabel(267), -100);
    host.gadgetEvent(host.byLabel(263), 2); // two items
    host.gadgetEvent(host.headerPopup(), 2);
    host.gadgetEvent(host.headerSwitch(), 2);
    host.gadgetEvent(host.frameSlider(), 3, 4); // three frames: 0..2
    host.gadgetEvent(host.frameSlider(), -1, 4);
    host.gadgetEvent(host.pageButton(2));
    host.gadgetEvent(host.byLabel(220), 31); // 0..30
    host.gadgetEvent(host.byLabel(223), 7);  // a check box is 0 or 1
    host.then([this] {
        std::vector<uint8_t> expected = before;
        expected[1] = 2; // the page button did its work
        EXPECT_EQ(record(), expected);
        EXPECT_TRUE(traces.empty());
        EXPECT_TRUE(host.callsNamed("overlay").empty());
        EXPECT_TRUE(host.callsNamed("enable").empty() && host.callsNamed("disable").empty());
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
    EXPECT_TRUE(host.logLines.empty());
}
