// The decoder runs as a child process (platform/subprocess). Its output is
// a WAVE stream: ffmpeg cannot go back to fill in the data size on a pipe,
// so the header is read with the stream form of the header check and the
// samples run to the end of the stream. What the same run lists besides
// (its streams, its first frames) comes on pipes of its own, descriptors
// 3 and 4, never out of its complaints on standard error: a chatty decoder
// can neither push a listing out nor have a complaint taken for one.

#include "decode/decoder.hpp"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "input/wave_header.hpp"
#include "platform/subprocess.hpp"

namespace tempo::scan {
namespace {

// The largest header accepted before the samples: ffmpeg's own is 44
// bytes with metadata left out.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxErrorText = 8192;
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

// Whether `line` is one the streamhash output writes: "INDEX,KIND,MD5=" and
// 32 hexadecimal digits.
bool isStreamLine(const std::string& line) {
    const std::size_t comma = line.find(',');
    const std::size_t md5 = line.find(",MD5=");
    if (comma == 0 || comma == std::string::npos || md5 != comma + 2 || line.size() != md5 + 5 + 32) return false;
    return line.find_first_not_of("0123456789") == comma && line.find_first_not_of("0123456789abcdef", md5 + 5) ==
                                                                   std::string::npos;
}

// Takes the stream listing out of `text`; the rest is what else was there.
std::string takeStreamLines(const std::string& text, std::vector<std::string>& streams) {
    std::string rest;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        if (isStreamLine(line)) {
            streams.push_back(line);
        } else {
            rest += line + (end < text.size() ? "\n" : "");
        }
        at = end + 1;
    }
    return rest;
}

// What the frame listing (ffmpeg's framecrc output, written on a channel of
// its own by the run that decodes) says of stream 0, the first audio stream
// copied as it is, and stream 1, its first frame decoded to 16-bit PCM at
// its own channels: "#codec_id 0: mp3", "#tb 1: 1/44100",
// "#sample_rate 1: 44100", and frame lines "1, PTS, DTS, DURATION, SIZE,
// 0xCRC". A decoded frame of DURATION samples (the time base is one
// sample) takes 2 bytes per sample and channel.
struct FrameListing {
    std::string codec;
    std::string timeBase;
    std::string sampleRate;
    long long duration = 0;
    long long size = 0;

    // Takes `line` when it is one of the listing's; false for any other.
    bool take(const std::string& line) {
        if (line.size() > 1 && line[0] == '#') return takeHeader(line);
        const std::vector<std::string> fields = fieldsOf(line);
        if (fields.size() < 6 || !digits(fields[0]) || fields[5].size() != 10 || fields[5].compare(0, 2, "0x") != 0 ||
            fields[5].find_first_not_of("0123456789abcdef", 2) != std::string::npos) {
            return false;
        }
        for (std::size_t i = 1; i <= 4; ++i) {
            if (!digits(fields[i][0] == '-' ? fields[i].substr(1) : fields[i])) return false;
        }
        if (fields[0] == "1" && duration == 0) {
            duration = std::stoll(fields[3]);
            size = std::stoll(fields[4]);
        }
        return true;
    }

    // "#NAME: VALUE" or "#NAME N: VALUE", NAME in lower case letters and '_'.
    bool takeHeader(const std::string& line) {
        const std::size_t nameEnd = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz_", 1);
        if (nameEnd == 1 || nameEnd == std::string::npos) return false;
        std::size_t colon = nameEnd;
        if (line[colon] == ' ') colon = line.find_first_not_of("0123456789", colon + 1);
        if (colon == std::string::npos || line[colon] != ':' || (colon != nameEnd && colon == nameEnd + 1)) return false;
        const std::string key = line.substr(1, colon - 1);
        const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
        if (key == "codec_id 0") codec = value;
        if (key == "tb 1") timeBase = value;
        if (key == "sample_rate 1") sampleRate = value;
        return true;
    }

    static bool digits(const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    }

    static std::vector<std::string> fieldsOf(const std::string& line) {
        std::vector<std::string> fields;
        for (std::size_t at = 0; at <= line.size();) {
            const std::size_t end = std::min(line.find(',', at), line.size());
            const std::size_t first = line.find_first_not_of(' ', at);
            fields.push_back(first < end ? line.substr(first, end - first) : std::string());
            at = end + 1;
        }
        return fields;
    }

    // The codec, and the channels where the first frame's size gives them.
    void into(AudioFacts& facts) const {
        facts.codec = codec;
        if (duration > 0 && size % (2 * duration) == 0 && timeBase == "1/" + sampleRate) {
            facts.channels = static_cast<unsigned>(size / (2 * duration));
        }
    }
};

// Takes every line of the frame listing in `text`.
void takeFrameListing(const std::string& text, FrameListing& listing) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        listing.take(text.substr(at, end - at));
        at = end + 1;
    }
}

// Collects the WAVE stream: header first, then samples into the analysis.
struct StreamReader {
    StreamReader(Method chosen, bool analyse, bool hash) : method(chosen), analysing(analyse), hashing(hash) {}
    Method method;
    bool analysing;
    bool hashing;
    StreamHash audio;
    std::vector<unsigned char> header;
    std::uint64_t headerNeeds = 0;  // the header is checked again once this long
    bool headerDone = false;
    std::uint32_t sampleRate = 0;
    TempoStream analysis;

    void samples(const unsigned char* bytes, std::size_t count) {
        if (analysing) feedTempoStream(analysis, bytes, count);
        if (hashing) addToHash(audio, bytes, count);
    }

    // False once the stream cannot be a 16-bit stereo WAVE.
    bool take(const unsigned char* bytes, std::size_t count) {
        if (headerDone) {
            samples(bytes, count);
            return true;
        }
        header.insert(header.end(), bytes, bytes + count);
        if (header.size() < headerNeeds) return true;
        WaveData wave;
        const WaveCheckResult result = checkWaveStreamHeader({header.data(), header.size()}, wave, &headerNeeds);
        if (result == WaveCheckResult::DataChunkCheck && header.size() < kMaxHeaderBytes) return true;
        if (result != WaveCheckResult::Ok) return false;
        headerDone = true;
        sampleRate = wave.sampleRate;
        if (analysing) startTempoStream(analysis, method, wave.sampleRate);
        const std::size_t offset = static_cast<std::size_t>(wave.samples - header.data());
        samples(header.data() + offset, header.size() - offset);
        header = std::vector<unsigned char>();
        return true;
    }
};

// The failure a child's unusual end stands for, or nothing for an exit.
ScanError endingError(const platform::ExitStatus& status, const DecodeSettings& settings) {
    ScanError error{ScanFailure::DecoderStatus, status.detail, settings.program, std::string()};
    switch (status.kind) {
        case platform::ExitStatus::Kind::NotStarted:
            error.failure = status.detail == ENOENT ? ScanFailure::DecoderMissing : ScanFailure::DecoderNotRun;
            break;
        case platform::ExitStatus::Kind::WatchFailed: error.failure = ScanFailure::DecoderUnwatched; break;
        case platform::ExitStatus::Kind::TimedOut:
            error.failure = ScanFailure::TimedOut;
            error.code = static_cast<int>(settings.timeoutSeconds);
            break;
        case platform::ExitStatus::Kind::Signalled: error.failure = ScanFailure::DecoderKilled; break;
        case platform::ExitStatus::Kind::Exited:
        case platform::ExitStatus::Kind::Interrupted: break;
    }
    return error;
}

// What a run that exited on its own gave: a reading, or why not.
DecodedTempo outcomeOfExit(int exitCode, StreamReader& reader, bool badStream, AudioContainer content,
                           const DecodeSettings& settings, std::string complaint) {
    DecodedTempo decoded;
    decoded.error = {ScanFailure::NotWaveStream, exitCode, settings.program, std::string()};
    if (badStream) return decoded;
    if (exitCode != 0) {
        // Once the decoder has begun its output, or where the file's own
        // bytes are audio it knows, the input was audio that stopped
        // short; else it was not readable as audio at all.
        const bool audio = content != AudioContainer::Unknown && content != AudioContainer::Empty;
        decoded.error.failure = reader.headerDone || audio ? ScanFailure::EndsEarly : ScanFailure::NotAudio;
        decoded.error.decoderLine = std::move(complaint);
        return decoded;
    }
    if (!reader.headerDone) return decoded;
    if (reader.analysing && tempoStreamBytes(reader.analysis) > kMaxWaveData) {
        decoded.error.failure = ScanFailure::TooLong;
        return decoded;
    }
    decoded.outcome = DecodeOutcome::Decoded;
    decoded.complaint = complaint;
    if (reader.analysing) {
        decoded.facts.sampleRate = reader.sampleRate;
        if (reader.sampleRate > 0) {
            decoded.facts.seconds = static_cast<double>(tempoStreamBytes(reader.analysis) / 4) / reader.sampleRate;
        }
        decoded.reading = finishTempoStream(reader.analysis);
    }
    decoded.audio = reader.audio;
    return decoded;
}

// Where a run's listings go: the channel (an index into the run's
// further outputs) of each, or -1 where it is not asked for.
struct ListingChannels {
    int streams = -1;
    int frames = -1;
};

// The decoder's arguments for `path`: the WAVE stream on standard output,
// and the listings asked for each on a further output of its own.
ListingChannels decoderArgs(const std::string& path, const DecodeSettings& settings, bool listStreams,
                            bool describe, platform::SubprocessRun& run) {
    // "file:" keeps a name with a colon from reading as a protocol, and
    // metadata stays out of the header so it has a fixed small size;
    // "-flush_packets 0" lets the muxer fill its buffer before it writes.
    run.args = {settings.program, "-nostdin", "-hide_banner", "-loglevel", "error", "-i", "file:" + path,
                "-map", "0:a:0", "-acodec", "pcm_s16le", "-ac", "2", "-map_metadata", "-1", "-fflags", "+bitexact",
                "-flush_packets", "0", "-f", "wav", "pipe:1"};
    ListingChannels channels;
    const auto nextChannel = [&run] {
        const std::size_t index = run.channels++;
        return std::make_pair(static_cast<int>(index), "pipe:" + std::to_string(3 + index));
    };
    // Every stream, by a second output of the same run.
    if (listStreams) {
        const auto [index, pipe] = nextChannel();
        channels.streams = index;
        run.args.insert(run.args.end(), {"-map", "0", "-c", "copy", "-f", "streamhash", "-hash", "md5", pipe});
    }
    // The codec and channels, by a third output of the same run: the first
    // packet as it is and the first frame as decoded.
    if (describe) {
        const auto [index, pipe] = nextChannel();
        channels.frames = index;
        run.args.insert(run.args.end(), {"-map", "0:a:0", "-map", "0:a:0", "-c:a:0", "copy", "-c:a:1", "pcm_s16le",
                                         "-frames:a:0", "1", "-frames:a:1", "1", "-fflags", "+bitexact", "-f",
                                         "framecrc", pipe});
    }
    run.timeLimit = std::chrono::seconds(settings.timeoutSeconds);
    run.stop = settings.stop;
    run.errorLimit = kMaxErrorText;
    return channels;
}

// Runs the decoder over `path` into a reader; the reading only when
// `analyse`.
DecodedTempo runDecoder(const std::string& path, AudioContainer content, const DecodeSettings& settings,
                        bool analyse, std::vector<std::string>* streams) {
    StreamReader reader(settings.method, analyse, settings.hashAudio || !analyse);
    bool badStream = false;
    platform::SubprocessRun run;
    const ListingChannels channels = decoderArgs(path, settings, streams != nullptr, analyse && settings.describe, run);
    run.output = [&reader, &badStream](const unsigned char* bytes, std::size_t count) {
        badStream = !reader.take(bytes, count);
        return !badStream;
    };
    std::string errorText;
    std::vector<std::string> listings;
    const platform::ExitStatus status = platform::runSubprocess(run, errorText, listings);
    if (channels.streams >= 0) takeStreamLines(listings[static_cast<std::size_t>(channels.streams)], *streams);
    FrameListing listing;
    if (channels.frames >= 0) takeFrameListing(listings[static_cast<std::size_t>(channels.frames)], listing);
    DecodedTempo decoded;
    if (status.kind == platform::ExitStatus::Kind::Interrupted) {
        // However the child ended, the decode was cut short by the stop.
        decoded.outcome = DecodeOutcome::Interrupted;
    } else if (status.kind == platform::ExitStatus::Kind::Signalled && badStream) {
        decoded.error = {ScanFailure::NotWaveStream, 0, settings.program, std::string()};
    } else if (status.kind != platform::ExitStatus::Kind::Exited) {
        decoded.error = endingError(status, settings);
    } else {
        decoded = outcomeOfExit(status.detail, reader, badStream, content, settings,
                                firstLine(errorText, "file:" + path + ": "));
        if (decoded.outcome == DecodeOutcome::Decoded) listing.into(decoded.facts);
    }
    return decoded;
}

}  // namespace

DecodedTempo decodeTempo(const std::string& path, AudioContainer content, const DecodeSettings& settings) {
    DecodedTempo decoded = runDecoder(path, content, settings, true, nullptr);
    const ScanFailure failure = decoded.error.failure;
    const bool refused = failure == ScanFailure::NotAudio || failure == ScanFailure::EndsEarly ||
                         failure == ScanFailure::DecoderStatus || failure == ScanFailure::NotWaveStream;
    if (decoded.outcome != DecodeOutcome::Failed || !settings.describe || !refused) return decoded;
    // The record must not depend on whether the file was described: a run
    // the decoder refused is made again as a run that does not describe
    // would be (not one that hung or was killed, which would only do so
    // again).
    DecodeSettings plain = settings;
    plain.describe = false;
    return runDecoder(path, content, plain, true, nullptr);
}

DecodedTempo decodeAudio(const std::string& path, AudioContainer content, const DecodeSettings& settings,
                         std::vector<std::string>* streams) {
    return runDecoder(path, content, settings, false, streams);
}

bool listStreams(const std::string& path, const DecodeSettings& settings, std::vector<std::string>& streams,
                 ScanError& error) {
    platform::SubprocessRun run;
    run.args = {settings.program, "-nostdin", "-hide_banner", "-loglevel", "error", "-i", "file:" + path,
                "-map", "0", "-c", "copy", "-f", "streamhash", "-hash", "md5", "pipe:1"};
    run.timeLimit = std::chrono::seconds(settings.timeoutSeconds);
    run.stop = settings.stop;
    run.errorLimit = kMaxErrorText;
    std::string listing;
    run.output = [&listing](const unsigned char* bytes, std::size_t count) {
        listing.append(reinterpret_cast<const char*>(bytes), count);
        return listing.size() <= kMaxErrorText;
    };
    std::string errorText;
    const platform::ExitStatus status = platform::runSubprocess(run, errorText);
    if (status.kind != platform::ExitStatus::Kind::Exited) {
        error = endingError(status, settings);
        return false;
    }
    error = {ScanFailure::DecoderStatus, status.detail, settings.program, firstLine(errorText, "file:" + path + ": ")};
    if (status.detail != 0 || !error.decoderLine.empty()) return false;
    streams.clear();
    const std::string rest = takeStreamLines(listing, streams);
    return !streams.empty() && rest.find_first_not_of('\n') == std::string::npos;
}

}  // namespace tempo::scan
