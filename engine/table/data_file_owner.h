#pragma once
// What a data file needs of the shared table that owns it. The shared table
// object (engine/session) implements this; tests use a fake. Every call is
// cheap and never throws, except BeforeWritingRecords.

#include <cstdint>
#include <string_view>

#include "engine/table/text_case_mapper.h"

namespace tarn {

class TDataFileOwner {
 public:
  virtual ~TDataFileOwner() = default;

  // The table name that errors name (the table as the user gave it).
  virtual std::string_view TableName() const = 0;

  // Session settings.
  // Flush to the device after writing definitions and after emptying.
  virtual bool ForceBufferFlush() const = 0;
  // On: the full change check already ran at the start of the cursor
  // operation, so cache misses skip it.
  virtual bool StrictChangeDetection() const = 0;
  // Record cache size: Min(MaxDataBufferSize div RecordSize, MaxDataBufferCount).
  virtual std::int32_t MaxDataBufferSize() const = 0;
  virtual std::int32_t MaxDataBufferCount() const = 0;

  // Table state.
  // Something was written to the table's files since it was opened.
  virtual bool DataWritten() const = 0;
  virtual void SetDataWritten() = 0;
  // Called before modified records are written. The table may first write
  // the headers with their write-in-progress mark (so that no record of a
  // change reaches the disk before the mark), which re-enters this data
  // file's header write. Unlike the calls above it may throw: what that write
  // raises, or the table's damage error when the table refuses writes. The
  // default does nothing.
  virtual void BeforeWritingRecords() {}
  // The table holds the data file's transaction lock: no other program can
  // write, and the record cache must not flush to make room.
  virtual bool HoldsTransactionLock() const = 0;
  // The index file marks the table as having no primary index: records keep
  // insertion order and free slots are never reused.
  virtual bool HasNoPrimaryIndex() const = 0;

  // Language.
  // True when the collation locale (sortId << 16 | languageId) is available.
  virtual bool LocaleInstalled(std::int16_t languageId, std::int16_t sortId) const = 0;
  // The case conversion of string fields with this table's locale.
  virtual const TTextCaseMapper& CaseMapper() const = 0;
};

}  // namespace tarn
