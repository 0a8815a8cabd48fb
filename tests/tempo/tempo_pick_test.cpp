#include "tempo/tempo_pick.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>

namespace tempo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A spectrum of zeros with the given tempos (in BPM) set.
TempoSpectrum spectrumWith(const std::map<int, double>& entries, double floor = 0.0) {
    TempoSpectrum spectrum;
    spectrum.fill(floor);
    for (const auto& [bpm, value] : entries) spectrum[static_cast<std::size_t>(bpm - kMinBpm)] = value;
    return spectrum;
}

TempoSpectrum rising() {
    TempoSpectrum spectrum;
    for (std::size_t t = 0; t < spectrum.size(); ++t) spectrum[t] = static_cast<double>(t);
    return spectrum;
}

TEST(FindStrongestPeak, PicksTheStrongestLocalMaximum) {
    const struct {
        const char* name;
        TempoSpectrum spectrum;
        int expectedBpm;  // 59 for no peak
    } cases[] = {
        {"all zero", spectrumWith({}), 59},
        {"all NaN", spectrumWith({}, kNaN), 59},
        {"single peak", spectrumWith({{128, 5.0}}), 128},
        {"strongest of two", spectrumWith({{90, 3.0}, {180, 4.0}}), 180},
        {"equal peaks: lower tempo", spectrumWith({{100, 4.0}, {200, 4.0}}), 100},
        {"plateau after a rise: first entry", spectrumWith({{140, 2.0}, {141, 2.0}, {142, 2.0}}), 140},
        {"edge 60 is never a peak", spectrumWith({{60, 9.0}}), 59},
        {"edge 240 is never a peak", spectrumWith({{240, 9.0}}), 59},
        {"edge 60 with a weaker inner peak", spectrumWith({{60, 9.0}, {150, 1.0}}), 150},
        {"rising throughout", rising(), 59},
        {"peak at 61", spectrumWith({{61, 1.0}}), 61},
        {"peak at 239", spectrumWith({{239, 1.0}}), 239},
        {"NaN after a rise is no fall", spectrumWith({{100, 1.0}, {101, kNaN}}), 59},
        {"NaN before a peak is no rise", spectrumWith({{100, kNaN}, {101, 1.0}}), 59},
        {"rise is not carried past NaN", spectrumWith({{99, 1.0}, {100, 2.0}, {101, kNaN}, {102, 2.0}}), 59},
        {"NaN elsewhere leaves a peak", spectrumWith({{70, kNaN}, {150, 2.0}}), 150},
        {"stronger peak beside NaN loses to a clean one", spectrumWith({{120, 8.0}, {121, kNaN}, {200, 1.0}}), 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(findStrongestPeak(c.spectrum) + kMinBpm, c.expectedBpm);
    }
}

TEST(ApplyHalfTempoCheck, MovesToHalfTempoOnlyWhenStrongEnough) {
    const struct {
        const char* name;
        TempoSpectrum spectrum;
        int peakBpm;      // index given, as a tempo; 59 for no peak
        int expectedBpm;  // index after the check
    } cases[] = {
        {"no peak stays", spectrumWith({{100, 5.0}}), 59, 59},
        {"weak half stays", spectrumWith({{200, 10.0}, {100, 6.0}}), 200, 200},
        {"half exactly at the ratio stays", spectrumWith({{200, 10.0}, {100, 6.5}}), 200, 200},
        {"strong half moves", spectrumWith({{200, 10.0}, {100, 6.6}}), 200, 100},
        {"sum of squares counts", spectrumWith({{200, 10.0}, {99, 4.0}, {100, 4.0}, {101, 4.0}}), 200, 99},
        {"largest candidate wins", spectrumWith({{200, 10.0}, {99, 4.0}, {100, 5.0}, {101, 6.0}}), 200, 101},
        {"peak 150: candidates 74 to 76", spectrumWith({{150, 10.0}, {73, 100.0}, {76, 7.0}}), 150, 76},
        {"peak 150: 77 is no candidate", spectrumWith({{150, 10.0}, {77, 100.0}}), 150, 150},
        {"peak 117: nothing present", spectrumWith({{117, 10.0}}, 100.0), 117, 117},
        {"peak 118: only 60", spectrumWith({{118, 10.0}, {60, 7.0}, {61, 50.0}}), 118, 60},
        {"peak 119: only 60", spectrumWith({{119, 10.0}, {60, 7.0}, {61, 50.0}}), 119, 60},
        {"peak 120: 60 and 61", spectrumWith({{120, 10.0}, {60, 5.0}, {61, 5.0}}), 120, 60},
        {"peak 121: 60 and 61", spectrumWith({{121, 10.0}, {60, 4.0}, {61, 6.0}, {62, 50.0}}), 121, 61},
        {"peak 122: 60 to 62", spectrumWith({{122, 10.0}, {62, 7.0}}), 122, 62},
        {"peak 123: 60 to 62", spectrumWith({{123, 10.0}, {60, 7.0}}), 123, 60},
        {"peak 239: 118 to 120", spectrumWith({{239, 10.0}, {120, 7.0}}), 239, 120},
        {"NaN candidate is never taken", spectrumWith({{200, 10.0}, {99, kNaN}, {100, 7.0}}), 200, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int index = c.peakBpm - kMinBpm;
        applyHalfTempoCheck(c.spectrum, index);
        EXPECT_EQ(index + kMinBpm, c.expectedBpm);
    }
}

// Ties among candidates go to the lowest tempo, and a zero candidate is
// never taken even when the check passes through the others.
TEST(ApplyHalfTempoCheck, TiesGoToTheLowestTempo) {
    TempoSpectrum spectrum = spectrumWith({{200, 10.0}, {99, 5.0}, {100, 5.0}, {101, 5.0}});
    int index = 200 - kMinBpm;
    applyHalfTempoCheck(spectrum, index);
    EXPECT_EQ(index + kMinBpm, 99);

    spectrum = spectrumWith({{200, 10.0}, {99, 0.0}, {100, 0.0}, {101, 7.0}});
    index = 200 - kMinBpm;
    applyHalfTempoCheck(spectrum, index);
    EXPECT_EQ(index + kMinBpm, 101);
}

}  // namespace
}  // namespace tempo
