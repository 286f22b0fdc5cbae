// Bad input, unwritable output, module failures and Ctrl-C: a clear
// one-line error naming the file, the documented exit code, and nothing
// half-written left behind as if it were complete.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

class RenderFailures : public ::testing::Test {
  protected:
    void SetUp() override {
        writeWithFfmpeg({titlePicture(W, H)}, ws.path("title.png"));
        writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("background.png"));
    }
    RunResult render(std::vector<std::string> extra, const std::string &title = "title.png",
                     const std::string &background = "background.png") {
        std::vector<std::string> args = {"render", "--title", title, "--background", background};
        args.insert(args.end(), extra.begin(), extra.end());
        return ws.lustra(args);
    }
    void expectNoLeftovers() {
        EXPECT_TRUE(filesContaining(ws.dir(), ".partial-").empty());
        EXPECT_TRUE(filesContaining(ws.dir(), "out.").empty());
    }
    Workspace ws;
};

TEST_F(RenderFailures, MissingCorruptAndEmptyInputsNameTheFile) {
    RunResult result = render({"-o", "out.png"}, "missing.png");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("missing.png: no such file"), std::string::npos);

    std::vector<uint8_t> junk(5000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 7919 >> 3);
    writeFile(ws.path("junk.mp4"), junk);
    result = render({"-o", "out.png"}, "title.png", "junk.mp4");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("junk.mp4"), std::string::npos);

    // A truncated clip: the header survives, the frames do not.
    writeWithFfmpeg({titlePicture(W, H), titlePicture(W, H, 1)}, ws.path("clip.mp4"));
    const std::vector<uint8_t> whole = readFile(ws.path("clip.mp4"));
    writeFile(ws.path("cut.mp4"), std::vector<uint8_t>(whole.begin(), whole.begin() + 64));
    result = render({"-o", "out.mp4"}, "cut.mp4");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cut.mp4"), std::string::npos);

    writeFile(ws.path("empty.mp4"), {});
    result = render({"-o", "out.mp4"}, "empty.mp4");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("empty.mp4"), std::string::npos);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    expectNoLeftovers();
}

TEST_F(RenderFailures, UnwritableOutputsFailBeforeRendering) {
    RunResult result = render({"-o", "no-such-dir/out.mp4"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no-such-dir/out.mp4: cannot write"), std::string::npos);
    fs::create_directory(ws.path("out.png"));
    result = render({"-o", "out.png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("is a directory"), std::string::npos);
    fs::remove(ws.path("out.png"));
    if (geteuid() != 0) { // root may write anywhere
        fs::create_directory(ws.path("locked"));
        fs::permissions(ws.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        result = render({"-o", "locked/out.mp4"});
        EXPECT_EQ(result.exitCode, 1);
    }
    expectNoLeftovers();
}

TEST_F(RenderFailures, UsageErrorsExitWithTwo) {
    EXPECT_EQ(ws.lustra({}).exitCode, 2);
    EXPECT_EQ(ws.lustra({"paint"}).exitCode, 2);
    EXPECT_EQ(render({}).exitCode, 2);                // no output
    EXPECT_EQ(render({"-o", "out.xyz"}).exitCode, 2); // unknown type
    EXPECT_EQ(render({"-o", "out.png", "--frames", "5-2"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.png", "--scale", "0/2"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.png", "--field-order", "sideways"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.png", "--set", "bevelWidth=99"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.png", "--source", "fill9=title.png"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.mp4", "--codec", "no-such-codec"}).exitCode, 2);
    EXPECT_EQ(render({"-o", "out.png", "--frames", "0-3"}).exitCode, 2); // four frames, one picture
    EXPECT_EQ(render({"-o", "out.png", "--instance", "a/b"}).exitCode, 2);
    for (const char *command : {"render", "settings", "demo", "info"})
        EXPECT_EQ(ws.lustra({command, "--help"}).exitCode, 0) << command;
    expectNoLeftovers();
}

TEST_F(RenderFailures, ModuleFailureIsReportedWithItsLogLines) {
    // Without its pattern files the module cannot set up its engine.
    fs::remove(ws.home() + "/lustra/metal.pat");
    const RunResult result = render({"-o", "out.png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("failed to render frame 0"), std::string::npos);
    EXPECT_NE(result.err.find("module log line 2299"), std::string::npos);
    EXPECT_NE(result.err.find("metal.pat"), std::string::npos);
    expectNoLeftovers();
}

TEST_F(RenderFailures, MissingSourcePictureFallsBackWithAWarning) {
    writeWithFfmpeg({backgroundPicture(16, 16)}, ws.path("wood.png"));
    ASSERT_EQ(
        ws.lustra({"settings", "set", "fill1Mode=source", "fill1Source=" + ws.path("gone.png")})
            .exitCode,
        0);
    const RunResult result = render({"-o", "out.png"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("gone.png: no such file"), std::string::npos);
    EXPECT_NE(result.err.find("line 5855"), std::string::npos);
}

TEST_F(RenderFailures, CtrlCStopsAfterTheCurrentFrameWithAClosedFile) {
    // A long render: one picture repeated for many frames.
    const std::string program = LUSTRA_PROGRAM;
    const std::string err = ws.path("interrupt.err");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(ws.dir().c_str()) != 0) _exit(127);
        setenv("VXHOME", ws.home().c_str(), 1);
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), "render", "--title", "title.png", "--background",
              "background.png", "-o", "out.mp4", "--frames", "0-100000", nullptr);
        _exit(127);
    }
    // Wait until frames are being written, then press Ctrl-C.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline &&
           filesContaining(ws.dir(), "out.mp4.partial-").empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::vector<uint8_t> message = readFile(err);
    const std::string text(message.begin(), message.end());
    EXPECT_NE(text.find("interrupted"), std::string::npos) << text;
    ASSERT_TRUE(exists(ws.path("out.mp4")));
    EXPECT_TRUE(filesContaining(ws.dir(), ".partial-").empty());
    const std::string frames = probe(ws.path("out.mp4"), "nb_read_frames");
    EXPECT_GT(std::atoi(frames.c_str()), 0) << frames;
    EXPECT_LT(std::atoi(frames.c_str()), 100001);
}

} // namespace
