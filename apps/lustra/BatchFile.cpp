#include "BatchFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace lustra::cli {
namespace {

std::string lowerTrimmed(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    std::string name = text.substr(begin, end - begin);
    for (char &c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string trimmed(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// The line of the first byte that is not part of valid UTF-8 (no overlong
// forms, surrogates or code points above U+10FFFF), or 0.
int invalidUtf8Line(const std::string &text) {
    int line = 1;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') ++line;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        uint32_t point, minimum;
        if ((c & 0xE0) == 0xC0) {
            length = 2, point = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, point = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, point = c & 0x07, minimum = 0x10000;
        } else {
            return line;
        }
        if (i + length > n) return line;
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return line;
            point = (point << 6) | (next & 0x3F);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return line;
        i += length;
    }
    return 0;
}

// Column names of a header or a JSON object: lower-cased, trimmed, not
// empty, each once.
void addColumn(std::vector<std::string> &columns, const std::string &name, int line) {
    if (name.empty()) throw BatchFileError(line, "a column without a name");
    if (std::find(columns.begin(), columns.end(), name) != columns.end())
        throw BatchFileError(line, "the column \"" + name + "\" is named twice");
    columns.push_back(name);
}

struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
    bool blank = false; // an empty line: one empty unquoted field
};

std::vector<CsvRecord> readCsvRecords(const std::string &text, size_t start, char separator) {
    std::vector<CsvRecord> records;
    const size_t n = text.size();
    size_t i = start;
    int line = 1;
    while (i < n) {
        CsvRecord record;
        record.line = line;
        bool anyQuoted = false;
        for (;;) {
            std::string field;
            if (i < n && text[i] == '"') {
                anyQuoted = true;
                const int opened = line;
                ++i;
                for (;;) {
                    if (i >= n)
                        throw BatchFileError(opened,
                                             "a quoted field is not closed (a \" is missing)");
                    const char c = text[i];
                    if (c == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
                        field += '\n';
                        i += 2;
                        ++line;
                        continue;
                    }
                    if (c == '\n') ++line;
                    field += c;
                    ++i;
                }
                if (i < n && text[i] != separator && text[i] != '\n' && text[i] != '\r')
                    throw BatchFileError(line, "text after the closing quote of a field (a quote "
                                               "inside a field is written \"\")");
            } else {
                while (i < n && text[i] != separator && text[i] != '\n' && text[i] != '\r') {
                    if (text[i] == '"')
                        throw BatchFileError(line, "a quote inside a field that does not start "
                                                   "with one (quote the whole field and write the "
                                                   "quote as \"\")");
                    field += text[i++];
                }
            }
            record.fields.push_back(std::move(field));
            if (i < n && text[i] == separator) {
                ++i;
                continue;
            }
            // The end of the record: CRLF, LF, a lone CR or the end of the text.
            if (i < n && text[i] == '\r') ++i;
            if (i < n && text[i] == '\n') ++i;
            ++line;
            break;
        }
        record.blank = !anyQuoted && record.fields.size() == 1 && record.fields[0].empty();
        records.push_back(std::move(record));
    }
    return records;
}

// Commas separate the fields, unless the header line has semicolons and no
// comma (outside quotes), as spreadsheets in some languages save CSV.
char csvSeparator(const std::string &text, size_t start) {
    bool quoted = false, comma = false, semicolon = false, content = false;
    for (size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (!quoted && (c == '\n' || c == '\r')) {
            if (content) break; // the end of the first line that is not empty
            continue;
        }
        content = true;
        if (c == '"')
            quoted = !quoted;
        else if (!quoted)
            comma = comma || c == ',', semicolon = semicolon || c == ';';
    }
    return semicolon && !comma ? ';' : ',';
}

BatchTable parseCsv(const std::string &text, size_t start) {
    std::vector<CsvRecord> records = readCsvRecords(text, start, csvSeparator(text, start));
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const CsvRecord &record) { return record.blank; }),
                  records.end());
    if (records.empty()) throw BatchFileError(0, "the batch file has no header line");
    BatchTable table;
    for (const std::string &name : records[0].fields)
        addColumn(table.columns, lowerTrimmed(name), records[0].line);
    for (size_t r = 1; r < records.size(); ++r) {
        const CsvRecord &record = records[r];
        if (record.fields.size() != table.columns.size())
            throw BatchFileError(record.line, "row " + std::to_string(r) + " has " +
                                                  std::to_string(record.fields.size()) +
                                                  " fields, the header " +
                                                  std::to_string(table.columns.size()));
        BatchRow row;
        row.number = int(r);
        row.line = record.line;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            BatchCell cell{table.columns[c], {}};
            if (!record.fields[c].empty()) cell.values.push_back(record.fields[c]);
            row.cells.push_back(std::move(cell));
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

// A strict JSON reader for the one shape a batch file has.
class JsonReader {
  public:
    JsonReader(const std::string &text, size_t start) : text_(text), i_(start) {}

    BatchTable read() {
        BatchTable table;
        space();
        if (!take('[')) fail("a JSON batch file is an array of objects: [ {...}, {...} ]");
        space();
        if (!take(']')) {
            for (;;) {
                space();
                readObject(table);
                space();
                if (take(',')) continue;
                if (take(']')) break;
                fail("expected , or ] after an object");
            }
        }
        space();
        if (i_ < text_.size()) fail("text after the end of the array");
        // Every row has a cell for every column, empty where it has none.
        for (BatchRow &row : table.rows)
            for (const std::string &column : table.columns)
                if (std::none_of(row.cells.begin(), row.cells.end(),
                                 [&](const BatchCell &cell) { return cell.column == column; }))
                    row.cells.push_back({column, {}});
        return table;
    }

  private:
    [[noreturn]] void fail(const std::string &message) const {
        throw BatchFileError(line_, message);
    }
    bool take(char c) {
        if (i_ < text_.size() && text_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void space() {
        while (i_ < text_.size()) {
            const char c = text_[i_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++i_;
        }
    }
    bool literal(const char *word) {
        const std::string w(word);
        if (text_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    unsigned hex4() {
        if (i_ + 4 > text_.size()) fail("a \\u escape needs four hex digits");
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[i_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= unsigned(c - 'A' + 10);
            else
                fail("a \\u escape needs four hex digits");
        }
        return value;
    }
    static void appendUtf8(std::string &out, uint32_t point) {
        if (point < 0x80) {
            out += char(point);
        } else if (point < 0x800) {
            out += char(0xC0 | (point >> 6));
            out += char(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += char(0xE0 | (point >> 12));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        } else {
            out += char(0xF0 | (point >> 18));
            out += char(0x80 | ((point >> 12) & 0x3F));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        }
    }
    std::string readString() {
        if (!take('"')) fail("expected a string in double quotes");
        std::string out;
        for (;;) {
            if (i_ >= text_.size()) fail("a string is not closed");
            const unsigned char c = static_cast<unsigned char>(text_[i_++]);
            if (c == '"') return out;
            if (c < 0x20) fail("a control character inside a string (write \\n for a line break)");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (i_ >= text_.size()) fail("a string is not closed");
            const char e = text_[i_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t point = hex4();
                if (point >= 0xDC00 && point <= 0xDFFF) fail("a lone low surrogate in \\u escapes");
                if (point >= 0xD800 && point <= 0xDBFF) {
                    if (!literal("\\u")) fail("a high surrogate without its low half");
                    const uint32_t low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) fail("a high surrogate without its low half");
                    point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
                }
                if (point == 0) fail("a NUL character inside a string");
                appendUtf8(out, point);
                break;
            }
            default:
                fail(std::string("an unknown escape \\") + e + " in a string");
            }
        }
    }
    std::string readNumber() {
        const size_t begin = i_;
        auto digits = [&] {
            const size_t from = i_;
            while (i_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[i_]))) ++i_;
            return i_ > from;
        };
        take('-');
        if (take('0')) {
        } else if (!digits()) {
            fail("expected a value: a string, a number, true, false, null or an array");
        }
        if (take('.') && !digits()) fail("a number needs digits after the point");
        if (take('e') || take('E')) {
            if (!take('+')) take('-');
            if (!digits()) fail("a number needs digits in its exponent");
        }
        return text_.substr(begin, i_ - begin);
    }
    // A scalar: its text, or false for null.
    bool readScalar(std::string &value) {
        if (i_ < text_.size() && text_[i_] == '"') {
            value = readString();
            return true;
        }
        if (literal("true")) {
            value = "true";
            return true;
        }
        if (literal("false")) {
            value = "false";
            return true;
        }
        if (literal("null")) return false;
        if (i_ < text_.size() && (text_[i_] == '{' || text_[i_] == '['))
            fail("an array may hold only strings, numbers, true and false");
        value = readNumber();
        return true;
    }
    void readObject(BatchTable &table) {
        BatchRow row;
        row.number = int(table.rows.size()) + 1;
        row.line = line_;
        if (!take('{')) fail("each element of the array is an object: {\"output\": ...}");
        space();
        if (!take('}')) {
            for (;;) {
                space();
                const int keyLine = line_;
                const std::string name = lowerTrimmed(readString());
                if (name.empty()) throw BatchFileError(keyLine, "a member without a name");
                for (const BatchCell &cell : row.cells)
                    if (cell.column == name)
                        throw BatchFileError(keyLine, "the member \"" + name + "\" is named twice");
                if (std::find(table.columns.begin(), table.columns.end(), name) ==
                    table.columns.end())
                    table.columns.push_back(name);
                space();
                if (!take(':')) fail("expected : after a member's name");
                space();
                BatchCell cell{name, {}};
                std::string value;
                if (take('[')) {
                    space();
                    if (!take(']')) {
                        for (;;) {
                            space();
                            if (readScalar(value) && !value.empty()) cell.values.push_back(value);
                            space();
                            if (take(',')) continue;
                            if (take(']')) break;
                            fail("expected , or ] in an array");
                        }
                    }
                } else if (i_ < text_.size() && text_[i_] == '{') {
                    fail("the member \"" + name +
                         "\" holds an object; members are strings, numbers or arrays");
                } else if (readScalar(value) && !value.empty()) {
                    cell.values.push_back(value);
                }
                row.cells.push_back(std::move(cell));
                space();
                if (take(',')) continue;
                if (take('}')) break;
                fail("expected , or } after a member");
            }
        }
        table.rows.push_back(std::move(row));
    }

    const std::string &text_;
    size_t i_;
    int line_ = 1;
};

std::string rowPrefix(const BatchRow &row) {
    return "row " + std::to_string(row.number) + ": ";
}

// The single value of an option column, trimmed; "" when left out.
std::string single(const BatchRow &row, const char *column) {
    const BatchCell *cell = row.cell(column);
    if (!cell) return "";
    if (cell->values.size() > 1)
        throw BatchFileError(row.line, rowPrefix(row) + "the column \"" + column +
                                           "\" takes one value, not a list");
    return trimmed(cell->values[0]);
}

// Words of a list column: separated by spaces, tabs, line breaks or ';'.
std::vector<std::string> listWords(const BatchRow &row, const char *column) {
    std::vector<std::string> words;
    const BatchCell *cell = row.cell(column);
    if (!cell) return words;
    for (const std::string &value : cell->values) {
        std::string word;
        for (const char c : value + " ") {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';') {
                if (!word.empty()) words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
    }
    return words;
}

} // namespace

BatchFileError::BatchFileError(int line, const std::string &message)
    : std::runtime_error(message), line_(line) {}

const BatchCell *BatchRow::cell(const std::string &column) const {
    for (const BatchCell &candidate : cells)
        if (candidate.column == column) {
            for (const std::string &value : candidate.values)
                if (!value.empty()) return &candidate;
            return nullptr;
        }
    return nullptr;
}

BatchTable parseBatchFile(const std::string &content, BatchFormat format) {
    const size_t start = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (const int line = invalidUtf8Line(content))
        throw BatchFileError(line, "the text is not UTF-8 (save the file as UTF-8)");
    if (content.find('\0') != std::string::npos)
        throw BatchFileError(0, "the file holds NUL bytes: not a text file");
    return format == BatchFormat::Json ? JsonReader(content, start).read()
                                       : parseCsv(content, start);
}

BatchFormat batchFormatOfPath(const std::string &path) {
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && lowerTrimmed(path.substr(dot)) == ".json")
        return BatchFormat::Json;
    return BatchFormat::Csv;
}

const std::vector<std::string> &batchOptionColumns() {
    static const std::vector<std::string> columns = {"title",  "text",    "background", "settings",
                                                     "preset", "set",     "animate",    "keyframes",
                                                     "frames", "options", "output"};
    return columns;
}

std::string expandTemplate(const std::string &pattern, const BatchRow &row, bool inFileName) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '}') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '}') {
                out += '}';
                ++i;
                continue;
            }
            throw BatchFileError(row.line, rowPrefix(row) + "a lone } in \"" + pattern +
                                               "\" (write }} for a brace)");
        }
        if (c != '{') {
            out += c;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '{') {
            out += '{';
            ++i;
            continue;
        }
        const size_t close = pattern.find('}', i + 1);
        if (close == std::string::npos)
            throw BatchFileError(row.line, rowPrefix(row) + "a { without } in \"" + pattern +
                                               "\" (write {{ for a brace)");
        const std::string name = lowerTrimmed(pattern.substr(i + 1, close - i - 1));
        i = close;
        std::string value;
        if (name == "row") {
            value = std::to_string(row.number);
        } else {
            const auto found =
                std::find_if(row.cells.begin(), row.cells.end(),
                             [&](const BatchCell &cell) { return cell.column == name; });
            if (found == row.cells.end())
                throw BatchFileError(row.line, rowPrefix(row) + "{" + name + "} in \"" + pattern +
                                                   "\" is not a column of the batch file");
            for (const std::string &part : found->values) {
                if (!value.empty() && !part.empty()) value += ' ';
                value += part;
            }
            if (inFileName) {
                value = trimmed(value);
                if (value.empty())
                    throw BatchFileError(row.line, rowPrefix(row) + "{" + name +
                                                       "} is empty, so the output name \"" +
                                                       pattern + "\" cannot be made");
            }
        }
        if (inFileName)
            for (char &v : value)
                if (v == '/' || v == '%' || static_cast<unsigned char>(v) < 0x20) v = '_';
        out += value;
    }
    return out;
}

std::string unescapeTemplate(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                out += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::vector<std::string> splitOptions(const std::string &text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'' || c == '"') {
            inWord = true;
            const size_t open = i;
            for (++i;; ++i) {
                if (i >= text.size())
                    throw std::invalid_argument("the quote at position " +
                                                std::to_string(open + 1) + " is not closed");
                if (text[i] == c) break;
                if (c == '"' && text[i] == '\\' && i + 1 < text.size() &&
                    (text[i + 1] == '"' || text[i + 1] == '\\'))
                    ++i;
                word += text[i];
            }
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

BatchJob makeBatchJob(const BatchRow &row, const BatchDefaults &defaults) {
    BatchJob job;
    job.row = row.number;
    job.line = row.line;
    std::vector<std::string> &arguments = job.arguments;
    arguments = defaults.renderArguments;
    auto option = [&](const char *name, const char *column) {
        const std::string value = single(row, column);
        if (!value.empty()) arguments.insert(arguments.end(), {name, value});
    };
    option("--title", "title");
    if (!defaults.textTemplate.empty()) {
        arguments.insert(
            arguments.end(),
            {"--text", expandTemplate(unescapeTemplate(defaults.textTemplate), row, false)});
    } else if (const BatchCell *text = row.cell("text")) {
        // The text as written, line breaks and spaces kept; a list is
        // several lines.
        std::string value;
        for (const std::string &line : text->values) value += (value.empty() ? "" : "\n") + line;
        arguments.insert(arguments.end(), {"--text", value});
    }
    option("--background", "background");
    option("--settings", "settings");
    option("--preset", "preset");
    // One --set and one --animate a word, so that every word reaches render
    // as that option's value whatever its form.
    for (const std::string &word : listWords(row, "set"))
        arguments.insert(arguments.end(), {"--set", word});
    for (const std::string &word : listWords(row, "animate"))
        arguments.insert(arguments.end(), {"--animate", word});
    option("--keyframes", "keyframes");
    option("--frames", "frames");
    if (const BatchCell *options = row.cell("options")) {
        for (const std::string &value : options->values) {
            std::vector<std::string> words;
            try {
                words = splitOptions(value);
            } catch (const std::invalid_argument &error) {
                throw BatchFileError(row.line, rowPrefix(row) + "options: " + error.what());
            }
            for (const std::string &word : words)
                if (word == "-o" || word == "--output" || word.rfind("--output=", 0) == 0)
                    throw BatchFileError(row.line, rowPrefix(row) +
                                                       "options: the output belongs in the "
                                                       "output column");
            arguments.insert(arguments.end(), words.begin(), words.end());
        }
    }
    const std::string pattern = row.cell("output") ? single(row, "output") : defaults.outputPattern;
    if (pattern.empty())
        throw BatchFileError(row.line,
                             rowPrefix(row) + "no output: give the row an output, or -o PATTERN");
    job.output = expandTemplate(pattern, row, true);
    return job;
}

} // namespace lustra::cli
