// lustra settings, run as a program: show, set, reset on raw record files.
#include "CliTestSupport.h"

#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace lustra::clitest;

namespace {

TEST(SettingsCommand, ShowListsEveryFieldWithDefaultsForAMissingFile) {
    Workspace ws;
    const RunResult result = ws.lustra({"settings", "show"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(ws.settingsPath()), std::string::npos);
    EXPECT_NE(result.out.find("the defaults"), std::string::npos);
    EXPECT_NE(result.out.find("bevelWidth         = 8"), std::string::npos);
    EXPECT_NE(result.out.find("glowColour2        = 0x515AF0FF"), std::string::npos);
    EXPECT_NE(result.out.find("RGB #EE0E0D"),
              std::string::npos); // the module's conversion: 238, 14, 13
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 83);
    EXPECT_FALSE(exists(ws.settingsPath())); // showing writes nothing
}

TEST(SettingsCommand, SetWritesTheRecordThatShowAndTheModuleRead) {
    Workspace ws;
    RunResult result = ws.lustra({"settings", "set", "bevelWidth=20", "glowOn=on",
                                  "shadowColour=#FF0000", "fill1Mode=metal", "offsetY=-40"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<uint8_t> expected = lustra::test::defaultSettingsBytes();
    expected[11] = 20;
    expected[22] = 1;
    lustra::test::put32(expected, 816, 0x4C54FFFF);
    expected[417] = 2;
    lustra::test::put32(expected, 32, uint32_t(-40));
    EXPECT_EQ(readFile(ws.settingsPath()), expected);
    result = ws.lustra({"settings", "show"});
    EXPECT_NE(result.out.find("bevelWidth         = 20"), std::string::npos);
    EXPECT_NE(result.out.find("fill1Mode          = 2"), std::string::npos);
    EXPECT_EQ(filesContaining(ws.home() + "/programs/lustra/settings", ".last.prf.").size(), 0u);
}

TEST(SettingsCommand, InstancesAndFilesAreSeparateRecords) {
    Workspace ws;
    ASSERT_EQ(ws.lustra({"settings", "set", "--instance", "logo", "bevelDepth=50"}).exitCode, 0);
    EXPECT_EQ(readFile(ws.settingsPath("logo.prf"))[12], 50);
    EXPECT_FALSE(exists(ws.settingsPath()));
    ASSERT_EQ(ws.lustra({"settings", "set", "mine.prf", "glowWidth=3"}).exitCode, 0);
    EXPECT_EQ(readFile(ws.path("mine.prf"))[18], 3);
    EXPECT_EQ(ws.lustra({"settings", "path", "--instance", "logo"}).out,
              ws.settingsPath("logo.prf") + "\n");
}

TEST(SettingsCommand, BadFieldsAndValuesAreUsageErrorsThatChangeNothing) {
    Workspace ws;
    ASSERT_EQ(ws.lustra({"settings", "set", "bevelWidth=12"}).exitCode, 0);
    const std::vector<uint8_t> before = readFile(ws.settingsPath());
    RunResult result = ws.lustra({"settings", "set", "bevelWidth=13", "bevelWidht=3"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("unknown settings field \"bevelWidht\""), std::string::npos);
    EXPECT_NE(result.err.find("did you mean bevelWidth"), std::string::npos);
    result = ws.lustra({"settings", "set", "glowOpacity=101"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("0..100"), std::string::npos);
    EXPECT_EQ(ws.lustra({"settings", "set", "fill1Mode=wood"}).exitCode, 2);
    EXPECT_EQ(ws.lustra({"settings", "set"}).exitCode, 2);
    EXPECT_EQ(ws.lustra({"settings", "frobnicate"}).exitCode, 2);
    EXPECT_EQ(readFile(ws.settingsPath()), before);
    EXPECT_EQ(ws.lustra({"settings", "set", "--force", "glowOpacity=200"}).exitCode, 0);
    EXPECT_EQ(readFile(ws.settingsPath())[19], 200);
}

TEST(SettingsCommand, WrongSizeFilesAreAcceptedWithAWarning) {
    Workspace ws;
    lustra::test::writeBytes(ws.path("short.prf"), std::vector<uint8_t>(12, 0));
    RunResult result = ws.lustra({"settings", "show", "short.prf"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.err.find("12 bytes, not 824"), std::string::npos);
    EXPECT_NE(result.out.find("bevelWidth         = 0"), std::string::npos);   // from the file
    EXPECT_NE(result.out.find("bevelDepth         = 100"), std::string::npos); // a default
    result = ws.lustra({"settings", "set", "short.prf", "glowOn=1"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readFile(ws.path("short.prf")).size(), 824u);
}

TEST(SettingsCommand, ResetRestoresDefaultsButKeepsThePreviewFrame) {
    Workspace ws;
    std::vector<uint8_t> record(824, 0x33);
    lustra::test::writeBytes(ws.settingsPath(), record);
    ASSERT_EQ(ws.lustra({"settings", "reset"}).exitCode, 0);
    const std::vector<uint8_t> after = readFile(ws.settingsPath());
    std::vector<uint8_t> expected = lustra::test::defaultSettingsBytes();
    for (size_t offset : {278, 279, 402, 403, 530, 531, 798, 799, 820, 821, 822, 823})
        expected[offset] = 0x33;
    EXPECT_EQ(after, expected);
}

TEST(SettingsCommand, FieldsListAndHelp) {
    Workspace ws;
    const RunResult fields = ws.lustra({"settings", "fields"});
    EXPECT_EQ(fields.exitCode, 0);
    EXPECT_NE(fields.out.find("texture1Type"), std::string::npos);
    EXPECT_NE(fields.out.find("25..400"), std::string::npos);
    EXPECT_EQ(ws.lustra({"settings", "--help"}).exitCode, 0);
    EXPECT_EQ(ws.lustra({"settings", "set", "--bogus", "a=1"}).exitCode, 2);
}

// The field list and the text of a record as users and their scripts have
// read them so far, to the byte (saved in tests/settings/expected).
TEST(SettingsCommand, FieldsAndShowPrintTheSavedText) {
    auto saved = [](const std::string &name) {
        std::ifstream file(std::string(LUSTRA_SOURCE_DIR) + "/tests/settings/expected/" + name,
                           std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    };
    Workspace ws;
    const RunResult fields = ws.lustra({"settings", "fields"});
    ASSERT_EQ(fields.exitCode, 0) << fields.err;
    EXPECT_EQ(fields.out, saved("settings_fields.txt"));
    std::vector<uint8_t> record(824);
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 37 + 11);
    lustra::test::writeBytes(ws.path("pattern.prf"), record);
    for (const std::string &file : {std::string("none.prf"), std::string("pattern.prf")}) {
        const RunResult shown = ws.lustra({"settings", "show", file});
        ASSERT_EQ(shown.exitCode, 0) << shown.err;
        // The first line names the file.
        EXPECT_EQ(shown.out.substr(0, shown.out.find('\n')),
                  "# " + file + (file == "none.prf" ? " (no such file: the defaults)" : ""));
        EXPECT_EQ(shown.out.substr(shown.out.find('\n') + 1),
                  saved("settings_show_" + file.substr(0, file.find('.')) + ".txt"));
    }
}

} // namespace
