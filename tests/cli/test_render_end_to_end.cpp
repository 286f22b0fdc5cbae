// lustra render and demo end to end: generated pictures and clips in,
// files out, decoded with ffmpeg and compared with renders of the same
// frames through the test host.
#include "CliTestSupport.h"

#include "support/TestHost.h"

#include <gtest/gtest.h>

using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

struct Inputs {
    std::vector<Picture> titles, backgrounds;
};

Inputs clip(int frames, bool alpha = false) {
    Inputs inputs;
    for (int k = 0; k < frames; ++k) {
        inputs.titles.push_back(titlePicture(W, H, k, alpha));
        inputs.backgrounds.push_back(backgroundPicture(W, H, k));
    }
    return inputs;
}

// Largest difference of 8x8 block averages: lossy coding and chroma
// subsampling even out, a wrong colour matrix or range does not.
double blockDifference(const Picture &a, const Picture &b) {
    double worst = 0;
    for (int by = 0; by + 8 <= a.height; by += 8)
        for (int bx = 0; bx + 8 <= a.width; bx += 8)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x)
                        sum += int(a.at(x, y)[c]) - int(b.at(x, y)[c]);
                worst = std::max(worst, std::abs(sum / 64));
            }
    return worst;
}

void expectSameFrames(const std::vector<Picture> &got, const std::vector<Picture> &expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t k = 0; k < got.size(); ++k)
        EXPECT_EQ(maxDifference(got[k], expected[k]), 0) << "frame " << k;
}

TEST(RenderPictures, PngMatchesTheTestHostRenderExactly) {
    Workspace ws;
    const Inputs in = clip(1);
    writeWithFfmpeg(in.titles, ws.path("title.png"));
    writeWithFfmpeg(in.backgrounds, ws.path("background.png"));
    const RunResult result = ws.lustra(
        {"render", "--title", "title.png", "--background", "background.png", "-o", "out.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSameFrames(decodeWithFfmpeg(ws.path("out.png"), W, H),
                     referenceRender(in.titles, in.backgrounds));
}

TEST(RenderPictures, EachHostChoiceMatchesTheTestHost) {
    Workspace ws;
    const Inputs in = clip(1);
    writeWithFfmpeg(in.titles, ws.path("title.png"));
    writeWithFfmpeg(in.backgrounds, ws.path("background.png"));
    // Settings whose second layers and row smoothing show.
    ASSERT_EQ(ws.lustra({"settings", "set", "texture2On=on", "fill2Mode=metal", "glowOn=on",
                         "bevelWidth=4"})
                  .exitCode,
              0);
    const std::vector<uint8_t> settings = readFile(ws.settingsPath());
    struct Case {
        const char *option;
        ReferenceOptions reference;
    } cases[] = {{"--second-layers", {true, false, false, settings, {}}},
                 {"--flicker-filter", {false, true, false, settings, {}}},
                 {"--field-wise", {false, false, true, settings, {}}}};
    std::vector<Picture> plain =
        referenceRender(in.titles, in.backgrounds, {false, false, false, settings, {}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.option);
        const RunResult result =
            ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                       "out.png", c.option, "--quiet", "-y"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::vector<Picture> expected =
            referenceRender(in.titles, in.backgrounds, c.reference);
        expectSameFrames(decodeWithFfmpeg(ws.path("out.png"), W, H), expected);
        EXPECT_GT(maxDifference(expected[0], plain[0]), 0) << "the choice changes the picture";
    }
}

TEST(RenderPictures, TitleAlphaPassesThroughToPngAndProResMov) {
    Workspace ws;
    const Inputs in = clip(1, true);
    writeWithFfmpeg(in.titles, ws.path("title.png"));
    writeWithFfmpeg(in.backgrounds, ws.path("background.png"));
    ASSERT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                         "out.png", "--alpha", "title"})
                  .exitCode,
              0);
    const std::vector<Picture> got = decodeWithFfmpeg(ws.path("out.png"), W, H, true);
    expectSameFrames(got, referenceRender(in.titles, in.backgrounds));
    EXPECT_EQ(got[0].at(W - 1, 5)[3], 255);
    EXPECT_EQ(got[0].at(0, 5)[3], 0);

    const RunResult mov =
        ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                   "out.mov", "--frames", "0-2", "--alpha", "title"});
    ASSERT_EQ(mov.exitCode, 0) << mov.err;
    EXPECT_EQ(probe(ws.path("out.mov"), "codec_name"), "prores");
    EXPECT_EQ(probe(ws.path("out.mov"), "pix_fmt").rfind("yuva444p", 0),
              0u); // ProRes 4444 with alpha
    EXPECT_EQ(probe(ws.path("out.mov"), "nb_read_frames"), "3");
    const std::vector<Picture> video = decodeWithFfmpeg(ws.path("out.mov"), W, H, true);
    ASSERT_EQ(video.size(), 3u);
    EXPECT_NEAR(video[0].at(W / 2, 5)[3], got[0].at(W / 2, 5)[3], 2);
}

TEST(RenderVideo, LosslessClipMatchesTheTestHostFrameByFrame) {
    Workspace ws;
    const Inputs in = clip(6);
    writeWithFfmpeg(in.titles, ws.path("title.mov"), {"-c:v", "qtrle"});
    writeWithFfmpeg({in.backgrounds[0]}, ws.path("background.png"));
    const std::vector<Picture> still(6, in.backgrounds[0]);
    for (const bool fieldWise : {false, true}) {
        SCOPED_TRACE(fieldWise ? "field-wise" : "frame-wise");
        std::vector<std::string> args = {"render",         "--title", "title.mov", "--background",
                                         "background.png", "-o",      "out.mov",   "--codec",
                                         "qtrle",          "--quiet", "-y"};
        if (fieldWise) args.push_back("--field-wise");
        const RunResult result = ws.lustra(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ReferenceOptions options;
        options.fieldWise = fieldWise;
        expectSameFrames(decodeWithFfmpeg(ws.path("out.mov"), W, H),
                         referenceRender(in.titles, still, options));
    }
}

TEST(RenderVideo, Mp4IsRealH264CloseToTheReference) {
    Workspace ws;
    const Inputs in = clip(6);
    writeWithFfmpeg(in.titles, ws.path("title.mov"), {"-c:v", "qtrle"});
    writeWithFfmpeg(in.backgrounds, ws.path("background.mov"), {"-c:v", "qtrle"});
    const RunResult result = ws.lustra(
        {"render", "--title", "title.mov", "--background", "background.mov", "-o", "out.mp4"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("out.mp4"), "codec_name"), "h264");
    EXPECT_EQ(probe(ws.path("out.mp4"), "nb_read_frames"), "6");
    const std::vector<Picture> got = decodeWithFfmpeg(ws.path("out.mp4"), W, H);
    const std::vector<Picture> expected = referenceRender(in.titles, in.backgrounds);
    ASSERT_EQ(got.size(), 6u);
    for (size_t k = 0; k < got.size(); ++k)
        EXPECT_LT(meanDifference(got[k], expected[k]), 10.0) << k;
    // Losslessly coded, only the limited-range 4:2:0 rounding remains: the
    // colour matrix and range the file declares are the ones used.
    ASSERT_EQ(ws.lustra({"render", "--title", "title.mov", "--background", "background.mov", "-o",
                         "exact.mp4", "--codec-option", "crf=0", "--quiet"})
                  .exitCode,
              0);
    const std::vector<Picture> lossless = decodeWithFfmpeg(ws.path("exact.mp4"), W, H);
    ASSERT_EQ(lossless.size(), 6u);
    for (size_t k = 0; k < lossless.size(); ++k) {
        EXPECT_LT(blockDifference(lossless[k], expected[k]), 6.0) << k;
        for (int c = 0; c < 3; ++c) { // no shift of any channel's average
            double sum = 0;
            for (size_t i = size_t(c); i < lossless[k].bytes.size(); i += 3)
                sum += int(lossless[k].bytes[i]) - int(expected[k].bytes[i]);
            EXPECT_LT(std::abs(sum / (W * H)), 2.0) << "frame " << k << " channel " << c;
        }
    }
}

TEST(RenderVideo, FramesRangeSequenceAndFieldOrder) {
    Workspace ws;
    const Inputs in = clip(6);
    writeWithFfmpeg(in.titles, ws.path("title.mov"), {"-c:v", "qtrle"});
    writeWithFfmpeg({in.backgrounds[0]}, ws.path("background.png"));
    RunResult result =
        ws.lustra({"render", "--title", "title.mov", "--background", "background.png", "-o",
                   "seq-%02d.png", "--frames", "2-3", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(exists(ws.path("seq-01.png")));
    EXPECT_FALSE(exists(ws.path("seq-04.png")));
    const std::vector<Picture> reference =
        referenceRender(in.titles, std::vector<Picture>(6, in.backgrounds[0]));
    // The module saw the same frames as in a full render: frame 3 of the clip.
    expectSameFrames(decodeWithFfmpeg(ws.path("seq-03.png"), W, H), {reference[3]});

    result = ws.lustra({"render", "--title", "title.mov", "--background", "background.png", "-o",
                        "tff.mp4", "--field-order", "tff", "--field-wise", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("tff.mp4"), "field_order"), "tt");
    result = ws.lustra(
        {"render", "--title", "tff.mp4", "--background", "#102030", "-o", "again.mkv", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("again.mkv"), "field_order"), "tt"); // taken over from the input
}

TEST(RenderVideo, BackgroundOfAnotherSizeSetsTheFrame) {
    // The background sets the output frame; the larger title is centred and
    // cropped, with a note. (--size title keeps the title's frame.)
    Workspace ws;
    writeWithFfmpeg({titlePicture(W, H)}, ws.path("title.png"));
    writeWithFfmpeg({backgroundPicture(32, 24)}, ws.path("small.png"));
    const RunResult result =
        ws.lustra({"render", "--title", "title.png", "--background", "small.png", "-o", "out.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("does not fit the 32x24 frame"), std::string::npos) << result.err;
    EXPECT_EQ(decodeWithFfmpeg(ws.path("out.png"), 32, 24).size(), 1u);
}

TEST(RenderVideo, ScaledRenderHalvesTheFrame) {
    Workspace ws;
    writeWithFfmpeg({titlePicture(W, H)}, ws.path("title.png"));
    const RunResult result = ws.lustra({"render", "--title", "title.png", "--background", "#808080",
                                        "-o", "half.png", "--scale", "1/2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("half.png"), "width"), "32");
    EXPECT_EQ(probe(ws.path("half.png"), "height"), "24");
}

TEST(RenderSettings, InstanceSettingsSetOverridesAndSourcePictures) {
    Workspace ws;
    const Inputs in = clip(1);
    writeWithFfmpeg(in.titles, ws.path("title.png"));
    writeWithFfmpeg(in.backgrounds, ws.path("background.png"));
    const Picture wood = backgroundPicture(20, 16, 7);
    writeWithFfmpeg({wood}, ws.path("wood.png"));
    ASSERT_EQ(ws.lustra({"settings", "set", "--instance", "logo", "bevelWidth=14", "shadowOn=off"})
                  .exitCode,
              0);
    RunResult result = ws.lustra({"render", "--title", "title.png", "--background",
                                  "background.png", "-o", "logo.png", "--instance", "logo", "--set",
                                  "fill1Mode=source", "--source", "fill1=wood.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ReferenceOptions options;
    options.settings = readFile(ws.settingsPath("logo.prf"));
    options.settings[417] = 4;
    const std::string descriptor = ws.path("wood.png");
    std::copy(descriptor.begin(), descriptor.end(), options.settings.begin() + 290);
    options.sources[descriptor] = wood;
    expectSameFrames(decodeWithFfmpeg(ws.path("logo.png"), W, H),
                     referenceRender(in.titles, in.backgrounds, options));
    // The instance's file is untouched and no temporary record is left.
    EXPECT_EQ(readFile(ws.settingsPath("logo.prf"))[417], 1);
    EXPECT_EQ(filesContaining(ws.home() + "/programs/lustra/settings", ".render-").size(), 0u);

    // A settings file given directly, shorter than a record: used with a warning.
    lustra::test::writeBytes(ws.path("short.prf"), std::vector<uint8_t>(13, 0));
    result = ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                        "short.png", "--settings", "short.prf"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("13 bytes, not 824"), std::string::npos);
    options = {};
    options.settings = lustra::test::defaultSettingsBytes();
    std::fill(options.settings.begin(), options.settings.begin() + 13, 0);
    expectSameFrames(decodeWithFfmpeg(ws.path("short.png"), W, H),
                     referenceRender(in.titles, in.backgrounds, options));
}

TEST(RenderHome, OwnDataDirectoryIsCreatedAndSettingsSurvive) {
    Workspace ws;
    const std::map<std::string, std::string> env = {{"VXHOME", ""},
                                                    {"XDG_DATA_HOME", ws.path("xdg")}};
    RunResult result = ws.lustra({"info"}, env);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string home = ws.path("xdg") + "/lustra";
    EXPECT_NE(result.out.find("VXHOME:          " + home), std::string::npos);
    EXPECT_NE(result.out.find("$Id: LustraFex,v 1.0"), std::string::npos);
    EXPECT_NE(result.out.find("label 102"), std::string::npos);
    EXPECT_TRUE(exists(home + "/lustra/metal.pat"));
    EXPECT_TRUE(exists(home + "/programs/lustra/settings"));
    ASSERT_EQ(ws.lustra({"settings", "set", "bevelWidth=21"}, env).exitCode, 0);
    EXPECT_EQ(readFile(home + "/programs/lustra/settings/last.prf")[11], 21);
    result = ws.lustra({"settings", "show"}, env);
    EXPECT_NE(result.out.find("bevelWidth         = 21"), std::string::npos);
}

TEST(Demo, WritesPicturesAndARealClip) {
    Workspace ws;
    const RunResult result =
        ws.lustra({"demo", "-o", "demo", "--size", "64x48", "--frames", "6", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char *name : {"title.png", "background.png", "lustra-demo.png", "lustra-demo.mp4"})
        EXPECT_TRUE(exists(ws.path("demo/") + name)) << name;
    EXPECT_EQ(probe(ws.path("demo/lustra-demo.mp4"), "nb_read_frames"), "6");
    const std::vector<Picture> title = decodeWithFfmpeg(ws.path("demo/title.png"), 64, 48);
    const std::vector<Picture> background =
        decodeWithFfmpeg(ws.path("demo/background.png"), 64, 48);
    expectSameFrames(decodeWithFfmpeg(ws.path("demo/lustra-demo.png"), 64, 48),
                     referenceRender(title, background));
}

} // namespace
