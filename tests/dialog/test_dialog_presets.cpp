// Presets: save, load and delete through the archives and file requesters;
// cancelled requests; short, long and unreadable preset files; the default
// name the file requester starts with.
#include "dialog/DialogTest.h"

#include <filesystem>

using namespace lustra;
using namespace lustra::test;

namespace {

class DialogPresets : public DialogTest {
  protected:
    std::string presetPath(const std::string &name) const {
        return home.path() + "/programs/lustra/" + name;
    }
    void presets(int32_t action, const std::string &name, int32_t status = 1) {
        host.archivesAnswers.push_back({0, action});
        host.fileAnswers.push_back(
            {0, status, presetPath(name), std::u16string(name.begin(), name.end())});
        host.gadgetEvent(host.byLabel(121));
    }
    static std::u16string textBuffer() {
        std::u16string out;
        for (const XChar *c = moduleTextBuffer(); *c; ++c) out.push_back(char16_t(*c));
        return out;
    }
};

} // namespace

TEST_F(DialogPresets, SavingWritesTheWholeRecord) {
    std::vector<uint8_t> saved;
    host.gadgetEvent(host.byLabel(203), 21);
    host.then([&] { saved = record(); });
    presets(5, "bold.prf");
    host.closeMessage();
    runDialog();
    EXPECT_EQ(readBytes(presetPath("bold.prf")), saved);
    ASSERT_EQ(host.filesAsked.size(), 1u);
    EXPECT_EQ(host.filesAsked[0].directory, "/programs/lustra/");
    EXPECT_EQ(host.filesAsked[0].mode, 2);
    EXPECT_EQ(host.filesAsked[0].defaultName, u"");
    EXPECT_EQ(host.filesAsked[0].pathSize, 256);
    EXPECT_EQ(host.filesAsked[0].nameSize, 256);
    EXPECT_EQ(host.archivesTitles, std::vector<int32_t>{121});
    EXPECT_EQ(textBuffer(), u"bold.prf");
    // The presets requester's own string table is freed again.
    EXPECT_EQ(host.callsNamed("loadStrings").size(), 2u);
    EXPECT_EQ(host.liveStringTables, 0);
}

TEST_F(DialogPresets, ANameWithoutThePresetEndingIsSavedWithIt) {
    // The load requester lists *.prf only: "gold-metal" must become
    // gold-metal.prf; a name that ends in .prf in any case is kept, and so is
    // the name the requester offers next time.
    presets(5, "gold-metal");
    presets(5, "Old.PRF");
    presets(5, "notes.txt");
    host.closeMessage();
    runDialog();
    EXPECT_EQ(readBytes(presetPath("gold-metal.prf")), readBytes(presetPath("Old.PRF")));
    EXPECT_EQ(readBytes(presetPath("gold-metal.prf")).size(), 824u);
    EXPECT_EQ(readBytes(presetPath("notes.txt.prf")).size(), 824u);
    for (const char *name : {"gold-metal", "Old.PRF.prf", "notes.txt"})
        EXPECT_FALSE(std::filesystem::exists(presetPath(name))) << name;
    EXPECT_EQ(textBuffer(), u"notes.txt");
}

TEST_F(DialogPresets, SavingNeverWritesThroughALink) {
    // Links to a file elsewhere, both as the preset and under the name a
    // temporary file once had: that file stays as it was, the preset
    // becomes a regular file.
    const std::string outside = home.path() + "/outside.txt";
    const std::vector<uint8_t> kept = {'k', 'e', 'e', 'p'};
    writeBytes(outside, kept);
    std::filesystem::create_directories(presetPath(""));
    std::filesystem::create_symlink(outside, presetPath("linked.prf"));
    std::filesystem::create_symlink(outside, presetPath("linked.prf.new"));
    presets(5, "linked.prf");
    host.closeMessage();
    runDialog();
    EXPECT_EQ(readBytes(outside), kept);
    EXPECT_FALSE(std::filesystem::is_symlink(presetPath("linked.prf")));
    EXPECT_EQ(readBytes(presetPath("linked.prf")).size(), 824u);
}

TEST_F(DialogPresets, LoadingReplacesTheSettingsButNotTheDialogsPlaceOrFrame) {
    std::vector<uint8_t> preset = defaultSettingsBytes();
    preset[0] = 1;  // dialogAtTop
    preset[1] = 5;  // currentPage
    preset[11] = 3; // bevelWidth
    preset[17] = 1; // invertShape
    preset[22] = 1; // glowOn
    put16(preset, 820, 2);
    put16(preset, 822, 9);
    writeBytes(presetPath("glow.prs"), preset);
    prepare([](EffectSettings &s) {
        s.currentPage = 3;
        s.previewFrame = 1;
    });
    host.then([this] { host.clearRecords(); });
    presets(4, "glow.prs");
    host.then([this, &preset] {
        std::vector<uint8_t> expected = preset;
        expected[0] = 0; // the strip stays where it is
        expected[1] = 0; // page 0 is shown
        put16(expected, 820, 1);
        put16(expected, 822, kClipFrames);
        EXPECT_EQ(record(), expected);
        EXPECT_EQ(host.callsNamed("activate").at(0).args[1], 101);
        EXPECT_EQ(host.gadget(203)->value, 3);
        EXPECT_EQ(previewTrace.step, 0);
        EXPECT_EQ(previewTrace.setUp, 1);
        EXPECT_EQ(host.filesAsked.at(0).mode, 1);
    });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(settingsFile()[11], 3);
}

TEST_F(DialogPresets, DeletingRemovesTheChosenFile) {
    writeBytes(presetPath("old.prs"), defaultSettingsBytes());
    presets(6, "old.prs");
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(std::filesystem::exists(presetPath("old.prs")));
    EXPECT_EQ(host.filesAsked.at(0).mode, 3);
}

TEST_F(DialogPresets, CancelledRequestsDoNothing) {
    writeBytes(presetPath("keep.prs"), std::vector<uint8_t>(824, 0x55));
    host.then([this] { host.clearRecords(); });
    // The archives requester cancelled or failed, or answering an unknown action.
    host.archivesAnswers.push_back({-1, 4});
    host.gadgetEvent(host.byLabel(121));
    host.archivesAnswers.push_back({0, 9});
    host.gadgetEvent(host.byLabel(121));
    // The file requester cancelled (status 0) or failed (non-zero result).
    presets(4, "keep.prs", 0);
    presets(6, "keep.prs", 0);
    host.archivesAnswers.push_back({0, 4});
    host.fileAnswers.push_back({-1, 1, presetPath("keep.prs"), u"keep.prs"});
    host.gadgetEvent(host.byLabel(121));
    std::vector<uint8_t> before;
    host.then([this, &before] {
        before = record();
        EXPECT_TRUE(host.callsNamed("overlay").empty());
    });
    host.closeMessage();
    runDialog();
    EXPECT_TRUE(std::filesystem::exists(presetPath("keep.prs")));
    EXPECT_EQ(host.filesAsked.size(), 3u);
    EXPECT_EQ(textBuffer(), u""); // nothing was chosen
    EXPECT_EQ(host.liveStringTables, 0);
}

TEST_F(DialogPresets, UnreadableShortAndLongPresetFiles) {
    std::vector<uint8_t> shortFile(10, 0x21);
    writeBytes(presetPath("short.prs"), shortFile);
    std::vector<uint8_t> longFile = defaultSettingsBytes();
    longFile[12] = 42;
    longFile.resize(1000, 0x77);
    writeBytes(presetPath("long.prs"), longFile);
    writeBytes(presetPath("empty.prs"), {});
    std::vector<uint8_t> before;
    host.then([&] {
        before = record();
        host.clearRecords();
    });
    presets(4, "missing.prs");
    presets(4, "empty.prs");
    host.then([&] {
        EXPECT_EQ(record(), before);
        EXPECT_TRUE(host.callsNamed("overlay").empty());
    });
    // A short file replaces the bytes it holds (the dialog's own first two
    // bytes aside); the rest keeps its values.
    presets(4, "short.prs");
    host.then([&] {
        std::vector<uint8_t> expected = before;
        for (size_t i = 2; i < 10; ++i) expected[i] = 0x21;
        expected[1] = 0;
        EXPECT_EQ(record(), expected);
    });
    // A long file: its first 824 bytes.
    presets(4, "long.prs");
    host.then([&] {
        EXPECT_EQ(settings.bevelDepth, 42);
        EXPECT_EQ(settings.previewFrameCount, kClipFrames);
    });
    host.closeMessage();
    runDialog();
    EXPECT_FALSE(host.ranDry);
}

TEST_F(DialogPresets, TheChosenNameIsTheNextDefaultCutToTheTextBuffer) {
    const std::string longName(100, 'n');
    presets(5, "first.prs");
    host.archivesAnswers.push_back({0, 5});
    host.fileAnswers.push_back(
        {0, 1, presetPath("x.prs"), std::u16string(longName.begin(), longName.end())});
    host.gadgetEvent(host.byLabel(121));
    presets(5, "third.prs");
    host.closeMessage();
    runDialog();
    ASSERT_EQ(host.filesAsked.size(), 3u);
    EXPECT_EQ(host.filesAsked[1].defaultName, u"first.prs");
    // 128 bytes: 63 characters and the terminator.
    EXPECT_EQ(host.filesAsked[2].defaultName, std::u16string(63, u'n'));
    EXPECT_EQ(textBuffer(), u"third.prs");
}

TEST_F(DialogPresets, ThePresetsButtonKeepsTheStripsPlace) {
    prepare([](EffectSettings &s) { s.dialogAtTop = 1; });
    std::vector<uint8_t> preset = defaultSettingsBytes();
    writeBytes(presetPath("bottom.prs"), preset); // dialogAtTop 0
    presets(4, "bottom.prs");
    host.then([] { EXPECT_EQ(settings.dialogAtTop, 1); });
    host.closeMessage();
    runDialog();
    EXPECT_EQ(settingsFile()[0], 1);
}
