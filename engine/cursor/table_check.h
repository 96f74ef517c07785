#pragma once
// The deep check of one table: every record, every key and every blob block,
// each against the others. For the verify tool, the repair and tests.
//
// CheckTable reads through an open cursor (read-only is enough) and holds the
// table's read lock for the whole check, so no writer changes the files under
// it. It does not stop at the first problem: it reports each one it finds,
// with the file concerned, a byte offset into that file and the record number
// when one applies.
//
// What it checks:
//   data   the interrupted-write mark; every record slot below
//          NextRecordNumber can be read; RecAutoInc is unique among active
//          records; the free list runs through deleted slots only, each once,
//          and ends; every deleted slot is on it.
//   index  the mark; the record count in the header; every index in use (the
//          primary index when it has key fields, each secondary index, "Sys
//          Deleted" and, when defined, "Sys Text") through the tree check; the
//          keys each tree holds against the keys the records give it: no key
//          missing, none left over, none pointing at the wrong record; no page
//          in two trees or in a tree and a free list.
//   blob   the mark; the header; the chain of every blob reference of an
//          active record (links both ways, stamps equal to the record's, first
//          block's size, full blocks but the last, the right number of
//          blocks); no block in two chains or in a chain and the free list;
//          the free list ends inside the file without a loop; no block of the
//          file is neither in a chain nor free.
// A problem that makes a part unreadable (a damaged tree, an unreadable
// record) is reported once and the rest of that part skipped; the other parts
// are still checked.
//
// Offsets: a record's offset in the data file, a page's (page x 4096) in the
// index file, a block's in the blob file, 0 for a header.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarn {

class TDataCursor;

enum class TTableFilePart : std::uint8_t { Data, Index, Blob };

// "data", "index" or "blob".
const char* TableFilePartName(TTableFilePart part);

struct TTableProblem {
  TTableFilePart File = TTableFilePart::Data;
  std::int64_t Offset = 0;
  std::int32_t RecordNo = 0;  // 0 when no record applies
  std::string Text;
};

struct TTableCheckResult {
  std::vector<TTableProblem> Problems;
  // Problems found beyond the limit (not kept).
  std::size_t MoreProblems = 0;
  std::int64_t ActiveRecords = 0;
  std::int64_t DeletedRecords = 0;
  std::int64_t Keys = 0;        // keys over every index checked
  std::int64_t BlobChains = 0;
  std::int64_t BlobBlocks = 0;  // blocks in chains
  std::int64_t FreeBlocks = 0;

  bool Clean() const { return Problems.empty() && MoreProblems == 0; }
};

// Called now and then with the fraction of the work done (0 to 1).
using TTableCheckProgress = std::function<void(double done)>;

// Checks the table of an open cursor. Keeps at most limit problems (counts
// the rest). Raises only when the table cannot be read at all (its read lock
// cannot be had, for example); damage is reported, not raised.
TTableCheckResult CheckTable(TDataCursor& cursor, const TTableCheckProgress& progress = {},
                             std::size_t limit = 1000);

}  // namespace tarn
