// The resource file format of the stand-in host ("lustra_ops" in the data
// directory): texts and images by numeric id.
//
// Layout, all numbers little-endian:
//   header, 12 bytes:   "LXRS", uint16 version (1), uint16 0, uint32 entry count
//   directory:          one 16-byte entry per resource:
//                         uint8 kind (1 text, 2 image), 3 zero bytes, int32 id,
//                         uint32 offset of the data from the start of the file,
//                         uint32 size of the data in bytes
//   data:               a text is UTF-16 code units without a terminator;
//                       an image is uint16 width, uint16 height, then width x
//                       height 32-bit host pixels (Y in bits 24..31, Cb 16..23,
//                       Cr 8..15, alpha 0..7), row after row.
//
// The reader refuses a file with a wrong signature or version, or whose
// directory does not fit; within a good file it skips every entry that is
// damaged (data outside the file, a size that does not match, an image
// larger than 1024 x 1024, a text longer than 32,767 units, a repeated id).
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace lustra::resources {

constexpr char kSignature[4] = {'L', 'X', 'R', 'S'};
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderSize = 12;
constexpr size_t kEntrySize = 16;
constexpr uint8_t kKindText = 1;
constexpr uint8_t kKindImage = 2;
constexpr size_t kMaxFileSize = size_t(16) << 20;
constexpr int32_t kMaxImageSide = 1024;
constexpr size_t kMaxTextUnits = 32767;

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

struct Contents {
    std::map<int32_t, std::vector<uint16_t>> texts; // each ends with a 0 unit
    std::map<int32_t, Image> images;
};

inline uint32_t readU32(const uint8_t *at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}
inline uint16_t readU16(const uint8_t *at) {
    return uint16_t(at[0] | at[1] << 8);
}

// Reads a resource file's bytes; false when they are not a resource file.
inline bool parse(const std::vector<uint8_t> &bytes, Contents &out) {
    out = Contents{};
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxFileSize) return false;
    if (std::memcmp(bytes.data(), kSignature, 4) != 0) return false;
    if (readU16(bytes.data() + 4) != kVersion) return false;
    const uint64_t count = readU32(bytes.data() + 8);
    if (kHeaderSize + count * kEntrySize > bytes.size()) return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t *entry = bytes.data() + kHeaderSize + i * kEntrySize;
        const uint8_t kind = entry[0];
        const int32_t id = static_cast<int32_t>(readU32(entry + 4));
        const uint64_t offset = readU32(entry + 8), size = readU32(entry + 12);
        if (offset + size > bytes.size()) continue;
        const uint8_t *data = bytes.data() + offset;
        if (kind == kKindText) {
            if (size % 2 != 0 || size / 2 > kMaxTextUnits || out.texts.count(id)) continue;
            std::vector<uint16_t> text(size_t(size / 2) + 1, 0);
            for (size_t k = 0; k < size / 2; ++k) text[k] = readU16(data + 2 * k);
            out.texts.emplace(id, std::move(text));
        } else if (kind == kKindImage) {
            if (size < 4 || out.images.count(id)) continue;
            Image image;
            image.width = readU16(data);
            image.height = readU16(data + 2);
            if (image.width < 1 || image.height < 1 || image.width > kMaxImageSide ||
                image.height > kMaxImageSide)
                continue;
            const uint64_t pixels = uint64_t(image.width) * uint64_t(image.height);
            if (size != 4 + 4 * pixels) continue;
            image.pixels.resize(size_t(pixels));
            for (size_t k = 0; k < pixels; ++k) image.pixels[k] = readU32(data + 4 + 4 * k);
            out.images.emplace(id, std::move(image));
        }
    }
    return true;
}

} // namespace lustra::resources
