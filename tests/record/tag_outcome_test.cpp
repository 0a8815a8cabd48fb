#include "record/tag_outcome.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace tempo::scan {
namespace {

// The words each outcome gives a record, and a failure only where one
// failed.
TEST(TagOutcomeText, GivesEachOutcomeItsWords) {
    const struct {
        TagOutcome outcome;
        std::string text;
    } cases[] = {
        {TagOutcome{}, ""},
        {tagDone(TagAction::Written), "written"},
        {tagDone(TagAction::Unchanged), "unchanged"},
        {tagKept("99.5"), "kept 99.5"},
        {tagDone(TagAction::WouldWrite), "would write"},
        {tagNotTaggable("Matroska"), "not taggable"},
        {tagHeld(0.3449), "held: confidence 0.34"},
        {tagFailed(TagFailure::System, ENOSPC), "error: no space left on device"},
        {tagFailed(TagFailure::ChangedDuringScan), "error: changed during scan"},
        {tagFailed(TagFailure::LinkOutsideScan), "error: link leads outside the scanned paths"},
        {tagFailed(TagFailure::EndsEarly), "error: file ends early; no tag written"},
        {tagFailed(TagFailure::FormatNotTaggable), "error: TagLib cannot tag this format"},
        {tagFailed(TagFailure::TagUnusual), "error: tag laid out in a way not rewritten here"},
        {tagFailed(TagFailure::TagDamaged), "error: tag or file structure damaged"},
        {tagFailed(TagFailure::NoTempoField), "error: this format has no tempo tag"},
        {tagFailed(TagFailure::SaveFailed), "error: TagLib could not save the file"},
        {tagFailed(TagFailure::ReadOnly), "error: file is read-only"},
        {tagFailed(TagFailure::NotWritable), "error: file cannot be written"},
        {tagFailed(TagFailure::FolderNotWritable), "error: folder cannot be written"},
        {tagFailed(TagFailure::OwnerNotKept), "error: file's owner cannot be kept"},
        {tagFailed(TagFailure::SeveralHardLinks), "error: file has several hard links"},
        {tagFailed(TagFailure::DidNotVerify, "audio"), "error: tagged copy did not verify (audio)"},
        {tagFailed(TagFailure::NoTagLib), "error: built without TagLib"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tagOutcomeText(c.outcome), c.text);
        EXPECT_EQ(c.outcome.failure.has_value(), c.outcome.action == TagAction::Failed) << c.text;
    }
}

}  // namespace
}  // namespace tempo::scan
