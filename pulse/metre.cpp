// Metrical level.
//
// The periodicity curve's strongest period is often a subdivision of the
// beat (eighth notes that outnumber the beats), or the beat of a faster
// level than a listener taps (a half-time feel, a ballad's arpeggios, a
// 6/8 piece's eighths). The level is chosen among the pulses at a third,
// a half, three quarters, one, one and a half, two and three times that
// tempo, on the evidence that studies of metre use:
//
// - the preferred tempo of listeners, a broad log-normal resonance near
//   120 BPM (van Noorden and Moelants 1999; Moelants and McKinney 2004);
// - how strongly the pulse recurs, in all bands and in the low bands alone
//   (the periodicity curve's height at the level);
// - where the low instruments' onsets fall against everything's: under a
//   backbeat the kick drum alternates with the snare from beat to beat,
//   while a subdivision alternates loud beats with quieter off-beats in
//   every band (after Goto 2001). Beats are tracked at each level and the
//   mean onset of odd and even beats compared, in all bands and in the
//   low ones, and of every third beat for a ternary metre;
// - whether anything recurs at 2/3, 3/4, 4/3 or 3/2 of the level's period
//   (the periodicity curve above 0 at one of them): at the beat a
//   listener taps, the eighths or triplets that divide it recur at 3/2 or
//   4/3 of its period; at the fastest regular pulse of a piece (a slow
//   groove's eighths, a ballad's arpeggio) nothing divides it, and the
//   curve is at or below 0 at all four. Listeners seldom tap that fastest
//   pulse, the tatum (Bilmes 1993), when a slower one is there (the tatum,
//   the beat and the bar are separate levels in Klapuri, Eronen and
//   Astola 2006);
// - the periodicity's own first choice;
// - the bar: the beats a listener taps are grouped in bars of two, three
//   or four, so the pulse recurs strongly at 2, 3 or 4 times the beat's
//   period (bar-level periodicity support: the bar and the beat levels
//   support each other in Klapuri, Eronen and Astola 2006);
// - the 3+3+2 figure (the tresillo: habanera, dembow, much pop) makes
//   the period of three of its steps recur more strongly than the beat, so
//   the levels at 3/4 and 3/2 of the periodicity's choice are weighed too,
//   with a term of their own for how seldom the beat lies there.
//
// A level whose pulse recurs no more than chance, in all bands and in the
// low ones, is not weighed: nothing sounds there to be tapped.
//
// The first eleven weights (the resonance to the last term before the bar)
// were fitted for 2.3.0 by conditional logistic regression (McFadden 1974)
// over the benchmark's songs, the tuning half of the generated grooves and
// beatgen clips, and are kept as they were. The bar's and the 3+3+2
// figure's weights were fitted on generated material alone, those eleven
// held fixed (tools/fit_weights over the tuning half of the grooves, where
// a ramp or a switch of tempo counts a level between its two tempos as
// right, seeds 0 to 15 of groovegen --metre in each metre and of the 3+3+2
// grooves, and beatgen clips, each style weighing as much as any other;
// bench/fit_weights.sh): the songs of bench/accuracy.sh were not read for
// them. Which evidence is weighed was chosen by leaving each style of
// groove out of the fit in turn and counting how often the level chosen
// for it was right: 77.5 % with the bar's support and the figure, 74.0 %
// with the figure alone; the contrast of the bars found at each level
// (pulse/bars) and whether the harmony changes on its beats rather than
// halfway between them (Goto 2001) took it to 77.9 % only, for two more
// weights, and are not weighed.

#include "pulse/metre.hpp"

#include <algorithm>
#include <cmath>

#include "pulse/beat_tracker.hpp"
#include "pulse/exact_math.hpp"
#include "pulse/periodicity.hpp"

namespace tempo::pulse {
namespace {

constexpr double kSlowestBpm = 40.0;
constexpr double kFastestBpm = 250.0;
constexpr double kFactors[] = {1.0 / 3.0, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0};
// Between the beats of a click track the onset curve holds only the
// clicks' decay: its mean there is well under a fifth of the beats' (a
// hi-hat on the off-beats brings a third or more).
constexpr double kEmptyBetween = 0.2;
// A click track's fastest pulse recurs as strongly as its slower ones, up
// to the curve's coarser resolution at short lags (0.89 at 240 BPM).
constexpr double kClickHeightShare = 0.85;
// The shortest period, in frames, at which the pulse between the fastest
// level's beats is tracked: four frames is 1300 BPM.
constexpr double kShortestFasterPeriod = 4.0;
// Beats alike: each of them as strong as the next, in all bands and in the
// low ones (a click track's; a groove's beats differ from one to the next).
constexpr double kAlike = 0.9;
// How much more another level must score than the periodicity's choice to
// be taken instead (in log-odds: e^0.75, about twice as likely): the
// spread of one level's lead between the ten copies of one song in
// bench/one_song_one_number.sh (WAVE, MP3, Opus, 48 kHz, mono...) reaches
// 0.3 to 0.4, and a song whose lead lies near the margin (0.39 in its WAVE,
// 0.70 in its MP3 at 128 kbit/s, at 0.5) must not go one way in one copy
// and the other way in the next.
constexpr double kFirstMargin = 0.75;
// The preferred tempo about which the resonance is taken.
constexpr double kResonanceBpm = 120.0;

// The weights of the conditional logistic model, in the order of the
// terms in scoreOf: the squared and plain log2 of the tempo over
// kResonanceBpm (together a log-normal resonance), height, low height,
// evenness, low evenness, ternary evenness, first choice, the faster
// level's evenness and low evenness, no rival, then the bar's support and
// a level at 3/4 or 3/2 of the first choice (see the top of this file).
constexpr double kWeights[] = {-2.023, 2.378,  10.842, -4.840, 2.035,  -9.226, 2.047,
                               1.154,  4.845, -10.851, -1.822, 14.433, -3.042};

// The strongest value within a frame of `frame`.
double near(const StrengthCurve& values, std::size_t frame) {
    double best = 0.0;
    for (std::size_t t = frame > 0 ? frame - 1 : 0; t <= frame + 1 && t < values.size(); ++t) {
        best = std::max(best, values[t]);
    }
    return best;
}

// Weakest over strongest of the mean onsets of the beats in each of
// `classes` classes (beat number modulo classes); 1 where there are
// too few beats to tell.
double evennessOf(const std::vector<std::size_t>& beats, const StrengthCurve& strength, std::size_t classes) {
    double sums[3] = {0.0, 0.0, 0.0};
    double counts[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < beats.size(); ++i) {
        sums[i % classes] += near(strength, beats[i]);
        counts[i % classes] += 1.0;
    }
    double lowest = 0.0;
    double highest = 0.0;
    for (std::size_t k = 0; k < classes; ++k) {
        if (counts[k] == 0.0) return 1.0;
        const double mean = sums[k] / counts[k];
        lowest = k == 0 ? mean : std::min(lowest, mean);
        highest = std::max(highest, mean);
    }
    return highest > 0.0 ? lowest / highest : 1.0;
}

double scoreOf(const LevelEvidence& level) {
    const double octaves = exactLog2(level.bpm / kResonanceBpm);
    const double terms[] = {octaves * octaves,     octaves,           level.height,
                            level.lowHeight,       level.evenness,    level.lowEvenness,
                            level.ternaryEvenness, level.first ? 1.0 : 0.0,
                            level.fasterEvenness,  level.fasterLowEvenness,
                            level.rival > 0.0 ? 0.0 : 1.0, level.barSupport,
                            level.tresillo ? 1.0 : 0.0};
    double score = 0.0;
    for (std::size_t k = 0; k < std::size(terms); ++k) score += kWeights[k] * terms[k];
    return score;
}

}  // namespace

std::vector<LevelEvidence> levelEvidence(const MetreInput& input, double period) {
    if (!(input.frameRate > 0.0) || !(period >= 2.0)) return {};
    const std::vector<double> lowSalient = salientOnsets(*input.lowOnset, input.frameRate);
    return levelEvidence(MetreCurves{input.curve, &lowSalient, strengthOf(*input.strength).first,
                                     strengthOf(*input.lowStrength).first, input.frameRate},
                         period);
}

std::vector<LevelEvidence> levelEvidence(const MetreCurves& input, double period) {
    std::vector<LevelEvidence> levels;
    if (!(input.frameRate > 0.0) || !(period >= 2.0)) return levels;
    const double bpm = 60.0 * input.frameRate / period;
    const StrengthCurve strength{input.strength, {}, 1.0};
    const StrengthCurve lowStrength{input.lowStrength, {}, 1.0};
    const StrengthCurve both = sumOf(input.strength, input.lowStrength, 1.0);
    std::vector<double> lags;
    for (double factor : kFactors) lags.push_back(period / factor);
    const std::vector<double> lowCurve = periodicityNearSalient(*input.lowSalient, input.frameRate, lags);
    for (double factor : kFactors) {
        LevelEvidence level;
        level.bpm = bpm * factor;
        level.period = period / factor;
        if (level.bpm < kSlowestBpm || level.bpm > kFastestBpm || level.period < 2.0) continue;
        level.height = periodicityAt(*input.curve, level.period);
        level.lowHeight = periodicityAt(lowCurve, level.period);
        // A pulse that recurs no more than chance, in all bands and in the
        // low ones, is not there to be tapped (a click track's half beats,
        // the 3/4 of its beat): not a level, but for the periodicity's own
        // choice.
        if (factor != 1.0 && !(std::max(level.height, level.lowHeight) > 0.0)) continue;
        const std::vector<std::size_t> beats = trackBeatsOver(both, steadyPeriod(both.size(), level.period));
        level.evenness = evennessOf(beats, strength, 2);
        level.lowEvenness = evennessOf(beats, lowStrength, 2);
        level.ternaryEvenness = evennessOf(beats, strength, 3);
        for (double ratio : {2.0 / 3.0, 0.75, 4.0 / 3.0, 1.5}) {
            level.rival = std::max(level.rival, periodicityAt(*input.curve, level.period * ratio));
        }
        for (double multiple : {2.0, 3.0, 4.0}) {
            level.barSupport = std::max(level.barSupport, periodicityAt(*input.curve, level.period * multiple));
        }
        level.first = factor == 1.0;
        level.tresillo = factor == 0.75 || factor == 1.5;
        levels.push_back(level);
    }
    if (!levels.empty()) {
        // levels run from slow to fast.
        LevelEvidence& fastest = levels.back();
        if (fastest.period >= 2.0 * kShortestFasterPeriod) {
            const std::vector<std::size_t> beats = trackBeatsOver(both, steadyPeriod(both.size(), 0.5 * fastest.period));
            fastest.between = std::max(evennessOf(beats, strength, 2), evennessOf(beats, lowStrength, 2));
        }
    }
    for (LevelEvidence& level : levels) {
        for (const LevelEvidence& faster : levels) {
            if (std::fabs(faster.period * 2.0 - level.period) < 0.5) {
                level.fasterEvenness = faster.evenness;
                level.fasterLowEvenness = faster.lowEvenness;
            }
        }
        level.score = scoreOf(level);
    }
    return levels;
}

LevelEvidence chooseLevel(std::vector<LevelEvidence>& levels, double& share) {
    share = 0.0;
    if (levels.empty()) return LevelEvidence{};
    std::size_t best = 0;
    for (std::size_t k = 1; k < levels.size(); ++k) {
        if (levels[k].score > levels[best].score) best = k;
    }
    // The periodicity's own choice stands unless another level's evidence
    // is clearly stronger: a near tie would go one way in one copy of a song
    // and the other way in its MP3.
    for (std::size_t k = 0; k < levels.size(); ++k) {
        if (levels[k].first && levels[k].score + kFirstMargin >= levels[best].score) best = k;
    }
    const LevelEvidence& fastest = levels.back();
    const LevelEvidence& chosen = levels[best];
    if (fastest.between < kEmptyBetween && fastest.height >= kClickHeightShare * chosen.height &&
        chosen.evenness > kAlike && chosen.lowEvenness > kAlike && fastest.evenness > kAlike &&
        fastest.lowEvenness > kAlike) {
        best = levels.size() - 1;
    }
    double total = 0.0;
    for (const LevelEvidence& level : levels) total += exactExp(level.score - levels[best].score);
    share = 1.0 / total;
    return levels[best];
}

}  // namespace tempo::pulse
