// Replays the saved inputs of every fuzz target (tests/fuzz_inputs/<target>/):
// the seeds and each input that once made a target fail. Under the
// sanitizers they must run clean.
#include "FuzzCases.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct Target {
    const char *name;
    void (*run)(const uint8_t *, size_t);
};

const Target kTargets[] = {
    {"render", lustra::fuzz::renderFuzzCase},
    {"module_settings", lustra::fuzz::moduleSettingsFuzzCase},
    {"record_file", lustra::fuzz::recordFileFuzzCase},
    {"settings_text", lustra::fuzz::settingsTextFuzzCase},
    {"frei0r_parameters", lustra::fuzz::frei0rParametersFuzzCase},
    {"resource_file", lustra::fuzz::resourceFileFuzzCase},
    {"batch_file", lustra::fuzz::batchFileFuzzCase},
    {"keyframes", lustra::fuzz::keyframesFuzzCase},
};

void PrintTo(const Target &target, std::ostream *out) {
    *out << target.name;
}

class FuzzRegressions : public testing::TestWithParam<Target> {};

TEST_P(FuzzRegressions, SavedInputsRunClean) {
    const Target &target = GetParam();
    setenv("VXHOME", LUSTRA_DATA_DIR, 1);
    size_t replayed = 0;
    const std::filesystem::path folder = std::filesystem::path(LUSTRA_FUZZ_INPUTS) / target.name;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        SCOPED_TRACE(entry.path().string());
        target.run(bytes.data(), bytes.size());
        ++replayed;
    }
    // Also the extremes: no bytes at all, and every byte 0xFF.
    target.run(nullptr, 0);
    const std::vector<uint8_t> ones(5000, 0xFF);
    target.run(ones.data(), ones.size());
    unsetenv("VXHOME");
    EXPECT_GE(replayed, 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryTarget, FuzzRegressions, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
