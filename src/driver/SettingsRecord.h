// The effect's settings record: every parameter of the effect in one fixed
// 824-byte little-endian layout, identical in memory, in the per-instance
// settings file and in preset files. The operator holds the record; the
// driver translates it into the render job.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra {

constexpr int kSourceSize = 112;
constexpr int kSettingsSize = 824;

#pragma pack(push, 1)
struct EffectSettings {
    uint8_t dialogAtTop;                 // 0
    uint8_t currentPage;                 // 1
    uint8_t reliefView;                  // 2
    uint8_t glowView;                    // 3
    uint8_t reserved4;                   // 4
    uint8_t map1View;                    // 5
    uint8_t map2View;                    // 6
    uint8_t fill1View;                   // 7
    uint8_t fill2View;                   // 8
    uint8_t texture1View;                // 9
    uint8_t texture2View;                // 10
    uint8_t bevelWidth;                  // 11
    uint8_t bevelDepth;                  // 12
    uint8_t bevelSmoothing;              // 13
    int8_t bevelEdgeSlope;               // 14
    int8_t bevelInnerSlope;              // 15
    uint8_t bevelSunken;                 // 16
    uint8_t invertShape;                 // 17
    uint8_t glowWidth;                   // 18
    uint8_t glowOpacity;                 // 19
    uint8_t glowSoftness;                // 20
    uint8_t glowBlurred;                 // 21
    uint8_t glowOn;                      // 22
    uint8_t shadowSoftness;              // 23
    uint8_t shadowOpacity;               // 24
    uint8_t shadowDistance;              // 25
    uint8_t shadowOn;                    // 26
    uint8_t fillZoom;                    // 27
    int32_t offsetX;                     // 28
    int32_t offsetY;                     // 32
    uint8_t map1Source[kSourceSize];     // 36
    int16_t map1ScaleX;                  // 148
    int16_t map1ScaleY;                  // 150
    int32_t map1OffsetX;                 // 152
    int32_t map1OffsetY;                 // 156
    uint8_t map1On;                      // 160
    uint8_t map1FromSource;              // 161
    uint8_t map2Source[kSourceSize];     // 162
    int16_t map2ScaleX;                  // 274
    int16_t map2ScaleY;                  // 276
    uint8_t reserved278[2];              // 278
    int32_t map2OffsetX;                 // 280
    int32_t map2OffsetY;                 // 284
    uint8_t map2On;                      // 288
    uint8_t map2FromSource;              // 289
    uint8_t fill1Source[kSourceSize];    // 290
    uint8_t reserved402[2];              // 402
    uint32_t fill1ColourA;               // 404
    uint32_t fill1ColourB;               // 408
    uint32_t fill1ColourC;               // 412
    uint8_t fill1Shininess;              // 416
    uint8_t fill1Mode;                   // 417
    uint8_t fill2Source[kSourceSize];    // 418
    uint8_t reserved530[2];              // 530
    uint32_t fill2ColourA;               // 532
    uint32_t fill2ColourB;               // 536
    uint32_t fill2ColourC;               // 540
    uint8_t fill2Shininess;              // 544
    uint8_t fill2Mode;                   // 545
    uint8_t texture1Source[kSourceSize]; // 546
    int16_t texture1ScaleX;              // 658
    int16_t texture1ScaleY;              // 660
    uint8_t texture1Depth;               // 662
    uint8_t texture1HeightMax;           // 663
    uint8_t texture1HeightMin;           // 664
    uint8_t texture1On;                  // 665
    uint8_t texture1Type;                // 666
    uint8_t texture1Invert;              // 667
    int32_t texture1OffsetX;             // 668
    int32_t texture1OffsetY;             // 672
    uint8_t texture2Source[kSourceSize]; // 676
    int16_t texture2ScaleX;              // 788
    int16_t texture2ScaleY;              // 790
    uint8_t texture2Depth;               // 792
    uint8_t texture2HeightMax;           // 793
    uint8_t texture2HeightMin;           // 794
    uint8_t texture2On;                  // 795
    uint8_t texture2Type;                // 796
    uint8_t texture2Invert;              // 797
    uint8_t reserved798[2];              // 798
    int32_t texture2OffsetX;             // 800
    int32_t texture2OffsetY;             // 804
    uint32_t glowColour1;                // 808
    uint32_t glowColour2;                // 812
    uint32_t shadowColour;               // 816
    int16_t previewFrame;                // 820
    int16_t previewFrameCount;           // 822
};
#pragma pack(pop)

static_assert(sizeof(EffectSettings) == kSettingsSize, "settings record is 824 bytes");
static_assert(offsetof(EffectSettings, bevelWidth) == 11, "layout");
static_assert(offsetof(EffectSettings, offsetX) == 28, "layout");
static_assert(offsetof(EffectSettings, map1Source) == 36, "layout");
static_assert(offsetof(EffectSettings, map1ScaleX) == 148, "layout");
static_assert(offsetof(EffectSettings, map1On) == 160, "layout");
static_assert(offsetof(EffectSettings, map2Source) == 162, "layout");
static_assert(offsetof(EffectSettings, map2OffsetX) == 280, "layout");
static_assert(offsetof(EffectSettings, fill1Source) == 290, "layout");
static_assert(offsetof(EffectSettings, fill1ColourA) == 404, "layout");
static_assert(offsetof(EffectSettings, fill1Mode) == 417, "layout");
static_assert(offsetof(EffectSettings, fill2Source) == 418, "layout");
static_assert(offsetof(EffectSettings, fill2ColourA) == 532, "layout");
static_assert(offsetof(EffectSettings, fill2Mode) == 545, "layout");
static_assert(offsetof(EffectSettings, texture1Source) == 546, "layout");
static_assert(offsetof(EffectSettings, texture1ScaleX) == 658, "layout");
static_assert(offsetof(EffectSettings, texture1Depth) == 662, "layout");
static_assert(offsetof(EffectSettings, texture1OffsetX) == 668, "layout");
static_assert(offsetof(EffectSettings, texture2Source) == 676, "layout");
static_assert(offsetof(EffectSettings, texture2ScaleX) == 788, "layout");
static_assert(offsetof(EffectSettings, texture2Depth) == 792, "layout");
static_assert(offsetof(EffectSettings, texture2OffsetX) == 800, "layout");
static_assert(offsetof(EffectSettings, glowColour1) == 808, "layout");
static_assert(offsetof(EffectSettings, shadowColour) == 816, "layout");
static_assert(offsetof(EffectSettings, previewFrame) == 820, "layout");
static_assert(offsetof(EffectSettings, previewFrameCount) == 822, "layout");

} // namespace lustra
