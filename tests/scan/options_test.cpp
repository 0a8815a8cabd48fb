#include "scan/options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/machine.hpp"

namespace tempo::scan {
namespace {

bool parse(std::vector<const char*> args, ScanOptions& options, std::string& error) {
    args.insert(args.begin(), "tempo-scan");
    return parseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(ParseOptions, ReadsEachOptionInItsForms) {
    const struct {
        std::vector<const char*> args;
        unsigned jobs;
        ReportFormat format;
        std::string output;
        unsigned shardIndex, shardCount;
        ProgressMode progress;
        std::vector<std::string> paths;
    } cases[] = {
        {{"-j", "3", "a"}, 3, ReportFormat::Tsv, "", 0, 1, ProgressMode::Auto, {"a"}},
        {{"-j7", "--jobs=2", "a", "b"}, 2, ReportFormat::Tsv, "", 0, 1, ProgressMode::Auto, {"a", "b"}},
        {{"--format", "csv", "-o", "out.csv", "a"}, 0, ReportFormat::Csv, "out.csv", 0, 1, ProgressMode::Auto, {"a"}},
        {{"--format=jsonl", "--output=x", "--progress", "a"}, 0, ReportFormat::Jsonl, "x", 0, 1, ProgressMode::On, {"a"}},
        {{"--shard", "2/5", "--no-progress", "a"}, 0, ReportFormat::Tsv, "", 2, 5, ProgressMode::Off, {"a"}},
        {{"--", "-j", "--format"}, 0, ReportFormat::Tsv, "", 0, 1, ProgressMode::Auto, {"-j", "--format"}},
        {{"-", "a"}, 0, ReportFormat::Tsv, "", 0, 1, ProgressMode::Auto, {"-", "a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScanOptions options;
        std::string error;
        ASSERT_TRUE(parse(c.args, options, error)) << error;
        EXPECT_EQ(options.jobs, c.jobs == 0 ? std::min(platform::availableCpus(), kMaxJobs) : c.jobs);
        EXPECT_EQ(options.format, c.format);
        EXPECT_EQ(options.output, c.output);
        EXPECT_EQ(options.shardIndex, c.shardIndex);
        EXPECT_EQ(options.shardCount, c.shardCount);
        EXPECT_EQ(options.progress, c.progress);
        EXPECT_EQ(options.paths, c.paths);
    }
}

TEST(ParseOptions, RefusesWhatItCannotRead) {
    const std::vector<std::vector<const char*>> cases = {
        {},
        {"-j", "0", "a"},
        {"-j", "257", "a"},
        {"-j", "x", "a"},
        {"--jobs"},
        {"--format", "xml", "a"},
        {"--shard", "5/5", "a"},
        {"--shard", "1/0", "a"},
        {"--shard", "1", "a"},
        {"--timeout", "0", "a"},
        {"--progress=yes", "a"},
        {"--colour", "a"},
        {"-x", "a"},
        {"-o", "", "a"},
        {"--dry-run", "a"},
        {"--overwrite-tags", "a"},
        {"--method", "fast", "a"},
        {"--method"},
        {"--range", "100-150", "a"},
        {"--range", "0-100", "a"},
        {"--range", "100", "a"},
        {"--range", "-100", "a"},
        {"--range", "60-", "a"},
        {"--range", "60 - 120", "a"},
        {"--decimals", "3", "a"},
        {"--decimals", "-1", "a"},
        {"--decimals", "x", "a"},
        {"--decimals"},
        {"--beats", "a"},
        {"--beats", "--format", "csv", "a"},
        {"--beats=yes", "--format", "jsonl", "a"},
        {"--beats", "--format", "jsonl", "--method", "classic", "a"},
        {"--db", "", "a"},
        {"--db"},
        {"--exclude", "", "a"},
        {"--exclude", "/", "a"},
        {"--extensions", "", "a"},
        {"--extensions", "mp3,,flac", "a"},
        {"--extensions", "tar.gz", "a"},
        {"--extensions", "a/b", "a"},
        {"--hidden=yes", "a"},
        {"--min-confidence", "0.5", "a"},
        {"--write-tags", "--min-confidence", "1.5", "a"},
        {"--write-tags", "--min-confidence", "-0.1", "a"},
        {"--write-tags", "--min-confidence", "0.5.1", "a"},
        {"--write-tags", "--min-confidence", ".", "a"},
        {"--write-tags", "--min-confidence", "x", "a"},
        {"--write-tags", "--min-confidence", "0.5", "--method", "classic", "a"},
        {"--prune", "a"},
        {"--columns", "", "a"},
        {"--columns", "bpm,,path", "a"},
        {"--columns", "bpm,tempo", "a"},
        {"--columns", "path,bpm,path", "a"},
        {"--columns", "bpm", "--columns", "bpm", "a"},
        {"--columns", "bpm,path", "--format", "jsonl", "a"},
        {"--columns", "bpm,tag,path", "a"},
        {"--columns", "bpm,path", "--format", "rekordbox-xml", "a"},
        {"--format", "rekordbox-xml", "--method", "classic", "a"},
        {"--format", "rekordbox-xml", "--beats", "a"},
        {"--format", "rekordbox", "a"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(nothing)" : args[0]);
        ScanOptions options;
        std::string error;
        EXPECT_FALSE(parse(args, options, error));
        EXPECT_FALSE(error.empty());
    }
    ScanOptions options;
    std::string error;
    ASSERT_TRUE(parse({"--help"}, options, error));
    EXPECT_TRUE(options.help);
    ASSERT_TRUE(parse({"--version"}, options, error));
    EXPECT_TRUE(options.version);
    ASSERT_TRUE(parse({"--write-tags", "--overwrite-tags", "--dry-run", "a"}, options, error));
    EXPECT_TRUE(options.writeTags && options.overwriteTags && options.dryRun);
    EXPECT_EQ(options.minConfidence, 0.0);
    ASSERT_TRUE(parse({"--write-tags", "--min-confidence", "0.6", "a"}, options, error));
    EXPECT_EQ(options.minConfidence, 0.6);
    ASSERT_TRUE(parse({"--write-tags", "--min-confidence=1", "a"}, options, error));
    EXPECT_EQ(options.minConfidence, 1.0);
}

// The help says what a tag write changes: the tempo field, through a
// checked copy, never the file in place.
TEST(UsageText, SaysWhatATagWriteChanges) {
    const std::string usage = usageText();
    EXPECT_EQ(usage.find("in place"), std::string::npos);
    EXPECT_NE(usage.find("the tempo field alone changes"), std::string::npos);
    EXPECT_NE(usage.find("--min-confidence C"), std::string::npos);
}

// The method and the range: accurate and none by default.
TEST(ParseOptions, ReadsTheMethodAndTheRange) {
    const struct {
        std::vector<const char*> args;
        Method method;
        unsigned rangeMin;
        unsigned rangeMax;
    } cases[] = {
        {{"a"}, Method::Accurate, 0, 0},
        {{"--method", "classic", "a"}, Method::Classic, 0, 0},
        {{"--method=accurate", "a"}, Method::Accurate, 0, 0},
        {{"--range", "60-120", "a"}, Method::Accurate, 60, 120},
        {{"--range=85-170", "--method", "classic", "a"}, Method::Classic, 85, 170},
        {{"--range", "70-300", "a"}, Method::Accurate, 70, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScanOptions options;
        std::string error;
        ASSERT_TRUE(parse(c.args, options, error)) << error;
        EXPECT_EQ(options.method, c.method);
        EXPECT_EQ(options.rangeMin, c.rangeMin);
        EXPECT_EQ(options.rangeMax, c.rangeMax);
    }
}

// Decimals (0 by default) and beats (off by default, JSON Lines only).
TEST(ParseOptions, ReadsDecimalsAndBeats) {
    const struct {
        std::vector<const char*> args;
        unsigned decimals;
        bool beats;
    } cases[] = {
        {{"a"}, 0, false},
        {{"--decimals", "2", "a"}, 2, false},
        {{"--decimals=1", "--format", "csv", "a"}, 1, false},
        {{"--decimals", "0", "--beats", "--format=jsonl", "a"}, 0, true},
        {{"--format", "jsonl", "--beats", "--decimals", "1", "a"}, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScanOptions options;
        std::string error;
        ASSERT_TRUE(parse(c.args, options, error)) << error;
        EXPECT_EQ(options.decimals, c.decimals);
        EXPECT_EQ(options.beats, c.beats);
    }
    ScanOptions options;
    std::string error;
    EXPECT_FALSE(parse({"--beats", "--format", "tsv", "a"}, options, error));
    EXPECT_EQ(error, "--beats needs --format jsonl (TSV and CSV have no field for them)");
}

// The index and the collection: --exclude gathers, --extensions lists
// join, lower case and without their dots.
TEST(ParseOptions, ReadsTheIndexAndTheCollection) {
    ScanOptions options;
    std::string error;
    ASSERT_TRUE(parse({"a"}, options, error)) << error;
    EXPECT_EQ(options.db, "");
    EXPECT_FALSE(options.hidden);
    EXPECT_TRUE(options.excludes.empty());
    EXPECT_TRUE(options.extensions.empty());
    ASSERT_TRUE(parse({"--db", "x.db", "--hidden", "--exclude", ".Trash", "--exclude=**/demo/*", "--extensions",
                       ".MP3,flac", "--extensions=xm", "a"},
                      options, error))
        << error;
    EXPECT_EQ(options.db, "x.db");
    EXPECT_TRUE(options.hidden);
    EXPECT_EQ(options.excludes, (std::vector<std::string>{".Trash", "**/demo/*"}));
    EXPECT_EQ(options.extensions, (std::vector<std::string>{"mp3", "flac", "xm"}));
    EXPECT_FALSE(options.prune);
    ASSERT_TRUE(parse({"--db", "x.db", "--prune", "a"}, options, error)) << error;
    EXPECT_TRUE(options.prune);
}

// The columns of TSV and CSV: as listed (given twice, the lists join), or
// by default bpm, status, the tag outcome with tags, and the path.
TEST(ParseOptions, ReadsTheColumns) {
    const struct {
        std::vector<const char*> args;
        std::vector<ReportColumn> columns;
    } cases[] = {
        {{"a"}, {ReportColumn::Bpm, ReportColumn::Status, ReportColumn::Path}},
        {{"--write-tags", "a"}, {ReportColumn::Bpm, ReportColumn::Status, ReportColumn::Tag, ReportColumn::Path}},
        {{"--columns", "path,confidence,warning", "a"},
         {ReportColumn::Path, ReportColumn::Confidence, ReportColumn::Warning}},
        {{"--columns=bpm", "--columns", "sample_rate,channels,codec,duration,method", "--format", "csv", "a"},
         {ReportColumn::Bpm, ReportColumn::SampleRate, ReportColumn::Channels, ReportColumn::Codec,
          ReportColumn::Duration, ReportColumn::Method}},
        {{"--write-tags", "--columns", "tag,path", "a"}, {ReportColumn::Tag, ReportColumn::Path}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ScanOptions options;
        std::string error;
        ASSERT_TRUE(parse(c.args, options, error)) << error;
        EXPECT_EQ(options.columns, c.columns);
    }
    ScanOptions options;
    std::string error;
    EXPECT_FALSE(parse({"--columns", "bpm,tempo", "a"}, options, error));
    EXPECT_EQ(error, "--columns takes bpm, status, tag, path, confidence, warning, method, duration, sample_rate, "
                     "channels and codec, not 'tempo'");
}

}  // namespace
}  // namespace tempo::scan
