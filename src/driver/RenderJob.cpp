// The render job: settings translated for the engine (colours to RGB,
// percentages to signed bytes, derived enable flags, source pictures, the
// data directory).
#include "driver/DriverInputs.h"
#include "driver/RenderJob.h"

#include "engine/Blend.h"

#include "driver/SourceImages.h"
#include "driver/kernels/HostPixelKernels.h"

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

// A map that is on and has a usable picture; otherwise off, with every
// field cleared.
void setMap(MapJob &map, const SourceImage &image, bool on, int32_t offsetX, int32_t offsetY,
            int16_t scaleX, int16_t scaleY) {
    map = MapJob();
    if (!on || !sourceUsable(image)) return;
    map.image = image.pixels;
    map.imageWidth = static_cast<int16_t>(image.width);
    map.imageHeight = static_cast<int16_t>(image.height);
    map.offsetX = offsetX;
    map.offsetY = offsetY;
    map.on = 1;
    map.zoomX = percentToSigned(scaleX);
    map.zoomY = percentToSigned(scaleY);
}

// Fill mode: 0, 1, 2 as set; 3 or 4 with a picture become 3 (picture);
// anything else is a plain fill without picture.
void setFillMode(FillJob &fill, uint8_t mode, const SourceImage &image) {
    fill.image = nullptr;
    fill.imageWidth = fill.imageHeight = 0;
    if (mode <= kFillMetal) {
        fill.mode = static_cast<FillMode>(mode);
    } else if ((mode == 3 || mode == 4) && sourceUsable(image)) {
        fill.mode = kFillPicture;
        fill.image = image.pixels;
        fill.imageWidth = static_cast<int16_t>(image.width);
        fill.imageHeight = static_cast<int16_t>(image.height);
    } else {
        fill.mode = kFillPlain;
    }
}

// Texture type: 4 or 5 with a picture become 4 (picture); pattern types
// 0..3 as set; every other value (also 128..255) becomes pattern 0.
void setTextureType(TextureJob &texture, uint8_t type, const SourceImage &image) {
    if ((type == 4 || type == 5) && sourceUsable(image)) {
        texture.type = kTexturePicture;
        texture.image = image.pixels;
        texture.imageWidth = static_cast<int16_t>(image.width);
        texture.imageHeight = static_cast<int16_t>(image.height);
    } else {
        texture.image = nullptr;
        texture.imageWidth = texture.imageHeight = 0;
        texture.type = static_cast<TextureType>(type < 4 ? type : 0);
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

void hostPixelsToRgb(const uint32_t *host, uint32_t *rgb, size_t count) {
    driverKernels::hostToRgbPixels(host, rgb, count);
}

void fillRenderJob(int32_t scaled) {
    RenderJob &job = renderJob;
    const EffectSettings &s = *driverInputs.settings;
    const bool secondLayers = driverInputs.secondLayers->value == 1;

    job.singleFill = 0;
    job.invertMask = 0;
    job.smoothShading = 1;
    job.smoothTextures = 1;
    job.smoothMaps = 1;
    job.bevel.on = 1;
    job.border = kBorder;
    job.abortPoll = driverInputs.checkAbort;
    setDataDirectory();

    job.fillZoom = s.fillZoom;
    job.offsetX = s.offsetX;
    job.offsetY = s.offsetY;

    // A scale ratio with denominator 0 renders unscaled.
    const int32_t numerator = fieldState.scaleNumerator;
    const int32_t denominator = fieldState.scaleDenominator;
    if (scaled == 1 && denominator != 0) {
        job.bevel.width = scaledRadius(s.bevelWidth, numerator, denominator);
        job.bevel.smoothing = scaledRadius(s.bevelSmoothing, numerator, denominator);
    } else {
        job.bevel.width = limitRadius(s.bevelWidth);
        job.bevel.smoothing = limitRadius(s.bevelSmoothing);
    }
    job.bevel.depth = s.bevelDepth;
    job.bevel.edgeSlope = s.bevelEdgeSlope;
    job.bevel.innerSlope = s.bevelInnerSlope;
    job.bevel.direction = s.bevelSunken == 1 ? kBevelSunken : kBevelRaised;

    job.glow.width = limitRadius(s.glowWidth);
    job.glow.opacity = limitOpacity(s.glowOpacity);
    job.glow.softness = s.glowSoftness;
    job.glow.profile = static_cast<GlowProfile>(static_cast<uint8_t>(1 - s.glowBlurred));
    job.glow.colour1 = colourToRgb(s.glowColour1);
    job.glow.colour2 = colourToRgb(s.glowColour2);
    job.glow.on = (static_cast<int8_t>(s.glowWidth) > 0 && static_cast<int8_t>(s.glowOpacity) > 0 &&
                   s.glowOn == 1)
                      ? 1
                      : 0;

    job.shadow.softness = limitRadius(s.shadowSoftness);
    job.shadow.opacity = limitOpacity(s.shadowOpacity);
    job.shadow.distance = s.shadowDistance;
    job.shadow.colour = colourToRgb(s.shadowColour);
    job.shadow.on = (static_cast<int8_t>(s.shadowOpacity) > 0 && s.shadowOn == 1) ? 1 : 0;

    setMap(job.map[0], sourceImages[kLayerMap1], s.map1On == 1, s.map1OffsetX, s.map1OffsetY,
           s.map1ScaleX, s.map1ScaleY);
    if (secondLayers)
        setMap(job.map[1], sourceImages[kLayerMap2], s.map2On == 1, s.map2OffsetX, s.map2OffsetY,
               s.map2ScaleX, s.map2ScaleY);
    else // image map 2 then always shows the current frame at 100 % and position 0
        setMap(job.map[1], sourceImages[kLayerMap2], true, 0, 0, 100, 100);

    job.fill[0].colourA = colourToRgb(s.fill1ColourA);
    job.fill[0].colourB = colourToRgb(s.fill1ColourB);
    job.fill[0].colourC = colourToRgb(s.fill1ColourC);
    job.fill[0].shininess = s.fill1Shininess;
    setFillMode(job.fill[0], s.fill1Mode, sourceImages[kLayerFill1]);

    job.fill[1].colourA = colourToRgb(s.fill2ColourA);
    job.fill[1].colourB = colourToRgb(s.fill2ColourB);
    job.fill[1].colourC = colourToRgb(s.fill2ColourC);
    job.fill[1].shininess = s.fill2Shininess;
    if (secondLayers) {
        setFillMode(job.fill[1], s.fill2Mode, sourceImages[kLayerFill2]);
    } else {
        job.fill[1].mode = kFillPlain;
        job.fill[1].image = nullptr;
        job.fill[1].imageWidth = job.fill[1].imageHeight = 0;
        job.fill[1].colourA = Rgb{255, 255, 255};
    }

    job.texture[0].zoomX = percentToSigned(s.texture1ScaleX);
    job.texture[0].zoomY = percentToSigned(s.texture1ScaleY);
    job.texture[0].depth = s.texture1Depth;
    job.texture[0].heightMax = s.texture1HeightMax;
    job.texture[0].heightMin = s.texture1HeightMin;
    job.texture[0].on = s.texture1On;
    job.texture[0].invert = s.texture1Invert;
    job.texture[0].offsetX = s.texture1OffsetX;
    job.texture[0].offsetY = s.texture1OffsetY;
    setTextureType(job.texture[0], s.texture1Type, sourceImages[kLayerTexture1]);

    job.texture[1].zoomX = percentToSigned(s.texture2ScaleX);
    job.texture[1].zoomY = percentToSigned(s.texture2ScaleY);
    job.texture[1].depth = s.texture2Depth;
    job.texture[1].heightMax = s.texture2HeightMax;
    job.texture[1].heightMin = s.texture2HeightMin;
    job.texture[1].on = s.texture2On;
    job.texture[1].invert = s.texture2Invert;
    job.texture[1].offsetX = s.texture2OffsetX;
    job.texture[1].offsetY = s.texture2OffsetY;
    if (secondLayers) {
        setTextureType(job.texture[1], s.texture2Type, sourceImages[kLayerTexture2]);
    } else {
        job.texture[1].type = kTextureNormal;
        job.texture[1].image = nullptr;
        job.texture[1].imageWidth = job.texture[1].imageHeight = 0;
    }
}

} // namespace lustra
