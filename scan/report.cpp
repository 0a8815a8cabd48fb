// Paths are bytes and may hold anything but NUL. TSV and CSV write valid
// UTF-8 as it is, and each byte that is not part of it, and each control
// byte that has no escape of its own, as \xHH (its value in upper-case
// hex): every report is then valid UTF-8, which any reader takes. TSV
// writes a tab, newline and carriage return as \t, \n, \r; CSV quotes
// them, as RFC 4180 has it. Both double the backslash, so the escapes read
// back, but on Windows, where the backslash separates folders and no name
// holds a control character: there the path is written as Windows writes
// it. JSON writes valid UTF-8 as it is and each byte that is not part of
// valid UTF-8 as the lone surrogate \udcXX (XX the byte), the convention
// by which Python's os.fsencode gives back the original bytes.

#include "scan/report.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "input/text.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

std::string fixedText(double value, unsigned decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(decimals), value);
    return text;
}

std::string statusText(const ScanRecord& record) {
    switch (record.status) {
        case ScanStatus::Ok:
            return "ok";
        case ScanStatus::NoTempo:
            return "no tempo";
        case ScanStatus::Error:
        case ScanStatus::Interrupted:
            break;
    }
    return "error: " + scanFailureText(record.error);
}

// The tempo with `decimals` digits after the point; the whole number alone
// for none, exactly as records have always given it.
std::string bpmText(const ScanRecord& record, unsigned decimals) {
    if (record.status != ScanStatus::Ok) return std::string();
    if (decimals == 0) return std::to_string(record.bpm);
    return fixedText(record.tempo, decimals);
}

// Two decimals, or null where the method gives none or the file failed.
std::string confidenceText(const ScanRecord& record) {
    if (record.status == ScanStatus::Error || !record.confidence) return "null";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", *record.confidence);
    return text;
}

// `text` with each byte that is not part of valid UTF-8 as \xHH, a
// backslash doubled where it separates no folders, and the control bytes
// that `keep` does not name: those with a letter as \t, \n, \r, the rest
// as \xHH.
std::string escapedText(const std::string& text, const char* keep) {
    std::string out;
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const Utf8Char character = decodeUtf8(text, i);
        if (c >= 0x80 && character.kind == Utf8Kind::Valid) {
            out.append(text, i, character.length);
            i += character.length;
            continue;
        }
        ++i;
        const bool control = c < 0x20 || c == 0x7F;
        if (c == '\\') {
            out += platform::kPathSeparator == '\\' ? "\\" : "\\\\";
        } else if (control && c != 0 && std::strchr(keep, c) != nullptr) {
            out += static_cast<char>(c);
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        } else if (control || c >= 0x80) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string tsvField(const std::string& text) { return escapedText(text, ""); }

// Tabs and line breaks stay: the quotes hold them.
std::string csvField(const std::string& raw) {
    const std::string text = escapedText(raw, "\t\r\n");
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c < 0x20 || c == 0x7F) {
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const Utf8Char character = decodeUtf8(text, i);
        if (character.kind == Utf8Kind::Valid) {
            out.append(text, i, character.length);
            i += character.length;
        } else {
            std::snprintf(escape, sizeof escape, "\\udc%02x", c);
            out += escape;
            ++i;
        }
    }
    return out + "\"";
}

// Seconds with three decimals, as a JSON list.
std::string secondsList(const std::vector<double>& times) {
    std::string text = "[";
    for (std::size_t i = 0; i < times.size(); ++i) text += (i > 0 ? ", " : "") + fixedText(times[i], 3);
    return text + "]";
}

// ", \"beats\": [...], \"tempo_changes\": [...], \"downbeats\": [...],
// \"metre\": N": seconds with three decimals, tempos as the bpm field gives
// them, the metre null where no bar stands out.
std::string beatsText(const ScanRecord& record, unsigned decimals) {
    if (record.status == ScanStatus::Error) {
        return ", \"beats\": null, \"tempo_changes\": null, \"downbeats\": null, \"metre\": null";
    }
    std::string text = ", \"beats\": " + secondsList(record.beats) + ", \"tempo_changes\": [";
    for (std::size_t i = 0; i < record.tempoChanges.size(); ++i) {
        const pulse::TempoChange& change = record.tempoChanges[i];
        text += (i > 0 ? ", " : "") + std::string("{\"at\": ") + fixedText(change.at, 3) +
                ", \"bpm\": " + fixedText(change.bpm, decimals) + "}";
    }
    return text + "], \"downbeats\": " + secondsList(record.downbeats) +
           ", \"metre\": " + (record.metre == 0 ? std::string("null") : std::to_string(record.metre));
}

// The audio's facts, each null where not known: the length in seconds
// (three decimals), the sample rate, the channels and the codec.
std::string factsText(const AudioFacts& facts) {
    char seconds[32] = "null";
    if (facts.seconds) std::snprintf(seconds, sizeof seconds, "%.3f", *facts.seconds);
    const auto number = [](unsigned value) { return value == 0 ? std::string("null") : std::to_string(value); };
    return std::string(", \"duration\": ") + seconds + ", \"sample_rate\": " + number(facts.sampleRate) +
           ", \"channels\": " + number(facts.channels) +
           ", \"codec\": " + (facts.codec.empty() ? std::string("null") : jsonString(facts.codec));
}

// A column's text, before the format's escapes.
std::string columnText(ReportColumn column, const ScanRecord& record, unsigned decimals) {
    const auto number = [](unsigned value) { return value == 0 ? std::string() : std::to_string(value); };
    switch (column) {
        case ReportColumn::Bpm: return bpmText(record, decimals);
        case ReportColumn::Status: return statusText(record);
        case ReportColumn::Tag: return tagOutcomeText(record.tag);
        case ReportColumn::Path: return record.path;
        case ReportColumn::Confidence: {
            const std::string text = confidenceText(record);
            return text == "null" ? std::string() : text;
        }
        case ReportColumn::Warning:
            return record.status == ScanStatus::Ok && record.endsEarly ? "file ends early" : std::string();
        case ReportColumn::Method: return record.method == Method::Accurate ? "accurate" : "classic";
        case ReportColumn::Duration:
            return record.facts.seconds ? fixedText(*record.facts.seconds, 3) : std::string();
        case ReportColumn::SampleRate: return number(record.facts.sampleRate);
        case ReportColumn::Channels: return number(record.facts.channels);
        case ReportColumn::Codec: return record.facts.codec;
    }
    return std::string();
}

bool hasColumn(const std::vector<ReportColumn>& columns, ReportColumn column) {
    return std::find(columns.begin(), columns.end(), column) != columns.end();
}

}  // namespace

const char* reportColumnName(ReportColumn column) {
    switch (column) {
        case ReportColumn::Bpm: return "bpm";
        case ReportColumn::Status: return "status";
        case ReportColumn::Tag: return "tag";
        case ReportColumn::Path: return "path";
        case ReportColumn::Confidence: return "confidence";
        case ReportColumn::Warning: return "warning";
        case ReportColumn::Method: return "method";
        case ReportColumn::Duration: return "duration";
        case ReportColumn::SampleRate: return "sample_rate";
        case ReportColumn::Channels: return "channels";
        case ReportColumn::Codec: return "codec";
    }
    return nullptr;
}

bool reportColumnNamed(const std::string& name, ReportColumn& column) {
    // The enum's values run from 0 without a gap; the switch above ends them.
    for (int value = 0; reportColumnName(static_cast<ReportColumn>(value)) != nullptr; ++value) {
        if (name == reportColumnName(static_cast<ReportColumn>(value))) {
            column = static_cast<ReportColumn>(value);
            return true;
        }
    }
    return false;
}

bool columnsDescribe(const std::vector<ReportColumn>& columns) {
    return hasColumn(columns, ReportColumn::Channels) || hasColumn(columns, ReportColumn::Codec);
}

std::vector<ReportColumn> defaultColumns(bool withTag) {
    if (withTag) return {ReportColumn::Bpm, ReportColumn::Status, ReportColumn::Tag, ReportColumn::Path};
    return {ReportColumn::Bpm, ReportColumn::Status, ReportColumn::Path};
}

std::string reportHeader(ReportFormat format, const std::vector<ReportColumn>& columns) {
    if (format != ReportFormat::Csv) return "";
    std::string header;
    for (const ReportColumn column : columns) header += (header.empty() ? "" : ",") + std::string(reportColumnName(column));
    return header + "\r\n";
}

std::string reportHeader(ReportFormat format, bool withTag) { return reportHeader(format, defaultColumns(withTag)); }

std::string formatRecord(ReportFormat format, const ScanRecord& record, bool withTag, unsigned decimals,
                         bool withBeats) {
    return formatRecord(format, record, defaultColumns(withTag), decimals, withBeats);
}

std::string formatRecord(ReportFormat format, const ScanRecord& record, const std::vector<ReportColumn>& columns,
                         unsigned decimals, bool withBeats) {
    const bool csv = format == ReportFormat::Csv;
    if (format == ReportFormat::RekordboxXml) return std::string();
    if (format != ReportFormat::Jsonl) {
        std::string line;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::string text = columnText(columns[i], record, decimals);
            line += (i == 0 ? "" : csv ? "," : "\t") + (csv ? csvField(text) : tsvField(text));
        }
        return line + (csv ? "\r\n" : "\n");
    }
    const bool withTag = hasColumn(columns, ReportColumn::Tag);
    const std::string bpm = record.status == ScanStatus::Ok ? bpmText(record, decimals) : "null";
    std::string line = "{\"path\": " + jsonString(record.path) + ", \"bpm\": " + bpm + ", \"status\": " +
                       jsonString(statusText(record)) + ", \"confidence\": " + confidenceText(record) +
                       ", \"method\": " + (record.method == Method::Accurate ? "\"accurate\"" : "\"classic\"");
    if (record.status == ScanStatus::Ok && record.endsEarly) line += ", \"warning\": \"file ends early\"";
    if (withTag) {
        line += ", \"tag\": " +
                (record.tag.action == TagAction::None ? std::string("null") : jsonString(tagOutcomeText(record.tag)));
    }
    line += factsText(record.facts);
    if (withBeats) line += beatsText(record, decimals);
    return line + "}\n";
}

}  // namespace tempo::scan
