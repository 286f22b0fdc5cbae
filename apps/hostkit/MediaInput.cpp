#include "MediaInput.h"

#include "Errors.h"
#include "MediaCommon.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace lustra::cli {
namespace {

// Full-range equivalents of the deprecated "J" formats, with the range.
AVPixelFormat plainFormat(AVPixelFormat format, bool &fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

// The YCbCr matrix of a frame for swscale; untagged material is taken
// as BT.601 below 720 lines and BT.709 from 720 lines on.
int swsMatrix(AVColorSpace space, int height) {
    switch (space) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

FieldOrder fromFfmpeg(AVFieldOrder order) {
    switch (order) {
    case AV_FIELD_TT:
    case AV_FIELD_BT:
        return FieldOrder::TopFirst; // displayed order: top field first
    case AV_FIELD_BB:
    case AV_FIELD_TB:
        return FieldOrder::BottomFirst;
    default:
        return FieldOrder::Progressive;
    }
}

// The frame size a PNG file's header declares, or false.
bool pngHeaderSize(const std::string &path, int64_t &width, int64_t &height) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    uint8_t header[24] = {};
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!read || std::memcmp(header, signature, 8) != 0 || std::memcmp(header + 12, "IHDR", 4))
        return false;
    auto big32 = [&](int at) {
        return int64_t(header[at]) << 24 | int64_t(header[at + 1]) << 16 |
               int64_t(header[at + 2]) << 8 | int64_t(header[at + 3]);
    };
    width = big32(16);
    height = big32(20);
    return true;
}

// Why a file that FFmpeg opened gives no frame.
std::string whyNoFrame(const std::string &path, const AVStream *stream) {
    std::error_code error;
    if (std::filesystem::file_size(path, error) == 0 && !error) return "the file is empty";
    int64_t width = stream->codecpar->width, height = stream->codecpar->height;
    if (width <= 0 || height <= 0) pngHeaderSize(path, width, height);
    if (width > 0 && height > 0 &&
        (width > 32767 || height > 32767 ||
         av_image_check_size(unsigned(width), unsigned(height), 0, nullptr) < 0))
        return "the picture is too large: " + std::to_string(width) + "x" + std::to_string(height) +
               " (FFmpeg decodes up to about 268 million pixels, the module handles up to "
               "32767x32766)";
    const char *codec = avcodec_get_name(stream->codecpar->codec_id);
    return std::string("not a picture or video FFmpeg can read (no ") + codec +
           " frame could be decoded from it)";
}

} // namespace

const char *fieldOrderName(FieldOrder order) {
    switch (order) {
    case FieldOrder::Progressive:
        return "progressive";
    case FieldOrder::TopFirst:
        return "top field first";
    case FieldOrder::BottomFirst:
        return "bottom field first";
    }
    return "";
}

void configureFfmpegLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        int level = AV_LOG_QUIET;
        if (const char *wanted = std::getenv("LUSTRA_FFMPEG_LOG")) {
            const std::string name = wanted;
            if (name == "error") level = AV_LOG_ERROR;
            if (name == "warning") level = AV_LOG_WARNING;
            if (name == "info") level = AV_LOG_INFO;
            if (name == "debug") level = AV_LOG_DEBUG;
        }
        av_log_set_level(level);
    });
}

struct MediaReader::Impl {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    SwsContext *sws = nullptr;
    int stream = -1;
    bool draining = false;
    bool finished = false;
    bool havePending = false;   // `frame` holds a decoded frame not yet handed out
    std::vector<uint8_t> first; // the first frame of a still, converted once
    bool firstHandedOut = false;
    // Key of the swscale context.
    int swsWidth = 0, swsHeight = 0, swsFormat = -1, swsMatrixKey = -1, swsRange = -1;
    // Straight to host pixels: contexts for a strip of kStripRows rows and
    // for the last, shorter strip, their key, and the strip's RGBA rows.
    static constexpr int kStripRows = 16;
    SwsContext *stripSws[2] = {nullptr, nullptr};
    int stripRows[2] = {0, 0};
    int stripWidth = 0, stripFormat = -1, stripMatrixKey = -1, stripRange = -1;
    std::vector<uint8_t> strip;
    std::vector<uint8_t> rgba; // a frame that cannot go in strips

    ~Impl() {
        sws_freeContext(stripSws[0]);
        sws_freeContext(stripSws[1]);
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    // Decodes the next frame into `frame`. False at the end of the stream.
    bool decode(const std::string &path, int &badPackets) {
        while (!finished) {
            int result = avcodec_receive_frame(codec, frame);
            if (result == 0) return true;
            if (result == AVERROR_EOF) {
                finished = true;
                break;
            }
            if (result != AVERROR(EAGAIN)) {
                // A frame the decoder could not rebuild: skip it.
                ++badPackets;
                if (badPackets > 1000) throw Failure(path + ": too many undecodable frames");
                continue;
            }
            if (draining) {
                finished = true;
                break;
            }
            result = av_read_frame(format, packet);
            if (result == AVERROR_EOF || (result < 0 && avio_feof(format->pb))) {
                draining = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (result < 0) throw Failure(path + ": read error: " + ffmpegError(result));
            if (packet->stream_index == stream) {
                result = avcodec_send_packet(codec, packet);
                if (result < 0 && result != AVERROR(EAGAIN)) ++badPackets;
            }
            av_packet_unref(packet);
        }
        return false;
    }

    void convert(const std::string &path, int width, int height, std::vector<uint8_t> &rgba) {
        bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat format = plainFormat(AVPixelFormat(frame->format), fullRange);
        const int matrix = swsMatrix(frame->colorspace, frame->height);
        if (!sws || swsWidth != frame->width || swsHeight != frame->height || swsFormat != format ||
            swsMatrixKey != matrix || swsRange != int(fullRange)) {
            sws_freeContext(sws);
            sws = sws_getContext(frame->width, frame->height, format, width, height,
                                 AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (!sws)
                throw Failure(path + ": cannot convert pixel format " +
                              (av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "?"));
            // Source: the stream's matrix and range; destination: full-range RGB.
            const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
            const bool isYuv =
                desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
            sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), isYuv ? fullRange : 1,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            swsWidth = frame->width;
            swsHeight = frame->height;
            swsFormat = format;
            swsMatrixKey = matrix;
            swsRange = int(fullRange);
        }
        rgba.resize(size_t(width) * size_t(height) * 4);
        uint8_t *planes[4] = {rgba.data(), nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
    }

    // Whether the decoded frame converts a strip at a time with the bytes
    // of convert(): swscale turns planar 4:2:0 and 4:2:2 of the picture's
    // own size into RGB a pair of rows at a time, each pair from its own
    // chroma row(s), so a strip of an even number of rows converted as a
    // picture of its own gives the rows of the whole picture converted.
    bool convertsInStrips(int width, int height) const {
        bool fullRange = false;
        const AVPixelFormat format = plainFormat(AVPixelFormat(frame->format), fullRange);
        return frame->width == width && frame->height == height && height % 2 == 0 &&
               (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P);
    }

    // The decoded frame straight to host pixels, a strip of rows at a time
    // through a strip-sized RGBA buffer (no frame-sized one), as convert()
    // and rgbaToHostFrame() make them; only where convertsInStrips().
    void convertToHost(const std::string &path, bool useAlpha, HostFrame &out) {
        bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat format = plainFormat(AVPixelFormat(frame->format), fullRange);
        const int matrix = swsMatrix(frame->colorspace, frame->height);
        const int lastRows = frame->height % kStripRows;
        if (stripWidth != frame->width || stripFormat != format || stripMatrixKey != matrix ||
            stripRange != int(fullRange) || stripRows[1] != lastRows) {
            for (SwsContext *&context : stripSws) {
                sws_freeContext(context);
                context = nullptr;
            }
            stripRows[0] = kStripRows;
            stripRows[1] = lastRows;
            for (int i = 0; i < 2; ++i) {
                if (stripRows[i] == 0) continue;
                stripSws[i] =
                    sws_getContext(frame->width, stripRows[i], format, frame->width, stripRows[i],
                                   AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
                if (!stripSws[i])
                    throw Failure(
                        path + ": cannot convert pixel format " +
                        (av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "?"));
                sws_setColorspaceDetails(stripSws[i], sws_getCoefficients(matrix), fullRange,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                         1 << 16);
            }
            stripWidth = frame->width;
            stripFormat = format;
            stripMatrixKey = matrix;
            stripRange = int(fullRange);
        }
        const int chromaShift = format == AV_PIX_FMT_YUV420P ? 1 : 0;
        const int rowBytes = frame->width * 4;
        strip.resize(size_t(rowBytes) * kStripRows);
        const ColourRows &rows = colourRows();
        for (int first = 0; first < frame->height; first += kStripRows) {
            const int count = std::min(kStripRows, frame->height - first);
            SwsContext *context = stripSws[count == kStripRows ? 0 : 1];
            const uint8_t *source[4] = {
                frame->data[0] + size_t(first) * frame->linesize[0],
                frame->data[1] + size_t(first >> chromaShift) * frame->linesize[1],
                frame->data[2] + size_t(first >> chromaShift) * frame->linesize[2], nullptr};
            const int sourceStride[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2],
                                         0};
            uint8_t *target[4] = {strip.data(), nullptr, nullptr, nullptr};
            const int targetStride[4] = {rowBytes, 0, 0, 0};
            sws_scale(context, source, sourceStride, 0, count, target, targetStride);
            for (int i = 0; i < count; ++i)
                rows.rgbaToHost(strip.data() + size_t(i) * rowBytes, frame->width, useAlpha,
                                out.row(first + i));
        }
    }
};

MediaReader::MediaReader(const std::string &path) : impl_(std::make_unique<Impl>()), path_(path) {
    configureFfmpegLogging();
    std::error_code error;
    if (!std::filesystem::exists(path, error) && path.find('%') == std::string::npos)
        throw Failure(path + ": no such file");
    if (std::filesystem::is_directory(path, error)) throw Failure(path + ": is a directory");
    Impl &m = *impl_;
    bool opened = false;
    int result = openInputFile(path, m.format, opened);
    if (result < 0 && !opened)
        throw Failure(path + ": cannot open as a picture or video: " + ffmpegError(result));
    if (result < 0) throw Failure(path + ": cannot read the media: " + ffmpegError(result));
    const AVCodec *decoder = nullptr;
    m.stream = av_find_best_stream(m.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (m.stream < 0 || !decoder) throw Failure(path + ": no picture or video stream");
    AVStream *stream = m.format->streams[m.stream];
    m.packet = av_packet_alloc();
    m.frame = av_frame_alloc();
    if (!m.packet || !m.frame) throw Failure(path + ": out of memory");
    // One decoding thread: a render decodes in a thread of its own, next to
    // the module and the encoder, so that more threads would only wait for a
    // core; each one also holds frames of its own (about 20 MiB at 1080).
    result = openDecoder(stream, decoder, 1, false, m.codec);
    if (result < 0)
        throw Failure(path + ": cannot decode " + decoder->name + ": " + ffmpegError(result));

    if (!m.decode(path, badPackets_)) throw Failure(path + ": " + whyNoFrame(path, stream));
    m.havePending = true;
    width_ = m.frame->width;
    height_ = m.frame->height;
    bool fullRange = false;
    const AVPixelFormat format = plainFormat(AVPixelFormat(m.frame->format), fullRange);
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    hasAlpha_ = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
    const AVRational rate = av_guess_frame_rate(m.format, stream, nullptr);
    frameRate_ = {rate.num, rate.den};
    AVRational aspect = av_guess_sample_aspect_ratio(m.format, stream, m.frame);
    if (aspect.num > 0 && aspect.den > 0) sampleAspect_ = {aspect.num, aspect.den};
    if (stream->nb_frames > 0)
        frameCountHint_ = stream->nb_frames;
    else if (stream->duration > 0 && rate.num > 0)
        frameCountHint_ = av_rescale_q(stream->duration, stream->time_base, av_inv_q(rate));
    else if (m.format->duration > 0 && rate.num > 0)
        frameCountHint_ = av_rescale_q(m.format->duration, AV_TIME_BASE_Q, av_inv_q(rate));
    fieldOrder_ = fromFfmpeg(m.codec->field_order);
    if (fieldOrder_ == FieldOrder::Progressive && m.frame->interlaced_frame)
        fieldOrder_ = m.frame->top_field_first ? FieldOrder::TopFirst : FieldOrder::BottomFirst;

    const AVColorSpace space = m.frame->colorspace;
    const AVColorRange range = m.frame->color_range;
    const bool yuv = desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;

    // A single picture: convert it once and show it on every frame.
    m.convert(path_, width_, height_, m.first);
    m.havePending = false;
    if (!m.decode(path, badPackets_)) {
        still_ = true;
        frameCountHint_ = 1;
    } else {
        m.havePending = true;
    }
    if (!still_ && yuv && space == AVCOL_SPC_UNSPECIFIED) {
        const bool full = range == AVCOL_RANGE_JPEG || fullRange;
        colourNote_ = path + " does not say its colour matrix: taken as " +
                      (height_ >= 720 ? "BT.709 (720 lines or more)" : "BT.601 (below 720 lines)") +
                      ", " +
                      (full                        ? "full range (as tagged)"
                       : range == AVCOL_RANGE_MPEG ? "limited range (as tagged)"
                                                   : "limited range (untagged)");
    }
    if (width_ > 32767 || height_ > 32767)
        throw Failure(path + ": " + std::to_string(width_) + "x" + std::to_string(height_) +
                      " is larger than the 32767 x 32767 the module handles");
    if (still_) {
        // Nothing more is decoded: the picture, its decoder and the
        // converter that made the RGBA rows go (a frame's worth each).
        sws_freeContext(m.sws);
        m.sws = nullptr;
        av_frame_free(&m.frame);
        av_packet_free(&m.packet);
        avcodec_free_context(&m.codec);
        avformat_close_input(&m.format);
    }
}

MediaReader::~MediaReader() = default;

void MediaReader::releasePicture() {
    if (still_) std::vector<uint8_t>().swap(impl_->first);
}

namespace {
// A still whose picture was given up: read again.
void reloadPicture(const std::string &path, int width, int height, std::vector<uint8_t> &first) {
    MediaReader again(path);
    if (!again.isStill() || again.width() != width || again.height() != height)
        throw Failure(path + ": the picture changed while it was being read");
    again.next(first);
}
} // namespace

bool MediaReader::next(std::vector<uint8_t> &rgba) {
    Impl &m = *impl_;
    if (still_) {
        if (m.first.empty()) reloadPicture(path_, width_, height_, m.first);
        rgba = m.first;
        return true;
    }
    if (!m.firstHandedOut) {
        // A video shows its first frame once: handed over, not copied.
        m.firstHandedOut = true;
        rgba.swap(m.first);
        std::vector<uint8_t>().swap(m.first);
        return true;
    }
    if (!m.havePending && !m.decode(path_, badPackets_)) return false;
    m.havePending = false;
    m.convert(path_, width_, height_, rgba);
    return true;
}

void MediaReader::decodeAhead() {
    Impl &m = *impl_;
    if (still_ || !m.firstHandedOut || m.havePending) return;
    m.havePending = m.decode(path_, badPackets_);
}

bool MediaReader::next(HostFrame &frame) {
    Impl &m = *impl_;
    if (frame.width != width_ || frame.height != height_) frame = HostFrame(width_, height_);
    if (still_) {
        // The picture kept converted, read where it is kept.
        if (m.first.empty()) reloadPicture(path_, width_, height_, m.first);
        rgbaToHostFrame(m.first.data(), width_ * 4, hasAlpha_, frame);
        return true;
    }
    if (!m.firstHandedOut) {
        // The first frame of a video.
        if (!next(m.rgba)) return false;
        rgbaToHostFrame(m.rgba.data(), width_ * 4, hasAlpha_, frame);
        std::vector<uint8_t>().swap(m.rgba);
        return true;
    }
    if (!m.havePending && !m.decode(path_, badPackets_)) return false;
    m.havePending = false;
    if (m.convertsInStrips(width_, height_)) {
        m.convertToHost(path_, hasAlpha_, frame);
    } else {
        m.convert(path_, width_, height_, m.rgba);
        rgbaToHostFrame(m.rgba.data(), width_ * 4, hasAlpha_, frame);
    }
    return true;
}

RgbaScaler::RgbaScaler(int fromWidth, int fromHeight, int toWidth, int toHeight, bool interlaced)
    : fromWidth_(fromWidth), fromHeight_(fromHeight), toWidth_(toWidth), toHeight_(toHeight),
      interlaced_(interlaced && fromHeight % 2 == 0 && toHeight % 2 == 0) {
    const int divisor = interlaced_ ? 2 : 1;
    context_ = sws_getContext(fromWidth, fromHeight / divisor, AV_PIX_FMT_RGBA, toWidth,
                              toHeight / divisor, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND,
                              nullptr, nullptr, nullptr);
    if (!context_)
        throw Failure("cannot scale pictures to " + std::to_string(toWidth) + "x" +
                      std::to_string(toHeight));
}

RgbaScaler::~RgbaScaler() {
    sws_freeContext(context_);
}

void RgbaScaler::scale(const std::vector<uint8_t> &from, std::vector<uint8_t> &to) {
    to.resize(size_t(toWidth_) * size_t(toHeight_) * 4);
    const int fields = interlaced_ ? 2 : 1;
    for (int field = 0; field < fields; ++field) {
        const uint8_t *source[4] = {from.data() + size_t(field) * fromWidth_ * 4, nullptr, nullptr,
                                    nullptr};
        const int sourceStride[4] = {fromWidth_ * 4 * fields, 0, 0, 0};
        uint8_t *target[4] = {to.data() + size_t(field) * toWidth_ * 4, nullptr, nullptr, nullptr};
        const int targetStride[4] = {toWidth_ * 4 * fields, 0, 0, 0};
        sws_scale(context_, source, sourceStride, 0, fromHeight_ / fields, target, targetStride);
    }
}

} // namespace lustra::cli
