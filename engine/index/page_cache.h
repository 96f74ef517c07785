#pragma once
// The page cache of one index slot, and the pool of spare page objects.
//
// TPageCache holds the cached pages of one slot in a doubly linked
// recently-used list (head = most recent), which owns them, and in a hash index
// from page number to page (engine/base/number_hash.h). A lookup first looks at
// the two most recent pages, then at the hash; a hit moves the page to the head
// and allocates nothing. Pages() sorts on demand for page-number order. `Room`
// is the number of pages the slot may hold before it must evict; it grows by 4
// when nothing can be evicted (every page pinned, or dirty inside a transaction,
// or interior pages kept resident; see TIndexFile::TakePageObject).
//
// Invariants (CheckInvariants): (1) the index maps each listed page's number to
// that page and holds nothing else; (2) the recently-used list holds every
// cached page once, linked consistently both ways; (3) every page's Slot() is
// the slot of this cache.
//
// TPageStack keeps up to 4 spare page objects for reuse.
//
// Threads: used by one thread at a time with its index file.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/number_hash.h"
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
  ~TPageCache();
  TPageCache(const TPageCache&) = delete;
  TPageCache& operator=(const TPageCache&) = delete;

  void SetSlot(int slot) { FSlot = slot; }
  // The cached page, moved to the head of the recently-used list, or nullptr.
  TPage* Find(std::int32_t pageNo);
  // Adds a page (not yet cached) at the head. Throws std::bad_alloc (the
  // page is then destroyed, the cache unchanged).
  TPage* Insert(std::unique_ptr<TPage> page);
  // Takes a page out of the list and the index and hands it back.
  std::unique_ptr<TPage> Remove(TPage* page);
  // The least recently used page that is neither dirty nor pinned, or nullptr.
  TPage* EvictionCandidate() const { return Victim(false, false); }
  // The least recently used unpinned page, passing over dirty pages unless
  // dirtyToo and over interior pages (root or not) when keepInterior; nullptr
  // when there is none.
  TPage* Victim(bool dirtyToo, bool keepInterior) const;
  static bool IsInterior(const TPage& page) {
    return !page.Free() && (page.Type() == TPageType::RootInterior || page.Type() == TPageType::Interior);
  }

  int Size() const { return static_cast<int>(FIndex.Size()); }
  int Room() const { return FRoom; }
  void SetRoom(int room) { FRoom = room; }
  bool IsFull() const { return Size() >= FRoom; }
  // Pages in page-number order (for flushing and checks).
  std::vector<TPage*> Pages() const;
  // True when some cached page is dirty; walks the list, allocates nothing.
  bool AnyDirty() const;
  // Appends the dirty unpinned pages, in no particular order.
  void CollectDirty(std::vector<TPage*>& out) const;
  // Memory held by the cached pages (TPage::MemoryBytes).
  std::size_t MemoryBytes() const;
  // Empties the cache, handing every page to `sink`. Each page leaves the
  // cache before it is handed over, so a sink that throws leaves the rest
  // cached.
  template <class TSink>
  void Drain(TSink&& sink) {
    while (FHead != nullptr) {
      TPage* page = FHead;
      FIndex.Erase(page->PageNo());
      Unlink(page);
      sink(std::unique_ptr<TPage>(page));
    }
  }

  // Exchanges the cached pages (and room) with another cache; each cache keeps
  // its slot number and re-labels the pages it receives with it.
  void SwapContents(TPageCache& other);

  bool CheckInvariants() const;

 private:
  void Relabel();
  void Unlink(TPage* page);
  void PushFront(TPage* page);

  int FSlot = 0;
  int FRoom = 0;
  TNumberHash<TPage> FIndex;  // page number -> listed page
  TPage* FHead = nullptr;     // most recently used; the list owns its pages
  TPage* FTail = nullptr;
};

}  // namespace tarn
