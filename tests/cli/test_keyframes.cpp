// Keyframes: the text and JSON forms, interpolation and rounding, the
// record fields they animate, and animated renders checked frame by frame
// against still renders of the same settings.
#include "Animation.h"
#include "CliTestSupport.h"
#include "Colour.h"
#include "Errors.h"
#include "Keyframes.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace lustra::cli;
using namespace lustra::clitest;

namespace {

Track track(const std::string &text, int channels = 1) {
    Track result;
    result.name = "t";
    result.channels = channels;
    for (const KeyText &key : parseKeys(text, "t")) {
        Key k;
        k.time = key.time;
        k.interpolation = key.interpolation;
        if (channels == 3) {
            const unsigned long rgb = std::stoul(key.value.substr(1), nullptr, 16);
            k.value = {double(rgb >> 16), double((rgb >> 8) & 255), double(rgb & 255)};
        } else {
            k.value = {std::stod(key.value), 0, 0};
        }
        result.keys.push_back(k);
    }
    return result;
}

std::vector<int64_t> values(const Track &t, int frames, int num = 25, int den = 1) {
    std::vector<int64_t> result;
    for (int k = 0; k < frames; ++k) result.push_back(evaluateRounded(t, k, num, den)[0]);
    return result;
}

std::string usageError(const std::function<void()> &action) {
    try {
        action();
    } catch (const UsageError &error) {
        return error.what();
    }
    return "";
}

TEST(KeyframeText, KeysTimesAndInterpolationsParseStrictly) {
    const std::vector<KeyText> keys = parseKeys("0:-100, 2s:100:ease,1.25s:#FF0000:hold", "x");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].time.count, 0);
    EXPECT_FALSE(keys[0].time.seconds);
    EXPECT_EQ(keys[0].value, "-100");
    EXPECT_FALSE(keys[0].interpolationGiven);
    EXPECT_TRUE(keys[1].time.seconds);
    EXPECT_EQ(keys[1].interpolation, Interpolation::Ease);
    EXPECT_EQ(keys[2].time.count, 125);
    EXPECT_EQ(keys[2].time.scale, 100);
    EXPECT_EQ(keys[2].value, "#FF0000");
    EXPECT_EQ(keys[2].interpolation, Interpolation::Hold);
    for (const char *bad :
         {"", "0", "0:", ":5", "-1:5", "1.5:5", "2m:5", "0:1,", "0:1:smooth", "0:1:ease:hold",
          "1e3:5", ".5s:1", "1.1234567s:1", "9999999999999999:1"})
        EXPECT_NE(usageError([&] { parseKeys(bad, "--animate x"); }).find("--animate x"),
                  std::string::npos)
            << bad;
}

TEST(KeyframeEvaluation, LinearEaseHoldAndRoundingHalfAwayFromZero) {
    // Linear from -10 at frame 0 to 10 at frame 4; -5 and 5 are exact,
    // -7.5 rounds to -8 on the way (half away from zero).
    EXPECT_EQ(values(track("0:-10,4:10"), 6), (std::vector<int64_t>{-10, -5, 0, 5, 10, 10}));
    EXPECT_EQ(values(track("0:0,8:-3"), 9),
              (std::vector<int64_t>{0, 0, -1, -1, -2, -2, -2, -3, -3}));
    // Ease (smoothstep) from -40 to 40 over four frames: -27.5 and 27.5 at
    // frames 1 and 3 become -28 and 28.
    EXPECT_EQ(values(track("0:-40,4:40:ease"), 5), (std::vector<int64_t>{-40, -28, 0, 28, 40}));
    // Hold: the previous value until the key's own frame; before the first
    // key and after the last the track is flat.
    EXPECT_EQ(values(track("2:5,4:9:hold,6:1"), 8), (std::vector<int64_t>{5, 5, 5, 5, 9, 5, 1, 1}));
    // The interpolation belongs to the segment that ends at its key.
    EXPECT_EQ(values(track("0:0,2:10:hold,4:20"), 5), (std::vector<int64_t>{0, 0, 10, 15, 20}));
    EXPECT_EQ(roundHalfAway(2.5), 3);
    EXPECT_EQ(roundHalfAway(-2.5), -3);
    EXPECT_EQ(roundHalfAway(-2.4999), -2);
}

TEST(KeyframeEvaluation, SecondsMeetFramesExactlyAtAnyRate) {
    // 0.12 s at 25 fps is frame 3 exactly, although 0.12 x 25 is not 3 in
    // binary floating point: the hold jumps at frame 3, not at frame 4.
    EXPECT_EQ(values(track("0:0,0.12s:7:hold"), 5), (std::vector<int64_t>{0, 0, 0, 7, 7}));
    // At 30000/1001 fps one second is 29.97 frames: frame 29 is still
    // before the key, frame 30 after it.
    const Track t = track("0:0,1s:1000");
    EXPECT_EQ(evaluateRounded(t, 29, 30000, 1001)[0], 968); // 29 / 29.97 x 1000 = 967.6
    EXPECT_EQ(evaluateRounded(t, 30, 30000, 1001)[0], 1000);
    EXPECT_EQ(evaluateRounded(t, 25, 25, 1)[0], 1000);
    EXPECT_EQ(evaluateRounded(t, 12, 50, 1)[0], 240);
    // Order: strictly increasing at the render's rate; mixed units are
    // compared at that rate.
    EXPECT_NO_THROW(checkOrder(track("0:0,24:1,1s:2"), 25, 1));
    EXPECT_NE(usageError([] {
                  checkOrder(track("0:0,25:1,1s:2"), 25, 1);
              }).find("the key at 1s does not come after the key at 25"),
              std::string::npos);
    EXPECT_NO_THROW(checkOrder(track("0:0,25:1,1s:2"), 30, 1));
    EXPECT_FALSE(usageError([] { checkOrder(track("3:0,2:1"), 25, 1); }).empty());
}

TEST(KeyframeEvaluation, ColoursMovePerChannel) {
    const Track t = track("0:#FF0000,4:#0000FF", 3);
    const std::array<int64_t, 3> expected[] = {
        {255, 0, 0}, {191, 0, 64}, {128, 0, 128}, {64, 0, 191}, {0, 0, 255}};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(evaluateRounded(t, k, 25, 1), expected[k]) << k;
}

TEST(KeyframeFile, StrictJsonWithPlacesInErrors) {
    const std::vector<FileTrack> tracks = parseKeyframesJson(
        R"({"offsetX": [{"time": 0, "value": -40},
                       {"time": "1s", "value": 40, "interpolation": "ease"}],
            "glowColour1": [{"value": "#FF0000", "time": "12"}]})",
        "k.json");
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].name, "offsetX");
    ASSERT_EQ(tracks[0].keys.size(), 2u);
    EXPECT_EQ(tracks[0].keys[0].value, "-40");
    EXPECT_TRUE(tracks[0].keys[1].time.seconds);
    EXPECT_EQ(tracks[0].keys[1].interpolation, Interpolation::Ease);
    EXPECT_EQ(tracks[1].keys[0].time.count, 12);
    EXPECT_EQ(tracks[1].keys[0].value, "#FF0000");
    EXPECT_TRUE(parseKeyframesJson("{}", "k").empty());

    const std::pair<const char *, const char *> bad[] = {
        {R"({"a": [{"time": 0, "value": 1},]})", "k.json:1:32: expected a key"},
        {"{\"a\": [{\"time\": 0,\n \"value\": 1, \"speed\": 2}]}", "k.json:2:14: unknown key"},
        {R"({"a": [{"time": 0, "value": 1}], "a": []})", "\"a\" is given twice"},
        {R"({"a": []})", "a has no keys"},
        {R"({"a": [{"time": 0}]})", "a key needs a time and a value"},
        {R"({"a": [{"time": -1, "value": 1}]})", "is not a time"},
        {R"({"a": [{"time": 1.5, "value": 1}]})", "is not a time"},
        {R"({"a": [{"time": 0, "value": 1, "interpolation": "fast"}]})", "not an interpolation"},
        {R"({"a": [{"time": 0, "value": 1e3}]})", "exponent"},
        {R"({"a": [{"time": 0, "value": "x\q"}]})", "an escape"},
        {R"({"a": [{"time": 0, "value": 1}]} x)", "text after the object"},
        {R"([{"time": 0}])", "one object"},
        {R"({"a": [{"time": 0, "value": "open)", "does not end"},
    };
    for (const auto &[text, message] : bad)
        EXPECT_NE(usageError([&] { parseKeyframesJson(text, "k.json"); }).find(message),
                  std::string::npos)
            << text << " -> " << usageError([&] { parseKeyframesJson(text, "k.json"); });
}

TEST(AnimatedRecord, FieldsValuesClampingAndReservedNames) {
    Animation animation;
    std::vector<std::string> warnings;
    animation.addOption("bevelWidth=0:2,4:300", false, warnings);
    animation.addOption("glowOn=0:off,2:on", false, warnings);
    animation.addOption("glowColour1=0:#FF0000,4:#0000FF", false, warnings);
    animation.addOption("offsetX=0:-40,4:40:ease", false, warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("bevelWidth at 4: 300 is outside the dialog range 0..30, clamped "
                               "to 30"),
              std::string::npos);
    Record record = defaultRecord();
    animation.apply(record, 1, 25, 1);
    EXPECT_EQ(fieldValue(record, *findField("bevelWidth")), 9); // 2 + 28 / 4 = 9
    EXPECT_EQ(fieldValue(record, *findField("glowOn")), 0);     // named values hold
    EXPECT_EQ(fieldValue(record, *findField("glowColour1")), rgbToHost(191, 0, 64, 255));
    EXPECT_EQ(fieldValue(record, *findField("offsetX")), -28);
    animation.apply(record, 2, 25, 1);
    EXPECT_EQ(fieldValue(record, *findField("glowOn")), 1);
    EXPECT_EQ(fieldValue(record, *findField("glowColour1")), parseColour("#800080"));
    // Fields the animation does not name keep their values.
    EXPECT_EQ(fieldValue(record, *findField("glowWidth")), 10);

    // With --force the type's range is the limit.
    warnings.clear();
    Animation forced;
    forced.addOption("bevelWidth=0:300", true, warnings);
    EXPECT_NE(warnings.at(0).find("the type's range 0..255, clamped to 255"), std::string::npos);

    auto fails = [&](const std::string &option) {
        Animation a;
        return usageError([&] { a.addOption(option, false, warnings); });
    };
    EXPECT_NE(fails("bevelWidht=0:1").find("did you mean bevelWidth"), std::string::npos);
    EXPECT_NE(fails("fill1Source=0:a.png").find("cannot change over time"), std::string::npos);
    EXPECT_NE(fails("glowColour1=0:0x801092FF").find("#RRGGBB"), std::string::npos);
    EXPECT_NE(fails("glowOn=0:maybe").find("not a number"), std::string::npos);
    EXPECT_NE(fails("bevelWidth=5:1,3:2").find("must increase"), std::string::npos);
    EXPECT_NE(fails("bevelWidth").find("FIELD=KEYS"), std::string::npos);
    Animation twice;
    twice.addOption("bevelWidth=0:1", false, warnings);
    EXPECT_NE(usageError([&] {
                  twice.addOption("bevelWidth=0:2", false, warnings);
              }).find("animated twice"),
              std::string::npos);
}

TEST(AnimatedPlacement, UnitsOverridesAndErrors) {
    std::vector<std::string> warnings;
    Animation animation;
    animation.addOption("position.x=0:10%,4:50%", false, warnings);
    animation.addOption("titleScale=0:50%,4:2", false, warnings); // percent and factor alike
    EXPECT_TRUE(animation.animatesPlacement());
    EXPECT_FALSE(animation.animatesRecord());
    EXPECT_FALSE(animation.empty());

    // Only the animated components change; y keeps the anchor's own point.
    TitlePlacement base;
    base.anchor = Anchor::LowerThird;
    const TitlePlacement at1 = animation.placement(base, 1, 25, 1);
    EXPECT_EQ(at1.anchor, Anchor::LowerThird);
    EXPECT_FALSE(at1.positioned);
    EXPECT_TRUE(at1.xPlaced);
    EXPECT_FALSE(at1.yPlaced);
    EXPECT_TRUE(at1.x.percent);
    EXPECT_DOUBLE_EQ(at1.x.value, 20);
    EXPECT_DOUBLE_EQ(at1.scale, 0.875);
    // Unscaled on 1000x600: x at 20 %, y at the lower third's 5/6 as without keys.
    TitlePlacement still = base;
    still.scale = at1.scale;
    const PlacedRect moved = placeTitle(1000, 600, 100, 40, at1, 1.0, false);
    const PlacedRect fixed = placeTitle(1000, 600, 100, 40, still, 1.0, false);
    EXPECT_EQ(moved.x, 200);
    EXPECT_EQ(moved.y, fixed.y);
    // Pixel positions follow the render's --scale like --position's.
    Animation pixels;
    pixels.addOption("position.y=0:100,2:200", false, warnings);
    const TitlePlacement y1 = pixels.placement(base, 1, 25, 1);
    EXPECT_FALSE(y1.y.percent);
    EXPECT_DOUBLE_EQ(y1.y.value, 150);
    EXPECT_EQ(placeTitle(500, 300, 100, 40, y1, 0.5, false).y, 75 - 20);
    // Interlaced material keeps its even top row.
    EXPECT_EQ(placeTitle(500, 301, 100, 41, pixels.placement(base, 0, 25, 1), 1.0, true).y % 2, 0);

    // Scale out of range is clamped with a warning; units may not mix.
    warnings.clear();
    Animation clamped;
    clamped.addOption("titleScale=0:0,1:20000%", false, warnings);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("clamped to 0.001"), std::string::npos);
    EXPECT_DOUBLE_EQ(clamped.placement(base, 1, 25, 1).scale, 100);
    auto fails = [&](const std::string &option) {
        Animation a;
        return usageError([&] { a.addOption(option, false, warnings); });
    };
    EXPECT_NE(fails("position.x=0:10,1s:50%").find("mixes pixels and percent"), std::string::npos);
    EXPECT_NE(fails("position.y=0:1e9").find("not a number"), std::string::npos);
    EXPECT_NE(fails("position.x=0:10%%").find("not a number"), std::string::npos);
    EXPECT_NE(fails("position.x=3:1,1:2").find("must increase"), std::string::npos);
    Animation twice;
    twice.addOption("titleScale=0:1", false, warnings);
    EXPECT_NE(usageError([&] {
                  twice.addOption("titleScale=0:2", false, warnings);
              }).find("animated twice"),
              std::string::npos);
}

// An animated render against still renders of each frame's settings.
class AnimatedRender : public ::testing::Test {
  protected:
    static constexpr int W = 64, H = 48, Frames = 5;
    void SetUp() override {
        std::vector<Picture> titles;
        for (int k = 0; k < Frames; ++k) titles.push_back(titlePicture(W, H, k));
        writeWithFfmpeg(titles, ws.path("title.mov"), {"-c:v", "qtrle"});
        writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("background.png"));
    }
    // The settings of frame k by hand: offsetX eases from -40 to 40,
    // bevelWidth goes 2 -> 10 linearly, the glow switches on at 0.08 s
    // (frame 2 at 25 fps), its colour moves from red to blue.
    static std::vector<std::string> stillSettings(int k) {
        const int offsets[] = {-40, -28, 0, 28, 40};
        const char *colours[] = {"#FF0000", "#BF0040", "#800080", "#4000BF", "#0000FF"};
        return {"--set", "offsetX=" + std::to_string(offsets[k]),
                "bevelWidth=" + std::to_string(2 + 2 * k),
                std::string("glowOn=") + (k >= 2 ? "on" : "off"),
                std::string("glowColour1=") + colours[k]};
    }
    Workspace ws;
};

TEST_F(AnimatedRender, FrameKEqualsAStillRenderOfItsSettingsInBothFieldModes) {
    const std::string json =
        R"({"glowOn": [{"time": 0, "value": "off"}, {"time": "0.08s", "value": "on"}],
            "glowColour1": [{"time": 0, "value": "#FF0000"}, {"time": 4, "value": "#0000FF"}]})";
    std::FILE *file = std::fopen(ws.path("keys.json").c_str(), "w");
    ASSERT_TRUE(file);
    std::fputs(json.c_str(), file);
    std::fclose(file);
    for (const bool fieldWise : {false, true}) {
        SCOPED_TRACE(fieldWise ? "field-wise" : "frame-wise");
        std::vector<std::string> mode;
        if (fieldWise) mode = {"--field-wise", "--field-order", "tff"};
        std::vector<std::string> args = {"render",
                                         "--title",
                                         "title.mov",
                                         "--background",
                                         "background.png",
                                         "-o",
                                         "anim.mov",
                                         "--codec",
                                         "qtrle",
                                         "--animate",
                                         "offsetX=0:-40,4:40:ease",
                                         "--animate",
                                         "bevelWidth=0:2,0.16s:10",
                                         "--keyframes",
                                         "keys.json",
                                         "--quiet",
                                         "-y"};
        args.insert(args.end(), mode.begin(), mode.end());
        const RunResult result = ws.lustra(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        // Each frame's record went through the temporary settings file,
        // which is gone.
        EXPECT_TRUE(filesContaining(ws.home() + "/programs/lustra/settings", ".render-").empty());
        const std::vector<Picture> animated = decodeWithFfmpeg(ws.path("anim.mov"), W, H);
        ASSERT_EQ(animated.size(), size_t(Frames));
        std::vector<Picture> stills;
        for (int k = 0; k < Frames; ++k) {
            const std::string name = "still-" + std::to_string(k) + ".png";
            std::vector<std::string> still = {"render",
                                              "--title",
                                              "title.mov",
                                              "--background",
                                              "background.png",
                                              "-o",
                                              name,
                                              "--frames",
                                              std::to_string(k) + "-" + std::to_string(k),
                                              "--quiet",
                                              "-y"};
            const std::vector<std::string> settings = stillSettings(k);
            still.insert(still.end(), settings.begin(), settings.end());
            still.insert(still.end(), mode.begin(), mode.end());
            const RunResult one = ws.lustra(still);
            ASSERT_EQ(one.exitCode, 0) << one.err;
            stills.push_back(decodeWithFfmpeg(ws.path(name), W, H).at(0));
            EXPECT_EQ(maxDifference(animated[k], stills[k]), 0) << "frame " << k;
        }
        // The animation shows: every frame differs from the next.
        for (int k = 0; k + 1 < Frames; ++k) EXPECT_GT(maxDifference(stills[k], stills[k + 1]), 0);
    }
}

// The title's place and size over time: frame k against a still render at
// --position/--title-scale of the values of frame k (x 25 % -> 75 %, y
// 10 -> 30 px, scale 50 % -> 100 %, all exact in decimals).
TEST_F(AnimatedRender, AnimatedPlacementEqualsStillPlacementAtEachFrame) {
    writeWithFfmpeg({titlePicture(W, H, 1)}, ws.path("title.png"));
    std::FILE *file = std::fopen(ws.path("place.json").c_str(), "w");
    ASSERT_TRUE(file);
    std::fputs(R"({"titleScale": [{"time": 0, "value": "50%"}, {"time": 4, "value": 1}]})", file);
    std::fclose(file);
    auto stillArgs = [](int k) {
        const char *xs[] = {"25%", "37.5%", "50%", "62.5%", "75%"};
        const char *scales[] = {"0.5", "0.625", "0.75", "0.875", "1"};
        return std::vector<std::string>{"--position",
                                        std::string(xs[k]) + "," + std::to_string(10 + 5 * k),
                                        "--title-scale", scales[k]};
    };
    // A video title from frame 0, and two pictures from frame 2 on (the
    // keys count output frames, not frames read).
    for (const bool pictures : {false, true}) {
        for (const bool fieldWise : {false, true}) {
            SCOPED_TRACE(std::string(pictures ? "pictures" : "video") +
                         (fieldWise ? ", field-wise" : ", frame-wise"));
            std::vector<std::string> mode;
            if (fieldWise) mode = {"--field-wise", "--field-order", "tff"};
            const std::string title = pictures ? "title.png" : "title.mov";
            const int first = pictures ? 2 : 0;
            std::vector<std::string> args = {"render",
                                             "--title",
                                             title,
                                             "--background",
                                             "background.png",
                                             "-o",
                                             "anim.mov",
                                             "--codec",
                                             "qtrle",
                                             "--animate",
                                             "position.x=0:25%,4:75%",
                                             "--animate",
                                             "position.y=0:10,0.16s:30",
                                             "--keyframes",
                                             "place.json",
                                             "--quiet",
                                             "-y"};
            if (pictures) args.insert(args.end(), {"--frames", "2-4"});
            args.insert(args.end(), mode.begin(), mode.end());
            const RunResult result = ws.lustra(args);
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const std::vector<Picture> animated = decodeWithFfmpeg(ws.path("anim.mov"), W, H);
            ASSERT_EQ(animated.size(), size_t(Frames - first));
            for (int k = first; k < Frames; ++k) {
                const std::string name = "still-" + std::to_string(k) + ".png";
                std::vector<std::string> still = {"render",
                                                  "--title",
                                                  title,
                                                  "--background",
                                                  "background.png",
                                                  "-o",
                                                  name,
                                                  "--frames",
                                                  std::to_string(k) + "-" + std::to_string(k),
                                                  "--quiet",
                                                  "-y"};
                const std::vector<std::string> place = stillArgs(k);
                still.insert(still.end(), place.begin(), place.end());
                still.insert(still.end(), mode.begin(), mode.end());
                const RunResult one = ws.lustra(still);
                ASSERT_EQ(one.exitCode, 0) << one.err;
                const Picture picture = decodeWithFfmpeg(ws.path(name), W, H).at(0);
                EXPECT_EQ(maxDifference(animated[k - first], picture), 0) << "frame " << k;
                if (k > first) {
                    EXPECT_GT(maxDifference(animated[k - first], animated[k - first - 1]), 0)
                        << "frame " << k;
                }
            }
        }
    }
}

TEST_F(AnimatedRender, AlphaEffectMattesFollowTheAnimatedSettings) {
    const RunResult result =
        ws.lustra({"render", "--title", "title.mov", "--alpha", "effect", "-o", "anim-%d.png",
                   "--frames", "0-2", "--animate", "offsetX=0:-40,4:40:ease", "--animate",
                   "bevelWidth=0:2,4:10", "--animate", "glowOn=0:off,2:on", "--animate",
                   "glowColour1=0:#FF0000,4:#0000FF", "--quiet", "-y"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (int k = 0; k <= 2; ++k) {
        std::vector<std::string> still = {
            "render",    "--title",  "title.mov",
            "--alpha",   "effect",   "-o",
            "still.png", "--frames", std::to_string(k) + "-" + std::to_string(k),
            "--quiet",   "-y"};
        const std::vector<std::string> settings = stillSettings(k);
        still.insert(still.end(), settings.begin(), settings.end());
        ASSERT_EQ(ws.lustra(still).exitCode, 0);
        EXPECT_EQ(
            maxDifference(
                decodeWithFfmpeg(ws.path("anim-" + std::to_string(k) + ".png"), W, H, true).at(0),
                decodeWithFfmpeg(ws.path("still.png"), W, H, true).at(0)),
            0)
            << "frame " << k;
    }
}

TEST_F(AnimatedRender, BadKeysAreUsageErrorsBeforeAnythingIsWritten) {
    const std::vector<std::string> base = {"render",         "--title", "title.mov", "--background",
                                           "background.png", "-o",      "out.mov",   "--quiet"};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--animate", "bevelWidht=0:1"}, "did you mean bevelWidth"},
        {{"--animate", "bevelWidth=4:1,2:3"}, "must increase"},
        // Mixed units are checked at the clip's rate: 1 s is frame 25.
        {{"--animate", "bevelWidth=0:1,30:2,1s:3"}, "does not come after"},
        {{"--animate", "bevelWidth=0-1"}, "is not a key"},
        {{"--animate", "position.y=0:10,2:50%"}, "mixes pixels and percent"},
        {{"--animate", "titleScale=0:big"}, "is not a number"},
        {{"--keyframes", "missing.json"}, "cannot read"},
    };
    for (const auto &[extra, message] : cases) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = ws.lustra(args);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(result.exitCode, message == "cannot read" ? 1 : 2) << message;
        EXPECT_FALSE(exists(ws.path("out.mov"))) << message;
    }
    // Clamped keys are a warning, and the render goes on.
    const RunResult clamped =
        ws.lustra({"render", "--title", "title.mov", "--background", "background.png", "-o",
                   "out.mov", "--animate", "glowOpacity=0:0,4:250"});
    EXPECT_EQ(clamped.exitCode, 0) << clamped.err;
    EXPECT_NE(clamped.err.find("250 is outside the dialog range 0..100, clamped to 100"),
              std::string::npos);
}

} // namespace
