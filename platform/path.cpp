#include "platform/path.hpp"

namespace tempo::platform {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace tempo::platform
