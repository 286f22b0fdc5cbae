// The conversions lustra render makes outside the threads that use their
// results: decoded video straight to host pixels a strip at a time, and
// rendered frames converted for the encoder by the workers ahead of the
// writer. Each must give exactly the bytes of the whole-frame path.
#include "CliTestSupport.h"
#include "Colour.h"
#include "Errors.h"
#include "FrameSources.h"
#include "MediaInput.h"
#include "MediaOutput.h"
#include "RenderPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

using namespace lustra::cli;
using namespace lustra::clitest;

namespace {

// Colourful frames with sharp chroma edges on odd rows and columns, so
// that a strip converted with chroma from its neighbour strip, or a row
// pair split between strips, shows.
std::vector<Picture> edgyFrames(int width, int height, int count) {
    std::vector<Picture> frames;
    for (int k = 0; k < count; ++k) {
        Picture picture = backgroundPicture(width, height, k);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t *p = &picture.bytes[(size_t(y) * width + x) * 3];
                if ((y + k) % 7 == 3 || (x * 3 + y) % 11 == 0) {
                    p[0] = uint8_t(255 - p[1]);
                    p[1] = uint8_t(y * 5 + k);
                    p[2] = uint8_t(x * 9);
                }
            }
        frames.push_back(picture);
    }
    return frames;
}

// Every frame of `path` through next(HostFrame) against next(rgba) and
// the RGBA conversion of the whole frame; every other frame decoded ahead
// first (twice: the second call must not skip a frame).
void expectHostFramesAsRgbaFrames(const std::string &path, int frames) {
    MediaReader straight(path), whole(path);
    HostFrame frame(1, 1, 0x12345678u), expected;
    std::vector<uint8_t> rgba;
    int count = 0;
    while (whole.next(rgba)) {
        if (count % 2 == 1) {
            straight.decodeAhead();
            straight.decodeAhead();
        }
        ASSERT_TRUE(straight.next(frame)) << "frame " << count;
        expected = HostFrame(whole.width(), whole.height());
        rgbaToHostFrame(rgba.data(), whole.width() * 4, whole.hasAlpha(), expected);
        ASSERT_EQ(frame.width, expected.width);
        ASSERT_EQ(frame.height, expected.height);
        ASSERT_TRUE(frame.pixels == expected.pixels) << "frame " << count;
        ++count;
    }
    straight.decodeAhead(); // past the end: still the end
    EXPECT_FALSE(straight.next(frame));
    EXPECT_EQ(count, frames);
}

TEST(ConversionsAhead, VideoStraightToHostPixelsMatchesTheWholeFrameConversion) {
    Workspace ws;
    // Sizes: strips of 16 rows and a short last one (38), a width that
    // leaves tails to the vector loops (70); an odd height, which is not
    // converted in strips; 4:2:0 and 4:2:2, limited and full range, the
    // HD matrix (720 rows); a format converted whole (4:4:4).
    struct Case {
        const char *name;
        int width, height;
        std::vector<std::string> encode;
    };
    const Case cases[] = {
        {"420.mkv", 70, 38, {"-c:v", "ffv1", "-pix_fmt", "yuv420p"}},
        {"422.mkv", 70, 38, {"-c:v", "ffv1", "-pix_fmt", "yuv422p"}},
        {"420-full.mkv", 64, 32, {"-c:v", "ffv1", "-pix_fmt", "yuvj420p"}},
        {"420-odd.mkv", 70, 37, {"-c:v", "ffv1", "-pix_fmt", "yuv420p", "-vf", "crop=70:37"}},
        {"444.mkv", 40, 24, {"-c:v", "ffv1", "-pix_fmt", "yuv444p"}},
        {"hd.mp4", 96, 720, {"-c:v", "libx264", "-crf", "30", "-pix_fmt", "yuv420p"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeWithFfmpeg(edgyFrames(c.width, c.height == 37 ? 38 : c.height, 3), ws.path(c.name),
                        c.encode);
        expectHostFramesAsRgbaFrames(ws.path(c.name), 3);
    }
    // A still picture through both (converted once, kept).
    writeWithFfmpeg(edgyFrames(30, 20, 1), ws.path("still.png"));
    MediaReader still(ws.path("still.png")), whole(ws.path("still.png"));
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(whole.next(rgba));
    HostFrame expected(30, 20), frame;
    rgbaToHostFrame(rgba.data(), 30 * 4, whole.hasAlpha(), expected);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(still.next(frame));
        EXPECT_TRUE(frame.pixels == expected.pixels) << k;
    }
}

// Same size and the same pixels, row by row.
bool samePixels(const HostFrame &a, const HostFrame &b) {
    if (a.width != b.width || a.height != b.height) return false;
    for (int y = 0; y < a.height; ++y)
        if (!std::equal(a.row(y), a.row(y) + a.width, b.row(y))) return false;
    return true;
}

// A still keeps only what its source made of it; asked for another size
// afterwards (or after the reader gave up its picture), the file is read
// again and gives the frames a fresh source gives.
TEST(ConversionsAhead, AStillAskedForAnotherSizeLaterIsReadAgain) {
    Workspace ws;
    writeWithFfmpeg(edgyFrames(30, 20, 1), ws.path("still.png"));
    std::unique_ptr<FrameSource> source = openMediaSource(ws.path("still.png"));
    source->setOutputSize(30, 20, false);
    const HostFrame *own = source->sharedStill();
    ASSERT_NE(own, nullptr);
    const HostFrame ownFrame = *own;
    for (int size : {0, 1, 0}) {
        SCOPED_TRACE(size);
        const int w = size ? 44 : 30, h = size ? 26 : 20;
        std::unique_ptr<FrameSource> fresh = openMediaSource(ws.path("still.png"));
        fresh->setOutputSize(w, h, false);
        HostFrame expected, frame;
        ASSERT_TRUE(fresh->next(expected));
        source->setOutputSize(w, h, false);
        ASSERT_TRUE(source->next(frame));
        ASSERT_EQ(frame.width, w);
        ASSERT_EQ(frame.height, h);
        EXPECT_TRUE(samePixels(frame, expected));
        const HostFrame *shared = source->sharedStill();
        ASSERT_NE(shared, nullptr);
        EXPECT_TRUE(samePixels(*shared, expected));
        if (!size) {
            EXPECT_TRUE(samePixels(expected, ownFrame));
        }
    }

    MediaReader reader(ws.path("still.png"));
    std::vector<uint8_t> before, after;
    ASSERT_TRUE(reader.next(before));
    reader.releasePicture();
    ASSERT_TRUE(reader.next(after));
    EXPECT_TRUE(before == after);
}

HostFrame hostFrameOf(const Picture &picture) {
    HostFrame frame(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t *p = picture.at(x, y);
            frame.row(y)[x] = rgbToHost(p[0], p[1], p[2]);
        }
    return frame;
}

// Frames converted ahead, several at once on other threads and held
// together before they are written, give the file that write() makes:
// no converted frame is handed out twice or overwritten while it waits.
TEST(ConversionsAhead, FramesPreparedOnOtherThreadsWriteTheSameVideo) {
    Workspace ws;
    // An odd size grows by its last column and row for 4:2:0.
    const int W = 45, H = 27, kFrames = 6;
    const std::vector<Picture> pictures = edgyFrames(W, H, kFrames);
    std::vector<HostFrame> frames;
    for (const Picture &picture : pictures) frames.push_back(hostFrameOf(picture));

    for (bool rgba : {false, true}) {
        SCOPED_TRACE(rgba ? "RGBA rows" : "host frames");
        const std::string tag = rgba ? "rgba" : "host";
        auto params = [&](const std::string &name) {
            OutputParameters p;
            p.path = ws.path(name);
            p.width = W;
            p.height = H;
            p.codec = "ffv1";
            p.pixelFormat = "yuv420p";
            return p;
        };
        std::vector<std::vector<uint8_t>> rgbaFrames(kFrames);
        for (int k = 0; k < kFrames; ++k) {
            rgbaFrames[k].resize(size_t(W) * H * 4);
            hostFrameToRgba(frames[k], rgbaFrames[k].data(), W * 4);
        }
        {
            std::unique_ptr<MediaOutput> direct =
                MediaOutput::create(params("direct-" + tag + ".mkv"));
            for (int k = 0; k < kFrames; ++k) {
                if (rgba)
                    direct->writeRgba(rgbaFrames[k], k);
                else
                    direct->write(frames[k], k);
            }
            direct->finish();
        }
        {
            std::unique_ptr<MediaOutput> ahead =
                MediaOutput::create(params("ahead-" + tag + ".mkv"));
            std::vector<std::unique_ptr<PreparedFrame>> prepared(kFrames);
            // Two threads convert alternate frames at once; every frame is
            // held until all are converted, then written in order.
            std::vector<std::thread> threads;
            for (int t = 0; t < 2; ++t)
                threads.emplace_back([&, t] {
                    for (int k = t; k < kFrames; k += 2)
                        prepared[k] =
                            rgba ? ahead->prepareRgba(rgbaFrames[k]) : ahead->prepare(frames[k]);
                });
            for (std::thread &thread : threads) thread.join();
            for (int k = 0; k < kFrames; ++k) {
                ASSERT_NE(prepared[k], nullptr) << k;
                ahead->writePrepared(std::move(prepared[k]), k);
            }
            // A second round takes the frames given back again.
            for (int k = 0; k < kFrames; ++k)
                ahead->writePrepared(rgba ? ahead->prepareRgba(rgbaFrames[k])
                                          : ahead->prepare(frames[k]),
                                     kFrames + k);
            ahead->finish();
        }
        const std::vector<Picture> expected =
            decodeWithFfmpeg(ws.path("direct-" + tag + ".mkv"), W + 1, H + 1);
        const std::vector<Picture> got =
            decodeWithFfmpeg(ws.path("ahead-" + tag + ".mkv"), W + 1, H + 1);
        ASSERT_EQ(expected.size(), size_t(kFrames));
        ASSERT_EQ(got.size(), size_t(2 * kFrames));
        for (int k = 0; k < 2 * kFrames; ++k)
            EXPECT_EQ(maxDifference(got[k], expected[k % kFrames]), 0) << "frame " << k;
    }

    // Pictures convert in write() only, and a frame from nowhere is refused.
    OutputParameters picture;
    picture.path = ws.path("one.png");
    picture.width = W;
    picture.height = H;
    std::unique_ptr<MediaOutput> png = MediaOutput::create(picture);
    EXPECT_EQ(png->prepare(frames[0]), nullptr);
    EXPECT_THROW(png->writePrepared(nullptr, 0), Failure);
    png->abandon();
}

} // namespace

namespace {

// What libx264 was told, from the options text it stores in the stream.
std::string x264Option(const std::string &path, const std::string &name) {
    const std::vector<uint8_t> bytes = readFile(path);
    const std::string text(bytes.begin(), bytes.end());
    const size_t at = text.find(" " + name + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 2;
    return text.substr(from, text.find(' ', from) - from);
}

// The encoder's thread count follows the machine unless the user names
// one, and the quality settings stay whatever the count.
TEST(ConversionsAhead, TheEncodersThreadsGiveWayToTheUsersOption) {
    Workspace ws;
    std::vector<Picture> frames;
    for (int k = 0; k < 3; ++k) frames.push_back(titlePicture(64, 128, k));
    writeWithFfmpeg(frames, ws.path("title.mkv"), {"-c:v", "ffv1"});
    const std::vector<std::string> render = {"render",  "--title", "title.mkv", "--background",
                                             "#203040", "-y",      "-q"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = render;
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = ws.lustra(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
    };
    with({"-o", "default.mp4"});
    with({"-o", "asked.mp4", "--codec-option", "threads=2"});
    const int threads = encoderThreads(coreCount());
    if (threads > 0) {
        EXPECT_EQ(x264Option(ws.path("default.mp4"), "threads"), std::to_string(threads));
    }
    EXPECT_EQ(x264Option(ws.path("asked.mp4"), "threads"), "2");
    for (const char *name : {"default.mp4", "asked.mp4"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(x264Option(ws.path(name), "crf"), "18.0");
        EXPECT_EQ(x264Option(ws.path(name), "subme"), "2"); // veryfast's
        EXPECT_EQ(x264Option(ws.path(name), "rc_lookahead"), "10");
    }
}

} // namespace

namespace {

// Over a still picture the reader, with nothing to decode, converts
// rendered frames for the workers: every frame still reaches the encoder
// once, in order, as a render of that frame alone writes it (one frame: no
// frame waits while the reader is idle).
TEST(ConversionsAhead, FramesTheReaderConvertsReachTheEncoderInOrder) {
    Workspace ws;
    constexpr int W = 64, H = 48, kFrames = 6;
    std::vector<Picture> titles;
    for (int k = 0; k < kFrames; ++k) titles.push_back(titlePicture(W, H, k));
    writeWithFfmpeg(titles, ws.path("title.mkv"), {"-c:v", "ffv1"});
    writeWithFfmpeg({backgroundPicture(W, H)}, ws.path("still.png"));
    auto render = [&](const std::string &output, std::vector<std::string> extra) {
        std::vector<std::string> args = {"render",    "--title", "title.mkv", "--background",
                                         "still.png", "--codec", "ffv1",      "-o",
                                         output,      "-y",      "-q"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult result = ws.lustra(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
    };
    std::vector<Picture> alone;
    for (int k = 0; k < kFrames; ++k) {
        const std::string name = "alone-" + std::to_string(k) + ".mkv";
        render(name, {"--frames", std::to_string(k) + "-" + std::to_string(k)});
        const std::vector<Picture> one = decodeWithFfmpeg(ws.path(name), W, H);
        ASSERT_EQ(one.size(), 1u) << k;
        alone.push_back(one[0]);
    }
    for (const char *jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        render("all.mkv", {"-j", jobs});
        const std::vector<Picture> all = decodeWithFfmpeg(ws.path("all.mkv"), W, H);
        ASSERT_EQ(all.size(), size_t(kFrames));
        for (int k = 0; k < kFrames; ++k) EXPECT_EQ(maxDifference(all[k], alone[k]), 0) << k;
    }
    // Frames that differ: a frame out of place would show.
    EXPECT_GT(maxDifference(alone[0], alone[kFrames - 1]), 0);
}

} // namespace
