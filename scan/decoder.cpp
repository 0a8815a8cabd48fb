// The child is started with posix_spawnp, its standard output and error on
// two pipes. The output is a WAVE stream: ffmpeg cannot go back to fill in
// the data size on a pipe, so the header is read with the stream form of
// the header check and the samples run to the end of the stream. Both
// pipes are polled, so a chatty decoder cannot block on a full error pipe,
// and the poll wakes often enough to honour the time limit and Ctrl-C.

#include "scan/decoder.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "input/wave_header.hpp"
#include "scan/descriptor.hpp"

extern char** environ;

namespace tempo::scan {
namespace {

// The largest header accepted before the samples: ffmpeg's own is 44
// bytes with metadata left out.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
// Large reads and a large pipe: the decoder writes in blocks of its own
// size rather than a packet at a time, and each wake-up takes all there is.
constexpr std::size_t kReadBuffer = 256 * 1024;
constexpr int kPipeBytes = 1024 * 1024;
constexpr std::size_t kMaxErrorText = 8192;
// The largest data chunk a WAVE file can declare, less its header.
constexpr std::uint64_t kMaxWaveData = 0xFFFFFFFFULL - 44;

bool makePipe(Descriptor& readEnd, Descriptor& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// A started child; killed and reaped if it is still running when this
// goes out of scope.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    void start(pid_t pid) { pid_ = pid; }
    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }
    // True with the wait status once the child has ended; does not block.
    bool tryWait(int& status) {
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == 0) return false;
        pid_ = -1;
        return true;
    }
    // The wait status, once.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

std::string signalName(int signal) {
    const char* name = ::strsignal(signal);
    return name != nullptr ? std::string(name) : "signal " + std::to_string(signal);
}

// Starts `argv` with standard input from /dev/null and standard output and
// error on the given pipe ends; 0 or the errno of the failure.
int spawnChild(const std::vector<std::string>& args, int outFd, int errFd, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    // The child starts with the default signal actions and none blocked,
    // whatever this process ignores or blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGBUS, SIGHUP}) sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int result = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

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
        FileImage image;
        image.bytes = header.data();
        image.length = header.size();
        image.size = static_cast<std::uint32_t>(header.size());
        WaveData wave;
        const WaveCheckResult result = checkWaveStreamHeader(image, wave);
        if (result == WaveCheckResult::DataChunkCheck && header.size() < kMaxHeaderBytes) return true;
        if (result != WaveCheckResult::Ok) {
            error = "decoder wrote no 16-bit stereo WAVE stream";
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
    Descriptor outRead, outWrite, errRead, errWrite;
    if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) {
        decoded.error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return decoded;
    }
    // "file:" keeps a name with a colon from reading as a protocol, and
    // metadata stays out of the header so it has a fixed small size;
    // "-flush_packets 0" lets the muxer fill its buffer before it writes.
    const std::vector<std::string> args = {
        settings.program, "-nostdin", "-hide_banner", "-loglevel", "error", "-i", "file:" + path,
        "-map", "0:a:0", "-acodec", "pcm_s16le", "-ac", "2", "-map_metadata", "-1", "-fflags", "+bitexact",
        "-flush_packets", "0", "-f", "wav", "pipe:1"};
    ::fcntl(outWrite.get(), F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe still works
    pid_t pid = -1;
    const int spawnError = spawnChild(args, outWrite.get(), errWrite.get(), pid);
    outWrite.reset();
    errWrite.reset();
    if (spawnError != 0) {
        decoded.error = spawnError == ENOENT ? settings.program + " not found"
                                             : "cannot run " + settings.program + ": " + std::strerror(spawnError);
        return decoded;
    }
    ChildProcess child;
    child.start(pid);
    const auto stopAsked = [&settings] { return settings.stop != nullptr && settings.stop->load(); };
    const auto interrupted = [&decoded] {
        decoded.outcome = DecodeOutcome::Interrupted;
        return std::move(decoded);
    };

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(settings.timeoutSeconds);
    std::vector<unsigned char> buffer(kReadBuffer);
    std::string errorText;
    StreamReader reader(settings.method);
    bool timedOut = false;
    bool badStream = false;
    pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (stopAsked()) return interrupted();  // the child is killed on the way out
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            child.kill();
            break;
        }
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno != EINTR) {
            child.kill();
            break;
        }
        if (ready <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                fds[i].fd = -1;
                continue;
            }
            const auto count = static_cast<std::size_t>(got);
            if (i == 1) {
                // The start of the complaint is kept: its first line names
                // the trouble.
                const std::size_t room = kMaxErrorText - std::min(kMaxErrorText, errorText.size());
                errorText.append(reinterpret_cast<const char*>(buffer.data()), std::min(room, count));
            } else if (!badStream && !reader.take(buffer.data(), count)) {
                badStream = true;
                child.kill();
            }
        }
    }
    // A child may close its output and still not end: the time limit and
    // Ctrl-C hold until it does.
    int status = 0;
    while (!timedOut && !child.tryWait(status)) {
        if (stopAsked()) return interrupted();  // the child is killed on the way out
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            child.kill();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (timedOut) status = child.wait();

    // A stop reaches the decoder too (Ctrl-C goes to the whole process
    // group): however it ended, the decode was cut short by the stop.
    if (stopAsked()) return interrupted();
    const std::string complaint = firstLine(errorText, "file:" + path + ": ");
    const std::size_t slash = settings.program.rfind('/');
    const std::string name = settings.program.substr(slash == std::string::npos ? 0 : slash + 1);
    if (timedOut) {
        decoded.error = "decoding took longer than " + std::to_string(settings.timeoutSeconds) + " s";
    } else if (badStream) {
        decoded.error = reader.error;
    } else if (WIFSIGNALED(status)) {
        decoded.error = settings.program + " ended by " + signalName(WTERMSIG(status));
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // Once the decoder has begun its output, or where it ran into the
        // end of the file, the input was audio that stopped short; else it
        // was not readable as audio at all.
        const bool cutShort = reader.headerDone || complaint.find("End of file") != std::string::npos ||
                              complaint.find("Input/output error") != std::string::npos;
        const std::string what = cutShort ? "file ends early" : "not readable as audio";
        decoded.error = !complaint.empty() ? what + " (" + name + ": " + complaint + ")"
                                           : settings.program + " failed with status " +
                                                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    } else if (!reader.headerDone) {
        decoded.error = "decoder wrote no 16-bit stereo WAVE stream";
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
