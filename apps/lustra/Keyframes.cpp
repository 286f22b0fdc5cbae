#include "Keyframes.h"

#include "Errors.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

namespace lustra::cli {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// A frame number (digits) or seconds (digits[.digits]s).
KeyTime parseTime(std::string_view text, const std::string &what) {
    KeyTime time;
    time.text = std::string(text);
    auto bad = [&] {
        return UsageError(what + ": \"" + std::string(text) +
                          "\" is not a time: write a frame number (12) or seconds (2s, 1.5s)");
    };
    std::string_view number = text;
    std::string digits;
    if (!number.empty() && number.back() == 's') {
        time.seconds = true;
        number.remove_suffix(1);
        const size_t point = number.find('.');
        const std::string_view whole = number.substr(0, point);
        if (!allDigits(whole)) throw bad();
        digits = std::string(whole);
        if (point != std::string_view::npos) {
            const std::string_view fraction = number.substr(point + 1);
            if (!allDigits(fraction) || fraction.size() > 6) throw bad();
            digits += std::string(fraction);
            for (size_t i = 0; i < fraction.size(); ++i) time.scale *= 10;
        }
    } else if (!allDigits(number)) {
        throw bad();
    } else {
        digits = std::string(number);
    }
    // Far beyond any clip; keeps the exact comparisons within 128 bits.
    if (digits.size() > 15) throw bad();
    time.count = std::stoll(digits);
    return time;
}

// A small strict JSON reader for the keyframes file.
class JsonReader {
  public:
    JsonReader(std::string_view text, const std::string &what) : text_(text), what_(what) {}

    std::vector<FileTrack> file() {
        std::vector<FileTrack> tracks;
        std::set<std::string> names;
        skipSpace();
        expect('{', "the file holds one object: field name -> list of keys");
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                FileTrack track;
                track.name = string();
                if (!names.insert(track.name).second)
                    throw fault("\"" + track.name + "\" is given twice");
                skipSpace();
                expect(':', "':' after a field name");
                skipSpace();
                track.keys = keyList(track.name);
                tracks.push_back(std::move(track));
                skipSpace();
            } while (take(','));
            expect('}', "',' or '}'");
        }
        skipSpace();
        if (position_ != text_.size()) throw fault("text after the object");
        return tracks;
    }

  private:
    std::vector<KeyText> keyList(const std::string &field) {
        std::vector<KeyText> keys;
        expect('[', "a list of keys for " + field);
        skipSpace();
        if (take(']')) throw fault(field + " has no keys");
        do {
            skipSpace();
            keys.push_back(key(field));
            skipSpace();
        } while (take(','));
        expect(']', "',' or ']'");
        return keys;
    }

    KeyText key(const std::string &field) {
        KeyText key;
        bool hasTime = false, hasValue = false;
        std::set<std::string> seen;
        expect('{', "a key {\"time\": ..., \"value\": ...}");
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                const size_t start = position_;
                const std::string name = string();
                if (!seen.insert(name).second) throw fault("\"" + name + "\" is given twice");
                skipSpace();
                expect(':', "':' after a name");
                skipSpace();
                const std::string where = what_ + ", " + field;
                if (name == "time") {
                    key.time = parseTime(scalar(), where);
                    hasTime = true;
                } else if (name == "value") {
                    key.value = scalar();
                    hasValue = true;
                } else if (name == "interpolation") {
                    if (peek() != '"') throw fault("the interpolation is a string");
                    key.interpolation = parseInterpolation(string(), where);
                    key.interpolationGiven = true;
                } else {
                    position_ = start;
                    throw fault("unknown key entry \"" + name +
                                "\" (a key has time, value and interpolation)");
                }
                skipSpace();
            } while (take(','));
            expect('}', "',' or '}'");
        }
        if (!hasTime || !hasValue) throw fault(field + ": a key needs a time and a value");
        return key;
    }

    // A string's contents, or a number's text as written.
    std::string scalar() {
        if (peek() == '"') return string();
        const size_t start = position_;
        if (peek() == '-') ++position_;
        if (!std::isdigit(static_cast<unsigned char>(peek()))) throw fault("a number or a string");
        if (peek() == '0')
            ++position_;
        else
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++position_;
        if (peek() == '.') {
            ++position_;
            if (!std::isdigit(static_cast<unsigned char>(peek()))) throw fault("digits after '.'");
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++position_;
        }
        if (peek() == 'e' || peek() == 'E') throw fault("a number with an exponent (write it out)");
        return std::string(text_.substr(start, position_ - start));
    }

    std::string string() {
        expect('"', "a string in double quotes");
        std::string result;
        while (true) {
            if (position_ >= text_.size()) throw fault("the string does not end");
            const char c = text_[position_++];
            if (c == '"') return result;
            if (static_cast<unsigned char>(c) < 0x20)
                throw fault("a control character in a string");
            if (c != '\\') {
                result += c;
                continue;
            }
            if (position_ >= text_.size()) throw fault("the string does not end");
            const char escaped = text_[position_++];
            switch (escaped) {
            case '"':
                result += '"';
                break;
            case '\\':
                result += '\\';
                break;
            case '/':
                result += '/';
                break;
            case 'n':
                result += '\n';
                break;
            case 't':
                result += '\t';
                break;
            case 'r':
                result += '\r';
                break;
            case 'b':
                result += '\b';
                break;
            case 'f':
                result += '\f';
                break;
            default:
                throw fault("an escape other than \\\" \\\\ \\/ \\n \\t \\r \\b \\f");
            }
        }
    }

    char peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
    bool take(char c) {
        if (peek() != c) return false;
        ++position_;
        return true;
    }
    void expect(char c, const std::string &wanted) {
        if (!take(c)) throw fault("expected " + wanted);
    }
    void skipSpace() {
        while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t' ||
                                            text_[position_] == '\n' || text_[position_] == '\r'))
            ++position_;
    }
    UsageError fault(const std::string &message) const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < position_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return UsageError(what_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                          message);
    }

    std::string_view text_;
    const std::string &what_;
    size_t position_ = 0;
};

} // namespace

Interpolation parseInterpolation(std::string_view name, const std::string &what) {
    if (name == "linear") return Interpolation::Linear;
    if (name == "ease") return Interpolation::Ease;
    if (name == "hold") return Interpolation::Hold;
    throw UsageError(what + ": \"" + std::string(name) +
                     "\" is not an interpolation (linear, ease or hold)");
}

const char *interpolationName(Interpolation interpolation) {
    switch (interpolation) {
    case Interpolation::Ease:
        return "ease";
    case Interpolation::Hold:
        return "hold";
    default:
        return "linear";
    }
}

std::vector<KeyText> parseKeys(std::string_view text, const std::string &what) {
    std::vector<KeyText> keys;
    if (trim(text).empty()) throw UsageError(what + ": no keys (write TIME:VALUE,...)");
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        const std::string_view item =
            trim(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
        const size_t first = item.find(':');
        if (item.empty() || first == std::string_view::npos)
            throw UsageError(what + ": \"" + std::string(item) +
                             "\" is not a key: write TIME:VALUE or TIME:VALUE:INTERPOLATION");
        KeyText key;
        key.time = parseTime(trim(item.substr(0, first)), what);
        std::string_view rest = item.substr(first + 1);
        const size_t second = rest.find(':');
        if (second != std::string_view::npos) {
            key.interpolation = parseInterpolation(trim(rest.substr(second + 1)), what);
            key.interpolationGiven = true;
            rest = rest.substr(0, second);
        }
        rest = trim(rest);
        if (rest.empty())
            throw UsageError(what + ": the key at " + key.time.text + " has no value");
        key.value = std::string(rest);
        keys.push_back(std::move(key));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return keys;
}

namespace {

// A frame position as an exact fraction (the denominator positive).
struct Position {
    __int128 num, den;
};

Position positionOf(const KeyTime &time, int rateNum, int rateDen) {
    if (!time.seconds) return {time.count, time.scale};
    return {__int128(time.count) * rateNum, __int128(time.scale) * rateDen};
}

int compare(Position a, Position b) {
    const __int128 left = a.num * b.den, right = b.num * a.den;
    return left < right ? -1 : left > right ? 1 : 0;
}

} // namespace

double framePosition(const KeyTime &time, int rateNum, int rateDen) {
    const Position p = positionOf(time, rateNum, rateDen);
    return double(p.num) / double(p.den);
}

int compareTimes(const KeyTime &a, const KeyTime &b, int rateNum, int rateDen) {
    return compare(positionOf(a, rateNum, rateDen), positionOf(b, rateNum, rateDen));
}

void checkOrder(const Track &track, int rateNum, int rateDen) {
    for (size_t i = 1; i < track.keys.size(); ++i) {
        if (compareTimes(track.keys[i].time, track.keys[i - 1].time, rateNum, rateDen) <= 0)
            throw UsageError(track.name + ": the key at " + track.keys[i].time.text +
                             " does not come after the key at " + track.keys[i - 1].time.text +
                             (track.keys[i].time.seconds != track.keys[i - 1].time.seconds
                                  ? " at " + std::to_string(rateNum) + "/" +
                                        std::to_string(rateDen) + " frames per second"
                                  : std::string()) +
                             ": the times of a track must increase");
    }
}

std::array<double, 3> evaluate(const Track &track, int64_t frame, int rateNum, int rateDen) {
    const std::vector<Key> &keys = track.keys;
    if (keys.empty()) return {};
    const Position at{frame, 1};
    if (compare(at, positionOf(keys.front().time, rateNum, rateDen)) <= 0)
        return keys.front().value;
    for (size_t i = 1; i < keys.size(); ++i) {
        if (compare(at, positionOf(keys[i].time, rateNum, rateDen)) >= 0) continue;
        const double start = framePosition(keys[i - 1].time, rateNum, rateDen);
        const double end = framePosition(keys[i].time, rateNum, rateDen);
        const double u = std::clamp((double(frame) - start) / (end - start), 0.0, 1.0);
        double weight = u;
        if (keys[i].interpolation == Interpolation::Ease) weight = u * u * (3 - 2 * u);
        if (keys[i].interpolation == Interpolation::Hold) weight = 0;
        std::array<double, 3> value{};
        for (int c = 0; c < 3; ++c)
            value[c] = keys[i - 1].value[c] + (keys[i].value[c] - keys[i - 1].value[c]) * weight;
        return value;
    }
    return keys.back().value;
}

int64_t roundHalfAway(double value) {
    return int64_t(std::round(value));
}

std::array<int64_t, 3> evaluateRounded(const Track &track, int64_t frame, int rateNum,
                                       int rateDen) {
    const std::array<double, 3> value = evaluate(track, frame, rateNum, rateDen);
    return {roundHalfAway(value[0]), roundHalfAway(value[1]), roundHalfAway(value[2])};
}

std::vector<FileTrack> parseKeyframesJson(std::string_view text, const std::string &what) {
    return JsonReader(text, what).file();
}

} // namespace lustra::cli
