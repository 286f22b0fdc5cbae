#include "Commands.h"

#include "Errors.h"

#include <malloc.h>
#include <sys/prctl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace lustra::cli {

const char *const kMainHelp = R"(usage: lustra COMMAND [options]

Renders titles and logos as glossy, lit 3-D reliefs with the LustraFex effect
module, on pictures and video.

Commands:
  render     render a title over a background into a picture, a numbered
             picture sequence or a video
  settings   show, change or reset the effect's 824-byte settings record
  presets    the library of looks: list, show, export and import presets
  demo       render the built-in title into a folder: a picture and a clip
  info       what the module reports, and where lustra finds its files
  edit       the effect's settings dialog with a live preview (needs Qt 6)
  batch      render every row of a CSV or JSON batch file, several at once

Run `lustra COMMAND --help` for the options of a command.

Exit codes: 0 success, 1 failure (an existing output without -y, missing or
unreadable files, media that cannot be decoded or written, a frame the module
fails on), 2 usage error (also an output that is one of the inputs), 130
interrupted with Ctrl-C (the output holds the frames rendered so far).
lustra batch: 10 + the number of rows that failed (11 to 110).
)";

int (*editCommand)(const std::vector<std::string> &arguments) = nullptr;

bool ArgumentReader::option(const std::string &argument, const char *name, std::string &value) {
    const std::string option(name);
    if (argument == option) {
        if (done()) throw UsageError(option + " needs a value");
        value = next();
        return true;
    }
    if (argument.size() > option.size() && argument.compare(0, option.size(), option) == 0 &&
        argument[option.size()] == '=') {
        value = argument.substr(option.size() + 1);
        return true;
    }
    return false;
}

bool ArgumentReader::option(const std::string &argument, const char *shortName, const char *name,
                            std::string &value) {
    return option(argument, shortName, value) || option(argument, name, value);
}

bool isAssignment(const std::string &argument) {
    const size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    for (size_t i = 0; i < equals; ++i) {
        const unsigned char c = static_cast<unsigned char>(argument[i]);
        if (!std::isalnum(c) && c != '_') return false;
    }
    return true;
}

int64_t parseInteger(const std::string &text, const std::string &what, int64_t minimum,
                     int64_t maximum) {
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0')
        throw UsageError(what + ": \"" + text + "\" is not a whole number");
    if (value < minimum || value > maximum)
        throw UsageError(what + ": " + text + " is outside " + std::to_string(minimum) + ".." +
                         std::to_string(maximum));
    return value;
}

void parseFrameRange(const std::string &text, int64_t &first, int64_t &last) {
    const std::string what = "--frames " + text;
    const size_t dash = text.find('-');
    if (dash == std::string::npos) {
        first = last = parseInteger(text, what, 0, 1000000000);
        return;
    }
    first = parseInteger(text.substr(0, dash), what, 0, 1000000000);
    const std::string end = text.substr(dash + 1);
    last = end.empty() ? -1 : parseInteger(end, what, 0, 1000000000);
    if (last >= 0 && last < first)
        throw UsageError(what + ": the last frame comes before the first");
}

void parseRatio(const std::string &text, const std::string &what, int &numerator, int &denominator,
                int maximum) {
    const size_t slash = text.find('/');
    numerator = int(parseInteger(text.substr(0, slash), what, 1, maximum));
    denominator = slash == std::string::npos
                      ? 1
                      : int(parseInteger(text.substr(slash + 1), what, 1, maximum));
}

namespace {

// How this process takes memory, set before the first large buffer.
void setUpMemory() {
    // No transparent huge pages: the H.264 encoder asks for them for its
    // frames, and each 2 MiB page is resident and zeroed as a whole on its
    // first touch; with 4 KiB pages a 1080 render over a still peaks about
    // 6 MiB lower and runs about a sixth faster. The encoded stream is the
    // same.
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    // Buffers of a megabyte or more each get pages of their own from the
    // system and give them back when freed, instead of reusing heap memory
    // that other buffers touched before: the module's frame-sized planes
    // are only touched where the title reaches, and freed pictures and
    // frames do not stay resident in the heap (about 6 MiB lower again).
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

} // namespace

int runLustra(const std::vector<std::string> &arguments) {
    setUpMemory();
    try {
        if (arguments.empty()) {
            std::fputs(kMainHelp, stderr);
            return kExitUsage;
        }
        const std::string command = arguments[0];
        const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
        if (command == "-h" || command == "--help" || command == "help") {
            std::fputs(kMainHelp, stdout);
            return kExitSuccess;
        }
        if (command == "--version") {
            std::printf("lustra %s\n", LUSTRA_VERSION);
            return kExitSuccess;
        }
        if (command == "render") return commandRender(rest);
        if (command == "settings") return commandSettings(rest);
        if (command == "presets") return commandPresets(rest);
        if (command == "demo") return commandDemo(rest);
        if (command == "info") return commandInfo(rest);
        if (command == "batch") return commandBatch(rest);
        if (command == "edit") {
            if (!editCommand)
                throw Failure("this lustra is built without Qt 6: edit is not available");
            return editCommand(rest);
        }
        throw UsageError("unknown command \"" + command +
                         "\" (commands: render, settings, presets, demo, info, edit, batch)");
    } catch (const Refusal &error) {
        std::fprintf(stderr, "lustra: %s\n", error.what());
        return kExitUsage;
    } catch (const UsageError &error) {
        std::fprintf(stderr, "lustra: %s\n(see lustra --help)\n", error.what());
        return kExitUsage;
    } catch (const Failure &error) {
        std::fprintf(stderr, "lustra: %s\n", error.what());
        return kExitFailure;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "lustra: out of memory\n");
        return kExitFailure;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "lustra: %s\n", error.what());
        return kExitFailure;
    }
}

} // namespace lustra::cli
