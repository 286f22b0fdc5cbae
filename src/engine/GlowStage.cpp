// The glow stage: a weight plane (glowMap) for the pixels around the shape
// that are not fully opaque, within glowWidth pixels of the outline. Either a
// distance profile stamped along the edge list, or a blurred copy of the
// shape's fully opaque area normalised so that its strongest value is 255.
//
// The readable per-pixel model, which the tests and the render fuzzer match
// this stage against byte for byte: engine/reference/GlowShadowModels.h
// (GlowModel). The row kernels it calls: engine/kernels/GlowKernels.h and
// engine/RowPasses.h (the blur).
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/GlowKernels.h"
#include "engine/RowPasses.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace lustra {

namespace glowKernels {

// The padded copy of the stamp of radius g (see GlowKernels.h), with the
// extents of its rows.
PaddedStamp::PaddedStamp(int32_t radius)
    : g(radius), pitch(2 * radius + 1 + 2 * kMargin), cells(size_t(2 * radius + 1) * pitch, 0),
      extents(2 * size_t(radius) + 1) {
    const int32_t stride = engine.stampSpan + 1;
    for (int32_t row = 0; row <= 2 * g; ++row) {
        const uint8_t *from = engine.glowStamp + size_t(row) * stride;
        std::memcpy(&cells[size_t(row) * pitch + kMargin], from, 2 * size_t(g) + 1);
        StampExtent &e = extents[row];
        e = {g + 1, g};
        for (int32_t dx = -g; dx <= g; ++dx) {
            if (from[dx + g] == 0) continue;
            if (e.first > dx) e.first = dx;
            e.last = dx;
        }
    }
}

} // namespace glowKernels

namespace {

using namespace glowKernels;

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

// Stamps the profile around every edge pixel onto the pixels that are not
// fully opaque: a pixel takes a stamp cell only when it is strictly higher
// than the one it holds. Starting from 0, each such pixel thus ends up with
// the highest cell that lands on it, whatever the order of the edge pixels,
// and its glow equals its stampMax. The stamping raises stampMax alone, the
// edge pixels of one row together (the edge list is in scan order), stamp
// rows dy and -dy at once; the glow is copied from it afterwards.
void stampEdges(const PaddedStamp &stamp) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight, g = stamp.g;
    for (int32_t i = 0; i < engine.edgeCount;) {
        const int32_t ey = engine.edgeY[i];
        int32_t last = i + 1;
        while (last < engine.edgeCount && engine.edgeY[last] == ey) ++last;
        for (int32_t k = i; k < last; ++k) pollAbort(k);
        for (int32_t dy = 0; dy <= g; ++dy) {
            const StampExtent e = stamp.extents[dy + g];
            if (e.first > e.last) continue;
            TargetRows rows = {0, {}, {}};
            for (const int32_t y : {ey + dy, ey - dy}) {
                if (y < 0 || y >= h || (dy == 0 && rows.count == 1)) continue;
                rows.mask[rows.count] = engine.mask + engine.paddedRowOffset[y];
                rows.held[rows.count++] = engine.stampMax + engine.rowOffset[y];
            }
            if (rows.count == 0) continue;
            // Frame columns x0 .. x1 - 1 can take a cell of this stamp row.
            const int32_t x0 = engine.edgeX[i] + e.first > 0 ? engine.edgeX[i] + e.first : 0;
            const int32_t x1 =
                engine.edgeX[last - 1] + e.last + 1 < w ? engine.edgeX[last - 1] + e.last + 1 : w;
            stampRow(stamp, i, last, dy, rows, x0, x1, w);
        }
        i = last;
    }
}

// Sets the plane to 0 outside the region.
void clearOutside(uint8_t *plane, const PixelRect &r) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    std::memset(plane, 0, size_t(w) * r.y0);
    std::memset(plane + size_t(w) * r.y1, 0, size_t(w) * (h - r.y1));
    for (int32_t y = r.y0; y < r.y1; ++y) {
        std::memset(plane + engine.rowOffset[y], 0, size_t(r.x0));
        std::memset(plane + engine.rowOffset[y] + r.x1, 0, size_t(w - r.x1));
    }
}

// Outside the grown bounding box nothing is stamped: both planes are 0.
void profileGlow(int32_t g, int32_t softness) {
    const PixelRect r = maskBounds(g);
    clearOutside(engine.stampMax, r);
    clearOutside(engine.glowMap, r);
    for (int32_t y = r.y0; y < r.y1; ++y)
        clearUncoveredRow(engine.mask + engine.paddedRowOffset[y] + r.x0, r.x1 - r.x0,
                          engine.stampMax + engine.rowOffset[y] + r.x0);
    if (g > 0) {
        buildGlowStamp(g, softness);
        stampEdges(PaddedStamp(g));
    }
    for (int32_t y = r.y0; y < r.y1; ++y)
        copyStampedRow(engine.mask + engine.paddedRowOffset[y] + r.x0,
                       engine.stampMax + engine.rowOffset[y] + r.x0, r.x1 - r.x0,
                       engine.glowMap + engine.rowOffset[y] + r.x0);
}

// Separable blur of the fully opaque area over the bounding box grown by g,
// written to the pixels that are not fully opaque; then every glowMap byte is
// scaled so that the peak becomes 255. The value of column c lives at index
// c + R of columnSums; columns outside the region stay 0. The pixels
// outside the region are cleared and stay 0 through the scaling; the
// scaling is left out when the peak is 255 (i x 255 / 255 = i).
void blurredGlow(int32_t g) {
    // With g = 0 no kernel is built; the one weight then only ever meets
    // column values of 0, since a written pixel is never fully opaque.
    if (g > 0) buildSmoothKernel(static_cast<uint8_t>(g), kBlurGain);
    const int32_t *kernel = engine.blurKernel;
    int32_t *column = engine.columnSums + engine.border;
    int32_t *rowSums = engine.columnSumsY; // the row pass's results, one row
    std::memset(engine.columnSums, 0, sizeof(int32_t) * engine.columnSumsCount);

    const PixelRect region = maskBounds(g);
    const int32_t x0 = region.x0, x1 = region.x1, y0 = region.y0, y1 = region.y1;
    clearOutside(engine.glowMap, region);

    // Mask row r (from -g to h - 1 + g) at the region's first column, and
    // the opacity changes of the runs of 32 columns over the rows y - g .. y
    // + g of the column pass.
    const ptrdiff_t stride = engine.paddedWidth;
    const uint8_t *maskAt = engine.mask + x0;
    std::vector<int32_t> changes((x1 - x0 + 31) / 32, 0), scratch;
    for (int32_t r = y0 - g + 1; r <= y0 + g; ++r)
        countOpacityChanges(maskAt + r * stride, stride, x1 - x0, 1, changes.data());

    int32_t peak = 1;
    for (int32_t y = y0; y < y1; ++y) {
        pollAbort(y1 - y);
        if (y > y0) {
            countOpacityChanges(maskAt + (y - g) * stride, stride, x1 - x0, -1, changes.data());
            countOpacityChanges(maskAt + (y + g) * stride, stride, x1 - x0, 1, changes.data());
        }

        // Column pass: rows y - g .. y + g, up to g rows into the mask margin;
        // each column's sum is then scaled by 1.3.
        sumOpaqueColumns(maskAt + (y - g) * stride, stride, kernel, 2 * g + 1, x1 - x0, column + x0,
                         changes.data());
        scaleColumns(column + x0, x1 - x0);
        // Row pass: pixels that are not fully opaque (the others are not
        // worked out), clamped to 255.
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y] + x0;
        convolveRow(kernel, 2 * g + 1, column + x0 - g, x1 - x0, rowSums, scratch, maskRow);
        peak = storeGlowRow(rowSums, maskRow, x1 - x0, engine.glowMap + engine.rowOffset[y] + x0,
                            peak);
    }
    if (peak == 255) return;

    uint8_t normalise[256];
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t v = i * 255 / peak;
        normalise[i] = static_cast<uint8_t>(v < 255 ? v : 255);
    }
    for (int32_t y = y0; y < y1; ++y) {
        uint8_t *glow = engine.glowMap + engine.rowOffset[y];
        for (int32_t x = x0; x < x1; ++x) glow[x] = normalise[glow[x]];
    }
}

} // namespace

int32_t glowStage(const RenderJob &job) {
    if (job.glow.on != 1) return 0;
    if (engine.edgeCount <= 0 || !engine.mask) return 0;

    const int32_t g = limitToBorder(job.glow.width);
    try {
        if (job.glow.profile != kGlowBlurred)
            profileGlow(g, job.glow.softness);
        else
            blurredGlow(g);
    } catch (const std::bad_alloc &) {
        return -1; // no room for the padded stamp or the blur's row counts
    }
    return 0;
}

} // namespace lustra
