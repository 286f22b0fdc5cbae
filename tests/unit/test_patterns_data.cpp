// Checks the height patterns shipped in data/lustra/ and the generator that makes them.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#ifndef LUSTRA_SOURCE_DATA_DIR
#error "LUSTRA_SOURCE_DATA_DIR must name the source data directory"
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kSide = 256;
constexpr std::size_t kPatternBytes = kSide * kSide;

const char *const kPatternNames[] = {"metal.pat", "normal.pat", "fractal.pat", "turbulence.pat",
                                     "fracturb.pat"};
const char *const kBumpNames[] = {"normal.pat", "fractal.pat", "turbulence.pat", "fracturb.pat"};

std::vector<std::uint8_t> readBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

fs::path shippedPath(const std::string &name) {
    return fs::path(LUSTRA_SOURCE_DATA_DIR) / "lustra" / name;
}

// A shipped pattern, checked to be a full tile so the callers can index it freely.
std::vector<std::uint8_t> shipped(const std::string &name) {
    std::vector<std::uint8_t> bytes = readBytes(shippedPath(name));
    EXPECT_EQ(bytes.size(), kPatternBytes) << name;
    bytes.resize(kPatternBytes, 0);
    return bytes;
}

int at(const std::vector<std::uint8_t> &p, int x, int y) {
    return p[static_cast<std::size_t>(y * kSide + x)];
}

// Mean |difference| between row y and row y+1 (wrapping), averaged along the row.
double rowStep(const std::vector<std::uint8_t> &p, int y) {
    double sum = 0.0;
    for (int x = 0; x < kSide; ++x) sum += std::abs(at(p, x, y) - at(p, x, (y + 1) % kSide));
    return sum / kSide;
}

double columnStep(const std::vector<std::uint8_t> &p, int x) {
    double sum = 0.0;
    for (int y = 0; y < kSide; ++y) sum += std::abs(at(p, x, y) - at(p, (x + 1) % kSide, y));
    return sum / kSide;
}

double mean(const std::vector<double> &v) {
    double sum = 0.0;
    for (double d : v) sum += d;
    return sum / static_cast<double>(v.size());
}

double standardDeviation(const std::vector<std::uint8_t> &p) {
    double sum = 0.0, sum2 = 0.0;
    for (std::uint8_t b : p) {
        sum += b;
        sum2 += static_cast<double>(b) * b;
    }
    const double m = sum / static_cast<double>(p.size());
    return std::sqrt(sum2 / static_cast<double>(p.size()) - m * m);
}

// Mean neighbour difference relative to the spread: high for fine grain, low for smooth shapes.
double roughness(const std::vector<std::uint8_t> &p) {
    std::vector<double> steps;
    for (int i = 0; i < kSide - 1; ++i) {
        steps.push_back(rowStep(p, i));
        steps.push_back(columnStep(p, i));
    }
    return mean(steps) / standardDeviation(p);
}

// ---------------------------------------------------------------------------------------------
// The shipped files

TEST(ShippedPatterns, AreExactlyOneHeaderlessTile) {
    for (const char *name : kPatternNames) {
        const fs::path path = shippedPath(name);
        ASSERT_TRUE(fs::is_regular_file(path)) << path;
        EXPECT_EQ(fs::file_size(path), kPatternBytes) << name;
    }
}

TEST(ShippedPatterns, UseTheFullHeightRange) {
    for (const char *name : kPatternNames) {
        const std::vector<std::uint8_t> p = shipped(name);
        const auto [lo, hi] = std::minmax_element(p.begin(), p.end());
        EXPECT_LE(*lo, 8) << name;
        EXPECT_GE(*hi, 247) << name;
        EXPECT_GE(standardDeviation(p), 30.0) << name;
        EXPECT_GE(std::set<std::uint8_t>(p.begin(), p.end()).size(), 128u) << name;
    }
}

// Across each wrap seam the heights must change no more than between neighbouring interior rows
// or columns, otherwise a visible edge shows wherever the pattern repeats.
TEST(ShippedPatterns, TileWithoutSeams) {
    for (const char *name : kPatternNames) {
        const std::vector<std::uint8_t> p = shipped(name);
        std::vector<double> rows, columns;
        for (int i = 0; i < kSide - 1; ++i) {
            rows.push_back(rowStep(p, i));
            columns.push_back(columnStep(p, i));
        }
        EXPECT_LE(rowStep(p, kSide - 1), 2.0 * mean(rows)) << name << ": row 255 -> row 0";
        EXPECT_LE(columnStep(p, kSide - 1), 2.0 * mean(columns))
            << name << ": column 255 -> column 0";
    }
}

TEST(ShippedPatterns, BumpPatternsAreDistinctAndNormalIsTheFinest) {
    std::vector<std::vector<std::uint8_t>> bumps;
    for (const char *name : kBumpNames) bumps.push_back(shipped(name));
    for (std::size_t i = 0; i < bumps.size(); ++i)
        for (std::size_t j = i + 1; j < bumps.size(); ++j)
            EXPECT_NE(bumps[i], bumps[j]) << kBumpNames[i] << " vs " << kBumpNames[j];

    const double fine = roughness(bumps[0]);
    for (std::size_t i = 1; i < bumps.size(); ++i)
        EXPECT_GT(fine, 2.0 * roughness(bumps[i])) << "normal.pat vs " << kBumpNames[i];
}

// The environment map is banded by its horizons: brightness changes far more from row to row
// than from column to column. A transposed map would fail this.
TEST(ShippedPatterns, MetalHasHorizontalHorizonBands) {
    const std::vector<std::uint8_t> p = shipped("metal.pat");
    std::vector<double> rowMeans(kSide, 0.0), columnMeans(kSide, 0.0);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            rowMeans[y] += at(p, x, y) / double(kSide);
            columnMeans[x] += at(p, x, y) / double(kSide);
        }
    const auto spread = [](const std::vector<double> &v) {
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return *hi - *lo;
    };
    EXPECT_GT(spread(rowMeans), 100.0);
    EXPECT_GT(spread(rowMeans), 3.0 * spread(columnMeans));
}

// ---------------------------------------------------------------------------------------------
// The generator

#ifdef LUSTRA_MAKE_PATTERNS

class PatternGenerator : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() /
               ("lustra-patterns-" + std::to_string(::getpid()) + "-" + test);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Runs the generator with `args` (already shell-quoted) and returns its exit status.
    static int run(const std::string &args) {
        const std::string command =
            std::string("'") + LUSTRA_MAKE_PATTERNS + "' " + args + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        if (status == -1 || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    static std::string quoted(const fs::path &p) { return "'" + p.string() + "'"; }

    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

TEST_F(PatternGenerator, ReproducesTheShippedFilesExactly) {
    ASSERT_EQ(run(quoted(dir_)), 0);
    EXPECT_EQ(listing(), std::set<std::string>(std::begin(kPatternNames), std::end(kPatternNames)))
        << "only the five patterns, no temporaries left behind";
    for (const char *name : kPatternNames)
        EXPECT_TRUE(readBytes(dir_ / name) == readBytes(shippedPath(name)))
            << name << " differs from the shipped file; regenerate data/lustra";
}

TEST_F(PatternGenerator, ExitCodesFollowUsage) {
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run(quoted(dir_) + " " + quoted(dir_)), 2);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_TRUE(listing().empty());
}

TEST_F(PatternGenerator, FailsWith1WhenTheDirectoryCannotBeUsed) {
    const fs::path file = dir_ / "plain-file";
    std::ofstream(file) << "x";
    EXPECT_EQ(run(quoted(file / "out")), 1);
}

// A pattern whose final name cannot be taken must not leave a temporary or partial file behind;
// whatever patterns did get written are complete.
TEST_F(PatternGenerator, FailedWriteLeavesNoPartialFiles) {
    fs::create_directories(dir_ / "normal.pat" / "occupied");
    EXPECT_EQ(run(quoted(dir_)), 1);
    EXPECT_TRUE(fs::is_directory(dir_ / "normal.pat" / "occupied"));
    for (const auto &name : listing()) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
        if (fs::is_regular_file(dir_ / name)) {
            EXPECT_EQ(fs::file_size(dir_ / name), kPatternBytes) << name;
        }
    }
}

#endif // LUSTRA_MAKE_PATTERNS

} // namespace
