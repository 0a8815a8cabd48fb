#include "platform/path.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tempo::platform {
namespace {

TEST(PathParts, SplitsFolderAndName) {
    const std::string sep(1, kPathSeparator);
    const struct {
        std::string path, folder, name;
    } cases[] = {
        {"song.flac", ".", "song.flac"},
        {"a" + sep + "b" + sep + "song.flac", "a" + sep + "b", "song.flac"},
        {sep + "song.flac", sep, "song.flac"},
        {"a" + sep, "a", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(nameOf(c.path), c.name) << c.path;
    }
    EXPECT_EQ(joinPath("a", "b"), "a" + sep + "b");
    EXPECT_EQ(joinPath("a" + sep, "b"), "a" + sep + "b");
}

// The names a tag writer's copies take, and no other.
TEST(SiblingCopyName, KnowsTheCopiesAndNothingElse) {
    const struct {
        std::string name;
        bool copy;
    } cases[] = {
        {siblingCopyPrefix("song.mp3") + "AbC123", true},
        {".song.mp3.tempo-AbC123", true},
        {".a.tempo-xxxxxx", true},
        {".song.mp3.tempo-AbC12", false},
        {".song.mp3.tempo-AbC1234", false},
        {"song.mp3.tempo-AbC123", false},
        {"..tempo-AbC123", false},
        {".tempo-AbC123", false},
        {".song.mp3", false},
        {"song.mp3", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isSiblingCopyName(c.name), c.copy) << c.name;
}

}  // namespace
}  // namespace tempo::platform
