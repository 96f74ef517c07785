#include "engine/blob/blob_buffer.h"

#include <algorithm>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/base/error_codes.h"
#include "engine/blob/blob_file.h"
#include "engine/blob/chain_visits.h"

namespace tarn {

namespace {

// A change check that keeps reporting changes (another program writing
// without pause) ends the load after this many fresh starts.
constexpr int MaxLoadRestarts = 1000;

// Bytes reserved for a value before its chain is read.
constexpr std::int64_t InitialLoadReserve = 1 << 20;

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return a <= 0 ? 0 : (a + b - 1) / b; }

std::int32_t ReadAheadCount(std::int64_t bytes, std::int64_t dataSize) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      CeilDiv(bytes, dataSize), 1, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

TBlobBuffer::TBlobBuffer(TBlobFile& file, TBlobChangeCheck* cursor, std::int32_t fieldNo,
                         std::int32_t firstBlock, std::int32_t stamp, std::int32_t recLink,
                         std::uint8_t openMode, std::uint32_t flags)
    : FFile(file),
      FCursor(cursor),
      FFieldNo(fieldNo),
      FFirstBlock(firstBlock),
      FBlobStamp(stamp),
      FChainStamp(stamp),
      FRecLink(recLink),
      FOpenMode(openMode),
      FFlags(flags) {}

std::int32_t TBlobBuffer::Close() {
  if (FOpenCount > 0) --FOpenCount;
  return FOpenCount;
}

void TBlobBuffer::Write(std::size_t offset, std::span<const std::uint8_t> bytes) {
  if (offset + bytes.size() > FData.size()) FData.resize(offset + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), FData.begin() + static_cast<std::ptrdiff_t>(offset));
  FModified = true;
}

void TBlobBuffer::SetBlobSize(std::size_t size) {
  FData.resize(size, 0);
  FData.shrink_to_fit();
  FModified = true;
}

void TBlobBuffer::KeepOriginal() { FOriginal = FData; }

void TBlobBuffer::CheckFirstBlock() const {
  // NextBlockNumber itself would append a fresh block instead of reading one.
  if (!FFile.IsBlockInFile(FFirstBlock)) FFile.Raise(TARN_MEMOCORRUPT);
}

void TBlobBuffer::LoadBlob() {
  if (FFirstBlock == 0) {
    FData.clear();
    FModified = false;
    return;
  }
  const std::int64_t dataSize = FFile.BlockDataSize();
  TChainVisits visits;
  for (int attempt = 0;; ++attempt) {
    if (attempt > MaxLoadRestarts) FFile.Raise(TARN_KEYORRECDELETED);
    CheckFirstBlock();  // again after each change: the header may have been re-read
    visits.Clear();
    // The length is not known before the first block is in, so the first
    // read takes a full read-ahead: the blocks that follow usually hold the
    // rest of this chain or the blobs written after it.
    TBlockPin cur = FFile.GetBlock(FCursor, FFirstBlock, FFile.ReadAheadLimit(), true);
    if (!cur) continue;
    if (cur->BlobStamp() != FChainStamp) FFile.Raise(TARN_KEYORRECDELETED);
    const std::int64_t length = cur->BlobSize();
    // No chain can hold more than every block of the file; a larger length is
    // never allocated.
    const std::int64_t fileCapacity =
        (static_cast<std::int64_t>(FFile.Header().NextBlockNumber) - 1) * dataSize;
    if (length > fileCapacity || length > std::numeric_limits<std::int32_t>::max()) {
      FFile.Raise(TARN_ENDOFBLOB);
    }
    // The header's NextBlockNumber is not checked against the file's size,
    // so the value grows with the blocks actually read, never by the length
    // field alone.
    std::vector<std::uint8_t> value;
    value.reserve(static_cast<std::size_t>(std::min<std::int64_t>(length, InitialLoadReserve)));
    visits.Visit(FFirstBlock);
    std::int64_t copied = 0;
    bool restart = false;
    for (;;) {
      if (cur->BlobStamp() != FChainStamp) FFile.Raise(TARN_KEYORRECDELETED);
      if (cur->PinCount() > 1) FFile.Raise(TARN_MEMOCORRUPT);
      const auto want = static_cast<std::int32_t>(std::min(dataSize, length - copied));
      if (want == 0) break;
      value.resize(static_cast<std::size_t>(copied + want));
      const std::int32_t n = FFile.ReadBlockData(
          *cur, 0, want,
          std::span<std::uint8_t>(value.data() + copied, static_cast<std::size_t>(want)));
      copied += n;
      value.resize(static_cast<std::size_t>(copied));
      if (n < want || n == 0 || copied == length) break;
      const std::int32_t next = cur->NextBlock();
      if (next == 0) break;
      if (!FFile.IsBlockInFile(next) || !visits.Visit(next)) {
        FFile.Raise(TARN_MEMOCORRUPT);
      }
      if (CeilDiv(length - copied, dataSize) >= FFile.UncachedChainBlocks()) {
        cur.Release();
        restart = !LoadRestUncached(next, length, value, visits);
        copied = static_cast<std::int64_t>(value.size());
        break;
      }
      TBlockPin nextPin =
          FFile.GetBlock(FCursor, next, ReadAheadCount(length - copied, dataSize), true);
      if (!nextPin) {
        restart = true;
        break;
      }
      cur = std::move(nextPin);
    }
    if (restart) continue;
    if (copied < length) FFile.Raise(TARN_ENDOFBLOB);
    FData = std::move(value);
    FModified = false;
    return;
  }
}

bool TBlobBuffer::LoadRestUncached(std::int32_t next, std::int64_t length, std::vector<std::uint8_t>& value,
                                   TChainVisits& visits) {
  const std::int32_t blockSize = FFile.BlockSize();
  const std::int64_t dataSize = FFile.BlockDataSize();
  const std::int32_t perRead = std::max(TBlobFile::UncachedRunBytes / blockSize, 1);
  std::span<const std::uint8_t> run;  // block images read from runFirst on
  std::int32_t runFirst = 0;
  for (;;) {
    std::int32_t stamp = 0;
    std::int32_t used = 0;
    std::int32_t link = 0;
    const std::uint8_t* data = nullptr;
    TBlock* cached = FFile.FCache->Find(next);
    const auto runCount = static_cast<std::int64_t>(run.size() / static_cast<std::size_t>(blockSize));
    if (cached == nullptr && (run.empty() || next < runFirst || next - runFirst >= runCount)) {
      if (FCursor != nullptr && !FFile.FOwner.StrictChangeDetection() && FCursor->TableChanged()) return false;
      // The check may have re-read the header.
      if (!FFile.IsBlockInFile(next)) FFile.Raise(TARN_MEMOCORRUPT);
      cached = FFile.FCache->Find(next);
      if (cached == nullptr) {
        const std::int64_t wanted = CeilDiv(length - static_cast<std::int64_t>(value.size()), dataSize);
        const auto count = static_cast<std::int32_t>(
            std::min<std::int64_t>({wanted, perRead, std::int64_t{FFile.Header().NextBlockNumber} - next}));
        run = FFile.ReadUncached(next, std::max(count, 1));
        runFirst = next;
      }
    }
    if (cached != nullptr) {
      if (cached->PinCount() > 0) FFile.Raise(TARN_MEMOCORRUPT);
      stamp = cached->BlobStamp();
      used = cached->UsedBytes();
      link = cached->NextBlock();
      data = cached->Data().data();
    } else {
      const std::span<const std::uint8_t> image =
          run.subspan(static_cast<std::size_t>(next - runFirst) * static_cast<std::size_t>(blockSize),
                      static_cast<std::size_t>(blockSize));
      stamp = GetLEI32(image, BlobBlock::BlobStampAt);
      used = GetLE16(image, BlobBlock::UsedBytesAt);
      link = GetLEI32(image, BlobBlock::NextBlockAt);
      data = image.data() + BlobBlock::HeaderSize;
    }
    if (stamp != FChainStamp) FFile.Raise(TARN_KEYORRECDELETED);
    if (used > dataSize) FFile.Raise(TARN_MEMOCORRUPT);
    const std::int64_t copied = static_cast<std::int64_t>(value.size());
    const auto want = static_cast<std::int32_t>(std::min(dataSize, length - copied));
    const std::int32_t n = std::min(want, used);
    if (value.capacity() < static_cast<std::size_t>(copied + n)) {
      // Grown with the blocks read, never by the length field alone.
      value.reserve(static_cast<std::size_t>(
          std::min<std::int64_t>(length, std::max<std::int64_t>(copied + n, 2 * copied))));
    }
    value.insert(value.end(), data, data + n);
    if (n < want || n == 0 || copied + n == length) return true;
    if (link == 0) return true;
    if (!FFile.IsBlockInFile(link) || !visits.Visit(link)) FFile.Raise(TARN_MEMOCORRUPT);
    next = link;
  }
}

void TBlobBuffer::SaveBlob() {
  if (FData.empty()) {
    DeleteBlob();
    FModified = false;
    return;
  }
  if (FData.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    FFile.Raise(TARN_INVALIDBLOBLEN);
  }
  const std::int64_t length = static_cast<std::int64_t>(FData.size());
  const std::int64_t dataSize = FFile.BlockDataSize();
  TChainVisits visits;

  std::int64_t oldLength = 0;
  std::int64_t oldBlocks = 0;
  TBlockPin cur;
  if (FFirstBlock != 0) {
    CheckFirstBlock();
    cur = FFile.MustGetBlock(FCursor, FFirstBlock, 1, false);
    if (cur->BlobStamp() != FChainStamp) FFile.Raise(TARN_KEYORRECDELETED);
    oldLength = cur->BlobSize();
    oldBlocks = std::max<std::int64_t>(CeilDiv(oldLength, dataSize), 1);
  } else if (FFile.CanAppendUncached(length)) {
    // A long new value: the whole chain goes to the end of the file, past the cache.
    FFirstBlock = FFile.AppendUncached(nullptr, FData, FBlobStamp);
    FChainStamp = FBlobStamp;
    FModified = false;
    return;
  } else {
    cur = FFile.AllocBlock(FCursor);
  }
  const std::int32_t first = cur->BlockNo();
  visits.Visit(first);
  cur->SetPrevBlock(0);
  cur->SetBlobStamp(FBlobStamp);
  cur->SetBlobSize(static_cast<std::uint32_t>(length));

  std::int64_t written = 0;
  std::int64_t blocksUsed = 1;
  bool appended = false;
  for (;;) {
    const auto piece = static_cast<std::int32_t>(std::min(dataSize, length - written));
    FFile.WriteBlockData(
        *cur, 0, piece,
        std::span<const std::uint8_t>(FData.data() + written, static_cast<std::size_t>(piece)));
    written += piece;
    if (written >= length) break;
    if (cur->NextBlock() == 0 && FFile.CanAppendUncached(length - written)) {
      // A long rest goes to new blocks at the end of the file, past the cache.
      FFile.AppendUncached(&*cur,
                           std::span<const std::uint8_t>(FData.data() + written,
                                                         static_cast<std::size_t>(length - written)),
                           FBlobStamp);
      written = length;
      appended = true;
      break;
    }

    TBlockPin nextPin;
    const std::int32_t next = cur->NextBlock();
    if (next != 0) {
      // Reuse the next block of the old chain: it must be one of its blocks.
      if (!FFile.IsBlockInFile(next) || visits.Contains(next) || blocksUsed >= oldBlocks) {
        FFile.Raise(TARN_MEMOCORRUPT);
      }
      nextPin =
          FFile.MustGetBlock(FCursor, next, ReadAheadCount(oldLength - written, dataSize), true);
      if (nextPin->PinCount() > 1 || nextPin->BlobStamp() != FChainStamp ||
          nextPin->PrevBlock() != cur->BlockNo()) {
        FFile.Raise(TARN_MEMOCORRUPT);
      }
    } else {
      nextPin = FFile.AllocBlock(FCursor);
      // A free list that crosses this chain would hand one of its blocks out again.
      if (visits.Contains(nextPin->BlockNo())) FFile.Raise(TARN_MEMOCORRUPT);
    }
    visits.Visit(nextPin->BlockNo());
    ++blocksUsed;
    cur->SetNextBlock(nextPin->BlockNo());
    nextPin->SetPrevBlock(cur->BlockNo());
    nextPin->SetBlobStamp(FBlobStamp);
    nextPin->SetBlobSize(0);
    cur = std::move(nextPin);
  }
  if (written < length) FFile.Raise(TARN_ENDOFBLOB);

  const std::int32_t rest = appended ? 0 : cur->NextBlock();
  if (rest != 0) {
    // The old value was longer: free what is left of its chain.
    cur->SetNextBlock(0);
    FFile.FreeChainLimited(FCursor, rest, FChainStamp, false,
                           std::max<std::int64_t>(oldBlocks - blocksUsed, 1), &visits);
  }
  FFirstBlock = first;
  FChainStamp = FBlobStamp;
  FModified = false;
}

void TBlobBuffer::DeleteBlob() {
  if (FFirstBlock == 0) return;
  CheckFirstBlock();
  {
    TBlockPin head = FFile.MustGetBlock(FCursor, FFirstBlock, 1, false);
    if (head->BlobStamp() != FChainStamp) FFile.Raise(TARN_KEYORRECDELETED);
  }
  FFile.FreeChain(FCursor, FFirstBlock, FBlobStamp, true);
  FFirstBlock = 0;
  FChainStamp = FBlobStamp;
}

void SaveModifiedBlobs(TBlobFile& file, std::span<TBlobBuffer* const> buffers) {
  const TBlobBuffer* firstModified = nullptr;
  for (const TBlobBuffer* b : buffers) {
    if (b == nullptr || !b->Modified()) continue;
    if (firstModified == nullptr)
      firstModified = b;
    else if (b->RecLink() != firstModified->RecLink())
      file.Raise(TARN_MEMOCORRUPT);
  }
  for (TBlobBuffer* b : buffers) {
    if (b == nullptr || !b->Modified()) continue;
    b->SetBlobStamp(file.Owner().NextBlobStamp());
    b->SaveBlob();
  }
}

}  // namespace tarn
