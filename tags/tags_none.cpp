// A tempo-scan that writes no tags: built without TagLib, or for Windows,
// where no TagLib is at hand to link. --write-tags is refused before any
// file is read, so these records never carry a tag.

#include "tags/tags.hpp"

namespace tempo::scan {

bool tagWritingAvailable() { return false; }

std::vector<std::string> tagRoots(const std::vector<std::string>&) { return {}; }

std::vector<std::string> removeLeftCopies(const std::vector<std::string>&) { return {}; }

bool applyTempoTag(ScanRecord& record, const TagSettings& settings) {
    if (!settings.write || record.status != ScanStatus::Ok) return true;
    record.tag = tagFailed(TagFailure::NoTagLib);
    return true;
}

}  // namespace tempo::scan
