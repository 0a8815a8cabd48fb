#include "scan/report.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/path.hpp"

namespace tempo::scan {
namespace {

ScanRecord record(const std::string& path, ScanStatus status, int bpm = 0, const ScanError& error = {}) {
    ScanRecord r;
    r.path = path;
    r.status = status;
    r.bpm = bpm;
    r.error = error;
    return r;
}

TEST(FormatRecord, WritesEachFormatExactly) {
    const ScanRecord ok = record("music/a b.flac", ScanStatus::Ok, 128);
    const ScanRecord none = record("x.wav", ScanStatus::NoTempo);
    const ScanRecord odd = record("d\\i\tr\n\"q\",\r.wav", ScanStatus::Error, 0, {ScanFailure::DecoderMissing, 0, "ffmpeg", ""});
    const ScanRecord bytes = record("\xc3\xa9\xff\xe2\x82.wav\x01", ScanStatus::Error, 0, {ScanFailure::NotRegular, 0, "", ""});
    const struct {
        ReportFormat format;
        const ScanRecord* record;
        std::string line;
    } cases[] = {
        {ReportFormat::Tsv, &ok, "128\tok\tmusic/a b.flac\n"},
        {ReportFormat::Tsv, &none, "\tno tempo\tx.wav\n"},
        // Where the backslash separates folders, it is written as it is.
        {ReportFormat::Tsv, &odd,
         platform::kPathSeparator == '\\' ? "\terror: ffmpeg not found\td\\i\\tr\\n\"q\",\\r.wav\n"
                                 : "\terror: ffmpeg not found\td\\\\i\\tr\\n\"q\",\\r.wav\n"},
        {ReportFormat::Csv, &ok, "128,ok,music/a b.flac\r\n"},
        {ReportFormat::Csv, &none, ",no tempo,x.wav\r\n"},
        {ReportFormat::Csv, &odd, ",error: ffmpeg not found,\"d\\i\tr\n\"\"q\"\",\r.wav\"\r\n"},
        {ReportFormat::Jsonl, &ok, "{\"path\": \"music/a b.flac\", \"bpm\": 128, \"status\": \"ok\", \"confidence\": null, \"method\": \"classic\"}\n"},
        {ReportFormat::Jsonl, &none, "{\"path\": \"x.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\"}\n"},
        {ReportFormat::Jsonl, &odd,
         "{\"path\": \"d\\\\i\\tr\\n\\\"q\\\",\\r.wav\", \"bpm\": null, \"status\": \"error: ffmpeg not found\", \"confidence\": null, \"method\": \"classic\"}\n"},
        {ReportFormat::Jsonl, &bytes,
         "{\"path\": \"\xc3\xa9\\udcff\\udce2\\udc82.wav\\u0001\", \"bpm\": null, \"status\": \"error: not a "
         "regular file\", \"confidence\": null, \"method\": \"classic\"}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(c.format, *c.record), c.line);
    EXPECT_EQ(reportHeader(ReportFormat::Csv), "bpm,status,path\r\n");
    EXPECT_EQ(reportHeader(ReportFormat::Tsv), "");
    EXPECT_EQ(reportHeader(ReportFormat::Jsonl), "");
}

// With tags, the outcome is a field before the path, or "tag" in JSON,
// null where no tag was considered.
TEST(FormatRecord, CarriesTheTagOutcomeWhenAsked) {
    ScanRecord kept = record("a.mp3", ScanStatus::Ok, 128);
    kept.tag = tagKept("99.5");
    const ScanRecord none = record("b,c.wav", ScanStatus::NoTempo);
    const struct {
        ReportFormat format;
        const ScanRecord* record;
        std::string line;
    } cases[] = {
        {ReportFormat::Tsv, &kept, "128\tok\tkept 99.5\ta.mp3\n"},
        {ReportFormat::Tsv, &none, "\tno tempo\t\tb,c.wav\n"},
        {ReportFormat::Csv, &kept, "128,ok,kept 99.5,a.mp3\r\n"},
        {ReportFormat::Csv, &none, ",no tempo,,\"b,c.wav\"\r\n"},
        {ReportFormat::Jsonl, &kept, "{\"path\": \"a.mp3\", \"bpm\": 128, \"status\": \"ok\", \"confidence\": null, \"method\": \"classic\", \"tag\": \"kept 99.5\"}\n"},
        {ReportFormat::Jsonl, &none, "{\"path\": \"b,c.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\", \"tag\": null}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(c.format, *c.record, true), c.line);
    EXPECT_EQ(reportHeader(ReportFormat::Csv, true), "bpm,status,tag,path\r\n");
}

// The accurate method's confidence, with two decimals, for a tempo and for
// no tempo; none for a file that failed.
TEST(FormatRecord, GivesTheAccurateMethodsConfidence) {
    ScanRecord ok = record("a.flac", ScanStatus::Ok, 121);
    ok.method = Method::Accurate;
    ok.confidence = 0.876;
    ScanRecord none = record("b.wav", ScanStatus::NoTempo);
    none.method = Method::Accurate;
    none.confidence = 0.04;
    ScanRecord failed = record("c.mp3", ScanStatus::Error, 0, {ScanFailure::EndsEarly, 1, "/usr/bin/ffmpeg", "End of file"});
    failed.method = Method::Accurate;
    const struct {
        const ScanRecord* record;
        std::string line;
    } cases[] = {
        {&ok, "{\"path\": \"a.flac\", \"bpm\": 121, \"status\": \"ok\", \"confidence\": 0.88, \"method\": \"accurate\"}\n"},
        {&none,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": 0.04, \"method\": "
         "\"accurate\"}\n"},
        {&failed,
         "{\"path\": \"c.mp3\", \"bpm\": null, \"status\": \"error: file ends early (ffmpeg: End of file)\", "
         "\"confidence\": null, "
         "\"method\": \"accurate\"}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(ReportFormat::Jsonl, *c.record), c.line);
    EXPECT_EQ(formatRecord(ReportFormat::Tsv, ok), "121\tok\ta.flac\n");
}

// A file decoded as far as it goes: JSON Lines says so, TSV and CSV keep
// their fields.
TEST(FormatRecord, WarnsOfAFileThatEndsEarly) {
    ScanRecord cut = record("cut.flac", ScanStatus::Ok, 100);
    cut.endsEarly = true;
    EXPECT_EQ(formatRecord(ReportFormat::Jsonl, cut),
              "{\"path\": \"cut.flac\", \"bpm\": 100, \"status\": \"ok\", \"confidence\": null, \"method\": "
              "\"classic\", \"warning\": \"file ends early\"}\n");
    EXPECT_EQ(formatRecord(ReportFormat::Tsv, cut), "100\tok\tcut.flac\n");
    EXPECT_EQ(formatRecord(ReportFormat::Csv, cut), "100,ok,cut.flac\r\n");
}

// Overlong forms, surrogates and code points past U+10FFFF are not valid
// UTF-8: each of their bytes is escaped on its own.
TEST(FormatRecord, EscapesEveryByteOfInvalidUtf8) {
    const struct {
        std::string path;
        std::string json;
    } cases[] = {
        {"\xf0\x9f\x8e\xb5", "\xf0\x9f\x8e\xb5"},
        {"\xc0\xaf", "\\udcc0\\udcaf"},
        {"\xed\xa0\x80", "\\udced\\udca0\\udc80"},
        {"\xf4\x90\x80\x80", "\\udcf4\\udc90\\udc80\\udc80"},
        {"\xe2\x82", "\\udce2\\udc82"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatRecord(ReportFormat::Jsonl, record(c.path, ScanStatus::NoTempo)),
                  "{\"path\": \"" + c.json + "\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\"}\n");
    }
}

// With decimals, the bpm field of every format carries the unrounded
// tempo to that many digits; without, the whole number as ever.
TEST(FormatRecord, GivesTheTempoToTheDecimalsAsked) {
    ScanRecord ok = record("a.flac", ScanStatus::Ok, 128);
    ok.tempo = 127.2961;
    ok.method = Method::Accurate;
    ok.confidence = 0.9;
    const ScanRecord none = record("b.wav", ScanStatus::NoTempo);
    const struct {
        ReportFormat format;
        const ScanRecord* record;
        unsigned decimals;
        std::string line;
    } cases[] = {
        {ReportFormat::Tsv, &ok, 0, "128\tok\ta.flac\n"},
        {ReportFormat::Tsv, &ok, 1, "127.3\tok\ta.flac\n"},
        {ReportFormat::Csv, &ok, 2, "127.30,ok,a.flac\r\n"},
        {ReportFormat::Csv, &none, 2, ",no tempo,b.wav\r\n"},
        {ReportFormat::Jsonl, &ok, 2,
         "{\"path\": \"a.flac\", \"bpm\": 127.30, \"status\": \"ok\", \"confidence\": 0.90, \"method\": \"accurate\"}\n"},
        {ReportFormat::Jsonl, &none, 1,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\"}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(c.format, *c.record, false, c.decimals), c.line);
}

// Beats with three decimals and the tempo changes, after the tag; empty
// lists for no tempo, null for an error.
TEST(FormatRecord, GivesBeatsAndTempoChangesInJsonLines) {
    ScanRecord ok = record("a.flac", ScanStatus::Ok, 120);
    ok.tempo = 120.04;
    ok.method = Method::Accurate;
    ok.confidence = 0.5;
    ok.beats = {0.2504, 0.75, 1.2496};
    ok.tempoChanges = {{0.75, 131.26}};
    ScanRecord none = record("b.wav", ScanStatus::NoTempo);
    none.method = Method::Accurate;
    none.confidence = 0.01;
    ScanRecord failed = record("c.mp3", ScanStatus::Error, 0, {ScanFailure::EndsEarly, 1, "ffmpeg", "End of file"});
    failed.method = Method::Accurate;
    const std::string prefix = "{\"path\": \"a.flac\", \"bpm\": ";
    const struct {
        const ScanRecord* record;
        unsigned decimals;
        std::string line;
    } cases[] = {
        {&ok, 0,
         prefix + "120, \"status\": \"ok\", \"confidence\": 0.50, \"method\": \"accurate\", \"tag\": null, "
                  "\"beats\": [0.250, 0.750, 1.250], \"tempo_changes\": [{\"at\": 0.750, \"bpm\": 131}]}\n"},
        {&ok, 1,
         prefix + "120.0, \"status\": \"ok\", \"confidence\": 0.50, \"method\": \"accurate\", \"tag\": null, "
                  "\"beats\": [0.250, 0.750, 1.250], \"tempo_changes\": [{\"at\": 0.750, \"bpm\": 131.3}]}\n"},
        {&none, 0,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": 0.01, \"method\": "
         "\"accurate\", \"tag\": null, \"beats\": [], \"tempo_changes\": []}\n"},
        {&failed, 0,
         "{\"path\": \"c.mp3\", \"bpm\": null, \"status\": \"error: file ends early (ffmpeg: End of file)\", "
         "\"confidence\": null, \"method\": \"accurate\", \"tag\": null, \"beats\": null, \"tempo_changes\": null}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(ReportFormat::Jsonl, *c.record, true, c.decimals, true), c.line);
}

}  // namespace
}  // namespace tempo::scan
