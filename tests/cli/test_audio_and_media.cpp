// lustra render with real material made by ffmpeg: sound carried from an
// input into the output, pixel formats and odd frame sizes of the output,
// what lustra says about inputs it cannot read or has to guess about.
#include "CliTestSupport.h"

#include "PngWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace lustra::clitest;

namespace {

constexpr int W = 64, H = 48;

// Seconds of sound in a file, from its decoded samples.
double audioSeconds(const Workspace &ws, const std::string &file) {
    const std::string raw = ws.path(file + ".pcm");
    const RunResult result = runProgram({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", file,
                                         "-vn", "-ac", "1", "-ar", "48000", "-f", "s16le", raw},
                                        ws.dir(), {});
    const double seconds = result.exitCode == 0 ? double(readFile(raw).size()) / 96000.0 : -1;
    std::remove(raw.c_str());
    return seconds;
}

std::string probeAudio(const Workspace &ws, const std::string &file, const std::string &entry) {
    const RunResult result =
        runProgram({LUSTRA_FFPROBE_TOOL, "-v", "error", "-select_streams", "a:0", "-show_entries",
                    "stream=" + entry, "-of", "default=nw=1:nk=1", file},
                   ws.dir(), {});
    std::string text = result.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// The loudest sample of a file's sound in dB (volumedetect).
double maxVolume(const Workspace &ws, const std::string &file) {
    const RunResult result = runProgram({LUSTRA_FFMPEG_TOOL, "-hide_banner", "-i", file, "-vn",
                                         "-af", "volumedetect", "-f", "null", "-"},
                                        ws.dir(), {});
    const size_t at = result.err.find("max_volume: ");
    if (at == std::string::npos) return 1000;
    return std::atof(result.err.c_str() + at + 12);
}

class Sound : public ::testing::Test {
  protected:
    void SetUp() override {
        // Two seconds at 25p: silence for the first second, a tone after.
        std::vector<Picture> frames;
        for (int k = 0; k < 50; ++k) frames.push_back(backgroundPicture(W, H, k % 20));
        writeWithFfmpeg(
            frames, ws.path("background.mov"),
            {"-map", "0:v", "-map", "1:a", "-c:v", "qtrle", "-c:a", "pcm_s16le"}, 25,
            {"-f", "lavfi", "-i", "aevalsrc=if(gte(t\\,1)\\,0.5*sin(2*PI*440*t)\\,0):s=48000:d=2"});
        writeWithFfmpeg({titlePicture(W, H)}, ws.path("title.png"));
    }
    RunResult render(std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", "--title", "title.png", "--background",
                                         "background.mov"};
        args.insert(args.end(), extra.begin(), extra.end());
        return ws.lustra(args);
    }
    Workspace ws;
};

TEST_F(Sound, TheBackgroundsAudioIsCopiedOrEncodedAndTrimmedToTheFrames) {
    ASSERT_EQ(probeAudio(ws, "background.mov", "codec_name"), "pcm_s16le");
    // QuickTime takes PCM as it is.
    RunResult result = render({"-o", "whole.mov", "--codec", "qtrle"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("pcm_s16le audio copied"), std::string::npos) << result.err;
    EXPECT_EQ(probeAudio(ws, "whole.mov", "codec_name"), "pcm_s16le");
    EXPECT_NEAR(audioSeconds(ws, "whole.mov"), 2.0, 0.01);

    // MP4 does not: AAC, and only the first second (silent).
    result = render({"-o", "first.mp4", "--frames", "0-24", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probeAudio(ws, "first.mp4", "codec_name"), "aac");
    EXPECT_NEAR(audioSeconds(ws, "first.mp4"), 1.0, 0.03);
    EXPECT_LT(maxVolume(ws, "first.mp4"), -40.0);

    // WebM: Opus, the second second (the tone).
    result = render({"-o", "second.webm", "--frames", "25-49", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probeAudio(ws, "second.webm", "codec_name"), "opus");
    EXPECT_GT(maxVolume(ws, "second.webm"), -12.0);
    EXPECT_NEAR(audioSeconds(ws, "second.webm"), 1.0, 0.03);
    EXPECT_EQ(probe(ws.path("second.webm"), "nb_read_frames"), "25");

    // AAC from an MP4 into Matroska is copied.
    result = ws.lustra(
        {"render", "--title", "title.png", "--background", "first.mp4", "-o", "again.mkv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("aac audio copied"), std::string::npos) << result.err;
    EXPECT_EQ(probeAudio(ws, "again.mkv", "codec_name"), "aac");
}

TEST_F(Sound, AudioChoices) {
    RunResult result = render({"-o", "silent.mp4", "--audio", "none", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(probeAudio(ws, "silent.mp4", "codec_name"), "");
    struct Case {
        std::vector<std::string> arguments;
        const char *message;
    } cases[] = {
        {{"-o", "out.mp4", "--audio", "title"}, "title.png has no audio stream"},
        {{"-o", "out.png", "--frames", "0-0", "--audio", "background"}, "holds no sound"},
        {{"-o", "out.mp4", "--audio", "music"}, "is not background, title or none"},
    };
    for (const Case &c : cases) {
        result = render(c.arguments);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    // A picture output without --audio simply has no sound.
    result = render({"-o", "still.png", "--frames", "3-3", "--quiet"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // The title's sound when asked for.
    result = ws.lustra({"render", "--title", "background.mov", "--background", "#203040", "-o",
                        "own.mkv", "--audio", "title", "--frames", "0-9", "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NEAR(audioSeconds(ws, "own.mkv"), 0.4, 0.03);
}

TEST(InputProblems, UnreadableAndTooLargePicturesSayWhatIsWrong) {
    Workspace ws;
    writeFile(ws.path("notes.png"), std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o', '\n'}));
    // A PNG whose header declares 20000 x 20000 pixels.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char *type, std::vector<uint8_t> data) {
        lustra::tools::png_detail::putBig32(png, uint32_t(data.size()));
        std::vector<uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        png.insert(png.end(), body.begin(), body.end());
        lustra::tools::png_detail::putBig32(
            png, lustra::tools::png_detail::crc32(body.data(), body.size()));
    };
    chunk("IHDR", {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20, 8, 2, 0, 0, 0});
    chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    chunk("IEND", {});
    writeFile(ws.path("huge.png"), png);
    for (const auto &[file, message] :
         {std::pair<std::string, std::string>{"notes.png", "notes.png: not a picture or video "
                                                           "FFmpeg can read"},
          {"huge.png", "huge.png: the picture is too large: 20000x20000"}}) {
        const RunResult result =
            ws.lustra({"render", "--title", file, "--background", "#000000", "-o", "out.png"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("empty file"), std::string::npos) << result.err;
    }
}

TEST(InputProblems, UntaggedHdVideoGetsANoteOnTheAssumedMatrixAndRange) {
    Workspace ws;
    const std::vector<Picture> frames = {backgroundPicture(1280, 720),
                                         backgroundPicture(1280, 720, 1)};
    writeWithFfmpeg(frames, ws.path("untagged.mp4"), {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    writeWithFfmpeg(
        frames, ws.path("tagged.mp4"),
        {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_range", "tv"});
    RunResult result = ws.lustra({"render", "--title", "untagged.mp4", "--background", "#000000",
                                  "-o", "out.png", "--frames", "0-0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("note: untagged.mp4 does not say its colour matrix: taken as BT.709 "
                              "(720 lines or more), limited range"),
              std::string::npos)
        << result.err;
    result = ws.lustra({"render", "--title", "tagged.mp4", "--background", "#000000", "-o",
                        "out2.png", "--frames", "0-0"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("colour matrix"), std::string::npos) << result.err;
}

TEST(OutputFormats, OddSizesArePaddedForYuv420pAndOtherFormatsOnRequest) {
    Workspace ws;
    constexpr int OW = 63, OH = 47;
    const Picture title = titlePicture(OW, OH), background = backgroundPicture(OW, OH);
    writeWithFfmpeg({title}, ws.path("title.png"));
    writeWithFfmpeg({background}, ws.path("background.png"));
    const Picture expected = referenceRender({title}, {background})[0];
    RunResult result = ws.lustra({"render", "--title", "title.png", "--background",
                                  "background.png", "-o", "odd.mp4", "--frames", "0-1"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("63x47 is padded to 64x48"), std::string::npos) << result.err;
    EXPECT_EQ(probe(ws.path("odd.mp4"), "pix_fmt"), "yuv420p");
    EXPECT_EQ(probe(ws.path("odd.mp4"), "profile"), "High");
    EXPECT_EQ(probe(ws.path("odd.mp4"), "width"), "64");
    const Picture padded = decodeWithFfmpeg(ws.path("odd.mp4"), 64, 48).at(0);
    Picture cropped{OW, OH, 3, {}};
    for (int y = 0; y < OH; ++y)
        cropped.bytes.insert(cropped.bytes.end(), padded.at(0, y), padded.at(0, y) + 3 * OW);
    EXPECT_LT(meanDifference(cropped, expected), 10.0);

    struct Case {
        std::vector<std::string> arguments;
        const char *pixFmt, *profile, *width;
    } cases[] = {
        {{"-o", "full.mp4", "--pix-fmt", "yuv444p"}, "yuv444p", "High 4:4:4 Predictive", "63"},
        {{"-o", "ten.mp4", "--pix-fmt", "yuv420p10le"}, "yuv420p10le", "High 10", "64"},
        {{"-o", "422.mp4", "--pix-fmt", "yuv422p"}, "yuv422p", "High 4:2:2", "64"},
        {{"-o", "hq.mov", "--codec", "prores_ks", "--pix-fmt", "yuv422p10le", "--codec-option",
          "profile=hq"},
         "yuv422p10le",
         "HQ",
         "64"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"render",         "--title",  "title.png", "--background",
                                         "background.png", "--frames", "0-1",       "--quiet"};
        args.insert(args.end(), c.arguments.begin(), c.arguments.end());
        result = ws.lustra(args);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string file = ws.path(c.arguments[1]);
        EXPECT_EQ(probe(file, "pix_fmt"), c.pixFmt);
        EXPECT_EQ(probe(file, "profile"), c.profile);
        EXPECT_EQ(probe(file, "width"), c.width);
    }
    result = ws.lustra({"render", "--title", "title.png", "--background", "background.png", "-o",
                        "rgb.mp4", "--pix-fmt", "rgb24"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("the libx264 encoder takes yuv420p"), std::string::npos)
        << result.err;
}

// The header line of `file`'s video stream that the trace_headers filter
// prints for `field`, e.g. "fixed_frame_rate_flag 1"; the coded frames'
// checksums in `frames`.
std::string headerField(const Workspace &ws, const std::string &file, const std::string &field,
                        std::string &frames) {
    const RunResult trace =
        runProgram({LUSTRA_FFMPEG_TOOL, "-hide_banner", "-i", file, "-map", "0:v", "-c", "copy",
                    "-bsf:v", "trace_headers", "-f", "null", "-"},
                   ws.dir(), {});
    const RunResult sums = runProgram({LUSTRA_FFMPEG_TOOL, "-v", "error", "-i", file, "-map", "0:v",
                                       "-c", "copy", "-f", "framemd5", "-"},
                                      ws.dir(), {});
    frames.clear();
    size_t line = 0;
    while (line < sums.out.size()) {
        size_t end = sums.out.find('\n', line);
        if (end == std::string::npos) end = sums.out.size();
        if (sums.out[line] != '#') frames += sums.out.substr(line, end - line + 1);
        line = end + 1;
    }
    const size_t at = trace.err.find(field);
    if (at == std::string::npos) return "missing";
    const size_t end = trace.err.find('\n', at);
    std::string text = trace.err.substr(at, end - at);
    // "fixed_frame_rate_flag                         1 = 1": the value last.
    return field + " " + text.substr(text.find_last_of(' ') + 1);
}

// Progressive H.264 is declared constant-rate, which spares the encoder a
// frame; the coded frames stay those of the encoder's own default.
// Interlaced coding keeps that default.
TEST(OutputFormats, ProgressiveH264DeclaresItsFixedRateWithTheSameCodedFrames) {
    Workspace ws;
    std::vector<Picture> titles;
    for (int k = 0; k < 12; ++k) titles.push_back(titlePicture(W, H, k));
    writeWithFfmpeg(titles, ws.path("title.mkv"), {"-c:v", "ffv1"});
    writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("background.png"));
    for (const char *order : {"progressive", "tff"}) {
        SCOPED_TRACE(order);
        const std::string name = order;
        auto render = [&](const std::string &out, std::vector<std::string> extra) {
            std::vector<std::string> args = {
                "render", "--title", "title.mkv", "--background", "background.png", "--field-order",
                order,    "-o",      out,         "--quiet"};
            args.insert(args.end(), extra.begin(), extra.end());
            const RunResult result = ws.lustra(args);
            ASSERT_EQ(result.exitCode, 0) << result.err;
        };
        render(name + "-default.mp4", {});
        render(name + "-encoder.mp4", {"--codec-option", "x264-params=sync-lookahead=0"});
        std::string ours, theirs;
        const std::string flag =
            headerField(ws, ws.path(name + "-default.mp4"), "fixed_frame_rate_flag", ours);
        const std::string encoderFlag =
            headerField(ws, ws.path(name + "-encoder.mp4"), "fixed_frame_rate_flag", theirs);
        EXPECT_FALSE(ours.empty());
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(encoderFlag, "fixed_frame_rate_flag 0");
        EXPECT_EQ(flag, name == "tff" ? "fixed_frame_rate_flag 0" : "fixed_frame_rate_flag 1");
    }
}

} // namespace
