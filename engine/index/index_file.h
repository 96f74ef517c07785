#pragma once
// The index file of a table (".IDX"): its header with the index descriptors,
// and the per-slot page caches through which every page is read and written.
//
// File layout: page 0 is the header at offset 0; page n >= 1 lies at offset
// n x 4096. Every page is 4096 bytes (page format in index_page.h). When the
// table is encrypted each 4096-byte image is scrambled with the data key after
// it is built and before it is written, and unscrambled after reading.
//
// Index header (4096 bytes; all integers little-endian):
//   offset  size      field
//        0     4      ChangeCount     signed; +1 on every header write
//        4     1      WriteInProgress 1 while a write of the table's buffers is under
//                                     way (set by its first header write, cleared by
//                                     its last); 0 otherwise
//        5     3      reserved        zero
//        8     1      Version         5
//        9     4      NextPageNumber  signed; first page number never used (1 when empty)
//       13     1      IndexCount      number of secondary indexes (0..30)
//       14  33x120    descriptors     slot 0 primary, 1..IndexCount secondary,
//                                     31 "Sys Deleted", 32 "Sys Text" (index_descriptor.h)
//     3974     4      RecordCount     signed; active records of the table
//     3978     1      NoPrimaryIndex  1 = no primary-key fields (slot 0 all zero)
//     3979     1      HeaderDirty     the in-memory dirty flag at the time of writing
//     3980   116      reserved        zero
// Invariants: (1) a header written never contains a descriptor with Temporary 1;
// (2) every page number of a descriptor is below NextPageNumber (the temporary
// file's own counter for a temporary index); (3) a page is reachable from the root
// of its slot or on that slot's free list, never both; (4) WriteInProgress found
// while no program holds the table's write lock marks an interrupted write:
// the table counts as damaged (8965 for this file) until a repair clears it.
// Files written before the byte was used hold 0 there and read as sound.
//
// Temporary indexes (Temporary = 1) keep their pages in a separate temporary file
// with its own page counter (starting at 1); slots 31 and 32 always belong to the
// main file.
//
// Threads: one thread at a time, under the engine's serialisation of the shared
// table; the index file has no lock of its own.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/files/file_handler.h"
#include "engine/index/index_descriptor.h"
#include "engine/index/index_owner.h"
#include "engine/index/index_page.h"
#include "engine/index/key_def.h"
#include "engine/index/page_cache.h"
#include "engine/index/tree_context.h"

namespace tarn {

namespace IndexHeaderLayout {
inline constexpr std::size_t ChangeCount = 0;
inline constexpr std::size_t WriteInProgress = 4;
inline constexpr std::size_t Version = 8;
inline constexpr std::size_t NextPageNumber = 9;
inline constexpr std::size_t IndexCount = 13;
inline constexpr std::size_t Descriptors = 14;
inline constexpr std::size_t RecordCount = 3974;
inline constexpr std::size_t NoPrimaryIndex = 3978;
inline constexpr std::size_t HeaderDirty = 3979;
inline constexpr std::size_t Size = 4096;
static_assert(Descriptors + IndexSlotCount * IndexDescriptorLayout::Size == RecordCount);
inline constexpr std::uint8_t CurrentVersion = 5;
}  // namespace IndexHeaderLayout

// Page numbers and file size limits of an index file.
namespace IndexFileLimits {
inline constexpr std::int64_t MaxPageNumber = 2'000'000'000;
inline constexpr std::int64_t MaxFileBytes = 4'000'000'000;
inline constexpr int MaxSecondaryIndexes = 30;
}  // namespace IndexFileLimits

class TIndexFile;

// A pinned page. Owns one pin: the destructor (or Release) gives it back.
// Empty when a read was void because the table changed on disk.
class TPagePin {
 public:
  TPagePin() = default;
  TPagePin(TIndexFile& file, TPage& page) : FFile(&file), FPage(&page) {}
  ~TPagePin() { Release(); }
  TPagePin(TPagePin&& other) noexcept : FFile(other.FFile), FPage(other.FPage) {
    other.FFile = nullptr;
    other.FPage = nullptr;
  }
  TPagePin& operator=(TPagePin&& other) noexcept;
  TPagePin(const TPagePin&) = delete;
  TPagePin& operator=(const TPagePin&) = delete;

  explicit operator bool() const { return FPage != nullptr; }
  TPage* operator->() const { return FPage; }
  TPage& operator*() const { return *FPage; }
  TPage* Get() const { return FPage; }
  void Release() noexcept;

 private:
  TIndexFile* FFile = nullptr;
  TPage* FPage = nullptr;
};

// Counters kept for statistics only.
struct TIndexFileStats {
  std::int64_t Requests = 0;
  std::int64_t Hits = 0;
  std::int64_t Reads = 0;
  std::int64_t Flushes = 0;
};

class TIndexFile : public TFileHandler {
 public:
  explicit TIndexFile(TIndexOwner& owner);
  ~TIndexFile() override;

  // --- file level -----------------------------------------------------------
  // Creates (truncates) the file with a fresh header: Version 5, NextPageNumber
  // 1, slots 31 and 32 set up; writes it. Throws what the file layer raises.
  void CreateFile() override;
  // Opens the file and reads the header. Throws 8961 when IndexCount is above 32.
  void OpenFile() override;
  // Drops temporary indexes, discards every cached page without writing it and
  // closes the file. The caller has flushed pages and header before.
  void CloseFile() override;

  // Reads the header from offset 0 and clears the dirty flag.
  // Throws 8961 when the header cannot be read whole, 8965 when a descriptor
  // field is out of range (CheckHeaderImage); the header in memory is then
  // left as it was.
  void ReadIndexHeader();
  // When forced or dirty: ChangeCount + 1, writes the header without temporary
  // descriptors, marks the table written, clears the dirty flag. Returns whether it wrote.
  bool WriteIndexHeader(bool force);
  // ChangeCount + 1, header dirty, table marked written; no write.
  void BumpChangeCount();
  // The two header writes of an ordered write of the table's buffers (the
  // shared table sequences them; see TDataTable::WriteBuffers).
  // AnnounceHeaderWrite: ChangeCount + 1 and WriteInProgress set, then the
  // header written as WriteIndexHeader writes it; the dirty flag stays.
  // CompleteHeaderWrite: WriteInProgress cleared and the header written again
  // with the same ChangeCount; the dirty flag is cleared. Both mark the table
  // written and throw what the file layer raises; the mark set in memory then
  // stays set (the disk may hold it).
  void AnnounceHeaderWrite();
  void CompleteHeaderWrite();
  // The header (in memory) carries WriteInProgress: set by an announced write
  // of this program, or read from the disk.
  bool WriteInProgress() const { return FWriteInProgress; }
  // The header is dirty or a cached page of the main file is.
  bool HasUnwrittenChanges() const;
  // Re-reads the header; false (memory copy kept) when ChangeCount is unchanged,
  // else the memory copy is replaced and the result is true. Throws 8965 (memory
  // copy kept) for a damaged header, as ReadIndexHeader.
  bool IndexHeaderChanged();
  // Truncates to the header; resets version, page counter, record count and
  // every slot's root, free list and text-parameter page.
  void EmptyIndexes();
  // Consistency rules of the header against the table's fields.
  // Throws 12035 for a wrong version, 8961 for any other rule.
  void VerifyIndexHeader() const;

  // --- descriptors (every edit marks the header dirty) ------------------------
  // Adds a secondary index; returns its slot. Throws 9487, 10010, 10022, 10027, 12292.
  int AddIndexDescriptor(const TIndexDescriptor& def);
  // Throws 9993 when a primary index exists, 9487, 12292.
  void SetPrimaryDescriptor(const TIndexDescriptor& def);
  // As AddIndexDescriptor, into an existing slot (root 0, reserved bytes zero).
  void ReplaceIndexDescriptor(int slot, const TIndexDescriptor& def);
  // Stores the full-text definition into slot 32 ("Sys Text"): its key fields
  // (FieldCount, FieldNumbers, FieldDescending) and CaseInsensitive; the name
  // "Sys Text", KeySize 68, FULL compression and a non-unique key are fixed
  // (the key layout of keys.h). RootPage becomes 0; the free list and the
  // text-parameter chain stay. Every key field must be a string field or a
  // memo field (blob subtype 22): 12292 naming the field and "Sys Text";
  // more than 16 fields is 9487. Numbers outside the table's fields are left
  // to VerifyIndexHeader.
  void SetTextDescriptor(const TIndexDescriptor& def);
  // Replaces only the name and the field numbers.
  void RenameIndexDescriptor(int slot, const TIndexDescriptor& def);
  // Slot 0: no primary index. Secondary with remove: later slots move down.
  void DeleteIndexDescriptor(int slot, bool remove);
  // Clears every temporary descriptor; closes and deletes the temporary file.
  void DropTemporaryIndexes();
  // Slot 0..IndexCount whose name matches (trimmed, case-insensitive), or -1.
  int FindIndexName(std::string_view name) const;

  const TIndexDescriptor& Descriptor(int slot) const { return FDescriptors[slot]; }
  std::int32_t ChangeCount() const { return FChangeCount; }
  std::uint8_t Version() const { return FVersion; }
  std::int32_t NextPageNumber() const { return FNextPageNumber; }
  // For maintenance and tests: moves the page counter (header dirty).
  void SetNextPageNumber(std::int32_t n);
  int IndexCount() const { return FIndexCount; }
  std::int32_t RecordCount() const { return FRecordCount; }
  void IncRecordCount();
  void DecRecordCount();
  void SetRecordCount(std::int32_t n);
  bool NoPrimaryIndex() const { return FNoPrimaryIndex; }
  void SetNoPrimaryIndex(bool value);
  bool HeaderDirty() const { return FHeaderDirty; }
  void SetRootPage(int slot, std::int32_t pageNo);
  void SetTextParamsPage(std::int32_t pageNo);
  // The key definition of a slot (descriptor, table fields and language).
  const TKeyDef& KeyDef(int slot);
  // Compares two keys of a slot over its whole key size (keys.h order).
  int CompareKeys(int slot, const std::uint8_t* a, const std::uint8_t* b);

  // --- pages ---------------------------------------------------------------
  // The page pinned, from the cache of the context's slot or read from disk.
  // Empty when the change check reports that the table changed. isNew: the
  // page is being taken from a free list (entries ignored) or created (pageNo
  // equal to the next page number). Throws 8965 for page 0, a page beyond the
  // file or a malformed image.
  TPagePin GetPage(TTreeContext& ctx, std::int32_t pageNo, bool isNew = false);
  // Lowers the pin count (never below 0).
  void ReleasePage(TPage* page) noexcept {
    if (page == nullptr) return;
    page->Unpin();
    if (page->Orphan() && page->Pins() == 0) RecycleOrphan(page);
  }
  // A page for the context's index: from its free list or new; bound, cleared
  // (type 0, no entries, no links) and dirty. Empty when a read was void.
  // Throws 9479 when a new page would pass the file size limit.
  TPagePin AllocPage(TTreeContext& ctx);
  // Puts a page on the context's index's free list.
  void FreePage(TTreeContext& ctx, TPage& page);
  // Writes the dirty unpinned pages of the main (or temporary) file, runs of
  // consecutive pages in one write each. Returns whether anything was written.
  bool FlushPages(bool temporary);
  // Drops every cached page of the main (or temporary) file without writing.
  // Pinned pages stay valid for their holders and are recycled when unpinned.
  void DiscardPages(bool temporary);
  // Shrinks every slot cache towards the session's target; interior pages
  // stay while the slot holds at most target + InteriorReserve pages.
  void TrimPageCache();
  // Interior pages a slot keeps beyond its target before it evicts them.
  static constexpr int InteriorReserve = 32;

  // While one exists, cache misses skip the change check: a tree operation
  // that has started to change pages must not be restarted half-way. Tree
  // changes run under the table's write lock, which already checked for
  // changes by other programs.
  class TChangeCheckSuspension {
   public:
    explicit TChangeCheckSuspension(TIndexFile& file) : FFile(file) { ++FFile.FSuspendChangeCheck; }
    ~TChangeCheckSuspension() { --FFile.FSuspendChangeCheck; }
    TChangeCheckSuspension(const TChangeCheckSuspension&) = delete;
    TChangeCheckSuspension& operator=(const TChangeCheckSuspension&) = delete;

   private:
    TIndexFile& FFile;
  };

  // Raises an engine error naming this table.
  [[noreturn]] void Raise(TErrorCode code) const;

  const TIndexFileStats& Stats() const { return FStats; }
  const TPageCache& Cache(int slot) const { return FCaches[slot]; }
  // Memory held by the cached pages of every slot (statistics).
  std::size_t CacheMemoryBytes() const;
  std::int32_t TempNextPage() const { return FTempNextPage; }
  bool HasTempFile() const { return FTempFile != nullptr; }
  TIndexOwner& Owner() const { return FOwner; }

  // Cache structure invariants of every slot.
  bool CheckInvariants() const;

 private:
  void InitFreshHeader();
  // Range checks of a header image before anything of it is used. In the
  // descriptors of slots 0..IndexCount, 31 and 32: KeySize 0..MaxKeySize
  // (exactly 5 in slot 31 and 68 in slot 32, whose key layouts are fixed),
  // Compression 0..3, Temporary 0, and RootPage, FreePageList and
  // TextParamsPage within 0..NextPageNumber - 1; NextPageNumber itself
  // 1..MaxPageNumber + 1. Throws 8965 naming the table; the rules that depend
  // on the table's fields are VerifyIndexHeader's.
  void CheckHeaderImage(std::span<const std::uint8_t> image) const;
  // CheckHeaderImage, then takes every header field from the image.
  void ParseHeader(std::span<const std::uint8_t> image);
  void BuildHeader(std::span<std::uint8_t> image, bool leaveOutTemporary) const;
  void ReadAt(TFileHandler& file, std::int64_t offset, std::span<std::uint8_t> buf, TErrorCode shortCode);
  void WriteAt(TFileHandler& file, std::int64_t offset, std::span<const std::uint8_t> buf);
  bool SlotTemporary(int slot) const { return slot < SysDeletedSlot && FDescriptors[slot].Temporary; }
  int CacheTarget() const;
  void ResetCaches();
  // Empties one slot's cache without writing; pinned pages become orphans.
  void DropCache(int slot);
  void InvalidateKeyDefs();
  void CheckNewDescriptor(const TIndexDescriptor& def, int replacingSlot) const;
  // Raises 12292 naming the field and indexName when a key field of def (at
  // most MaxKeyFields of them) is a blob field of the table; numbers outside
  // the table's fields are left alone.
  void CheckNoBlobKeyFields(const TIndexDescriptor& def, std::string_view indexName) const;
  void StoreDescriptor(int slot, const TIndexDescriptor& def, bool clearReserved);
  void OpenTempFileIfNeeded();
  void CloseTempFile() noexcept;
  std::unique_ptr<TPage> TakePageObject(int slot);
  // Gives an orphan whose last pin went back to the spare pool.
  void RecycleOrphan(TPage* page) noexcept;
  // Writes one dirty page of the main (or temporary) file and marks it clean.
  void WriteOnePage(TPage& page, bool temporary);

  TIndexOwner& FOwner;
  std::int32_t FChangeCount = 0;
  std::uint8_t FVersion = IndexHeaderLayout::CurrentVersion;
  std::int32_t FNextPageNumber = 1;
  int FIndexCount = 0;
  std::array<TIndexDescriptor, IndexSlotCount> FDescriptors{};
  std::int32_t FRecordCount = 0;
  bool FNoPrimaryIndex = false;
  bool FHeaderDirty = false;
  bool FWriteInProgress = false;

  std::array<TPageCache, IndexSlotCount> FCaches{};
  TPageStack FPageStack;
  // Pages dropped from their cache while pinned; recycled by their last unpin.
  std::vector<std::unique_ptr<TPage>> FOrphans;
  std::unique_ptr<TFileHandler> FTempFile;
  std::int32_t FTempNextPage = 1;
  TIndexFileStats FStats;
  int FSuspendChangeCheck = 0;

  std::array<TKeyDef, IndexSlotCount> FKeyDefs{};
  std::array<bool, IndexSlotCount> FKeyDefValid{};

  std::array<std::uint8_t, IndexPageLayout::PageSize> FImage{};
  std::vector<std::uint8_t> FRunBuffer;
  std::vector<TPage*> FFlushList;
};

inline TPagePin& TPagePin::operator=(TPagePin&& other) noexcept {
  if (this != &other) {
    Release();
    FFile = other.FFile;
    FPage = other.FPage;
    other.FFile = nullptr;
    other.FPage = nullptr;
  }
  return *this;
}

inline void TPagePin::Release() noexcept {
  if (FPage != nullptr && FFile != nullptr) FFile->ReleasePage(FPage);
  FPage = nullptr;
  FFile = nullptr;
}

}  // namespace tarn
