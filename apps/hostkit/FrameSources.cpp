#include "FrameSources.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

namespace lustra::cli {
namespace {

class MediaSource : public FrameSource {
  public:
    explicit MediaSource(const std::string &path) : reader_(path) {}
    std::string name() const override { return reader_.path(); }
    int width() const override { return reader_.width(); }
    int height() const override { return reader_.height(); }
    bool hasAlpha() const override { return reader_.hasAlpha(); }
    bool isStill() const override { return reader_.isStill(); }
    int64_t frameCountHint() const override { return reader_.frameCountHint(); }
    Rational frameRate() const override { return reader_.frameRate(); }
    Rational sampleAspect() const override { return reader_.sampleAspect(); }
    FieldOrder fieldOrder() const override { return reader_.fieldOrder(); }
    std::string note() const override { return reader_.colourNote(); }

    void setOutputSize(int w, int h, bool interlaced) override {
        outWidth_ = w;
        outHeight_ = h;
        scaler_.reset();
        if (w != reader_.width() || h != reader_.height())
            scaler_ =
                std::make_unique<RgbaScaler>(reader_.width(), reader_.height(), w, h, interlaced);
        cached_ = false;
    }

    const HostFrame *sharedStill() override {
        if (!reader_.isStill()) return nullptr;
        if (!cached_ && !next(stillFrame_)) return nullptr;
        return &stillFrame_;
    }

    void decodeAhead() override { reader_.decodeAhead(); }

    bool next(HostFrame &frame) override {
        if (reader_.isStill() && cached_) {
            if (&frame != &stillFrame_) frame = stillFrame_;
            return true;
        }
        if (!scaler_) {
            // The picture's own size: straight to host pixels.
            if (!reader_.next(frame)) return false;
        } else {
            if (!reader_.next(rgba_)) return false;
            scaler_->scale(rgba_, scaled_);
            if (frame.width != outWidth_ || frame.height != outHeight_)
                frame = HostFrame(outWidth_, outHeight_);
            rgbaToHostFrame(scaled_.data(), outWidth_ * 4, reader_.hasAlpha(), frame);
        }
        if (reader_.isStill()) {
            if (&frame != &stillFrame_) stillFrame_ = frame;
            cached_ = true;
            // Neither the copies made for this size nor the reader's
            // picture are needed again (another size reads the file again).
            std::vector<uint8_t>().swap(rgba_);
            std::vector<uint8_t>().swap(scaled_);
            reader_.releasePicture();
        }
        return true;
    }

  private:
    MediaReader reader_;
    std::unique_ptr<RgbaScaler> scaler_;
    std::vector<uint8_t> rgba_, scaled_;
    int outWidth_ = 0, outHeight_ = 0;
    HostFrame stillFrame_;
    bool cached_ = false;
};

class SolidSource : public FrameSource {
  public:
    SolidSource(uint8_t r, uint8_t g, uint8_t b, int w, int h)
        : pixel_(rgbToHost(r, g, b)), width_(w), height_(h) {
        char text[16];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", r, g, b);
        name_ = text;
    }
    std::string name() const override { return name_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    bool isStill() const override { return true; }
    int64_t frameCountHint() const override { return 1; }
    void setOutputSize(int w, int h, bool) override {
        width_ = w;
        height_ = h;
    }
    bool next(HostFrame &frame) override {
        if (frame.width != width_ || frame.height != height_) frame = HostFrame(width_, height_);
        std::fill(frame.pixels.begin(), frame.pixels.end(), pixel_);
        return true;
    }
    const HostFrame *sharedStill() override {
        if (still_.width != width_ || still_.height != height_)
            still_ = HostFrame(width_, height_, pixel_);
        return &still_;
    }

  private:
    HostFrame still_;
    uint32_t pixel_;
    int width_, height_;
    std::string name_;
};

class PaintedSource : public FrameSource {
  public:
    PaintedSource(std::string name, int w, int h, int64_t frames, bool alpha, FramePainter painter)
        : name_(std::move(name)), width_(w), height_(h), frames_(frames), alpha_(alpha),
          painter_(std::move(painter)) {}
    std::string name() const override { return name_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    bool hasAlpha() const override { return alpha_; }
    bool isStill() const override { return frames_ == 1; }
    int64_t frameCountHint() const override { return frames_; }
    Rational frameRate() const override { return {25, 1}; }
    void setOutputSize(int w, int h, bool interlaced) override {
        outWidth_ = w;
        outHeight_ = h;
        scaler_.reset();
        if (w != width_ || h != height_)
            scaler_ = std::make_unique<RgbaScaler>(width_, height_, w, h, interlaced);
    }
    bool next(HostFrame &frame) override {
        if (frames_ != 1 && next_ >= frames_) return false;
        painter_(frames_ == 1 ? 0 : next_, width_, height_, rgba_);
        ++next_;
        const std::vector<uint8_t> *pixels = &rgba_;
        if (scaler_) {
            scaler_->scale(rgba_, scaled_);
            pixels = &scaled_;
        }
        if (frame.width != outWidth_ || frame.height != outHeight_)
            frame = HostFrame(outWidth_, outHeight_);
        rgbaToHostFrame(pixels->data(), outWidth_ * 4, alpha_, frame);
        return true;
    }

  private:
    std::string name_;
    int width_, height_;
    int64_t frames_;
    bool alpha_;
    FramePainter painter_;
    int64_t next_ = 0;
    int outWidth_ = 0, outHeight_ = 0;
    std::unique_ptr<RgbaScaler> scaler_;
    std::vector<uint8_t> rgba_, scaled_;
};

class RetimedSource : public FrameSource {
  public:
    RetimedSource(std::unique_ptr<FrameSource> source, Rational rate)
        : source_(std::move(source)), rate_(rate), sourceRate_(source_->frameRate()) {}
    std::string name() const override { return source_->name(); }
    int width() const override { return source_->width(); }
    int height() const override { return source_->height(); }
    bool hasAlpha() const override { return source_->hasAlpha(); }
    bool isStill() const override { return source_->isStill(); }
    int64_t frameCountHint() const override {
        const int64_t frames = source_->frameCountHint();
        if (frames <= 0) return frames;
        // Output frames whose time lies before the end of the source.
        const __int128 num = __int128(frames) * rate_.num * sourceRate_.den;
        const __int128 den = __int128(rate_.den) * sourceRate_.num;
        return int64_t((num + den - 1) / den);
    }
    Rational frameRate() const override { return rate_; }
    Rational sampleAspect() const override { return source_->sampleAspect(); }
    FieldOrder fieldOrder() const override { return source_->fieldOrder(); }
    std::string note() const override { return source_->note(); }
    void setOutputSize(int w, int h, bool interlaced) override {
        source_->setOutputSize(w, h, interlaced);
    }
    bool next(HostFrame &frame) override {
        // The source frame j with j / source rate <= i / rate < (j + 1) / source rate.
        const int64_t wanted = int64_t(__int128(next_) * sourceRate_.num * rate_.den /
                                       (__int128(sourceRate_.den) * rate_.num));
        while (delivered_ <= wanted) {
            if (!source_->next(held_)) return false;
            ++delivered_;
        }
        ++next_;
        // The frame is handed over when the next output frame shows a later
        // source frame, copied only when it is shown again.
        const int64_t following = int64_t(__int128(next_) * sourceRate_.num * rate_.den /
                                          (__int128(sourceRate_.den) * rate_.num));
        if (following >= delivered_)
            std::swap(frame, held_);
        else
            frame = held_;
        return true;
    }

  private:
    std::unique_ptr<FrameSource> source_;
    Rational rate_, sourceRate_;
    int64_t next_ = 0;      // the output frame asked for next
    int64_t delivered_ = 0; // source frames read so far
    HostFrame held_;        // the last of them
};

} // namespace

std::unique_ptr<FrameSource> retimedSource(std::unique_ptr<FrameSource> source, Rational rate) {
    return std::make_unique<RetimedSource>(std::move(source), rate);
}

std::unique_ptr<FrameSource> openMediaSource(const std::string &path) {
    return std::make_unique<MediaSource>(path);
}

std::unique_ptr<FrameSource> solidColourSource(uint8_t r, uint8_t g, uint8_t b, int width,
                                               int height) {
    return std::make_unique<SolidSource>(r, g, b, width, height);
}

std::unique_ptr<FrameSource> paintedSource(std::string name, int width, int height, int64_t frames,
                                           bool alpha, FramePainter painter) {
    return std::make_unique<PaintedSource>(std::move(name), width, height, frames, alpha,
                                           std::move(painter));
}

HostFrame loadPicture(const std::string &path) {
    MediaReader reader(path);
    std::vector<uint8_t> rgba;
    if (!reader.next(rgba)) throw Failure(path + ": no picture");
    // Rows in order: a picture is handed to the module whole, as it is.
    HostFrame frame(reader.width(), reader.height(), 0, HostFrame::Layout::Rows);
    rgbaToHostFrame(rgba.data(), reader.width() * 4, reader.hasAlpha(), frame);
    return frame;
}

} // namespace lustra::cli
