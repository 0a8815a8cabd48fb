#pragma once

// What --write-tags did with one file, and the words the report gives it.

#include <string>

namespace tempo::scan {

enum class TagAction { None, Written, Unchanged, Kept, WouldWrite, Failed };

// Why a tag was not written; each has one text, in tagOutcomeText.
enum class TagFailure {
    System,               // detail: the system's reason
    ChangedDuringScan,
    LinkOutsideScan,
    FormatNotTaggable,
    NoTempoField,
    SaveFailed,
    NotWritable,
    SeveralHardLinks,
    DidNotReadBack,
    NoTagLib,
};

struct TagOutcome {
    TagAction action = TagAction::None;  // None: no tag was considered
    TagFailure failure = TagFailure::System;  // when Failed
    std::string detail;  // Kept: the tempo the file holds; Failed/System: the reason
};

// "written", "unchanged", "kept N", "would write", "error: <reason>", or
// "" for None.
std::string tagOutcomeText(const TagOutcome& outcome);

}  // namespace tempo::scan
