// A host backend for the project's own programs: serves the fields of one
// title frame (input 1) and one background frame (input 0) from memory,
// collects the rendered fields into a frame, and prints the module's log lines.
// Like a real host's frame cache, it reuses the pixel buffers of the fields it
// gets back instead of allocating every field anew.
#pragma once

#include "lustrafex/host_backend.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace lustra::tools {

class MemoryHost : public HostBackend {
  public:
    int width = 0, height = 0;        // frame geometry (height even)
    std::vector<uint32_t> title;      // input 1, host pixels
    std::vector<uint32_t> background; // input 0, host pixels
    std::vector<uint32_t> rendered;   // the frame woven from the put fields
    int putCount = 0;

    void setFrames(int w, int h, std::vector<uint32_t> titleFrame,
                   std::vector<uint32_t> backgroundFrame) {
        width = w;
        height = h;
        title = std::move(titleFrame);
        background = std::move(backgroundFrame);
        rendered.assign(size_t(w) * h, 0);
        putCount = 0;
    }

    OpImage *getField(int32_t input, int32_t field) override {
        const std::vector<uint32_t> &frame = input == 1 ? title : background;
        OpImage *result = image(width, height / 2);
        const int first = field % 2 == 0 ? 1 : 0; // field 2k: odd rows
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(result->pixels + size_t(y) * width,
                        frame.data() + size_t(2 * y + first) * width, size_t(width) * 4);
        return result;
    }
    OpImage *allocImage(int32_t, int32_t, int32_t, int32_t) override {
        return image(width, height / 2);
    }
    int32_t putField(OpImage *field) override {
        // Frame-wise rendering returns the odd rows first, then the even rows.
        const int first = putCount % 2 == 0 ? 1 : 0;
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(rendered.data() + size_t(2 * y + first) * width,
                        field->pixels + size_t(y) * width, size_t(width) * 4);
        ++putCount;
        freeImage(field);
        return 0;
    }
    void freeImage(OpImage *field) override {
        if (!field) return;
        spare_.push_back(field);
    }
    ~MemoryHost() override {
        for (OpImage *field : spare_) {
            delete[] field->pixels;
            delete field;
        }
    }
    void logMessage(int32_t, int32_t line, const char *, uint32_t, const char *) override {
        std::fprintf(stderr, "LustraFex reported a failure (line %d)\n", line);
    }

  private:
    std::vector<OpImage *> spare_; // fields given back, for reuse

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
