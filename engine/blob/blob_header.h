#pragma once
// The 512-byte header of a blob file (".BLB") and its image codec.
//
// A blob file is this header followed by fixed-size blocks (block.h). Block n
// (n >= 1) occupies the block-size bytes at offset (n - 1) x block size + 512.
//
// Header layout (all integers little-endian):
//   offset  size  field
//        0     4  BlobChangeCount  signed; raised on every header write, so other
//                                  programs notice changes by comparing it
//        4     1  WriteInProgress  1 while a write of the table's buffers is under
//                                  way (set by its first header write, cleared by
//                                  its last); 0 otherwise
//        5     3  reserved         zero
//        8     1  BlobVersion      always 5
//        9     4  FreeBlockList    first block of the free-block list, 0 = empty
//       13     4  NextBlockNumber  first block number never used; 1 in a new file
//       17     1  HeaderDirty      the in-memory dirty flag at the time of the write:
//                                  1 after a change, 0 for a forced write without
//                                  one; ignored when read
//       18   494  reserved         zero
// When the table is encrypted, the 512 bytes are scrambled as one run with the
// data key.
//
// Invariants of a sound header (checked by Verify):
//   (1) BlobVersion is 5;
//   (2) NextBlockNumber >= 1;
//   (3) 0 <= FreeBlockList <= NextBlockNumber - 1 (so 0 when the file has no blocks).
// WriteInProgress found while no program holds the table's write lock marks
// an interrupted write: the table counts as damaged (8963 for this file) until
// a repair clears it. Files written before the byte was used hold 0 there.

#include <cstdint>
#include <span>

#include "engine/base/error_codes.h"

namespace tarn {

namespace BlobHeader {
inline constexpr std::size_t ChangeCountAt = 0;
inline constexpr std::size_t WriteInProgressAt = 4;
inline constexpr std::size_t Reserved1At = 5;
inline constexpr std::size_t VersionAt = 8;
inline constexpr std::size_t FreeBlockListAt = 9;
inline constexpr std::size_t NextBlockNumberAt = 13;
inline constexpr std::size_t HeaderDirtyAt = 17;
inline constexpr std::size_t Reserved2At = 18;
inline constexpr std::size_t Reserved2Size = 494;
inline constexpr std::size_t Size = 512;
static_assert(Reserved2At + Reserved2Size == Size);
static_assert(HeaderDirtyAt + 1 == Reserved2At);
static_assert(WriteInProgressAt + 1 == Reserved1At && Reserved1At + 3 == VersionAt);

inline constexpr std::uint8_t CurrentVersion = 5;
}  // namespace BlobHeader

// The decoded header as held in memory.
struct TBlobHeader {
  std::int32_t BlobChangeCount = 0;
  std::uint8_t BlobVersion = BlobHeader::CurrentVersion;
  std::int32_t FreeBlockList = 0;
  std::int32_t NextBlockNumber = 1;
  bool WriteInProgress = false;

  // Reads the fields from a plain (already descrambled) 512-byte image.
  // Requires: image.size() >= BlobHeader::Size. Validates nothing.
  static TBlobHeader Decode(std::span<const std::uint8_t> image);
  // Writes the whole plain image: the fields (WriteInProgress included), dirty
  // as the HeaderDirty byte, and zero reserved bytes.
  // Requires: image.size() >= BlobHeader::Size.
  void Encode(std::span<std::uint8_t> image, bool dirty) const;

  // The engine code of the first broken invariant above: TARN_OLDVERSION
  // (12035) for a wrong version, TARN_HEADERCORRUPT (8961) for the rest;
  // 0 for a sound header.
  TErrorCode Verify() const;
};

}  // namespace tarn
