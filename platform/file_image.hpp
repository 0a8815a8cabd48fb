#pragma once

// The input file as one read-only run of bytes, mapped in place and never
// copied: the whole of tempo's own contact with the file system.
// file_image_posix.cpp and file_image_win32.cpp implement it.

#include <cstddef>
#include <cstdint>

#include "input/byte_span.hpp"
#include "input/wave_check_result.hpp"
#include "platform/path.hpp"

namespace tempo {

struct FileImage {
    // First byte of the file; the whole file, and nothing past it, is
    // readable from here until closeFileImage.
    const unsigned char* bytes = nullptr;
    // Number of bytes readable from `bytes` (the file's full size).
    std::uint64_t length = 0;
    // Why the file could not be opened or mapped, as the system said it
    // (errno, or GetLastError on Windows); 0 where it did not say.
    int systemError = 0;
    // Platform handles, opaque here; zero in an image made from memory.
    std::uintptr_t fileHandle = 0;
    std::uintptr_t mappingHandle = 0;
    // Which guard watches the mapping for bytes that vanish (0: none).
    std::uintptr_t guardHandle = 0;
    // Bytes before this offset have been handed back to the system.
    std::uint64_t released = 0;
};

// Opens and maps the file read-only. Yields Ok and fills `image`, or
// OpenFailed (no such file, not a regular file, no permission),
// MappingFailed (an empty file, or no mapping could be made) or ViewFailed,
// with image.systemError set where the system gave a reason.
// If the size cannot be learnt it counts as 0, so nothing of the file is read.
WaveCheckResult openFileImage(const PathChar* path, FileImage& image);

// The image's bytes, for reading.
inline ByteSpan bytesOf(const FileImage& image) { return {image.bytes, image.length}; }

// Tells the system that the bytes before `end` will not be read again:
// their pages leave the process's memory (they stay in the system's file
// cache), so the memory of a run does not grow with the file. Reading them
// again still works and sees the same bytes. Only whole pages go; nothing
// happens for an image made from memory.
void releaseFileImageBefore(FileImage& image, std::uint64_t end);

// Installs, once per process, the guard against files cut short while
// mapped: on POSIX systems a SIGBUS handler (the previous action is kept
// for faults outside the images). The library never installs it by
// itself, since a signal handler belongs to the program: a program that
// wants fileImageLostBytes to work calls this at start, as tempo and
// tempo-scan do; without it a file truncated by another process while it
// is read ends the process with SIGBUS. Nothing to do on Windows, which
// keeps writers out of a mapped file.
void installFileImageGuard();

// Hands the `count` bytes from `first` (inside `image`) to `take(bytes,
// count)` a slice of `slice` bytes at a time, giving each slice's pages back
// to the system once it is taken, so the memory of a run does not grow with
// the file.
template <typename Take>
void readInSlices(FileImage& image, const unsigned char* first, std::uint64_t count, std::uint64_t slice,
                  Take take) {
    const auto offset = static_cast<std::uint64_t>(first - image.bytes);
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t piece = count - done < slice ? count - done : slice;
        take(first + done, static_cast<std::size_t>(piece));
        done += piece;
        releaseFileImageBefore(image, offset + done);
    }
}

// True when bytes of the image vanished while it was mapped, because
// another process truncated the file: instead of ending the process, the
// lost pages read as zeros, and whatever was computed from the image must
// be discarded. Needs installFileImageGuard; always false where the
// platform keeps writers out.
bool fileImageLostBytes(const FileImage& image);

// True when a file cut short while `image` maps it cannot end the process:
// the guard watches exactly the image's bytes (on POSIX systems, after
// installFileImageGuard and while a slot was free), or the system keeps
// writers out (Windows).
bool fileImageGuarded(const FileImage& image);

// Releases what openFileImage acquired; harmless on an image made from
// memory or already closed. The tool itself leaves this to process exit.
void closeFileImage(FileImage& image);

}  // namespace tempo
