// The render job: everything the engine needs to render one frame, one
// record per stage and per layer. The driver fills it once from the settings
// record (see driver/RenderJob.h); each stage reads its own record directly
// and nothing else of the settings.
#pragma once

#include <cstdint>

namespace lustra {

// An RGB colour triple of the job, stored red, green, blue.
struct Rgb {
    uint8_t r, g, b;
};

// The relief: a rim profile stamped along the outline, smoothed and scaled.
enum BevelDirection : int8_t { kBevelRaised = 1, kBevelSunken = -1 };
struct BevelJob {
    uint8_t on = 0;
    uint8_t width = 0;     // profile radius, at most the border
    uint8_t depth = 0;     // 0..255, scale depth x 256 / 100
    uint8_t smoothing = 0; // smoothing radius, at most the border
    int8_t edgeSlope = 0;  // profile slope at the outline, units of 0.2
    int8_t innerSlope = 0; // profile slope at the inner end of the rim
    BevelDirection direction = kBevelRaised;
};

// The glow around the shape: a distance profile or a blurred mask.
enum GlowProfile : uint8_t { kGlowBlurred = 0, kGlowDistance = 1 };
struct GlowJob {
    uint8_t on = 0;
    uint8_t width = 0;   // radius, at most the border
    uint8_t opacity = 0; // percent, at most 100
    uint8_t softness = 0;
    GlowProfile profile = kGlowBlurred; // any value but kGlowBlurred draws the profile
    Rgb colour1{}, colour2{};           // inner and outer colour
};

// The drop shadow: the mask blurred, shifted along the light by distance.
struct ShadowJob {
    uint8_t on = 0;
    uint8_t softness = 0; // blur radius, at most the border
    uint8_t opacity = 0;  // percent, at most 100
    uint8_t distance = 0; // percent of the light offset
    Rgb colour{};
};

// How a fill colours its surface. A picture fill without a usable picture
// shades as metal; modes above kFillPicture shade plain.
enum FillMode : uint8_t { kFillPlain = 0, kFillLight = 1, kFillMetal = 2, kFillPicture = 3 };
struct FillJob {
    Rgb colourA{}, colourB{}, colourC{}; // lit, highlight, shade
    uint8_t shininess = 0;
    FillMode mode = kFillPlain;
    const uint32_t *image = nullptr; // the picture of kFillPicture, else null
    int16_t imageWidth = 0;
    int16_t imageHeight = 0;
};

// The height texture of a surface texture: a pattern file or a picture.
enum TextureType : uint8_t {
    kTextureNormal = 0,
    kTextureFractal = 1,
    kTextureTurbulence = 2,
    kTextureFracturb = 3,
    kTexturePicture = 4
};
struct TextureJob {
    uint8_t on = 0;              // only 1 applies the texture
    int8_t zoomX = 0, zoomY = 0; // 25..400 % as -128..127 (see percentToSigned)
    uint8_t depth = 0;
    uint8_t heightMax = 0, heightMin = 0; // the height window
    TextureType type = kTextureNormal;
    uint8_t invert = 0;
    const uint32_t *image = nullptr; // the picture of kTexturePicture, else null
    int16_t imageWidth = 0;
    int16_t imageHeight = 0;
    int32_t offsetX = 0, offsetY = 0;
};

// An image map: a picture tiled over the frame that tints a fill.
struct MapJob {
    int32_t on = 0; // only 1 applies the map
    int8_t zoomX = 0, zoomY = 0;
    int32_t offsetX = 0, offsetY = 0;
    const uint32_t *image = nullptr;
    int16_t imageWidth = 0;
    int16_t imageHeight = 0;
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

    // The light: fill picture zoom and the light offset, which also moves the
    // shadow and the light lobe.
    uint8_t fillZoom = 0;
    int32_t offsetX = 0;
    int32_t offsetY = 0;

    BevelJob bevel;
    GlowJob glow;
    ShadowJob shadow;
    FillJob fill[2];       // the object fill (0) and the background fill (1)
    TextureJob texture[2]; // texture 1 on the object, texture 2 on the background
    MapJob map[2];         // map 1 tints the object fill, map 2 the background fill

    const char *dataDirectory = nullptr; // VXHOME + "/lustra/"
    // Polled by the engine's long loops (see pollAbort); null polls nothing.
    int32_t (*abortPoll)() = nullptr;
    int32_t border = 30;
    // 1 or 2 when the caller converts the picture with convertOutput and no
    // flicker filter: the engine may then leave the part of the frame that
    // the title cannot reach to that conversion (see EngineState::farFused);
    // 1 only when the near box is at most half the frame, 2 always.
    uint8_t fuseFarRegion = 0;
    // 1 when every stage runs once, in order, on this set-up and with this
    // job, as in a frame render: the set-up then leaves out the planes of
    // the stages that are off and clears only what the stages read without
    // writing it first. 0 (the preview, which re-runs single stages with a
    // changed job, and direct callers) keeps every plane, zeroed.
    uint8_t singleRun = 0;
};

} // namespace lustra
