// The file image on POSIX systems: open, fstat and a read-only mmap.
//
// Nothing stops another process from truncating a file while it is mapped
// here, and touching a page past the new end raises SIGBUS. Once a program
// installs the guard (installFileImageGuard), a handler watches every image
// that is open (there may be several, on several threads): a fault inside
// one of them maps a page of zeros over the faulting page and marks that
// image, so the reading finishes on zeros and the caller asks
// fileImageLostBytes afterwards. A fault anywhere else keeps the signal's
// previous action. The library never installs the handler by itself.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <mutex>

#include "platform/file_image.hpp"

namespace tempo {
namespace {

// Images that may be open at once under the guard; tempo-scan opens at
// most one per job.
constexpr std::size_t kGuardSlots = 1024;

// A slot's begin while it is free or being filled in: no address matches.
constexpr std::uintptr_t kSlotFree = 0;
constexpr std::uintptr_t kSlotFilling = 1;

struct GuardSlot {
    // The range is [begin, end) once begin is past kSlotFilling; begin is
    // stored last, so a handler that sees it also sees its end.
    std::atomic<std::uintptr_t> begin{kSlotFree};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lostBytes{false};
};

GuardSlot guardSlots[kGuardSlots];
struct sigaction previousBusAction {};
std::uintptr_t pageSize = 4096;
std::once_flag guardInstalled;

void onBusError(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardSlot& slot : guardSlots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin <= kSlotFilling || address < begin || address >= slot.end.load(std::memory_order_acquire)) continue;
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1U));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.lostBytes.store(true, std::memory_order_release);
            return;
        }
        break;
    }
    // Not a fault of ours: the instruction runs again under the old action,
    // and a signal sent by another process is raised again under it.
    ::sigaction(SIGBUS, &previousBusAction, nullptr);
    if (info->si_code <= 0) ::raise(SIGBUS);
}

void installGuard() {
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) pageSize = static_cast<std::uintptr_t>(page);
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
}

// A slot for [begin, begin + length), or 0 when all are taken (the image
// then goes unguarded). The range is published only once it is whole: at
// no moment does a slot claim addresses its image does not hold.
std::uintptr_t guardRange(const void* begin, std::uint64_t length) {
    const auto first = reinterpret_cast<std::uintptr_t>(begin);
    for (std::size_t i = 0; i < kGuardSlots; ++i) {
        GuardSlot& slot = guardSlots[i];
        std::uintptr_t expected = kSlotFree;
        if (!slot.begin.compare_exchange_strong(expected, kSlotFilling, std::memory_order_acq_rel)) continue;
        slot.lostBytes.store(false, std::memory_order_relaxed);
        slot.end.store(first + static_cast<std::uintptr_t>(length), std::memory_order_release);
        slot.begin.store(first, std::memory_order_release);
        return i + 1;
    }
    return 0;
}

}  // namespace

void installFileImageGuard() { std::call_once(guardInstalled, installGuard); }

WaveCheckResult openFileImage(const PathChar* path, FileImage& image) {
    image = FileImage{};
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; such
    // a file is refused below anyway.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        image.systemError = errno;
        return WaveCheckResult::OpenFailed;
    }
    image.fileHandle = static_cast<std::uintptr_t>(fd) + 1U;

    struct stat status {};
    std::uint64_t fileSize = 0;
    if (::fstat(fd, &status) == 0) {
        // Directories, FIFOs, devices and sockets have no bytes to map.
        if (!S_ISREG(status.st_mode)) return WaveCheckResult::OpenFailed;
        fileSize = static_cast<std::uint64_t>(status.st_size);
    }
    // An empty file, or one whose size is unknown, cannot be mapped.
    if (fileSize == 0) return WaveCheckResult::MappingFailed;

    void* view = ::mmap(nullptr, static_cast<std::size_t>(fileSize), PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        image.systemError = errno;
        return WaveCheckResult::MappingFailed;
    }
    // The samples are read once, front to back.
    ::posix_madvise(view, static_cast<std::size_t>(fileSize), POSIX_MADV_SEQUENTIAL);

    image.bytes = static_cast<const unsigned char*>(view);
    image.length = fileSize;
    image.mappingHandle = 1;
    image.guardHandle = guardRange(view, fileSize);
    return WaveCheckResult::Ok;
}

void releaseFileImageBefore(FileImage& image, std::uint64_t end) {
    if (image.mappingHandle == 0 || image.bytes == nullptr) return;
    if (end > image.length) end = image.length;
    const std::uint64_t page = pageSize;
    // Whole pages only: the page that holds `end` may still be read.
    const std::uint64_t from = image.released / page * page;
    const std::uint64_t to = end / page * page;
    if (to <= from) return;
    void* start = const_cast<unsigned char*>(image.bytes) + from;
#ifdef MADV_DONTNEED
    // A private read-only file mapping: the pages come back from the file
    // if they are read again.
    ::madvise(start, static_cast<std::size_t>(to - from), MADV_DONTNEED);
#else
    ::posix_madvise(start, static_cast<std::size_t>(to - from), POSIX_MADV_DONTNEED);
#endif
    image.released = to;
}

bool fileImageLostBytes(const FileImage& image) {
    if (image.guardHandle == 0) return false;
    return guardSlots[image.guardHandle - 1U].lostBytes.load(std::memory_order_acquire);
}

bool fileImageGuarded(const FileImage& image) {
    if (image.guardHandle == 0) return false;
    const GuardSlot& slot = guardSlots[image.guardHandle - 1U];
    const auto first = reinterpret_cast<std::uintptr_t>(image.bytes);
    return slot.begin.load(std::memory_order_acquire) == first &&
           slot.end.load(std::memory_order_acquire) == first + static_cast<std::uintptr_t>(image.length);
}

void closeFileImage(FileImage& image) {
    if (image.guardHandle != 0) {
        // The slot stops matching any address first, and is free for
        // another image only once its end is cleared: freed earlier, an
        // image opened on another thread in between could take it and
        // then lose its end to this store, and go unguarded.
        GuardSlot& slot = guardSlots[image.guardHandle - 1U];
        slot.begin.store(kSlotFilling, std::memory_order_release);
        slot.end.store(0, std::memory_order_release);
        slot.begin.store(kSlotFree, std::memory_order_release);
    }
    if (image.mappingHandle != 0 && image.bytes != nullptr) {
        ::munmap(const_cast<unsigned char*>(image.bytes), static_cast<std::size_t>(image.length));
    }
    if (image.fileHandle != 0) {
        ::close(static_cast<int>(image.fileHandle - 1U));
    }
    image = FileImage{};
}

}  // namespace tempo
