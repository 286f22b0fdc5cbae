#include "OutputSafety.h"

#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace lustra::cli {
namespace {

// A numbered output path split at its frame-number pattern: the name of
// frame n is prefix + n written with at least `width` digits + suffix.
struct NumberedPath {
    std::string prefix, suffix;
    int width = 0;
    bool valid = false;

    explicit NumberedPath(const std::string &pattern) {
        std::string *part = &prefix;
        for (size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] != '%') {
                *part += pattern[i];
                continue;
            }
            size_t j = i + 1;
            int digits = 0;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) &&
                   digits < 1000)
                digits = digits * 10 + (pattern[j++] - '0');
            if (j >= pattern.size()) return;
            if (pattern[j] == '%') {
                *part += '%';
            } else if (pattern[j] == 'd' && !valid) {
                width = digits;
                valid = true;
                part = &suffix;
            } else {
                valid = false;
                return;
            }
            i = j;
        }
    }
    std::string name(int64_t number) const {
        char digits[64];
        std::snprintf(digits, sizeof digits, "%0*lld", width, (long long)number);
        return prefix + digits + suffix;
    }
    // The frame number a name stands for, or -1.
    int64_t number(const std::string &name) const {
        if (name.size() <= prefix.size() + suffix.size() ||
            name.compare(0, prefix.size(), prefix) ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix))
            return -1;
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.size() > 12) return -1;
        for (char c : digits)
            if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
        const int64_t value = std::stoll(digits);
        return this->name(value) == name ? value : -1;
    }
};

bool inRange(int64_t number, int64_t first, int64_t last) {
    return number >= first && (last < 0 || number <= last);
}

std::string resolved(const std::string &path) {
    std::error_code error;
    const fs::path result = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::absolute(path).lexically_normal().string() : result.string();
}

bool exists(const std::string &path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

// A file an output would replace; a directory in its place is left to the
// output's own check ("is a directory").
bool replaceable(const std::string &path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return false;
    return !S_ISDIR(info.st_mode);
}

} // namespace

void OutputSafety::addInput(const std::string &what, const std::string &path) {
    if (path.empty()) return;
    Input input;
    input.what = what;
    input.path = path;
    input.resolved = resolved(path);
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        input.exists = true;
        input.device = info.st_dev;
        input.inode = info.st_ino;
    }
    inputs_.push_back(std::move(input));
}

std::vector<std::string> existingSequenceFiles(const std::string &pattern, int64_t firstFrame,
                                               int64_t lastFrame) {
    std::vector<std::string> found;
    const fs::path path(pattern);
    const std::string fileName = path.filename().string();
    const NumberedPath numbered(fileName);
    if (!numbered.valid) {
        // The number is in a directory name: only a known range can be listed.
        const NumberedPath whole(pattern);
        if (!whole.valid || lastFrame < 0) return found;
        for (int64_t n = firstFrame; n <= lastFrame && n - firstFrame < 1000000; ++n)
            if (replaceable(whole.name(n))) found.push_back(whole.name(n));
        return found;
    }
    const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::vector<std::pair<int64_t, std::string>> numbers;
    std::error_code error;
    for (auto it = fs::directory_iterator(directory, error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        const int64_t n = numbered.number(name);
        if (n >= 0 && inRange(n, firstFrame, lastFrame) && replaceable(it->path().string()))
            numbers.emplace_back(
                n, (path.has_parent_path() ? directory / name : fs::path(name)).string());
    }
    std::sort(numbers.begin(), numbers.end());
    for (auto &entry : numbers) found.push_back(std::move(entry.second));
    return found;
}

std::vector<std::string> OutputSafety::existingFiles(const std::string &path, OutputKind kind,
                                                     int64_t firstFrame, int64_t lastFrame) const {
    if (kind == OutputKind::Sequence) return existingSequenceFiles(path, firstFrame, lastFrame);
    if (replaceable(path)) return {path};
    return {};
}

void OutputSafety::refuseInputs(const std::string &output,
                                const std::vector<std::string> &targets) const {
    for (const std::string &target : targets) {
        struct stat info;
        const bool present = ::stat(target.c_str(), &info) == 0;
        for (const Input &input : inputs_) {
            const bool same = present && input.exists
                                  ? info.st_dev == input.device && info.st_ino == input.inode
                                  : resolved(target) == input.resolved;
            if (!same) continue;
            const std::string named = target == output ? output : target + " (of " + output + ")";
            throw Refusal(named + ": the output is the same file as the input " + input.what + " " +
                          input.path + "; choose another output, nothing was written");
        }
    }
}

bool OutputSafety::check(const std::string &path, OutputKind kind, int64_t firstFrame,
                         int64_t lastFrame) const {
    std::vector<std::string> existing = existingFiles(path, kind, firstFrame, lastFrame);
    if (kind == OutputKind::Sequence) {
        // Frames not written yet whose names are an input's (a settings file
        // that does not exist yet, say) are checked by name.
        std::vector<std::string> named = existing;
        const NumberedPath numbered(fs::path(path).filename().string());
        const std::string directory = resolved(
            fs::path(path).has_parent_path() ? fs::path(path).parent_path().string() : ".");
        for (const Input &input : inputs_) {
            const fs::path where(input.resolved);
            if (numbered.valid && where.parent_path() == directory &&
                inRange(numbered.number(where.filename().string()), firstFrame, lastFrame))
                named.push_back(input.resolved);
        }
        refuseInputs(path, named);
    } else {
        refuseInputs(path, {path});
    }
    return allowReplacing(mode_, existing, path);
}

bool allowReplacing(OverwriteMode mode, const std::vector<std::string> &existing,
                    const std::string &group) {
    if (existing.empty()) return false;
    const std::string what =
        existing.size() == 1 ? existing[0]
                             : existing[0] + " and " + std::to_string(existing.size() - 1) +
                                   " more file" + (existing.size() > 2 ? "s" : "") + " of " + group;
    const char *verb = existing.size() == 1 ? " exists" : " exist";
    switch (mode) {
    case OverwriteMode::Always:
        return true;
    case OverwriteMode::Never:
        throw Failure(what + verb + " and -n keeps existing files; nothing was written");
    case OverwriteMode::Ask:
        break;
    }
    if (::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) {
        if (askOverwrite(what + verb)) return true;
        throw Failure(what + verb + "; not overwritten, nothing was written");
    }
    throw Failure(what + verb + "; add -y (--overwrite) to replace " +
                  (existing.size() == 1 ? "it" : "them") + ", nothing was written");
}

bool askOverwrite(const std::string &what) {
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) return false;
    std::fprintf(stderr, "lustra: %s; overwrite? [y/N] ", what.c_str());
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) {
        std::fputc('\n', stderr);
        return false;
    }
    std::string text(answer);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.erase(text.begin());
    return text == "y" || text == "Y" || text == "yes" || text == "Yes" || text == "YES";
}

bool moveIntoPlace(const std::string &temporary, const std::string &target, bool replace) {
    const bool existed = exists(target);
    if (!replace) {
        // Atomic where the file system can: never replaces a file that
        // appeared after the checks.
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0)
            return false;
        if (errno == EEXIST)
            throw Failure(target + ": appeared while lustra was rendering; it is kept");
        if (errno != EINVAL && errno != ENOSYS)
            throw Failure(target + ": cannot write: " + std::strerror(errno));
        if (exists(target))
            throw Failure(target + ": appeared while lustra was rendering; it is kept");
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0)
        throw Failure(target + ": cannot write: " + std::strerror(errno));
    return existed;
}

} // namespace lustra::cli
