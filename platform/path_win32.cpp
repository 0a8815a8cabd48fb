// Paths on Windows: UTF-8 from the scan, wide and long (behind "\\?\")
// for the file services.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/files.hpp"
#include "platform/path.hpp"
#include "platform/wide_text.hpp"

namespace tempo::platform {

std::basic_string<PathChar> nativePath(const std::string& path) {
    const std::wstring given = wideFromUtf8(path);
    if (given.rfind(L"\\\\?\\", 0) == 0) return given;
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

namespace {

// `path` without the long form's "\\?\" ("\\?\UNC\" for a share).
std::wstring withoutLongPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

}  // namespace

std::string realPath(const std::string& path, int& error) {
    // The file or folder itself, opened for nothing but its name (a folder
    // needs backup semantics), links followed; others may do anything.
    HANDLE file = CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = errnoOfSystemError(static_cast<int>(GetLastError()));
        return std::string();
    }
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = 0;
    for (;;) {
        length = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < name.size()) break;
        name.resize(length);  // the room it needs, with its terminating zero
    }
    if (length == 0) error = errnoOfSystemError(static_cast<int>(GetLastError()));
    CloseHandle(file);
    if (length == 0) return std::string();
    name.resize(length);
    return utf8FromWide(withoutLongPrefix(name));
}

}  // namespace tempo::platform
