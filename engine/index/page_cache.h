#pragma once
// The page cache of one index slot, and the pool of spare page objects.
//
// TPageCache holds the cached pages of one slot in a list sorted by page
// number (binary search) and in a doubly linked recently-used list (head = most
// recent). A lookup first looks at the two most recent pages, then searches the
// sorted list; a hit moves the page to the head and allocates nothing. `Room`
// is the number of pages the slot may hold before it must evict; it grows by 4
// when nothing can be evicted (every page pinned, or dirty inside a transaction).
//
// Invariants (CheckInvariants): (1) the sorted list ascends strictly by page
// number; (2) the recently-used list holds exactly the pages of the sorted list;
// (3) every page's Slot() is the slot of this cache.
//
// TPageStack keeps up to 4 spare page objects for reuse.
//
// Threads: used by one thread at a time with its index file.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/index/index_page.h"

namespace tarn {

class TPageStack {
 public:
  static constexpr std::size_t MaxSpares = 4;
  // The last spare (cleared) or a new page.
  std::unique_ptr<TPage> Take();
  // Keeps the page as a spare unless 4 are held; then it is destroyed.
  void Give(std::unique_ptr<TPage> page) noexcept;
  std::size_t SpareCount() const { return FSpares.size(); }

 private:
  std::vector<std::unique_ptr<TPage>> FSpares;
};

class TPageCache {
 public:
  TPageCache() = default;
  TPageCache(const TPageCache&) = delete;
  TPageCache& operator=(const TPageCache&) = delete;

  void SetSlot(int slot) { FSlot = slot; }
  // The cached page, moved to the head of the recently-used list, or nullptr.
  TPage* Find(std::int32_t pageNo);
  // Adds a page (not yet cached) at its sorted place and at the head.
  TPage* Insert(std::unique_ptr<TPage> page);
  // Takes a page out of both lists and hands it back.
  std::unique_ptr<TPage> Remove(TPage* page);
  // The least recently used page that is neither dirty nor pinned, or nullptr.
  TPage* EvictionCandidate() const;

  int Size() const { return static_cast<int>(FPages.size()); }
  int Room() const { return FRoom; }
  void SetRoom(int room) { FRoom = room; }
  bool IsFull() const { return Size() >= FRoom; }
  // Pages in page-number order (for flushing and checks).
  const std::vector<std::unique_ptr<TPage>>& Pages() const { return FPages; }
  // Empties the cache, handing every page to `sink`.
  template <class TSink>
  void Drain(TSink&& sink) {
    FHead = FTail = nullptr;
    for (auto& p : FPages) {
      p->FPrevUsed = p->FNextUsed = nullptr;
      sink(std::move(p));
    }
    FPages.clear();
  }

  // Exchanges the cached pages (and room) with another cache; each cache keeps
  // its slot number and re-labels the pages it receives with it.
  void SwapContents(TPageCache& other);

  bool CheckInvariants() const;

 private:
  void Relabel();
  void Unlink(TPage* page);
  void PushFront(TPage* page);
  std::size_t LowerBound(std::int32_t pageNo) const;

  int FSlot = 0;
  int FRoom = 0;
  std::vector<std::unique_ptr<TPage>> FPages;
  TPage* FHead = nullptr;
  TPage* FTail = nullptr;
};

}  // namespace tarn
