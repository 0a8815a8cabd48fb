#pragma once

// What the scan asks of the machine it runs on (machine_linux.cpp,
// machine_win32.cpp).

#include <string>

namespace tempo::platform {

// The CPUs this process may run on (what nproc prints), at least 1.
unsigned availableCpus();

// The value of the environment variable `name` as UTF-8, or empty.
std::string environmentText(const char* name);

}  // namespace tempo::platform
