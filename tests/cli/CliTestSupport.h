// Helpers of the command-line host's tests: running lustra and ffmpeg as a
// user would, generated pictures and clips, and reference renders through
// the test host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lustra::clitest {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// A scratch folder with its own VXHOME (data files copied), removed at the end.
class Workspace {
  public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;
    const std::string &dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    const std::string &home() const { return home_; }
    std::string settingsPath(const std::string &name = "last.prf") const {
        return home_ + "/programs/lustra/settings/" + name;
    }
    // Runs lustra in this folder with VXHOME set to the workspace's home
    // (unless `environment` says otherwise; an empty value unsets).
    RunResult lustra(const std::vector<std::string> &arguments,
                     const std::map<std::string, std::string> &environment = {}) const;

  private:
    std::string dir_, home_;
};

// Runs a program with arguments; stdout and stderr captured.
RunResult runProgram(const std::vector<std::string> &command, const std::string &directory,
                     const std::map<std::string, std::string> &environment);

// 8-bit RGB pictures (3 bytes a pixel) or RGBA (4 bytes).
struct Picture {
    int width = 0, height = 0, channels = 3;
    std::vector<uint8_t> bytes;
    const uint8_t *at(int x, int y) const { return &bytes[(size_t(y) * width + x) * channels]; }
};

// A title: light rounded bars on black, moving with `frame`; a colourful
// background that changes with `frame`.
Picture titlePicture(int width, int height, int frame = 0, bool alpha = false);
Picture backgroundPicture(int width, int height, int frame = 0);

// Writes pictures with ffmpeg: one picture (.png) or a clip (any
// extension; `codec` and extra arguments chosen by the caller).
// `rate` frames a second; `before` goes before the output options (e.g. a
// second input).
void writeWithFfmpeg(const std::vector<Picture> &frames, const std::string &path,
                     const std::vector<std::string> &extra = {}, int rate = 25,
                     const std::vector<std::string> &before = {});
// Decodes any picture or video with ffmpeg into RGB (or RGBA) frames.
std::vector<Picture> decodeWithFfmpeg(const std::string &path, int width, int height,
                                      bool alpha = false);
// A stream property by ffprobe (e.g. "codec_name", "field_order", "nb_read_frames").
std::string probe(const std::string &path, const std::string &entry);

struct ReferenceOptions {
    bool secondLayers = false, flickerFilter = false, fieldWise = false;
    std::vector<uint8_t> settings;          // empty: the defaults
    std::map<std::string, Picture> sources; // by descriptor text
};
// Renders the frames through the test host (the module loaded with
// dlopen), the host pixels made from RGB with the module's conversion;
// returns RGB (or RGBA with the title's alpha) frames.
std::vector<Picture> referenceRender(const std::vector<Picture> &titles,
                                     const std::vector<Picture> &backgrounds,
                                     const ReferenceOptions &options = {});

// Largest difference of any channel, and the mean absolute difference.
int maxDifference(const Picture &a, const Picture &b);
double meanDifference(const Picture &a, const Picture &b);

std::vector<uint8_t> readFile(const std::string &path);
void writeFile(const std::string &path, const std::vector<uint8_t> &bytes);
bool exists(const std::string &path);
// Files of a folder whose names contain `part` (for left-over checks).
std::vector<std::string> filesContaining(const std::string &dir, const std::string &part);

} // namespace lustra::clitest
