#pragma once

// What a file was when it was analysed: a file whose identity changed
// since is not tagged.

#include <cstdint>

namespace tempo::scan {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

}  // namespace tempo::scan
