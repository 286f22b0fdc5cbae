// The final shading as first written: every pixel composed back to front
// (background, shadow, glow, object) with every lookup computed where it is
// used. The fast stage (FinalShadingStage.cpp) must match it byte for byte.
#include "engine/reference/ShadingReference.h"

#include "engine/Blend.h"
#include "engine/Engine.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace lustra::reference {

namespace {

// The parameters the stage reads, copied from the job as the stage first did.
struct Parameters {
    FillJob fill[2];
    uint8_t fillZoom = 0;
    int32_t offsetX = 0, offsetY = 0;
    uint8_t glowEnabled = 0, glowOpacity = 0;
    Rgb glowColour1{}, glowColour2{};
    uint8_t shadowEnabled = 0, shadowOpacity = 0, shadowDistance = 0;
    Rgb shadowColour{};
} P;

void refreshShadingParameters(const RenderJob &job) {
    P.fillZoom = job.fillZoom;
    P.offsetX = job.offsetX;
    P.offsetY = job.offsetY;
    for (int f = 0; f < 2; ++f) P.fill[f] = job.fill[f];
    P.glowOpacity = job.glow.opacity;
    P.glowColour1 = job.glow.colour1;
    P.glowColour2 = job.glow.colour2;
    P.glowEnabled = job.glow.on;
    P.shadowOpacity = job.shadow.opacity;
    P.shadowColour = job.shadow.colour;
    P.shadowDistance = job.shadow.distance;
    P.shadowEnabled = job.shadow.on;
}

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
    FillTables fillTables[2];
    uint8_t glowRamp[3][256];
    uint8_t cosineLobe[kLobeSize];
    uint8_t highlightLobe[2][kLobeSize];
    std::vector<int32_t> colCoord[2], rowCoord[2]; // texel, reduced modulo the texture size
    std::vector<uint8_t> colFrac, rowFrac;         // sub-texel fractions (shared by both fills)
    std::vector<int32_t> lobeU, lobeV;             // lobe positions per column and row
    int32_t modulusU[2], modulusV[2];
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
    if (fill.mode > 3) return 0;
    if (fill.mode == 3 && (!fill.image || fill.imageWidth == 0 || fill.imageHeight == 0)) return 2;
    return fill.mode;
}

inline double highlightExponent(const FillJob &fill) {
    return fill.shininess * 0.5 + 1.0;
}

// Opacity percent as a weight: min(opacity, 100) x 255 / 100.
inline int32_t opacityWeight(uint8_t percent) {
    return (percent > 100 ? 100 : percent) * 255 / 100;
}

void buildShadingTables(ShadingPass &pass) {
    for (int f = 0; f < 2; ++f) {
        const FillJob &fill = P.fill[f];
        if (fill.mode == 0) continue;
        const double e = highlightExponent(fill);
        for (int32_t i = 0; i < 256; ++i) {
            const int32_t o = engine.cosineRamp[i * 255 / 256];
            const int32_t w = static_cast<int32_t>(255.0 * std::pow(o * 0.0039215686274, e));
            for (int k = 0; k < 3; ++k) {
                // (A x o + C x (255 - o)) >> 8 and (B x w) >> 8
                pass.fillTables[f].diffuse[k][i] = static_cast<uint8_t>(
                    (channelOf(fill.colourA, k) * o + channelOf(fill.colourC, k) * (255 - o)) >> 8);
                pass.fillTables[f].specular[k][i] =
                    static_cast<uint8_t>((channelOf(fill.colourB, k) * w) >> 8);
            }
        }
    }
    if (P.glowEnabled == 1) {
        const int32_t pg = opacityWeight(P.glowOpacity);
        for (int32_t i = 0; i < 256; ++i) {
            const int32_t r = ((pg * (i * 255 / 256)) >> 8) & 0xFF;
            for (int k = 0; k < 3; ++k)
                pass.glowRamp[k][i] = static_cast<uint8_t>(
                    (channelOf(P.glowColour1, k) * r + channelOf(P.glowColour2, k) * (255 - r)) >>
                    8);
        }
    }
}

void buildLobeTables(ShadingPass &pass) {
    const double exponents[2] = {highlightExponent(P.fill[0]), highlightExponent(P.fill[1])};
    for (int32_t i = 0; i < kLobeSize; ++i) {
        const long double c = cosl(static_cast<long double>(i) *
                                   static_cast<long double>(1.57079635) * 0.0009765625L);
        pass.cosineLobe[i] = static_cast<uint8_t>(static_cast<int32_t>(255.0L * c));
        const double single = static_cast<float>(c);
        for (int f = 0; f < 2; ++f)
            pass.highlightLobe[f][i] =
                static_cast<uint8_t>(static_cast<int32_t>(255.0 * std::pow(single, exponents[f])));
    }
}

// Texel coordinates and fractions per column and row, and the light lobe's
// positions; everything that depends on a column or a row alone.
void buildCoordinates(ShadingPass &pass) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight, n = engine.maxSide;
    const int32_t k = 255 - P.fillZoom;
    for (int f = 0; f < 2; ++f) {
        const FillJob &fill = P.fill[f];
        const bool picture = effectiveMode(fill) == 3;
        pass.modulusU[f] = picture ? fill.imageWidth : 256;
        pass.modulusV[f] = picture ? fill.imageHeight : 256;
        pass.colCoord[f].resize(w);
        pass.rowCoord[f].resize(h);
    }
    pass.colFrac.resize(w);
    pass.rowFrac.resize(h);
    pass.lobeU.resize(w);
    pass.lobeV.resize(h);

    const int32_t step = (k * kLobeScale) / n;
    const int64_t lobeOffsetX = clampRange(P.offsetX, -kLobeOffsetLimit, kLobeOffsetLimit);
    const int64_t lobeOffsetY = clampRange(P.offsetY, -kLobeOffsetLimit, kLobeOffsetLimit);
    for (int32_t x = 0; x < w; ++x) {
        const int32_t t = ((x - w / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.colCoord[f][x] = trueMod(int64_t(t >> 8) - P.offsetX + 127, pass.modulusU[f]);
        pass.colFrac[x] = static_cast<uint8_t>(t & 255);
        pass.lobeU[x] = wrap32(int64_t(x - w / 2) * step - lobeOffsetX * kLobeScale);
    }
    for (int32_t y = 0; y < h; ++y) {
        const int32_t t = ((y - h / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.rowCoord[f][y] = trueMod(int64_t(t >> 8) - P.offsetY + 127, pass.modulusV[f]);
        pass.rowFrac[y] = static_cast<uint8_t>(t & 255);
        pass.lobeV[y] = wrap32(int64_t(y - h / 2) * step - lobeOffsetY * kLobeScale);
    }

    pass.glowWeight = opacityWeight(P.glowOpacity);
    pass.shadowWeight = opacityWeight(P.shadowOpacity);
    pass.shadowShiftX = int64_t(P.shadowDistance) * P.offsetX / 100;
    pass.shadowShiftY = int64_t(P.shadowDistance) * P.offsetY / 100;
}

// Lobe index of a slope at a lobe position: |(slope x 2^19 + position) >> 16|,
// at most 1023 (32-bit arithmetic, shift before the absolute value).
inline int32_t lobeIndex(int32_t slope, int32_t position) {
    const int32_t shifted = wrap32(int64_t(slope) * kLobeScale + position) >> 16;
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

// The colour of fill F (0 object, 1 background) in mode M at pixel (x, y)
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
    } else if constexpr (M == 1) {
        // Light lobe: diffuse d mixes C toward A, highlight s adds B.
        const int32_t a = lobeIndex(dx, pass.lobeU[x]);
        const int32_t b = lobeIndex(dy, pass.lobeV[y]);
        const int32_t d = (pass.cosineLobe[b] * pass.cosineLobe[a]) >> 8;
        const int32_t s = (pass.highlightLobe[F][b] * pass.highlightLobe[F][a]) >> 8;
        const RgbChannels tint = map ? RgbChannels(*map) : RgbChannels(0x00FFFFFFu);
        for (int k = 0; k < 3; ++k) {
            const int32_t t = tint.c[k];
            const int32_t lit = (colours.c[k] * (255 - d) + colours.a[k] * d) >> 8;
            out[k] = clampHigh255((lit * t + colours.b[k] * s) >> 8);
        }
    } else {
        const int32_t mu = pass.modulusU[F], mv = pass.modulusV[F];
        const int32_t u = trueMod(int64_t(pass.colCoord[F][x]) + dx, mu);
        const int32_t v = trueMod(int64_t(pass.rowCoord[F][y]) + dy, mv);
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
                const int32_t top = (tr * fu + tl * (255 - fu)) >> 8;
                const int32_t bottom = (br * fu + bl * (255 - fu)) >> 8;
                j = (top * (255 - fv) + bottom * fv) >> 8;
            }
            const FillTables &tables = pass.fillTables[F];
            const RgbChannels tint = map ? RgbChannels(*map) : RgbChannels(0x00FFFFFFu);
            for (int k = 0; k < 3; ++k) {
                const int32_t t = tint.c[k];
                out[k] = clampHigh255(((tables.diffuse[k][j] * t) >> 8) + tables.specular[k][j]);
            }
        } else {
            // Picture: bilinear sample of the fill picture times the tint.
            const uint32_t *image = P.fill[F].image;
            const size_t row = size_t(v) * mu, rowNext = size_t(vNext) * mu;
            const RgbChannels tl(image[row + u]), tr(image[row + uNext]);
            const RgbChannels bl(image[rowNext + u]), br(image[rowNext + uNext]);
            const RgbChannels mapTint(map ? *map : 0u);
            for (int k = 0; k < 3; ++k) {
                const int32_t top = (tr.c[k] * fu + (255 - fu) * tl.c[k]) >> 8;
                const int32_t bottom = (br.c[k] * fu + (255 - fu) * bl.c[k]) >> 8;
                const int32_t t = map ? mapTint.c[k] : colours.a[k];
                out[k] = ((bottom * fv + (255 - fv) * top) * t) >> 16;
            }
        }
    }
}

// An image map tints its fill when its stage resampled a picture.
inline const uint32_t *tintMap(int which, const uint32_t *plane) {
    return engine.mapTints[which] == 1 ? plane : nullptr;
}

// The per-pixel pass for object fill mode M1 and background fill mode M2:
// background, shadow, glow and object, composed back to front.
template <int M1, int M2> void shadePixels(const ShadingPass &pass) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t border = engine.border;
    const int32_t paddedW = engine.paddedWidth, paddedH = engine.paddedHeight;
    const bool coverageValid = engine.edgeCount != 0 || engine.maskFull == 1;
    const bool texture1 = engine.textureOn[0] == 1, texture2 = engine.textureOn[1] == 1;
    const bool glowOn = P.glowEnabled == 1, shadowOn = P.shadowEnabled == 1;
    const uint32_t *map1 = tintMap(0, engine.imageMap1);
    const uint32_t *map2 = tintMap(1, engine.imageMap2);
    const int8_t *slopeX1 = texture1 ? engine.texturedSlopeX1 : engine.slopeX;
    const int8_t *slopeY1 = texture1 ? engine.texturedSlopeY1 : engine.slopeY;
    const FillColours object(P.fill[0]), background(P.fill[1]);
    const int32_t shadow[3] = {P.shadowColour.r, P.shadowColour.g, P.shadowColour.b};

    for (int32_t y = 0; y < h; ++y) {
        pollAbort(y);
        const uint8_t *maskRow = engine.mask + engine.paddedRowOffset[y];
        const size_t rowStart = size_t(engine.rowOffset[y]);
        uint32_t *out = engine.framePixels + rowStart;
        const int64_t sy = int64_t(border) + y + pass.shadowShiftY;
        const bool shadowRow = shadowOn && sy > 0 && sy < paddedH;
        const uint8_t *shadowMapRow = shadowRow ? engine.shadowMap + sy * paddedW : nullptr;
        for (int32_t x = 0; x < w; ++x) {
            const size_t p = rowStart + x;
            const int32_t c = coverageValid ? maskRow[x] : 0;
            int32_t fill1[3] = {0, 0, 0};
            if (c > 0)
                fillColour<0, M1>(pass, object, x, y, slopeX1[p], slopeY1[p],
                                  map1 ? map1 + p : nullptr, fill1);
            int32_t g = 0, s = 0, level = c;
            int32_t back[3] = {0, 0, 0};
            if (level < 255) {
                if (glowOn) {
                    g = (engine.glowMap[p] * pass.glowWeight) >> 8;
                    level = g;
                }
                if (level < 255 && shadowRow) {
                    const int64_t sx = int64_t(border) + x + pass.shadowShiftX;
                    if (sx > 0 && sx < paddedW) {
                        s = (shadowMapRow[sx] * pass.shadowWeight) >> 8;
                        level = s;
                    }
                }
                if (level < 255) {
                    const int32_t dx = texture2 ? engine.texturedSlopeX2[p] : 0;
                    const int32_t dy = texture2 ? engine.texturedSlopeY2[p] : 0;
                    fillColour<1, M2>(pass, background, x, y, dx, dy, map2 ? map2 + p : nullptr,
                                      back);
                }
            }
            for (int k = 0; k < 3; ++k) {
                if (s > 0) back[k] = lerp8(back[k], shadow[k], s);
                if (g > 0) back[k] = lerp8(back[k], pass.glowRamp[k][g], g);
                if (c > 0) back[k] = lerp8(back[k], fill1[k], c);
            }
            out[x] = (out[x] & 0xFF000000u) | (uint32_t(back[0] & 0xFF) << 16) |
                     (uint32_t(back[1] & 0xFF) << 8) | uint32_t(back[2] & 0xFF);
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
    const int backgroundMode = effectiveMode(P.fill[1]);
    switch (effectiveMode(P.fill[0])) {
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

// The whole stage as the reference computes it, on the engine's state.
int32_t finalShadingModel(const RenderJob &job) {
    refreshShadingParameters(job);
    if (!engine.framePixels || !engine.mask || engine.maxSide == 0) return 0;
    ShadingPass *pass = new (std::nothrow) ShadingPass();
    if (!pass) return -1;
    buildShadingTables(*pass);
    buildLobeTables(*pass);
    buildCoordinates(*pass);
    shade(*pass);
    delete pass;
    return 0;
}

} // namespace

int32_t finalShading(const RenderJob &job) {
    return finalShadingModel(job);
}

} // namespace lustra::reference
