#pragma once
// One block of a blob file in memory, and the on-disk image of a block.
//
// Block image (block-size bytes; all integers little-endian):
//   offset  size           field
//        0     4           PrevBlock  previous block of the same blob, 0 for the first
//        4     4           NextBlock  next block of the same blob, 0 for the last; on a
//                                     free block the next free block (0 ends the list)
//        8     2           UsedBytes  data bytes used in this block
//       10     4           BlobStamp  signed stamp of the value owning the block; equal in
//                                     every block of a chain
//       14     4           BlobSize   total length of the value in bytes; in the first
//                                     block only, 0 in the others
//       18     block - 18  data       the value's bytes, from the start of the area
// When the table is encrypted, the 18 header bytes and the data area are
// scrambled as two separate runs with the data key.
//
// UsedBytes is kept as the 16 bits of the count. Block sizes above 32785 give
// data areas of more than 32767 bytes, whose counts only fit when the two
// bytes are read unsigned; they are always read that way.
//
// Invariants of a sound chain of a value of L > 0 bytes (D = data bytes per block):
//   (1) it has exactly ceil(L / D) blocks, all carrying the same BlobStamp;
//   (2) the first block has PrevBlock 0 and BlobSize L, the others BlobSize 0;
//   (3) PrevBlock and NextBlock link the blocks both ways, the last has NextBlock 0;
//   (4) every block but the last is full (UsedBytes = D); the last holds the rest;
//   (5) every link lies within 1 .. NextBlockNumber - 1 and no block appears twice.
//
// A TBlock is owned by the block cache of its blob file (or by the spare pool,
// TBlockStack). It is pinned while a caller holds it (TBlockPin); pinned or
// dirty blocks are never evicted or refreshed from disk.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarn {

namespace BlobBlock {
inline constexpr std::size_t PrevBlockAt = 0;
inline constexpr std::size_t NextBlockAt = 4;
inline constexpr std::size_t UsedBytesAt = 8;
inline constexpr std::size_t BlobStampAt = 10;
inline constexpr std::size_t BlobSizeAt = 14;
inline constexpr std::size_t HeaderSize = 18;
static_assert(BlobSizeAt + 4 == HeaderSize);

// Smallest block size a table may have, and the size kept as 0 in the data
// header.
inline constexpr std::int32_t MinBlockSize = 64;
inline constexpr std::int32_t DefaultBlockSize = 512;
}  // namespace BlobBlock

// Scrambles (or descrambles) a whole block image in place: the block header
// and the data area as two runs, each starting the transform afresh.
void ScrambleBlockImage(std::span<std::uint8_t> image);

class TBlockCache;

class TBlock {
 public:
  // A block with a data area of dataSize bytes, number 0, clean and unpinned.
  explicit TBlock(std::size_t dataSize);
  TBlock(const TBlock&) = delete;
  TBlock& operator=(const TBlock&) = delete;

  std::int32_t BlockNo() const { return FBlockNo; }
  bool Dirty() const { return FDirty; }
  std::int32_t PinCount() const { return FPinCount; }
  // The block is in its file's cache lists (false while pooled, or after the
  // cache was emptied while the block was still pinned).
  bool Cached() const { return FCached; }

  std::int32_t PrevBlock() const { return FPrevBlock; }
  std::int32_t NextBlock() const { return FNextBlock; }
  std::int32_t UsedBytes() const { return FUsedBytes; }
  std::int32_t BlobStamp() const { return FBlobStamp; }
  std::uint32_t BlobSize() const { return FBlobSize; }
  std::size_t DataSize() const { return FData.size(); }
  std::span<const std::uint8_t> Data() const { return FData; }
  std::span<std::uint8_t> MutableData() { return FData; }

  // The setters mark the block dirty.
  void SetPrevBlock(std::int32_t n);
  void SetNextBlock(std::int32_t n);
  // Requires: 0 <= n <= DataSize().
  void SetUsedBytes(std::int32_t n);
  void SetBlobStamp(std::int32_t stamp);
  void SetBlobSize(std::uint32_t size);
  void MarkDirty() { FDirty = true; }
  void MarkClean() { FDirty = false; }

  // Header fields 0, data zero; marks the block dirty.
  void ClearContents();
  // Makes the object fresh for block blockNo: contents cleared, clean,
  // unpinned, unlinked.
  void Reset(std::int32_t blockNo);
  // The same without clearing the contents, for a block whose image LoadFrom
  // stores next (it replaces all of them).
  void Renumber(std::int32_t blockNo);

  // Takes header and data from a plain image of HeaderSize + DataSize() bytes
  // and marks the block clean. Validates nothing: readers check the fields.
  void LoadFrom(std::span<const std::uint8_t> image);
  // Writes the plain image of HeaderSize + DataSize() bytes.
  void StoreTo(std::span<std::uint8_t> image) const;

  void Pin() { ++FPinCount; }
  // Requires: pinned.
  void Unpin();

 private:
  friend class TBlockCache;

  std::int32_t FBlockNo = 0;
  bool FDirty = false;
  bool FCached = false;
  std::int32_t FPinCount = 0;
  std::int32_t FPrevBlock = 0;
  std::int32_t FNextBlock = 0;
  std::int32_t FUsedBytes = 0;
  std::int32_t FBlobStamp = 0;
  std::uint32_t FBlobSize = 0;
  std::vector<std::uint8_t> FData;
  // Recently-used list of the cache: FNewer towards the head (most recent).
  TBlock* FNewer = nullptr;
  TBlock* FOlder = nullptr;
};

}  // namespace tarn
