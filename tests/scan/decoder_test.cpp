#include "scan/decoder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace tempo::scan {
namespace {

namespace fs = std::filesystem;

// A stream line as the streamhash output writes it.
std::string line(int index, char kind, char digit) {
    return std::to_string(index) + "," + kind + ",MD5=" + std::string(32, digit);
}

// A decoder that prints `listing` on its standard output and `complaint`
// on its standard error, then exits with `status`.
fs::path standIn(const fs::path& dir, const std::string& listing, const std::string& complaint, int status) {
    const fs::path script = dir / "ffmpeg";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' '" << listing << "'\nprintf '%s' '" << complaint << "' >&2\nexit "
                          << status << "\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

// One run lists both files: the listing is cut where the stream numbers
// start again, and anything that is not two such runs, or a decoder that
// complains or fails, is no listing (a copy is then refused, never let
// through).
TEST(ListStreamsOfBoth, CutsTheListingWhereTheNumbersStartAgain) {
    const std::string a = line(0, 'a', '1');
    const std::string v = line(1, 'v', '2');
    const std::string other = line(0, 'a', '3');
    const struct {
        const char* what;
        std::string listing;
        std::string complaint;
        int status;
        bool listed;
        std::size_t firstCount;
        std::size_t secondCount;
        bool same;
        std::string decoderLine;
    } cases[] = {
        {"the same audio and cover", a + "\n" + v + "\n" + a + "\n" + v + "\n", "", 0, true, 2, 2, true, ""},
        {"a cover lost", a + "\n" + v + "\n" + a + "\n", "", 0, true, 2, 1, false, ""},
        {"other packets", a + "\n" + other + "\n", "", 0, true, 1, 1, false, ""},
        {"one file's listing only", a + "\n" + v + "\n", "", 0, false, 0, 0, false, ""},
        {"three listings", a + "\n" + a + "\n" + a + "\n", "", 0, false, 0, 0, false, ""},
        {"numbers that skip", a + "\n" + line(2, 'v', '2') + "\n" + a + "\n", "", 0, false, 0, 0, false, ""},
        {"nothing", "", "", 0, false, 0, 0, false, ""},
        {"other words among the lines", a + "\nwhat\n" + a + "\n", "", 0, false, 0, 0, false, ""},
        {"a complaint", a + "\n" + a + "\n", "file:orig.mp3: Invalid data found", 0, false, 0, 0, false,
         "Invalid data found"},
        {"a failure", "", "", 1, false, 0, 0, false, ""},
    };
    const testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeSettings settings;
        settings.program = standIn(dir.path(), c.listing, c.complaint, c.status).string();
        std::vector<std::string> first;
        std::vector<std::string> second;
        ScanError error;
        ASSERT_EQ(listStreamsOfBoth("orig.mp3", "copy.mp3", settings, first, second, error), c.listed);
        if (!c.listed) {
            EXPECT_EQ(error.decoderLine, c.decoderLine);
            continue;
        }
        EXPECT_EQ(first.size(), c.firstCount);
        EXPECT_EQ(second.size(), c.secondCount);
        EXPECT_EQ(first == second, c.same);
        // One file alone: the first listing, the same lines.
        std::vector<std::string> alone;
        settings.program = standIn(dir.path(), a + "\n" + v + "\n", "", 0).string();
        ASSERT_TRUE(listStreams("orig.mp3", settings, alone, error));
        EXPECT_EQ(alone, (std::vector<std::string>{a, v}));
    }
}

}  // namespace
}  // namespace tempo::scan
