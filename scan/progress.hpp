#pragma once

// One line on standard error, redrawn in place: files done of total, files
// per second, time left, never wider than the terminal.

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace tempo::scan {

struct ProgressLine {
    std::FILE* out = nullptr;  // nullptr: no progress line
    std::size_t total = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn{};
};

// The line's text after `seconds` with `done` of `total` files finished,
// cut to fit `columns` (0: no limit) without touching the last column.
std::string progressText(std::size_t done, std::size_t total, double seconds, unsigned columns);

// Redraws the line at most five times a second (always when `force`).
void drawProgress(ProgressLine& line, std::size_t done, bool force = false);

// Clears the line, leaving the terminal as it was.
void clearProgress(const ProgressLine& line);

}  // namespace tempo::scan
