// lustra's backend of the stand-in host library: serves the fields of the
// current title and background frames, weaves the fields the module hands
// back into the output frame, delivers the pictures that settings name,
// collects the module's log lines and acts on Ctrl-C in the abort check.
//
// Frames kept field by field (HostFrame's default layout) are handed over
// without copying: a field the module reads is a view of its frame's rows,
// and a new output field is a view of the output frame's rows of the parity
// it will be put back as, so that putting it back copies nothing. A view
// released with opFreeImage leaves its frame as it is; an image the module
// frees instead of putting back is not woven in; an image of another kind
// put back (a field of its own, or a view of an input) is copied in.
#pragma once

#include "Colour.h"

#include "lustrafex/host_backend.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace lustra::cli {

class CliHost : public HostBackend {
  public:
    // Installs itself with `install` (the stand-in library's
    // lustraInstallBackend of the module copy it serves) and puts the
    // previous backend back when it goes.
    using Installer = HostBackend *(*)(HostBackend *);
    explicit CliHost(Installer install = &lustraInstallBackend);
    ~CliHost() override;
    CliHost(const CliHost &) = delete;
    CliHost &operator=(const CliHost &) = delete;

    // The frames of the current render call: fields 2k (odd rows) and
    // 2k + 1 (even rows) of frame k = `frameIndex`, for input 0 (background)
    // and input 1 (title). Both frames have the project's frame size.
    // Views of the frames still held by the module are cut off (their
    // pixels become null) when another frame index or other frames are set
    // here; the same frame set again keeps them.
    void setFrames(int64_t frameIndex, const HostFrame *background, const HostFrame *title);
    // Where the fields the module puts go, and in which rows: each put takes
    // the next parity of the queue (1 = odd frame rows, 0 = even rows).
    // Replacing the output cuts off the views of the one before.
    void setOutput(HostFrame *output);
    // The module's field-wise choice as the host set it. Field-wise, the
    // module renders into the field of input 1 it got and hands that one
    // back: that field is then a copy, so that the title frame stays as it
    // is (a frame may be rendered again, or be a still shown for many).
    // Frame-wise, the module only reads the fields it gets: each is a view.
    // Until told, the host assumes field-wise.
    void setFieldWise(bool fieldWise) { fieldWise_ = fieldWise; }
    void expectPuts(std::initializer_list<int> parities) { puts_.assign(parities); }
    int pendingPuts() const { return int(puts_.size()); }
    int unexpectedPuts() const { return unexpectedPuts_; }

    // opGetCustomPrefsName's answer ("" = none, the module uses last.prf).
    std::string customName;
    // The picture a source descriptor names (text up to the first zero
    // byte), or null with a reason; called at most once per text and render.
    // The module gets a view of the picture's pixels, which it only reads:
    // the picture must stay, unchanged, until the render call returns.
    std::function<const HostFrame *(const std::string &descriptor)> resolveSource;
    // Called from the abort check; lustra stops after the current frame.
    std::function<void()> onAbortCheck;

    // Module log lines received since the last clear.
    std::vector<int32_t> logLines;
    int liveImages() const { return liveImages_; }
    // Images made so far (live or kept for reuse): a steady render reuses
    // the same few.
    int pooledImages() const { return int(slots_.size()); }
    // Bytes of pixels the host's own images hold (views hold none).
    size_t pooledPixelBytes() const;

    OpImage *getField(int32_t input, int32_t fieldNumber) override;
    OpImage *allocImage(int32_t width, int32_t height, int32_t depth, int32_t flags) override;
    int32_t putField(OpImage *image) override;
    void freeImage(OpImage *image) override;
    int32_t checkAbort() override;
    const char *customPrefsName(uint32_t node, const char *prefix, int32_t a, int32_t b) override;
    OpImage *sourceImage(const void *descriptor, int32_t a, int32_t b) override;
    void logMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                    const char *text) override;

  private:
    // An image the host has handed out or keeps for the next one: its record
    // and, unless it is a view of a picture the host already holds, its own
    // pixels, kept between uses so that a field costs no allocation.
    struct Slot {
        OpImage image{};
        std::vector<uint32_t> pixels;
        bool view = false;
        // A view of a frame's field: the frame, and the parity of its rows
        // (1 = odd frame rows); `output` when it is the output frame.
        const HostFrame *frame = nullptr;
        int parity = 0;
        bool output = false;
    };

    OpImage *newImage(int32_t width, int32_t height);
    // A view of `picture`'s pixels, which the module only reads.
    OpImage *viewImage(const HostFrame &picture);
    // A view of the field of `frame` whose rows have `parity`, or null when
    // the frame's fields are not blocks of rows.
    OpImage *viewField(const HostFrame &frame, int parity, bool output);
    // A spare slot for a view (one without pixels first), or null.
    Slot *viewSlot();
    OpImage *handOut(Slot *slot);
    // Cuts off the live views of the output frame, or of the input frames.
    void cutOffViews(bool output);

    Installer install_;
    HostBackend *previous_ = nullptr;
    int64_t frameIndex_ = -1;
    const HostFrame *frames_[2] = {nullptr, nullptr};
    HostFrame *output_ = nullptr;
    bool fieldWise_ = true;
    std::deque<int> puts_;
    int unexpectedPuts_ = 0;
    int liveImages_ = 0;
    std::vector<std::unique_ptr<Slot>> slots_; // every slot, live or spare
    std::vector<Slot *> spare_;                // slots free for reuse
    std::unordered_map<const OpImage *, Slot *> live_;
};

} // namespace lustra::cli
