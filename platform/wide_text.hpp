#pragma once

// Text between the UTF-16 that Windows speaks and the UTF-8 that reports
// are written in. A name that is not valid UTF-16 (a lone surrogate) keeps
// its code unit in the three-byte form UTF-8 would give it, and converts
// back to the same unit, so a path from a record opens the same file.
// Plain arithmetic, the same on every platform; each wchar_t holds one
// UTF-16 code unit.

#include <string>

namespace tempo::platform {

// UTF-16 code units as UTF-8; a surrogate pair becomes one four-byte
// sequence, a lone surrogate a three-byte one.
std::string utf8FromWide(const std::wstring& text);

// The inverse of utf8FromWide; a byte that is not part of valid UTF-8 (an
// overlong form, a code point above U+10FFFF, a sequence cut short) stands
// for itself (U+0080 to U+00FF), so no such form can smuggle a NUL or a
// separator into a Windows path.
std::wstring wideFromUtf8(const std::string& text);

}  // namespace tempo::platform
