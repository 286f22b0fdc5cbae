// The surface texture and image map stages as first written: every frame
// pixel builds its footprint from the coordinate tables and samples it texel
// by texel. The fast stages (SurfaceTextureStage.cpp, ImageMapStage.cpp)
// must match them byte for byte.
#include "engine/reference/SurfaceReference.h"

#include "engine/Blend.h"
#include "engine/Engine.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace lustra::reference {

namespace {

int32_t zoomScale(int8_t zoom) {
    if (zoom == 0) return 128;
    if (zoom > 0) return (((128 - zoom) * 3) >> 2) + 32;
    return 128 - 3 * zoom;
}

int64_t zoomedOffset(int8_t zoom, int32_t offset) {
    return static_cast<int64_t>(zoomScale(zoom)) * offset;
}

inline int64_t floorDiv128(int64_t a) {
    return a >= 0 ? a / 128 : -((-a + 127) / 128);
}

// Texel and fraction of entries 0..count around the centre entry count / 2.
void buildCoords(int32_t count, int32_t scale, std::vector<int32_t> &coords,
                 std::vector<int32_t> &fracs, int32_t modulus, int64_t offset) {
    coords.assign(count + 1, 0);
    fracs.assign(count + 1, 0);
    const int32_t centre = count / 2;
    for (int32_t i = 0; i <= count; ++i) {
        const int64_t d = static_cast<int64_t>(i - centre) * scale + offset;
        const int64_t whole = floorDiv128(d);
        int64_t m = (centre + whole) % modulus;
        if (m < 0) m += modulus;
        coords[i] = static_cast<int32_t>(m);
        fracs[i] = static_cast<uint8_t>(2 * (d - whole * 128));
    }
}

inline int32_t spanLength(int32_t a, int32_t b, int32_t size) {
    return b < a ? b + size - a : b - a;
}

inline int32_t nextWrapped(int32_t c, int32_t size) {
    return c + 1 == size ? 0 : c + 1;
}

struct Footprint {
    int32_t u, uNext, fu, colSpan;
    int32_t v, vNext, fv, rowSpan;
};

enum Filter { Bilinear, ColumnSpans, RowSpans, Area };

Filter chooseFilter(int32_t colScale, int32_t rowScale) {
    if (colScale < 128) return rowScale < 128 ? Bilinear : RowSpans;
    return rowScale < 128 ? ColumnSpans : Area;
}

struct Texture {
    std::vector<uint8_t> heights;
    std::vector<int8_t> gx, gy;
    int32_t width = 0, height = 0;
    uint8_t accepted[256];

    bool inWindow(size_t i) const { return accepted[heights[i]] != 0; }
    void at(size_t i, int32_t &x, int32_t &y) const {
        x = inWindow(i) ? gx[i] : 0;
        y = inWindow(i) ? gy[i] : 0;
    }
};

// Filtered gradient times depth at one footprint.
void sample(Filter filter, const Texture &t, const Footprint &f, int32_t depth, int32_t &outX,
            int32_t &outY) {
    const int32_t w = t.width;
    if (filter == Bilinear) {
        int32_t ax, ay, bx, by, cx, cy, dx, dy;
        t.at(size_t(f.v) * w + f.u, ax, ay);
        t.at(size_t(f.v) * w + f.uNext, bx, by);
        t.at(size_t(f.vNext) * w + f.u, cx, cy);
        t.at(size_t(f.vNext) * w + f.uNext, dx, dy);
        const int32_t fu = f.fu, fv = f.fv;
        const int32_t topX = (bx * fu + (255 - fu) * ax) >> 8;
        const int32_t bottomX = (dx * fu + (255 - fu) * cx) >> 8;
        const int32_t topY = (by * fu + (255 - fu) * ay) >> 8;
        const int32_t bottomY = (dy * fu + (255 - fu) * cy) >> 8;
        outX = ((bottomX * fv + (255 - fv) * topX) * depth) >> 16;
        outY = ((bottomY * fv + (255 - fv) * topY) * depth) >> 16;
        return;
    }
    if (filter == ColumnSpans || filter == RowSpans) {
        const bool cols = filter == ColumnSpans;
        const int32_t span = cols ? f.colSpan : f.rowSpan;
        int32_t a0x = 0, a0y = 0, a1x = 0, a1y = 0;
        if (span > 0) {
            int32_t s0x = 0, s0y = 0, s1x = 0, s1y = 0;
            int32_t c = cols ? f.u : f.v;
            for (int32_t n = 0; n < span; ++n) {
                const size_t i0 = cols ? size_t(f.v) * w + c : size_t(c) * w + f.u;
                const size_t i1 = cols ? size_t(f.vNext) * w + c : size_t(c) * w + f.uNext;
                int32_t x0, y0, x1, y1;
                t.at(i0, x0, y0);
                t.at(i1, x1, y1);
                s0x += x0, s0y += y0, s1x += x1, s1y += y1;
                c = nextWrapped(c, cols ? t.width : t.height);
            }
            a0x = s0x / span, a0y = s0y / span, a1x = s1x / span, a1y = s1y / span;
        }
        const int32_t fr = cols ? f.fv : f.fu;
        outX = ((a1x * fr + (255 - fr) * a0x) * depth) >> 16;
        outY = ((a1y * fr + (255 - fr) * a0y) * depth) >> 16;
        return;
    }
    int32_t sumX = 0, sumY = 0, count = 0;
    int32_t r = f.v;
    for (int32_t m = 0; m < f.rowSpan; ++m, r = nextWrapped(r, t.height)) {
        int32_t c = f.u;
        for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, t.width)) {
            const size_t i = size_t(r) * w + c;
            if (!t.inWindow(i)) continue;
            sumX += t.gx[i];
            sumY += t.gy[i];
            ++count;
        }
    }
    outX = outY = 0;
    if (count == 0) return;
    outX = (depth * (sumX / count)) >> 8;
    outY = (depth * (sumY / count)) >> 8;
}

void stretch(std::vector<int8_t> &plane, int32_t minimum, int32_t maximum) {
    if (minimum == maximum) return;
    for (int8_t &g : plane) g = int8_t((g - minimum) * 255 / (maximum - minimum) - 128);
}

// Heights and gradients of a picture texture.
void buildPicture(const uint32_t *picture, int32_t w, int32_t h, Texture &t) {
    const size_t count = size_t(w) * h;
    t.width = w, t.height = h;
    t.heights.assign(count, 0);
    t.gx.assign(count, 0);
    t.gy.assign(count, 0);
    int32_t minimum = 255, maximum = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t v =
            std::max(pixelBlue(picture[i]), std::max(pixelGreen(picture[i]), pixelRed(picture[i])));
        t.heights[i] = uint8_t(v);
        minimum = std::min(minimum, v), maximum = std::max(maximum, v);
    }
    if (minimum != maximum)
        for (uint8_t &v : t.heights) v = uint8_t((v - minimum) * 255 / (maximum - minimum));
    int32_t minX = 127, maxX = -128, minY = 127, maxY = -128;
    auto H = [&](int32_t u, int32_t v) {
        return int32_t(t.heights[size_t((v + h) % h) * w + (u + w) % w]);
    };
    for (int32_t v = 0; v < h; ++v)
        for (int32_t u = 0; u < w; ++u) {
            const int32_t gx = (H(u - 1, v - 1) + H(u - 1, v) + H(u - 1, v + 1) - H(u + 1, v - 1) -
                                H(u + 1, v) - H(u + 1, v + 1)) /
                               6;
            const int32_t gy = (H(u - 1, v - 1) + H(u, v - 1) + H(u + 1, v - 1) - H(u - 1, v + 1) -
                                H(u, v + 1) - H(u + 1, v + 1)) /
                               6;
            t.gx[size_t(v) * w + u] = int8_t(gx);
            t.gy[size_t(v) * w + u] = int8_t(gy);
            minX = std::min(minX, gx), maxX = std::max(maxX, gx);
            minY = std::min(minY, gy), maxY = std::max(maxY, gy);
        }
    stretch(t.gx, minX, maxX);
    stretch(t.gy, minY, maxY);
}

const char *const kPatternNames[4] = {"normal.pat", "fractal.pat", "turbulence.pat",
                                      "fracturb.pat"};

// A pattern texture from its file: heights, gradients over the wrapped 3 x 3
// neighbourhood over 6, each plane stretched to -128..127 (all 0 if flat).
bool loadPatternFile(const std::string &path, Texture &t) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    const size_t read = std::fread(t.heights.data(), 1, 65536, file);
    std::fclose(file);
    if (read != 65536) return false;
    auto H = [&](int32_t x, int32_t y) { return int32_t(t.heights[(y & 255) * 256 + (x & 255)]); };
    int32_t minX = 127, maxX = -128, minY = 127, maxY = -128;
    for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x) {
            const int32_t gx = (H(x - 1, y) + H(x - 1, y - 1) + H(x - 1, y + 1) - H(x + 1, y) -
                                H(x + 1, y - 1) - H(x + 1, y + 1)) /
                               6;
            const int32_t gy = (H(x, y - 1) + H(x - 1, y - 1) + H(x + 1, y - 1) - H(x, y + 1) -
                                H(x - 1, y + 1) - H(x + 1, y + 1)) /
                               6;
            t.gx[y * 256 + x] = int8_t(gx), t.gy[y * 256 + x] = int8_t(gy);
            minX = std::min(minX, gx), maxX = std::max(maxX, gx);
            minY = std::min(minY, gy), maxY = std::max(maxY, gy);
        }
    for (auto [plane, lo, hi] :
         {std::make_tuple(&t.gx, minX, maxX), std::make_tuple(&t.gy, minY, maxY)})
        for (int8_t &g : *plane) g = lo == hi ? 0 : int8_t((g - lo) * 255 / (hi - lo) - 128);
    return true;
}

// Texture stage `index` on the engine's mask, bounds and slopes, writing
// into outX and outY (which hold the planes' previous bytes).
void textureStageModel(const std::string &directory, int32_t index, const TextureCase &s,
                       std::vector<int8_t> &outX, std::vector<int8_t> &outY) {
    if (s.on != 1) return;
    if (index == 0 && engine.edgeCount == 0 && engine.maskFull != 1) return;
    Texture t;
    if (s.type == 4) {
        if (!s.image || s.imageWidth <= 0 || s.imageHeight <= 0) return;
        buildPicture(s.image, s.imageWidth, s.imageHeight, t);
    } else {
        t.width = t.height = 256;
        t.heights.assign(65536, 0);
        t.gx.assign(65536, 0);
        t.gy.assign(65536, 0);
        if (!loadPatternFile(directory + kPatternNames[s.type], t)) return;
    }
    if (s.invert == 1) {
        for (uint8_t &v : t.heights) v = uint8_t(255 - v);
        for (int8_t &g : t.gx) g = int8_t(-g - 1);
        for (int8_t &g : t.gy) g = int8_t(-g - 1);
    }
    for (int32_t v = 0; v < 256; ++v) t.accepted[v] = v >= s.heightMin && v <= s.heightMax;

    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t colScale = zoomScale(s.zoomX), rowScale = zoomScale(s.zoomY);
    std::vector<int32_t> col, colFrac, row, rowFrac;
    buildCoords(w, colScale, col, colFrac, t.width, zoomedOffset(s.zoomX, s.offsetX));
    buildCoords(h, rowScale, row, rowFrac, t.height, zoomedOffset(s.zoomY, s.offsetY));
    const Filter filter = chooseFilter(colScale, rowScale);

    const bool object = index == 0;
    const int32_t x0 = object ? std::max<int32_t>(engine.boundsMinX, 0) : 0;
    const int32_t y0 = object ? std::max<int32_t>(engine.boundsMinY, 0) : 0;
    const int32_t x1 = object ? std::min<int32_t>(engine.boundsMaxX, w - 1) : w - 1;
    const int32_t y1 = object ? std::min<int32_t>(engine.boundsMaxY, h - 1) : h - 1;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
            const uint8_t coverage = engine.mask[engine.paddedRowOffset[y] + x];
            if (object ? coverage == 0 : coverage == 255) continue;
            Footprint f;
            f.u = col[x], f.uNext = nextWrapped(f.u, t.width), f.fu = colFrac[x];
            f.colSpan = spanLength(f.u, col[x + 1], t.width);
            f.v = row[y], f.vNext = nextWrapped(f.v, t.height), f.fv = rowFrac[y];
            f.rowSpan = spanLength(f.v, row[y + 1], t.height);
            int32_t gx, gy;
            sample(filter, t, f, s.depth, gx, gy);
            const size_t p = size_t(y) * w + x;
            const int32_t baseX = object ? engine.slopeX[p] : 0;
            const int32_t baseY = object ? engine.slopeY[p] : 0;
            outX[p] = int8_t(std::min(127, std::max(-128, baseX + gx)));
            outY[p] = int8_t(std::min(127, std::max(-128, baseY + gy)));
        }
}

// Blue, green and red of source pixel (u, v).
inline int32_t channel(const uint32_t *pixels, int32_t width, int32_t u, int32_t v, int k) {
    return int32_t((pixels[size_t(v) * width + u] >> (8 * k)) & 0xFF);
}

// Image map `which` (0 or 1) resampled into out, byte 3 kept.
void imageMapModel(int32_t which, const uint32_t *pixels, int32_t pw, int32_t ph, int8_t zoomX,
                   int8_t zoomY, int32_t offsetX, int32_t offsetY, std::vector<uint32_t> &out) {
    if (!pixels || pw <= 0 || ph <= 0) return;
    if (which == 0 && engine.edgeCount == 0 && engine.maskFull != 1) return;
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t colScale = zoomScale(zoomX), rowScale = zoomScale(zoomY);
    std::vector<int32_t> col, colFrac, row, rowFrac;
    buildCoords(w, colScale, col, colFrac, pw, zoomedOffset(zoomX, offsetX));
    buildCoords(h, rowScale, row, rowFrac, ph, zoomedOffset(zoomY, offsetY));
    const bool onePixel = colScale == 128 && rowScale == 128 && pw > 1 && ph > 1;
    const Filter filter = chooseFilter(colScale, rowScale);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            Footprint f;
            f.u = col[x], f.uNext = nextWrapped(f.u, pw), f.fu = colFrac[x];
            f.colSpan = spanLength(f.u, col[x + 1], pw);
            f.v = row[y], f.vNext = nextWrapped(f.v, ph), f.fv = rowFrac[y];
            f.rowSpan = spanLength(f.v, row[y + 1], ph);
            int32_t result[3];
            for (int k = 0; k < 3; ++k) {
                if (onePixel) {
                    result[k] = channel(pixels, pw, f.u, f.v, k);
                } else if (filter == Bilinear) {
                    const int32_t a = channel(pixels, pw, f.u, f.v, k);
                    const int32_t b = channel(pixels, pw, f.uNext, f.v, k);
                    const int32_t c = channel(pixels, pw, f.u, f.vNext, k);
                    const int32_t d = channel(pixels, pw, f.uNext, f.vNext, k);
                    const int32_t top = ((255 - f.fu) * a + f.fu * b) >> 8;
                    const int32_t bottom = ((255 - f.fu) * c + f.fu * d) >> 8;
                    result[k] = ((255 - f.fv) * top + f.fv * bottom) >> 8;
                } else if (filter == ColumnSpans || filter == RowSpans) {
                    const bool cols = filter == ColumnSpans;
                    const int32_t span = cols ? f.colSpan : f.rowSpan;
                    int32_t s0 = 0, s1 = 0, c = cols ? f.u : f.v;
                    for (int32_t n = 0; n < span; ++n) {
                        s0 +=
                            cols ? channel(pixels, pw, c, f.v, k) : channel(pixels, pw, f.u, c, k);
                        s1 += cols ? channel(pixels, pw, c, f.vNext, k)
                                   : channel(pixels, pw, f.uNext, c, k);
                        c = nextWrapped(c, cols ? pw : ph);
                    }
                    const int32_t a0 = span > 0 ? s0 / span : 0, a1 = span > 0 ? s1 / span : 0;
                    const int32_t fr = cols ? f.fv : f.fu;
                    result[k] = (a1 * fr + (255 - fr) * a0) >> 8;
                } else {
                    const int32_t count = f.colSpan * f.rowSpan;
                    int32_t sum = 0, r = f.v;
                    for (int32_t m = 0; m < f.rowSpan; ++m, r = nextWrapped(r, ph)) {
                        int32_t c = f.u;
                        for (int32_t n = 0; n < f.colSpan; ++n, c = nextWrapped(c, pw))
                            sum += channel(pixels, pw, c, r, k);
                    }
                    result[k] = count == 0 ? 0 : sum / count;
                }
            }
            uint32_t &pixel = out[size_t(y) * w + x];
            pixel = (pixel & 0xFF000000u) | uint32_t(result[2]) << 16 | uint32_t(result[1]) << 8 |
                    uint32_t(result[0]);
        }
}

} // namespace

void textureStage(const std::string &directory, int32_t index, const TextureCase &s,
                  std::vector<int8_t> &outX, std::vector<int8_t> &outY) {
    textureStageModel(directory, index, s, outX, outY);
}

void imageMap(int32_t which, const uint32_t *pixels, int32_t pw, int32_t ph, int8_t zoomX,
              int8_t zoomY, int32_t offsetX, int32_t offsetY, std::vector<uint32_t> &out) {
    imageMapModel(which, pixels, pw, ph, zoomX, zoomY, offsetX, offsetY, out);
}

} // namespace lustra::reference
