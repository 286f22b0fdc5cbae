// make_presets writes the shipped looks: every LOOKS_DIR/NAME.look (lines of
// FIELD=VALUE as `lustra settings set` takes them, over the default record;
// a line starting with '#' is a comment, the first one the look's
// description)
// becomes OUT_DIR/NAME.prf, the raw 824-byte settings record, and
// OUT_DIR/index.txt lists the names with their descriptions.
#include "SettingsRecord.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string trimmed(const std::string &text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_presets LOOKS_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path looks(argv[1]), out(argv[2]);
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(looks))
        if (entry.path().extension() == ".look") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "make_presets: no .look files in %s\n", argv[1]);
        return 1;
    }
    fs::create_directories(out);
    // Records that are no longer described go.
    for (const auto &entry : fs::directory_iterator(out))
        if (entry.path().extension() == ".prf" &&
            !fs::exists(looks / (entry.path().stem().string() + ".look")))
            fs::remove(entry.path());
    std::string index = "# The shipped looks (written by tools/make_presets from tools/presets)\n";
    for (const fs::path &file : files) {
        const std::string name = file.stem().string();
        lustra::cli::Record record = lustra::cli::defaultRecord();
        std::ifstream text(file);
        std::string line, description;
        int number = 0;
        while (std::getline(text, line)) {
            ++number;
            line = trimmed(line);
            if (!line.empty() && line[0] == '#') { // colours hold '#' too
                if (description.empty()) description = trimmed(line.substr(1));
                continue;
            }
            if (line.empty()) continue;
            try {
                lustra::cli::assignField(record, line, false);
            } catch (const std::exception &error) {
                std::fprintf(stderr, "%s:%d: %s\n", file.c_str(), number, error.what());
                return 1;
            }
        }
        lustra::cli::writeRecordFile((out / (name + ".prf")).string(), record);
        index +=
            name + std::string(name.size() < 16 ? 16 - name.size() : 1, ' ') + description + "\n";
    }
    std::ofstream(out / "index.txt", std::ios::binary) << index;
    std::printf("make_presets: %zu looks written to %s\n", files.size(), argv[2]);
    return 0;
}
