#pragma once

// The small file chores of the copy tests on both platforms: a file's
// bytes, a file written whole, a copy appended to, a folder's entries.

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/safe_replace.hpp"

namespace tempo::testing {

// The file's bytes; "" where it cannot be read.
inline std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes `text` as the whole of the file.
inline void put(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Appends `text` to the copy, failing the test where it cannot.
inline void append(platform::SiblingCopy& copy, const std::string& text) {
    ASSERT_EQ(copy.append(reinterpret_cast<const unsigned char*>(text.data()), text.size()), 0);
}

// How many entries the folder holds.
inline std::size_t entries(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

}  // namespace tempo::testing
