// Test pictures of the project's own: a title-like shape (five rounded block
// letters with counters and a ring around them) and a colourful background,
// as host pixels (Y, Cb, Cr, alpha).
#pragma once

#include "lustrafex/host_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace lustra::tools {

using lustra::hostPixel;

// Title: luminance 16 outside, 235 inside, anti-aliased edges.
inline std::vector<uint32_t> titleFrame(int width, int height) {
    std::vector<uint32_t> frame(size_t(width) * height);
    const double unit = height / 12.0;
    auto coverage = [&](double x, double y) {
        double best = -1e9;
        for (int letter = 0; letter < 5; ++letter) {
            const double cx = width * (0.2 + 0.15 * letter), cy = height * 0.5;
            const double dx = std::fabs(x - cx) - unit * 1.1, dy = std::fabs(y - cy) - unit * 2.5;
            const double outside = std::hypot(std::max(dx, 0.0), std::max(dy, 0.0)) +
                                   std::min(std::max(dx, dy), 0.0) - unit * 0.4;
            const double hole = std::hypot(x - cx, y - cy) - unit * 0.7;
            best = std::max(best, std::min(-outside, hole));
        }
        const double ring =
            unit * 0.5 - std::fabs(std::hypot(x - width * 0.5, y - height * 0.5) - unit * 5.2);
        return std::clamp(std::max(best, ring) + 0.5, 0.0, 1.0);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame[size_t(y) * width + x] =
                hostPixel(16 + uint32_t(219 * coverage(x + 0.5, y + 0.5)), 128, 128);
    return frame;
}

// Background: a diagonal colour sweep with soft stripes.
inline std::vector<uint32_t> backgroundFrame(int width, int height) {
    std::vector<uint32_t> frame(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            const uint32_t luminance = uint32_t(60 + 80 * v + 20 * std::sin(20 * (u + v)));
            const uint32_t cb = uint32_t(128 + 60 * (u - 0.5)), cr = uint32_t(128 + 60 * (0.5 - v));
            frame[size_t(y) * width + x] = hostPixel(luminance, cb, cr);
        }
    return frame;
}

} // namespace lustra::tools
