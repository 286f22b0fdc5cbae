// The demo's own pictures, drawn without any font or picture file: the
// lettering "LUSTRA" in rounded strokes with an underline (white on black,
// the title), and a soft, moving colour backdrop (the background).
#pragma once

#include <cstdint>
#include <vector>

namespace lustra::cli {

// The title at time t (0..1: the lettering drifts from left to right),
// RGBA rows of width x 4 bytes.
void paintDemoTitle(double t, int width, int height, std::vector<uint8_t> &rgba);

// The background at time t (its light bands drift), RGBA.
void paintDemoBackground(double t, int width, int height, std::vector<uint8_t> &rgba);

} // namespace lustra::cli
