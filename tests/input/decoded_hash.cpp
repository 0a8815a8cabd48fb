// Prints what the in-process decoders make of each file named, one line a
// file: its name, the rate and frames decoded, how the stream ended and
// the hash of the samples, bit for bit. The same program is built for
// Linux and for Windows, and the two must print the same lines: the
// records of both systems rest on the decoders giving the same samples.
//   decoded_hash FILE...

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "input/audio_decoder.hpp"
#include "input/stream_hash.hpp"

namespace {

const char* resultName(tempo::DecodeResult result) {
    switch (result) {
        case tempo::DecodeResult::Ok: return "ok";
        case tempo::DecodeResult::EndedEarly: return "ended-early";
        case tempo::DecodeResult::NotDecodable: return "not-decodable";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const tempo::ByteSpan file{bytes.data(), bytes.size()};
        tempo::AudioDecoder decoder;
        const tempo::DecodeResult opened = tempo::openAudioDecoder(decoder, tempo::identifyContainer(file), file);
        tempo::StreamHash hash;
        std::uint64_t frames = 0;
        std::vector<float> block(4096);
        for (std::size_t got; opened == tempo::DecodeResult::Ok &&
                              (got = tempo::readAudio(decoder, block.data(), block.size())) > 0;) {
            frames += got;
            tempo::addToHash(hash, reinterpret_cast<const unsigned char*>(block.data()), got * sizeof(float));
        }
        const std::string path = argv[i];
        const std::string name = path.substr(path.find_last_of("/\\") + 1);
        std::printf("%s %" PRIu32 " %" PRIu64 " %s %016" PRIx64 "\n", name.c_str(), decoder.sampleRate, frames,
                    resultName(opened == tempo::DecodeResult::Ok ? decoder.result : opened), tempo::hashValue(hash));
    }
    return 0;
}
