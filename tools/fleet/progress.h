// The fleet run's progress on a terminal: one line on standard error, machines done, of how many,
// and the rate, redrawn at most once a second. Silent when standard error is no terminal.
#pragma once

#include <chrono>
#include <cstddef>

class Progress {
  public:
    explicit Progress(size_t total);
    void MachineDone();
    // Clears the line, so that what follows on standard error starts on a line of its own.
    void Finish();

  private:
    void Draw();

    bool shown_;
    size_t total_;
    size_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDrawn_;
};
