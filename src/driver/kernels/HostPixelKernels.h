// Row kernels of the frame render driver: the source pictures' conversion
// from host pixels, the shape mask from input 1's luminance and the
// conversion of the engine's RGB pixels back into host pixels. The mask row
// has a hand-written AVX-512 form, picked once when the module loads; the
// others, and the mask row's portable form, are compiled for each
// instruction set and picked by the loader (see LUSTRA_VECTOR_CLONES). Their
// readable per-pixel models are in driver/reference/HostPixelModel.h, against
// which they are tested byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lustra::driverKernels {

// Whether the mask row runs its hand-written AVX-512 form: chosen when
// the module loads, if the processor has avx512f, avx512bw and avx512vl.
// Tests force the portable forms (false) or the wide ones (true, lowered to
// false where the processor or the build lacks them) to check both against
// the models; returns the choice now in use. Both give the same bytes.
bool selectWideKernels(bool wanted);
// The choice in use: true when the mask row runs its AVX-512 form.
bool wideKernelsInUse();

// `count` host pixels to the source pictures' RGB pixels (red in byte 2,
// blue in byte 0, byte 3 zero): R = Y + 1.402 Cr,
// G = Y - 0.344136 Cb - 0.714136 Cr, B = Y + 1.772 Cb in single precision
// with Cb and Cr less 128, each truncated toward zero and limited to 0..255.
void hostToRgbPixels(const uint32_t *__restrict host, uint32_t *__restrict rgb, size_t count);

// Luminance to mask value: max(0, a - 48) x 320 / 208 with truncating
// integer division, at most 255.
inline uint32_t maskValue(uint32_t luminance) {
    const uint32_t v = (luminance > 48 ? luminance - 48 : 0) * 320 / 208;
    return v > 255 ? 255 : v;
}

// One mask row from `count` host pixels: the mask value of each pixel's
// luminance (byte 3), inverted (255 - v, i.e. v XOR 255) when `flip` is 255,
// 0 keeps it. Returns the OR of the values before inversion (non-zero: the
// row covers something).
uint32_t maskRow(const uint32_t *__restrict pixels, int32_t count, uint32_t flip,
                 uint8_t *__restrict out);

// `count` RGB work pixels (blue in byte 0) to host pixels: Y, Cb and Cr in
// bytes 3, 2 and 1 in single precision, Y = 0.299 R + 0.587 G + 0.114 B,
// Cb = 0.5 B - (0.168736 R + 0.331264 G) + 128,
// Cr = 0.5 R - 0.418688 G - 0.081312 B + 128, each truncated toward zero (no
// clamping: they lie in 0..255). The alpha byte of each destination pixel
// comes from the same pixel of `alpha`, which may be the destination itself.
void rgbToHostPixels(const uint32_t *__restrict rgb, const uint32_t *alpha, uint32_t *destination,
                     size_t count);

// The background of the part of the frame the title cannot reach, converted
// in one pass: `count` RGB pixels M tinted by the colour `tint` (packed as a
// work pixel), (M x A) >> 8 per channel, then converted as rgbToHostPixels
// does with the alpha bytes of `alpha` (which may be the destination).
void tintedRgbToHostPixels(const uint32_t *__restrict rgb, uint32_t tint, const uint32_t *alpha,
                           uint32_t *destination, size_t count);
// The same from host pixels: each converted to RGB first as the source
// pictures are (R = Y + 1.402 Cr, G = Y - 0.344136 Cb - 0.714136 Cr,
// B = Y + 1.772 Cb, truncated and limited to 0..255), so that the result is
// the one tintedRgbToHostPixels gives for their picture.
void tintedHostToHostPixels(const uint32_t *__restrict host, uint32_t tint, const uint32_t *alpha,
                            uint32_t *destination, size_t count);
// `count` pixels of one RGB colour, converted, with the alpha bytes of
// `alpha` (which may be the destination).
void fillHostPixels(uint32_t rgb, const uint32_t *alpha, uint32_t *destination, size_t count);

} // namespace lustra::driverKernels
