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

std::string realPath(const std::string& path, int& error) {
    const std::basic_string<PathChar> native = nativePath(path);
    if (GetFileAttributesW(native.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = errnoOfSystemError(static_cast<int>(GetLastError()));
        return std::string();
    }
    return utf8FromWide(native);
}

}  // namespace tempo::platform
