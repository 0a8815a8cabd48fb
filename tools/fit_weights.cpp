// fit_weights [SONG_WEIGHT]: fits the accurate method's models from
// the lines of tools/level_features on standard input (NAME LABEL bpm
// height lowHeight evenness lowEvenness ternaryEvenness first
// fasterEvenness fasterLowEvenness rival, one line per metrical level, the
// levels of one file together):
//
// - the metrical level: conditional logistic regression (McFadden 1974),
//   the chance of each level proportional to exp(w . terms), fitted by
//   gradient ascent on the log-likelihood of the levels within 4 % of the
//   label, with a small ridge; files whose NAME starts with "songs:" weigh
//   SONG_WEIGHT (default 4) times as much as the generated ones, as the
//   nearest there is to the music the method is meant for;
// - the confidence: logistic regression (Platt 1999) of "the chosen level is
//   right" on the chosen level's height and the log-odds of its share.
//
// - the beat phase: logistic regression of "the beats halfway between
//   those tracked lie nearer the labelled beats" on the six terms of the
//   lines "phase NAME t1 ... t6 F_TRACKED F_HALFWAY" (tools/phase_features),
//   over the files where one of the two beat F-measures beats the other by
//   more than kClearPhase; songs weigh SONG_WEIGHT times as much here too.
// - the confidence of a reading whose beats were tracked: logistic
//   regression (Platt 1999) of "the tempo is right" on the lines
//   "confidence NAME RIGHT share deviation rival"
//   (tools/reading_features), each file counted once, its terms the
//   share's log-odds, the deviation's log and 1 for no rival,
//   fitted by Newton's method (iteratively reweighted least squares).
//
// Prints the weights in the order pulse/metre.cpp, pulse/calibration.cpp
// and pulse/beat_phase.cpp hold them.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kTerms = 11;
constexpr double kRidge = 0.01;
// Steps of gradient ascent, each half the mean gradient: enough for the
// weights to settle to three decimals.
constexpr int kLevelSteps = 8000;
constexpr int kConfidenceSteps = 5000;
constexpr int kPhaseSteps = 20000;

// A phase is learnt from a file only where one phase's beats clearly
// score better than the other's (elsewhere neither is on the beats: a
// wrong tempo, a tempo that drifts off the labels).
constexpr double kClearPhase = 0.1;
constexpr std::size_t kPhaseTerms = 6;

struct PhaseExample {
    std::vector<double> terms;  // 1 (the intercept), then the six terms
    double halfway = 0.0;       // 1 where the beats halfway are the better
    double weight = 1.0;
};

constexpr std::size_t kConfidenceTerms = 4;  // the intercept, then the three terms
constexpr int kNewtonSteps = 50;
// As pulse/calibration.cpp keeps them.
constexpr double kShareMargin = 1e-6;
constexpr double kLeastDeviation = 1e-3;

struct ConfidenceExample {
    std::vector<double> terms;
    double right = 0.0;
};

struct Level {
    std::vector<double> terms;
    double height = 0.0;
    bool right = false;
};

struct File {
    std::string name;
    double weight = 1.0;
    std::vector<Level> levels;
};

std::vector<double> termsOf(double bpm, const std::vector<double>& v) {
    const double octaves = std::log2(bpm / 120.0);
    return {octaves * octaves, octaves, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8] > 0.0 ? 0.0 : 1.0};
}

// A "phase" line's example; false where it teaches nothing.
bool readPhase(std::istringstream& in, double songWeight, PhaseExample& example) {
    std::string name;
    in >> name;
    example.terms.assign(1, 1.0);
    for (std::size_t k = 0; k < kPhaseTerms; ++k) {
        double term = 0.0;
        in >> term;
        example.terms.push_back(term);
    }
    double tracked = 0.0;
    double halfway = 0.0;
    in >> tracked >> halfway;
    example.halfway = halfway > tracked ? 1.0 : 0.0;
    example.weight = name.rfind("songs:", 0) == 0 ? songWeight : 1.0;
    return static_cast<bool>(in) && std::fabs(halfway - tracked) > kClearPhase;
}

std::vector<File> readFiles(double songWeight, std::vector<PhaseExample>& phases,
                            std::vector<ConfidenceExample>& confidences) {
    std::vector<File> files;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        if (line.rfind("confidence ", 0) == 0) {
            std::string kind;
            std::string name;
            double right = 0.0;
            double share = 0.0;
            double deviation = 0.0;
            double rival = 0.0;
            in >> kind >> name >> right >> share >> deviation >> rival;
            if (!in) continue;
            share = std::min(std::max(share, kShareMargin), 1.0 - kShareMargin);
            confidences.push_back({{1.0, std::log(share / (1.0 - share)),
                                    std::log(std::max(deviation, kLeastDeviation)), rival > 0.0 ? 0.0 : 1.0},
                                   right});
            continue;
        }
        if (line.rfind("phase ", 0) == 0) {
            std::string kind;
            in >> kind;
            PhaseExample example;
            if (readPhase(in, songWeight, example)) phases.push_back(example);
            continue;
        }
        std::string name;
        double label = 0.0;
        double bpm = 0.0;
        std::vector<double> v(9);
        in >> name >> label >> bpm;
        for (double& x : v) in >> x;
        if (!in) continue;
        if (files.empty() || files.back().name != name) {
            files.push_back({name, name.rfind("songs:", 0) == 0 ? songWeight : 1.0, {}});
        }
        files.back().levels.push_back({termsOf(bpm, v), v[0], std::fabs(bpm / label - 1.0) <= 0.04});
    }
    return files;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += a[k] * b[k];
    return sum;
}

// The softmax of the levels' scores.
std::vector<double> chances(const File& file, const std::vector<double>& w) {
    std::vector<double> p;
    double top = -1e300;
    for (const Level& level : file.levels) top = std::max(top, dot(w, level.terms));
    double total = 0.0;
    for (const Level& level : file.levels) {
        p.push_back(std::exp(dot(w, level.terms) - top));
        total += p.back();
    }
    for (double& x : p) x /= total;
    return p;
}

std::vector<double> fitLevels(const std::vector<File>& files) {
    std::vector<double> w(kTerms, 0.0);
    double totalWeight = 0.0;
    for (const File& file : files) totalWeight += file.weight;
    for (int step = 0; step < kLevelSteps; ++step) {
        std::vector<double> gradient(kTerms, 0.0);
        for (std::size_t k = 0; k < kTerms; ++k) gradient[k] = -kRidge * w[k] * totalWeight / static_cast<double>(files.size());
        for (const File& file : files) {
            double rightCount = 0.0;
            for (const Level& level : file.levels) rightCount += level.right ? 1.0 : 0.0;
            if (rightCount == 0.0) continue;
            const std::vector<double> p = chances(file, w);
            for (std::size_t i = 0; i < file.levels.size(); ++i) {
                const double target = file.levels[i].right ? 1.0 / rightCount : 0.0;
                for (std::size_t k = 0; k < kTerms; ++k) {
                    gradient[k] += file.weight * (target - p[i]) * file.levels[i].terms[k];
                }
            }
        }
        for (std::size_t k = 0; k < kTerms; ++k) w[k] += 0.5 * gradient[k] / totalWeight;
    }
    return w;
}

std::vector<double> fitConfidence(const std::vector<File>& files, const std::vector<double>& w) {
    std::vector<std::vector<double>> x;
    std::vector<double> y;
    for (const File& file : files) {
        const std::vector<double> p = chances(file, w);
        std::size_t best = 0;
        for (std::size_t i = 1; i < p.size(); ++i) {
            if (p[i] > p[best]) best = i;
        }
        const double share = std::min(std::max(p[best], 1e-6), 1.0 - 1e-6);
        x.push_back({1.0, file.levels[best].height, std::log(share / (1.0 - share))});
        y.push_back(file.levels[best].right ? 1.0 : 0.0);
    }
    std::vector<double> c(3, 0.0);
    for (int step = 0; step < kConfidenceSteps; ++step) {
        std::vector<double> gradient(3, 0.0);
        for (std::size_t k = 0; k < 3; ++k) gradient[k] = -kRidge * c[k];
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double p = 1.0 / (1.0 + std::exp(-dot(c, x[i])));
            for (std::size_t k = 0; k < 3; ++k) gradient[k] += (y[i] - p) * x[i][k];
        }
        for (std::size_t k = 0; k < 3; ++k) c[k] += 0.5 * gradient[k] / static_cast<double>(x.size());
    }
    return c;
}

// Plain logistic regression by gradient ascent, with the same small ridge
// on every weight but the intercept.
std::vector<double> fitPhase(const std::vector<PhaseExample>& examples) {
    std::vector<double> w(kPhaseTerms + 1, 0.0);
    double totalWeight = 0.0;
    for (const PhaseExample& example : examples) totalWeight += example.weight;
    for (int step = 0; step < kPhaseSteps; ++step) {
        std::vector<double> gradient(w.size(), 0.0);
        for (std::size_t k = 1; k < w.size(); ++k) gradient[k] = -kRidge * w[k] * totalWeight;
        for (const PhaseExample& example : examples) {
            const double p = 1.0 / (1.0 + std::exp(-dot(w, example.terms)));
            for (std::size_t k = 0; k < w.size(); ++k) {
                gradient[k] += example.weight * (example.halfway - p) * example.terms[k];
            }
        }
        for (std::size_t k = 0; k < w.size(); ++k) w[k] += 0.5 * gradient[k] / totalWeight;
    }
    return w;
}

// Solves a x = b by Gaussian elimination with partial pivoting.
std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b) {
    const std::size_t n = b.size();
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        }
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (std::size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (std::size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = b[i] / a[i][i];
    return x;
}

// Logistic regression by Newton's method, the mean log-likelihood less the
// small ridge on every weight but the intercept.
std::vector<double> fitBeatsConfidence(const std::vector<ConfidenceExample>& examples) {
    std::vector<double> w(kConfidenceTerms, 0.0);
    const auto count = static_cast<double>(examples.size());
    for (int step = 0; step < kNewtonSteps; ++step) {
        std::vector<double> gradient(kConfidenceTerms, 0.0);
        std::vector<std::vector<double>> hessian(kConfidenceTerms, std::vector<double>(kConfidenceTerms, 0.0));
        for (const ConfidenceExample& example : examples) {
            const double p = 1.0 / (1.0 + std::exp(-dot(w, example.terms)));
            for (std::size_t i = 0; i < kConfidenceTerms; ++i) {
                gradient[i] += (example.right - p) * example.terms[i] / count;
                for (std::size_t j = 0; j < kConfidenceTerms; ++j) {
                    hessian[i][j] += p * (1.0 - p) * example.terms[i] * example.terms[j] / count;
                }
            }
        }
        for (std::size_t i = 1; i < kConfidenceTerms; ++i) {
            gradient[i] -= kRidge * w[i];
            hessian[i][i] += kRidge;
        }
        const std::vector<double> move = solve(hessian, gradient);
        for (std::size_t i = 0; i < kConfidenceTerms; ++i) w[i] += move[i];
    }
    return w;
}

}  // namespace

int main(int argc, char* argv[]) {
    const double songWeight = argc > 1 ? std::atof(argv[1]) : 4.0;
    std::vector<PhaseExample> phases;
    std::vector<ConfidenceExample> confidences;
    const std::vector<File> files = readFiles(songWeight, phases, confidences);
    if (files.empty()) {
        std::fputs("fit_weights: no levels on standard input\n", stderr);
        return 2;
    }
    const std::vector<double> w = fitLevels(files);
    std::printf("metre weights:");
    for (double x : w) std::printf(" %.3f", x);
    const std::vector<double> c = fitConfidence(files, w);
    std::printf("\nconfidence: intercept %.4f, per height %.4f, per share log-odds %.4f\n", c[0], c[1], c[2]);
    if (!confidences.empty()) {
        const std::vector<double> b = fitBeatsConfidence(confidences);
        std::printf("confidence with beats: intercept %.3f, weights %.3f %.3f %.3f (%zu files)\n", b[0], b[1], b[2], b[3],
                    confidences.size());
    }
    if (!phases.empty()) {
        const std::vector<double> phase = fitPhase(phases);
        std::printf("phase: intercept %.3f, weights", phase[0]);
        for (std::size_t k = 1; k < phase.size(); ++k) std::printf(" %.3f", phase[k]);
        std::printf(" (%zu files)\n", phases.size());
    }
    return 0;
}
