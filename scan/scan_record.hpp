#pragma once

// What tempo-scan reports for one file.

#include <cstdint>
#include <string>

namespace tempo::scan {

enum class ScanStatus { Ok, NoTempo, Error };

// What a file was when it was analysed; a file whose identity changed
// since is not tagged.
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

struct ScanRecord {
    std::string path;
    ScanStatus status = ScanStatus::Error;
    int bpm = 0;            // the tempo when status is Ok
    std::string reason;     // plain words when status is Error
    bool interrupted = false;  // stopped by Ctrl-C: never reported
    FileIdentity identity;     // as stat saw it before the analysis
    std::string tag;           // the tag outcome; empty: none considered
};

}  // namespace tempo::scan
