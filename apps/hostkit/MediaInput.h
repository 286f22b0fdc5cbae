// Reading pictures and video through FFmpeg's libraries: the first video
// stream of a file, decoded frame by frame into 8-bit RGBA with the
// stream's own colour matrix and range.
#pragma once

#include "Colour.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SwsContext;

namespace lustra::cli {

enum class FieldOrder { Progressive, TopFirst, BottomFirst };
const char *fieldOrderName(FieldOrder order);

struct Rational {
    int num = 0;
    int den = 1;
    double value() const { return den ? double(num) / den : 0.0; }
};

// How much FFmpeg itself prints: quiet unless LUSTRA_FFMPEG_LOG names a
// level ("error", "warning", "info", "debug").
void configureFfmpegLogging();

class MediaReader {
  public:
    // Opens `path` and decodes its first frame. Throws Failure naming the
    // file: missing, unreadable, not media, no video stream, no frames.
    explicit MediaReader(const std::string &path);
    ~MediaReader();
    MediaReader(const MediaReader &) = delete;
    MediaReader &operator=(const MediaReader &) = delete;

    const std::string &path() const { return path_; }
    int width() const { return width_; }
    int height() const { return height_; }
    bool hasAlpha() const { return hasAlpha_; }
    Rational frameRate() const { return frameRate_; }
    Rational sampleAspect() const { return sampleAspect_; }
    // Frames the container announces, or -1.
    int64_t frameCountHint() const { return frameCountHint_; }
    // True when the file holds a single picture (shown on every frame).
    bool isStill() const { return still_; }
    // The field order the stream declares (progressive when it says nothing).
    FieldOrder fieldOrder() const { return fieldOrder_; }
    // A note on the colour matrix and range assumed for a video that does
    // not declare them, or "".
    const std::string &colourNote() const { return colourNote_; }
    // Number of packets that could not be decoded so far.
    int badPackets() const { return badPackets_; }

    // The next frame as RGBA rows of width x 4 bytes; false at the end.
    // Frames whose size differs from the first one are scaled to it.
    bool next(std::vector<uint8_t> &rgba);
    // The same frame as host pixels (what rgbaToHostFrame makes of those
    // rows, the key byte from the alpha when hasAlpha(), else 255), resized
    // to the picture's size; converted a strip at a time where that gives
    // the same bytes, so that no RGBA frame is held.
    bool next(HostFrame &frame);
    // Decodes the frame the next next() returns, if it is not decoded yet,
    // and keeps it in the codec's pixels until then (nothing for a still or
    // for the first frame, which is kept converted).
    void decodeAhead();
    // A still: the converted picture is given up (a frame's worth of RGBA)
    // by a caller that keeps what it made of it; a later next() reads the
    // file again.
    void releasePicture();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string path_;
    int width_ = 0, height_ = 0;
    bool hasAlpha_ = false;
    bool still_ = false;
    Rational frameRate_, sampleAspect_{1, 1};
    int64_t frameCountHint_ = -1;
    FieldOrder fieldOrder_ = FieldOrder::Progressive;
    int badPackets_ = 0;
    std::string colourNote_;
};

// Scales RGBA pictures; interlaced material is scaled field by field so
// that the two fields of a frame never mix.
class RgbaScaler {
  public:
    RgbaScaler(int fromWidth, int fromHeight, int toWidth, int toHeight, bool interlaced);
    ~RgbaScaler();
    RgbaScaler(const RgbaScaler &) = delete;
    RgbaScaler &operator=(const RgbaScaler &) = delete;
    void scale(const std::vector<uint8_t> &from, std::vector<uint8_t> &to);

  private:
    ::SwsContext *context_ = nullptr;
    int fromWidth_, fromHeight_, toWidth_, toHeight_;
    bool interlaced_;
};

} // namespace lustra::cli
