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

void fail(ScanRecord& record, std::string reason) {
    record.status = ScanStatus::Error;
    record.reason = std::move(reason);
}

void takeEstimate(ScanRecord& record, const TempoEstimate& estimate) {
    if (estimate.tempoIndex == kNoPeak) {
        record.status = ScanStatus::NoTempo;
    } else {
        record.status = ScanStatus::Ok;
        record.bpm = printedBpm(estimate);
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

bool readIdentity(const std::string& path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    identity = identityOf(status);
    return true;
}

ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings) {
    ScanRecord record;
    record.path = path;
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
    TempoEstimate estimate;
    if (result == WaveCheckResult::Ok) estimate = estimateTempo(image, wave);
    const bool lostBytes = fileImageLostBytes(image);
    closeFileImage(image);
    if (lostBytes) {
        fail(record, "file shrank while it was read");
    } else if (result == WaveCheckResult::Ok) {
        takeEstimate(record, estimate);
    } else {
        DecodedEnvelope decoded = decodeEnvelope(path, settings);
        if (decoded.ok) {
            takeEstimate(record, estimateTempoFromEnvelope(std::move(decoded.volume), decoded.sampleRate));
        } else {
            fail(record, decoded.error);
            record.interrupted = decoded.interrupted;
        }
    }
    return record;
}

}  // namespace tempo::scan
