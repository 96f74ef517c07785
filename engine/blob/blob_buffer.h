#pragma once
// TBlobBuffer: one open blob value of one record, held wholly in memory while
// a cursor works with it.
//
// The buffer knows the chain its value came from (first block and the stamp
// the chain carried when it was opened) and the stamp its next save gives the
// chain. The cursor reads and changes the bytes freely; only SaveBlob and
// DeleteBlob touch the blob file, when the record is posted.
//
// Stamps: a chain belongs to the value whose stamp every block carries. The
// buffer checks the stamp of the chain it opened before loading, rewriting or
// freeing it, so a chain that another program or cursor rewrote (and whose
// blocks may now hold someone else's value) is reported with 8708 and never
// overwritten or freed.
//
// Owned by the cursor; uses the cursor's TBlobFile, which must outlive it.
// Single-threaded like the blob file.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/blob/blob_owner.h"

namespace tarn {

class TBlobFile;
class TChainVisits;

class TBlobBuffer {
 public:
  // A buffer for the blob field fieldNo of the record recLink whose reference
  // is (firstBlock, stamp); the value is empty until LoadBlob. cursor runs the
  // change check on block-cache misses (may be null). Open count 1.
  TBlobBuffer(TBlobFile& file, TBlobChangeCheck* cursor, std::int32_t fieldNo,
              std::int32_t firstBlock, std::int32_t stamp, std::int32_t recLink,
              std::uint8_t openMode = 0, std::uint32_t flags = 0);
  TBlobBuffer(const TBlobBuffer&) = delete;
  TBlobBuffer& operator=(const TBlobBuffer&) = delete;

  std::int32_t FieldNo() const { return FFieldNo; }
  // The reference to store in the record: first block (0 = empty) and stamp.
  std::int32_t FirstBlock() const { return FFirstBlock; }
  std::int32_t BlobStamp() const { return FBlobStamp; }
  std::int32_t RecLink() const { return FRecLink; }
  std::uint8_t OpenMode() const { return FOpenMode; }
  std::uint32_t Flags() const { return FFlags; }
  void SetOpenMode(std::uint8_t mode, std::uint32_t flags) {
    FOpenMode = mode;
    FFlags = flags;
  }
  bool Modified() const { return FModified; }
  std::int32_t OpenCount() const { return FOpenCount; }
  // One more opener; one fewer (not below 0). Both return the new count.
  std::int32_t Open() { return ++FOpenCount; }
  std::int32_t Close();

  std::span<const std::uint8_t> Data() const { return FData; }
  std::size_t Size() const { return FData.size(); }
  // Copies bytes in at offset, growing the value as needed (zero-filled gap);
  // marks it modified.
  void Write(std::size_t offset, std::span<const std::uint8_t> bytes);
  // Sets the value's length (cut, or grown with zeros); marks it modified.
  void SetBlobSize(std::size_t size);

  // Keeps a copy of the value as it is now (the value as opened, for the
  // full-text index); Original() is empty until then.
  void KeepOriginal();
  const std::optional<std::vector<std::uint8_t>>& Original() const { return FOriginal; }

  // The stamp the next save gives the chain (the posting pass takes a new one
  // from the data file for every modified buffer).
  void SetBlobStamp(std::int32_t stamp) { FBlobStamp = stamp; }

  // Reads the value from its chain (nothing to read when the first block is 0)
  // and clears the modified flag. Restarts when the change check reports a
  // change. Throws 8708 when a block's stamp differs from the reference, 8963
  // for a link outside the file or a block met twice, 8711 when the chain ends
  // before the recorded length (or the length cannot fit in the file).
  void LoadBlob();
  // Writes the value over its chain (reusing the old blocks in order, then
  // allocating; the rest of a longer old chain is freed) with the buffer's
  // stamp; an empty value is deleted instead. Clears the modified flag and
  // updates the reference. Throws 8708 when the old chain's first block no
  // longer carries the opened stamp, 8963 for a broken old chain, 8711 when
  // not every byte could be placed, 9479 when the file is full.
  void SaveBlob();
  // Frees the chain (after the same ownership check as SaveBlob) and sets the
  // first block to 0. The value in memory is left as it is.
  void DeleteBlob();

 private:
  // A non-zero first block must lie within 1 .. NextBlockNumber - 1 (8963).
  void CheckFirstBlock() const;
  // LoadBlob's walk of a long chain from block next on (already checked and
  // visited) past the cache: cached blocks as they are in the cache, the
  // others read from the file in runs, with the same checks as the walk
  // through the cache. Appends to value until it holds length bytes or the
  // chain ends. False when the change check reported a change.
  bool LoadRestUncached(std::int32_t next, std::int64_t length, std::vector<std::uint8_t>& value,
                        TChainVisits& visits);

  TBlobFile& FFile;
  TBlobChangeCheck* FCursor;
  std::int32_t FFieldNo;
  std::int32_t FFirstBlock;
  std::int32_t FBlobStamp;
  // The stamp the chain at FFirstBlock carries on disk.
  std::int32_t FChainStamp;
  std::int32_t FRecLink;
  std::uint8_t FOpenMode;
  std::uint32_t FFlags;
  std::vector<std::uint8_t> FData;
  std::optional<std::vector<std::uint8_t>> FOriginal;
  bool FModified = false;
  std::int32_t FOpenCount = 1;
};

// The posting pass over a record's open blobs: every modified buffer gets a
// new stamp from the owner (NextBlobStamp) and is saved (or deleted when
// empty). Throws 8963 before anything is written when the modified buffers do
// not all belong to the same record (RecLink). Unmodified buffers are skipped.
void SaveModifiedBlobs(TBlobFile& file, std::span<TBlobBuffer* const> buffers);

}  // namespace tarn
