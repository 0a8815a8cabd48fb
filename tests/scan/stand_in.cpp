// A stand-in child for the subprocess tests, built for every platform the
// project builds for, so they need no shell:
//
//   stand_in exit N          ends with status N
//   stand_in out TEXT        writes TEXT to standard output, then ends with 0
//   stand_in err TEXT N      writes TEXT to standard error, then ends with N
//   stand_in zeros N         writes N zero bytes to standard output
//   stand_in hang            waits forever with its pipes open
//   stand_in close-and-hang  closes its pipes, then waits forever
//   stand_in crash           ends by a crash (an access violation on Windows,
//                            SIGABRT elsewhere)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void waitForever() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "exit" && argc > 2) return std::atoi(argv[2]);
    if (what == "out" && argc > 2) {
        std::fputs(argv[2], stdout);
        return 0;
    }
    if (what == "err" && argc > 3) {
        std::fputs(argv[2], stderr);
        return std::atoi(argv[3]);
    }
    if (what == "zeros" && argc > 2) {
        std::vector<char> block(65536, 0);
        for (long left = std::atol(argv[2]); left > 0;) {
            const std::size_t count = left < 65536 ? static_cast<std::size_t>(left) : block.size();
            if (std::fwrite(block.data(), 1, count, stdout) != count) return 1;
            left -= static_cast<long>(count);
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (what == "hang") waitForever();
    if (what == "close-and-hang") {
        std::fclose(stdout);
        std::fclose(stderr);
        waitForever();
    }
    if (what == "crash") {
#ifdef _WIN32
        // An access violation, as a crashing decoder would end.
        volatile int* nowhere = nullptr;
        return *nowhere;
#else
        // A signal no sanitizer turns into an exit status.
        std::abort();
#endif
    }
    return 2;
}
