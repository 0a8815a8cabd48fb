#pragma once

// What --write-tags did with one file, and the words the report gives it.

#include <optional>
#include <string>

namespace tempo::scan {

enum class TagAction {
    None,
    Written,
    Unchanged,
    Kept,
    WouldWrite,
    NotTaggable,  // a format whose tags this tool does not write: no failure
    Held,         // --min-confidence: a tempo less sure than asked is not written
    Failed,
};

// Why a tag was not written; each has one text, in tagOutcomeText.
enum class TagFailure {
    System,  // `error`: the errno value
    ChangedDuringScan,
    LinkOutsideScan,
    EndsEarly,          // the analysis read a file that is damaged or cut short
    FormatNotTaggable,
    TagUnusual,         // a tag laid out in a way this tool does not rewrite
    TagDamaged,         // the tag, or the file around it, does not parse
    NoTempoField,
    SaveFailed,
    ReadOnly,  // the mode bits of the file or its folder say so
    NotWritable,
    FolderNotWritable,
    OwnerNotKept,
    SeveralHardLinks,
    DidNotVerify,  // `detail`: what differed between the tagged copy and the file
    NoTagLib,
};

struct TagOutcome {
    TagAction action = TagAction::None;    // None: no tag was considered
    std::optional<TagFailure> failure;     // set exactly when the action is Failed
    int error = 0;                         // System: the errno value
    // Kept: the tempo the file holds, as written there; NotTaggable: the
    // format the file's content is; Held: the confidence, two decimals;
    // DidNotVerify: what differed.
    std::string detail;
};

TagOutcome tagDone(TagAction action);
TagOutcome tagKept(std::string held);
TagOutcome tagNotTaggable(std::string format);
TagOutcome tagHeld(double confidence);
TagOutcome tagFailed(TagFailure failure, int error = 0);
TagOutcome tagFailed(TagFailure failure, std::string detail);

// "written", "unchanged", "kept N", "would write", "not taggable",
// "held: confidence C", "error: <reason>", or "" for None.
std::string tagOutcomeText(const TagOutcome& outcome);

}  // namespace tempo::scan
