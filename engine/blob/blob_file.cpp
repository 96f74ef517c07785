#include "engine/blob/blob_file.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/files/grow_buffer.h"
#include "engine/table/scramble.h"

namespace tarn {

namespace {

// Largest single write of a run of blocks; longer runs (only met when a
// transaction has let the cache grow) are written in pieces of this size.
constexpr std::int64_t MaxWriteBytes = 1 << 20;

// Clears the read-ahead range however ReadBlocks is left.
class TReadRangeGuard {
 public:
  TReadRangeGuard(std::int32_t& first, std::int32_t& last, std::int32_t from, std::int32_t to)
      : FFirst(first), FLast(last) {
    FFirst = from;
    FLast = to;
  }
  ~TReadRangeGuard() {
    FFirst = 1;
    FLast = 0;
  }
  TReadRangeGuard(const TReadRangeGuard&) = delete;
  TReadRangeGuard& operator=(const TReadRangeGuard&) = delete;

 private:
  std::int32_t& FFirst;
  std::int32_t& FLast;
};

}  // namespace

TBlobFile::TBlobFile(TBlobOwner& owner)
    : FOwner(owner), FCache(std::make_unique<TBlockCache>(BlockDataSize())) {}

TBlobFile::~TBlobFile() { DiscardBlocks(); }

void TBlobFile::Raise(TErrorCode code) const {
  RaiseEngineError(code, {.Database = FOwner.DatabaseName(), .Table = FOwner.TableName()});
}

void TBlobFile::SetBlockSize(std::int32_t blockSize) {
  if (blockSize == 0) blockSize = BlobBlock::DefaultBlockSize;
  if (blockSize < BlobBlock::MinBlockSize || blockSize > 65535) Raise(TARN_BLOBLIMIT);
  assert(!FOpened);
  if (blockSize == FBlockSize) return;
  FCache->DiscardAll();
  FBlockSize = blockSize;
  FCache = std::make_unique<TBlockCache>(BlockDataSize());
}

std::int32_t TBlobFile::NominalRoom() const {
  const std::int32_t bySize = std::max<std::int32_t>(FOwner.MaxBlobBufferSize(), 0) / FBlockSize;
  return std::min(bySize, std::max<std::int32_t>(FOwner.MaxBlobBufferCount(), 0));
}

void TBlobFile::ResetCache() {
  FCache->DiscardAll();
  FCache->SetRoom(NominalRoom());
  FReadAheadLimit = std::max<std::int32_t>(ReadAheadBytes / FBlockSize, 1);
}

std::int64_t TBlobFile::BlockOffset(std::int32_t blockNo) const {
  return (static_cast<std::int64_t>(blockNo) - 1) * FBlockSize +
         static_cast<std::int64_t>(BlobHeader::Size);
}

// --- Open, close, create -------------------------------------------------

void TBlobFile::OpenFile() {
  if (FOpened) return;
  TFileHandler::OpenFile();
  try {
    ReadBlobHeader();
  } catch (...) {
    CloseQuietly();
    throw;
  }
  ResetCache();
  ResetStatistics();
}

void TBlobFile::CloseFile() {
  DiscardBlocks();
  FHeaderDirty = false;
  TFileHandler::CloseFile();
}

void TBlobFile::CreateFile() {
  TFileHandler::CreateFile();
  ResetCache();
  ResetStatistics();
  FHeader = TBlobHeader{};
  FHeaderDirty = true;
  try {
    WriteBlobHeader(true);
  } catch (...) {
    CloseQuietly();
    throw;
  }
}

// --- Header ---------------------------------------------------------------

void TBlobFile::LoadHeaderImage(TBlobHeader& into) {
  std::uint8_t image[BlobHeader::Size];
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, 0);
    ReadBuffer(image);
  }
  if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
  into = TBlobHeader::Decode(image);
}

void TBlobFile::ReadBlobHeader() {
  TBlobHeader h;
  LoadHeaderImage(h);
  FHeader = h;
  FHeaderDirty = false;
}

bool TBlobFile::WriteBlobHeader(bool force) {
  if (!force && !FHeaderDirty) return false;
  TBlobHeader next = FHeader;
  next.BlobChangeCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(next.BlobChangeCount) + 1u);
  std::uint8_t image[BlobHeader::Size];
  next.Encode(image, FHeaderDirty);
  if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, 0);
    WriteBuffer(image);
  }
  FHeader = next;
  FOwner.MarkDataWritten();
  FHeaderDirty = false;
  return true;
}

void TBlobFile::BumpChangeCount() {
  FHeader.BlobChangeCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(FHeader.BlobChangeCount) + 1u);
  FHeaderDirty = true;
  FOwner.MarkDataWritten();
}

void TBlobFile::StoreHeader(const TBlobHeader& header) {
  std::uint8_t image[BlobHeader::Size];
  header.Encode(image, FHeaderDirty);
  if (FOwner.IsEncrypted()) ScrambleBytes(image, DataScrambleKey);
  TFileSection section(*this);
  SeekFile(TSeekOrigin::Begin, 0);
  WriteBuffer(image);
}

void TBlobFile::AnnounceHeaderWrite() {
  FHeader.BlobChangeCount =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(FHeader.BlobChangeCount) + 1u);
  FHeader.WriteInProgress = true;
  StoreHeader(FHeader);
  FOwner.MarkDataWritten();
}

void TBlobFile::CompleteHeaderWrite() {
  FHeader.WriteInProgress = false;
  try {
    StoreHeader(FHeader);
  } catch (...) {
    FHeader.WriteInProgress = true;  // the disk still holds the mark
    throw;
  }
  FOwner.MarkDataWritten();
  FHeaderDirty = false;
}

bool TBlobFile::HasUnwrittenChanges() const {
  return FHeaderDirty || FCache->AnyDirty();
}

bool TBlobFile::BlobHeaderChanged() {
  TBlobHeader disk;
  LoadHeaderImage(disk);
  if (disk.BlobChangeCount == FHeader.BlobChangeCount) return false;
  FHeader = disk;
  FHeaderDirty = false;
  return true;
}

void TBlobFile::EmptyBlobFile() {
  DiscardBlocks();
  {
    TFileSection section(*this);
    SeekFile(TSeekOrigin::Begin, static_cast<std::int64_t>(BlobHeader::Size));
    WriteBuffer({});
  }
  if (FOwner.ForceBufferFlush()) FlushFile();
  FOwner.MarkDataWritten();
  FHeader.BlobVersion = BlobHeader::CurrentVersion;
  FHeader.NextBlockNumber = 1;
  FHeader.FreeBlockList = 0;
  FHeaderDirty = true;
}

void TBlobFile::VerifyBlobHeader() const {
  const TErrorCode code = FHeader.Verify();
  if (code != 0) Raise(code);
}

// --- Blocks ---------------------------------------------------------------

std::unique_ptr<TBlock> TBlobFile::ObtainBlock(std::int32_t blockNo, bool cleared) {
  if (FCache->Full()) {
    std::unique_ptr<TBlock> victim = FCache->EvictLeastRecent();
    if (!victim && !FOwner.InTransaction()) {
      FlushBlocks();
      victim = FCache->EvictLeastRecent();
    }
    if (victim) {
      if (cleared)
        victim->Reset(blockNo);
      else
        victim->Renumber(blockNo);
      return victim;
    }
    FCache->SetRoom(FCache->Room() + RoomStep);
  }
  return FCache->Spare(blockNo);
}

TBlockPin TBlobFile::GetBlock(TBlobChangeCheck* cursor, std::int32_t blockNo, std::int32_t count,
                              bool readAhead) {
  if (blockNo <= 0 || blockNo > FHeader.NextBlockNumber) Raise(TARN_MEMOCORRUPT);

  if (blockNo == FHeader.NextBlockNumber) {
    if (blockNo > MaxBlockNumber || static_cast<std::int64_t>(blockNo) * FBlockSize +
                                            static_cast<std::int64_t>(BlobHeader::Size) >
                                        MaxFileSize) {
      Raise(TARN_TABLEFULL);
    }
    if (FCache->Peek(blockNo) != nullptr) Raise(TARN_MEMOCORRUPT);
    std::unique_ptr<TBlock> fresh = ObtainBlock(blockNo);
    fresh->MarkDirty();  // counted in NextBlockNumber, so it must reach the file
    TBlock* block = FCache->Insert(std::move(fresh));
    TBlockPin pin(*this, *block);
    ++FHeader.NextBlockNumber;
    FHeaderDirty = true;
    assert(CheckInvariants());
    return pin;
  }

  if (TBlock* hit = FCache->Find(blockNo)) {
    if (FJournal) JournalBlock(*hit);
    return TBlockPin(*this, *hit);
  }

  if (cursor != nullptr && !FOwner.StrictChangeDetection() && cursor->TableChanged()) return {};
  // The check may have re-read the header.
  if (blockNo >= FHeader.NextBlockNumber) Raise(TARN_MEMOCORRUPT);
  if (TBlock* hit = FCache->Find(blockNo)) {
    if (FJournal) JournalBlock(*hit);
    return TBlockPin(*this, *hit);
  }

  std::int32_t n = 1;
  if (readAhead) {
    n = std::min({FReadAheadLimit, std::max(count, 1), FHeader.NextBlockNumber - blockNo});
  }
  ReadBlocks(blockNo, n);
  TBlock* block = FCache->Find(blockNo);
  if (block == nullptr || block->BlockNo() != blockNo) Raise(TARN_MEMOCORRUPT);
  if (FJournal) JournalBlock(*block);
  assert(CheckInvariants());
  return TBlockPin(*this, *block);
}

void TBlobFile::BeginJournal() {
  assert(!FJournal);
  FJournal.emplace();
  FJournal->FreeBlockList = FHeader.FreeBlockList;
  FJournal->NextBlockNumber = FHeader.NextBlockNumber;
  FJournal->HeaderDirty = FHeaderDirty;
}

void TBlobFile::JournalBlock(const TBlock& block) {
  // Blocks added since the start need no image: the rollback drops them.
  if (block.BlockNo() >= FJournal->NextBlockNumber || !FJournal->Kept.Visit(block.BlockNo())) return;
  std::vector<std::uint8_t> image(BlobBlock::HeaderSize + block.DataSize());
  block.StoreTo(image);
  FJournal->Images.emplace_back(block.BlockNo(), std::move(image));
}

void TBlobFile::RollBackJournal() noexcept {
  if (!FJournal) return;
  TBlobJournal journal = std::move(*FJournal);
  FJournal.reset();
  for (std::int32_t n = journal.NextBlockNumber; n < FHeader.NextBlockNumber; ++n) FCache->Forget(n);
  for (auto& [blockNo, image] : journal.Images) {
    try {
      TBlock* block = FCache->Peek(blockNo);
      if (block == nullptr) block = FCache->Insert(ObtainBlock(blockNo));
      block->LoadFrom(image);
      block->MarkDirty();
    } catch (...) {
      // Without memory for the image the block stays as the failed operation
      // left it; the table's check reports what is left.
    }
  }
  FHeader.FreeBlockList = journal.FreeBlockList;
  FHeader.NextBlockNumber = journal.NextBlockNumber;
  FHeaderDirty = true;
  assert(CheckInvariants());
}

std::int32_t TBlobFile::ReadRawBlocks(std::int32_t first, std::int32_t count) {
  const std::int64_t bytes = static_cast<std::int64_t>(count) * FBlockSize;
  if (static_cast<std::int64_t>(FReadBuffer.size()) < bytes)
    GrowBuffer(bytes, BufferGranularity, FReadBuffer);
  const std::int32_t got =
      ReadBufferAt(BlockOffset(first),
                   std::span<std::uint8_t>(FReadBuffer.data(), static_cast<std::size_t>(bytes)));
  if (got < 0) Raise(TARN_READERR);  // not open
  ++FStats.DiskReads;
  // Only whole blocks count; a block that lies (partly) beyond the end of the
  // file is not read. The requested one must be there.
  const std::int32_t whole = std::min<std::int32_t>(got / FBlockSize, count);
  if (whole < 1) Raise(TARN_MEMOCORRUPT);
  FStats.BlocksRead += static_cast<std::uint64_t>(whole);
  return whole;
}

void TBlobFile::ReadBlocks(std::int32_t first, std::int32_t count) {
  TReadRangeGuard range(FReadFirst, FReadLast, first, first + count - 1);
  const std::int32_t whole = ReadRawBlocks(first, count);

  const bool encrypted = FOwner.IsEncrypted();
  for (std::int32_t i = whole - 1; i >= 0; --i) {
    std::span<std::uint8_t> image(FReadBuffer.data() + static_cast<std::size_t>(i) * FBlockSize,
                                  static_cast<std::size_t>(FBlockSize));
    const std::int32_t blockNo = first + i;
    if (TBlock* cached = FCache->Peek(blockNo)) {
      if (!cached->Dirty() && cached->PinCount() == 0) {
        if (encrypted) ScrambleBlockImage(image);
        cached->LoadFrom(image);
      }
      FCache->Touch(*cached);
      continue;
    }
    std::unique_ptr<TBlock> block = ObtainBlock(blockNo, false);
    if (encrypted) ScrambleBlockImage(image);
    block->LoadFrom(image);
    FCache->Insert(std::move(block));
  }
}

std::span<const std::uint8_t> TBlobFile::ReadUncached(std::int32_t first, std::int32_t count) {
  const std::int32_t whole = ReadRawBlocks(first, count);
  const std::size_t used = static_cast<std::size_t>(whole) * static_cast<std::size_t>(FBlockSize);
  if (FOwner.IsEncrypted()) {
    for (std::size_t at = 0; at < used; at += static_cast<std::size_t>(FBlockSize))
      ScrambleBlockImage(std::span<std::uint8_t>(FReadBuffer.data() + at, static_cast<std::size_t>(FBlockSize)));
  }
  return {FReadBuffer.data(), used};
}

bool TBlobFile::CanAppendUncached(std::int64_t bytes) const {
  if (FHeader.FreeBlockList != 0 || FJournal || FOwner.InTransaction()) return false;
  const std::int64_t dataSize = BlockDataSize();
  return (bytes + dataSize - 1) / dataSize >= UncachedChainBlocks();
}

std::int32_t TBlobFile::AppendUncached(TBlock* last, std::span<const std::uint8_t> bytes, std::int32_t stamp) {
  const std::int64_t dataSize = BlockDataSize();
  const std::int64_t total = static_cast<std::int64_t>(bytes.size());
  const std::int64_t count = (total + dataSize - 1) / dataSize;
  assert(count > 0);
  const std::int64_t first = FHeader.NextBlockNumber;
  const std::int64_t end = first + count - 1;
  if (end > MaxBlockNumber ||
      end * FBlockSize + static_cast<std::int64_t>(BlobHeader::Size) > MaxFileSize) {
    Raise(TARN_TABLEFULL);
  }
  // Nothing past the file's last block is ever cached; a block that is would
  // be a second copy of one written here.
  for (std::int64_t n = first; n <= end; ++n)
    if (FCache->Peek(static_cast<std::int32_t>(n)) != nullptr) Raise(TARN_MEMOCORRUPT);

  // Other programs must learn of the change before a block of it reaches the disk.
  FOwner.BeforeWritingBlocks();
  const std::int64_t perWrite = std::max<std::int64_t>(UncachedRunBytes / FBlockSize, 1);
  const std::int64_t bufferBytes = std::min(perWrite, count) * FBlockSize;
  if (static_cast<std::int64_t>(FWriteBuffer.size()) < bufferBytes)
    GrowBuffer(bufferBytes, BufferGranularity, FWriteBuffer);
  const bool encrypted = FOwner.IsEncrypted();
  std::int64_t copied = 0;
  for (std::int64_t from = first; from <= end; from += perWrite) {
    const std::int64_t runEnd = std::min(end, from + perWrite - 1);
    std::uint8_t* image = FWriteBuffer.data();
    for (std::int64_t n = from; n <= runEnd; ++n, image += FBlockSize) {
      const auto piece = static_cast<std::int32_t>(std::min(dataSize, total - copied));
      std::span<std::uint8_t> block(image, static_cast<std::size_t>(FBlockSize));
      const bool head = n == first;
      PutLEI32(block, BlobBlock::PrevBlockAt,
               head ? (last != nullptr ? last->BlockNo() : 0) : static_cast<std::int32_t>(n - 1));
      PutLEI32(block, BlobBlock::NextBlockAt, n == end ? 0 : static_cast<std::int32_t>(n + 1));
      PutLE16(block, BlobBlock::UsedBytesAt, static_cast<std::uint16_t>(piece));
      PutLEI32(block, BlobBlock::BlobStampAt, stamp);
      PutLE32(block, BlobBlock::BlobSizeAt, head && last == nullptr ? static_cast<std::uint32_t>(total) : 0u);
      std::uint8_t* data = image + BlobBlock::HeaderSize;
      std::copy_n(bytes.data() + copied, piece, data);
      std::fill(data + piece, data + dataSize, std::uint8_t{0});
      copied += piece;
      if (encrypted) ScrambleBlockImage(block);
    }
    const std::int64_t runBytes = (runEnd - from + 1) * FBlockSize;
    const std::int64_t offset = BlockOffset(static_cast<std::int32_t>(from));
    {
      TFileSection section(*this);
      if (SeekFile(TSeekOrigin::Begin, offset) != offset) Raise(TARN_WRITEERR);
      WriteBuffer(std::span<const std::uint8_t>(FWriteBuffer.data(), static_cast<std::size_t>(runBytes)));
    }
    FOwner.MarkDataWritten();
    ++FStats.WriteRuns;
    FStats.BlocksWritten += static_cast<std::uint64_t>(runEnd - from + 1);
  }
  FHeader.NextBlockNumber = static_cast<std::int32_t>(end + 1);
  FHeaderDirty = true;
  if (last != nullptr) last->SetNextBlock(static_cast<std::int32_t>(first));
  return static_cast<std::int32_t>(first);
}

TBlockPin TBlobFile::MustGetBlock(TBlobChangeCheck* cursor, std::int32_t blockNo,
                                  std::int32_t count, bool readAhead) {
  TBlockPin pin = GetBlock(cursor, blockNo, count, readAhead);
  if (!pin) Raise(TARN_KEYORRECDELETED);
  return pin;
}

void TBlobFile::ReleaseBlock(TBlock& block) noexcept {
  block.Unpin();
  if (!block.Cached() && block.PinCount() == 0) FCache->ReleaseOrphan(block);
}

TBlockPin TBlobFile::AllocBlock(TBlobChangeCheck* cursor) {
  const std::int32_t head = FHeader.FreeBlockList;
  const std::int32_t blockNo = head != 0 ? head : FHeader.NextBlockNumber;
  TBlockPin pin = MustGetBlock(cursor, blockNo, 1, false);
  if (head != 0) {
    const std::int32_t next = pin->NextBlock();
    // The free list must stay inside the file and not point at its own head.
    if ((next != 0 && !IsBlockInFile(next)) || next == blockNo) Raise(TARN_MEMOCORRUPT);
    // A block handed out twice (free list crossing a chain in use) is pinned
    // by its other holder.
    if (pin->PinCount() > 1) Raise(TARN_MEMOCORRUPT);
    FHeader.FreeBlockList = next;
    FHeaderDirty = true;
    pin->ClearContents();
  }
  // An appended block comes cleared and dirty already.
  return pin;
}

void TBlobFile::FreeBlock(TBlock& block) {
  block.SetNextBlock(FHeader.FreeBlockList);
  FHeader.FreeBlockList = block.BlockNo();
  FHeaderDirty = true;
}

void TBlobFile::FreeChain(TBlobChangeCheck* cursor, std::int32_t firstBlock, std::int32_t stamp,
                          bool repairStamps) {
  FreeChainLimited(cursor, firstBlock, stamp, repairStamps, 0, nullptr);
}

void TBlobFile::FreeChainLimited(TBlobChangeCheck* cursor, std::int32_t firstBlock,
                                 std::int32_t stamp, bool repairStamps, std::int64_t maxBlocks,
                                 const TChainVisits* exclude) {
  if (firstBlock == 0) return;
  const std::int64_t dataSize = BlockDataSize();
  auto badLink = [&](std::int32_t n) { return !IsBlockInFile(n); };
  if (badLink(firstBlock) || (exclude != nullptr && exclude->Contains(firstBlock)))
    Raise(TARN_MEMOCORRUPT);

  // Pass 1: walk and check the whole chain; nothing is changed yet.
  std::vector<std::int32_t> chain;
  TChainVisits visits;
  {
    TBlockPin cur = MustGetBlock(cursor, firstBlock, 1, false);
    if (!repairStamps && cur->BlobStamp() != stamp) Raise(TARN_MEMOCORRUPT);
    std::int64_t limit = maxBlocks;
    if (limit <= 0)
      limit = std::max<std::int64_t>((std::int64_t{cur->BlobSize()} + dataSize - 1) / dataSize, 1);
    chain.push_back(firstBlock);
    visits.Visit(firstBlock);
    for (;;) {
      const std::int32_t next = cur->NextBlock();
      if (next == 0) break;
      if (static_cast<std::int64_t>(chain.size()) >= limit) Raise(TARN_MEMOCORRUPT);
      if (badLink(next) || !visits.Visit(next) || (exclude != nullptr && exclude->Contains(next))) {
        Raise(TARN_MEMOCORRUPT);
      }
      const auto ahead = static_cast<std::int32_t>(
          std::min<std::int64_t>(limit - static_cast<std::int64_t>(chain.size()),
                                 std::numeric_limits<std::int32_t>::max()));
      TBlockPin nextPin = MustGetBlock(cursor, next, ahead, true);
      // The back link must agree: a block of another chain (or of the free
      // list) is never freed as part of this one, whatever its stamp.
      if (nextPin->PinCount() > 1 || nextPin->PrevBlock() != cur->BlockNo())
        Raise(TARN_MEMOCORRUPT);
      if (!repairStamps && nextPin->BlobStamp() != stamp) Raise(TARN_MEMOCORRUPT);
      chain.push_back(next);
      cur = std::move(nextPin);
    }
  }

  // Pass 2: free them first to last, so the last one heads the free list.
  const auto total = static_cast<std::int32_t>(chain.size());
  for (std::int32_t i = 0; i < total; ++i) {
    TBlockPin pin = MustGetBlock(cursor, chain[static_cast<std::size_t>(i)], total - i, true);
    if (repairStamps && pin->BlobStamp() != stamp) pin->SetBlobStamp(stamp);
    FreeBlock(*pin);
  }
  assert(CheckInvariants());
}

bool TBlobFile::FlushBlocks() {
  std::vector<TBlock*> dirty;
  for (TBlock* b : FCache->Blocks()) {
    if (!b->Dirty() || b->PinCount() > 0) continue;
    if (b->BlockNo() >= FReadFirst && b->BlockNo() <= FReadLast) continue;
    dirty.push_back(b);
  }
  if (dirty.empty()) return false;
  // Other programs must learn of the change before a block of it reaches the disk.
  FOwner.BeforeWritingBlocks();
  const std::int64_t perWrite = std::max<std::int64_t>(MaxWriteBytes / FBlockSize, 1);
  std::size_t from = 0;
  while (from < dirty.size()) {
    std::size_t to = from + 1;
    while (to < dirty.size() && dirty[to]->BlockNo() == dirty[to - 1]->BlockNo() + 1 &&
           static_cast<std::int64_t>(to - from) < perWrite) {
      ++to;
    }
    WriteRun(from, to, dirty);
    from = to;
  }
  return true;
}

void TBlobFile::WriteRun(std::size_t from, std::size_t to, const std::vector<TBlock*>& blocks) {
  const std::int64_t bytes = static_cast<std::int64_t>(to - from) * FBlockSize;
  if (static_cast<std::int64_t>(FWriteBuffer.size()) < bytes)
    GrowBuffer(bytes, BufferGranularity, FWriteBuffer);
  const bool encrypted = FOwner.IsEncrypted();
  for (std::size_t i = from; i < to; ++i) {
    std::span<std::uint8_t> image(
        FWriteBuffer.data() + (i - from) * static_cast<std::size_t>(FBlockSize),
        static_cast<std::size_t>(FBlockSize));
    blocks[i]->StoreTo(image);
    if (encrypted) ScrambleBlockImage(image);
  }
  const std::int64_t offset = BlockOffset(blocks[from]->BlockNo());
  {
    TFileSection section(*this);
    if (SeekFile(TSeekOrigin::Begin, offset) != offset) Raise(TARN_WRITEERR);
    WriteBuffer(
        std::span<const std::uint8_t>(FWriteBuffer.data(), static_cast<std::size_t>(bytes)));
  }
  FOwner.MarkDataWritten();
  for (std::size_t i = from; i < to; ++i) blocks[i]->MarkClean();
  ++FStats.WriteRuns;
  FStats.BlocksWritten += to - from;
}

void TBlobFile::DiscardBlocks() noexcept { FCache->DiscardAll(); }

void TBlobFile::TrimBlockCache() noexcept { FCache->TrimTo(NominalRoom()); }

// --- Block data -----------------------------------------------------------

std::int32_t TBlobFile::ReadBlockData(const TBlock& block, std::int32_t offset, std::int32_t length,
                                      std::span<std::uint8_t> dest) {
  const std::int32_t dataSize = BlockDataSize();
  if (length < 0 || length > dataSize) Raise(TARN_INVALIDBLOBLEN);
  const std::int32_t used = block.UsedBytes();
  if (used > dataSize) Raise(TARN_MEMOCORRUPT);
  const std::int32_t n = std::min(length, used);
  if (offset < 0 || static_cast<std::int64_t>(offset) + n > dataSize) Raise(TARN_INVALIDBLOBLEN);
  assert(dest.size() >= static_cast<std::size_t>(n));
  std::copy_n(block.Data().begin() + offset, n, dest.begin());
  return n;
}

void TBlobFile::WriteBlockData(TBlock& block, std::int32_t offset, std::int32_t length,
                               std::span<const std::uint8_t> src) {
  const std::int32_t dataSize = BlockDataSize();
  if (length < 0 || length > dataSize) Raise(TARN_INVALIDBLOBLEN);
  if (offset < 0 || static_cast<std::int64_t>(offset) + length > dataSize)
    Raise(TARN_INVALIDBLOBLEN);
  assert(src.size() >= static_cast<std::size_t>(length));
  std::copy_n(src.begin(), length, block.MutableData().begin() + offset);
  block.SetUsedBytes(offset + length);
}

// --- Statistics -----------------------------------------------------------

TBlobStatistics TBlobFile::Statistics() const {
  TBlobStatistics s = FStats;
  s.CacheHits = FCache->Hits();
  return s;
}

void TBlobFile::ResetStatistics() {
  FStats = TBlobStatistics{};
  FCache->ResetStatistics();
}

}  // namespace tarn
