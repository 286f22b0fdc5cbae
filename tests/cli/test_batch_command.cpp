// lustra batch end to end: rows rendered by child renders, in parallel and
// in shards, failures reported without stopping the others, re-runs that
// skip finished outputs, and Ctrl-C.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

std::string text(const std::string &path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// File names below a folder (recursively, relative), with their bytes.
std::map<std::string, std::vector<uint8_t>> filesBelow(const std::string &dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    if (!fs::exists(dir)) return files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), dir).string()] = readFile(entry.path().string());
    return files;
}

class Batch : public ::testing::Test {
  protected:
    void SetUp() override {
        // Titles that differ row by row, over one background.
        for (int i = 0; i < 4; ++i)
            writeWithFfmpeg({titlePicture(W, H, i * 3)}, ws.path("t" + std::to_string(i) + ".png"));
        writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("bg.png"));
    }
    // A batch of `rows` rows: title, a field change and a name for -o.
    void writeJobs(int rows, const std::string &badRows = "") {
        std::string csv = "title,set,name\n";
        for (int r = 1; r <= rows; ++r) {
            const bool bad = badRows.find("," + std::to_string(r) + ",") != std::string::npos;
            csv += "t" + std::to_string(r % 4) + ".png,";
            csv += bad ? "bevelWidth=999"
                       : "\"bevelWidth=" + std::to_string(4 + r) +
                             " glowOn=" + (r % 2 ? "on" : "off") + "\"";
            csv += ",title " + std::to_string(r) + "\n";
        }
        writeFile(ws.path("jobs.csv"), std::vector<uint8_t>(csv.begin(), csv.end()));
    }
    RunResult batch(std::vector<std::string> extra) {
        std::vector<std::string> args = {"batch", "jobs.csv", "--background", "bg.png"};
        args.insert(args.end(), extra.begin(), extra.end());
        return ws.lustra(args);
    }
    void expectNoStaging(const std::string &dir) {
        EXPECT_TRUE(filesContaining(ws.path(dir), ".lustra-batch-").empty());
        EXPECT_TRUE(filesContaining(ws.path(dir), ".partial-").empty());
    }
    Workspace ws;
};

} // namespace

TEST_F(Batch, ShardsAndParallelRowsEqualASerialRunFileForFile) {
    writeJobs(12);
    const RunResult serial = batch({"-j", "1", "-o", "serial/{name}.png"});
    ASSERT_EQ(serial.exitCode, 0) << serial.err;
    const auto expected = filesBelow(ws.path("serial"));
    ASSERT_EQ(expected.size(), 12u);
    EXPECT_NE(expected.at("title 1.png"), expected.at("title 5.png")); // same title, other settings

    const RunResult parallel = batch({"-j", "2", "-o", "parallel/{name}.png"});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err;
    EXPECT_EQ(filesBelow(ws.path("parallel")), expected);

    // Three shards into one folder, as three machines would; each renders
    // its own four rows and nothing else.
    std::set<std::string> seen;
    for (int shard = 1; shard <= 3; ++shard) {
        const size_t before = filesBelow(ws.path("shards")).size();
        const RunResult part =
            batch({"--shard", std::to_string(shard) + "/3", "-o", "shards/{name}.png"});
        ASSERT_EQ(part.exitCode, 0) << part.err;
        EXPECT_EQ(filesBelow(ws.path("shards")).size(), before + 4);
        EXPECT_NE(part.err.find("4 rendered, 0 skipped, 0 failed"), std::string::npos) << part.err;
    }
    EXPECT_EQ(filesBelow(ws.path("shards")), expected);
    expectNoStaging("shards");

    // A row equals lustra render with the same options.
    ASSERT_EQ(ws.lustra({"render", "--quiet", "--title", "t3.png", "--background", "bg.png",
                         "--set", "bevelWidth=11", "glowOn=on", "-o", "direct.png"})
                  .exitCode,
              0);
    EXPECT_EQ(readFile(ws.path("direct.png")), expected.at("title 7.png"));

    EXPECT_EQ(batch({"--shard", "0/3", "-o", "x/{name}.png"}).exitCode, 2);
    EXPECT_EQ(batch({"--shard", "4/3", "-o", "x/{name}.png"}).exitCode, 2);
}

TEST_F(Batch, AFailedRowIsReportedTheOthersFinishAndReRunsSkip) {
    writeJobs(5, ",2,4,");
    const RunResult first = batch({"-j", "2", "-o", "out/{name}.png"});
    EXPECT_EQ(first.exitCode, 12) << first.err; // 10 + two failed rows
    for (const char *row : {"row 2 FAILED: out/title 2.png: ", "row 4 FAILED: out/title 4.png: "})
        EXPECT_NE(first.err.find(row), std::string::npos) << first.err;
    // The child's own error line.
    EXPECT_NE(first.err.find("bevelWidth"), std::string::npos) << first.err;
    EXPECT_NE(first.err.find("3 rendered, 0 skipped, 2 failed (rows 2 4)"), std::string::npos)
        << first.err;
    auto files = filesBelow(ws.path("out"));
    EXPECT_EQ(files.size(), 3u);
    EXPECT_EQ(files.count("title 2.png"), 0u);
    expectNoStaging("out");

    // A re-run skips what is there and tries the failed rows again; a file
    // that was there before the batch is kept, not replaced.
    writeFile(ws.path("out/title 3.png"), {'m', 'i', 'n', 'e'});
    const RunResult again = batch({"-o", "out/{name}.png"});
    EXPECT_EQ(again.exitCode, 12) << again.err;
    EXPECT_NE(again.err.find("row 1 out/title 1.png: exists, skipped"), std::string::npos)
        << again.err;
    EXPECT_NE(again.err.find("0 rendered, 3 skipped, 2 failed"), std::string::npos) << again.err;
    EXPECT_EQ(text(ws.path("out/title 3.png")), "mine");

    // -y renders every row again (the failing ones fail again); --quiet
    // keeps only the failures and the summary.
    const RunResult forced = batch({"-y", "--quiet", "-o", "out/{name}.png"});
    EXPECT_EQ(forced.exitCode, 12) << forced.err;
    EXPECT_EQ(forced.err.find("row 1 "), std::string::npos) << forced.err;
    EXPECT_NE(forced.err.find("row 2 FAILED"), std::string::npos) << forced.err;
    EXPECT_EQ(readFile(ws.path("out/title 3.png")), files.at("title 3.png"));

    // Every row failing: the count, capped.
    const RunResult allFail = batch({"-o", "none/{name}.png", "--set", "nosuchfield=1"});
    EXPECT_EQ(allFail.exitCode, 15) << allFail.err;
    EXPECT_NE(allFail.err.find("unknown settings field \"nosuchfield\""), std::string::npos)
        << allFail.err;
}

TEST_F(Batch, BadBatchFilesRenderNothing) {
    const struct Case {
        std::string csv, message;
    } cases[] = {
        {"title,output\nt0.png,a.png\nt1.png,a.png\n", "row 2: the output a.png is also row 1's"},
        {"title,output\nt0.png,{who}.png\n", "{who} in \"{who}.png\" is not a column"},
        {"title,output\n\"t0.png,a.png\n", "jobs.csv line 2: a quoted field is not closed"},
        {"title,output\nt0.png,a.nosuchformat\n", "row 1: a.nosuchformat: unknown output type"},
        {"title,output\nt0.png,bg.png\n", "the output bg.png is the same file as the input bg.png"},
    };
    for (const Case &c : cases) {
        writeFile(ws.path("jobs.csv"), std::vector<uint8_t>(c.csv.begin(), c.csv.end()));
        for (const char *flag : {"-n", "-y"}) {
            const auto before = filesBelow(ws.dir());
            const RunResult result = batch({flag});
            SCOPED_TRACE(c.csv);
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
            EXPECT_NE(result.err.find("nothing was rendered"), std::string::npos) << result.err;
            EXPECT_EQ(filesBelow(ws.dir()), before);
        }
    }
    EXPECT_EQ(ws.lustra({"batch", "missing.csv"}).exitCode, 1);
    EXPECT_EQ(ws.lustra({"batch", "--background", "bg.png", "jobs.csv"}).exitCode, 2);
}

TEST_F(Batch, JsonRowsAndSequences) {
    const std::string json = R"([
  {"title": "t1.png", "set": ["bevelWidth=20", "glowOn=on"], "output": "json/a.png"},
  {"title": "t2.png", "frames": "0-2", "output": "json/f-%02d.png"}
])";
    writeFile(ws.path("jobs.json"), std::vector<uint8_t>(json.begin(), json.end()));
    const RunResult result = ws.lustra({"batch", "jobs.json", "--background", "bg.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(ws.lustra({"render", "--quiet", "--title", "t1.png", "--background", "bg.png",
                         "--set", "bevelWidth=20", "glowOn=on", "-o", "a.png"})
                  .exitCode,
              0);
    EXPECT_EQ(readFile(ws.path("json/a.png")), readFile(ws.path("a.png")));
    for (const char *frame : {"json/f-00.png", "json/f-01.png", "json/f-02.png"})
        EXPECT_TRUE(exists(ws.path(frame))) << frame;
    expectNoStaging("json");
    const RunResult again = ws.lustra({"batch", "jobs.json", "--background", "bg.png"});
    EXPECT_NE(again.err.find("0 rendered, 2 skipped"), std::string::npos) << again.err;
}

TEST_F(Batch, CtrlCStopsTheBatchAndKeepsNoUnfinishedOutput) {
    // Long rows: 100000 frames each, so that Ctrl-C comes while they run.
    std::string csv = "title,output\n";
    for (int r = 0; r < 6; ++r) csv += "t0.png,long/" + std::to_string(r) + ".mkv\n";
    writeFile(ws.path("jobs.csv"), std::vector<uint8_t>(csv.begin(), csv.end()));
    const std::string program = LUSTRA_PROGRAM, err = ws.path("err.txt");
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(ws.dir().c_str()) != 0) _exit(127);
        setenv("VXHOME", ws.home().c_str(), 1);
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), "batch", "jobs.csv", "-j", "2", "--background",
              "bg.png", "--frames", "0-99999", static_cast<char *>(nullptr));
        _exit(127);
    }
    // Wait until both rows render (their staged files appear), then Ctrl-C.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((!fs::exists(ws.path("long")) ||
            filesContaining(ws.path("long"), ".partial-").size() < 2) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << text(err);
    EXPECT_NE(text(err).find("interrupted"), std::string::npos) << text(err);
    // No row finished, none left a file behind; a re-run renders them all.
    EXPECT_TRUE(filesBelow(ws.path("long")).empty()) << text(err);
    EXPECT_TRUE(fs::is_empty(ws.path("long")));
}

TEST_F(Batch, TextColumnBecomesTypedTitles) {
    if (ws.lustra({"render", "--help"}).out.find("--text") == std::string::npos)
        GTEST_SKIP() << "this lustra render has no --text";
    const std::string csv = "text,output\nNIGHT NEWS,a.png\n\"Two\nlines\",b.png\n";
    writeFile(ws.path("jobs.csv"), std::vector<uint8_t>(csv.begin(), csv.end()));
    writeWithFfmpeg({backgroundPicture(640, 360)}, ws.path("wide.png"));
    const RunResult result = ws.lustra({"batch", "jobs.csv", "--background", "wide.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(ws.lustra({"render", "--quiet", "--text", "Two\nlines", "--background", "wide.png",
                         "-o", "direct.png"})
                  .exitCode,
              0);
    EXPECT_EQ(readFile(ws.path("b.png")), readFile(ws.path("direct.png")));
    EXPECT_NE(readFile(ws.path("a.png")), readFile(ws.path("b.png")));
}

namespace {

// The `n`-th ```sh block of the README's batch section.
std::string readmeBatchBlock(int n) {
    std::ifstream file(LUSTRA_README);
    std::stringstream whole;
    whole << file.rdbuf();
    const std::string readme = whole.str();
    size_t at = readme.find("### Batches");
    if (at == std::string::npos) return "";
    for (int i = 0; i <= n; ++i) {
        at = readme.find("```sh\n", at);
        if (at == std::string::npos) return "";
        at += 6;
    }
    return readme.substr(at, readme.find("```", at) - at);
}

} // namespace

// As after the README's first command: build/lustra and lustra-demo/.
void makeReadmeFolder(const Workspace &ws) {
    fs::create_directory(ws.path("build"));
    fs::create_symlink(LUSTRA_PROGRAM, ws.path("build/lustra"));
    ASSERT_EQ(ws.lustra({"demo", "--frames", "2"}).exitCode, 0);
}

TEST_F(Batch, TheReadmeExampleRunsAsWritten) {
    makeReadmeFolder(ws);
    const std::string looks = readmeBatchBlock(0);
    ASSERT_NE(looks.find("lustra-demo/title.png"), std::string::npos) << looks;
    const RunResult result =
        runProgram({"/bin/bash", "-e", "-c", looks}, ws.dir(), {{"VXHOME", ws.home()}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("batch: 4 rendered, 0 skipped, 0 failed"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("batch: 0 rendered, 4 skipped, 0 failed"), std::string::npos)
        << result.err;
    EXPECT_EQ(filesBelow(ws.path("looks")).size(), 5u);
    EXPECT_EQ(probe(ws.path("looks/chrome.mp4"), "codec_name"), "h264");
    EXPECT_NE(result.out.find("render --title lustra-demo/title.png"), std::string::npos)
        << result.out;
}

TEST_F(Batch, TheReadmeTypedTitlesRunAsWritten) {
    if (ws.lustra({"render", "--help"}).out.find("--text") == std::string::npos)
        GTEST_SKIP() << "this lustra render has no --text";
    makeReadmeFolder(ws);
    const RunResult typed =
        runProgram({"/bin/bash", "-e", "-c", "L=./build/lustra\n" + readmeBatchBlock(1)}, ws.dir(),
                   {{"VXHOME", ws.home()}});
    ASSERT_EQ(typed.exitCode, 0) << typed.err;
    for (const char *file :
         {"night.png", "weather.png", "lower-thirds/Ann Lee.mp4", "lower-thirds/Ben O'Hara.mp4"})
        EXPECT_TRUE(exists(ws.path(file))) << file;
}
