#pragma once
// The small table the table harness starts from, made through the session
// layer and the lower layers the way record modification writes records.
//
// Table "Seed" (fields numbered from 1):
//   1 Name  string 16     2 Num  int32     3 Born  date     4 Notes  memo
//   5 Pic   graphic blob
// Indexes: primary on Num (unique); 1 ByName on Name (non-unique,
// case-insensitive); "Sys Deleted"; "Sys Text" over Name and Notes.
// Four records, three of them with blobs (one longer than a block), and one
// deleted record whose slot is on the free list.

#include <string>
#include <string_view>

namespace fuzzing {

inline constexpr std::string_view SeedTableName = "Seed";

// Creates the table in directory dir (which must exist and hold no table of
// that name) and closes it again. Throws ETarnEngineError.
void MakeSeedTable(const std::string& dir);

}  // namespace fuzzing
