// The machine on Windows: the process's affinity mask counts the CPUs;
// the environment is read wide and handed on as UTF-8.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "platform/machine.hpp"
#include "platform/wide_text.hpp"

namespace tempo::platform {

unsigned availableCpus() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (; process != 0; process &= process - 1) ++count;
    }
    return count > 0 ? count : 1;
}

std::string environmentText(const char* name) {
    const wchar_t* value = _wgetenv(wideFromUtf8(name).c_str());
    return value != nullptr ? utf8FromWide(value) : std::string();
}

}  // namespace tempo::platform
