// A temporary data directory for engine tests: a metal pattern of one value
// (the engine's set-up needs it) and room for further pattern files; removed
// with everything in it at the end.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lustra::test {

struct DataDirectory {
    std::string path; // ends with '/'
    explicit DataDirectory(uint8_t metalValue = 128) {
        char pattern[] = "/tmp/lustra-engine-XXXXXX";
        const char *made = mkdtemp(pattern);
        path = std::string(made ? made : "/tmp") + "/";
        writePattern("metal.pat", std::vector<uint8_t>(65536, metalValue));
    }
    ~DataDirectory() { std::filesystem::remove_all(path); }
    DataDirectory(const DataDirectory &) = delete;
    DataDirectory &operator=(const DataDirectory &) = delete;
    void writePattern(const std::string &name, const std::vector<uint8_t> &bytes) const {
        std::ofstream(path + name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    }
};

} // namespace lustra::test
