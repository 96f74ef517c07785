#include "engine/blob/block_cache.h"

#include <algorithm>
#include <cassert>
#include <unordered_set>

namespace tarn {

namespace {
// Entries of the recently-used list checked before the binary search.
constexpr int RecentChecks = 4;
}  // namespace

TBlockCache::TBlockCache(std::size_t dataSize) : FStack(dataSize) {}

TBlockCache::~TBlockCache() {
  // Blocks still pinned at this point are our own mistake; they die with us.
  FHead = FTail = nullptr;
}

std::vector<std::unique_ptr<TBlock>>::const_iterator TBlockCache::LowerBound(
    std::int32_t blockNo) const {
  return std::lower_bound(
      FBlocks.begin(), FBlocks.end(), blockNo,
      [](const std::unique_ptr<TBlock>& b, std::int32_t n) { return b->BlockNo() < n; });
}

TBlock* TBlockCache::Peek(std::int32_t blockNo) const {
  auto it = LowerBound(blockNo);
  if (it != FBlocks.end() && (*it)->BlockNo() == blockNo) return it->get();
  return nullptr;
}

TBlock* TBlockCache::Find(std::int32_t blockNo) {
  TBlock* b = FHead;
  for (int i = 0; i < RecentChecks && b != nullptr; ++i, b = b->FOlder) {
    if (b->BlockNo() == blockNo) {
      Touch(*b);
      ++FHits;
      return b;
    }
  }
  b = Peek(blockNo);
  if (b != nullptr) {
    Touch(*b);
    ++FHits;
  }
  return b;
}

void TBlockCache::Unlink(TBlock& block) noexcept {
  if (block.FNewer != nullptr)
    block.FNewer->FOlder = block.FOlder;
  else
    FHead = block.FOlder;
  if (block.FOlder != nullptr)
    block.FOlder->FNewer = block.FNewer;
  else
    FTail = block.FNewer;
  block.FNewer = block.FOlder = nullptr;
}

void TBlockCache::LinkAtHead(TBlock& block) noexcept {
  block.FNewer = nullptr;
  block.FOlder = FHead;
  if (FHead != nullptr) FHead->FNewer = &block;
  FHead = &block;
  if (FTail == nullptr) FTail = &block;
}

void TBlockCache::Touch(TBlock& block) {
  assert(block.Cached());
  if (FHead == &block) return;
  Unlink(block);
  LinkAtHead(block);
}

std::unique_ptr<TBlock> TBlockCache::Remove(TBlock& block) noexcept {
  Unlink(block);
  auto it = LowerBound(block.BlockNo());
  assert(it != FBlocks.end() && it->get() == &block);
  auto pos = FBlocks.begin() + (it - FBlocks.cbegin());
  std::unique_ptr<TBlock> owned = std::move(*pos);
  FBlocks.erase(pos);
  owned->FCached = false;
  return owned;
}

std::unique_ptr<TBlock> TBlockCache::EvictLeastRecent() {
  for (TBlock* b = FTail; b != nullptr; b = b->FNewer) {
    if (!b->Dirty() && b->PinCount() == 0) return Remove(*b);
  }
  return nullptr;
}

TBlock* TBlockCache::Insert(std::unique_ptr<TBlock> block) {
  assert(block && block->BlockNo() > 0 && !block->Cached());
  auto it = LowerBound(block->BlockNo());
  assert(it == FBlocks.end() || (*it)->BlockNo() != block->BlockNo());
  TBlock* raw = block.get();
  FBlocks.insert(FBlocks.begin() + (it - FBlocks.cbegin()), std::move(block));
  raw->FCached = true;
  LinkAtHead(*raw);
  return raw;
}

void TBlockCache::DiscardAll() noexcept {
  for (std::unique_ptr<TBlock>& b : FBlocks) {
    b->FCached = false;
    b->FNewer = b->FOlder = nullptr;
    if (b->PinCount() > 0) {
      // Reserve cannot be guaranteed here; an orphan that cannot be recorded
      // is leaked rather than freed under its holder.
      try {
        FOrphans.push_back(std::move(b));
      } catch (...) {
        (void)b.release();
      }
    } else {
      FStack.Put(std::move(b));
    }
  }
  FBlocks.clear();
  FHead = FTail = nullptr;
}

void TBlockCache::ReleaseOrphan(TBlock& block) noexcept {
  assert(!block.Cached() && block.PinCount() == 0);
  auto it = std::find_if(FOrphans.begin(), FOrphans.end(),
                         [&](const std::unique_ptr<TBlock>& b) { return b.get() == &block; });
  if (it == FOrphans.end()) return;
  std::unique_ptr<TBlock> owned = std::move(*it);
  FOrphans.erase(it);
  FStack.Put(std::move(owned));
}

void TBlockCache::TrimTo(std::int32_t room) noexcept {
  while (static_cast<std::int64_t>(FBlocks.size()) > room) {
    std::unique_ptr<TBlock> victim = EvictLeastRecent();
    if (!victim) break;
    FStack.Put(std::move(victim));
  }
  FRoom = std::max<std::int32_t>(static_cast<std::int32_t>(FBlocks.size()), std::max(room, 0));
}

bool TBlockCache::CheckInvariants() const {
  for (std::size_t i = 0; i < FBlocks.size(); ++i) {
    const TBlock& b = *FBlocks[i];
    if (b.BlockNo() <= 0 || !b.Cached() || b.PinCount() < 0) return false;
    if (i > 0 && FBlocks[i - 1]->BlockNo() >= b.BlockNo()) return false;
  }
  std::unordered_set<const TBlock*> listed;
  const TBlock* newer = nullptr;
  for (const TBlock* b = FHead; b != nullptr; b = b->FOlder) {
    if (b->FNewer != newer) return false;
    if (!listed.insert(b).second) return false;  // a cycle
    if (listed.size() > FBlocks.size()) return false;
    newer = b;
  }
  if (FTail != newer) return false;
  if (listed.size() != FBlocks.size()) return false;
  for (const auto& b : FBlocks) {
    if (listed.count(b.get()) == 0) return false;
  }
  for (const auto& o : FOrphans) {
    if (o->Cached() || o->PinCount() <= 0) return false;
  }
  return true;
}

}  // namespace tarn
