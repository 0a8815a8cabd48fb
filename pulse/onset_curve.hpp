#pragma once

// The onset curve of the accurate analysis: how much the sound's spectrum
// grew from one short analysis frame to the next, built from samples that
// arrive in pieces of any size: 16-bit stereo bytes (a WAVE file, ffmpeg's
// pipe), or float samples in mono or stereo (a decoder in this process).

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tempo::pulse {

// The samples are mixed to mono and summed in groups of `decimation`, which
// brings every sample rate near kAnalysisRate; the spectrum below
// kAnalysisRate / 2 holds the kick, snare, bass and the lower part of the
// cymbals, which is where beats show.
constexpr std::uint32_t kAnalysisRate = 11025;
// Analysis frames: 512 samples at the analysis rate (about 46 ms, long
// enough to resolve a bass note, short enough to keep two drum hits apart)
// taken every 128 samples (about 11.6 ms, so a beat falls within a few
// percent of its place even at 240 BPM). Where the analysis rate is not
// kAnalysisRate (12 kHz for 48 kHz files), both are scaled to last about
// the same time.
constexpr std::size_t kWindowLength = 512;
constexpr std::size_t kHopLength = 128;
// The low bands end here: the kick drum's body and the bass's fundamentals
// lie below, a snare's and most voices' above.
constexpr double kLowBandHz = 170.0;

// The pitch classes of the sound, for telling where the harmony changes:
// every kChromaFrames frames (about 46 ms, one window's length) twelve
// bytes, one per pitch class from C, each the compressed power of the bins
// of that class summed over those frames, in steps of 1/kChromaSteps of a
// natural-log unit (see onset_curve.cpp). Three bytes a frame: an hour
// keeps under a megabyte.
constexpr std::size_t kChromaFrames = 4;
constexpr std::size_t kPitchClasses = 12;
constexpr double kChromaSteps = 16.0;

// The transform's tables; defined where the FFT library is used, so that
// this header needs none of it.
struct FftPlan;
struct FftPlanDeleter {
    void operator()(FftPlan* plan) const;
};

struct OnsetStream {
    std::uint32_t decimation = 0;  // input samples per analysis sample; 0: no analysis
    double frameRate = 0.0;        // onset values per second

    // One value per analysis frame, >= 0, in natural-log units of spectral
    // growth averaged over the bands.
    std::vector<float> onset;
    // The same over the bands below kLowBandHz alone (kick drum, bass):
    // where the low instruments' onsets fall, against everything's.
    std::vector<float> lowOnset;
    // kPitchClasses bytes for each whole group of kChromaFrames frames.
    std::vector<std::uint8_t> chroma;
    // Analysis samples taken in so far (a loop's length is told from them).
    std::uint64_t analysisSamples = 0;

    // Working state.
    std::uint32_t groupFill = 0;   // input samples summed into groupSum so far
    std::int64_t groupSum = 0;
    double floatGroupSum = 0.0;    // the same for float samples, left plus right
    std::vector<double> ring;      // the last windowLength analysis samples
    std::size_t ringPos = 0;
    std::size_t windowLength = 0;  // analysis samples per frame
    std::size_t hop = 0;           // analysis samples from one frame to the next
    std::size_t sinceHop = 0;      // analysis samples since the last frame
    std::vector<double> window;    // Hann
    std::vector<double> frame;
    std::vector<std::complex<double>> spectrum;
    std::vector<int> bandOfBin;    // -1: bin not used
    std::vector<double> bandScale; // 1 / (bins in the band), with the power normalisation
    std::vector<double> bandPower;
    std::vector<double> previousLevel;
    std::size_t lowBands = 0;      // the first lowBands bands lie below kLowBandHz
    std::vector<int> pitchOfBin;   // -1: bin outside the pitch range
    double pitchPower[kPitchClasses] = {};  // this group's power so far, per class
    std::size_t pitchFrames = 0;   // frames in this group so far
    double pitchScale = 0.0;       // the power normalisation of a group
    bool havePrevious = false;
    unsigned char partial[4] = {};
    std::uint32_t partialBytes = 0;
    std::uint64_t totalBytes = 0;
    std::unique_ptr<FftPlan, FftPlanDeleter> fft;
};

// Prepares `stream` for samples at `sampleRate` (per channel). A rate too
// low to hold the analysis band (below 4000 Hz) gives an empty curve.
void startOnsetStream(OnsetStream& stream, std::uint32_t sampleRate);

// Adds `count` bytes of 16-bit little-endian stereo pairs, left first; a
// pair cut between two calls is joined.
void feedOnsetStream(OnsetStream& stream, const unsigned char* bytes, std::size_t count);

// Adds `frames` frames of `channels` interleaved float samples, full scale
// +-1.0: stereo (left first) or mono, where a sample x counts as left =
// right = x, so a mono copy of a sound gives the curve of its stereo copy
// with equal channels. A 16-bit sample s given as s / 32768.0f makes, bit
// for bit, the curve that feedOnsetStream makes of its bytes. Any other
// channel count adds nothing. One stream takes either bytes or float
// samples, not both.
void feedOnsetSamples(OnsetStream& stream, const float* samples, std::size_t frames, unsigned channels);

// Releases the working state (the curve stays).
void finishOnsetStream(OnsetStream& stream);

// The seconds of sound the stream was given (to the analysis sample); 0
// where it takes none.
double onsetStreamSeconds(const OnsetStream& stream);

}  // namespace tempo::pulse
