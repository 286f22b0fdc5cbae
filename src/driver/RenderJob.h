// The render job translation: the settings record, the host choices and the
// source pictures turned into the engine's job records. The engine never
// reads the settings record, only the job.
#pragma once

#include "engine/Job.h"

#include <cstddef>
#include <cstdint>

namespace lustra {

// The one render job of the module.
extern RenderJob renderJob;

// Fills every field but width, height, paddedMask and pixels from the
// settings, the host choices and the source pictures.
void fillRenderJob(int32_t scaled);

// A 25..400 % scale as a signed byte: 25 -> -128, 100 -> 0, 400 -> 127.
int8_t percentToSigned(int16_t percent);

// A settings colour (Y in byte 3, Cb in byte 2, Cr in byte 1) as RGB.
Rgb colourToRgb(uint32_t colour);

// A host pixel (Y, Cb, Cr in bytes 3, 2, 1) as an RGB work pixel (blue in
// byte 0, green in byte 1, red in byte 2); byte 3 comes from `keep`.
uint32_t hostPixelToRgb(uint32_t pixel, uint32_t keep);

// Converts `count` host pixels into RGB work pixels (byte 3 zero) with the
// same single-precision arithmetic as colourToRgb, written to vectorise.
void hostPixelsToRgb(const uint32_t *host, uint32_t *rgb, size_t count);

} // namespace lustra
