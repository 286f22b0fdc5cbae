// The ten pages of the dialog.
#include "dialog/PageTables.h"

#include "dialog/DialogState.h"
#include "driver/PreviewRender.h"
#include "driver/SourceImages.h"
#include "operator/Settings.h"

#include <cstring>
#include <type_traits>

namespace lustra {

#define FIELD(name)                                                                                \
    FieldRef {                                                                                     \
        static_cast<uint16_t>(offsetof(EffectSettings, name)),                                     \
            static_cast<uint8_t>(sizeof(EffectSettings::name)),                                    \
            static_cast<uint8_t>(                                                                  \
                std::is_signed<std::remove_extent_t<decltype(EffectSettings::name)>>::value)       \
    }

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

constexpr GadgetEntry slider(uint8_t row, int32_t label, FieldRef field, int32_t minimum,
                             int32_t maximum, int32_t key, DisabledWhen disabled, int8_t step,
                             int32_t valueText = kStringValue, Role role = Role::Value) {
    return GadgetEntry{
        GadgetKind::Slider, row,       label, role,     field, {},    minimum, maximum, 0, 0, key,
        disabled,           valueText, step,  kNoLayer, false, {0, 0}};
}

constexpr GadgetEntry checkBox(uint8_t row, int32_t label, FieldRef field, int32_t key,
                               DisabledWhen disabled, int8_t step, int32_t refresh = 0,
                               bool needsSetup = false) {
    return GadgetEntry{GadgetKind::CheckBox,
                       row,
                       label,
                       Role::Value,
                       field,
                       {},
                       0,
                       1,
                       0,
                       0,
                       key,
                       disabled,
                       0,
                       step,
                       kNoLayer,
                       needsSetup,
                       {refresh, 0}};
}

constexpr GadgetEntry popup(uint8_t row, int32_t label, int32_t firstItem, int32_t itemCount,
                            FieldRef field, int32_t key, DisabledWhen disabled, int8_t step,
                            int8_t reload, int32_t refresh0, int32_t refresh1 = 0) {
    return GadgetEntry{
        GadgetKind::Popup,   row,       label, Role::Value, field, {},   0,      itemCount - 1,
        firstItem,           itemCount, key,   disabled,    0,     step, reload, false,
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

constexpr GadgetEntry colour(uint8_t row, int32_t label, FieldRef field, int32_t key,
                             DisabledWhen disabled, int8_t step) {
    return GadgetEntry{
        GadgetKind::Colour, row, label, Role::PickColour, field, {},    0, 0, 0, 0, key,
        disabled,           0,   step,  kNoLayer,         false, {0, 0}};
}

constexpr FieldRef kNoField{};

// Page 0: bevel.
const GadgetEntry kBevelShape[] = {
    slider(0, 203, FIELD(bevelWidth), 0, 30, '1', kNever, kStepBevel),
    slider(1, 204, FIELD(bevelDepth), 0, 100, '2', kNever, kStepBevel),
    slider(2, 205, FIELD(bevelSmoothing), 0, 30, '3', kNever, kStepBevel),
    checkBox(3, 206, FIELD(invertShape), '4', kNever, kStepAll, 0, true),
};
const GadgetEntry kBevelEdge[] = {
    slider(0, 210, FIELD(bevelEdgeSlope), 0, 10, '1', kNever, kStepBevel),
    slider(1, 211, FIELD(bevelInnerSlope), 0, 10, '2', kNever, kStepBevel),
    checkBox(2, 207, FIELD(bevelSunken), '3', kNever, kStepBevel),
};

// Page 1: light.
const GadgetEntry kLight[] = {
    slider(0, 251, FIELD(fillZoom), 0, 255, '1', kNever, kStepShading),
    button(1, 255, Role::LightDrag, FIELD(offsetX), FIELD(offsetY), '2', kNever, kStepShading),
    positionText(2, 252, FIELD(offsetX), FIELD(offsetY)),
    button(3, 254, Role::PositionReset, FIELD(offsetX), FIELD(offsetY), '4', kNever, kStepShading),
};

// Page 2: glow.
const GadgetEntry kGlowShape[] = {
    slider(0, 220, FIELD(glowWidth), 0, 30, '1', kBySwitch, kStepGlow),
    slider(1, 221, FIELD(glowOpacity), 0, 100, '2', kBySwitch, kStepGlow),
    slider(2, 222, FIELD(glowSoftness), 0, 100, '3',
           switchOr(Test::NotEqual, FIELD(glowBlurred), 0), kStepGlow),
    checkBox(3, 223, FIELD(glowBlurred), '4', kBySwitch, kStepGlow, 222),
};
const GadgetEntry kGlowColours[] = {
    colour(0, 226, FIELD(glowColour1), '1', kBySwitch, kStepGlow),
    colour(1, 227, FIELD(glowColour2), '2', kBySwitch, kStepGlow),
};

// Page 3: shadow.
const GadgetEntry kShadow[] = {
    slider(0, 242, FIELD(shadowOpacity), 0, 100, '1', kBySwitch, kStepShadow),
    slider(1, 241, FIELD(shadowSoftness), 0, 30, '2', kBySwitch, kStepShadow),
    slider(2, 243, FIELD(shadowDistance), 0, 100, '3', kBySwitch, kStepShadow),
    colour(3, 244, FIELD(shadowColour), '4', kBySwitch, kStepShadow),
};

// Pages 4 and 5: image maps.
const GadgetEntry kMap1Picture[] = {
    popup(0, 263, 264, 2, FIELD(map1FromSource), '1', kBySwitch, kStepMap1, kLayerMap1, 266),
    button(1, 266, Role::PickSource, FIELD(map1Source), kNoField, '2',
           switchOr(Test::Equal, FIELD(map1FromSource), 0), kStepMap1, kLayerMap1),
    slider(2, 267, FIELD(map1ScaleX), 25, 400, '3', kBySwitch, kStepMap1),
    slider(3, 268, FIELD(map1ScaleY), 25, 400, '4', kBySwitch, kStepMap1),
};
const GadgetEntry kMap1Position[] = {
    button(0, 272, Role::PositionDrag, FIELD(map1OffsetX), FIELD(map1OffsetY), '1', kBySwitch,
           kNoStep),
    positionText(1, 269, FIELD(map1OffsetX), FIELD(map1OffsetY)),
    button(2, 271, Role::PositionReset, FIELD(map1OffsetX), FIELD(map1OffsetY), '3', kBySwitch,
           kStepMap1),
};
const GadgetEntry kMap2Picture[] = {
    popup(0, 283, 284, 2, FIELD(map2FromSource), '1', kBySwitch, kStepMap2, kLayerMap2, 286),
    button(1, 286, Role::PickSource, FIELD(map2Source), kNoField, '2',
           switchOr(Test::Equal, FIELD(map2FromSource), 0), kStepMap2, kLayerMap2),
    slider(2, 287, FIELD(map2ScaleX), 25, 400, '3', kBySwitch, kStepMap2),
    slider(3, 288, FIELD(map2ScaleY), 25, 400, '4', kBySwitch, kStepMap2),
};
const GadgetEntry kMap2Position[] = {
    button(0, 292, Role::PositionDrag, FIELD(map2OffsetX), FIELD(map2OffsetY), '1', kBySwitch,
           kNoStep),
    positionText(1, 289, FIELD(map2OffsetX), FIELD(map2OffsetY)),
    button(2, 291, Role::PositionReset, FIELD(map2OffsetX), FIELD(map2OffsetY), '3', kBySwitch,
           kStepMap2),
};

// Pages 6 and 7: fills.
const GadgetEntry kFill1Mode[] = {
    popup(0, 303, 304, 5, FIELD(fill1Mode), '1', kNever, kStepShading, kLayerFill1, 310, 309),
    slider(1, 309, FIELD(fill1Shininess), 0, 100, '2', when(Test::Equal, FIELD(fill1Mode), 0),
           kStepShading, kStringPercentValue, Role::InvertedPercent),
    button(2, 310, Role::PickSource, FIELD(fill1Source), kNoField, '3',
           when(Test::NotEqual, FIELD(fill1Mode), 4), kStepShading, kLayerFill1),
};
const GadgetEntry kFill1Colours[] = {
    colour(0, 311, FIELD(fill1ColourA), '1', kNever, kStepShading),
    colour(1, 312, FIELD(fill1ColourB), '2', when(Test::Equal, FIELD(fill1Mode), 0), kStepShading),
    colour(2, 313, FIELD(fill1ColourC), '3', kNever, kStepShading),
};
const GadgetEntry kFill2Mode[] = {
    popup(0, 353, 354, 5, FIELD(fill2Mode), '1', kNever, kStepShading, kLayerFill2, 360, 359),
    slider(1, 359, FIELD(fill2Shininess), 0, 100, '2', when(Test::Equal, FIELD(fill2Mode), 0),
           kStepShading, kStringPercentValue, Role::InvertedPercent),
    button(2, 360, Role::PickSource, FIELD(fill2Source), kNoField, '3',
           when(Test::NotEqual, FIELD(fill2Mode), 4), kStepShading, kLayerFill2),
};
const GadgetEntry kFill2Colours[] = {
    colour(0, 361, FIELD(fill2ColourA), '1', kNever, kStepShading),
    colour(1, 362, FIELD(fill2ColourB), '2', when(Test::Equal, FIELD(fill2Mode), 0), kStepShading),
    colour(2, 363, FIELD(fill2ColourC), '3', kNever, kStepShading),
};

// Pages 8 and 9: surface textures.
const GadgetEntry kTexture1Source[] = {
    popup(0, 404, 405, 6, FIELD(texture1Type), '1', kBySwitch, kStepTexture1, kLayerTexture1, 411),
    button(1, 411, Role::PickSource, FIELD(texture1Source), kNoField, '2',
           switchOr(Test::NotEqual, FIELD(texture1Type), 5), kStepTexture1, kLayerTexture1),
    slider(2, 412, FIELD(texture1ScaleX), 25, 400, '3', kBySwitch, kStepTexture1),
    slider(3, 413, FIELD(texture1ScaleY), 25, 400, '4', kBySwitch, kStepTexture1),
};
const GadgetEntry kTexture1Relief[] = {
    slider(0, 414, FIELD(texture1Depth), 0, 255, '1', kBySwitch, kStepTexture1),
    slider(1, 415, FIELD(texture1HeightMax), 0, 255, '2', kBySwitch, kStepTexture1),
    slider(2, 416, FIELD(texture1HeightMin), 0, 255, '3', kBySwitch, kStepTexture1),
    checkBox(3, 417, FIELD(texture1Invert), '4', kBySwitch, kStepTexture1),
};
const GadgetEntry kTexture1Position[] = {
    button(0, 421, Role::PositionDrag, FIELD(texture1OffsetX), FIELD(texture1OffsetY), 0, kBySwitch,
           kNoStep),
    positionText(1, 418, FIELD(texture1OffsetX), FIELD(texture1OffsetY)),
    button(2, 420, Role::PositionReset, FIELD(texture1OffsetX), FIELD(texture1OffsetY), '3',
           kBySwitch, kStepTexture1),
};
const GadgetEntry kTexture2Source[] = {
    popup(0, 434, 435, 6, FIELD(texture2Type), '1', kBySwitch, kStepTexture2, kLayerTexture2, 441),
    button(1, 441, Role::PickSource, FIELD(texture2Source), kNoField, '2',
           switchOr(Test::NotEqual, FIELD(texture2Type), 5), kStepTexture2, kLayerTexture2),
    slider(2, 442, FIELD(texture2ScaleX), 25, 400, '3', kBySwitch, kStepTexture2),
    slider(3, 443, FIELD(texture2ScaleY), 25, 400, '4', kBySwitch, kStepTexture2),
};
const GadgetEntry kTexture2Relief[] = {
    slider(0, 444, FIELD(texture2Depth), 0, 255, '1', kBySwitch, kStepTexture2),
    slider(1, 445, FIELD(texture2HeightMax), 0, 255, '2', kBySwitch, kStepTexture2),
    slider(2, 446, FIELD(texture2HeightMin), 0, 255, '3', kBySwitch, kStepTexture2),
    checkBox(3, 447, FIELD(texture2Invert), '4', kBySwitch, kStepTexture2),
};
const GadgetEntry kTexture2Position[] = {
    button(0, 451, Role::PositionDrag, FIELD(texture2OffsetX), FIELD(texture2OffsetY), 0, kBySwitch,
           kNoStep),
    positionText(1, 448, FIELD(texture2OffsetX), FIELD(texture2OffsetY)),
    button(2, 450, Role::PositionReset, FIELD(texture2OffsetX), FIELD(texture2OffsetY), '3',
           kBySwitch, kStepTexture2),
};

template <size_t N> constexpr PageView view(const GadgetEntry (&gadgets)[N]) {
    return PageView{gadgets, static_cast<int32_t>(N)};
}

} // namespace

const PageEntry kPages[10] = {
    {kNoField,
     false,
     true,
     200,
     201,
     2,
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
     2,
     FIELD(glowView),
     kStepGlow,
     kStepGlow,
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
     kStepShadow,
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
     2,
     FIELD(map1View),
     kStepMap1,
     kStepMap1,
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
     2,
     FIELD(map2View),
     kStepMap2,
     kStepMap2,
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
     2,
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
     2,
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
     3,
     FIELD(texture1View),
     kStepTexture1,
     kStepAll,
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
     3,
     FIELD(texture2View),
     kStepTexture2,
     kStepAll,
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
