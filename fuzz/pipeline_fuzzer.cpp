// Fuzzes the whole analysis on in-memory bytes of exactly the
// input's size: header check, envelope, onset signal, spectrum and pick,
// then the accurate method on the same samples.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.hpp"
#include "input/wave_header.hpp"
#include "pulse/onset_curve.hpp"
#include "pulse/periodicity.hpp"
#include "tempo/envelope.hpp"
#include "tempo/tempo_pick.hpp"
#include "tempo/tempo_spectrum.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ExactBytes copy = exactBytes(data, size);

    tempo::WaveData wave;
    if (tempo::checkWaveHeader(copy.span, wave) != tempo::WaveCheckResult::Ok) return 0;

    const std::uint64_t offset = static_cast<std::uint64_t>(wave.samples - copy.bytes.get());
    FUZZ_CHECK(offset + wave.dataSize <= size);

    const tempo::VolumeEnvelope volume = tempo::computeVolumeEnvelope(wave);
    // The frames read are whole frames inside the data chunk.
    FUZZ_CHECK(volume.size() == tempo::frameCount(wave.dataSize));
    FUZZ_CHECK(static_cast<std::uint64_t>(volume.size()) * 2048 <= wave.dataSize);
    for (double v : volume) FUZZ_CHECK(v >= 0.0 && v <= 32768.0);

    const tempo::OnsetSignal onset = tempo::computeOnsetSignal(volume);
    FUZZ_CHECK(onset.size() == volume.size());
    for (double o : onset) FUZZ_CHECK(o >= 0.0 && !std::signbit(o));

    const tempo::TempoSpectrum spectrum = tempo::computeTempoSpectrum(onset, wave.sampleRate);
    if (!onset.empty() && wave.sampleRate > 0) {
        for (double m : spectrum) FUZZ_CHECK(m >= 0.0);
    }

    int tempoIndex = tempo::findStrongestPeak(spectrum);
    FUZZ_CHECK(tempoIndex == tempo::kNoPeak || (tempoIndex >= 1 && tempoIndex <= 179));
    tempo::applyHalfTempoCheck(spectrum, tempoIndex);
    FUZZ_CHECK(tempoIndex >= -1 && tempoIndex <= 179);

    // The accurate method on the same samples, at the rate the header
    // claims, whatever it is: a tempo in its range with a confidence from
    // 0 to 1, or none.
    tempo::pulse::OnsetStream stream;
    tempo::pulse::startOnsetStream(stream, wave.sampleRate);
    tempo::pulse::feedOnsetStream(stream, wave.samples, wave.dataSize);
    tempo::pulse::finishOnsetStream(stream);
    for (float o : stream.onset) FUZZ_CHECK(o >= 0.0F);
    const tempo::pulse::PulseEstimate pulse = tempo::pulse::estimatePulse(stream.onset, stream.frameRate);
    FUZZ_CHECK(pulse.confidence >= 0.0 && pulse.confidence <= 1.0);
    if (pulse.found) FUZZ_CHECK(pulse.bpm >= 35.0 && pulse.bpm <= 260.0);
    return 0;
}
