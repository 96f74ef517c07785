#pragma once
// Sorting the rows of a copied result, in memory or through run files.
//
// Rows that fit the run limit are sorted in memory (stable). Larger sets
// are cut into runs of at most RunLimit rows; each run is sorted in memory
// and written to a run file in the private directory; the runs are then
// merged by taking, over and over, the smallest first unread row of all
// runs (the earlier run on equal keys, so the sort stays stable). Run files
// are closed and deleted on every exit path.
//
// Run file format: per row a u32 cell count, then per cell: type (1), null
// flag (1), a byte of parts present (1 integer, 2 float, 4 BCD, 8 text),
// then those present in that order: i64 integer, f64 float, the 34 stored
// BCD bytes, u32 text length and the text bytes; integers little-endian.
// A part not present is zero (the empty BCD, the empty text).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sql/sql_row.h"

namespace tarn {

struct TSortSpill {
  std::string Directory;     // where run files go ("" : the OS temporary directory)
  std::size_t RunLimit = 0;  // rows per run; 0: always in memory
};

using TRowLess = std::function<bool(const TSqlRow&, const TSqlRow&)>;

// Sorts rows by less. Returns the number of run files used (0 in memory).
std::size_t SortRows(std::vector<TSqlRow>& rows, const TRowLess& less, const TSortSpill& spill);

}  // namespace tarn
