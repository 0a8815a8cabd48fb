#pragma once

// Builds WAVE file bytes for tests, well-formed or deliberately broken.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_image.hpp"

namespace tempo::testing {

using Bytes = std::vector<unsigned char>;

struct Chunk {
    std::string id;                // four characters
    std::uint32_t declaredSize;    // what the header claims
    Bytes body;                    // what is really written (padded if odd)
};

struct WaveLayout {
    std::string riffId = "RIFF";
    std::string waveId = "WAVE";
    std::string fmtId = "fmt ";
    std::uint32_t fmtSize = 16;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 16;
    std::vector<Chunk> chunksBeforeData;
    bool withDataChunk = true;
    Bytes data;
    bool overrideDataSize = false;
    std::uint32_t declaredDataSize = 0;
    Bytes trailing;
};

void putLe(Bytes& out, std::uint32_t value, int width);

// RIFF header, fmt chunk of `fmtSize` bytes (the 16 standard bytes, then
// zeros), the extra chunks, the data chunk, then `trailing`.
Bytes buildWave(const WaveLayout& layout);

// Interleaves left and right 16-bit samples; the shorter channel is padded
// with zeros.
Bytes stereoSamples(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right);

// The sample bytes of `frames` frames: a click every 43 frames (about
// 120 BPM at 44.1 kHz) over a low hum, in the left channel only.
Bytes clickTrack(std::uint32_t frames);

// One sound of a generated groove: `at` seconds from the start, `low` for
// a kick drum (a falling 120 to 50 Hz thump), else a hi-hat or snare (a
// noise burst), at `gain` (1 is loud); or, where `hz` is above 0, a note of
// that pitch (a tone with two overtones, fading over half a second), so
// that chords and their changes can be written.
struct Hit {
    double at;
    bool low;
    double gain;
    double hz = 0.0;
};

// Stereo 16-bit bytes of `seconds` at `rate` holding the hits.
Bytes hitSamples(const std::vector<Hit>& hits, std::uint32_t rate, double seconds);

// The beat times of a tempo that goes from `fromBpm` to `toBpm` in a
// straight line over `seconds` (equal for a steady tempo), the first beat
// at `phase` seconds.
std::vector<double> beatTimes(double fromBpm, double toBpm, double seconds, double phase = 0.0);

// A plain valid file holding clickTrack(frames).
Bytes validWave(std::uint32_t frames, std::uint32_t sampleRate = 44100);

// A file image over bytes held by the caller, of length bytes.size().
FileImage imageOf(const Bytes& bytes);

// The same bytes as a span, for the header checks.
ByteSpan spanOf(const Bytes& bytes);

// Writes bytes to a file; false on failure.
bool writeFile(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace tempo::testing
