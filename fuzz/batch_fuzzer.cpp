// libFuzzer entry: every input is a batch file (the first byte picks CSV or
// JSON), read and made into render command lines as lustra batch does.
#include "BatchFile.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    using namespace lustra::cli;
    const BatchFormat format = data[0] & 1 ? BatchFormat::Json : BatchFormat::Csv;
    const std::string content(reinterpret_cast<const char *>(data) + 1, size - 1);
    try {
        const BatchTable table = parseBatchFile(content, format);
        BatchDefaults defaults;
        defaults.outputPattern = "out/{row}.png";
        defaults.textTemplate = data[0] & 2 ? "{text}\\n{row}" : "";
        for (const BatchRow &row : table.rows) {
            try {
                makeBatchJob(row, defaults);
            } catch (const BatchFileError &) {
            }
        }
    } catch (const BatchFileError &) {
    }
    return 0;
}
