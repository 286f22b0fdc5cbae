// Typed titles and the title's place on the output frame: the placement
// arithmetic, the text layout with the shipped font, and lustra render with
// both, checked against renders of the same frame composed by hand.
#include "CliTestSupport.h"
#include "Errors.h"
#include "Placement.h"
#include "TextTitle.h"
#include "TitleCanvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>

namespace lustra::clitest {
namespace {

using cli::Anchor;
using cli::PlacedRect;
using cli::TitlePlacement;

PlacedRect place(int cw, int ch, int tw, int th, TitlePlacement p, double pixelScale = 1,
                 bool interlaced = false) {
    return cli::placeTitle(cw, ch, tw, th, p, pixelScale, interlaced);
}

TitlePlacement at(Anchor anchor, double x = 0, double y = 0, bool positioned = false,
                  bool percent = false, double scale = 1) {
    TitlePlacement p;
    p.anchor = anchor;
    p.positioned = positioned;
    p.x = {x, percent};
    p.y = {y, percent};
    p.scale = scale;
    return p;
}

TEST(Placement, AnchorsPositionsAndScale) {
    // A title of the canvas's size, centred, covers it exactly (odd sizes too).
    for (auto [w, h] : {std::pair{64, 48}, {65, 49}, {1, 2}})
        EXPECT_EQ(place(w, h, w, h, at(Anchor::Centre)), (PlacedRect{0, 0, w, h}));
    const int W = 1920, H = 1080, w = 200, h = 100;
    EXPECT_EQ(place(W, H, w, h, at(Anchor::TopLeft)), (PlacedRect{0, 0, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::Top)), (PlacedRect{860, 0, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::Right)), (PlacedRect{1720, 490, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::BottomRight)), (PlacedRect{1720, 980, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::Centre)), (PlacedRect{860, 490, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::LowerThird)), (PlacedRect{192, 850, w, h}));
    // The position names where the anchor point goes: pixels (scaled with
    // the render) or percentages of the canvas (not scaled).
    EXPECT_EQ(place(W, H, w, h, at(Anchor::TopLeft, 37, 51, true)), (PlacedRect{37, 51, w, h}));
    EXPECT_EQ(place(W / 2, H / 2, w / 2, h / 2, at(Anchor::TopLeft, 100, 50, true), 0.5),
              (PlacedRect{50, 25, w / 2, h / 2}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::Centre, 50, 80, true, true)),
              (PlacedRect{860, 814, w, h}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::BottomRight, -10, -10, true)),
              (PlacedRect{-210, -110, w, h}));
    // The title scales about its anchor point.
    EXPECT_EQ(place(W, H, w, h, at(Anchor::BottomRight, 0, 0, false, false, 0.5)),
              (PlacedRect{1820, 1030, 100, 50}));
    EXPECT_EQ(place(W, H, w, h, at(Anchor::Centre, 0, 0, false, false, 2)),
              (PlacedRect{760, 440, 400, 200}));
    EXPECT_EQ(place(W, H, 3, 3, at(Anchor::TopLeft, 0, 0, false, false, 0.01)),
              (PlacedRect{0, 0, 1, 1}));
}

TEST(Placement, InterlacedTitlesMoveByLinePairs) {
    // Every top row is even, so title row r stays in the field of r; the
    // rounding is to the nearest even row, progressive to the nearest row.
    for (int y = -7; y <= 7; ++y) {
        const PlacedRect interlaced =
            place(720, 576, 100, 50, at(Anchor::TopLeft, 0, y, true), 1, true);
        EXPECT_EQ(interlaced.y % 2, 0) << y;
        EXPECT_LE(std::abs(interlaced.y - y), 1) << y;
        EXPECT_EQ(place(720, 576, 100, 50, at(Anchor::TopLeft, 0, y, true)).y, y);
    }
    // Centring an odd-height title on an even canvas: 25.5 rows rounds to 26.
    EXPECT_EQ(place(720, 576, 100, 525, at(Anchor::Centre), 1, true).y, 26);
}

TEST(Placement, CropDescriptionAndParsers) {
    EXPECT_EQ(cli::cropDescription({0, 0, 10, 10}, 10, 10), "");
    EXPECT_EQ(cli::cropDescription({-3, 5, 10, 10}, 20, 12),
              "3 px on the left, 3 px on the bottom");
    EXPECT_EQ(cli::parseAnchor("center"), Anchor::Centre);
    EXPECT_EQ(cli::parseAnchor("lower-third"), Anchor::LowerThird);
    EXPECT_THROW(cli::parseAnchor("middle"), cli::UsageError);
    cli::Coordinate x, y;
    cli::parsePosition("-12.5,80%", x, y);
    EXPECT_DOUBLE_EQ(x.value, -12.5);
    EXPECT_FALSE(x.percent);
    EXPECT_TRUE(y.percent);
    EXPECT_THROW(cli::parsePosition("12", x, y), cli::UsageError);
    EXPECT_THROW(cli::parsePosition("a,b", x, y), cli::UsageError);
    EXPECT_DOUBLE_EQ(cli::parseTitleScale("50%"), 0.5);
    EXPECT_THROW(cli::parseTitleScale("0"), cli::UsageError);
    int w = 0, h = 0;
    cli::parseCanvasSize("1920x1080", w, h);
    EXPECT_EQ(w * 10000 + h, 19201080);
    for (const char *bad : {"1920x", "x1080", "1920x1", "0x10", "19a0x10", "1920*1080"})
        EXPECT_THROW(cli::parseCanvasSize(bad, w, h), cli::UsageError) << bad;
}

// A 4x3 title whose pixel (x, y) has luminance 10 + 10 x + 50 y.
std::unique_ptr<cli::FrameSource> smallTitle(bool alpha) {
    return cli::paintedSource("small", 4, 3, 1, alpha,
                              [](int64_t, int w, int h, std::vector<uint8_t> &rgba) {
                                  rgba.assign(size_t(w) * h * 4, 128);
                                  for (int y = 0; y < h; ++y)
                                      for (int x = 0; x < w; ++x) {
                                          uint8_t *p = &rgba[(size_t(y) * w + x) * 4];
                                          p[0] = p[1] = p[2] = uint8_t(10 + 10 * x + 50 * y);
                                      }
                              });
}

TEST(Placement, PlacedSourcePastesTheTitleAndKeepsFields) {
    for (bool interlaced : {false, true})
        for (bool alpha : {false, true}) {
            auto source = cli::placedSource(
                smallTitle(alpha), 10, 8, [](int64_t) { return at(Anchor::TopLeft, 3, 3, true); });
            EXPECT_EQ(source->width(), 10);
            source->setOutputSize(10, 8, interlaced);
            cli::HostFrame frame;
            ASSERT_TRUE(source->next(frame));
            ASSERT_EQ(frame.width, 10);
            ASSERT_EQ(frame.height, 8);
            const int top = interlaced ? 4 : 3;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 10; ++x) {
                    const bool inside = x >= 3 && x < 7 && y >= top && y < top + 3;
                    const uint32_t pixel = frame.row(y)[x];
                    if (inside) {
                        EXPECT_EQ(pixel, cli::rgbToHost(uint8_t(10 + 10 * (x - 3) + 50 * (y - top)),
                                                        uint8_t(10 + 10 * (x - 3) + 50 * (y - top)),
                                                        uint8_t(10 + 10 * (x - 3) + 50 * (y - top)),
                                                        alpha ? 128 : 255));
                    } else {
                        EXPECT_EQ(pixel, cli::rgbToHost(0, 0, 0, alpha ? 0 : 255)) << x << "," << y;
                    }
                }
            // A still gives the same frame again.
            cli::HostFrame again;
            ASSERT_TRUE(source->next(again));
            EXPECT_EQ(again.pixels, frame.pixels);
        }
    // Larger than the canvas: cropped, and said.
    auto big =
        cli::placedSource(smallTitle(false), 3, 2, [](int64_t) { return at(Anchor::Centre); });
    EXPECT_NE(big->note().find("is cropped"), std::string::npos) << big->note();
    big->setOutputSize(3, 2, false);
    cli::HostFrame frame;
    ASSERT_TRUE(big->next(frame));
    EXPECT_EQ(frame.pixels.size(), 6u);
}

// Frames of the render's pool come back with old contents: a placed title
// writes every pixel of them, for a still title (read in place, its canvas
// kept while the place stays) and for a video whose place moves.
TEST(Placement, PlacedSourceWritesEveryPixelOfAUsedFrame) {
    auto moving = [](int64_t frame) { return at(Anchor::TopLeft, double(frame % 3), 1, true); };
    auto video = [] {
        return cli::paintedSource("moving", 4, 3, 4, false,
                                  [](int64_t frame, int w, int h, std::vector<uint8_t> &rgba) {
                                      rgba.assign(size_t(w) * h * 4, uint8_t(20 + 50 * frame));
                                  });
    };
    for (bool still : {true, false}) {
        SCOPED_TRACE(still ? "still title" : "video title");
        auto fresh = cli::placedSource(still ? smallTitle(false) : video(), 9, 6, moving);
        auto reused = cli::placedSource(still ? smallTitle(false) : video(), 9, 6, moving);
        fresh->setOutputSize(9, 6, false);
        reused->setOutputSize(9, 6, false);
        cli::HostFrame used(9, 6, 0x12345678u);
        for (int frame = 0; frame < 4; ++frame) {
            SCOPED_TRACE(frame);
            cli::HostFrame expected;
            ASSERT_TRUE(fresh->next(expected));
            std::fill(used.pixels.begin(), used.pixels.end(), 0x12345678u);
            ASSERT_TRUE(reused->next(used));
            EXPECT_EQ(used.pixels, expected.pixels);
        }
    }
}

#ifdef LUSTRA_HAVE_TEXT

struct Ink {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // inclusive
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The box of the pixels brighter than `threshold` within rows [y0, y1).
Ink inkOf(const cli::TextPicture &picture, int y0 = 0, int y1 = -1, int threshold = 64) {
    Ink ink;
    if (y1 < 0) y1 = picture.height;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.rgba[(size_t(y) * picture.width + x) * 4] > threshold) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
    return ink;
}

cli::TextPicture text(const std::string &words, cli::TextStyle style = {}) {
    if (style.sizePercent) {
        style.size = 60;
        style.sizePercent = false;
    }
    return cli::renderText(words, style, 1080);
}

TEST(TextTitle, DrawsAntialiasedWhiteOnBlackWithTheShippedFont) {
    const cli::TextPicture picture = text("NIGHT NEWS");
    EXPECT_TRUE(picture.warnings.empty()) << picture.warnings[0];
    EXPECT_EQ(picture.fontUsed, "DejaVu Sans");
    const Ink ink = inkOf(picture);
    ASSERT_GT(ink.right, 0);
    // Caps of a 60 px font: about 44 px high; ten letters: 350 to 450 px wide.
    EXPECT_NEAR(ink.height(), 44, 3);
    EXPECT_GT(ink.width(), 350);
    EXPECT_LT(ink.width(), 450);
    // A margin all round; the text box within the picture.
    EXPECT_GE(ink.left, 2);
    EXPECT_GE(ink.top, 2);
    EXPECT_LT(ink.right, picture.width - 2);
    EXPECT_LT(ink.bottom, picture.height - 2);
    EXPECT_LE(picture.textWidth, picture.width);
    bool white = false, grey = false;
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        EXPECT_EQ(picture.rgba[i + 3], 255);
        white |= picture.rgba[i] == 255;
        grey |= picture.rgba[i] > 30 && picture.rgba[i] < 220;
    }
    EXPECT_TRUE(white && grey) << "white and anti-aliased";
    // The same text gives the same picture.
    EXPECT_EQ(text("NIGHT NEWS").rgba, picture.rgba);
    // A size in percent is of the frame height.
    cli::TextStyle percent;
    percent.size = 10;
    EXPECT_EQ(cli::renderText("NIGHT NEWS", percent, 600).rgba, picture.rgba);
}

TEST(TextTitle, LinesAlignAndSpace) {
    // A long line over a short one: the short one centred, left or right.
    cli::TextStyle style;
    const std::string words = "WWWWWWWW\nI";
    for (cli::TextAlign align :
         {cli::TextAlign::Left, cli::TextAlign::Centre, cli::TextAlign::Right}) {
        style.align = align;
        const cli::TextPicture picture = text(words, style);
        const Ink all = inkOf(picture);
        const Ink second = inkOf(picture, picture.height / 2);
        const double middle = (second.left + second.right) / 2.0;
        if (align == cli::TextAlign::Left) {
            EXPECT_LT(second.left - all.left, 10);
        } else if (align == cli::TextAlign::Centre) {
            EXPECT_NEAR(middle, (all.left + all.right) / 2.0, 2);
        } else {
            EXPECT_LT(all.right - second.right, 10);
        }
    }
    // Three lines: three times the line step; a line spacing of 2 adds two more.
    const int one = text("NEWS").height, three = text("NEWS\nAT\nNINE").height;
    cli::TextStyle spaced;
    spaced.lineSpacing = 2;
    const int wide = text("NEWS\nAT\nNINE", spaced).height;
    const double step = (three - one) / 2.0; // the font's line height, about 70 px at 60 px
    EXPECT_NEAR(step, 70, 3);
    EXPECT_NEAR(wide - three, 2 * step, 2);
    // Tracking widens: 200/1000 em after each of 9 letters, about 9 x 12 px.
    cli::TextStyle tracked;
    tracked.tracking = 200;
    const int plain = inkOf(text("NIGHTNEWS")).width(),
              widened = inkOf(text("NIGHTNEWS", tracked)).width();
    EXPECT_NEAR(widened - plain, 8 * 12, 13);
    tracked.tracking = 5;
    tracked.trackingPixels = true;
    EXPECT_NEAR(inkOf(text("NIGHTNEWS", tracked)).width() - plain, 8 * 5, 6);
}

TEST(TextTitle, RightToLeftAndOtherScripts) {
    // Hebrew alef then yod: right to left, the yod (a small mark at the top)
    // stands left of the alef, so the lowest ink is in the right part.
    const cli::TextPicture hebrew = text("\xD7\x90\xD7\x99");
    EXPECT_TRUE(hebrew.warnings.empty());
    const Ink all = inkOf(hebrew);
    const Ink low = inkOf(hebrew, all.bottom - all.height() / 4, all.bottom + 1);
    const Ink high = inkOf(hebrew, all.top, all.top + all.height() / 4);
    EXPECT_GT(low.left, all.left + all.width() / 4) << "the alef is on the right";
    EXPECT_LE(high.left, all.left + 1) << "the yod is on the left";
    // Arabic joins its letters: three behs joined are narrower than apart.
    const int joined = inkOf(text("\xD8\xA8\xD8\xA8\xD8\xA8")).width();
    const int apart = inkOf(text("\xD8\xA8 \xD8\xA8 \xD8\xA8")).width();
    EXPECT_LT(joined + 20, apart);
    for (const char *words :
         {"\xD0\x9D\xD0\x9E\xD0\xA7\xD0\xAC", "\xCE\x9D\xCE\xA5\xCE\xA7\xCE\xA4\xCE\x91",
          "\xD8\xA3\xD8\xAE\xD8\xA8\xD8\xA7\xD8\xB1"}) {
        const cli::TextPicture picture = text(words);
        EXPECT_TRUE(picture.warnings.empty()) << words << ": " << picture.warnings[0];
        EXPECT_GT(inkOf(picture).width(), 50) << words;
    }
}

TEST(TextTitle, BadTextAndFonts) {
    try {
        text("NEWS \xC3(");
        ADD_FAILURE() << "invalid UTF-8 accepted";
    } catch (const cli::UsageError &error) {
        EXPECT_NE(std::string(error.what()).find("byte 0xC3 at byte offset 5"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(text(""), cli::UsageError);
    EXPECT_THROW(text(" \n\t "), cli::UsageError);
    EXPECT_THROW(text(std::string("A\0B", 3)), cli::UsageError);
    cli::TextStyle style;
    style.font = "No Such Typeface Bold";
    const cli::TextPicture picture = text("NEWS", style);
    ASSERT_EQ(picture.warnings.size(), 1u);
    EXPECT_NE(picture.warnings[0].find("\"No Such Typeface Bold\" is not installed; using \""),
              std::string::npos)
        << picture.warnings[0];
    EXPECT_NE(picture.warnings[0].find("Bold\" instead"), std::string::npos) << picture.warnings[0];
}

TEST(TextTitle, TextFilesAndOptions) {
    Workspace ws;
    writeFile(ws.path("t.txt"), {0xEF, 0xBB, 0xBF, 'A', '\r', '\n', 'B', '\r', 'C', '\n'});
    EXPECT_EQ(cli::readTextFile(ws.path("t.txt")), "A\nB\nC");
    EXPECT_THROW(cli::readTextFile(ws.path("none.txt")), cli::Failure);
    cli::TextStyle style;
    cli::parseTextSize("90px", style);
    EXPECT_FALSE(style.sizePercent);
    cli::parseTextSize("8.5%", style);
    EXPECT_TRUE(style.sizePercent);
    EXPECT_DOUBLE_EQ(style.size, 8.5);
    EXPECT_THROW(cli::parseTextSize("0", style), cli::UsageError);
    EXPECT_THROW(cli::parseTextSize("200%", style), cli::UsageError);
    EXPECT_THROW(cli::parseTracking("wide", style), cli::UsageError);
    EXPECT_THROW(cli::parseTextAlign("justify"), cli::UsageError);
}

// Renders of typed text: the frame, fitting, and the same picture as a
// render of the text's own picture placed by hand.
TEST(TextRender, FrameSizeFitAndErrors) {
    Workspace ws;
    writeWithFfmpeg({backgroundPicture(320, 180)}, ws.path("bg.png"));
    RunResult result = ws.lustra({"render", "--text", "NEWS", "--background", "bg.png", "-o",
                                  "a.png", "--text-size", "20%"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("a.png"), "width") + "x" + probe(ws.path("a.png"), "height"),
              "320x180");
    result = ws.lustra({"render", "--text", "NEWS", "--background", "#102030", "-o", "b.png",
                        "--text-size", "40"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("1920x1080 frame"), std::string::npos) << result.err;
    EXPECT_EQ(probe(ws.path("b.png"), "width"), "1920");
    result = ws.lustra({"render", "--text", "NEWS", "--background", "#102030", "--size", "200x100",
                        "-o", "c.png", "--text-size", "40", "--anchor", "top-left"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probe(ws.path("c.png"), "width"), "200");

    result = ws.lustra({"render", "--text", "A MUCH TOO LONG HEADLINE", "--background", "bg.png",
                        "-o", "d.png", "--text-size", "50%"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("does not fit the 320x180 frame: it is "), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("px too wide"), std::string::npos) << result.err;
    EXPECT_FALSE(exists(ws.path("d.png")));
    result = ws.lustra({"render", "--text", "", "--background", "bg.png", "-o", "d.png"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("the text is empty"), std::string::npos) << result.err;
    writeFile(ws.path("latin1.txt"), {'C', 'A', 'F', 0xC9});
    result =
        ws.lustra({"render", "--text-file", "latin1.txt", "--background", "bg.png", "-o", "d.png"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("not valid UTF-8"), std::string::npos) << result.err;
    result = ws.lustra(
        {"render", "--text", "A", "--title", "t.png", "--background", "bg.png", "-o", "d.png"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("give one title"), std::string::npos) << result.err;
    result = ws.lustra({"render", "--text", "NEWS", "--font", "Nonexistent Grotesk", "--background",
                        "bg.png", "-o", "e.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("is not installed; using \"DejaVu Sans"), std::string::npos)
        << result.err;
    EXPECT_FALSE(exists(ws.path("d.png")));
}

// The README's examples of typed titles run as written, after lustra demo,
// and the first makes the README's picture.
TEST(TextRender, ReadmeExamplesRunAsWritten) {
    std::ifstream file(std::string(LUSTRA_SOURCE_DIR) + "/README.md");
    std::stringstream text;
    text << file.rdbuf();
    const std::string readme = text.str();
    const size_t section = readme.find("### Typed titles and placement");
    ASSERT_NE(section, std::string::npos);
    const size_t begin = readme.find("```sh\n", section) + 6;
    const std::string block = readme.substr(begin, readme.find("```", begin) - begin);
    std::string script = "set -e\n";
    std::istringstream lines(block);
    int commands = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == "L=./build/lustra") line = std::string("L=") + LUSTRA_PROGRAM;
        script += line + "\n";
        commands += line.rfind("$L ", 0) == 0;
    }
    EXPECT_GE(commands, 5);
    Workspace ws;
    ASSERT_EQ(ws.lustra({"demo", "-o", "lustra-demo", "--quiet"}).exitCode, 0);
    const RunResult result =
        runProgram({"/bin/bash", "-c", script}, ws.dir(), {{"VXHOME", ws.home()}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char *output :
         {"typed-title.png", "name.png", "lower-third.mp4", "arabic.png", "logo.mp4"})
        EXPECT_TRUE(exists(ws.path(output))) << output;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;
    EXPECT_EQ(probe(ws.path("lower-third.mp4"), "field_order"), "tt");
    EXPECT_EQ(
        maxDifference(decodeWithFfmpeg(ws.path("typed-title.png"), 1280, 720)[0],
                      decodeWithFfmpeg(std::string(LUSTRA_SOURCE_DIR) + "/docs/lustra-text.png",
                                       1280, 720)[0]),
        0);
}

#endif

// The composition by hand: `title` pasted at (x, y) onto black of w x h.
Picture composed(const Picture &title, int w, int h, int x0, int y0) {
    Picture canvas{w, h, 3, std::vector<uint8_t>(size_t(w) * h * 3, 0)};
    for (int y = 0; y < title.height; ++y)
        for (int x = 0; x < title.width; ++x) {
            if (x + x0 < 0 || x + x0 >= w || y + y0 < 0 || y + y0 >= h) continue;
            std::copy_n(title.at(x, y), 3, &canvas.bytes[(size_t(y + y0) * w + x + x0) * 3]);
        }
    return canvas;
}

TEST(CanvasRender, TitlePlacedOnTheBackgroundMatchesAHandComposition) {
    Workspace ws;
    const Picture title = titlePicture(64, 48), background = backgroundPicture(96, 72);
    writeWithFfmpeg({title}, ws.path("title.png"));
    writeWithFfmpeg({background}, ws.path("bg.png"));
    // Centred by default on the background's frame.
    RunResult result = ws.lustra({"render", "--title", "title.png", "--background", "bg.png", "-o",
                                  "centre.png", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(maxDifference(decodeWithFfmpeg(ws.path("centre.png"), 96, 72)[0],
                            referenceRender({composed(title, 96, 72, 16, 12)}, {background})[0]),
              0);
    // Progressive: row 11; interlaced, field by field: row 12, in its field.
    for (bool interlaced : {false, true}) {
        std::vector<std::string> arguments = {
            "render",   "--title",  "title.png",  "--background", "bg.png", "-o",     "placed.png",
            "--anchor", "top-left", "--position", "10,11",        "-y",     "--quiet"};
        if (interlaced) arguments.insert(arguments.end(), {"--field-order", "bff", "--field-wise"});
        result = ws.lustra(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ReferenceOptions options;
        options.fieldWise = interlaced;
        EXPECT_EQ(maxDifference(decodeWithFfmpeg(ws.path("placed.png"), 96, 72)[0],
                                referenceRender({composed(title, 96, 72, 10, interlaced ? 12 : 11)},
                                                {background}, options)[0]),
                  0)
            << (interlaced ? "interlaced" : "progressive");
    }
    // Cropped at the frame's edge, with a note.
    result = ws.lustra({"render", "--title", "title.png", "--background", "bg.png", "-o",
                        "crop.png", "--anchor", "bottom-right", "--position", "40,30"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("24 px on the left, 18 px on the top is cropped"), std::string::npos)
        << result.err;
    EXPECT_EQ(maxDifference(
                  decodeWithFfmpeg(ws.path("crop.png"), 96, 72)[0],
                  referenceRender({composed(title, 96, 72, 40 - 64, 30 - 48)}, {background})[0]),
              0);
}

TEST(CanvasRender, SizesAndTheOldBehaviour) {
    Workspace ws;
    const Picture title = titlePicture(64, 48);
    writeWithFfmpeg({title}, ws.path("title.png"));
    writeWithFfmpeg({backgroundPicture(64, 48)}, ws.path("same.png"));
    // Same size: an explicit centre anchor changes nothing, bit for bit.
    ASSERT_EQ(
        ws.lustra({"render", "--title", "title.png", "--background", "same.png", "-o", "a.png"})
            .exitCode,
        0);
    ASSERT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "same.png", "-o",
                         "b.png", "--anchor", "centre", "--title-scale", "100%"})
                  .exitCode,
              0);
    EXPECT_EQ(maxDifference(decodeWithFfmpeg(ws.path("a.png"), 64, 48)[0],
                            decodeWithFfmpeg(ws.path("b.png"), 64, 48)[0]),
              0);
    // A colour background takes the title's size; --size overrides, and a
    // scaled render scales the frame.
    ASSERT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "#203040", "-o", "c.png",
                         "--size", "100x60", "--scale", "1/2", "--title-scale", "0.5"})
                  .exitCode,
              0);
    EXPECT_EQ(probe(ws.path("c.png"), "width") + "x" + probe(ws.path("c.png"), "height"), "50x30");
    // --size title: the background scaled to the title, as before.
    writeWithFfmpeg({backgroundPicture(32, 24)}, ws.path("small.png"));
    const RunResult result = ws.lustra({"render", "--title", "title.png", "--background",
                                        "small.png", "--size", "title", "-o", "d.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("is scaled to the frame size 64x48"), std::string::npos);
    EXPECT_EQ(probe(ws.path("d.png"), "width"), "64");
    EXPECT_EQ(ws.lustra({"render", "--title", "title.png", "--background", "#203040", "-o", "e.png",
                         "--size", "64"})
                  .exitCode,
              2);
}

} // namespace
} // namespace lustra::clitest
