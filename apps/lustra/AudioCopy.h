// The sound of a render: the first audio stream of an input file carried
// into the output video, from the time of the first rendered frame to the
// end of the last one. Packets are copied as they are where the output
// container takes their codec, else decoded and encoded again (AAC in MP4
// and QuickTime, Opus in Matroska and WebM, the container's usual codec
// elsewhere).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;

namespace lustra::cli {

// Whether a file has an audio stream FFmpeg can read (false for pictures,
// colours and unreadable files).
bool hasAudioStream(const std::string &path);

class AudioCopy {
  public:
    // Opens the audio of `path` and adds its stream to `muxer`, whose header
    // is not written yet. `startSeconds`: the input's time of output time 0
    // (counted from the input's start). Throws Failure.
    AudioCopy(const std::string &path, AVFormatContext *muxer, double startSeconds);
    ~AudioCopy();
    AudioCopy(const AudioCopy &) = delete;
    AudioCopy &operator=(const AudioCopy &) = delete;

    // Writes the sound up to `seconds` of output time.
    void writeUntil(double seconds);
    // Writes the rest up to `seconds` and flushes the encoder.
    void finish(double seconds);
    // "aac copied", "pcm_s16le as aac" and the like.
    std::string describe() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lustra::cli
