#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace lustra::cli {

std::string progressLine(int64_t done, int64_t total, double seconds, int barWidth) {
    char text[160];
    const double fps = seconds > 0 ? double(done) / seconds : 0.0;
    std::string line;
    if (total > 0) {
        const int64_t clamped = done < total ? done : total;
        const int filled = int(clamped * barWidth / total);
        line = "[" + std::string(size_t(filled), '#') +
               std::string(size_t(barWidth - filled), '.') + "] ";
        std::snprintf(text, sizeof text, "%lld/%lld frames  %.1f fps", (long long)done,
                      (long long)total, fps);
        line += text;
        if (fps > 0 && done < total) {
            const long left = long(double(total - done) / fps + 0.5);
            std::snprintf(text, sizeof text, "  %ld:%02ld left", left / 60, left % 60);
            line += text;
        }
    } else {
        std::snprintf(text, sizeof text, "%lld frames  %.1f fps", (long long)done, fps);
        line = text;
    }
    return line;
}

ProgressBar::ProgressBar(int64_t total, bool enabled)
    : total_(total), enabled_(enabled && isatty(STDERR_FILENO)), start_(Clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() {
    clear();
}

void ProgressBar::update(int64_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (seconds < 1.0) return;
    if (shown_ && now - lastDraw_ < std::chrono::milliseconds(100) && done != total_) return;
    lastDraw_ = now;
    shown_ = true;
    std::fprintf(stderr, "\r%s\x1b[K", progressLine(done, total_, seconds).c_str());
    std::fflush(stderr);
}

void ProgressBar::clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    shown_ = false;
}

} // namespace lustra::cli
