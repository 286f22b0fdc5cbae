// The render engine: its module-wide state, set-up and tear-down, and the
// eight stages that turn the mask and the job into the finished picture.
#pragma once

#include "engine/Blend.h"
#include "engine/Job.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

// A picture texture's planes, allocated at the picture's size.
struct PictureTexture {
    const uint32_t *picture = nullptr; // the source picture, width x height pixels
    uint8_t *heights = nullptr;
    int8_t *gradientX = nullptr;
    int8_t *gradientY = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

struct EngineState {
    // Geometry.
    uint16_t frameWidth = 0;  // W
    uint16_t frameHeight = 0; // H
    int32_t border = 0;       // R
    int32_t stampSpan = 0;    // 2R
    int32_t maxSide = 0;      // max(W, H)
    uint16_t paddedWidth = 0; // W + 2R
    uint16_t paddedHeight = 0;
    uint8_t *paddedMask = nullptr; // the job's padded mask
    uint8_t *mask = nullptr;       // paddedMask + R * (paddedWidth + 1)
    uint32_t *framePixels = nullptr;
    char dataDirectory[256] = {};     // the job's data directory ("" when unusable)
    int32_t (*abortPoll)() = nullptr; // the job's abort poll
    char dataPath[256] = {};          // the data directory with a file name appended

    // Tables.
    int32_t *rowOffset = nullptr;       // H: y * W
    int32_t *paddedRowOffset = nullptr; // paddedHeight: y * paddedWidth
    uint8_t *cosineRamp = nullptr;      // 256
    uint8_t *metalTexture = nullptr;    // 65536, from metal.pat

    // Surface texture planes (256 x 256 each): raw heights, x and y slopes.
    uint8_t *textureHeight[2] = {};
    int8_t *textureSlopeX[2] = {};
    int8_t *textureSlopeY[2] = {};
    PictureTexture pictureTexture[2];

    // Coordinate arrays of the texture and map stages.
    uint8_t *colFracs = nullptr;   // W + 1
    uint8_t *colFracs2 = nullptr;  // W + 1
    uint8_t *rowFracs = nullptr;   // H + 1
    uint8_t *rowFracs2 = nullptr;  // H + 1
    uint16_t *colCoords = nullptr; // W + 1
    uint16_t *colCoords2 = nullptr;
    uint16_t *rowCoords = nullptr; // H + 1
    uint16_t *rowCoords2 = nullptr;

    uint32_t *imageMap1 = nullptr; // W x H
    uint32_t *imageMap2 = nullptr;
    // 1 while imageMap1 or imageMap2 is its map's picture itself (a single
    // run, a picture of the frame's size placed one pixel per pixel without
    // a shift): the plane is then neither written nor released.
    uint8_t mapViewed[2] = {};

    // Mask analysis.
    // The edge pixels in scan order: room for edgeCapacity entries, grown
    // as the analysis needs up to floor(W * H / 2), the most it keeps.
    int32_t *edgeX = nullptr;
    int32_t *edgeY = nullptr;
    int32_t edgeCapacity = 0;
    int32_t edgeCount = 0;
    int32_t boundsMinX = 0, boundsMinY = 0, boundsMaxX = 0, boundsMaxY = 0;
    uint8_t maskFull = 0;

    // Planes of frame size (W x H).
    uint8_t *stampMax = nullptr;
    int8_t *rawSlopeX = nullptr;
    int8_t *rawSlopeY = nullptr;
    int8_t *slopeX = nullptr;
    int8_t *slopeY = nullptr;
    int8_t *texturedSlopeX1 = nullptr;
    int8_t *texturedSlopeY1 = nullptr;
    int8_t *texturedSlopeX2 = nullptr;
    int8_t *texturedSlopeY2 = nullptr;
    uint8_t *glowMap = nullptr;
    uint8_t *shadowMap = nullptr; // paddedWidth x paddedHeight

    // Stamps (2R+1)^2 and kernel (2R+1).
    uint8_t *bevelStampHeight = nullptr;
    int8_t *bevelStampSlopeX = nullptr;
    int8_t *bevelStampSlopeY = nullptr;
    uint8_t *glowStamp = nullptr;
    int32_t *blurKernel = nullptr;
    int32_t *columnSums = nullptr;  // 2 * (maxSide + stampSpan)
    int32_t *columnSumsY = nullptr; // 2 * (maxSide + stampSpan)
    int32_t columnSumsCount = 0;

    // What the texture and map stages made of their layers, for the final
    // shading: a texture's on byte (0 once it proved unusable this run), and
    // 1 for a map whose plane holds a resampled picture.
    uint8_t textureOn[2] = {};
    uint8_t mapTints[2] = {};

    // The far region: with farFused = 1 the stages write the picture only in
    // nearBox, the part of the frame that the covered pixels, their glow and
    // their shadow can reach. Outside it every pixel is the plain background
    // fill, untinted or tinted by map 2's picture copied one pixel per pixel
    // (farMapPixels, farMapWidth, through colCoords2 and rowCoords2), and the
    // output conversion computes it there in the same pass.
    uint8_t farFused = 0;
    PixelRect nearBox{0, 0, 0, 0};
    const uint32_t *farMapPixels = nullptr;
    int32_t farMapWidth = 0;
};

// The one engine state of the module.
extern EngineState engine;

// Sets the engine up for the job: 0 ready, 1 metal.pat missing, 2 out of memory.
int32_t engineSetup(const RenderJob &job);
// Releases every engine buffer; harmless when already released.
int32_t engineTeardown();
// Bytes of the buffers that the last set-up took (planes, tables, lists),
// with the map planes the map stages took since.
size_t engineBufferBytes();
// Gives image map `which` (0 or 1) a plane of its own when it has none (a
// set-up for a single run leaves the map planes to their stages); false when
// out of memory.
bool takeMapPlane(int32_t which);

// The bounding box of the covered and edge pixels grown by `grow` on every
// side and clipped to the frame. Every covered pixel lies in maskBounds(0),
// every stamp of radius g in maskBounds(g).
PixelRect maskBounds(int32_t grow);

// Builds the data directory followed by `name` in engine.dataPath; false when
// there is no usable directory or the path does not fit in 256 bytes.
bool engineDataPath(const char *name);

// The abort poll of the engine's loops: calls the job's abort poll on every
// iteration whose counter has bit 4 set.
void pollAbort(int32_t counter);

// The eight stages, in the order the driver runs them. Each returns 0.
int32_t bevelStage(const RenderJob &job);
int32_t glowStage(const RenderJob &job);
int32_t shadowStage(const RenderJob &job);
int32_t surfaceTextureStage1(const RenderJob &job);
int32_t surfaceTextureStage2(const RenderJob &job);
int32_t imageMapStage1(const RenderJob &job);
int32_t imageMapStage2(const RenderJob &job);
int32_t finalShadingStage(const RenderJob &job);

// Pattern textures and the smoothing kernel.
// Loads pattern `type` (0..3) into raw and derives both slope maps; 1 on
// success, 0 when the file cannot be opened.
int32_t loadPattern(int32_t type, int8_t *slopeXOut, int8_t *slopeYOut, uint8_t *raw,
                    const RenderJob &job);
// Gain of the glow and shadow blur kernels: a fully covered neighbourhood,
// smoothed down the columns and along the row and divided by 65,536, comes
// out at about 255.
constexpr double kBlurGain = 4087.992064;

// A stamp or kernel radius limited to the border: stamps and kernels hold
// 2R+1 cells.
inline int32_t limitToBorder(int32_t radius) {
    const int32_t border = engine.border > 0 ? engine.border : 0;
    return radius < border ? radius : border;
}

// Fills engine.blurKernel with 2r+1 weights for radius r (nothing for r = 0).
void buildSmoothKernel(uint8_t radius, double gain);

// Zoom curve and texture coordinates, shared by the texture and map stages.
int32_t zoomScale(int8_t zoom);
// zoomScale(zoom) x offset, exact (a 32-bit offset times up to 512 needs
// more than 32 bits).
int64_t zoomedOffset(int8_t zoom, int32_t offset);
// Texel column and fraction for every picture column 0..W (W + 1 entries):
// d = (x - floor(W/2)) x scale + offset, coords = (floor(W/2) + floor(d/128))
// mod modulus, fracs = 2 x (d mod 128). Rows likewise over 0..H.
void buildColumnCoords(int32_t scale, uint16_t *coords, uint8_t *fracs, int32_t modulus,
                       int64_t offset);
void buildRowCoords(int32_t scale, uint16_t *coords, uint8_t *fracs, int32_t modulus,
                    int64_t offset);

// Builds the height and gradient planes of surface texture `which` (1 or 2)
// from its recorded picture; 1 on success, 0 when there is no picture or the
// planes cannot be allocated (the planes are then released).
int32_t pictureToTexture(int32_t which);

} // namespace lustra
