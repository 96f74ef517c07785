#pragma once
// What the blob file needs of the table that owns it, and of the cursor on
// whose behalf it reads.
//
// TBlobFile sits below the shared table object and the cursor, so it reaches
// them only through these two small interfaces: the shared table implements
// TBlobOwner, the cursor implements TBlobChangeCheck. Tests implement both
// with fakes.
//
// Threads: a blob file and its owner are used by one thread at a time under
// the engine's serialisation of the shared table; none of these calls may
// re-enter the blob file except through the documented change-check path.

#include <cstdint>
#include <string_view>

namespace tarn {

class TBlobOwner {
 public:
  virtual ~TBlobOwner() = default;

  // The table is encrypted: the header and every block are scrambled on disk.
  virtual bool IsEncrypted() const = 0;

  // Session settings of the block cache: bytes of cache and blocks of cache
  // per table (start values 32768 and 8192).
  virtual std::int32_t MaxBlobBufferSize() const = 0;
  virtual std::int32_t MaxBlobBufferCount() const = 0;
  // Session setting: flush the operating system's buffers after writing.
  virtual bool ForceBufferFlush() const = 0;
  // Session setting: the cursor's full change check already ran at the start
  // of the operation, so a block-cache miss does not run it again.
  virtual bool StrictChangeDetection() const = 0;

  // The table is inside a transaction: dirty blocks must stay in memory until
  // the commit, so the cache grows instead of flushing.
  virtual bool InTransaction() const = 0;
  // Records that something was written to the table's files (the shared
  // table's data-written flag).
  virtual void MarkDataWritten() = 0;
  // Called before dirty blocks are written. The table may first write the
  // header with its write-in-progress mark (so that no block of a change
  // reaches the disk before the mark), which re-enters this blob file's
  // header write; throws what that write raises, or the table's damage error
  // when the table refuses writes. The default does nothing.
  virtual void BeforeWritingBlocks() {}

  // The next blob stamp of the data file (the counter plus one, wrapping from
  // 2147483647 back to 1); marks the data header dirty.
  virtual std::int32_t NextBlobStamp() = 0;

  // Names for the error context of raised errors ("... in the table '%s'").
  virtual std::string_view TableName() const = 0;
  virtual std::string_view DatabaseName() const = 0;
};

// The cursor's change check, run before a block is read from disk. It may
// re-read the table's headers and empty its caches (the blob file's
// DiscardBlocks included); blocks the caller still holds pinned stay valid
// (see TBlobFile::DiscardBlocks).
class TBlobChangeCheck {
 public:
  virtual ~TBlobChangeCheck() = default;
  // True when another program changed the table and the caller must start its
  // operation again.
  virtual bool TableChanged() = 0;
};

}  // namespace tarn
