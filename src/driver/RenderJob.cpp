// The render job: settings translated for the engine (colours to RGB,
// percentages to signed bytes, derived enable flags, source pictures, the
// data directory).
#include "driver/RenderJob.h"

#include "engine/Blend.h"

#include "driver/SourceImages.h"
#include "operator/FieldRendering.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstdlib>
#include <cstring>

namespace lustra {

RenderJob renderJob;

namespace {

constexpr int32_t kBorder = 30;
constexpr uint8_t kMaxOpacity = 100;

char dataDirectoryBuffer[kPathCapacity];

// Truncates a single-precision channel toward zero and clamps it to 0..255.
inline uint8_t channel(float value) {
    const int32_t v = static_cast<int32_t>(value);
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Radii above the mask border would reach outside the margin the engine
// relies on: they are limited to the border.
inline uint8_t limitRadius(uint8_t radius) {
    return radius > kBorder ? kBorder : radius;
}

// Opacities above 100 % would make layer weights exceed 255.
inline uint8_t limitOpacity(uint8_t opacity) {
    return opacity > kMaxOpacity ? kMaxOpacity : opacity;
}

// A scaled radius: the settings byte taken as signed, times n / d truncated,
// its low byte limited to 30.
uint8_t scaledRadius(uint8_t radius, int32_t numerator, int32_t denominator) {
    const int32_t scaled = static_cast<int8_t>(radius) * numerator / denominator;
    const uint8_t low = static_cast<uint8_t>(scaled);
    return low > kBorder ? kBorder : low;
}

void setDataDirectory() {
    dataDirectoryBuffer[0] = 0;
    const char *home = std::getenv("VXHOME");
    const char *suffix = "/lustra/";
    if (home && std::strlen(home) + std::strlen(suffix) < sizeof dataDirectoryBuffer) {
        std::strcpy(dataDirectoryBuffer, home);
        std::strcat(dataDirectoryBuffer, suffix);
    }
    renderJob.dataDirectory = dataDirectoryBuffer;
}

void setMap(const SourceImage &image, bool on, int32_t offsetX, int32_t offsetY, int16_t scaleX,
            int16_t scaleY, int32_t &jobOffsetX, int32_t &jobOffsetY, int8_t &jobScaleX,
            int8_t &jobScaleY, int32_t &jobOn, const uint32_t *&jobImage, int16_t &jobWidth,
            int16_t &jobHeight) {
    if (on && sourceUsable(image)) {
        jobImage = image.pixels;
        jobWidth = static_cast<int16_t>(image.width);
        jobHeight = static_cast<int16_t>(image.height);
        jobOffsetX = offsetX;
        jobOffsetY = offsetY;
        jobOn = 1;
        jobScaleX = percentToSigned(scaleX);
        jobScaleY = percentToSigned(scaleY);
    } else {
        jobImage = nullptr;
        jobWidth = jobHeight = 0;
        jobOn = 0;
        jobOffsetX = jobOffsetY = 0;
        jobScaleX = jobScaleY = 0;
    }
}

// Fill mode: 0, 1, 2 as set; 3 or 4 with a picture become 3 (picture);
// anything else is a plain fill without picture.
void setFillMode(uint8_t mode, const SourceImage &image, uint8_t &jobMode,
                 const uint32_t *&jobImage, int16_t &jobWidth, int16_t &jobHeight) {
    jobImage = nullptr;
    jobWidth = jobHeight = 0;
    if (mode <= 2) {
        jobMode = mode;
    } else if ((mode == 3 || mode == 4) && sourceUsable(image)) {
        jobMode = 3;
        jobImage = image.pixels;
        jobWidth = static_cast<int16_t>(image.width);
        jobHeight = static_cast<int16_t>(image.height);
    } else {
        jobMode = 0;
    }
}

// Texture type: 4 or 5 with a picture become 4 (picture); pattern types
// 0..3 as set; every other value (also 128..255) becomes pattern 0.
void setTextureType(uint8_t type, const SourceImage &image, uint8_t &jobType,
                    const uint32_t *&jobImage, int16_t &jobWidth, int16_t &jobHeight) {
    if ((type == 4 || type == 5) && sourceUsable(image)) {
        jobType = 4;
        jobImage = image.pixels;
        jobWidth = static_cast<int16_t>(image.width);
        jobHeight = static_cast<int16_t>(image.height);
    } else {
        jobImage = nullptr;
        jobWidth = jobHeight = 0;
        jobType = type < 4 ? type : 0;
    }
}

} // namespace

int8_t percentToSigned(int16_t percent) {
    const int32_t v = percent;
    const int32_t result = v >= 100 ? (v - 100) * 127 / 300 : (v - 25) * 128 / 75 - 128;
    return static_cast<int8_t>(static_cast<uint8_t>(result));
}

Rgb colourToRgb(uint32_t colour) {
    const float y = static_cast<float>(colour >> 24);
    const float cb = static_cast<float>(static_cast<int32_t>((colour >> 16) & 0xFF) - 128);
    const float cr = static_cast<float>(static_cast<int32_t>((colour >> 8) & 0xFF) - 128);
    return Rgb{channel(y + 1.402f * cr), channel(y - 0.344136f * cb - 0.714136f * cr),
               channel(y + 1.772f * cb)};
}

namespace {

// Tables of the YCbCr to RGB conversion with exactly the single-precision
// operations of colourToRgb: red and blue depend on two bytes each, green's
// first term on (Y, Cb) and its last product on Cr.
struct YcbcrTables {
    uint8_t red[256][256];     // [Y][Cr]: Y + 1.402 Cr
    uint8_t blue[256][256];    // [Y][Cb]: Y + 1.772 Cb
    float greenBase[256][256]; // [Y][Cb]: Y - 0.344136 Cb
    float greenCr[256];        // [Cr]: 0.714136 Cr
    YcbcrTables() {
        for (int y = 0; y < 256; ++y)
            for (int c = 0; c < 256; ++c) {
                const float fy = static_cast<float>(y), fc = static_cast<float>(c - 128);
                red[y][c] = channel(fy + 1.402f * fc);
                blue[y][c] = channel(fy + 1.772f * fc);
                greenBase[y][c] = fy - 0.344136f * fc;
            }
        for (int c = 0; c < 256; ++c) greenCr[c] = 0.714136f * static_cast<float>(c - 128);
    }
};

const YcbcrTables &ycbcrTables() {
    static const YcbcrTables tables;
    return tables;
}

} // namespace

uint32_t hostPixelToRgb(uint32_t pixel, uint32_t keep) {
    const YcbcrTables &t = ycbcrTables();
    const uint32_t y = pixel >> 24, cb = (pixel >> 16) & 0xFF, cr = (pixel >> 8) & 0xFF;
    const uint32_t green = channel(t.greenBase[y][cb] - t.greenCr[cr]);
    return (keep & 0xFF000000u) | (uint32_t(t.red[y][cr]) << 16) | (green << 8) | t.blue[y][cb];
}

LUSTRA_VECTOR_CLONES void hostPixelsToRgb(const uint32_t *__restrict host, uint32_t *__restrict rgb,
                                          size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pixel = host[i];
        const float y = static_cast<float>(pixel >> 24);
        const float cb = static_cast<float>(static_cast<int32_t>((pixel >> 16) & 0xFF) - 128);
        const float cr = static_cast<float>(static_cast<int32_t>((pixel >> 8) & 0xFF) - 128);
        // R = Y + 1.402 Cr, G = Y - 0.344136 Cb - 0.714136 Cr, B = Y + 1.772 Cb,
        // each truncated and limited to 0..255.
        int32_t r = static_cast<int32_t>(y + 1.402f * cr);
        int32_t g = static_cast<int32_t>(y - 0.344136f * cb - 0.714136f * cr);
        int32_t b = static_cast<int32_t>(y + 1.772f * cb);
        r = r < 0 ? 0 : (r > 255 ? 255 : r);
        g = g < 0 ? 0 : (g > 255 ? 255 : g);
        b = b < 0 ? 0 : (b > 255 ? 255 : b);
        rgb[i] = (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
    }
}

void fillRenderJob(int32_t scaled) {
    RenderJob &job = renderJob;
    const EffectSettings &s = settings;
    const bool secondLayers = secondLayersOption.value == 1;

    job.singleFill = 0;
    job.invertMask = 0;
    job.smoothShading = 1;
    job.smoothTextures = 1;
    job.smoothMaps = 1;
    job.bevelOn = 1;
    job.border = kBorder;
    setDataDirectory();

    job.fillZoom = s.fillZoom;
    job.offsetX = s.offsetX;
    job.offsetY = s.offsetY;

    // A scale ratio with denominator 0 renders unscaled.
    const int32_t numerator = fieldState.scaleNumerator;
    const int32_t denominator = fieldState.scaleDenominator;
    if (scaled == 1 && denominator != 0) {
        job.bevelParams[kBevelWidth] = scaledRadius(s.bevelWidth, numerator, denominator);
        job.bevelParams[kBevelSmoothing] = scaledRadius(s.bevelSmoothing, numerator, denominator);
    } else {
        job.bevelParams[kBevelWidth] = limitRadius(s.bevelWidth);
        job.bevelParams[kBevelSmoothing] = limitRadius(s.bevelSmoothing);
    }
    job.bevelParams[kBevelDepth] = s.bevelDepth;
    job.bevelParams[kBevelEdgeSlope] = static_cast<uint8_t>(s.bevelEdgeSlope);
    job.bevelParams[kBevelInnerSlope] = static_cast<uint8_t>(s.bevelInnerSlope);
    job.bevelParams[kBevelDirection] = s.bevelSunken == 1 ? 255 : 1;

    job.glowParams[kGlowWidth] = limitRadius(s.glowWidth);
    job.glowParams[kGlowOpacity] = limitOpacity(s.glowOpacity);
    job.glowParams[kGlowSoftness] = s.glowSoftness;
    job.glowParams[kGlowProfile] = static_cast<uint8_t>(1 - s.glowBlurred);
    job.glowColour1 = colourToRgb(s.glowColour1);
    job.glowColour2 = colourToRgb(s.glowColour2);
    job.glowOn = (static_cast<int8_t>(s.glowWidth) > 0 && static_cast<int8_t>(s.glowOpacity) > 0 &&
                  s.glowOn == 1)
                     ? 1
                     : 0;

    job.shadowParams[kShadowSoftness] = limitRadius(s.shadowSoftness);
    job.shadowParams[kShadowOpacity] = limitOpacity(s.shadowOpacity);
    job.shadowDistance = s.shadowDistance;
    job.shadowColour = colourToRgb(s.shadowColour);
    job.shadowOn = (static_cast<int8_t>(s.shadowOpacity) > 0 && s.shadowOn == 1) ? 1 : 0;

    setMap(sourceImages[kLayerMap1], s.map1On == 1, s.map1OffsetX, s.map1OffsetY, s.map1ScaleX,
           s.map1ScaleY, job.map1OffsetX, job.map1OffsetY, job.map1ScaleX, job.map1ScaleY,
           job.map1On, job.map1Image, job.map1ImageWidth, job.map1ImageHeight);
    if (secondLayers) {
        setMap(sourceImages[kLayerMap2], s.map2On == 1, s.map2OffsetX, s.map2OffsetY, s.map2ScaleX,
               s.map2ScaleY, job.map2OffsetX, job.map2OffsetY, job.map2ScaleX, job.map2ScaleY,
               job.map2On, job.map2Image, job.map2ImageWidth, job.map2ImageHeight);
    } else {
        // Image map 2 then always shows the current frame at 100 % and position 0.
        setMap(sourceImages[kLayerMap2], true, 0, 0, 100, 100, job.map2OffsetX, job.map2OffsetY,
               job.map2ScaleX, job.map2ScaleY, job.map2On, job.map2Image, job.map2ImageWidth,
               job.map2ImageHeight);
    }

    job.fill1ColourA = colourToRgb(s.fill1ColourA);
    job.fill1ColourB = colourToRgb(s.fill1ColourB);
    job.fill1ColourC = colourToRgb(s.fill1ColourC);
    job.fill1Shininess = s.fill1Shininess;
    setFillMode(s.fill1Mode, sourceImages[kLayerFill1], job.fill1Mode, job.fill1Image,
                job.fill1ImageWidth, job.fill1ImageHeight);

    job.fill2ColourA = colourToRgb(s.fill2ColourA);
    job.fill2ColourB = colourToRgb(s.fill2ColourB);
    job.fill2ColourC = colourToRgb(s.fill2ColourC);
    job.fill2Shininess = s.fill2Shininess;
    if (secondLayers) {
        setFillMode(s.fill2Mode, sourceImages[kLayerFill2], job.fill2Mode, job.fill2Image,
                    job.fill2ImageWidth, job.fill2ImageHeight);
    } else {
        job.fill2Mode = 0;
        job.fill2Image = nullptr;
        job.fill2ImageWidth = job.fill2ImageHeight = 0;
        job.fill2ColourA = Rgb{255, 255, 255};
    }

    job.texture1ScaleX = percentToSigned(s.texture1ScaleX);
    job.texture1ScaleY = percentToSigned(s.texture1ScaleY);
    job.texture1Depth = s.texture1Depth;
    job.texture1HeightMax = s.texture1HeightMax;
    job.texture1HeightMin = s.texture1HeightMin;
    job.texture1On = s.texture1On;
    job.texture1Invert = s.texture1Invert;
    job.texture1OffsetX = s.texture1OffsetX;
    job.texture1OffsetY = s.texture1OffsetY;
    setTextureType(s.texture1Type, sourceImages[kLayerTexture1], job.texture1Type,
                   job.texture1Image, job.texture1ImageWidth, job.texture1ImageHeight);

    job.texture2ScaleX = percentToSigned(s.texture2ScaleX);
    job.texture2ScaleY = percentToSigned(s.texture2ScaleY);
    job.texture2Depth = s.texture2Depth;
    job.texture2HeightMax = s.texture2HeightMax;
    job.texture2HeightMin = s.texture2HeightMin;
    job.texture2On = s.texture2On;
    job.texture2Invert = s.texture2Invert;
    job.texture2OffsetX = s.texture2OffsetX;
    job.texture2OffsetY = s.texture2OffsetY;
    if (secondLayers) {
        setTextureType(s.texture2Type, sourceImages[kLayerTexture2], job.texture2Type,
                       job.texture2Image, job.texture2ImageWidth, job.texture2ImageHeight);
    } else {
        job.texture2Type = 0;
        job.texture2Image = nullptr;
        job.texture2ImageWidth = job.texture2ImageHeight = 0;
    }
}

} // namespace lustra
