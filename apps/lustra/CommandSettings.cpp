// lustra settings: the raw settings record as text, changed by field name.
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "SettingsRecord.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace lustra::cli {

const char *const kSettingsHelp = R"(usage: lustra settings show  [FILE] [--instance NAME]
       lustra settings set   [FILE] [--instance NAME] [--force] FIELD=VALUE ...
       lustra settings reset [FILE] [--instance NAME]
       lustra settings fields
       lustra settings path  [--instance NAME]

The effect keeps every setting in one raw 824-byte record. Without FILE the
commands work on the settings file the module reads: VXHOME/programs/lustra/
settings/last.prf, or NAME.prf there with --instance NAME.

  show     prints every field as "name = value", with its offset, type and
           dialog range; colours also as RGB hex. A missing file shows the
           defaults.
  set      changes fields by name (creating the file from the defaults when
           it does not exist). Values: numbers (decimal or 0x hex); names
           where a field has them (on/off, raised/sunken, plain/light/metal/
           frame/source, normal/fractal/turbulence/fracturb/frame/source);
           colours as #RRGGBB or the YCbCr word 0xYYCBCRAA; picture sources
           as a file path (at most 111 bytes, stored absolute; "" clears;
           a file that is not there is stored with a warning).
           Values outside the dialog's range are refused unless --force is
           given (then any value of the field's type is taken).
  reset    writes the defaults into every field that has one (reserved
           bytes, previewFrame and previewFrameCount keep their values).
  fields   lists every field: offset, type, dialog range, default, meaning.
  path     prints the settings file the commands use.

Files are written through a temporary file and a rename; a symbolic link in
the file's place is replaced by a regular file, what it points to is never
written. A file that is not
824 bytes long is accepted with a warning: a shorter one replaces only the
leading bytes of the defaults, of a longer one the first 824 bytes count.

Examples:
  lustra settings set glowOn=on glowColour1=#FFD040 bevelWidth=12
  lustra settings set my-title.prf fill1Mode=metal shadowDistance=60
  lustra settings show my-title.prf
)";

namespace {

std::string defaultText(const FieldInfo &field) {
    if (!field.hasDefault) return "not written";
    char text[32];
    if (field.type == FieldType::Colour)
        std::snprintf(text, sizeof text, "0x%08" PRIX64, field.defaultValue);
    else if (field.type == FieldType::Source)
        return "\"\"";
    else
        std::snprintf(text, sizeof text, "%" PRId64, field.defaultValue);
    return text;
}

void listFields() {
    std::printf("%-18s %6s  %-18s %-12s %-11s %s\n", "field", "offset", "type", "dialog range",
                "default", "meaning");
    for (const FieldInfo &field : recordFields()) {
        std::string range = "-";
        if (field.dialogRange)
            range = std::to_string(field.minimum) + ".." + std::to_string(field.maximum);
        std::string meaning = field.meaning;
        if (field.valueNames) {
            meaning += " (";
            for (int i = 0; field.valueNames[i]; ++i)
                meaning +=
                    std::string(i ? ", " : "") + std::to_string(i) + " " + field.valueNames[i];
            meaning += ")";
        }
        std::printf("%-18s %6u  %-18s %-12s %-11s %s\n", field.name, unsigned(field.offset),
                    typeName(field), range.c_str(), defaultText(field).c_str(), meaning.c_str());
    }
}

// A picture source set to a file that is not there is stored all the same
// (the picture may come later), with a warning.
void warnAboutSource(const Record &record, const std::string &assignment) {
    const FieldInfo *field = findField(assignment.substr(0, assignment.find('=')));
    if (!field || field->type != FieldType::Source) return;
    const std::string path = sourcePath(record, *field);
    if (path.empty()) return;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    const char *problem = !fs::exists(status)                 ? "no such file"
                          : fs::is_directory(status)          ? "is a directory, not a picture"
                          : ::access(path.c_str(), R_OK) != 0 ? "cannot be read"
                                                              : nullptr;
    if (problem)
        std::fprintf(stderr,
                     "lustra: warning: %s: %s: %s (stored all the same; until it can be read the "
                     "layer falls back to its plain form)\n",
                     field->name, path.c_str(), problem);
}

} // namespace

int commandSettings(const std::vector<std::string> &arguments) {
    if (arguments.empty()) throw UsageError("settings needs show, set, reset, fields or path");
    const std::string verb = arguments[0];
    if (verb == "-h" || verb == "--help") {
        std::fputs(kSettingsHelp, stdout);
        return kExitSuccess;
    }
    if (verb != "show" && verb != "set" && verb != "reset" && verb != "fields" && verb != "path")
        throw UsageError("unknown settings command \"" + verb +
                         "\" (show, set, reset, fields, path)");
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    ArgumentReader reader(rest);
    std::string file, instance, value;
    bool force = false;
    std::vector<std::string> assignments;
    while (!reader.done()) {
        const std::string argument = reader.next();
        if (argument == "-h" || argument == "--help") {
            std::fputs(kSettingsHelp, stdout);
            return kExitSuccess;
        } else if (reader.option(argument, "--instance", value)) {
            instance = value;
            instanceSettingsName(instance); // checks the name
        } else if (argument == "--force" && verb == "set") {
            force = true;
        } else if (!argument.empty() && argument[0] == '-') {
            throw UsageError("settings " + verb + ": unknown option " + argument);
        } else if (argument.find('=') != std::string::npos && verb == "set") {
            assignments.push_back(argument);
        } else if (file.empty() && verb != "fields" && verb != "path") {
            file = argument;
        } else {
            throw UsageError("settings " + verb + ": unexpected argument \"" + argument + "\"");
        }
    }
    if (!file.empty() && !instance.empty())
        throw UsageError("settings " + verb + ": give either FILE or --instance, not both");
    if (verb == "fields") {
        listFields();
        return kExitSuccess;
    }
    if (verb == "set" && assignments.empty()) throw UsageError("settings set needs FIELD=VALUE");
    // Check every assignment before touching any file.
    Record scratch = defaultRecord();
    for (const std::string &assignment : assignments) assignField(scratch, assignment, force);

    if (file.empty()) {
        const Home home = verb == "show" || verb == "path" ? locateHome() : prepareHome();
        file = instanceSettingsPath(home, instance);
    }
    if (verb == "path") {
        std::printf("%s\n", file.c_str());
        return kExitSuccess;
    }
    RecordFile loaded = readRecordFile(file);
    if (!loaded.warning.empty())
        std::fprintf(stderr, "lustra: warning: %s\n", loaded.warning.c_str());
    if (verb == "show") {
        std::printf("# %s%s\n", file.c_str(), loaded.exists ? "" : " (no such file: the defaults)");
        for (const FieldInfo &field : recordFields())
            std::printf("%s\n", formatField(loaded.record, field).c_str());
        return kExitSuccess;
    }
    if (verb == "set") {
        for (const std::string &assignment : assignments) {
            assignField(loaded.record, assignment, force);
            warnAboutSource(loaded.record, assignment);
        }
    } else {
        resetRecord(loaded.record);
    }
    // The file is replaced through a rename: a symbolic link in its place is
    // replaced by a regular file, and what it pointed to is never written.
    std::error_code error;
    if (fs::is_symlink(file, error))
        std::fprintf(stderr,
                     "lustra: note: %s is a symbolic link; it is replaced by a regular file "
                     "(the file it points to is left as it is)\n",
                     file.c_str());
    writeRecordFile(file, loaded.record);
    std::fprintf(stderr, "lustra: %s %s\n", verb == "set" ? "updated" : "reset", file.c_str());
    return kExitSuccess;
}

} // namespace lustra::cli
