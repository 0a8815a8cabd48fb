// The title through TagLib's format-neutral reader: only read, never
// saved, so the file is opened read-only and its audio properties are not
// computed.

#include "tags/tag_title.hpp"

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include "platform/path.hpp"

namespace tempo::scan {

std::string titleTag(const std::string& path) {
    const std::basic_string<PathChar> native = platform::nativePath(path);
    const TagLib::FileRef file(native.c_str(), false);
    if (file.isNull() || file.tag() == nullptr) return std::string();
    return file.tag()->title().to8Bit(true);
}

}  // namespace tempo::scan
