#include "platform/file_image.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tempo/estimate.hpp"
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

#ifndef _WIN32
// Another process cuts the file short while it is mapped: reading the lost
// pages gives zeros instead of SIGBUS, and the image says so. Cut at the
// header, inside the samples, and not at all; several images open at once
// are each watched, and closing one does not disarm another.
TEST(FileImageLostBytes, ReportsAFileTruncatedWhileMapped) {
    installFileImageGuard();
    testing::TempDir dir;
    const testing::Bytes bytes = testing::validWave(3000);
    const struct {
        const char* name;
        long long keep;  // bytes left by the truncation; -1: none
        bool lost;
    } cases[] = {
        {"untouched", -1, false},
        {"cut inside the samples", 1 << 20, true},
        {"cut to nothing", 0, true},
    };
    FileImage images[std::size(cases)];
    WaveData waves[std::size(cases)];
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const fs::path path = dir.path() / ("clip" + std::to_string(i) + ".wav");
        ASSERT_TRUE(testing::writeFile(path, bytes));
        ASSERT_EQ(openFileImage(path.c_str(), images[i]), WaveCheckResult::Ok);
        ASSERT_EQ(checkWaveHeader(bytesOf(images[i]), waves[i]), WaveCheckResult::Ok);
        if (cases[i].keep >= 0) {
            ASSERT_EQ(::truncate(path.c_str(), cases[i].keep), 0);
        }
    }
    FileImage other;
    ASSERT_EQ(openFileImage((dir.path() / "clip0.wav").c_str(), other), WaveCheckResult::Ok);
    closeFileImage(other);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const TempoEstimate estimate = estimateTempo(images[i], waves[i]);
        EXPECT_EQ(fileImageLostBytes(images[i]), cases[i].lost);
        if (!cases[i].lost) {
            EXPECT_EQ(printedBpm(estimate), 120);
        }
        const unsigned char last = images[i].bytes[images[i].length - 1];
        EXPECT_EQ(last, cases[i].lost ? 0 : bytes.back());
        closeFileImage(images[i]);
    }
}

// Images opened and closed on several threads while others fault on files
// cut short: every fault lands on its own image, so each cut image reads
// zeros and says so, and no other image is ever marked.
TEST(FileImageLostBytes, KeepsEachFaultToItsImageAcrossThreads) {
    installFileImageGuard();
    testing::TempDir dir;
    const testing::Bytes bytes = testing::validWave(600);
    constexpr int kOpeners = 3;
    constexpr int kCutters = 2;
    constexpr int kRounds = 150;
    std::atomic<int> wrongMarks{0};
    std::atomic<int> missedCuts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kOpeners + kCutters; ++t) {
        const fs::path path = dir.path() / ("clip" + std::to_string(t) + ".wav");
        threads.emplace_back([&, t, path] {
            const bool cutter = t >= kOpeners;
            for (int round = 0; round < kRounds; ++round) {
                if (!testing::writeFile(path, bytes)) return;
                FileImage image;
                if (openFileImage(path.c_str(), image) != WaveCheckResult::Ok) return;
                unsigned sum = 0;
                if (cutter) {
                    if (::truncate(path.c_str(), 0) != 0) return;
                    for (std::uint64_t at = 0; at < image.length; at += 512) sum += image.bytes[at];
                    if (!fileImageLostBytes(image) || sum != 0) ++missedCuts;
                } else {
                    for (std::uint64_t at = 0; at < image.length; at += 512) sum += image.bytes[at];
                    if (fileImageLostBytes(image)) ++wrongMarks;
                }
                closeFileImage(image);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrongMarks.load(), 0);
    EXPECT_EQ(missedCuts.load(), 0);
}
#endif

// Images opened and closed as fast as threads can: each open image is
// watched over exactly its own bytes for as long as it is open, however
// the closes of others fall between its steps.
TEST(FileImageGuarded, HoldsEachImagesRangeWhileOthersOpenAndClose) {
    installFileImageGuard();
    testing::TempDir dir;
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::atomic<int> unguarded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        const fs::path path = dir.path() / ("g" + std::to_string(t) + ".wav");
        ASSERT_TRUE(testing::writeFile(path, testing::validWave(1)));
        threads.emplace_back([&unguarded, path] {
            for (int round = 0; round < kRounds; ++round) {
                FileImage image;
                if (openFileImage(path.c_str(), image) != WaveCheckResult::Ok) return;
                if (!fileImageGuarded(image)) ++unguarded;
                std::this_thread::yield();
                if (!fileImageGuarded(image)) ++unguarded;
                closeFileImage(image);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(unguarded.load(), 0);
}

TEST(CloseFileImage, LeavesAMemoryImageAlone) {
    const testing::Bytes bytes = testing::validWave(1);
    FileImage image = testing::imageOf(bytes);
    closeFileImage(image);
    EXPECT_EQ(image.bytes, nullptr);
    EXPECT_EQ(bytes.size(), 44U + 2048U);
}

}  // namespace
}  // namespace tempo
