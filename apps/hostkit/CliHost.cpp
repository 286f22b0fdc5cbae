#include "CliHost.h"

#include <cstring>
#include <limits>
#include <new>

namespace lustra::cli {

CliHost::CliHost(Installer install) : install_(install), previous_(install(this)) {}

CliHost::~CliHost() {
    install_(previous_);
}

void CliHost::setFrames(int64_t frameIndex, const HostFrame *background, const HostFrame *title) {
    frameIndex_ = frameIndex;
    frames_[0] = background;
    frames_[1] = title;
}

OpImage *CliHost::newImage(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int16_t>::max() ||
        height > std::numeric_limits<int16_t>::max())
        return nullptr;
    auto *image = new (std::nothrow) OpImage{};
    if (!image) return nullptr;
    image->pixels = new (std::nothrow) uint32_t[size_t(width) * size_t(height)];
    if (!image->pixels) {
        delete image;
        return nullptr;
    }
    image->width = static_cast<int16_t>(width);
    image->height = static_cast<int16_t>(height);
    ++liveImages_;
    return image;
}

OpImage *CliHost::getField(int32_t input, int32_t fieldNumber) {
    if (input < 0 || input > 1 || fieldNumber < 0 || fieldNumber / 2 != frameIndex_) return nullptr;
    const HostFrame *frame = frames_[input];
    if (!frame || frame->height < 2) return nullptr;
    OpImage *field = newImage(frame->width, frame->height / 2);
    if (!field) return nullptr;
    // Field 2k holds the odd frame rows, field 2k + 1 the even rows.
    const int firstRow = fieldNumber % 2 == 0 ? 1 : 0;
    for (int y = 0; y < field->height; ++y)
        std::memcpy(field->pixels + size_t(y) * frame->width, frame->row(2 * y + firstRow),
                    size_t(frame->width) * 4);
    return field;
}

OpImage *CliHost::allocImage(int32_t width, int32_t height, int32_t, int32_t) {
    const HostFrame *project = frames_[1] ? frames_[1] : frames_[0];
    if ((width == 0 && height == 0) || (width == -1 && height == -1)) {
        if (!project) return nullptr;
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
    for (int y = 0; y < image->height; ++y)
        std::memcpy(output_->row(2 * y + parity), image->pixels + size_t(y) * image->width,
                    size_t(image->width) * 4);
    freeImage(image);
    return 0;
}

void CliHost::freeImage(OpImage *image) {
    if (!image) return;
    delete[] image->pixels;
    delete image;
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
    OpImage *image = newImage(picture->width, picture->height);
    if (image) std::memcpy(image->pixels, picture->pixels.data(), picture->pixels.size() * 4);
    return image;
}

void CliHost::logMessage(int32_t, int32_t line, const char *, uint32_t, const char *) {
    logLines.push_back(line);
}

} // namespace lustra::cli
