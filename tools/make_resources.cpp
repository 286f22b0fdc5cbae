// make_resources: writes the resource file "lustra_ops" of the LustraFex
// dialog: the texts of a strings file and the ten page-button icons, drawn
// here.
//
//   make_resources STRINGS_FILE OUTPUT_FILE
//
// The format is described in hostlib/ResourceFile.h. The output is
// byte-for-byte reproducible: the icons are drawn with integer arithmetic
// only, and entries are written in order of kind and id.

#include "ResourceFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Texts

bool appendUtf16(const std::string &utf8, std::vector<uint16_t> &out) {
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t lead = static_cast<uint8_t>(utf8[i]);
        uint32_t code = 0;
        size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (i + length > utf8.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = static_cast<uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<uint16_t>(code));
        }
        i += length;
    }
    return true;
}

std::string unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool readTexts(const std::string &path, std::map<int32_t, std::vector<uint16_t>> &texts) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "make_resources: cannot read " << path << "\n";
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t at = 0;
        while (at < line.size() && line[at] >= '0' && line[at] <= '9') ++at;
        const size_t textStart = line.find_first_not_of(" \t", at);
        if (at == 0 || at > 9 || textStart == std::string::npos || textStart == at) {
            std::cerr << path << ":" << lineNumber << ": expected an id and a text\n";
            return false;
        }
        const int32_t id = std::stoi(line.substr(0, at));
        std::vector<uint16_t> text;
        if (!appendUtf16(unescape(line.substr(textStart)), text)) {
            std::cerr << path << ":" << lineNumber << ": the text is not UTF-8\n";
            return false;
        }
        if (!texts.emplace(id, std::move(text)).second) {
            std::cerr << path << ":" << lineNumber << ": id " << id << " appears twice\n";
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Icons: 20 x 20 pixels, drawn with 4 x 4 samples per pixel in integer
// coordinates of 1/8 pixel (sample centres at 8x + 1, 3, 5, 7).

constexpr int kSide = 20;

struct Rgba {
    int r, g, b, a;
};

class Canvas {
  public:
    Canvas() : pixels_(kSide * kSide, Rgba{0, 0, 0, 0}) {}

    // Paints `colour(x, y)` over every pixel in proportion to the samples
    // (in 1/8 pixel) for which `inside` holds.
    void paint(const std::function<bool(int, int)> &inside,
               const std::function<Rgba(int, int)> &colour) {
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                int covered = 0;
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i)
                        if (inside(8 * x + 2 * i + 1, 8 * y + 2 * j + 1)) ++covered;
                if (covered) over(x, y, colour(x, y), covered);
            }
    }
    void fill(const std::function<bool(int, int)> &inside, Rgba colour) {
        paint(inside, [colour](int, int) { return colour; });
    }

    std::vector<uint32_t> hostPixels() const {
        std::vector<uint32_t> out;
        for (const Rgba &p : pixels_) out.push_back(toHost(p));
        return out;
    }

  private:
    void over(int x, int y, Rgba source, int covered) {
        Rgba &target = pixels_[size_t(y) * kSide + x];
        const int a = source.a * covered / 16;
        const int keep = target.a * (255 - a) / 255;
        const int outA = a + keep;
        if (outA == 0) return;
        auto mix = [&](int s, int t) { return (s * a + t * keep + outA / 2) / outA; };
        target =
            Rgba{mix(source.r, target.r), mix(source.g, target.g), mix(source.b, target.b), outA};
    }

    static int64_t rounded(int64_t value, int64_t divisor) {
        return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
    }
    static uint32_t clamped(int64_t value) {
        return static_cast<uint32_t>(std::clamp<int64_t>(value, 0, 255));
    }
    // Full-range YCbCr with alpha, as the host's pixels.
    static uint32_t toHost(const Rgba &p) {
        if (p.a == 0) return (128u << 16) | (128u << 8);
        const int64_t r = p.r, g = p.g, b = p.b;
        const uint32_t y = clamped(rounded(299000 * r + 587000 * g + 114000 * b, 1000000));
        const uint32_t cb = clamped(128 + rounded(-168736 * r - 331264 * g + 500000 * b, 1000000));
        const uint32_t cr = clamped(128 + rounded(500000 * r - 418688 * g - 81312 * b, 1000000));
        return (y << 24) | (cb << 16) | (cr << 8) | static_cast<uint32_t>(p.a);
    }

    std::vector<Rgba> pixels_;
};

// Shapes in 1/8 pixel: rectangles [x0, x1) x [y0, y1) and discs, given in pixels.
std::function<bool(int, int)> rect(int x0, int y0, int x1, int y1) {
    return [=](int x, int y) { return x >= 8 * x0 && x < 8 * x1 && y >= 8 * y0 && y < 8 * y1; };
}
std::function<bool(int, int)> disc(int cx8, int cy8, int r8) {
    return [=](int x, int y) { return (x - cx8) * (x - cx8) + (y - cy8) * (y - cy8) <= r8 * r8; };
}

// A small dark badge at the bottom right with the digit 1 or 2.
void badge(Canvas &canvas, int digit) {
    static const char *const kDigits[2][5] = {{".X.", "XX.", ".X.", ".X.", "XXX"},
                                              {"XX.", "..X", ".X.", "X..", "XXX"}};
    canvas.fill(rect(13, 12, 20, 20), Rgba{30, 30, 40, 255});
    const char *const *glyph = kDigits[digit - 1];
    canvas.fill(
        [glyph](int x, int y) {
            const int px = x / 8 - 15, py = y / 8 - 13;
            return px >= 0 && px < 3 && py >= 0 && py < 5 && glyph[py][px] == 'X';
        },
        Rgba{255, 255, 255, 255});
}

// Page 0: a bevelled tile, lit from the top left.
Canvas bevelIcon() {
    Canvas canvas;
    canvas.paint(rect(2, 2, 18, 18), [](int x, int y) {
        const int left = x - 2, top = y - 2, right = 17 - x, bottom = 17 - y;
        const int nearest = std::min({left, top, right, bottom});
        if (nearest >= 4) return Rgba{150, 160, 180, 255};
        return std::min(left, top) <= std::min(right, bottom) ? Rgba{240, 244, 252, 255}
                                                              : Rgba{60, 66, 84, 255};
    });
    return canvas;
}

// Page 1: a sun with eight rays.
Canvas lightIcon() {
    Canvas canvas;
    const int c = 80; // the centre, (10, 10) in pixels
    canvas.fill(
        [c](int x, int y) {
            const int dx = x - c, dy = y - c, d2 = dx * dx + dy * dy;
            if (d2 < 52 * 52 || d2 > 76 * 76) return false;
            const int straight = std::min(std::abs(dx), std::abs(dy));
            const int diagonal = std::min(std::abs(dx - dy), std::abs(dx + dy));
            return straight <= 6 || diagonal <= 8;
        },
        Rgba{255, 190, 30, 255});
    canvas.fill(disc(c, c, 36), Rgba{255, 214, 40, 255});
    canvas.fill(disc(c - 10, c - 10, 12), Rgba{255, 250, 210, 255});
    return canvas;
}

// Page 2: a bright disc in a soft orange halo.
Canvas glowIcon() {
    Canvas canvas;
    const int c = 80, outer = 78;
    canvas.paint(disc(c, c, outer), [c](int x, int y) {
        const int dx = 8 * x + 4 - c, dy = 8 * y + 4 - c;
        const int d2 = dx * dx + dy * dy;
        const int fade = std::max(0, 255 - 255 * d2 / (outer * outer));
        return Rgba{255, 140, 30, fade * fade / 255};
    });
    canvas.fill(disc(c, c, 34), Rgba{255, 244, 190, 255});
    return canvas;
}

// Page 3: a light tile casting a dark shadow to the bottom right.
Canvas shadowIcon() {
    Canvas canvas;
    canvas.fill(rect(6, 6, 19, 19), Rgba{20, 20, 30, 170});
    canvas.fill(rect(2, 2, 14, 14), Rgba{60, 66, 84, 255});
    canvas.fill(rect(3, 3, 13, 13), Rgba{225, 230, 240, 255});
    return canvas;
}

// Pages 4 and 5: a little landscape picture.
Canvas mapIcon(int digit) {
    Canvas canvas;
    canvas.fill(rect(0, 2, 20, 18), Rgba{50, 54, 66, 255});
    canvas.fill(rect(1, 3, 19, 17), Rgba{120, 180, 240, 255});
    canvas.fill([](int x, int y) { return disc(56, 176, 72)(x, y) && rect(1, 3, 19, 17)(x, y); },
                Rgba{70, 160, 70, 255});
    canvas.fill(disc(116, 56, 18), Rgba{255, 220, 60, 255});
    badge(canvas, digit);
    return canvas;
}

// Page 6: the object's surface, a glossy ball.
Canvas objectFillIcon() {
    Canvas canvas;
    const int c = 72;
    canvas.paint(disc(c, c, 60), [](int x, int y) {
        const int dx = 8 * x + 4 - 52, dy = 8 * y + 4 - 52;
        const int light = std::max(0, 255 - (dx * dx + dy * dy) / 40);
        return Rgba{120 + light * 120 / 255, 80 + light * 110 / 255, 20 + light * 40 / 255, 255};
    });
    canvas.fill(disc(50, 50, 12), Rgba{255, 255, 245, 230});
    badge(canvas, 1);
    return canvas;
}

// Page 7: the background's surface around the shape's place.
Canvas backgroundFillIcon() {
    Canvas canvas;
    canvas.paint([](int x, int y) { return rect(1, 1, 19, 19)(x, y) && !disc(72, 72, 40)(x, y); },
                 [](int x, int y) {
                     const int shade = (x + y) * 6;
                     return Rgba{170 - shade / 2, 180 - shade / 2, 220 - shade / 3, 255};
                 });
    badge(canvas, 2);
    return canvas;
}

// Pages 8 and 9: a tile covered with small lit bumps.
Canvas textureIcon(int digit) {
    Canvas canvas;
    canvas.paint(rect(1, 1, 19, 19), [](int x, int y) {
        const int u = (x + 1) % 4, v = (y + 1) % 4;
        if (u + v < 3) return Rgba{215, 215, 205, 255};
        if (u + v > 4) return Rgba{95, 95, 90, 255};
        return Rgba{160, 158, 150, 255};
    });
    badge(canvas, digit);
    return canvas;
}

// ---------------------------------------------------------------------------------------------
// Writing

void put16(std::vector<uint8_t> &out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
void put32(std::vector<uint8_t> &out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

struct Entry {
    uint8_t kind;
    int32_t id;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> encode(const std::vector<Entry> &entries) {
    using namespace lustra::resources;
    std::vector<uint8_t> out(kSignature, kSignature + 4);
    put16(out, kVersion);
    put16(out, 0);
    put32(out, static_cast<uint32_t>(entries.size()));
    uint32_t offset = static_cast<uint32_t>(kHeaderSize + kEntrySize * entries.size());
    for (const Entry &entry : entries) {
        out.push_back(entry.kind);
        out.insert(out.end(), 3, 0);
        put32(out, static_cast<uint32_t>(entry.id));
        put32(out, offset);
        put32(out, static_cast<uint32_t>(entry.data.size()));
        offset += static_cast<uint32_t>(entry.data.size());
    }
    for (const Entry &entry : entries) out.insert(out.end(), entry.data.begin(), entry.data.end());
    return out;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: make_resources STRINGS_FILE OUTPUT_FILE\n";
        return 2;
    }
    std::map<int32_t, std::vector<uint16_t>> texts;
    if (!readTexts(argv[1], texts)) return 1;

    std::vector<Entry> entries;
    for (const auto &[id, text] : texts) {
        Entry entry{lustra::resources::kKindText, id, {}};
        for (uint16_t unit : text) put16(entry.data, unit);
        entries.push_back(std::move(entry));
    }
    const Canvas icons[10] = {bevelIcon(),    lightIcon(),   glowIcon(),       shadowIcon(),
                              mapIcon(1),     mapIcon(2),    objectFillIcon(), backgroundFillIcon(),
                              textureIcon(1), textureIcon(2)};
    for (int page = 0; page < 10; ++page) {
        Entry entry{lustra::resources::kKindImage, 101 + page, {}};
        put16(entry.data, kSide);
        put16(entry.data, kSide);
        for (uint32_t pixel : icons[page].hostPixels()) put32(entry.data, pixel);
        entries.push_back(std::move(entry));
    }

    const std::vector<uint8_t> bytes = encode(entries);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::cerr << "make_resources: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
