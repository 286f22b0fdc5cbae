// Keeping the inputs and the user's existing files safe from what lustra
// writes: an output that is the same file as an input is refused, an
// existing output is replaced only when the user asked for it (-y, or "y"
// at the question on a terminal), and a finished file is moved into place
// without replacing what it may not replace.
#pragma once

#include "MediaOutput.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lustra::cli {

enum class OverwriteMode {
    Ask,    // ask on a terminal; without one, refuse and name -y
    Always, // -y, --overwrite
    Never,  // -n: an existing output is an error
};

class OutputSafety {
  public:
    explicit OutputSafety(OverwriteMode mode) : mode_(mode) {}

    // A file the outputs must never replace; `what` names it as the command
    // line did ("--title", "--source fill1", "the settings file").
    void addInput(const std::string &what, const std::string &path);

    // Checks every file that the output `path` of that kind writes: for a
    // sequence the frames `firstFrame` to `lastFrame` (-1: no known end).
    // Throws Refusal when one of them is an input, Failure when one exists
    // and may not be replaced (after asking on a terminal). Returns whether
    // existing files may be replaced.
    bool check(const std::string &path, OutputKind kind, int64_t firstFrame,
               int64_t lastFrame) const;

    // The existing files `check` would have to replace, in frame order.
    std::vector<std::string> existingFiles(const std::string &path, OutputKind kind,
                                           int64_t firstFrame, int64_t lastFrame) const;

  private:
    struct Input {
        std::string what, path, resolved;
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
    };
    void refuseInputs(const std::string &output, const std::vector<std::string> &targets) const;

    OverwriteMode mode_;
    std::vector<Input> inputs_;
};

// The files of a numbered sequence `pattern` (e.g. out-%04d.png) that exist
// now, numbered `firstFrame` to `lastFrame` (-1: any number from
// `firstFrame` on), in frame order.
std::vector<std::string> existingSequenceFiles(const std::string &pattern, int64_t firstFrame,
                                               int64_t lastFrame);

// Whether the `existing` files (of the output `group`) may be replaced: none
// need not; -y may; -n throws Failure; otherwise asks on a terminal and
// throws Failure, naming -y, without one.
bool allowReplacing(OverwriteMode mode, const std::vector<std::string> &existing,
                    const std::string &group);

// Asks "overwrite? [y/N]" on the terminal when stdin and stderr are both
// one; false without a terminal or for any answer but y/yes.
bool askOverwrite(const std::string &what);

// Moves a complete temporary file to `target`. With `replace` false an
// existing target (also one that appeared while lustra was rendering) is
// kept and the move fails. Returns whether a file stood at `target` before.
// Throws Failure naming the target.
bool moveIntoPlace(const std::string &temporary, const std::string &target, bool replace);

} // namespace lustra::cli
