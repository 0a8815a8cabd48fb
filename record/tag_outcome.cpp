#include "record/tag_outcome.hpp"

#include <cstdio>
#include <utility>

#include "platform/files.hpp"

namespace tempo::scan {
namespace {

std::string failureText(const TagOutcome& outcome) {
    switch (outcome.failure.value_or(TagFailure::System)) {
        case TagFailure::System: return platform::systemReason(outcome.error);
        case TagFailure::ChangedDuringScan: return "changed during scan";
        case TagFailure::LinkOutsideScan: return "link leads outside the scanned paths";
        case TagFailure::EndsEarly: return "file ends early; no tag written";
        case TagFailure::FormatNotTaggable: return "TagLib cannot tag this format";
        case TagFailure::TagUnusual: return "tag laid out in a way not rewritten here";
        case TagFailure::TagDamaged: return "tag or file structure damaged";
        case TagFailure::NoTempoField: return "this format has no tempo tag";
        case TagFailure::SaveFailed: return "TagLib could not save the file";
        case TagFailure::ReadOnly: return "file is read-only";
        case TagFailure::NotWritable: return "file cannot be written";
        case TagFailure::FolderNotWritable: return "folder cannot be written";
        case TagFailure::OwnerNotKept: return "file's owner cannot be kept";
        case TagFailure::SeveralHardLinks: return "file has several hard links";
        case TagFailure::DidNotVerify: return "tagged copy did not verify (" + outcome.detail + ")";
        case TagFailure::NoTagLib: return "built without TagLib";
    }
    return "unknown failure";
}

}  // namespace

TagOutcome tagDone(TagAction action) {
    TagOutcome outcome;
    outcome.action = action;
    return outcome;
}

TagOutcome tagKept(std::string held) {
    TagOutcome outcome = tagDone(TagAction::Kept);
    outcome.detail = std::move(held);
    return outcome;
}

TagOutcome tagNotTaggable(std::string format) {
    TagOutcome outcome = tagDone(TagAction::NotTaggable);
    outcome.detail = std::move(format);
    return outcome;
}

TagOutcome tagHeld(double confidence) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", confidence);
    TagOutcome outcome = tagDone(TagAction::Held);
    outcome.detail = text;
    return outcome;
}

TagOutcome tagFailed(TagFailure failure, int error) {
    TagOutcome outcome = tagDone(TagAction::Failed);
    outcome.failure = failure;
    outcome.error = error;
    return outcome;
}

TagOutcome tagFailed(TagFailure failure, std::string detail) {
    TagOutcome outcome = tagFailed(failure);
    outcome.detail = std::move(detail);
    return outcome;
}

std::string tagOutcomeText(const TagOutcome& outcome) {
    switch (outcome.action) {
        case TagAction::None: return std::string();
        case TagAction::Written: return "written";
        case TagAction::Unchanged: return "unchanged";
        case TagAction::Kept: return "kept " + outcome.detail;
        case TagAction::WouldWrite: return "would write";
        case TagAction::NotTaggable: return "not taggable";
        case TagAction::Held: return "held: confidence " + outcome.detail;
        case TagAction::Failed: break;
    }
    return "error: " + failureText(outcome);
}

}  // namespace tempo::scan
