#pragma once

// One line on standard error, redrawn in place: files done of total, files
// per second, time left.

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace tempo::scan {

struct ProgressLine {
    std::FILE* out = nullptr;  // nullptr: no progress line
    std::size_t total = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn{};
};

// Redraws the line at most five times a second (always when `force`).
void drawProgress(ProgressLine& line, std::size_t done, bool force = false);

// Clears the line, leaving the terminal as it was.
void clearProgress(const ProgressLine& line);

}  // namespace tempo::scan
