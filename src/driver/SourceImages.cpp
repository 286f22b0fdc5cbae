// Source images: each of the six layers that can show a picture converts the
// current frame of input 0, or a picture the host delivers for the layer's
// source descriptor, into an RGB buffer of its own. Delivered pictures are
// fetched once and reused while the sources are cached.
#include "driver/SourceImages.h"

#include "driver/DriverInputs.h"
#include "driver/RenderJob.h"
#include "engine/BufferRecycler.h"

#include <cstdlib>

namespace lustra {

SourceImage sourceImages[kLayerCount];

namespace {

// The frame loaders defer map 2's conversion; where input 0's rows were.
bool deferringMap2 = false;
FrameRows deferredRows;
// The layer holding this frame render's whole picture of input 0's frame.
const SourceImage *frameOwner = nullptr;

void freeLayer(SourceImage &layer) {
    if (layer.pixels && !layer.sharesPixels) {
        // The first layer that shares the pixels owns them from now on.
        SourceImage *heir = nullptr;
        for (SourceImage &other : sourceImages)
            if (&other != &layer && other.sharesPixels && other.pixels == layer.pixels) {
                heir = &other;
                break;
            }
        if (heir)
            heir->sharesPixels = 0;
        else
            giveBackBuffer(layer.pixels);
    }
    layer.pixels = nullptr;
    layer.width = layer.height = 0;
    layer.deferred = 0;
    layer.sharesPixels = 0;
}

// Replaces the layer's picture by a new width x height buffer of unspecified
// contents; false (and no picture) when it cannot be allocated.
bool newLayerPicture(SourceImage &layer, int32_t width, int32_t height) {
    freeLayer(layer);
    layer.pixels = static_cast<uint32_t *>(
        takeBuffer(size_t(width) * size_t(height) * 4, BufferContents::unspecified));
    if (!layer.pixels) return false;
    layer.width = width;
    layer.height = height;
    return true;
}

// Converts width x height host pixels into a new RGB buffer of the layer;
// an allocation failure leaves the layer without picture.
void convertIntoLayer(SourceImage &layer, const uint32_t *host, int32_t width, int32_t height) {
    if (newLayerPicture(layer, width, height))
        hostPixelsToRgb(host, layer.pixels, size_t(width) * size_t(height));
}

// Where input 0's rows are: in the host's fields the field rendering keeps,
// or in input 0's frame buffer.
FrameRows input0Rows() {
    if (fieldState.input0Rows.pitch != 0) return fieldState.input0Rows;
    return FrameRows::ofFrame(fieldState.inputFrame0, fieldState.projectFrameWidth);
}

bool haveCurrentFrame() {
    const FrameRows rows = input0Rows();
    return rows.field[0] && rows.field[1];
}

void convertCurrentFrame(SourceImage &layer) {
    const FrameRows rows = input0Rows();
    if (!rows.field[0] || !rows.field[1]) return;
    const int32_t width = fieldState.projectFrameWidth, height = fieldState.projectFrameHeight;
    if (deferringMap2 && &layer == &sourceImages[kLayerMap2]) {
        if (!newLayerPicture(layer, width, height)) return;
        layer.deferred = 1;
        deferredRows = rows;
        return;
    }
    if (deferringMap2 && frameOwner && frameOwner != &layer && frameOwner->pixels &&
        !frameOwner->sharesPixels && frameOwner->width == width && frameOwner->height == height) {
        freeLayer(layer);
        layer.pixels = frameOwner->pixels;
        layer.width = width;
        layer.height = height;
        layer.sharesPixels = 1;
        return;
    }
    if (deferringMap2) frameOwner = &layer;
    if (rows.pitch == 2 * size_t(width) && rows.field[1] == rows.field[0] + width) {
        convertIntoLayer(layer, rows.field[0], width, height);
        return;
    }
    // Row by row from the fields.
    if (!newLayerPicture(layer, width, height)) return;
    for (int32_t r = 0; r < height; ++r)
        hostPixelsToRgb(rows.row(r), layer.pixels + size_t(r) * width, size_t(width));
}

// The general loader: `showsFrame` when the layer's setting selects the
// current frame of input 0, `showsSource` when it selects the picture of its
// source descriptor.
void loadLayer(SourceImage &layer, bool showsFrame, bool showsSource, const uint8_t *descriptor) {
    if (layer.pixels && !(*driverInputs.sourcesCached == 1 && !showsFrame)) freeLayer(layer);
    if (showsFrame) {
        convertCurrentFrame(layer);
        return;
    }
    if (!showsSource) return;
    if (*driverInputs.sourcesCached == 1 && layer.fetched) return;
    layer.fetched = 1;
    OpImage *image = txGetOpImage(descriptor, 1, 0);
    if (!image) {
        driverInputs.logFailure(kLogSourceMissing);
        return;
    }
    // A picture without pixels or of no size is no picture.
    if (image->pixels && image->width > 0 && image->height > 0)
        convertIntoLayer(layer, image->pixels, image->width, image->height);
    opFreeImage(image);
}

bool secondLayersOn() {
    return driverInputs.secondLayers->value == 1;
}

} // namespace

bool sourceUsable(const SourceImage &image) {
    return image.pixels && image.width >= 1 && image.height >= 1 && image.width <= 32767 &&
           image.height <= 32767;
}

void loadMap1Source() {
    if (driverInputs.settings->map1On != 1) return;
    loadLayer(sourceImages[kLayerMap1], driverInputs.settings->map1FromSource == 0,
              driverInputs.settings->map1FromSource != 0, driverInputs.settings->map1Source);
}

void loadMap2Source() {
    SourceImage &layer = sourceImages[kLayerMap2];
    if (!secondLayersOn()) {
        // Without second layers, image map 2 always shows the current frame,
        // converted anew on every call.
        if (!haveCurrentFrame()) return;
        freeLayer(layer);
        convertCurrentFrame(layer);
        return;
    }
    if (driverInputs.settings->map2On != 1) return;
    loadLayer(layer, driverInputs.settings->map2FromSource == 0,
              driverInputs.settings->map2FromSource != 0, driverInputs.settings->map2Source);
}

void loadFill1Source() {
    loadLayer(sourceImages[kLayerFill1], driverInputs.settings->fill1Mode == 3,
              driverInputs.settings->fill1Mode == 4, driverInputs.settings->fill1Source);
}

void loadFill2Source() {
    if (!secondLayersOn()) return;
    loadLayer(sourceImages[kLayerFill2], driverInputs.settings->fill2Mode == 3,
              driverInputs.settings->fill2Mode == 4, driverInputs.settings->fill2Source);
}

void loadTexture1Source() {
    loadLayer(sourceImages[kLayerTexture1], driverInputs.settings->texture1Type == 4,
              driverInputs.settings->texture1Type == 5, driverInputs.settings->texture1Source);
}

void loadTexture2Source() {
    if (!secondLayersOn()) return;
    loadLayer(sourceImages[kLayerTexture2], driverInputs.settings->texture2Type == 4,
              driverInputs.settings->texture2Type == 5, driverInputs.settings->texture2Source);
}

void deferMap2Conversion(bool on) {
    deferringMap2 = on;
    frameOwner = nullptr;
}

void convertDeferredMap2(bool whole, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    SourceImage &layer = sourceImages[kLayerMap2];
    if (layer.deferred != 1) return;
    const int32_t width = layer.width, height = layer.height;
    if (whole || (x0 <= 0 && y0 <= 0 && x1 >= width && y1 >= height)) {
        x0 = y0 = 0;
        x1 = width;
        y1 = height;
        layer.deferred = 0;
    } else {
        x0 = x0 < 0 ? 0 : x0;
        y0 = y0 < 0 ? 0 : y0;
        x1 = x1 > width ? width : x1;
        y1 = y1 > height ? height : y1;
        layer.deferred = 2;
    }
    if (x1 <= x0) return;
    for (int32_t r = y0; r < y1; ++r)
        hostPixelsToRgb(deferredRows.row(r) + x0, layer.pixels + size_t(r) * width + x0,
                        size_t(x1 - x0));
}

const uint32_t *frameMap2Row(const uint32_t *pixels, int32_t row) {
    const SourceImage &layer = sourceImages[kLayerMap2];
    if (!pixels || pixels != layer.pixels || layer.deferred != 2) return nullptr;
    return deferredRows.row(row);
}

void dropPartialMap2() {
    SourceImage &layer = sourceImages[kLayerMap2];
    if (layer.deferred != 0) freeLayer(layer);
    deferredRows = FrameRows{};
}

void releaseSourceImages() {
    for (SourceImage &layer : sourceImages) freeLayer(layer);
}

void resetSourceFetchFlags() {
    for (SourceImage &layer : sourceImages) layer.fetched = 0;
}

} // namespace lustra
