#pragma once

// The whole analysis in one call: envelope, onset signal, tempo spectrum,
// strongest peak and half-tempo check, in that order. Every program that
// prints a tempo goes through here, so they all print the same number.

#include <cstdint>

#include "input/file_image.hpp"
#include "input/wave_header.hpp"
#include "tempo/envelope.hpp"
#include "tempo/tempo_pick.hpp"
#include "tempo/tempo_spectrum.hpp"

namespace tempo {

struct TempoEstimate {
    TempoSpectrum spectrum{};
    // The strongest peak before the half-tempo check, and the index after
    // it; either may be kNoPeak.
    int peak = kNoPeak;
    int tempoIndex = kNoPeak;
};

// The tempo in BPM that the tool prints for an estimate: 59 when no peak
// was found, else 60 to 239.
constexpr int printedBpm(const TempoEstimate& estimate) { return estimate.tempoIndex + kMinBpm; }

// The analysis of the samples of `wave`.
TempoEstimate estimateTempo(const WaveData& wave);

// The same for a `wave` that lies inside `image`: the samples are read a
// slice at a time and each finished slice is handed back to the system, so
// the file's pages do not pile up in memory however long it is.
TempoEstimate estimateTempo(FileImage& image, const WaveData& wave);

// The analysis from a finished envelope on (for samples that arrived in
// pieces, through an EnvelopeStream); takes the envelope's storage over.
TempoEstimate estimateTempoFromEnvelope(VolumeEnvelope&& volume, std::uint32_t sampleRate);

}  // namespace tempo
