#pragma once

// The key an index keeps a file under: one form of its path whatever form
// the command line gave ("lib/x", "./lib/x", "lib//x", "/abs/lib/x" and a
// link to lib's folder all name one file, so they make one row). The key
// is the real path of the file's folder (absolute, every ".", ".." and
// link to a folder resolved, as the system resolves them) joined with the
// file's own name, so a link to a file in a folder stays the entry the
// walk sees there. The report goes on printing paths as they were given.

#include <map>
#include <string>

namespace tempo::scan {

class IndexKeys {
public:
    // The key of `path`. Where its folder is not there (a root that is
    // gone), the longest part of it that is there is resolved and the rest
    // is joined to it with "." and ".." taken as names of folders; "" for
    // an empty path.
    std::string keyOf(const std::string& path);

    // The key of a folder, and of what is below it: its real path (a link
    // to a folder given as a root resolved, as the files below it are).
    // Where it is not there, as keyOf.
    std::string folderKey(const std::string& folder);

private:
    // The key of each folder asked for: one system call per folder, however
    // many files it holds.
    std::map<std::string, std::string> folders_;
};

}  // namespace tempo::scan
