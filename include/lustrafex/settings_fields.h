/*
 * LustraFex settings record and the table of its fields.
 *
 * Every setting of the effect lives in one fixed 824-byte little-endian
 * record, identical in the module's memory, in the per-instance settings
 * file and in preset files. This header is the one description of it that
 * the module and every host share: the record's layout, and one row per
 * field with its name (as hosts spell it in text and saved projects), its
 * place and type, its default, the range its dialog control offers, its unit,
 * the stage of the render that reads it and the preview step that a change
 * re-runs, and, for the fields the frei0r plug-ins offer as parameters of
 * their own, that parameter.
 *
 * The module writes its defaults and takes its dialog ranges and preview
 * steps from the table; the hosts take their field names, defaults, text
 * checks and frei0r parameters from it.
 *
 * To add a setting: give it a member in SettingsRecord (in a reserved byte or
 * at the end of the file layout), a row in kSettingsFields, and its
 * translation and stage in the module.
 *
 * C++17, header only; 64-bit Linux.
 */
#ifndef LUSTRAFEX_SETTINGS_FIELDS_H
#define LUSTRAFEX_SETTINGS_FIELDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace lustrafex {

constexpr size_t kSettingsRecordSize = 824;
constexpr size_t kSettingsSourceSize = 112; // a picture source: 112 opaque bytes

#pragma pack(push, 1)
struct SettingsRecord {
    uint8_t dialogAtTop;                         // 0
    uint8_t currentPage;                         // 1
    uint8_t reliefView;                          // 2
    uint8_t glowView;                            // 3
    uint8_t reserved4;                           // 4
    uint8_t map1View;                            // 5
    uint8_t map2View;                            // 6
    uint8_t fill1View;                           // 7
    uint8_t fill2View;                           // 8
    uint8_t texture1View;                        // 9
    uint8_t texture2View;                        // 10
    uint8_t bevelWidth;                          // 11
    uint8_t bevelDepth;                          // 12
    uint8_t bevelSmoothing;                      // 13
    int8_t bevelEdgeSlope;                       // 14
    int8_t bevelInnerSlope;                      // 15
    uint8_t bevelSunken;                         // 16
    uint8_t invertShape;                         // 17
    uint8_t glowWidth;                           // 18
    uint8_t glowOpacity;                         // 19
    uint8_t glowSoftness;                        // 20
    uint8_t glowBlurred;                         // 21
    uint8_t glowOn;                              // 22
    uint8_t shadowSoftness;                      // 23
    uint8_t shadowOpacity;                       // 24
    uint8_t shadowDistance;                      // 25
    uint8_t shadowOn;                            // 26
    uint8_t fillZoom;                            // 27
    int32_t offsetX;                             // 28
    int32_t offsetY;                             // 32
    uint8_t map1Source[kSettingsSourceSize];     // 36
    int16_t map1ScaleX;                          // 148
    int16_t map1ScaleY;                          // 150
    int32_t map1OffsetX;                         // 152
    int32_t map1OffsetY;                         // 156
    uint8_t map1On;                              // 160
    uint8_t map1FromSource;                      // 161
    uint8_t map2Source[kSettingsSourceSize];     // 162
    int16_t map2ScaleX;                          // 274
    int16_t map2ScaleY;                          // 276
    uint8_t reserved278[2];                      // 278
    int32_t map2OffsetX;                         // 280
    int32_t map2OffsetY;                         // 284
    uint8_t map2On;                              // 288
    uint8_t map2FromSource;                      // 289
    uint8_t fill1Source[kSettingsSourceSize];    // 290
    uint8_t reserved402[2];                      // 402
    uint32_t fill1ColourA;                       // 404
    uint32_t fill1ColourB;                       // 408
    uint32_t fill1ColourC;                       // 412
    uint8_t fill1Shininess;                      // 416
    uint8_t fill1Mode;                           // 417
    uint8_t fill2Source[kSettingsSourceSize];    // 418
    uint8_t reserved530[2];                      // 530
    uint32_t fill2ColourA;                       // 532
    uint32_t fill2ColourB;                       // 536
    uint32_t fill2ColourC;                       // 540
    uint8_t fill2Shininess;                      // 544
    uint8_t fill2Mode;                           // 545
    uint8_t texture1Source[kSettingsSourceSize]; // 546
    int16_t texture1ScaleX;                      // 658
    int16_t texture1ScaleY;                      // 660
    uint8_t texture1Depth;                       // 662
    uint8_t texture1HeightMax;                   // 663
    uint8_t texture1HeightMin;                   // 664
    uint8_t texture1On;                          // 665
    uint8_t texture1Type;                        // 666
    uint8_t texture1Invert;                      // 667
    int32_t texture1OffsetX;                     // 668
    int32_t texture1OffsetY;                     // 672
    uint8_t texture2Source[kSettingsSourceSize]; // 676
    int16_t texture2ScaleX;                      // 788
    int16_t texture2ScaleY;                      // 790
    uint8_t texture2Depth;                       // 792
    uint8_t texture2HeightMax;                   // 793
    uint8_t texture2HeightMin;                   // 794
    uint8_t texture2On;                          // 795
    uint8_t texture2Type;                        // 796
    uint8_t texture2Invert;                      // 797
    uint8_t reserved798[2];                      // 798
    int32_t texture2OffsetX;                     // 800
    int32_t texture2OffsetY;                     // 804
    uint32_t glowColour1;                        // 808
    uint32_t glowColour2;                        // 812
    uint32_t shadowColour;                       // 816
    int16_t previewFrame;                        // 820
    int16_t previewFrameCount;                   // 822
};
#pragma pack(pop)

static_assert(sizeof(SettingsRecord) == kSettingsRecordSize, "the settings record is 824 bytes");

// How a field's bytes are read.
enum class FieldType : uint8_t {
    U8,      // unsigned byte
    I8,      // signed byte
    I16,     // little-endian int16
    I32,     // little-endian int32
    Percent, // int16 percentage, 100 = unchanged size
    Colour,  // YCbCr colour word: Y, Cb, Cr, alpha from the high byte down
    Source,  // 112-byte picture source
};

// The part of the render that reads a field.
enum class SettingsStage : uint8_t {
    Dialog,   // the dialog only; no render reads it
    Mask,     // the shape taken from input 1 (and so every stage)
    Bevel,    // the bevel stage
    Glow,     // the glow stage
    Shadow,   // the shadow stage
    Texture1, // surface texture 1
    Texture2, // surface texture 2
    Map1,     // image map 1
    Map2,     // image map 2
    Shading,  // the final shading and compositing
};

// The dialog's preview steps: what its preview re-runs after a change.
enum class PreviewStep : int8_t {
    None = -1,    // nothing (the field changes no picture)
    All = 0,      // every stage
    Bevel = 1,    // bevel (and surface texture 1 when on), final shading
    Glow = 2,     // glow, final shading
    Shadow = 3,   // shadow, final shading
    Texture1 = 4, // surface texture 1, final shading
    Texture2 = 5, // surface texture 2, final shading
    Map1 = 6,     // image map 1, final shading
    Map2 = 7,     // image map 2, final shading
    Shading = 8,  // final shading only
};

// The step that re-runs a stage.
constexpr PreviewStep stepOfStage(SettingsStage stage) {
    switch (stage) {
    case SettingsStage::Dialog:
        return PreviewStep::None;
    case SettingsStage::Mask:
        return PreviewStep::All;
    case SettingsStage::Bevel:
        return PreviewStep::Bevel;
    case SettingsStage::Glow:
        return PreviewStep::Glow;
    case SettingsStage::Shadow:
        return PreviewStep::Shadow;
    case SettingsStage::Texture1:
        return PreviewStep::Texture1;
    case SettingsStage::Texture2:
        return PreviewStep::Texture2;
    case SettingsStage::Map1:
        return PreviewStep::Map1;
    case SettingsStage::Map2:
        return PreviewStep::Map2;
    case SettingsStage::Shading:
        return PreviewStep::Shading;
    }
    return PreviewStep::None;
}

// A field that the frei0r plug-ins offer as a parameter of its own.
struct Frei0rParameter {
    uint8_t position = 0;        // 1, 2, ...: order among these parameters; 0: none
    const char *name = nullptr;  // null: the field's name
    const char *label = nullptr; // what it is, the start of its description
    bool ownRange = false;       // 0..1 maps onto minimum..maximum below, else
    int32_t minimum = 0;         // onto the field's range
    int32_t maximum = 0;
};

// The names of a field's values 0, 1, ... (null-terminated).
inline constexpr const char *kOffOn[] = {"off", "on", nullptr};
inline constexpr const char *kRaisedSunken[] = {"raised", "sunken", nullptr};
inline constexpr const char *kFrameSource[] = {"frame", "source", nullptr};
inline constexpr const char *kFillModes[] = {"plain", "light", "metal", "frame", "source", nullptr};
inline constexpr const char *kTextureTypes[] = {"normal", "fractal", "turbulence", "fracturb",
                                                "frame",  "source",  nullptr};

struct SettingsField {
    const char *name;
    uint16_t offset;
    uint16_t size;
    FieldType type;
    int64_t minimum;  // the range of the dialog's control, or the type's
    int64_t maximum;  // range when the dialog offers none for the field
    bool dialogRange; // minimum..maximum is the dialog's range
    bool hasDefault;  // false: the defaults leave the field alone
    int64_t defaultValue;
    const char *const *valueNames; // names of the values 0.., or null
    const char *meaning;
    const char *unit; // "" for none
    SettingsStage stage;
    PreviewStep step; // the preview step after a change
    Frei0rParameter frei0r;

    // The same row with another preview step than its stage's.
    constexpr SettingsField withStep(PreviewStep other) const {
        SettingsField row = *this;
        row.step = other;
        return row;
    }
    // The same row offered as a frei0r parameter.
    constexpr SettingsField asFrei0r(uint8_t position, const char *label) const {
        SettingsField row = *this;
        row.frei0r.position = position;
        row.frei0r.label = label;
        return row;
    }
    constexpr SettingsField asFrei0r(uint8_t position, const char *name, const char *label,
                                     int32_t minimum, int32_t maximum) const {
        SettingsField row = asFrei0r(position, label);
        row.frei0r.name = name;
        row.frei0r.ownRange = true;
        row.frei0r.minimum = minimum;
        row.frei0r.maximum = maximum;
        return row;
    }
};

namespace settings_rows {

// A member of the record: its name, place, width and signedness.
struct Member {
    const char *name;
    size_t offset;
    size_t size;
    bool isSigned;
};

#define LUSTRAFEX_MEMBER(member)                                                                   \
    ::lustrafex::settings_rows::Member {                                                           \
#member, offsetof(::lustrafex::SettingsRecord, member),                                    \
            sizeof(::lustrafex::SettingsRecord::member),                                           \
            std::is_signed < std::remove_extent_t <                                                \
                decltype(::lustrafex::SettingsRecord::member)>> ::value                            \
    }

// A row's type must be the member's: a mismatch stops the compilation here
// (a throw is no constant expression).
constexpr SettingsField row(Member m, FieldType type, size_t size, bool isSigned, int64_t lo,
                            int64_t hi, bool dialogRange, bool hasDefault, int64_t def,
                            const char *const *names, const char *meaning, const char *unit,
                            SettingsStage stage) {
    if (m.size != size || m.isSigned != isSigned) throw "the row's type is not the member's";
    return SettingsField{m.name,
                         uint16_t(m.offset),
                         uint16_t(m.size),
                         type,
                         lo,
                         hi,
                         dialogRange,
                         hasDefault,
                         def,
                         names,
                         meaning,
                         unit,
                         stage,
                         stepOfStage(stage),
                         Frei0rParameter{}};
}

constexpr int64_t kI32Min = -2147483648ll;
constexpr int64_t kI32Max = 2147483647ll;

// Unsigned byte with a dialog range.
constexpr SettingsField u8(Member m, int64_t lo, int64_t hi, int64_t def, SettingsStage stage,
                           const char *meaning, const char *unit = "",
                           const char *const *names = nullptr) {
    return row(m, FieldType::U8, 1, false, lo, hi, true, true, def, names, meaning, unit, stage);
}
// A byte switched on and off (0..1).
constexpr SettingsField flag(Member m, int64_t def, SettingsStage stage, const char *meaning,
                             const char *const *names = kOffOn) {
    return row(m, FieldType::U8, 1, false, 0, 1, true, true, def, names, meaning, "", stage);
}
// Signed byte with a dialog range.
constexpr SettingsField i8(Member m, int64_t lo, int64_t hi, int64_t def, SettingsStage stage,
                           const char *meaning) {
    return row(m, FieldType::I8, 1, true, lo, hi, true, true, def, nullptr, meaning, "", stage);
}
// Signed word without a dialog range (positions).
constexpr SettingsField i32(Member m, int64_t def, SettingsStage stage, const char *meaning,
                            const char *unit) {
    return row(m, FieldType::I32, 4, true, kI32Min, kI32Max, false, true, def, nullptr, meaning,
               unit, stage);
}
// A scale: 25..400 %, default 100.
constexpr SettingsField percent(Member m, SettingsStage stage, const char *meaning) {
    return row(m, FieldType::Percent, 2, true, 25, 400, true, true, 100, nullptr, meaning,
               "percent", stage);
}
constexpr SettingsField colour(Member m, uint32_t def, SettingsStage stage, const char *meaning) {
    return row(m, FieldType::Colour, 4, false, 0, 0xFFFFFFFFll, false, true, def, nullptr, meaning,
               "", stage);
}
// A picture source, all zero by default.
constexpr SettingsField source(Member m, SettingsStage stage, const char *meaning) {
    return row(m, FieldType::Source, kSettingsSourceSize, false, 0, 0, false, true, 0, nullptr,
               meaning, "", stage);
}
// An int16 of the dialog's own that the defaults leave alone.
constexpr SettingsField dialogOnly16(Member m, const char *meaning) {
    return row(m, FieldType::I16, 2, true, -32768, 32767, false, false, 0, nullptr, meaning, "",
               SettingsStage::Dialog);
}

} // namespace settings_rows

// Every field of the record in offset order (reserved bytes excluded).
// Names, offsets, types, defaults and ranges are those of the files that
// exist: they never change. The dialog ranges are also what `lustra
// settings set` accepts without --force.
inline constexpr SettingsField kSettingsFields[] = {
    // The dialog's own bytes.
    settings_rows::flag(LUSTRAFEX_MEMBER(dialogAtTop), 0, SettingsStage::Dialog,
                        "dialog at the top of the screen (1) or the bottom"),
    settings_rows::u8(LUSTRAFEX_MEMBER(currentPage), 0, 9, 0, SettingsStage::Dialog,
                      "dialog page shown"),
    settings_rows::u8(LUSTRAFEX_MEMBER(reliefView), 0, 1, 0, SettingsStage::Dialog,
                      "bevel page: control group shown"),
    settings_rows::u8(LUSTRAFEX_MEMBER(glowView), 0, 1, 0, SettingsStage::Dialog,
                      "glow page: sliders (0) or colours (1)"),
    settings_rows::u8(LUSTRAFEX_MEMBER(map1View), 0, 1, 0, SettingsStage::Dialog,
                      "image map 1 page: source and scale (0) or position"),
    settings_rows::u8(LUSTRAFEX_MEMBER(map2View), 0, 1, 0, SettingsStage::Dialog,
                      "image map 2 page: source and scale (0) or position"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill1View), 0, 1, 0, SettingsStage::Dialog,
                      "fill 1 page: mode (0) or colours (1)"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill2View), 0, 1, 0, SettingsStage::Dialog,
                      "fill 2 page: mode (0) or colours (1)"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture1View), 0, 2, 0, SettingsStage::Dialog,
                      "texture 1 page: type, levels or position"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture2View), 0, 2, 0, SettingsStage::Dialog,
                      "texture 2 page: type, levels or position"),
    // Bevel and shape.
    settings_rows::u8(LUSTRAFEX_MEMBER(bevelWidth), 0, 30, 8, SettingsStage::Bevel,
                      "bevel radius in pixels", "pixels")
        .asFrei0r(1, "bevel radius"),
    settings_rows::u8(LUSTRAFEX_MEMBER(bevelDepth), 0, 100, 100, SettingsStage::Bevel,
                      "bevel depth in percent", "percent")
        .asFrei0r(2, "bevel depth"),
    settings_rows::u8(LUSTRAFEX_MEMBER(bevelSmoothing), 0, 30, 7, SettingsStage::Bevel,
                      "bevel smoothing radius in pixels", "pixels")
        .asFrei0r(3, "bevel smoothing radius"),
    // The default lies outside the dialog range: `lustra settings set`
    // accepts it all the same.
    settings_rows::i8(LUSTRAFEX_MEMBER(bevelEdgeSlope), 0, 10, -1, SettingsStage::Bevel,
                      "slope of the bevel's outer edge"),
    settings_rows::i8(LUSTRAFEX_MEMBER(bevelInnerSlope), 0, 10, 0, SettingsStage::Bevel,
                      "slope of the bevel's inner part"),
    settings_rows::flag(LUSTRAFEX_MEMBER(bevelSunken), 0, SettingsStage::Bevel,
                        "sunken (1) or raised bevel", kRaisedSunken),
    settings_rows::flag(LUSTRAFEX_MEMBER(invertShape), 0, SettingsStage::Mask,
                        "invert the shape taken from the title"),
    // Glow.
    settings_rows::u8(LUSTRAFEX_MEMBER(glowWidth), 0, 30, 10, SettingsStage::Glow,
                      "glow radius in pixels", "pixels")
        .asFrei0r(7, "glow radius"),
    settings_rows::u8(LUSTRAFEX_MEMBER(glowOpacity), 0, 100, 100, SettingsStage::Glow,
                      "glow opacity in percent", "percent")
        .asFrei0r(8, "glow opacity"),
    settings_rows::u8(LUSTRAFEX_MEMBER(glowSoftness), 0, 100, 100, SettingsStage::Glow,
                      "glow softness in percent", "percent"),
    settings_rows::flag(LUSTRAFEX_MEMBER(glowBlurred), 0, SettingsStage::Glow,
                        "glow is a blurred copy of the shape"),
    settings_rows::flag(LUSTRAFEX_MEMBER(glowOn), 0, SettingsStage::Glow, "glow enabled")
        .asFrei0r(6, "outer glow on"),
    // Shadow.
    settings_rows::u8(LUSTRAFEX_MEMBER(shadowSoftness), 0, 30, 5, SettingsStage::Shadow,
                      "shadow blur radius in pixels", "pixels")
        .asFrei0r(11, "shadow blur radius"),
    settings_rows::u8(LUSTRAFEX_MEMBER(shadowOpacity), 0, 100, 100, SettingsStage::Shadow,
                      "shadow opacity in percent", "percent")
        .asFrei0r(10, "shadow opacity"),
    settings_rows::u8(LUSTRAFEX_MEMBER(shadowDistance), 0, 100, 30, SettingsStage::Shadow,
                      "shadow displacement in percent of the offset", "percent of the light offset")
        .asFrei0r(12, "shadow distance"),
    settings_rows::flag(LUSTRAFEX_MEMBER(shadowOn), 1, SettingsStage::Shadow, "shadow enabled")
        .asFrei0r(9, "drop shadow on"),
    // Light and fill textures.
    settings_rows::u8(LUSTRAFEX_MEMBER(fillZoom), 0, 255, 128, SettingsStage::Shading,
                      "zoom of the fill textures")
        .asFrei0r(13, "zoom of the fill textures"),
    settings_rows::i32(LUSTRAFEX_MEMBER(offsetX), -18, SettingsStage::Shading,
                       "horizontal light and fill-texture offset", "pixels")
        .asFrei0r(4, "lightX", "horizontal light and fill-texture offset", -200, 200),
    settings_rows::i32(LUSTRAFEX_MEMBER(offsetY), -18, SettingsStage::Shading,
                       "vertical light and fill-texture offset", "pixels")
        .asFrei0r(5, "lightY", "vertical light and fill-texture offset", -200, 200),
    // Image map 1.
    settings_rows::source(LUSTRAFEX_MEMBER(map1Source), SettingsStage::Map1,
                          "picture of image map 1"),
    settings_rows::percent(LUSTRAFEX_MEMBER(map1ScaleX), SettingsStage::Map1,
                           "horizontal scale of image map 1"),
    settings_rows::percent(LUSTRAFEX_MEMBER(map1ScaleY), SettingsStage::Map1,
                           "vertical scale of image map 1"),
    settings_rows::i32(LUSTRAFEX_MEMBER(map1OffsetX), 0, SettingsStage::Map1,
                       "horizontal position of image map 1", "pixels"),
    settings_rows::i32(LUSTRAFEX_MEMBER(map1OffsetY), 0, SettingsStage::Map1,
                       "vertical position of image map 1", "pixels"),
    settings_rows::flag(LUSTRAFEX_MEMBER(map1On), 0, SettingsStage::Map1, "image map 1 enabled"),
    settings_rows::flag(LUSTRAFEX_MEMBER(map1FromSource), 0, SettingsStage::Map1,
                        "image map 1 shows map1Source (1) or the background", kFrameSource),
    // Image map 2.
    settings_rows::source(LUSTRAFEX_MEMBER(map2Source), SettingsStage::Map2,
                          "picture of image map 2"),
    settings_rows::percent(LUSTRAFEX_MEMBER(map2ScaleX), SettingsStage::Map2,
                           "horizontal scale of image map 2"),
    settings_rows::percent(LUSTRAFEX_MEMBER(map2ScaleY), SettingsStage::Map2,
                           "vertical scale of image map 2"),
    settings_rows::i32(LUSTRAFEX_MEMBER(map2OffsetX), 0, SettingsStage::Map2,
                       "horizontal position of image map 2", "pixels"),
    settings_rows::i32(LUSTRAFEX_MEMBER(map2OffsetY), 0, SettingsStage::Map2,
                       "vertical position of image map 2", "pixels"),
    settings_rows::flag(LUSTRAFEX_MEMBER(map2On), 0, SettingsStage::Map2,
                        "image map 2 enabled (second layers)"),
    settings_rows::flag(LUSTRAFEX_MEMBER(map2FromSource), 0, SettingsStage::Map2,
                        "image map 2 shows map2Source (1) or the background", kFrameSource),
    // Fill 1.
    settings_rows::source(LUSTRAFEX_MEMBER(fill1Source), SettingsStage::Shading,
                          "picture of fill 1 (mode source)"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill1ColourA), 0x801092FFu, SettingsStage::Shading,
                          "first colour of fill 1"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill1ColourB), 0xEB8080FFu, SettingsStage::Shading,
                          "second colour of fill 1"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill1ColourC), 0x108080FFu, SettingsStage::Shading,
                          "third colour of fill 1"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill1Shininess), 0, 100, 0, SettingsStage::Shading,
                      "highlight of fill 1 (dialog shows 100 - value)", "percent"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill1Mode), 0, 4, 1, SettingsStage::Shading, "fill 1 mode",
                      "", kFillModes),
    // Fill 2.
    settings_rows::source(LUSTRAFEX_MEMBER(fill2Source), SettingsStage::Shading,
                          "picture of fill 2 (mode source)"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill2ColourA), 0x7A8080FFu, SettingsStage::Shading,
                          "first colour of fill 2"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill2ColourB), 0xEB8080FFu, SettingsStage::Shading,
                          "second colour of fill 2"),
    settings_rows::colour(LUSTRAFEX_MEMBER(fill2ColourC), 0x108080FFu, SettingsStage::Shading,
                          "third colour of fill 2"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill2Shininess), 0, 100, 25, SettingsStage::Shading,
                      "highlight of fill 2 (dialog shows 100 - value)", "percent"),
    settings_rows::u8(LUSTRAFEX_MEMBER(fill2Mode), 0, 4, 1, SettingsStage::Shading,
                      "fill 2 mode (second layers)", "", kFillModes),
    // Surface texture 1.
    settings_rows::source(LUSTRAFEX_MEMBER(texture1Source), SettingsStage::Texture1,
                          "picture of surface texture 1 (type source)"),
    settings_rows::percent(LUSTRAFEX_MEMBER(texture1ScaleX), SettingsStage::Texture1,
                           "horizontal scale of surface texture 1"),
    settings_rows::percent(LUSTRAFEX_MEMBER(texture1ScaleY), SettingsStage::Texture1,
                           "vertical scale of surface texture 1"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture1Depth), 0, 255, 255, SettingsStage::Texture1,
                      "bump depth of surface texture 1"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture1HeightMax), 0, 255, 255, SettingsStage::Texture1,
                      "highest texel height used"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture1HeightMin), 0, 255, 0, SettingsStage::Texture1,
                      "lowest texel height used"),
    // The dialog's switch of a texture builds the mask again and renders
    // every stage.
    settings_rows::flag(LUSTRAFEX_MEMBER(texture1On), 0, SettingsStage::Texture1,
                        "surface texture 1 enabled")
        .withStep(PreviewStep::All),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture1Type), 0, 5, 0, SettingsStage::Texture1,
                      "surface texture 1 type", "", kTextureTypes),
    settings_rows::flag(LUSTRAFEX_MEMBER(texture1Invert), 0, SettingsStage::Texture1,
                        "surface texture 1 inverted"),
    settings_rows::i32(LUSTRAFEX_MEMBER(texture1OffsetX), 0, SettingsStage::Texture1,
                       "horizontal position of surface texture 1", "pixels"),
    settings_rows::i32(LUSTRAFEX_MEMBER(texture1OffsetY), 0, SettingsStage::Texture1,
                       "vertical position of surface texture 1", "pixels"),
    // Surface texture 2.
    settings_rows::source(LUSTRAFEX_MEMBER(texture2Source), SettingsStage::Texture2,
                          "picture of surface texture 2 (type source)"),
    settings_rows::percent(LUSTRAFEX_MEMBER(texture2ScaleX), SettingsStage::Texture2,
                           "horizontal scale of surface texture 2"),
    settings_rows::percent(LUSTRAFEX_MEMBER(texture2ScaleY), SettingsStage::Texture2,
                           "vertical scale of surface texture 2"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture2Depth), 0, 255, 255, SettingsStage::Texture2,
                      "bump depth of surface texture 2"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture2HeightMax), 0, 255, 255, SettingsStage::Texture2,
                      "highest texel height used"),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture2HeightMin), 0, 255, 0, SettingsStage::Texture2,
                      "lowest texel height used"),
    settings_rows::flag(LUSTRAFEX_MEMBER(texture2On), 0, SettingsStage::Texture2,
                        "surface texture 2 enabled (second layers)")
        .withStep(PreviewStep::All),
    settings_rows::u8(LUSTRAFEX_MEMBER(texture2Type), 0, 5, 0, SettingsStage::Texture2,
                      "surface texture 2 type", "", kTextureTypes),
    settings_rows::flag(LUSTRAFEX_MEMBER(texture2Invert), 0, SettingsStage::Texture2,
                        "surface texture 2 inverted"),
    settings_rows::i32(LUSTRAFEX_MEMBER(texture2OffsetX), 0, SettingsStage::Texture2,
                       "horizontal position of surface texture 2", "pixels"),
    settings_rows::i32(LUSTRAFEX_MEMBER(texture2OffsetY), 0, SettingsStage::Texture2,
                       "vertical position of surface texture 2", "pixels"),
    // Colours of glow and shadow.
    settings_rows::colour(LUSTRAFEX_MEMBER(glowColour1), 0xD21092FFu, SettingsStage::Glow,
                          "first glow colour"),
    settings_rows::colour(LUSTRAFEX_MEMBER(glowColour2), 0x515AF0FFu, SettingsStage::Glow,
                          "second glow colour"),
    settings_rows::colour(LUSTRAFEX_MEMBER(shadowColour), 0x108080FFu, SettingsStage::Shadow,
                          "shadow colour"),
    // The dialog's frame (a new frame is rendered through every stage).
    settings_rows::dialogOnly16(LUSTRAFEX_MEMBER(previewFrame),
                                "dialog: frame shown in the preview")
        .withStep(PreviewStep::All),
    settings_rows::dialogOnly16(LUSTRAFEX_MEMBER(previewFrameCount), "dialog: frames of the clip"),
};

constexpr size_t kSettingsFieldCount = sizeof kSettingsFields / sizeof kSettingsFields[0];

// The bytes of the record that belong to no field. The defaults write the
// first of them (offsets 0..35 are written as whole words); the others keep
// what the last file read put there.
struct ReservedBytes {
    uint16_t offset;
    uint16_t size;
    bool zeroedByDefaults;
};
inline constexpr ReservedBytes kReservedBytes[] = {
    {offsetof(SettingsRecord, reserved4), 1, true},
    {offsetof(SettingsRecord, reserved278), 2, false},
    {offsetof(SettingsRecord, reserved402), 2, false},
    {offsetof(SettingsRecord, reserved530), 2, false},
    {offsetof(SettingsRecord, reserved798), 2, false},
};

// The row of that name, found while compiling when `name` is a constant:
// an unknown name then stops the compilation.
constexpr const SettingsField &settingsField(std::string_view name) {
    for (const SettingsField &field : kSettingsFields)
        if (name == field.name) return field;
    throw "no settings field of that name";
}

// The rows and reserved bytes, in offset order, cover the record exactly.
constexpr bool rowsCoverTheRecord() {
    size_t at = 0, reserved = 0;
    for (const SettingsField &field : kSettingsFields) {
        while (reserved < sizeof kReservedBytes / sizeof kReservedBytes[0] &&
               kReservedBytes[reserved].offset == at)
            at += kReservedBytes[reserved++].size;
        if (field.offset != at) return false;
        at += field.size;
    }
    return at == kSettingsRecordSize &&
           reserved == sizeof kReservedBytes / sizeof kReservedBytes[0];
}
static_assert(rowsCoverTheRecord(), "every byte of the record is a row's or reserved");

// Writes the defaults into the 824 bytes at `record`: every field that has
// one, and the reserved byte among the dialog's bytes. The other reserved
// bytes, previewFrame and previewFrameCount keep their values. Numbers are
// written little-endian.
inline void writeSettingsDefaults(uint8_t *record) {
    for (const SettingsField &field : kSettingsFields) {
        if (!field.hasDefault) continue;
        if (field.type == FieldType::Source) {
            std::memset(record + field.offset, 0, field.size);
            continue;
        }
        const uint64_t value = static_cast<uint64_t>(field.defaultValue);
        for (size_t i = 0; i < field.size; ++i)
            record[field.offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    for (const ReservedBytes &bytes : kReservedBytes)
        if (bytes.zeroedByDefaults) std::memset(record + bytes.offset, 0, bytes.size);
}

} // namespace lustrafex

#endif
