// make_patterns: writes the five height patterns LustraFex reads from its data directory.
//
//   make_patterns OUTPUT_DIR
//
// Every pattern is 256 x 256 unsigned 8-bit heights, row-major, no header, and tiles in both
// directions. All noise is built on lattices whose size divides 256 and whose indices wrap, so
// the patterns are periodic with period 256 in x and y.
//
// The output is byte-for-byte reproducible: randomness comes from an integer hash with fixed
// seeds, and the float math is limited to + - * / and sqrt (all exactly rounded under IEEE 754).
// Build with -ffp-contract=off so no fused multiply-add changes a rounding.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kSize = 256;
constexpr int kPixels = kSize * kSize;

using Field = std::vector<double>;
using Pattern = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------------
// Randomness

std::uint32_t mix32(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

std::uint32_t hash3(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = mix32(seed ^ 0x9e3779b9U);
    h = mix32(h ^ x);
    h = mix32(h + 0x85ebca6bU * y);
    return h;
}

// Uniform in [-1, 1), exact: 24 bits scaled by a power of two.
double signedUnit(std::uint32_t h) {
    return static_cast<double>(h >> 8) * (1.0 / 8388608.0) - 1.0;
}

int wrap(int i, int n) {
    const int r = i % n;
    return r < 0 ? r + n : r;
}

double fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

double lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

// ---------------------------------------------------------------------------------------------
// Periodic gradient noise

// Gradient noise on a cells x cells lattice that wraps, so it repeats every `cells` lattice units.
// Each instance also shifts its lattice by a seeded fraction of a cell: gradient noise is zero on
// lattice nodes, and octaves whose nodes coincide would otherwise all vanish along the same rows
// and columns, drawing a visible grid.
class TiledGradientNoise {
  public:
    TiledGradientNoise(int cells, std::uint32_t seed)
        : cells_(cells), grad_(2 * cells * cells),
          shiftU_(0.5 + 0.5 * signedUnit(hash3(0xfffffffU, 1U, seed))),
          shiftV_(0.5 + 0.5 * signedUnit(hash3(0xfffffffU, 2U, seed))) {
        for (int y = 0; y < cells; ++y) {
            for (int x = 0; x < cells; ++x) {
                // Rejection-sample a direction inside the unit disc, then normalise.
                double gx = 0.0, gy = 0.0, len2 = 0.0;
                for (std::uint32_t k = 0;; ++k) {
                    const std::uint32_t h = hash3(static_cast<std::uint32_t>(x),
                                                  static_cast<std::uint32_t>(y), seed + 977U * k);
                    gx = signedUnit(h);
                    gy = signedUnit(mix32(h ^ 0x68e31da4U));
                    len2 = gx * gx + gy * gy;
                    if (len2 > 0.01 && len2 <= 1.0) break;
                }
                const double len = std::sqrt(len2);
                grad_[2 * (y * cells + x)] = gx / len;
                grad_[2 * (y * cells + x) + 1] = gy / len;
            }
        }
    }

    // u, v in lattice units; any real value, the lattice wraps. Result roughly in [-0.75, 0.75].
    double at(double u, double v) const {
        const double fu = std::floor(u), fv = std::floor(v);
        const int x0 = wrap(static_cast<int>(fu), cells_), y0 = wrap(static_cast<int>(fv), cells_);
        const int x1 = wrap(x0 + 1, cells_), y1 = wrap(y0 + 1, cells_);
        const double tx = u - fu, ty = v - fv;
        const double n00 = dot(x0, y0, tx, ty);
        const double n10 = dot(x1, y0, tx - 1.0, ty);
        const double n01 = dot(x0, y1, tx, ty - 1.0);
        const double n11 = dot(x1, y1, tx - 1.0, ty - 1.0);
        const double sx = fade(tx), sy = fade(ty);
        return lerp(lerp(n00, n10, sx), lerp(n01, n11, sx), sy);
    }

    // Samples at pixel centres; px, py in pixels, the pattern spans `cells` lattice units.
    double atPixel(double px, double py) const {
        const double scale = static_cast<double>(cells_) / kSize;
        return at(px * scale + shiftU_, py * scale + shiftV_);
    }

  private:
    double dot(int x, int y, double dx, double dy) const {
        const std::size_t i = 2 * static_cast<std::size_t>(y * cells_ + x);
        return grad_[i] * dx + grad_[i + 1] * dy;
    }

    int cells_;
    std::vector<double> grad_;
    double shiftU_, shiftV_;
};

// Periodic 1-D value noise along x with smooth interpolation, for horizon wobble and streaks.
class TiledLineNoise {
  public:
    TiledLineNoise(int cells, std::uint32_t seed) : cells_(cells), value_(cells) {
        for (int i = 0; i < cells; ++i)
            value_[i] = signedUnit(hash3(static_cast<std::uint32_t>(i), 0x51ed27U, seed));
    }

    double atPixel(double px) const {
        const double u = px * static_cast<double>(cells_) / kSize;
        const double fu = std::floor(u);
        const int i0 = wrap(static_cast<int>(fu), cells_);
        const int i1 = wrap(i0 + 1, cells_);
        return lerp(value_[i0], value_[i1], fade(u - fu));
    }

  private:
    int cells_;
    std::vector<double> value_;
};

// ---------------------------------------------------------------------------------------------
// Field helpers

Field makeField(const std::function<double(double, double)> &f) {
    Field out(kPixels);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) out[y * kSize + x] = f(x + 0.5, y + 0.5);
    return out;
}

// Linear stretch so that the `clip` fraction of darkest and brightest samples saturate; the rest
// maps onto 0..255. Ranks come from a sort, so the result does not depend on anything but values.
Pattern quantise(const Field &f, double clip) {
    Field sorted(f);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t cut = static_cast<std::size_t>(clip * kPixels);
    const double lo = sorted[cut];
    const double hi = sorted[kPixels - 1 - cut];
    const double span = hi > lo ? hi - lo : 1.0;
    Pattern out(kPixels);
    for (int i = 0; i < kPixels; ++i) {
        const double t = std::clamp((f[i] - lo) / span, 0.0, 1.0);
        out[i] = static_cast<std::uint8_t>(static_cast<int>(t * 255.0 + 0.5));
    }
    return out;
}

double smoothstep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Smooth bump of radius r around 0: 1 at the centre, 0 from r on (no exp needed).
double bump(double d, double r) {
    const double t = d / r;
    if (t >= 1.0 || t <= -1.0) return 0.0;
    const double s = 1.0 - t * t;
    return s * s * s;
}

// Shortest horizontal distance on the 256-pixel circle.
double wrappedDistance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, kSize - d);
}

// ---------------------------------------------------------------------------------------------
// The patterns

// Octaves of gradient noise: lattices first, 2 * first, ... cells, each with its own seed.
std::vector<TiledGradientNoise> octaveStack(int firstCells, int count, std::uint32_t seed) {
    std::vector<TiledGradientNoise> octaves;
    for (int i = 0, cells = firstCells; i < count && cells <= kSize; ++i, cells *= 2)
        octaves.emplace_back(cells, seed + static_cast<std::uint32_t>(i));
    return octaves;
}

// Fine, even grain: per-pixel white noise softened by a small wrapped binomial blur, so the grain
// is a couple of pixels across with no lattice structure at all.
Pattern makeNormal() {
    Field white(kPixels);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            white[y * kSize + x] = signedUnit(
                hash3(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0x1001U));
    const double taps[5] = {1.0, 4.0, 6.0, 4.0, 1.0};
    Field rows(kPixels), f(kPixels);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            double sum = 0.0;
            for (int k = -2; k <= 2; ++k)
                sum += taps[k + 2] * white[y * kSize + wrap(x + k, kSize)];
            rows[y * kSize + x] = sum;
        }
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            double sum = 0.0;
            for (int k = -2; k <= 2; ++k) sum += taps[k + 2] * rows[wrap(y + k, kSize) * kSize + x];
            f[y * kSize + x] = sum;
        }
    return quantise(f, 0.001);
}

// Fractal Brownian motion: five octaves, lattice 8..128, each 0.6 times the amplitude of the last.
Pattern makeFractal() {
    const auto octaves = octaveStack(8, 5, 0x2100U);
    const Field f = makeField([&](double x, double y) {
        double sum = 0.0, amp = 1.0;
        for (const auto &n : octaves) {
            sum += amp * n.atPixel(x, y);
            amp *= 0.6;
        }
        return sum;
    });
    return quantise(f, 0.001);
}

// Turbulence: the same octave stack summing |noise|, which gives creased, billowy shapes.
Pattern makeTurbulence() {
    const auto octaves = octaveStack(4, 6, 0x3000U);
    const Field f = makeField([&](double x, double y) {
        double sum = 0.0, amp = 1.0;
        for (const auto &n : octaves) {
            sum += amp * std::fabs(n.atPixel(x, y));
            amp *= 0.5;
        }
        return sum;
    });
    return quantise(f, 0.001);
}

// Fractal turbulence: ridged multifractal. Each octave is a sharp ridge (1 - |noise|)^2, and its
// weight follows the octave above it, so ridges carry fine detail while valleys stay smooth. The
// sample point is displaced by a slow noise field; the displacement is itself periodic, so the
// result still tiles.
Pattern makeFracturb() {
    const auto octaves = octaveStack(4, 6, 0x4000U);
    const TiledGradientNoise warpX(4, 0x4100U), warpY(4, 0x4101U);
    const Field f = makeField([&](double x, double y) {
        const double wx = x + 24.0 * warpX.atPixel(x, y);
        const double wy = y + 24.0 * warpY.atPixel(x, y);
        double sum = 0.0, amp = 1.0, weight = 1.0;
        for (const auto &n : octaves) {
            double r = 1.0 - std::fabs(n.atPixel(wx, wy)) * 1.4;
            r = std::max(r, 0.0);
            r *= r;
            r *= weight;
            weight = std::clamp(r * 2.0, 0.0, 1.0);
            sum += amp * r;
            amp *= 0.5;
        }
        return sum;
    });
    return quantise(f, 0.001);
}

// Wrapped vertical offset from a to b, in (-128, 128].
double wrappedOffset(double a, double b) {
    double d = b - a;
    while (d > 128.0) d -= kSize;
    while (d <= -128.0) d += kSize;
    return d;
}

// Distance from a forward (increasing, wrapping) to b, in [0, 256).
double forwardDistance(double a, double b) {
    double d = b - a;
    while (d >= kSize) d -= kSize;
    while (d < 0.0) d += kSize;
    return d;
}

// Lighting environment for chrome. Vertically one period holds a sky (centred on row 0, so it
// spans the wrap) and a ground (centred on row 128), separated by two horizons near rows 78 and
// 178. The sky brightens from its zenith down to a glaring band right above each horizon; below,
// the ground starts almost black and picks up a little light towards its middle. Horizontally
// everything wraps: the horizons wobble gently, soft light sources glow in the sky and reflect
// dimly in the ground, and faint vertical streaks and broad mottling break up the gradients.
Pattern makeMetal() {
    const TiledLineNoise wobbleUpper(4, 0x5001U), wobbleLower(4, 0x5002U);
    const TiledLineNoise streaks(16, 0x5003U), streakFine(32, 0x5004U);
    const TiledGradientNoise mottle(4, 0x5005U), mottleFine(8, 0x5006U);
    // Elliptical lights; `soft` is the fraction of the radius over which the edge fades out, so
    // 1 is a round glow and small values are panels with a crisp rim.
    struct Light {
        double x, y, rx, ry, gain, soft;
    };
    const Light lights[] = {
        {40.0, 20.0, 22.0, 14.0, 0.90, 0.5},  {150.0, 230.0, 40.0, 9.0, 0.85, 0.35},
        {212.0, 36.0, 14.0, 14.0, 0.95, 1.0}, {100.0, 58.0, 48.0, 5.0, 0.70, 0.6},
        {18.0, 200.0, 24.0, 7.0, 0.80, 0.4},  {120.0, 112.0, 36.0, 6.0, 0.15, 1.0},
        {230.0, 148.0, 28.0, 8.0, 0.12, 1.0}};
    // Lights add like light on film: each brightens what is left below white.
    const auto screen = [](double base, double light) {
        return 1.0 - (1.0 - base) * (1.0 - light);
    };
    const Field f = makeField([&](double x, double y) {
        const double upper = 78.0 + 5.0 * wobbleUpper.atPixel(x);
        const double lower = 178.0 + 5.0 * wobbleLower.atPixel(x);
        const bool ground = y > upper && y < lower;
        double s;
        double toHorizon; // distance to the nearer horizon, for the glint line
        if (ground) {
            // Ground: depth below the nearer horizon, relative to half the ground's height.
            const double depth = std::min(y - upper, lower - y);
            const double t = depth / (0.5 * (lower - upper));
            s = 0.03 + 0.25 * smoothstep(0.05, 1.0, t);
            s = screen(s, 0.15 * bump(depth, 4.0));
            toHorizon = depth;
        } else {
            // Sky: height above the nearer horizon, relative to half the sky's height.
            const double height = std::min(forwardDistance(y, upper), forwardDistance(lower, y));
            const double t = height / (0.5 * (kSize - (lower - upper)));
            s = 0.50 + 0.28 * (1.0 - t) * (1.0 - t);
            s = screen(s, 0.45 * bump(height, 9.0));
            toHorizon = height;
        }
        // Faint vertical streaks, mostly in the sky, and broad mottled reflections.
        s += (ground ? 0.02 : 0.05) * (streaks.atPixel(x) + 0.5 * streakFine.atPixel(x));
        s += (ground ? 0.05 : 0.08) * (mottle.atPixel(x, y) + 0.5 * mottleFine.atPixel(x, y));
        s = std::clamp(s, 0.0, 1.0);
        // The sharp glint line at the horizon itself, and the lights.
        s = screen(s, 0.9 * bump(toHorizon, 2.0));
        for (const Light &l : lights) {
            const double dx = wrappedDistance(x, l.x) / l.rx;
            const double dy = wrappedOffset(y, l.y) / l.ry;
            const double d = std::sqrt(dx * dx + dy * dy);
            s = screen(s, l.gain * (1.0 - smoothstep(1.0 - l.soft, 1.0, d)));
        }
        return s;
    });
    return quantise(f, 0.002);
}

// ---------------------------------------------------------------------------------------------
// Output

// Writes through a temporary file and renames it into place, so a failure never leaves a partial
// pattern under the final name.
bool writePattern(const std::filesystem::path &dir, const std::string &name, const Pattern &data) {
    const std::filesystem::path target = dir / name;
    const std::filesystem::path temp = dir / (name + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            std::cerr << "make_patterns: cannot create " << temp.string() << ": "
                      << std::strerror(errno) << "\n";
            return false;
        }
        out.write(reinterpret_cast<const char *>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out) {
            std::cerr << "make_patterns: error writing " << temp.string() << "\n";
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::cerr << "make_patterns: cannot rename " << temp.string() << " to " << target.string()
                  << ": " << ec.message() << "\n";
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return false;
    }
    return true;
}

void usage(std::ostream &os) {
    os << "usage: make_patterns OUTPUT_DIR\n"
          "\n"
          "Writes the LustraFex height patterns into OUTPUT_DIR (created if missing):\n"
          "  metal.pat       environment map reflected by lit metal surfaces\n"
          "  normal.pat      fine noise\n"
          "  fractal.pat     fractal noise\n"
          "  turbulence.pat  turbulence\n"
          "  fracturb.pat    fractal turbulence\n"
          "Each file is 256 x 256 unsigned 8-bit heights, row-major, tiling in x and y.\n"
          "The output is identical on every run.\n"
          "\n"
          "Exit status: 0 on success, 1 if a file cannot be written, 2 on bad usage.\n";
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(std::cout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        usage(std::cerr);
        return 2;
    }

    const std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        std::cerr << "make_patterns: cannot use output directory " << dir.string() << ": "
                  << (ec ? ec.message() : std::string("not a directory")) << "\n";
        return 1;
    }

    struct Job {
        const char *name;
        Pattern (*make)();
    };
    const Job jobs[] = {{"metal.pat", makeMetal},
                        {"normal.pat", makeNormal},
                        {"fractal.pat", makeFractal},
                        {"turbulence.pat", makeTurbulence},
                        {"fracturb.pat", makeFracturb}};
    for (const Job &job : jobs) {
        if (!writePattern(dir, job.name, job.make())) return 1;
    }
    return 0;
}
