// Source images: the six layer pictures (image maps, fills, surface textures)
// from the current frame of input 0 or from a picture the host delivers.
#pragma once

#include <cstdint>

namespace lustra {

enum SourceLayer {
    kLayerMap1,
    kLayerMap2,
    kLayerFill1,
    kLayerFill2,
    kLayerTexture1,
    kLayerTexture2,
    kLayerCount
};

struct SourceImage {
    uint32_t *pixels = nullptr; // RGB work-buffer layout, or null
    int32_t width = 0;
    int32_t height = 0;
    int32_t fetched = 0; // the host was asked for this layer's source
};

extern SourceImage sourceImages[kLayerCount];

// The six loaders, in the order the full render calls them.
void loadMap1Source();
void loadMap2Source();
void loadFill1Source();
void loadFill2Source();
void loadTexture1Source();
void loadTexture2Source();

// Frees every layer's picture.
void releaseSourceImages();
// Clears the six fetched flags (set-up).
void resetSourceFetchFlags();

// A layer picture usable by the engine: pixels present and a size of at
// least 1 x 1 that fits the job's 16-bit fields.
bool sourceUsable(const SourceImage &image);

constexpr int32_t kLogSourceMissing = 5855;

} // namespace lustra
