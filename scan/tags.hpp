#pragma once

// Writing the tempo into a file's own tag (ID3v2 TBPM in MP3, WAVE and
// AIFF; the BPM Vorbis comment in FLAC, Ogg and Opus; the tmpo atom in
// MP4), through TagLib, in place.

#include <string>

#include "scan/scan_record.hpp"

namespace tempo::scan {

struct TagSettings {
    bool write = false;      // --write-tags
    bool overwrite = false;  // --overwrite-tags: replace a different tempo
    bool dryRun = false;     // --dry-run: decide, touch nothing
};

// False when this build has no TagLib.
bool tagWritingAvailable();

// Decides and, unless dry-running, writes the tempo tag of an analysed
// file whose status is Ok: sets record.tag to "written", "unchanged",
// "kept N" (the different value already there, kept), "would write" or
// "error: <reason>". A file whose size or modification time differs from
// `record.identity` is not touched ("error: changed during scan"), nor is
// one that cannot be saved, which stays as it was. Safe to call from
// several threads: tag writes happen one at a time.
void applyTempoTag(ScanRecord& record, const TagSettings& settings);

}  // namespace tempo::scan
