// The inputs of a render: pictures and video read through FFmpeg, a solid
// colour, or frames the program draws itself (the demo). Every source
// delivers host frames of the project's frame size.
#pragma once

#include "Colour.h"
#include "MediaInput.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lustra::cli {

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    virtual std::string name() const = 0;
    // The source's own frame size.
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual bool hasAlpha() const { return false; }
    // One picture shown on every frame.
    virtual bool isStill() const = 0;
    // Frames of a video (-1 when unknown; 1 for a still).
    virtual int64_t frameCountHint() const = 0;
    virtual Rational frameRate() const { return {}; }
    virtual Rational sampleAspect() const { return {1, 1}; }
    virtual FieldOrder fieldOrder() const { return FieldOrder::Progressive; }
    // What the user should know about how the source is read, or "".
    virtual std::string note() const { return ""; }

    // Frames come out at this size (scaled field by field when interlaced).
    virtual void setOutputSize(int width, int height, bool interlaced) = 0;
    // The next frame; false at the end of a video.
    virtual bool next(HostFrame &frame) = 0;
    // Decodes the next frame without converting it, so that a reader can
    // decode ahead while holding only the codec's pixels; the next next()
    // converts it. Sources with nothing to decode do nothing.
    virtual void decodeAhead() {}
    // The next frame is output frame `index` although no earlier frame was
    // read (a render of stills from a later frame on); for sources whose
    // frames depend on their index.
    virtual void startAt(int64_t index) { (void)index; }
    // A still whose every frame is the same picture: that picture, converted
    // once and kept by the source, to be read in place of next()'s copies
    // (read-only; valid until setOutputSize or the source goes). Null for
    // other sources.
    virtual const HostFrame *sharedStill() { return nullptr; }
};

// A picture or video file.
std::unique_ptr<FrameSource> openMediaSource(const std::string &path);

// A solid colour of any size ("#RRGGBB").
std::unique_ptr<FrameSource> solidColourSource(uint8_t r, uint8_t g, uint8_t b, int width,
                                               int height);

// Frames drawn by a function of the frame number (RGBA, width x 4 bytes a
// row), at their own size, as a video of `frames` frames.
using FramePainter =
    std::function<void(int64_t frame, int width, int height, std::vector<uint8_t> &rgba)>;
std::unique_ptr<FrameSource> paintedSource(std::string name, int width, int height, int64_t frames,
                                           bool alpha, FramePainter painter);

// The frames of a video source at another frame rate: output frame i shows
// the source frame whose interval [j, j + 1) / source rate holds the time
// i / `rate` (frames are skipped or shown again). Frames counted from the
// start of the video; the source's own rate must be known.
std::unique_ptr<FrameSource> retimedSource(std::unique_ptr<FrameSource> source, Rational rate);

// The first frame of a picture or video file as host pixels at its own
// size (alpha as the key byte, 255 without alpha). Throws Failure.
HostFrame loadPicture(const std::string &path);

} // namespace lustra::cli
