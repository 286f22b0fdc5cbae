// The parts of the command-line host that the end-to-end tests cannot pin
// down exactly: the colour conversions over every input, the settings
// record's table and text form, argument parsing, the field weaving of the
// host backend, and output classification.
#include "CliHost.h"
#include "Colour.h"
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "Interrupt.h"
#include "MediaOutput.h"
#include "OutputSafety.h"
#include "Progress.h"
#include "SettingsRecord.h"

#include "PngWriter.h"
#include "lustrafex/host_pixels.h"
#include "support/TestHost.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;
using namespace lustra::cli;

namespace {

TEST(HostColour, RgbToHostMatchesTheDirectFormulaForEveryColour) {
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const uint32_t expected =
                    lustra::hostPixelFromRgb(uint8_t(r), uint8_t(g), uint8_t(b), 0x7F);
                ASSERT_EQ(rgbToHost(uint8_t(r), uint8_t(g), uint8_t(b), 0x7F), expected)
                    << r << "," << g << "," << b;
            }
}

TEST(HostColour, HostToRgbMatchesTheModuleConversionForEveryPixel) {
    uint8_t ours[3], reference[3];
    for (uint32_t ycc = 0; ycc < (1u << 24); ++ycc) {
        const uint32_t pixel = (ycc << 8) | 0x11;
        hostToRgb(pixel, ours);
        lustra::hostPixelToRgb(pixel, reference);
        ASSERT_EQ(std::memcmp(ours, reference, 3), 0) << std::hex << pixel;
    }
}

TEST(HostColour, KnownColoursAndAlphaTravelThroughFrames) {
    EXPECT_EQ(rgbToHost(255, 255, 255), hostPixel(255, 128, 128));
    EXPECT_EQ(rgbToHost(255, 0, 0), hostPixel(76, 84, 255));
    EXPECT_EQ(rgbToHost(0, 0, 255), hostPixel(29, 255, 107));
    const uint8_t rgba[8] = {255, 0, 0, 17, 0, 0, 255, 200};
    HostFrame frame(2, 1);
    rgbaToHostFrame(rgba, 8, true, frame);
    EXPECT_EQ(frame.pixels[0] & 0xFF, 17u);
    EXPECT_EQ(frame.pixels[1] & 0xFF, 200u);
    rgbaToHostFrame(rgba, 8, false, frame);
    EXPECT_EQ(frame.pixels[1] & 0xFF, 255u);
    uint8_t back[8];
    frame.pixels[0] = hostPixel(128, 16, 146, 33);
    hostFrameToRgba(frame, back, 8);
    EXPECT_EQ(back[0], 153); // the default fill colour: RGB 153, 153, 0
    EXPECT_EQ(back[1], 153);
    EXPECT_EQ(back[2], 0);
    EXPECT_EQ(back[3], 33);
}

TEST(SettingsTable, DefaultsMatchTheModuleRecordByteForByte) {
    const Record record = defaultRecord();
    const std::vector<uint8_t> expected = lustra::test::defaultSettingsBytes();
    ASSERT_EQ(expected.size(), record.size());
    EXPECT_EQ(std::memcmp(record.data(), expected.data(), record.size()), 0);
}

TEST(SettingsTable, FieldsAreOrderedDisjointAndInsideTheRecord) {
    size_t end = 0;
    for (const FieldInfo &field : recordFields()) {
        EXPECT_GE(field.offset, end) << field.name;
        end = size_t(field.offset) + field.size;
        EXPECT_LE(end, kRecordSize) << field.name;
        EXPECT_EQ(findField(field.name), &field);
    }
    EXPECT_EQ(recordFields().size(), 82u);
    EXPECT_EQ(findField("bevelWidth")->offset, 11);
    EXPECT_EQ(findField("texture2OffsetY")->offset, 804);
    EXPECT_EQ(findField("previewFrameCount")->offset, 822);
}

TEST(SettingsText, AssignmentsCheckDialogRangesNamesAndTypes) {
    Record record = defaultRecord();
    assignField(record, "bevelWidth=30", false);
    EXPECT_EQ(record[11], 30);
    EXPECT_THROW(assignField(record, "bevelWidth=31", false), UsageError);
    assignField(record, "bevelWidth=200", true); // --force: any uint8
    EXPECT_EQ(record[11], 200);
    EXPECT_THROW(assignField(record, "bevelWidth=256", true), UsageError);
    assignField(record, "bevelEdgeSlope=-1", false); // the default, outside 0..10
    EXPECT_EQ(record[14], 0xFF);
    EXPECT_THROW(assignField(record, "bevelEdgeSlope=-2", false), UsageError);
    assignField(record, "glowOn=on", false);
    EXPECT_EQ(record[22], 1);
    assignField(record, "fill1Mode=metal", false);
    EXPECT_EQ(record[417], 2);
    assignField(record, "texture2Type=fracturb", false);
    EXPECT_EQ(record[796], 3);
    assignField(record, "offsetX=-123456", false);
    EXPECT_EQ(fieldValue(record, *findField("offsetX")), -123456);
    assignField(record, "map1ScaleX=400", false);
    EXPECT_EQ(fieldValue(record, *findField("map1ScaleX")), 400);
    EXPECT_THROW(assignField(record, "map1ScaleX=24", false), UsageError);
    EXPECT_THROW(assignField(record, "glowOnn=1", false), UsageError);
    EXPECT_THROW(assignField(record, "bevelWidth=abc", false), UsageError);
    EXPECT_THROW(assignField(record, "bevelWidth", false), UsageError);
    EXPECT_THROW(assignField(record, "=3", false), UsageError);
}

TEST(SettingsText, ColoursAndSourcePaths) {
    Record record = defaultRecord();
    assignField(record, "shadowColour=#FF0000", false);
    EXPECT_EQ(fieldValue(record, *findField("shadowColour")), int64_t(hostPixel(76, 84, 255)));
    assignField(record, "glowColour1=0x801092FF", false);
    EXPECT_EQ(fieldValue(record, *findField("glowColour1")), 0x801092FF);
    EXPECT_THROW(assignField(record, "glowColour1=#12345", false), UsageError);
    EXPECT_THROW(assignField(record, "glowColour1=red", false), UsageError);
    assignField(record, "fill1Source=/pictures/wood.png", false);
    EXPECT_EQ(sourcePath(record, *findField("fill1Source")), "/pictures/wood.png");
    EXPECT_EQ(record[290 + 18], 0);                    // zero-terminated, the rest zero
    assignField(record, "fill1Source=pic.png", false); // made absolute
    EXPECT_EQ(sourcePath(record, *findField("fill1Source")),
              (fs::current_path() / "pic.png").string());
    EXPECT_THROW(assignField(record, "fill1Source=/" + std::string(120, 'a'), false), UsageError);
    assignField(record, "fill1Source=", false);
    EXPECT_EQ(sourcePath(record, *findField("fill1Source")), "");
}

TEST(SettingsText, ShowLinesCarryValueOffsetRangeAndRgb) {
    const Record record = defaultRecord();
    const std::string width = formatField(record, *findField("bevelWidth"));
    EXPECT_EQ(width.rfind("bevelWidth", 0), 0u);
    EXPECT_NE(width.find("= 8"), std::string::npos);
    EXPECT_NE(width.find("@11"), std::string::npos);
    EXPECT_NE(width.find("0..30"), std::string::npos);
    const std::string colour = formatField(record, *findField("fill1ColourA"));
    EXPECT_NE(colour.find("0x801092FF"), std::string::npos);
    EXPECT_NE(colour.find("#999900"), std::string::npos);
    const std::string slope = formatField(record, *findField("bevelEdgeSlope"));
    EXPECT_NE(slope.find("= -1"), std::string::npos);
    EXPECT_NE(slope.find("outside the dialog range"), std::string::npos);
    EXPECT_NE(formatField(record, *findField("fill1Mode")).find(": light"), std::string::npos);
}

TEST(SettingsFiles, ShortLongAndMissingFilesReadLikeTheModule) {
    const std::string dir =
        fs::temp_directory_path() / ("lustra-settings-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const RecordFile missing = readRecordFile(dir + "/none.prf");
    EXPECT_FALSE(missing.exists);
    EXPECT_EQ(missing.record, defaultRecord());

    lustra::test::writeBytes(dir + "/short.prf", std::vector<uint8_t>(10, 0xAB));
    const RecordFile shortFile = readRecordFile(dir + "/short.prf");
    EXPECT_FALSE(shortFile.warning.empty());
    EXPECT_EQ(shortFile.record[9], 0xAB);
    EXPECT_EQ(shortFile.record[10], 0); // texture2View default
    EXPECT_EQ(shortFile.record[11], 8); // bevelWidth default

    std::vector<uint8_t> longer(900, 0x05);
    lustra::test::writeBytes(dir + "/long.prf", longer);
    const RecordFile longFile = readRecordFile(dir + "/long.prf");
    EXPECT_FALSE(longFile.warning.empty());
    EXPECT_EQ(longFile.record[823], 0x05);

    Record record = defaultRecord();
    record[820] = 7;
    writeRecordFile(dir + "/out.prf", record);
    EXPECT_EQ(fs::file_size(dir + "/out.prf"), kRecordSize);
    EXPECT_EQ(readRecordFile(dir + "/out.prf").record, record);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              3); // no temporaries
    resetRecord(record);
    EXPECT_EQ(record[820], 7); // previewFrame keeps its value
    EXPECT_THROW(writeRecordFile(dir + "/missing-dir/out.prf", record), Failure);
    fs::remove_all(dir);
}

TEST(CommandLine, FrameRangesRatiosAndInstanceNames) {
    int64_t first = 0, last = 0;
    parseFrameRange("3-7", first, last);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(last, 7);
    parseFrameRange("5-", first, last);
    EXPECT_EQ(last, -1);
    parseFrameRange("4", first, last);
    EXPECT_EQ(first, 4);
    EXPECT_EQ(last, 4);
    EXPECT_THROW(parseFrameRange("7-3", first, last), UsageError);
    EXPECT_THROW(parseFrameRange("x-3", first, last), UsageError);
    int n = 0, d = 0;
    parseRatio("1/2", "--scale", n, d, 32767);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(d, 2);
    EXPECT_THROW(parseRatio("1/0", "--scale", n, d, 32767), UsageError);
    EXPECT_THROW(parseRatio("40000/1", "--scale", n, d, 32767), UsageError);
    EXPECT_EQ(instanceSettingsName("title"), "/programs/lustra/settings/title.prf");
    EXPECT_EQ(instanceSettingsName("title.prf"), "/programs/lustra/settings/title.prf");
    EXPECT_EQ(instanceSettingsName(""), "");
    EXPECT_THROW(instanceSettingsName("../x"), UsageError);
}

TEST(CommandLine, OutputKindsFromTheirNames) {
    EXPECT_EQ(classifyOutput("a.png"), OutputKind::Picture);
    EXPECT_EQ(classifyOutput("dir/a-%04d.png"), OutputKind::Sequence);
    EXPECT_EQ(classifyOutput("a.mp4"), OutputKind::Video);
    EXPECT_EQ(classifyOutput("a.mov"), OutputKind::Video);
    EXPECT_THROW(classifyOutput("a.nothing"), UsageError);
    EXPECT_THROW(classifyOutput("a-%d.mp4"), UsageError);
    EXPECT_THROW(classifyOutput("a-%d-%d.png"), UsageError);
    EXPECT_THROW(classifyOutput(""), UsageError);
}

TEST(CommandLine, AssignmentsAreNamesBeforeAnEqualsSign) {
    for (const char *yes : {"glowOn=on", "fill1Source=/a b/c=d.png", "x=", "bevel_2=3"})
        EXPECT_TRUE(isAssignment(yes)) << yes;
    for (const char *no : {"=on", "--set=a=b", "-o", "out.png", "a b=c", "title.png", ""})
        EXPECT_FALSE(isAssignment(no)) << no;
}

TEST(OutputFiles, ASequenceCountsOnlyItsOwnFramesInItsRange) {
    const fs::path dir = fs::temp_directory_path() / ("lustra-seq-" + std::to_string(getpid()));
    fs::create_directories(dir / "sub");
    for (const char *name : {"f-0000.png", "f-0007.png", "f-12345.png", "f-007.png", "f-0008.jpg",
                             "g-0001.png", "a%b-3.png", "a%b-03.png", "n-5.png", "n-05.png"})
        lustra::test::writeBytes((dir / name).string(), {1});
    fs::create_directory(dir / "f-0009.png"); // a directory is no frame to replace
    const std::string d = dir.string() + "/";
    auto found = [&](const std::string &pattern, int64_t first, int64_t last) {
        std::vector<std::string> names;
        for (const std::string &path : existingSequenceFiles(d + pattern, first, last))
            names.push_back(fs::path(path).filename().string());
        return names;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(found("f-%04d.png", 0, -1), (Names{"f-0000.png", "f-0007.png", "f-12345.png"}));
    EXPECT_EQ(found("f-%04d.png", 1, 7), (Names{"f-0007.png"}));
    EXPECT_EQ(found("f-%04d.png", 8, 100), Names{});
    EXPECT_EQ(found("f-%03d.png", 0, -1), (Names{"f-007.png", "f-12345.png"}));
    EXPECT_EQ(found("a%%b-%d.png", 0, -1), (Names{"a%b-3.png"}));
    EXPECT_EQ(found("n-%d.png", 5, 5), (Names{"n-5.png"}));
    // The number in a folder name: only a known range can be listed.
    lustra::test::writeBytes(d + "sub/x.png", {1});
    fs::rename(dir / "sub", dir / "s2");
    EXPECT_EQ(existingSequenceFiles(d + "s%d/x.png", 0, 5), (Names{d + "s2/x.png"}));
    EXPECT_EQ(existingSequenceFiles(d + "s%d/x.png", 0, -1), Names{});
    fs::remove_all(dir);
}

TEST(OutputFiles, MovingIntoPlaceReplacesOnlyWhenAllowed) {
    const fs::path dir = fs::temp_directory_path() / ("lustra-move-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string temporary = (dir / ".new").string(), target = (dir / "out.png").string();
    lustra::test::writeBytes(temporary, {1});
    EXPECT_FALSE(moveIntoPlace(temporary, target, false)); // nothing stood there
    lustra::test::writeBytes(temporary, {2});
    EXPECT_THROW(moveIntoPlace(temporary, target, false), Failure);
    EXPECT_EQ(lustra::test::readBytes(target), std::vector<uint8_t>{1});
    EXPECT_TRUE(moveIntoPlace(temporary, target, true));
    EXPECT_EQ(lustra::test::readBytes(target), std::vector<uint8_t>{2});
    EXPECT_FALSE(fs::exists(temporary));
    fs::remove_all(dir);
}

TEST(OutputFiles, WatchedTemporariesAreRemovedAndUnwatchedOnesKept) {
    const fs::path dir = fs::temp_directory_path() / ("lustra-watch-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string a = (dir / "a").string(), b = (dir / "b").string();
    watchTemporary(a);
    watchTemporary(b);
    lustra::test::writeBytes(a, {1});
    lustra::test::writeBytes(b, {1});
    unwatchTemporary(b);
    removeWatchedTemporaries();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
    unwatchTemporary(a);
    fs::remove_all(dir);
}

TEST(Progress, LineShowsBarRateAndTimeLeft) {
    EXPECT_EQ(progressLine(10, 40, 5.0, 8), "[##......] 10/40 frames  2.0 fps  0:15 left");
    EXPECT_EQ(progressLine(40, 40, 4.0, 4), "[####] 40/40 frames  10.0 fps");
    EXPECT_EQ(progressLine(7, -1, 2.0), "7 frames  3.5 fps");
}

TEST(CliBackend, FieldsAreFrameRowsAndPutsWeaveBack) {
    CliHost host;
    HostFrame title(3, 4), background(3, 4), output(3, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) {
            title.row(y)[x] = uint32_t(100 + 10 * y + x);
            background.row(y)[x] = uint32_t(200 + 10 * y + x);
        }
    host.setFrames(5, &background, &title);
    EXPECT_EQ(opGetField(1, 8), nullptr); // another frame's field
    OpImage *odd = opGetField(1, 10);     // field 2k: odd rows
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->height, 2);
    EXPECT_EQ(odd->pixels[0], 110u);
    EXPECT_EQ(odd->pixels[3], 130u);
    OpImage *even = opGetField(0, 11); // field 2k + 1: even rows
    ASSERT_NE(even, nullptr);
    EXPECT_EQ(even->pixels[3], 220u);
    OpImage *geometry = opAllocImage(0, 0, 1, 0);
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->width, 3);
    EXPECT_EQ(geometry->height, 2);
    opFreeImage(geometry);
    host.setOutput(&output);
    host.expectPuts({1, 0});
    EXPECT_EQ(opPutField(odd), 0);
    EXPECT_EQ(opPutField(even), 0);
    EXPECT_EQ(host.pendingPuts(), 0);
    EXPECT_EQ(output.row(1)[0], 110u);
    EXPECT_EQ(output.row(0)[0], 200u);
    EXPECT_EQ(output.row(3)[2], 132u);
    OpImage *extra = opGetField(1, 10);
    EXPECT_EQ(opPutField(extra), 0); // not expected: counted and released
    EXPECT_EQ(host.unexpectedPuts(), 1);
    EXPECT_EQ(host.liveImages(), 0);
}

TEST(CliBackend, FieldsComeFromAPoolAndSourcesAreViews) {
    CliHost host;
    HostFrame title(4, 6, 0x11223344u), background(4, 6, 0x55667788u), output(4, 6);
    host.setOutput(&output);
    for (int frame = 0; frame < 5; ++frame) {
        host.setFrames(frame, &background, &title);
        host.expectPuts({1, 0});
        OpImage *fields[4] = {opGetField(0, 2 * frame), opGetField(0, 2 * frame + 1),
                              opGetField(1, 2 * frame), opGetField(1, 2 * frame + 1)};
        for (OpImage *field : fields) ASSERT_NE(field, nullptr);
        EXPECT_EQ(fields[0]->pixels[5], 0x55667788u);
        EXPECT_EQ(fields[3]->pixels[11], 0x11223344u);
        OpImage *odd = opAllocImage(-1, -1, 1, 0), *even = opAllocImage(-1, -1, 1, 0);
        ASSERT_NE(odd, nullptr);
        ASSERT_NE(even, nullptr);
        std::fill(odd->pixels, odd->pixels + 12, uint32_t(frame));
        std::fill(even->pixels, even->pixels + 12, uint32_t(100 + frame));
        for (OpImage *field : fields) opFreeImage(field);
        EXPECT_EQ(opPutField(odd), 0);
        EXPECT_EQ(opPutField(even), 0);
        EXPECT_EQ(output.row(5)[3], uint32_t(frame));
        EXPECT_EQ(output.row(4)[3], uint32_t(100 + frame));
    }
    EXPECT_EQ(host.liveImages(), 0);
    EXPECT_EQ(host.pooledImages(), 6) << "each frame reuses the images of the one before";
    // A larger image than any kept one is made anew; a foreign one is ignored.
    OpImage *large = opAllocImage(40, 40, 1, 0);
    ASSERT_NE(large, nullptr);
    OpImage foreign{};
    opFreeImage(&foreign);
    opFreeImage(large);
    EXPECT_EQ(host.liveImages(), 0);

    // A source picture is handed over as a view of the host's own pixels.
    const HostFrame picture(3, 2, 0x80808080u);
    host.resolveSource = [&](const std::string &) -> const HostFrame * { return &picture; };
    uint8_t descriptor[LFX_SOURCE_DESCRIPTOR_SIZE] = {'/', 'p'};
    OpImage *view = txGetOpImage(descriptor, 1, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->pixels, picture.pixels.data());
    EXPECT_EQ(view->width, 3);
    EXPECT_EQ(view->height, 2);
    opFreeImage(view);
    EXPECT_EQ(host.liveImages(), 0);
    // The slot the view used serves a field again with pixels of its own.
    host.setFrames(0, &background, &title);
    OpImage *field = opGetField(1, 0);
    ASSERT_NE(field, nullptr);
    EXPECT_NE(field->pixels, picture.pixels.data());
    opFreeImage(field);
}

TEST(CliBackend, CustomNameAndSourcesAreServed) {
    CliHost host;
    EXPECT_EQ(opGetCustomPrefsName(1, "/programs/lustra/settings/", 0, 0), nullptr);
    host.customName = "/programs/lustra/settings/a.prf";
    EXPECT_STREQ(opGetCustomPrefsName(1, "/programs/lustra/settings/", 0, 0),
                 "/programs/lustra/settings/a.prf");
    HostFrame picture(2, 2, 0x80808080u);
    int asked = 0;
    host.resolveSource = [&](const std::string &text) -> const HostFrame * {
        ++asked;
        return text == "/p.png" ? &picture : nullptr;
    };
    uint8_t descriptor[LFX_SOURCE_DESCRIPTOR_SIZE] = {};
    std::memcpy(descriptor, "/p.png", 6);
    OpImage *image = txGetOpImage(descriptor, 1, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[3], 0x80808080u);
    opFreeImage(image);
    // A descriptor without a terminating zero is read only to its 112 bytes.
    std::memset(descriptor, 'x', sizeof descriptor);
    EXPECT_EQ(txGetOpImage(descriptor, 1, 0), nullptr);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(host.liveImages(), 0);
}

} // namespace
