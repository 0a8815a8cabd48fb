#include "scan/progress.hpp"

namespace tempo::scan {

void drawProgress(ProgressLine& line, std::size_t done, bool force) {
    if (line.out == nullptr) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - line.lastDrawn < std::chrono::milliseconds(200)) return;
    line.lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - line.started).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    std::fprintf(line.out, "\r\033[K%zu/%zu files", done, line.total);
    if (done > 0 && rate > 0) {
        const auto left = static_cast<long>(static_cast<double>(line.total - done) / rate + 0.5);
        std::fprintf(line.out, ", %.1f files/s, %ld:%02ld left", rate, left / 60, left % 60);
    }
    std::fflush(line.out);
}

void clearProgress(const ProgressLine& line) {
    if (line.out == nullptr) return;
    std::fputs("\r\033[K", line.out);
    std::fflush(line.out);
}

}  // namespace tempo::scan
