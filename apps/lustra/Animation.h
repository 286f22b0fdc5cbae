// Settings that change over a clip: keyframe tracks of record fields
// (--animate FIELD=KEYS, --keyframes FILE) and the record they give at a
// frame.
#pragma once

#include "Keyframes.h"
#include "SettingsRecord.h"

#include <string>
#include <string_view>
#include <vector>

namespace lustra::cli {

// Names reserved for the title's placement (its position and scale), which
// are animated by the placement rather than by the record.
bool isPlacementTrack(std::string_view name);

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

    bool empty() const { return tracks_.empty(); }
    const std::vector<FieldTrack> &tracks() const { return tracks_; }

    // Throws UsageError unless every track's times increase at this rate.
    void checkOrder(int rateNum, int rateDen) const;
    // Writes the animated fields' values at `frame` into `record`.
    void apply(Record &record, int64_t frame, int rateNum, int rateDen) const;

  private:
    void add(const std::string &name, const std::vector<KeyText> &keys, const std::string &what,
             bool force, std::vector<std::string> &warnings);
    std::vector<FieldTrack> tracks_;
};

} // namespace lustra::cli
