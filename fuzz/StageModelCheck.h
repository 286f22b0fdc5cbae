// The fast bevel, glow, shadow and final shading stages against their
// readable per-pixel models on a fuzzed mask and fuzzed parameters: any byte
// that differs aborts, so that the fuzzer reports the input.
#pragma once

#include <cstdint>
#include <vector>

namespace lustra::fuzz {

// The mask (width x height bytes, row by row) is laid into a padded mask
// with the given border; `parameters` steer the stages (bevel width, depth,
// smoothing, both profile slopes and direction; glow width and softness;
// shadow softness); `shading` steers the final shading, which is checked for
// every pair of fill modes on the planes the other stages left (bits of byte
// 0: the first modes, glow, shadow, no fill picture, far offsets; then fill
// zoom, offsets x and y, glow opacity, shadow opacity and distance, and the
// seed of the colours and the picture). Does nothing when the engine cannot
// be set up.
void checkStagesAgainstModels(int32_t width, int32_t height, int32_t border,
                              const std::vector<uint8_t> &mask, const uint8_t (&parameters)[9],
                              const uint8_t (&shading)[8]);

} // namespace lustra::fuzz
