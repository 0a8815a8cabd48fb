#pragma once

// Writing the tempo into a file's own tag (ID3v2 TBPM in MP3, WAVE and
// AIFF; the BPM Vorbis comment in FLAC, Ogg and Opus; the tmpo atom in
// MP4) and nothing else, by replacing the file with a copy checked to
// differ from it in that field alone.

#include <atomic>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "record/scan_record.hpp"

namespace tempo::scan {

struct TagSettings {
    bool write = false;      // --write-tags
    bool overwrite = false;  // --overwrite-tags: replace a different tempo
    bool dryRun = false;     // --dry-run: decide, touch nothing
    // --min-confidence: a tempo whose confidence is below this is not
    // written (0: every tempo is).
    double minConfidence = 0.0;
    // The real paths of the paths scanned: a file whose real path lies
    // outside them (reached through a link) is not written.
    std::vector<std::string> roots;
    // The decoder the analysis read the files with: a tagged copy is
    // decoded the same way to check it.
    DecodeSettings decoder;
    // Once set, no file is replaced any more.
    const std::atomic<bool>* stop = nullptr;
};

// False when this build cannot write tags (no TagLib, or Windows).
bool tagWritingAvailable();

// The real paths of the paths given, for TagSettings::roots.
std::vector<std::string> tagRoots(const std::vector<std::string>& paths);

// Removes each of `copies` (files named as a tag writer's copy) that is
// provably one a killed run left: it bears the copy's mark and no running
// process holds it. A file that is only named like one stays. The paths
// removed.
std::vector<std::string> removeLeftCopies(const std::vector<std::string>& copies);

// Decides and, unless dry-running, writes the tempo tag of an analysed
// file whose status is Ok, and sets record.tag: Written, Unchanged, Kept
// (the different value already there; an empty tempo or 0 counts as
// none), WouldWrite, NotTaggable (what the file is comes from its content:
// only MP3, FLAC, Ogg (Vorbis, Opus, FLAC), MP4, WAVE and AIFF are
// written), Held (a confidence below settings.minConfidence) or Failed
// with the reason. A file whose analysis ended early is not touched, nor
// one whose identity differs from `record.identity` ("error: changed
// during scan"), nor one reached through a link that leads outside the
// scanned paths, nor one whose mode bits (or its folder's) deny its owner
// writing, nor one that could not be replaced whole (several hard links,
// no write permission, an owner the copy could not be given, no room).
// The file is replaced only by a copy whose tag holds every item of the
// original's but the tempo, unchanged, and whose audio is the original's
// byte for byte (decoded and compared, for MP4), with the original's
// rights, and only if the original is still the file that was copied;
// anything else leaves it byte for byte as it was. A dry run makes every
// check but the write. Safe to call from several threads: tag writes
// happen one at a time. False when a stop came first: the file is as it
// was and record.tag says nothing.
bool applyTempoTag(ScanRecord& record, const TagSettings& settings);

}  // namespace tempo::scan
