#include "input/file_image.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

namespace fs = std::filesystem;

TEST(OpenFileImage, MapsARegularFileWhole) {
    testing::TempDir dir;
    const testing::Bytes bytes = testing::validWave(3);
    for (const char* name : {"plain.wav", "with spaces.wav", "m\xc3\xbasica \xe3\x83\x86\xe3\x83\xb3\xe3\x83\x9d.wav"}) {
        SCOPED_TRACE(name);
        const fs::path path = dir.path() / fs::u8path(name);
        ASSERT_TRUE(testing::writeFile(path, bytes));
        FileImage image;
        ASSERT_EQ(openFileImage(path.c_str(), image), WaveCheckResult::Ok);
        ASSERT_EQ(image.length, bytes.size());
        EXPECT_EQ(image.size, bytes.size());
        EXPECT_EQ(std::string(image.bytes, image.bytes + image.length), std::string(bytes.begin(), bytes.end()));
        closeFileImage(image);
        EXPECT_EQ(image.bytes, nullptr);
    }
}

TEST(OpenFileImage, RefusesWhatCannotBeMapped) {
    testing::TempDir dir;
    const fs::path empty = dir.path() / "empty.wav";
    ASSERT_TRUE(testing::writeFile(empty, {}));
    const struct {
        fs::path path;
        WaveCheckResult expected;
    } cases[] = {
        {dir.path() / "missing.wav", WaveCheckResult::OpenFailed},
        {dir.path(), WaveCheckResult::OpenFailed},
        {empty, WaveCheckResult::MappingFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        FileImage image;
        EXPECT_EQ(openFileImage(c.path.c_str(), image), c.expected);
        EXPECT_EQ(image.bytes, nullptr);
        closeFileImage(image);
    }
}

#ifndef _WIN32
// Special files must be refused at once: a FIFO without a writer would
// otherwise block the open, and devices have no size to map.
TEST(OpenFileImage, RefusesSpecialFilesWithoutBlocking) {
    testing::TempDir dir;
    const fs::path fifo = dir.path() / "fifo.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path valid = dir.path() / "valid.wav";
    ASSERT_TRUE(testing::writeFile(valid, testing::validWave(2)));
    fs::create_directory_symlink(dir.path(), dir.path() / "to-dir");
    fs::create_symlink(dir.path() / "nowhere.wav", dir.path() / "dangling.wav");
    fs::create_symlink(valid, dir.path() / "to-valid.wav");
    const struct {
        fs::path path;
        WaveCheckResult expected;
    } cases[] = {
        {fifo, WaveCheckResult::OpenFailed},
        {"/dev/null", WaveCheckResult::OpenFailed},
        {"/dev/zero", WaveCheckResult::OpenFailed},
        {dir.path() / "to-dir", WaveCheckResult::OpenFailed},
        {dir.path() / "dangling.wav", WaveCheckResult::OpenFailed},
        {dir.path() / "to-valid.wav", WaveCheckResult::Ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        FileImage image;
        EXPECT_EQ(openFileImage(c.path.c_str(), image), c.expected);
        closeFileImage(image);
    }
}
#endif

TEST(CloseFileImage, LeavesAMemoryImageAlone) {
    const testing::Bytes bytes = testing::validWave(1);
    FileImage image = testing::imageOf(bytes);
    closeFileImage(image);
    EXPECT_EQ(image.bytes, nullptr);
    EXPECT_EQ(bytes.size(), 44U + 2048U);
}

}  // namespace
}  // namespace tempo
