#include "platform/console.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace tempo::platform {
namespace {

// A file is no terminal and has no width.
TEST(TerminalColumns, IsNoneForAFile) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(isTerminal(file));
    EXPECT_EQ(terminalColumns(file), 0U);
    std::fclose(file);
}

#ifndef _WIN32
// A pseudo-terminal given a width says that width, as it is now.
TEST(TerminalColumns, ReadsTheWidthOfATerminal) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    std::FILE* terminal = ::fdopen(slave, "w");
    ASSERT_NE(terminal, nullptr);
    EXPECT_TRUE(isTerminal(terminal));
    for (const unsigned columns : {28U, 80U, 1U}) {
        struct winsize size {};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = 24;
        ASSERT_EQ(::ioctl(slave, TIOCSWINSZ, &size), 0);
        EXPECT_EQ(terminalColumns(terminal), columns);
    }
    std::fclose(terminal);
    ::close(master);
}
#endif

}  // namespace
}  // namespace tempo::platform
