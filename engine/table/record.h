#pragma once
// One record buffer of a data file's record cache, and the pool of spare
// buffers.
//
// TRecord holds the plain bytes of one record (record_layout.h) for record
// number FRecordNo, whether they differ from the disk copy (FModified), how
// many users hold it (FPinCount: a pinned buffer is never evicted, flushed or
// reused), its place in the cache's most-recently-used chain (FOlder,
// FNewer) and a sort-key buffer for table maintenance and the SQL engine.
// The buffer's bytes are always plain: LoadFrom descrambles the raw disk
// image and StoreTo scrambles the copy it writes, for encrypted tables.
//
// Every setter that marks a buffer modified goes through MarkModified: a
// buffer held in a data file's cache then joins that cache's list of
// modified buffers (TDataFile keeps it), so flushes visit only those.
//
// Threads: a record belongs to its data file's cache and is used under the
// table's locks, one thread at a time.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/table/field_desc.h"
#include "engine/table/record_layout.h"

namespace tarn {

class TDataFile;

class TRecord {
 public:
  // A buffer of recordSize bytes for the data file (which may be null in
  // tests of the buffer alone: no scrambling, no auto-increment).
  TRecord(TDataFile* dataFile, std::uint16_t recordSize);
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  // Zeroes the bytes; with newAutoInc stores the data file's NextAutoInc in
  // RecAutoInc; stores FRecordNo in RecLink; clears FModified.
  void Clear(bool newAutoInc);
  // Descrambles raw in place when the table is encrypted, copies FSize bytes,
  // sets RecLink to FRecordNo when the record is active, clears FModified.
  // Requires: raw.size() >= FSize.
  void LoadFrom(std::span<std::uint8_t> raw);
  // Copies FSize bytes to raw, scrambles the copy when encrypted, clears
  // FModified. Requires: raw.size() >= FSize.
  void StoreTo(std::span<std::uint8_t> raw);

  bool IsDeleted() const { return FBuffer[RecordLayout::RecDeleted] != 0; }
  void SetDeleted(bool deleted);
  // The next free slot of a deleted record; 0 for an active one.
  std::int32_t GetFreeLink() const;
  void SetLink(std::int32_t n);
  std::int32_t GetAutoInc() const;
  void SetAutoInc(std::int32_t n);
  // Renumbers the buffer; an active record's RecLink follows. Does not set
  // FModified.
  void SetRecordNo(std::int32_t n);
  // Resizes to n bytes (capacity in steps of 64; new bytes zero).
  void SetSize(std::uint16_t n);
  // Data file, FModified, FRecordNo and the bytes of the smaller size.
  void CopyFrom(const TRecord& other);
  // Copies the field area (bytes 9 onward, up to the smaller size) from a
  // record image and sets FModified.
  void CopyFields(std::span<const std::uint8_t> rawRecord);
  // Byte comparison of the record's FSize bytes with raw.
  bool SameAs(std::span<const std::uint8_t> raw) const;

  // Field access through the record layout; SetField sets FModified.
  // Throws as SetFieldValue / GetFieldValue.
  void SetField(const TFieldDesc& desc, std::optional<std::span<const std::uint8_t>> value,
                bool blobOpenHasValue = false);
  TFieldRead GetField(const TFieldDesc& desc) const;

  void Pin() { ++FPinCount; }
  void Unpin() {
    if (FPinCount > 0) --FPinCount;
  }
  void ClearPins() { FPinCount = 0; }

  std::span<const std::uint8_t> Data() const { return {FBuffer.data(), FSize}; }
  // Direct access to the bytes; the caller marks the change with MarkModified.
  std::span<std::uint8_t> MutableData() { return {FBuffer.data(), FSize}; }
  void MarkModified() {
    if (!FModified) NoteModified();
  }
  void ClearModified() { FModified = false; }

  // Sort key built by table maintenance and the SQL engine.
  void SetSortKey(std::span<const std::uint8_t> key);
  std::span<const std::uint8_t> SortKey() const { return {FSortKey.data(), FSortKeySize}; }

  TDataFile* DataFile() const { return FDataFile; }
  void SetDataFile(TDataFile* dataFile) { FDataFile = dataFile; }
  bool Modified() const { return FModified; }
  std::uint16_t PinCount() const { return FPinCount; }
  bool Pinned() const { return FPinCount > 0; }
  std::int32_t RecordNo() const { return FRecordNo; }
  std::uint16_t Size() const { return FSize; }

 private:
  friend class TDataFile;     // keeps the cache bookkeeping below
  friend class TRecordStack;  // resets it when pooling

  // Sets FModified; a cached buffer is listed as modified with its data file.
  void NoteModified();

  TDataFile* FDataFile;
  bool FModified = false;
  std::uint16_t FPinCount = 0;
  std::int32_t FRecordNo = 0;
  std::vector<std::uint8_t> FBuffer;
  std::uint16_t FSize = 0;
  TRecord* FOlder = nullptr;
  TRecord* FNewer = nullptr;
  std::vector<std::uint8_t> FSortKey;
  std::uint16_t FSortKeySize = 0;
  // Cache bookkeeping, kept by the data file (data_file.h):
  std::uint64_t FLastUse = 0;       // use stamp; the chain is ordered by it
  TRecord* FNextModified = nullptr;  // the list of modified buffers
  TRecord* FPrevModified = nullptr;
  bool FCached = false;        // held in the data file's cache
  bool FParked = false;        // set aside from the chain (through FOlder/FNewer)
  bool FListedModified = false;  // on the list of modified buffers
  // Dropped from the cache while pinned; goes to the pool at its last unpin.
  bool FDetached = false;
};

// Spare records of one data file, at most 64.
class TRecordStack {
 public:
  static constexpr std::size_t MaxPooled = 64;

  // Reserves room for 64 so that Put never allocates.
  TRecordStack(TDataFile* dataFile, std::uint16_t recordSize) : FDataFile(dataFile), FRecordSize(recordSize) {
    FPool.reserve(MaxPooled);
  }

  // The last pooled record after Clear(false) and ClearPins, or a new record
  // of the current record size.
  std::unique_ptr<TRecord> Get();
  // Pools the record, or frees it when 64 are pooled; record becomes empty.
  void Put(std::unique_ptr<TRecord>& record) noexcept;
  // Changes the size of records handed out from now on; drops the pool.
  void SetRecordSize(std::uint16_t recordSize);
  std::size_t Count() const { return FPool.size(); }

 private:
  TDataFile* FDataFile;
  std::uint16_t FRecordSize;
  std::vector<std::unique_ptr<TRecord>> FPool;
};

}  // namespace tarn
