// The decoder runs as a child process (scan/subprocess). Its output is a
// WAVE stream: ffmpeg cannot go back to fill in the data size on a pipe, so
// the header is read with the stream form of the header check and the
// samples run to the end of the stream.

#include "scan/decoder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "input/wave_header.hpp"
#include "scan/platform.hpp"
#include "scan/subprocess.hpp"

namespace tempo::scan {
namespace {

// The largest header accepted before the samples: ffmpeg's own is 44
// bytes with metadata left out.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxErrorText = 8192;
constexpr const char* kNotAWaveStream = "decoder wrote no 16-bit stereo WAVE stream";
// The largest data chunk a WAVE file can declare, less its header.
constexpr std::uint64_t kMaxWaveData = 0xFFFFFFFFULL - 44;

// The first line of the decoder's complaint, without the name of the file
// in front (the record names it already, and the name may hold a newline)
// and without the "[mp3 @ 0x55d0c0ffee00] " tag of the part that
// complained, whose address changes from run to run.
std::string firstLine(std::string text, const std::string& namePrefix) {
    if (text.compare(0, namePrefix.size(), namePrefix) == 0) text.erase(0, namePrefix.size());
    const std::size_t start = text.find_first_not_of("\r\n");
    if (start == std::string::npos) return std::string();
    std::string line = text.substr(start, text.find_first_of("\r\n", start) - start);
    const std::size_t tagEnd = line.find("] ");
    if (line[0] == '[' && tagEnd != std::string::npos && line.find(" @ 0x") < tagEnd) line.erase(0, tagEnd + 2);
    return line;
}

// The name a message gives the decoder: "ffmpeg" for /usr/bin/ffmpeg and
// for C:\ffmpeg\bin\FFMPEG.EXE alike.
std::string programName(const std::string& program) {
    const std::size_t slash = program.find_last_of(kPathSeparators);
    std::string name = program.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t suffix = std::strlen(kProgramSuffix);
    if (suffix > 0 && name.size() > suffix) {
        std::string end = name.substr(name.size() - suffix);
        std::transform(end.begin(), end.end(), end.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        if (end == kProgramSuffix) name.resize(name.size() - suffix);
    }
    return name;
}

// Collects the WAVE stream: header first, then samples into the analysis.
struct StreamReader {
    explicit StreamReader(Method chosen) : method(chosen) {}
    Method method;
    std::vector<unsigned char> header;
    bool headerDone = false;
    std::string error;
    TempoStream analysis;

    // False once the stream cannot be a 16-bit stereo WAVE.
    bool take(const unsigned char* bytes, std::size_t count) {
        if (headerDone) {
            feedTempoStream(analysis, bytes, count);
            return true;
        }
        header.insert(header.end(), bytes, bytes + count);
        WaveData wave;
        const WaveCheckResult result = checkWaveStreamHeader({header.data(), header.size()}, wave);
        if (result == WaveCheckResult::DataChunkCheck && header.size() < kMaxHeaderBytes) return true;
        if (result != WaveCheckResult::Ok) {
            error = kNotAWaveStream;
            return false;
        }
        headerDone = true;
        startTempoStream(analysis, method, wave.sampleRate);
        const std::size_t offset = static_cast<std::size_t>(wave.samples - header.data());
        feedTempoStream(analysis, header.data() + offset, header.size() - offset);
        header = std::vector<unsigned char>();
        return true;
    }
};

}  // namespace

DecodedTempo decodeTempo(const std::string& path, const DecodeSettings& settings) {
    DecodedTempo decoded;
    StreamReader reader(settings.method);
    bool badStream = false;
    SubprocessRun run;
    // "file:" keeps a name with a colon from reading as a protocol, and
    // metadata stays out of the header so it has a fixed small size;
    // "-flush_packets 0" lets the muxer fill its buffer before it writes.
    run.args = {settings.program, "-nostdin", "-hide_banner", "-loglevel", "error", "-i", "file:" + path,
                "-map", "0:a:0", "-acodec", "pcm_s16le", "-ac", "2", "-map_metadata", "-1", "-fflags", "+bitexact",
                "-flush_packets", "0", "-f", "wav", "pipe:1"};
    run.timeLimit = std::chrono::seconds(settings.timeoutSeconds);
    run.stop = settings.stop;
    run.errorLimit = kMaxErrorText;
    run.output = [&reader, &badStream](const unsigned char* bytes, std::size_t count) {
        badStream = !reader.take(bytes, count);
        return !badStream;
    };
    std::string errorText;
    const ExitStatus status = runSubprocess(run, errorText);

    const std::string complaint = firstLine(errorText, "file:" + path + ": ");
    const std::string name = programName(settings.program);
    switch (status.kind) {
        case ExitStatus::Kind::Interrupted:
            // However the child ended, the decode was cut short by the stop.
            decoded.outcome = DecodeOutcome::Interrupted;
            return decoded;
        case ExitStatus::Kind::NotStarted:
            decoded.error = status.detail == ENOENT
                                ? settings.program + " not found"
                                : "cannot run " + settings.program + ": " + std::strerror(status.detail);
            return decoded;
        case ExitStatus::Kind::TimedOut:
            decoded.error = "decoding took longer than " + std::to_string(settings.timeoutSeconds) + " s";
            return decoded;
        case ExitStatus::Kind::Signalled:
            decoded.error = badStream ? reader.error : settings.program + " ended by " + signalText(status.detail);
            return decoded;
        case ExitStatus::Kind::Exited:
            break;
    }
    if (badStream) {
        decoded.error = reader.error;
    } else if (status.detail != 0) {
        // Once the decoder has begun its output, or where it ran into the
        // end of the file, the input was audio that stopped short; else it
        // was not readable as audio at all.
        const bool cutShort = reader.headerDone || complaint.find("End of file") != std::string::npos ||
                              complaint.find("Input/output error") != std::string::npos;
        const std::string what = cutShort ? "file ends early" : "not readable as audio";
        decoded.error = !complaint.empty() ? what + " (" + name + ": " + complaint + ")"
                                           : settings.program + " failed with status " + std::to_string(status.detail);
    } else if (!reader.headerDone) {
        decoded.error = kNotAWaveStream;
    } else if (tempoStreamBytes(reader.analysis) > kMaxWaveData) {
        decoded.error = "audio longer than a WAVE file can hold (4 GiB)";
    } else {
        decoded.outcome = DecodeOutcome::Decoded;
        decoded.complained = !complaint.empty();
        decoded.reading = finishTempoStream(reader.analysis);
    }
    return decoded;
}

}  // namespace tempo::scan
