#pragma once

// Up to N jobs at once, their results passed on in list order. The pool
// knows nothing of what a job computes: each job keeps its own result,
// and the pool says when, in order, it may be taken.

#include <atomic>
#include <cstddef>
#include <functional>

namespace tempo::scan {

struct JobPoolCalls {
    // Runs job `index`; called from the worker threads. Returns false when
    // the job was cut short by the stop: its result is withheld.
    std::function<bool(std::size_t index)> run;
    // Takes the result of job `index`, in index order, each as soon as all
    // earlier ones are done; called from the calling thread only.
    std::function<void(std::size_t index)> deliver;
    // Told how many jobs have finished, now and then; calling thread.
    std::function<void(std::size_t finished)> tick;
};

// Runs jobs 0 to count - 1 on `jobs` threads. Once `stop` is set no new job
// is started, and once the running ones end, every job that finished whole
// is delivered, in order; those cut short or never started are not.
// Returns how many results were delivered.
std::size_t runJobs(std::size_t count, unsigned jobs, const JobPoolCalls& calls, const std::atomic<bool>& stop);

}  // namespace tempo::scan
