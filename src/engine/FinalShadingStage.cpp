// Final shading and compositing: lights both fills from the surface slopes
// and builds the picture from back to front, one row at a time: the
// background fill across the row, the drop shadow and the glow where their
// weights are non-zero, and the object fill over the covered pixels with the
// coverage mask as its weight.
//
// The stage reads its parameters from the job, builds the tables and the
// per-column and per-row coordinates that the pixels look up, and hands
// each row to the row kernel of the two fills' modes, which splits it into
// runs of coverage and composes them: engine/kernels/FinalShadingKernels.h. The readable per-pixel
// model, which the tests, the benchmark's check and the render fuzzer match this stage against byte
// for byte: engine/reference/ShadingReference.cpp.
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/kernels/FinalShadingKernels.h"

#include <cmath>
#include <new>
#include <vector>

namespace lustra {

namespace {

using shadingKernels::kLobeScale;
using shadingKernels::kLobeSize;

// Offsets beyond this make offset x 2^19 leave the signed 32-bit range; the
// lobe is already dark 128 texels away, so larger offsets are held here.
constexpr int32_t kLobeOffsetLimit = 4095;

// The lookups of one call and the coordinate rows they point into.
struct ShadingPass {
    const RenderJob *job; // the light, the fills, the glow and the shadow
    shadingKernels::ShadingLookup lookup;
    std::vector<int32_t> colCoord[2], rowCoord[2]; // texel, reduced modulo the texture size
    std::vector<uint8_t> colFrac, rowFrac;         // sub-texel fractions (shared by both fills)
    std::vector<int32_t> lobeU, lobeV;             // lobe positions per column and row
    int32_t glowWeight, shadowWeight;              // opacity x 255 / 100
    int64_t shadowShiftX, shadowShiftY;
};

// Channel k of a colour triple: 0 red, 1 green, 2 blue.
inline int32_t channelOf(const Rgb &c, int k) {
    return k == 0 ? c.r : (k == 1 ? c.g : c.b);
}

// A fill of mode 3 without a usable picture shades as metal (mode 2).
inline uint8_t effectiveMode(const FillJob &fill) {
    if (fill.mode > kFillPicture) return kFillPlain;
    if (fill.mode == kFillPicture && (!fill.image || fill.imageWidth == 0 || fill.imageHeight == 0))
        return kFillMetal;
    return fill.mode;
}

inline double highlightExponent(const FillJob &fill) {
    return fill.shininess * 0.5 + 1.0;
}

// Opacity percent as a weight: min(opacity, 100) x 255 / 100.
inline int32_t opacityWeight(uint8_t percent) {
    return (percent > 100 ? 100 : percent) * 255 / 100;
}

// The cosine lobe, the same in every call: the cosine of each lobe index
// as a byte, and as the single-precision value the highlight lobes raise.
struct CosineLobe {
    uint8_t cosine[kLobeSize];
    double single[kLobeSize];
};

const CosineLobe &cosineLobe() {
    static const CosineLobe lobe = [] {
        CosineLobe built{};
        for (int32_t i = 0; i < kLobeSize; ++i) {
            const long double c = cosl(static_cast<long double>(i) *
                                       static_cast<long double>(1.57079635) * 0.0009765625L);
            built.cosine[i] = static_cast<uint8_t>(static_cast<int32_t>(255.0L * c));
            built.single[i] = static_cast<float>(c);
        }
        return built;
    }();
    return lobe;
}

// What a fill's highlight exponent e alone decides: its highlight lobe,
// 255 x single^e per lobe index, and its highlight curve,
// 255 x (o x 0.0039215686274)^e for each cosine ramp value o. Both take
// thousands of powers, so each thread keeps the last two exponents' (one
// per fill, as calls mostly repeat their fills' settings).
struct Highlights {
    double exponent = 0;
    bool built = false;
    uint8_t lobe[kLobeSize];
    int32_t curve[256];
};

const Highlights &highlightsFor(int f, double e) {
    thread_local Highlights kept[2];
    if (kept[f].built && kept[f].exponent == e) return kept[f];
    if (kept[1 - f].built && kept[1 - f].exponent == e) return kept[1 - f];
    Highlights &h = kept[f];
    const CosineLobe &cosines = cosineLobe();
    for (int32_t i = 0; i < kLobeSize; ++i)
        h.lobe[i] =
            static_cast<uint8_t>(static_cast<int32_t>(255.0 * std::pow(cosines.single[i], e)));
    for (int32_t o = 0; o < 256; ++o)
        h.curve[o] = static_cast<int32_t>(255.0 * std::pow(o * 0.0039215686274, e));
    h.exponent = e, h.built = true;
    return h;
}

// Each fill's colours and its diffuse and specular tables over the metal
// intensity; the glow colour at each glow weight.
void buildShadingTables(ShadingPass &pass) {
    const RenderJob &job = *pass.job;
    for (int f = 0; f < 2; ++f) {
        const FillJob &fill = job.fill[f];
        shadingKernels::FillLookup &lookup = pass.lookup.fill[f];
        for (int k = 0; k < 3; ++k) {
            lookup.colours.a[k] = channelOf(fill.colourA, k);
            lookup.colours.b[k] = channelOf(fill.colourB, k);
            lookup.colours.c[k] = channelOf(fill.colourC, k);
        }
        if (fill.mode == 0) continue;
        const int32_t *curve = highlightsFor(f, highlightExponent(fill)).curve;
        for (int32_t i = 0; i < 256; ++i) {
            const int32_t o = engine.cosineRamp[i * 255 / 256];
            const int32_t w = curve[o];
            for (int k = 0; k < 3; ++k) {
                // (A x o + C x (255 - o)) >> 8 and (B x w) >> 8
                lookup.diffuse[k][i] = static_cast<uint8_t>(
                    lerp8(channelOf(fill.colourC, k), channelOf(fill.colourA, k), o));
                lookup.specular[k][i] = static_cast<uint8_t>((channelOf(fill.colourB, k) * w) >> 8);
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
            pass.lookup.glowRamp[i] = packRgb(mix(g1.r, g2.r), mix(g1.g, g2.g), mix(g1.b, g2.b));
        }
    }
}

// The light lobe of each fill: the cosine lobe paired with the fill's
// highlight lobe, the cosine raised to the fill's highlight exponent.
void buildLobeTables(ShadingPass &pass) {
    const uint8_t *cosine = cosineLobe().cosine;
    for (int f = 0; f < 2; ++f) {
        const uint8_t *highlight = highlightsFor(f, highlightExponent(pass.job->fill[f])).lobe;
        uint32_t *pairs = pass.lookup.fill[f].lobePairs;
        for (int32_t i = 0; i < kLobeSize; ++i) pairs[i] = cosine[i] | uint32_t(highlight[i]) << 16;
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
        shadingKernels::FillLookup &lookup = pass.lookup.fill[f];
        const bool picture = effectiveMode(fill) == 3;
        lookup.modulusU = picture ? static_cast<uint16_t>(fill.imageWidth) : 256;
        lookup.modulusV = picture ? static_cast<uint16_t>(fill.imageHeight) : 256;
        lookup.image = fill.image;
        pass.colCoord[f].resize(w);
        pass.rowCoord[f].resize(h);
        lookup.colCoord = pass.colCoord[f].data();
        lookup.rowCoord = pass.rowCoord[f].data();
    }
    pass.colFrac.resize(w);
    pass.rowFrac.resize(h);
    pass.lobeU.resize(w);
    pass.lobeV.resize(h);
    pass.lookup.colFrac = pass.colFrac.data(), pass.lookup.rowFrac = pass.rowFrac.data();
    pass.lookup.lobeU = pass.lobeU.data(), pass.lookup.lobeV = pass.lobeV.data();
    pass.lookup.metal = engine.metalTexture;

    // a mod m for the fills' moduli: a power of two (the 256 of the
    // textures) as the low bits of a, which is the true modulo in two's
    // complement; a picture's size by division.
    const auto texel = [](int64_t a, int32_t m) {
        return (m & (m - 1)) == 0 ? int32_t(a & (m - 1)) : trueMod(a, m);
    };
    const int32_t step = (k * kLobeScale) / n;
    const int64_t lobeOffsetX = clampRange(job.offsetX, -kLobeOffsetLimit, kLobeOffsetLimit);
    const int64_t lobeOffsetY = clampRange(job.offsetY, -kLobeOffsetLimit, kLobeOffsetLimit);
    for (int32_t x = 0; x < w; ++x) {
        const int32_t t = ((x - w / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.colCoord[f][x] =
                texel(int64_t(t >> 8) - job.offsetX + 127, pass.lookup.fill[f].modulusU);
        pass.colFrac[x] = static_cast<uint8_t>(t & 255);
        pass.lobeU[x] = wrap32(int64_t(x - w / 2) * step - lobeOffsetX * kLobeScale);
    }
    for (int32_t y = 0; y < h; ++y) {
        const int32_t t = ((y - h / 2) * k * 256) / n;
        for (int f = 0; f < 2; ++f)
            pass.rowCoord[f][y] =
                texel(int64_t(t >> 8) - job.offsetY + 127, pass.lookup.fill[f].modulusV);
        pass.rowFrac[y] = static_cast<uint8_t>(t & 255);
        pass.lobeV[y] = wrap32(int64_t(y - h / 2) * step - lobeOffsetY * kLobeScale);
    }

    pass.glowWeight = opacityWeight(job.glow.opacity);
    pass.shadowWeight = opacityWeight(job.shadow.opacity);
    pass.shadowShiftX = int64_t(job.shadow.distance) * job.offsetX / 100;
    pass.shadowShiftY = int64_t(job.shadow.distance) * job.offsetY / 100;
}

// An image map tints its fill when its stage resampled a picture.
inline const uint32_t *tintMap(int which, const uint32_t *plane) {
    return engine.mapTints[which] == 1 ? plane : nullptr;
}

// The pass over the frame, row by row: each row's planes handed to the row
// kernel for the two fills' modes, chosen once.
void shade(const ShadingPass &pass) {
    const int32_t w = engine.frameWidth, h = engine.frameHeight;
    const int32_t border = engine.border;
    const int32_t paddedW = engine.paddedWidth, paddedH = engine.paddedHeight;
    const RenderJob &job = *pass.job;
    const bool texture1 = engine.textureOn[0] == 1, texture2 = engine.textureOn[1] == 1;
    const bool glowOn = job.glow.on == 1, shadowOn = job.shadow.on == 1;
    const uint32_t *map1 = tintMap(0, engine.imageMap1);
    const uint32_t *map2 = tintMap(1, engine.imageMap2);
    const int8_t *slopeX1 = texture1 ? engine.texturedSlopeX1 : engine.slopeX;
    const int8_t *slopeY1 = texture1 ? engine.texturedSlopeY1 : engine.slopeY;
    const shadingKernels::ShadeRow shadeRow =
        shadingKernels::shadeRow(effectiveMode(job.fill[0]), effectiveMode(job.fill[1]));

    shadingKernels::RowInputs row{};
    row.coverageValid = engine.edgeCount != 0 || engine.maskFull == 1;
    row.glowWeight = pass.glowWeight;
    // The shadow map is padded by the border and shifted along the light.
    shadingKernels::ShadowReach &shadow = row.shadow;
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
        row.coverage = engine.mask + engine.paddedRowOffset[y];
        row.object = {slopeX1 + rowStart, slopeY1 + rowStart, map1 ? map1 + rowStart : nullptr, y};
        row.background = {texture2 ? engine.texturedSlopeX2 + rowStart : nullptr,
                          texture2 ? engine.texturedSlopeY2 + rowStart : nullptr,
                          map2 ? map2 + rowStart : nullptr, y};
        row.glow = glowOn ? engine.glowMap + rowStart : nullptr;
        const int64_t sy = int64_t(border) + y + pass.shadowShiftY;
        shadow.row = shadowOn && sy > 0 && sy < paddedH ? engine.shadowMap + sy * paddedW : nullptr;
        shadeRow(pass.lookup, row, xBegin, xEnd, engine.framePixels + rowStart);
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
