#pragma once

// What a file's audio is, as the reading of it found: taken from
// structured data only (a WAVE header, the decoder's stream header and
// sample count, the decoder's per-stream listing), never from its words.

#include <optional>
#include <string>

namespace tempo::scan {

struct AudioFacts {
    std::optional<double> seconds;  // the audio's length: the frames read over the sample rate
    unsigned sampleRate = 0;        // Hz, the file's own; 0: not known
    unsigned channels = 0;          // the file's own, before any mixing; 0: not known
    std::string codec;              // ffmpeg's name for the coding ("mp3", "flac", "pcm_s16le"); "": not known
};

}  // namespace tempo::scan
