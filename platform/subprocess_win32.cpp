// The child on Windows: started with CreateProcessW, its standard output
// and error on two anonymous pipes, its standard input on NUL, and placed in
// a Job Object that kills every process in it when the job's handle closes,
// so a crash of this program, or its end by Ctrl-C, leaves no child behind.
// Anonymous pipes cannot be waited on, so both are peeked in turn, with a
// short sleep when neither has anything, often enough to honour the time
// limit and a stop request.

#include "platform/subprocess.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

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

// A started child: its process, the read ends of its two pipes, and the
// Job Object that kills it (and anything it starts) once closed.
struct StartedChild {
    Handle process;
    Handle out;
    Handle err;
    Handle job;
};

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
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, static_cast<DWORD>(run.pipeBytes))) return GetLastError();
    child.out.reset(outRead);
    const Handle outWriteEnd(outWrite);
    if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) return GetLastError();
    child.err.reset(errRead);
    const Handle errWriteEnd(errWrite);
    // Only the child's ends are inherited.
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    const Handle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    if (!makeJob(child.job)) return GetLastError();
    std::wstring commandLine;
    for (const std::string& arg : run.args) commandLine += (commandLine.empty() ? L"" : L" ") + quoted(wideFromUtf8(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
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

}  // namespace

std::string signalText(int signal) {
    char text[32];
    std::snprintf(text, sizeof text, "exception 0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(signal)));
    return text;
}

ExitStatus runSubprocess(const SubprocessRun& run, std::string& errorText) {
    errorText.clear();
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
    bool outOpen = true;
    bool errOpen = true;
    bool wanted = true;
    for (;;) {
        if (stopAsked()) return end(ExitStatus::Kind::Interrupted);
        if (std::chrono::steady_clock::now() >= deadline) return end(ExitStatus::Kind::TimedOut);
        if (outOpen) {
            outOpen = drain(child.out.get(), buffer, [&](const unsigned char* bytes, std::size_t count) {
                if (wanted && run.output && !run.output(bytes, count)) {
                    wanted = false;
                    TerminateJobObject(child.job.get(), 1);
                }
            });
        }
        if (errOpen) {
            errOpen = drain(child.err.get(), buffer, [&](const unsigned char* bytes, std::size_t count) {
                const std::size_t room = run.errorLimit - std::min(run.errorLimit, errorText.size());
                errorText.append(reinterpret_cast<const char*>(bytes), std::min(room, count));
            });
        }
        // Done once the child has ended and its pipes are empty and closed;
        // a child that closed them and lingers is still waited for.
        const DWORD wait = outOpen || errOpen ? 0 : kIdleMilliseconds;
        if (WaitForSingleObject(child.process.get(), wait) == WAIT_OBJECT_0 && !outOpen && !errOpen) break;
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
