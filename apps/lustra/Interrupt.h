// Ctrl-C: the first SIGINT (or SIGTERM) only sets a flag; the host's abort
// check notices it and lustra stops after the current frame, closing its
// output properly. A second signal ends the program at once.
#pragma once

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

} // namespace lustra::cli
