// What lustra writes into the output's alpha channel, and the difference
// matte behind `--alpha effect`: the same frame rendered over a black and a
// white background gives, pixel by pixel, how much of the background shows
// through (object, glow and shadow cover it) and the colour of what covers
// it.
#pragma once

#include "Colour.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lustra::cli {

enum class AlphaMode {
    Opaque, // the composite, alpha 255
    Title,  // the title's alpha passes through
    Effect, // alpha of object, glow and shadow by difference matting
};

// "opaque", "title" or "effect"; throws UsageError for anything else.
AlphaMode parseAlphaMode(const std::string &text);
const char *alphaModeName(AlphaMode mode);

// Straight (unpremultiplied) RGBA rows, 4 bytes a pixel, no gap.
using RgbaPicture = std::vector<uint8_t>;

class DifferenceMatte {
  public:
    // The module's output over uniform black and white backgrounds where
    // nothing covers them (a render of an empty title), per pixel: what a
    // fully transparent pixel looks like in each of the two renders.
    void setReferences(const HostFrame &overBlack, const HostFrame &overWhite);
    bool hasReferences() const { return !referenceBlack_.empty(); }

    // Colour and alpha of one frame from its renders over the two
    // backgrounds. Where the references themselves do not differ (a
    // background fill the module keeps dark whatever the background), the
    // pixel is taken as opaque.
    void extract(const HostFrame &overBlack, const HostFrame &overWhite, RgbaPicture &out) const;

  private:
    int width_ = 0, height_ = 0;
    std::vector<float> referenceBlack_, referenceWhite_; // RGB
};

} // namespace lustra::cli
