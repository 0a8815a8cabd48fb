#include "scan/progress.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tempo::scan {
namespace {

// The line is cut to one column less than the terminal has, so that it
// never fills the last column, where some terminals wrap at once.
TEST(ProgressText, FitsTheTerminalWithoutItsLastColumn) {
    const struct {
        std::size_t done, total;
        double seconds;
        unsigned columns;
        std::string text;
    } cases[] = {
        {0, 1000, 0.0, 0, "0/1000 files"},
        {10, 1000, 4.0, 0, "10/1000 files, 2.5 files/s, 6:36 left"},
        {10, 1000, 4.0, 80, "10/1000 files, 2.5 files/s, 6:36 left"},
        {10, 1000, 4.0, 38, "10/1000 files, 2.5 files/s, 6:36 left"},
        {10, 1000, 4.0, 37, "10/1000 files, 2.5 files/s, 6:36 lef"},
        {10, 1000, 4.0, 28, "10/1000 files, 2.5 files/s,"},
        {123456, 7654321, 1.0, 12, "123456/7654"},
        {1, 2, 1.0, 1, "1/2 files, 1.0 files/s, 0:01 left"},
        {5, 5, 2.0, 28, "5/5 files, 2.5 files/s, 0:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.columns);
        EXPECT_EQ(progressText(c.done, c.total, c.seconds, c.columns), c.text);
    }
}

}  // namespace
}  // namespace tempo::scan
