// Google Benchmark cases for each analysis operation on synthetic buffers
// of 1k, 10k and 100k frames.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "tempo/envelope.hpp"
#include "tempo/tempo_pick.hpp"
#include "tempo/tempo_spectrum.hpp"

namespace {

// Sample data with a loud frame every 43 frames over a quiet, varying floor.
std::vector<unsigned char> syntheticSamples(std::int64_t frames) {
    std::vector<unsigned char> data(static_cast<std::size_t>(frames) * 2048);
    std::uint32_t noise = 1;
    for (std::size_t pair = 0; pair < data.size() / 4; ++pair) {
        noise = noise * 1664525U + 1013904223U;
        const bool loud = (pair / 512) % 43 == 0;
        const auto sample = static_cast<std::int16_t>(static_cast<std::int32_t>(noise >> 20U) - 2048 +
                                                      (loud ? 12000 : 0));
        data[pair * 4] = static_cast<unsigned char>(sample & 0xFF);
        data[pair * 4 + 1] = static_cast<unsigned char>((sample >> 8) & 0xFF);
    }
    return data;
}

tempo::WaveData waveOf(const std::vector<unsigned char>& data) {
    tempo::WaveData wave;
    wave.samples = data.data();
    wave.dataSize = static_cast<std::uint32_t>(data.size());
    wave.sampleRate = 44100;
    return wave;
}

void BM_VolumeEnvelope(benchmark::State& state) {
    const std::vector<unsigned char> data = syntheticSamples(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(tempo::computeVolumeEnvelope(waveOf(data)));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_OnsetSignal(benchmark::State& state) {
    const tempo::VolumeEnvelope volume = tempo::computeVolumeEnvelope(waveOf(syntheticSamples(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(tempo::computeOnsetSignal(volume));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_TempoSpectrum(benchmark::State& state) {
    const tempo::OnsetSignal onset =
        tempo::computeOnsetSignal(tempo::computeVolumeEnvelope(waveOf(syntheticSamples(state.range(0)))));
    std::int64_t contributing = 0;
    for (std::size_t k = 1; k < onset.size(); ++k) contributing += onset[k] != 0.0 ? 1 : 0;
    for (auto _ : state) benchmark::DoNotOptimize(tempo::computeTempoSpectrum(onset, 44100));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["contributing_frames"] = static_cast<double>(contributing);
}

void BM_PeakPickAndHalfTempo(benchmark::State& state) {
    const tempo::OnsetSignal onset =
        tempo::computeOnsetSignal(tempo::computeVolumeEnvelope(waveOf(syntheticSamples(state.range(0)))));
    const tempo::TempoSpectrum spectrum = tempo::computeTempoSpectrum(onset, 44100);
    for (auto _ : state) {
        int index = tempo::findStrongestPeak(spectrum);
        tempo::applyHalfTempoCheck(spectrum, index);
        benchmark::DoNotOptimize(index);
    }
}

BENCHMARK(BM_VolumeEnvelope)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OnsetSignal)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TempoSpectrum)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeakPickAndHalfTempo)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
