#pragma once
// What the index file needs of the table that owns it.
//
// TIndexFile sits below the shared table object, so it reaches the table only
// through this interface: the shared table implements it, tests use a fake.
// The cursor's part (its index slot, descent path and change check) is
// TTreeContext in tree_context.h.
//
// Threads: an index file and its owner are used by one thread at a time under
// the engine's serialisation of the shared table; none of these calls may
// re-enter the index file.

#include <cstdint>
#include <string_view>

#include "engine/index/key_def.h"

namespace tarn {

// One field of the table as index definitions and keys need it.
struct TIndexFieldInfo {
  TKeyField Key;                 // type, declared size, record offset, null flag
  std::uint8_t SubType = 0;      // field subtype (22 = memo, for "Sys Text")
  std::string_view Name;         // for errors that name the field
};

class TIndexOwner {
 public:
  virtual ~TIndexOwner() = default;

  // The table is encrypted: the header and every page are scrambled on disk.
  virtual bool IsEncrypted() const = 0;

  // Session settings: bytes of index page cache per table (start value 16384;
  // each index slot keeps room for that / 8192 pages), forced flushing of the
  // operating system's buffers, and strict change detection (the cursor's full
  // change check already ran, so a cache miss does not run it again).
  virtual std::int32_t MaxIndexBufferSize() const = 0;
  virtual bool ForceBufferFlush() const = 0;
  virtual bool StrictChangeDetection() const = 0;
  // The session's private directory (with its trailing separator), or its
  // default directory when none is set: where temporary index files go.
  virtual std::string_view PrivateDir() const = 0;

  // The table is inside a transaction: dirty pages stay in memory until the
  // commit, so the cache grows instead of flushing.
  virtual bool InTransaction() const = 0;
  // Records that something was written to the table's files (the shared
  // table's data-written flag, which triggers the change broadcast).
  virtual void MarkDataWritten() = 0;
  // Called before dirty pages are written to the main file. The table may
  // first write the header with its write-in-progress mark (so that no page
  // of a change reaches the disk before the mark), which re-enters this index
  // file's header write; throws what that write raises, or the table's damage
  // error when the table refuses writes. The default does nothing.
  virtual void BeforeWritingPages() {}

  // The table's language and sort order (keys.h compares under them).
  virtual std::uint16_t LanguageId() const = 0;
  virtual std::uint16_t SortId() const = 0;
  // Number of fields of the table and field n (1-based, 1..TableFieldCount()).
  virtual int TableFieldCount() const = 0;
  virtual TIndexFieldInfo TableField(int fieldNumber) const = 0;

  // Names for the error context of raised errors ("... in the table '%s'").
  virtual std::string_view TableName() const = 0;
  virtual std::string_view DatabaseName() const = 0;
};

}  // namespace tarn
