#include "scan/tag_outcome.hpp"

namespace tempo::scan {

std::string tagOutcomeText(const TagOutcome& outcome) {
    switch (outcome.action) {
        case TagAction::None: return std::string();
        case TagAction::Written: return "written";
        case TagAction::Unchanged: return "unchanged";
        case TagAction::Kept: return "kept " + outcome.detail;
        case TagAction::WouldWrite: return "would write";
        case TagAction::Failed: break;
    }
    switch (outcome.failure) {
        case TagFailure::System: return "error: " + outcome.detail;
        case TagFailure::ChangedDuringScan: return "error: changed during scan";
        case TagFailure::LinkOutsideScan: return "error: link leads outside the scanned paths";
        case TagFailure::FormatNotTaggable: return "error: TagLib cannot tag this format";
        case TagFailure::NoTempoField: return "error: this format has no tempo tag";
        case TagFailure::SaveFailed: return "error: TagLib could not save the file";
        case TagFailure::NotWritable: return "error: file cannot be written";
        case TagFailure::SeveralHardLinks: return "error: file has several hard links";
        case TagFailure::DidNotReadBack: return "error: the tag did not read back; file left as it was";
        case TagFailure::NoTagLib: return "error: built without TagLib";
    }
    return "error";
}

}  // namespace tempo::scan
