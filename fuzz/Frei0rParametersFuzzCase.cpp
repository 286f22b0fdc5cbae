// The frei0r plug-ins' parameter strings and numbers: byte 0 chooses a
// parameter of the filter or the mixer, bytes 1..8 are the double a host
// sets for it and bytes 9..12 a field value read back (fields hold at most
// 32 bits); the rest is the `set` string, applied over the defaults.
#include "FuzzCases.h"
#include "Parameters.h"

#include <cstring>
#include <string>
#include <vector>

namespace lustra::fuzz {

void frei0rParametersFuzzCase(const uint8_t *data, size_t size) {
    uint8_t head[13] = {};
    if (size != 0) std::memcpy(head, data, size < sizeof head ? size : sizeof head);
    const bool mixer = (head[0] & 0x80) != 0;
    const std::vector<frei0r::Parameter> &list = frei0r::parameters(mixer);
    const frei0r::Parameter &parameter = list[(head[0] & 0x7F) % list.size()];
    double value;
    int32_t fieldValue;
    std::memcpy(&value, head + 1, sizeof value);
    std::memcpy(&fieldValue, head + 9, sizeof fieldValue);
    if (parameter.kind == frei0r::ParameterKind::Number ||
        parameter.kind == frei0r::ParameterKind::Switch ||
        parameter.kind == frei0r::ParameterKind::Choice) {
        std::string note;
        frei0r::toFieldValue(parameter, value, note);
        frei0r::toParameterValue(parameter, fieldValue);
    }

    const std::string text =
        size > sizeof head
            ? std::string(reinterpret_cast<const char *>(data + sizeof head), size - sizeof head)
            : std::string();
    cli::Record record = cli::defaultRecord();
    std::vector<std::string> notes;
    frei0r::applyAssignments(record, text, notes);
}

} // namespace lustra::fuzz
