// The render job: the settings translated for the engine. The engine never
// reads the settings record, only this job.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra {

// An RGB colour triple of the job, stored red, green, blue.
struct Rgb {
    uint8_t r, g, b;
};

struct RenderJob {
    int16_t width = 0;
    int16_t height = 0;
    uint8_t *paddedMask = nullptr; // (width + 60) x (height + 60), border 30
    uint32_t *pixels = nullptr;    // RGB work buffer, width x height

    int32_t singleFill = 0;
    int32_t invertMask = 0;
    int32_t smoothShading = 1;
    int32_t smoothTextures = 1;
    int32_t smoothMaps = 1;

    uint8_t fillZoom = 0;
    int32_t offsetX = 0;
    int32_t offsetY = 0;

    Rgb fill1ColourA{}, fill1ColourB{}, fill1ColourC{};
    uint8_t fill1Shininess = 0;
    uint8_t fill1Mode = 0;
    const uint32_t *fill1Image = nullptr;
    int16_t fill1ImageWidth = 0;
    int16_t fill1ImageHeight = 0;

    Rgb fill2ColourA{}, fill2ColourB{}, fill2ColourC{};
    uint8_t fill2Shininess = 0;
    uint8_t fill2Mode = 0;
    const uint32_t *fill2Image = nullptr;
    int16_t fill2ImageWidth = 0;
    int16_t fill2ImageHeight = 0;

    // bevelWidth, bevelDepth, bevelSmoothing, bevelEdgeSlope, bevelInnerSlope,
    // bevelDirection (1 raised, 255 sunken).
    uint8_t bevelParams[6] = {};
    uint8_t bevelOn = 0;

    // glowWidth, glowOpacity, glowSoftness, glowProfile (1 distance, 0 blurred).
    uint8_t glowParams[4] = {};
    Rgb glowColour1{}, glowColour2{};
    uint8_t glowOn = 0;

    // shadowSoftness, shadowOpacity.
    uint8_t shadowParams[2] = {};
    Rgb shadowColour{};
    uint8_t shadowDistance = 0;
    uint8_t shadowOn = 0;

    int8_t texture1ScaleX = 0;
    int8_t texture1ScaleY = 0;
    uint8_t texture1Depth = 0;
    uint8_t texture1HeightMax = 0;
    uint8_t texture1HeightMin = 0;
    uint8_t texture1Type = 0; // 0..3 pattern, 4 picture
    uint8_t texture1On = 0;
    uint8_t texture1Invert = 0;
    const uint32_t *texture1Image = nullptr;
    int16_t texture1ImageWidth = 0;
    int16_t texture1ImageHeight = 0;
    int32_t texture1OffsetX = 0;
    int32_t texture1OffsetY = 0;

    int8_t texture2ScaleX = 0;
    int8_t texture2ScaleY = 0;
    uint8_t texture2Depth = 0;
    uint8_t texture2HeightMax = 0;
    uint8_t texture2HeightMin = 0;
    uint8_t texture2Type = 0;
    uint8_t texture2On = 0;
    uint8_t texture2Invert = 0;
    const uint32_t *texture2Image = nullptr;
    int16_t texture2ImageWidth = 0;
    int16_t texture2ImageHeight = 0;
    int32_t texture2OffsetX = 0;
    int32_t texture2OffsetY = 0;

    int32_t map1OffsetX = 0;
    int32_t map1OffsetY = 0;
    int8_t map1ScaleX = 0;
    int8_t map1ScaleY = 0;
    int32_t map1On = 0;
    const uint32_t *map1Image = nullptr;
    int16_t map1ImageWidth = 0;
    int16_t map1ImageHeight = 0;

    int32_t map2OffsetX = 0;
    int32_t map2OffsetY = 0;
    int8_t map2ScaleX = 0;
    int8_t map2ScaleY = 0;
    int32_t map2On = 0;
    const uint32_t *map2Image = nullptr;
    int16_t map2ImageWidth = 0;
    int16_t map2ImageHeight = 0;

    const char *dataDirectory = nullptr; // VXHOME + "/lustra/"
    int32_t border = 30;
};

// The one render job of the module.
extern RenderJob renderJob;

// Indices into bevelParams, glowParams and shadowParams.
enum BevelParam {
    kBevelWidth,
    kBevelDepth,
    kBevelSmoothing,
    kBevelEdgeSlope,
    kBevelInnerSlope,
    kBevelDirection
};
enum GlowParam { kGlowWidth, kGlowOpacity, kGlowSoftness, kGlowProfile };
enum ShadowParam { kShadowSoftness, kShadowOpacity };

// Fills every field but width, height, paddedMask and pixels from the
// settings, the host choices and the source pictures.
void fillRenderJob(int32_t scaled);

// A 25..400 % scale as a signed byte: 25 -> -128, 100 -> 0, 400 -> 127.
int8_t percentToSigned(int16_t percent);

// A settings colour (Y in byte 3, Cb in byte 2, Cr in byte 1) as RGB.
Rgb colourToRgb(uint32_t colour);

// A host pixel (Y, Cb, Cr in bytes 3, 2, 1) as an RGB work pixel (blue in
// byte 0, green in byte 1, red in byte 2); byte 3 comes from `keep`.
uint32_t hostPixelToRgb(uint32_t pixel, uint32_t keep);

// Converts `count` host pixels into RGB work pixels (byte 3 zero) with the
// same single-precision arithmetic as colourToRgb, written to vectorise.
void hostPixelsToRgb(const uint32_t *host, uint32_t *rgb, size_t count);

} // namespace lustra
