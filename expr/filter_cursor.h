#pragma once
// What a cursor's filters ask of the cursor.
//
// Filters sit below the cursor, so they reach the table through this
// interface: record reads for evaluation, and index ranges and key counts for
// the conditions an index can answer. The cursor implements it; tests use a
// table built in a test fixture.
//
// Index slots are those of the index file: 0 primary, 1..30 secondary,
// 32 "Sys Text". Keys and ranges are in the slot's key layout (keys.h).
//
// Threads: called on the cursor's thread while it holds its table's read lock.

#include <cstdint>
#include <string_view>

#include "engine/index/key_def.h"
#include "engine/table/records_bitmap.h"
#include "expr/exp_record_source.h"

namespace tarn {

class TTextKeyBuilder;

// Outcome of reading one record for a filter.
enum class TFilterRead : std::uint8_t {
  Active,        // the record is current in RecordSource()
  Deleted,       // a free slot: no record to test
  TableChanged,  // another program changed the table; the build stops and is redone
};

class TFilterCursor {
 public:
  virtual ~TFilterCursor() = default;

  // The table's name, for error messages.
  virtual std::string_view FilterTableName() const = 0;
  // The fields of the record the last ReadFilterRecord made current.
  virtual TExpRecordSource& FilterRecordSource() = 0;
  // The highest record number of the table (NextRecordNumber - 1).
  virtual std::uint32_t HighestRecordNo() = 0;
  // RecordSize of the data file (weighs index reads against record reads).
  virtual std::uint32_t FilterRecordSize() const = 0;
  // Makes record recordNo current for FilterRecordSource().
  virtual TFilterRead ReadFilterRecord(std::uint32_t recordNo) = 0;

  // The first index (primary first, then secondary slots in order) whose
  // first key field is fieldNo and whose CaseInsensitive flag equals
  // caseInsensitive (any flag when matchCase is false); -1 when none.
  virtual int FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) = 0;
  // The key definition of a slot.
  virtual const TKeyDef& FilterKeyDef(int slot) = 0;
  // True when the slot keeps subtree counts (NoCounts 0).
  virtual bool IndexHasCounts(int slot) = 0;
  // Keys of the slot between low and high (inclusive, whole keys); -1 when
  // the slot keeps no counts.
  virtual std::int64_t CountKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high) = 0;
  // Clears bitmap, then sets the record number of every key of the slot from
  // low to high inclusive (nothing when low sorts after high). The cursor
  // switches to the slot for the walk and back afterwards, on every path.
  // False when the table changed during the walk.
  virtual bool CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high,
                               TRecordsBitmap& bitmap) = 0;
  // Number of active records.
  virtual std::int64_t FilterRecordCount() = 0;
  // Whether the table has a "Sys Text" index whose key fields include fieldNo.
  virtual bool TextIndexCovers(std::uint16_t fieldNo) = 0;
};

}  // namespace tarn
