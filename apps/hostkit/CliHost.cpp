#include "CliHost.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace lustra::cli {

CliHost::CliHost(Installer install) : install_(install), previous_(install(this)) {}

CliHost::~CliHost() {
    install_(previous_);
}

void CliHost::setFrames(int64_t frameIndex, const HostFrame *background, const HostFrame *title) {
    // Another frame (other frames, or the same ones refilled for another
    // frame index): the views of the one before show nothing any more. The
    // same frame chosen again keeps them.
    if (frameIndex != frameIndex_ || background != frames_[0] || title != frames_[1])
        cutOffViews(false);
    frameIndex_ = frameIndex;
    frames_[0] = background;
    frames_[1] = title;
}

void CliHost::setOutput(HostFrame *output) {
    if (output != output_) cutOffViews(true);
    output_ = output;
}

void CliHost::cutOffViews(bool output) {
    for (auto &entry : live_) {
        Slot *slot = entry.second;
        if (!slot->frame || slot->output != output) continue;
        slot->image.pixels = nullptr;
        slot->frame = nullptr;
    }
}

OpImage *CliHost::handOut(Slot *slot) {
    live_[&slot->image] = slot;
    ++liveImages_;
    return &slot->image;
}

size_t CliHost::pooledPixelBytes() const {
    size_t bytes = 0;
    for (const auto &slot : slots_) bytes += slot->pixels.capacity() * sizeof(uint32_t);
    return bytes;
}

OpImage *CliHost::newImage(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int16_t>::max() ||
        height > std::numeric_limits<int16_t>::max())
        return nullptr;
    const size_t count = size_t(width) * size_t(height);
    // The spare slot whose pixels fit best, else a new one; its old pixels
    // stay (the module fills every pixel of an image it is given).
    Slot *slot = nullptr;
    size_t index = 0;
    for (size_t i = 0; i < spare_.size(); ++i) {
        const size_t capacity = spare_[i]->pixels.size();
        if (capacity >= count && (!slot || capacity < slot->pixels.size())) {
            slot = spare_[i];
            index = i;
        }
    }
    try {
        if (slot) {
            spare_.erase(spare_.begin() + std::ptrdiff_t(index));
        } else {
            slots_.push_back(std::make_unique<Slot>());
            slot = slots_.back().get();
            spare_.reserve(slots_.size());
        }
        if (slot->pixels.size() < count) slot->pixels.resize(count);
        live_.reserve(live_.size() + 1);
    } catch (const std::bad_alloc &) {
        if (slot) spare_.push_back(slot);
        return nullptr;
    }
    slot->view = false;
    slot->image.pixels = slot->pixels.data();
    slot->image.width = static_cast<int16_t>(width);
    slot->image.height = static_cast<int16_t>(height);
    return handOut(slot);
}

CliHost::Slot *CliHost::viewSlot() {
    Slot *slot = nullptr;
    try {
        // A view needs no pixels of its own: the spare slot with the fewest
        // serves, so that those with pixels stay for images that need them.
        size_t best = spare_.size();
        for (size_t i = 0; i < spare_.size(); ++i)
            if (best == spare_.size() || spare_[i]->pixels.size() < spare_[best]->pixels.size())
                best = i;
        if (best < spare_.size()) {
            slot = spare_[best];
            spare_.erase(spare_.begin() + std::ptrdiff_t(best));
        } else {
            slots_.push_back(std::make_unique<Slot>());
            slot = slots_.back().get();
            spare_.reserve(slots_.size());
        }
        live_.reserve(live_.size() + 1);
    } catch (const std::bad_alloc &) {
        if (slot) spare_.push_back(slot);
        return nullptr;
    }
    return slot;
}

OpImage *CliHost::viewImage(const HostFrame &picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.width > std::numeric_limits<int16_t>::max() ||
        picture.height > std::numeric_limits<int16_t>::max() ||
        picture.pixels.size() < size_t(picture.width) * size_t(picture.height))
        return nullptr;
    if (picture.layout != HostFrame::Layout::Rows && picture.height > 2) {
        // Rows kept field by field: the module gets them in order, copied.
        OpImage *copy = newImage(picture.width, picture.height);
        if (!copy) return nullptr;
        for (int y = 0; y < picture.height; ++y)
            std::memcpy(copy->pixels + size_t(y) * picture.width, picture.row(y),
                        size_t(picture.width) * 4);
        return copy;
    }
    Slot *slot = viewSlot();
    if (!slot) return nullptr;
    slot->view = true;
    slot->frame = nullptr;
    slot->image.pixels = const_cast<uint32_t *>(picture.pixels.data());
    slot->image.width = static_cast<int16_t>(picture.width);
    slot->image.height = static_cast<int16_t>(picture.height);
    return handOut(slot);
}

OpImage *CliHost::viewField(const HostFrame &frame, int parity, bool output) {
    if (!frame.fieldsAreBlocks() ||
        frame.pixels.size() < size_t(frame.width) * size_t(frame.height))
        return nullptr;
    Slot *slot = viewSlot();
    if (!slot) return nullptr;
    slot->view = true;
    slot->frame = &frame;
    slot->parity = parity;
    slot->output = output;
    slot->image.pixels = const_cast<uint32_t *>(frame.row(parity));
    slot->image.width = static_cast<int16_t>(frame.width);
    slot->image.height = static_cast<int16_t>(frame.height / 2);
    return handOut(slot);
}

OpImage *CliHost::getField(int32_t input, int32_t fieldNumber) {
    if (input < 0 || input > 1 || fieldNumber < 0 || fieldNumber / 2 != frameIndex_) return nullptr;
    const HostFrame *frame = frames_[input];
    if (!frame || frame->height < 2 || frame->width <= 0 ||
        frame->width > std::numeric_limits<int16_t>::max() ||
        frame->height / 2 > std::numeric_limits<int16_t>::max())
        return nullptr;
    // Field 2k holds the odd frame rows, field 2k + 1 the even rows.
    const int firstRow = fieldNumber % 2 == 0 ? 1 : 0;
    // Field-wise, the field of input 1 comes back rendered: a copy of it.
    if (input == 0 || !fieldWise_)
        if (OpImage *view = viewField(*frame, firstRow, false)) return view;
    OpImage *field = newImage(frame->width, frame->height / 2);
    if (!field) return nullptr;
    for (int y = 0; y < field->height; ++y)
        std::memcpy(field->pixels + size_t(y) * frame->width, frame->row(2 * y + firstRow),
                    size_t(frame->width) * 4);
    return field;
}

OpImage *CliHost::allocImage(int32_t width, int32_t height, int32_t, int32_t) {
    const HostFrame *project = frames_[1] ? frames_[1] : frames_[0];
    if ((width == 0 && height == 0) || (width == -1 && height == -1)) {
        if (!project) return nullptr;
        if (width == -1 && output_ && output_->width == project->width &&
            output_->height / 2 == project->height / 2) {
            // The field the next put without an image yet takes: the
            // output's rows of that parity, unless another view has them.
            size_t pending = 0;
            bool taken[2] = {false, false};
            for (const auto &entry : live_)
                if (entry.second->frame == output_ && entry.second->output) {
                    ++pending;
                    taken[entry.second->parity] = true;
                }
            if (pending < puts_.size() && (puts_[pending] == 0 || puts_[pending] == 1) &&
                !taken[puts_[pending]])
                if (OpImage *view = viewField(*output_, puts_[pending], true)) return view;
        }
        // The geometry (0, 0) is read and freed at once: a view of the
        // project frame's first field instead of a field of pixels of its own.
        if (width == 0)
            if (OpImage *view = viewField(*project, 1, false)) return view;
        return newImage(project->width, project->height / 2);
    }
    return newImage(width, height);
}

int32_t CliHost::putField(OpImage *image) {
    if (!image) return -1;
    if (puts_.empty() || !output_ || !image->pixels || image->width != output_->width ||
        image->height != output_->height / 2) {
        ++unexpectedPuts_;
        freeImage(image);
        return 0;
    }
    const int parity = puts_.front();
    puts_.pop_front();
    const auto found = live_.find(image);
    Slot *slot = found != live_.end() ? found->second : nullptr;
    if (slot && slot->output && slot->frame == output_) {
        if (slot->parity != parity) {
            // Put back as the other field than it was handed out for: the
            // two fields' rows change places, and a view still held of the
            // other field follows its rows.
            for (int y = 0; y < image->height; ++y)
                std::swap_ranges(output_->row(2 * y + parity),
                                 output_->row(2 * y + parity) + image->width,
                                 output_->row(2 * y + slot->parity));
            for (auto &entry : live_) {
                Slot *other = entry.second;
                if (other == slot || !other->output || other->frame != output_ ||
                    other->parity != parity)
                    continue;
                other->parity = slot->parity;
                other->image.pixels = output_->row(slot->parity);
            }
        }
    } else {
        for (int y = 0; y < image->height; ++y)
            std::memcpy(output_->row(2 * y + parity), image->pixels + size_t(y) * image->width,
                        size_t(image->width) * 4);
    }
    freeImage(image);
    return 0;
}

void CliHost::freeImage(OpImage *image) {
    const auto found = live_.find(image);
    if (found == live_.end()) return; // not one of this host's images
    Slot *slot = found->second;
    live_.erase(found);
    if (slot->view) slot->image.pixels = nullptr;
    slot->view = false;
    slot->frame = nullptr;
    slot->output = false;
    spare_.push_back(slot); // capacity reserved when the slot was made
    --liveImages_;
}

int32_t CliHost::checkAbort() {
    if (onAbortCheck) onAbortCheck();
    return 0;
}

const char *CliHost::customPrefsName(uint32_t, const char *, int32_t, int32_t) {
    return customName.empty() ? nullptr : customName.c_str();
}

OpImage *CliHost::sourceImage(const void *descriptor, int32_t, int32_t) {
    if (!descriptor || !resolveSource) return nullptr;
    const char *text = static_cast<const char *>(descriptor);
    const std::string key(text, strnlen(text, LFX_SOURCE_DESCRIPTOR_SIZE));
    const HostFrame *picture = resolveSource(key);
    if (!picture) return nullptr;
    // The module reads a source picture and releases it: it gets the
    // pixels the host holds, not a copy.
    return viewImage(*picture);
}

void CliHost::logMessage(int32_t, int32_t line, const char *, uint32_t, const char *) {
    logLines.push_back(line);
}

} // namespace lustra::cli
