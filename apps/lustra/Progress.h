// The progress bar on stderr: frames done of the total, frames per second
// and the time left. It appears only once a render has run for a second,
// and only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lustra::cli {

// One line of progress, e.g. "[#####.....]  12/250 frames  3.1 fps  1:17 left"
// (total < 0: unknown length, no bar and no time left).
std::string progressLine(int64_t done, int64_t total, double seconds, int barWidth = 30);

class ProgressBar {
  public:
    ProgressBar(int64_t total, bool enabled);
    ~ProgressBar();
    void update(int64_t done);
    // Clears the bar so that messages can follow.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;
    int64_t total_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_, lastDraw_;
};

} // namespace lustra::cli
