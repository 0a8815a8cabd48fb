// The machine on Linux: the CPU affinity mask counts the CPUs, as nproc
// does.

#include <sched.h>

#include <cstdlib>
#include <thread>

#include "platform/machine.hpp"

namespace tempo::platform {

unsigned availableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

}  // namespace tempo::platform
