#pragma once

// Decoding any audio file through an ffmpeg child process: 16-bit stereo
// PCM at the file's own sample rate flows from its pipe into the analysis
// as it arrives, with no temporary file and no whole-track buffer.

#include <atomic>
#include <string>
#include <vector>

#include "input/audio_container.hpp"
#include "input/stream_hash.hpp"
#include "record/audio_facts.hpp"
#include "record/scan_failure.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {

struct DecodeSettings {
    std::string program = "ffmpeg";  // looked up in PATH
    unsigned timeoutSeconds = 600;
    const std::atomic<bool>* stop = nullptr;  // when set, the child is stopped
    Method method = Method::Accurate;
    bool hashAudio = false;  // keep a hash of the decoded samples, to check a tagged copy against
    // Also learn the file's own channels and codec: the same run lists its
    // first packet and its first decoded frame, which costs next to nothing.
    bool describe = false;
};

enum class DecodeOutcome {
    Decoded,      // the reading is the tempo of the whole stream
    Failed,       // `error` says why
    Interrupted,  // `stop` was set: the decode was cut short, whatever the child did
};

struct DecodedTempo {
    DecodeOutcome outcome = DecodeOutcome::Failed;
    ScanError error;  // when Failed
    // Decoded, but the decoder complained on the way (a damaged or cut
    // file, decoded as far as it goes): its first line of complaint.
    std::string complaint;
    TempoReading reading;
    StreamHash audio;  // the decoded samples, when the settings ask for it
    // Decoded: the rate and length of the stream read; the channels and
    // codec too when the settings ask to describe it and the decoder said.
    AudioFacts facts;
};

// The tempo of the first audio stream of `path`, as ffmpeg converts it
// with "-map 0:a:0 -acodec pcm_s16le -ac 2": the same samples that tempo
// would read from the WAVE file ffmpeg writes with those options.
// `content` is what the file's own bytes say it is: a decoder that gives
// up before any audio on a file whose content is a known audio container
// met the end of a file cut short (EndsEarly); on anything else it met no
// audio at all (NotAudio).
// A file the decoder refuses while it describes it is decoded once more
// without, so its record is the one a run that does not describe gives.
DecodedTempo decodeTempo(const std::string& path, AudioContainer content, const DecodeSettings& settings);

// The same decode without the analysis: the hash of the samples (and
// whether the decoder complained), to tell whether a copy of a file holds
// the same audio as the file. With `streams`, the same run also lists
// every stream as listStreams does.
DecodedTempo decodeAudio(const std::string& path, AudioContainer content, const DecodeSettings& settings,
                         std::vector<std::string>* streams = nullptr);

// Every stream of `path` as the decoder's demuxer gives it, without
// decoding: "INDEX,KIND,MD5=<hash of its packets>" each (KIND "a" for
// audio, "v" for video and pictures, ...). False with `error` set when the
// decoder fails or complains.
bool listStreams(const std::string& path, const DecodeSettings& settings, std::vector<std::string>& streams,
                 ScanError& error);

}  // namespace tempo::scan
