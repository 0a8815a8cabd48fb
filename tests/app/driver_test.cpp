#include "app/driver.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/console.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/wave_bytes.hpp"

namespace tempo {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::string out;
    int status;
};

Outcome run(std::vector<fs::path::string_type> args) {
    std::vector<const PathChar*> argv;
    for (const auto& arg : args) argv.push_back(arg.c_str());
    std::FILE* out = std::tmpfile();
    const int status = runTempo(static_cast<int>(argv.size()), argv.data(), out);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text.push_back(static_cast<char>(c));
    std::fclose(out);
    return {text, status};
}

TEST(RunTempo, PrintsOneLineAndTheStatus) {
    testing::TempDir dir;
    const fs::path clip = dir.path() / "clip.wav";
    ASSERT_TRUE(testing::writeFile(clip, testing::validWave(400)));
    const fs::path mono = dir.path() / "mono.wav";
    testing::WaveLayout layout;
    layout.channels = 1;
    ASSERT_TRUE(testing::writeFile(mono, testing::buildWave(layout)));
    const fs::path tiny = dir.path() / "tiny.wav";
    ASSERT_TRUE(testing::writeFile(tiny, testing::validWave(1)));
    const fs::path::string_type program = fs::path("tempo").native();

    const struct {
        const char* name;
        std::vector<fs::path::string_type> args;
        std::string out;
        int status;
    } cases[] = {
        {"no argument", {program}, "usage : tempo <input wav file>\n", 1},
        {"no arguments at all", {}, "usage : tempo <input wav file>\n", 1},
        {"missing file", {program, (dir.path() / "missing.wav").native()}, "file open error.\n", 1},
        {"directory", {program, dir.path().native()}, "file open error.\n", 1},
        {"refused header", {program, mono.native()}, "stereo only.\n", 1},
        {"one frame has no peak", {program, tiny.native()}, "bpm:59", 0},
        {"a click every 43 frames", {program, clip.native()}, "bpm:120", 0},
        {"extra arguments ignored", {program, clip.native(), mono.native(), fs::path("x").native()}, "bpm:120", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.status, c.status);
    }
}

#ifndef _WIN32
// Opens a stream that cannot take any output: the full device, or a pipe
// whose reading end is already closed.
std::FILE* unwritableStream(bool pipeClosed) {
    if (!pipeClosed) return std::fopen("/dev/full", "w");
    int fds[2];
    if (::pipe(fds) != 0) return nullptr;
    ::close(fds[0]);
    return ::fdopen(fds[1], "w");
}

// A line that could not be written must not look like success.
TEST(RunTempo, FailsWhenTheLineCannotBeWritten) {
    platform::prepareStandardOutput();  // a closed pipe then fails the write instead of killing the test
    testing::TempDir dir;
    const fs::path clip = dir.path() / "clip.wav";
    ASSERT_TRUE(testing::writeFile(clip, testing::validWave(400)));
    const std::vector<std::vector<std::string>> argvs = {{"tempo"}, {"tempo", clip.string()}};
    for (bool pipeClosed : {false, true}) {
        for (const auto& args : argvs) {
            SCOPED_TRACE(std::to_string(args.size()) + (pipeClosed ? " args, closed pipe" : " args, full device"));
            std::FILE* sink = unwritableStream(pipeClosed);
            ASSERT_NE(sink, nullptr);
            std::vector<const char*> argv;
            for (const auto& arg : args) argv.push_back(arg.c_str());
            EXPECT_EQ(runTempo(static_cast<int>(argv.size()), argv.data(), sink), 1);
            std::fclose(sink);
        }
    }
}
#endif

}  // namespace
}  // namespace tempo
