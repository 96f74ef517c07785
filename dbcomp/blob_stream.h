#pragma once
// A stream over one blob field of a dataset's current record buffer: the way
// blob values (memos, pictures, rich text) are read and written.
//
// The stream works through the engine cursor's open-blob operations
// (blob_access.h) on the record buffer the dataset had when the stream was
// made; the blob buffer lives in the cursor, the stream keeps only its
// position.
//
// Modes:
//   bmRead       reads; Write and Truncate raise "Field %s cannot be
//                modified." and change nothing.
//   bmWrite      the blob starts empty (truncated at 0 when opened).
//   bmReadWrite  reads and writes the value as it is.
// Write modes need a field that is not read-only ("Field %s cannot be
// modified.") and a dataset in edit or insert state ("Table is not in edit or
// insert mode.").
//
// States: opened (the engine blob is open for this stream) or closed (the
// dataset had no record buffer: reads give 0 bytes, writes are ignored, the
// size is 0). Position is a 32-bit signed offset; Seek checks no bounds, a
// read beyond the end reads nothing, and a write or truncation at a negative
// position raises 9998 (TARN_INVALIDBLOBOFFSET).
//
// Ending the stream: a modified stream marks the field modified and leaves
// the engine blob open until the record is posted or cancelled; otherwise (or
// when the dataset shows old values) the engine blob is closed. A modified
// stream then tells the data links that the field changed.
//
// Threads: the dataset's thread only.

#include <cstdint>
#include <span>

namespace dbcomp {

class TBlobStreamHost;

enum class TBlobStreamMode : std::uint8_t { bmRead, bmWrite, bmReadWrite };
enum class TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

class TTarnBlobStream {
 public:
  // Opens the field's blob for the mode; raises on failure (nothing stays
  // open then). A read open that finds the record changed on disk (8708)
  // refreshes the dataset once and tries again.
  TTarnBlobStream(TBlobStreamHost& host, TBlobStreamMode mode);
  // Ends the stream as described above; never throws.
  ~TTarnBlobStream();
  TTarnBlobStream(const TTarnBlobStream&) = delete;
  TTarnBlobStream& operator=(const TTarnBlobStream&) = delete;

  // Reads up to dest.size() bytes at the position and moves past them;
  // answers how many were read (0 at or beyond the end).
  std::int32_t Read(std::span<std::uint8_t> dest);
  // Writes source at the position (growing the blob, a gap zero-filled) and
  // moves past it; answers source.size() (0 when closed).
  std::int32_t Write(std::span<const std::uint8_t> source);
  // Moves the position: to offset, by offset, or to size + offset.
  std::int32_t Seek(std::int32_t offset, TSeekOrigin origin);
  // The blob's size in bytes (0 when closed).
  std::int32_t Size();
  // Cuts the blob at the position.
  void Truncate();

  std::int32_t Position() const noexcept { return FPosition; }
  TBlobStreamMode Mode() const noexcept { return FMode; }
  bool Opened() const noexcept { return FOpened; }
  bool Modified() const noexcept { return FModified; }

 private:
  void Open();
  void CheckWritable() const;
  // Raises 9998 unless [FPosition, FPosition + count) lies within 0..2^31-1.
  void CheckWriteRange(std::size_t count) const;

  TBlobStreamHost& FHost;
  TBlobStreamMode FMode;
  std::span<std::uint8_t> FRecord;
  int FFieldNo;
  bool FOpened = false;
  bool FModified = false;
  std::int32_t FPosition = 0;
};

}  // namespace dbcomp
