// The render case: every byte of the input steers one render; the bytes
// after those of the render then steer a check of the bevel, glow, shadow
// and final shading stages against their per-pixel models on the title's
// mask.
#include "FuzzCases.h"
#include "FuzzHost.h"
#include "StageModelCheck.h"

namespace lustra::fuzz {

void renderFuzzCase(const uint8_t *data, size_t size) {
    ByteReader in(data, size);
    FuzzHost host;
    host.width = 1 + in.byte() % 64;
    host.height = 2 * (1 + in.byte() % 32);
    const int32_t choices[3] = {in.byte() % 3, in.byte() % 3, in.byte() % 3};
    OperatorContext context{};
    context.renderFlags = in.byte();
    context.scaleNumerator = int16_t(in.half());
    context.scaleDenominator = int16_t(in.half());
    context.fieldNumber = in.byte();
    host.sourceSizes.resize(12);
    for (uint8_t &v : host.sourceSizes) v = in.byte() % 80 == 79 ? 255 : in.byte() % 80;
    host.sourceSeed = in.half();

    // The title: an ellipse of some luminance, then per-pixel changes.
    const int cx = in.byte() % 64, cy = in.byte() % 64, rx = 1 + in.byte() % 40,
              ry = 1 + in.byte() % 40;
    const uint8_t inside = in.byte() | 0x80;

    // The settings record: the input's bytes XORed onto the defaults, so that
    // short inputs stay near a real record and long ones reach any record.
    uint8_t changes[kSettingsSize];
    in.bytes(changes, sizeof changes);

    const size_t pixels = size_t(host.width) * host.height;
    for (auto &frame : host.frames) frame.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const int x = int(i % size_t(host.width)), y = int(i / size_t(host.width));
        const int ex = (x - cx) * 64 / rx, ey = (y - cy) * 64 / ry;
        const uint8_t shape = ex * ex + ey * ey <= 64 * 64 ? inside : 16;
        const uint8_t luminance = shape ^ in.byte();
        host.frames[1][i] = (uint32_t(luminance) << 24) | 0x808000u | luminance;
        host.frames[0][i] = 0x40000000u * (i % 4) + uint32_t(i * 2654435761u % 0xFFFFFFu);
    }

    renderBothFields(host, choices, context, changes);

    // The title's luminance as the mask, with near-extreme levels taken as
    // transparent or fully opaque so that both occur in runs.
    std::vector<uint8_t> mask(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t level = uint8_t(host.frames[1][i] >> 24);
        mask[i] = level >= 0xF0 ? 255 : level < 0x20 ? 0 : level;
    }
    const int32_t border = in.byte() % 41;
    uint8_t parameters[9];
    in.bytes(parameters, sizeof parameters);
    uint8_t shading[8];
    in.bytes(shading, sizeof shading);
    checkStagesAgainstModels(host.width, host.height, border, mask, parameters, shading);
}

} // namespace lustra::fuzz
