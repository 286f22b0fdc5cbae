// Pattern textures: loading a 256 x 256 tiling height pattern and deriving
// its normalised slope maps; and the smoothing kernel of the relief stages.
#include "engine/Blend.h"
#include "engine/Engine.h"
#include "engine/Stretch.h"
#include "engine/TextureGradients.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace lustra {

namespace {

constexpr const char *kPatternFiles[4] = {"normal.pat", "fractal.pat", "turbulence.pat",
                                          "fracturb.pat"};

// Every value v of the map becomes ((v - min) x 255) / (max - min) - 128, so
// the map spans -128..127. A flat map (max = min) has no slope: all zero.
LUSTRA_VECTOR_CLONES void normaliseSlopes(int8_t *map, int32_t minimum, int32_t maximum) {
    if (maximum == minimum) {
        for (int32_t i = 0; i < 65536; ++i) map[i] = 0;
        return;
    }
    for (int32_t i = 0; i < 65536; ++i)
        map[i] = static_cast<int8_t>(stretched(map[i] - minimum, maximum - minimum) - 128);
}

} // namespace

int32_t loadPattern(int32_t type, int8_t *slopeXOut, int8_t *slopeYOut, uint8_t *raw,
                    const RenderJob & /*job*/) {
    if (type < 0 || type > 3 || !slopeXOut || !slopeYOut || !raw) return 0;
    if (!engineDataPath(kPatternFiles[type])) return 0;
    std::FILE *file = std::fopen(engine.dataPath, "rb");
    if (!file) return 0;
    // A short file is not detected: the bytes not read keep their values.
    size_t read = std::fread(raw, 65536, 1, file);
    (void)read;
    std::fclose(file);

    // Gradients over the 3 x 3 neighbourhood, wrapping at all four edges
    // (within -127..127, so the clamp to a signed byte never acts).
    int32_t totals[512];
    for (int32_t y = 0; y < 256; ++y) {
        const uint8_t *above = raw + ((y - 1) & 255) * 256, *below = raw + ((y + 1) & 255) * 256;
        textureRowGradients(above, raw + y * 256, below, 256, totals, slopeXOut + y * 256,
                            slopeYOut + y * 256);
    }
    int32_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    gradientRange(slopeXOut, 65536, minX, maxX);
    gradientRange(slopeYOut, 65536, minY, maxY);
    normaliseSlopes(slopeXOut, minX, maxX);
    normaliseSlopes(slopeYOut, minY, maxY);
    return 1;
}

void buildSmoothKernel(uint8_t radius, double gain) {
    int32_t r = radius;
    if (r > engine.border) r = engine.border; // the kernel holds 2R+1 weights
    if (r <= 0 || !engine.blurKernel) return;
    const float s = 1.0f / static_cast<float>(r + 1);
    const float norm = static_cast<float>(gain / (2 * r + 1));
    for (int32_t i = -r; i <= r; ++i) {
        const float t = 1.0f - static_cast<float>(std::abs(i)) / static_cast<float>(r);
        const float smooth = t * t * (3.0f - 2.0f * t);
        engine.blurKernel[i + r] = static_cast<int32_t>(norm * (s + (2.0f - s) * smooth));
    }
}

} // namespace lustra
