// The ten pages of the dialog.
#include "dialog/PageTables.h"

#include "dialog/DialogState.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "operator/Settings.h"

#include <cstring>

namespace lustra {

namespace {

using lustrafex::FieldType;
using lustrafex::SettingsField;

// The dialog's preview steps are the table's.
static_assert(int(lustrafex::PreviewStep::None) == kNoStep &&
                  int(lustrafex::PreviewStep::All) == kStepAll &&
                  int(lustrafex::PreviewStep::Bevel) == kStepBevel &&
                  int(lustrafex::PreviewStep::Glow) == kStepGlow &&
                  int(lustrafex::PreviewStep::Shadow) == kStepShadow &&
                  int(lustrafex::PreviewStep::Texture1) == kStepTexture1 &&
                  int(lustrafex::PreviewStep::Texture2) == kStepTexture2 &&
                  int(lustrafex::PreviewStep::Map1) == kStepMap1 &&
                  int(lustrafex::PreviewStep::Map2) == kStepMap2 &&
                  int(lustrafex::PreviewStep::Shading) == kStepShading,
              "preview steps");

constexpr FieldRef fieldRef(const SettingsField &field) {
    const bool isSigned = field.type == FieldType::I8 || field.type == FieldType::I16 ||
                          field.type == FieldType::I32 || field.type == FieldType::Percent;
    return FieldRef{field.offset, static_cast<uint8_t>(field.size), static_cast<uint8_t>(isSigned)};
}

constexpr int8_t stepOf(const SettingsField &field) {
    return static_cast<int8_t>(field.step);
}

// A popup offers one item per value of the field's range.
constexpr int32_t itemsOf(const SettingsField &field) {
    return static_cast<int32_t>(field.maximum - field.minimum + 1);
}

} // namespace

// The row of the table of settings fields, and its place in the record.
#define ROW(name) lustrafex::settingsField(#name)
#define FIELD(name) fieldRef(ROW(name))

uint8_t *fieldAddress(FieldRef field) {
    return reinterpret_cast<uint8_t *>(&settings) + field.offset;
}

int32_t readField(FieldRef field) {
    const uint8_t *at = fieldAddress(field);
    switch (field.size) {
    case 1:
        return field.isSigned ? int32_t(int8_t(at[0])) : int32_t(at[0]);
    case 2: {
        uint16_t value;
        std::memcpy(&value, at, 2);
        return field.isSigned ? int32_t(int16_t(value)) : int32_t(value);
    }
    case 4: {
        int32_t value;
        std::memcpy(&value, at, 4);
        return value;
    }
    default:
        return 0;
    }
}

void writeField(FieldRef field, int32_t value) {
    uint8_t *at = fieldAddress(field);
    switch (field.size) {
    case 1:
        at[0] = static_cast<uint8_t>(value);
        break;
    case 2: {
        const uint16_t narrow = static_cast<uint16_t>(value);
        std::memcpy(at, &narrow, 2);
        break;
    }
    case 4:
        std::memcpy(at, &value, 4);
        break;
    default:
        break;
    }
}

namespace {

constexpr DisabledWhen kNever{};
constexpr DisabledWhen kBySwitch{true, Test::None, {}, 0};

constexpr DisabledWhen switchOr(Test test, FieldRef condition, int32_t value) {
    return DisabledWhen{true, test, condition, value};
}

constexpr DisabledWhen when(Test test, FieldRef condition, int32_t value) {
    return DisabledWhen{false, test, condition, value};
}

// A slider over the field's dialog range (for an inverted percentage, the
// range of 100 - field), with the field's preview step.
constexpr GadgetEntry slider(uint8_t row, int32_t label, const SettingsField &field, int32_t key,
                             DisabledWhen disabled, int32_t valueText = kStringValue,
                             Role role = Role::Value) {
    const bool inverted = role == Role::InvertedPercent;
    const int32_t minimum = static_cast<int32_t>(inverted ? 100 - field.maximum : field.minimum);
    const int32_t maximum = static_cast<int32_t>(inverted ? 100 - field.minimum : field.maximum);
    return GadgetEntry{GadgetKind::Slider,
                       row,
                       label,
                       role,
                       fieldRef(field),
                       {},
                       minimum,
                       maximum,
                       0,
                       0,
                       key,
                       disabled,
                       valueText,
                       stepOf(field),
                       kNoLayer,
                       false,
                       {0, 0}};
}

constexpr GadgetEntry checkBox(uint8_t row, int32_t label, const SettingsField &field, int32_t key,
                               DisabledWhen disabled, int32_t refresh = 0,
                               bool needsSetup = false) {
    return GadgetEntry{GadgetKind::CheckBox,
                       row,
                       label,
                       Role::Value,
                       fieldRef(field),
                       {},
                       static_cast<int32_t>(field.minimum),
                       static_cast<int32_t>(field.maximum),
                       0,
                       0,
                       key,
                       disabled,
                       0,
                       stepOf(field),
                       kNoLayer,
                       needsSetup,
                       {refresh, 0}};
}

// A popup with an item per value of the field, from `firstItem` on.
constexpr GadgetEntry popup(uint8_t row, int32_t label, int32_t firstItem,
                            const SettingsField &field, int32_t key, DisabledWhen disabled,
                            int8_t reload, int32_t refresh0, int32_t refresh1 = 0) {
    return GadgetEntry{GadgetKind::Popup,
                       row,
                       label,
                       Role::Value,
                       fieldRef(field),
                       {},
                       0,
                       itemsOf(field) - 1,
                       firstItem,
                       itemsOf(field),
                       key,
                       disabled,
                       0,
                       stepOf(field),
                       reload,
                       false,
                       {refresh0, refresh1}};
}

constexpr GadgetEntry button(uint8_t row, int32_t label, Role role, FieldRef field, FieldRef fieldY,
                             int32_t key, DisabledWhen disabled, int8_t step,
                             int8_t reload = kNoLayer) {
    return GadgetEntry{GadgetKind::TextButton,
                       row,
                       label,
                       role,
                       field,
                       fieldY,
                       0,
                       0,
                       0,
                       0,
                       key,
                       disabled,
                       0,
                       step,
                       reload,
                       false,
                       {0, 0}};
}

// A button that sets the field (a picture source) or, with `y`, a position
// pair; the preview then redoes the field's step.
constexpr GadgetEntry button(uint8_t row, int32_t label, Role role, const SettingsField &field,
                             FieldRef fieldY, int32_t key, DisabledWhen disabled,
                             int8_t reload = kNoLayer) {
    return button(row, label, role, fieldRef(field), fieldY, key, disabled, stepOf(field), reload);
}

constexpr GadgetEntry positionText(uint8_t row, int32_t label, FieldRef x, FieldRef y) {
    return GadgetEntry{GadgetKind::TextGadget,
                       row,
                       label,
                       Role::PositionText,
                       x,
                       y,
                       0,
                       0,
                       0,
                       0,
                       0,
                       kNever,
                       0,
                       kNoStep,
                       kNoLayer,
                       false,
                       {0, 0}};
}

constexpr GadgetEntry colour(uint8_t row, int32_t label, const SettingsField &field, int32_t key,
                             DisabledWhen disabled) {
    return GadgetEntry{GadgetKind::Colour,
                       row,
                       label,
                       Role::PickColour,
                       fieldRef(field),
                       {},
                       0,
                       0,
                       0,
                       0,
                       key,
                       disabled,
                       0,
                       stepOf(field),
                       kNoLayer,
                       false,
                       {0, 0}};
}

constexpr FieldRef kNoField{};

// Ranges, item counts and preview steps are the table's (ROW); the drag
// start buttons redo no step of their own: the drag does.

// Page 0: bevel.
constexpr GadgetEntry kBevelShape[] = {
    slider(0, 203, ROW(bevelWidth), '1', kNever),
    slider(1, 204, ROW(bevelDepth), '2', kNever),
    slider(2, 205, ROW(bevelSmoothing), '3', kNever),
    checkBox(3, 206, ROW(invertShape), '4', kNever, 0, true),
};
constexpr GadgetEntry kBevelEdge[] = {
    slider(0, 210, ROW(bevelEdgeSlope), '1', kNever),
    slider(1, 211, ROW(bevelInnerSlope), '2', kNever),
    checkBox(2, 207, ROW(bevelSunken), '3', kNever),
};

// Page 1: light.
constexpr GadgetEntry kLight[] = {
    slider(0, 251, ROW(fillZoom), '1', kNever),
    button(1, 255, Role::LightDrag, ROW(offsetX), FIELD(offsetY), '2', kNever),
    positionText(2, 252, FIELD(offsetX), FIELD(offsetY)),
    button(3, 254, Role::PositionReset, ROW(offsetX), FIELD(offsetY), '4', kNever),
};

// Page 2: glow.
constexpr GadgetEntry kGlowShape[] = {
    slider(0, 220, ROW(glowWidth), '1', kBySwitch),
    slider(1, 221, ROW(glowOpacity), '2', kBySwitch),
    slider(2, 222, ROW(glowSoftness), '3', switchOr(Test::NotEqual, FIELD(glowBlurred), 0)),
    checkBox(3, 223, ROW(glowBlurred), '4', kBySwitch, 222),
};
constexpr GadgetEntry kGlowColours[] = {
    colour(0, 226, ROW(glowColour1), '1', kBySwitch),
    colour(1, 227, ROW(glowColour2), '2', kBySwitch),
};

// Page 3: shadow.
constexpr GadgetEntry kShadow[] = {
    slider(0, 242, ROW(shadowOpacity), '1', kBySwitch),
    slider(1, 241, ROW(shadowSoftness), '2', kBySwitch),
    slider(2, 243, ROW(shadowDistance), '3', kBySwitch),
    colour(3, 244, ROW(shadowColour), '4', kBySwitch),
};

// Pages 4 and 5: image maps.
constexpr GadgetEntry kMap1Picture[] = {
    popup(0, 263, 264, ROW(map1FromSource), '1', kBySwitch, kLayerMap1, 266),
    button(1, 266, Role::PickSource, ROW(map1Source), kNoField, '2',
           switchOr(Test::Equal, FIELD(map1FromSource), 0), kLayerMap1),
    slider(2, 267, ROW(map1ScaleX), '3', kBySwitch),
    slider(3, 268, ROW(map1ScaleY), '4', kBySwitch),
};
constexpr GadgetEntry kMap1Position[] = {
    button(0, 272, Role::PositionDrag, FIELD(map1OffsetX), FIELD(map1OffsetY), '1', kBySwitch,
           kNoStep),
    positionText(1, 269, FIELD(map1OffsetX), FIELD(map1OffsetY)),
    button(2, 271, Role::PositionReset, ROW(map1OffsetX), FIELD(map1OffsetY), '3', kBySwitch),
};
constexpr GadgetEntry kMap2Picture[] = {
    popup(0, 283, 284, ROW(map2FromSource), '1', kBySwitch, kLayerMap2, 286),
    button(1, 286, Role::PickSource, ROW(map2Source), kNoField, '2',
           switchOr(Test::Equal, FIELD(map2FromSource), 0), kLayerMap2),
    slider(2, 287, ROW(map2ScaleX), '3', kBySwitch),
    slider(3, 288, ROW(map2ScaleY), '4', kBySwitch),
};
constexpr GadgetEntry kMap2Position[] = {
    button(0, 292, Role::PositionDrag, FIELD(map2OffsetX), FIELD(map2OffsetY), '1', kBySwitch,
           kNoStep),
    positionText(1, 289, FIELD(map2OffsetX), FIELD(map2OffsetY)),
    button(2, 291, Role::PositionReset, ROW(map2OffsetX), FIELD(map2OffsetY), '3', kBySwitch),
};

// Pages 6 and 7: fills. The shininess slider shows 100 - the field.
constexpr GadgetEntry kFill1Mode[] = {
    popup(0, 303, 304, ROW(fill1Mode), '1', kNever, kLayerFill1, 310, 309),
    slider(1, 309, ROW(fill1Shininess), '2', when(Test::Equal, FIELD(fill1Mode), 0),
           kStringPercentValue, Role::InvertedPercent),
    button(2, 310, Role::PickSource, ROW(fill1Source), kNoField, '3',
           when(Test::NotEqual, FIELD(fill1Mode), 4), kLayerFill1),
};
constexpr GadgetEntry kFill1Colours[] = {
    colour(0, 311, ROW(fill1ColourA), '1', kNever),
    colour(1, 312, ROW(fill1ColourB), '2', when(Test::Equal, FIELD(fill1Mode), 0)),
    colour(2, 313, ROW(fill1ColourC), '3', kNever),
};
constexpr GadgetEntry kFill2Mode[] = {
    popup(0, 353, 354, ROW(fill2Mode), '1', kNever, kLayerFill2, 360, 359),
    slider(1, 359, ROW(fill2Shininess), '2', when(Test::Equal, FIELD(fill2Mode), 0),
           kStringPercentValue, Role::InvertedPercent),
    button(2, 360, Role::PickSource, ROW(fill2Source), kNoField, '3',
           when(Test::NotEqual, FIELD(fill2Mode), 4), kLayerFill2),
};
constexpr GadgetEntry kFill2Colours[] = {
    colour(0, 361, ROW(fill2ColourA), '1', kNever),
    colour(1, 362, ROW(fill2ColourB), '2', when(Test::Equal, FIELD(fill2Mode), 0)),
    colour(2, 363, ROW(fill2ColourC), '3', kNever),
};

// Pages 8 and 9: surface textures.
constexpr GadgetEntry kTexture1Source[] = {
    popup(0, 404, 405, ROW(texture1Type), '1', kBySwitch, kLayerTexture1, 411),
    button(1, 411, Role::PickSource, ROW(texture1Source), kNoField, '2',
           switchOr(Test::NotEqual, FIELD(texture1Type), 5), kLayerTexture1),
    slider(2, 412, ROW(texture1ScaleX), '3', kBySwitch),
    slider(3, 413, ROW(texture1ScaleY), '4', kBySwitch),
};
constexpr GadgetEntry kTexture1Relief[] = {
    slider(0, 414, ROW(texture1Depth), '1', kBySwitch),
    slider(1, 415, ROW(texture1HeightMax), '2', kBySwitch),
    slider(2, 416, ROW(texture1HeightMin), '3', kBySwitch),
    checkBox(3, 417, ROW(texture1Invert), '4', kBySwitch),
};
constexpr GadgetEntry kTexture1Position[] = {
    button(0, 421, Role::PositionDrag, FIELD(texture1OffsetX), FIELD(texture1OffsetY), 0, kBySwitch,
           kNoStep),
    positionText(1, 418, FIELD(texture1OffsetX), FIELD(texture1OffsetY)),
    button(2, 420, Role::PositionReset, ROW(texture1OffsetX), FIELD(texture1OffsetY), '3',
           kBySwitch),
};
constexpr GadgetEntry kTexture2Source[] = {
    popup(0, 434, 435, ROW(texture2Type), '1', kBySwitch, kLayerTexture2, 441),
    button(1, 441, Role::PickSource, ROW(texture2Source), kNoField, '2',
           switchOr(Test::NotEqual, FIELD(texture2Type), 5), kLayerTexture2),
    slider(2, 442, ROW(texture2ScaleX), '3', kBySwitch),
    slider(3, 443, ROW(texture2ScaleY), '4', kBySwitch),
};
constexpr GadgetEntry kTexture2Relief[] = {
    slider(0, 444, ROW(texture2Depth), '1', kBySwitch),
    slider(1, 445, ROW(texture2HeightMax), '2', kBySwitch),
    slider(2, 446, ROW(texture2HeightMin), '3', kBySwitch),
    checkBox(3, 447, ROW(texture2Invert), '4', kBySwitch),
};
constexpr GadgetEntry kTexture2Position[] = {
    button(0, 451, Role::PositionDrag, FIELD(texture2OffsetX), FIELD(texture2OffsetY), 0, kBySwitch,
           kNoStep),
    positionText(1, 448, FIELD(texture2OffsetX), FIELD(texture2OffsetY)),
    button(2, 450, Role::PositionReset, ROW(texture2OffsetX), FIELD(texture2OffsetY), '3',
           kBySwitch),
};

template <size_t N> constexpr PageView view(const GadgetEntry (&gadgets)[N]) {
    return PageView{gadgets, static_cast<int32_t>(N)};
}

} // namespace

// The header popup offers an item per value of the view field; the switch
// redoes its field's preview step.
constexpr PageEntry kPages[10] = {
    {kNoField,
     false,
     true,
     200,
     201,
     itemsOf(ROW(reliefView)),
     FIELD(reliefView),
     kStepBevel,
     kNoStep,
     kNoLayer,
     false,
     kNoField,
     kNoField,
     0,
     {view(kBevelShape), view(kBevelEdge), {}},
     2},
    {kNoField,
     false,
     false,
     250,
     0,
     0,
     kNoField,
     kStepShading,
     kNoStep,
     kNoLayer,
     false,
     FIELD(offsetX),
     FIELD(offsetY),
     252,
     {view(kLight), {}, {}},
     1},
    {FIELD(glowOn),
     false,
     true,
     228,
     229,
     itemsOf(ROW(glowView)),
     FIELD(glowView),
     kStepGlow,
     stepOf(ROW(glowOn)),
     kNoLayer,
     false,
     kNoField,
     kNoField,
     0,
     {view(kGlowShape), view(kGlowColours), {}},
     2},
    {FIELD(shadowOn),
     false,
     false,
     240,
     0,
     0,
     kNoField,
     kStepShadow,
     stepOf(ROW(shadowOn)),
     kNoLayer,
     false,
     kNoField,
     kNoField,
     0,
     {view(kShadow), {}, {}},
     1},
    {FIELD(map1On),
     false,
     true,
     260,
     261,
     itemsOf(ROW(map1View)),
     FIELD(map1View),
     kStepMap1,
     stepOf(ROW(map1On)),
     kLayerMap1,
     false,
     FIELD(map1OffsetX),
     FIELD(map1OffsetY),
     269,
     {view(kMap1Picture), view(kMap1Position), {}},
     2},
    {FIELD(map2On),
     false,
     true,
     280,
     281,
     itemsOf(ROW(map2View)),
     FIELD(map2View),
     kStepMap2,
     stepOf(ROW(map2On)),
     kLayerMap2,
     false,
     FIELD(map2OffsetX),
     FIELD(map2OffsetY),
     289,
     {view(kMap2Picture), view(kMap2Position), {}},
     2},
    {kNoField,
     false,
     true,
     300,
     301,
     itemsOf(ROW(fill1View)),
     FIELD(fill1View),
     kStepShading,
     kNoStep,
     kNoLayer,
     false,
     kNoField,
     kNoField,
     0,
     {view(kFill1Mode), view(kFill1Colours), {}},
     2},
    {kNoField,
     false,
     true,
     350,
     351,
     itemsOf(ROW(fill2View)),
     FIELD(fill2View),
     kStepShading,
     kNoStep,
     kNoLayer,
     false,
     kNoField,
     kNoField,
     0,
     {view(kFill2Mode), view(kFill2Colours), {}},
     2},
    {FIELD(texture1On),
     true,
     true,
     400,
     401,
     itemsOf(ROW(texture1View)),
     FIELD(texture1View),
     kStepTexture1,
     stepOf(ROW(texture1On)),
     kNoLayer,
     true,
     FIELD(texture1OffsetX),
     FIELD(texture1OffsetY),
     418,
     {view(kTexture1Source), view(kTexture1Relief), view(kTexture1Position)},
     3},
    {FIELD(texture2On),
     true,
     true,
     430,
     431,
     itemsOf(ROW(texture2View)),
     FIELD(texture2View),
     kStepTexture2,
     stepOf(ROW(texture2On)),
     kNoLayer,
     true,
     FIELD(texture2OffsetX),
     FIELD(texture2OffsetY),
     448,
     {view(kTexture2Source), view(kTexture2Relief), view(kTexture2Position)},
     3},
};

int32_t shownPage() {
    return settings.currentPage < 10 ? settings.currentPage : 0;
}

const PageView *currentView(int32_t page) {
    const PageEntry &entry = kPages[page];
    const int32_t view = entry.viewField.size ? readField(entry.viewField) : 0;
    switch (entry.viewCount) {
    case 1:
        return &entry.views[0];
    case 2:
        return &entry.views[view == 0 ? 0 : 1];
    default:
        return view >= 0 && view < entry.viewCount ? &entry.views[view] : nullptr;
    }
}

bool switchOn(const PageEntry &page) {
    if (page.switchField.size == 0) return true;
    const int32_t value = readField(page.switchField);
    return page.switchOnlyOne ? value == 1 : value != 0;
}

bool gadgetDisabled(const PageEntry &page, const GadgetEntry &gadget) {
    const DisabledWhen &rule = gadget.disabled;
    if (rule.bySwitch && !switchOn(page)) return true;
    switch (rule.test) {
    case Test::Equal:
        return readField(rule.condition) == rule.value;
    case Test::NotEqual:
        return readField(rule.condition) != rule.value;
    default:
        return false;
    }
}

} // namespace lustra
