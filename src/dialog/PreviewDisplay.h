// The preview display: scales the finished preview frame and hands it to the
// host GUI's overlay, in the preview rectangle and full-screen.
#pragma once

#include <cstdint>

namespace lustra {

// Shows the preview frame: in the preview rectangle (GUI on monitor 1, plus
// full-screen on monitor 2 unless two GUI monitors are connected) or
// full-screen around the strip (GUI on monitor 2).
void drawPreview();

// Full-screen, aspect-corrected and centred: on monitor 2 (toMonitor2 1) or
// on the GUI screen around the panel strip (0).
void drawFullScreenPreview(int32_t toMonitor2);

// Bilinear resampling of the four bytes of each pixel, sample positions
// aligned to the source's top-left corner.
void scaleBilinear(const uint32_t *source, int32_t sourceWidth, int32_t sourceHeight,
                   uint32_t *destination, int32_t destinationWidth, int32_t destinationHeight);

} // namespace lustra
