// Paths on POSIX systems: bytes, taken as they are.

#include <cerrno>
#include <cstdlib>

#include "platform/path.hpp"

namespace tempo::platform {

std::basic_string<PathChar> nativePath(const std::string& path) { return path; }

std::string realPath(const std::string& path, int& error) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        error = errno;
        return std::string();
    }
    std::string result = resolved;
    std::free(resolved);
    return result;
}

}  // namespace tempo::platform
