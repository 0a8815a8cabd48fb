#include "tests/support/wave_bytes.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace tempo::testing {

void putLe(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

namespace {

void putId(Bytes& out, const std::string& id) {
    for (std::size_t i = 0; i < 4; ++i) out.push_back(i < id.size() ? static_cast<unsigned char>(id[i]) : 0);
}

}  // namespace

Bytes buildWave(const WaveLayout& layout) {
    Bytes out;
    putId(out, layout.riffId);
    putLe(out, 0, 4);  // RIFF size: never read; patched below for realism
    putId(out, layout.waveId);
    putId(out, layout.fmtId);
    putLe(out, layout.fmtSize, 4);
    putLe(out, layout.formatTag, 2);
    putLe(out, layout.channels, 2);
    putLe(out, layout.sampleRate, 4);
    putLe(out, layout.sampleRate * layout.channels * (layout.bitsPerSample / 8U), 4);
    putLe(out, static_cast<std::uint32_t>(layout.channels * (layout.bitsPerSample / 8U)), 2);
    putLe(out, layout.bitsPerSample, 2);
    // The standard fields are 16 bytes; a larger fmt chunk gets zeros, and
    // the chunk is padded to an even length.
    for (std::uint32_t i = 16; i < layout.fmtSize + (layout.fmtSize & 1U); ++i) out.push_back(0);
    for (const Chunk& chunk : layout.chunksBeforeData) {
        putId(out, chunk.id);
        putLe(out, chunk.declaredSize, 4);
        out.insert(out.end(), chunk.body.begin(), chunk.body.end());
        if (chunk.body.size() % 2 == 1) out.push_back(0);
    }
    if (layout.withDataChunk) {
        putId(out, "data");
        putLe(out, layout.overrideDataSize ? layout.declaredDataSize : static_cast<std::uint32_t>(layout.data.size()), 4);
        out.insert(out.end(), layout.data.begin(), layout.data.end());
    }
    out.insert(out.end(), layout.trailing.begin(), layout.trailing.end());
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(riffSize >> (8 * i));
    return out;
}

Bytes stereoSamples(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right) {
    const std::size_t pairs = left.size() > right.size() ? left.size() : right.size();
    Bytes out;
    out.reserve(pairs * 4);
    for (std::size_t i = 0; i < pairs; ++i) {
        putLe(out, static_cast<std::uint16_t>(i < left.size() ? left[i] : 0), 2);
        putLe(out, static_cast<std::uint16_t>(i < right.size() ? right[i] : 0), 2);
    }
    return out;
}

Bytes clickTrack(std::uint32_t frames) {
    std::vector<std::int16_t> left(static_cast<std::size_t>(frames) * 512);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<std::int16_t>((i / 512) % 43 == 0 ? 12000 - static_cast<int>(i % 512) * 20
                                                                 : static_cast<int>(i % 7) * 30);
    }
    return stereoSamples(left, {});
}

Bytes hitSamples(const std::vector<Hit>& hits, std::uint32_t rate, double seconds) {
    const auto count = static_cast<std::size_t>(seconds * rate);
    std::vector<double> mix(count, 0.0);
    std::uint32_t state = 2024;
    for (const Hit& hit : hits) {
        const auto start = static_cast<std::size_t>(hit.at * rate + 0.5);
        double phase = 0.0;
        const std::size_t length = hit.hz > 0.0 ? rate / 2 : rate / 5;
        for (std::size_t i = 0; i < length && start + i < count; ++i) {
            const double t = static_cast<double>(i) / rate;
            if (hit.hz > 0.0) {
                const double w = 2.0 * 3.141592653589793 * hit.hz * t;
                mix[start + i] += hit.gain * 0.3 * std::exp(-t / 0.25) *
                                  (std::sin(w) + 0.5 * std::sin(2.0 * w) + 0.25 * std::sin(3.0 * w));
            } else if (hit.low) {
                phase += 2.0 * 3.141592653589793 * (50.0 + 70.0 / (1.0 + 40.0 * t)) / rate;
                mix[start + i] += hit.gain * std::exp(-t / 0.05) * std::sin(phase);
            } else {
                state = state * 1664525U + 1013904223U;
                const double noise = static_cast<double>(state >> 8U) / 8388608.0 - 1.0;
                mix[start + i] += hit.gain * 0.6 * std::exp(-t / 0.02) * noise;
            }
        }
    }
    std::vector<std::int16_t> left(count);
    for (std::size_t i = 0; i < count; ++i) {
        left[i] = static_cast<std::int16_t>(std::max(-1.0, std::min(1.0, mix[i] * 0.5)) * 32000.0);
    }
    return stereoSamples(left, left);
}

std::vector<double> beatTimes(double fromBpm, double toBpm, double seconds, double phase) {
    std::vector<double> times;
    for (double at = phase; at < seconds;) {
        times.push_back(at);
        const double bpm = fromBpm + (toBpm - fromBpm) * at / seconds;
        at += 60.0 / bpm;
    }
    return times;
}

Bytes validWave(std::uint32_t frames, std::uint32_t sampleRate) {
    WaveLayout layout;
    layout.sampleRate = sampleRate;
    layout.data = clickTrack(frames);
    return buildWave(layout);
}

FileImage imageOf(const Bytes& bytes) {
    FileImage image;
    image.bytes = bytes.data();
    image.length = bytes.size();
    return image;
}

ByteSpan spanOf(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

bool writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

}  // namespace tempo::testing
