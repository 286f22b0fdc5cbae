#include "Runtime.h"

#include "CliHost.h"
#include "Errors.h"
#include "FrameSources.h"
#include "Installation.h"
#include "LogMessages.h"
#include "MediaInput.h"
#include "ModuleLoader.h"

extern "C" {
#include <libavutil/log.h>
}

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace lustra::frei0r {
namespace {

std::mutex runtimeMutex; // guards `runtime` and the message set
std::unique_ptr<Runtime> runtime;
std::set<std::string> saidAlready;
int users = 0;

const char *const kSettingsFolder = "/programs/lustra/settings";

// The directory holding this library: LustraFex.so lies beside it both in
// the build tree and after installation (lib/lustra/).
std::string ownDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&warnOnce), &info) == 0 || !info.dli_fname) return ".";
    std::error_code error;
    const fs::path path = fs::canonical(info.dli_fname, error);
    return (error ? fs::path(info.dli_fname) : path).parent_path().string();
}

bool isDataDirectory(const fs::path &path) {
    std::error_code error;
    return fs::exists(path / "lustra" / "metal.pat", error);
}

// The installation's data directory beside this library, or "".
fs::path findData(const fs::path &here) {
    for (const fs::path &candidate :
         {here / "data", here / ".." / ".." / "share" / "lustra" / "data"})
        if (isDataDirectory(candidate)) return fs::weakly_canonical(candidate);
    return {};
}

} // namespace

const cli::PresetFolders &presetFolders() {
    static const cli::PresetFolders folders = [] {
        std::string home;
        try {
            home = cli::locateHome().path;
        } catch (const std::exception &) {
        }
        return cli::presetFolders(home, findData(ownDirectory()).string());
    }();
    return folders;
}

void warnOnce(const std::string &text) {
    std::lock_guard<std::mutex> lock(runtimeMutex);
    if (!saidAlready.insert(text).second) return;
    std::fprintf(stderr, "lustrafex: %s\n", text.c_str());
    std::fflush(stderr);
}

bool hostIsFfmpeg() {
    const std::string name = program_invocation_short_name;
    return name == "ffmpeg" || name == "ffplay";
}

bool hostIsMlt() {
    static const bool mlt = dlsym(RTLD_DEFAULT, "mlt_slices_count_normal") != nullptr;
    return mlt;
}

KeepHostLogLevel::KeepHostLogLevel() : level_(av_log_get_level()) {}

KeepHostLogLevel::~KeepHostLogLevel() {
    av_log_set_level(level_);
}

Runtime &Runtime::instance() {
    {
        std::lock_guard<std::mutex> lock(runtimeMutex);
        if (runtime) return *runtime;
    }
    // Created outside the message lock: the constructor may warn.
    std::unique_ptr<Runtime> fresh(new Runtime());
    std::lock_guard<std::mutex> lock(runtimeMutex);
    if (!runtime) runtime = std::move(fresh);
    return *runtime;
}

void Runtime::attach() {
    std::lock_guard<std::mutex> lock(runtimeMutex);
    ++users;
}

void Runtime::detach() {
    std::unique_ptr<Runtime> old;
    {
        std::lock_guard<std::mutex> lock(runtimeMutex);
        if (users > 0) --users;
        if (users == 0) old = std::move(runtime);
    }
}

Runtime::Runtime() : libraryDirectory_(ownDirectory()) {
    const fs::path here(libraryDirectory_);
    presetFolders(); // while VXHOME is still the user's
    // VXHOME: the user's, or a private one that links the installation's
    // pattern files and holds the settings records handed to the module.
    if (const char *home = std::getenv("VXHOME"); home && *home) {
        home_ = home;
        if (!isDataDirectory(home_))
            warnOnce("VXHOME=" + home_ +
                     " has no lustra/metal.pat: the module cannot render without its pattern "
                     "files");
    } else {
        const fs::path data = findData(here);
        if (data.empty()) {
            error_ = "cannot find the pattern files (looked for data/lustra/metal.pat beside " +
                     libraryDirectory_ + " and in ../../share/lustra/data)";
            return;
        }
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lustrafex-frei0r-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            error_ = "cannot create a private VXHOME in " + pattern.substr(0, pattern.size() - 24);
            return;
        }
        privateHome_ = home_ = pattern;
        std::error_code error;
        fs::create_directory_symlink(data / "lustra", fs::path(home_) / "lustra", error);
        if (error) {
            error_ = "cannot link the pattern files into " + home_ + ": " + error.message();
            return;
        }
        setenv("VXHOME", home_.c_str(), 1);
    }
    std::error_code error;
    fs::create_directories(home_ + kSettingsFolder, error);
    if (error) {
        error_ = "cannot create " + home_ + kSettingsFolder + ": " + error.message();
        return;
    }
    try {
        module_ = std::make_unique<cli::LoadedModule>(libraryDirectory_ + "/LustraFex.so");
        module_->describe();
        if (!module_->secondLayers() || !module_->flickerFilter() || !module_->fieldWise())
            throw cli::Failure(module_->path() +
                               ": the module does not offer the three host choices");
    } catch (const std::exception &failure) {
        module_.reset();
        error_ = failure.what();
        return;
    }
    // The backend serves the module only during this runtime's calls; other
    // hosts in the process keep theirs in between.
    HostBackend *before = lustraCurrentBackend();
    host_ = std::make_unique<cli::CliHost>();
    lustraInstallBackend(before);
    host_->resolveSource = [this](const std::string &descriptor) -> const HostFrame * {
        auto found = pictures_.find(descriptor);
        if (found != pictures_.end()) return found->second.get();
        std::unique_ptr<HostFrame> picture;
        if (descriptor.empty()) {
            warnOnce("a layer asks for a picture source, but none is set; it falls back to its "
                     "plain form");
        } else {
            try {
                KeepHostLogLevel keep;
                picture = std::make_unique<HostFrame>(cli::loadPicture(descriptor));
            } catch (const std::exception &failure) {
                warnOnce(std::string("picture source: ") + failure.what() +
                         "; the layer falls back to its plain form");
            }
        }
        return (pictures_[descriptor] = std::move(picture)).get();
    };
}

Runtime::~Runtime() {
    if (module_) cleanUp();
    host_.reset();
    module_.reset();
    if (!privateHome_.empty()) {
        std::error_code error;
        fs::remove_all(privateHome_, error); // the link only, not what it points to
        const char *home = std::getenv("VXHOME");
        if (home && privateHome_ == home) unsetenv("VXHOME");
    }
}

void Runtime::cleanUp() {
    if (!setUp_) return;
    HostBackend *previous = lustraInstallBackend(host_.get());
    OperatorContext context{};
    context.action = 2;
    module_->action(context);
    lustraInstallBackend(previous);
    setUp_ = false;
}

bool Runtime::setUp(const Record &record, const HostChoices &choices, std::string &reason) {
    if (setUp_ && record == setUpRecord_ && choices == setUpChoices_) return true;
    if (setUp_) {
        OperatorContext cleanup{};
        cleanup.action = 2;
        module_->action(cleanup);
        setUp_ = false;
    }
    const std::string name =
        std::string(kSettingsFolder) + "/.frei0r-" + std::to_string(getpid()) + ".prf";
    try {
        cli::writeRecordFile(home_ + name, record);
    } catch (const std::exception &failure) {
        reason = failure.what();
        return false;
    }
    host_->customName = name;
    module_->secondLayers()->value = choices.secondLayers ? 1 : 0;
    module_->flickerFilter()->value = choices.flickerFilter ? 1 : 0;
    module_->fieldWise()->value = choices.fieldWise ? 1 : 0;
    host_->setFieldWise(choices.fieldWise);
    OperatorContext context{};
    context.node = 1;
    context.scaleNumerator = 1;
    context.scaleDenominator = 1;
    context.pixelAspect = 1000;
    context.fieldCount = UINT32_MAX;
    context.action = 1;
    module_->action(context);
    std::remove((home_ + name).c_str());
    // Pictures named by the new settings are fetched afresh.
    pictures_.clear();
    setUp_ = true;
    setUpRecord_ = record;
    setUpChoices_ = choices;
    return true;
}

bool Runtime::render(const Record &record, const HostChoices &choices, const HostFrame &title,
                     const HostFrame &background, HostFrame &output, std::string &reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!module_) {
        reason = error_;
        return false;
    }
    if (title.width != background.width || title.height != background.height ||
        title.height % 2 != 0 || output.width != title.width || output.height != title.height) {
        reason = "the frames of one render differ in size";
        return false;
    }
    struct Serve {
        HostBackend *previous;
        explicit Serve(HostBackend *backend) : previous(lustraInstallBackend(backend)) {}
        ~Serve() { lustraInstallBackend(previous); }
    } serve(host_.get());
    if (!setUp(record, choices, reason)) return false;
    // The module reads the host choices at every render.
    module_->secondLayers()->value = choices.secondLayers ? 1 : 0;
    module_->flickerFilter()->value = choices.flickerFilter ? 1 : 0;
    module_->fieldWise()->value = choices.fieldWise ? 1 : 0;
    host_->setFieldWise(choices.fieldWise);

    host_->setFrames(0, &background, &title);
    host_->setOutput(&output);
    host_->logLines.clear();
    const int unexpectedBefore = host_->unexpectedPuts();
    OperatorContext context{};
    context.node = 1;
    context.scaleNumerator = 1;
    context.scaleDenominator = 1;
    context.pixelAspect = 1000;
    context.fieldCount = UINT32_MAX;
    context.action = 3;
    bool ok = true;
    if (choices.fieldWise) {
        // Each field on its own: field 0 (odd rows), then field 1 (even rows).
        for (int32_t field : {0, 1}) {
            host_->expectPuts({field == 0 ? 1 : 0});
            context.fieldNumber = field;
            context.renderFlags = uint8_t(field == 0 ? 2 : 0);
            if (module_->action(context) != 0 || host_->pendingPuts() != 0) ok = false;
        }
    } else {
        // The first call of the pair renders the frame and hands back both
        // fields; the second is always made so that the pair is complete
        // even after a failure.
        host_->expectPuts({1, 0});
        context.fieldNumber = 0;
        context.renderFlags = 0;
        if (module_->action(context) != 0 || host_->pendingPuts() != 0) ok = false;
        host_->expectPuts({});
        context.fieldNumber = 1;
        if (module_->action(context) != 0) ok = false;
    }
    if (host_->unexpectedPuts() != unexpectedBefore) ok = false;
    host_->expectPuts({});
    host_->setOutput(nullptr);
    host_->setFrames(-1, nullptr, nullptr);
    if (!ok) {
        reason = "the module failed to render the frame:";
        std::set<int32_t> seen;
        for (int32_t line : host_->logLines)
            if (seen.insert(line).second) reason += " " + cli::describeLogLine(line) + ";";
        if (reason.back() == ';') reason.pop_back();
        if (reason.back() == ':') reason += " no reason given";
    }
    return ok;
}

} // namespace lustra::frei0r
