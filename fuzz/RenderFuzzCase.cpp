#include "RenderFuzzCase.h"

#include "lustrafex/host_backend.h"
#include "operator/Operator.h"
#include "operator/Settings.h"

#include <cstring>
#include <vector>

namespace lustra::fuzz {

namespace {

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

// Serves fields of one frame per input and source pictures whose size and
// content come from the input.
class FuzzHost : public HostBackend {
  public:
    int width = 1, height = 2;
    std::vector<uint32_t> frames[2];
    std::vector<uint8_t> sourceSizes; // per request: width, height (0 = no picture)
    size_t sourceRequest = 0;
    uint32_t sourceSeed = 0;

    OpImage *image(int w, int h) {
        auto *result = new OpImage{nullptr, int16_t(w), int16_t(h)};
        if (w > 0 && h > 0) result->pixels = new uint32_t[size_t(w) * h]();
        return result;
    }
    OpImage *getField(int32_t input, int32_t field) override {
        if (input < 0 || input > 1) return nullptr;
        OpImage *result = image(width, height / 2);
        const int first = (field & 1) ? 0 : 1;
        for (int y = 0; y < height / 2; ++y)
            std::memcpy(result->pixels + size_t(y) * width,
                        frames[input].data() + size_t(2 * y + first) * width, size_t(width) * 4);
        return result;
    }
    OpImage *allocImage(int32_t, int32_t, int32_t, int32_t) override {
        return image(width, height / 2);
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
    OpImage *sourceImage(const void *, int32_t, int32_t) override {
        const size_t at = (sourceRequest++ % (sourceSizes.size() / 2)) * 2;
        const int w = sourceSizes[at], h = sourceSizes[at + 1];
        if (w == 255) return nullptr; // the host has no picture
        OpImage *result = image(w, h);
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

} // namespace

void renderFuzzCase(const uint8_t *data, size_t size) {
    ByteReader in(data, size);
    FuzzHost host;
    host.width = 1 + in.byte() % 64;
    host.height = 2 * (1 + in.byte() % 32);
    const int32_t choices[3] = {in.byte() % 3, in.byte() % 3, in.byte() % 3};
    OperatorContext context{};
    context.renderFlags = in.byte();
    context.scaleNumerator = int16_t(in.half());
    context.scaleDenominator = int16_t(in.half());
    context.fieldNumber = in.byte();
    host.sourceSizes.resize(12);
    for (uint8_t &v : host.sourceSizes) v = in.byte() % 80 == 79 ? 255 : in.byte() % 80;
    host.sourceSeed = in.half();

    // The title: an ellipse of some luminance, then per-pixel changes.
    const int cx = in.byte() % 64, cy = in.byte() % 64, rx = 1 + in.byte() % 40,
              ry = 1 + in.byte() % 40;
    const uint8_t inside = in.byte() | 0x80;

    // The settings record: the input's bytes XORed onto the defaults, so that
    // short inputs stay near a real record and long ones reach any record.
    uint8_t changes[kSettingsSize];
    in.bytes(changes, sizeof changes);

    const size_t pixels = size_t(host.width) * host.height;
    for (auto &frame : host.frames) frame.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const int x = int(i % size_t(host.width)), y = int(i / size_t(host.width));
        const int ex = (x - cx) * 64 / rx, ey = (y - cy) * 64 / ry;
        const uint8_t shape = ex * ex + ey * ey <= 64 * 64 ? inside : 16;
        const uint8_t luminance = shape ^ in.byte();
        host.frames[1][i] = (uint32_t(luminance) << 24) | 0x808000u | luminance;
        host.frames[0][i] = 0x40000000u * (i % 4) + uint32_t(i * 2654435761u % 0xFFFFFFu);
    }

    HostBackend *previous = lustraInstallBackend(&host);
    GetOperatorInfo();
    const OperatorInfoTag *tags = GetOperatorInfo();
    for (int c = 0; c < 3; ++c)
        reinterpret_cast<HostChoice *>(tags[7 + c].value)->value = choices[c];
    context.action = 1;
    OperatorAction(&context);
    auto *record = reinterpret_cast<uint8_t *>(&settings);
    for (int i = 0; i < kSettingsSize; ++i) record[i] ^= changes[i];
    context.action = 3;
    OperatorAction(&context);
    ++context.fieldNumber;
    OperatorAction(&context);
    context.action = 2;
    OperatorAction(&context);
    lustraInstallBackend(previous);
}

} // namespace lustra::fuzz
