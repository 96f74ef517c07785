#pragma once
// TBlobFile: the blob file (".BLB") of one table, with its header and block
// cache.
//
// Blob values live outside the records as chains of fixed-size blocks linked
// both ways (layout in blob_header.h and block.h). TBlobFile owns the header
// image and its dirty flag, the block cache (TBlockCache, with its pool of
// spare blocks), the read and write buffers, the read-ahead limit and the
// statistics. It belongs to the shared table object, which it reaches through
// TBlobOwner (encryption, session settings, transaction state, stamps, names).
//
// Threads: one thread at a time, under the engine's serialisation of the
// shared table. Every seek and the read or write after it are kept together
// inside the file object's lock (TFileSection).
//
// Cache rules:
//   - a block is handed out only inside a TBlockPin; pinned or dirty blocks are
//     never evicted, and a read-ahead never overwrites them;
//   - the room is min(MaxBlobBufferSize div block size, MaxBlobBufferCount);
//     when every cached block is dirty or pinned, the cache flushes (outside a
//     transaction) and otherwise grows by 32;
//   - reads fetch up to ReadAheadLimit() consecutive blocks (16 KB) at once;
//     dirty blocks are written in runs of consecutive numbers, one write each;
//   - a long chain (its rest needs UncachedChainBlocks() blocks or more) is
//     read by TBlobBuffer in runs of up to 256 KB straight from the file, the
//     cached blocks taking precedence over the disk, and the new blocks that
//     end a long value are appended straight to the file (AppendUncached):
//     such a chain would only push everything else out of the cache.
//
// Errors are raised as ETarnEngineError naming the table (and its database):
//   8963 TARN_MEMOCORRUPT  block 0 or a link outside the file, a block met twice
//                          in a chain, a foreign stamp where none may be, a
//                          cache inconsistency;
//   8708 TARN_KEYORRECDELETED  a chain whose stamp no longer matches the record;
//   8711 TARN_ENDOFBLOB    a chain ending before its recorded length;
//   9479 TARN_TABLEFULL    the file would pass 4,000,000,000 bytes;
//   10029 TARN_INVALIDBLOBLEN  a block read or write longer than the data area;
//   9498 TARN_BLOBLIMIT    a block size below 64;
//   12035 / 8961           from VerifyBlobHeader;
//   9217 / 9218            read and write failures of the file layer.
// Errors leave the blocks already changed dirty in the cache; the caller's
// transaction or lock handling puts things right.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/blob/blob_header.h"
#include "engine/blob/blob_owner.h"
#include "engine/blob/block.h"
#include "engine/blob/block_cache.h"
#include "engine/blob/block_pin.h"
#include "engine/blob/chain_visits.h"
#include "engine/files/file_handler.h"

namespace tarn {

class TBlobBuffer;

// What TBlobFile's undo journal keeps (see TBlobFile::BeginJournal): the
// header fields at its start and the plain image of every block handed out
// since that existed then.
struct TBlobJournal {
  std::int32_t FreeBlockList = 0;
  std::int32_t NextBlockNumber = 1;
  bool HeaderDirty = false;
  TChainVisits Kept;  // numbers of the blocks in Images
  std::vector<std::pair<std::int32_t, std::vector<std::uint8_t>>> Images;
};

// Counters of the block cache, for statistics only.
struct TBlobStatistics {
  std::uint64_t CacheHits = 0;
  std::uint64_t DiskReads = 0;  // read calls, each of one or more blocks
  std::uint64_t BlocksRead = 0;
  std::uint64_t WriteRuns = 0;  // write calls, each of a run of blocks
  std::uint64_t BlocksWritten = 0;
};

class TBlobFile : public TFileHandler {
 public:
  // Largest block number and largest end offset of a block.
  static constexpr std::int64_t MaxBlockNumber = 2'000'000'000;
  static constexpr std::int64_t MaxFileSize = 4'000'000'000;
  // Bytes fetched by one read-ahead, and the room added when the cache is stuck.
  static constexpr std::int32_t ReadAheadBytes = 16384;
  static constexpr std::int32_t RoomStep = 32;
  // Largest read or write of a long chain that bypasses the cache.
  static constexpr std::int32_t UncachedRunBytes = 1 << 18;

  explicit TBlobFile(TBlobOwner& owner);
  ~TBlobFile() override;

  // Sets the block size (the data header's BlobBlockSize; 0 means 512).
  // Requires: closed. Throws 9498 (TARN_BLOBLIMIT) for a size below 64 or
  // above 65535.
  void SetBlockSize(std::int32_t blockSize);
  std::int32_t BlockSize() const { return FBlockSize; }
  // Data bytes per block: block size - 18.
  std::int32_t BlockDataSize() const {
    return FBlockSize - static_cast<std::int32_t>(BlobBlock::HeaderSize);
  }

  // Opens the file, reads the header (no verification), sizes the cache and
  // the read-ahead limit and resets the statistics. On failure the file is
  // closed again.
  void OpenFile() override;
  // Drops the cached blocks unwritten (flushing is the caller's job) and closes.
  void CloseFile() override;
  // Creates the file and writes a fresh header at once: version 5, no free
  // blocks, next block 1, HeaderDirty 1.
  void CreateFile() override;

  // --- Header ---
  // Reads the 512 bytes at offset 0 and clears the dirty flag. Throws 9217 on a
  // short read.
  void ReadBlobHeader();
  // When force or dirty: writes the header with BlobChangeCount + 1, marks the
  // table as written and clears the dirty flag. Returns whether it wrote.
  bool WriteBlobHeader(bool force);
  // BlobChangeCount + 1 and the header dirty, without writing (transactions).
  void BumpChangeCount();
  // The two header writes of an ordered write of the table's buffers (the
  // shared table sequences them; see TDataTable::WriteBuffers).
  // AnnounceHeaderWrite: BlobChangeCount + 1 and WriteInProgress set, then the
  // header written as WriteBlobHeader writes it; the dirty flag stays.
  // CompleteHeaderWrite: WriteInProgress cleared and the header written again
  // with the same BlobChangeCount; the dirty flag is cleared. Both mark the
  // table written and throw what the file layer raises; the mark set in memory
  // then stays set (the disk may hold it).
  void AnnounceHeaderWrite();
  void CompleteHeaderWrite();
  // The header is dirty or a cached block is.
  bool HasUnwrittenChanges() const;
  // Re-reads the header: false when its BlobChangeCount equals the one in
  // memory; otherwise the disk copy replaces the memory copy and true.
  bool BlobHeaderChanged();
  // Truncates the file to its header, drops the cached blocks and resets the
  // header (version 5, next block 1, no free blocks, dirty); flushes when the
  // session forces flushing.
  void EmptyBlobFile();
  // Throws 12035 for a version other than 5, 8961 for a free list outside
  // 0 .. NextBlockNumber - 1.
  void VerifyBlobHeader() const;

  const TBlobHeader& Header() const { return FHeader; }
  bool HeaderDirty() const { return FHeaderDirty; }
  void MarkHeaderDirty() { FHeaderDirty = true; }

  // --- Blocks ---
  // The block blockNo, pinned. blockNo = NextBlockNumber appends a new (dirty,
  // cleared) block. A miss first runs the cursor's change check (unless the
  // session's strict change detection already did, or cursor is null) and
  // returns an empty pin when it reports a change; then it reads 1 block, or
  // with readAhead min(ReadAheadLimit(), count, NextBlockNumber - blockNo).
  // Throws 8963 for a number outside 1 .. NextBlockNumber or a block beyond the
  // end of the file, 9479 when the file is full.
  [[nodiscard]] TBlockPin GetBlock(TBlobChangeCheck* cursor, std::int32_t blockNo,
                                   std::int32_t count, bool readAhead);
  // Unpins (used by TBlockPin).
  void ReleaseBlock(TBlock& block) noexcept;
  // A cleared block, pinned: the head of the free list, or a new block when
  // the list is empty. Throws 8963 for a free list that leaves the file, 8708
  // when the change check reports a change.
  [[nodiscard]] TBlockPin AllocBlock(TBlobChangeCheck* cursor);
  // Puts the block at the head of the free list; it keeps its other fields.
  void FreeBlock(TBlock& block);
  // Writes the dirty, unpinned blocks (outside a read-ahead in progress) in
  // runs of consecutive numbers. Returns whether anything was written.
  bool FlushBlocks();
  // Drops every cached block unwritten. Blocks still pinned stay valid for
  // their holders until released.
  void DiscardBlocks() noexcept;
  // Drops clean, unpinned blocks while more than the nominal room are held.
  void TrimBlockCache() noexcept;
  // Frees the chain that starts at firstBlock (0: nothing to do). The chain is
  // checked whole before anything is freed: links within 1 .. NextBlockNumber - 1,
  // no block twice, no more blocks than its first block's BlobSize needs, and
  // every stamp equal to stamp (8963 otherwise) unless repairStamps, which
  // overwrites them. The blocks go to the free list first to last.
  void FreeChain(TBlobChangeCheck* cursor, std::int32_t firstBlock, std::int32_t stamp,
                 bool repairStamps);

  // --- Undo journal ---
  // For callers whose cache holds earlier unwritten work (an exclusive table,
  // a transaction), so that a failed operation cannot be undone by dropping
  // the cache. While a journal is open, the first time a block that existed
  // at its start is handed out, its plain image is kept; the header's free
  // list and next block number are kept at the start. RollBackJournal puts
  // every kept image back into the cache, dirty (a block written to disk
  // meanwhile is written back), drops the blocks added since, restores the
  // header fields and closes the journal; EndJournal only closes it.
  // Requires for BeginJournal: no journal open.
  void BeginJournal();
  void EndJournal() noexcept { FJournal.reset(); }
  void RollBackJournal() noexcept;
  bool JournalOpen() const { return FJournal.has_value(); }

  // --- Block data ---
  // Copies min(length, UsedBytes) bytes from data offset on into dest and
  // returns that count. Throws 10029 for a length above BlockDataSize() or a
  // copy past the data area, 8963 for a UsedBytes above BlockDataSize().
  // Requires: dest.size() >= the count.
  std::int32_t ReadBlockData(const TBlock& block, std::int32_t offset, std::int32_t length,
                             std::span<std::uint8_t> dest);
  // Copies length bytes of src to data offset on, sets UsedBytes to
  // offset + length and marks the block dirty. Throws 10029 for a length above
  // BlockDataSize() or past the data area. Requires: src.size() >= length.
  void WriteBlockData(TBlock& block, std::int32_t offset, std::int32_t length,
                      std::span<const std::uint8_t> src);

  // blockNo names a block that exists: 1 .. NextBlockNumber - 1.
  bool IsBlockInFile(std::int32_t blockNo) const {
    return blockNo >= 1 && blockNo < FHeader.NextBlockNumber;
  }

  std::int32_t ReadAheadLimit() const { return FReadAheadLimit; }
  // The number of blocks from which the rest of a chain bypasses the cache:
  // two read-aheads, or a quarter of the cache's room when that is more.
  std::int32_t UncachedChainBlocks() const {
    return std::max(2 * FReadAheadLimit, FCache->Room() / 4);
  }
  // Whether a new value, or the rest of a value written after the last block
  // of its old chain, bytes long, goes straight to the file: it needs UncachedChainBlocks() blocks
  // or more, the free list is empty (so they are the next numbers in a row),
  // and neither a transaction nor the undo journal needs them in the cache.
  bool CanAppendUncached(std::int64_t bytes) const;
  // The nominal room from the session settings.
  std::int32_t NominalRoom() const;
  const TBlockCache& Cache() const { return *FCache; }
  TBlobStatistics Statistics() const;
  void ResetStatistics();
  TBlobOwner& Owner() const { return FOwner; }

  bool CheckInvariants() const { return FCache->CheckInvariants(); }

  // Raises code with the table and database names of the owner.
  [[noreturn]] void Raise(TErrorCode code) const;

 private:
  friend class TBlobBuffer;

  // GetBlock for writing paths: a reported change is 8708, never an empty pin.
  TBlockPin MustGetBlock(TBlobChangeCheck* cursor, std::int32_t blockNo, std::int32_t count,
                         bool readAhead);
  // Reads up to count block images from first on straight from the file (no
  // cache), descrambled, into the read buffer; the span holds the whole
  // blocks read (at least one: 8963 when block first is not in the file). It
  // stays valid until the next read.
  std::span<const std::uint8_t> ReadUncached(std::int32_t first, std::int32_t count);
  // Writes bytes as a chain of new blocks NextBlockNumber, NextBlockNumber + 1,
  // ... with the stamp, linked after last (which becomes their PrevBlock; its
  // NextBlock is set to the first of them), or with last null as a whole new
  // chain (its first block has PrevBlock 0 and BlobSize bytes.size()). The
  // blocks are written at once (after BeforeWritingBlocks), in runs of
  // UncachedRunBytes, and never enter the cache; NextBlockNumber moves past
  // them only when every write succeeded. Returns the first new block. 9479
  // before anything is written when the file would be full, 8963 when one of
  // the numbers is cached. Requires: bytes not empty.
  std::int32_t AppendUncached(TBlock* last, std::span<const std::uint8_t> bytes, std::int32_t stamp);
  // A block object for blockNo that is not cached yet (step 5 of GetBlock):
  // cleared, or with cleared false holding old contents for a LoadFrom to
  // replace.
  std::unique_ptr<TBlock> ObtainBlock(std::int32_t blockNo, bool cleared = true);
  // Reads count blocks from first on into the cache (refreshing only clean,
  // unpinned ones).
  void ReadBlocks(std::int32_t first, std::int32_t count);
  // Reads up to count raw block images from first on into the read buffer;
  // answers the number of whole blocks read (8963 when block first is not in
  // the file).
  std::int32_t ReadRawBlocks(std::int32_t first, std::int32_t count);
  void WriteRun(std::size_t from, std::size_t to, const std::vector<TBlock*>& blocks);
  std::int64_t BlockOffset(std::int32_t blockNo) const;
  // FreeChain with a known limit on the chain's length (maxBlocks > 0) and
  // blocks that may not appear in it (exclude, may be null).
  void FreeChainLimited(TBlobChangeCheck* cursor, std::int32_t firstBlock, std::int32_t stamp,
                        bool repairStamps, std::int64_t maxBlocks, const TChainVisits* exclude);
  void ResetCache();
  void LoadHeaderImage(TBlobHeader& into);
  // Writes header (with the dirty flag as it stands) at offset 0.
  void StoreHeader(const TBlobHeader& header);

  TBlobOwner& FOwner;
  std::int32_t FBlockSize = BlobBlock::DefaultBlockSize;
  TBlobHeader FHeader;
  bool FHeaderDirty = false;
  std::unique_ptr<TBlockCache> FCache;
  std::vector<std::uint8_t> FReadBuffer;   // grown in 4096-byte steps
  std::vector<std::uint8_t> FWriteBuffer;  // grown in 4096-byte steps
  std::int32_t FReadAheadLimit = 1;
  // Block range being filled by a read in progress; FlushBlocks leaves it
  // alone. Empty when FReadFirst > FReadLast.
  std::int32_t FReadFirst = 1;
  std::int32_t FReadLast = 0;
  TBlobStatistics FStats;

  // The undo journal (see BeginJournal).
  std::optional<TBlobJournal> FJournal;
  // Keeps the image of a block handed out while the journal is open.
  void JournalBlock(const TBlock& block);
};

}  // namespace tarn
