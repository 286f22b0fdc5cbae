// What the module-side fuzz cases share: a reader that turns the input into
// numbers, a host backend that serves fields and source pictures, and one
// set-up, render, clean-up cycle through the module's two exports.
#pragma once

#include "lustrafex/host_backend.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstring>
#include <string>
#include <vector>

namespace lustra::fuzz {

// Reads the input front to back; past its end every read yields 0.
class ByteReader {
  public:
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t half() { return uint16_t(byte() | (byte() << 8)); }
    void bytes(void *out, size_t count) {
        auto *target = static_cast<uint8_t *>(out);
        for (size_t i = 0; i < count; ++i) target[i] = byte();
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t position_ = 0;
};

// Serves the fields of one frame per input and source pictures of the given
// sizes filled with noise; `settingsName` is the instance's settings name.
class FuzzHost : public HostBackend {
  public:
    int width = 1, height = 2;
    std::vector<uint32_t> frames[2];
    std::vector<uint8_t> sourceSizes; // per request: width, height (255 = no picture)
    size_t sourceRequest = 0;
    uint32_t sourceSeed = 0;
    std::string settingsName;

    OpImage *makeImage(int w, int h) {
        auto *result = new OpImage{nullptr, int16_t(w), int16_t(h)};
        if (w > 0 && h > 0) result->pixels = new uint32_t[size_t(w) * h]();
        return result;
    }
    OpImage *getField(int32_t input, int32_t field) override {
        if (input < 0 || input > 1) return nullptr;
        OpImage *result = makeImage(width, height / 2);
        const int first = (field & 1) ? 0 : 1;
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(result->pixels + size_t(y) * width,
                        frames[input].data() + size_t(2 * y + first) * width, size_t(width) * 4);
        return result;
    }
    OpImage *allocImage(int32_t, int32_t, int32_t, int32_t) override {
        return makeImage(width, height / 2);
    }
    int32_t putField(OpImage *field) override {
        freeImage(field);
        return 0;
    }
    void freeImage(OpImage *field) override {
        if (!field) return;
        delete[] field->pixels;
        delete field;
    }
    const char *customPrefsName(uint32_t, const char *, int32_t, int32_t) override {
        return settingsName.empty() ? nullptr : settingsName.c_str();
    }
    OpImage *sourceImage(const void *, int32_t, int32_t) override {
        if (sourceSizes.size() < 2) return nullptr;
        const size_t at = (sourceRequest++ % (sourceSizes.size() / 2)) * 2;
        const int w = sourceSizes[at], h = sourceSizes[at + 1];
        if (w == 255) return nullptr;
        OpImage *result = makeImage(w, h);
        uint32_t state = sourceSeed | 1;
        for (int i = 0; i < w * h; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            result->pixels[i] = state;
        }
        return result;
    }
};

// Describes the operator, sets it up (which reads the settings file), XORs
// `changes` (824 bytes, or none) onto the record, renders both fields of the
// frame and cleans up.
inline void renderBothFields(FuzzHost &host, const int32_t (&choices)[3], OperatorContext &context,
                             const uint8_t *changes) {
    HostBackend *previous = lustraInstallBackend(&host);
    GetOperatorInfo();
    const OperatorInfoTag *tags = GetOperatorInfo();
    for (int c = 0; c < 3; ++c)
        reinterpret_cast<HostChoice *>(tags[7 + c].value)->value = choices[c];
    context.action = 1;
    OperatorAction(&context);
    if (changes) {
        auto *record = reinterpret_cast<uint8_t *>(&settings);
        for (int i = 0; i < kSettingsSize; ++i) record[i] ^= changes[i];
    }
    context.action = 3;
    OperatorAction(&context);
    ++context.fieldNumber;
    OperatorAction(&context);
    context.action = 2;
    OperatorAction(&context);
    lustraInstallBackend(previous);
}

} // namespace lustra::fuzz
