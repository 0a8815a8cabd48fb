// The file image on POSIX systems: open, fstat and a read-only mmap.

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/file_image.hpp"

namespace tempo {

WaveCheckResult openFileImage(const PathChar* path, FileImage& image) {
    image = FileImage{};
    // O_NONBLOCK keeps a FIFO without a writer from stalling the open; such
    // a file is refused below anyway.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return WaveCheckResult::OpenFailed;
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
    if (view == MAP_FAILED) return WaveCheckResult::MappingFailed;
    // The samples are read once, front to back.
    ::posix_madvise(view, static_cast<std::size_t>(fileSize), POSIX_MADV_SEQUENTIAL);

    image.bytes = static_cast<const unsigned char*>(view);
    image.length = fileSize;
    image.size = static_cast<std::uint32_t>(fileSize);
    image.mappingHandle = 1;
    return WaveCheckResult::Ok;
}

void closeFileImage(FileImage& image) {
    if (image.mappingHandle != 0 && image.bytes != nullptr) {
        ::munmap(const_cast<unsigned char*>(image.bytes), static_cast<std::size_t>(image.length));
    }
    if (image.fileHandle != 0) {
        ::close(static_cast<int>(image.fileHandle - 1U));
    }
    image = FileImage{};
}

void prepareStandardOutput() {
    // A closed pipe then fails the write with EPIPE, which the driver
    // reports through its exit status.
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace tempo
