#include "Animation.h"

#include "Colour.h"
#include "Errors.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lustra::cli {

bool isPlacementTrack(std::string_view name) {
    return name == "position.x" || name == "position.y" || name == "titleScale";
}

void Animation::addOption(std::string_view option, bool force, std::vector<std::string> &warnings) {
    const size_t equals = option.find('=');
    if (equals == std::string_view::npos || equals == 0)
        throw UsageError("--animate needs FIELD=KEYS, e.g. --animate offsetX=0:-40,2s:40");
    const std::string name(option.substr(0, equals));
    const std::string what = "--animate " + name;
    add(name, parseKeys(option.substr(equals + 1), what), what, force, warnings);
}

void Animation::addFile(const std::string &path, bool force, std::vector<std::string> &warnings) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Failure(path + ": cannot read the keyframes file");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw Failure(path + ": cannot read the keyframes file");
    for (const FileTrack &track : parseKeyframesJson(text.str(), path))
        add(track.name, track.keys, path + ", " + track.name, force, warnings);
}

void Animation::add(const std::string &name, const std::vector<KeyText> &keys,
                    const std::string &what, bool force, std::vector<std::string> &warnings) {
    if (isPlacementTrack(name)) return addPlacement(name, keys, what, warnings);
    const FieldInfo *field = findField(name);
    if (!field) {
        const std::string hint = suggestField(name);
        throw UsageError(what + ": unknown settings field \"" + name + "\"" +
                         (hint.empty() ? "" : " (did you mean " + hint + "?)") +
                         "; `lustra settings show` lists them");
    }
    if (field->type == FieldType::Source)
        throw UsageError(what + ": a picture source cannot change over time");
    for (const FieldTrack &existing : tracks_)
        if (existing.field == field) throw UsageError(what + ": the field is animated twice");

    FieldTrack entry{field, Track{}};
    entry.track.name = name;
    entry.track.channels = field->type == FieldType::Colour ? 3 : 1;
    for (const KeyText &text : keys) {
        Key key;
        key.time = text.time;
        // Switches and modes step from value to value unless told otherwise.
        key.interpolation = text.interpolationGiven ? text.interpolation
                            : field->valueNames     ? Interpolation::Hold
                                                    : Interpolation::Linear;
        const std::string at = what + " at " + text.time.text;
        if (field->type == FieldType::Colour) {
            uint8_t rgb[3];
            const std::string &v = text.value;
            bool ok = v.size() == 7 && v[0] == '#';
            for (size_t i = 1; ok && i < 7; ++i)
                ok = std::isxdigit(static_cast<unsigned char>(v[i])) != 0;
            if (!ok)
                throw UsageError(at + ": \"" + v +
                                 "\" is not a colour #RRGGBB (keys of a colour "
                                 "are written in RGB)");
            const unsigned long value = std::stoul(v.substr(1), nullptr, 16);
            rgb[0] = uint8_t(value >> 16), rgb[1] = uint8_t(value >> 8), rgb[2] = uint8_t(value);
            key.value = {double(rgb[0]), double(rgb[1]), double(rgb[2])};
        } else {
            // The value as --set reads it (numbers and value names), within
            // the type's range; then clamped to the range allowed here.
            int64_t value = 0;
            const std::string &v = text.value;
            const size_t sign = v[0] == '-' || v[0] == '+' ? 1 : 0;
            if (v.size() > sign && v.size() - sign <= 12 &&
                std::all_of(v.begin() + sign, v.end(),
                            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                value = std::stoll(v);
            } else {
                Record scratch = defaultRecord();
                assignField(scratch, name + "=" + v, true);
                value = fieldValue(scratch, *field);
            }
            const int64_t lo = force ? typeMinimum(*field) : field->minimum;
            const int64_t hi = force ? typeMaximum(*field) : field->maximum;
            const bool isDefault = field->hasDefault && value == field->defaultValue;
            if ((value < lo || value > hi) && !isDefault) {
                const int64_t clamped = std::clamp(value, lo, hi);
                warnings.push_back(at + ": " + std::to_string(value) + " is outside " +
                                   (force ? "the type's range " : "the dialog range ") +
                                   std::to_string(lo) + ".." + std::to_string(hi) +
                                   ", clamped to " + std::to_string(clamped));
                value = clamped;
            }
            key.value = {double(value), 0, 0};
        }
        entry.track.keys.push_back(key);
    }
    // Times all in frames or all in seconds are in order at any rate: say so
    // now rather than once the inputs are open.
    const bool mixed = std::any_of(keys.begin(), keys.end(), [&](const KeyText &key) {
        return key.time.seconds != keys.front().time.seconds;
    });
    if (!mixed) lustra::cli::checkOrder(entry.track, 1, 1);
    tracks_.push_back(std::move(entry));
}

double parsePlacementValue(const std::string &name, const std::string &text, bool &percent,
                           const std::string &at, std::vector<std::string> &warnings) {
    std::string number = text;
    percent = !number.empty() && number.back() == '%';
    if (percent) number.pop_back();
    char *end = nullptr;
    const double value = number.empty() ? NAN : std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(value) || std::fabs(value) > 1e6)
        throw UsageError(at + ": \"" + text + "\" is not a number (" +
                         (name == "titleScale" ? "a factor, or a percentage: 50%)"
                                               : "pixels, or a percentage: 10%)"));
    if (name != "titleScale") return value;
    const double factor = percent ? value / 100 : value;
    const double lo = 0.001, hi = 100;
    if (factor >= lo && factor <= hi) return factor;
    const double clamped = std::clamp(factor, lo, hi);
    std::ostringstream line;
    line << at << ": " << text << " is outside the title scale's range 0.001..100 (0.1%..10000%)"
         << ", clamped to " << clamped;
    warnings.push_back(line.str());
    return clamped;
}

void Animation::addPlacement(const std::string &name, const std::vector<KeyText> &keys,
                             const std::string &what, std::vector<std::string> &warnings) {
    std::optional<PlacementTrack> &slot = name == "position.x"   ? x_
                                          : name == "position.y" ? y_
                                                                 : scale_;
    if (slot) throw UsageError(what + ": the field is animated twice");
    PlacementTrack entry;
    entry.track.name = name;
    for (const KeyText &text : keys) {
        const std::string at = what + " at " + text.time.text;
        bool percent = false;
        Key key;
        key.time = text.time;
        key.interpolation = text.interpolationGiven ? text.interpolation : Interpolation::Linear;
        key.value = {parsePlacementValue(name, text.value, percent, at, warnings), 0, 0};
        if (name != "titleScale") {
            if (&text == &keys.front())
                entry.percent = percent;
            else if (percent != entry.percent)
                throw UsageError(at + ": \"" + text.value +
                                 "\" mixes pixels and percent in one "
                                 "track; write every key of " +
                                 name + " in one unit");
        }
        entry.track.keys.push_back(key);
    }
    const bool mixed = std::any_of(keys.begin(), keys.end(), [&](const KeyText &key) {
        return key.time.seconds != keys.front().time.seconds;
    });
    if (!mixed) lustra::cli::checkOrder(entry.track, 1, 1);
    slot = std::move(entry);
}

void Animation::checkOrder(int rateNum, int rateDen) const {
    for (const FieldTrack &entry : tracks_) lustra::cli::checkOrder(entry.track, rateNum, rateDen);
    for (const std::optional<PlacementTrack> *entry : {&x_, &y_, &scale_})
        if (*entry) lustra::cli::checkOrder((*entry)->track, rateNum, rateDen);
}

TitlePlacement Animation::placement(const TitlePlacement &base, int64_t frame, int rateNum,
                                    int rateDen) const {
    TitlePlacement placement = base;
    if (x_) {
        placement.x = {evaluate(x_->track, frame, rateNum, rateDen)[0], x_->percent};
        placement.xPlaced = true;
    }
    if (y_) {
        placement.y = {evaluate(y_->track, frame, rateNum, rateDen)[0], y_->percent};
        placement.yPlaced = true;
    }
    if (scale_) placement.scale = evaluate(scale_->track, frame, rateNum, rateDen)[0];
    return placement;
}

void Animation::apply(Record &record, int64_t frame, int rateNum, int rateDen) const {
    for (const FieldTrack &entry : tracks_) {
        const std::array<int64_t, 3> value = evaluateRounded(entry.track, frame, rateNum, rateDen);
        if (entry.field->type == FieldType::Colour) {
            auto channel = [](int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); };
            setFieldValue(record, *entry.field,
                          rgbToHost(channel(value[0]), channel(value[1]), channel(value[2]), 0xFF));
        } else {
            setFieldValue(
                record, *entry.field,
                std::clamp(value[0], typeMinimum(*entry.field), typeMaximum(*entry.field)));
        }
    }
}

} // namespace lustra::cli
