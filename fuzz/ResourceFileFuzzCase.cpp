// The stand-in host's resource file reader: the bytes are the file
// "lustra_ops". Whatever it accepts must hold what its users rely on:
// texts end with a 0 unit, images hold width x height pixels within the
// size limit.
#include "FuzzCases.h"
#include "ResourceFile.h"

#include <cstdlib>

namespace lustra::fuzz {

void resourceFileFuzzCase(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    resources::Contents contents;
    if (!resources::parse(bytes, contents)) {
        if (!contents.texts.empty() || !contents.images.empty()) std::abort();
        return;
    }
    for (const auto &[id, text] : contents.texts)
        if (text.empty() || text.back() != 0 || text.size() > resources::kMaxTextUnits + 1)
            std::abort();
    for (const auto &[id, image] : contents.images)
        if (image.width < 1 || image.height < 1 || image.width > resources::kMaxImageSide ||
            image.height > resources::kMaxImageSide ||
            image.pixels.size() != size_t(image.width) * size_t(image.height))
            std::abort();
}

} // namespace lustra::fuzz
