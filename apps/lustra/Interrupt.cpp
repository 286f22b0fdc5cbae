#include "Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace lustra::cli {
namespace {

std::atomic<int> signalCount{0};
struct sigaction previousInt, previousTerm, previousHup;

// The watched temporary files: fixed buffers the handler reads without
// allocating. A slot's path is complete before `used` is set, and `used` is
// cleared before the path is changed again.
constexpr int kSlots = 32;
constexpr size_t kPathBytes = 4096;
struct Slot {
    std::atomic<bool> used{false};
    char path[kPathBytes];
};
Slot slots[kSlots];
std::mutex slotMutex; // between threads that watch and unwatch, never in the handler

void removeAll() {
    for (Slot &slot : slots)
        if (slot.used.load(std::memory_order_acquire)) ::unlink(slot.path);
}

extern "C" void onSignal(int number) {
    if (signalCount.fetch_add(1) >= 1) {
        // Second signal: the temporary files go, then the default action.
        const int saved = errno;
        removeAll();
        errno = saved;
        signal(number, SIG_DFL);
        raise(number);
    }
}

} // namespace

InterruptGuard::InterruptGuard() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    // A signal the caller ignores (nohup, a background job of a script)
    // stays ignored.
    for (auto [number, previous] :
         {std::pair{SIGINT, &previousInt}, std::pair{SIGTERM, &previousTerm},
          std::pair{SIGHUP, &previousHup}}) {
        sigaction(number, &action, previous);
        if (previous->sa_handler == SIG_IGN) sigaction(number, previous, nullptr);
    }
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGHUP, &previousHup, nullptr);
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

void watchTemporary(const std::string &path) {
    if (path.empty() || path.size() >= kPathBytes) return;
    std::lock_guard<std::mutex> lock(slotMutex);
    for (Slot &slot : slots) {
        if (slot.used.load(std::memory_order_relaxed)) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.used.store(true, std::memory_order_release);
        return;
    }
}

void unwatchTemporary(const std::string &path) {
    std::lock_guard<std::mutex> lock(slotMutex);
    for (Slot &slot : slots)
        if (slot.used.load(std::memory_order_relaxed) && path == slot.path) {
            slot.used.store(false, std::memory_order_release);
            return;
        }
}

void removeWatchedTemporaries() {
    removeAll();
}

} // namespace lustra::cli
