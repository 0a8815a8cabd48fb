// A tempo-scan that writes no tags: built without TagLib, or for Windows,
// where no TagLib is at hand to link. --write-tags is refused before any
// file is read, so these records never carry a tag.

#include "scan/tags.hpp"

namespace tempo::scan {

bool tagWritingAvailable() { return false; }

std::vector<std::string> tagRoots(const std::vector<std::string>&) { return {}; }

void applyTempoTag(ScanRecord& record, const TagSettings& settings) {
    if (!settings.write || record.status != ScanStatus::Ok) return;
    record.tag = tagFailed(TagFailure::NoTagLib);
}

}  // namespace tempo::scan
