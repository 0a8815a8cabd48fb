// The walk on Windows: FindFirstFileExW over wide paths, with the "\\?\"
// prefix so folders deeper than 260 characters are read too. Junctions and
// symbolic links to folders are not followed (so no walk can loop); links
// to files are listed; hidden and system files count like any other. Names
// come as UTF-16 and leave as UTF-8; a lone surrogate, which is no valid
// UTF-16, keeps its three-byte form, so the name can be opened again from
// the record.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "scan/library_walk.hpp"
#include "scan/library_walk_platform.hpp"

namespace tempo::scan {
namespace {

void appendCodePoint(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (std::size_t i = 0; text[i] != L'\0'; ++i) {
        unsigned code = static_cast<unsigned>(text[i]);
        const unsigned next = static_cast<unsigned>(text[i + 1]);
        if (code >= 0xD800 && code <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        appendCodePoint(out, code);
    }
    return out;
}

std::wstring wide(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        const unsigned lead = byte(i);
        unsigned code = lead;
        std::size_t length = 1;
        if (lead >= 0xF0 && i + 3 < text.size()) {
            length = 4;
            code = (lead & 0x07U) << 18 | (byte(i + 1) & 0x3FU) << 12 | (byte(i + 2) & 0x3FU) << 6 | (byte(i + 3) & 0x3FU);
        } else if (lead >= 0xE0 && i + 2 < text.size()) {
            length = 3;
            code = (lead & 0x0FU) << 12 | (byte(i + 1) & 0x3FU) << 6 | (byte(i + 2) & 0x3FU);
        } else if (lead >= 0xC0 && i + 1 < text.size()) {
            length = 2;
            code = (lead & 0x1FU) << 6 | (byte(i + 1) & 0x3FU);
        }
        i += length;
        if (code >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
    }
    return out;
}

// `path` in the form that lifts the 260-character limit: absolute, with
// backslashes, behind "\\?\".
std::wstring longForm(const std::string& path) {
    const std::wstring given = wide(path);
    if (given.rfind(L"\\\\?\\", 0) == 0) return given;
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + kPathSeparator + name;
}

}  // namespace

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(longForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void readFolder(const std::string& folder, std::vector<std::string>& files, std::vector<std::string>& pending,
                const std::function<void(const std::string&)>& warn) {
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = longForm(folder) + L"\\*";
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return;  // an empty folder
        warn("cannot read directory " + folder + ": error " + std::to_string(error));
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string path = joinPath(folder, narrow(entry.cFileName));
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // A junction or a link to a folder is left alone.
            if (!link) pending.push_back(std::move(path));
            continue;
        }
        if (hasAudioExtension(path)) files.push_back(std::move(path));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

}  // namespace tempo::scan
