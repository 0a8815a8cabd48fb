#pragma once

// The whole analysis in one call. The classic method (envelope, onset
// signal, tempo spectrum, strongest peak and half-tempo check, in that
// order) is what tempo prints; the accurate method (pulse/) is what
// tempo-scan reports by default. Every program that prints a tempo goes
// through here, so they all print the same number.

#include <cstdint>
#include <vector>

#include "platform/file_image.hpp"
#include "input/audio_container.hpp"
#include "input/wave_header.hpp"
#include "pulse/analysis.hpp"
#include "pulse/onset_curve.hpp"
#include "pulse/periodicity.hpp"
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

enum class Method { Classic, Accurate };

// A tempo as either method gives it.
struct TempoReading {
    bool found = false;  // false: no tempo (classic: no peak, which tempo prints as 59)
    double bpm = 0.0;    // when found; the classic method's is a whole number
    // 0 to 1 for the accurate method: the estimated chance that bpm lies
    // within 4 % of the tempo a listener would write down; negative for the
    // classic method, which has no such measure.
    double confidence = -1.0;
    // The accurate method's beats, in seconds from the start of the audio,
    // and the places where its tempo departs from bpm; empty for the
    // classic method and where no tempo was found.
    std::vector<double> beats;
    std::vector<pulse::TempoChange> tempoChanges;
    // The accurate method's bars: beats to a bar (2, 3 or 4; 6/8 counted
    // in dotted quarters is 2) and the seconds of the beats that begin
    // one; pulse::kNoMetre and none where no bar stands out, for the
    // classic method and where no tempo was found.
    int metre = pulse::kNoMetre;
    std::vector<double> downbeats;
};

// Either analysis over 16-bit stereo sample bytes that arrive in pieces of
// any size (a decoder's pipe): the reading is the same however the bytes
// are cut, and the same as analyseWaveFile's over the bytes joined.
struct TempoStream {
    Method method = Method::Classic;
    std::uint32_t sampleRate = 0;
    EnvelopeStream envelope;      // classic
    pulse::OnsetStream onsets;    // accurate
};

void startTempoStream(TempoStream& stream, Method method, std::uint32_t sampleRate);
void feedTempoStream(TempoStream& stream, const unsigned char* bytes, std::size_t count);
// The same for float samples, `channels` (1 or 2) interleaved, full scale
// +-1.0, as a decoder in the process gives them; a mono sample counts as
// both channels. The classic method reads them as the 16-bit samples they
// round to (clipped at full scale); a 16-bit s given as s / 32768.0f reads
// as s, so either method gives the reading of the bytes. A stream takes
// bytes or samples, not both; tempoStreamBytes counts only bytes.
void feedTempoStreamSamples(TempoStream& stream, const float* samples, std::size_t frames, unsigned channels);
// Every byte fed so far.
std::uint64_t tempoStreamBytes(const TempoStream& stream);
// Whether the accurate method's onset curves are kept for the caller (for
// plotting and the tools that fit weights), or released by the analysis as
// soon as it needs them no more (a long piece's analysis then holds less
// at once).
enum class OnsetCurve { Drop, Keep };

// The reading. Working buffers are released; with OnsetCurve::Keep the
// accurate method's onset curves stay in stream.onsets.onset and lowOnset,
// otherwise they are left empty.
TempoReading finishTempoStream(TempoStream& stream, OnsetCurve keep = OnsetCurve::Drop);

// Everything one file gives: the whole sequence of open, header check,
// analysis, the check for bytes lost while it was read, and close.
struct WaveFileReading {
    // Ok, or the first failure; DataSize also for a file that lost bytes
    // while it was read (then `shrank`).
    WaveCheckResult result = WaveCheckResult::Ok;
    bool shrank = false;
    int systemError = 0;    // why it could not be opened or mapped, where the system said
    // What the file's bytes are, when it could be mapped (a WAVE that is
    // refused may be read by a decoder).
    AudioContainer container = AudioContainer::Unknown;
    TempoReading reading;   // when result is Ok
    // The header's sample rate (Hz) and data chunk size (bytes), when
    // result is Ok.
    std::uint32_t sampleRate = 0;
    std::uint64_t dataBytes = 0;
    TempoEstimate classic;  // the classic method's whole estimate, when that method ran
    // The accurate method's onset curve and its frames per second, when
    // asked for (for plotting); empty otherwise.
    std::vector<float> onsets;
    std::vector<float> lowOnsets;  // the same over the low bands alone
    std::vector<std::uint8_t> chroma;  // the pitch classes (pulse::OnsetStream::chroma)
    double onsetRate = 0.0;
    double seconds = 0.0;  // the sound's length (pulse::onsetStreamSeconds), with the curves
};

// The one call per file: `path` as the command line gave it.
WaveFileReading analyseWaveFile(const PathChar* path, Method method, OnsetCurve keep = OnsetCurve::Drop);

// The same call for the classic method alone, which needs nothing of the
// accurate analysis (what plain tempo links).
WaveFileReading analyseClassicWaveFile(const PathChar* path);

// The analysis from a finished envelope on (for samples that arrived in
// pieces, through an EnvelopeStream); takes the envelope's storage over.
TempoEstimate estimateTempoFromEnvelope(VolumeEnvelope&& volume, std::uint32_t sampleRate);

}  // namespace tempo
