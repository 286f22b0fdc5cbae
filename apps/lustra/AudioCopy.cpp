#include "AudioCopy.h"

#include "Errors.h"
#include "MediaCommon.h"
#include "MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace lustra::cli {
namespace {

// The encoder for a container that cannot take the input's codec.
const AVCodec *audioEncoderFor(const AVOutputFormat *format) {
    const std::string name = format->name;
    const AVCodec *codec = nullptr;
    if (name == "mp4" || name == "mov" || name == "ipod" || name == "3gp")
        codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    else if (name == "webm" || name == "matroska")
        codec = avcodec_find_encoder_by_name("libopus");
    if (!codec && format->audio_codec != AV_CODEC_ID_NONE)
        codec = avcodec_find_encoder(format->audio_codec);
    return codec;
}

bool supportsLayout(const AVCodec *codec, const AVChannelLayout &layout) {
    if (!codec->ch_layouts) return true;
    for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l)
        if (av_channel_layout_compare(l, &layout) == 0) return true;
    return false;
}

int pickSampleRate(const AVCodec *codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int *rate = codec->supported_samplerates; *rate; ++rate) {
        if (*rate == wanted) return wanted;
        if (*rate == 48000 || best == 0) best = *rate;
    }
    return best;
}

} // namespace

bool hasAudioStream(const std::string &path) {
    configureFfmpegLogging();
    AVFormatContext *format = nullptr;
    bool opened = false;
    if (openInputFile(path, format, opened) < 0) return false;
    const bool found = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
    avformat_close_input(&format);
    return found;
}

struct AudioCopy::Impl {
    std::string path;
    AVFormatContext *input = nullptr;
    AVFormatContext *muxer = nullptr;
    AVStream *in = nullptr, *out = nullptr;
    AVPacket *packet = nullptr;
    bool pending = false; // `packet` holds a packet read but not yet written
    bool inputEnded = false;
    int64_t origin = 0; // input time (stream time base) of output time 0

    // Encoding only.
    bool copy = true;
    AVCodecContext *decoder = nullptr, *encoder = nullptr;
    SwrContext *resampler = nullptr;
    AVAudioFifo *fifo = nullptr;
    AVFrame *decoded = nullptr, *chunk = nullptr;
    bool firstFrame = true;
    int64_t samplesQueued = 0;  // samples put into the fifo (output rate)
    int64_t samplesEncoded = 0; // samples handed to the encoder
    int64_t skipSamples_ = 0;   // samples before output time 0 still to drop
    std::string description;

    ~Impl() {
        av_frame_free(&chunk);
        av_frame_free(&decoded);
        if (fifo) av_audio_fifo_free(fifo);
        swr_free(&resampler);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        av_packet_free(&packet);
        avformat_close_input(&input);
    }

    // The next packet of the audio stream into `packet`; false at the end.
    bool read() {
        if (pending) {
            pending = false;
            return true;
        }
        while (!inputEnded) {
            const int result = av_read_frame(input, packet);
            if (result < 0) {
                inputEnded = true;
                break;
            }
            if (packet->stream_index == in->index) return true;
            av_packet_unref(packet);
        }
        return false;
    }

    double secondsOf(int64_t time) const { return double(time - origin) * av_q2d(in->time_base); }

    void writePacket(AVPacket *p, AVRational from) {
        av_packet_rescale_ts(p, from, out->time_base);
        p->stream_index = out->index;
        const int result = av_interleaved_write_frame(muxer, p);
        if (result < 0)
            throw Failure("cannot write the audio (disk full?): " + ffmpegError(result));
    }

    void copyUntil(double seconds) {
        while (read()) {
            const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (time == AV_NOPTS_VALUE) {
                av_packet_unref(packet);
                continue;
            }
            const double start = secondsOf(time);
            if (start >= seconds - 1e-9) {
                pending = true; // belongs after this point
                return;
            }
            if (start < -1e-6) { // before the first rendered frame
                av_packet_unref(packet);
                continue;
            }
            if (packet->pts != AV_NOPTS_VALUE) packet->pts -= origin;
            if (packet->dts != AV_NOPTS_VALUE) packet->dts -= origin;
            packet->pos = -1;
            writePacket(packet, in->time_base);
        }
    }

    void drainEncoder() {
        AVPacket *encodedPacket = av_packet_alloc();
        if (!encodedPacket) throw Failure("out of memory");
        while (avcodec_receive_packet(encoder, encodedPacket) == 0) {
            try {
                writePacket(encodedPacket, encoder->time_base);
            } catch (...) {
                av_packet_free(&encodedPacket);
                throw;
            }
        }
        av_packet_free(&encodedPacket);
    }

    void encodeChunk(int samples) {
        av_frame_unref(chunk);
        chunk->nb_samples = samples;
        chunk->format = encoder->sample_fmt;
        chunk->sample_rate = encoder->sample_rate;
        if (av_channel_layout_copy(&chunk->ch_layout, &encoder->ch_layout) < 0 ||
            av_frame_get_buffer(chunk, 0) < 0)
            throw Failure("out of memory");
        if (av_audio_fifo_read(fifo, reinterpret_cast<void **>(chunk->data), samples) < samples)
            throw Failure("audio: internal buffer error");
        chunk->pts = samplesEncoded;
        samplesEncoded += samples;
        const int result = avcodec_send_frame(encoder, chunk);
        if (result < 0) throw Failure(path + ": cannot encode the audio: " + ffmpegError(result));
        drainEncoder();
    }

    // Resamples a decoded frame into the fifo, trimmed at the start.
    void queue(AVFrame *frame) {
        int64_t skip = 0;
        if (firstFrame && frame) {
            firstFrame = false;
            const int64_t time = frame->best_effort_timestamp;
            const double offset = time == AV_NOPTS_VALUE ? 0.0 : secondsOf(time);
            const int64_t samples = int64_t(std::llround(offset * encoder->sample_rate));
            if (samples < 0) skip = -samples;
            if (samples > 0) { // the sound starts after the first frame: silence first
                uint8_t **silence = nullptr;
                if (av_samples_alloc_array_and_samples(&silence, nullptr,
                                                       encoder->ch_layout.nb_channels, int(samples),
                                                       encoder->sample_fmt, 0) < 0)
                    throw Failure("out of memory");
                av_samples_set_silence(silence, 0, int(samples), encoder->ch_layout.nb_channels,
                                       encoder->sample_fmt);
                av_audio_fifo_write(fifo, reinterpret_cast<void **>(silence), int(samples));
                samplesQueued += samples;
                av_freep(&silence[0]);
                av_freep(&silence);
            }
        }
        const int capacity = swr_get_out_samples(resampler, frame ? frame->nb_samples : 0);
        if (capacity <= 0) return;
        uint8_t **converted = nullptr;
        if (av_samples_alloc_array_and_samples(&converted, nullptr, encoder->ch_layout.nb_channels,
                                               capacity, encoder->sample_fmt, 0) < 0)
            throw Failure("out of memory");
        const int made =
            swr_convert(resampler, converted, capacity,
                        frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr,
                        frame ? frame->nb_samples : 0);
        skipSamples_ += skip;
        int from = 0;
        if (made > 0 && skipSamples_ > 0) {
            from = int(std::min<int64_t>(skipSamples_, made));
            skipSamples_ -= from;
        }
        if (made > from) {
            std::vector<void *> planes;
            const int planar = av_sample_fmt_is_planar(encoder->sample_fmt);
            const int bytes = av_get_bytes_per_sample(encoder->sample_fmt);
            const int channels = encoder->ch_layout.nb_channels;
            for (int c = 0; c < (planar ? channels : 1); ++c)
                planes.push_back(converted[c] + size_t(from) * bytes * (planar ? 1 : channels));
            av_audio_fifo_write(fifo, planes.data(), made - from);
            samplesQueued += made - from;
        }
        av_freep(&converted[0]);
        av_freep(&converted);
    }

    void encodeUntil(double seconds, bool last) {
        const int64_t limit = int64_t(std::llround(seconds * encoder->sample_rate));
        // Decode until the fifo holds the sound up to the limit.
        while (samplesQueued < limit && !inputEnded) {
            if (!read()) break;
            int result = avcodec_send_packet(decoder, packet);
            av_packet_unref(packet);
            if (result < 0 && result != AVERROR(EAGAIN)) continue; // a damaged packet
            while ((result = avcodec_receive_frame(decoder, decoded)) == 0) {
                queue(decoded);
                av_frame_unref(decoded);
            }
        }
        if (inputEnded && last) {
            avcodec_send_packet(decoder, nullptr);
            while (avcodec_receive_frame(decoder, decoded) == 0) {
                queue(decoded);
                av_frame_unref(decoded);
            }
            queue(nullptr); // what the resampler still holds
        }
        const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
        while (samplesEncoded + frameSize <= limit && av_audio_fifo_size(fifo) >= frameSize)
            encodeChunk(frameSize);
        if (last) {
            const int64_t rest =
                std::min<int64_t>(limit - samplesEncoded, av_audio_fifo_size(fifo));
            if (rest > 0) encodeChunk(int(rest));
            avcodec_send_frame(encoder, nullptr);
            drainEncoder();
        }
    }
};

AudioCopy::AudioCopy(const std::string &path, AVFormatContext *muxer, double startSeconds)
    : impl_(std::make_unique<Impl>()) {
    configureFfmpegLogging();
    Impl &m = *impl_;
    m.path = path;
    m.muxer = muxer;
    bool opened = false;
    if (openInputFile(path, m.input, opened) < 0) throw Failure(path + ": cannot read its audio");
    const int index = av_find_best_stream(m.input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) throw Failure(path + ": has no audio stream");
    for (unsigned i = 0; i < m.input->nb_streams; ++i)
        if (int(i) != index) m.input->streams[i]->discard = AVDISCARD_ALL;
    m.in = m.input->streams[index];
    const int64_t start = m.in->start_time != AV_NOPTS_VALUE ? m.in->start_time : 0;
    m.origin = start + av_rescale_q(int64_t(std::llround(startSeconds * AV_TIME_BASE)),
                                    AV_TIME_BASE_Q, m.in->time_base);
    m.packet = av_packet_alloc();
    m.out = avformat_new_stream(muxer, nullptr);
    if (!m.packet || !m.out) throw Failure("out of memory");
    const AVCodecID id = m.in->codecpar->codec_id;
    const char *inName = avcodec_get_name(id);
    m.copy = avformat_query_codec(muxer->oformat, id, FF_COMPLIANCE_NORMAL) == 1;
    if (m.copy) {
        if (avcodec_parameters_copy(m.out->codecpar, m.in->codecpar) < 0)
            throw Failure("out of memory");
        m.out->codecpar->codec_tag = 0;
        m.out->time_base = m.in->time_base;
        m.description = std::string(inName) + " audio copied";
        return;
    }

    const AVCodec *decoder = avcodec_find_decoder(id);
    const AVCodec *encoder = audioEncoderFor(muxer->oformat);
    if (!decoder) throw Failure(path + ": cannot decode its " + inName + " audio");
    if (!encoder)
        throw UsageError(std::string("no audio encoder for the ") + muxer->oformat->name +
                         " format (use --audio none)");
    m.encoder = avcodec_alloc_context3(encoder);
    m.decoded = av_frame_alloc();
    m.chunk = av_frame_alloc();
    if (!m.encoder || !m.decoded || !m.chunk) throw Failure("out of memory");
    int result = openDecoder(m.in, decoder, 1, true, m.decoder);
    if (result < 0)
        throw Failure(path + ": cannot decode its " + inName + " audio: " + ffmpegError(result));
    if (m.decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&m.decoder->ch_layout, m.decoder->ch_layout.nb_channels);

    AVCodecContext *e = m.encoder;
    e->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    e->sample_rate = pickSampleRate(encoder, m.decoder->sample_rate);
    if (supportsLayout(encoder, m.decoder->ch_layout) && m.decoder->ch_layout.nb_channels <= 8)
        av_channel_layout_copy(&e->ch_layout, &m.decoder->ch_layout);
    else
        av_channel_layout_default(&e->ch_layout, 2);
    e->bit_rate = encoder->id == AV_CODEC_ID_OPUS ? 128000 : 192000;
    e->time_base = AVRational{1, e->sample_rate};
    if (muxer->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    result = avcodec_open2(e, encoder, nullptr);
    if (result < 0)
        throw Failure(std::string("cannot open the ") + encoder->name +
                      " audio encoder: " + ffmpegError(result));
    avcodec_parameters_from_context(m.out->codecpar, e);
    m.out->time_base = e->time_base;
    if (swr_alloc_set_opts2(&m.resampler, &e->ch_layout, e->sample_fmt, e->sample_rate,
                            &m.decoder->ch_layout, m.decoder->sample_fmt, m.decoder->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(m.resampler) < 0)
        throw Failure(path + ": cannot convert its audio");
    m.fifo = av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096);
    if (!m.fifo) throw Failure("out of memory");
    m.description = std::string(inName) + " audio as " + encoder->name;
}

AudioCopy::~AudioCopy() = default;

void AudioCopy::writeUntil(double seconds) {
    if (impl_->copy)
        impl_->copyUntil(seconds);
    else
        impl_->encodeUntil(seconds, false);
}

void AudioCopy::finish(double seconds) {
    if (impl_->copy)
        impl_->copyUntil(seconds);
    else
        impl_->encodeUntil(seconds, true);
}

std::string AudioCopy::describe() const {
    return impl_->description;
}

} // namespace lustra::cli
