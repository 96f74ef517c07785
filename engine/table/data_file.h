#pragma once
// The data file (".DAT") of a table: its header, field definitions and
// fixed-length records, with the record cache all cursors of the shared
// table use.
//
// TDataFile is the file handler of the data file, owned by the shared table
// object (TDataFileOwner, which it asks for session settings, lock state and
// the change check's companions). It keeps the 127-byte header image
// (data_header.h, which also documents the file layout), the field
// definitions (field_desc.h), the record layout (record_layout.h) and the
// record cache:
//   chain         most-recently-used order through TRecord::FOlder/FNewer,
//                 from FMostRecent to FLeastRecent, ordered by each record's
//                 use stamp (FLastUse, from FUseClock)
//   parked        records set aside from the chain (FParked, linked through
//                 FOlder/FNewer from FParkedHead): the search for a buffer to
//                 evict moves every modified or pinned record it meets there,
//                 so no search meets it again. A parked record goes back to
//                 its place in the chain (by its stamp) when it becomes clean
//                 and unpinned (FlushRecords, ReleaseRecord), or to the front
//                 when used. Only records put back can be older than a record
//                 still parked, so putting back walks little of the chain
//   modified list the records that may be modified (FListedModified, linked
//                 through FNextModified/FPrevModified from FFirstModified to
//                 FLastModified): a cached record joins its end whenever it
//                 becomes modified; it leaves when written, evicted or found
//                 clean by a flush
//   FCache        hash index from record number to the cached record
//                 (lookups, inserts and evictions cost the same at any cache
//                 size); FlushRecords sorts what it writes by record number
//   FRecordPool   up to 64 spare buffers
//   FDetached     records dropped by DiscardRecords while pinned, linked
//                 through FNewer and owned here; each goes to the pool at its
//                 last unpin
// The cached records are owned by the chain and the parked list together.
// Cache invariants (CheckInvariants): (1) FCache maps each cached record's
// number to that record and holds nothing else; (2) the chain and the parked
// list together hold every cached record once and nothing else, the chain in
// falling use stamps from FMostRecent; (3) FCache.Size() <= FCacheCapacity;
// (4) no cached record is detached; (5) every modified cached record is on
// the modified list, which holds cached records only. The least recently
// used record that is neither modified nor pinned is therefore the first
// such record from FLeastRecent, and the search for it costs O(1) amortised.
//
// Encrypted tables: definitions (one run) and each record are scrambled with
// the data key on disk; the characters of Description and Password with the
// text key. In memory everything is plain.
//
// Threads: used under the shared table's locks by one thread at a time;
// every seek with the read or write that follows runs inside a TFileSection.
// Records are handed out pinned in a TRecordPin.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/number_hash.h"
#include "engine/files/file_handler.h"
#include "engine/table/data_file_owner.h"
#include "engine/table/data_header.h"
#include "engine/table/field_desc.h"
#include "engine/table/record.h"
#include "engine/table/record_cache_client.h"
#include "engine/table/record_pin.h"

namespace tarn {

namespace RecordCacheLimits {
inline constexpr std::int32_t MaxRecords = 200000000;
inline constexpr std::int64_t MaxFileSize = 4000000000;
inline constexpr std::int32_t ReadAheadBytes = 8192;
inline constexpr std::int32_t GrowthStep = 64;
inline constexpr std::size_t RecentChecked = 4;
}  // namespace RecordCacheLimits

// Statistics of the record cache (never used for decisions).
struct TRecordCacheStats {
  std::uint64_t Hits = 0;
  std::uint64_t ReadAheads = 0;  // disk reads of more than one record
  std::uint64_t DiskReads = 0;
  std::uint64_t WriteRuns = 0;
};

class TDataFile : public TFileHandler {
 public:
  explicit TDataFile(TDataFileOwner& owner);
  ~TDataFile() override;

  // ---- opening and closing ----
  // Does nothing when open. Opens the file, reads the header (a FieldCount
  // above 1024 or a RecordSize below 9 raises 8961 before any definition is
  // read) and the definitions, and sets up the cache. Any failure closes the
  // file and re-raises (9217 for a truncated header or definitions).
  void OpenFile() override;
  // When open: drops the definitions and the cache (without writing) and
  // closes the file.
  void CloseFile() override;

  // ---- header ----
  // Reads the 127-byte header into the image and clears HeaderDirty. 9217 on
  // a short read; 8961 when the file is open and the header read changes its
  // RecordSize or FieldCount (the image then stays as it was).
  void ReadDataHeader();
  // Re-reads the header; when its ChangeCount differs from the image's, the
  // image takes all 127 bytes and the result is true; else nothing changes.
  // 8961 as for ReadDataHeader.
  bool DataHeaderChanged();
  // Without force and HeaderDirty: false, nothing written. Otherwise raises
  // ChangeCount, stamps EngineVersion and LastUpdated, writes the 127 bytes
  // (9218 on a short write), sets the table's data-written flag, clears
  // HeaderDirty and returns true.
  bool WriteDataHeader(bool force);
  // ChangeCount + 1 and HeaderDirty in memory only (inside transactions).
  void BumpChangeCount();
  // The two header writes of an ordered write of the table's buffers (the
  // shared table sequences them; see TDataTable::WriteBuffers).
  // AnnounceHeaderWrite: ChangeCount + 1, EngineVersion and LastUpdated
  // stamped, WriteInProgress set, and the 127 bytes written with HeaderDirty
  // as it stands (the flag stays). CompleteHeaderWrite: WriteInProgress
  // cleared and the header written again with the same ChangeCount, so the
  // bytes left on disk are those WriteDataHeader would have written; clears
  // HeaderDirty. Both set the table's data-written flag and raise 9218 on a
  // short write; the mark set in memory then stays set (the disk may hold it).
  void AnnounceHeaderWrite();
  void CompleteHeaderWrite();
  // The header (in memory) carries WriteInProgress: set by an announced write
  // of this program, or read from the disk.
  bool WriteInProgress() const { return FHeader.WriteInProgress(); }
  // The header or the definitions are dirty, or a cached record is modified.
  bool HasUnwrittenChanges() const;
  // Reads the FieldCount definitions at offset 127 (descrambled as one run).
  void ReadFieldDefs();
  // Writes the definitions when they changed (scrambled as one run), flushing
  // when the session forces flushes. True when written.
  bool WriteFieldDefs();
  // Builds a new header and definitions and creates the file (open,
  // exclusive). The definitions must already carry their physical sizes and
  // offsets. Raises 9492 for more than 1024 fields, 9498 for more than 128
  // blob fields and 9477 for a record size above 65535, before anything is
  // created. Header and definitions reach the disk at the next write of the
  // table's buffers.
  void CreateDataFile(std::int16_t languageId, std::int16_t sortId, std::span<const TFieldDesc> fieldDefs,
                      std::uint16_t blobBlockSize, std::string_view description, std::string_view password,
                      bool encrypted, std::int16_t userMajorVersion, std::int16_t userMinorVersion);
  // Truncates the file after the definitions, drops the cached records and
  // resets ChangeCount, FirstFreeRecord, NextRecordNumber (1) and LastAutoInc.
  void EmptyDataFile();
  // Stores password (<= 15) and description (<= 50) as CreateDataFile does
  // for the current Encrypted flag, the last auto-increment value and both
  // user versions; HeaderDirty.
  void SetTableAttributes(std::string_view password, std::string_view description, std::int32_t lastAutoInc,
                          std::int16_t userMajorVersion, std::int16_t userMinorVersion);
  void SetLastAutoInc(std::int32_t value);
  // Copies number, name, subtype, description, required, min, max and
  // default of def into definition fieldNo (a position, 1-based); marks the
  // definitions changed. Raises 9985 (TARN_OUTOFRANGE) for a bad position.
  void UpdateFieldDef(std::uint16_t fieldNo, const TFieldDesc& def);

  // ---- definitions ----
  struct TFieldDefAt {
    TFieldDesc Def;
    std::uint16_t Position = 0;
  };
  // Position 1 to FieldCount; nothing otherwise.
  std::optional<TFieldDesc> GetFieldDef(std::uint16_t position) const;
  std::optional<TFieldDefAt> GetFieldDefByNumber(std::uint16_t fieldNo) const;
  // Name compared case-insensitively after trimming blanks.
  std::optional<TFieldDefAt> FindFieldDef(std::string_view name) const;
  std::uint16_t FieldNumber(std::string_view name) const;
  // The definitions in position order (plain).
  std::span<const TFieldDesc> FieldDefs() const { return FFieldDefs; }

  // ---- getters ----
  std::string GetDescription() const;
  std::string GetPassword() const;
  bool IsEncrypted() const { return FHeader.Encrypted(); }
  std::int16_t GetLanguageId() const { return FHeader.LanguageId(); }
  std::int16_t GetSortId() const { return FHeader.SortId(); }
  std::int16_t GetUserMajorVersion() const { return FHeader.UserMajorVersion(); }
  std::int16_t GetUserMinorVersion() const { return FHeader.UserMinorVersion(); }
  std::int32_t GetBlobBlockSize() const;
  std::uint16_t GetBlobFieldCount() const { return FHeader.BlobFieldCount(); }
  std::uint16_t GetFieldCount() const { return FHeader.FieldCount(); }
  std::uint16_t GetRecordSize() const { return FHeader.RecordSize(); }
  std::int32_t GetLastAutoInc() const { return FHeader.LastAutoInc(); }
  std::int32_t GetChangeCount() const { return FHeader.ChangeCount(); }
  std::int32_t GetPhysicalRecordCount() const { return FHeader.NextRecordNumber() - 1; }
  std::int32_t GetFirstFreeRecord() const { return FHeader.FirstFreeRecord(); }
  std::int32_t GetNextRecordNumber() const { return FHeader.NextRecordNumber(); }
  bool HeaderDirty() const { return FHeader.HeaderDirty(); }
  bool FieldDefsDirty() const { return FFieldDefsDirty; }
  // The header image as it stands (plain apart from the scrambled texts).
  const TDataHeader& Header() const { return FHeader; }
  // H: the file offset of record 1.
  std::int64_t RecordsOffset() const { return DataFormat::RecordsOffset(FHeader.FieldCount()); }
  const TTextCaseMapper& CaseMapper() const { return FOwner.CaseMapper(); }

  // ---- checks ----
  // The full consistency check run when a table is first opened. Raises
  // 12035 for a version other than 5, 15878 when the table's locale is not
  // available, 8961 for every other inconsistency (definitions, record size,
  // file size, free-list head).
  void VerifyDataFile();
  // Raises 12035 when Version is not 5.
  void CheckDataVersion();

  // ---- records ----
  // Record R pinned for the caller, or an empty pin when the cursor's change
  // check (run on a miss unless the session checks strictly) reports that the
  // table changed. R = NextRecordNumber appends a new, cleared slot
  // (NextRecordNumber + 1, header dirty); beyond 200,000,000 records or
  // 4,000,000,000 bytes that raises 9479. A miss reads 1 record, or with
  // useReadAhead a run in the reading direction (the cursor's choice when
  // cursorDecides). Raises 8962 for R <= 0, R > NextRecordNumber, or a
  // record the read did not deliver; 9217 for a short read that is not
  // acceptable.
  TRecordPin GetRecord(TRecordCacheClient* cursor, std::int32_t recordNo, bool forward = true,
                       bool cursorDecides = false, bool useReadAhead = false);
  // A hint for walks that know the records they reach next. A lookup of a
  // cached record makes three dependent loads: the hash slot, the record
  // buffer, then its bytes (and the chain neighbours a hit relinks). Called
  // once per step with the records 1, 2 and 4 steps ahead, this starts the
  // slot load of the fourth, the buffer load of the second and the byte loads
  // of the next, so that each record's loads run over three steps while the
  // walk works on the records before it. 0 stands for no record. Changes
  // nothing, reads no file, cannot fail; records not cached are ignored.
  void PrefetchAhead(std::int32_t next, std::int32_t second, std::int32_t fourth) const noexcept;
  // Gives back one pin (TRecordPin calls this). Never throws.
  void ReleaseRecord(TRecord& record) noexcept;
  // NextRecordNumber when there is no free slot or the table reuses none
  // (no primary index); else FirstFreeRecord.
  std::int32_t AllocateRecordNo() const;
  // The slot for a new record, pinned; FirstFreeRecord moves to the slot's
  // free link. Empty pin when the table changed. Raises 8962 when the free
  // list points outside the file or at an active record.
  TRecordPin AllocateRecord(TRecordCacheClient* cursor);
  // Marks the record deleted and puts its slot at the head of the free list.
  void FreeRecord(TRecord& record);
  // LastAutoInc + 1 (wrapping from 2147483647 to 1), stored; header dirty.
  std::int32_t NextAutoInc();
  // The same on LastBlobStamp.
  std::int32_t NextBlobStamp();
  // Writes the modified, unpinned records in runs of consecutive numbers,
  // one write per run. True when anything was written. 9218 on a short
  // write (the run's records stay modified).
  bool FlushRecords();
  // Drops every cached record without writing.
  void DiscardRecords() noexcept;
  // Shrinks the cache towards its nominal capacity, dropping least recently
  // used clean, unpinned records (after one flush when there are none).
  void TrimRecordCache();

  // ---- cache inspection ----
  const TRecordCacheStats& CacheStats() const { return FStats; }
  void ResetCacheStats() { FStats = {}; }
  std::size_t CachedRecordCount() const { return FCache.Size(); }
  std::int32_t CacheCapacity() const { return FCacheCapacity; }
  std::int32_t NominalCacheCapacity() const;
  std::int32_t RecordsPerRead() const { return FRecordsPerRead; }
  // True when record R is in the cache.
  bool IsCached(std::int32_t recordNo) const;
  std::size_t PooledRecordCount() const { return FRecordPool.Count(); }
  bool CheckInvariants() const;

 private:
  [[noreturn]] void Raise(TErrorCode code) const;
  std::string ErrorTableName() const;
  void MarkHeaderDirty() { FHeader.SetHeaderDirty(true); }
  // Writes the header image at offset 0 (9218 on a short write).
  void StoreHeader();
  void SetUpCache();
  // Raises 8961 when a re-read header changes RecordSize or FieldCount of an
  // open file; the image is then left as it was.
  void CheckShapeUnchanged(const TDataHeader& image) const;
  void StoreTexts(std::string_view password, std::string_view description);

  // Cache internals.
  friend class TRecord;  // ListModified
  TRecord* FindCached(std::int32_t recordNo) const { return FCache.Find(recordNo); }
  // Links r into the chain just older than newer (at the front when null).
  void LinkOlderThan(TRecord* r, TRecord* newer);
  // Links r at the front of the chain with a new use stamp.
  void LinkFront(TRecord* r);
  // Takes r out of the chain or the parked list, whichever holds it.
  void Unlink(TRecord* r);
  void MoveToFront(TRecord* r);
  void Park(TRecord* r);
  // Moves parked records back into the chain at their stamps' places.
  void PutBack(TRecord* r);
  void PutBack(std::vector<TRecord*>& records);
  void ListModified(TRecord& r);
  void UnlistModified(TRecord& r);
  // The least recently used record neither modified nor pinned, parking the
  // records it passes; nullptr when there is none.
  TRecord* FindEvictable();
  // A buffer for record R in the cache, at the front of the chain; cleared,
  // or with clear false holding old bytes for a LoadFrom to replace.
  TRecord* ObtainBuffer(std::int32_t recordNo, bool clear = true);
  TRecord* InsertCached(std::unique_ptr<TRecord> r);
  void RemoveCached(TRecord* r);
  void FreeDetached() noexcept;
  bool InReadAhead(std::int32_t recordNo) const;

  TDataFileOwner& FOwner;
  std::vector<std::uint8_t> FReadBuffer;
  std::vector<std::uint8_t> FWriteBuffer;
  TDataHeader FHeader;
  bool FFieldDefsDirty = false;
  std::vector<TFieldDesc> FFieldDefs;
  std::int32_t FRecordsPerRead = 0;

  TNumberHash<TRecord> FCache;  // index of the chain and the parked list
  std::vector<TRecord*> FFlushList;  // FlushRecords' work list
  std::vector<TRecord*> FPutBackList;  // parked records FlushRecords cleaned
  TRecord* FMostRecent = nullptr;
  TRecord* FLeastRecent = nullptr;
  TRecord* FParkedHead = nullptr;  // owning list through FNewer/FOlder
  TRecord* FFirstModified = nullptr;  // in the order the records were changed
  TRecord* FLastModified = nullptr;
  std::uint64_t FUseClock = 0;
  TRecordStack FRecordPool;
  TRecord* FDetached = nullptr;  // owning list through FNewer
  std::int32_t FCacheCapacity = 0;
  TRecordCacheStats FStats;
  // Record numbers of the read-ahead in progress (0, 0 when none).
  std::int32_t FReadAheadFirst = 0;
  std::int32_t FReadAheadLast = 0;
};

}  // namespace tarn
