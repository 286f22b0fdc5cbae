// Image map stages: a picture is placed on the frame with its own zoom and
// offset, tiled, and resampled into a frame-sized colour buffer that the
// final shading multiplies a fill's lit colour by. Map 1 tints the object
// fill, map 2 the background fill.
//
// The readable per-pixel model, which the tests match this stage against
// byte for byte: engine/reference/SurfaceReference.cpp (imageMap).
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/ImageMapKernels.h"
#include "engine/Footprints.h"
#include "engine/Scratch.h"

#include <cstddef>
#include <cstdlib>
#include <utility>

namespace lustra {

namespace {

using namespace mapKernels;

// Blue, green and red of one result or running sum.
struct Colour {
    int32_t c[3];
};

inline Colour channelsOf(uint32_t pixel) {
    return {{pixelBlue(pixel), pixelGreen(pixel), pixelRed(pixel)}};
}

// The source picture of one map.
struct Picture {
    const uint32_t *pixels;
    int32_t width, height;

    uint32_t at(int32_t u, int32_t v) const { return pixels[size_t(v) * width + u]; }
};

// Where one frame pixel falls on the picture, from the coordinate tables. A
// span runs between the source pixels of two neighbouring table entries,
// whose positions differ by the scale, at most 512/128 = 4 pixels: no span
// holds more than 4 pixels, so 32-bit channel sums cannot overflow.
struct Footprint {
    int32_t u, uNext, fu, colSpan; // column, next column, fraction, span from u
    int32_t v, vNext, fv, rowSpan; // the same for the row
};

template <Filter F> Colour resample(const Picture &s, const Footprint &f);

// Bilinear between the four source pixels around the footprint.
template <> Colour resample<Filter::Bilinear>(const Picture &s, const Footprint &f) {
    const Colour a = channelsOf(s.at(f.u, f.v)), b = channelsOf(s.at(f.uNext, f.v));
    const Colour c = channelsOf(s.at(f.u, f.vNext)), d = channelsOf(s.at(f.uNext, f.vNext));
    Colour out;
    for (int k = 0; k < 3; ++k) {
        const int32_t top = lerp8(a.c[k], b.c[k], f.fu);
        const int32_t bottom = lerp8(c.c[k], d.c[k], f.fu);
        out.c[k] = lerp8(top, bottom, f.fv);
    }
    return out;
}

// Averages over the column span on row v and on row vNext, blended by the
// row fraction; both averages are 0 when the span is empty.
template <> Colour resample<Filter::ColumnSpans>(const Picture &s, const Footprint &f) {
    int32_t sum0[3] = {0, 0, 0}, sum1[3] = {0, 0, 0};
    int32_t c = f.u;
    for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, s.width)) {
        const Colour p0 = channelsOf(s.at(c, f.v)), p1 = channelsOf(s.at(c, f.vNext));
        for (int k = 0; k < 3; ++k) {
            sum0[k] += p0.c[k];
            sum1[k] += p1.c[k];
        }
    }
    Colour out;
    for (int k = 0; k < 3; ++k) {
        const int32_t a0 = f.colSpan > 0 ? sum0[k] / f.colSpan : 0;
        const int32_t a1 = f.colSpan > 0 ? sum1[k] / f.colSpan : 0;
        out.c[k] = lerp8(a0, a1, f.fv);
    }
    return out;
}

// Averages over the row span in column u and in column uNext, blended by the
// column fraction; both averages are 0 when the span is empty.
template <> Colour resample<Filter::RowSpans>(const Picture &s, const Footprint &f) {
    int32_t sum0[3] = {0, 0, 0}, sum1[3] = {0, 0, 0};
    int32_t r = f.v;
    for (int32_t n = 0; n < f.rowSpan; ++n, r = nextWrapped(r, s.height)) {
        const Colour p0 = channelsOf(s.at(f.u, r)), p1 = channelsOf(s.at(f.uNext, r));
        for (int k = 0; k < 3; ++k) {
            sum0[k] += p0.c[k];
            sum1[k] += p1.c[k];
        }
    }
    Colour out;
    for (int k = 0; k < 3; ++k) {
        const int32_t a0 = f.rowSpan > 0 ? sum0[k] / f.rowSpan : 0;
        const int32_t a1 = f.rowSpan > 0 ? sum1[k] / f.rowSpan : 0;
        out.c[k] = lerp8(a0, a1, f.fu);
    }
    return out;
}

// Average over the rectangle of column span and row span; 0 when empty.
template <> Colour resample<Filter::Box>(const Picture &s, const Footprint &f) {
    const int32_t count = f.colSpan * f.rowSpan;
    if (count == 0) return {{0, 0, 0}};
    if (count == 1) return channelsOf(s.at(f.u, f.v)); // one pixel: its own value
    int32_t sum[3] = {0, 0, 0};
    int32_t r = f.v;
    for (int32_t m = 0; m < f.rowSpan; ++m, r = nextWrapped(r, s.height)) {
        int32_t c = f.u;
        for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, s.width)) {
            const Colour p = channelsOf(s.at(c, r));
            for (int k = 0; k < 3; ++k) sum[k] += p.c[k];
        }
    }
    Colour out;
    for (int k = 0; k < 3; ++k) out.c[k] = sum[k] / count;
    return out;
}

// The coordinate tables of one map.
struct CoordTables {
    uint16_t *col;
    uint8_t *colFrac;
    uint16_t *row;
    uint8_t *rowFrac;
};

// Resamples every frame pixel; bytes 0..2 are written, byte 3 kept.
template <Filter F> void resampleAll(const Picture &s, const CoordTables &c, uint32_t *out) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    Footprint f{};
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        f.v = c.row[y];
        f.vNext = nextWrapped(f.v, s.height);
        f.fv = c.rowFrac[y];
        f.rowSpan = spanLength(f.v, c.row[y + 1], s.height);
        uint32_t *line = out + size_t(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            f.u = c.col[x];
            f.uNext = nextWrapped(f.u, s.width);
            f.fu = c.colFrac[x];
            f.colSpan = spanLength(f.u, c.col[x + 1], s.width);
            const Colour colour = resample<F>(s, f);
            line[x] = (line[x] & 0xFF000000u) | (uint32_t(colour.c[2]) << 16) |
                      (uint32_t(colour.c[1]) << 8) | uint32_t(colour.c[0]);
        }
    }
}

// Running sums over the span columns of the `count` source rows from row v
// (wrapping): sums[j] is entries 0..j-1 summed over those rows, in spread
// lanes. Lanes may carry into each other here, but a difference of two
// entries over at most 4 x 4 pixels is exact in wrapping 64-bit arithmetic.
void runningSums(const Picture &s, int32_t v, int32_t count, const SpanColumns &spans,
                 uint64_t *sums) {
    const uint32_t *rows[4];
    for (int32_t m = 0; m < count; ++m, v = nextWrapped(v, s.height))
        rows[m] = s.pixels + size_t(v) * s.width;
    uint64_t running = 0;
    sums[0] = 0;
    for (int32_t j = 0; j < spans.total; ++j) {
        const int32_t c = spans.column[j];
        for (int32_t m = 0; m < count; ++m) running += spreadChannels(rows[m][c]);
        sums[j + 1] = running;
    }
}

// Box and column-span filters from running sums over the span columns. The
// column-span filter keeps the sums of the last two source rows, which the
// next frame row often shares when rows are magnified.
void resampleSpans(Filter filter, const Picture &s, const CoordTables &c,
                   const ColumnFootprints &cols, const SpanColumns &spans, uint32_t *out) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    uint64_t *sums0 = spans.sums[0], *sums1 = spans.sums[1];
    int32_t row0 = -1, row1 = -1; // the source rows sums0 and sums1 hold
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const int32_t v = c.row[y];
        uint32_t *line = out + size_t(y) * w;
        if (filter == Filter::Box) {
            const int32_t rowSpan = spanLength(v, c.row[y + 1], s.height);
            runningSums(s, v, rowSpan, spans, sums0);
            boxRow(sums0, spans.start, spans.end, cols.span, rowSpan, w, line);
            continue;
        }
        const int32_t vNext = nextWrapped(v, s.height);
        if (row0 != v) {
            if (row1 == v) {
                std::swap(sums0, sums1);
                std::swap(row0, row1);
            } else {
                runningSums(s, v, 1, spans, sums0);
                row0 = v;
            }
        }
        if (row1 != vNext) {
            runningSums(s, vNext, 1, spans, sums1);
            row1 = vNext;
        }
        columnSpanRow(sums0, sums1, spans.start, spans.end, cols.span, c.rowFrac[y], w, line);
    }
}

// Channel sums down the `count` source rows from row v (wrapping), spread,
// of the source columns the frame's pixels read (u and uNext of each), into
// sums[column]: all columns when the picture is narrow, else just those.
void columnSums(const Picture &s, int32_t v, int32_t count, const ColumnFootprints &cols,
                int32_t width, uint64_t *sums) {
    const uint32_t *rows[4];
    for (int32_t m = 0; m < count; ++m, v = nextWrapped(v, s.height))
        rows[m] = s.pixels + size_t(v) * s.width;
    auto sumDown = [&](int32_t c) {
        uint64_t sum = 0;
        for (int32_t m = 0; m < count; ++m) sum += spreadChannels(rows[m][c]);
        sums[c] = sum;
    };
    if (s.width <= 2 * width) {
        for (int32_t c = 0; c < s.width; ++c) sums[c] = 0;
        for (int32_t m = 0; m < count; ++m) addSpreadRow(rows[m], s.width, sums);
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        sumDown(cols.u[x]);
        sumDown(cols.uNext[x]);
    }
}

// Row spans on every frame row, from the column sums of its row span.
void resampleRowSpans(const Picture &s, const CoordTables &c, const ColumnFootprints &cols,
                      uint64_t *sums, uint32_t *out) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const int32_t rowSpan = spanLength(c.row[y], c.row[y + 1], s.height);
        columnSums(s, c.row[y], rowSpan, cols, w, sums);
        rowSpanRow(sums, cols.u, cols.uNext, cols.fu, kReciprocal[rowSpan], w, out + size_t(y) * w);
    }
}

// Every frame pixel through the bilinear filter, row by row: source rows
// are blended across once into `across` (two rows of the frame's width) and
// kept while the next frame rows still read them.
void resampleBilinear(const Picture &s, const CoordTables &c, const ColumnFootprints &cols,
                      uint32_t *across, uint32_t *out) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    uint32_t *top = across, *bottom = across + w;
    int32_t topRow = -1, bottomRow = -1; // the source rows top and bottom hold
    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const int32_t v = c.row[y], vNext = nextWrapped(v, s.height);
        if (topRow != v) {
            if (bottomRow == v) {
                std::swap(top, bottom);
                std::swap(topRow, bottomRow);
            } else {
                blendAcross(s.pixels + size_t(v) * s.width, cols.u, cols.uNext, cols.fu, w, top);
                topRow = v;
            }
        }
        if (bottomRow != vNext) {
            blendAcross(s.pixels + size_t(vNext) * s.width, cols.u, cols.uNext, cols.fu, w, bottom);
            bottomRow = vNext;
        }
        blendDown(top, bottom, c.rowFrac[y], w, out + size_t(y) * w);
    }
}

// Every footprint one source pixel: bytes 0..2 copied, byte 3 kept. The
// columns run through the picture one by one between wraps (the scale is
// exactly one source pixel per frame pixel), so each row is copied as runs
// that end at the frame's edge or the picture's.
// Only the pixels of `box` are written: the final shading reads no others.
void copyOnePixelFootprints(const Picture &s, const CoordTables &c, const PixelRect &box,
                            uint32_t *out) {
    const int32_t w = engine.frameWidth;
    for (int32_t y = box.y0; y < box.y1; ++y) {
        pollAbort(y);
        const uint32_t *source = s.pixels + size_t(c.row[y]) * s.width;
        uint32_t *line = out + size_t(y) * w;
        int32_t x = box.x0;
        while (x < box.x1) {
            const int32_t u = c.col[x];
            const int32_t run = box.x1 - x < s.width - u ? box.x1 - x : s.width - u;
            copyColourBytes(source + u, run, line + x);
            x += run;
        }
    }
}

// True when the one-pixel footprints place the picture on the frame as it
// is: of the frame's size, column x and row y of the frame on column x and
// row y of the picture.
bool placedAsItIs(const Picture &s, const CoordTables &c) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    if (s.width != w || s.height != h) return false;
    for (int32_t x = 0; x < w; ++x)
        if (c.col[x] != x) return false;
    for (int32_t y = 0; y < h; ++y)
        if (c.row[y] != y) return false;
    return true;
}

// Resamples image map `which` (0 for map 1, 1 for map 2) from the picture
// of its job into imageMap1 or imageMap2; -1 when there is no room for the
// plane.
int32_t resampleImageMap(int32_t which, const MapJob &map, const RenderJob &job) {
    const CoordTables tables =
        which == 0
            ? CoordTables{engine.colCoords, engine.colFracs, engine.rowCoords, engine.rowFracs}
            : CoordTables{engine.colCoords2, engine.colFracs2, engine.rowCoords2, engine.rowFracs2};
    if (!tables.col || !tables.colFrac || !tables.row || !tables.rowFrac) {
        if (which == 1) engine.farFused = 0;
        return 0;
    }
    // Map 1 tints only the shape: with an empty mask there is nothing to tint.
    if (which == 0 && engine.edgeCount == 0 && engine.maskFull != 1) return 0;

    const Picture picture{map.image, static_cast<uint16_t>(map.imageWidth),
                          static_cast<uint16_t>(map.imageHeight)};
    const int32_t colScale = zoomScale(map.zoomX), rowScale = zoomScale(map.zoomY);
    // The zoomed offsets at full width: zoomScale x offset can pass 32 bits,
    // and the coordinate tables are built from the exact value.
    buildColumnCoords(colScale, tables.col, tables.colFrac, picture.width,
                      zoomedOffset(map.zoomX, map.offsetX));
    buildRowCoords(rowScale, tables.row, tables.rowFrac, picture.height,
                   zoomedOffset(map.zoomY, map.offsetY));

    // At zoom 0 on both axes, on a picture of at least 2 x 2, every footprint
    // is exactly one source pixel: the box average is that pixel itself.
    if (colScale == 128 && rowScale == 128 && picture.width > 1 && picture.height > 1) {
        const bool far = which == 1 && engine.farFused == 1;
        if (far) {
            // The output conversion reads the picture itself outside the near box.
            engine.farMapPixels = picture.pixels;
            engine.farMapWidth = picture.width;
        }
        // The shading reads only the colour bytes of a map: a picture placed
        // as it is serves as the plane itself when nothing writes the plane
        // again (a single run).
        uint32_t *&plane = which == 0 ? engine.imageMap1 : engine.imageMap2;
        if (job.singleRun == 1 && (!plane || engine.mapViewed[which] == 1) &&
            placedAsItIs(picture, tables)) {
            plane = const_cast<uint32_t *>(picture.pixels);
            engine.mapViewed[which] = 1;
            return 0;
        }
        if (!takeMapPlane(which)) return -1;
        const PixelRect frame{0, engine.frameWidth, 0, engine.frameHeight};
        copyOnePixelFootprints(picture, tables, far ? engine.nearBox : frame,
                               which == 0 ? engine.imageMap1 : engine.imageMap2);
        return 0;
    }
    // Map 2 resampled from several source pixels: the far region gives way to
    // the whole frame.
    if (which == 1) engine.farFused = 0;
    if (!takeMapPlane(which)) return -1;
    uint32_t *out = which == 0 ? engine.imageMap1 : engine.imageMap2;

    const Filter filter = chooseFilter(colScale, rowScale);
    const ColumnFootprints cols(tables.col, tables.colFrac, engine.frameWidth, picture.width);
    const size_t w = engine.frameWidth;
    // Each filter's row loops need their own scratch rows; when those cannot
    // be had the per-pixel loop of the same filter below gives the same
    // result.
    if (cols.valid() && filter == Filter::Bilinear) {
        uint32_t *across = static_cast<uint32_t *>(takeScratch(sizeof(uint32_t) * 2 * w));
        if (across) {
            resampleBilinear(picture, tables, cols, across, out);
            std::free(across);
            return 0;
        }
    } else if (cols.valid() && filter == Filter::RowSpans) {
        uint64_t *sums =
            static_cast<uint64_t *>(takeScratch(sizeof(uint64_t) * size_t(picture.width)));
        if (sums) {
            resampleRowSpans(picture, tables, cols, sums, out);
            std::free(sums);
            return 0;
        }
    } else if (cols.valid()) {
        const SpanColumns spans(cols, engine.frameWidth, picture.width);
        if (spans.valid()) {
            resampleSpans(filter, picture, tables, cols, spans, out);
            return 0;
        }
    }
    // Without room for the row loops every pixel builds its own footprint.
    switch (filter) {
    case Filter::Bilinear:
        resampleAll<Filter::Bilinear>(picture, tables, out);
        break;
    case Filter::ColumnSpans:
        resampleAll<Filter::ColumnSpans>(picture, tables, out);
        break;
    case Filter::RowSpans:
        resampleAll<Filter::RowSpans>(picture, tables, out);
        break;
    case Filter::Box:
        resampleAll<Filter::Box>(picture, tables, out);
        break;
    }
    return 0;
}

// One image map stage; which 0 is map 1, 1 map 2. A missing or empty
// picture leaves the map untinted; -1 when there is no room for its plane.
int32_t imageMapStage(const RenderJob &job, int32_t which) {
    const MapJob &map = job.map[which];
    engine.mapTints[which] = 0;
    if (map.on != 1) return 0;
    if (!map.image || map.imageWidth <= 0 || map.imageHeight <= 0) return 0;
    engine.mapTints[which] = 1;
    if (resampleImageMap(which, map, job) == 0) return 0;
    engine.mapTints[which] = 0;
    return -1;
}

} // namespace

int32_t imageMapStage1(const RenderJob &job) {
    return imageMapStage(job, 0);
}

int32_t imageMapStage2(const RenderJob &job) {
    return imageMapStage(job, 1);
}

} // namespace lustra
