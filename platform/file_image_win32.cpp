// The file image on Windows: the file is opened for reading with others
// allowed to read but not to write it, mapped read-only as a whole, and its
// size taken from the open handle.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/file_image.hpp"

namespace tempo {

WaveCheckResult openFileImage(const PathChar* path, FileImage& image) {
    image = FileImage{};
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        image.systemError = static_cast<int>(GetLastError());
        return WaveCheckResult::OpenFailed;
    }
    image.fileHandle = reinterpret_cast<std::uintptr_t>(file);

    // An empty file cannot be mapped: this fails for it.
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        image.systemError = static_cast<int>(GetLastError());
        return WaveCheckResult::MappingFailed;
    }
    image.mappingHandle = reinterpret_cast<std::uintptr_t>(mapping);

    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        image.systemError = static_cast<int>(GetLastError());
        return WaveCheckResult::ViewFailed;
    }
    image.bytes = static_cast<const unsigned char*>(view);

    // If the size cannot be learnt it stays 0, and with it the readable
    // length: nothing of the file is read then.
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information)) {
        image.length = static_cast<std::uint64_t>(information.nFileSizeHigh) << 32U | information.nFileSizeLow;
    }
    return WaveCheckResult::Ok;
}

void releaseFileImageBefore(FileImage& image, std::uint64_t end) {
    if (image.mappingHandle == 0 || image.bytes == nullptr) return;
    if (end > image.length) end = image.length;
    if (end <= image.released) return;
    // Unlocking pages that were never locked fails, but takes them out of
    // the working set all the same; they stay in the file cache.
    VirtualUnlock(const_cast<unsigned char*>(image.bytes) + image.released,
                  static_cast<SIZE_T>(end - image.released));
    image.released = end;
}

bool fileImageGuarded(const FileImage& image) {
    // No guard is needed: the share mode keeps every writer out.
    return image.bytes != nullptr;
}

bool fileImageLostBytes(const FileImage&) {
    // The share mode keeps every writer out while the file is mapped.
    return false;
}

void closeFileImage(FileImage& image) {
    if (image.bytes != nullptr && image.mappingHandle != 0) UnmapViewOfFile(image.bytes);
    if (image.mappingHandle != 0) CloseHandle(reinterpret_cast<HANDLE>(image.mappingHandle));
    if (image.fileHandle != 0) CloseHandle(reinterpret_cast<HANDLE>(image.fileHandle));
    image = FileImage{};
}

void installFileImageGuard() {}

}  // namespace tempo
