// The line is cut to the terminal's width, read at each draw (a window
// may be resized), less one column: a line that fills the last column
// wraps at once on some terminals, and a wrapped line is left on screen.

#include "scan/progress.hpp"

#include <string>

#include "platform/console.hpp"

namespace tempo::scan {

std::string progressText(std::size_t done, std::size_t total, double seconds, unsigned columns) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    char text[160];
    int length = std::snprintf(text, sizeof text, "%zu/%zu files", done, total);
    if (done > 0 && rate > 0 && done <= total) {
        const auto left = static_cast<long>(static_cast<double>(total - done) / rate + 0.5);
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                ", %.1f files/s, %ld:%02ld left", rate, left / 60, left % 60);
    }
    std::string line(text, static_cast<std::size_t>(length));
    if (columns > 1 && line.size() > columns - 1) line.resize(columns - 1);
    return line;
}

void drawProgress(ProgressLine& line, std::size_t done, bool force) {
    if (line.out == nullptr) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - line.lastDrawn < std::chrono::milliseconds(200)) return;
    line.lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - line.started).count();
    const std::string text = progressText(done, line.total, seconds, platform::terminalColumns(line.out));
    std::fprintf(line.out, "\r\033[K%s", text.c_str());
    std::fflush(line.out);
}

void clearProgress(const ProgressLine& line) {
    if (line.out == nullptr) return;
    std::fputs("\r\033[K", line.out);
    std::fflush(line.out);
}

}  // namespace tempo::scan
