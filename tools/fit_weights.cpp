// fit_weights [--hold KIND]... [--fit KIND]...: fits the accurate method's models from
// the lines of tools/level_features and tools/reading_features on standard
// input. Every NAME is KIND:FILE; in the fits of the metrical level and of
// the beat phase each kind (a groove style, the beatgen clips, the songs)
// weighs as much as any other, however many files it has, since the mix
// of kinds in the material says nothing of music at large. The confidence
// counts each file once: weighed by kind, a dozen styles of a few grooves
// each outweigh the beatgen clips, the beats' steadiness counts for too
// little, and a clean click track at 240 BPM reads less likely right than
// not (0.49). The files of a kind given by --hold are fitted on by
// nothing: the reliability of the confidence fitted on the others is
// printed for them, as for the files fitted on. --fit fits on the kinds it
// names alone and holds out all the others (the check the other way round:
// fitted on the songs, held out on the grooves).
//
// - the metrical level (lines NAME LABEL bpm height lowHeight evenness
//   lowEvenness ternaryEvenness first fasterEvenness fasterLowEvenness
//   rival barSupport tresillo, one line per level, the levels of one file
//   together): conditional logistic regression (McFadden 1974), the chance
//   of each level proportional to exp(kept + w . terms), where `kept` is
//   the score of pulse/metre.cpp's first eleven terms with the weights
//   fitted for 2.3.0, held fixed, and w the weights of the bar's support
//   and of a level at 3/4 or 3/2 of the first choice, fitted by Newton's
//   method on the log-likelihood of the levels within 4 % of the label
//   (LABEL is a tempo in BPM, or LOW-HIGH for a piece whose tempo moves
//   between the two: a level between them less 4 % and more 4 % is right),
//   with a small ridge;
// - the confidence from the periodicity alone: logistic regression (Platt
//   1999) of "the chosen level is right" on the chosen level's height and
//   the log-odds of its share;
// - the beat phase: logistic regression of "the beats halfway between
//   those tracked lie nearer the labelled beats" on the six terms of the
//   lines "phase NAME t1 ... t6 F_TRACKED F_HALFWAY", over the files where
//   one of the two beat F-measures beats the other by more than
//   kClearPhase;
// - the confidence of a reading whose beats were tracked: logistic
//   regression of "the tempo is right" on the lines "confidence NAME RIGHT
//   share deviation rival", its terms the share's log-odds, the
//   deviation's log and 1 for no rival.
//
// Prints the weights in the order pulse/metre.cpp, pulse/calibration.cpp
// and pulse/beat_phase.cpp hold them, then the reliability tables.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kTerms = 2;
constexpr double kRidge = 0.01;
constexpr int kNewtonSteps = 60;
// pulse/metre.cpp's first eleven weights, as fitted for 2.3.0 and kept,
// in the order of its terms.
constexpr double kKeptWeights[] = {-2.023, 2.378, 10.842, -4.840, 2.035, -9.226, 2.047, 1.154, 4.845, -10.851, -1.822};
constexpr double kResonanceBpm = 120.0;
// A phase is learnt from a file only where one phase's beats clearly
// score better than the other's (elsewhere neither is on the beats: a
// wrong tempo, a tempo that drifts off the labels).
constexpr double kClearPhase = 0.1;
constexpr std::size_t kPhaseTerms = 6;
// As pulse/calibration.cpp keeps them.
constexpr double kShareMargin = 1e-6;
constexpr double kLeastDeviation = 1e-3;

using Vector = std::vector<double>;
using Matrix = std::vector<Vector>;

// One example of a logistic model: its terms (1 first, for the intercept),
// whether it is a success, and its kind.
struct Example {
    Vector terms;
    double outcome = 0.0;
    std::string kind;
    double weight = 1.0;
};

struct Level {
    Vector terms;
    double prior = 0.0;
    double height = 0.0;
    bool right = false;
};

struct File {
    std::string kind;
    double weight = 1.0;
    std::vector<Level> levels;
};

std::string kindOf(const std::string& name) { return name.substr(0, name.find(':')); }

double dot(const Vector& a, const Vector& b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += a[k] * b[k];
    return sum;
}

double logistic(double z) { return 1.0 / (1.0 + std::exp(-z)); }

// Solves a x = b by Gaussian elimination with partial pivoting.
Vector solve(Matrix a, Vector b) {
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
    Vector x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = b[i] / a[i][i];
    return x;
}

// A level of a file labelled from `low` to `high` BPM (the same for a
// steady tempo); `v` its terms from height on, as the line gives them.
Level levelOf(double low, double high, double bpm, const Vector& v) {
    const double octaves = std::log2(bpm / kResonanceBpm);
    const double kept[] = {octaves * octaves, octaves, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7],
                           v[8] > 0.0 ? 0.0 : 1.0};
    Level level;
    for (std::size_t k = 0; k < std::size(kept); ++k) level.prior += kKeptWeights[k] * kept[k];
    level.terms = {v[9], v[10]};
    level.height = v[0];
    level.right = bpm >= 0.96 * low && bpm <= 1.04 * high;
    return level;
}

// A "confidence" or "phase" line's example; false where it teaches nothing.
bool readExample(std::istringstream& in, bool phase, Example& example) {
    std::string name;
    in >> name;
    example.kind = kindOf(name);
    example.terms.assign(1, 1.0);
    if (phase) {
        for (std::size_t k = 0; k < kPhaseTerms; ++k) {
            double term = 0.0;
            in >> term;
            example.terms.push_back(term);
        }
        double tracked = 0.0;
        double halfway = 0.0;
        in >> tracked >> halfway;
        example.outcome = halfway > tracked ? 1.0 : 0.0;
        return static_cast<bool>(in) && std::fabs(halfway - tracked) > kClearPhase;
    }
    double share = 0.0;
    double deviation = 0.0;
    double rival = 0.0;
    in >> example.outcome >> share >> deviation >> rival;
    share = std::min(std::max(share, kShareMargin), 1.0 - kShareMargin);
    example.terms.insert(example.terms.end(), {std::log(share / (1.0 - share)),
                                               std::log(std::max(deviation, kLeastDeviation)), rival > 0.0 ? 0.0 : 1.0});
    return static_cast<bool>(in);
}

struct Material {
    std::vector<File> files;
    std::vector<Example> phases;
    std::vector<Example> confidences;
};

Material readMaterial() {
    Material material;
    std::string line;
    std::string last;  // the name of the file whose levels are being read
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        const bool phase = line.rfind("phase ", 0) == 0;
        if (phase || line.rfind("confidence ", 0) == 0) {
            std::string word;
            in >> word;
            Example example;
            if (readExample(in, phase, example)) (phase ? material.phases : material.confidences).push_back(example);
            continue;
        }
        std::string name;
        std::string label;
        double bpm = 0.0;
        Vector v(11);
        in >> name >> label >> bpm;
        for (double& x : v) in >> x;
        if (!in) continue;
        // A steady tempo, or LOW-HIGH.
        const std::size_t dash = label.find('-', 1);
        const double low = std::atof(label.c_str());
        const double high = dash == std::string::npos ? low : std::atof(label.c_str() + dash + 1);
        if (material.files.empty() || name != last) material.files.push_back({kindOf(name), 1.0, {}});
        last = name;
        material.files.back().levels.push_back(levelOf(std::min(low, high), std::max(low, high), bpm, v));
    }
    return material;
}

// Weights that make every kind among `items` weigh the same in all: each
// item's weight is the number of items over the number of kinds, over the
// number of items of its kind.
template <typename T>
void weighKinds(std::vector<T>& items) {
    std::map<std::string, double> counts;
    for (const T& item : items) counts[item.kind] += 1.0;
    for (T& item : items) {
        item.weight = static_cast<double>(items.size()) / static_cast<double>(counts.size()) / counts[item.kind];
    }
}

// The softmax of the levels' scores.
Vector chances(const File& file, const Vector& w) {
    Vector p;
    double top = -1e300;
    for (const Level& level : file.levels) top = std::max(top, level.prior + dot(w, level.terms));
    double total = 0.0;
    for (const Level& level : file.levels) {
        p.push_back(std::exp(level.prior + dot(w, level.terms) - top));
        total += p.back();
    }
    for (double& x : p) x /= total;
    return p;
}

// Adds `scale` times the covariance of the terms under the chances `p` to
// `hessian`, and returns their mean under `p`.
Vector addCovariance(const File& file, const Vector& p, double scale, Matrix& hessian) {
    Vector mean(kTerms, 0.0);
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t k = 0; k < kTerms; ++k) mean[k] += p[i] * file.levels[i].terms[k];
    }
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t j = 0; j < kTerms; ++j) {
            for (std::size_t k = 0; k < kTerms; ++k) {
                hessian[j][k] += scale * p[i] * (file.levels[i].terms[j] - mean[j]) * (file.levels[i].terms[k] - mean[k]);
            }
        }
    }
    return mean;
}

Vector fitLevels(const std::vector<File>& files) {
    Vector w(kTerms, 0.0);
    for (int step = 0; step < kNewtonSteps; ++step) {
        Vector gradient(kTerms, 0.0);
        Matrix hessian(kTerms, Vector(kTerms, 0.0));
        for (std::size_t k = 0; k < kTerms; ++k) {
            gradient[k] = -kRidge * w[k];
            hessian[k][k] = kRidge;
        }
        for (const File& file : files) {
            const Vector p = chances(file, w);
            Vector right(p.size(), 0.0);
            double total = 0.0;
            for (std::size_t i = 0; i < p.size(); ++i) total += file.levels[i].right ? p[i] : 0.0;
            if (!(total > 0.0)) continue;
            for (std::size_t i = 0; i < p.size(); ++i) right[i] = file.levels[i].right ? p[i] / total : 0.0;
            // The log of the right levels' chance: its gradient is the mean
            // of the terms over the right levels less their mean over all,
            // its Hessian the difference of the two covariances.
            const Vector all = addCovariance(file, p, file.weight, hessian);
            const Vector among = addCovariance(file, right, -file.weight, hessian);
            for (std::size_t k = 0; k < kTerms; ++k) gradient[k] += file.weight * (among[k] - all[k]);
        }
        const Vector move = solve(hessian, gradient);
        for (std::size_t k = 0; k < kTerms; ++k) w[k] += move[k];
    }
    return w;
}

// Logistic regression by Newton's method, the weighted mean log-likelihood
// less the small ridge on every weight but the intercept.
Vector fitLogistic(const std::vector<Example>& examples) {
    const std::size_t n = examples.front().terms.size();
    Vector w(n, 0.0);
    double total = 0.0;
    for (const Example& example : examples) total += example.weight;
    for (int step = 0; step < kNewtonSteps; ++step) {
        Vector gradient(n, 0.0);
        Matrix hessian(n, Vector(n, 0.0));
        for (const Example& example : examples) {
            const double p = logistic(dot(w, example.terms));
            const double scale = example.weight / total;
            for (std::size_t i = 0; i < n; ++i) {
                gradient[i] += scale * (example.outcome - p) * example.terms[i];
                for (std::size_t j = 0; j < n; ++j) hessian[i][j] += scale * p * (1.0 - p) * example.terms[i] * example.terms[j];
            }
        }
        for (std::size_t i = 1; i < n; ++i) {
            gradient[i] -= kRidge * w[i];
            hessian[i][i] += kRidge;
        }
        const Vector move = solve(hessian, gradient);
        for (std::size_t i = 0; i < n; ++i) w[i] += move[i];
    }
    return w;
}

// The examples built from the chosen level of each file, for the
// confidence on the periodicity alone: its height and share's log-odds.
std::vector<Example> periodicityExamples(const std::vector<File>& files, const Vector& w) {
    std::vector<Example> examples;
    for (const File& file : files) {
        const Vector p = chances(file, w);
        const std::size_t best = static_cast<std::size_t>(std::max_element(p.begin(), p.end()) - p.begin());
        const double share = std::min(std::max(p[best], kShareMargin), 1.0 - kShareMargin);
        examples.push_back({{1.0, file.levels[best].height, std::log(share / (1.0 - share))},
                            file.levels[best].right ? 1.0 : 0.0, file.kind, file.weight});
    }
    return examples;
}

// For each band of a fifth of the confidence, the files in it and the
// share of them right, and the same above 0.5.
void printReliability(const char* title, const std::vector<Example>& examples, const Vector& w) {
    double counts[5] = {};
    double rights[5] = {};
    double above = 0.0;
    double aboveRight = 0.0;
    for (const Example& example : examples) {
        const double p = logistic(dot(w, example.terms));
        const int band = std::min(4, static_cast<int>(p * 5.0));
        counts[band] += 1.0;
        rights[band] += example.outcome;
        if (p > 0.5) {
            above += 1.0;
            aboveRight += example.outcome;
        }
    }
    std::printf("%s (%zu files):", title, examples.size());
    for (int b = 0; b < 5; ++b) {
        if (counts[b] > 0.0) {
            std::printf(" %.1f-%.1f %g files %.0f%% right;", b / 5.0, (b + 1) / 5.0, counts[b], 100.0 * rights[b] / counts[b]);
        } else {
            std::printf(" %.1f-%.1f none;", b / 5.0, (b + 1) / 5.0);
        }
    }
    std::printf(" above 0.5: %g files, %.1f%% right\n", above, above > 0.0 ? 100.0 * aboveRight / above : 0.0);
}

// The items of `all` whose kind is held (`held` true) or not.
template <typename T>
std::vector<T> split(const std::vector<T>& all, const std::vector<std::string>& kinds, bool held) {
    std::vector<T> out;
    for (const T& item : all) {
        if ((std::find(kinds.begin(), kinds.end(), item.kind) != kinds.end()) == held) out.push_back(item);
    }
    return out;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> held;
    std::vector<std::string> fitted;
    for (int i = 1; i < argc; ++i) {
        const bool hold = std::strcmp(argv[i], "--hold") == 0;
        if ((!hold && std::strcmp(argv[i], "--fit") != 0) || i + 1 >= argc) {
            std::fputs("usage: fit_weights [--hold KIND]... [--fit KIND]...\n", stderr);
            return 2;
        }
        (hold ? held : fitted).emplace_back(argv[++i]);
    }
    const Material material = readMaterial();
    // --fit: every other kind is held out.
    for (const File& file : material.files) {
        if (!fitted.empty() && std::find(fitted.begin(), fitted.end(), file.kind) == fitted.end()) held.push_back(file.kind);
    }
    std::vector<File> files = split(material.files, held, false);
    std::vector<Example> confidences = split(material.confidences, held, false);
    std::vector<Example> phases = split(material.phases, held, false);
    if (files.empty() || confidences.empty()) {
        std::fputs("fit_weights: no levels or confidence lines to fit on standard input\n", stderr);
        return 2;
    }
    weighKinds(files);
    const Vector w = fitLevels(files);
    std::printf("metre weights:");
    for (double x : kKeptWeights) std::printf(" %.3f", x);
    for (double x : w) std::printf(" %.3f", x);
    std::vector<Example> periodicity = periodicityExamples(files, w);
    const Vector c = fitLogistic(periodicity);
    std::printf("\nconfidence: intercept %.4f, per height %.4f, per share log-odds %.4f\n", c[0], c[1], c[2]);
    const Vector b = fitLogistic(confidences);
    std::printf("confidence with beats: intercept %.3f, weights %.3f %.3f %.3f (%zu files)\n", b[0], b[1], b[2], b[3],
                confidences.size());
    if (!phases.empty()) {
        weighKinds(phases);
        const Vector phase = fitLogistic(phases);
        std::printf("phase: intercept %.3f, weights", phase[0]);
        for (std::size_t k = 1; k < phase.size(); ++k) std::printf(" %.3f", phase[k]);
        std::printf(" (%zu files)\n", phases.size());
    }
    printReliability("reliability, fitted on", confidences, b);
    const std::vector<Example> others = split(material.confidences, held, true);
    if (!others.empty()) printReliability("reliability, held out", others, b);
    return 0;
}
