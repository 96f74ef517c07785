#include "engine/index/page_cache.h"

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

std::size_t TPageCache::LowerBound(std::int32_t pageNo) const {
  std::size_t lo = 0, hi = FPages.size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (FPages[mid]->PageNo() < pageNo) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
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
  const std::size_t at = LowerBound(pageNo);
  if (at == FPages.size() || FPages[at]->PageNo() != pageNo) return nullptr;
  TPage* page = FPages[at].get();
  Unlink(page);
  PushFront(page);
  return page;
}

TPage* TPageCache::Insert(std::unique_ptr<TPage> page) {
  TPage* raw = page.get();
  const std::size_t at = LowerBound(raw->PageNo());
  assert(at == FPages.size() || FPages[at]->PageNo() != raw->PageNo());
  FPages.insert(FPages.begin() + static_cast<std::ptrdiff_t>(at), std::move(page));
  PushFront(raw);
  return raw;
}

std::unique_ptr<TPage> TPageCache::Remove(TPage* page) {
  const std::size_t at = LowerBound(page->PageNo());
  assert(at < FPages.size() && FPages[at].get() == page);
  Unlink(page);
  std::unique_ptr<TPage> owned = std::move(FPages[at]);
  FPages.erase(FPages.begin() + static_cast<std::ptrdiff_t>(at));
  return owned;
}

TPage* TPageCache::EvictionCandidate() const {
  for (TPage* p = FTail; p != nullptr; p = p->FPrevUsed) {
    if (!p->Dirty() && p->Pins() == 0) return p;
  }
  return nullptr;
}

void TPageCache::SwapContents(TPageCache& other) {
  std::swap(FPages, other.FPages);
  std::swap(FHead, other.FHead);
  std::swap(FTail, other.FTail);
  std::swap(FRoom, other.FRoom);
  Relabel();
  other.Relabel();
}

void TPageCache::Relabel() {
  for (auto& p : FPages) p->FSlot = FSlot;
}

bool TPageCache::CheckInvariants() const {
  for (std::size_t i = 0; i < FPages.size(); ++i) {
    if (FPages[i]->Slot() != FSlot) return false;
    if (i > 0 && FPages[i - 1]->PageNo() >= FPages[i]->PageNo()) return false;
  }
  std::size_t n = 0;
  const TPage* prev = nullptr;
  for (const TPage* p = FHead; p != nullptr; p = p->FNextUsed) {
    if (p->FPrevUsed != prev) return false;
    const std::size_t at = LowerBound(p->PageNo());
    if (at >= FPages.size() || FPages[at].get() != p) return false;
    prev = p;
    if (++n > FPages.size()) return false;
  }
  return n == FPages.size() && prev == FTail;
}

}  // namespace tarn
