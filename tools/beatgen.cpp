// beatgen: writes a 16-bit stereo WAVE file of a steady drum pattern.
//
//   beatgen BPM SAMPLE_RATE SECONDS OUTPUT.wav [OFFSET [SWING]]
//
// Kick on every beat, snare on beats 2 and 4, closed hi-hat on every eighth.
// The first beat falls OFFSET seconds in (default 0); the off-beat eighth
// falls SWING of the way from one beat to the next (default 0.5, straight;
// 0.67 is a triplet swing).
// Only +, -, * and / are used (no libm), so the same arguments give the same
// bytes on every platform and compiler.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

// sin(x) for any x, by reduction to [-pi, pi] and a Taylor polynomial; good
// to about 1e-6, which is plenty for a test signal.
double sine(double x) {
    const double turns = x / (2 * kPi);
    const double whole = static_cast<double>(static_cast<long long>(turns + (turns >= 0 ? 0.5 : -0.5)));
    double r = x - whole * 2 * kPi;
    if (r > kPi / 2) r = kPi - r;
    if (r < -kPi / 2) r = -kPi - r;
    const double r2 = r * r;
    return r * (1 - r2 / 6 * (1 - r2 / 20 * (1 - r2 / 42 * (1 - r2 / 72 * (1 - r2 / 110)))));
}

struct Noise {
    std::uint32_t state = 0x12345678U;
    double next() {
        state = state * 1664525U + 1013904223U;
        return static_cast<double>(state >> 8U) / 8388608.0 - 1.0;
    }
};

void putLe(std::vector<unsigned char>& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putId(std::vector<unsigned char>& out, const char* id) { out.insert(out.end(), id, id + 4); }

// A kick drum: a sine falling from 140 Hz to 50 Hz, decaying over ~45 ms.
void addKick(std::vector<double>& mix, std::size_t start, double rate) {
    const std::size_t length = static_cast<std::size_t>(rate * 0.18);
    double phase = 0.0;
    double amplitude = 1.0;
    const double decay = 1.0 - 1.0 / (0.045 * rate);
    for (std::size_t i = 0; i < length && start + i < mix.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double frequency = 50.0 + 90.0 / (1.0 + t * 40.0);
        phase += 2 * kPi * frequency / rate;
        mix[start + i] += 0.9 * amplitude * sine(phase);
        amplitude *= decay;
    }
}

// A noise burst (snare, or a hi-hat when `bright` takes its difference),
// decaying with time constant `tau` seconds.
void addNoiseHit(std::vector<double>& mix, std::size_t start, double rate, double seconds, double gain,
                 double tau, bool bright, Noise& noise) {
    const std::size_t length = static_cast<std::size_t>(rate * seconds);
    double amplitude = gain;
    const double decay = 1.0 - 1.0 / (tau * rate);
    double previous = 0.0;
    for (std::size_t i = 0; i < length && start + i < mix.size(); ++i) {
        const double white = noise.next();
        const double value = bright ? (white - previous) * 0.5 : white;
        previous = white;
        mix[start + i] += amplitude * value;
        amplitude *= decay;
    }
}

std::int16_t toSample(double value) {
    double scaled = value * 20000.0;
    if (scaled > 32767.0) scaled = 32767.0;
    if (scaled < -32768.0) scaled = -32768.0;
    return static_cast<std::int16_t>(scaled);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5 || argc > 7) {
        std::fputs("usage: beatgen BPM SAMPLE_RATE SECONDS OUTPUT.wav [OFFSET [SWING]]\n", stderr);
        return 2;
    }
    const double offset = argc > 5 ? std::atof(argv[5]) : 0.0;
    const double swing = argc > 6 ? std::atof(argv[6]) : 0.5;
    if (offset < 0 || swing <= 0 || swing >= 1) {
        std::fputs("beatgen: OFFSET must not be negative, SWING must lie between 0 and 1\n", stderr);
        return 2;
    }
    const double bpm = std::atof(argv[1]);
    const long rateArg = std::atol(argv[2]);
    const double seconds = std::atof(argv[3]);
    if (bpm <= 0 || rateArg <= 0 || seconds < 0) {
        std::fputs("beatgen: BPM and SAMPLE_RATE must be positive, SECONDS not negative\n", stderr);
        return 2;
    }
    const auto rate = static_cast<std::uint32_t>(rateArg);
    const double rateD = static_cast<double>(rate);
    const auto frames = static_cast<std::size_t>(seconds * rateD);
    // The data chunk's size field has 32 bits, 4 bytes per stereo pair.
    if (frames > (0xFFFFFFFFU - 36U) / 4U) {
        std::fputs("beatgen: clip too long for a WAVE file (4 GiB at most)\n", stderr);
        return 2;
    }

    std::vector<double> drums(frames, 0.0);
    std::vector<double> hats(frames, 0.0);
    Noise noise;
    const double samplesPerEighth = rateD * 60.0 / bpm / 2.0;
    for (std::size_t eighth = 0;; ++eighth) {
        // Straight and from the start unless asked otherwise: the same
        // arithmetic, and so the same bytes, as before either was offered.
        double position = static_cast<double>(eighth) * samplesPerEighth;
        if (eighth % 2 == 1 && swing != 0.5) position = (static_cast<double>(eighth - 1) + 2.0 * swing) * samplesPerEighth;
        if (offset > 0) position += offset * rateD;
        const auto start = static_cast<std::size_t>(position + 0.5);
        if (start >= frames) break;
        if (eighth % 2 == 0) addKick(drums, start, rateD);
        if (eighth % 4 == 2) addNoiseHit(drums, start, rateD, 0.15, 0.6, 0.035, false, noise);
        addNoiseHit(hats, start, rateD, 0.04, 0.25, 0.008, true, noise);
    }

    const std::uint32_t dataSize = static_cast<std::uint32_t>(frames * 4);
    std::vector<unsigned char> out;
    out.reserve(44 + dataSize);
    putId(out, "RIFF");
    putLe(out, 36 + dataSize, 4);
    putId(out, "WAVE");
    putId(out, "fmt ");
    putLe(out, 16, 4);
    putLe(out, 1, 2);
    putLe(out, 2, 2);
    putLe(out, rate, 4);
    putLe(out, rate * 4, 4);
    putLe(out, 4, 2);
    putLe(out, 16, 2);
    putId(out, "data");
    putLe(out, dataSize, 4);
    for (std::size_t i = 0; i < frames; ++i) {
        // Hats lean right, so the two channels differ.
        putLe(out, static_cast<std::uint16_t>(toSample(drums[i] + 0.6 * hats[i])), 2);
        putLe(out, static_cast<std::uint16_t>(toSample(drums[i] + 1.4 * hats[i])), 2);
    }

    std::FILE* file = std::fopen(argv[4], "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "beatgen: cannot write %s\n", argv[4]);
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "beatgen: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
