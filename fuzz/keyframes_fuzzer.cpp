// libFuzzer entry: keyframe text (--animate KEYS) and keyframes files
// (--keyframes FILE) as any user might write them. The first byte picks the
// form and the frame rate; whatever parses is ordered and evaluated.
#include "Errors.h"
#include "Keyframes.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace lustra::cli;
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    const int rates[][2] = {{25, 1}, {30000, 1001}, {1, 1}, {1000000, 1}};
    const int rateNum = rates[(choice >> 1) & 3][0], rateDen = rates[(choice >> 1) & 3][1];
    try {
        std::vector<std::vector<KeyText>> lists;
        if (choice & 1) {
            for (FileTrack &track : parseKeyframesJson(text, "fuzz.json"))
                lists.push_back(std::move(track.keys));
        } else {
            lists.push_back(parseKeys(text, "--animate fuzz"));
        }
        for (const std::vector<KeyText> &list : lists) {
            Track track;
            track.name = "fuzz";
            track.channels = 3;
            for (const KeyText &text : list) {
                Key key;
                key.time = text.time;
                key.interpolation = text.interpolation;
                // Values from the text's length and bytes: large, negative, zero.
                const double size = double(text.value.size());
                key.value = {size * 1e6 - 3e6, double(int8_t(text.value[0])), -size};
                track.keys.push_back(key);
            }
            checkOrder(track, rateNum, rateDen);
            const int64_t last = list.empty() ? 0 : list.back().time.count;
            for (int64_t frame : {int64_t(0), int64_t(1), last, last + 1, last / 3})
                evaluateRounded(track, frame, rateNum, rateDen);
        }
    } catch (const UsageError &) {
    }
    return 0;
}
