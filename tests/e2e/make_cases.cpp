// Writes the end-to-end test inputs into the directory given as argument:
// one file for each way a header can be refused, and the edge cases of an
// accepted one. The expected outputs live beside the test definitions.
//
//   make_cases DIRECTORY          the ordinary cases (also the fuzz seeds)
//   make_cases --huge DIRECTORY   two sparse files near and past 4 GiB

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/wave_bytes.hpp"

namespace fs = std::filesystem;
using tempo::testing::Bytes;
using tempo::testing::WaveLayout;

namespace {

Bytes wave(void (*edit)(WaveLayout&)) {
    WaveLayout layout;
    layout.data = Bytes(4096 + 100, 0x11);
    edit(layout);
    return tempo::testing::buildWave(layout);
}

// Sparse files: only the header is written, the rest is a hole that reads
// as zeros and takes no disk space.
int makeHugeCases(const fs::path& dir) {
    // 4 GiB + 100 bytes: the size the header check sees is 100, so a data
    // chunk declared at its start can only be refused.
    WaveLayout past;
    past.overrideDataSize = true;
    past.declaredDataSize = 1000;
    // Just under 4 GiB with a data chunk that really is that long: 2097130
    // frames of silence, every page of which the envelope reads.
    WaveLayout under;
    under.overrideDataSize = true;
    under.declaredDataSize = 2048U * 2097130U;
    const struct {
        const char* name;
        Bytes header;
        std::uintmax_t size;
    } files[] = {
        {"past-4gib.wav", tempo::testing::buildWave(past), (std::uintmax_t{1} << 32U) + 100U},
        {"under-4gib.wav", tempo::testing::buildWave(under), 44U + std::uintmax_t{2048U} * 2097130U},
    };
    for (const auto& file : files) {
        std::error_code error;
        if (!tempo::testing::writeFile(dir / file.name, file.header)) return 1;
        fs::resize_file(dir / file.name, file.size, error);
        if (error) {
            std::fprintf(stderr, "make_cases: cannot extend %s: %s\n", file.name, error.message().c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool huge = argc == 3 && std::string(argv[1]) == "--huge";
    if (argc != 2 && !huge) {
        std::fputs("usage: make_cases [--huge] DIRECTORY\n", stderr);
        return 2;
    }
    const fs::path dir = fs::u8path(argv[argc - 1]);
    fs::create_directories(dir);
    if (huge) return makeHugeCases(dir);

    const std::vector<std::pair<std::string, Bytes>> files = {
        {"empty.wav", {}},
        {"riff-only.wav", {'R', 'I', 'F', 'F'}},
        {"not-riff.wav", wave([](WaveLayout& s) { s.riffId = "RIFX"; })},
        {"not-wave.wav", wave([](WaveLayout& s) { s.waveId = "AVI "; })},
        {"not-fmt.wav", wave([](WaveLayout& s) { s.fmtId = "LIST"; })},
        {"no-data.wav", wave([](WaveLayout& s) { s.withDataChunk = false; })},
        {"eleven-chunks.wav", wave([](WaveLayout& s) {
             for (int i = 0; i < 11; ++i) s.chunksBeforeData.push_back({"JUNK", 2, {1, 2}});
         })},
        {"truncated.wav", wave([](WaveLayout& s) { s.overrideDataSize = true; s.declaredDataSize = 1000000; })},
        {"data-size-wraps.wav", wave([](WaveLayout& s) { s.overrideDataSize = true; s.declaredDataSize = 0xFFFFFFF0U; })},
        // 36 + 8 + 0xFFFFFFEC wraps to 24 in 32 bits, where the sample rate
        // field spells "data": only a wrapped walk would accept it.
        {"chunk-walk-wraps.wav", [] {
             WaveLayout layout;
             layout.sampleRate = 0x61746164;
             layout.chunksBeforeData.push_back({"JUNK", 0xFFFFFFECU, {0, 0, 0, 0}});
             layout.data = Bytes(64, 0x22);
             Bytes bytes = tempo::testing::buildWave(layout);
             bytes[28] = 16;
             bytes[29] = bytes[30] = bytes[31] = 0;
             return bytes;
         }()},
        {"8bit.wav", wave([](WaveLayout& s) { s.bitsPerSample = 8; })},
        {"24bit.wav", wave([](WaveLayout& s) { s.bitsPerSample = 24; })},
        {"mono.wav", wave([](WaveLayout& s) { s.channels = 1; })},
        {"8bit-mono.wav", wave([](WaveLayout& s) { s.channels = 1; s.bitsPerSample = 8; })},
        {"short-data.wav", wave([](WaveLayout& s) { s.data.resize(4095); })},
        {"rate-zero.wav", tempo::testing::validWave(200, 0)},
        {"silent.wav", wave([](WaveLayout& s) { s.data.assign(2048 * 100, 0); })},
        {"ten-chunks-odd.wav", wave([](WaveLayout& s) {
             s.fmtSize = 18;
             for (int i = 0; i < 10; ++i) s.chunksBeforeData.push_back({"odd ", 7, Bytes(7, 9)});
             s.data = tempo::testing::clickTrack(400);
             s.trailing = Bytes(2047, 0x7F);
         })},
    };
    for (const auto& [name, bytes] : files) {
        if (!tempo::testing::writeFile(dir / name, bytes)) {
            std::fprintf(stderr, "make_cases: cannot write %s\n", name.c_str());
            return 1;
        }
    }

    // The same clip under a name with spaces and letters from three scripts,
    // and under one of its own for the case that holds it open for writing
    // (which would refuse it to any case running beside it).
    for (const auto& [name, bytes] : files) {
        if (name != "ten-chunks-odd.wav") continue;
        for (const fs::path& copy : {fs::u8path(u8"tempo – música テンポ.wav"), fs::path("held-open.wav")}) {
            if (!tempo::testing::writeFile(dir / copy, bytes)) return 1;
        }
    }

    std::error_code ignored;
    fs::create_directory(dir / "a-directory.wav", ignored);
#ifndef _WIN32
    // Special files that a library scan may meet.
    for (const char* name : {"fifo.wav", "dangling.wav", "to-dir.wav", "to-valid.wav"}) fs::remove(dir / name, ignored);
    if (::mkfifo((dir / "fifo.wav").c_str(), 0600) != 0) return 1;
    fs::create_symlink(dir / "nowhere.wav", dir / "dangling.wav");
    fs::create_directory_symlink(dir / "a-directory.wav", dir / "to-dir.wav");
    fs::create_symlink(dir / "ten-chunks-odd.wav", dir / "to-valid.wav");
#endif
    return 0;
}
