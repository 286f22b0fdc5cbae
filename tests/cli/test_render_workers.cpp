// lustra render -j N: frames rendered by several copies of the module at
// once, written in order, byte for byte what one copy writes.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48, kFrames = 7;

class RenderWorkers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<Picture> titles, backgrounds;
        for (int k = 0; k < kFrames; ++k) {
            titles.push_back(titlePicture(W, H, k, true));
            backgrounds.push_back(backgroundPicture(W, H, k));
        }
        writeWithFfmpeg(titles, ws.path("title.mov"), {"-c:v", "qtrle"});
        writeWithFfmpeg(backgrounds, ws.path("background.mkv"), {"-c:v", "ffv1"});
    }
    RunResult render(const std::string &jobs, const std::string &output,
                     std::vector<std::string> extra) {
        std::vector<std::string> args = {"render",         "--title", "title.mov", "--background",
                                         "background.mkv", "-j",      jobs,        "-o",
                                         output,           "-y"};
        args.insert(args.end(), extra.begin(), extra.end());
        return ws.lustra(args);
    }
    // The settings folder holds no file a render wrote for itself.
    void expectNoTemporarySettings() {
        EXPECT_TRUE(filesContaining(ws.home() + "/programs/lustra/settings", ".render-").empty());
    }
    Workspace ws;
};

TEST_F(RenderWorkers, ThreeWorkersWriteTheSameFilesAsOne) {
    // Plain frames; settings that change between frames (each worker sets
    // its own copy up again at its own frames) over a matte made per copy;
    // field-wise rendering of interlaced material.
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"plain", {}},
        {"animated, --alpha effect",
         {"--alpha", "effect", "--animate", "offsetX=0:-30,6:30", "--animate",
          "glowOn=0:off,3:on:hold", "--animate", "position.x=0:10,6:50"}},
        {"field-wise, tff, title alpha",
         {"--field-wise", "--field-order", "tff", "--alpha", "title", "--set", "bevelWidth=12"}},
    };
    for (const auto &[name, extra] : cases) {
        SCOPED_TRACE(name);
        const RunResult one = render("1", "one-%02d.png", extra);
        ASSERT_EQ(one.exitCode, 0) << one.err;
        const RunResult three = render("3", "three-%02d.png", extra);
        ASSERT_EQ(three.exitCode, 0) << three.err;
        EXPECT_NE(three.err.find("wrote three-%02d.png (7 frames"), std::string::npos) << three.err;
        for (int k = 0; k < kFrames; ++k) {
            char a[32], b[32];
            std::snprintf(a, sizeof a, "one-%02d.png", k);
            std::snprintf(b, sizeof b, "three-%02d.png", k);
            const std::vector<uint8_t> expected = readFile(ws.path(a));
            ASSERT_FALSE(expected.empty()) << a;
            EXPECT_TRUE(readFile(ws.path(b)) == expected) << "frame " << k;
        }
        expectNoTemporarySettings();
    }

    // A video container: the frames reach the encoder in order.
    ASSERT_EQ(render("1", "one.mkv", {"--codec", "ffv1", "-q"}).exitCode, 0);
    ASSERT_EQ(render("4", "four.mkv", {"--codec", "ffv1", "-q"}).exitCode, 0);
    const std::vector<Picture> expected = decodeWithFfmpeg(ws.path("one.mkv"), W, H);
    const std::vector<Picture> got = decodeWithFfmpeg(ws.path("four.mkv"), W, H);
    ASSERT_EQ(got.size(), size_t(kFrames));
    ASSERT_EQ(got.size(), expected.size());
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(got[k], expected[k]), 0) << k;
}

TEST_F(RenderWorkers, AFailingWorkerStopsTheRenderAndLeavesNoOutput) {
    // Without its pattern files every copy of the module fails: the first
    // frame is the one reported, once, and nothing is left behind.
    fs::remove(ws.home() + "/lustra/metal.pat");
    const RunResult result = render("3", "out.mp4", {});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("failed to render frame 0:"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("failed to render frame", result.err.find("frame 0:")),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("module log line 2299"), std::string::npos);
    EXPECT_TRUE(filesContaining(ws.dir(), "out.").empty());
    EXPECT_TRUE(filesContaining(ws.dir(), ".partial-").empty());
    expectNoTemporarySettings();
}

TEST_F(RenderWorkers, JobsOutsideOneToSixteenAreUsageErrors) {
    for (const char *jobs : {"0", "17", "-2", "many"})
        EXPECT_EQ(render(jobs, "out.png", {"--frames", "0-0"}).exitCode, 2) << jobs;
    const RunResult one = ws.lustra({"render", "--title", "title.mov", "--background",
                                     "background.mkv", "-j2", "--frames", "1-1", "-o", "out.png"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    // One frame needs one copy of the module, whatever -j says.
    EXPECT_EQ(one.err.find("frames at once"), std::string::npos) << one.err;
}

} // namespace
