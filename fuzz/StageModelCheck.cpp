// See StageModelCheck.h.
#include "StageModelCheck.h"

#include "engine/Engine.h"
#include "engine/kernels/CpuVariant.h"
#include "engine/reference/BevelModel.h"
#include "engine/reference/GlowShadowModels.h"
#include "engine/reference/ShadingReference.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace lustra::fuzz {

namespace {

// Aborts at the first byte where the stage's plane differs from the model's.
void expectSame(const void *stage, const void *model, size_t count, const char *plane) {
    const uint8_t *s = static_cast<const uint8_t *>(stage);
    const uint8_t *m = static_cast<const uint8_t *>(model);
    for (size_t p = 0; p < count; ++p) {
        if (s[p] == m[p]) continue;
        std::fprintf(stderr, "%s differs from its model at byte %zu: %d instead of %d\n", plane, p,
                     s[p], m[p]);
        std::abort();
    }
}

// Both sides start from the same plane contents: a pattern that the
// stage's untouched pixels must keep.
template <typename T> void fillPattern(T *plane, std::vector<T> &model, size_t count, int seed) {
    model.resize(count);
    for (size_t p = 0; p < count; ++p) model[p] = static_cast<T>(p * 37 + size_t(seed) * 101);
    std::memcpy(plane, model.data(), count);
}

// The bevel in the variant of its kernels now selected.
void checkBevelVariant(RenderJob &job, const uint8_t (&parameters)[9]) {
    const size_t frame = size_t(engine.frameWidth) * engine.frameHeight;
    reference::BevelModel model;
    fillPattern(engine.stampMax, model.stampMax, frame, 1);
    fillPattern(engine.rawSlopeX, model.rawX, frame, 2);
    fillPattern(engine.rawSlopeY, model.rawY, frame, 3);
    fillPattern(engine.slopeX, model.slopeX, frame, 4);
    fillPattern(engine.slopeY, model.slopeY, frame, 5);
    job.bevel.on = 1;
    job.bevel.width = parameters[0], job.bevel.depth = parameters[1];
    job.bevel.smoothing = parameters[2];
    job.bevel.edgeSlope = int8_t(parameters[3]), job.bevel.innerSlope = int8_t(parameters[4]);
    job.bevel.direction = BevelDirection(int8_t(parameters[5]));
    if (bevelStage(job) != 0) return;
    const uint8_t settings[6] = {parameters[0], parameters[1], parameters[2],
                                 parameters[3], parameters[4], parameters[5]};
    model.run(settings);
    expectSame(engine.stampMax, model.stampMax.data(), frame, "bevel stampMax");
    expectSame(engine.rawSlopeX, model.rawX.data(), frame, "bevel rawSlopeX");
    expectSame(engine.rawSlopeY, model.rawY.data(), frame, "bevel rawSlopeY");
    expectSame(engine.slopeX, model.slopeX.data(), frame, "bevel slopeX");
    expectSame(engine.slopeY, model.slopeY.data(), frame, "bevel slopeY");
}

// The bevel in every variant of its kernels that this processor runs (the
// stamping and the smoothing differ between them), then back to the one
// chosen at load.
void checkBevel(RenderJob &job, const uint8_t (&parameters)[9]) {
    const CpuVariant loaded = bevelKernels::variant();
    for (int v = 0; v <= int(detectedCpuVariant()); ++v) {
        bevelKernels::selectVariant(CpuVariant(v));
        checkBevelVariant(job, parameters);
    }
    bevelKernels::selectVariant(loaded);
}

void checkGlow(RenderJob &job, int32_t width, int32_t softness, bool profile) {
    const size_t frame = size_t(engine.frameWidth) * engine.frameHeight;
    reference::GlowModel model;
    fillPattern(engine.glowMap, model.glow, frame, 6);
    fillPattern(engine.stampMax, model.stampMax, frame, 7);
    job.glow.on = 1;
    job.glow.width = uint8_t(width), job.glow.softness = uint8_t(softness);
    job.glow.profile = profile ? kGlowDistance : kGlowBlurred;
    if (glowStage(job) != 0) return;
    const int32_t g = limitToBorder(width);
    if (profile)
        model.profile(g, softness);
    else
        model.blurred(g);
    expectSame(engine.glowMap, model.glow.data(), frame, profile ? "profile glow" : "blurred glow");
    expectSame(engine.stampMax, model.stampMax.data(), frame, "glow stampMax");
}

void checkShadow(RenderJob &job, int32_t softness) {
    const size_t padded = size_t(engine.paddedWidth) * engine.paddedHeight;
    reference::ShadowModel model;
    fillPattern(engine.shadowMap, model.map, padded, 8);
    job.shadow.on = 1, job.shadow.softness = uint8_t(softness), job.shadow.opacity = 100;
    if (shadowStage(job) != 0) return;
    model.run(limitToBorder(softness));
    expectSame(engine.shadowMap, model.map.data(), padded, "shadowMap");
}

// The final shading of every pair of fill modes on the planes the stages
// above left, with the light, zoom, glow and shadow that `shading` steers,
// from the same starting pixels as its model.
void checkShading(RenderJob &job, std::vector<uint32_t> &pixels, const uint8_t (&shading)[8]) {
    uint32_t seed = shading[7] * 2654435761u + 1;
    const auto next = [&seed] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 16); };
    const auto colour = [&next] { return Rgb{next(), next(), next()}; };
    // A picture of a size that wraps within the frame, or none (shaded as metal).
    const int16_t pictureWidth = int16_t(1 + shading[7] % 7),
                  pictureHeight = int16_t(1 + next() % 5);
    std::vector<uint32_t> picture(size_t(pictureWidth) * pictureHeight);
    for (uint32_t &p : picture) p = uint32_t(next()) << 16 | uint32_t(next()) << 8 | next();
    const bool noPicture = (shading[0] & 0x40) != 0;
    job.fillZoom = shading[1];
    job.offsetX = int8_t(shading[2]) * ((shading[0] & 0x80) ? 64 : 1);
    job.offsetY = int8_t(shading[3]) * ((shading[0] & 0x80) ? 64 : 1);
    job.glow.on = (shading[0] >> 4) & 1, job.glow.opacity = shading[4];
    job.glow.colour1 = colour(), job.glow.colour2 = colour();
    job.shadow.on = (shading[0] >> 5) & 1, job.shadow.opacity = shading[5];
    job.shadow.distance = shading[6], job.shadow.colour = colour();
    for (FillJob &fill : job.fill) {
        fill.colourA = colour(), fill.colourB = colour(), fill.colourC = colour();
        fill.shininess = next();
        fill.image = noPicture ? nullptr : picture.data();
        fill.imageWidth = pictureWidth, fill.imageHeight = pictureHeight;
    }
    std::vector<uint32_t> start(pixels.size()), fast;
    for (size_t p = 0; p < start.size(); ++p) start[p] = uint32_t(p * 2654435761u) ^ next();
    for (int modes = 0; modes < 16; ++modes) {
        job.fill[0].mode = FillMode((modes + shading[0]) & 3);
        job.fill[1].mode = FillMode(((modes >> 2) + (shading[0] >> 2)) & 3);
        pixels = start;
        if (finalShadingStage(job) != 0) return;
        fast = pixels;
        pixels = start;
        if (reference::finalShading(job) != 0) return;
        expectSame(fast.data(), pixels.data(), pixels.size() * sizeof(uint32_t), "final shading");
    }
}

} // namespace

void checkStagesAgainstModels(int32_t width, int32_t height, int32_t border,
                              const std::vector<uint8_t> &mask, const uint8_t (&parameters)[9],
                              const uint8_t (&shading)[8]) {
    const char *home = std::getenv("VXHOME");
    if (!home) return;
    const std::string data = std::string(home) + "/lustra/";
    const int32_t paddedWidth = width + 2 * border;
    std::vector<uint8_t> paddedMask(size_t(paddedWidth) * (height + 2 * border), 0);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(&paddedMask[size_t(y + border) * paddedWidth + border],
                    &mask[size_t(y) * width], size_t(width));
    std::vector<uint32_t> pixels(size_t(width) * height, 0);
    RenderJob job;
    job.width = int16_t(width), job.height = int16_t(height), job.border = border;
    job.paddedMask = paddedMask.data(), job.pixels = pixels.data();
    job.dataDirectory = data.c_str();
    if (engineSetup(job) == 0 && engine.edgeCount > 0) {
        checkBevel(job, parameters);
        checkGlow(job, parameters[6], parameters[7], true);
        checkGlow(job, parameters[6], parameters[7], false);
        checkShadow(job, parameters[8]);
        checkShading(job, pixels, shading);
    }
    engineTeardown();
}

} // namespace lustra::fuzz
