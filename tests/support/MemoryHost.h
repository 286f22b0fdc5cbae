// A host backend for the project's own programs: serves the fields of one
// title frame (input 1) and one background frame (input 0) from memory,
// collects the rendered fields into a frame, and prints the module's log lines.
// Like a real host's frame cache, it keeps its frames field by field (every
// even row, then every odd row), so that a field is handed over as a view of
// its frame's rows and an output field is a view of the rendered frame's
// rows: nothing is copied for a frame-wise render. A field of its own that
// the module puts back is copied in; those fields are used again instead of
// allocated anew.
#pragma once

#include "lustrafex/host_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lustra::tools {

class MemoryHost : public HostBackend {
  public:
    int width = 0, height = 0;        // frame geometry
    std::vector<uint32_t> title;      // input 1, host pixels, rows in order
    std::vector<uint32_t> background; // input 0, host pixels, rows in order
    int putCount = 0;
    // Field-wise, the module renders into the field of input 1 it got and
    // hands that one back: that field is then a copy, so that the title
    // stays as it is for the next render. Frame-wise (false), the module
    // only reads the fields it gets, and each is a view.
    bool fieldWise = true;

    void setFrames(int w, int h, std::vector<uint32_t> titleFrame,
                   std::vector<uint32_t> backgroundFrame) {
        // Views of the frames before show nothing any more.
        for (View &held : views_) held.image->pixels = nullptr;
        width = w;
        height = h;
        title = std::move(titleFrame);
        background = std::move(backgroundFrame);
        fields_[0] = fieldOrder(background);
        fields_[1] = fieldOrder(title);
        output_.assign(size_t(w) * h, 0);
        putCount = 0;
    }

    // The frame woven from the put fields, rows in order (rows no field
    // reached are 0).
    std::vector<uint32_t> rendered() const {
        std::vector<uint32_t> frame(output_.size());
        for (int y = 0; y < height; ++y)
            std::memcpy(frame.data() + size_t(y) * width, output_.data() + rowOffset(y),
                        size_t(width) * 4);
        return frame;
    }

    OpImage *getField(int32_t input, int32_t field) override {
        const std::vector<uint32_t> &frame = fields_[input == 1 ? 1 : 0];
        const int parity = field % 2 == 0 ? 1 : 0; // field 2k: odd rows
        if (input != 1 || !fieldWise) return view(frame, parity, false);
        OpImage *result = image(width, height / 2);
        std::memcpy(result->pixels, frame.data() + rowOffset(parity),
                    size_t(width) * size_t(height / 2) * 4);
        return result;
    }
    OpImage *allocImage(int32_t w, int32_t h, int32_t, int32_t) override {
        if (w == -1 && h == -1) {
            // A new output field: the rendered frame's rows of the parity
            // it will be put back as (frame-wise, odd rows first), unless
            // another view has them.
            int pending = 0;
            bool taken[2] = {false, false};
            for (const View &held : views_)
                if (held.output) {
                    ++pending;
                    taken[held.parity] = true;
                }
            const int parity = (putCount + pending) % 2 == 0 ? 1 : 0;
            if (!taken[parity]) return view(output_, parity, true);
        }
        return image(width, height / 2);
    }
    int32_t putField(OpImage *field) override {
        if (!field || !field->pixels) {
            freeImage(field);
            return 0;
        }
        // Frame-wise rendering returns the odd rows first, then the even rows.
        const int parity = putCount % 2 == 0 ? 1 : 0;
        uint32_t *rows = output_.data() + rowOffset(parity);
        const size_t count = size_t(width) * size_t(height / 2);
        View *held = findView(field);
        if (held && held->output) {
            if (held->parity != parity) {
                // Put back as the other field: the two fields' rows change
                // places, and a view still held of the other one follows.
                std::swap_ranges(rows, rows + count, field->pixels);
                for (View &other : views_)
                    if (other.output && other.image != field && other.parity == parity) {
                        other.parity = held->parity;
                        other.image->pixels = field->pixels;
                    }
            }
        } else {
            std::memcpy(rows, field->pixels, count * 4);
        }
        ++putCount;
        freeImage(field);
        return 0;
    }
    void freeImage(OpImage *field) override {
        if (!field) return;
        for (size_t i = 0; i < views_.size(); ++i) {
            if (views_[i].image != field) continue;
            field->pixels = nullptr; // a view: the frame stays
            spareViews_.push_back(field);
            views_.erase(views_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
        spare_.push_back(field);
    }
    ~MemoryHost() override {
        for (OpImage *field : spare_) {
            delete[] field->pixels;
            delete field;
        }
        for (OpImage *record : spareViews_) delete record;
        for (View &held : views_) delete held.image;
    }
    void logMessage(int32_t, int32_t line, const char *, uint32_t, const char *) override {
        std::fprintf(stderr, "LustraFex reported a failure (line %d)\n", line);
    }

  private:
    // A view handed out: of the rendered frame (`output`) or of an input.
    struct View {
        OpImage *image;
        int parity;
        bool output;
    };

    std::vector<uint32_t> fields_[2];   // background, title: field by field
    std::vector<uint32_t> output_;      // the rendered frame, field by field
    std::vector<View> views_;           // views the module holds
    std::vector<OpImage *> spareViews_; // records of views given back
    std::vector<OpImage *> spare_;      // fields given back, for reuse

    // Where frame row y starts: the (height + 1) / 2 even rows come first.
    size_t rowOffset(int y) const {
        const size_t stored = y % 2 ? size_t(height + 1) / 2 + size_t(y / 2) : size_t(y / 2);
        return stored * size_t(width);
    }
    std::vector<uint32_t> fieldOrder(const std::vector<uint32_t> &frame) const {
        std::vector<uint32_t> stored(frame.size());
        for (int y = 0; y < height; ++y)
            std::memcpy(stored.data() + rowOffset(y), frame.data() + size_t(y) * width,
                        size_t(width) * 4);
        return stored;
    }
    View *findView(const OpImage *field) {
        for (View &held : views_)
            if (held.image == field) return &held;
        return nullptr;
    }
    OpImage *view(const std::vector<uint32_t> &frame, int parity, bool output) {
        OpImage *record = nullptr;
        if (spareViews_.empty()) {
            record = new OpImage{};
        } else {
            record = spareViews_.back();
            spareViews_.pop_back();
        }
        record->pixels = const_cast<uint32_t *>(frame.data()) + rowOffset(parity);
        record->width = int16_t(width);
        record->height = int16_t(height / 2);
        views_.push_back({record, parity, output});
        return record;
    }
    // A field of w x h pixels: a spare one of that size (holding its old
    // pixels, as a host's recycled buffer does) or a new, cleared one.
    OpImage *image(int w, int h) {
        for (size_t i = 0; i < spare_.size(); ++i) {
            OpImage *field = spare_[i];
            if (field->width != w || field->height != h) continue;
            spare_.erase(spare_.begin() + static_cast<std::ptrdiff_t>(i));
            return field;
        }
        return new OpImage{new uint32_t[size_t(w) * h](), int16_t(w), int16_t(h)};
    }
};

} // namespace lustra::tools
