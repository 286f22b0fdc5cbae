// Replays the render fuzzer's saved inputs (tests/fuzz_inputs/): each once
// broke a render; under the sanitizers they must now run clean.
#include "fuzz/RenderFuzzCase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(FuzzRegressions, SavedInputsRenderWithoutFaults) {
    setenv("VXHOME", LUSTRA_DATA_DIR, 1);
    size_t replayed = 0;
    for (const auto &entry : std::filesystem::directory_iterator(LUSTRA_FUZZ_INPUTS)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        SCOPED_TRACE(entry.path().string());
        lustra::fuzz::renderFuzzCase(bytes.data(), bytes.size());
        ++replayed;
    }
    // Also the extremes: no bytes at all, and every byte 0xFF.
    lustra::fuzz::renderFuzzCase(nullptr, 0);
    const std::vector<uint8_t> ones(5000, 0xFF);
    lustra::fuzz::renderFuzzCase(ones.data(), ones.size());
    unsetenv("VXHOME");
    EXPECT_GE(replayed, 1u);
}
