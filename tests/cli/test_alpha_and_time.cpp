// What lustra render writes into the alpha channel (--alpha opaque, title,
// effect, checked by compositing in the real ffmpeg), and how inputs of
// other frame rates are sampled by time.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

RunResult ffmpeg(const Workspace &ws, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error"});
    return runProgram(arguments, ws.dir(), {});
}

// `over` with the straight RGBA picture `top` laid over it by ffmpeg's
// overlay filter, in RGB.
Picture overlayWithFfmpeg(const Workspace &ws, const std::string &over, const std::string &top) {
    const RunResult result = ffmpeg(ws, {"-i", over, "-i", top, "-filter_complex",
                                         "[0][1]overlay=format=rgb", "composite.png"});
    if (result.exitCode != 0) throw std::runtime_error("ffmpeg overlay failed: " + result.err);
    return decodeWithFfmpeg(ws.path("composite.png"), W, H).at(0);
}

TEST(AlphaModes, OpaqueIsTheDefaultTitlePassesTheTitlesAlpha) {
    Workspace ws;
    const Picture title = titlePicture(W, H, 0, true), background = backgroundPicture(W, H);
    writeWithFfmpeg({title}, ws.path("title.png"));
    writeWithFfmpeg({background}, ws.path("background.png"));
    const std::vector<Picture> reference = referenceRender({title}, {background});
    // The composite as the preview shows it: no transparent left edge.
    RunResult result = ws.lustra(
        {"render", "--title", "title.png", "--background", "background.png", "-o", "out.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("out.png"), "pix_fmt"), "rgb24");
    const Picture opaque = decodeWithFfmpeg(ws.path("out.png"), W, H, true).at(0);
    for (int y = 0; y < H; ++y) ASSERT_EQ(opaque.at(0, y)[3], 255) << y;
    Picture rgb = reference[0];
    rgb.channels = 3;
    rgb.bytes.clear();
    for (size_t i = 0; i < reference[0].bytes.size(); i += 4)
        rgb.bytes.insert(rgb.bytes.end(), &reference[0].bytes[i], &reference[0].bytes[i] + 3);
    EXPECT_EQ(maxDifference(decodeWithFfmpeg(ws.path("out.png"), W, H).at(0), rgb), 0);

    result = ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                        "keyed.png", "--alpha", "title"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(maxDifference(decodeWithFfmpeg(ws.path("keyed.png"), W, H, true).at(0), reference[0]),
              0);
}

TEST(AlphaModes, EffectCompositedByFfmpegMatchesADirectRender) {
    Workspace ws;
    const Picture title = titlePicture(W, H), background = backgroundPicture(W, H);
    writeWithFfmpeg({title}, ws.path("title.png"));
    writeWithFfmpeg({background}, ws.path("background.png"));
    writeWithFfmpeg({Picture{W, H, 3, std::vector<uint8_t>(W * H * 3, 0)}}, ws.path("empty.png"));
    ASSERT_EQ(ws.lustra({"settings", "set", "glowOn=on", "glowColour1=#FFD040", "shadowOn=on",
                         "bevelWidth=6"})
                  .exitCode,
              0);
    RunResult result =
        ws.lustra({"render", "--title", "title.png", "--alpha", "effect", "-o", "effect.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("effect.png"), "pix_fmt"), "rgba");
    ASSERT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                         "direct.png", "--quiet"})
                  .exitCode,
              0);
    // What the module itself makes of the picture where nothing covers it.
    ASSERT_EQ(ws.lustra({"render", "--title", "empty.png", "--background", "background.png", "-o",
                         "shown.png", "--quiet"})
                  .exitCode,
              0);
    const Picture matte = decodeWithFfmpeg(ws.path("effect.png"), W, H, true).at(0);
    const Picture direct = decodeWithFfmpeg(ws.path("direct.png"), W, H).at(0);
    const Picture shown = decodeWithFfmpeg(ws.path("shown.png"), W, H).at(0);

    // Transparent far from the title, opaque inside it, partly covered by
    // glow and shadow in between.
    EXPECT_EQ(matte.at(0, H - 1)[3], 0);
    EXPECT_EQ(matte.at(W / 2, H / 4)[3], 255);
    int partial = 0;
    for (size_t i = 3; i < matte.bytes.size(); i += 4)
        partial += matte.bytes[i] > 20 && matte.bytes[i] < 235;
    EXPECT_GT(partial, 50);

    // Over the module's own picture of the background the composite is the
    // direct render but for the rounding of three renders, each truncated
    // to 8-bit YCbCr (a level of Cr is 1.4 levels of red).
    const Picture overShown = overlayWithFfmpeg(ws, "shown.png", "effect.png");
    const int matteError = maxDifference(overShown, direct);
    EXPECT_LE(matteError, 5);
    EXPECT_LT(meanDifference(overShown, direct), 0.75);
    // Over the picture itself the difference adds what the module's own
    // colour conversions do to an uncovered background.
    const Picture overPicture = overlayWithFfmpeg(ws, "background.png", "effect.png");
    const int backgroundChange =
        maxDifference(shown, decodeWithFfmpeg(ws.path("background.png"), W, H).at(0));
    const int total = maxDifference(overPicture, direct);
    EXPECT_LE(total, backgroundChange + 2);
    std::cout << "matte: largest difference " << matteError << " (mean "
              << meanDifference(overShown, direct) << ") over the module's background, " << total
              << " over the picture (the module's background differs from it by up to "
              << backgroundChange << ")\n";

    // Where nothing shows through, the colour is the render over black.
    ASSERT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "#000000", "-o",
                         "black.png", "--quiet"})
                  .exitCode,
              0);
    const Picture black = decodeWithFfmpeg(ws.path("black.png"), W, H).at(0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (matte.at(x, y)[3] == 255) {
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(matte.at(x, y)[c], black.at(x, y)[c], 1) << x << "," << y;
            }
}

TEST(AlphaModes, OutputsThatCannotHoldAlphaAreRefused) {
    Workspace ws;
    writeWithFfmpeg({titlePicture(W, H, 0, true)}, ws.path("title.png"));
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    } cases[] = {
        {{"-o", "out.mp4", "--alpha", "title"}, "libx264 in mp4 cannot store the alpha channel"},
        {{"-o", "out.mov", "--alpha", "effect", "--codec", "libx264"}, "cannot store the alpha"},
        {{"-o", "out.jpg", "--alpha", "effect"}, "pictures cannot store the alpha channel"},
        {{"-o", "out.png", "--alpha", "keyed"}, "is not opaque, title or effect"},
        {{"-o", "out.png"}, "or --alpha effect"}, // no background
    };
    for (const Case &c : cases) {
        std::vector<std::string> arguments = {"render", "--title", "title.png"};
        if (c.arguments.size() > 2) arguments.insert(arguments.end(), {"--background", "#102030"});
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const RunResult result = ws.lustra(arguments);
        EXPECT_EQ(result.exitCode, 2) << c.arguments[1];
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_TRUE(filesContaining(ws.dir(), "out.").empty());
    // A ProRes 4444 title with alpha into ProRes 4444 keeps its alpha.
    std::vector<Picture> titles;
    for (int k = 0; k < 3; ++k) titles.push_back(titlePicture(W, H, k, true));
    writeWithFfmpeg(titles, ws.path("title4444.mov"),
                    {"-c:v", "prores_ks", "-profile:v", "4444", "-pix_fmt", "yuva444p10le"});
    RunResult result = ws.lustra({"render", "--title", "title4444.mov", "--background", "#102030",
                                  "-o", "keyed.mov", "--alpha", "title", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("keyed.mov"), "pix_fmt").rfind("yuva444p", 0), 0u);
    const std::vector<Picture> keyed = decodeWithFfmpeg(ws.path("keyed.mov"), W, H, true);
    ASSERT_EQ(keyed.size(), 3u);
    for (int x = 0; x < W; x += 7) EXPECT_NEAR(keyed[2].at(x, 3)[3], titles[2].at(x, 3)[3], 2);
    // Without --alpha the same title makes an opaque H.264 file.
    result = ws.lustra({"render", "--title", "title4444.mov", "--background", "#102030", "-o",
                        "opaque.mov", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("opaque.mov"), "codec_name"), "h264");
}

// Distinct frames: a title and a background that change every frame.
struct Clip {
    std::vector<Picture> titles, backgrounds;
};

TEST(FrameRates, A25pTitleOver50pBackgroundSamplesTheBackgroundByTime) {
    Workspace ws;
    Clip clip;
    for (int k = 0; k < 4; ++k) clip.titles.push_back(titlePicture(W, H, k));
    for (int k = 0; k < 8; ++k) clip.backgrounds.push_back(backgroundPicture(W, H, 2 * k));
    writeWithFfmpeg(clip.titles, ws.path("title25.mov"), {"-c:v", "qtrle"}, 25);
    writeWithFfmpeg(clip.backgrounds, ws.path("background50.mov"), {"-c:v", "qtrle"}, 50);
    RunResult result = ws.lustra({"render", "--title", "title25.mov", "--background",
                                  "background50.mov", "-o", "out.mov", "--codec", "qtrle"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("background background50.mov is 50 fps, the output 25 fps"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("differ in length"), std::string::npos) << result.err;
    EXPECT_EQ(probe(ws.path("out.mov"), "r_frame_rate"), "25/1");
    std::vector<Picture> expectedBackgrounds;
    for (int k = 0; k < 4; ++k) expectedBackgrounds.push_back(clip.backgrounds[size_t(2 * k)]);
    std::vector<Picture> got = decodeWithFfmpeg(ws.path("out.mov"), W, H);
    std::vector<Picture> expected = referenceRender(clip.titles, expectedBackgrounds);
    ASSERT_EQ(got.size(), 4u);
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(maxDifference(got[k], expected[k]), 0) << k;

    // At --fps 50 both inputs are sampled: every title frame shows twice,
    // over every background frame.
    result = ws.lustra({"render", "--title", "title25.mov", "--background", "background50.mov",
                        "-o", "fast.mov", "--codec", "qtrle", "--fps", "50", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    got = decodeWithFfmpeg(ws.path("fast.mov"), W, H);
    std::vector<Picture> doubled;
    for (int k = 0; k < 8; ++k) doubled.push_back(clip.titles[size_t(k / 2)]);
    expected = referenceRender(doubled, clip.backgrounds);
    ASSERT_EQ(got.size(), 8u);
    for (size_t k = 0; k < 8; ++k) EXPECT_EQ(maxDifference(got[k], expected[k]), 0) << k;
}

} // namespace
