#include "scan/subprocess.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace tempo::scan {
namespace {

using Kind = ExitStatus::Kind;
using std::chrono::milliseconds;

struct Outcome {
    ExitStatus status;
    std::string output;
    std::string error;
    milliseconds took{0};
};

Outcome runOf(std::vector<std::string> args, milliseconds limit = milliseconds(10000),
              const std::atomic<bool>* stop = nullptr, std::size_t keepBytes = SIZE_MAX) {
    Outcome outcome;
    SubprocessRun run;
    run.args = std::move(args);
    run.timeLimit = limit;
    run.stop = stop;
    run.output = [&outcome, keepBytes](const unsigned char* bytes, std::size_t count) {
        outcome.output.append(reinterpret_cast<const char*>(bytes), count);
        return outcome.output.size() < keepBytes;
    };
    const auto start = std::chrono::steady_clock::now();
    outcome.status = runSubprocess(run, outcome.error);
    outcome.took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    return outcome;
}

// Ordinary programs: each way a child can end, with its output and its
// complaint.
TEST(RunSubprocess, TellsHowAChildEnded) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        Kind kind;
        int detail;
        std::string output;
        std::string error;
    } cases[] = {
        {"true", {"true"}, Kind::Exited, 0, "", ""},
        {"false", {"false"}, Kind::Exited, 1, "", ""},
        {"output and complaint", {"sh", "-c", "printf 'out'; printf 'err' >&2; exit 3"}, Kind::Exited, 3, "out", "err"},
        {"killed by a signal", {"sh", "-c", "kill -SEGV $$"}, Kind::Signalled, SIGSEGV, "", ""},
        {"no such program", {"/nonexistent/decoder"}, Kind::NotStarted, ENOENT, "", ""},
        {"standard input is empty", {"sh", "-c", "cat; echo end"}, Kind::Exited, 0, "end\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = runOf(c.args);
        EXPECT_EQ(outcome.status.kind, c.kind);
        EXPECT_EQ(outcome.status.detail, c.detail);
        EXPECT_EQ(outcome.output, c.output);
        EXPECT_EQ(outcome.error, c.error);
    }
}

// A child that will not end is killed at the time limit, whether it keeps
// its pipes open or closes them and lingers.
TEST(RunSubprocess, KillsAChildAtTheTimeLimit) {
    // Each shell replaces itself with the program, so the one process killed
    // is the one started.
    for (const char* script : {"exec sleep 30", "exec >&- 2>&-; exec sleep 30"}) {
        SCOPED_TRACE(script);
        const Outcome outcome = runOf({"sh", "-c", script}, milliseconds(300));
        EXPECT_EQ(outcome.status.kind, Kind::TimedOut);
        EXPECT_GE(outcome.took, milliseconds(300));
        EXPECT_LT(outcome.took, milliseconds(5000));
    }
}

// A stop request ends the child within a poll's wait, even one that has
// closed its pipes; a stop that came as the child died of it is still a
// stop.
TEST(RunSubprocess, StopsWhenAsked) {
    for (const char* script : {"exec sleep 30", "exec >&- 2>&-; exec sleep 30", "kill -INT $$"}) {
        SCOPED_TRACE(script);
        std::atomic<bool> stop{false};
        std::thread asker([&stop] {
            std::this_thread::sleep_for(milliseconds(200));
            stop.store(true);
        });
        const Outcome outcome = runOf({"sh", "-c", std::string("sleep 0.5; ") + script}, milliseconds(10000), &stop);
        asker.join();
        EXPECT_EQ(outcome.status.kind, Kind::Interrupted);
        EXPECT_LT(outcome.took, milliseconds(5000));
    }
}

// A child that dies of a stop signal just before this process sees its
// own stop (Ctrl-C reaches both, in either order) was interrupted; one
// that dies of it with no stop coming was signalled.
TEST(RunSubprocess, TakesAStopSignalThatArrivesFirstForTheStop) {
    std::atomic<bool> stop{false};
    std::thread asker([&stop] {
        std::this_thread::sleep_for(milliseconds(350));
        stop.store(true);
    });
    const Outcome first = runOf({"sh", "-c", "sleep 0.3; kill -INT $$"}, milliseconds(10000), &stop);
    asker.join();
    EXPECT_EQ(first.status.kind, Kind::Interrupted);
    const std::atomic<bool> never{false};
    const Outcome alone = runOf({"sh", "-c", "kill -TERM $$"}, milliseconds(10000), &never);
    EXPECT_EQ(alone.status.kind, Kind::Signalled);
    EXPECT_EQ(alone.status.detail, SIGTERM);
}

// A reader that wants no more ends the child; a large output arrives
// whole, in order.
TEST(RunSubprocess, ReadsOutputUntilTheReaderStops) {
    const Outcome whole = runOf({"sh", "-c", "head -c 3000000 /dev/zero"});
    EXPECT_EQ(whole.status.kind, Kind::Exited);
    EXPECT_EQ(whole.output.size(), 3000000U);
    const Outcome cut = runOf({"sh", "-c", "exec cat /dev/zero"}, milliseconds(10000), nullptr, 100000);
    EXPECT_EQ(cut.status.kind, Kind::Signalled);
    EXPECT_EQ(cut.status.detail, SIGKILL);
    EXPECT_LT(cut.took, milliseconds(5000));
}

}  // namespace
}  // namespace tempo::scan
