#pragma once

// What --write-tags did with one file, and the words the report gives it.

#include <optional>
#include <string>

namespace tempo::scan {

enum class TagAction { None, Written, Unchanged, Kept, WouldWrite, Failed };

// Why a tag was not written; each has one text, in tagOutcomeText.
enum class TagFailure {
    System,  // `error`: the errno value
    ChangedDuringScan,
    LinkOutsideScan,
    FormatNotWritten,  // `detail`: the format the file's content is
    FormatNotTaggable,
    NoTempoField,
    SaveFailed,
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
    // Kept: the tempo the file holds, as written there; FormatNotWritten
    // and DidNotVerify: the words their message needs.
    std::string detail;
};

TagOutcome tagDone(TagAction action);
TagOutcome tagKept(std::string held);
TagOutcome tagFailed(TagFailure failure, int error = 0);
TagOutcome tagFailed(TagFailure failure, std::string detail);

// "written", "unchanged", "kept N", "would write", "error: <reason>", or
// "" for None.
std::string tagOutcomeText(const TagOutcome& outcome);

}  // namespace tempo::scan
