#include "platform/files.hpp"
#include "platform/machine.hpp"
#include "platform/path.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace tempo::platform {
namespace {

std::string utf8Of(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

// What the scan learns of a path before it reads it: a plain file, a
// folder, nothing there; a long path and a non-ASCII name on the way.
TEST(ReadFileStatus, TellsFilesFromTheRest) {
    const testing::TempDir dir;
    std::string deep = utf8Of(dir.path());
    for (int i = 0; i < 5; ++i) deep += kPathSeparator + std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(std::filesystem::u8path(deep));
    const std::string name = utf8Of(dir.path()) + kPathSeparator + "t\xC3\xA9mpo \xE3\x83\x86.wav";
    const std::string deepFile = deep + kPathSeparator + "x.wav";
    for (const std::string& path : {name, deepFile}) {
        std::ofstream(std::filesystem::u8path(path), std::ios::binary) << "12345";
    }
    const struct {
        std::string path;
        bool found;
        bool regular;
        std::int64_t size;
        int error;
    } cases[] = {
        {name, true, true, 5, 0},
        {deepFile, true, true, 5, 0},
        {deep, true, false, -2, 0},
        {utf8Of(dir.path()) + kPathSeparator + "missing.wav", false, false, -1, ENOENT},
        {deep + kPathSeparator + "missing" + kPathSeparator + "x.wav", false, false, -1, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FileStatus status;
        int error = 0;
        ASSERT_EQ(readFileStatus(c.path, status, error), c.found);
        if (!c.found) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        EXPECT_EQ(status.regular, c.regular);
        if (c.size >= 0) {
            EXPECT_EQ(status.identity.size, c.size);
        }
        EXPECT_NE(status.identity.modifiedNs, 0);
    }
    // One file by two names is one identity; two files are two.
    FileStatus first, again, other;
    int error = 0;
    ASSERT_TRUE(readFileStatus(name, first, error));
    ASSERT_TRUE(readFileStatus(utf8Of(dir.path()) + "/" + "t\xC3\xA9mpo \xE3\x83\x86.wav", again, error));
    ASSERT_TRUE(readFileStatus(deepFile, other, error));
    EXPECT_EQ(first.identity, again.identity);
    EXPECT_NE(first.identity, other.identity);
    // The time of the last write counts from 1970 on every system, as the
    // index keeps it: a file just made was written within a day of now.
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    EXPECT_LT(std::llabs(first.identity.modifiedNs - static_cast<std::int64_t>(now.count())),
              std::int64_t{86400} * 1000000000);
}

// The report file: opened in binary (a newline stays one byte), under a
// non-ASCII name; a folder is refused with errno set.
TEST(OpenReportFile, WritesBytesAsTheyAre) {
    const testing::TempDir dir;
    const std::string path = utf8Of(dir.path()) + kPathSeparator + "r\xC3\xA9port.tsv";
    std::FILE* out = openReportFile(path);
    ASSERT_NE(out, nullptr);
    std::fputs("a\nb\r\n", out);
    ASSERT_EQ(std::fclose(out), 0);
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::u8path(path)), 5U);
    errno = 0;
    EXPECT_EQ(openReportFile(utf8Of(dir.path())), nullptr);
    EXPECT_NE(errno, 0);
}

TEST(Platform, KnowsItsMachine) {
    EXPECT_GE(availableCpus(), 1U);
    EXPECT_EQ(environmentText("TEMPO_NO_SUCH_VARIABLE_IS_SET"), "");
}

}  // namespace
}  // namespace tempo::platform
