#include "scan/job_pool.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tempo::scan {
namespace {

// Joins its threads on the way out, however that is reached.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { join(); }
    template <typename Work>
    void start(unsigned count, Work work) {
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back(work);
    }
    void join() {
        for (std::thread& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }

private:
    std::vector<std::thread> threads_;
};

}  // namespace

std::size_t runJobs(std::size_t count, unsigned jobs, const JobPoolCalls& calls, const std::atomic<bool>& stop) {
    std::mutex mutex;
    std::condition_variable finishedOne;
    // Per job: not yet done, done, or cut short (withheld).
    enum class State : unsigned char { Pending, Done, CutShort };
    std::vector<State> states(count, State::Pending);
    std::size_t finished = 0;
    std::atomic<std::size_t> next{0};

    WorkerThreads workers;
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(jobs == 0 ? 1 : jobs, count));
    workers.start(threads, [&] {
        for (;;) {
            if (stop.load()) return;
            const std::size_t index = next.fetch_add(1);
            if (index >= count) return;
            const bool whole = calls.run(index);
            const std::lock_guard<std::mutex> lock(mutex);
            states[index] = whole ? State::Done : State::CutShort;
            ++finished;
            finishedOne.notify_one();
        }
    });

    std::size_t delivered = 0;
    const auto deliverReady = [&](std::unique_lock<std::mutex>& lock) {
        while (delivered < count && states[delivered] == State::Done) {
            const std::size_t index = delivered++;
            lock.unlock();
            calls.deliver(index);
            lock.lock();
        }
    };
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (delivered < count && !stop.load()) {
            finishedOne.wait_for(lock, std::chrono::milliseconds(200),
                                 [&] { return states[delivered] != State::Pending || stop.load(); });
            deliverReady(lock);
            if (calls.tick) {
                const std::size_t done = finished;
                lock.unlock();
                calls.tick(done);
                lock.lock();
            }
        }
    }
    workers.join();
    // Every job that finished is delivered, in order, past any that a stop
    // cut short: a job may have changed a file (written its tag), and a
    // change must never go unreported.
    std::size_t total = delivered;
    for (std::size_t index = delivered; index < count; ++index) {
        if (states[index] != State::Done) continue;
        calls.deliver(index);
        ++total;
    }
    return total;
}

}  // namespace tempo::scan
