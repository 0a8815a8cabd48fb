#pragma once

// What the two halves of the one call per file share: the steps around
// any analysis of a mapped WAVE file (estimate_classic.cpp has the classic
// method, which plain tempo links alone; estimate.cpp the accurate one).

#include <cstdint>

#include "tempo/estimate.hpp"

namespace tempo {

// Bytes per slice: 4 MiB of samples. Fewer, larger releases cost less
// than many small ones; the slice is the only part of the file resident.
constexpr std::uint64_t kSliceBytes = 2048 * kFrameBytes;

// The reading the classic method gives for its estimate.
TempoReading classicReading(const TempoEstimate& estimate);

// Opens and maps `path`, checks its header, runs `analyse(image, wave,
// file)` on an accepted file, checks that no byte vanished while it was
// read, and closes it.
template <typename Analyse>
WaveFileReading readWaveFile(const PathChar* path, Analyse analyse) {
    WaveFileReading file;
    FileImage image;
    WaveData wave;
    file.result = openFileImage(path, image);
    file.systemError = image.systemError;
    if (file.result == WaveCheckResult::Ok) {
        file.container = identifyContainer(bytesOf(image));
        file.result = checkWaveHeader(bytesOf(image), wave);
    }
    if (file.result == WaveCheckResult::Ok) {
        file.sampleRate = wave.sampleRate;
        file.dataBytes = wave.dataSize;
        analyse(image, wave, file);
    }
    // A file cut short by another process while it was read: its data
    // chunk no longer fits in it, whatever was computed from the zeros.
    if (fileImageLostBytes(image)) {
        file.shrank = true;
        file.result = WaveCheckResult::DataSize;
    }
    closeFileImage(image);
    return file;
}

}  // namespace tempo
