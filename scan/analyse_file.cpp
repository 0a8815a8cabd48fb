#include "scan/analyse_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "input/file_image.hpp"
#include "input/wave_header.hpp"
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

FileIdentity identityOf(const struct stat& status) {
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return identity;
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

bool readIdentity(const std::string& path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    identity = identityOf(status);
    return true;
}

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings, const TempoRange& range) {
    ScanRecord record;
    record.path = path;
    record.method = settings.method;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        fail(record, systemReason(errno));
        return record;
    }
    record.identity = identityOf(status);
    if (!S_ISREG(status.st_mode)) {
        fail(record, "not a regular file");
        return record;
    }
    // Opened once here only to learn why it cannot be read, if it cannot.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        fail(record, systemReason(errno));
        return record;
    }
    ::close(fd);

    FileImage image;
    WaveData wave;
    WaveCheckResult result = openFileImage(path.c_str(), image);
    if (result == WaveCheckResult::Ok) result = checkWaveHeader(image, wave);
    TempoReading reading;
    if (result == WaveCheckResult::Ok) reading = estimateTempo(image, wave, settings.method);
    const bool lostBytes = fileImageLostBytes(image);
    closeFileImage(image);
    if (lostBytes) {
        fail(record, "file shrank while it was read");
    } else if (result == WaveCheckResult::Ok) {
        takeReading(record, reading, range);
    } else {
        const DecodedTempo decoded = decodeTempo(path, settings);
        switch (decoded.outcome) {
            case DecodeOutcome::Decoded:
                takeReading(record, decoded.reading, range);
                // A WAVE whose data chunk claims more than the file holds
                // is read as far as it goes.
                record.endsEarly = decoded.complained || result == WaveCheckResult::DataSize;
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
    return record;
}

}  // namespace tempo::scan
