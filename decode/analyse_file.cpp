#include "decode/analyse_file.hpp"

#include <cmath>

#include "platform/files.hpp"
#include "platform/path.hpp"
#include "decode/in_process_decode.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {
namespace {

void fail(ScanRecord& record, ScanFailure failure, int code = 0) {
    record.status = ScanStatus::Error;
    record.error = ScanError{failure, code, std::string(), std::string()};
}

// A WAVE file read in place: what its header says.
AudioFacts factsOfWave(const WaveFileReading& file) {
    AudioFacts facts;
    facts.sampleRate = file.sampleRate;
    facts.channels = 2;  // tempo reads 16-bit stereo only
    facts.codec = "pcm_s16le";
    if (file.sampleRate > 0) facts.seconds = static_cast<double>(file.dataBytes / 4) / file.sampleRate;
    return facts;
}

// The record of a file that only the decoder can read: `file` is what
// tempo's own reading of it found.
void decodeInto(ScanRecord& record, const std::string& path, const DecodeSettings& settings, const TempoRange& range,
                const WaveFileReading& file) {
    DecodedTempo decoded;
    const bool inProcess = decodeInProcess(path, settings, decoded);
    if (!inProcess) decoded = decodeTempo(path, file.container, settings);
    // A stream read to its end without one sample (a WAVE header whose
    // data is missing, an Ogg stream of headers only) is no audio, not
    // silence: tempo refuses such a WAVE, and no tempo would say the sound
    // was heard and had no beat.
    if (decoded.outcome == DecodeOutcome::Decoded && decoded.facts.seconds && *decoded.facts.seconds == 0.0) {
        decoded.outcome = DecodeOutcome::Failed;
        decoded.error = ScanError{ScanFailure::NoAudio, 0, inProcess ? std::string() : settings.program, {}};
    }
    switch (decoded.outcome) {
        case DecodeOutcome::Decoded:
            takeReading(record, decoded.reading, range);
            record.source = inProcess ? AudioSource::InProcess : AudioSource::Decoder;
            record.audio = decoded.audio;
            record.facts = std::move(decoded.facts);
            // A WAVE whose data chunk claims more than the file holds is
            // read as far as it goes.
            record.endsEarly = !decoded.complaint.empty() || file.result == WaveCheckResult::DataSize;
            break;
        case DecodeOutcome::Failed:
            record.status = ScanStatus::Error;
            record.error = std::move(decoded.error);
            break;
        case DecodeOutcome::Interrupted:
            record.status = ScanStatus::Interrupted;
            break;
    }
}

}  // namespace

double foldedTempo(double bpm, const TempoRange& range) {
    // The whole number is what must lie in the range: 120.02 is 120 in
    // 60-120, not 60. MAX >= 2 * MIN, so halving from above MAX cannot
    // jump below MIN, nor doubling from below MIN above MAX.
    if (range.min > 0 && bpm > 0.0) {
        while (std::lround(bpm) > static_cast<long>(range.max)) bpm /= 2.0;
        while (std::lround(bpm) < static_cast<long>(range.min)) bpm *= 2.0;
    }
    return bpm;
}

int reportedBpm(double bpm, const TempoRange& range) { return static_cast<int>(std::lround(foldedTempo(bpm, range))); }

void takeReading(ScanRecord& record, const TempoReading& reading, const TempoRange& range) {
    if (record.method == Method::Accurate) record.confidence = reading.confidence;
    if (!reading.found) {
        record.status = ScanStatus::NoTempo;
    } else {
        record.status = ScanStatus::Ok;
        record.foundTempo = reading.bpm;
        record.bpm = reportedBpm(reading.bpm, range);
        record.tempo = foldedTempo(reading.bpm, range);
        record.beats = reading.beats;
        record.tempoChanges = reading.tempoChanges;
        record.downbeats = reading.downbeats;
        record.metre = reading.metre > 0 ? static_cast<unsigned>(reading.metre) : 0;
    }
}

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings, const TempoRange& range) {
    ScanRecord record;
    record.path = path;
    record.method = settings.method;
    platform::FileStatus status;
    int error = 0;
    if (!platform::readFileStatus(path, status, error)) {
        fail(record, ScanFailure::System, error);
        return record;
    }
    record.identity = status.identity;
    if (!status.regular) {
        fail(record, ScanFailure::NotRegular);
        return record;
    }
    if (status.identity.size == 0) {
        fail(record, ScanFailure::Empty);
        return record;
    }
    const WaveFileReading file = analyseWaveFile(platform::nativePath(path).c_str(), settings.method);
    record.content = file.container;
    if (file.shrank) {
        fail(record, ScanFailure::Shrank);
    } else if (file.result == WaveCheckResult::Ok) {
        takeReading(record, file.reading, range);
        record.source = AudioSource::InPlace;
        record.facts = factsOfWave(file);
    } else if (file.result == WaveCheckResult::OpenFailed && file.systemError != 0) {
        // No permission, or gone since it was listed: say why.
        fail(record, ScanFailure::System, platform::errnoOfSystemError(file.systemError));
    } else {
        // Any other file: not a WAVE that tempo reads, so the decoder's.
        decodeInto(record, path, settings, range, file);
    }
    return record;
}

}  // namespace tempo::scan
