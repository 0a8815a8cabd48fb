// midi_tempo FILE.mid START SECONDS [beats]: the tempo that a Standard MIDI
// File's tempo map sets over the excerpt [START, START + SECONDS), for
// labelling the accuracy corpus. Prints the tempo in BPM with three
// decimals, or "varies" followed by each tempo met when the map changes to
// a different value inside the excerpt. With "beats", prints instead the
// time of every quarter note of the map inside the excerpt, in seconds
// from START with three decimals, one a line: the beats the benchmark's
// beat F-measure is taken against. With "downbeats", prints a first line
// "# metre N/D" with the time signature in force at START ("# metre none"
// where the file has none, or where it changes inside the excerpt), then
// the time of the first beat of every bar inside the excerpt, counted from
// the file's first tick, as the beats are. Exit status 2 for a file it
// cannot read.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Reader {
    const std::vector<unsigned char>& bytes;
    std::size_t at;
    std::size_t end;
    bool ok = true;

    unsigned byte() {
        if (at >= end) {
            ok = false;
            return 0;
        }
        return bytes[at++];
    }
    std::uint32_t big(int width) {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) value = value << 8U | byte();
        return value;
    }
    std::uint32_t variable() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned b = byte();
            value = value << 7U | (b & 0x7FU);
            if ((b & 0x80U) == 0) break;
        }
        return value;
    }
    void skip(std::uint32_t count) {
        if (count > end - std::min(at, end)) ok = false;
        at = std::min<std::size_t>(end, at + count);
    }
};

// (tick, numerator and log2 of the denominator) of a time signature.
struct Signature {
    std::uint64_t tick;
    unsigned numerator;
    unsigned denominatorPower;
};

// (tick, microseconds per quarter note) of every tempo event in a track,
// and its time signatures.
bool readTrack(Reader& r, std::vector<std::pair<std::uint64_t, std::uint32_t>>& tempos,
               std::vector<Signature>& signatures) {
    std::uint64_t tick = 0;
    unsigned status = 0;
    while (r.ok && r.at < r.end) {
        tick += r.variable();
        unsigned b = r.byte();
        if (b == 0xFF) {
            const unsigned type = r.byte();
            const std::uint32_t length = r.variable();
            if (type == 0x51 && length == 3) {
                tempos.emplace_back(tick, r.big(3));
            } else if (type == 0x58 && length == 4) {
                const unsigned numerator = r.byte();
                const unsigned power = r.byte();
                r.skip(2);
                signatures.push_back({tick, numerator, power});
            } else {
                r.skip(length);
            }
            if (type == 0x2F) break;
        } else if (b == 0xF0 || b == 0xF7) {
            r.skip(r.variable());
        } else {
            if (b & 0x80U) {
                status = b;
                b = r.byte();
            } else if (status == 0) {
                return false;
            }
            const unsigned kind = status & 0xF0U;
            if (kind != 0xC0 && kind != 0xD0) r.byte();
        }
    }
    return r.ok;
}

using TempoMap = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

// The time in seconds of every quarter note (every `division` ticks) from
// `start` to `stop`, less `start`.
void printBeats(const TempoMap& tempos, unsigned division, double start, double stop) {
    std::uint32_t current = 500000;
    double seconds = 0;
    std::uint64_t tick = 0;
    std::size_t next = 0;
    for (std::uint64_t beat = 0;; beat += division) {
        // Tempo changes up to this beat's tick.
        while (next < tempos.size() && tempos[next].first <= beat) {
            seconds += static_cast<double>(tempos[next].first - tick) * current / 1e6 / division;
            tick = tempos[next].first;
            current = tempos[next].second;
            ++next;
        }
        const double at = seconds + static_cast<double>(beat - tick) * current / 1e6 / division;
        if (at >= stop) break;
        if (at >= start) std::printf("%.3f\n", at - start);
    }
}

// The time in seconds of tick `at` under the tempo map.
double secondsAt(const TempoMap& tempos, unsigned division, std::uint64_t at) {
    std::uint32_t current = 500000;
    double seconds = 0;
    std::uint64_t tick = 0;
    for (const auto& [when, tempo] : tempos) {
        if (when > at) break;
        seconds += static_cast<double>(when - tick) * current / 1e6 / division;
        tick = when;
        current = tempo;
    }
    return seconds + static_cast<double>(at - tick) * current / 1e6 / division;
}

// The time signature in force at START and the bar lines in the excerpt.
void printDownbeats(const TempoMap& tempos, std::vector<Signature> signatures, unsigned division, double start,
                    double stop) {
    std::stable_sort(signatures.begin(), signatures.end(),
                     [](const Signature& a, const Signature& b) { return a.tick < b.tick; });
    bool changes = false;
    std::size_t inForce = signatures.size();
    for (std::size_t k = 0; k < signatures.size(); ++k) {
        const double at = secondsAt(tempos, division, signatures[k].tick);
        if (at <= start) inForce = k;
        if (at > start && at < stop &&
            (inForce == signatures.size() || signatures[k].numerator != signatures[inForce].numerator ||
             signatures[k].denominatorPower != signatures[inForce].denominatorPower)) {
            changes = true;
        }
    }
    if (inForce == signatures.size() || changes) {
        std::puts("# metre none");
        return;
    }
    const Signature& s = signatures[inForce];
    std::printf("# metre %u/%u\n", s.numerator, 1U << s.denominatorPower);
    const std::uint64_t bar = static_cast<std::uint64_t>(s.numerator) * division * 4 >> s.denominatorPower;
    if (bar == 0) return;
    for (std::uint64_t tick = s.tick;; tick += bar) {
        const double at = secondsAt(tempos, division, tick);
        if (at >= stop) break;
        if (at >= start) std::printf("%.3f\n", at - start);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fputs("usage: midi_tempo FILE.mid START SECONDS [beats|downbeats]\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double start = std::atof(argv[2]);
    const double stop = start + std::atof(argv[3]);

    Reader header{bytes, 0, bytes.size()};
    if (header.big(4) != 0x4D546864 || header.big(4) < 6) return 2;
    header.big(2);  // format
    const unsigned tracks = header.big(2);
    const unsigned division = header.big(2);
    if (!header.ok || division == 0 || (division & 0x8000U) != 0) return 2;  // SMPTE time is not used here
    header.at = 14;

    std::vector<std::pair<std::uint64_t, std::uint32_t>> tempos;
    std::vector<Signature> signatures;
    for (unsigned t = 0; t < tracks && header.at + 8 <= bytes.size(); ++t) {
        const std::uint32_t id = header.big(4);
        const std::uint32_t length = header.big(4);
        Reader track{bytes, header.at, std::min<std::size_t>(bytes.size(), header.at + length)};
        if (id == 0x4D54726B && !readTrack(track, tempos, signatures)) return 2;
        header.skip(length);
    }
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    if (argc > 4 && std::string(argv[4]) == "beats") {
        printBeats(tempos, division, start, stop);
        return 0;
    }
    if (argc > 4 && std::string(argv[4]) == "downbeats") {
        printDownbeats(tempos, signatures, division, start, stop);
        return 0;
    }
    // Walk the map in seconds: the tempo in force at `start`, then every
    // change before `stop`.
    std::vector<std::uint32_t> met;
    std::uint32_t current = 500000;  // 120 BPM until the first tempo event
    double seconds = 0;
    std::uint64_t tick = 0;
    for (const auto& [at, tempo] : tempos) {
        seconds += static_cast<double>(at - tick) * current / 1e6 / division;
        tick = at;
        if (seconds >= stop) break;
        if (seconds > start && tempo != current && (met.empty() || met.back() != current)) met.push_back(current);
        current = tempo;
    }
    if (met.empty() || met.back() != current) met.push_back(current);
    if (met.size() == 1) {
        std::printf("%.3f\n", 60e6 / met[0]);
    } else {
        std::printf("varies");
        for (std::uint32_t tempo : met) std::printf(" %.3f", 60e6 / tempo);
        std::printf("\n");
    }
    return 0;
}
