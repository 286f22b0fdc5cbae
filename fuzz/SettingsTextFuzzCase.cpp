// The settings text of `lustra settings set FILE FIELD=VALUE ...` and of
// `lustra render --set FIELD=VALUE`: each line of the input is one
// assignment, applied to the defaults; the record is then shown. Bit 0 of
// the first byte is `--force`.
#include "Errors.h"
#include "FuzzCases.h"
#include "SettingsRecord.h"

#include <string>
#include <string_view>

namespace lustra::fuzz {

void settingsTextFuzzCase(const uint8_t *data, size_t size) {
    if (size == 0) return;
    const bool force = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    cli::Record record = cli::defaultRecord();
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(begin, end - begin);
        try {
            cli::assignField(record, line, force);
        } catch (const cli::UsageError &) {
        }
        try {
            cli::parseColour(line);
        } catch (const cli::UsageError &) {
        }
        begin = end + 1;
    }
    for (const cli::FieldInfo &field : cli::recordFields()) cli::formatField(record, field);
}

} // namespace lustra::fuzz
