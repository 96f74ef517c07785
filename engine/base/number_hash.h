#pragma once
// TNumberHash: an index from positive 32-bit numbers (record, page and block
// numbers) to objects the caller owns.
//
// Open addressing with linear probing in a power-of-two table of slots
// (number, pointer); number 0 marks an empty slot. The table doubles before it
// is more than half full, so a probe run stays short. Erasing shifts the
// following entries of the run back instead of leaving tombstones, so lookups
// never slow down with churn.
//
// Invariants (CheckInvariants): (1) every stored number is positive and stored
// once; (2) every entry is reachable from its home slot without crossing an
// empty slot; (3) Size() equals the number of occupied slots, which is at most
// half the table.
//
// Not thread-safe; used by one cache at a time.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tarn {

template <class T>
class TNumberHash {
 public:
  TNumberHash() = default;
  TNumberHash(const TNumberHash&) = delete;
  TNumberHash& operator=(const TNumberHash&) = delete;
  // A moved-from hash is empty.
  TNumberHash(TNumberHash&& other) noexcept
      : FSlots(std::move(other.FSlots)),
        FCount(std::exchange(other.FCount, 0)),
        FMask(std::exchange(other.FMask, 0)),
        FShift(std::exchange(other.FShift, 63)) {
    other.FSlots.clear();
  }
  TNumberHash& operator=(TNumberHash&& other) noexcept {
    if (this != &other) {
      FSlots = std::move(other.FSlots);
      other.FSlots.clear();
      FCount = std::exchange(other.FCount, 0);
      FMask = std::exchange(other.FMask, 0);
      FShift = std::exchange(other.FShift, 63);
    }
    return *this;
  }

  std::size_t Size() const { return FCount; }
  bool Empty() const { return FCount == 0; }

  // The object stored under number, or nullptr.
  T* Find(std::int32_t number) const {
    if (FCount == 0 || number <= 0) return nullptr;
    for (std::size_t i = Home(number);; i = (i + 1) & FMask) {
      const TSlot& s = FSlots[i];
      if (s.Number == number) return s.Value;
      if (s.Number == 0) return nullptr;
    }
  }

  // Starts loading the slot where a lookup of number begins, so that a
  // lookup soon after finds it in the processor's cache. A hint only.
  void Prefetch(std::int32_t number) const noexcept {
    if (!FSlots.empty()) __builtin_prefetch(&FSlots[Home(number)]);
  }

  // Stores value under number. Requires: number > 0, not stored yet, value
  // not null. Throws std::bad_alloc when the table must grow and cannot; the
  // hash is then unchanged.
  void Insert(std::int32_t number, T* value) {
    if ((FCount + 1) * 2 > FSlots.size()) Grow();
    Place(number, value);
    ++FCount;
  }

  // Removes number; false when it was not stored.
  bool Erase(std::int32_t number) noexcept {
    if (FCount == 0 || number <= 0) return false;
    std::size_t i = Home(number);
    while (FSlots[i].Number != number) {
      if (FSlots[i].Number == 0) return false;
      i = (i + 1) & FMask;
    }
    // Backward shift: move each later entry of the run into the hole when
    // its home does not lie between the hole and its slot.
    std::size_t hole = i;
    for (std::size_t j = (i + 1) & FMask; FSlots[j].Number != 0; j = (j + 1) & FMask) {
      const std::size_t home = Home(FSlots[j].Number);
      const bool reachable = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
      if (reachable) continue;
      FSlots[hole] = FSlots[j];
      hole = j;
    }
    FSlots[hole] = TSlot{};
    --FCount;
    return true;
  }

  // Forgets every entry; keeps the table's memory.
  void Clear() noexcept {
    for (TSlot& s : FSlots) s = TSlot{};
    FCount = 0;
  }

  // Calls f(number, value) for every entry, in no particular order. f must
  // not change the hash.
  template <class F>
  void ForEach(F&& f) const {
    for (const TSlot& s : FSlots)
      if (s.Number != 0) f(s.Number, s.Value);
  }

  bool CheckInvariants() const {
    std::size_t count = 0;
    for (std::size_t i = 0; i < FSlots.size(); ++i) {
      const TSlot& s = FSlots[i];
      if (s.Number == 0) continue;
      if (s.Number < 0 || s.Value == nullptr) return false;
      ++count;
      // Reachable from home: no empty slot between home and i, and the
      // number is not stored earlier on its run.
      for (std::size_t k = Home(s.Number); k != i; k = (k + 1) & FMask) {
        if (FSlots[k].Number == 0 || FSlots[k].Number == s.Number) return false;
      }
    }
    return count == FCount && count * 2 <= FSlots.size();
  }

 private:
  struct TSlot {
    std::int32_t Number = 0;
    T* Value = nullptr;
  };

  static constexpr std::size_t MinSlots = 16;

  std::size_t Home(std::int32_t number) const {
    // Fibonacci hashing: consecutive numbers land far apart.
    const std::uint64_t h = static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h >> FShift) & FMask;
  }

  void Place(std::int32_t number, T* value) noexcept {
    std::size_t i = Home(number);
    while (FSlots[i].Number != 0) i = (i + 1) & FMask;
    FSlots[i] = TSlot{number, value};
  }

  void Grow() {
    const std::size_t size = FSlots.empty() ? MinSlots : FSlots.size() * 2;
    std::vector<TSlot> old(size);  // may throw: nothing changed yet
    old.swap(FSlots);
    FMask = size - 1;
    unsigned bits = 0;
    while ((std::size_t{1} << bits) < size) ++bits;
    FShift = 64 - bits;
    for (const TSlot& s : old)
      if (s.Number != 0) Place(s.Number, s.Value);
  }

  std::vector<TSlot> FSlots;
  std::size_t FCount = 0;
  std::size_t FMask = 0;
  unsigned FShift = 63;
};

}  // namespace tarn
