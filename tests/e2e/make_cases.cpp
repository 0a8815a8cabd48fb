// Writes the end-to-end test inputs into the directory given as argument:
// one file for each way a header can be refused, and the edge cases of an
// accepted one. The expected outputs live beside the test definitions.

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
using tempo::testing::WaveSpec;

namespace {

Bytes wave(void (*edit)(WaveSpec&)) {
    WaveSpec spec;
    spec.data = Bytes(4096 + 100, 0x11);
    edit(spec);
    return tempo::testing::buildWave(spec);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: make_cases DIRECTORY\n", stderr);
        return 2;
    }
    const fs::path dir = fs::u8path(argv[1]);
    fs::create_directories(dir);

    const std::vector<std::pair<std::string, Bytes>> files = {
        {"empty.wav", {}},
        {"riff-only.wav", {'R', 'I', 'F', 'F'}},
        {"not-riff.wav", wave([](WaveSpec& s) { s.riffId = "RIFX"; })},
        {"not-wave.wav", wave([](WaveSpec& s) { s.waveId = "AVI "; })},
        {"not-fmt.wav", wave([](WaveSpec& s) { s.fmtId = "LIST"; })},
        {"no-data.wav", wave([](WaveSpec& s) { s.withDataChunk = false; })},
        {"eleven-chunks.wav", wave([](WaveSpec& s) {
             for (int i = 0; i < 11; ++i) s.chunksBeforeData.push_back({"JUNK", 2, {1, 2}});
         })},
        {"truncated.wav", wave([](WaveSpec& s) { s.overrideDataSize = true; s.declaredDataSize = 1000000; })},
        {"data-size-wraps.wav", wave([](WaveSpec& s) { s.overrideDataSize = true; s.declaredDataSize = 0xFFFFFFF0U; })},
        {"8bit.wav", wave([](WaveSpec& s) { s.bitsPerSample = 8; })},
        {"24bit.wav", wave([](WaveSpec& s) { s.bitsPerSample = 24; })},
        {"mono.wav", wave([](WaveSpec& s) { s.channels = 1; })},
        {"8bit-mono.wav", wave([](WaveSpec& s) { s.channels = 1; s.bitsPerSample = 8; })},
        {"short-data.wav", wave([](WaveSpec& s) { s.data.resize(4095); })},
        {"rate-zero.wav", tempo::testing::validWave(200, 0)},
        {"silent.wav", wave([](WaveSpec& s) { s.data.assign(2048 * 100, 0); })},
        {"ten-chunks-odd.wav", wave([](WaveSpec& s) {
             s.fmtSize = 18;
             for (int i = 0; i < 10; ++i) s.chunksBeforeData.push_back({"odd ", 7, Bytes(7, 9)});
             s.data = tempo::testing::validWave(400);
             s.data.erase(s.data.begin(), s.data.begin() + 44);
             s.trailing = Bytes(2047, 0x7F);
         })},
    };
    for (const auto& [name, bytes] : files) {
        if (!tempo::testing::writeFile(dir / name, bytes)) {
            std::fprintf(stderr, "make_cases: cannot write %s\n", name.c_str());
            return 1;
        }
    }

    // The same clip under a name with spaces and letters from three scripts.
    fs::copy_file(dir / "ten-chunks-odd.wav", dir / fs::u8path(u8"tempo – música テンポ.wav"),
                  fs::copy_options::overwrite_existing);

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
