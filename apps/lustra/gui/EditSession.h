// An edit of the effect's settings on a clip: the module's settings dialog
// (action 4) on screen through the Qt backend, with the title and background
// frames the dialog previews. The module writes the settings file when the
// dialog closes, whichever way it closes.
#pragma once

#include "Animation.h"
#include "FrameSources.h"
#include "QtDialogHost.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lustra::gui {

struct EditRequest {
    std::unique_ptr<cli::FrameSource> title, background;
    // Reopens a video source when the dialog goes back to an earlier frame
    // (null: the source cannot go back, earlier frames are unavailable).
    std::function<std::unique_ptr<cli::FrameSource>()> reopenTitle, reopenBackground;
    std::string instance; // "" = last.prf
    // Keyframed settings (null or empty: none). The dialog then opens on
    // frame `animationFrame` with the record animated to that frame; on
    // closing, the instance's file takes the edits of the fields that are
    // not animated and keeps its own values of the animated ones.
    std::shared_ptr<const cli::Animation> animation;
    int64_t animationFrame = 0;
    bool secondLayers = false;
    ScreenSetup screen;
    std::unique_ptr<Requesters> requesters;
    // Called with the host before the dialog opens (tests add their hooks).
    std::function<void(QtDialogHost &)> prepare;
    bool quiet = false;
};

struct EditOutcome {
    int exitCode = 0;
    std::string settingsPath;
    std::vector<int32_t> logLines;
    // Edits of animated fields that the instance's file does not take.
    std::vector<std::string> notes;
};

// Runs the dialog until the user closes it. Needs a QApplication. Throws
// Failure or UsageError for what keeps the dialog from opening.
EditOutcome runEdit(EditRequest &request);

} // namespace lustra::gui
