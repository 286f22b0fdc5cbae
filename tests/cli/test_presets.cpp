// The library of looks: the shipped presets, lustra presets and
// render --preset, run as a user runs them; the installation of the looks
// into VXHOME for the dialog.
#include "CliTestSupport.h"

#include "Presets.h"
#include "SettingsRecord.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace lustra::clitest;
namespace fs = std::filesystem;

namespace {

const std::string kShipped = std::string(LUSTRA_DATA_DIR) + "/presets";

std::vector<std::string> shippedNames() {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(kShipped))
        if (entry.path().extension() == ".prf") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A small title and background for renders.
struct Inputs {
    std::string title, background;
    explicit Inputs(const Workspace &ws)
        : title(ws.path("title.png")), background(ws.path("bg.png")) {
        writeWithFfmpeg({titlePicture(160, 96)}, title);
        writeWithFfmpeg({backgroundPicture(160, 96)}, background);
    }
};

TEST(Presets, ShippedLooksAreRecordsTheGeneratorMakesFromTheirText) {
    const std::vector<std::string> names = shippedNames();
    ASSERT_GE(names.size(), 12u);
    // make_presets again from tools/presets gives the same bytes.
    const fs::path fresh =
        fs::temp_directory_path() / ("lustra-presets-" + std::to_string(getpid()));
    const RunResult made =
        runProgram({MAKE_PRESETS_TOOL, LOOKS_SOURCE_DIR, fresh.string()}, ".", {});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const std::string &name : names) {
        const std::vector<uint8_t> shipped = readFile(kShipped + "/" + name + ".prf");
        EXPECT_EQ(shipped.size(), 824u) << name;
        EXPECT_EQ(readFile((fresh / (name + ".prf")).string()), shipped) << name;
        EXPECT_TRUE(exists(std::string(LOOKS_SOURCE_DIR) + "/" + name + ".look")) << name;
    }
    fs::remove_all(fresh);
}

TEST(Presets, ListShowsShippedAndUserPresetsAndShowPrintsTheFields) {
    Workspace ws;
    RunResult result = ws.lustra({"presets", "list"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const std::string &name : shippedNames())
        EXPECT_NE(result.out.find("\n" + name + " "), std::string::npos) << name;
    EXPECT_NE(result.out.find("shipped  polished gold"), std::string::npos) << result.out;

    // A user preset of a shipped name is listed as the user's and used.
    ASSERT_EQ(ws.lustra({"settings", "set", ws.path("gold.prf"), "bevelWidth=3"}).exitCode, 0);
    result = ws.lustra({"presets", "import", ws.path("gold.prf")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("used instead of the shipped look"), std::string::npos);
    result = ws.lustra({"presets", "list"});
    EXPECT_NE(
        result.out.find("gold             user     " + ws.home() + "/programs/lustra/gold.prf"),
        std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("gold             shipped"), std::string::npos);
    result = ws.lustra({"presets", "show", "gold"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("(user preset gold)"), std::string::npos);
    EXPECT_NE(result.out.find("bevelWidth         = 3"), std::string::npos);

    result = ws.lustra({"presets", "show", "chrome.prf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("(shipped preset chrome)"), std::string::npos);
    EXPECT_NE(result.out.find("fill1Mode          = 2"), std::string::npos);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 84); // path, look, fields

    result = ws.lustra({"presets", "show", "no-such-look"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("no preset \"no-such-look\" (available: brushed-metal, "),
              std::string::npos)
        << result.err;
}

TEST(Presets, ExportAndImportCopyTheBytesAndReplaceOnlyWithY) {
    Workspace ws;
    const std::vector<uint8_t> chrome = readFile(kShipped + "/chrome.prf");
    RunResult result = ws.lustra({"presets", "export", "chrome", ws.path("mine.prf")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(ws.path("mine.prf")), chrome);

    // An existing file stays without -y.
    writeFile(ws.path("keep.prf"), {1, 2, 3});
    result = ws.lustra({"presets", "export", "chrome", ws.path("keep.prf")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("-y"), std::string::npos);
    EXPECT_EQ(readFile(ws.path("keep.prf")), (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(ws.lustra({"presets", "export", "chrome", ws.path("keep.prf"), "-y"}).exitCode, 0);
    EXPECT_EQ(readFile(ws.path("keep.prf")), chrome);

    // Import, then export again: the same bytes.
    ASSERT_EQ(ws.lustra({"settings", "set", ws.path("mine.prf"), "glowOn=on"}).exitCode, 0);
    const std::vector<uint8_t> mine = readFile(ws.path("mine.prf"));
    result = ws.lustra({"presets", "import", ws.path("mine.prf"), "--name", "shiny"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(ws.home() + "/programs/lustra/shiny.prf"), mine);
    ASSERT_EQ(ws.lustra({"presets", "export", "shiny", ws.path("back.prf")}).exitCode, 0);
    EXPECT_EQ(readFile(ws.path("back.prf")), mine);

    // Importing over an existing preset needs -y; -n never replaces.
    result = ws.lustra({"presets", "import", ws.path("keep.prf"), "--name", "shiny"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(ws.home() + "/programs/lustra/shiny.prf"), mine);
    result = ws.lustra({"presets", "import", ws.path("keep.prf"), "--name", "shiny", "-n"});
    EXPECT_EQ(result.exitCode, 1);
    ASSERT_EQ(
        ws.lustra({"presets", "import", ws.path("keep.prf"), "--name", "shiny", "-y"}).exitCode, 0);
    EXPECT_EQ(readFile(ws.home() + "/programs/lustra/shiny.prf"), chrome);

    // A file that is no record is refused; no temporary file stays.
    writeFile(ws.path("short.prf"), {1, 2, 3});
    result = ws.lustra({"presets", "import", ws.path("short.prf")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("has 3 bytes"), std::string::npos) << result.err;
    EXPECT_FALSE(exists(ws.home() + "/programs/lustra/short.prf"));
    EXPECT_EQ(filesContaining(ws.home() + "/programs/lustra", ".partial-").size(), 0u);
    EXPECT_EQ(filesContaining(ws.dir(), ".partial-").size(), 0u);
    // Exporting a preset onto itself is refused.
    result =
        ws.lustra({"presets", "export", "shiny", ws.home() + "/programs/lustra/shiny.prf", "-y"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(readFile(ws.home() + "/programs/lustra/shiny.prf"), chrome);
}

TEST(Presets, RenderWithAPresetIsRenderWithItsFileAndSetAppliesOnTop) {
    Workspace ws;
    const Inputs in(ws);
    auto render = [&](const std::vector<std::string> &options, const std::string &output) {
        std::vector<std::string> command = {"render",        "--title",     in.title,
                                            "--background",  in.background, "-o",
                                            ws.path(output), "--quiet"};
        command.insert(command.end(), options.begin(), options.end());
        return ws.lustra(command);
    };
    RunResult result = render({"--preset", "neon-glow"}, "preset.png");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(render({"--settings", kShipped + "/neon-glow.prf"}, "file.png").exitCode, 0);
    const auto a = decodeWithFfmpeg(ws.path("preset.png"), 160, 96);
    const auto b = decodeWithFfmpeg(ws.path("file.png"), 160, 96);
    EXPECT_EQ(maxDifference(a.at(0), b.at(0)), 0);

    ASSERT_EQ(
        render({"--preset", "neon-glow", "--set", "glowColour1=#40FF40"}, "green.png").exitCode, 0);
    ASSERT_EQ(render({"--settings", kShipped + "/neon-glow.prf", "--set", "glowColour1=#40FF40"},
                     "green-file.png")
                  .exitCode,
              0);
    const auto c = decodeWithFfmpeg(ws.path("green.png"), 160, 96);
    EXPECT_EQ(maxDifference(c.at(0), decodeWithFfmpeg(ws.path("green-file.png"), 160, 96).at(0)),
              0);
    EXPECT_GT(maxDifference(c.at(0), a.at(0)), 20);

    result = render({"--preset", "gold", "--settings", kShipped + "/gold.prf"}, "x.png");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("either --preset or --settings"), std::string::npos);
    result = render({"--preset", "gold", "--instance", "logo"}, "x.png");
    EXPECT_EQ(result.exitCode, 2);
    result = render({"--preset", "golden"}, "x.png");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("available: brushed-metal"), std::string::npos) << result.err;
    EXPECT_FALSE(exists(ws.path("x.png")));
}

TEST(Presets, EveryShippedLookRendersAndLooksDifferentFromTheDefaults) {
    Workspace ws;
    const Inputs in(ws);
    ASSERT_EQ(ws.lustra({"settings", "reset", ws.path("defaults.prf")}).exitCode, 0);
    ASSERT_EQ(ws.lustra({"render", "--title", in.title, "--background", in.background, "-o",
                         ws.path("default.png"), "--quiet", "--settings", ws.path("defaults.prf")})
                  .exitCode,
              0);
    const Picture defaults = decodeWithFfmpeg(ws.path("default.png"), 160, 96).at(0);
    for (const std::string &name : shippedNames()) {
        const RunResult result =
            ws.lustra({"render", "--title", in.title, "--background", in.background, "-o",
                       ws.path(name + ".png"), "--preset", name});
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
        EXPECT_EQ(result.err.find("warning"), std::string::npos) << name << ": " << result.err;
        const Picture look = decodeWithFfmpeg(ws.path(name + ".png"), 160, 96).at(0);
        EXPECT_GT(meanDifference(look, defaults), 1.0) << name;
    }
}

TEST(Presets, LooksAreInstalledForTheDialogWithoutTouchingTheUsersFiles) {
    Workspace ws;
    const std::string shipped = ws.path("shipped"), looks = ws.path("looks");
    fs::create_directories(shipped);
    auto record = [](uint8_t value) { return std::vector<uint8_t>(824, value); };
    writeFile(shipped + "/a.prf", record(1));
    writeFile(shipped + "/b.prf", record(2));
    writeFile(shipped + "/c.prf", record(3));
    fs::create_directories(looks);
    writeFile(looks + "/c.prf", record(9)); // the user's own file of that name
    writeFile(looks + "/mine.prf", record(7));
    lustra::cli::installLooks(shipped, looks);
    EXPECT_EQ(readFile(looks + "/a.prf"), record(1));
    EXPECT_EQ(readFile(looks + "/b.prf"), record(2));
    EXPECT_EQ(readFile(looks + "/c.prf"), record(9));

    // The shipped looks change: a is refreshed, b changed by the user stays,
    // a look no longer shipped goes, the user's files stay.
    writeFile(looks + "/b.prf", record(5));
    writeFile(shipped + "/a.prf", record(11));
    writeFile(shipped + "/b.prf", record(12));
    fs::remove(shipped + "/c.prf");
    writeFile(shipped + "/d.prf", record(4));
    lustra::cli::installLooks(shipped, looks);
    EXPECT_EQ(readFile(looks + "/a.prf"), record(11));
    EXPECT_EQ(readFile(looks + "/b.prf"), record(5));
    EXPECT_EQ(readFile(looks + "/c.prf"), record(9));
    EXPECT_EQ(readFile(looks + "/d.prf"), record(4));
    EXPECT_EQ(readFile(looks + "/mine.prf"), record(7));
    fs::remove(shipped + "/d.prf");
    lustra::cli::installLooks(shipped, looks);
    EXPECT_FALSE(exists(looks + "/d.prf"));

    // lustra's own preparation of the home puts every shipped look there.
    ASSERT_EQ(ws.lustra({"settings", "set", "bevelWidth=3"}).exitCode, 0);
    for (const std::string &name : shippedNames())
        EXPECT_EQ(readFile(ws.home() + "/programs/lustra/looks/" + name + ".prf"),
                  readFile(kShipped + "/" + name + ".prf"))
            << name;
}

} // namespace
