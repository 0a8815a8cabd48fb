// The child on Windows: started with CreateProcessW, its standard output
// and error on two anonymous pipes, its standard input on NUL, and placed in
// a Job Object that kills every process in it when the job's handle closes,
// so a crash of this program, or its end by Ctrl-C, leaves no child behind.
// Anonymous pipes cannot be waited on, so all are peeked in turn, with a
// short sleep when none has anything, often enough to honour the time
// limit and a stop request. Further outputs reach the child as C runtime
// descriptors 3, 4, ...: the runtime takes the descriptors a process
// inherits from the block its parent passes in STARTUPINFO's reserved
// fields (a count, a flag byte each, then a handle each), as the runtime's
// own spawn does.

#include "platform/subprocess.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/wide_text.hpp"

namespace tempo::platform {
namespace {

constexpr DWORD kReadBuffer = 256 * 1024;
constexpr int kIdleMilliseconds = 5;
// A process that ended by an exception (an access violation, say) has an
// NTSTATUS error code as its exit code: those are reported as signals.
constexpr DWORD kExceptionCodes = 0xC0000000;

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(Handle&&) = delete;
    ~Handle() { reset(); }
    HANDLE get() const { return handle_; }
    void reset(HANDLE handle = nullptr) {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// One argument quoted by the rules the C runtime uses to split a command
// line: a path with spaces, quotes, & or % reaches the child intact
// (CreateProcessW runs no shell, so & and % mean nothing here).
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');  // before the closing quote
    return out + L"\"";
}

ExitStatus notStarted(DWORD error) { return {ExitStatus::Kind::NotStarted, error == ERROR_FILE_NOT_FOUND ? ENOENT : EIO}; }

// Reads what is waiting on `pipe` into `take`; false once the pipe is
// closed at the other end.
template <typename Take>
bool drain(HANDLE pipe, std::vector<unsigned char>& buffer, Take take) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    while (waiting > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, buffer.data(), std::min<DWORD>(waiting, kReadBuffer), &got, nullptr) || got == 0) {
            return false;
        }
        take(buffer.data(), static_cast<std::size_t>(got));
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    }
    return true;
}

// A started child: its process, the read ends of its pipes (output,
// error, then each further output), and the Job Object that kills it (and
// anything it starts) once closed.
struct StartedChild {
    Handle process;
    std::vector<Handle> pipes;
    Handle job;
};

// The C runtime's flags for an inherited descriptor: open, and a pipe.
constexpr unsigned char kRuntimeOpen = 0x01;
constexpr unsigned char kRuntimePipe = 0x08;

// The block that hands `channels` to the child as its descriptors 3, 4,
// ...; descriptors 0 to 2 are left to the standard handles.
std::vector<unsigned char> runtimeDescriptors(const std::vector<HANDLE>& channels) {
    const int count = 3 + static_cast<int>(channels.size());
    std::vector<unsigned char> block(sizeof(int) + static_cast<std::size_t>(count) * (1 + sizeof(HANDLE)), 0);
    std::memcpy(block.data(), &count, sizeof count);
    unsigned char* flags = block.data() + sizeof(int);
    unsigned char* handles = flags + count;
    for (int fd = 0; fd < count; ++fd) {
        const HANDLE handle = fd < 3 ? INVALID_HANDLE_VALUE : channels[static_cast<std::size_t>(fd - 3)];
        flags[fd] = fd < 3 ? 0 : static_cast<unsigned char>(kRuntimeOpen | kRuntimePipe);
        std::memcpy(handles + static_cast<std::size_t>(fd) * sizeof(HANDLE), &handle, sizeof handle);
    }
    return block;
}

// A new pipe whose read end (kept in `pipes`) stays here and whose write
// end (in `writeEnd`) the child inherits; 0 or the system's error code.
DWORD childPipe(std::vector<Handle>& pipes, Handle& writeEnd, DWORD bytes) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, bytes)) return GetLastError();
    pipes.emplace_back(read);
    writeEnd.reset(write);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return 0;
}

// The job that holds the child: every process in it is killed when its
// handle closes, however this process ends.
bool makeJob(Handle& job) {
    job.reset(CreateJobObjectW(nullptr, nullptr));
    if (job.get() == nullptr) return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return true;
}

// Starts the child with standard input on NUL and its output and error on
// new pipes, inside a new job; 0, or the system's error code, taken before
// anything else can change it.
DWORD startChild(const SubprocessRun& run, StartedChild& child) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Only the child's ends are inherited.
    std::vector<Handle> writeEnds(2 + run.channels);
    child.pipes.reserve(writeEnds.size());
    for (std::size_t i = 0; i < writeEnds.size(); ++i) {
        if (const DWORD error = childPipe(child.pipes, writeEnds[i], i == 0 ? static_cast<DWORD>(run.pipeBytes) : 0)) {
            return error;
        }
    }
    std::vector<HANDLE> channels;
    for (std::size_t i = 2; i < writeEnds.size(); ++i) channels.push_back(writeEnds[i].get());
    std::vector<unsigned char> descriptors = runtimeDescriptors(channels);
    const Handle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    if (!makeJob(child.job)) return GetLastError();
    std::wstring commandLine;
    for (const std::string& arg : run.args) commandLine += (commandLine.empty() ? L"" : L" ") + quoted(wideFromUtf8(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = writeEnds[0].get();
    startup.hStdError = writeEnds[1].get();
    if (run.channels > 0) {
        startup.cbReserved2 = static_cast<WORD>(descriptors.size());
        startup.lpReserved2 = descriptors.data();
    }
    PROCESS_INFORMATION process{};
    // A child inherits the error mode: one that crashes ends at once with
    // its exception code, instead of waiting on a crash dialog nobody sees
    // (or, under wine, having a debugger write its report into our pipe).
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // Started suspended, so it is in the job before it can start anything.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return GetLastError();
    }
    child.process.reset(process.hProcess);
    const Handle thread(process.hThread);
    AssignProcessToJobObject(child.job.get(), child.process.get());
    ResumeThread(thread.get());
    return 0;
}

// Keeps what fits of `count` bytes under `limit` in `text`.
void keepText(std::string& text, std::size_t limit, const unsigned char* bytes, std::size_t count) {
    const std::size_t room = limit - std::min(limit, text.size());
    text.append(reinterpret_cast<const char*>(bytes), std::min(room, count));
}

}  // namespace

std::string signalText(int signal) {
    char text[32];
    std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(signal)));
    return text;
}

ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText) {
    std::vector<std::string> channelText;
    return runSubprocess(run, errorText, channelText);
}

ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText, std::vector<std::string>& channelText) {
    errorText.clear();
    channelText.assign(run.channels, std::string());
    if (run.args.empty()) return {ExitStatus::Kind::NotStarted, ENOENT};
    StartedChild child;
    if (const DWORD error = startChild(run, child)) return notStarted(error);
    const auto stopAsked = [&run] { return run.stop != nullptr && run.stop->load(); };
    const auto deadline = std::chrono::steady_clock::now() + run.timeLimit;
    const auto end = [&child](ExitStatus::Kind kind) {
        TerminateJobObject(child.job.get(), 1);
        return ExitStatus{kind, 0};
    };
    std::vector<unsigned char> buffer(kReadBuffer);
    std::vector<bool> open(child.pipes.size(), true);
    bool wanted = true;
    for (;;) {
        if (stopAsked()) return end(ExitStatus::Kind::Interrupted);
        if (std::chrono::steady_clock::now() >= deadline) return end(ExitStatus::Kind::TimedOut);
        for (std::size_t i = 0; i < child.pipes.size(); ++i) {
            if (!open[i]) continue;
            open[i] = drain(child.pipes[i].get(), buffer, [&](const unsigned char* bytes, std::size_t count) {
                if (i == 1) {
                    keepText(errorText, run.errorLimit, bytes, count);
                } else if (i > 1) {
                    keepText(channelText[i - 2], run.channelLimit, bytes, count);
                } else if (wanted && run.output && !run.output(bytes, count)) {
                    wanted = false;
                    TerminateJobObject(child.job.get(), 1);
                }
            });
        }
        // Done once the child has ended and its pipes are empty and closed;
        // a child that closed them and lingers is still waited for.
        const bool anyOpen = std::find(open.begin(), open.end(), true) != open.end();
        const DWORD wait = anyOpen ? 0 : kIdleMilliseconds;
        if (WaitForSingleObject(child.process.get(), wait) == WAIT_OBJECT_0 && !anyOpen) break;
        // Whatever is left in the pipes is read on the next turn, and then
        // they report closed.
        std::this_thread::sleep_for(std::chrono::milliseconds(kIdleMilliseconds));
    }
    if (stopAsked()) return {ExitStatus::Kind::Interrupted, 0};
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    if (code >= kExceptionCodes) return {ExitStatus::Kind::Signalled, static_cast<int>(code)};
    return {ExitStatus::Kind::Exited, static_cast<int>(code)};
}

}  // namespace tempo::platform
