// The batch files of lustra batch: the first byte picks CSV or JSON and
// whether a text template is given; the rest is the file. Every row that
// is read is made into a render command line as the batch does.
#include "BatchFile.h"
#include "FuzzCases.h"

#include <string>

namespace lustra::fuzz {

void batchFileFuzzCase(const uint8_t *data, size_t size) {
    if (size == 0) return;
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
}

} // namespace lustra::fuzz
