#include "engine/index/page_cache.h"

#include <algorithm>
#include <cassert>

namespace tarn {

std::unique_ptr<TPage> TPageStack::Take() {
  if (FSpares.empty()) return std::make_unique<TPage>();
  std::unique_ptr<TPage> page = std::move(FSpares.back());
  FSpares.pop_back();
  page->Clear();
  return page;
}

void TPageStack::Give(std::unique_ptr<TPage> page) noexcept {
  if (!page) return;
  if (FSpares.size() < MaxSpares) {
    try {
      FSpares.push_back(std::move(page));
    } catch (...) {
      // Out of memory while keeping a spare: the page is simply destroyed.
    }
  }
}

TPageCache::~TPageCache() {
  TPage* p = FHead;
  while (p != nullptr) {
    TPage* next = p->FNextUsed;
    delete p;
    p = next;
  }
}

void TPageCache::Unlink(TPage* page) {
  if (page->FPrevUsed != nullptr) {
    page->FPrevUsed->FNextUsed = page->FNextUsed;
  } else {
    FHead = page->FNextUsed;
  }
  if (page->FNextUsed != nullptr) {
    page->FNextUsed->FPrevUsed = page->FPrevUsed;
  } else {
    FTail = page->FPrevUsed;
  }
  page->FPrevUsed = page->FNextUsed = nullptr;
}

void TPageCache::PushFront(TPage* page) {
  page->FPrevUsed = nullptr;
  page->FNextUsed = FHead;
  if (FHead != nullptr) FHead->FPrevUsed = page;
  FHead = page;
  if (FTail == nullptr) FTail = page;
}

TPage* TPageCache::Find(std::int32_t pageNo) {
  // The two most recently used pages first.
  if (FHead != nullptr) {
    if (FHead->PageNo() == pageNo) return FHead;
    TPage* second = FHead->FNextUsed;
    if (second != nullptr && second->PageNo() == pageNo) {
      Unlink(second);
      PushFront(second);
      return second;
    }
  }
  TPage* page = FIndex.Find(pageNo);
  if (page == nullptr) return nullptr;
  Unlink(page);
  PushFront(page);
  return page;
}

TPage* TPageCache::Insert(std::unique_ptr<TPage> page) {
  assert(FIndex.Find(page->PageNo()) == nullptr);
  FIndex.Insert(page->PageNo(), page.get());  // page still owns it should this throw
  TPage* raw = page.release();
  PushFront(raw);
  return raw;
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  assert(FIndex.Find(page->PageNo()) == page);
  FIndex.Erase(page->PageNo());
  Unlink(page);
  return std::unique_ptr<TPage>(page);
}

std::vector<TPage*> TPageCache::Pages() const {
  std::vector<TPage*> pages;
  pages.reserve(FIndex.Size());
  for (TPage* p = FHead; p != nullptr; p = p->FNextUsed) pages.push_back(p);
  std::sort(pages.begin(), pages.end(), [](const TPage* a, const TPage* b) { return a->PageNo() < b->PageNo(); });
  return pages;
}

bool TPageCache::AnyDirty() const {
  for (const TPage* p = FHead; p != nullptr; p = p->FNextUsed)
    if (p->Dirty()) return true;
  return false;
}

void TPageCache::CollectDirty(std::vector<TPage*>& out) const {
  for (TPage* p = FHead; p != nullptr; p = p->FNextUsed)
    if (p->Dirty() && p->Pins() == 0) out.push_back(p);
}

std::size_t TPageCache::MemoryBytes() const {
  std::size_t bytes = 0;
  for (const TPage* p = FHead; p != nullptr; p = p->FNextUsed) bytes += p->MemoryBytes();
  return bytes;
}

TPage* TPageCache::Victim(bool dirtyToo, bool keepInterior) const {
  for (TPage* p = FTail; p != nullptr; p = p->FPrevUsed) {
    if (p->Pins() != 0 || (p->Dirty() && !dirtyToo) || (keepInterior && IsInterior(*p))) continue;
    return p;
  }
  return nullptr;
}

void TPageCache::SwapContents(TPageCache& other) {
  std::swap(FIndex, other.FIndex);
  std::swap(FHead, other.FHead);
  std::swap(FTail, other.FTail);
  std::swap(FRoom, other.FRoom);
  Relabel();
  other.Relabel();
}

void TPageCache::Relabel() {
  for (TPage* p = FHead; p != nullptr; p = p->FNextUsed) p->FSlot = FSlot;
}

bool TPageCache::CheckInvariants() const {
  if (!FIndex.CheckInvariants()) return false;
  std::size_t n = 0;
  const TPage* prev = nullptr;
  for (const TPage* p = FHead; p != nullptr; p = p->FNextUsed) {
    if (p->FPrevUsed != prev || p->Slot() != FSlot) return false;
    if (FIndex.Find(p->PageNo()) != p) return false;
    prev = p;
    if (++n > FIndex.Size()) return false;
  }
  return n == FIndex.Size() && prev == FTail;
}

}  // namespace tarn
