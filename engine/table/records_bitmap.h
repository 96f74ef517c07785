#pragma once
// One bit per record number of a table.
//
// TRecordsBitmap says, for every record number n = 1..BitCount(), whether the
// record belongs to a set: the records a filter passes, the records a cursor
// may land on, the records whose lock a table holds. Bit n lives in bit
// (n - 1) mod 32 of word (n - 1) div 32, least significant bit first.
//
// Memory: the word buffer grows in steps of 256 bytes (64 words), new bytes
// zero, and never shrinks; pooled bitmaps (records_bitmap_stack.h) keep their
// buffer between uses.
//
// Invariants (CheckInvariants):
//   (1) RoundedBits() = BitCount() rounded up to a multiple of 32 and
//       WordCount() = RoundedBits() / 32;
//   (2) the buffer holds at least WordCount() words and its byte size is a
//       multiple of 256;
//   (3) every bit past BitCount() (in the last word and in the spare words of
//       the buffer) is zero, so counting and scanning never see stale bits.
//
// Scans (CountSet, NextSet, PrevSet, ...) go a 32-bit word at a time and pass
// over whole words of zeros or of ones without looking at their bits.
//
// Threads: a bitmap belongs to one owner (a cursor, a filter, a table) and has
// no lock of its own.

#include <cstdint>
#include <vector>

namespace tarn {

class TRecordsBitmap {
 public:
  // Bytes by which the word buffer grows.
  static constexpr std::uint32_t GrowStep = 256;
  // Largest bit count a bitmap accepts (one bit per possible record number).
  static constexpr std::uint32_t MaxBitCount = 0x7FFFFFFF;

  TRecordsBitmap() = default;
  explicit TRecordsBitmap(std::uint32_t bitCount) { SetBitCount(bitCount); }

  // Covers records 1..n: new bits are zero; when n is smaller than before the
  // bits past n are cleared (the buffer keeps its size).
  // Requires: n <= MaxBitCount.
  void SetBitCount(std::uint32_t n);
  std::uint32_t BitCount() const { return FBitCount; }
  std::uint32_t RoundedBits() const { return FWordCount * 32; }
  std::uint32_t WordCount() const { return FWordCount; }
  // Bytes allocated for the words (a multiple of GrowStep).
  std::size_t BufferBytes() const { return FWords.size() * 4; }

  // False for n = 0 and for n > BitCount().
  bool TestBit(std::uint32_t n) const;
  // Sets bit n, growing the bitmap to n bits first when n > BitCount().
  // n = 0 is ignored. Requires: n <= MaxBitCount.
  void SetBit(std::uint32_t n);
  // Clears bit n; nothing for n = 0 or n > BitCount().
  void ClearBit(std::uint32_t n);

  // Set bits among 1..BitCount().
  std::uint32_t CountSet() const;
  // Set bits among 1..n-1 (n above BitCount() counts them all).
  std::uint32_t CountSetBefore(std::uint32_t n) const;

  // Moves position forward to the count-th set bit after it (position 0
  // starts before bit 1). When found: position is that bit, seqNo rises by
  // count, true. When fewer than count set bits follow: position is the last
  // set bit passed (unchanged when none), seqNo rises by the number passed,
  // false. count 0 returns TestBit(position) and changes nothing.
  bool NextSet(std::uint32_t& position, std::uint32_t count, std::int64_t& seqNo) const;
  // The mirror image backwards: position BitCount() + 1 or more starts after
  // the last bit; seqNo falls by the number of set bits passed.
  bool PrevSet(std::uint32_t& position, std::uint32_t count, std::int64_t& seqNo) const;
  // Convenience forms without a sequence number.
  bool NextSet(std::uint32_t& position, std::uint32_t count = 1) const;
  bool PrevSet(std::uint32_t& position, std::uint32_t count = 1) const;

  // this := this AND other; bits past other.BitCount() are cleared.
  void AndWith(const TRecordsBitmap& other);
  // this := this OR other; the bitmap grows to other.BitCount() when that is
  // larger.
  void OrWith(const TRecordsBitmap& other);
  // Flips bits 1..BitCount().
  void Invert();
  void ClearAll();
  // Sets bits 1..BitCount().
  void SetAll();
  // Becomes an exact copy of other (bit count and bits).
  void CopyFrom(const TRecordsBitmap& other);

  bool CheckInvariants() const;

 private:
  // Makes room for words words, growing the buffer in GrowStep bytes.
  void Reserve(std::uint32_t words);
  // Clears the bits past FBitCount in the last used word.
  void MaskTail();

  std::vector<std::uint32_t> FWords;
  std::uint32_t FBitCount = 0;
  std::uint32_t FWordCount = 0;
};

}  // namespace tarn
