#include "MediaCommon.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace lustra::cli {

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int openInputFile(const std::string &path, AVFormatContext *&format, bool &opened) {
    format = nullptr;
    opened = false;
    int result = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (result < 0) return result;
    opened = true;
    result = avformat_find_stream_info(format, nullptr);
    if (result < 0) avformat_close_input(&format);
    return result < 0 ? result : 0;
}

int openDecoder(const AVStream *stream, const AVCodec *codec, int threads, bool setTimeBase,
                AVCodecContext *&context) {
    context = avcodec_alloc_context3(codec);
    if (!context) return AVERROR(ENOMEM);
    int result = avcodec_parameters_to_context(context, stream->codecpar);
    if (result >= 0) {
        if (setTimeBase) context->pkt_timebase = stream->time_base;
        context->thread_count = threads;
        result = avcodec_open2(context, codec, nullptr);
    }
    if (result < 0) avcodec_free_context(&context);
    return result < 0 ? result : 0;
}

} // namespace lustra::cli
