// Settings files as lustra reads them: the bytes are written to a file,
// read the way `settings show`, `render --settings` and the frei0r
// `settings` parameter read it, and every field is shown as text.
#include "Errors.h"
#include "FuzzCases.h"
#include "SettingsRecord.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace lustra::fuzz {

void recordFileFuzzCase(const uint8_t *data, size_t size) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("lustra-fuzz-record-" + std::to_string(getpid()) + ".prf"))
                                 .string();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (written) {
        try {
            const cli::RecordFile read = cli::readRecordFile(path);
            size_t shown = read.warning.size();
            for (const cli::FieldInfo &field : cli::recordFields()) {
                shown += cli::formatField(read.record, field).size();
                if (field.type == cli::FieldType::Source)
                    shown += cli::sourcePath(read.record, field).size();
            }
            if (shown == 0) std::abort(); // every field shows at least its name
        } catch (const cli::Failure &) {
        }
    }
    std::remove(path.c_str());
}

} // namespace lustra::fuzz
