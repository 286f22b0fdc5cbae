// The commands of lustra and their command-line parsing.
#pragma once

#include <string>
#include <vector>

namespace lustra::cli {

// Runs lustra with its arguments (without the program name); returns the
// exit code. Prints errors as one line "lustra: ..." on stderr.
int runLustra(const std::vector<std::string> &arguments);

int commandRender(const std::vector<std::string> &arguments);
int commandSettings(const std::vector<std::string> &arguments);
int commandDemo(const std::vector<std::string> &arguments);
int commandInfo(const std::vector<std::string> &arguments);
int commandBatch(const std::vector<std::string> &arguments);
int commandPresets(const std::vector<std::string> &arguments);
// `lustra edit`, set when lustra is built with its Qt settings dialog (null
// otherwise).
extern int (*editCommand)(const std::vector<std::string> &arguments);

// Help texts, printed by --help.
extern const char *const kMainHelp;
extern const char *const kRenderHelp;
extern const char *const kSettingsHelp;
extern const char *const kDemoHelp;
extern const char *const kInfoHelp;
extern const char *const kBatchHelp;
extern const char *const kPresetsHelp;

// Walks over the arguments of one command: options with a value take it
// from "--name VALUE" or "--name=VALUE".
class ArgumentReader {
  public:
    explicit ArgumentReader(const std::vector<std::string> &arguments) : arguments_(arguments) {}
    bool done() const { return index_ >= arguments_.size(); }
    // The next argument (advances).
    std::string next() { return arguments_[index_++]; }
    // The next argument without taking it ("" at the end).
    std::string peek() const { return done() ? std::string() : arguments_[index_]; }
    // True when `argument` is the option `name` (or "name=..."); sets
    // `value` from the rest or the next argument. Throws UsageError when
    // the value is missing.
    bool option(const std::string &argument, const char *name, std::string &value);
    bool option(const std::string &argument, const char *shortName, const char *name,
                std::string &value);

  private:
    const std::vector<std::string> &arguments_;
    size_t index_ = 0;
};

// Whether an argument has the form FIELD=VALUE (a name of letters, digits
// and '_' before the '='), so that it continues the list after --set.
bool isAssignment(const std::string &argument);

// Parsers shared by the commands; each throws UsageError naming `what`.
int64_t parseInteger(const std::string &text, const std::string &what, int64_t minimum,
                     int64_t maximum);
// "A-B", "A-" or "A" (a single frame); B < 0 for an open end.
void parseFrameRange(const std::string &text, int64_t &first, int64_t &last);
// "N/D" or "N".
void parseRatio(const std::string &text, const std::string &what, int &numerator, int &denominator,
                int maximum);

} // namespace lustra::cli
