#include "platform/subprocess.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

namespace tempo::platform {
namespace {

using Kind = ExitStatus::Kind;
using std::chrono::milliseconds;

// The stand-in child (tests/platform/stand_in.cpp), built beside this test,
// which runs in the same folder.
#ifdef _WIN32
const std::string kStandIn = "stand_in.exe";
#else
const std::string kStandIn = "./stand_in";
#endif

struct Outcome {
    ExitStatus status;
    std::string output;
    std::string error;
    milliseconds took{0};
};

Outcome runOf(std::vector<std::string> args, milliseconds limit = milliseconds(20000),
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

// Each way a child can end, with its output and its complaint; arguments
// with spaces and quotes reach it intact.
TEST(RunSubprocess, TellsHowAChildEnded) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        Kind kind;
        int detail;
        std::string output;
        std::string error;
    } cases[] = {
        {"success", {kStandIn, "exit", "0"}, Kind::Exited, 0, "", ""},
        {"failure", {kStandIn, "exit", "1"}, Kind::Exited, 1, "", ""},
        {"output", {kStandIn, "out", "a b \"c\" d\\"}, Kind::Exited, 0, "a b \"c\" d\\", ""},
        {"complaint", {kStandIn, "err", "broken & 100%", "3"}, Kind::Exited, 3, "", "broken & 100%"},
        {"no such program", {"/nonexistent/decoder"}, Kind::NotStarted, ENOENT, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = runOf(c.args);
        EXPECT_EQ(outcome.status.kind, c.kind);
        EXPECT_EQ(outcome.status.detail, c.detail);
        EXPECT_EQ(outcome.output, c.output);
        EXPECT_EQ(outcome.error, c.error);
    }
    const Outcome crash = runOf({kStandIn, "crash"});
    EXPECT_EQ(crash.status.kind, Kind::Signalled);
    EXPECT_FALSE(signalText(crash.status.detail).empty());
}

// Each further output arrives whole on its own channel, however much the
// child says on standard error meanwhile, and nothing of the complaint
// reaches a channel.
TEST(RunSubprocess, KeepsEachChannelApartFromTheComplaint) {
    const struct {
        const char* name;
        std::vector<std::string> texts;
        long complaintBytes;
    } cases[] = {
        {"one channel", {"0,a,MD5=0123456789abcdef0123456789abcdef\n"}, 0},
        {"two channels", {"first\n", "#codec_id 0: mp3\n1, 0, 0, 1152, 4608, 0x01234567\n"}, 0},
        {"a chatty child", {"listed\n", "also listed\n"}, 100000},
        {"an empty channel", {"", "second\n"}, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SubprocessRun run;
        run.args = {kStandIn, "channels", std::to_string(c.complaintBytes)};
        run.args.insert(run.args.end(), c.texts.begin(), c.texts.end());
        run.channels = c.texts.size();
        run.errorLimit = 8192;
        std::string error;
        std::vector<std::string> channels;
        const ExitStatus status = runSubprocess(run, error, channels);
        EXPECT_EQ(status.kind, Kind::Exited);
        EXPECT_EQ(status.detail, 0);
        EXPECT_EQ(channels, c.texts);
        EXPECT_EQ(error.size(), std::min<std::size_t>(8192, static_cast<std::size_t>(c.complaintBytes)));
    }
}

// A child that will not end is killed at the time limit, whether it keeps
// its pipes open or closes them and lingers.
TEST(RunSubprocess, KillsAChildAtTheTimeLimit) {
    for (const char* how : {"hang", "close-and-hang"}) {
        SCOPED_TRACE(how);
        const Outcome outcome = runOf({kStandIn, how}, milliseconds(500));
        EXPECT_EQ(outcome.status.kind, Kind::TimedOut);
        EXPECT_GE(outcome.took, milliseconds(500));
        EXPECT_LT(outcome.took, milliseconds(10000));
    }
}

// A stop request ends the child soon, even one that has closed its pipes.
TEST(RunSubprocess, StopsWhenAsked) {
    for (const char* how : {"hang", "close-and-hang"}) {
        SCOPED_TRACE(how);
        std::atomic<bool> stop{false};
        std::thread asker([&stop] {
            std::this_thread::sleep_for(milliseconds(300));
            stop.store(true);
        });
        const Outcome outcome = runOf({kStandIn, how}, milliseconds(20000), &stop);
        asker.join();
        EXPECT_EQ(outcome.status.kind, Kind::Interrupted);
        EXPECT_LT(outcome.took, milliseconds(10000));
    }
}

// A large output arrives whole; a reader that wants no more ends the child.
TEST(RunSubprocess, ReadsOutputUntilTheReaderStops) {
    const Outcome whole = runOf({kStandIn, "zeros", "3000000"});
    EXPECT_EQ(whole.status.kind, Kind::Exited);
    EXPECT_EQ(whole.output, std::string(3000000, '\0'));
    const Outcome cut = runOf({kStandIn, "zeros", "2000000000"}, milliseconds(20000), nullptr, 100000);
    EXPECT_NE(cut.status.kind, Kind::TimedOut);
    EXPECT_LT(cut.took, milliseconds(10000));
}

#ifndef _WIN32
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
#endif

}  // namespace
}  // namespace tempo::platform
