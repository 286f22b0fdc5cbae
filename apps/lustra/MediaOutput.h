// Writing the rendered frames through FFmpeg's libraries: one picture, a
// numbered picture sequence, or a video. Every file is written under a
// temporary name in its directory and moved into place only when complete.
#pragma once

#include "Colour.h"
#include "MediaInput.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lustra::cli {

enum class OutputKind { Picture, Sequence, Video };

// What an output path asks for, from its extension and a "%d"-style frame
// number pattern. Throws UsageError for paths lustra cannot write.
OutputKind classifyOutput(const std::string &path);

struct OutputParameters {
    std::string path;
    int width = 0;
    int height = 0;
    Rational frameRate{25, 1};
    // Write an alpha channel; a format that cannot hold one is a usage
    // error that names `alphaMode` (the --alpha value asked for).
    bool alpha = false;
    std::string alphaMode;
    FieldOrder fieldOrder = FieldOrder::Progressive;
    // The sound of a video: the audio of this file ("" = none) from
    // `audioStart` seconds of it on.
    std::string audioPath;
    double audioStart = 0;
    std::string codec;       // encoder name; empty: the format's usual one
    std::string pixelFormat; // FFmpeg pixel format name; empty: the encoder's usual one
    std::vector<std::pair<std::string, std::string>> codecOptions;
    // libx264's threads (0: its own choice); a "threads" codec option of
    // the user's replaces it.
    int encoderThreads = 0;
    // Whether a finished file may replace an existing one (the user said
    // so); without, a file that exists by then is kept and the write fails.
    bool replace = true;
};

// A frame already converted to the encoder's pixels (see
// MediaOutput::prepare); it gives its storage back to the output when it
// goes, so it must not outlive the output.
class PreparedFrame {
  public:
    virtual ~PreparedFrame() = default;
};

class MediaOutput {
  public:
    // Opens the output (the temporary file of a video at once, so that an
    // unwritable path fails before rendering). Throws UsageError or Failure.
    static std::unique_ptr<MediaOutput> create(const OutputParameters &params);
    virtual ~MediaOutput() = default;
    // Writes one frame; `frameNumber` names the picture of a sequence.
    virtual void write(const HostFrame &frame, int64_t frameNumber) = 0;
    // The same for a frame of straight RGBA rows (4 bytes a pixel, no gap).
    virtual void writeRgba(const std::vector<uint8_t> &rgba, int64_t frameNumber) = 0;
    // The conversion to the encoder's pixels on its own, for a frame
    // written later through writePrepared(): any thread may call it, several
    // at once, so that the thread that writes only encodes. The converted
    // frame takes less memory than the host frame (a third at 4:2:0). Null
    // when this output converts in write() only (pictures).
    virtual std::unique_ptr<PreparedFrame> prepare(const HostFrame &) { return nullptr; }
    virtual std::unique_ptr<PreparedFrame> prepareRgba(const std::vector<uint8_t> &) {
        return nullptr;
    }
    // Writes a frame that prepare() or prepareRgba() of this output made,
    // exactly as write() or writeRgba() would have written the frame.
    virtual void writePrepared(std::unique_ptr<PreparedFrame> frame, int64_t frameNumber);
    // Completes the output and moves it into place.
    virtual void finish() = 0;
    // Removes the temporary file and every file this output created; files
    // that existed before it (replaced with -y) stay.
    virtual void abandon() = 0;
    // Whether the encoder keeps frames of its own ahead of the stream (a
    // lookahead, as libx264's): then it sets the pace of a render and holds
    // most of its memory.
    virtual bool encoderHoldsFrames() const { return false; }
    // "H.264 (libx264, yuv420p) in mp4" and the like.
    virtual std::string describe() const = 0;
    // A note for the user (e.g. that the alpha channel cannot be stored), or "".
    virtual std::string note() const { return ""; }
    // The files written so far (moved into place).
    virtual std::vector<std::string> files() const = 0;
};

} // namespace lustra::cli
