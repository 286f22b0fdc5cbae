#include "AlphaMatte.h"

#include "Errors.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace lustra::cli {
namespace {

// Host pixels to RGB in single precision, without the truncation of the
// output conversion but shifted by its average half level, so that the
// matte works from the module's colours rather than from bytes already
// rounded once more.
std::vector<float> toRgb(const HostFrame &frame) {
    // Row by row: `rgb` holds the rows in order, whatever the frame's storage.
    std::vector<float> rgb(size_t(frame.width) * size_t(frame.height) * 3);
    for (int row = 0; row < frame.height; ++row) {
        const uint32_t *pixels = frame.row(row);
        float *out = rgb.data() + size_t(row) * size_t(frame.width) * 3;
        for (int x = 0; x < frame.width; ++x) {
            const uint32_t p = pixels[x];
            const float y = float(p >> 24);
            const float cb = float(int((p >> 16) & 0xFF) - 128),
                        cr = float(int((p >> 8) & 0xFF) - 128);
            const float c[3] = {y + 1.402f * cr, y - 0.344136f * cb - 0.714136f * cr,
                                y + 1.772f * cb};
            for (int k = 0; k < 3; ++k) out[3 * x + k] = std::clamp(c[k] - 0.5f, 0.0f, 255.0f);
        }
    }
    return rgb;
}

} // namespace

AlphaMode parseAlphaMode(const std::string &text) {
    if (text == "opaque") return AlphaMode::Opaque;
    if (text == "title") return AlphaMode::Title;
    if (text == "effect") return AlphaMode::Effect;
    throw UsageError("--alpha: \"" + text + "\" is not opaque, title or effect");
}

const char *alphaModeName(AlphaMode mode) {
    switch (mode) {
    case AlphaMode::Opaque:
        return "opaque";
    case AlphaMode::Title:
        return "title";
    case AlphaMode::Effect:
        return "effect";
    }
    return "";
}

void DifferenceMatte::setReferences(const HostFrame &overBlack, const HostFrame &overWhite) {
    width_ = overBlack.width;
    height_ = overBlack.height;
    referenceBlack_ = toRgb(overBlack);
    referenceWhite_ = toRgb(overWhite);
}

void DifferenceMatte::extract(const HostFrame &overBlack, const HostFrame &overWhite,
                              RgbaPicture &out) const {
    if (overBlack.width != width_ || overBlack.height != height_ || overWhite.width != width_ ||
        overWhite.height != height_)
        throw std::logic_error("difference matte: frames and references differ in size");
    const size_t pixels = size_t(width_) * height_;
    out.resize(pixels * 4);
    const std::vector<float> black = toRgb(overBlack), white = toRgb(overWhite);
    for (size_t i = 0; i < pixels; ++i) {
        const float *k = &black[3 * i], *w = &white[3 * i];
        const float *rk = &referenceBlack_[3 * i], *rw = &referenceWhite_[3 * i];
        uint8_t *o = &out[4 * i];
        // The share of the background that shows: the difference between
        // the two renders against the difference between the references,
        // over all three channels so that a dark channel of the background
        // fill does not make the estimate unstable.
        const double seen = (w[0] - k[0]) + (w[1] - k[1]) + (w[2] - k[2]);
        const double full = (rw[0] - rk[0]) + (rw[1] - rk[1]) + (rw[2] - rk[2]);
        int alpha = 255;
        if (full > 0) {
            const double through = std::clamp(double(seen) / double(full), 0.0, 1.0);
            alpha = int(std::lround(255.0 * (1.0 - through)));
        }
        o[3] = uint8_t(alpha);
        if (alpha == 0) {
            o[0] = o[1] = o[2] = 0;
            continue;
        }
        // Over black the render is a*F + (1 - a)*rk; solved for F with the
        // alpha as it is stored, so that compositing the written pixel over
        // the reference gives back the render.
        const double a = alpha / 255.0;
        for (int c = 0; c < 3; ++c) {
            const double colour = (double(k[c]) - (1.0 - a) * double(rk[c])) / a;
            o[c] = uint8_t(std::clamp(std::lround(colour), 0L, 255L));
        }
    }
}

} // namespace lustra::cli
