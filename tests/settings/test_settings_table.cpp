// Everything that is made from the table of settings fields, written out as
// text and compared with the text that the project's users rely on: the
// module's defaults record, the hosts' field table, defaults, text form and
// checks of `lustra settings set`, the frei0r plug-ins' parameter list with
// its mapping onto the fields, and the dialog's pages with their ranges and
// preview steps. Saved projects, presets and scripts depend on every line:
// a difference is a change of behaviour, never something to accept.
//
// On a difference the text made now is written beside the test binary as
// NAME.actual, for a diff against tests/settings/expected/NAME.txt.
#include "Errors.h"
#include "Parameters.h"
#include "SettingsRecord.h"

#include "dialog/PageTables.h"
#include "operator/Settings.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace lustra;

std::string readText(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Compares `text` with the saved text of that name.
void expectSavedText(const std::string &name, const std::string &text) {
    const std::string saved = readText(std::string(LUSTRA_SETTINGS_EXPECTED) + "/" + name + ".txt");
    if (saved == text) return;
    std::ofstream(name + ".actual", std::ios::binary) << text;
    size_t line = 1, at = 0;
    while (at < saved.size() && at < text.size() && saved[at] == text[at])
        line += saved[at++] == '\n';
    ADD_FAILURE() << name << " differs from the saved text from line " << line << " on; see "
                  << name << ".actual";
}

std::string hexDump(const uint8_t *bytes, size_t size) {
    std::string out;
    char text[32];
    for (size_t i = 0; i < size; ++i) {
        if (i % 32 == 0) {
            std::snprintf(text, sizeof text, "%s%3zu:", i ? "\n" : "", i);
            out += text;
        }
        std::snprintf(text, sizeof text, " %02X", bytes[i]);
        out += text;
    }
    return out + "\n";
}

// A record whose every byte differs from its neighbours' and from the
// defaults, so that each field shows a value of its own.
cli::Record patternRecord(uint8_t seed) {
    cli::Record record;
    for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 37 + seed);
    return record;
}

TEST(SettingsTable, ModuleDefaultsAreTodaysRecord) {
    std::string text = "after zeros:\n";
    std::memset(&settings, 0, kSettingsSize);
    resetSettings();
    text += hexDump(reinterpret_cast<const uint8_t *>(&settings), kSettingsSize);
    text += "after 0xA5 in every byte:\n";
    std::memset(&settings, 0xA5, kSettingsSize);
    resetSettings();
    text += hexDump(reinterpret_cast<const uint8_t *>(&settings), kSettingsSize);
    expectSavedText("module_defaults", text);
}

TEST(SettingsTable, HostFieldsDefaultsAndTextFormAreTodays) {
    std::ostringstream out;
    for (const cli::FieldInfo &field : cli::recordFields()) {
        out << field.name << " @" << field.offset << " size " << field.size << " "
            << cli::typeName(field) << " range " << field.minimum << ".." << field.maximum
            << (field.dialogRange ? " dialog" : " type") << " types " << cli::typeMinimum(field)
            << ".." << cli::typeMaximum(field);
        if (field.hasDefault)
            out << " default " << field.defaultValue;
        else
            out << " no default";
        if (field.valueNames) {
            out << " names";
            for (int i = 0; field.valueNames[i]; ++i) out << " " << field.valueNames[i];
        }
        out << " | " << field.meaning << "\n";
    }
    cli::Record record = cli::defaultRecord();
    out << "defaults:\n" << hexDump(record.data(), record.size());
    record.fill(0xA5);
    cli::resetRecord(record);
    out << "reset over 0xA5:\n" << hexDump(record.data(), record.size());
    for (uint8_t seed : {uint8_t(0), uint8_t(11), uint8_t(200)}) {
        const cli::Record pattern = patternRecord(seed);
        out << "shown, pattern " << int(seed) << ":\n";
        for (const cli::FieldInfo &field : cli::recordFields())
            out << cli::formatField(pattern, field) << "\n";
    }
    out << "shown, defaults:\n";
    for (const cli::FieldInfo &field : cli::recordFields())
        out << cli::formatField(cli::defaultRecord(), field) << "\n";
    expectSavedText("host_fields", out.str());
}

// What `lustra settings set` makes of values at and around every range.
TEST(SettingsTable, HostAssignmentsCheckTodaysRanges) {
    std::ostringstream out;
    auto attempt = [&](const cli::FieldInfo &field, const std::string &value, bool force) {
        cli::Record record = patternRecord(3);
        out << field.name << "=" << value << (force ? " forced: " : ": ");
        try {
            cli::assignField(record, std::string(field.name) + "=" + value, force);
            if (field.type == cli::FieldType::Source)
                out << "\"" << cli::sourcePath(record, field) << "\"";
            else
                out << cli::fieldValue(record, field);
            const cli::Record before = patternRecord(3);
            for (size_t i = 0; i < record.size(); ++i)
                if (record[i] != before[i] && (i < field.offset || i >= field.offset + field.size))
                    out << " (byte " << i << " changed)";
        } catch (const cli::UsageError &error) {
            out << "refused: " << error.what();
        }
        out << "\n";
    };
    for (const cli::FieldInfo &field : cli::recordFields()) {
        std::vector<std::string> values;
        if (field.type == cli::FieldType::Source) {
            values = {"/pictures/wood.png", "\"/quoted path.png\"", "", "/" + std::string(111, 'a'),
                      "/" + std::string(110, 'a')};
        } else if (field.type == cli::FieldType::Colour) {
            values = {"#FF0000", "#12345", "0x12345678", "0X89ABCDEF", "red", "12"};
        } else {
            for (int64_t v :
                 {cli::typeMinimum(field) - 1, cli::typeMinimum(field), field.minimum - 1,
                  field.minimum, field.defaultValue, field.maximum, field.maximum + 1,
                  cli::typeMaximum(field), cli::typeMaximum(field) + 1})
                values.push_back(std::to_string(v));
            values.push_back("0x1F");
            values.push_back("abc");
            if (field.valueNames) {
                for (int i = 0; field.valueNames[i]; ++i) values.push_back(field.valueNames[i]);
                for (const char *word : {"true", "yes", "no", "false", "ON"})
                    values.push_back(word);
            }
        }
        for (const std::string &value : values) {
            attempt(field, value, false);
            attempt(field, value, true);
        }
    }
    expectSavedText("host_assignments", out.str());
}

TEST(SettingsTable, Frei0rParametersAreTodays) {
    std::ostringstream out;
    for (bool mixer : {false, true}) {
        out << (mixer ? "mixer:\n" : "filter:\n");
        const std::vector<frei0r::Parameter> &list = frei0r::parameters(mixer);
        for (size_t i = 0; i < list.size(); ++i) {
            const frei0r::Parameter &p = list[i];
            out << i << " " << p.name << " kind " << int(p.kind) << " field "
                << (p.field ? p.field : "-") << " choice " << int(p.choice) << " range "
                << p.minimum << ".." << p.maximum << " | " << p.help << "\n";
            if (p.kind != frei0r::ParameterKind::Number && p.kind != frei0r::ParameterKind::Switch)
                continue;
            out << "  to field:";
            for (double x : {-0.5, 0.0, 0.1, 0.25, 0.49, 0.5, 0.75, 1.0, 1.5}) {
                std::string note;
                out << " " << frei0r::toFieldValue(p, x, note);
                if (!note.empty()) out << " (" << note << ")";
            }
            const cli::FieldInfo &field = *cli::findField(p.field);
            char text[32];
            std::snprintf(
                text, sizeof text, "%.17g",
                frei0r::toParameterValue(p, cli::fieldValue(cli::defaultRecord(), field)));
            out << "\n  default as parameter: " << text << "\n";
        }
    }
    expectSavedText("frei0r_parameters", out.str());
}

std::string fieldText(FieldRef field) {
    if (field.size == 0) return "-";
    return std::to_string(field.offset) + "/" + std::to_string(field.size) +
           (field.isSigned ? "s" : "u");
}

TEST(SettingsTable, DialogPagesAreTodays) {
    std::ostringstream out;
    for (int page = 0; page < 10; ++page) {
        const PageEntry &p = kPages[page];
        out << "page " << page << " switch " << fieldText(p.switchField) << " onlyOne "
            << p.switchOnlyOne << " popup " << p.popup << " header " << p.headerLabel << " items "
            << p.firstItem << "+" << p.itemCount << " view " << fieldText(p.viewField) << " step "
            << p.step << " switchStep " << int(p.switchStep) << " switchReload "
            << int(p.switchReload) << " clearsMask " << p.switchClearsMask << " position "
            << fieldText(p.positionX) << "," << fieldText(p.positionY) << " label "
            << p.positionLabel << " views " << p.viewCount << "\n";
        for (int v = 0; v < 3; ++v)
            for (int32_t g = 0; g < p.views[v].count; ++g) {
                const GadgetEntry &e = p.views[v].gadgets[g];
                out << "  view " << v << " kind " << int(e.kind) << " row " << int(e.row)
                    << " label " << e.label << " role " << int(e.role) << " field "
                    << fieldText(e.field) << " y " << fieldText(e.fieldY) << " range " << e.minimum
                    << ".." << e.maximum << " items " << e.firstItem << "+" << e.itemCount
                    << " key " << e.key << " off " << e.disabled.bySwitch << "/"
                    << int(e.disabled.test) << "/" << fieldText(e.disabled.condition) << "/"
                    << e.disabled.value << " text " << e.valueText << " step " << int(e.step)
                    << " reload " << int(e.reload) << " setup " << e.needsSetup << " refresh "
                    << e.refresh[0] << "," << e.refresh[1] << "\n";
            }
    }
    expectSavedText("dialog_pages", out.str());
}

// What the table's users take for granted: one row per name, a frei0r
// parameter at each place 1..N exactly once and under a name of its own,
// and switches with the on/off range.
TEST(SettingsTable, NamesAndFrei0rPlacesAreUnique) {
    std::set<std::string> names, frei0rNames;
    std::set<int> places;
    for (const lustrafex::SettingsField &field : lustrafex::kSettingsFields) {
        EXPECT_TRUE(names.insert(field.name).second) << field.name;
        if (field.valueNames == lustrafex::kOffOn) {
            EXPECT_EQ(field.minimum, 0) << field.name;
            EXPECT_EQ(field.maximum, 1) << field.name;
        }
        if (field.frei0r.position == 0) continue;
        EXPECT_TRUE(places.insert(field.frei0r.position).second) << field.name;
        EXPECT_TRUE(frei0rNames.insert(field.frei0r.name ? field.frei0r.name : field.name).second)
            << field.name;
    }
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(*places.begin(), 1);
    EXPECT_EQ(*places.rbegin(), int(places.size()));
}

} // namespace
