#include "scan/analyse_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "input/file_image.hpp"
#include "input/wave_header.hpp"
#include "tempo/estimate.hpp"

namespace tempo::scan {
namespace {

// strerror's text with a lower-case first letter, to read as plain words.
std::string systemReason(int error) {
    std::string reason = std::strerror(error);
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    return reason;
}

ScanRecord failed(const std::string& path, std::string reason) {
    ScanRecord record;
    record.path = path;
    record.status = ScanStatus::Error;
    record.reason = std::move(reason);
    return record;
}

ScanRecord fromEstimate(const std::string& path, const TempoEstimate& estimate) {
    ScanRecord record;
    record.path = path;
    if (estimate.tempoIndex == kNoPeak) {
        record.status = ScanStatus::NoTempo;
    } else {
        record.status = ScanStatus::Ok;
        record.bpm = printedBpm(estimate);
    }
    return record;
}

}  // namespace

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return failed(path, systemReason(errno));
    if (!S_ISREG(status.st_mode)) return failed(path, "not a regular file");
    // Opened once here only to learn why it cannot be read, if it cannot.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return failed(path, systemReason(errno));
    ::close(fd);

    FileImage image;
    WaveData wave;
    WaveCheckResult result = openFileImage(path.c_str(), image);
    if (result == WaveCheckResult::Ok) result = checkWaveHeader(image, wave);
    if (result == WaveCheckResult::Ok) {
        const TempoEstimate estimate = estimateTempo(image, wave);
        const bool lostBytes = fileImageLostBytes(image);
        closeFileImage(image);
        if (lostBytes) return failed(path, "file shrank while it was read");
        return fromEstimate(path, estimate);
    }
    const bool lostBytes = fileImageLostBytes(image);
    closeFileImage(image);
    if (lostBytes) return failed(path, "file shrank while it was read");

    DecodedEnvelope decoded = decodeEnvelope(path, settings);
    if (!decoded.ok) {
        ScanRecord record = failed(path, decoded.error);
        record.interrupted = decoded.interrupted;
        return record;
    }
    return fromEstimate(path, estimateTempoFromEnvelope(std::move(decoded.volume), decoded.sampleRate));
}

}  // namespace tempo::scan
