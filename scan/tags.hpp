#pragma once

// Writing the tempo into a file's own tag (ID3v2 TBPM in MP3, WAVE and
// AIFF; the BPM Vorbis comment in FLAC, Ogg and Opus; the tmpo atom in
// MP4), through TagLib, by replacing the file with a checked copy.

#include <string>
#include <vector>

#include "scan/scan_record.hpp"

namespace tempo::scan {

struct TagSettings {
    bool write = false;      // --write-tags
    bool overwrite = false;  // --overwrite-tags: replace a different tempo
    bool dryRun = false;     // --dry-run: decide, touch nothing
    // The real paths of the paths scanned: a file whose real path lies
    // outside them (reached through a link) is not written.
    std::vector<std::string> roots;
};

// False when this build cannot write tags (no TagLib, or Windows).
bool tagWritingAvailable();

// The real paths of the paths given, for TagSettings::roots.
std::vector<std::string> tagRoots(const std::vector<std::string>& paths);

// Decides and, unless dry-running, writes the tempo tag of an analysed
// file whose status is Ok, and sets record.tag: Written, Unchanged, Kept
// (the different value already there; an empty tempo or 0 counts as
// none), WouldWrite or Failed with the reason. A file whose size
// or modification time differs from `record.identity` is not touched
// ("error: changed during scan"), nor one reached through a link that
// leads outside the scanned paths, nor one with several hard links; one
// that cannot be saved, or whose tag does not read back, stays byte for
// byte as it was. Safe to call from several threads: tag writes happen
// one at a time.
void applyTempoTag(ScanRecord& record, const TagSettings& settings);

}  // namespace tempo::scan
