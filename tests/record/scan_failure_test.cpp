#include "record/scan_failure.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

namespace tempo::scan {
namespace {

// Each failure has its one message, worded as the records have always
// worded it; the detail comes from beside the failure, never from text.
TEST(ScanFailureText, GivesEachFailureItsWords) {
    const struct {
        ScanError error;
        std::string text;
    } cases[] = {
        {{ScanFailure::System, ENOENT, "", ""}, "no such file or directory"},
        {{ScanFailure::System, EACCES, "", ""}, "permission denied"},
        {{ScanFailure::NotRegular, 0, "", ""}, "not a regular file"},
        {{ScanFailure::Shrank, 0, "", ""}, "file shrank while it was read"},
        {{ScanFailure::DecoderMissing, ENOENT, "ffmpeg", ""}, "ffmpeg not found"},
        {{ScanFailure::DecoderNotRun, EACCES, "/opt/ff", ""}, "cannot run /opt/ff: Permission denied"},
        {{ScanFailure::DecoderUnwatched, ENOMEM, "ffmpeg", ""}, "cannot watch ffmpeg: cannot allocate memory"},
        {{ScanFailure::TimedOut, 600, "ffmpeg", ""}, "decoding took longer than 600 s"},
        {{ScanFailure::DecoderStatus, 3, "bin/ff", ""}, "bin/ff failed with status 3"},
        {{ScanFailure::NotAudio, 1, "/usr/bin/ffmpeg", "Invalid data found when processing input"},
         "not readable as audio (ffmpeg: Invalid data found when processing input)"},
        {{ScanFailure::NotAudio, 1, "/usr/bin/ffmpeg", ""}, "/usr/bin/ffmpeg failed with status 1"},
        {{ScanFailure::EndsEarly, 1, "ffmpeg", "End of file"}, "file ends early (ffmpeg: End of file)"},
        {{ScanFailure::NotWaveStream, 0, "ffmpeg", ""}, "decoder wrote no 16-bit stereo WAVE stream"},
        {{ScanFailure::TooLong, 0, "ffmpeg", ""}, "audio longer than a WAVE file can hold (4 GiB)"},
        {{ScanFailure::Empty, 0, "", ""}, "empty file"},
        {{ScanFailure::Boundless, 0, "", ""}, "decoder gave more audio than the file can hold"},
        {{ScanFailure::NoAudio, 0, "ffmpeg", ""}, "no audio"},
    };
    for (const auto& c : cases) EXPECT_EQ(scanFailureText(c.error), c.text);
}

// What an index may keep: failures of the file's own content, never those
// of the moment or the machine.
TEST(FailureLasts, OnlyForTheFilesOwnContent) {
    const ScanFailure lasting[] = {ScanFailure::NotAudio, ScanFailure::EndsEarly, ScanFailure::TooLong,
                                   ScanFailure::Empty, ScanFailure::Boundless, ScanFailure::NoAudio};
    const ScanFailure passing[] = {ScanFailure::System,       ScanFailure::NotRegular,     ScanFailure::Shrank,
                                   ScanFailure::DecoderMissing, ScanFailure::DecoderNotRun, ScanFailure::DecoderUnwatched,
                                   ScanFailure::TimedOut,     ScanFailure::DecoderKilled,  ScanFailure::DecoderStatus,
                                   ScanFailure::NotWaveStream};
    for (ScanFailure failure : lasting) EXPECT_TRUE(failureLasts(failure)) << scanFailureText({failure, 0, "", ""});
    for (ScanFailure failure : passing) EXPECT_FALSE(failureLasts(failure)) << scanFailureText({failure, 0, "", ""});
}

// Every failure has a name of its own, which reads back as that failure;
// the names an index already holds never change.
TEST(ScanFailureName, NamesEveryFailureOnceAndReadsItBack) {
    std::set<std::string> names;
    int count = 0;
    for (int value = 0; scanFailureName(static_cast<ScanFailure>(value)) != nullptr; ++value, ++count) {
        const auto failure = static_cast<ScanFailure>(value);
        const std::string name = scanFailureName(failure);
        EXPECT_TRUE(names.insert(name).second) << name;
        ScanFailure back = ScanFailure::System;
        ASSERT_TRUE(scanFailureNamed(name, back)) << name;
        EXPECT_EQ(back, failure) << name;
    }
    // As many names as failures: the last one named is the enum's last.
    EXPECT_EQ(count, static_cast<int>(ScanFailure::NoAudio) + 1);
    const struct {
        ScanFailure failure;
        const char* name;
    } kept[] = {{ScanFailure::System, "system"},       {ScanFailure::NotAudio, "not audio"},
                {ScanFailure::EndsEarly, "ends early"}, {ScanFailure::Empty, "empty"},
                {ScanFailure::TooLong, "too long"},     {ScanFailure::NotWaveStream, "not a wave stream"}};
    for (const auto& c : kept) EXPECT_STREQ(scanFailureName(c.failure), c.name);
    ScanFailure failure = ScanFailure::Empty;
    for (const char* strange : {"", "melted", "System", "not audio "}) {
        EXPECT_FALSE(scanFailureNamed(strange, failure)) << strange;
    }
    EXPECT_EQ(failure, ScanFailure::Empty);
}

TEST(ProgramName, NamesTheDecoderWithoutItsFolder) {
    EXPECT_EQ(programName("ffmpeg"), "ffmpeg");
    EXPECT_EQ(programName("/usr/bin/ffmpeg"), "ffmpeg");
#ifdef _WIN32
    EXPECT_EQ(programName("C:\\ffmpeg\\bin\\FFMPEG.EXE"), "FFMPEG");
    EXPECT_EQ(programName("C:/tools/ffmpeg.exe"), "ffmpeg");
#else
    EXPECT_EQ(programName("/opt/x.exe"), "x.exe");
#endif
}

}  // namespace
}  // namespace tempo::scan
