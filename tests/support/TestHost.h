// The test host: a backend of the stand-in host library that serves fields
// from frames in memory and records what the module hands back, logs and
// asks. Also loads the built module through the dynamic loader.
#pragma once

#include "lustrafex/host_backend.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lustra::test {

// A host pixel: Y in byte 3, Cb in byte 2, Cr in byte 1, alpha in byte 0.
constexpr uint32_t hostPixel(uint32_t y, uint32_t cb, uint32_t cr, uint32_t alpha = 255) {
    return (y << 24) | (cb << 16) | (cr << 8) | alpha;
}

struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

// A frame of one colour.
Frame solidFrame(int32_t width, int32_t height, uint32_t pixel);

struct LogLine {
    int32_t severity;
    int32_t line;
    std::string source;
    uint32_t code;
    std::string text;
};

struct PutField {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
};

class TestHost : public HostBackend {
  public:
    TestHost();
    ~TestHost() override;

    // Clip of each input: field 2k is the odd rows of frame k, field 2k + 1
    // its even rows.
    std::vector<Frame> clip[2];
    // Fields the host cannot deliver, as (input, field number).
    std::set<std::pair<int32_t, int32_t>> missingFields;
    // Project field geometry; zero means "from the first frame of input 0".
    int32_t fieldWidth = 0, fieldHeight = 0;
    bool refuseGeometry = false;    // opAllocImage(0, 0) returns null
    bool refuseOutputField = false; // opAllocImage(-1, -1) returns null
    int32_t outputWidthDelta = 0;   // output fields differ from the project geometry
    int32_t putResult = 0;
    uint32_t newImageFill = 0; // every pixel of a new image, as a recycled one holds old pixels
    const char *customName = nullptr;
    std::map<std::string, Frame> sources; // pictures by descriptor text

    // Recorded.
    std::vector<PutField> putFields;
    std::vector<LogLine> logLines;
    std::vector<std::pair<int32_t, int32_t>> fieldRequests;
    int32_t abortChecks = 0;
    int32_t sourceRequests = 0;
    int32_t liveImages = 0; // images handed out and not yet freed or taken back

    std::vector<int32_t> loggedLines() const;

    OpImage *getField(int32_t input, int32_t fieldNumber) override;
    OpImage *allocImage(int32_t width, int32_t height, int32_t depth, int32_t flags) override;
    int32_t putField(OpImage *image) override;
    void freeImage(OpImage *image) override;
    int32_t checkAbort() override;
    const char *customPrefsName(uint32_t node, const char *prefix, int32_t a, int32_t b) override;
    OpImage *sourceImage(const void *descriptor, int32_t a, int32_t b) override;
    void logMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                    const char *text) override;

    OpImage *newImage(int32_t width, int32_t height);

  private:
    HostBackend *previous_;
};

// A VXHOME of its own: a temporary directory with the data files and an
// empty settings directory; VXHOME points at it while the object lives.
class TempHome {
  public:
    TempHome();
    ~TempHome();
    const std::string &path() const { return path_; }
    std::string settingsPath(const std::string &name = "last.prf") const;

  private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// The built module, loaded with dlopen and unloaded at the end, so that every
// test starts from a freshly loaded module.
class Module {
  public:
    Module();
    ~Module();
    int32_t (*operatorAction)(OperatorContext *) = nullptr;
    const OperatorInfoTag *(*getOperatorInfo)() = nullptr;
    // The value of a tag, or 0.
    uintptr_t tag(uint32_t tag) const;
    HostChoice *choice(uint32_t tag) const {
        return reinterpret_cast<HostChoice *>(this->tag(tag));
    }
    void setChoices(int32_t secondLayers, int32_t flickerFilter, int32_t fieldWise) const;

    int32_t action(uint16_t code, int32_t fieldNumber = 0, uint8_t renderFlags = 0);
    OperatorContext context{};

  private:
    void *handle_ = nullptr;
};

// The default settings record, written out independently of the module.
std::vector<uint8_t> defaultSettingsBytes();
// Little-endian stores into a settings record.
void put16(std::vector<uint8_t> &record, size_t offset, int32_t value);
void put32(std::vector<uint8_t> &record, size_t offset, uint32_t value);

// Writes a raw settings record file.
void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes);
std::vector<uint8_t> readBytes(const std::string &path);

} // namespace lustra::test
