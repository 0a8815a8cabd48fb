#pragma once

// The beat grid of a scan as a rekordbox XML collection, which rekordbox
// imports (File > Import > rekordbox xml): one TRACK a file, its tempo and
// one TEMPO element a segment of steady tempo, each starting on the first
// beat of a bar. A whole document, so its tracks are gathered first and
// written at the end of the run.

#include <string>
#include <vector>

#include "record/scan_record.hpp"

namespace tempo::scan {

// One stretch of steady tempo: from `start` (seconds, the first beat of a
// bar) at `bpm`, `metre` beats a bar.
struct GridSegment {
    double start = 0.0;
    double bpm = 0.0;
    unsigned metre = 4;
};

struct RekordboxTrack {
    std::string location;  // the file's absolute path, as the system spells it
    std::string name;      // the title tag, or the file's name
    double seconds = 0.0;  // the audio's length
    double averageBpm = 0.0;
    std::vector<GridSegment> segments;
};

// The segments of an Ok record's grid: the first from its first downbeat
// (its first beat where no bar stands out) at its tempo, then one from
// the first downbeat at or after each tempo change. Tempos are reported
// as the record reports its own (doubled or halved alike). A record with
// no beats has one segment from 0. No metre found is written 4/4, the only
// metre rekordbox takes without one; the segment then starts on a beat,
// not a bar.
std::vector<GridSegment> gridSegments(const ScanRecord& record);

// "file://localhost/" and the absolute path with every byte outside the
// unreserved set (letters, digits, "-._~") percent-encoded in upper-case
// hex, the folder separators written "/" (and, on Windows, the drive's
// colon kept, as rekordbox writes it).
std::string rekordboxLocation(const std::string& absolutePath);

// The whole collection: the tracks in order, TrackID from 1, every text
// escaped for XML (a byte that is not part of valid UTF-8, or a control
// character XML cannot hold, as U+FFFD), an empty playlist tree.
std::string rekordboxCollection(const std::vector<RekordboxTrack>& tracks, const std::string& version);

}  // namespace tempo::scan
