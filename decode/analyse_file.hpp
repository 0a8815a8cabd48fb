#pragma once

// One file's record: a WAVE file that tempo accepts is analysed in place,
// exactly as tempo does; any other file is decoded through ffmpeg.

#include <string>

#include "decode/decoder.hpp"
#include "record/scan_record.hpp"

namespace tempo::scan {

// Tempos reported only in [min, max] BPM, doubled or halved to get there;
// min 0: any tempo.
struct TempoRange {
    unsigned min = 0;
    unsigned max = 0;
};

// `bpm` doubled or halved until its whole number lies in `range`, not
// rounded; and the same rounded to a whole number.
double foldedTempo(double bpm, const TempoRange& range);
int reportedBpm(double bpm, const TempoRange& range);

// The record's status and tempo from a reading by `record.method`: Ok
// with the tempo within `range`, the beats and the tempo changes, or
// NoTempo; the confidence for the accurate method either way. The same
// for a file and for samples handed over in memory (the Python module).
void takeReading(ScanRecord& record, const TempoReading& reading, const TempoRange& range);

// The record of one file; its identity is taken before it is read.
// The method is the settings'; the tempo is reported within `range`.
ScanRecord analyseFile(const std::string& path, const DecodeSettings& settings, const TempoRange& range);

}  // namespace tempo::scan
