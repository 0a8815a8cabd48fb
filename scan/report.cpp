// Paths are bytes and may hold anything but NUL. TSV escapes the four
// bytes that would break its lines and columns (on Windows, where the
// backslash separates folders and no name holds a control character, the
// path is written as Windows writes it, backslashes as they are); CSV
// quotes; JSON writes valid UTF-8 as it is and each byte that is not part
// of valid UTF-8 as the lone surrogate \udcXX (XX the byte), the convention
// by which Python's os.fsencode gives back the original bytes.

#include "scan/report.hpp"

#include <cstdio>

#include "input/text.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

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

std::string bpmText(const ScanRecord& record) {
    return record.status == ScanStatus::Ok ? std::to_string(record.bpm) : std::string();
}

// Two decimals, or null where the method gives none or the file failed.
std::string confidenceText(const ScanRecord& record) {
    if (record.status == ScanStatus::Error || !record.confidence) return "null";
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", *record.confidence);
    return text;
}

std::string tsvField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += platform::kPathSeparator == '\\' ? "\\" : "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string csvField(const std::string& text) {
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

}  // namespace

std::string reportHeader(ReportFormat format, bool withTag) {
    if (format != ReportFormat::Csv) return "";
    return withTag ? "bpm,status,tag,path\r\n" : "bpm,status,path\r\n";
}

std::string formatRecord(ReportFormat format, const ScanRecord& record, bool withTag) {
    switch (format) {
        case ReportFormat::Tsv:
            return bpmText(record) + "\t" + tsvField(statusText(record)) + "\t" +
                   (withTag ? tsvField(tagOutcomeText(record.tag)) + "\t" : "") + tsvField(record.path) + "\n";
        case ReportFormat::Csv:
            return bpmText(record) + "," + csvField(statusText(record)) + "," +
                   (withTag ? csvField(tagOutcomeText(record.tag)) + "," : "") + csvField(record.path) + "\r\n";
        case ReportFormat::Jsonl:
            break;
    }
    const std::string bpm = record.status == ScanStatus::Ok ? std::to_string(record.bpm) : "null";
    std::string line = "{\"path\": " + jsonString(record.path) + ", \"bpm\": " + bpm + ", \"status\": " +
                       jsonString(statusText(record)) + ", \"confidence\": " + confidenceText(record) +
                       ", \"method\": " + (record.method == Method::Accurate ? "\"accurate\"" : "\"classic\"");
    if (record.status == ScanStatus::Ok && record.endsEarly) line += ", \"warning\": \"file ends early\"";
    if (withTag) {
        line += ", \"tag\": " +
                (record.tag.action == TagAction::None ? std::string("null") : jsonString(tagOutcomeText(record.tag)));
    }
    return line + "}\n";
}

}  // namespace tempo::scan
