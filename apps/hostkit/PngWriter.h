// A small PNG writer (8-bit RGB, stored deflate blocks, no compression
// library needed); host pixels become RGB by lustrafex/host_pixels.h.
#pragma once

#include "lustrafex/host_pixels.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lustra::tools {

namespace png_detail {

inline uint32_t crc32(const uint8_t *data, size_t length, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void putBig32(std::vector<uint8_t> &out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

inline void chunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data) {
    putBig32(out, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    putBig32(out, crc32(body.data(), body.size()));
}

} // namespace png_detail

// Writes width x height RGB bytes (row-major, 3 bytes a pixel) as a PNG.
inline bool writePng(const std::string &path, int width, int height,
                     const std::vector<uint8_t> &rgb) {
    using namespace png_detail;
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (size_t(width) * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), rgb.begin() + long(y) * width * 3,
                   rgb.begin() + long(y + 1) * width * 3);
    }
    // zlib stream of stored blocks.
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t offset = 0; offset < raw.size() || offset == 0;) {
        const size_t length = std::min<size_t>(65535, raw.size() - offset);
        const bool last = offset + length == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(length));
        z.push_back(uint8_t(length >> 8));
        z.push_back(uint8_t(~length));
        z.push_back(uint8_t(~length >> 8));
        z.insert(z.end(), raw.begin() + long(offset), raw.begin() + long(offset + length));
        offset += length;
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(z, (b << 16) | a);

    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBig32(header, uint32_t(width));
    putBig32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", z);
    chunk(file, "IEND", {});
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return (std::fclose(out) == 0) && ok;
}

// Writes a frame of host pixels as a PNG.
inline bool writeHostFramePng(const std::string &path, int width, int height,
                              const std::vector<uint32_t> &frame) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < frame.size(); ++i) lustra::hostPixelToRgb(frame[i], &rgb[i * 3]);
    return writePng(path, width, height, rgb);
}

} // namespace lustra::tools
