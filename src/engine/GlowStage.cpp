// The glow stage: a weight plane (glowMap) for the pixels around the shape
// that are not fully opaque, within glowWidth pixels of the outline. Either a
// distance profile stamped along the edge list, or a blurred copy of the
// shape's fully opaque area normalised so that its strongest value is 255.
#include "engine/Engine.h"
#include "engine/RowPasses.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lustra {

namespace {

// Distance-profile stamp for radius g: a cubic from 1 at the outline to 0 at
// distance g, with slope S x 0.02 at the outline and (100 - S) x 0.01 at the
// outer end. Cell (dx, dy) lies at row dy + g, column dx + g (stride 2R+1).
void buildGlowStamp(int32_t g, int32_t softness) {
    const int32_t stride = engine.stampSpan + 1;
    const double outlineSlope = softness * 0.02;
    const double outerSlope = (100 - softness) * 0.01;
    for (int32_t dy = -g; dy <= g; ++dy) {
        for (int32_t dx = -g; dx <= g; ++dx) {
            const int32_t cell = (dy + g) * stride + (dx + g);
            const double q = std::sqrt(static_cast<double>(dx * dx + dy * dy)) / g;
            if (q >= 1) {
                engine.glowStamp[cell] = 0;
                continue;
            }
            const double t = 1 - q;
            const double X = t * t * (3 - 2 * t) + outlineSlope * t * t * (t - 1) +
                             outerSlope * t * (t - 1) * (t - 1);
            // Truncated toward zero, kept as its low 8 bits.
            engine.glowStamp[cell] = static_cast<uint8_t>(static_cast<int32_t>(X * 255));
        }
    }
}

// Pixels that are not fully opaque start without glow; opaque pixels keep
// whatever glowMap (and stampMax) held.
void clearUncovered(bool clearStampMax) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const int32_t row = engine.rowOffset[y];
        for (int32_t x = 0; x < w; ++x) {
            if (maskRow[x] == 255) continue;
            engine.glowMap[row + x] = 0;
            if (clearStampMax) engine.stampMax[row + x] = 0;
        }
    }
}

// Stamps the profile around every edge pixel in list order onto the pixels
// that are not fully opaque; a pixel takes a stamp only when it is strictly
// higher than the one it holds. Stamp rows and columns are clipped to the
// frame once per edge pixel.
void stampEdges(int32_t g) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t stride = engine.stampSpan + 1;
    for (int32_t i = 0; i < engine.edgeCount; ++i) {
        pollAbort(i);
        const int32_t ex = engine.edgeX[i], ey = engine.edgeY[i];
        const int32_t dyFirst = -g > -ey ? -g : -ey;
        const int32_t dyLast = g < h - 1 - ey ? g : h - 1 - ey;
        const int32_t dxFirst = -g > -ex ? -g : -ex;
        const int32_t dxLast = g < w - 1 - ex ? g : w - 1 - ex;
        for (int32_t dy = dyFirst; dy <= dyLast; ++dy) {
            const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[ey + dy] + ex;
            const int32_t pixel = engine.rowOffset[ey + dy] + ex;
            uint8_t *stampMax = engine.stampMax + pixel;
            uint8_t *glow = engine.glowMap + pixel;
            const uint8_t *stamp = engine.glowStamp + (dy + g) * stride + g;
            for (int32_t dx = dxFirst; dx <= dxLast; ++dx) {
                if (maskRow[dx] == 255 || stampMax[dx] >= stamp[dx]) continue;
                stampMax[dx] = stamp[dx];
                glow[dx] = stamp[dx];
            }
        }
    }
}

void profileGlow(int32_t g, int32_t softness) {
    if (g > 0) buildGlowStamp(g, softness);
    clearUncovered(true);
    if (g > 0) stampEdges(g);
}

// Separable blur of the fully opaque area over the bounding box grown by g,
// written to the pixels that are not fully opaque; then every glowMap byte is
// scaled so that the peak becomes 255. The value of column c lives at index
// c + R of columnSums; columns outside the region stay 0.
void blurredGlow(int32_t g) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    // With g = 0 no kernel is built; the one weight then only ever meets
    // column values of 0, since a written pixel is never fully opaque.
    if (g > 0) buildSmoothKernel(static_cast<uint8_t>(g), kBlurGain);
    const int32_t *kernel = engine.blurKernel;
    int32_t *column = engine.columnSums + engine.border;
    int32_t *rowSums = engine.columnSumsY; // the row pass's results, one row

    clearUncovered(false);
    std::memset(engine.columnSums, 0, sizeof(int32_t) * engine.columnSumsCount);

    const int32_t x0 = engine.boundsMinX - g > 0 ? engine.boundsMinX - g : 0;
    const int32_t y0 = engine.boundsMinY - g > 0 ? engine.boundsMinY - g : 0;
    const int32_t x1 = engine.boundsMaxX + 1 + g < w ? engine.boundsMaxX + 1 + g : w;
    const int32_t y1 = engine.boundsMaxY + 1 + g < h ? engine.boundsMaxY + 1 + g : h;

    int32_t peak = 1;
    for (int32_t y = y0; y < y1; ++y) {
        pollAbort(y1 - y);

        // Column pass: rows y - g .. y + g, up to g rows into the mask margin;
        // each column's sum is then scaled by 1.3.
        sumOpaqueColumns(engine.mask + (y - g) * engine.paddedWidth + x0, engine.paddedWidth,
                         kernel, 2 * g + 1, x1 - x0, column + x0);
        for (int32_t x = x0; x < x1; ++x) column[x] = static_cast<int32_t>(column[x] * 1.3);
        convolveRow(kernel, 2 * g + 1, column + x0 - g, x1 - x0, rowSums);

        // Row pass: pixels that are not fully opaque, clamped to 255.
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const int32_t row = engine.rowOffset[y];
        for (int32_t x = x0; x < x1; ++x) {
            if (maskRow[x] == 255) continue;
            int32_t v = rowSums[x - x0] / 65536;
            if (v > 255) v = 255;
            engine.glowMap[row + x] = static_cast<uint8_t>(v);
            if (v > peak) peak = v;
        }
    }

    uint8_t normalise[256];
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t v = i * 255 / peak;
        normalise[i] = static_cast<uint8_t>(v < 255 ? v : 255);
    }
    const size_t count = size_t(w) * h;
    for (size_t i = 0; i < count; ++i) engine.glowMap[i] = normalise[engine.glowMap[i]];
}

} // namespace

int32_t glowStage(const RenderJob &job) {
    std::memcpy(engine.glowSettings, job.glowParams, sizeof engine.glowSettings);
    engine.glowColour1 = job.glowColour1;
    engine.glowColour2 = job.glowColour2;
    engine.glowEnabled = job.glowOn;
    if (job.glowOn != 1) return 0;
    if (engine.edgeCount <= 0 || !engine.mask) return 0;

    const int32_t g = limitToBorder(engine.glowSettings[kGlowWidth]);
    if (engine.glowSettings[kGlowProfile] != 0)
        profileGlow(g, engine.glowSettings[kGlowSoftness]);
    else
        blurredGlow(g);
    return 0;
}

} // namespace lustra
