// Keyframes: values that change over a clip. Independent of what they
// animate: a track is a list of keys (a time, one or three channels, an
// interpolation) evaluated at a frame index with the clip's frame rate.
//
// The text form of a track is KEY,KEY,... with KEY = TIME:VALUE[:INTERP]:
//   TIME    a frame number (12) or a time in seconds (2s, 1.5s, at most six
//           decimals), never negative; a time lies at frame position
//           seconds x rate, which need not be a whole frame
//   VALUE   the text the caller converts (a number, #RRGGBB, a value name)
//   INTERP  linear, ease or hold: how the value travels from the previous
//           key to this one (the first key's interpolation is never used)
// Before the first key a track holds the first value, after the last key
// the last value. Linear moves at constant speed, ease along the smoothstep
// 3u^2 - 2u^3 (slow at both ends), hold keeps the previous key's value until
// the frame at this key's position, where it jumps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lustra::cli {

enum class Interpolation { Linear, Ease, Hold };

// A time exactly as written: `count` / `scale` frames, or seconds when
// `seconds` is set (1.25s: count 125, scale 100), so that a key meets a
// frame exactly (0.12s at 25 frames per second is frame 3, not a hair after).
struct KeyTime {
    int64_t count = 0;
    int64_t scale = 1;
    bool seconds = false; // written with an s
    std::string text;     // as written, for messages
};

// One key as written, before its value is understood.
struct KeyText {
    KeyTime time;
    std::string value;
    Interpolation interpolation = Interpolation::Linear;
    bool interpolationGiven = false;
};

// Parses KEY,KEY,... (see above). Throws UsageError naming `what` for bad
// syntax, an empty list or a time of the wrong form. The order of the times
// is checked by checkOrder once the frame rate is known.
std::vector<KeyText> parseKeys(std::string_view text, const std::string &what);

// Parses an interpolation name; throws UsageError naming `what`.
Interpolation parseInterpolation(std::string_view name, const std::string &what);
const char *interpolationName(Interpolation interpolation);

// A time as a frame position at `rateNum`/`rateDen` frames per second
// (for interpolation; the order of times and frames is decided exactly).
double framePosition(const KeyTime &time, int rateNum, int rateDen);
// -1, 0 or 1 as frame position `a` lies before, at or after `b`.
int compareTimes(const KeyTime &a, const KeyTime &b, int rateNum, int rateDen);

struct Key {
    KeyTime time;
    std::array<double, 3> value{}; // channels 1.. unused by a scalar track
    Interpolation interpolation = Interpolation::Linear;
};

struct Track {
    std::string name; // the field (or pseudo-field) it animates
    int channels = 1; // 1: a number, 3: an RGB colour
    std::vector<Key> keys;
};

// Throws UsageError unless the keys' frame positions strictly increase.
void checkOrder(const Track &track, int rateNum, int rateDen);

// The track's value at frame `frame` (real, before rounding), per channel.
std::array<double, 3> evaluate(const Track &track, int64_t frame, int rateNum, int rateDen);

// Round half away from zero: how every interpolated value becomes whole.
int64_t roundHalfAway(double value);

// The track's value at `frame` rounded per channel (half away from zero).
std::array<int64_t, 3> evaluateRounded(const Track &track, int64_t frame, int rateNum, int rateDen);

// A keyframes file: a JSON object, field name -> array of keys, each an
// object {"time": 12 | "12" | "2s", "value": number | "text",
// "interpolation": "linear" | "ease" | "hold"} ("interpolation" may be left
// out). Strict JSON (no comments, no trailing commas, no duplicate fields).
// Throws UsageError naming `what` (the file) and the place of the fault.
struct FileTrack {
    std::string name;
    std::vector<KeyText> keys;
};
std::vector<FileTrack> parseKeyframesJson(std::string_view text, const std::string &what);

} // namespace lustra::cli
