// The zoom curve and the texture coordinate tables that the surface texture
// and image map stages sample their pictures with.
#include "engine/Blend.h"
#include "engine/Engine.h"

namespace lustra {

int32_t zoomScale(int8_t zoom) {
    if (zoom == 0) return 128;
    if (zoom > 0) return (((128 - zoom) * 3) >> 2) + 32; // 127 at 1 .. 32 at 127
    return 128 - 3 * zoom;                               // 131 at -1 .. 512 at -128
}

int64_t zoomedOffset(int8_t zoom, int32_t offset) {
    return static_cast<int64_t>(zoomScale(zoom)) * offset;
}

namespace {

// floor(a / 128) for any sign.
inline int64_t floorDiv128(int64_t a) {
    return a >= 0 ? a / 128 : -((-a + 127) / 128);
}

void buildCoords(int32_t count, int32_t scale, uint16_t *coords, uint8_t *fracs, int32_t modulus,
                 int64_t offset) {
    if (!coords || !fracs || modulus <= 0) return;
    const int32_t centre = count / 2;
    for (int32_t i = 0; i <= count; ++i) {
        const int64_t d = static_cast<int64_t>(i - centre) * scale + offset;
        const int64_t whole = floorDiv128(d);
        coords[i] = static_cast<uint16_t>(trueMod(centre + whole, modulus));
        fracs[i] = static_cast<uint8_t>(2 * (d - whole * 128));
    }
}

} // namespace

void buildColumnCoords(int32_t scale, uint16_t *coords, uint8_t *fracs, int32_t modulus,
                       int64_t offset) {
    buildCoords(engine.frameWidth, scale, coords, fracs, modulus, offset);
}

void buildRowCoords(int32_t scale, uint16_t *coords, uint8_t *fracs, int32_t modulus,
                    int64_t offset) {
    buildCoords(engine.frameHeight, scale, coords, fracs, modulus, offset);
}

} // namespace lustra
