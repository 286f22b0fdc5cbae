// The page header and body of every page and view: gadget kinds, rows,
// labels, ranges, items, keys, value formats, values shown and the states in
// which the gadgets are created.
#include "dialog/DialogTest.h"

using namespace lustra;
using namespace lustra::test;

namespace {

using K = ElementKind;

struct Gadget {
    K kind;
    int32_t row;
    int32_t label;
    int32_t minimum = 0, maximum = 0;
    int32_t key = 0;
    std::vector<int32_t> items = {};
    int32_t valueText = 0;
};

struct Page {
    int32_t page, view;
    bool hasSwitch;
    int32_t header;                   // popup label or box text
    std::vector<int32_t> headerItems; // empty: a box text
    std::vector<Gadget> body;
};

Gadget slider(int32_t row, int32_t label, int32_t minimum, int32_t maximum, int32_t key,
              int32_t valueText = 999) {
    return Gadget{K::Slider, row, label, minimum, maximum, key, {}, valueText};
}
Gadget check(int32_t row, int32_t label, int32_t key) {
    return Gadget{K::CheckBox, row, label, 0, 0, key};
}
Gadget popup(int32_t row, int32_t label, int32_t first, int32_t count, int32_t key) {
    std::vector<int32_t> items;
    for (int32_t i = 0; i < count; ++i) items.push_back(first + i);
    return Gadget{K::Popup, row, label, 0, 0, key, items};
}
Gadget button(int32_t row, int32_t label, int32_t key) {
    return Gadget{K::TextButton, row, label, 0, 0, key};
}
Gadget text(int32_t row, int32_t label) {
    return Gadget{K::TextGadget, row, label};
}
Gadget colour(int32_t row, int32_t label, int32_t key) {
    return Gadget{K::PaletteButton, row, label, 0, 0, key};
}

const std::vector<Page> &pages() {
    static const std::vector<Page> kPages = {
        {0,
         0,
         false,
         200,
         {201, 202},
         {slider(0, 203, 0, 30, '1'), slider(1, 204, 0, 100, '2'), slider(2, 205, 0, 30, '3'),
          check(3, 206, '4')}},
        {0,
         1,
         false,
         200,
         {201, 202},
         {slider(0, 210, 0, 10, '1'), slider(1, 211, 0, 10, '2'), check(2, 207, '3')}},
        {1,
         0,
         false,
         250,
         {},
         {slider(0, 251, 0, 255, '1'), button(1, 255, '2'), text(2, 252), button(3, 254, '4')}},
        {2,
         0,
         true,
         228,
         {229, 230},
         {slider(0, 220, 0, 30, '1'), slider(1, 221, 0, 100, '2'), slider(2, 222, 0, 100, '3'),
          check(3, 223, '4')}},
        {2, 1, true, 228, {229, 230}, {colour(0, 226, '1'), colour(1, 227, '2')}},
        {3,
         0,
         true,
         240,
         {},
         {slider(0, 242, 0, 100, '1'), slider(1, 241, 0, 30, '2'), slider(2, 243, 0, 100, '3'),
          colour(3, 244, '4')}},
        {4,
         0,
         true,
         260,
         {261, 262},
         {popup(0, 263, 264, 2, '1'), button(1, 266, '2'), slider(2, 267, 25, 400, '3'),
          slider(3, 268, 25, 400, '4')}},
        {4, 1, true, 260, {261, 262}, {button(0, 272, '1'), text(1, 269), button(2, 271, '3')}},
        {5,
         0,
         true,
         280,
         {281, 282},
         {popup(0, 283, 284, 2, '1'), button(1, 286, '2'), slider(2, 287, 25, 400, '3'),
          slider(3, 288, 25, 400, '4')}},
        {5, 1, true, 280, {281, 282}, {button(0, 292, '1'), text(1, 289), button(2, 291, '3')}},
        {6,
         0,
         false,
         300,
         {301, 302},
         {popup(0, 303, 304, 5, '1'), slider(1, 309, 0, 100, '2', 997), button(2, 310, '3')}},
        {6,
         1,
         false,
         300,
         {301, 302},
         {colour(0, 311, '1'), colour(1, 312, '2'), colour(2, 313, '3')}},
        {7,
         0,
         false,
         350,
         {351, 352},
         {popup(0, 353, 354, 5, '1'), slider(1, 359, 0, 100, '2', 997), button(2, 360, '3')}},
        {7,
         1,
         false,
         350,
         {351, 352},
         {colour(0, 361, '1'), colour(1, 362, '2'), colour(2, 363, '3')}},
        {8,
         0,
         true,
         400,
         {401, 402, 403},
         {popup(0, 404, 405, 6, '1'), button(1, 411, '2'), slider(2, 412, 25, 400, '3'),
          slider(3, 413, 25, 400, '4')}},
        {8,
         1,
         true,
         400,
         {401, 402, 403},
         {slider(0, 414, 0, 255, '1'), slider(1, 415, 0, 255, '2'), slider(2, 416, 0, 255, '3'),
          check(3, 417, '4')}},
        {8, 2, true, 400, {401, 402, 403}, {button(0, 421, 0), text(1, 418), button(2, 420, '3')}},
        {9,
         0,
         true,
         430,
         {431, 432, 433},
         {popup(0, 434, 435, 6, '1'), button(1, 441, '2'), slider(2, 442, 25, 400, '3'),
          slider(3, 443, 25, 400, '4')}},
        {9,
         1,
         true,
         430,
         {431, 432, 433},
         {slider(0, 444, 0, 255, '1'), slider(1, 445, 0, 255, '2'), slider(2, 446, 0, 255, '3'),
          check(3, 447, '4')}},
        {9, 2, true, 430, {431, 432, 433}, {button(0, 451, 0), text(1, 448), button(2, 450, '3')}},
    };
    return kPages;
}

class DialogPages : public DialogTest {
  protected:
    // The gadgets of a panel in creation order.
    std::vector<const Element *> panelGadgets(int32_t x, int32_t y, int32_t width, int32_t height) {
        const Element *panel = host.livePanel(x, y, width, height);
        EXPECT_NE(panel, nullptr);
        return panel ? host.gadgetsIn(panel->id) : std::vector<const Element *>{};
    }
    std::vector<const Element *> header() { return panelGadgets(-28, 140, 388, 36); }
    std::vector<const Element *> body() { return panelGadgets(-28, 186, 388, 108); }

    void expectPage(const Page &expected) {
        SCOPED_TRACE("page " + std::to_string(expected.page) + " view " +
                     std::to_string(expected.view));
        const std::vector<const Element *> top = header();
        ASSERT_EQ(top.size(), expected.hasSwitch ? 2u : 1u);
        if (expected.hasSwitch) {
            EXPECT_EQ(top[0]->kind, K::CheckBox);
            EXPECT_EQ((std::vector<int32_t>{top[0]->x, top[0]->y, top[0]->width, top[0]->height}),
                      (std::vector<int32_t>{8, 8, 32, 20}));
            EXPECT_FALSE(top[0]->hasExtension);
        }
        const Element &title = *top.back();
        EXPECT_EQ(title.label, expected.header);
        if (expected.headerItems.empty()) {
            EXPECT_EQ(title.kind, K::BoxText);
            EXPECT_EQ((std::vector<int32_t>{title.x, title.y, title.width, title.height}),
                      (std::vector<int32_t>{36, 8, 136, 20}));
            EXPECT_EQ(title.state, 20u);
        } else {
            EXPECT_EQ(title.kind, K::Popup);
            EXPECT_EQ((std::vector<int32_t>{title.x, title.y, title.width, title.height}),
                      (std::vector<int32_t>{178, 8, 202, 20}));
            EXPECT_EQ(title.items, expected.headerItems);
            EXPECT_EQ(title.value, expected.view);
            EXPECT_EQ(title.key, '0');
        }

        const std::vector<const Element *> gadgets = body();
        ASSERT_EQ(gadgets.size(), expected.body.size());
        for (size_t i = 0; i < gadgets.size(); ++i) {
            const Element &gadget = *gadgets[i];
            const Gadget &want = expected.body[i];
            SCOPED_TRACE(want.label);
            EXPECT_EQ(gadget.kind, want.kind);
            EXPECT_EQ(gadget.label, want.label);
            EXPECT_EQ(gadget.y, 8 + 24 * want.row);
            EXPECT_EQ(gadget.height, 20);
            EXPECT_EQ(gadget.key, want.key);
            EXPECT_TRUE(gadget.enabled);
            switch (want.kind) {
            case K::Slider:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{178, 202}));
                EXPECT_EQ(gadget.minimum, want.minimum);
                EXPECT_EQ(gadget.maximum, want.maximum);
                EXPECT_EQ(gadget.valueText, want.valueText);
                EXPECT_EQ(gadget.state, 0x130000u);
                EXPECT_FALSE(gadget.hasExtension);
                break;
            case K::Popup:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{178, 202}));
                EXPECT_EQ(gadget.items, want.items);
                break;
            case K::CheckBox:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{178, 32}));
                EXPECT_TRUE(gadget.hasExtension);
                break;
            case K::PaletteButton:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{178, 66}));
                break;
            case K::TextGadget:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{178, 170}));
                EXPECT_TRUE(gadget.hasExtension);
                break;
            case K::TextButton:
                EXPECT_EQ((std::vector<int32_t>{gadget.x, gadget.width}),
                          (std::vector<int32_t>{8, 372}));
                break;
            default:
                ADD_FAILURE();
            }
        }
    }

    // The enabled state of the body's gadgets by label (text gadgets have none).
    std::map<int32_t, bool> enabledByLabel() {
        std::map<int32_t, bool> out;
        for (const Element *gadget : body())
            if (gadget->kind != K::TextGadget) out[gadget->label] = gadget->enabled;
        return out;
    }
};

void everythingEnabled(EffectSettings &s) {
    s.glowOn = s.shadowOn = s.map1On = s.map2On = s.texture1On = s.texture2On = 1;
    s.map1FromSource = s.map2FromSource = 1;
    s.texture1Type = s.texture2Type = 5;
    s.fill1Mode = s.fill2Mode = 4;
}

} // namespace

TEST_F(DialogPages, EveryPageAndViewShowsItsTable) {
    prepare(everythingEnabled);
    for (const Page &page : pages()) {
        host.gadgetEvent(host.pageButton(page.page));
        if (!page.headerItems.empty()) host.gadgetEvent(host.headerPopup(), page.view);
        host.then([this, &page] { expectPage(page); });
    }
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
    EXPECT_EQ(host.liveExtensions, 0);
}

TEST_F(DialogPages, GadgetsShowTheRecordsValues) {
    prepare([](EffectSettings &s) {
        everythingEnabled(s);
        s.currentPage = 0;
        s.bevelWidth = 13;
        s.bevelEdgeSlope = -1; // the default: shown as it is
        s.invertShape = 1;
        s.fill2Shininess = 25;
        s.fill2Mode = 2;
        s.map1ScaleX = 350;
        s.texture1Depth = 200;
        s.texture2View = 2;
        s.texture2OffsetX = -5;
        s.texture2OffsetY = 123456;
        s.offsetX = 7;
        s.shadowColour = 0x11223344u;
    });
    auto value = [this](int32_t label) {
        const Element *gadget = host.gadget(label);
        return gadget ? gadget->value : -9999;
    };
    host.then([&] {
        EXPECT_EQ(value(203), 13);
        EXPECT_EQ(value(206), 1);
    });
    host.gadgetEvent(host.headerPopup(), 1);
    host.then([&] { EXPECT_EQ(value(210), -1); });
    host.gadgetEvent(host.pageButton(7));
    host.then([&] {
        EXPECT_EQ(value(359), 75); // 100 - 25
        EXPECT_EQ(value(353), 2);
    });
    host.gadgetEvent(host.pageButton(4));
    host.then([&] { EXPECT_EQ(value(267), 350); });
    host.gadgetEvent(host.pageButton(8));
    host.gadgetEvent(host.headerPopup(), 1);
    host.then([&] { EXPECT_EQ(value(414), 200); });
    host.gadgetEvent(host.pageButton(9));
    host.then([&] {
        ASSERT_NE(host.gadget(448), nullptr);
        EXPECT_EQ(host.gadget(448)->text, u"-5, 123456");
    });
    host.gadgetEvent(host.pageButton(1));
    host.then([&] { EXPECT_EQ(host.gadget(252)->text, u"7, -18"); });
    host.gadgetEvent(host.pageButton(3));
    host.then([&] { EXPECT_EQ(host.gadget(244)->colour, 0x11223344u); });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogPages, SwitchedOffPagesShowTheirGadgetsDisabled) {
    prepare([](EffectSettings &s) {
        s.glowOn = 0;
        s.shadowOn = 0;
        s.map1On = 0;
        s.texture1On = 2; // the texture switches count as on only at 1
        s.map2On = 1;
        s.map2FromSource = 0;
        s.texture2On = 1;
        s.texture2Type = 3;
    });
    host.gadgetEvent(host.pageButton(2));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{
                                        {220, false}, {221, false}, {222, false}, {223, false}}));
    });
    host.gadgetEvent(host.headerPopup(), 1);
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{{226, false}, {227, false}}));
    });
    host.gadgetEvent(host.pageButton(3));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{
                                        {241, false}, {242, false}, {243, false}, {244, false}}));
    });
    host.gadgetEvent(host.pageButton(4));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{
                                        {263, false}, {266, false}, {267, false}, {268, false}}));
    });
    host.gadgetEvent(host.pageButton(5)); // on, but the picture is the current frame
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{283, true}, {286, false}, {287, true}, {288, true}}));
    });
    host.gadgetEvent(host.pageButton(8));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{
                                        {404, false}, {411, false}, {412, false}, {413, false}}));
    });
    host.gadgetEvent(host.headerPopup(), 2);
    host.then([this] {
        EXPECT_EQ(enabledByLabel(), (std::map<int32_t, bool>{{420, false}, {421, false}}));
    });
    host.gadgetEvent(host.pageButton(9)); // on, a pattern rather than a picture
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{434, true}, {441, false}, {442, true}, {443, true}}));
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogPages, GlowSoftnessAndFillGadgetsFollowTheirConditions) {
    prepare([](EffectSettings &s) {
        s.glowOn = 2; // the glow switch counts as off only at 0
        s.glowBlurred = 1;
        s.fill1Mode = 0;
        s.fill2Mode = 3;
    });
    host.gadgetEvent(host.pageButton(2));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{220, true}, {221, true}, {222, false}, {223, true}}));
    });
    host.gadgetEvent(host.pageButton(6));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{303, true}, {309, false}, {310, false}}));
    });
    host.gadgetEvent(host.headerPopup(), 1);
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{311, true}, {312, false}, {313, true}}));
    });
    host.gadgetEvent(host.pageButton(7));
    host.then([this] {
        EXPECT_EQ(enabledByLabel(),
                  (std::map<int32_t, bool>{{353, true}, {359, true}, {360, false}}));
    });
    host.closeMessage();
    runDialog();
}

TEST_F(DialogPages, AViewBeyondThePagesViewsShowsAnEmptyBody) {
    prepare([](EffectSettings &s) {
        s.currentPage = 8;
        s.texture1View = 7;
    });
    const std::vector<uint8_t> before = record();
    host.then([this] {
        EXPECT_TRUE(body().empty());
        ASSERT_EQ(header().size(), 2u);
        EXPECT_EQ(header()[1]->value, 7);
    });
    host.closeMessage();
    runDialog();
    std::vector<uint8_t> expected = before;
    put16(expected, 822, kClipFrames);
    EXPECT_EQ(settingsFile(), expected);
}

TEST_F(DialogPages, APageNumberBeyondTheTenPagesShowsPageZero) {
    prepare([](EffectSettings &s) { s.currentPage = 42; });
    host.then([this] {
        EXPECT_EQ(header().back()->label, 200);
        EXPECT_EQ(host.gadget(203) != nullptr, true);
        for (const Element *button : host.live(ElementKind::ImageButton)) {
            if (button->image == 101) {
                EXPECT_EQ(button->state, 0x20001u);
            }
        }
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(settingsFile()[1], 42);
}
