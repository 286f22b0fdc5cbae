#include "MediaOutput.h"

#include "AudioCopy.h"
#include "Errors.h"
#include "Interrupt.h"
#include "MediaCommon.h"
#include "OutputSafety.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

std::string partialName(const std::string &path) {
    const fs::path target(path);
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return (directory / ("." + target.filename().string() + ".partial-" + std::to_string(getpid())))
        .string();
}

void checkDirectory(const std::string &path) {
    const fs::path target(path);
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code error;
    if (!fs::is_directory(directory, error))
        throw Failure(path + ": cannot write: directory " + directory.string() + " does not exist");
    if (fs::is_directory(target, error)) throw Failure(path + ": cannot write: is a directory");
    if (::access(directory.c_str(), W_OK) != 0)
        throw Failure(path + ": cannot write: " + std::strerror(errno));
}

bool hasAlphaFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    return desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
}

bool isRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    return desc && ((desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->nb_components < 3 ||
                    (desc->flags & AV_PIX_FMT_FLAG_PAL));
}

bool supports(const AVCodec *codec, AVPixelFormat format) {
    if (!codec->pix_fmts) return false;
    for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

// The pixel format --pix-fmt names, when the encoder takes it.
AVPixelFormat askedPixelFormat(const AVCodec *codec, const std::string &name) {
    const AVPixelFormat format = av_get_pix_fmt(name.c_str());
    if (format == AV_PIX_FMT_NONE)
        throw UsageError("--pix-fmt " + name + ": not a pixel format FFmpeg knows");
    if (codec->pix_fmts && !supports(codec, format)) {
        std::string list;
        for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
            list += std::string(list.empty() ? "" : " ") + av_get_pix_fmt_name(*f);
        throw UsageError("--pix-fmt " + name + ": the " + codec->name + " encoder takes " + list);
    }
    return format;
}

// Rows of `width` x `elements` values grown to `toWidth` x `toHeight` by
// repeating the last column and row.
template <typename T>
std::vector<T> padPixels(const std::vector<T> &pixels, int elements, int width, int height,
                         int toWidth, int toHeight) {
    std::vector<T> out(size_t(toWidth) * toHeight * elements);
    const size_t row = size_t(width) * elements, toRow = size_t(toWidth) * elements;
    for (int y = 0; y < toHeight; ++y) {
        const T *in = pixels.data() + size_t(std::min(y, height - 1)) * row;
        T *to = out.data() + size_t(y) * toRow;
        std::copy(in, in + row, to);
        for (size_t x = row; x < toRow; x += elements)
            std::copy(in + row - elements, in + row, to + x);
    }
    return out;
}

// Host frames to an encoder's frames: the module's YCbCr to RGB conversion,
// then swscale to the encoder's pixel format, field by field for interlaced
// material with vertically subsampled chroma. The packed rows go to swscale
// a strip at a time, in order (its slice interface gives the same pixels as
// one call for the whole picture): they stay in the cache, and no
// frame-sized buffer is held.
class FrameConverter {
  public:
    FrameConverter(int width, int height, AVPixelFormat target, bool alpha, bool interlaced,
                   int matrix, bool fullRange)
        : width_(width), height_(height), alpha_(alpha) {
        const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(target);
        fields_ = interlaced && height % 2 == 0 && desc && desc->log2_chroma_h > 0 ? 2 : 1;
        const AVPixelFormat source = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
        sws_ = sws_getContext(width, height / fields_, source, width, height / fields_, target,
                              SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!sws_) throw Failure(std::string("cannot convert to ") + av_get_pix_fmt_name(target));
        sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(matrix), fullRange ? 1 : 0, 0, 1 << 16,
                                 1 << 16);
        strip_.resize(size_t(width) * kStripRows * (alpha ? 4 : 3));
    }
    ~FrameConverter() { sws_freeContext(sws_); }
    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    // A frame of at most the converter's size; a smaller one grows by its
    // last column and row, repeated after conversion (which is per pixel, so
    // the bytes are those of the grown frame converted).
    void convert(const HostFrame &frame, AVFrame *out) {
        if (frame.width > width_ || frame.height > height_ || frame.width < 1 || frame.height < 1)
            throw Failure("internal error: a frame of the wrong size");
        const ColourRows &rows = colourRows();
        const int bytes = alpha_ ? 4 : 3;
        convertRows(
            [&](int y, uint8_t *to) {
                const uint32_t *from = frame.row(std::min(y, frame.height - 1));
                if (alpha_)
                    rows.hostToRgba(from, frame.width, to);
                else
                    rows.hostToRgb(from, frame.width, to);
                for (int x = frame.width; x < width_; ++x)
                    std::memcpy(to + size_t(x) * bytes, to + size_t(frame.width - 1) * bytes,
                                size_t(bytes));
            },
            out);
    }
    // Straight RGBA rows (4 bytes a pixel, no gap) of the frame size.
    void convertRgba(const std::vector<uint8_t> &rgba, AVFrame *out) {
        if (rgba.size() != size_t(width_) * height_ * 4)
            throw Failure("internal error: an RGBA frame of the wrong size");
        if (alpha_) {
            convertPacked(rgba.data(), out);
            return;
        }
        convertRows(
            [&](int y, uint8_t *to) {
                const uint8_t *from = rgba.data() + size_t(y) * width_ * 4;
                for (int x = 0; x < width_; ++x) std::memcpy(to + 3 * x, from + 4 * x, 3);
            },
            out);
    }

  private:
    // Packed rows of the converter's size, whole frame at once.
    void convertPacked(const uint8_t *packed, AVFrame *out) {
        const int bytes = alpha_ ? 4 : 3;
        for (int field = 0; field < fields_; ++field) {
            const uint8_t *source[4] = {packed + size_t(field) * width_ * bytes, nullptr, nullptr,
                                        nullptr};
            const int sourceStride[4] = {width_ * bytes * fields_, 0, 0, 0};
            uint8_t *target[4] = {};
            int targetStride[4] = {};
            fieldPlanes(out, field, target, targetStride);
            sws_scale(sws_, source, sourceStride, 0, height_ / fields_, target, targetStride);
        }
    }
    // Packed rows made by `pack(y, to)` (row y of the frame into `to`), a
    // strip of each field at a time.
    template <typename Pack> void convertRows(Pack pack, AVFrame *out) {
        const int bytes = alpha_ ? 4 : 3;
        const size_t rowBytes = size_t(width_) * bytes;
        const int fieldRows = height_ / fields_;
        for (int field = 0; field < fields_; ++field) {
            uint8_t *target[4] = {};
            int targetStride[4] = {};
            fieldPlanes(out, field, target, targetStride);
            for (int first = 0; first < fieldRows; first += kStripRows) {
                const int count = std::min(kStripRows, fieldRows - first);
                for (int i = 0; i < count; ++i)
                    pack(field + (first + i) * fields_, strip_.data() + size_t(i) * rowBytes);
                const uint8_t *source[4] = {strip_.data(), nullptr, nullptr, nullptr};
                const int sourceStride[4] = {int(rowBytes), 0, 0, 0};
                sws_scale(sws_, source, sourceStride, first, count, target, targetStride);
            }
        }
    }
    // The planes of field `field` of `out` (the whole frame when progressive).
    void fieldPlanes(AVFrame *out, int field, uint8_t *target[4], int targetStride[4]) const {
        for (int p = 0; p < 4 && out->data[p]; ++p) {
            target[p] = out->data[p] + size_t(field) * out->linesize[p];
            targetStride[p] = out->linesize[p] * fields_;
        }
    }

    static constexpr int kStripRows = 16;
    int width_, height_;
    bool alpha_;
    int fields_ = 1;
    SwsContext *sws_ = nullptr;
    std::vector<uint8_t> strip_;
};

// The parts shared by pictures and video: an opened encoder and its frame.
struct Encoder {
    AVCodecContext *context = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    std::unique_ptr<FrameConverter> converter;
    ~Encoder() {
        converter.reset();
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

// The converters and encoder frames of prepare(), shared by the threads
// that call it: each call takes a converter of its own (a swscale context
// serves one thread at a time) and a frame, made when none is idle. A frame
// comes back after it has been sent to the encoder; one the encoder still
// holds a reference to gets new storage when it is taken again.
class ConversionPool {
  public:
    using MakeConverter = std::function<std::unique_ptr<FrameConverter>()>;
    ConversionPool(MakeConverter make, AVPixelFormat format, int width, int height)
        : make_(std::move(make)), format_(format), width_(width), height_(height) {}
    ~ConversionPool() {
        for (AVFrame *frame : frames_) av_frame_free(&frame);
    }
    ConversionPool(const ConversionPool &) = delete;
    ConversionPool &operator=(const ConversionPool &) = delete;

    std::unique_ptr<FrameConverter> takeConverter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!converters_.empty()) {
                std::unique_ptr<FrameConverter> converter = std::move(converters_.back());
                converters_.pop_back();
                return converter;
            }
        }
        return make_();
    }
    void giveBack(std::unique_ptr<FrameConverter> converter) {
        std::lock_guard<std::mutex> lock(mutex_);
        converters_.push_back(std::move(converter));
    }

    // A frame of the encoder's size and pixel format that nobody else reads.
    AVFrame *takeFrame() {
        AVFrame *frame = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!frames_.empty()) {
                frame = frames_.back();
                frames_.pop_back();
            }
        }
        if (frame && av_frame_is_writable(frame)) return frame;
        if (frame)
            av_frame_unref(frame);
        else
            frame = av_frame_alloc();
        if (!frame) throw Failure("out of memory");
        frame->format = format_;
        frame->width = width_;
        frame->height = height_;
        if (av_frame_get_buffer(frame, 0) < 0) {
            av_frame_free(&frame);
            throw Failure("out of memory");
        }
        return frame;
    }
    void giveBack(AVFrame *frame) {
        // What the last write set; the next one sets it again.
        frame->pts = AV_NOPTS_VALUE;
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
    }

  private:
    MakeConverter make_;
    AVPixelFormat format_;
    int width_, height_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<FrameConverter>> converters_;
    std::vector<AVFrame *> frames_;
};

// A frame prepare() converted, back to its pool when it goes.
class PooledFrame : public PreparedFrame {
  public:
    PooledFrame(ConversionPool &pool, AVFrame *frame) : pool_(pool), frame_(frame) {}
    ~PooledFrame() override { pool_.giveBack(frame_); }
    AVFrame *get() const { return frame_; }

  private:
    ConversionPool &pool_;
    AVFrame *frame_;
};

void applyOptions(AVCodecContext *context, const OutputParameters &params, AVDictionary **options) {
    for (const auto &[key, value] : params.codecOptions)
        av_dict_set(options, key.c_str(), value.c_str(), 0);
    (void)context;
}

// --- pictures ---------------------------------------------------------------

class PictureOutput : public MediaOutput {
  public:
    PictureOutput(const OutputParameters &params, bool sequence)
        : params_(params), sequence_(sequence) {
        checkDirectory(params.path);
        const AVOutputFormat *image2 = av_guess_format("image2", nullptr, nullptr);
        const AVCodecID id =
            av_guess_codec(image2, nullptr, params.path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
        const AVCodec *codec = params.codec.empty()
                                   ? avcodec_find_encoder(id)
                                   : avcodec_find_encoder_by_name(params.codec.c_str());
        if (!codec) throw UsageError(params.path + ": no encoder for this picture type");
        AVPixelFormat format = AV_PIX_FMT_NONE;
        const AVPixelFormat wanted = params.alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
        if (!params.pixelFormat.empty())
            format = askedPixelFormat(codec, params.pixelFormat);
        else if (supports(codec, wanted))
            format = wanted;
        else if (codec->pix_fmts)
            format =
                avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, wanted, params.alpha, nullptr);
        if (format == AV_PIX_FMT_NONE)
            throw UsageError(params.path + ": the encoder takes no usable pixel format");
        alpha_ = params.alpha && hasAlphaFormat(format);
        if (params.alpha && !alpha_)
            throw UsageError(params.path + ": " + codec->name +
                             " pictures cannot store the alpha channel that --alpha " +
                             params.alphaMode +
                             " writes; use .png, .tif or .webp, or --alpha opaque");
        e_.context = avcodec_alloc_context3(codec);
        e_.frame = av_frame_alloc();
        e_.packet = av_packet_alloc();
        if (!e_.context || !e_.frame || !e_.packet) throw Failure("out of memory");
        e_.context->width = params.width;
        e_.context->height = params.height;
        e_.context->pix_fmt = format;
        e_.context->time_base = {1, 25};
        const bool rgb = isRgbFormat(format);
        e_.context->color_range = AVCOL_RANGE_JPEG;
        e_.context->colorspace = rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT470BG;
        if (codec->id == AV_CODEC_ID_MJPEG)
            e_.context->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
        AVDictionary *options = nullptr;
        applyOptions(e_.context, params, &options);
        const int result = avcodec_open2(e_.context, codec, &options);
        av_dict_free(&options);
        if (result < 0)
            throw Failure(params.path + ": cannot open the " + codec->name +
                          " encoder: " + ffmpegError(result));
        e_.frame->format = format;
        e_.frame->width = params.width;
        e_.frame->height = params.height;
        if (av_frame_get_buffer(e_.frame, 0) < 0) throw Failure("out of memory");
        e_.converter = std::make_unique<FrameConverter>(params.width, params.height, format, alpha_,
                                                        false, SWS_CS_ITU601, true);
        codecName_ = codec->name;
        formatName_ = av_get_pix_fmt_name(format);
    }

    ~PictureOutput() override {
        if (!done_) PictureOutput::abandon();
    }

    void writeRgba(const std::vector<uint8_t> &rgba, int64_t frameNumber) override {
        rgba_ = &rgba;
        try {
            write(HostFrame(), frameNumber);
        } catch (...) {
            rgba_ = nullptr;
            throw;
        }
        rgba_ = nullptr;
    }

    void write(const HostFrame &frame, int64_t frameNumber) override {
        std::string target = params_.path;
        if (sequence_) {
            char name[4096];
            if (av_get_frame_filename2(name, sizeof name, params_.path.c_str(), int(frameNumber),
                                       0) < 0)
                throw Failure(params_.path + ": cannot number the picture " +
                              std::to_string(frameNumber));
            target = name;
        }
        if (av_frame_make_writable(e_.frame) < 0) throw Failure("out of memory");
        if (rgba_)
            e_.converter->convertRgba(*rgba_, e_.frame);
        else
            e_.converter->convert(frame, e_.frame);
        int result = avcodec_send_frame(e_.context, e_.frame);
        std::vector<uint8_t> bytes;
        while (result >= 0) {
            result = avcodec_receive_packet(e_.context, e_.packet);
            if (result < 0) break;
            bytes.insert(bytes.end(), e_.packet->data, e_.packet->data + e_.packet->size);
            av_packet_unref(e_.packet);
        }
        if (bytes.empty()) throw Failure(target + ": the encoder produced no picture");
        const std::string partial = partialName(target);
        watchTemporary(partial);
        partial_ = partial;
        // The temporary name is lustra's own: whatever stands there (a file
        // left by an earlier process of this number, a planted link) goes,
        // and the file is created afresh, never through a link.
        ::unlink(partial.c_str());
        const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        std::FILE *file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (!file) {
            const int e = errno;
            if (fd >= 0) ::close(fd);
            throw Failure(target + ": cannot write: " + std::strerror(e));
        }
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) != 0 || !ok) throw Failure(target + ": cannot write (disk full?)");
        if (sequence_) {
            if (!moveIntoPlace(partial, target, params_.replace)) created_.push_back(target);
            unwatchTemporary(partial);
            partial_.clear();
            files_.push_back(target);
        } else {
            pendingTarget_ = target;
        }
    }

    void finish() override {
        if (!partial_.empty() && !pendingTarget_.empty()) {
            moveIntoPlace(partial_, pendingTarget_, params_.replace);
            unwatchTemporary(partial_);
            files_.push_back(pendingTarget_);
            partial_.clear();
        }
        done_ = true;
    }

    void abandon() override {
        if (!partial_.empty()) {
            std::remove(partial_.c_str());
            unwatchTemporary(partial_);
        }
        partial_.clear();
        for (const std::string &file : created_) std::remove(file.c_str());
        created_.clear();
        files_.clear();
        done_ = true;
    }

    std::string describe() const override {
        return std::string(sequence_ ? "picture sequence, " : "picture, ") + codecName_ + " " +
               formatName_;
    }
    std::string note() const override { return note_; }
    std::vector<std::string> files() const override { return files_; }

  private:
    OutputParameters params_;
    bool sequence_;
    bool alpha_ = false;
    const std::vector<uint8_t> *rgba_ = nullptr; // the frame of writeRgba
    Encoder e_;
    std::string partial_, pendingTarget_;
    std::vector<std::string> files_;
    std::vector<std::string> created_; // files that did not exist before this output
    std::string codecName_, formatName_, note_;
    bool done_ = false;
};

// --- video ------------------------------------------------------------------

class VideoOutput : public MediaOutput {
  public:
    explicit VideoOutput(const OutputParameters &params) : params_(params) {
        checkDirectory(params.path);
        const AVOutputFormat *format = av_guess_format(nullptr, params.path.c_str(), nullptr);
        if (!format)
            throw UsageError(params.path +
                             ": unknown output type (use .png, .mp4, .mov, .mkv ...)");
        const std::string muxer = format->name;
        const AVCodec *codec = nullptr;
        if (!params.codec.empty()) {
            codec = avcodec_find_encoder_by_name(params.codec.c_str());
            if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
                throw UsageError("unknown video encoder \"" + params.codec + "\"");
        } else if (params.alpha && muxer == "mov") {
            codec = avcodec_find_encoder_by_name("prores_ks");
        } else if (params.alpha && muxer == "matroska") {
            codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
        } else if (avformat_query_codec(format, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1) {
            codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        }
        if (!codec) codec = avcodec_find_encoder(format->video_codec);
        if (!codec) throw Failure(params.path + ": no video encoder for the " + muxer + " format");
        if (avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 0)
            throw UsageError(std::string("the ") + codec->name + " encoder cannot be stored in " +
                             muxer);

        const bool h264 = codec->id == AV_CODEC_ID_H264;
        const bool prores = std::string(codec->name) == "prores_ks";
        AVPixelFormat pixels = AV_PIX_FMT_NONE;
        if (!params.pixelFormat.empty())
            pixels = askedPixelFormat(codec, params.pixelFormat);
        else if (h264 && supports(codec, AV_PIX_FMT_YUV420P))
            pixels = AV_PIX_FMT_YUV420P; // what every player takes; odd sizes are padded
        else if (prores)
            pixels = params.alpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV422P10LE;
        else if (codec->pix_fmts)
            pixels = avcodec_find_best_pix_fmt_of_list(
                codec->pix_fmts, params.alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24, params.alpha,
                nullptr);
        else
            pixels = AV_PIX_FMT_YUV420P;
        if (pixels == AV_PIX_FMT_NONE)
            throw UsageError(std::string("the ") + codec->name +
                             " encoder takes no usable pixel format");
        alpha_ = params.alpha && hasAlphaFormat(pixels);
        if (params.alpha && !alpha_)
            throw UsageError(params.path + ": " + codec->name + " in " + muxer +
                             " cannot store the alpha channel that --alpha " + params.alphaMode +
                             " writes; use .mov (ProRes 4444), .mkv (FFV1), an encoder with "
                             "alpha (--codec), PNG pictures, or --alpha opaque");

        // Subsampled chroma needs whole chroma samples: the frame grows by
        // its last column or row.
        const AVPixFmtDescriptor *layout = av_pix_fmt_desc_get(pixels);
        const int stepX = 1 << (layout ? layout->log2_chroma_w : 0);
        const int stepY = 1 << (layout ? layout->log2_chroma_h : 0);
        codedWidth_ = (params.width + stepX - 1) / stepX * stepX;
        codedHeight_ = (params.height + stepY - 1) / stepY * stepY;
        if (codedWidth_ != params.width || codedHeight_ != params.height)
            note_ = std::to_string(params.width) + "x" + std::to_string(params.height) +
                    " is padded to " + std::to_string(codedWidth_) + "x" +
                    std::to_string(codedHeight_) + " (last column or row repeated) for " +
                    av_get_pix_fmt_name(pixels) + "; --pix-fmt yuv444p keeps the size";

        int result = avformat_alloc_output_context2(&muxer_, format, nullptr, nullptr);
        if (result < 0 || !muxer_) throw Failure("out of memory");
        stream_ = avformat_new_stream(muxer_, nullptr);
        e_.context = avcodec_alloc_context3(codec);
        e_.packet = av_packet_alloc();
        if (!stream_ || !e_.context || !e_.packet) throw Failure("out of memory");
        AVCodecContext *c = e_.context;
        c->width = codedWidth_;
        c->height = codedHeight_;
        c->pix_fmt = pixels;
        c->time_base = av_inv_q(AVRational{params.frameRate.num, params.frameRate.den});
        c->framerate = AVRational{params.frameRate.num, params.frameRate.den};
        c->sample_aspect_ratio = AVRational{1, 1};
        c->thread_count = 0;
        const bool rgb = isRgbFormat(pixels);
        const bool hd = params.height >= 720;
        matrix_ = hd ? SWS_CS_ITU709 : SWS_CS_ITU601;
        if (rgb) {
            c->colorspace = AVCOL_SPC_RGB;
            c->color_range = AVCOL_RANGE_JPEG;
        } else {
            c->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
            c->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
            c->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
            c->color_range = AVCOL_RANGE_MPEG;
        }
        // Interlaced coding needs whole fields: an odd height is coded progressive.
        interlaced_ = params.fieldOrder != FieldOrder::Progressive && codedHeight_ % 2 == 0;
        if (interlaced_) {
            c->field_order = params.fieldOrder == FieldOrder::TopFirst ? AV_FIELD_TT : AV_FIELD_BB;
            c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        }
        if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        AVDictionary *options = nullptr;
        if (std::string(codec->name) == "libx264") {
            // Fast enough to keep up with the module at full HD on two cores.
            av_dict_set(&options, "preset", "veryfast", 0);
            av_dict_set(&options, "crf", "18", 0);
            // The frame-type decisions made in the encoding call instead of
            // a thread of their own: the same stream, byte for byte, without
            // the frames that thread keeps waiting (about 29 MiB at 1080).
            // Progressive frames are also declared constant-rate, which they
            // are (one frame per tick of the time base): the encoder then
            // holds one frame less for the last one's duration (about 6 MiB
            // at 1080); the coded frames are the same, byte for byte, and the
            // sequence header says that the frame rate is fixed. Interlaced
            // coding keeps the encoder's default, whose field timing the
            // declaration would change. An x264-params option of the user's
            // replaces both.
            av_dict_set(&options, "x264-params",
                        interlaced_ ? "sync-lookahead=0" : "sync-lookahead=0:force-cfr=1", 0);
            if (params.encoderThreads > 0)
                av_dict_set(&options, "threads", std::to_string(params.encoderThreads).c_str(), 0);
        }
        if (prores && params.alpha) av_dict_set(&options, "profile", "4444", 0);
        applyOptions(c, params, &options);
        result = avcodec_open2(c, codec, &options);
        if (result >= 0) {
            const AVDictionaryEntry *unused =
                av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
            if (unused) {
                const std::string key = unused->key;
                av_dict_free(&options);
                throw UsageError(std::string("the ") + codec->name + " encoder has no option \"" +
                                 key + "\"");
            }
        }
        av_dict_free(&options);
        if (result < 0)
            throw Failure(params.path + ": cannot open the " + codec->name +
                          " encoder: " + ffmpegError(result));
        avcodec_parameters_from_context(stream_->codecpar, c);
        stream_->time_base = c->time_base;
        stream_->avg_frame_rate = c->framerate;

        conversions_ = std::make_unique<ConversionPool>(
            [=] {
                return std::make_unique<FrameConverter>(codedWidth_, codedHeight_, pixels, alpha_,
                                                        interlaced_, matrix_, rgb);
            },
            pixels, codedWidth_, codedHeight_);
        // The first converter made here: a pixel format swscale cannot
        // write fails before anything is rendered.
        conversions_->giveBack(conversions_->takeConverter());

        if (!params.audioPath.empty())
            audio_ = std::make_unique<AudioCopy>(params.audioPath, muxer_, params.audioStart);

        partial_ = partialName(params.path);
        watchTemporary(partial_);
        ::unlink(partial_.c_str()); // lustra's own name: never written through a link
        result = avio_open(&muxer_->pb, partial_.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) {
            unwatchTemporary(partial_);
            partial_.clear();
            throw Failure(params.path + ": cannot write: " + ffmpegError(result));
        }
        result = avformat_write_header(muxer_, nullptr);
        if (result < 0) {
            // A constructor that throws runs no destructor: the temporary goes here.
            VideoOutput::abandon();
            throw Failure(params.path + ": cannot start the " + muxer +
                          " file: " + ffmpegError(result));
        }
        description_ = std::string(codec->name) + " " + av_get_pix_fmt_name(pixels) + " in " +
                       muxer +
                       (interlaced_ ? std::string(", ") + fieldOrderName(params.fieldOrder) : "") +
                       (audio_ ? ", " + audio_->describe() : "");
    }

    ~VideoOutput() override {
        if (!done_) VideoOutput::abandon();
        if (muxer_) {
            if (muxer_->pb) avio_closep(&muxer_->pb);
            avformat_free_context(muxer_);
        }
    }

    void writeRgba(const std::vector<uint8_t> &rgba, int64_t frameNumber) override {
        rgba_ = &rgba;
        try {
            write(HostFrame(), frameNumber);
        } catch (...) {
            rgba_ = nullptr;
            throw;
        }
        rgba_ = nullptr;
    }

    void write(const HostFrame &frame, int64_t frameNumber) override {
        writePrepared(rgba_ ? prepareRgba(*rgba_) : prepare(frame), frameNumber);
    }

    std::unique_ptr<PreparedFrame> prepare(const HostFrame &frame) override {
        return convertWith(
            [&](FrameConverter &converter, AVFrame *to) { converter.convert(frame, to); });
    }

    std::unique_ptr<PreparedFrame> prepareRgba(const std::vector<uint8_t> &rgba) override {
        return convertWith([&](FrameConverter &converter, AVFrame *to) {
            if (codedWidth_ != params_.width || codedHeight_ != params_.height)
                converter.convertRgba(
                    padPixels(rgba, 4, params_.width, params_.height, codedWidth_, codedHeight_),
                    to);
            else
                converter.convertRgba(rgba, to);
        });
    }

    void writePrepared(std::unique_ptr<PreparedFrame> prepared, int64_t) override {
        auto *pooled = dynamic_cast<PooledFrame *>(prepared.get());
        if (!pooled) throw Failure("internal error: a frame not prepared by this output");
        AVFrame *frame = pooled->get();
        frame->pts = pts_++;
        if (interlaced_) {
            frame->interlaced_frame = 1;
            frame->top_field_first = params_.fieldOrder == FieldOrder::TopFirst;
        }
        send(frame);
        if (audio_) audio_->writeUntil(secondsOfFrames(pts_));
    }

    void finish() override {
        send(nullptr);
        if (audio_) audio_->finish(secondsOfFrames(pts_));
        int result = av_write_trailer(muxer_);
        if (result < 0)
            throw Failure(params_.path + ": cannot complete the file: " + ffmpegError(result));
        result = avio_closep(&muxer_->pb);
        if (result < 0)
            throw Failure(params_.path + ": cannot write (disk full?): " + ffmpegError(result));
        moveIntoPlace(partial_, params_.path, params_.replace);
        unwatchTemporary(partial_);
        partial_.clear();
        files_.push_back(params_.path);
        done_ = true;
    }

    void abandon() override {
        if (muxer_ && muxer_->pb) avio_closep(&muxer_->pb);
        if (!partial_.empty()) {
            std::remove(partial_.c_str());
            unwatchTemporary(partial_);
        }
        partial_.clear();
        done_ = true;
    }

    std::string describe() const override { return description_; }
    bool encoderHoldsFrames() const override {
        return e_.context && e_.context->codec &&
               (e_.context->codec->capabilities & AV_CODEC_CAP_DELAY);
    }
    std::string note() const override { return note_; }
    std::vector<std::string> files() const override { return files_; }

  private:
    // A pooled frame filled by `convert(converter, frame)` with a pooled
    // converter; both go back to the pool whatever happens.
    template <typename Convert> std::unique_ptr<PreparedFrame> convertWith(Convert convert) {
        auto prepared = std::make_unique<PooledFrame>(*conversions_, conversions_->takeFrame());
        std::unique_ptr<FrameConverter> converter = conversions_->takeConverter();
        try {
            convert(*converter, prepared->get());
        } catch (...) {
            conversions_->giveBack(std::move(converter));
            throw;
        }
        conversions_->giveBack(std::move(converter));
        return prepared;
    }

    double secondsOfFrames(int64_t frames) const {
        return double(frames) * params_.frameRate.den / params_.frameRate.num;
    }

    void send(AVFrame *frame) {
        int result = avcodec_send_frame(e_.context, frame);
        if (result < 0) throw Failure(params_.path + ": encoding failed: " + ffmpegError(result));
        while (true) {
            result = avcodec_receive_packet(e_.context, e_.packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
            if (result < 0)
                throw Failure(params_.path + ": encoding failed: " + ffmpegError(result));
            av_packet_rescale_ts(e_.packet, e_.context->time_base, stream_->time_base);
            e_.packet->stream_index = stream_->index;
            result = av_interleaved_write_frame(muxer_, e_.packet);
            if (result < 0)
                throw Failure(params_.path + ": cannot write (disk full?): " + ffmpegError(result));
        }
    }

    OutputParameters params_;
    AVFormatContext *muxer_ = nullptr;
    AVStream *stream_ = nullptr;
    Encoder e_;
    std::unique_ptr<ConversionPool> conversions_;
    std::unique_ptr<AudioCopy> audio_;
    const std::vector<uint8_t> *rgba_ = nullptr; // the frame of writeRgba
    bool alpha_ = false, interlaced_ = false, done_ = false;
    int codedWidth_ = 0, codedHeight_ = 0; // the frame size, padded for the chroma
    int matrix_ = SWS_CS_ITU601;
    int64_t pts_ = 0;
    std::string partial_, description_, note_;
    std::vector<std::string> files_;
};

} // namespace

void MediaOutput::writePrepared(std::unique_ptr<PreparedFrame>, int64_t) {
    throw Failure("internal error: this output writes no prepared frames");
}

OutputKind classifyOutput(const std::string &path) {
    if (path.empty()) throw UsageError("the output path is empty");
    char probe[4096];
    const bool numbered = path.find('%') != std::string::npos;
    if (numbered && av_get_frame_filename2(probe, sizeof probe, path.c_str(), 1, 0) < 0)
        throw UsageError(path + ": a numbered output needs one frame-number pattern such as %04d");
    const AVOutputFormat *image2 = av_guess_format("image2", nullptr, nullptr);
    if (image2 && av_match_ext(path.c_str(), image2->extensions))
        return numbered ? OutputKind::Sequence : OutputKind::Picture;
    if (numbered)
        throw UsageError(path + ": a numbered output must be a picture type such as .png");
    const AVOutputFormat *format = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!format || format->video_codec == AV_CODEC_ID_NONE)
        throw UsageError(path +
                         ": unknown output type (use .png, out-%04d.png, .mp4, .mov or .mkv)");
    return OutputKind::Video;
}

std::unique_ptr<MediaOutput> MediaOutput::create(const OutputParameters &params) {
    configureFfmpegLogging();
    if (params.width <= 0 || params.height <= 0) throw Failure(params.path + ": empty frame size");
    switch (classifyOutput(params.path)) {
    case OutputKind::Picture:
        return std::make_unique<PictureOutput>(params, false);
    case OutputKind::Sequence:
        return std::make_unique<PictureOutput>(params, true);
    case OutputKind::Video:
        return std::make_unique<VideoOutput>(params);
    }
    return nullptr;
}

} // namespace lustra::cli
