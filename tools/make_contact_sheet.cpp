// make_contact_sheet turns full-size renders of the shipped looks into
// half-size thumbnails (THUMB_DIR/NAME.png, a 2 x 2 box average) and one
// contact sheet: the thumbnails in a grid, each with its name below, drawn
// with a built-in 5 x 7 pixel font (descenders below) (no font files, so the sheet comes out
// the same on every machine).
#include "MediaInput.h"
#include "MediaOutput.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Rows of 5 bits, the top row first, bit 4 the leftmost column.
struct Glyph {
    char c;
    uint8_t rows[9]; // rows 7 and 8: descenders
};
constexpr Glyph kFont[] = {
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F, 0x00, 0x00}},
    {'b', {0x10, 0x10, 0x1E, 0x11, 0x11, 0x11, 0x1E, 0x00, 0x00}},
    {'c', {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E, 0x00, 0x00}},
    {'d', {0x01, 0x01, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x00, 0x00}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E, 0x00, 0x00}},
    {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08, 0x00, 0x00}},
    {'g', {0x00, 0x00, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'h', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11, 0x00, 0x00}},
    {'i', {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E, 0x00, 0x00}},
    {'j', {0x02, 0x00, 0x06, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'k', {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12, 0x00, 0x00}},
    {'l', {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E, 0x00, 0x00}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11, 0x00, 0x00}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11, 0x00, 0x00}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'p', {0x00, 0x00, 0x1E, 0x11, 0x11, 0x11, 0x1E, 0x10, 0x10}},
    {'q', {0x00, 0x00, 0x0F, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x01}},
    {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10, 0x00, 0x00}},
    {'s', {0x00, 0x00, 0x0F, 0x10, 0x0E, 0x01, 0x1E, 0x00, 0x00}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06, 0x00, 0x00}},
    {'u', {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D, 0x00, 0x00}},
    {'v', {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04, 0x00, 0x00}},
    {'w', {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A, 0x00, 0x00}},
    {'x', {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x00, 0x00}},
    {'y', {0x00, 0x00, 0x11, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {'z', {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F, 0x00, 0x00}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E, 0x00, 0x00}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E, 0x00, 0x00}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F, 0x00, 0x00}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E, 0x00, 0x00}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02, 0x00, 0x00}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E, 0x00, 0x00}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08, 0x00, 0x00}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E, 0x00, 0x00}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C, 0x00, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C, 0x00, 0x00}},
};

const Glyph *glyphOf(char c) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    for (const Glyph &glyph : kFont)
        if (glyph.c == c) return &glyph;
    return nullptr; // drawn as a space
}

constexpr int kScale = 2;            // font pixels are 2 x 2
constexpr int kAdvance = 6 * kScale; // 5 columns and a gap
constexpr int kTextHeight = 9 * kScale;

struct Canvas {
    int width, height;
    std::vector<uint8_t> rgba;
    Canvas(int w, int h, uint8_t grey) : width(w), height(h), rgba(size_t(w) * h * 4, grey) {
        for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    }
    void text(const std::string &line, int x, int y, uint8_t value) {
        for (char c : line) {
            if (const Glyph *glyph = glyphOf(c))
                for (int row = 0; row < 9; ++row)
                    for (int column = 0; column < 5; ++column)
                        if (glyph->rows[row] & (0x10 >> column))
                            for (int dy = 0; dy < kScale; ++dy)
                                for (int dx = 0; dx < kScale; ++dx) {
                                    const int px = x + column * kScale + dx;
                                    const int py = y + row * kScale + dy;
                                    if (px < 0 || py < 0 || px >= width || py >= height) continue;
                                    uint8_t *p = &rgba[(size_t(py) * width + px) * 4];
                                    p[0] = p[1] = p[2] = value;
                                }
            x += kAdvance;
        }
    }
};

void writePicture(const std::string &path, int width, int height,
                  const std::vector<uint8_t> &rgba) {
    lustra::cli::OutputParameters params;
    params.path = path;
    params.width = width;
    params.height = height;
    auto output = lustra::cli::MediaOutput::create(params);
    output->writeRgba(rgba, 0);
    output->finish();
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_contact_sheet SHEET.png THUMB_DIR RENDER.png ...\n");
        return 2;
    }
    try {
        const std::string sheetPath = argv[1];
        const fs::path thumbs = argv[2];
        fs::create_directories(thumbs);
        struct Tile {
            std::string name;
            int width, height;
            std::vector<uint8_t> rgba;
        };
        std::vector<Tile> tiles;
        for (int i = 3; i < argc; ++i) {
            lustra::cli::MediaReader reader(argv[i]);
            std::vector<uint8_t> picture;
            if (!reader.next(picture)) throw std::runtime_error(std::string(argv[i]) + ": empty");
            Tile tile{
                fs::path(argv[i]).stem().string(), reader.width() / 2, reader.height() / 2, {}};
            tile.rgba.resize(size_t(tile.width) * tile.height * 4);
            const int w = reader.width();
            for (int y = 0; y < tile.height; ++y)
                for (int x = 0; x < tile.width; ++x)
                    for (int c = 0; c < 4; ++c) {
                        auto at = [&](int sx, int sy) {
                            return int(picture[(size_t(sy) * w + sx) * 4 + c]);
                        };
                        const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) +
                                        at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
                        tile.rgba[(size_t(y) * tile.width + x) * 4 + c] =
                            c == 3 ? 255 : uint8_t((sum + 2) / 4);
                    }
            writePicture((thumbs / (tile.name + ".png")).string(), tile.width, tile.height,
                         tile.rgba);
            tiles.push_back(std::move(tile));
        }
        const int columns = tiles.size() < 4 ? int(tiles.size()) : 4;
        const int rows = int((tiles.size() + columns - 1) / columns);
        const int gap = 10, label = kTextHeight + 12;
        const int cellW = tiles[0].width, cellH = tiles[0].height;
        Canvas sheet(gap + columns * (cellW + gap), gap + rows * (cellH + label + gap), 24);
        for (size_t i = 0; i < tiles.size(); ++i) {
            const Tile &tile = tiles[i];
            const int x0 = gap + int(i % columns) * (cellW + gap);
            const int y0 = gap + int(i / columns) * (cellH + label + gap);
            for (int y = 0; y < tile.height && y < cellH; ++y)
                for (int x = 0; x < tile.width && x < cellW; ++x)
                    for (int c = 0; c < 3; ++c)
                        sheet.rgba[(size_t(y0 + y) * sheet.width + x0 + x) * 4 + c] =
                            tile.rgba[(size_t(y) * tile.width + x) * 4 + c];
            const int textWidth = int(tile.name.size()) * kAdvance - kScale;
            sheet.text(tile.name, x0 + (cellW - textWidth) / 2, y0 + cellH + 7, 225);
        }
        writePicture(sheetPath, sheet.width, sheet.height, sheet.rgba);
        std::printf("make_contact_sheet: %zu thumbnails, sheet %s (%dx%d)\n", tiles.size(),
                    sheetPath.c_str(), sheet.width, sheet.height);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "make_contact_sheet: %s\n", error.what());
        return 1;
    }
    return 0;
}
