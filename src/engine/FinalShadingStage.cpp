// Final shading and compositing: lights both fills from the surface slopes
// and builds the picture from back to front, one row at a time: the
// background fill across the row, the drop shadow and the glow where their
// weights are non-zero, and the object fill over the covered pixels with the
// coverage mask as its weight.
//
// The readable per-pixel model, which the tests match this stage against
// byte for byte: engine/reference/ShadingReference.cpp.
#include "engine/Blend.h"
#include "engine/Engine.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace lustra {

namespace {

constexpr int32_t kLobeSize = 1024;
constexpr int32_t kLobeScale = 524288; // 2^19: lobe positions in 1/2^19 texel

// Offsets beyond this make offset x 2^19 leave the signed 32-bit range; the
// lobe is already dark 128 texels away, so larger offsets are held here.
constexpr int32_t kLobeOffsetLimit = 4095;

struct FillTables {
    uint8_t diffuse[3][256];  // light-weighted mix of colour C and colour A
    uint8_t specular[3][256]; // colour B scaled by the highlight curve
};

// Everything the pixel loop looks up, built once per call.
struct ShadingPass {
    const RenderJob *job; // the light, the fills, the glow and the shadow
    FillTables fillTables[2];
    uint32_t glowRamp[256]; // the glow colour at each glow weight, as an RGB work pixel
    uint8_t cosineLobe[kLobeSize];
    uint8_t highlightLobe[2][kLobeSize];
    uint32_t lobePairs[2][kLobeSize];              // cosine lobe | fill F's highlight lobe << 16
    std::vector<int32_t> colCoord[2], rowCoord[2]; // texel, reduced modulo the texture size
    std::vector<uint8_t> colFrac, rowFrac;         // sub-texel fractions (shared by both fills)
    std::vector<int32_t> lobeU, lobeV;             // lobe positions per column and row
    int32_t modulusU[2], modulusV[2];
    const uint32_t *fillImage[2];     // each fill's picture (read in picture mode only)
    int32_t glowWeight, shadowWeight; // opacity x 255 / 100
    int64_t shadowShiftX, shadowShiftY;
};

// Channel k of a colour triple: 0 red, 1 green, 2 blue.
inline int32_t channelOf(const Rgb &c, int k) {
    return k == 0 ? c.r : (k == 1 ? c.g : c.b);
}

// The red, green and blue bytes of an RGB work pixel, in that order.
struct RgbChannels {
    int32_t c[3];
    explicit RgbChannels(uint32_t p)
        : c{static_cast<int32_t>((p >> 16) & 0xFF), static_cast<int32_t>((p >> 8) & 0xFF),
            static_cast<int32_t>(p & 0xFF)} {}
};

// A fill of mode 3 without a usable picture shades as metal (mode 2).
inline uint8_t effectiveMode(const FillJob &fill) {
    if (fill.mode > kFillPicture) return kFillPlain;
    if (fill.mode == kFillPicture && (!fill.image || fill.imageWidth == 0 || fill.imageHeight == 0))
        return kFillMetal;
    return fill.mode;
}

} // namespace

namespace {

inline double highlightExponent(const FillJob &fill) {
    return fill.shininess * 0.5 + 1.0;
}

// Opacity percent as a weight: min(opacity, 100) x 255 / 100.
inline int32_t opacityWeight(uint8_t percent) {
    return (percent > 100 ? 100 : percent) * 255 / 100;
}

void buildShadingTables(ShadingPass &pass) {
    const RenderJob &job = *pass.job;
    for (int f = 0; f < 2; ++f) {
        const FillJob &fill = job.fill[f];
        if (fill.mode == 0) continue;
        const double e = highlightExponent(fill);
        for (int32_t i = 0; i < 256; ++i) {
            const int32_t o = engine.cosineRamp[i * 255 / 256];
            const int32_t w = static_cast<int32_t>(255.0 * std::pow(o * 0.0039215686274, e));
            for (int k = 0; k < 3; ++k) {
                // (A x o + C x (255 - o)) >> 8 and (B x w) >> 8
                pass.fillTables[f].diffuse[k][i] = static_cast<uint8_t>(
                    lerp8(channelOf(fill.colourC, k), channelOf(fill.colourA, k), o));
                pass.fillTables[f].specular[k][i] =
                    static_cast<uint8_t>((channelOf(fill.colourB, k) * w) >> 8);
            }
        }
    }
    if (job.glow.on == 1) {
        const int32_t pg = opacityWeight(job.glow.opacity);
        for (int32_t i = 0; i < 256; ++i) {
            const int32_t r = ((pg * (i * 255 / 256)) >> 8) & 0xFF;
            // (G1 x r + G2 x (255 - r)) >> 8 per channel
            const auto mix = [r](int32_t g1, int32_t g2) { return lerp8(g2, g1, r); };
            const Rgb &g1 = job.glow.colour1, &g2 = job.glow.colour2;
            pass.glowRamp[i] = packRgb(mix(g1.r, g2.r), mix(g1.g, g2.g), mix(g1.b, g2.b));
        }
    }
}

void buildLobeTables(ShadingPass &pass) {
    const double exponents[2] = {highlightExponent(pass.job->fill[0]),
                                 highlightExponent(pass.job->fill[1])};
    for (int32_t i = 0; i < kLobeSize; ++i) {
        const long double c = cosl(static_cast<long double>(i) *
                                   static_cast<long double>(1.57079635) * 0.0009765625L);
        pass.cosineLobe[i] = static_cast<uint8_t>(static_cast<int32_t>(255.0L * c));
        const double single = static_cast<float>(c);
        for (int f = 0; f < 2; ++f) {
            pass.highlightLobe[f][i] =
                static_cast<uint8_t>(static_cast<int32_t>(255.0 * std::pow(single, exponents[f])));
            pass.lobePairs[f][i] = pass.cosineLobe[i] | uint32_t(pass.highlightLobe[f][i]) << 16;
        }
    }
}

// Texel coordinates and fractions per column and row, and the light lobe's
// positions; everything that depends on a column or a row alone.
void buildCoordinates(ShadingPass &pass) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight, n = engine.maxSide;
    const RenderJob &job = *pass.job;
    const int32_t k = 255 - job.fillZoom;
    for (int f = 0; f < 2; ++f) {
        const FillJob &fill = job.fill[f];
        const bool picture = effectiveMode(fill) == 3;
        pass.modulusU[f] = picture ? static_cast<uint16_t>(fill.imageWidth) : 256;
        pass.modulusV[f] = picture ? static_cast<uint16_t>(fill.imageHeight) : 256;
        pass.fillImage[f] = fill.image;
        pass.colCoord[f].resize(w);
        pass.rowCoord[f].resize(h);
    }
    pass.colFrac.resize(w);
    pass.rowFrac.resize(h);
    pass.lobeU.resize(w);
    pass.lobeV.resize(h);

    const int32_t step = (k * kLobeScale) / n;
    const int64_t lobeOffsetX = clampRange(job.offsetX, -kLobeOffsetLimit, kLobeOffsetLimit);
    const int64_t lobeOffsetY = clampRange(job.offsetY, -kLobeOffsetLimit, kLobeOffsetLimit);
    for (int32_t x = 0; x < w; ++x) {
        const int32_t t = ((x - w / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.colCoord[f][x] = trueMod(int64_t(t >> 8) - job.offsetX + 127, pass.modulusU[f]);
        pass.colFrac[x] = static_cast<uint8_t>(t & 255);
        pass.lobeU[x] = wrap32(int64_t(x - w / 2) * step - lobeOffsetX * kLobeScale);
    }
    for (int32_t y = 0; y < h; ++y) {
        const int32_t t = ((y - h / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.rowCoord[f][y] = trueMod(int64_t(t >> 8) - job.offsetY + 127, pass.modulusV[f]);
        pass.rowFrac[y] = static_cast<uint8_t>(t & 255);
        pass.lobeV[y] = wrap32(int64_t(y - h / 2) * step - lobeOffsetY * kLobeScale);
    }

    pass.glowWeight = opacityWeight(job.glow.opacity);
    pass.shadowWeight = opacityWeight(job.shadow.opacity);
    pass.shadowShiftX = int64_t(job.shadow.distance) * job.offsetX / 100;
    pass.shadowShiftY = int64_t(job.shadow.distance) * job.offsetY / 100;
}

// Lobe index of a slope at a lobe position: |(slope x 2^19 + position) >> 16|,
// at most 1023 (32-bit arithmetic that wraps, shift before the absolute
// value). The sum is formed unsigned, which wraps alike and vectorises.
inline int32_t lobeIndex(int32_t slope, int32_t position) {
    const int32_t shifted =
        wrap32(uint32_t(slope) * uint32_t(kLobeScale) + uint32_t(position)) >> 16;
    const int32_t magnitude = shifted < 0 ? -shifted : shifted;
    return magnitude > kLobeSize - 1 ? kLobeSize - 1 : magnitude;
}

// A fill's colours as channel arrays (0 red, 1 green, 2 blue).
struct FillColours {
    int32_t a[3], b[3], c[3];
    explicit FillColours(const FillJob &fill) {
        for (int k = 0; k < 3; ++k) {
            a[k] = channelOf(fill.colourA, k);
            b[k] = channelOf(fill.colourB, k);
            c[k] = channelOf(fill.colourC, k);
        }
    }
};

// Texel coordinate c (0 .. m - 1) moved by slope d: (c + d) mod m, true
// modulo; only a move past either end needs the division.
inline int32_t shiftTexel(int32_t c, int32_t d, int32_t m) {
    const int32_t moved = c + d;
    return moved >= 0 && moved < m ? moved : trueMod(moved, m);
}

// The colour of fill F (0 object, 1 background) in mode M (0, 2 or 3) at pixel (x, y)
// with slopes (dx, dy); `map` is the fill's image-map pixel or null.
template <int F, int M>
inline void fillColour(const ShadingPass &pass, const FillColours &colours, int32_t x, int32_t y,
                       int32_t dx, int32_t dy, const uint32_t *map, int32_t out[3]) {
    if constexpr (M == 0) {
        // Plain: colour A, tinted (M x A) >> 8 by an image map.
        if (map) {
            const RgbChannels m(*map);
            for (int k = 0; k < 3; ++k) out[k] = mul8(m.c[k], colours.a[k]);
        } else {
            for (int k = 0; k < 3; ++k) out[k] = colours.a[k];
        }
    } else {
        static_assert(M == 2 || M == 3, "the light lobe (mode 1) shades whole rows: lobeRow");
        // The metal texture is 256 x 256; a picture has its own size.
        const int32_t mu = M == 2 ? 256 : pass.modulusU[F], mv = M == 2 ? 256 : pass.modulusV[F];
        const int32_t u = shiftTexel(pass.colCoord[F][x], dx, mu);
        const int32_t v = shiftTexel(pass.rowCoord[F][y], dy, mv);
        const int32_t uNext = u + 1 == mu ? 0 : u + 1;
        const int32_t vNext = v + 1 == mv ? 0 : v + 1;
        const int32_t fu = pass.colFrac[x], fv = pass.rowFrac[y];
        if constexpr (M == 2) {
            // Metal: the environment intensity j, bilinear (object: / 255,
            // background: >> 8), through the diffuse and specular tables.
            const uint8_t *metal = engine.metalTexture;
            const int32_t tl = metal[v * 256 + u], tr = metal[v * 256 + uNext];
            const int32_t bl = metal[vNext * 256 + u], br = metal[vNext * 256 + uNext];
            int32_t j;
            if constexpr (F == 0) {
                const int32_t top = (tr * fu + tl * (255 - fu)) / 255;
                const int32_t bottom = (br * fu + bl * (255 - fu)) / 255;
                j = (top * (255 - fv) + bottom * fv) / 255;
            } else {
                j = lerp8(lerp8(tl, tr, fu), lerp8(bl, br, fu), fv);
            }
            const FillTables &tables = pass.fillTables[F];
            const RgbChannels tint = map ? RgbChannels(*map) : RgbChannels(0x00FFFFFFu);
            for (int k = 0; k < 3; ++k) {
                const int32_t t = tint.c[k];
                out[k] = clampHigh255(((tables.diffuse[k][j] * t) >> 8) + tables.specular[k][j]);
            }
        } else {
            // Picture: bilinear sample of the fill picture times the tint.
            const uint32_t *image = pass.fillImage[F];
            const size_t row = size_t(v) * mu, rowNext = size_t(vNext) * mu;
            const RgbChannels tl(image[row + u]), tr(image[row + uNext]);
            const RgbChannels bl(image[rowNext + u]), br(image[rowNext + uNext]);
            const RgbChannels mapTint(map ? *map : 0u);
            for (int k = 0; k < 3; ++k) {
                const int32_t top = lerp8(tl.c[k], tr.c[k], fu);
                const int32_t bottom = lerp8(bl.c[k], br.c[k], fu);
                const int32_t t = map ? mapTint.c[k] : colours.a[k];
                out[k] = ((bottom * fv + (255 - fv) * top) * t) >> 16;
            }
        }
    }
}

// The fourth byte of a work pixel, which the shading keeps.
constexpr uint32_t kFourthByte = 0xFF000000u;

// lerp8 of each channel of `pixel` toward `colour` with weight w (0..255),
// keeping the pixel's fourth byte.
inline uint32_t blendPixel(uint32_t pixel, uint32_t colour, int32_t w) {
    return (pixel & kFourthByte) | lerpRgb(pixel, colour, uint32_t(w));
}

// One channel of the light lobe: diffuse weight d mixes C toward A, the
// tint t scales it and highlight s adds B:
// min(255, ((((C x (255 - d) + A x d) >> 8) x t + B x s) >> 8), the mix
// formed as 255 C + (A - C) d (the same sum with one product).
inline int32_t lobeChannel(int32_t a, int32_t b, int32_t c, int32_t d, int32_t s, int32_t t) {
    const int32_t lit = (c * 255 + (a - c) * d) >> 8;
    return clampHigh255((lit * t + b * s) >> 8);
}

// How a fill meets the pixels beneath it: it replaces them (a background),
// blends toward them with their coverage, or lies on fully covered pixels
// (lerp8 with weight 255, which keeps nothing of what lies beneath).
enum class Lay { Replace, Blend, Opaque };

// A fill colour laid on a pixel as L says, keeping the pixel's fourth byte.
template <Lay L> inline uint32_t layFill(uint32_t pixel, uint32_t fill, int32_t coverage) {
    if constexpr (L == Lay::Replace) return (pixel & kFourthByte) | fill;
    if constexpr (L == Lay::Blend) return blendPixel(pixel, fill, coverage);
    return blendPixel(pixel, fill, 255);
}

// The light-lobe fill (mode 1) at one pixel with slopes (dx, dy) and lobe
// positions (u, v), laid on `pixel` as L says. Lobe index a comes from dx
// and u, b from dy and v; `lobe` pairs the cosine lobe (low half) with the
// fill's highlight lobe (high half).
template <Lay L>
inline uint32_t lobePixel(const uint32_t *lobe, int32_t dx, int32_t dy, int32_t u, int32_t v,
                          uint32_t tint, const FillColours &colours, uint32_t pixel,
                          int32_t coverage) {
    const uint32_t across = lobe[lobeIndex(dx, u)];
    const uint32_t down = lobe[lobeIndex(dy, v)];
    // d = (cosine(b) x cosine(a)) >> 8, s = (highlight(b) x highlight(a)) >> 8
    const int32_t d = int32_t(((down & 0xFFFF) * (across & 0xFFFF)) >> 8);
    const int32_t s = int32_t(((down >> 16) * (across >> 16)) >> 8);
    const uint32_t fill =
        packRgb(lobeChannel(colours.a[0], colours.b[0], colours.c[0], d, s, pixelRed(tint)),
                lobeChannel(colours.a[1], colours.b[1], colours.c[1], d, s, pixelGreen(tint)),
                lobeChannel(colours.a[2], colours.b[2], colours.c[2], d, s, pixelBlue(tint)));
    return layFill<L>(pixel, fill, coverage);
}

// The light-lobe fill along a row segment, in a loop that vectorises. The
// slopes are 0 unless Sloped, the tint white unless Tinted; `coverage` is
// read only to blend.
template <bool Tinted, bool Sloped, Lay L>
LUSTRA_VECTOR_CLONES void lobeRow(const uint32_t *__restrict lobe, const int32_t *__restrict lobeU,
                                  int32_t lobeV, const int8_t *__restrict slopeX,
                                  const int8_t *__restrict slopeY, const uint32_t *__restrict map,
                                  const uint8_t *__restrict coverage, const FillColours colours,
                                  int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x)
        out[x] = lobePixel<L>(lobe, Sloped ? slopeX[x] : 0, Sloped ? slopeY[x] : 0, lobeU[x], lobeV,
                              Tinted ? map[x] : 0x00FFFFFFu, colours, out[x],
                              L == Lay::Blend ? coverage[x] : 255);
}

// Plain fill (mode 0) replacing a row segment: colour A (packed), or
// (M x A) >> 8 per channel under the image map when Tinted. When Shaded the
// shadow is laid over it in the same pass: weight s = (S x shadow weight)
// >> 8, and where s > 0 the pixel blends toward the shadow colour.
template <bool Tinted, bool Shaded>
LUSTRA_VECTOR_CLONES void plainRow(const uint32_t *__restrict map, uint32_t colour,
                                   const uint8_t *__restrict shadow, int32_t weight,
                                   uint32_t shadowColour, int32_t count, uint32_t *__restrict out) {
    const int32_t r = pixelRed(colour), g = pixelGreen(colour), b = pixelBlue(colour);
    for (int32_t x = 0; x < count; ++x) {
        const uint32_t m = Tinted ? map[x] : 0;
        const uint32_t fill =
            Tinted ? packRgb(mul8(pixelRed(m), r), mul8(pixelGreen(m), g), mul8(pixelBlue(m), b))
                   : colour;
        const uint32_t back = (out[x] & kFourthByte) | fill;
        if constexpr (Shaded) {
            const int32_t s = (shadow[x] * weight) >> 8;
            const uint32_t shaded = blendPixel(back, shadowColour, s);
            out[x] = s > 0 ? shaded : back;
        } else {
            out[x] = back;
        }
    }
}

// Shadow along a row segment: weight s = (S x shadow weight) >> 8; where
// s > 0 the pixel blends toward the shadow colour with weight s.
LUSTRA_VECTOR_CLONES void shadowRow(const uint8_t *__restrict shadow, int32_t weight,
                                    uint32_t colour, int32_t count, uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t s = (shadow[x] * weight) >> 8;
        const uint32_t blended = blendPixel(out[x], colour, s);
        out[x] = s > 0 ? blended : out[x];
    }
}

// Glow along a row segment: weight g = (G x glow weight) >> 8; where g > 0
// the pixel blends toward the glow ramp's colour at g with weight g.
LUSTRA_VECTOR_CLONES void glowRow(const uint8_t *__restrict glow, int32_t weight,
                                  const uint32_t *__restrict ramp, int32_t count,
                                  uint32_t *__restrict out) {
    for (int32_t x = 0; x < count; ++x) {
        const int32_t g = (glow[x] * weight) >> 8;
        const uint32_t blended = blendPixel(out[x], ramp[g], g);
        out[x] = g > 0 ? blended : out[x];
    }
}

// Where a fill reads along one row: its slopes (null: flat) and its
// image-map pixels (null: untinted), indexed by column.
struct FillRow {
    const int8_t *slopeX, *slopeY;
    const uint32_t *map;
};

// Spans shorter than this are shaded pixel by pixel rather than by a row
// loop, whose set-up would cost more than the pixels.
constexpr int32_t kShortSpan = 16;

// Fill F in mode M over columns [x0, x1) of row y, laid on the pixels as L
// says.
template <int F, int M, Lay L>
void fillSpan(const ShadingPass &pass, const FillColours &colours, const FillRow &row, int32_t y,
              const uint8_t *coverage, int32_t x0, int32_t x1, uint32_t *out) {
    const int32_t count = x1 - x0;
    if constexpr (M == 0 && L == Lay::Replace) {
        const uint32_t a = packRgb(colours.a[0], colours.a[1], colours.a[2]);
        if (row.map)
            plainRow<true, false>(row.map + x0, a, nullptr, 0, 0, count, out + x0);
        else
            plainRow<false, false>(nullptr, a, nullptr, 0, 0, count, out + x0);
    } else if constexpr (M == 1) {
        const uint32_t *lobe = pass.lobePairs[F];
        if (count < kShortSpan) {
            // A few pixels, as at the soft edge of a shape: one at a time.
            for (int32_t x = x0; x < x1; ++x)
                out[x] = lobePixel<L>(lobe, row.slopeX ? row.slopeX[x] : 0,
                                      row.slopeY ? row.slopeY[x] : 0, pass.lobeU[x], pass.lobeV[y],
                                      row.map ? row.map[x] : 0x00FFFFFFu, colours, out[x],
                                      L == Lay::Blend ? coverage[x] : 255);
            return;
        }
        const int32_t *lobeU = pass.lobeU.data() + x0;
        const int32_t v = pass.lobeV[y];
        const uint8_t *weights = L == Lay::Blend ? coverage + x0 : nullptr;
        if (row.map && row.slopeX)
            lobeRow<true, true, L>(lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, row.map + x0,
                                   weights, colours, count, out + x0);
        else if (row.map)
            lobeRow<true, false, L>(lobe, lobeU, v, nullptr, nullptr, row.map + x0, weights,
                                    colours, count, out + x0);
        else if (row.slopeX)
            lobeRow<false, true, L>(lobe, lobeU, v, row.slopeX + x0, row.slopeY + x0, nullptr,
                                    weights, colours, count, out + x0);
        else
            lobeRow<false, false, L>(lobe, lobeU, v, nullptr, nullptr, nullptr, weights, colours,
                                     count, out + x0);
    } else {
        for (int32_t x = x0; x < x1; ++x) {
            int32_t fill[3];
            fillColour<F, M>(pass, colours, x, y, row.slopeX ? row.slopeX[x] : 0,
                             row.slopeY ? row.slopeY[x] : 0, row.map ? row.map + x : nullptr, fill);
            const uint32_t colour = packRgb(fill[0], fill[1], fill[2]);
            out[x] = layFill<L>(out[x], colour, L == Lay::Blend ? coverage[x] : 255);
        }
    }
}

// The shadow along one row: its shadow-map row (null when the row has no
// shadow), the offset R + shift from a frame column to its shadow-map
// column, the frame columns [first, end) whose shadow-map column lies in
// 1 .. paddedW - 1, the weight and the colour.
struct ShadowReach {
    const uint8_t *row;
    int64_t offset, first, end;
    int32_t weight;
    uint32_t colour;
};

// The background fill of mode M replacing columns [x0, x1) of row y, with
// the shadow laid over it where it reaches; a plain background takes its
// shadow in the same pass.
template <int M>
void layBackground(const ShadingPass &pass, const FillColours &colours, const FillRow &row,
                   const ShadowReach &shadow, int32_t y, int32_t x0, int32_t x1, uint32_t *out) {
    const int64_t reachFirst = shadow.first > x0 ? shadow.first : x0;
    const int64_t reachEnd = shadow.end < x1 ? shadow.end : x1;
    if (!shadow.row || reachFirst >= reachEnd)
        return fillSpan<1, M, Lay::Replace>(pass, colours, row, y, nullptr, x0, x1, out);
    const int32_t first = int32_t(reachFirst), end = int32_t(reachEnd);
    const uint8_t *weights = shadow.row + shadow.offset + first;
    if constexpr (M == 0) {
        const uint32_t a = packRgb(colours.a[0], colours.a[1], colours.a[2]);
        fillSpan<1, M, Lay::Replace>(pass, colours, row, y, nullptr, x0, first, out);
        if (row.map)
            plainRow<true, true>(row.map + first, a, weights, shadow.weight, shadow.colour,
                                 end - first, out + first);
        else
            plainRow<false, true>(nullptr, a, weights, shadow.weight, shadow.colour, end - first,
                                  out + first);
        fillSpan<1, M, Lay::Replace>(pass, colours, row, y, nullptr, end, x1, out);
    } else {
        fillSpan<1, M, Lay::Replace>(pass, colours, row, y, nullptr, x0, x1, out);
        shadowRow(weights, shadow.weight, shadow.colour, end - first, out + first);
    }
}

// Coverage scans: the first column from x on (count when none) whose
// coverage is full (255), not full, non-zero, or zero. The first three
// step over eight bytes at a time while none of them can match.
inline int32_t nextFull(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && !anyZeroByte(~eightBytes(coverage + x))) x += 8;
    while (x < count && coverage[x] != 255) ++x;
    return x;
}
inline int32_t nextNotFull(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && eightBytes(coverage + x) == ~uint64_t(0)) x += 8;
    while (x < count && coverage[x] == 255) ++x;
    return x;
}
inline int32_t nextCovered(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x + 8 <= count && eightBytes(coverage + x) == 0) x += 8;
    while (x < count && coverage[x] == 0) ++x;
    return x;
}
inline int32_t nextUncovered(const uint8_t *coverage, int32_t x, int32_t count) {
    while (x < count && coverage[x] != 0) ++x;
    return x;
}

// An image map tints its fill when its stage resampled a picture.
inline const uint32_t *tintMap(int which, const uint32_t *plane) {
    return engine.mapTints[which] == 1 ? plane : nullptr;
}

// The pass for object fill mode M1 and background fill mode M2, row by row.
// A row splits into runs of full coverage and runs below it. Below full
// coverage the picture is built from back to front: background, shadow,
// glow, and the object where covered. Under full coverage the object alone
// decides: lerp8 with weight 255 keeps nothing of what lies beneath, so
// background, shadow and glow are not computed there.
template <int M1, int M2> void shadePixels(const ShadingPass &pass) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t border = engine.border;
    const int32_t paddedW = engine.paddedWidth, paddedH = engine.paddedHeight;
    const bool coverageValid = engine.edgeCount != 0 || engine.maskFull == 1;
    const RenderJob &job = *pass.job;
    const bool texture1 = engine.textureOn[0] == 1, texture2 = engine.textureOn[1] == 1;
    const bool glowOn = job.glow.on == 1, shadowOn = job.shadow.on == 1;
    const uint32_t *map1 = tintMap(0, engine.imageMap1);
    const uint32_t *map2 = tintMap(1, engine.imageMap2);
    const int8_t *slopeX1 = texture1 ? engine.texturedSlopeX1 : engine.slopeX;
    const int8_t *slopeY1 = texture1 ? engine.texturedSlopeY1 : engine.slopeY;
    const FillColours object(job.fill[0]), background(job.fill[1]);
    ShadowReach shadow{};
    shadow.offset = int64_t(border) + pass.shadowShiftX;
    shadow.first = 1 - shadow.offset > 0 ? 1 - shadow.offset : 0;
    shadow.end = paddedW - shadow.offset < w ? paddedW - shadow.offset : w;
    shadow.weight = pass.shadowWeight;
    shadow.colour = packRgb(job.shadow.colour.r, job.shadow.colour.g, job.shadow.colour.b);

    // With a far region only the near box is shaded; the output conversion
    // lays the background fill on the rest.
    const bool far = engine.farFused == 1;
    const int32_t xBegin = far ? engine.nearBox.x0 : 0, xEnd = far ? engine.nearBox.x1 : w;
    const int32_t yBegin = far ? engine.nearBox.y0 : 0, yEnd = far ? engine.nearBox.y1 : h;
    for (int32_t y = yBegin; y < yEnd; ++y) {
        pollAbort(y);
        const size_t rowStart = size_t(engine.rowOffset[y]);
        uint32_t *out = engine.framePixels + rowStart;
        const uint8_t *coverage = engine.mask + engine.paddedRowOffset[y];
        const FillRow objectRow{slopeX1 + rowStart, slopeY1 + rowStart,
                                map1 ? map1 + rowStart : nullptr};
        const FillRow backgroundRow{texture2 ? engine.texturedSlopeX2 + rowStart : nullptr,
                                    texture2 ? engine.texturedSlopeY2 + rowStart : nullptr,
                                    map2 ? map2 + rowStart : nullptr};
        const uint8_t *glow = engine.glowMap + rowStart;
        const int64_t sy = int64_t(border) + y + pass.shadowShiftY;
        shadow.row = shadowOn && sy > 0 && sy < paddedH ? engine.shadowMap + sy * paddedW : nullptr;

        for (int32_t x = xBegin; x < xEnd;) {
            // Below full coverage: background and shadow, glow, and the
            // object blended with the coverage where there is some.
            const int32_t open = coverageValid ? nextFull(coverage, x, xEnd) : xEnd;
            if (x < open) {
                layBackground<M2>(pass, background, backgroundRow, shadow, y, x, open, out);
                if (glowOn) glowRow(glow + x, pass.glowWeight, pass.glowRamp, open - x, out + x);
                for (int32_t c = coverageValid ? nextCovered(coverage, x, open) : open; c < open;) {
                    const int32_t end = nextUncovered(coverage, c, open);
                    fillSpan<0, M1, Lay::Blend>(pass, object, objectRow, y, coverage, c, end, out);
                    c = nextCovered(coverage, end, open);
                }
            }
            // Full coverage: the object alone.
            x = open < xEnd ? nextNotFull(coverage, open, xEnd) : xEnd;
            fillSpan<0, M1, Lay::Opaque>(pass, object, objectRow, y, coverage, open, x, out);
        }
    }
}

template <int M1> void shadeWithObjectMode(const ShadingPass &pass, int backgroundMode) {
    switch (backgroundMode) {
    case 0:
        return shadePixels<M1, 0>(pass);
    case 1:
        return shadePixels<M1, 1>(pass);
    case 2:
        return shadePixels<M1, 2>(pass);
    default:
        return shadePixels<M1, 3>(pass);
    }
}

void shade(const ShadingPass &pass) {
    const int backgroundMode = effectiveMode(pass.job->fill[1]);
    switch (effectiveMode(pass.job->fill[0])) {
    case 0:
        return shadeWithObjectMode<0>(pass, backgroundMode);
    case 1:
        return shadeWithObjectMode<1>(pass, backgroundMode);
    case 2:
        return shadeWithObjectMode<2>(pass, backgroundMode);
    default:
        return shadeWithObjectMode<3>(pass, backgroundMode);
    }
}

} // namespace

int32_t finalShadingStage(const RenderJob &job) {
    if (!engine.framePixels || !engine.mask || engine.maxSide == 0) return 0;
    ShadingPass *pass = new (std::nothrow) ShadingPass();
    if (!pass) return -1;
    pass->job = &job;
    try {
        buildShadingTables(*pass);
        buildLobeTables(*pass);
        buildCoordinates(*pass);
    } catch (const std::bad_alloc &) {
        delete pass;
        return -1;
    }
    shade(*pass);
    delete pass;
    return 0;
}

} // namespace lustra
