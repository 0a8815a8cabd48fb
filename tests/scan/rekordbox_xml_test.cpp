#include "scan/rekordbox_xml.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tempo::scan {
namespace {

// Every byte outside the unreserved set is percent-encoded, a Latin-1
// byte and the characters a URL gives a meaning to among them; the
// separators stay.
TEST(RekordboxLocation, EncodesEveryByteButTheUnreservedOnes) {
    const struct {
        const char* path;
        const char* location;
    } cases[] = {
        {"/music/a.mp3", "file://localhost/music/a.mp3"},
        {"/music/Track #1 100%.mp3", "file://localhost/music/Track%20%231%20100%25.mp3"},
        {"/m/caf\xE9.flac", "file://localhost/m/caf%E9.flac"},
        {"/m/\xC3\xA9t\xC3\xA9 & co?.ogg", "file://localhost/m/%C3%A9t%C3%A9%20%26%20co%3F.ogg"},
        {"/m/a-b_c.d~e", "file://localhost/m/a-b_c.d~e"},
#ifdef _WIN32
        // As Windows spells a path: the drive's colon kept, the separators turned.
        {"C:\\Music\\a b.mp3", "file://localhost/C:/Music/a%20b.mp3"},
        {"\\\\?\\D:\\x.flac", "file://localhost/D:/x.flac"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(rekordboxLocation(c.path), c.location);
    }
}

ScanRecord okRecord(double tempo, std::vector<double> beats) {
    ScanRecord record;
    record.status = ScanStatus::Ok;
    record.tempo = tempo;
    record.foundTempo = tempo;
    record.beats = std::move(beats);
    return record;
}

bool sameSegments(const std::vector<GridSegment>& a, const std::vector<GridSegment>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].start != b[i].start || a[i].bpm != b[i].bpm || a[i].metre != b[i].metre) return false;
    }
    return true;
}

// Each segment starts on the first beat of a bar; the tempo changes start
// new ones, reported as the record's own tempo is.
TEST(GridSegments, StartOnTheBarsAndFollowTheChanges) {
    const std::vector<double> beats{0.25, 0.75, 1.25, 1.75, 2.25, 2.75, 3.25, 3.75, 4.25};
    ScanRecord plain = okRecord(120.0, beats);
    ScanRecord waltz = okRecord(120.0, beats);
    waltz.downbeats = {0.75, 2.25, 3.75};
    waltz.metre = 3;
    ScanRecord changing = waltz;
    changing.tempoChanges = {{2.2, 130.0}};
    ScanRecord twoInOneBar = waltz;
    twoInOneBar.tempoChanges = {{2.2, 130.0}, {2.24, 128.0}};
    ScanRecord doubled = okRecord(140.0, beats);
    doubled.foundTempo = 70.0;
    doubled.tempoChanges = {{1.2, 75.0}};
    ScanRecord noBeats = okRecord(100.0, {});
    ScanRecord failed;
    const struct {
        const char* name;
        const ScanRecord& record;
        std::vector<GridSegment> segments;
    } cases[] = {
        {"no metre: 4/4 from the first beat", plain, {{0.25, 120.0, 4}}},
        {"a waltz starting on an upbeat", waltz, {{0.75, 120.0, 3}}},
        {"a change: from the next bar", changing, {{0.75, 120.0, 3}, {2.25, 130.0, 3}}},
        {"two changes in one bar", twoInOneBar, {{0.75, 120.0, 3}, {2.25, 128.0, 3}}},
        {"doubled into the range", doubled, {{0.25, 140.0, 4}, {1.25, 150.0, 4}}},
        {"no beats", noBeats, {{0.0, 100.0, 4}}},
        {"an error", failed, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(sameSegments(gridSegments(c.record), c.segments));
    }
}

// The whole document: every text escaped, a name that is not UTF-8 kept
// readable, the count of entries, two tempo segments.
TEST(RekordboxCollection, WritesEscapedTracksWithTheirSegments) {
    RekordboxTrack first;
    first.location = "/m/Tom & \"Jerry\" <live> 'n' #1.mp3";
    first.name = "Tom & \"Jerry\" <live> 'n' #1";
    first.seconds = 181.9;
    first.averageBpm = 127.996;
    first.segments = {{0.512, 128.0, 4}, {60.25, 132.5, 3}};
    RekordboxTrack second;
    second.location = "/m/caf\xE9.wav";
    second.name = "caf\xE9\x01";
    second.seconds = 3.0;
    second.averageBpm = 90.0;
    second.segments = {{0.0, 90.0, 4}};
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<DJ_PLAYLISTS Version=\"1.0.0\">\n"
        "  <PRODUCT Name=\"tempo-scan\" Version=\"2.4.0\" Company=\"\"/>\n"
        "  <COLLECTION Entries=\"2\">\n"
        "    <TRACK TrackID=\"1\" Name=\"Tom &amp; &quot;Jerry&quot; &lt;live&gt; &apos;n&apos; #1\" "
        "Location=\"file://localhost/m/Tom%20%26%20%22Jerry%22%20%3Clive%3E%20%27n%27%20%231.mp3\" "
        "TotalTime=\"181\" AverageBpm=\"128.00\">\n"
        "      <TEMPO Inizio=\"0.512\" Bpm=\"128.00\" Metro=\"4/4\" Battito=\"1\"/>\n"
        "      <TEMPO Inizio=\"60.250\" Bpm=\"132.50\" Metro=\"3/4\" Battito=\"1\"/>\n"
        "    </TRACK>\n"
        "    <TRACK TrackID=\"2\" Name=\"caf\xEF\xBF\xBD\xEF\xBF\xBD\" Location=\"file://localhost/m/caf%E9.wav\" "
        "TotalTime=\"3\" AverageBpm=\"90.00\">\n"
        "      <TEMPO Inizio=\"0.000\" Bpm=\"90.00\" Metro=\"4/4\" Battito=\"1\"/>\n"
        "    </TRACK>\n"
        "  </COLLECTION>\n"
        "  <PLAYLISTS>\n"
        "    <NODE Type=\"0\" Name=\"ROOT\" Count=\"0\"/>\n"
        "  </PLAYLISTS>\n"
        "</DJ_PLAYLISTS>\n";
    EXPECT_EQ(rekordboxCollection({first, second}, "2.4.0"), expected);
}

}  // namespace
}  // namespace tempo::scan
