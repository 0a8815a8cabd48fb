#include "scan/report.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// What JSON Lines gives a record whose audio nothing is known of.
const std::string kNoFacts = ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null";

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
        {ReportFormat::Csv, &odd,
         platform::kPathSeparator == '\\' ? ",error: ffmpeg not found,\"d\\i\tr\n\"\"q\"\",\r.wav\"\r\n"
                                 : ",error: ffmpeg not found,\"d\\\\i\tr\n\"\"q\"\",\r.wav\"\r\n"},
        {ReportFormat::Jsonl, &ok, "{\"path\": \"music/a b.flac\", \"bpm\": 128, \"status\": \"ok\", \"confidence\": null, \"method\": \"classic\"" + kNoFacts + "}\n"},
        {ReportFormat::Jsonl, &none, "{\"path\": \"x.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\"" + kNoFacts + "}\n"},
        {ReportFormat::Jsonl, &odd,
         "{\"path\": \"d\\\\i\\tr\\n\\\"q\\\",\\r.wav\", \"bpm\": null, \"status\": \"error: ffmpeg not found\", \"confidence\": null, \"method\": \"classic\"" + kNoFacts + "}\n"},
        {ReportFormat::Jsonl, &bytes,
         "{\"path\": \"\xc3\xa9\\udcff\\udce2\\udc82.wav\\u0001\", \"bpm\": null, \"status\": \"error: not a "
         "regular file\", \"confidence\": null, \"method\": \"classic\"" + kNoFacts + "}\n"},
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
        {ReportFormat::Jsonl, &kept, "{\"path\": \"a.mp3\", \"bpm\": 128, \"status\": \"ok\", \"confidence\": null, \"method\": \"classic\", \"tag\": \"kept 99.5\"" + kNoFacts + "}\n"},
        {ReportFormat::Jsonl, &none, "{\"path\": \"b,c.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\", \"tag\": null" + kNoFacts + "}\n"},
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
        {&ok, "{\"path\": \"a.flac\", \"bpm\": 121, \"status\": \"ok\", \"confidence\": 0.88, \"method\": \"accurate\"" + kNoFacts + "}\n"},
        {&none,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": 0.04, \"method\": "
         "\"accurate\"" + kNoFacts + "}\n"},
        {&failed,
         "{\"path\": \"c.mp3\", \"bpm\": null, \"status\": \"error: file ends early (ffmpeg: End of file)\", "
         "\"confidence\": null, "
         "\"method\": \"accurate\"" + kNoFacts + "}\n"},
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
              "\"classic\", \"warning\": \"file ends early\"" + kNoFacts + "}\n");
    EXPECT_EQ(formatRecord(ReportFormat::Tsv, cut), "100\tok\tcut.flac\n");
    EXPECT_EQ(formatRecord(ReportFormat::Csv, cut), "100,ok,cut.flac\r\n");
}

// --columns: any fields of JSON Lines, in the order asked, each escaped as
// the format escapes a field; empty where JSON has null or nothing; the
// CSV header names them.
TEST(FormatRecord, GivesTheColumnsAsked) {
    ScanRecord cut = record("cut\t\"a\",b.mp3", ScanStatus::Ok, 85);
    cut.method = Method::Accurate;
    cut.confidence = 0.344;
    cut.endsEarly = true;
    cut.tempo = 85.321;
    cut.facts = {12.3456, 44100, 2, "mp3"};
    cut.tag = tagDone(TagAction::WouldWrite);
    ScanRecord none = record("n.ogg", ScanStatus::NoTempo);
    none.method = Method::Accurate;
    none.confidence = 0.05;
    none.endsEarly = true;  // no warning without a tempo, as in JSON Lines
    const ScanRecord failed = record("e.wav", ScanStatus::Error, 0, {ScanFailure::NoAudio, 0, "ffmpeg", ""});
    const std::vector<ReportColumn> all = {ReportColumn::Bpm,      ReportColumn::Status,     ReportColumn::Tag,
                                           ReportColumn::Path,     ReportColumn::Confidence, ReportColumn::Warning,
                                           ReportColumn::Method,   ReportColumn::Duration,   ReportColumn::SampleRate,
                                           ReportColumn::Channels, ReportColumn::Codec};
    const std::vector<ReportColumn> some = {ReportColumn::Confidence, ReportColumn::Bpm, ReportColumn::Warning,
                                            ReportColumn::Path};
    const struct {
        ReportFormat format;
        const ScanRecord* record;
        const std::vector<ReportColumn>* columns;
        unsigned decimals;
        std::string line;
    } cases[] = {
        {ReportFormat::Tsv, &cut, &all, 0,
         "85\tok\twould write\tcut\\t\"a\",b.mp3\t0.34\tfile ends early\taccurate\t12.346\t44100\t2\tmp3\n"},
        {ReportFormat::Csv, &cut, &all, 0,
         "85,ok,would write,\"cut\t\"\"a\"\",b.mp3\",0.34,file ends early,accurate,12.346,44100,2,mp3\r\n"},
        {ReportFormat::Tsv, &cut, &some, 1, "0.34\t85.3\tfile ends early\tcut\\t\"a\",b.mp3\n"},
        {ReportFormat::Tsv, &none, &some, 0, "0.05\t\t\tn.ogg\n"},
        {ReportFormat::Csv, &none, &some, 0, "0.05,,,n.ogg\r\n"},
        {ReportFormat::Tsv, &failed, &all, 0, "\terror: no audio\t\te.wav\t\t\tclassic\t\t\t\t\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(c.format, *c.record, *c.columns, c.decimals), c.line);
    EXPECT_EQ(reportHeader(ReportFormat::Csv, all),
              "bpm,status,tag,path,confidence,warning,method,duration,sample_rate,channels,codec\r\n");
    EXPECT_EQ(reportHeader(ReportFormat::Csv, some), "confidence,bpm,warning,path\r\n");
    EXPECT_EQ(reportHeader(ReportFormat::Tsv, some), "");
    // The default columns are the report as it has always been.
    for (const ReportFormat format : {ReportFormat::Tsv, ReportFormat::Csv, ReportFormat::Jsonl}) {
        for (const bool withTag : {false, true}) {
            EXPECT_EQ(formatRecord(format, cut, defaultColumns(withTag)), formatRecord(format, cut, withTag));
            EXPECT_EQ(reportHeader(format, defaultColumns(withTag)), reportHeader(format, withTag));
        }
    }
    // Each name reads back as its column.
    for (const ReportColumn column : all) {
        ReportColumn back = ReportColumn::Bpm;
        ASSERT_TRUE(reportColumnNamed(reportColumnName(column), back));
        EXPECT_EQ(back, column);
    }
    ReportColumn back = ReportColumn::Bpm;
    EXPECT_FALSE(reportColumnNamed("tempo", back));
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
                  "{\"path\": \"" + c.json + "\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\"" + kNoFacts + "}\n");
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
         "{\"path\": \"a.flac\", \"bpm\": 127.30, \"status\": \"ok\", \"confidence\": 0.90, \"method\": \"accurate\""
         ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null}\n"},
        {ReportFormat::Jsonl, &none, 1,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": null, \"method\": \"classic\""
         ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null}\n"},
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
    // A bar that starts on the second beat: the downbeats and the metre.
    ScanRecord waltz = ok;
    waltz.downbeats = {0.75};
    waltz.metre = 3;
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
         prefix + "120, \"status\": \"ok\", \"confidence\": 0.50, \"method\": \"accurate\", \"tag\": null"
                  ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null, \"beats\": [0.250, 0.750, 1.250], \"tempo_changes\": [{\"at\": 0.750, \"bpm\": 131}], \"downbeats\": [], \"metre\": null}\n"},
        {&waltz, 0,
         prefix + "120, \"status\": \"ok\", \"confidence\": 0.50, \"method\": \"accurate\", \"tag\": null"
                  ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null, \"beats\": [0.250, 0.750, 1.250], \"tempo_changes\": [{\"at\": 0.750, \"bpm\": 131}], \"downbeats\": [0.750], \"metre\": 3}\n"},
        {&ok, 1,
         prefix + "120.0, \"status\": \"ok\", \"confidence\": 0.50, \"method\": \"accurate\", \"tag\": null"
                  ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null, \"beats\": [0.250, 0.750, 1.250], \"tempo_changes\": [{\"at\": 0.750, \"bpm\": 131.3}], \"downbeats\": [], \"metre\": null}\n"},
        {&none, 0,
         "{\"path\": \"b.wav\", \"bpm\": null, \"status\": \"no tempo\", \"confidence\": 0.01, \"method\": "
         "\"accurate\", \"tag\": null"
         ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null, \"beats\": [], \"tempo_changes\": [], \"downbeats\": [], \"metre\": null}\n"},
        {&failed, 0,
         "{\"path\": \"c.mp3\", \"bpm\": null, \"status\": \"error: file ends early (ffmpeg: End of file)\", "
         "\"confidence\": null, \"method\": \"accurate\", \"tag\": null"
         ", \"duration\": null, \"sample_rate\": null, \"channels\": null, \"codec\": null, \"beats\": null, \"tempo_changes\": null, \"downbeats\": null, \"metre\": null}\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatRecord(ReportFormat::Jsonl, *c.record, true, c.decimals, true), c.line);
}

// TSV and CSV are valid UTF-8 whatever the name: a byte that is not part
// of valid UTF-8, and a control byte with no escape of its own, is \xHH;
// the backslash is doubled so the escapes read back (where it separates no
// folders); CSV quotes what RFC 4180 says and escapes nothing else.
TEST(FormatRecord, EscapesBytesThatAreNotUtf8InTsvAndCsv) {
    const bool windows = platform::kPathSeparator == '\\';
    const struct {
        std::string path;
        std::string tsv;
        std::string csv;
    } cases[] = {
        {"caf\xc3\xa9 \xff.mp3", "caf\xc3\xa9 \\xFF.mp3", "caf\xc3\xa9 \\xFF.mp3"},
        {"\xe2\x82\x01\x7f.wav", "\\xE2\\x82\\x01\\x7F.wav", "\\xE2\\x82\\x01\\x7F.wav"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},
        {"a\\xFF", windows ? "a\\xFF" : "a\\\\xFF", windows ? "a\\xFF" : "a\\\\xFF"},
        {"t\ta\xff,b", "t\\ta\\xFF,b", "\"t\ta\\xFF,b\""},
        {"\xf0\x9f\x8e\xb5\xe3\x83\x86", "\xf0\x9f\x8e\xb5\xe3\x83\x86", "\xf0\x9f\x8e\xb5\xe3\x83\x86"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tsv);
        const ScanRecord r = record(c.path, ScanStatus::Ok, 90);
        EXPECT_EQ(formatRecord(ReportFormat::Tsv, r), "90\tok\t" + c.tsv + "\n");
        EXPECT_EQ(formatRecord(ReportFormat::Csv, r), "90,ok," + c.csv + "\r\n");
    }
}

// JSON Lines gives what is known of the audio, each fact null on its own
// where it is not known; TSV and CSV keep their fields.
TEST(FormatRecord, GivesTheAudioFactsInJsonLines) {
    ScanRecord full = record("a.flac", ScanStatus::Ok, 120);
    full.facts = {183.2566, 44100, 6, "flac"};
    ScanRecord part = record("b.xm", ScanStatus::NoTempo);
    part.facts.seconds = 0.0;
    part.facts.sampleRate = 48000;
    const std::string start = ", \"confidence\": null, \"method\": \"classic\"";
    EXPECT_EQ(formatRecord(ReportFormat::Jsonl, full),
              "{\"path\": \"a.flac\", \"bpm\": 120, \"status\": \"ok\"" + start +
                  ", \"duration\": 183.257, \"sample_rate\": 44100, \"channels\": 6, \"codec\": \"flac\"}\n");
    EXPECT_EQ(formatRecord(ReportFormat::Jsonl, part),
              "{\"path\": \"b.xm\", \"bpm\": null, \"status\": \"no tempo\"" + start +
                  ", \"duration\": 0.000, \"sample_rate\": 48000, \"channels\": null, \"codec\": null}\n");
    EXPECT_EQ(formatRecord(ReportFormat::Tsv, full), "120\tok\ta.flac\n");
    EXPECT_EQ(formatRecord(ReportFormat::Csv, full), "120,ok,a.flac\r\n");
}

}  // namespace
}  // namespace tempo::scan
