#pragma once

// What tempo-scan reports for one file.

#include <string>

namespace tempo::scan {

enum class ScanStatus { Ok, NoTempo, Error };

struct ScanRecord {
    std::string path;
    ScanStatus status = ScanStatus::Error;
    int bpm = 0;            // the tempo when status is Ok
    std::string reason;     // plain words when status is Error
    bool interrupted = false;  // stopped by Ctrl-C: never reported
};

}  // namespace tempo::scan
