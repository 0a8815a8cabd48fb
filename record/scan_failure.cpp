#include "record/scan_failure.hpp"

#include <cstring>

#include "input/text.hpp"
#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/subprocess.hpp"

namespace tempo::scan {
namespace {

// "<what> (<decoder>: <its complaint>)", or how the decoder ended where it
// said nothing.
std::string inDecodersWords(const char* what, const ScanError& error) {
    if (error.decoderLine.empty()) return error.decoder + " failed with status " + std::to_string(error.code);
    return std::string(what) + " (" + programName(error.decoder) + ": " + error.decoderLine + ")";
}

}  // namespace

std::string programName(const std::string& program) {
    std::string name = platform::nameOf(program);
    const std::size_t suffix = std::strlen(platform::kProgramSuffix);
    if (suffix > 0 && name.size() > suffix && asciiLower(name.substr(name.size() - suffix)) == platform::kProgramSuffix) {
        name.resize(name.size() - suffix);
    }
    return name;
}

std::string scanFailureText(const ScanError& error) {
    switch (error.failure) {
        case ScanFailure::System: return platform::systemReason(error.code);
        case ScanFailure::NotRegular: return "not a regular file";
        case ScanFailure::Shrank: return "file shrank while it was read";
        case ScanFailure::DecoderMissing: return error.decoder + " not found";
        case ScanFailure::DecoderNotRun: return "cannot run " + error.decoder + ": " + std::strerror(error.code);
        case ScanFailure::DecoderUnwatched:
            return "cannot watch " + error.decoder + ": " + platform::systemReason(error.code);
        case ScanFailure::TimedOut: return "decoding took longer than " + std::to_string(error.code) + " s";
        case ScanFailure::DecoderKilled: return error.decoder + " ended by " + platform::signalText(error.code);
        case ScanFailure::DecoderStatus: return error.decoder + " failed with status " + std::to_string(error.code);
        case ScanFailure::NotAudio: return inDecodersWords("not readable as audio", error);
        case ScanFailure::EndsEarly: return inDecodersWords("file ends early", error);
        case ScanFailure::NotWaveStream: return "decoder wrote no 16-bit stereo WAVE stream";
        case ScanFailure::TooLong: return "audio longer than a WAVE file can hold (4 GiB)";
        case ScanFailure::Empty: return "empty file";
        case ScanFailure::Boundless: return "decoder gave more audio than the file can hold";
        case ScanFailure::NoAudio: return "no audio";
    }
    return "error";
}

const char* scanFailureName(ScanFailure failure) {
    switch (failure) {
        case ScanFailure::System: return "system";
        case ScanFailure::NotRegular: return "not regular";
        case ScanFailure::Shrank: return "shrank";
        case ScanFailure::DecoderMissing: return "decoder missing";
        case ScanFailure::DecoderNotRun: return "decoder not run";
        case ScanFailure::DecoderUnwatched: return "decoder unwatched";
        case ScanFailure::TimedOut: return "timed out";
        case ScanFailure::DecoderKilled: return "decoder killed";
        case ScanFailure::DecoderStatus: return "decoder status";
        case ScanFailure::NotAudio: return "not audio";
        case ScanFailure::EndsEarly: return "ends early";
        case ScanFailure::NotWaveStream: return "not a wave stream";
        case ScanFailure::TooLong: return "too long";
        case ScanFailure::Empty: return "empty";
        case ScanFailure::Boundless: return "boundless";
        case ScanFailure::NoAudio: return "no audio";
    }
    return nullptr;
}

bool scanFailureNamed(const std::string& name, ScanFailure& failure) {
    // The enum's values run from 0 without a gap; the switch above ends them.
    for (int value = 0;; ++value) {
        const auto candidate = static_cast<ScanFailure>(value);
        const char* known = scanFailureName(candidate);
        if (known == nullptr) return false;
        if (name == known) {
            failure = candidate;
            return true;
        }
    }
}

bool failureLasts(ScanFailure failure) {
    switch (failure) {
        case ScanFailure::NotAudio:
        case ScanFailure::EndsEarly:
        case ScanFailure::TooLong:
        case ScanFailure::Empty:
        case ScanFailure::Boundless:
        case ScanFailure::NoAudio:
            return true;
        case ScanFailure::System:
        case ScanFailure::NotRegular:
        case ScanFailure::Shrank:
        case ScanFailure::DecoderMissing:
        case ScanFailure::DecoderNotRun:
        case ScanFailure::DecoderUnwatched:
        case ScanFailure::TimedOut:
        case ScanFailure::DecoderKilled:
        case ScanFailure::DecoderStatus:
        case ScanFailure::NotWaveStream:
            break;
    }
    return false;
}

}  // namespace tempo::scan
