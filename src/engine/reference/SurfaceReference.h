// The readable per-pixel models of the surface texture and image map
// stages, against which the stages are tested byte for byte
// (tests/unit/test_surface_reference.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lustra::reference {

// The job fields of one surface texture, as the model reads them.
struct TextureCase {
    int8_t zoomX, zoomY;
    uint8_t depth, heightMax, heightMin, type, on, invert;
    const uint32_t *image;
    int16_t imageWidth, imageHeight;
    int32_t offsetX, offsetY;
};

// Texture stage `index` (0 or 1) on the engine's mask, bounds and slopes,
// with the pattern files read from `directory`, writing into outX and outY
// (which hold the planes' previous bytes).
void textureStage(const std::string &directory, int32_t index, const TextureCase &s,
                  std::vector<int8_t> &outX, std::vector<int8_t> &outY);

// Image map `which` (0 or 1) of a pw x ph picture resampled into out (frame
// size, byte 3 kept), on the engine's frame and mask.
void imageMap(int32_t which, const uint32_t *pixels, int32_t pw, int32_t ph, int8_t zoomX,
              int8_t zoomY, int32_t offsetX, int32_t offsetY, std::vector<uint32_t> &out);

} // namespace lustra::reference
