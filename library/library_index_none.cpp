// A build without SQLite: --db is refused before any index is opened.

#include "library/library_index.hpp"

namespace tempo::scan {

bool indexAvailable() { return false; }

LibraryIndex::~LibraryIndex() = default;

void LibraryIndex::close() {}

IndexOpening LibraryIndex::open(const std::string&, int& error) {
    error = 0;
    return IndexOpening::Failed;
}

bool LibraryIndex::load(const std::vector<PathRange>&, std::vector<IndexEntry>&, IndexWriting& failure, int& error) {
    failure = IndexWriting::Failed;
    error = 0;
    return false;
}

IndexWriting LibraryIndex::write(const std::vector<IndexEntry>&, const std::vector<std::string>&, int& error) {
    error = 0;
    return IndexWriting::Failed;
}

}  // namespace tempo::scan
