// The FFmpeg set-up that reading video, copying audio and writing media
// share: error text, opening an input file and opening a decoder.
#pragma once

#include <string>

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVStream;

namespace lustra::cli {

// What an FFmpeg error code means, in FFmpeg's words.
std::string ffmpegError(int code);

// Opens `path` and reads the parameters of its streams into `format`.
// Returns 0, or the FFmpeg error; `opened` tells whether the file opened (the
// error then came from reading its streams). On an error `format` is null.
int openInputFile(const std::string &path, AVFormatContext *&format, bool &opened);

// A decoder for `stream` with `threads` threads (0: FFmpeg's choice) into
// `context`, opened; `setTimeBase` gives it the stream's time base for the
// packets. Returns 0, or the FFmpeg error (the context is then freed).
int openDecoder(const AVStream *stream, const AVCodec *codec, int threads, bool setTimeBase,
                AVCodecContext *&context);

} // namespace lustra::cli
