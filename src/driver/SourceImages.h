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
    // Map 2's layer in a frame render (deferMap2Conversion): 1 while the
    // picture of input 0's frame waits for convertDeferredMap2, 2 once it is
    // converted only inside a box.
    int32_t deferred = 0;
    // 1: the pixels are another layer's, the same picture of input 0's frame
    // converted once in a frame render; freeing the owner hands them over.
    int32_t sharesPixels = 0;
};

extern SourceImage sourceImages[kLayerCount];

// The six loaders, in the order the full render calls them.
void loadMap1Source();
void loadMap2Source();
void loadFill1Source();
void loadFill2Source();
void loadTexture1Source();
void loadTexture2Source();

// While `on` (the loaders of a frame render), the loaders leave a picture of
// input 0's frame for image map 2 unconverted (the layer holds room for it,
// deferred 1): the frame render converts it once the engine set-up has found
// which part the stages read. Other layers that show the frame then convert
// it once and share the picture.
void deferMap2Conversion(bool on);
// Converts map 2's deferred picture inside columns x0..x1 and rows y0..y1
// of the frame (deferred 2 unless that is the whole picture), or whole when
// `whole`; nothing else is deferred.
void convertDeferredMap2(bool whole, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
// When `pixels` is map 2's picture converted only inside a box: input 0's
// frame row `row`, from which the rest of the picture is converted; else
// null.
const uint32_t *frameMap2Row(const uint32_t *pixels, int32_t row);
// Frees map 2's picture if it is deferred or converted only in part (the
// end of a frame render), so that no one else reads it.
void dropPartialMap2();

// Frees every layer's picture.
void releaseSourceImages();
// Clears the six fetched flags (set-up).
void resetSourceFetchFlags();

// A layer picture usable by the engine: pixels present and a size of at
// least 1 x 1 that fits the job's 16-bit fields.
bool sourceUsable(const SourceImage &image);

constexpr int32_t kLogSourceMissing = 5855;

} // namespace lustra
