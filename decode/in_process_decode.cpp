// The loop between an in-process decoder and the analysis: it pulls blocks
// of samples, feeds them to the analysis, hands the file's pages behind
// what the decoder has taken back to the system (so memory stays flat
// however long the file), and between blocks looks at the stop flag, the
// clock and the amount of audio, so that Ctrl-C, --timeout and a bound
// set by the file's size hold as they do for the ffmpeg child.

#include "decode/in_process_decode.hpp"

#include <chrono>
#include <limits>
#include <vector>

#include "input/audio_container.hpp"
#include "input/audio_decoder.hpp"
#include "input/stream_hash.hpp"
#include "platform/file_image.hpp"
#include "platform/path.hpp"

namespace tempo::scan {
namespace {

// Frames pulled at a time: a third of a second at 12 kHz, so the stop and
// the clock are looked at many times a second.
constexpr std::size_t kBlockFrames = 4096;
// The file's pages go back to the system a mebibyte at a time (about 45 s
// of an MP3): each release costs a system call, and with several jobs
// running, a flush of the other processors' address caches.
constexpr std::uint64_t kReleaseBytes = 1 << 20;
// The most frames a byte of any of these formats can stand for: a FLAC
// frame of one constant value holds up to 65535 samples of each channel in
// about 8 bytes (an MP3 frame at most 1152 in 24, an Opus packet 5760 at
// 48 kHz in 2). More than this is a decoder running on without its file.
constexpr std::uint64_t kMostFramesPerByte = 8192;

enum class LoopEnd { Ended, Stopped, TimedOut, TooLong };

// Pulls every block of `decoder` into `analysis` (none: the samples are
// only hashed) and, when asked, into the hash; counts the frames.
LoopEnd pullSamples(AudioDecoder& decoder, FileImage& image, TempoStream* analysis, const DecodeSettings& settings,
                    DecodedTempo& decoded, std::uint64_t& frames) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeoutSeconds);
    const std::uint64_t mostFrames = image.length > std::numeric_limits<std::uint64_t>::max() / kMostFramesPerByte
                                         ? std::numeric_limits<std::uint64_t>::max()
                                         : image.length * kMostFramesPerByte;
    std::vector<float> block(kBlockFrames * decoder.channels);
    for (;;) {
        const std::size_t count = readAudio(decoder, block.data(), kBlockFrames);
        if (count == 0) return LoopEnd::Ended;
        frames += count;
        // The decoded samples of this block, in block[0, count * channels).
        if (analysis != nullptr) feedTempoStreamSamples(*analysis, block.data(), count, decoder.channels);
        if (settings.hashAudio) {
            addToHash(decoded.audio, reinterpret_cast<const unsigned char*>(block.data()),
                      count * decoder.channels * sizeof(float));
        }
        if (decoder.consumed - image.released >= kReleaseBytes) releaseFileImageBefore(image, decoder.consumed);
        if (settings.stop != nullptr && settings.stop->load()) return LoopEnd::Stopped;
        if (std::chrono::steady_clock::now() >= deadline) return LoopEnd::TimedOut;
        if (frames > mostFrames) return LoopEnd::TooLong;
    }
}

// The failure of a loop that did not reach the stream's end.
void failAt(LoopEnd end, const DecodeSettings& settings, DecodedTempo& decoded) {
    decoded.outcome = DecodeOutcome::Failed;
    switch (end) {
        case LoopEnd::Stopped: decoded.outcome = DecodeOutcome::Interrupted; break;
        case LoopEnd::TimedOut:
            decoded.error = ScanError{ScanFailure::TimedOut, static_cast<int>(settings.timeoutSeconds), {}, {}};
            break;
        case LoopEnd::TooLong: decoded.error = ScanError{ScanFailure::Boundless, 0, {}, {}}; break;
        case LoopEnd::Ended: break;
    }
}

// As decodeInProcess, for a mapped file of a container decoded here;
// `analysis` as for pullSamples.
bool decodeImage(FileImage& image, AudioContainer container, const DecodeSettings& settings, TempoStream* analysis,
                 DecodedTempo& decoded) {
    AudioDecoder decoder;
    if (openAudioDecoder(decoder, container, bytesOf(image)) != DecodeResult::Ok) return false;
    if (analysis != nullptr) startTempoStream(*analysis, settings.method, decoder.sampleRate);
    decoded = DecodedTempo{};
    std::uint64_t frames = 0;
    const LoopEnd end = pullSamples(decoder, image, analysis, settings, decoded, frames);
    if (end != LoopEnd::Ended) {
        failAt(end, settings, decoded);
        return true;
    }
    // Refused before any audio: ffmpeg has its own words for such a file,
    // or reads what these decoders do not.
    if (frames == 0 && decoder.result != DecodeResult::Ok) return false;
    decoded.outcome = DecodeOutcome::Decoded;
    if (decoder.result != DecodeResult::Ok) decoded.complaint = "stream damaged or cut short";
    if (analysis != nullptr) decoded.reading = finishTempoStream(*analysis);
    decoded.facts.seconds = static_cast<double>(frames) / decoder.sampleRate;
    decoded.facts.sampleRate = decoder.streamRate;
    decoded.facts.channels = decoder.streamChannels;
    decoded.facts.codec = decoder.codec;
    return true;
}

// Maps `path` and decodes it here if its content is a format decoded
// here; as decodeInProcess.
bool decodeMapped(const std::string& path, const DecodeSettings& settings, TempoStream* analysis,
                  DecodedTempo& decoded) {
    FileImage image;
    bool handled = false;
    if (openFileImage(platform::nativePath(path).c_str(), image) == WaveCheckResult::Ok) {
        const AudioContainer container = identifyContainer(bytesOf(image));
        handled = decodesInProcess(container) && decodeImage(image, container, settings, analysis, decoded);
        // Zeros read where another process cut the file short.
        if (handled && fileImageLostBytes(image)) {
            decoded = DecodedTempo{};
            decoded.error = ScanError{ScanFailure::Shrank, 0, {}, {}};
        }
    }
    closeFileImage(image);
    return handled;
}

}  // namespace

bool decodeInProcess(const std::string& path, const DecodeSettings& settings, DecodedTempo& decoded) {
    if (settings.method != Method::Accurate) return false;
    TempoStream analysis;
    return decodeMapped(path, settings, &analysis, decoded);
}

bool decodeAudioInProcess(const std::string& path, const DecodeSettings& settings, DecodedTempo& decoded) {
    return decodeMapped(path, settings, nullptr, decoded);
}

}  // namespace tempo::scan
