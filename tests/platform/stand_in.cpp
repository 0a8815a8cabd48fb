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
//   stand_in channels N TEXT...  writes N bytes of lines shaped like a
//                            listing to standard error, then each TEXT to
//                            descriptor 3, 4, ... in turn
//
// Called as tempo-scan calls its decoder ("-nostdin ... -i file:PATH ..."),
// it stands in for ffmpeg, as chosen by PATH's name: "hang", "linger"
// (closes its pipes, then waits), "crash", "garbage" (a complaint on
// standard error and status 1), "chatty" (the WAVE below, with a long
// complaint shaped like listings on standard error and a listing of its
// own on each listing output it is given); any other file is a WAVE
// disguised by four bytes in front (so tempo's own reading refuses it),
// written to standard output without them.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
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

// As a child that closes its pipes and lingers.
[[noreturn]] void closePipesAndWait() {
    std::fclose(stdout);
    std::fclose(stderr);
    waitForever();
}

[[noreturn]] void crash() {
#ifdef _WIN32
    // An access violation, as a crashing decoder would end. Windows gives
    // a child its parent's error mode, which tempo-scan sets so a crash
    // ends at once; wine ignores the error mode and starts its debugger,
    // which would write its report into the output pipe. A filter that
    // ends the process with the exception's code keeps it out.
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    volatile int* nowhere = nullptr;
    std::exit(*nowhere);
#else
    // A signal no sanitizer turns into an exit status.
    std::abort();
#endif
}

// Writes `text` whole to descriptor `fd`, as the C runtime has it.
bool writeTo(int fd, const std::string& text) {
#ifdef _WIN32
    _setmode(fd, _O_BINARY);
    return _write(fd, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(text.size());
#else
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
#endif
}

// Exactly `bytes` of complaint whose lines look like a listing's: a stream
// line, a frame line, a frame header, over and over.
void listingShapedComplaint(long bytes) {
    const std::string lines = "7,a,MD5=00000000000000000000000000000000\n1, 0, 0, 1152, 4608, 0x00000000\n"
                              "#codec_id 0: fake\n";
#ifdef _WIN32
    _setmode(_fileno(stderr), _O_BINARY);  // the count is of the bytes written
#endif
    for (long left = bytes; left > 0; left -= static_cast<long>(lines.size())) {
        std::fwrite(lines.data(), 1, std::min(lines.size(), static_cast<std::size_t>(left)), stderr);
    }
    std::fflush(stderr);
}

// What a chatty decoder lists on each output `pipe:N` (N from 3) that
// follows "-f FORMAT" among its arguments: one stream, or its first frames.
void listOnChannels(int argc, char* argv[]) {
    const char* format = "";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-f") == 0 && i + 1 < argc) format = argv[i + 1];
        if (std::strncmp(argv[i], "pipe:", 5) != 0 || std::atoi(argv[i] + 5) < 3) continue;
        const int fd = std::atoi(argv[i] + 5);
        if (std::strcmp(format, "streamhash") == 0) writeTo(fd, "0,a,MD5=0123456789abcdef0123456789abcdef\n");
        if (std::strcmp(format, "framecrc") == 0) {
            writeTo(fd, "#tb 0: 1/44100\n#codec_id 0: stand_in\n#tb 1: 1/44100\n#sample_rate 1: 44100\n"
                        "0, 0, 0, 1152, 417, 0x12345678\n1, 0, 0, 1152, 4608, 0x9abcdef0\n");
        }
    }
}

int decode(int argc, char* argv[]) {
    std::string path;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-i") == 0 && std::strncmp(argv[i + 1], "file:", 5) == 0) path = argv[i + 1] + 5;
    }
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    if (name.find("hang") != std::string::npos) waitForever();
    if (name.find("linger") != std::string::npos) closePipesAndWait();
    if (name.find("crash") != std::string::npos) crash();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr || name.find("garbage") != std::string::npos) {
        std::fprintf(stderr, "file:%s: Invalid data found when processing input\n", path.c_str());
        return 1;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (name.find("chatty") != std::string::npos) {
        listingShapedComplaint(100000);
        listOnChannels(argc, argv);
    }
    std::vector<char> block(65536);
    if (std::fread(block.data(), 1, 4, in) != 4) return 1;
    for (std::size_t got = 0; (got = std::fread(block.data(), 1, block.size(), in)) > 0;) {
        if (std::fwrite(block.data(), 1, got, stdout) != got) return 1;
    }
    std::fclose(in);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "-nostdin") return decode(argc, argv);
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
    if (what == "channels" && argc > 2) {
        listingShapedComplaint(std::atol(argv[2]));
        for (int i = 3; i < argc; ++i) {
            if (!writeTo(i, argv[i])) return 1;
        }
        return 0;
    }
    if (what == "hang") waitForever();
    if (what == "close-and-hang") closePipesAndWait();
    if (what == "crash") crash();
    return 2;
}
