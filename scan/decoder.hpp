#pragma once

// Decoding any audio file through an ffmpeg child process: 16-bit stereo
// PCM at the file's own sample rate flows from its pipe into the analysis
// as it arrives, with no temporary file and no whole-track buffer.

#include <atomic>
#include <cstdint>
#include <string>

#include "tempo/estimate.hpp"

namespace tempo::scan {

struct DecodeSettings {
    std::string program = "ffmpeg";  // looked up in PATH
    unsigned timeoutSeconds = 600;
    const std::atomic<bool>* stop = nullptr;  // when set, the child is stopped
    Method method = Method::Accurate;
};

enum class DecodeOutcome {
    Decoded,      // the reading is the tempo of the whole stream
    Failed,       // `error` says why, in plain words
    Interrupted,  // `stop` was set: the decode was cut short, whatever the child did
};

struct DecodedTempo {
    DecodeOutcome outcome = DecodeOutcome::Failed;
    std::string error;
    // Decoded, but the decoder complained on the way (a damaged or cut
    // file, decoded as far as it goes).
    bool complained = false;
    TempoReading reading;
};

// The tempo of the first audio stream of `path`, as ffmpeg converts it
// with "-map 0:a:0 -acodec pcm_s16le -ac 2": the same samples that tempo
// would read from the WAVE file ffmpeg writes with those options. The
// error is "ffmpeg not found", "not readable as audio (ffmpeg: ...)" when
// the decoder gave up before any audio, "file ends early (ffmpeg: ...)"
// when it gave up after some (the decoder's first line of complaint in the
// brackets), how it ended, or the time limit.
DecodedTempo decodeTempo(const std::string& path, const DecodeSettings& settings);

}  // namespace tempo::scan
