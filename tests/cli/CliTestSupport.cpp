#include "CliTestSupport.h"

#include "support/TestHost.h"
#include "PngWriter.h"
#include "lustrafex/host_pixels.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace lustra::clitest {
namespace {

lustra::test::Frame toHostFrame(const Picture &picture) {
    lustra::test::Frame frame;
    frame.width = picture.width;
    frame.height = picture.height;
    frame.pixels.resize(size_t(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t *p = picture.at(x, y);
            frame.pixels[size_t(y) * picture.width + x] =
                lustra::hostPixelFromRgb(p[0], p[1], p[2], picture.channels == 4 ? p[3] : 255);
        }
    return frame;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

Workspace::Workspace() {
    char pattern[] = "/tmp/lustra-cli-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot create a test folder");
    dir_ = pattern;
    home_ = dir_ + "/home";
    fs::create_directories(home_ + "/programs/lustra/settings");
    fs::create_directories(home_ + "/lustra");
    for (const auto &entry : fs::directory_iterator(std::string(LUSTRA_DATA_DIR) + "/lustra"))
        fs::copy_file(entry.path(), home_ + "/lustra/" + entry.path().filename().string());
}

Workspace::~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

RunResult Workspace::lustra(const std::vector<std::string> &arguments,
                            const std::map<std::string, std::string> &environment) const {
    std::vector<std::string> command = {LUSTRA_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> env = {{"VXHOME", home_}};
    for (const auto &[key, value] : environment) env[key] = value;
    return runProgram(command, dir_, env);
}

RunResult runProgram(const std::vector<std::string> &command, const std::string &directory,
                     const std::map<std::string, std::string> &environment) {
    static int counter = 0;
    const std::string base =
        directory + "/.run-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const std::string outPath = base + ".out", errPath = base + ".err";
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        if (chdir(directory.c_str()) != 0) _exit(127);
        for (const auto &[key, value] : environment) {
            if (value.empty())
                unsetenv(key.c_str());
            else
                setenv(key.c_str(), value.c_str(), 1);
        }
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(err, 2);
        dup2(in, 0);
        std::vector<char *> argv;
        for (const std::string &part : command) argv.push_back(const_cast<char *>(part.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

Picture titlePicture(int width, int height, int frame, bool alpha) {
    Picture picture{width, height, alpha ? 4 : 3, {}};
    picture.bytes.assign(size_t(width) * height * picture.channels, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Two rounded bars and a ring, shifted by the frame number.
            const double cx = width * 0.5 + frame * 2.0, cy = height * 0.5;
            const double ring =
                std::fabs(std::hypot(x + 0.5 - cx, (y + 0.5 - cy) * 1.2) - height * 0.3);
            const double bar = std::fabs(y + 0.5 - height * 0.25) +
                               std::max(0.0, std::fabs(x + 0.5 - cx) - width * 0.3);
            const double d = std::min(ring - height * 0.07, bar - height * 0.06);
            const double coverage = std::clamp(0.5 - d, 0.0, 1.0);
            uint8_t *p = &picture.bytes[(size_t(y) * width + x) * picture.channels];
            p[0] = p[1] = p[2] = uint8_t(255 * coverage);
            if (alpha) p[3] = uint8_t((x * 255) / std::max(1, width - 1));
        }
    return picture;
}

Picture backgroundPicture(int width, int height, int frame) {
    Picture picture{width, height, 3, {}};
    picture.bytes.resize(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &picture.bytes[(size_t(y) * width + x) * 3];
            // Smooth ramps, clear of 0 and 255 at the test sizes.
            p[0] = uint8_t(std::clamp(40 + x * 2 + frame * 3, 0, 250));
            p[1] = uint8_t(std::clamp(60 + y * 2, 0, 250));
            p[2] = uint8_t(std::clamp(200 - x - y, 5, 250));
        }
    return picture;
}

void writeWithFfmpeg(const std::vector<Picture> &frames, const std::string &path,
                     const std::vector<std::string> &extra, int rate,
                     const std::vector<std::string> &before) {
    const std::string raw = path + ".raw";
    std::vector<uint8_t> bytes;
    for (const Picture &frame : frames)
        bytes.insert(bytes.end(), frame.bytes.begin(), frame.bytes.end());
    writeFile(raw, bytes);
    std::vector<std::string> command = {LUSTRA_FFMPEG_TOOL,
                                        "-y",
                                        "-loglevel",
                                        "error",
                                        "-f",
                                        "rawvideo",
                                        "-pix_fmt",
                                        frames[0].channels == 4 ? "rgba" : "rgb24",
                                        "-s",
                                        std::to_string(frames[0].width) + "x" +
                                            std::to_string(frames[0].height),
                                        "-r",
                                        std::to_string(rate),
                                        "-i",
                                        raw};
    command.insert(command.end(), before.begin(), before.end());
    command.insert(command.end(), extra.begin(), extra.end());
    if (frames.size() == 1) command.insert(command.end(), {"-frames:v", "1"});
    command.push_back(path);
    const RunResult result = runProgram(command, fs::path(path).parent_path().string(), {});
    std::remove(raw.c_str());
    if (result.exitCode != 0) throw std::runtime_error("ffmpeg failed: " + result.err);
}

std::vector<Picture> decodeWithFfmpeg(const std::string &path, int width, int height, bool alpha) {
    const std::string raw = path + ".decoded.raw";
    const RunResult result =
        runProgram({LUSTRA_FFMPEG_TOOL, "-y", "-loglevel", "error", "-i", path, "-f", "rawvideo",
                    "-pix_fmt", alpha ? "rgba" : "rgb24", raw},
                   fs::path(path).parent_path().string(), {});
    if (result.exitCode != 0)
        throw std::runtime_error("ffmpeg cannot decode " + path + ": " + result.err);
    const std::vector<uint8_t> bytes = readFile(raw);
    std::remove(raw.c_str());
    const int channels = alpha ? 4 : 3;
    const size_t frameSize = size_t(width) * height * channels;
    std::vector<Picture> frames;
    for (size_t offset = 0; offset + frameSize <= bytes.size(); offset += frameSize)
        frames.push_back({width, height, channels,
                          std::vector<uint8_t>(bytes.begin() + long(offset),
                                               bytes.begin() + long(offset + frameSize))});
    return frames;
}

std::string probe(const std::string &path, const std::string &entry) {
    std::vector<std::string> command = {LUSTRA_FFPROBE_TOOL, "-v", "error", "-select_streams",
                                        "v:0"};
    if (entry == "nb_read_frames") command.push_back("-count_frames");
    command.insert(command.end(),
                   {"-show_entries", "stream=" + entry, "-of", "default=nw=1:nk=1", path});
    RunResult result = runProgram(command, fs::path(path).parent_path().string(), {});
    std::string text = result.out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return result.exitCode == 0 ? text : "error: " + result.err;
}

std::vector<Picture> referenceRender(const std::vector<Picture> &titles,
                                     const std::vector<Picture> &backgrounds,
                                     const ReferenceOptions &options) {
    lustra::test::TempHome home;
    if (!options.settings.empty()) lustra::test::writeBytes(home.settingsPath(), options.settings);
    lustra::test::TestHost host;
    for (const Picture &title : titles) host.clip[1].push_back(toHostFrame(title));
    for (const Picture &background : backgrounds) host.clip[0].push_back(toHostFrame(background));
    for (const auto &[descriptor, picture] : options.sources)
        host.sources[descriptor] = toHostFrame(picture);
    lustra::test::Module module;
    module.getOperatorInfo();
    module.setChoices(options.secondLayers ? 1 : 0, options.flickerFilter ? 1 : 0,
                      options.fieldWise ? 1 : 0);
    module.action(1);
    std::vector<Picture> results;
    const bool alpha = titles[0].channels == 4;
    for (size_t k = 0; k < titles.size(); ++k) {
        host.putFields.clear();
        const int32_t first = int32_t(2 * k);
        int odd = 0;
        if (options.fieldWise) {
            module.action(3, first, 2);     // odd rows
            module.action(3, first + 1, 0); // even rows
        } else {
            module.action(3, first, 0);
            module.action(3, first + 1, 0);
        }
        if (host.putFields.size() != 2) throw std::runtime_error("reference render failed");
        const int width = titles[k].width, height = titles[k].height;
        Picture out{width, height, alpha ? 4 : 3,
                    std::vector<uint8_t>(size_t(width) * height * (alpha ? 4 : 3))};
        for (int field = 0; field < 2; ++field) {
            const int parity = field == odd ? 1 : 0; // first put: odd rows
            for (int y = 0; y < height / 2; ++y)
                for (int x = 0; x < width; ++x) {
                    const uint32_t pixel =
                        host.putFields[size_t(field)].pixels[size_t(y) * width + x];
                    uint8_t *p = &out.bytes[(size_t(2 * y + parity) * width + x) * out.channels];
                    lustra::hostPixelToRgb(pixel, p);
                    if (alpha) p[3] = uint8_t(pixel & 0xFF);
                }
        }
        results.push_back(std::move(out));
    }
    return results;
}

int maxDifference(const Picture &a, const Picture &b) {
    if (a.bytes.size() != b.bytes.size()) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.bytes.size(); ++i)
        worst = std::max(worst, std::abs(int(a.bytes[i]) - int(b.bytes[i])));
    return worst;
}

double meanDifference(const Picture &a, const Picture &b) {
    if (a.bytes.size() != b.bytes.size() || a.bytes.empty()) return 1000;
    double sum = 0;
    for (size_t i = 0; i < a.bytes.size(); ++i) sum += std::abs(int(a.bytes[i]) - int(b.bytes[i]));
    return sum / double(a.bytes.size());
}

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

bool exists(const std::string &path) {
    return fs::exists(path);
}

std::vector<std::string> filesContaining(const std::string &dir, const std::string &part) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.find(part) != std::string::npos) names.push_back(name);
    }
    return names;
}

} // namespace lustra::clitest
