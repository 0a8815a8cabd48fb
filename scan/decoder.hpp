#pragma once

// Decoding any audio file through an ffmpeg child process: 16-bit stereo
// PCM at the file's own sample rate flows from its pipe into the envelope
// as it arrives, with no temporary file and no whole-track buffer.

#include <atomic>
#include <cstdint>
#include <string>

#include "tempo/envelope.hpp"

namespace tempo::scan {

struct DecodeSettings {
    std::string program = "ffmpeg";  // looked up in PATH
    unsigned timeoutSeconds = 600;
    const std::atomic<bool>* stop = nullptr;  // when set, the child is stopped
};

struct DecodedEnvelope {
    bool ok = false;
    bool interrupted = false;  // `stop` was set
    std::string error;         // plain words when not ok
    VolumeEnvelope volume;
    std::uint32_t sampleRate = 0;
};

// The envelope of the first audio stream of `path`, as ffmpeg converts it
// with "-map 0:a:0 -acodec pcm_s16le -ac 2": the same samples that tempo
// would read from the WAVE file ffmpeg writes with those options. The
// error is "ffmpeg not found", the decoder's first line of complaint, how
// it ended, or the time limit.
DecodedEnvelope decodeEnvelope(const std::string& path, const DecodeSettings& settings);

}  // namespace tempo::scan
