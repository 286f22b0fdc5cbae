#include "Interrupt.h"

#include <signal.h>

#include <atomic>

namespace lustra::cli {
namespace {

std::atomic<int> signalCount{0};
struct sigaction previousInt, previousTerm;

extern "C" void onSignal(int number) {
    if (signalCount.fetch_add(1) >= 1) {
        // Second signal: the default action, at once.
        signal(number, SIG_DFL);
        raise(number);
    }
}

} // namespace

InterruptGuard::InterruptGuard() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool interruptRequested() {
    return signalCount.load() > 0;
}
void requestInterrupt() {
    signalCount.store(1);
}
void clearInterrupt() {
    signalCount.store(0);
}

} // namespace lustra::cli
