#include "scan/job_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tempo::scan {
namespace {

// Later jobs finish first; results still come out in list order, with any
// number of jobs, and every job runs once.
TEST(RunJobs, DeliversInListOrderWhateverFinishesFirst) {
    for (unsigned jobs : {1U, 2U, 7U, 64U}) {
        SCOPED_TRACE(jobs);
        constexpr std::size_t kFiles = 40;
        std::atomic<int> analysed{0};
        std::vector<std::string> results(kFiles);
        std::vector<std::string> delivered;
        std::size_t lastTick = 0;
        JobPoolCalls calls;
        calls.run = [&](std::size_t index) {
            std::this_thread::sleep_for(std::chrono::microseconds((kFiles - index) * 200));
            ++analysed;
            results[index] = std::to_string(index);
            return true;
        };
        calls.deliver = [&](std::size_t index) { delivered.push_back(results[index]); };
        calls.tick = [&](std::size_t finished) { lastTick = finished; };
        const std::atomic<bool> stop{false};
        EXPECT_EQ(runJobs(kFiles, jobs, calls, stop), kFiles);
        EXPECT_EQ(analysed.load(), static_cast<int>(kFiles));
        ASSERT_EQ(delivered.size(), kFiles);
        for (std::size_t i = 0; i < kFiles; ++i) EXPECT_EQ(delivered[i], std::to_string(i));
        EXPECT_LE(lastTick, kFiles);
    }
}

// A stop while jobs are in flight: no new job starts, the job cut short is
// withheld, and every job that finished whole is still delivered in order,
// also one that finished after the cut (it may have changed a file).
TEST(RunJobs, StopsAndDeliversEveryFinishedJob) {
    std::atomic<bool> stop{false};
    std::atomic<bool> laterDone{false};
    std::vector<std::string> delivered;
    JobPoolCalls calls;
    calls.run = [&](std::size_t index) {
        if (index == 3) {
            // Cut short once job 4 runs on the other thread, which then
            // finishes whole after the stop.
            while (!laterDone.load()) std::this_thread::yield();
            stop = true;
            return false;
        }
        if (index == 4) {
            laterDone = true;
            while (!stop.load()) std::this_thread::yield();
        }
        return true;
    };
    calls.deliver = [&](std::size_t index) { delivered.push_back(std::to_string(index)); };
    EXPECT_EQ(runJobs(1000, 2, calls, stop), 4U);
    EXPECT_EQ(delivered, (std::vector<std::string>{"0", "1", "2", "4"}));
    const std::atomic<bool> none{false};
    EXPECT_EQ(runJobs(0, 4, calls, none), 0U);
}

// One job at a time: a stop delivers the finished jobs before the one cut
// short, and starts none after it.
TEST(RunJobs, StartsNothingAfterAStop) {
    std::atomic<bool> stop{false};
    std::vector<std::string> delivered;
    JobPoolCalls calls;
    calls.run = [&](std::size_t index) {
        if (index == 3) stop = true;
        return index != 3;
    };
    calls.deliver = [&](std::size_t index) { delivered.push_back(std::to_string(index)); };
    EXPECT_EQ(runJobs(1000, 1, calls, stop), 3U);
    EXPECT_EQ(delivered, (std::vector<std::string>{"0", "1", "2"}));
}

}  // namespace
}  // namespace tempo::scan
