// Bars.
//
// Where a bar begins, the music says so in several ways at once, and the
// published downbeat trackers read them from features taken once per
// beat (beat-synchronous features): the harmony changes there more than
// anywhere else (Goto 2001; Davies and Plumbley 2006, who take the
// spectral difference between successive beats; Papadopoulos and Peeters
// 2011), the kick drum and the bass play there (Goto 2001; Klapuri,
// Eronen and Astola 2006 weigh the low bands' accents for the bar level),
// and the first beat of a bar is the loudest (the accent pattern of
// metrical theory, Lerdahl and Jackendoff 1983). Each beat gets a
// bar-start salience, a weighted sum of the three:
//
// - the change of the pitch classes (a chroma of the beat, from the onset
//   stream's pitch bytes) from the beat before to this one: one less the
//   cosine of the two chromas, each taken about its mean;
// - the low bands' salient onset at the beat over its mean at all beats,
//   less 1;
// - all bands' salient onset at the beat over its mean at all beats, less 1.
//
// Then, for each metre of 2, 3 and 4 beats, a Viterbi path through the
// beats' places in the bar (as the bar-level hidden Markov models of
// Klapuri, Eronen and Astola 2006 and Peeters and Papadopoulos 2011 do):
// each beat moves to the next place, or, at a cost, to another one (a beat
// the tracker added or left out, a bar of another length), and a path
// gains the salience of every beat it takes as a downbeat. The metre whose
// path sets its downbeats furthest above the other beats is the piece's,
// unless no metre sets them clearly above: then no bar stands out, and
// none is reported rather than a guessed 4/4.

#include "pulse/bars.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "pulse/onset_curve.hpp"

namespace tempo::pulse {
namespace {

// The weights of the three kinds of evidence in a beat's salience: the
// log-odds that a beat begins a bar, by logistic regression over the beats
// of the tuning material (seeds 0 to 15 of groovegen --metre in each
// metre, and the tuning half of the steady grooves, whose tempo was right),
// each beat labelled by whether a bar line lies within 70 ms. At a bar line
// the harmonic change is 0.36 on the mean against 0.15 elsewhere, the low
// bands' onset +0.56 against -0.25, all bands' +0.29 against -0.14; given
// the other two, all bands' weigh against a downbeat (under a backbeat the
// snare on two and four is the loudest).
constexpr double kHarmonyWeight = 6.541;
constexpr double kLowWeight = 4.423;
constexpr double kAccentWeight = -1.947;
// The cost of leaving the bar's steady count, in salience (log-odds): a
// strong downbeat scores 4 to 7, so a path changes its count only where
// a few bars agree on the new one.
constexpr double kJumpCost = 10.0;
// The least contrast (in salience) between the downbeats and the other
// beats for a bar to stand out: chance alone, the best path through
// beats that are all alike, sets its downbeats a little above the rest
// (0.01 for clicks, 0.06 for a thump under a held chord, up to 0.58 for
// noise bursts whose random spectra read as changes of harmony), while
// the tuning grooves' bars stand out by 0.8 to 7.
constexpr double kLeastContrast = 0.7;
// Bars of four rather than two where their contrast is at least this
// times that of bars of two. Where only every other beat stands out (all
// downbeats of a bar of two alike) the bar of four's contrast is 2/3 of the
// bar of two's; where only every fourth beat does, it is twice; this is
// the middle of the two on a log scale.
constexpr double kFourOverTwo = 1.15;
// Or where the harmony changes at its first
// beat by more than this share of its change there over the second and
// fourth beats more than at its third (see alignHarmony): chords that
// change once a bar of four give 0.7 to 1.3 (on the tuning grooves),
// chords every two beats 0 to 0.5, with some at 0.6 to 1.4 where the
// progression's changes alternate large and small.
constexpr double kLeastAlternation = 0.6;
// The least harmonic change at the bar's first beat over the others' for
// the harmony to tell a bar of four from one of two: the chroma of a drum
// kit alone (noise) changes by a few hundredths from beat to beat; a chord
// change adds 0.2.
constexpr double kLeastHarmonyStep = 0.05;
// A beat's chroma whose classes spread about their mean by less than this
// share of it (root mean square over mean) holds no pitch that stands out,
// and the cosine of two such flat chromas would be chance alone: the tail
// of a noise burst between a click track's beats spreads by up to about
// 0.15 of its mean (read as changes of harmony at 0.15, not at 0.2); the
// tuning grooves' weights and bars are the same at 0.1 and at 0.2.
constexpr double kLeastPitchSpread = 0.2;
// A beat's onset is the strongest within this many frames of it, as for
// the beat phase.
constexpr std::size_t kReach = 2;

using Chroma = std::array<double, kPitchClasses>;

// The pitch classes sounding from frame `from` to frame `to`, about their
// mean: the sum of the groups of frames wholly inside, but the first
// group after `from`. The attack of a beat's sounds (a drum's noise, a
// click) shows in the frames just after it; the groups, four frames each,
// fall on the beats at another place from one beat to the next, and a
// group that holds an attack in one beat's span and not in the next would
// read as a change of harmony where nothing changed.
Chroma chromaOver(const std::vector<std::uint8_t>& chroma, std::size_t from, std::size_t to) {
    Chroma sum{};
    const std::size_t groups = chroma.size() / kPitchClasses;
    for (std::size_t g = (from + kChromaFrames - 1) / kChromaFrames + 1; g < groups && (g + 1) * kChromaFrames <= to;
         ++g) {
        for (std::size_t c = 0; c < kPitchClasses; ++c) sum[c] += chroma[g * kPitchClasses + c];
    }
    double mean = 0.0;
    for (double value : sum) mean += value;
    mean /= static_cast<double>(kPitchClasses);
    double squares = 0.0;
    for (double& value : sum) {
        value -= mean;
        squares += value * value;
    }
    // Nearly flat: no pitch stands out (noise, a drum's tail, silence).
    if (!(squares > kLeastPitchSpread * kLeastPitchSpread * mean * mean * static_cast<double>(kPitchClasses))) {
        sum.fill(0.0);
    }
    return sum;
}

// One less the cosine of two chromas, halved: 0 for the same harmony, 1
// for the opposite; 0 where either is silent.
double harmonicChange(const Chroma& before, const Chroma& after) {
    double dot = 0.0;
    double a = 0.0;
    double b = 0.0;
    for (std::size_t c = 0; c < kPitchClasses; ++c) {
        dot += before[c] * after[c];
        a += before[c] * before[c];
        b += after[c] * after[c];
    }
    if (!(a > 0.0) || !(b > 0.0)) return 0.0;
    return 0.5 * (1.0 - dot / std::sqrt(a * b));
}

// Each value over the values' mean, less 1; all 0 where the mean is 0.
std::vector<double> relativeToMean(const std::vector<double>& values) {
    double mean = 0.0;
    for (double value : values) mean += value;
    mean /= static_cast<double>(values.size());
    std::vector<double> relative(values.size(), 0.0);
    if (mean > 0.0) {
        for (std::size_t i = 0; i < values.size(); ++i) relative[i] = values[i] / mean - 1.0;
    }
    return relative;
}

// The bar-start salience of each beat, about its mean, and the evidence it
// comes from, in `evidence`.
void salienceOf(const std::vector<std::size_t>& beats, const PhaseStrengths& curves,
                const std::vector<std::uint8_t>& chroma, BarEvidence& evidence) {
    const std::size_t n = beats.size();
    std::vector<double> low(n);
    std::vector<double> all(n);
    for (std::size_t i = 0; i < n; ++i) {
        low[i] = strongestNear(curves.low, beats[i], kReach);
        all[i] = strongestNear(curves.all, beats[i], kReach);
    }
    low = relativeToMean(low);
    all = relativeToMean(all);
    std::vector<double> change(n, 0.0);
    if (!chroma.empty()) {
        Chroma before = chromaOver(chroma, beats[0] > beats[1] - beats[0] ? 2 * beats[0] - beats[1] : 0, beats[0]);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t end = i + 1 < n ? beats[i + 1] : beats[i] + (beats[i] - beats[i - 1]);
            const Chroma after = chromaOver(chroma, beats[i], end);
            change[i] = harmonicChange(before, after);
            before = after;
        }
    }
    std::vector<double> salience(n);
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        salience[i] = kHarmonyWeight * change[i] + kLowWeight * low[i] + kAccentWeight * all[i];
        mean += salience[i];
    }
    mean /= static_cast<double>(n);
    for (double& value : salience) value -= mean;
    evidence.salience = std::move(salience);
    evidence.harmony = std::move(change);
    evidence.low = std::move(low);
    evidence.accent = std::move(all);
}

// The place in the bar of each beat (0: a downbeat) on the best path for
// bars of `metre` beats.
std::vector<int> barPlaces(const std::vector<double>& salience, int metre) {
    const std::size_t n = salience.size();
    const auto places = static_cast<std::size_t>(metre);
    std::vector<std::uint8_t> from(n * places, 0);
    std::vector<double> total(places, 0.0);
    total[0] = salience[0];
    std::vector<double> next(places);
    for (std::size_t i = 1; i < n; ++i) {
        for (std::size_t k = 0; k < places; ++k) {
            double best = -std::numeric_limits<double>::infinity();
            for (std::size_t j = 0; j < places; ++j) {
                const double value = total[j] - ((j + 1) % places == k ? 0.0 : kJumpCost);
                if (value > best) {
                    best = value;
                    from[i * places + k] = static_cast<std::uint8_t>(j);
                }
            }
            next[k] = best + (k == 0 ? salience[i] : 0.0);
        }
        total.swap(next);
    }
    std::vector<int> place(n);
    place[n - 1] = static_cast<int>(std::max_element(total.begin(), total.end()) - total.begin());
    for (std::size_t i = n - 1; i > 0; --i) {
        place[i - 1] = from[i * places + static_cast<std::size_t>(place[i])];
    }
    return place;
}

// The mean salience of the downbeats less that of the other beats; 0
// where either is missing.
double contrastOf(const std::vector<double>& salience, const std::vector<int>& place) {
    double down = 0.0;
    double other = 0.0;
    double downs = 0.0;
    double others = 0.0;
    for (std::size_t i = 0; i < salience.size(); ++i) {
        (place[i] == 0 ? down : other) += salience[i];
        (place[i] == 0 ? downs : others) += 1.0;
    }
    return downs > 0.0 && others > 0.0 ? down / downs - other / others : 0.0;
}

// The mean of `values` over the beats at each place of a bar of four:
// first, second and fourth together, third.
std::array<double, 3> placeMeans(const std::vector<double>& values, const std::vector<int>& place) {
    std::array<double, 3> sums{};
    std::array<double, 3> counts{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t k = place[i] == 0 ? 0 : place[i] == 2 ? 2 : 1;
        sums[k] += values[i];
        counts[k] += 1.0;
    }
    for (std::size_t k = 0; k < 3; ++k) sums[k] = counts[k] > 0.0 ? sums[k] / counts[k] : 0.0;
    return sums;
}

// A bar of two and a bar of four set the same beats apart, and in a bar of
// four the kick often plays on the third beat as on the first: which of the
// two is the bar's first is the one where the harmony changes more. Puts
// the bar of four's first beat there (moving every place by two where the
// third changes more), and returns how much more the harmony changes at
// the first beat than at the third, as a share of how much more it
// changes there than at the second and fourth: near 1 where chords change
// once a bar of four, near 0 where they change every two beats; 0 where
// the harmony changes no more (by kLeastHarmonyStep) at the first beat
// than between.
double alignHarmony(const std::vector<double>& harmony, std::vector<int>& place) {
    std::array<double, 3> mean = placeMeans(harmony, place);
    if (!(std::max(mean[0], mean[2]) - mean[1] > kLeastHarmonyStep)) return 0.0;
    if (mean[2] > mean[0]) {
        for (int& p : place) p = (p + 2) % 4;
        std::swap(mean[0], mean[2]);
    }
    return (mean[0] - mean[2]) / (mean[0] - mean[1]);
}

}  // namespace

Bars findBars(const std::vector<std::size_t>& beats, const PhaseStrengths& curves,
              const std::vector<std::uint8_t>& chroma, BarEvidence* evidence) {
    Bars bars;
    if (beats.size() < kLeastBeats) return bars;
    BarEvidence weighed;
    salienceOf(beats, curves, chroma, weighed);
    const std::vector<double>& salience = weighed.salience;
    std::array<std::vector<int>, kMetres.size()> places;
    std::array<double, kMetres.size()> contrast{};
    for (std::size_t m = 0; m < kMetres.size(); ++m) {
        places[m] = barPlaces(salience, kMetres[m]);
        contrast[m] = contrastOf(salience, places[m]);
    }
    weighed.contrast = contrast;
    weighed.alternation = alignHarmony(weighed.harmony, places[2]);
    double best = kLeastContrast;
    std::vector<int> bestPlaces;
    for (std::size_t m = 0; m < kMetres.size(); ++m) {
        if (contrast[m] > best) {
            best = contrast[m];
            bars.metre = kMetres[m];
        }
    }
    // A bar of four and a bar of two set nearly the same beats apart; four
    // it is where its first beat stands out from its third, in the
    // salience as a whole or in the harmony.
    if (bars.metre == 2 || bars.metre == 4) {
        const bool four = contrast[2] >= kFourOverTwo * contrast[0] || weighed.alternation > kLeastAlternation;
        bars.metre = four ? 4 : 2;
    }
    if (bars.metre != kNoMetre) bestPlaces = places[bars.metre == 2 ? 0 : bars.metre == 3 ? 1 : 2];
    for (std::size_t i = 0; i < bestPlaces.size(); ++i) {
        if (bestPlaces[i] == 0) bars.downbeats.push_back(beats[i]);
    }
    if (evidence != nullptr) *evidence = std::move(weighed);
    return bars;
}

}  // namespace tempo::pulse
