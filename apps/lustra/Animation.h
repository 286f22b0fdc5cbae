// Settings that change over a clip: keyframe tracks of record fields
// (--animate FIELD=KEYS, --keyframes FILE) and the record they give at a
// frame.
#pragma once

#include "Keyframes.h"
#include "Placement.h"
#include "SettingsRecord.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lustra::cli {

// Names reserved for the title's placement (its position and scale), which
// are animated by the placement rather than by the record.
bool isPlacementTrack(std::string_view name);

// A track of the title's placement: position.x and position.y in pixels or
// in percent of the frame (as --position takes them, one unit a track),
// titleScale as a factor (keys written as 0.5 or 50% alike).
struct PlacementTrack {
    Track track;
    bool percent = false; // position keys in percent
};

// Reads a placement key's value for track `name` ("120", "-10.5", "50%").
// `percent` says whether it was written in percent; titleScale values come
// back as a factor, clamped to 0.001..100 with a line in `warnings`.
// Throws UsageError naming `at`.
double parsePlacementValue(const std::string &name, const std::string &text, bool &percent,
                           const std::string &at, std::vector<std::string> &warnings);

class Animation {
  public:
    struct FieldTrack {
        const FieldInfo *field;
        Track track;
    };

    // Adds "FIELD=KEYS". Values are checked against the field: numbers or
    // value names for number fields, #RRGGBB for colours; a value outside
    // the dialog range (the type's range with `force`) is clamped, with a
    // line in `warnings`. Throws UsageError for an unknown field, a picture
    // source, a field animated twice and bad keys.
    void addOption(std::string_view option, bool force, std::vector<std::string> &warnings);
    // Adds every track of a keyframes file (see parseKeyframesJson). Throws
    // Failure when the file cannot be read, UsageError for its contents.
    void addFile(const std::string &path, bool force, std::vector<std::string> &warnings);

    bool empty() const { return tracks_.empty() && !animatesPlacement(); }
    const std::vector<FieldTrack> &tracks() const { return tracks_; }
    // Record fields animated (the module needs new set-ups).
    bool animatesRecord() const { return !tracks_.empty(); }
    bool animatesPlacement() const { return x_ || y_ || scale_; }

    // Throws UsageError unless every track's times increase at this rate.
    void checkOrder(int rateNum, int rateDen) const;
    // Writes the animated fields' values at `frame` into `record`.
    void apply(Record &record, int64_t frame, int rateNum, int rateDen) const;
    // The placement of `frame`: `base` (--anchor, --position, --title-scale)
    // with each animated component taken from its track.
    TitlePlacement placement(const TitlePlacement &base, int64_t frame, int rateNum,
                             int rateDen) const;

  private:
    void add(const std::string &name, const std::vector<KeyText> &keys, const std::string &what,
             bool force, std::vector<std::string> &warnings);
    void addPlacement(const std::string &name, const std::vector<KeyText> &keys,
                      const std::string &what, std::vector<std::string> &warnings);
    std::vector<FieldTrack> tracks_;
    std::optional<PlacementTrack> x_, y_, scale_;
};

} // namespace lustra::cli
