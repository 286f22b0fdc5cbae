// The plug-ins in the hosts people use: Debian's ffmpeg applies the filter
// and melt the filter and the mixer, on generated clips; their frames must
// equal lustra render's of the same clip and settings, and the README's
// command lines must run as they stand. These hosts are not built with
// the sanitizers, so the sanitizer build skips them.
#include "Frei0rTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace lustra::frei0rtest;
using lustra::clitest::backgroundPicture;
using lustra::clitest::decodeWithFfmpeg;
using lustra::clitest::maxDifference;
using lustra::clitest::runProgram;
using lustra::clitest::RunResult;
using lustra::clitest::titlePicture;
using lustra::clitest::Workspace;
using lustra::clitest::writeWithFfmpeg;

namespace {

constexpr int kWidth = 160, kHeight = 90, kFrames = 3;

// The README's section on the plug-ins.
std::string readmeSection() {
    std::ifstream file(LUSTRA_README);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const size_t begin = all.find("## frei0r plug-ins");
    const size_t end = all.find("\n## ", begin + 1);
    if (begin == std::string::npos) throw std::runtime_error("README: no frei0r section");
    return all.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The blocks of one kind (```sh, ```xml) in the README's section.
std::vector<std::string> readmeBlocks(const std::string &kind) {
    const std::string section = readmeSection();
    std::vector<std::string> blocks;
    const std::string open = "```" + kind + "\n";
    for (size_t at = section.find(open); at != std::string::npos; at = section.find(open, at + 1)) {
        const size_t begin = at + open.size();
        blocks.push_back(section.substr(begin, section.find("```", begin) - begin));
    }
    return blocks;
}

// The README's command lines starting with `program`, continuations joined.
std::vector<std::string> readmeCommands(const std::string &program) {
    std::vector<std::string> commands;
    for (const std::string &block : readmeBlocks("sh")) {
        std::istringstream lines(block);
        std::string line, command;
        while (std::getline(lines, line)) {
            command += line;
            if (!command.empty() && command.back() == '\\') {
                command.pop_back();
                continue;
            }
            if (command.rfind(program + " ", 0) == 0) commands.push_back(command);
            command.clear();
        }
    }
    return commands;
}

// The lines of `text` that start with "lustrafex:".
std::string pluginLines(const std::string &text) {
    std::istringstream lines(text);
    std::string line, found;
    while (std::getline(lines, line))
        if (line.rfind("lustrafex:", 0) == 0) found += line + "\n";
    return found;
}

class Frei0rHosts : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef LUSTRA_SANITIZE
        GTEST_SKIP() << "ffmpeg and melt are not instrumented: they cannot load the sanitized "
                        "plug-ins (the in-process tests cover them)";
#endif
        std::vector<Picture> titles;
        for (int k = 0; k < kFrames; ++k) titles.push_back(titlePicture(kWidth, kHeight, 2 * k));
        // Lossless RGB: ffmpeg, melt and lustra decode it to the same pixels.
        writeWithFfmpeg(titles, workspace.path("title.mkv"), {"-c:v", "ffv1", "-pix_fmt", "bgr0"});
        writeWithFfmpeg({backgroundPicture(kWidth, kHeight)}, workspace.path("background.png"));
    }

    RunResult host(const std::vector<std::string> &command) {
        return runProgram(command, workspace.dir(), environment());
    }
    std::map<std::string, std::string> environment() const {
        return {{"FREI0R_PATH", std::string(LUSTRA_PLUGIN_DIR) + ":/usr/lib/frei0r-1"},
                {"VXHOME", ""}};
    }
    RunResult shell(const std::string &line) {
        return runProgram({"/bin/sh", "-c", line}, workspace.dir(), environment());
    }

    // Runs melt writing <name>-NNNN.png. Under load melt now and then exits
    // with status 0 before its consumer wrote a single frame (the plug-in is
    // never called then); such a run is repeated, at most three times in all.
    RunResult melt(const std::vector<std::string> &command, const std::string &name) {
        RunResult result;
        for (int attempt = 0; attempt < 3; ++attempt) {
            result = host(command);
            if (result.exitCode != 0 || pngsNamed(name) > 0) break;
        }
        return result;
    }
    int pngsNamed(const std::string &name) const {
        int count = 0;
        for (const auto &entry : std::filesystem::directory_iterator(workspace.dir())) {
            const std::string file = entry.path().filename().string();
            if (file.rfind(name + "-", 0) == 0 && file.size() > 4 &&
                file.compare(file.size() - 4, 4, ".png") == 0)
                ++count;
        }
        return count;
    }

    std::vector<Picture> lustraRender(const std::vector<std::string> &options,
                                      const std::string &title = "title.mkv", int width = kWidth,
                                      int height = kHeight) {
        std::filesystem::remove_all(workspace.path("ref"));
        std::filesystem::create_directory(workspace.path("ref"));
        std::vector<std::string> arguments = {"render",           "--title", title, "-o",
                                              "ref/ref-%04d.png", "--quiet", "-y"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult result = workspace.lustra(arguments);
        if (result.exitCode != 0) throw std::runtime_error("lustra render: " + result.err);
        return decodeWithFfmpeg(workspace.path("ref/ref-%04d.png"), width, height);
    }

    Workspace workspace;
};

} // namespace

TEST_F(Frei0rHosts, FfmpegFilterEqualsLustraRender) {
    ASSERT_EQ(
        workspace.lustra({"settings", "set", "look.prf", "glowOn=on", "fill1Mode=metal"}).exitCode,
        0);
    const auto expected = lustraRender({"--background", "background.png", "--settings", "look.prf",
                                        "--set", "bevelWidth=15", "--set", "shadowOn=off"});
    const RunResult result =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-nostats", "-loglevel", "info", "-i", "title.mkv", "-vf",
              "frei0r=filter_name=lustrafex:filter_params=background.png|look.prf|shadowOn=off|0.5",
              "out-%04d.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("lustrafex:"), std::string::npos) << result.err;
    // Reading the background picture leaves ffmpeg's own log level alone:
    // its summary at the end still shows.
    EXPECT_NE(result.err.find("video:"), std::string::npos) << result.err;
    const auto frames = decodeWithFfmpeg(workspace.path("out-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    ASSERT_EQ(expected.size(), size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], expected[k]), 0) << k;
}

TEST_F(Frei0rHosts, FfmpegReportsBadParametersAndKeepsGoing) {
    const auto expected = lustraRender({"--background", "#000000"});
    const RunResult result =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", "title.mkv", "-vf",
              "frei0r=lustrafex:#zz|missing.prf||3", "out-%04d.png"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("lustrafex: settings=missing.prf: no such settings file"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("lustrafex: bevelWidth=3 is outside 0..1; using 1"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("lustrafex: background=#zz"), std::string::npos) << result.err;
    const auto frames = decodeWithFfmpeg(workspace.path("out-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    // Defaults over black, but with bevelWidth at the top of its range.
    const auto wide = lustraRender({"--background", "#000000", "--set", "bevelWidth=30"});
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], wide[k]), 0) << k;
    EXPECT_GT(maxDifference(frames[0], expected[0]), 0);
}

std::vector<std::string> meltOutput(const std::string &name) {
    return {"-consumer", "avformat:" + name + "-%04d.png", "vcodec=png",
            "width=" + std::to_string(kWidth), "height=" + std::to_string(kHeight), "progressive=1",
            // Without frame dropping: a loaded machine must still get every frame.
            "real_time=-1"};
}

TEST_F(Frei0rHosts, MeltMixerTakesSetOnTheCommandLineAndInXml) {
    if (std::string(LUSTRA_MELT_TOOL).empty()) GTEST_SKIP() << "melt is not installed";
    const auto expected = lustraRender({"--background", "background.png", "--set", "glowOn=on",
                                        "--set", "fill1Mode=metal", "--set", "bevelWidth=12"});
    const std::string last = "out=" + std::to_string(kFrames - 1);
    std::vector<std::string> command = {LUSTRA_MELT_TOOL,
                                        "-silent",
                                        "-profile",
                                        "square_pal",
                                        "background.png",
                                        last,
                                        "-track",
                                        "title.mkv",
                                        last,
                                        "-transition",
                                        "frei0r.lustrafex_mixer",
                                        "a_track=0",
                                        "b_track=1",
                                        "threads=1",
                                        "set=glowOn:on fill1Mode:metal",
                                        "bevelWidth=0.4"};
    for (const std::string &word : meltOutput("melt")) command.push_back(word);
    const RunResult line = melt(command, "melt");
    ASSERT_EQ(line.exitCode, 0) << line.err;
    EXPECT_EQ(pluginLines(line.err), "");
    const auto frames = decodeWithFfmpeg(workspace.path("melt-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(frames[k], expected[k]), 0) << k;

    // The same in an MLT XML file, the fields separated by ';'.
    std::ofstream(workspace.path("look.mlt"))
        << "<mlt><producer id=\"bg\" out=\"" << kFrames - 1
        << "\"><property name=\"resource\">background.png</property></producer>"
           "<producer id=\"title\" out=\""
        << kFrames - 1
        << "\"><property name=\"resource\">title.mkv</property></producer>"
           "<tractor><multitrack><track producer=\"bg\"/><track producer=\"title\"/></multitrack>"
           "<transition mlt_service=\"frei0r.lustrafex_mixer\"><property "
           "name=\"a_track\">0</property><property name=\"b_track\">1</property><property "
           "name=\"threads\">1</property><property "
           "name=\"set\">glowOn:on;fill1Mode:metal;bevelWidth:12</property></transition>"
           "</tractor></mlt>";
    command = {LUSTRA_MELT_TOOL, "-silent", "-profile", "square_pal", "look.mlt"};
    for (const std::string &word : meltOutput("xml")) command.push_back(word);
    const RunResult xml = melt(command, "xml");
    ASSERT_EQ(xml.exitCode, 0) << xml.err;
    EXPECT_EQ(pluginLines(xml.err), "");
    const auto fromXml = decodeWithFfmpeg(workspace.path("xml-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(fromXml.size(), size_t(kFrames));
    for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(fromXml[k], expected[k]), 0) << k;
}

TEST_F(Frei0rHosts, FfmpegEffectAlphaLaidOverAPictureByOverlayMatchesTheRenderOverIt) {
    // A title with alpha as titles come: opaque where it shows.
    std::vector<Picture> titles;
    for (int k = 0; k < kFrames; ++k) {
        Picture title = titlePicture(kWidth, kHeight, 2 * k, true);
        for (size_t i = 0; i < title.bytes.size(); i += 4) title.bytes[i + 3] = title.bytes[i];
        titles.push_back(title);
    }
    writeWithFfmpeg(titles, workspace.path("title.mov"), {"-c:v", "png", "-pix_fmt", "rgba"});
    const RunResult effect =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", "title.mov", "-vf",
              "frei0r=filter_name=lustrafex:filter_params=#000000||glowOn=on alpha=effect", "-c:v",
              "png", "-pix_fmt", "rgba", "effect.mov"});
    ASSERT_EQ(effect.exitCode, 0) << effect.err;
    EXPECT_EQ(pluginLines(effect.err), "");
    // Grey: the module's own pixels change colours a little even where
    // nothing covers them (up to 7 levels on this test's coloured ramp),
    // which no alpha can carry.
    writeWithFfmpeg({solid(kWidth, kHeight, 0x70, 0x70, 0x70)}, workspace.path("grey.png"));
    const RunResult laid = host({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-loop", "1", "-i",
                                 "grey.png", "-i", "effect.mov", "-filter_complex",
                                 "[0][1]overlay=format=rgb:shortest=1", "laid-%04d.png"});
    ASSERT_EQ(laid.exitCode, 0) << laid.err;
    const auto frames = decodeWithFfmpeg(workspace.path("laid-%04d.png"), kWidth, kHeight);
    const auto direct =
        lustraRender({"--background", "grey.png", "--set", "glowOn=on"}, "title.mov");
    ASSERT_EQ(frames.size(), size_t(kFrames));
    ASSERT_EQ(direct.size(), size_t(kFrames));
    int worst = 0;
    double mean = 0;
    for (int k = 0; k < kFrames; ++k) {
        worst = std::max(worst, maxDifference(frames[k], direct[k]));
        mean += lustra::clitest::meanDifference(frames[k], direct[k]) / kFrames;
    }
    RecordProperty("largestDifference", worst);
    RecordProperty("meanDifferenceTimes1000", int(mean * 1000));
    // Most of the mean is the grey itself: 112 comes out 110 in lustra
    // render where nothing covers it, and stays 112 under the overlay.
    EXPECT_LE(worst, 4);
    EXPECT_LT(mean, 2.0);
}

TEST_F(Frei0rHosts, MeltStripsPassTheInputThroughWithOneLine) {
    if (std::string(LUSTRA_MELT_TOOL).empty()) GTEST_SKIP() << "melt is not installed";
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "MLT cuts frames into strips only with two or more cores";
    const Picture background = backgroundPicture(kWidth, kHeight);
    const Picture title0 = titlePicture(kWidth, kHeight, 0);
    const std::string last = "out=" + std::to_string(kFrames - 1);
    for (const std::string threads : {"0", "2"}) {
        // The mixer: the background passes through.
        std::vector<std::string> command = {LUSTRA_MELT_TOOL,
                                            "-silent",
                                            "-profile",
                                            "square_pal",
                                            "background.png",
                                            last,
                                            "-track",
                                            "title.mkv",
                                            last,
                                            "-transition",
                                            "frei0r.lustrafex_mixer",
                                            "a_track=0",
                                            "b_track=1",
                                            "threads=" + threads};
        for (const std::string &word : meltOutput("mix" + threads)) command.push_back(word);
        const RunResult mixed = melt(command, "mix" + threads);
        ASSERT_EQ(mixed.exitCode, 0) << mixed.err;
        EXPECT_EQ(pluginLines(mixed.err),
                  "lustrafex: MLT hands over each frame in strips of 160x45 (threads=0 or above "
                  "1), which would cut the relief and squash the background into every strip: "
                  "frames pass through unchanged; set threads=1 on the LustraFex filter or "
                  "transition\n");
        const auto frames =
            decodeWithFfmpeg(workspace.path("mix" + threads + "-%04d.png"), kWidth, kHeight);
        ASSERT_EQ(frames.size(), size_t(kFrames));
        for (int k = 0; k < kFrames; ++k)
            EXPECT_EQ(maxDifference(frames[k], background), 0) << threads << " " << k;

        // The filter with a picture background: the title passes through.
        command = {LUSTRA_MELT_TOOL,
                   "-silent",
                   "-profile",
                   "square_pal",
                   "title.mkv",
                   "-filter",
                   "frei0r.lustrafex",
                   "threads=" + threads,
                   "background=background.png"};
        for (const std::string &word : meltOutput("filter" + threads)) command.push_back(word);
        const RunResult filtered = melt(command, "filter" + threads);
        ASSERT_EQ(filtered.exitCode, 0) << filtered.err;
        EXPECT_NE(pluginLines(filtered.err).find("frames pass through unchanged"),
                  std::string::npos)
            << filtered.err;
        const auto titles =
            decodeWithFfmpeg(workspace.path("filter" + threads + "-%04d.png"), kWidth, kHeight);
        ASSERT_EQ(titles.size(), size_t(kFrames));
        EXPECT_EQ(maxDifference(titles[0], title0), 0) << threads;
    }
}

TEST_F(Frei0rHosts, MeltKeyframesAnimateTheLightAndTheBevel) {
    if (std::string(LUSTRA_MELT_TOOL).empty()) GTEST_SKIP() << "melt is not installed";
    std::vector<std::string> command = {LUSTRA_MELT_TOOL,
                                        "-silent",
                                        "-profile",
                                        "square_pal",
                                        "title.mkv",
                                        "-filter",
                                        "frei0r.lustrafex",
                                        "threads=1",
                                        "background=#203040",
                                        "lightX=0=0.2;2=0.8",
                                        "bevelWidth=0=0.2;2=0.6"};
    for (const std::string &word : meltOutput("keys")) command.push_back(word);
    const RunResult result = melt(command, "keys");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(pluginLines(result.err), "");
    const auto frames = decodeWithFfmpeg(workspace.path("keys-%04d.png"), kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    // lightX 0.2, 0.5, 0.8 is offsetX -120, 0, 120; bevelWidth 0.2, 0.4, 0.6 is 6, 12, 18.
    for (int k = 0; k < kFrames; ++k) {
        const auto expected = lustraRender({"--background", "#203040", "--set",
                                            "offsetX=" + std::to_string(-120 + 120 * k), "--set",
                                            "bevelWidth=" + std::to_string(6 + 6 * k)});
        EXPECT_EQ(maxDifference(frames[k], expected[k]), 0) << k;
        if (k > 0) {
            EXPECT_GT(maxDifference(frames[k], frames[k - 1]), 0) << k;
        }
    }
}

TEST_F(Frei0rHosts, TheReadmeLinesRunInFfmpegAndMelt) {
    if (std::string(LUSTRA_MELT_TOOL).empty()) GTEST_SKIP() << "melt is not installed";
    std::vector<Picture> titles;
    for (int k = 0; k < kFrames; ++k) titles.push_back(titlePicture(kWidth, kHeight, 2 * k, true));
    writeWithFfmpeg(titles, workspace.path("title.mov"), {"-c:v", "png", "-pix_fmt", "rgba"});
    writeWithFfmpeg(std::vector<Picture>(kFrames, backgroundPicture(kWidth, kHeight)),
                    workspace.path("background.mp4"), {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    ASSERT_EQ(workspace.lustra({"settings", "set", "my.prf", "glowOn=on"}).exitCode, 0);
    const std::vector<std::string> xml = readmeBlocks("xml");
    ASSERT_EQ(xml.size(), 1u);
    std::ofstream(workspace.path("look.mlt")) << xml[0];
    std::vector<std::string> lines = readmeCommands("ffmpeg");
    const std::vector<std::string> melts = readmeCommands("melt");
    ASSERT_GE(lines.size(), 4u);
    ASSERT_GE(melts.size(), 3u);
    lines.insert(lines.end(), melts.begin(), melts.end());
    // What the README offers instead of a mixer in ffmpeg.
    for (const std::string &line : readmeCommands("lustra"))
        if (line.find("--background background.mp4") != std::string::npos)
            lines.push_back(std::string(LUSTRA_PROGRAM) + line.substr(6));
    int ran = 0;
    for (const std::string &line : lines) {
        // The padding line is for a 1279-pixel title; another test runs it.
        if (line.find("pad=") != std::string::npos) continue;
        for (const char *output : {"out.mp4", "out.mkv"})
            std::filesystem::remove(workspace.path(output));
        const RunResult result = shell(line);
        EXPECT_EQ(result.exitCode, 0) << line << "\n" << result.err;
        EXPECT_EQ(pluginLines(result.err), "") << line;
        EXPECT_GT(std::filesystem::file_size(workspace.path("out.mp4")), 0u) << line;
        ++ran;
    }
    EXPECT_GE(ran, 7);
}

TEST_F(Frei0rHosts, FfmpegWidthsOffSixteenWarnAndTheReadmePaddingRendersThePaddedFrame) {
    constexpr int width = 1279, height = 719, padded = 1280;
    std::vector<Picture> titles;
    for (int k = 0; k < 2; ++k) titles.push_back(titlePicture(width, height, 8 * k, true));
    writeWithFfmpeg(titles, workspace.path("title.mov"), {"-c:v", "png", "-pix_fmt", "rgba"});
    std::string chain;
    for (const std::string &line : readmeCommands("ffmpeg"))
        if (line.find("pad=") != std::string::npos) chain = line;
    ASSERT_NE(chain, "") << "README: no ffmpeg line with the padding";

    // As handed over: sheared, with the warning that says what to add.
    const RunResult plain = host({LUSTRA_FFMPEG_TOOL, "-y", "-nostats", "-i", "title.mov", "-vf",
                                  "frei0r=lustrafex:#203040", "-c:v", "ffv1", "plain.mkv"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(pluginLines(plain.err).find("lustrafex: ffmpeg hands frames 1279 pixels wide to "
                                          "frei0r plug-ins with padded rows"),
              std::string::npos)
        << plain.err;
    EXPECT_NE(plain.err.find("format=rgba,pad=1280:ih:0:0:black@0,frei0r=...,crop=1279:ih:0:0"),
              std::string::npos)
        << plain.err;
    const auto direct = lustraRender({"--background", "#203040"}, "title.mov", width, height);
    const auto sheared = decodeWithFfmpeg(workspace.path("plain.mkv"), width, height);
    ASSERT_EQ(sheared.size(), 2u);
    EXPECT_GT(maxDifference(sheared[0], direct[0]), 100);

    // The README's padding: the padded frame rendered, cropped.
    const RunResult result = shell(chain);
    ASSERT_EQ(result.exitCode, 0) << chain << "\n" << result.err;
    EXPECT_EQ(pluginLines(result.err), "");
    const auto frames = decodeWithFfmpeg(workspace.path("out.mkv"), width, height);
    ASSERT_EQ(frames.size(), 2u);
    const RunResult pad =
        host({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", "title.mov", "-vf",
              "format=rgba,pad=1280:ih:0:0:black@0", "-c:v", "png", "padded.mov"});
    ASSERT_EQ(pad.exitCode, 0) << pad.err;
    const auto rendered = lustraRender({"--background", "#203040"}, "padded.mov", padded, height);
    ASSERT_EQ(rendered.size(), 2u);
    int fromUnpadded = 0;
    for (size_t k = 0; k < 2; ++k) {
        Picture cropped{width, height, rendered[k].channels, {}};
        for (int y = 0; y < height; ++y) {
            const uint8_t *row = rendered[k].at(0, y);
            cropped.bytes.insert(cropped.bytes.end(), row, row + width * rendered[k].channels);
        }
        EXPECT_EQ(maxDifference(frames[k], cropped), 0) << k;
        fromUnpadded = std::max(fromUnpadded, maxDifference(frames[k], direct[k]));
    }
    // The module's textures follow the frame width: a few levels apart.
    RecordProperty("differenceFromTheUnpaddedRender", fromUnpadded);
    EXPECT_LE(fromUnpadded, 8);

    const RunResult wider =
        host({LUSTRA_FFMPEG_TOOL, "-loglevel", "error", "-f", "lavfi", "-i",
              "color=s=1288x16:d=0.04", "-vf", "frei0r=lustrafex", "-f", "null", "-"});
    EXPECT_NE(wider.err.find("ffmpeg hands frames 1288 pixels wide"), std::string::npos)
        << wider.err;
}
