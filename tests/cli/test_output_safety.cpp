// No input or existing file is ever destroyed: outputs that are inputs,
// existing outputs (-y, -n, the question on a terminal), failed renders that
// clean up only what they created, and signals that end lustra at once.
#include "CliTestSupport.h"

#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

size_t lines(const std::string &text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Starts lustra in the workspace with stderr in `err`; `prepare` runs in the
// child before exec.
pid_t startLustra(const Workspace &ws, const std::vector<std::string> &arguments,
                  const std::string &err, const std::function<void()> &prepare = {}) {
    const std::string program = LUSTRA_PROGRAM;
    const pid_t child = fork();
    if (child != 0) return child;
    if (chdir(ws.dir().c_str()) != 0) _exit(127);
    setenv("VXHOME", ws.home().c_str(), 1);
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(fd, 2);
    dup2(in, 0);
    if (prepare) prepare();
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &part : arguments) argv.push_back(const_cast<char *>(part.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

std::string text(const std::string &path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class OutputSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        writeWithFfmpeg({titlePicture(W, H)}, ws.path("title.png"));
        writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("background.png"));
    }
    RunResult render(std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return ws.lustra(args);
    }
    void expectNoTemporaries() {
        EXPECT_TRUE(filesContaining(ws.dir(), ".partial-").empty());
        EXPECT_TRUE(filesContaining(ws.home() + "/programs/lustra/settings", ".render-").empty());
    }
    Workspace ws;
};

TEST_F(OutputSafety, AnOutputThatIsAnInputIsRefusedWhateverItsName) {
    const std::vector<uint8_t> title = readFile(ws.path("title.png"));
    const std::vector<uint8_t> background = readFile(ws.path("background.png"));
    fs::create_symlink("title.png", ws.path("link.png"));
    fs::create_hard_link(ws.path("background.png"), ws.path("hard.png"));
    fs::copy_file(ws.path("title.png"), ws.path("wood.png"));
    fs::copy_file(ws.path("title.png"), ws.path("f-0002.png"));
    writeFile(ws.path("s.png"), lustra::test::defaultSettingsBytes());
    ASSERT_EQ(ws.lustra({"settings", "set", "fill2Source=" + ws.path("wood.png")}).exitCode, 0);
    const struct Case {
        std::vector<std::string> arguments;
        std::string output, input;
    } cases[] = {
        {{"--title", "title.png", "--background", "#203040", "-o", "title.png"},
         "title.png",
         "--title title.png"},
        {{"--title", "title.png", "--background", "background.png", "-o", "./background.png"},
         "./background.png",
         "--background background.png"},
        {{"--title", "title.png", "--background", "background.png", "-o", "link.png"},
         "link.png",
         "--title title.png"},
        {{"--title", "link.png", "--background", "background.png", "-o", "title.png"},
         "title.png",
         "--title link.png"},
        {{"--title", "title.png", "--background", "background.png", "-o", "hard.png"},
         "hard.png",
         "--background background.png"},
        {{"--title", "title.png", "--background", "background.png", "--source", "fill1=wood.png",
          "-o", "wood.png"},
         "wood.png",
         "--source fill1 wood.png"},
        {{"--title", "title.png", "--background", "background.png", "--settings", "s.png", "-o",
          "s.png"},
         "s.png",
         "--settings s.png"},
        // A picture the settings file names.
        {{"--title", "title.png", "--background", "background.png", "-o", "wood.png"},
         "wood.png",
         "fill2Source picture " + ws.path("wood.png")},
        // One frame of a sequence.
        {{"--title", "f-0002.png", "--background", "background.png", "--frames", "0-3", "-o",
          "f-%04d.png"},
         "f-0002.png (of f-%04d.png)",
         "--title f-0002.png"},
    };
    for (const Case &c : cases) {
        for (const char *flag : {"", "-y"}) {
            std::vector<std::string> arguments = c.arguments;
            if (*flag) arguments.push_back(flag);
            const RunResult result = render(arguments);
            SCOPED_TRACE(c.output + " " + flag);
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_EQ(lines(result.err), 1u) << result.err;
            EXPECT_NE(
                result.err.find(c.output + ": the output is the same file as the input " + c.input),
                std::string::npos)
                << result.err;
        }
    }
    // Without --quiet the refusal is still the only line.
    const RunResult loud =
        ws.lustra({"render", "--title", "title.png", "--background", "#203040", "-o", "title.png"});
    EXPECT_EQ(loud.exitCode, 2);
    EXPECT_EQ(lines(loud.err), 1u) << loud.err;
    EXPECT_EQ(readFile(ws.path("title.png")), title);
    EXPECT_EQ(readFile(ws.path("background.png")), background);
    EXPECT_EQ(readFile(ws.path("wood.png")), title);
    EXPECT_EQ(readFile(ws.path("f-0002.png")), title);
    EXPECT_EQ(readFile(ws.path("s.png")), lustra::test::defaultSettingsBytes());
    EXPECT_TRUE(fs::is_symlink(ws.path("link.png")));
    for (const char *name : {"f-0000.png", "f-0001.png", "f-0003.png"})
        EXPECT_FALSE(exists(ws.path(name))) << name;
    expectNoTemporaries();
}

TEST_F(OutputSafety, ExistingOutputsAreKeptUnlessTheUserAsksToReplaceThem) {
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const std::vector<std::string> inputs = {"--title", "title.png", "--background",
                                             "background.png"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = inputs;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return render(arguments);
    };
    for (const std::string output : {"out.png", "out.mp4"}) {
        SCOPED_TRACE(output);
        writeFile(ws.path(output), old);
        RunResult result = with({"-o", output});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(output + " exists; add -y (--overwrite)"), std::string::npos)
            << result.err;
        EXPECT_EQ(lines(result.err), 1u) << result.err;
        result = with({"-o", output, "-n"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("-n keeps existing files"), std::string::npos) << result.err;
        EXPECT_EQ(readFile(ws.path(output)), old);
        EXPECT_EQ(with({"-o", output, "-y", "-n"}).exitCode, 2);
        result = with({"-o", output, "--overwrite"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_GT(readFile(ws.path(output)).size(), 100u);
        result = with({"-o", output, "-y"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    // A sequence: only the frames it would write count.
    writeFile(ws.path("f-0001.png"), old);
    RunResult result = with({"-o", "f-%04d.png", "--frames", "0-3"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("f-0001.png exists"), std::string::npos) << result.err;
    EXPECT_FALSE(exists(ws.path("f-0000.png")));
    result = with({"-o", "f-%04d.png", "--frames", "2-3"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(exists(ws.path("f-0002.png")) && exists(ws.path("f-0003.png")));
    result = with({"-o", "f-%04d.png", "--frames", "0-3", "-n"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("f-0001.png and 2 more files of f-%04d.png exist"), std::string::npos)
        << result.err;
    EXPECT_EQ(readFile(ws.path("f-0001.png")), old);
    EXPECT_EQ(with({"-o", "f-%04d.png", "--frames", "0-3", "-y"}).exitCode, 0);
    EXPECT_NE(readFile(ws.path("f-0001.png")), old);

    // The demo folder: its four files are checked together.
    EXPECT_EQ(ws.lustra({"demo", "-o", "demo", "--size", "64x48", "--frames", "2", "-q"}).exitCode,
              0);
    const std::vector<uint8_t> demoTitle = readFile(ws.path("demo/title.png"));
    writeFile(ws.path("demo/lustra-demo.mp4"), old);
    result = ws.lustra({"demo", "-o", "demo", "--size", "64x48", "--frames", "2", "-q"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("add -y"), std::string::npos) << result.err;
    EXPECT_EQ(readFile(ws.path("demo/lustra-demo.mp4")), old);
    result = ws.lustra({"demo", "-o", "demo", "--size", "64x48", "--frames", "2", "-q", "-y"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(ws.path("demo/title.png")), demoTitle);
    EXPECT_EQ(probe(ws.path("demo/lustra-demo.mp4"), "nb_read_frames"), "2");
    expectNoTemporaries();
}

TEST_F(OutputSafety, OnATerminalLustraAsksBeforeReplacing) {
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const char *answer : {"\n", "y\n"}) {
        SCOPED_TRACE(answer);
        writeFile(ws.path("out.png"), old);
        int terminal = -1;
        const std::string program = LUSTRA_PROGRAM;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(ws.dir().c_str()) != 0) _exit(127);
            setenv("VXHOME", ws.home().c_str(), 1);
            execl(program.c_str(), program.c_str(), "render", "--title", "title.png",
                  "--background", "background.png", "-o", "out.png", "--quiet", nullptr);
            _exit(127);
        }
        std::string seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (seen.find("[y/N]") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{terminal, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0) break;
            seen.append(buffer, size_t(n));
        }
        EXPECT_NE(seen.find("out.png exists; overwrite? [y/N]"), std::string::npos) << seen;
        ASSERT_EQ(write(terminal, answer, std::strlen(answer)), ssize_t(std::strlen(answer)));
        // Keep reading so that the child never blocks on a full terminal.
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            char buffer[256];
            pollfd p{terminal, POLLIN, 0};
            if (poll(&p, 1, 50) > 0 && read(terminal, buffer, sizeof buffer) <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(terminal);
        ASSERT_TRUE(WIFEXITED(status));
        if (answer[0] == 'y') {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            EXPECT_NE(readFile(ws.path("out.png")), old);
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 1);
            EXPECT_EQ(readFile(ws.path("out.png")), old);
        }
    }
    expectNoTemporaries();
}

TEST_F(OutputSafety, AFailedRenderRemovesOnlyTheFilesItCreated) {
    // A background whose frames 3 and up are noise: their pictures are far
    // larger than the plain frames before, so a file-size limit (a full
    // disk, for lustra) fails frame 3.
    std::vector<Picture> backgrounds;
    std::mt19937 random(7);
    for (int i = 0; i < 6; ++i) {
        Picture picture = backgroundPicture(W, H);
        if (i >= 3)
            for (uint8_t &byte : picture.bytes) byte = uint8_t(random());
        else
            std::fill(picture.bytes.begin(), picture.bytes.end(), uint8_t(40));
        backgrounds.push_back(picture);
    }
    writeWithFfmpeg(backgrounds, ws.path("noise.mkv"), {"-c:v", "ffv1"});
    const std::vector<uint8_t> old1 = {'o', 'n', 'e'}, old3 = {'t', 'h', 'r', 'e', 'e'};
    writeFile(ws.path("f-0001.png"), old1);
    writeFile(ws.path("f-0003.png"), old3);
    auto limited = [] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {6000, 6000};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    const std::string err = ws.path("render.err");
    pid_t child = startLustra(ws,
                              {"render", "--title", "title.png", "--background", "noise.mkv", "-o",
                               "f-%04d.png", "-y", "--quiet"},
                              err, limited);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << text(err);
    EXPECT_NE(text(err).find("f-0003.png: cannot write"), std::string::npos) << text(err);
    // Frames 0 and 2 were new: removed. Frame 1 existed and was replaced as
    // asked: kept. Frame 3 failed: its old file is whole.
    EXPECT_FALSE(exists(ws.path("f-0000.png")));
    EXPECT_FALSE(exists(ws.path("f-0002.png")));
    ASSERT_TRUE(exists(ws.path("f-0001.png")));
    EXPECT_NE(readFile(ws.path("f-0001.png")), old1);
    EXPECT_EQ(readFile(ws.path("f-0003.png")), old3);
    EXPECT_FALSE(exists(ws.path("f-0004.png")));

    // A video that cannot be written: no file, no temporary.
    child = startLustra(ws,
                        {"render", "--title", "title.png", "--background", "noise.mkv", "-o",
                         "out.mkv", "--codec", "ffv1", "--quiet"},
                        err, limited);
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << text(err);
    EXPECT_FALSE(exists(ws.path("out.mkv")));
    expectNoTemporaries();
}

TEST_F(OutputSafety, ASecondSignalEndsLustraWithoutLeavingTemporaryFiles) {
    writeWithFfmpeg({titlePicture(1280, 720)}, ws.path("big-title.png"));
    const struct Case {
        int first, second;
        std::string output, partial;
        std::vector<std::string> extra;
    } cases[] = {
        {SIGINT, SIGINT, "out.mp4", "out.mp4.partial-", {}},
        {SIGTERM, SIGTERM, "out.mkv", "out.mkv.partial-", {}},
        {SIGINT, SIGTERM, "out.mov", "out.mov.partial-", {}},
        // The settings the module reads for this render only are temporary too.
        {SIGINT, SIGINT, "seq-%06d.png", "seq-", {"--set", "glowOn=on"}},
    };
    int endedBySignal = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.output);
        std::vector<std::string> arguments = {
            "render", "--title", "big-title.png", "--background", "#203040",
            "-o",     c.output,  "--frames",      "0-100000",     "--quiet"};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        const pid_t child = startLustra(ws, arguments, ws.path("signal.err"));
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline &&
               filesContaining(ws.dir(), c.partial).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // The second signal as soon as lustra has taken the first, while it
        // finishes its current frame (well within 50 ms).
        kill(child, c.first);
        while (std::chrono::steady_clock::now() < deadline &&
               text(ws.path("signal.err")).find("interrupted") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(child, c.second);
        int status = 0;
        waitpid(child, &status, 0);
        // Normally the second signal ends lustra; on a slow machine it may
        // have closed its output and exited with 130 before.
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), c.second);
            ++endedBySignal;
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 130) << text(ws.path("signal.err"));
        }
        EXPECT_TRUE(filesContaining(ws.dir(), ".partial-").empty());
        expectNoTemporaries();
        // An output that was completed before the second signal is whole.
        if (c.output.find('%') == std::string::npos && exists(ws.path(c.output))) {
            EXPECT_GT(std::atoi(probe(ws.path(c.output), "nb_read_frames").c_str()), 0);
        }
    }
    EXPECT_GT(endedBySignal, 0);
}

TEST_F(OutputSafety, SeveralAssignmentsFollowOneSet) {
    const std::vector<std::string> inputs = {"--title", "title.png", "--background",
                                             "background.png"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = inputs;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return render(arguments);
    };
    ASSERT_EQ(with({"-o", "plain.png"}).exitCode, 0);
    RunResult result =
        with({"--set", "glowOn=on", "glowColour1=#FFD040", "bevelWidth=12", "-o", "one.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    result =
        with({"--set", "glowOn=on", "--set=glowColour1=#FFD040", "bevelWidth=12", "-o", "two.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    result = with({"--set", "glowOn=on", "--set", "glowColour1=#FFD040", "--set", "bevelWidth=12",
                   "-o", "three.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<Picture> one = decodeWithFfmpeg(ws.path("one.png"), W, H);
    EXPECT_EQ(maxDifference(one[0], decodeWithFfmpeg(ws.path("two.png"), W, H)[0]), 0);
    EXPECT_EQ(maxDifference(one[0], decodeWithFfmpeg(ws.path("three.png"), W, H)[0]), 0);
    EXPECT_GT(maxDifference(one[0], decodeWithFfmpeg(ws.path("plain.png"), W, H)[0]), 20);
    // A bad value after --set is still refused, and a word of another form
    // is not taken as an assignment.
    EXPECT_EQ(with({"--set", "glowOn=on", "bevelWidth=99", "-o", "bad.png"}).exitCode, 2);
    result = with({"--set", "glowOn=on", "stray", "-o", "bad.png"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("unknown argument \"stray\""), std::string::npos) << result.err;
}

TEST_F(OutputSafety, MisspelledInstancesAndMissingSourcePicturesAreSaid) {
    ASSERT_EQ(ws.lustra({"settings", "set", "--instance", "title", "glowOn=on"}).exitCode, 0);
    RunResult result = render({"--title", "title.png", "--background", "background.png",
                               "--instance", "tilte", "-o", "out.png"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("warning: instance \"tilte\" has no settings file (looked for " +
                              ws.settingsPath("tilte.prf") + ")"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
    result = render({"--title", "title.png", "--background", "background.png", "--instance",
                     "title", "-o", "out2.png"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");

    result = ws.lustra({"settings", "set", "fill1Mode=source", "fill1Source=gone.png"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("warning: fill1Source: " + ws.path("gone.png") + ": no such file"),
              std::string::npos)
        << result.err;
    EXPECT_NE(ws.lustra({"settings", "show"}).out.find(ws.path("gone.png")), std::string::npos);
    result = ws.lustra({"settings", "set", "fill1Source=title.png"});
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
}

TEST_F(OutputSafety, SettingsFilesAreNeverWrittenThroughALink) {
    const std::string outside = ws.path("outside.prf");
    const std::vector<uint8_t> kept = {'k', 'e', 'e', 'p'};
    writeFile(outside, kept);
    fs::create_symlink(outside, ws.settingsPath());
    fs::create_symlink(outside, ws.settingsPath("other.prf"));
    RunResult result = ws.lustra({"settings", "set", "glowOn=on"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("is a symbolic link; it is replaced by a regular file"),
              std::string::npos)
        << result.err;
    result = ws.lustra({"settings", "reset", "--instance", "other"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(outside), kept);
    for (const std::string &file : {ws.settingsPath(), ws.settingsPath("other.prf")}) {
        EXPECT_FALSE(fs::is_symlink(file)) << file;
        EXPECT_EQ(fs::file_size(file), 824u) << file;
    }
}

} // namespace
