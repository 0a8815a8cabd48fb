#include "platform/path.hpp"

namespace tempo::platform {
namespace {

constexpr const char* kCopyMark = ".tempo-";
constexpr std::size_t kCopySuffix = 6;  // mkostemp's XXXXXX

}  // namespace

bool isSiblingCopyName(const std::string& name) {
    const std::size_t mark = name.rfind(kCopyMark);
    return name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1 &&
           name.size() == mark + std::string(kCopyMark).size() + kCopySuffix;
}

std::string siblingCopyPrefix(const std::string& name) { return "." + name + kCopyMark; }

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
