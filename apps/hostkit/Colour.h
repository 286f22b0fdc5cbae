// The host's pixels and the module's colour conversions.
//
// Host pixels are full-range YCbCr: a 32-bit word with Y in bits 24..31, Cb
// in 16..23, Cr in 8..15 and the alpha (key) byte in 0..7. The conversions
// between them and 8-bit RGB are exactly the module's: single precision,
// truncation toward zero, clamping to 0..255 where needed, so that a picture
// converted by the host and by the module comes out byte for byte the same.
#pragma once

#include "lustrafex/host_pixels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lustra::cli {

using lustra::hostPixel;

// RGB to a host pixel: Y = 0.299 R + 0.587 G + 0.114 B,
// Cb = 0.5 B - (0.168736 R + 0.331264 G) + 128,
// Cr = 0.5 R - 0.418688 G - 0.081312 B + 128, each truncated.
uint32_t rgbToHost(uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 255);

// A host pixel to RGB: R = Y + 1.402 Cr, G = Y - 0.344136 Cb - 0.714136 Cr,
// B = Y + 1.772 Cb (Cb, Cr centred on 128), truncated and clamped.
void hostToRgb(uint32_t pixel, uint8_t rgb[3]);

// A frame of host pixels. By default its rows are kept field by field:
// every even frame row (0, 2, 4, ...), then every odd row (1, 3, 5, ...),
// so that each field of the frame lies in one block of rows one after the
// other, which the host hands to the module as it is (the module's images
// have no pitch: a field of a frame kept row after row would have to be
// copied out). A frame made with Layout::Rows keeps its rows in order, as a
// picture handed over whole needs. row(y) is frame row y in either layout.
// Growing a frame of odd height by one row appends that row to `pixels`,
// and shrinking an even height by one drops the last stored row, in both
// layouts.
struct HostFrame {
    enum class Layout : uint8_t { Fields, Rows };
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    Layout layout = Layout::Fields;

    HostFrame() = default;
    HostFrame(int w, int h, uint32_t fill = 0, Layout order = Layout::Fields)
        : width(w), height(h), pixels(size_t(w) * h, fill), layout(order) {}
    uint32_t *row(int y) { return pixels.data() + rowOffset(y); }
    const uint32_t *row(int y) const { return pixels.data() + rowOffset(y); }
    // Where frame row y starts in `pixels`.
    size_t rowOffset(int y) const {
        if (layout == Layout::Rows) return size_t(y) * size_t(width);
        const size_t stored = (y & 1) ? (size_t(height) + 1) / 2 + size_t(y) / 2 : size_t(y) / 2;
        return stored * size_t(width);
    }
    // Each field (height / 2 rows of every second frame row) lies in one
    // block from row(0) and row(1) on: the rows are kept field by field, or a
    // field has a single row.
    bool fieldsAreBlocks() const { return layout == Layout::Fields || height / 2 <= 1; }
};

// Packed RGBA rows (4 bytes a pixel, `stride` bytes a row) to host pixels;
// the alpha byte becomes the key byte, or 255 when `useAlpha` is false.
void rgbaToHostFrame(const uint8_t *rgba, int stride, bool useAlpha, HostFrame &frame);

// Host pixels to packed RGBA (alpha from the key byte) or RGB rows.
void hostFrameToRgba(const HostFrame &frame, uint8_t *rgba, int stride);
void hostFrameToRgb(const HostFrame &frame, uint8_t *rgb, int stride);

// The row loops of the frame conversions, each pixel exactly as rgbToHost
// and hostToRgb compute it (the functions of lustrafex/host_pixels.h,
// inlined). One variant is compiled per instruction set and the fastest one
// the processor runs is chosen once, at start-up.
struct ColourRows {
    const char *name; // "avx512", "avx2", "baseline"
    // `count` RGBA pixels to host pixels; the key byte is the alpha byte,
    // or 255 when `useAlpha` is false.
    void (*rgbaToHost)(const uint8_t *rgba, int count, bool useAlpha, uint32_t *host);
    void (*hostToRgba)(const uint32_t *host, int count, uint8_t *rgba);
    void (*hostToRgb)(const uint32_t *host, int count, uint8_t *rgb);
};
// The variant in use.
const ColourRows &colourRows();
// Every variant this processor runs, the one in use first.
std::vector<const ColourRows *> colourRowVariants();

} // namespace lustra::cli
