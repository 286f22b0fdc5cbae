// Surface texture stages: a tiled height texture, from a pattern file or from
// a picture, is placed on the frame with its own zoom and offset, sampled
// with filtering, and its gradients roughen the lit surface. Texture 1 adds
// them to the bevel slopes inside the shape; texture 2 gives the background,
// which has no relief of its own, the gradients alone.
//
// The readable per-pixel model, which the tests match this stage against
// byte for byte: engine/reference/SurfaceReference.cpp (textureStage).
#include "engine/Blend.h"
#include "engine/BufferRecycler.h"
#include "engine/Engine.h"
#include "engine/kernels/SurfaceTextureKernels.h"
#include "engine/Footprints.h"
#include "engine/Stretch.h"
#include "engine/TextureGradients.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace lustra {

namespace {

using namespace textureKernels;

constexpr int32_t kPatternSide = 256;

// One texture as the sampler sees it: three planes of width x height texels
// and the height window.
struct Gradient {
    int32_t x, y;
};

struct Texture {
    uint8_t *heights = nullptr;
    int8_t *gradientX = nullptr;
    int8_t *gradientY = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t *accepted = nullptr;       // 256 entries: 1 inside the height window
    int32_t windowLow = 0, windowHigh = 255; // the same window as a range

    bool inWindow(size_t i) const { return accepted[heights[i]] != 0; }
    // The gradients of texel i, (0, 0) outside the height window.
    Gradient at(size_t i) const {
        if (!inWindow(i)) return {0, 0};
        return {gradientX[i], gradientY[i]};
    }
};

// Where one pixel falls on the texture, from the coordinate tables. A span
// runs between the texels of two neighbouring table entries, whose
// positions differ by the scale, at most 512/128 = 4 texels: no span holds
// more than 4 texels, so 32-bit sums of gradients cannot overflow.
struct Footprint {
    int32_t u, uNext, fu, colSpan; // column, next column, fraction, span from u
    int32_t v, vNext, fv, rowSpan; // the same for the row
};

// Filtered gradient at one pixel, times depth (GX and GY of each case).
template <Filter F> Gradient sample(const Texture &t, const Footprint &f, int32_t depth);

template <> Gradient sample<Filter::Bilinear>(const Texture &t, const Footprint &f, int32_t depth) {
    const size_t row = size_t(f.v) * t.width, rowNext = size_t(f.vNext) * t.width;
    const Gradient a = t.at(row + f.u), b = t.at(row + f.uNext);
    const Gradient c = t.at(rowNext + f.u), d = t.at(rowNext + f.uNext);
    const int32_t fu = f.fu, fv = f.fv;
    const int32_t topX = lerp8(a.x, b.x, fu), bottomX = lerp8(c.x, d.x, fu);
    const int32_t topY = lerp8(a.y, b.y, fu), bottomY = lerp8(c.y, d.y, fu);
    return {((bottomX * fv + (255 - fv) * topX) * depth) >> 16,
            ((bottomY * fv + (255 - fv) * topY) * depth) >> 16};
}

// Average gradients over the column span of the pixel on row v and on row
// vNext, blended by the row fraction.
template <>
Gradient sample<Filter::ColumnSpans>(const Texture &t, const Footprint &f, int32_t depth) {
    int32_t a0x = 0, a0y = 0, a1x = 0, a1y = 0;
    if (f.colSpan > 0) {
        const size_t row = size_t(f.v) * t.width, rowNext = size_t(f.vNext) * t.width;
        int32_t s0x = 0, s0y = 0, s1x = 0, s1y = 0;
        int32_t c = f.u;
        for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, t.width)) {
            const Gradient g0 = t.at(row + c), g1 = t.at(rowNext + c);
            s0x += g0.x;
            s0y += g0.y;
            s1x += g1.x;
            s1y += g1.y;
        }
        a0x = s0x / f.colSpan;
        a0y = s0y / f.colSpan;
        a1x = s1x / f.colSpan;
        a1y = s1y / f.colSpan;
    }
    const int32_t fv = f.fv;
    return {((a1x * fv + (255 - fv) * a0x) * depth) >> 16,
            ((a1y * fv + (255 - fv) * a0y) * depth) >> 16};
}

// Average gradients over the row span of the pixel in column u and in column
// uNext, blended by the column fraction.
template <> Gradient sample<Filter::RowSpans>(const Texture &t, const Footprint &f, int32_t depth) {
    int32_t a0x = 0, a0y = 0, a1x = 0, a1y = 0;
    if (f.rowSpan > 0) {
        int32_t s0x = 0, s0y = 0, s1x = 0, s1y = 0;
        int32_t r = f.v;
        for (int32_t n = 0; n < f.rowSpan; ++n, r = nextWrapped(r, t.height)) {
            const size_t row = size_t(r) * t.width;
            const Gradient g0 = t.at(row + f.u), g1 = t.at(row + f.uNext);
            s0x += g0.x;
            s0y += g0.y;
            s1x += g1.x;
            s1y += g1.y;
        }
        a0x = s0x / f.rowSpan;
        a0y = s0y / f.rowSpan;
        a1x = s1x / f.rowSpan;
        a1y = s1y / f.rowSpan;
    }
    const int32_t fu = f.fu;
    return {((a1x * fu + (255 - fu) * a0x) * depth) >> 16,
            ((a1y * fu + (255 - fu) * a0y) * depth) >> 16};
}

// Average over the accepted texels of the pixel's rectangle only; texels
// outside the height window do not count.
template <> Gradient sample<Filter::Box>(const Texture &t, const Footprint &f, int32_t depth) {
    int32_t sumX = 0, sumY = 0, count = 0;
    int32_t r = f.v;
    for (int32_t m = 0; m < f.rowSpan; ++m, r = nextWrapped(r, t.height)) {
        const size_t row = size_t(r) * t.width;
        int32_t c = f.u;
        for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, t.width)) {
            const size_t i = row + c;
            if (!t.inWindow(i)) continue;
            sumX += t.gradientX[i];
            sumY += t.gradientY[i];
            ++count;
        }
    }
    if (count == 0) return {0, 0};
    return {(depth * (sumX / count)) >> 8, (depth * (sumY / count)) >> 8};
}

// The coordinate tables of one texture stage.
struct CoordTables {
    uint16_t *col;
    uint8_t *colFrac;
    uint16_t *row;
    uint8_t *rowFrac;
};

CoordTables coordTablesOf(int32_t index) {
    if (index == 0) return {engine.colCoords, engine.colFracs, engine.rowCoords, engine.rowFracs};
    return {engine.colCoords2, engine.colFracs2, engine.rowCoords2, engine.rowFracs2};
}

// Texture 1 visits the mask's bounding box, texture 2 the whole frame (the
// near box, when the output conversion lays the far region).
PixelRect boundsOf(int32_t index) {
    if (index != 0 && engine.farFused == 1) return engine.nearBox;
    if (index != 0) return {0, engine.frameWidth, 0, engine.frameHeight};
    return maskBounds(0);
}

// A pixel is visited by texture 1 when covered at all, by texture 2 when not
// fully covered.
inline bool visited(bool object, uint8_t coverage) {
    return object ? coverage != 0 : coverage != 255;
}

// Writes the textured slopes of the visited pixels. Texture 1 (index 0)
// visits the mask's bounding box, skipping uncovered pixels, and adds to the
// bevel slopes; texture 2 visits every pixel not fully covered. Each row is
// walked as runs of visited pixels, each pixel sampled on its own: the way
// when there is no room for the tables of applyFiltered.
template <Filter F>
void applyTexture(int32_t index, const Texture &t, const CoordTables &c, int32_t depth,
                  const PixelRect &b) {
    const bool object = index == 0;
    int8_t *outX = object ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
    int8_t *outY = object ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
    Footprint f{};
    for (int32_t y = b.y0; y < b.y1; ++y) {
        pollAbort(y);
        f.v = c.row[y];
        f.vNext = nextWrapped(f.v, t.height);
        f.fv = c.rowFrac[y];
        f.rowSpan = spanLength(f.v, c.row[y + 1], t.height);
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const int32_t rowStart = engine.rowOffset[y];
        int32_t x = b.x0;
        while (x < b.x1) {
            while (x < b.x1 && !visited(object, maskRow[x])) ++x;
            for (; x < b.x1 && visited(object, maskRow[x]); ++x) {
                f.u = c.col[x];
                f.uNext = nextWrapped(f.u, t.width);
                f.fu = c.colFrac[x];
                f.colSpan = spanLength(f.u, c.col[x + 1], t.width);
                const Gradient g = sample<F>(t, f, depth);
                const int32_t p = rowStart + x;
                const int32_t baseX = object ? engine.slopeX[p] : 0;
                const int32_t baseY = object ? engine.slopeY[p] : 0;
                outX[p] = static_cast<int8_t>(clampRange(baseX + g.x, -128, 127));
                outY[p] = static_cast<int8_t>(clampRange(baseY + g.y, -128, 127));
            }
        }
    }
}

// Zoom 0 on both axes of a texture at least 2 x 2: every footprint is one
// texel (spans of 1), the columns step through the texture one by one
// between wraps, so each row is done in runs of consecutive texels.
void applyUnitTexels(int32_t index, const Texture &t, const CoordTables &c, int32_t lo, int32_t hi,
                     int32_t depth, const PixelRect &b) {
    const bool object = index == 0;
    int8_t *outX = object ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
    int8_t *outY = object ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
    const UnitTexels texels = unitTexelsOf(lo, hi, depth);
    for (int32_t y = b.y0; y < b.y1; ++y) {
        pollAbort(y);
        const size_t texelRow = size_t(c.row[y]) * t.width;
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const int32_t rowStart = engine.rowOffset[y];
        for (int32_t x = b.x0; x < b.x1;) {
            const int32_t u = c.col[x];
            const int32_t n = b.x1 - x < t.width - u ? b.x1 - x : t.width - u;
            const size_t i = texelRow + u;
            const int32_t p = rowStart + x;
            if (object)
                addUnitTexelsToRelief(maskRow + x, engine.slopeX + p, engine.slopeY + p,
                                      t.heights + i, t.gradientX + i, t.gradientY + i, texels, n,
                                      outX + p, outY + p);
            else
                setUnitTexels(maskRow + x, t.heights + i, t.gradientX + i, t.gradientY + i, texels,
                              n, outX + p, outY + p);
            x += n;
        }
    }
}

// The first of the span columns when they are consecutive texture columns
// (wrapping after the texture's width), as they are laid whether or not the
// spans share them; -1 otherwise.
int32_t consecutiveSpanColumns(const SpanColumns &spans, int32_t width) {
    if (spans.total == 0) return 0;
    for (int32_t j = 1, c = spans.column[0]; j < spans.total; ++j)
        if (spans.column[j] != (c = nextWrapped(c, width))) return -1;
    return spans.column[0];
}

// Running word sums over the span columns of the `count` (0..4) texture
// rows from row v, wrapping: sums[j] is entries 0..j-1 summed over those
// rows. `first` is consecutiveSpanColumns: consecutive columns are summed
// straight from the texture's planes (see runningTexelSums), others from
// the texel words.
void runningWordSums(const uint32_t *words, const Texture &t, int32_t v, int32_t count,
                     const SpanColumns &spans, int32_t first, uint32_t *sums) {
    if (first >= 0) {
        TexelRows rows{};
        for (int32_t m = 0; m < count; ++m, v = nextWrapped(v, t.height)) {
            const size_t row = size_t(v) * t.width;
            rows.heights[m] = t.heights + row;
            rows.gradientX[m] = t.gradientX + row;
            rows.gradientY[m] = t.gradientY + row;
        }
        runningTexelSums(rows, count, t.width, first, spans.total, t.windowLow, t.windowHigh, sums);
        return;
    }
    const uint32_t *rows[4];
    for (int32_t m = 0; m < count; ++m, v = nextWrapped(v, t.height))
        rows[m] = words + size_t(v) * t.width;
    runningColumnSums(rows, count, spans.column, spans.total, sums);
}

// Word sums down the `count` texture rows from row v (wrapping) of the
// texture columns pixels x0 .. x0 + n - 1 read (u and uNext of each), into
// sums[column]: all columns when the texture is narrow, else just those.
void columnWordSums(const uint32_t *words, const Texture &t, int32_t v, int32_t count,
                    const ColumnFootprints &cols, int32_t x0, int32_t n, uint32_t *sums) {
    const uint32_t *rows[4];
    for (int32_t m = 0; m < count; ++m, v = nextWrapped(v, t.height))
        rows[m] = words + size_t(v) * t.width;
    auto sumDown = [&](int32_t c) {
        uint32_t sum = 0;
        for (int32_t m = 0; m < count; ++m) sum += rows[m][c];
        sums[c] = sum;
    };
    if (t.width <= 2 * n) {
        for (int32_t c = 0; c < t.width; ++c) sums[c] = 0;
        for (int32_t m = 0; m < count; ++m) addWordRow(rows[m], t.width, sums);
        return;
    }
    for (int32_t x = x0; x < x0 + n; ++x) {
        sumDown(cols.u[x]);
        sumDown(cols.uNext[x]);
    }
}

// Storage of one filtered call: the texel words of the whole texture (when
// `withWords`), two gradient rows and two rows blended across of the
// frame's width, column sums of the texture's width and running sums along
// the span columns.
class FilterScratch {
  public:
    FilterScratch(const Texture &t, int32_t width, const SpanColumns &spans, bool withWords)
        : words(withWords ? static_cast<uint32_t *>(
                                takeScratch(sizeof(uint32_t) * size_t(t.width) * t.height))
                          : nullptr),
          withWords(withWords),
          rowX(static_cast<int32_t *>(takeScratch(sizeof(int32_t) * 2 * size_t(width)))),
          columns(static_cast<uint32_t *>(takeScratch(sizeof(uint32_t) * size_t(t.width)))),
          across(static_cast<int32_t *>(takeScratch(sizeof(int32_t) * 4 * size_t(width)))),
          running(
              static_cast<uint32_t *>(takeScratch(sizeof(uint32_t) * (size_t(spans.total) + 1)))) {
        if (!valid()) return;
        rowY = rowX + width;
        if (withWords)
            buildTexelWords(t.heights, t.gradientX, t.gradientY, t.windowLow, t.windowHigh,
                            size_t(t.width) * t.height, words);
    }
    ~FilterScratch() {
        std::free(words);
        std::free(rowX);
        std::free(columns);
        std::free(across);
        std::free(running);
    }
    FilterScratch(const FilterScratch &) = delete;
    FilterScratch &operator=(const FilterScratch &) = delete;
    bool valid() const { return (words || !withWords) && rowX && columns && across && running; }

    uint32_t *words;
    bool withWords;
    int32_t *rowX;
    uint32_t *columns; // word sums down the rows of a row span, per texture column
    int32_t *across;   // two texture rows blended across: x and y of each
    uint32_t *running; // running word sums along the span columns
    int32_t *rowY = nullptr;
};

// The filtered stage row by row: every pixel x0..x1 of a row gets its
// gradients from the texel words (branch-free row loops), then the visited
// ones are written. Bilinear and column-span rows blend two texture rows
// taken across, row spans read word sums down each texture column, areas
// running sums along the span columns.
void applyFiltered(int32_t index, Filter filter, const Texture &t, const CoordTables &c,
                   const ColumnFootprints &cols, const SpanColumns &spans,
                   const FilterScratch &scratch, int32_t depth, const PixelRect &b) {
    const bool object = index == 0;
    int8_t *outX = object ? engine.texturedSlopeX1 : engine.texturedSlopeX2;
    int8_t *outY = object ? engine.texturedSlopeY1 : engine.texturedSlopeY2;
    const int32_t n = b.x1 > b.x0 ? b.x1 - b.x0 : 0; // pixels per row
    uint32_t *sums = scratch.running;
    const int32_t first = consecutiveSpanColumns(spans, t.width);
    // A texture row taken across the frame's columns: blended by the column
    // fractions (bilinear) or averaged over the column spans. The two latest
    // are kept in top and bottom, as the next frame rows often share them.
    auto across = [&](int32_t row, int32_t *acrossX, int32_t *acrossY) {
        if (filter == Filter::Bilinear) {
            // Only bilinear rows read the texel words here (the plane of
            // words is not built for spans summed straight from the planes).
            const uint32_t *words = scratch.words + size_t(row) * t.width;
            blendAcross(words, t.width, cols.u + b.x0, cols.uNext + b.x0, cols.fu + b.x0, n,
                        acrossX, acrossY);
            return;
        }
        runningWordSums(scratch.words, t, row, 1, spans, first, sums);
        spanAverages(sums, spans.total + 1, spans.start + b.x0, spans.end + b.x0, cols.span + b.x0,
                     n, acrossX, acrossY);
    };
    int32_t *top = scratch.across, *bottom = scratch.across + 2 * size_t(n);
    int32_t topRow = -1, bottomRow = -1; // the texture rows top and bottom hold
    for (int32_t y = b.y0; y < b.y1; ++y) {
        pollAbort(y);
        const uint8_t *coverage = engine.mask + engine.paddedRowOffset[y] + b.x0;
        if (n == 0 || !anyVisited(object, coverage, n)) continue;
        const int32_t v = c.row[y], vNext = nextWrapped(v, t.height);
        const int32_t rowSpan = spanLength(v, c.row[y + 1], t.height);
        int32_t *gx = scratch.rowX, *gy = scratch.rowY;
        switch (filter) {
        case Filter::Bilinear:
        case Filter::ColumnSpans:
            if (topRow != v) {
                if (bottomRow == v) {
                    std::swap(top, bottom);
                    std::swap(topRow, bottomRow);
                } else {
                    across(v, top, top + n);
                    topRow = v;
                }
            }
            if (bottomRow != vNext) {
                across(vNext, bottom, bottom + n);
                bottomRow = vNext;
            }
            blendDown(top, top + n, bottom, bottom + n, c.rowFrac[y], depth, n, gx, gy);
            break;
        case Filter::Box:
            runningWordSums(scratch.words, t, v, rowSpan, spans, first, sums);
            areaRow(sums, spans.total + 1, spans.start + b.x0, spans.end + b.x0, depth, n, gx, gy);
            break;
        case Filter::RowSpans:
            columnWordSums(scratch.words, t, v, rowSpan, cols, b.x0, n, scratch.columns);
            rowSpanRow(scratch.columns, t.width, cols.u + b.x0, cols.uNext + b.x0, cols.fu + b.x0,
                       kReciprocal[rowSpan], depth, n, gx, gy);
            break;
        }
        const int32_t p = engine.rowOffset[y] + b.x0;
        if (object)
            writeObjectRow(coverage, engine.slopeX + p, engine.slopeY + p, gx, gy, n, outX + p,
                           outY + p);
        else
            writeBackgroundRow(coverage, gx, gy, n, outX + p, outY + p);
    }
}

// Heights, then gradient planes, of the picture in `planes`: see
// pictureToTexture.
bool buildPicturePlanes(PictureTexture &planes) {
    const int32_t w = planes.width, h = planes.height;
    const size_t count = size_t(w) * h;
    uint8_t *heights = planes.heights;
    int32_t *totals = static_cast<int32_t *>(std::malloc(sizeof(int32_t) * 2 * size_t(w)));
    if (!totals) return false;

    // Height: the brightest of blue, green and red, stretched to 0..255. The
    // range is taken a run of texels at a time, while the run is in cache.
    constexpr size_t kRun = 16384;
    int32_t minimum = 255, maximum = 0;
    for (size_t i = 0; i < count; i += kRun) {
        const size_t n = count - i < kRun ? count - i : kRun;
        brightestChannels(planes.picture + i, n, heights + i);
        int32_t least = 0, most = 0;
        heightRange(heights + i, n, least, most);
        minimum = least < minimum ? least : minimum;
        maximum = most > maximum ? most : maximum;
    }
    if (minimum != maximum) {
        stretchHeights(heights, count, minimum, maximum);
    }

    // Gradients over the 3 x 3 neighbourhood, wrapping at all four edges:
    // left column minus right column, upper row minus lower row, over 6;
    // their ranges taken row by row.
    int32_t minX = 127, maxX = -128, minY = 127, maxY = -128;
    for (int32_t v = 0; v < h; ++v) {
        const uint8_t *above = heights + size_t(v == 0 ? h - 1 : v - 1) * w;
        const uint8_t *here = heights + size_t(v) * w;
        const uint8_t *below = heights + size_t(v == h - 1 ? 0 : v + 1) * w;
        int8_t *rowX = planes.gradientX + size_t(v) * w, *rowY = planes.gradientY + size_t(v) * w;
        textureRowGradients(above, here, below, w, totals, rowX, rowY);
        int32_t least = 0, most = 0;
        gradientRange(rowX, size_t(w), least, most);
        minX = least < minX ? least : minX;
        maxX = most > maxX ? most : maxX;
        gradientRange(rowY, size_t(w), least, most);
        minY = least < minY ? least : minY;
        maxY = most > maxY ? most : maxY;
    }
    std::free(totals);
    if (minX != maxX) stretchGradientPlane(planes.gradientX, count, minX, maxX);
    if (minY != maxY) stretchGradientPlane(planes.gradientY, count, minY, maxY);
    return true;
}

void releasePicturePlanes(PictureTexture &planes) {
    giveBackBuffer(planes.heights);
    giveBackBuffer(planes.gradientX);
    giveBackBuffer(planes.gradientY);
    planes.heights = nullptr;
    planes.gradientX = nullptr;
    planes.gradientY = nullptr;
}

// Releases the planes of `planes` and takes three of its picture's size;
// false (nothing held) without a picture or when they cannot be had. The
// planes are recycled buffers: their bytes are all written before they are
// read, and a plane taken again at the next call's picture size is already
// mapped (fresh memory costs a page fault per 4 KiB on first touch).
bool takePicturePlanes(PictureTexture &planes) {
    releasePicturePlanes(planes);
    if (!planes.picture || planes.width <= 0 || planes.height <= 0) return false;
    const size_t count = size_t(planes.width) * size_t(planes.height);
    planes.heights = static_cast<uint8_t *>(takeBuffer(count, BufferContents::unspecified));
    planes.gradientX = static_cast<int8_t *>(takeBuffer(count, BufferContents::unspecified));
    planes.gradientY = static_cast<int8_t *>(takeBuffer(count, BufferContents::unspecified));
    if (planes.heights && planes.gradientX && planes.gradientY) return true;
    releasePicturePlanes(planes);
    return false;
}

// Mirrors every byte b of the three planes to 255 - b: heights turn upside
// down and a signed gradient g becomes -g - 1.
void invertPlanes(const Texture &t) {
    const size_t count = size_t(t.width) * t.height;
    uint8_t *gradientX = reinterpret_cast<uint8_t *>(t.gradientX);
    uint8_t *gradientY = reinterpret_cast<uint8_t *>(t.gradientY);
    for (size_t i = 0; i < count; ++i) {
        t.heights[i] = static_cast<uint8_t>(255 - t.heights[i]);
        gradientX[i] = static_cast<uint8_t>(255 - gradientX[i]);
        gradientY[i] = static_cast<uint8_t>(255 - gradientY[i]);
    }
}

// What texture 1's picture planes were built from in the current run:
// its picture, and whether the planes were then inverted in place. Cleared
// whenever texture 1 runs or its planes are rebuilt, set once they are
// built; heights names the planes, so that planes released and taken anew
// since do not match.
struct TextureOnePlanes {
    const uint32_t *picture = nullptr;
    const uint8_t *heights = nullptr;
    int32_t width = 0, height = 0;
    bool inverted = false;
};
TextureOnePlanes textureOnePlanes;

// In a single run (every stage once, in order, with this job) texture 2's
// picture often holds the same pixels as texture 1's, taken from the same
// frame into a buffer of its own. Its planes are then texture 1's planes
// before their inversion: copied (and turned back when texture 1 inverted
// them) instead of built again. True when `planes` (allocated at the
// picture's size) was filled that way.
bool copyTextureOnePlanes(const RenderJob &job, PictureTexture &planes) {
    const TextureOnePlanes &built = textureOnePlanes;
    const PictureTexture &one = engine.pictureTexture[0];
    if (job.singleRun != 1 || job.texture[0].on != 1 || job.texture[0].type != kTexturePicture ||
        !built.heights || built.heights != one.heights || built.picture != one.picture ||
        built.picture != job.texture[0].image || built.width != planes.width ||
        built.height != planes.height || one.width != planes.width || one.height != planes.height)
        return false;
    const size_t count = size_t(planes.width) * size_t(planes.height);
    if (std::memcmp(built.picture, planes.picture, count * sizeof(uint32_t)) != 0) return false;
    std::memcpy(planes.heights, one.heights, count);
    std::memcpy(planes.gradientX, one.gradientX, count);
    std::memcpy(planes.gradientY, one.gradientY, count);
    if (built.inverted) {
        Texture copy;
        copy.heights = planes.heights;
        copy.gradientX = planes.gradientX;
        copy.gradientY = planes.gradientY;
        copy.width = planes.width;
        copy.height = planes.height;
        invertPlanes(copy);
    }
    return true;
}

// Makes the texture's planes ready for sampling: the picture planes for type
// 4, the pattern planes (reloaded from the pattern file) for types 0..3.
// False when the texture cannot be used this run: no picture, the planes
// cannot be allocated, an unknown type or an unreadable pattern file.
bool prepareTexture(int32_t index, const TextureJob &s, const RenderJob &job, Texture &texture) {
    if (s.type == kTexturePicture) {
        PictureTexture &planes = engine.pictureTexture[index];
        planes.picture = s.image;
        planes.width = s.imageWidth;
        planes.height = s.imageHeight;
        if (index == 1 ? !takePicturePlanes(planes) ||
                             (!copyTextureOnePlanes(job, planes) && !buildPicturePlanes(planes))
                       : !pictureToTexture(1)) {
            releasePicturePlanes(planes);
            return false;
        }
        texture.heights = planes.heights;
        texture.gradientX = planes.gradientX;
        texture.gradientY = planes.gradientY;
        texture.width = planes.width;
        texture.height = planes.height;
        return true;
    }
    texture.heights = engine.textureHeight[index];
    texture.gradientX = engine.textureSlopeX[index];
    texture.gradientY = engine.textureSlopeY[index];
    texture.width = texture.height = kPatternSide;
    return loadPattern(s.type, texture.gradientX, texture.gradientY, texture.heights, job) == 1;
}

// The planes of the other texture need not be there: a set-up for a single
// run leaves out those of a texture that is off.
bool engineReady(int32_t index) {
    const bool planes = index == 0 ? engine.texturedSlopeX1 && engine.texturedSlopeY1
                                   : engine.texturedSlopeX2 && engine.texturedSlopeY2;
    return engine.mask && engine.rowOffset && engine.paddedRowOffset && engine.slopeX &&
           engine.slopeY && planes && engine.textureHeight[index] && engine.textureSlopeX[index] &&
           engine.textureSlopeY[index] && engine.colCoords && engine.colCoords2 &&
           engine.rowCoords && engine.rowCoords2 && engine.colFracs && engine.colFracs2 &&
           engine.rowFracs && engine.rowFracs2;
}

// One surface texture stage; index 0 is texture 1, index 1 texture 2.
int32_t surfaceTextureStage(const RenderJob &job, int32_t index) {
    if (index == 0) textureOnePlanes = {};
    if (!engineReady(index)) return 0;
    const TextureJob &s = job.texture[index];
    engine.textureOn[index] = s.on;
    if (s.on != 1) return 0;
    // Texture 1 covers only the shape: an empty mask leaves nothing to texture.
    if (index == 0 && engine.edgeCount == 0 && engine.maskFull != 1) return 0;

    // A texture that cannot be used this run is recorded as off, so that the
    // final shading lights the plain relief instead of stale textured slopes.
    Texture texture;
    if (!prepareTexture(index, s, job, texture)) {
        engine.textureOn[index] = 0;
        return 0;
    }
    if (s.invert == 1) invertPlanes(texture);
    if (index == 0 && s.type == kTexturePicture) {
        const PictureTexture &planes = engine.pictureTexture[0];
        textureOnePlanes = {planes.picture, planes.heights, planes.width, planes.height,
                            s.invert == 1};
    }
    // The height window as a table: 1 for the accepted heights.
    uint8_t accepted[256];
    for (int32_t h = 0; h < 256; ++h) accepted[h] = (h >= s.heightMin && h <= s.heightMax) ? 1 : 0;
    texture.accepted = accepted;
    texture.windowLow = s.heightMin;
    texture.windowHigh = s.heightMax;

    const int32_t colScale = zoomScale(s.zoomX), rowScale = zoomScale(s.zoomY);
    const CoordTables tables = coordTablesOf(index);
    buildColumnCoords(colScale, tables.col, tables.colFrac, texture.width,
                      zoomedOffset(s.zoomX, s.offsetX));
    buildRowCoords(rowScale, tables.row, tables.rowFrac, texture.height,
                   zoomedOffset(s.zoomY, s.offsetY));

    const int32_t depth = s.depth;
    const PixelRect bounds = boundsOf(index);
    if (colScale == 128 && rowScale == 128 && texture.width > 1 && texture.height > 1) {
        applyUnitTexels(index, texture, tables, s.heightMin, s.heightMax, depth, bounds);
        return 0;
    }
    const Filter filter = chooseFilter(colScale, rowScale);
    const ColumnFootprints cols(tables.col, tables.colFrac, engine.frameWidth, texture.width);
    if (cols.valid()) {
        const SpanColumns spans(cols, engine.frameWidth, texture.width);
        if (spans.valid()) {
            const bool withWords = filter == Filter::Bilinear || filter == Filter::RowSpans ||
                                   consecutiveSpanColumns(spans, texture.width) < 0;
            const FilterScratch scratch(texture, engine.frameWidth, spans, withWords);
            if (scratch.valid()) {
                applyFiltered(index, filter, texture, tables, cols, spans, scratch, depth, bounds);
                return 0;
            }
        }
    }
    // Without room for the tables every pixel samples on its own.
    switch (filter) {
    case Filter::Bilinear:
        applyTexture<Filter::Bilinear>(index, texture, tables, depth, bounds);
        break;
    case Filter::ColumnSpans:
        applyTexture<Filter::ColumnSpans>(index, texture, tables, depth, bounds);
        break;
    case Filter::RowSpans:
        applyTexture<Filter::RowSpans>(index, texture, tables, depth, bounds);
        break;
    case Filter::Box:
        applyTexture<Filter::Box>(index, texture, tables, depth, bounds);
        break;
    }
    return 0;
}

} // namespace

int32_t pictureToTexture(int32_t which) {
    if (which != 1 && which != 2) return 0;
    if (which == 1) textureOnePlanes = {};
    PictureTexture &planes = engine.pictureTexture[which - 1];
    if (!takePicturePlanes(planes)) return 0;
    if (!buildPicturePlanes(planes)) {
        releasePicturePlanes(planes);
        return 0;
    }
    return 1;
}

int32_t surfaceTextureStage1(const RenderJob &job) {
    return surfaceTextureStage(job, 0);
}

int32_t surfaceTextureStage2(const RenderJob &job) {
    return surfaceTextureStage(job, 1);
}

} // namespace lustra
