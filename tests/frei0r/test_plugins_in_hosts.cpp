// The plug-ins in the hosts people use: Debian's ffmpeg applies the filter
// and melt the mixer, on generated clips; their frames must equal lustra
// render's of the same clip and settings. These hosts are not built with
// the sanitizers, so the sanitizer build skips them.
#include "Frei0rTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace lustra::frei0rtest;
using lustra::clitest::backgroundPicture;
using lustra::clitest::decodeWithFfmpeg;
using lustra::clitest::maxDifference;
using lustra::clitest::runProgram;
using lustra::clitest::RunResult;
using lustra::clitest::titlePicture;
using lustra::clitest::Workspace;
using lustra::clitest::writeWithFfmpeg;

namespace {

constexpr int kWidth = 160, kHeight = 90, kFrames = 3;

class Frei0rHosts : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef LUSTRA_SANITIZE
        GTEST_SKIP() << "ffmpeg and melt are not instrumented: they cannot load the sanitized "
                        "plug-ins (the in-process tests cover them)";
#endif
        std::vector<Picture> titles;
        for (int k = 0; k < kFrames; ++k) titles.push_back(titlePicture(kWidth, kHeight, 2 * k));
        // Lossless RGB: ffmpeg, melt and lustra decode it to the same pixels.
        writeWithFfmpeg(titles, workspace.path("title.mkv"), {"-c:v", "ffv1", "-pix_fmt", "bgr0"});
        writeWithFfmpeg({backgroundPicture(kWidth, kHeight)}, workspace.path("background.png"));
    }

    RunResult host(const std::vector<std::string> &command) {
        return runProgram(command, workspace.dir(),
                          {{"FREI0R_PATH", std::string(LUSTRA_PLUGIN_DIR) + ":/usr/lib/frei0r-1"},
                           {"VXHOME", ""}});
    }

    std::vector<Picture> lustraRender(const std::vector<std::string> &options) {
        std::vector<std::string> arguments = {
            "render",       "--title", "title.mkv", "-o",
            "ref-%04d.png", "--quiet", "-y"}; // each reference replaces the last
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult result = workspace.lustra(arguments);
        if (result.exitCode != 0) throw std::runtime_error("lustra render: " + result.err);
        return decodeWithFfmpeg(workspace.path("ref-%04d.png"), kWidth, kHeight);
    }

    Workspace workspace;
};

} // namespace

TEST_F(Frei0rHosts, FfmpegFilterEqualsLustraRender) {
    ASSERT_EQ(
        workspace.lustra({"settings", "set", "look.prf", "glowOn=on", "fill1Mode=metal"}).exitCode,
        0);
    const auto expected = lustraRender({"--background", "background.png", "--settings", "look.prf",
                                        "--set", "bevelWidth=15", "--set", "shadowOn=off"});
    const RunResult result =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-nostats", "-loglevel", "info", "-i", "title.mkv", "-vf",
              "frei0r=filter_name=lustrafex:filter_params=background.png|look.prf|shadowOn=off|0.5",
              "out-%04d.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("lustrafex:"), std::string::npos) << result.err;
    // Reading the background picture leaves ffmpeg's own log level alone:
    // its summary at the end still shows.
    EXPECT_NE(result.err.find("video:"), std::string::npos) << result.err;
    const auto frames = decodeWithFfmpeg(workspace.path("out-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    ASSERT_EQ(expected.size(), size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], expected[k]), 0) << k;
}

TEST_F(Frei0rHosts, FfmpegReportsBadParametersAndKeepsGoing) {
    const auto expected = lustraRender({"--background", "#000000"});
    const RunResult result =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", "title.mkv", "-vf",
              "frei0r=lustrafex:#zz|missing.prf||3", "out-%04d.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("lustrafex: settings=missing.prf: no such settings file"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("lustrafex: bevelWidth=3 is outside 0..1; using 1"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("lustrafex: background=#zz"), std::string::npos) << result.err;
    const auto frames = decodeWithFfmpeg(workspace.path("out-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    // Defaults over black, but with bevelWidth at the top of its range.
    const auto wide = lustraRender({"--background", "#000000", "--set", "bevelWidth=30"});
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], wide[k]), 0) << k;
    EXPECT_GT(maxDifference(frames[0], expected[0]), 0);
}

TEST_F(Frei0rHosts, MeltMixerEqualsLustraRenderAndWarnsAboutStrips) {
    if (std::string(LUSTRA_MELT_TOOL).empty()) GTEST_SKIP() << "melt is not installed";
    const auto expected = lustraRender({"--background", "background.png", "--set", "glowOn=on"});
    auto melt = [&](const std::string &threads) {
        return host({LUSTRA_MELT_TOOL,
                     "-silent",
                     "-profile",
                     "square_pal",
                     "background.png",
                     "out=" + std::to_string(kFrames - 1),
                     "-track",
                     "title.mkv",
                     "out=" + std::to_string(kFrames - 1),
                     "-transition",
                     "frei0r.lustrafex_mixer",
                     "a_track=0",
                     "b_track=1",
                     "threads=" + threads,
                     "glowOn=1",
                     "-consumer",
                     "avformat:melt-" + threads + "-%04d.png",
                     "vcodec=png",
                     "width=" + std::to_string(kWidth),
                     "height=" + std::to_string(kHeight),
                     "progressive=1"});
    };
    const RunResult whole = melt("1");
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.err.find("lustrafex:"), std::string::npos) << whole.err;
    const auto frames = decodeWithFfmpeg(workspace.path("melt-1-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], expected[k]), 0) << k;

    const RunResult strips = melt("2");
    ASSERT_EQ(strips.exitCode, 0) << strips.err;
    EXPECT_NE(strips.err.find("lustrafex: the host hands over the frame in strips"),
              std::string::npos)
        << strips.err;
}
