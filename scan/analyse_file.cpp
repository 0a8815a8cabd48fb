#include "scan/analyse_file.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "scan/in_process_decode.hpp"
#include "scan/platform.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {
namespace {

void fail(ScanRecord& record, std::string reason) {
    record.status = ScanStatus::Error;
    record.reason = std::move(reason);
}

void takeReading(ScanRecord& record, const TempoReading& reading, const TempoRange& range) {
    record.confidence = reading.confidence;
    if (!reading.found) {
        record.status = ScanStatus::NoTempo;
    } else {
        record.status = ScanStatus::Ok;
        record.bpm = reportedBpm(reading.bpm, range);
    }
}

// The record of a file that only the decoder can read; `waveResult` is
// what tempo's own check said of it.
void decodeInto(ScanRecord& record, const std::string& path, const DecodeSettings& settings, const TempoRange& range,
                WaveCheckResult waveResult) {
    DecodedTempo decoded;
    if (!decodeInProcess(path, settings, decoded)) decoded = decodeTempo(path, settings);
    switch (decoded.outcome) {
        case DecodeOutcome::Decoded:
            takeReading(record, decoded.reading, range);
            // A WAVE whose data chunk claims more than the file holds is
            // read as far as it goes.
            record.endsEarly = decoded.complained || waveResult == WaveCheckResult::DataSize;
            break;
        case DecodeOutcome::Failed:
            fail(record, decoded.error);
            break;
        case DecodeOutcome::Interrupted:
            fail(record, "interrupted");
            record.interrupted = true;
            break;
    }
}

}  // namespace

std::string systemReason(int error) {
    std::string reason = std::strerror(error);
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    return reason;
}

int reportedBpm(double bpm, const TempoRange& range) {
    // The whole number is what must lie in the range: 120.02 is 120 in
    // 60-120, not 60. MAX >= 2 * MIN, so halving from above MAX cannot
    // jump below MIN, nor doubling from below MIN above MAX.
    if (range.min > 0 && bpm > 0.0) {
        while (std::lround(bpm) > static_cast<long>(range.max)) bpm /= 2.0;
        while (std::lround(bpm) < static_cast<long>(range.min)) bpm *= 2.0;
    }
    return static_cast<int>(std::lround(bpm));
}

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings, const TempoRange& range) {
    ScanRecord record;
    record.path = path;
    record.method = settings.method;
    FileStatus status;
    int error = 0;
    if (!readFileStatus(path, status, error)) {
        fail(record, systemReason(error));
        return record;
    }
    record.identity = status.identity;
    if (!status.regular) {
        fail(record, "not a regular file");
        return record;
    }
    const WaveFileReading file = analyseWaveFile(nativePath(path).c_str(), settings.method);
    if (file.shrank) {
        fail(record, "file shrank while it was read");
    } else if (file.result == WaveCheckResult::Ok) {
        takeReading(record, file.reading, range);
    } else if (file.result == WaveCheckResult::OpenFailed && file.systemError != 0) {
        // No permission, or gone since it was listed: say why.
        fail(record, systemReason(errnoOfSystemError(file.systemError)));
    } else {
        // Any other file: not a WAVE that tempo reads, so the decoder's.
        decodeInto(record, path, settings, range, file.result);
    }
    return record;
}

}  // namespace tempo::scan
