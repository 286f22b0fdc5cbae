// The process-wide side of the frei0r plug-ins: one LustraFex.so, one
// backend in the stand-in host library, one render at a time.
//
// The module keeps module-wide state and is not re-entrant, so every plug-in
// instance in a process (filters and mixers alike) renders through this one
// runtime under its lock. Before each render the runtime makes sure the
// module is set up with the calling instance's settings record and host
// choices; it sets the module up again only when they differ from the last
// render's.
#pragma once

#include "Colour.h"
#include "Presets.h"
#include "SettingsRecord.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace lustra::cli {
class CliHost;
class LoadedModule;
} // namespace lustra::cli

namespace lustra::frei0r {

using cli::HostFrame;
using cli::Record;

struct HostChoices {
    bool secondLayers = false;
    bool flickerFilter = false;
    bool fieldWise = false;
    bool operator==(const HostChoices &other) const {
        return secondLayers == other.secondLayers && flickerFilter == other.flickerFilter &&
               fieldWise == other.fieldWise;
    }
};

// Where the `preset` parameter finds presets: the user's folder under the
// VXHOME lustra uses (the environment's, else the user's data directory),
// then the looks shipped in the installation's data directory beside the
// plug-ins. Worked out once, before the runtime's private VXHOME exists.
const cli::PresetFolders &presetFolders();

// Prints "lustrafex: TEXT" on stderr, each distinct text once per process.
void warnOnce(const std::string &text);

// The host program: ffmpeg or ffplay (by the process name), or a program
// built on MLT (libmlt is loaded in the process).
bool hostIsFfmpeg();
bool hostIsMlt();

// Keeps the host's FFmpeg log level while pictures are read with lustra's
// reader (which quietens FFmpeg's log for itself): ffmpeg is the host here.
class KeepHostLogLevel {
  public:
    KeepHostLogLevel();
    ~KeepHostLogLevel();
    KeepHostLogLevel(const KeepHostLogLevel &) = delete;
    KeepHostLogLevel &operator=(const KeepHostLogLevel &) = delete;

  private:
    int level_;
};

class Runtime {
  public:
    // The runtime, loading the module on first use. Never null; when the
    // module cannot be loaded, ready() is false and error() says why.
    static Runtime &instance();
    // The plug-ins' f0r_init and f0r_deinit: the module is unloaded when
    // the last plug-in that uses it is deinitialised.
    static void attach();
    static void detach();

    Runtime(const Runtime &) = delete;
    Runtime &operator=(const Runtime &) = delete;
    ~Runtime();

    bool ready() const { return module_ != nullptr; }
    const std::string &error() const { return error_; }
    // The directory the module and this library were loaded from.
    const std::string &libraryDirectory() const { return libraryDirectory_; }
    // VXHOME as the module sees it.
    const std::string &home() const { return home_; }

    // Renders one frame: `title` is input 1, `background` input 0, both of
    // the same size with an even height; `output` receives the result at
    // that size. Returns false with a readable reason on failure. Takes the
    // lock itself.
    bool render(const Record &record, const HostChoices &choices, const HostFrame &title,
                const HostFrame &background, HostFrame &output, std::string &reason);

  private:
    Runtime();
    bool setUp(const Record &record, const HostChoices &choices, std::string &reason);
    void cleanUp();

    std::mutex mutex_;
    std::string error_;
    std::string libraryDirectory_;
    std::string home_;
    std::string privateHome_; // removed again at the end, when we made it
    std::unique_ptr<cli::LoadedModule> module_;
    std::unique_ptr<cli::CliHost> host_;
    std::map<std::string, std::unique_ptr<HostFrame>> pictures_;
    bool setUp_ = false;
    Record setUpRecord_{};
    HostChoices setUpChoices_;
};

} // namespace lustra::frei0r
