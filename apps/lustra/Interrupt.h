// Ctrl-C: the first SIGINT (or SIGTERM, SIGHUP) only sets a flag; the host's
// abort check notices it and lustra stops after the current frame, closing
// its output properly. A second signal ends the program at once, after
// removing the temporary files lustra is writing (watchTemporary), so that
// no half-written ".NAME.partial-PID" file stays behind.
#pragma once

#include <string>

namespace lustra::cli {

// Installs the handlers for the life of the object.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;
};

bool interruptRequested();
// For tests: behaves as if Ctrl-C had been pressed.
void requestInterrupt();
void clearInterrupt();

// A temporary file the signal handler removes when a signal ends the
// program at once. Call before the file is created and unwatch only after
// it has been renamed or removed, so that no moment is left uncovered.
// Paths longer than 4095 bytes and more than 32 files at once are not
// watched.
void watchTemporary(const std::string &path);
void unwatchTemporary(const std::string &path);
// Removes every watched file (what the handler does); for tests.
void removeWatchedTemporaries();

} // namespace lustra::cli
