#include "engine/blob/block_cache.h"

#include <algorithm>
#include <cassert>
#include <unordered_set>

namespace tarn {

TBlockCache::TBlockCache(std::size_t dataSize) : FStack(dataSize) {}

TBlockCache::~TBlockCache() {
  // Blocks still pinned at this point are our own mistake; they die with us.
  TBlock* b = FHead;
  while (b != nullptr) {
    TBlock* older = b->FOlder;
    delete b;
    b = older;
  }
  FHead = FTail = nullptr;
}

TBlock* TBlockCache::Peek(std::int32_t blockNo) const { return FIndex.Find(blockNo); }

TBlock* TBlockCache::Find(std::int32_t blockNo) {
  TBlock* b = FIndex.Find(blockNo);
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
  [[maybe_unused]] const bool erased = FIndex.Erase(block.BlockNo());
  assert(erased);
  std::unique_ptr<TBlock> owned(&block);
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
  assert(FIndex.Find(block->BlockNo()) == nullptr);
  FIndex.Insert(block->BlockNo(), block.get());  // block still owns it should this throw
  TBlock* raw = block.release();
  raw->FCached = true;
  LinkAtHead(*raw);
  return raw;
}

std::vector<TBlock*> TBlockCache::Blocks() const {
  std::vector<TBlock*> blocks;
  blocks.reserve(FIndex.Size());
  for (TBlock* b = FHead; b != nullptr; b = b->FOlder) blocks.push_back(b);
  std::sort(blocks.begin(), blocks.end(),
            [](const TBlock* a, const TBlock* b) { return a->BlockNo() < b->BlockNo(); });
  return blocks;
}

bool TBlockCache::AnyDirty() const {
  for (const TBlock* b = FHead; b != nullptr; b = b->FOlder)
    if (b->Dirty()) return true;
  return false;
}

void TBlockCache::DiscardAll() noexcept {
  TBlock* next = FHead;
  while (next != nullptr) {
    std::unique_ptr<TBlock> b(next);
    next = b->FOlder;
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
  FIndex.Clear();
  FHead = FTail = nullptr;
}

void TBlockCache::Forget(std::int32_t blockNo) noexcept {
  TBlock* block = Peek(blockNo);
  if (block == nullptr) return;
  std::unique_ptr<TBlock> owned = Remove(*block);
  if (owned->PinCount() == 0) {
    FStack.Put(std::move(owned));
    return;
  }
  try {
    FOrphans.push_back(std::move(owned));
  } catch (...) {
    (void)owned.release();  // leaked rather than freed under its holder
  }
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
  while (static_cast<std::int64_t>(FIndex.Size()) > room) {
    std::unique_ptr<TBlock> victim = EvictLeastRecent();
    if (!victim) break;
    FStack.Put(std::move(victim));
  }
  FRoom = std::max<std::int32_t>(static_cast<std::int32_t>(FIndex.Size()), std::max(room, 0));
}

bool TBlockCache::CheckInvariants() const {
  if (!FIndex.CheckInvariants()) return false;
  std::unordered_set<const TBlock*> listed;
  const TBlock* newer = nullptr;
  for (const TBlock* b = FHead; b != nullptr; b = b->FOlder) {
    if (b->FNewer != newer) return false;
    if (b->BlockNo() <= 0 || !b->Cached() || b->PinCount() < 0) return false;
    if (FIndex.Find(b->BlockNo()) != b) return false;
    if (!listed.insert(b).second) return false;  // a cycle
    if (listed.size() > FIndex.Size()) return false;
    newer = b;
  }
  if (FTail != newer) return false;
  if (listed.size() != FIndex.Size()) return false;
  for (const auto& o : FOrphans) {
    if (o->Cached() || o->PinCount() <= 0) return false;
  }
  return true;
}

}  // namespace tarn
