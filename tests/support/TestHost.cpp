#include "support/TestHost.h"

#include <algorithm>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace lustra::test {

Frame solidFrame(int32_t width, int32_t height, uint32_t pixel) {
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.pixels.assign(size_t(width) * height, pixel);
    return frame;
}

TestHost::TestHost() : previous_(lustraInstallBackend(this)) {}

TestHost::~TestHost() {
    lustraInstallBackend(previous_);
}

std::vector<int32_t> TestHost::loggedLines() const {
    std::vector<int32_t> lines;
    for (const LogLine &log : logLines) lines.push_back(log.line);
    return lines;
}

OpImage *TestHost::newImage(int32_t width, int32_t height) {
    auto *image = new OpImage{};
    image->width = static_cast<int16_t>(width);
    image->height = static_cast<int16_t>(height);
    image->pixels = width > 0 && height > 0 ? new uint32_t[size_t(width) * height]() : nullptr;
    if (image->pixels)
        std::fill(image->pixels, image->pixels + size_t(width) * height, newImageFill);
    ++liveImages;
    return image;
}

OpImage *TestHost::getField(int32_t input, int32_t fieldNumber) {
    fieldRequests.emplace_back(input, fieldNumber);
    if (input < 0 || input > 1 || fieldNumber < 0) return nullptr;
    if (missingFields.count({input, fieldNumber})) return nullptr;
    const std::vector<Frame> &frames = clip[input];
    const size_t index = size_t(fieldNumber) / 2;
    if (index >= frames.size()) return nullptr;
    const Frame &frame = frames[index];
    // Field 2k: odd frame rows; field 2k + 1: even frame rows.
    const int32_t firstRow = fieldNumber % 2 == 0 ? 1 : 0;
    OpImage *field = newImage(frame.width, frame.height / 2);
    for (int32_t y = 0; y < frame.height / 2; ++y)
        std::memcpy(field->pixels + size_t(y) * frame.width,
                    frame.pixels.data() + size_t(2 * y + firstRow) * frame.width,
                    size_t(frame.width) * 4);
    return field;
}

OpImage *TestHost::allocImage(int32_t width, int32_t height, int32_t, int32_t) {
    int32_t w = fieldWidth, h = fieldHeight;
    if (w == 0 && !clip[0].empty()) {
        w = clip[0][0].width;
        h = clip[0][0].height / 2;
    }
    if (width == 0 && height == 0) return refuseGeometry ? nullptr : newImage(w, h);
    if (width == -1 && height == -1)
        return refuseOutputField ? nullptr : newImage(w + outputWidthDelta, h);
    return newImage(width, height);
}

int32_t TestHost::putField(OpImage *image) {
    PutField put{image->width, image->height, {}};
    if (image->pixels)
        put.pixels.assign(image->pixels, image->pixels + size_t(image->width) * image->height);
    putFields.push_back(std::move(put));
    freeImage(image);
    return putResult;
}

void TestHost::freeImage(OpImage *image) {
    if (!image) return;
    delete[] image->pixels;
    delete image;
    --liveImages;
}

int32_t TestHost::checkAbort() {
    ++abortChecks;
    return 0;
}

const char *TestHost::customPrefsName(uint32_t, const char *, int32_t, int32_t) {
    return customName;
}

OpImage *TestHost::sourceImage(const void *descriptor, int32_t, int32_t) {
    ++sourceRequests;
    char text[LFX_SOURCE_DESCRIPTOR_SIZE + 1] = {};
    std::memcpy(text, descriptor, LFX_SOURCE_DESCRIPTOR_SIZE);
    auto found = sources.find(text);
    if (found == sources.end()) return nullptr;
    const Frame &frame = found->second;
    OpImage *image = newImage(frame.width, frame.height);
    if (image->pixels) std::memcpy(image->pixels, frame.pixels.data(), frame.pixels.size() * 4);
    return image;
}

void TestHost::logMessage(int32_t severity, int32_t line, const char *source, uint32_t code,
                          const char *text) {
    logLines.push_back({severity, line, source ? source : "", code, text ? text : ""});
}

TempHome::TempHome() {
    char pattern[] = "/tmp/lustra-home-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot create a temporary home");
    path_ = pattern;
    fs::create_directories(path_ + "/programs/lustra/settings");
    fs::create_directories(path_ + "/lustra");
    for (const auto &entry : fs::directory_iterator(std::string(LUSTRA_DATA_DIR) + "/lustra"))
        fs::copy_file(entry.path(), path_ + "/lustra/" + entry.path().filename().string());
    if (const char *old = std::getenv("VXHOME")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    setenv("VXHOME", path_.c_str(), 1);
}

TempHome::~TempHome() {
    if (hadPrevious_)
        setenv("VXHOME", previous_.c_str(), 1);
    else
        unsetenv("VXHOME");
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempHome::settingsPath(const std::string &name) const {
    return path_ + "/programs/lustra/settings/" + name;
}

Module::Module() {
    handle_ = dlopen(LUSTRAFEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("cannot load the module: ") + dlerror());
    operatorAction =
        reinterpret_cast<int32_t (*)(OperatorContext *)>(dlsym(handle_, "OperatorAction"));
    getOperatorInfo =
        reinterpret_cast<const OperatorInfoTag *(*)()>(dlsym(handle_, "GetOperatorInfo"));
    if (!operatorAction || !getOperatorInfo) throw std::runtime_error("module exports missing");
    context.scaleNumerator = 1;
    context.scaleDenominator = 1;
    context.pixelAspect = 1000;
}

Module::~Module() {
    // A host ends an effect instance with clean-up, which frees the cached
    // source pictures. LUSTRA_TEST_KEEP_MODULE keeps the module loaded, so
    // that sanitizer reports can name its functions.
    OperatorContext cleanup{};
    cleanup.action = 2;
    if (operatorAction) operatorAction(&cleanup);
    if (handle_ && !std::getenv("LUSTRA_TEST_KEEP_MODULE")) dlclose(handle_);
}

uintptr_t Module::tag(uint32_t tag) const {
    for (const OperatorInfoTag *entry = getOperatorInfo(); entry->tag != 0; ++entry)
        if (entry->tag == tag) return entry->value;
    return 0;
}

void Module::setChoices(int32_t secondLayers, int32_t flickerFilter, int32_t fieldWise) const {
    choice(LFX_TAG(5))->value = secondLayers;
    choice(LFX_TAG(6))->value = flickerFilter;
    choice(LFX_TAG(7))->value = fieldWise;
}

int32_t Module::action(uint16_t code, int32_t fieldNumber, uint8_t renderFlags) {
    context.action = code;
    context.fieldNumber = fieldNumber;
    context.renderFlags = renderFlags;
    return operatorAction(&context);
}

void put16(std::vector<uint8_t> &record, size_t offset, int32_t value) {
    record[offset] = uint8_t(value);
    record[offset + 1] = uint8_t(value >> 8);
}

void put32(std::vector<uint8_t> &record, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) record[offset + i] = uint8_t(value >> (8 * i));
}

std::vector<uint8_t> defaultSettingsBytes() {
    std::vector<uint8_t> r(824, 0);
    const uint8_t head[28] = {0,    0, 0, 0, 0,  0,   0,   0, 0, 0, 0,   8,  100, 7,
                              0xFF, 0, 0, 0, 10, 100, 100, 0, 0, 5, 100, 30, 1,   128};
    std::memcpy(r.data(), head, sizeof head);
    put32(r, 28, uint32_t(-18));
    put32(r, 32, uint32_t(-18));
    for (size_t offset : {148, 274, 658, 788}) put32(r, offset, 0x00640064);
    put32(r, 404, 0x801092FF);
    put32(r, 408, 0xEB8080FF);
    put32(r, 412, 0x108080FF);
    r[417] = 1;
    put32(r, 532, 0x7A8080FF);
    put32(r, 536, 0xEB8080FF);
    put32(r, 540, 0x108080FF);
    r[544] = 25;
    r[545] = 1;
    put32(r, 662, 0x0000FFFF);
    put32(r, 792, 0x0000FFFF);
    put32(r, 808, 0xD21092FF);
    put32(r, 812, 0x515AF0FF);
    put32(r, 816, 0x108080FF);
    return r;
}

void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace lustra::test
