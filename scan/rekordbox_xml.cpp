// rekordbox reads its collection file as XML 1.0 in UTF-8: every text is
// escaped, and a name that is not valid UTF-8 (a Latin-1 file name) keeps
// its valid characters with U+FFFD for each stray byte, while its Location
// keeps every byte, percent-encoded, so rekordbox finds the very file.
// Numbers are written with the C locale's point: the tool never sets
// another locale.

#include "scan/rekordbox_xml.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "input/text.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// `text` as XML character data or an attribute value.
std::string xmlText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const Utf8Char character = decodeUtf8(text, i);
            if (character.kind == Utf8Kind::Valid) {
                out.append(text, i, character.length);
                i += character.length;
            } else {
                out += kReplacement;
                ++i;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // XML 1.0 holds no control character but tab and line breaks;
                // in an attribute those would be read back as spaces.
                if (c < 0x20 || c == 0x7F) {
                    out += kReplacement;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// The first of `times` at or after `at` (with a millisecond's slack for
// the rounding of both), or `fallback` where none is.
double firstFrom(const std::vector<double>& times, double at, double fallback) {
    const auto it = std::lower_bound(times.begin(), times.end(), at - 0.001);
    return it == times.end() ? fallback : *it;
}

std::string metreText(unsigned metre) { return std::to_string(metre) + "/4"; }

std::string trackXml(const RekordboxTrack& track, std::size_t id) {
    std::string xml = "    <TRACK TrackID=\"" + std::to_string(id) + "\" Name=\"" + xmlText(track.name) +
                      "\" Location=\"" + xmlText(rekordboxLocation(track.location)) + "\" TotalTime=\"" +
                      std::to_string(static_cast<long long>(std::floor(track.seconds))) + "\" AverageBpm=\"" +
                      fixed(track.averageBpm, 2) + "\">\n";
    for (const GridSegment& segment : track.segments) {
        xml += "      <TEMPO Inizio=\"" + fixed(segment.start, 3) + "\" Bpm=\"" + fixed(segment.bpm, 2) +
               "\" Metro=\"" + metreText(segment.metre) + "\" Battito=\"1\"/>\n";
    }
    return xml + "    </TRACK>\n";
}

}  // namespace

std::vector<GridSegment> gridSegments(const ScanRecord& record) {
    std::vector<GridSegment> segments;
    if (record.status != ScanStatus::Ok) return segments;
    // The tempo changes are the analysis's own; they are reported doubled
    // or halved as the record's tempo is.
    const double scale = record.foundTempo > 0.0 ? record.tempo / record.foundTempo : 1.0;
    const unsigned metre = record.metre != 0 ? record.metre : 4;
    const std::vector<double>& bars = record.downbeats.empty() ? record.beats : record.downbeats;
    segments.push_back({bars.empty() ? 0.0 : bars.front(), record.tempo, metre});
    for (const pulse::TempoChange& change : record.tempoChanges) {
        const double start = firstFrom(bars, change.at, change.at);
        if (start <= segments.back().start) {
            segments.back().bpm = change.bpm * scale;  // two changes within one bar: the later holds
        } else {
            segments.push_back({start, change.bpm * scale, metre});
        }
    }
    return segments;
}

std::string rekordboxLocation(const std::string& absolutePath) {
    std::string path = absolutePath;
    // Windows spells a long path "\\?\C:\..." and a share "\\?\UNC\host\...".
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) {
        path = "//" + path.substr(8);
    } else if (path.compare(0, 4, "\\\\?\\") == 0) {
        path = path.substr(4);
    }
    std::string out = "file://localhost";
    if (path.empty() || std::string(platform::kPathSeparators).find(path[0]) == std::string::npos) out += '/';
    char escape[4];
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        const bool separator = std::string(platform::kPathSeparators).find(static_cast<char>(c)) != std::string::npos;
        const bool driveColon = platform::kPathSeparator == '\\' && c == ':' && i == 1;
        if (separator) {
            out += '/';
        } else if (unreserved(c) || driveColon) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            out += escape;
        }
    }
    return out;
}

std::string rekordboxCollection(const std::vector<RekordboxTrack>& tracks, const std::string& version) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DJ_PLAYLISTS Version=\"1.0.0\">\n"
                      "  <PRODUCT Name=\"tempo-scan\" Version=\"" +
                      xmlText(version) + "\" Company=\"\"/>\n  <COLLECTION Entries=\"" + std::to_string(tracks.size()) +
                      "\">\n";
    for (std::size_t i = 0; i < tracks.size(); ++i) xml += trackXml(tracks[i], i + 1);
    return xml + "  </COLLECTION>\n  <PLAYLISTS>\n    <NODE Type=\"0\" Name=\"ROOT\" Count=\"0\"/>\n  </PLAYLISTS>\n" +
           "</DJ_PLAYLISTS>\n";
}

}  // namespace tempo::scan
