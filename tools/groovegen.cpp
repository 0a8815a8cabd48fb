// groovegen: writes a groove with known beats, for tuning and measuring the
// accurate analysis on music the project makes itself.
//
//   groovegen SEED SECONDS OUTPUT_PREFIX [--metre 2/4|3/4|4/4|6/8]
//             [--upbeat BEATS] [--whole] [--machine] [--tempos BPM,BPM,...]
//             [--style NAME]
//
// The seed chooses the style (seed modulo the number of styles), the tempo
// within the style's range, the key, the chords and the small deviations of
// a player's timing and loudness. Writes OUTPUT_PREFIX.mid, a Standard MIDI
// File (drums, bass, piano, guitar, strings in General MIDI) to render with
// fluidsynth, and OUTPUT_PREFIX.beats, the time of every beat in seconds
// (three decimals, one a line) as the file's tempo map places it. Prints
// "STYLE TEMPO": the steady tempo in BPM with three decimals, or
// "STYLE varies FROM TO" where the tempo ramps or changes. The beat is
// the one a listener taps: the quarter note in 4/4 and 3/4, the dotted
// quarter in 6/8, the backbeat's quarter note under a half-time feel.
// Also writes OUTPUT_PREFIX.downbeats, the time of the first beat of every
// bar (a subset of the beats), and prints the beats of a bar as a third
// field ("rock 86.326 4"; the fourth under a varying tempo).
//
// The options make the material that bars, metres and whole-number tempos
// are measured on; without them a seed gives the very groove it always did.
// --metre takes the style from those in that metre alone (the steady ones,
// with a few that only this option reaches: a march and a polka in 2/4, a
// country waltz and a jazz waltz in 3/4, a slow 6/8 ballad). --upbeat
// starts the piece BEATS beats before its first bar line (a pickup: the
// first downbeat is not the first beat; 0 to one less than a bar).
// --whole rounds the tempo to a whole number of BPM, as a sequencer sets
// it. --machine plays every note exactly on its step at one loudness per
// mark, as a drum machine or sequencer does. --tempos plays the piece in
// as many equal stretches as tempos are given, at each in turn, moving from
// one to the next over a bar (a band speeding up and slowing down again);
// it prints "STYLE varies BPM BPM ... BEATS". --style plays the style of
// that name (any of the lists, and three built on the 3+3+2 figure that
// only it reaches: dembow, tresillo-pop, habanera), the seed choosing the
// rest as before.

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kTicksPerBeat = 480;
constexpr int kDrums = 9;  // the General MIDI percussion channel

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525U + 1013904223U;
        return state >> 8U;
    }
    // Uniform in [lo, hi).
    double between(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next()) / 16777216.0; }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

// One part: what it plays on each step of a bar. Drums: 'X' accent, 'x'
// normal, 'o' ghost note. Pitched parts: 'r' the chord's root (low), 'f'
// its fifth (low), 'c' the whole chord, 'a' the next note of an arpeggio.
struct Part {
    int channel;
    int program;  // instrument, or the drum's note on the percussion channel
    const char* steps;
    int length;  // steps each note lasts
};

enum class TempoShape { Steady, Rubato, Ramp, TwoTempos };

struct Style {
    const char* name;
    int beatsPerBar;
    int stepsPerBeat;
    double slowest;
    double fastest;
    TempoShape shape;
    std::vector<Part> parts;
};

// Kick 36, snare 38, side stick 37, clap 39, closed hi-hat 42, pedal hi-hat
// 44, open hi-hat 46, ride 51, tambourine 54, shaker 70. Bass 33, piano 0,
// organ 16, clean guitar 27, strings 48, nylon guitar 24, vibraphone 11.
const std::vector<Style>& styles() {
    static const std::vector<Style> kStyles = {
        {"rock", 4, 2, 85, 150, TempoShape::Steady,
         {{kDrums, 36, "X...X.x.", 1}, {kDrums, 38, "..X...X.", 1}, {kDrums, 42, "xxxxxxxx", 1},
          {1, 33, "rrrrrrrr", 1}, {2, 27, "c...c...", 3}}},
        {"dance", 4, 4, 115, 132, TempoShape::Steady,
         {{kDrums, 36, "X...X...X...X...", 1}, {kDrums, 39, "....X.......X...", 1},
          {kDrums, 46, "..x...x...x...x.", 1}, {kDrums, 42, "x.x.x.x.x.x.x.x.", 1},
          {1, 33, "..r...r...r...r.", 2}, {3, 48, "c...............", 16}}},
        {"swing", 4, 3, 110, 210, TempoShape::Steady,
         {{kDrums, 51, "X.xX.xX.xX.x", 1}, {kDrums, 44, "...x.....x..", 1}, {kDrums, 36, "o.....o.....", 1},
          {1, 33, "r..f..r..a..", 3}, {2, 0, "...c.....c..", 2}}},
        {"shuffle", 4, 3, 70, 120, TempoShape::Steady,
         {{kDrums, 36, "X.....x.....", 1}, {kDrums, 38, "...X.....X..", 1}, {kDrums, 42, "x.xx.xx.xx.x", 1},
          {1, 33, "r.rf.fr.ra.a", 1}, {2, 0, "c..c..c..c..", 2}}},
        {"half-time", 4, 4, 60, 85, TempoShape::Steady,
         {{kDrums, 36, "X.....x.X.......", 1}, {kDrums, 38, "....X.......X...", 1},
          {kDrums, 42, "xoxoxoxoxoxoxoxo", 1}, {1, 33, "r.r...r.r.r...r.", 2}, {3, 48, "c.......c.......", 8}}},
        {"six-eight", 2, 3, 50, 80, TempoShape::Steady,
         {{kDrums, 36, "X.....", 1}, {kDrums, 38, "...X..", 1}, {kDrums, 42, "xxxxxx", 1},
          {1, 33, "r..f..", 3}, {2, 0, "aaaaaa", 1}}},
        {"waltz", 3, 2, 90, 170, TempoShape::Steady,
         {{1, 33, "r.....", 2}, {2, 0, "..c.c.", 1}, {3, 48, "c.....", 6}}},
        {"reggae", 4, 2, 65, 85, TempoShape::Steady,
         {{kDrums, 36, "....X...", 1}, {kDrums, 37, "....X...", 1}, {kDrums, 42, "xxxxxxxx", 1},
          {1, 33, "r..r.f..", 1}, {2, 27, ".c.c.c.c", 1}, {3, 16, ".c.c.c.c", 1}}},
        {"ballad", 4, 2, 60, 88, TempoShape::Steady,
         {{1, 33, "r...f...", 4}, {2, 0, "aaaaaaaa", 1}, {3, 48, "c.......", 8}}},
        {"funk", 4, 4, 90, 112, TempoShape::Steady,
         {{kDrums, 36, "X..x..X...X..x..", 1}, {kDrums, 38, "....X..o.o..X..o", 1},
          {kDrums, 42, "xxxxxxxxxxxxxxxx", 1}, {1, 33, "r..r..r.r.....r.", 1}, {2, 27, "..c...c...c...c.", 1}}},
        {"fast-rock", 4, 2, 160, 200, TempoShape::Steady,
         {{kDrums, 36, "X...X...", 1}, {kDrums, 38, "..X...X.", 1}, {kDrums, 42, "xxxxxxxx", 1},
          {1, 33, "rrrrrrrr", 1}, {2, 27, "cccccccc", 1}}},
        {"drum-and-bass", 4, 4, 165, 178, TempoShape::Steady,
         {{kDrums, 36, "X.........X.....", 1}, {kDrums, 38, "....X.......X...", 1},
          {kDrums, 42, "x.x.x.x.x.x.x.x.", 1}, {1, 33, "r.......r.......", 6}, {3, 48, "c...............", 16}}},
        {"latin", 4, 4, 120, 145, TempoShape::Steady,
         {{kDrums, 37, "X..X..X...X.X...", 1}, {kDrums, 70, "xxxxxxxxxxxxxxxx", 1}, {kDrums, 36, "X..x....X..x....", 1},
          {1, 33, "r..f....r..f....", 3}, {2, 24, "c..c..c...c..c..", 2}}},
        {"rubato", 4, 2, 66, 96, TempoShape::Rubato,
         {{1, 33, "r...f...", 4}, {2, 0, "aaaaaaaa", 1}, {3, 11, "c.......", 8}}},
        {"ramp", 4, 2, 95, 135, TempoShape::Ramp,
         {{kDrums, 36, "X...X.x.", 1}, {kDrums, 38, "..X...X.", 1}, {kDrums, 42, "xxxxxxxx", 1},
          {1, 33, "rrrrrrrr", 1}, {2, 27, "c...c...", 3}}},
        {"two-tempos", 4, 4, 100, 135, TempoShape::TwoTempos,
         {{kDrums, 36, "X...X...X...X...", 1}, {kDrums, 39, "....X.......X...", 1},
          {kDrums, 42, "x.x.x.x.x.x.x.x.", 1}, {1, 33, "..r...r...r...r.", 2}, {3, 48, "c...............", 16}}},
    };
    return kStyles;
}

// Styles that only --metre reaches, so that the seeds of the list above keep
// their grooves: kick on the bar's first beat and bass on the beats carry
// the bar in 2/4; the waltzes' low note on one and chords on two and three;
// the 6/8 ballad strums every eighth (an arpeggio of four notes would
// recur every four eighths, across its bars of six).
const std::vector<Style>& extraStyles() {
    static const std::vector<Style> kExtra = {
        {"march", 2, 2, 96, 132, TempoShape::Steady,
         {{kDrums, 36, "X...", 1}, {kDrums, 38, "..X.", 1}, {kDrums, 42, "xxxx", 1},
          {1, 33, "r.f.", 2}, {2, 0, ".c.c", 1}}},
        {"polka", 2, 2, 100, 140, TempoShape::Steady,
         {{kDrums, 36, "X...", 1}, {kDrums, 38, ".x.x", 1}, {1, 33, "r.f.", 2}, {2, 0, ".c.c", 1}, {3, 48, "c...", 4}}},
        {"country-waltz", 3, 2, 84, 150, TempoShape::Steady,
         {{kDrums, 36, "X.....", 1}, {kDrums, 38, "..x.x.", 1}, {kDrums, 42, "xxxxxx", 1},
          {1, 33, "r...f.", 2}, {2, 27, "..c.c.", 1}}},
        {"jazz-waltz", 3, 3, 110, 180, TempoShape::Steady,
         {{kDrums, 51, "X.xx.xx.x", 1}, {kDrums, 44, "...x..x..", 1}, {kDrums, 36, "o........", 1},
          {1, 33, "r..f..a..", 3}, {2, 0, "...c.....", 2}}},
        {"six-eight-ballad", 2, 3, 44, 66, TempoShape::Steady,
         {{kDrums, 36, "X.....", 1}, {kDrums, 37, "...x..", 1}, {kDrums, 42, "xxxxxx", 1},
          {1, 33, "r.....", 6}, {2, 24, "cccccc", 1}, {3, 48, "c.....", 6}}},
    };
    return kExtra;
}

// Styles that only --style reaches, built on the 3+3+2 figure (the
// tresillo): its strokes three steps apart recur more strongly than the
// beat, so that a piece's strongest period is 3/4 of its beat (the figure
// in sixteenths) or 3/2 of it (in eighths), the tuning material for the
// metrical levels at those ratios: a reggaeton dembow (snare on the
// figure over a four-on-the-floor kick), a pop groove whose kick, bass and
// piano play the figure in sixteenths under a backbeat, and a habanera,
// the figure in eighths over the bar.
const std::vector<Style>& figureStyles() {
    static const std::vector<Style> kFigures = {
        {"dembow", 4, 4, 85, 105, TempoShape::Steady,
         {{kDrums, 36, "X...X...X...X...", 1}, {kDrums, 38, "...X..X....X..X.", 1},
          {kDrums, 42, "x.x.x.x.x.x.x.x.", 1}, {1, 33, "r..r..r.r..r..r.", 2}, {3, 48, "c.......c.......", 8}}},
        {"tresillo-pop", 4, 4, 95, 140, TempoShape::Steady,
         {{kDrums, 36, "X..X..X.X..X..X.", 1}, {kDrums, 38, "....X.......X...", 1},
          {kDrums, 42, "xxxxxxxxxxxxxxxx", 1}, {1, 33, "r..r..r.r..r..r.", 2}, {2, 0, "c..c..c.c..c..c.", 2}}},
        {"habanera", 4, 2, 70, 110, TempoShape::Steady,
         {{kDrums, 36, "X..X..X.", 1}, {kDrums, 37, "..X...X.", 1}, {kDrums, 70, "xxxxxxxx", 1},
          {1, 33, "r..f..r.", 2}, {2, 24, "c..c..c.", 2}}},
    };
    return kFigures;
}

// The style named `name` in any of the lists; nullptr where none is.
const Style* styleNamed(const std::string& name) {
    for (const std::vector<Style>* list : {&styles(), &extraStyles(), &figureStyles()}) {
        for (const Style& style : *list) {
            if (name == style.name) return &style;
        }
    }
    return nullptr;
}

// The metre a style is in, as --metre names it.
const char* metreOf(const Style& style) {
    if (style.beatsPerBar == 2) return style.stepsPerBeat == 3 ? "6/8" : "2/4";
    return style.beatsPerBar == 3 ? "3/4" : "4/4";
}

// The seed's style among the steady styles of `metre`, both lists in order.
const Style* styleInMetre(const std::string& metre, std::uint32_t seed) {
    std::vector<const Style*> matching;
    for (const std::vector<Style>* list : {&styles(), &extraStyles()}) {
        for (const Style& style : *list) {
            if (style.shape == TempoShape::Steady && metre == metreOf(style)) matching.push_back(&style);
        }
    }
    return matching.empty() ? nullptr : matching[seed % matching.size()];
}

struct Event {
    long tick;
    int order;  // at one tick: tempo first, then note-offs, then note-ons
    std::vector<unsigned char> bytes;
};

void putVariable(std::vector<unsigned char>& out, std::uint32_t value) {
    unsigned char groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<unsigned char>(value & 0x7FU);
        value >>= 7U;
    } while (value > 0);
    while (count-- > 0) out.push_back(static_cast<unsigned char>(groups[count] | (count > 0 ? 0x80U : 0U)));
}

void putBig(std::vector<unsigned char>& out, std::uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The tempo of each beat, in BPM.
std::vector<double> tempoOfBeats(const Style& style, double bpm, double other, int beats, Random& random) {
    std::vector<double> tempos(static_cast<std::size_t>(beats), bpm);
    for (int b = 0; b < beats; ++b) {
        const double share = beats > 1 ? static_cast<double>(b) / (beats - 1) : 0.0;
        if (style.shape == TempoShape::Ramp) tempos[static_cast<std::size_t>(b)] = bpm + (other - bpm) * share;
        if (style.shape == TempoShape::TwoTempos && share >= 0.5) tempos[static_cast<std::size_t>(b)] = other;
        if (style.shape == TempoShape::Rubato) {
            // A slow swell and ebb over eight bars (a triangle), and a little
            // unrest from beat to beat: up to 6 % and 1.5 %.
            const int phase = b % 32;
            const double wave = (phase < 16 ? phase : 32 - phase) / 8.0 - 1.0;
            tempos[static_cast<std::size_t>(b)] = bpm * (1.0 + 0.06 * wave + random.between(-0.015, 0.015));
        }
    }
    return tempos;
}

// Chords, one a bar: a root (MIDI note of the bass) and whether it is minor.
struct Chord {
    int root;
    bool minor;
};

std::vector<Chord> progression(Random& random) {
    static const int kDegrees[4][4] = {{0, 7, 9, 5}, {0, 5, 7, 0}, {9, 5, 0, 7}, {2, 7, 0, 0}};
    const int key = 36 + random.below(12);
    const int* degrees = kDegrees[random.below(4)];
    std::vector<Chord> chords;
    for (int i = 0; i < 4; ++i) chords.push_back({key + degrees[i], degrees[i] == 9 || degrees[i] == 2});
    return chords;
}

void addNote(std::vector<Event>& events, int channel, int note, int velocity, long on, long off) {
    events.push_back({on, 2, {static_cast<unsigned char>(0x90 | channel), static_cast<unsigned char>(note),
                              static_cast<unsigned char>(velocity)}});
    events.push_back({off, 1, {static_cast<unsigned char>(0x80 | channel), static_cast<unsigned char>(note), 0}});
}

// How the parts are played: the ticks of the first bar left out (a pickup
// starts later in it), and whether on the grid exactly.
struct Playing {
    long skipTicks = 0;
    bool machine = false;
};

// The notes of every part over `bars` bars.
void addParts(std::vector<Event>& events, const Style& style, int bars, Random& random, const Playing& playing) {
    const std::vector<Chord> chords = progression(random);
    const int stepTicks = kTicksPerBeat / style.stepsPerBeat;
    const int barSteps = style.beatsPerBar * style.stepsPerBeat;
    for (const Part& part : style.parts) {
        if (part.channel != kDrums) {
            events.push_back({0, 0, {static_cast<unsigned char>(0xC0 | part.channel),
                                     static_cast<unsigned char>(part.program)}});
        }
        int arpeggio = 0;
        for (int bar = 0; bar < bars; ++bar) {
            const Chord chord = chords[static_cast<std::size_t>(bar % 4)];
            const int third = chord.root + 24 + (chord.minor ? 3 : 4);
            const int tones[4] = {chord.root + 24, third, chord.root + 31, chord.root + 36};
            for (int step = 0; step < barSteps; ++step) {
                const char mark = part.steps[step];
                if (mark == '.') continue;
                // A player is never exactly on the grid: up to 8 ms either
                // way at 120 BPM, and a little louder or softer each time.
                const long nominal = static_cast<long>(bar * barSteps + step) * stepTicks - playing.skipTicks;
                const int early = random.below(17) - 8;
                const int louder = random.below(13) - 6;
                if (nominal < 0) continue;
                const long on = nominal + (playing.machine ? 0 : early);
                const long off = on + static_cast<long>(part.length * stepTicks) - 10;
                int velocity = (mark == 'X' ? 112 : mark == 'o' ? 48 : 88) + (playing.machine ? 0 : louder);
                if (part.channel == kDrums) {
                    addNote(events, kDrums, part.program, velocity, on < 0 ? 0 : on, off);
                } else if (mark == 'r' || mark == 'f') {
                    addNote(events, part.channel, chord.root + (mark == 'f' ? 7 : 0), velocity, on < 0 ? 0 : on, off);
                } else if (mark == 'a') {
                    addNote(events, part.channel, tones[arpeggio++ % 4], velocity - 10, on < 0 ? 0 : on, off);
                } else {
                    for (int k = 0; k < 3; ++k) addNote(events, part.channel, tones[k], velocity - 14, on < 0 ? 0 : on, off);
                }
            }
        }
    }
}

bool writeAll(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<unsigned char> midiFile(std::vector<Event>& events) {
    // A stable insertion sort keeps the order of events made at one tick.
    for (std::size_t i = 1; i < events.size(); ++i) {
        for (std::size_t j = i; j > 0; --j) {
            const Event& a = events[j - 1];
            const Event& b = events[j];
            if (a.tick < b.tick || (a.tick == b.tick && a.order <= b.order)) break;
            std::swap(events[j - 1], events[j]);
        }
    }
    std::vector<unsigned char> track;
    long tick = 0;
    for (const Event& event : events) {
        putVariable(track, static_cast<std::uint32_t>(event.tick - tick));
        tick = event.tick;
        track.insert(track.end(), event.bytes.begin(), event.bytes.end());
    }
    const unsigned char end[] = {0x00, 0xFF, 0x2F, 0x00};
    track.insert(track.end(), end, end + 4);
    std::vector<unsigned char> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    putBig(out, kTicksPerBeat, 2);
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBig(out, static_cast<std::uint32_t>(track.size()), 4);
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

struct BeatTimes {
    std::string text;  // one time a line, seconds with three decimals
    std::string downbeats;  // the same for the first beat of each bar
    double last = 0.0;
    int count = 0;
};

// A tempo event wherever the tempo changes, at the beat where it does, and
// the time of every beat before `seconds`.
// `firstBar` is the beat on which the first bar starts, `beatsPerBar` its
// length.
BeatTimes addTempoMap(std::vector<Event>& events, const std::vector<double>& tempos, double seconds, int firstBar,
                      int beatsPerBar) {
    BeatTimes beats;
    double at = 0.0;
    std::uint32_t previous = 0;
    for (std::size_t b = 0; b < tempos.size() && at < seconds; ++b) {
        const auto micros = static_cast<std::uint32_t>(60e6 / tempos[b] + 0.5);
        if (micros != previous) {
            std::vector<unsigned char> meta = {0xFF, 0x51, 0x03};
            putBig(meta, micros, 3);
            events.push_back({static_cast<long>(b) * kTicksPerBeat, 0, meta});
            previous = micros;
        }
        char line[32];
        std::snprintf(line, sizeof line, "%.3f\n", at);
        beats.text += line;
        if ((static_cast<int>(b) - firstBar) % beatsPerBar == 0) beats.downbeats += line;
        beats.last = at;
        ++beats.count;
        at += static_cast<double>(micros) / 1e6;
    }
    return beats;
}

// What the options ask for.
struct Options {
    std::string metre;  // empty: the style the seed gives among all
    std::string style;  // --style: this style whatever the seed
    int upbeat = 0;
    bool whole = false;
    bool machine = false;
    std::vector<double> tempos;  // --tempos, in order; empty: the style's shape
};

// The tempos of a comma-separated list; false for anything else.
bool parseTempos(const std::string& list, std::vector<double>& tempos) {
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const double bpm = std::atof(list.substr(at, comma - at).c_str());
        if (!(bpm >= 20.0 && bpm <= 400.0)) return false;
        tempos.push_back(bpm);
        at = comma + 1;
    }
    return !tempos.empty();
}

// The tempo of each beat over `seconds` for --tempos: equal stretches of
// time at each, the change spread over `bar` beats.
std::vector<double> temposThrough(const std::vector<double>& path, double seconds, int bar, int beats) {
    std::vector<double> tempos;
    double at = 0.0;
    std::size_t part = 0;
    int since = bar;  // beats since the last change began
    for (int b = 0; b < beats; ++b) {
        const auto reached = std::min(path.size() - 1, static_cast<std::size_t>(at / seconds * static_cast<double>(path.size())));
        if (reached != part) {
            part = reached;
            since = 0;
        }
        const double from = part > 0 ? path[part - 1] : path[0];
        const double share = since < bar ? static_cast<double>(since + 1) / bar : 1.0;
        tempos.push_back(from + (path[part] - from) * share);
        ++since;
        at += 60.0 / tempos.back();
    }
    return tempos;
}

bool parseOptions(int argc, char* argv[], Options& options) {
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--metre" && i + 1 < argc) {
            options.metre = argv[++i];
        } else if (arg == "--style" && i + 1 < argc) {
            options.style = argv[++i];
        } else if (arg == "--upbeat" && i + 1 < argc) {
            options.upbeat = std::atoi(argv[++i]);
        } else if (arg == "--whole") {
            options.whole = true;
        } else if (arg == "--machine") {
            options.machine = true;
        } else if (arg == "--tempos" && i + 1 < argc) {
            if (!parseTempos(argv[++i], options.tempos)) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (argc < 4 || !parseOptions(argc, argv, options)) {
        std::fputs("usage: groovegen SEED SECONDS OUTPUT_PREFIX [--metre 2/4|3/4|4/4|6/8] [--upbeat BEATS] [--whole] "
                   "[--machine] [--tempos BPM,BPM,...] [--style NAME]\n",
                   stderr);
        return 2;
    }
    const auto seed = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const double seconds = std::atof(argv[2]);
    if (!(seconds > 0.0) || seconds > 3600.0) {
        std::fputs("groovegen: SECONDS must lie between 0 and 3600\n", stderr);
        return 2;
    }
    const Style* chosen = options.metre.empty() ? &styles()[seed % styles().size()] : styleInMetre(options.metre, seed);
    if (!options.style.empty()) chosen = styleNamed(options.style);
    if (chosen == nullptr) {
        std::fputs(options.style.empty() ? "groovegen: --metre is one of 2/4, 3/4, 4/4 and 6/8\n"
                                         : "groovegen: no style of that name\n",
                   stderr);
        return 2;
    }
    const Style& style = *chosen;
    if (options.upbeat < 0 || options.upbeat >= style.beatsPerBar) {
        std::fprintf(stderr, "groovegen: --upbeat lies from 0 to %d for a %s style\n", style.beatsPerBar - 1,
                     metreOf(style));
        return 2;
    }
    Random random{seed * 2654435761U + 12345U};
    double bpm = random.between(style.slowest, style.fastest);
    // A ramp or a second tempo 20 to 30 % away, up or down.
    double other = bpm * random.between(1.2, 1.3);
    if (random.below(2) == 1) other = bpm / random.between(1.2, 1.3);
    if (options.whole) {
        other *= static_cast<double>(static_cast<long>(bpm + 0.5)) / bpm;
        bpm = static_cast<double>(static_cast<long>(bpm + 0.5));
    }

    // Whole bars until SECONDS at the slowest tempo the piece reaches, and
    // one more where a pickup leaves out the start of the first.
    const double slowest = style.shape == TempoShape::Steady || style.shape == TempoShape::Rubato
                               ? bpm * 0.9
                               : (other < bpm ? other : bpm);
    int bars = static_cast<int>(seconds * slowest / 60.0 / style.beatsPerBar) + 1 + (options.upbeat > 0 ? 1 : 0);
    std::vector<double> tempos = tempoOfBeats(style, bpm, other, bars * style.beatsPerBar, random);
    if (!options.tempos.empty()) {
        double slowestGiven = options.tempos[0];
        for (double given : options.tempos) slowestGiven = std::min(slowestGiven, given);
        const int enough = static_cast<int>(seconds * slowestGiven / 60.0) + 2 * style.beatsPerBar;
        tempos = temposThrough(options.tempos, seconds, style.beatsPerBar, enough);
        bars = enough / style.beatsPerBar + 1;
    }

    std::vector<Event> events;
    const BeatTimes beats = addTempoMap(events, tempos, seconds, options.upbeat, style.beatsPerBar);
    const Playing playing{options.upbeat > 0 ? static_cast<long>(style.beatsPerBar - options.upbeat) * kTicksPerBeat : 0,
                          options.machine};
    addParts(events, style, bars, random, playing);

    const std::string prefix = argv[3];
    if (!writeAll(prefix + ".mid", midiFile(events)) ||
        !writeAll(prefix + ".beats", std::vector<unsigned char>(beats.text.begin(), beats.text.end())) ||
        !writeAll(prefix + ".downbeats", std::vector<unsigned char>(beats.downbeats.begin(), beats.downbeats.end()))) {
        std::fprintf(stderr, "groovegen: cannot write %s.mid, .beats or .downbeats\n", argv[3]);
        return 1;
    }
    if (!options.tempos.empty()) {
        std::printf("%s varies", style.name);
        for (double given : options.tempos) std::printf(" %.3f", given);
        std::printf(" %d\n", style.beatsPerBar);
    } else if (style.shape == TempoShape::Ramp || style.shape == TempoShape::TwoTempos) {
        std::printf("%s varies %.3f %.3f %d\n", style.name, bpm, other, style.beatsPerBar);
    } else if (style.shape == TempoShape::Rubato) {
        // The tempo a listener taps over the whole: beats over time.
        std::printf("%s %.3f %d\n", style.name, 60.0 * (beats.count - 1) / beats.last, style.beatsPerBar);
    } else {
        std::printf("%s %.3f %d\n", style.name, 60e6 / static_cast<double>(static_cast<std::uint32_t>(60e6 / bpm + 0.5)),
                    style.beatsPerBar);
    }
    return 0;
}
