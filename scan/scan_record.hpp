#pragma once

// What tempo-scan reports for one file.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/file_identity.hpp"
#include "scan/tag_outcome.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {

enum class ScanStatus { Ok, NoTempo, Error };

struct ScanRecord {
    std::string path;
    ScanStatus status = ScanStatus::Error;
    int bpm = 0;            // the tempo when status is Ok, rounded
    double tempo = 0.0;     // the same, doubled or halved alike but not rounded
    Method method = Method::Classic;
    double confidence = -1.0;  // 0 to 1 when the accurate method ran; else negative
    std::vector<double> beats;                     // seconds, when status is Ok (accurate method)
    std::vector<pulse::TempoChange> tempoChanges;  // the same
    std::string reason;     // plain words when status is Error
    // Status Ok, but the file was damaged or cut short and was analysed as
    // far as it could be decoded.
    bool endsEarly = false;
    bool interrupted = false;  // stopped by Ctrl-C: never reported
    FileIdentity identity;     // as stat saw it before the analysis
    TagOutcome tag;            // what --write-tags did
};

}  // namespace tempo::scan
