#pragma once

// Up to N analyses at once, their records passed on in list order.

#include <atomic>
#include <cstddef>
#include <functional>

#include "scan/scan_record.hpp"

namespace tempo::scan {

struct JobPoolCalls {
    // Analyses file `index`; called from the worker threads.
    std::function<ScanRecord(std::size_t index)> analyse;
    // Receives every record in index order, each as soon as all earlier
    // ones are known; called from the calling thread only.
    std::function<void(const ScanRecord&)> deliver;
    // Told how many analyses have finished, now and then; calling thread.
    std::function<void(std::size_t finished)> tick;
};

// Analyses files 0 to count - 1 on `jobs` threads. Once `stop` is set no
// new file is started, and delivery ends before the first record that is
// missing or was interrupted. Returns how many records were delivered.
std::size_t runJobs(std::size_t count, unsigned jobs, const JobPoolCalls& calls, const std::atomic<bool>& stop);

}  // namespace tempo::scan
