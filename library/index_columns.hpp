#pragma once

// The columns of the index's table, each with how its fact is written from
// an IndexEntry and read back into one: the one place where a record's
// fields meet a row's columns (a new fact is one line there). For
// library_index.cpp, which holds the statements.

#include <sqlite3.h>

#include <string>

#include "library/library_index.hpp"

namespace tempo::scan {

// "path, device, inode, ...": the columns in their order.
std::string indexColumnNames();

// "?1, ?2, ...": one parameter for each column, in the same order.
std::string indexColumnParameters();

// Binds every column of `entry` to `statement`, whose parameters are those
// of indexColumnParameters(); what a row leaves empty stays NULL.
void bindIndexEntry(sqlite3_stmt* statement, const IndexEntry& entry);

// The entry of the row `row` holds, its columns selected as
// indexColumnNames() lists them; false where a column holds what no
// tempo-scan writes.
bool readIndexEntry(sqlite3_stmt* row, IndexEntry& entry);

}  // namespace tempo::scan
