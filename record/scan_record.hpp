#pragma once

// What tempo-scan reports for one file.

#include <optional>
#include <string>
#include <vector>

#include "input/audio_container.hpp"
#include "input/stream_hash.hpp"
#include "platform/files.hpp"
#include "record/audio_facts.hpp"
#include "record/scan_failure.hpp"
#include "record/tag_outcome.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {

enum class ScanStatus {
    Ok,
    NoTempo,
    Error,        // `error` says why
    Interrupted,  // cut short by a stop request: never reported
};

// Where the samples the analysis read came from.
enum class AudioSource {
    None,     // nothing was read
    InPlace,  // a WAVE file read where it lies
    Decoder,  // the decoder's output
    InProcess,  // a decoder in this process
};

struct ScanRecord {
    std::string path;
    ScanStatus status = ScanStatus::Error;
    int bpm = 0;              // the tempo when status is Ok, rounded
    double tempo = 0.0;       // the same, doubled or halved alike but not rounded
    double foundTempo = 0.0;  // the tempo as the analysis found it: before the range and the rounding
    Method method = Method::Classic;
    std::optional<double> confidence;              // 0 to 1, when the accurate method gave a reading
    std::vector<double> beats;                     // seconds, when status is Ok (accurate method)
    std::vector<pulse::TempoChange> tempoChanges;  // the same
    // The first beat of each bar (seconds, a subset of `beats`) and the
    // beats a bar holds (2, 3 or 4), where a metre stands out; empty and 0
    // where none does.
    std::vector<double> downbeats;
    unsigned metre = 0;
    ScanError error;                               // when status is Error
    // Status Ok, but the file was damaged or cut short and was analysed as
    // far as it could be decoded.
    bool endsEarly = false;
    platform::FileIdentity identity;  // as stat saw it before the analysis
    TagOutcome tag;                   // what --write-tags did
    // What the file's bytes are, and how its audio was read: a tagged copy
    // is checked against the same reading.
    AudioContainer content = AudioContainer::Unknown;
    AudioSource source = AudioSource::None;
    StreamHash audio;  // the decoded samples, when the decode settings asked for their hash
    AudioFacts facts;  // what the audio is, as far as the reading found (status Ok or NoTempo)
};

}  // namespace tempo::scan
