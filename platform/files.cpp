#include <cstring>

#include "input/text.hpp"
#include "platform/files.hpp"

namespace tempo::platform {

std::string systemReason(int error) {
    if (const char* own = ownSystemReason(error)) return own;
    std::string reason = std::strerror(error);
    if (!reason.empty()) reason[0] = asciiLower(reason[0]);
    return reason;
}

}  // namespace tempo::platform
