#include "DemoPictures.h"

#include <algorithm>
#include <cmath>

namespace lustra::cli {
namespace {

struct Point {
    double x, y;
};
using Stroke = std::vector<Point>;

// Points along an ellipse arc (y grows downwards; angles in degrees,
// counter-clockwise as seen on screen).
void arc(Stroke &stroke, double cx, double cy, double rx, double ry, double from, double to) {
    const int steps = 24;
    for (int i = 0; i <= steps; ++i) {
        const double a = (from + (to - from) * i / steps) * M_PI / 180.0;
        stroke.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
}

// The letters in units of the letter height (0 top, 1 bottom), each with
// its advance.
std::vector<Stroke> letter(char c, double &advance) {
    std::vector<Stroke> strokes;
    advance = 0.62;
    switch (c) {
    case 'L':
        strokes = {{{0, 0}, {0, 1}, {0.52, 1}}};
        advance = 0.55;
        break;
    case 'U': {
        Stroke s = {{0, 0}, {0, 0.68}};
        arc(s, 0.3, 0.68, 0.3, 0.32, 180, 360);
        s.push_back({0.6, 0});
        strokes = {s};
        break;
    }
    case 'S': {
        Stroke s;
        arc(s, 0.3, 0.26, 0.3, 0.26, 25, 270);
        arc(s, 0.3, 0.74, 0.3, 0.26, 90, -155);
        strokes = {s};
        break;
    }
    case 'T':
        strokes = {{{0, 0}, {0.62, 0}}, {{0.31, 0}, {0.31, 1}}};
        break;
    case 'R': {
        Stroke s = {{0, 1}, {0, 0}, {0.3, 0}};
        arc(s, 0.3, 0.26, 0.28, 0.26, 90, -90);
        s.push_back({0, 0.52});
        strokes = {s, {{0.28, 0.52}, {0.6, 1}}};
        break;
    }
    case 'A':
        strokes = {{{0, 1}, {0.32, 0}, {0.64, 1}}, {{0.14, 0.64}, {0.5, 0.64}}};
        advance = 0.66;
        break;
    default:
        break;
    }
    return strokes;
}

struct Segment {
    double ax, ay, bx, by;
};

double segmentDistance(double px, double py, const Segment &s) {
    const double dx = s.bx - s.ax, dy = s.by - s.ay;
    const double length = dx * dx + dy * dy;
    double t = length > 0 ? ((px - s.ax) * dx + (py - s.ay) * dy) / length : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (s.ax + t * dx), py - (s.ay + t * dy));
}

} // namespace

void paintDemoTitle(double t, int width, int height, std::vector<uint8_t> &rgba) {
    rgba.assign(size_t(width) * height * 4, 0);
    // Layout in pixels: lettering 30 % of the height, centred, drifting.
    const double letterHeight = height * 0.28;
    const double gap = 0.24;
    double total = 0, advance = 0;
    const char *word = "LUSTRA";
    for (const char *c = word; *c; ++c) {
        letter(*c, advance);
        total += advance + (c[1] ? gap : 0);
    }
    const double drift = (t - 0.5) * width * 0.16;
    const double left = (width - total * letterHeight) / 2 + drift;
    const double top = height * 0.30 + std::sin(t * 2 * M_PI) * height * 0.02;
    const double radius = letterHeight * 0.10;

    std::vector<Segment> segments;
    double x = left;
    for (const char *c = word; *c; ++c) {
        for (const Stroke &stroke : letter(*c, advance))
            for (size_t i = 1; i < stroke.size(); ++i)
                segments.push_back(
                    {x + stroke[i - 1].x * letterHeight, top + stroke[i - 1].y * letterHeight,
                     x + stroke[i].x * letterHeight, top + stroke[i].y * letterHeight});
        x += (advance + gap) * letterHeight;
    }
    // An underline swoosh below the lettering, thinner than the letters.
    const double lineY = top + letterHeight * 1.32;
    std::vector<Segment> underline;
    for (int i = 0; i < 24; ++i) {
        auto at = [&](int k) {
            const double u = double(k) / 24;
            return Point{left + u * total * letterHeight,
                         lineY - std::sin(u * M_PI) * letterHeight * 0.10};
        };
        const Point a = at(i), b = at(i + 1);
        underline.push_back({a.x, a.y, b.x, b.y});
    }
    const double underlineRadius = radius * 0.45;

    const double minY = top - radius - 2, maxY = lineY + radius + 2;
    for (int py = std::max(0, int(minY)); py < std::min(height, int(maxY) + 1); ++py)
        for (int px = 0; px < width; ++px) {
            const double cx = px + 0.5, cy = py + 0.5;
            double best = 1e9;
            for (const Segment &s : segments) {
                if (std::min(s.ax, s.bx) - cx > radius + 1 ||
                    cx - std::max(s.ax, s.bx) > radius + 1 ||
                    std::min(s.ay, s.by) - cy > radius + 1 ||
                    cy - std::max(s.ay, s.by) > radius + 1)
                    continue;
                best = std::min(best, segmentDistance(cx, cy, s) - radius);
            }
            for (const Segment &s : underline)
                best = std::min(best, segmentDistance(cx, cy, s) - underlineRadius);
            const double coverage = std::clamp(0.5 - best, 0.0, 1.0);
            const uint8_t v = uint8_t(std::lround(coverage * 255));
            uint8_t *p = &rgba[(size_t(py) * width + px) * 4];
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
}

void paintDemoBackground(double t, int width, int height, std::vector<uint8_t> &rgba) {
    rgba.resize(size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            // Deep blue to violet, with two soft light bands drifting across.
            const double band1 = std::exp(-std::pow((u * 0.8 + v * 0.6 - 0.3 - t * 0.6) / 0.12, 2));
            const double band2 = std::exp(-std::pow((u * 0.5 - v * 0.9 + 0.6 - t * 0.4) / 0.2, 2));
            const double vignette =
                1.0 - 0.45 * std::pow(std::hypot(u - 0.5, (v - 0.5) * 0.8), 2) * 2.5;
            double r = 18 + 70 * u + 90 * band1 + 40 * band2;
            double g = 22 + 30 * (1 - v) + 60 * band1 + 70 * band2;
            double b = 70 + 90 * v + 50 * band1 + 30 * band2;
            uint8_t *p = &rgba[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(std::clamp(r * vignette, 0.0, 255.0));
            p[1] = uint8_t(std::clamp(g * vignette, 0.0, 255.0));
            p[2] = uint8_t(std::clamp(b * vignette, 0.0, 255.0));
            p[3] = 255;
        }
}

} // namespace lustra::cli
