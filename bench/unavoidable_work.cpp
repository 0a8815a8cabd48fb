// unavoidable_work FILE: the least any exact implementation must do for a
// file, to compare a whole run of tempo against.
//
// It maps and checks the file as tempo does, makes one pass that reads
// every left sample of the whole frames (summing integer squares per frame,
// which is what tells which frames rise), and computes one sine and one
// cosine for each pair (tempo, frame) whose onset is non-zero: the only
// terms that can change the sums. Everything else tempo does (the double
// conversions, the roots, the window, the products and sums) is overhead
// measured against this.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/file_image.hpp"
#include "input/little_endian.hpp"
#include "input/wave_header.hpp"
#include "tempo/envelope.hpp"
#include "tempo/tempo_spectrum.hpp"

int main(int argc, char* argv[]) {
    if (argc < 2) return 1;
    tempo::FileImage image;
    tempo::WaveData wave;
    if (tempo::openFileImage(argv[1], image) != tempo::WaveCheckResult::Ok ||
        tempo::checkWaveHeader(tempo::bytesOf(image), wave) != tempo::WaveCheckResult::Ok) {
        return 1;
    }

    // A frame's onset is non-zero exactly when its energy exceeds the
    // previous frame's: the root and the exact scaling are monotonic.
    const std::uint32_t frames = tempo::frameCount(wave.dataSize);
    std::vector<std::uint32_t> rising;
    std::int64_t previous = 0;
    for (std::uint32_t f = 0; f < frames; ++f) {
        std::int64_t energy = 0;
        const unsigned char* frame = wave.samples + static_cast<std::uint64_t>(f) * tempo::kFrameBytes;
        for (std::uint32_t i = 0; i < tempo::kFrameLength; ++i) {
            const std::int32_t sample = tempo::sampleAt(frame + i * 4);
            energy += sample * sample;
        }
        if (f > 0 && energy > previous) rising.push_back(f);
        previous = energy;
    }

    const double frameRate = static_cast<double>(wave.sampleRate) * 0.001953125;
    double sink = 0.0;
    for (int bpm = tempo::kMinBpm; bpm <= tempo::kMaxBpm; ++bpm) {
        const double omega = bpm / 60.0 * 6.283185307179586;
        for (std::uint32_t k : rising) {
            const double theta = k * omega / frameRate;
            sink += std::sin(theta) + std::cos(theta);
        }
    }
    std::printf("%zu of %u frames contribute; %.17g\n", rising.size(), frames, sink);
    return 0;
}
