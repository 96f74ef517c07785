#include "engine/table/records_bitmap.h"

#include <algorithm>
#include <bit>
#include <cassert>

namespace tarn {

namespace {

constexpr std::uint32_t WordsPerStep = TRecordsBitmap::GrowStep / 4;

std::uint32_t WordsFor(std::uint32_t bits) { return static_cast<std::uint32_t>((std::uint64_t{bits} + 31) / 32); }

// Mask of the bits of the last word that lie inside bitCount (all ones when
// bitCount is a multiple of 32).
std::uint32_t TailMask(std::uint32_t bitCount) {
  const std::uint32_t used = bitCount % 32;
  return used == 0 ? 0xFFFFFFFFu : (std::uint32_t{1} << used) - 1;
}

}  // namespace

void TRecordsBitmap::Reserve(std::uint32_t words) {
  if (words <= FWords.size()) return;
  const std::size_t steps = (std::size_t{words} + WordsPerStep - 1) / WordsPerStep;
  FWords.resize(steps * WordsPerStep, 0);
}

void TRecordsBitmap::MaskTail() {
  if (FWordCount > 0) FWords[FWordCount - 1] &= TailMask(FBitCount);
}

void TRecordsBitmap::SetBitCount(std::uint32_t n) {
  assert(n <= MaxBitCount);
  const std::uint32_t words = WordsFor(n);
  if (n < FBitCount) {
    // Keep invariant (3): everything past the new end becomes zero.
    std::fill(FWords.begin() + words, FWords.begin() + FWordCount, 0u);
    FBitCount = n;
    FWordCount = words;
    MaskTail();
  } else {
    Reserve(words);
    FBitCount = n;
    FWordCount = words;
  }
  assert(CheckInvariants());
}

bool TRecordsBitmap::TestBit(std::uint32_t n) const {
  if (n == 0 || n > FBitCount) return false;
  return (FWords[(n - 1) / 32] >> ((n - 1) % 32) & 1u) != 0;
}

void TRecordsBitmap::SetBit(std::uint32_t n) {
  if (n == 0) return;
  if (n > FBitCount) SetBitCount(n);
  FWords[(n - 1) / 32] |= std::uint32_t{1} << ((n - 1) % 32);
}

void TRecordsBitmap::ClearBit(std::uint32_t n) {
  if (n == 0 || n > FBitCount) return;
  FWords[(n - 1) / 32] &= ~(std::uint32_t{1} << ((n - 1) % 32));
}

std::uint32_t TRecordsBitmap::CountSet() const {
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < FWordCount; ++i) {
    const std::uint32_t w = FWords[i];
    if (w == 0) continue;
    total += w == 0xFFFFFFFFu ? 32 : static_cast<std::uint32_t>(std::popcount(w));
  }
  return total;
}

std::uint32_t TRecordsBitmap::CountSetBefore(std::uint32_t n) const {
  if (n <= 1) return 0;
  if (n > FBitCount) return CountSet();
  const std::uint32_t bits = n - 1;  // bits 1..n-1 are bit indexes 0..bits-1
  const std::uint32_t fullWords = bits / 32;
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < fullWords; ++i) {
    const std::uint32_t w = FWords[i];
    if (w == 0) continue;
    total += w == 0xFFFFFFFFu ? 32 : static_cast<std::uint32_t>(std::popcount(w));
  }
  if (bits % 32 != 0) total += static_cast<std::uint32_t>(std::popcount(FWords[fullWords] & TailMask(bits)));
  return total;
}

bool TRecordsBitmap::NextSet(std::uint32_t& position, std::uint32_t count, std::int64_t& seqNo) const {
  if (count == 0) return TestBit(position);
  if (position >= FBitCount) return false;
  std::uint32_t remaining = count;
  std::uint32_t lastFound = position;
  // Bit index (0-based) to look at first: the one after position.
  std::uint32_t index = position;
  std::uint32_t wordNo = index / 32;
  // The first word may be entered in the middle: mask off the bits at and
  // before position.
  std::uint32_t word = FWords[wordNo] & ~((std::uint32_t{1} << (index % 32)) - 1);
  while (true) {
    if (word != 0) {
      const std::uint32_t bits = static_cast<std::uint32_t>(std::popcount(word));
      if (bits < remaining) {
        // The whole rest of the word is passed: remember its highest set bit.
        remaining -= bits;
        lastFound = wordNo * 32 + (31 - static_cast<std::uint32_t>(std::countl_zero(word))) + 1;
      } else {
        // The wanted bit is in this word: drop the lowest remaining - 1 bits.
        for (std::uint32_t k = 1; k < remaining; ++k) word &= word - 1;
        position = wordNo * 32 + static_cast<std::uint32_t>(std::countr_zero(word)) + 1;
        seqNo += count;
        return true;
      }
    }
    if (++wordNo >= FWordCount) break;
    word = FWords[wordNo];
  }
  seqNo += count - remaining;
  position = lastFound;
  return false;
}

bool TRecordsBitmap::PrevSet(std::uint32_t& position, std::uint32_t count, std::int64_t& seqNo) const {
  if (count == 0) return TestBit(position);
  if (position <= 1 || FBitCount == 0) return false;
  std::uint32_t remaining = count;
  std::uint32_t lastFound = position;
  // Bit index (0-based) of the first bit to look at: the one before position.
  const std::uint32_t start = std::min(position - 1, FBitCount) - 1;
  std::int64_t wordNo = start / 32;
  const std::uint32_t keep = start % 32;
  std::uint32_t word = FWords[static_cast<std::size_t>(wordNo)] &
                       (keep == 31 ? 0xFFFFFFFFu : (std::uint32_t{1} << (keep + 1)) - 1);
  while (true) {
    if (word != 0) {
      const std::uint32_t bits = static_cast<std::uint32_t>(std::popcount(word));
      if (bits < remaining) {
        remaining -= bits;
        lastFound = static_cast<std::uint32_t>(wordNo * 32) + static_cast<std::uint32_t>(std::countr_zero(word)) + 1;
      } else {
        // Drop the highest remaining - 1 bits.
        for (std::uint32_t k = 1; k < remaining; ++k)
          word &= ~(std::uint32_t{1} << (31 - std::countl_zero(word)));
        position = static_cast<std::uint32_t>(wordNo * 32) + (31 - static_cast<std::uint32_t>(std::countl_zero(word))) + 1;
        seqNo -= count;
        return true;
      }
    }
    if (--wordNo < 0) break;
    word = FWords[static_cast<std::size_t>(wordNo)];
  }
  seqNo -= count - remaining;
  position = lastFound;
  return false;
}

bool TRecordsBitmap::NextSet(std::uint32_t& position, std::uint32_t count) const {
  std::int64_t seqNo = 0;
  return NextSet(position, count, seqNo);
}

bool TRecordsBitmap::PrevSet(std::uint32_t& position, std::uint32_t count) const {
  std::int64_t seqNo = 0;
  return PrevSet(position, count, seqNo);
}

void TRecordsBitmap::AndWith(const TRecordsBitmap& other) {
  const std::uint32_t common = std::min(FWordCount, other.FWordCount);
  for (std::uint32_t i = 0; i < common; ++i) FWords[i] &= other.FWords[i];
  std::fill(FWords.begin() + common, FWords.begin() + FWordCount, 0u);
  // other's words are zero past its bit count, so the tail stays clean.
  assert(CheckInvariants());
}

void TRecordsBitmap::OrWith(const TRecordsBitmap& other) {
  if (other.FBitCount > FBitCount) SetBitCount(other.FBitCount);
  for (std::uint32_t i = 0; i < other.FWordCount; ++i) FWords[i] |= other.FWords[i];
  assert(CheckInvariants());
}

void TRecordsBitmap::Invert() {
  for (std::uint32_t i = 0; i < FWordCount; ++i) FWords[i] = ~FWords[i];
  MaskTail();
}

void TRecordsBitmap::ClearAll() { std::fill(FWords.begin(), FWords.begin() + FWordCount, 0u); }

void TRecordsBitmap::SetAll() {
  std::fill(FWords.begin(), FWords.begin() + FWordCount, 0xFFFFFFFFu);
  MaskTail();
}

void TRecordsBitmap::CopyFrom(const TRecordsBitmap& other) {
  if (this == &other) return;
  ClearAll();
  SetBitCount(other.FBitCount);
  std::copy(other.FWords.begin(), other.FWords.begin() + other.FWordCount, FWords.begin());
  assert(CheckInvariants());
}

bool TRecordsBitmap::CheckInvariants() const {
  if (FWordCount != WordsFor(FBitCount)) return false;
  if (FWords.size() < FWordCount || (FWords.size() * 4) % GrowStep != 0) return false;
  if (FWordCount > 0 && (FWords[FWordCount - 1] & ~TailMask(FBitCount)) != 0) return false;
  for (std::size_t i = FWordCount; i < FWords.size(); ++i)
    if (FWords[i] != 0) return false;
  return true;
}

}  // namespace tarn
