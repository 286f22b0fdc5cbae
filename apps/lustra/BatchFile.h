// Batch files of `lustra batch`: a CSV table or a JSON array of objects, one
// render a row, and how a row becomes the arguments of one `lustra render`.
// Nothing here touches files or the module, so the parser can be fed any
// bytes (tests, a fuzz target).
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace lustra::cli {

// A batch file that cannot be read as a table; `line` is where the problem
// is (1-based; 0 when no line applies).
class BatchFileError : public std::runtime_error {
  public:
    BatchFileError(int line, const std::string &message);
    int line() const { return line_; }

  private:
    int line_;
};

// One cell: the column's name and its values. A CSV cell has one value; a
// JSON member may be an array of strings (several --set or --animate).
struct BatchCell {
    std::string column;
    std::vector<std::string> values;
};

struct BatchRow {
    int number = 0; // 1-based, the header not counted
    int line = 0;   // the line of the file where the row starts
    std::vector<BatchCell> cells;
    // The cell of a column, or null when the row leaves it out (an empty
    // CSV cell, a JSON member that is missing, null or "").
    const BatchCell *cell(const std::string &column) const;
};

struct BatchTable {
    std::vector<std::string> columns; // in the order they first appear
    std::vector<BatchRow> rows;
};

enum class BatchFormat { Csv, Json };

// Parses a whole batch file. CSV (RFC 4180): the first record names the
// columns; fields separated by commas (by semicolons when the header has
// semicolons and no comma), records by CRLF or LF; quoted fields
// may hold commas, newlines and doubled quotes ("") (a CRLF inside quotes
// becomes LF); a UTF-8 byte order mark is skipped; empty lines are skipped;
// every record has as many fields as the header. JSON (RFC 8259): an array
// of objects whose members are strings, numbers (kept as written), true,
// false, null (left out) or arrays of those. Column names are lower-cased
// and trimmed of spaces; empty or repeated names are errors. The text must
// be UTF-8. Throws BatchFileError.
BatchTable parseBatchFile(const std::string &content, BatchFormat format);

// The format of a batch file by its name: .json is JSON, anything else CSV.
BatchFormat batchFormatOfPath(const std::string &path);

// What every row shares, from the batch command line.
struct BatchDefaults {
    std::vector<std::string> renderArguments; // given before each row's own
    std::string outputPattern;                // -o: for rows without an output
    std::string textTemplate;                 // --text-template
};

// One row made ready to run: the output it writes and the arguments of
// `lustra render` (without the output, which the runner adds).
struct BatchJob {
    int row = 0, line = 0;
    std::string output;
    std::vector<std::string> arguments;
};

// The columns that are options of a row; every other column is a template
// field, used by {name} in the output pattern and the text template.
const std::vector<std::string> &batchOptionColumns();

// Replaces {name} by the row's value of that column ({row}: the row number;
// {{ and }} are braces). `inFileName` keeps a value from making folders or
// frame numbers: '/', '%' and control characters become '_'. Throws
// BatchFileError naming the row for an unknown name or a lone brace.
std::string expandTemplate(const std::string &pattern, const BatchRow &row, bool inFileName);

// The text template as written on a command line: \n is a line break, \t a
// tab, \\ a backslash.
std::string unescapeTemplate(const std::string &text);

// Splits the `options` column like a shell would, without expansions:
// words separated by spaces, quoted with '...' or "..." (\" and \\ inside
// double quotes). Throws std::invalid_argument for an open quote.
std::vector<std::string> splitOptions(const std::string &text);

// The render arguments of a row: the defaults, then title, text (or the
// text template), background, settings, preset, set, animate, keyframes,
// frames and options in that order, so that a row's value comes after the
// command line's and wins. Throws BatchFileError naming the row.
BatchJob makeBatchJob(const BatchRow &row, const BatchDefaults &defaults);

// Whether a 1-based row number belongs to shard `index` of `count` (1-based
// index): rows are dealt out in turn, row r to shard (r - 1) mod count + 1.
inline bool inShard(int row, int index, int count) {
    return (row - 1) % count == index - 1;
}

} // namespace lustra::cli
