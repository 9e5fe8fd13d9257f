#include "progress.h"

#include <cstdio>

#include <unistd.h>

Progress::Progress(size_t total)
    : shown_(isatty(STDERR_FILENO) == 1), total_(total), start_(std::chrono::steady_clock::now()),
      lastDrawn_(start_) {}

void Progress::MachineDone() {
    ++done_;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ >= std::chrono::seconds(1)) {
        lastDrawn_ = now;
        Draw();
    }
}

void Progress::Draw() {
    const double seconds = std::chrono::duration<double>(lastDrawn_ - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    std::fprintf(stderr, "\r\033[Kdestpick-fleet: %zu of %zu machines, %.0f a second", done_,
                 total_, rate);
    std::fflush(stderr);
}

void Progress::Finish() {
    if (shown_ && lastDrawn_ != start_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}
