// Keyframe text (--animate KEYS) and keyframes files (--keyframes FILE) as
// any user might write them. The first byte picks the form and the frame
// rate; whatever parses is ordered and evaluated.
#include "Errors.h"
#include "FuzzCases.h"
#include "Keyframes.h"

#include <string_view>
#include <vector>

namespace lustra::fuzz {

void keyframesFuzzCase(const uint8_t *data, size_t size) {
    using namespace lustra::cli;
    if (size == 0) return;
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
            for (const KeyText &key : list) {
                Key value;
                value.time = key.time;
                value.interpolation = key.interpolation;
                // Values from the text's length and bytes: large, negative, zero.
                const double length = double(key.value.size());
                value.value = {length * 1e6 - 3e6, double(int8_t(key.value[0])), -length};
                track.keys.push_back(value);
            }
            checkOrder(track, rateNum, rateDen);
            const int64_t last = list.empty() ? 0 : list.back().time.count;
            for (int64_t frame : {int64_t(0), int64_t(1), last, last + 1, last / 3})
                evaluateRounded(track, frame, rateNum, rateDen);
        }
    } catch (const UsageError &) {
    }
}

} // namespace lustra::fuzz
