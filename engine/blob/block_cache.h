#pragma once
// TBlockCache: the cached blocks of one blob file.
//
// Owns every cached TBlock, kept in two structures at once:
//   - a doubly linked recently-used list (head = most recent), which owns
//     the blocks;
//   - a hash index from block number to block (engine/base/number_hash.h),
//     so that finding, adding and evicting a block cost the same at any size.
// Blocks() sorts on demand for those who need block-number order.
// Spare block objects come from and go back to a TBlockStack.
//
// Room: the number of blocks the cache holds before it reuses the least
// recently used clean, unpinned block. The blob file sizes it from the session
// settings and grows it (in steps of 32) when every block is dirty or pinned.
//
// Blocks dropped by DiscardAll while still pinned are kept aside as orphans:
// they leave both lists (Cached() is false) but stay alive until their last
// pin is released through ReleaseOrphan, so a holder's pointer never dangles.
//
// Invariants (CheckInvariants):
//   (1) the index maps each listed block's number (> 0) to that block and
//       holds nothing else;
//   (2) the recently-used list holds every cached block once, linked
//       consistently both ways between head and tail;
//   (3) every listed block has Cached() true, every orphan Cached() false and
//       a pin count > 0;
//   (4) no pin count is negative.
//
// Single-threaded, like the blob file that owns it. Nothing here does I/O.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/number_hash.h"
#include "engine/blob/block.h"
#include "engine/blob/block_stack.h"

namespace tarn {

class TBlockCache {
 public:
  explicit TBlockCache(std::size_t dataSize);
  ~TBlockCache();
  TBlockCache(const TBlockCache&) = delete;
  TBlockCache& operator=(const TBlockCache&) = delete;

  std::size_t Count() const { return FIndex.Size(); }
  std::int32_t Room() const { return FRoom; }
  void SetRoom(std::int32_t room) { FRoom = room < 0 ? 0 : room; }
  bool Full() const { return static_cast<std::int64_t>(FIndex.Size()) >= FRoom; }

  // The cached block blockNo or nullptr. A hit moves the block to the head of
  // the recently-used list and counts in Hits().
  TBlock* Find(std::int32_t blockNo);
  // The same without touching the recently-used order or the counters.
  TBlock* Peek(std::int32_t blockNo) const;

  // A fresh block object for blockNo, from the spare pool (not yet cached).
  std::unique_ptr<TBlock> Spare(std::int32_t blockNo) { return FStack.Get(blockNo); }
  // Removes the least recently used block that is neither dirty nor pinned
  // and hands it back, or nullptr when every block is dirty or pinned.
  std::unique_ptr<TBlock> EvictLeastRecent();
  // Adds the block at the head of the recently-used list. Requires: its
  // number > 0 and not cached yet. Throws std::bad_alloc (the block is then
  // destroyed, nothing else changes).
  TBlock* Insert(std::unique_ptr<TBlock> block);
  // Moves a cached block to the head of the recently-used list.
  void Touch(TBlock& block);

  // Every block, sorted by block number (for flushing and checks).
  std::vector<TBlock*> Blocks() const;
  // Whether any cached block is dirty.
  bool AnyDirty() const;

  // Drops every block without writing: unpinned ones go back to the pool,
  // pinned ones become orphans.
  void DiscardAll() noexcept;
  // Drops one cached block without writing it (nothing when it is not
  // cached): unpinned it goes back to the pool, pinned it becomes an orphan.
  void Forget(std::int32_t blockNo) noexcept;
  // Gives an orphan whose last pin was released back to the pool.
  void ReleaseOrphan(TBlock& block) noexcept;
  // Drops clean, unpinned blocks from the tail while more than room are held;
  // then the room becomes max(count, room).
  void TrimTo(std::int32_t room) noexcept;

  std::size_t OrphanCount() const { return FOrphans.size(); }
  std::size_t SpareCount() const { return FStack.Count(); }
  std::uint64_t Hits() const { return FHits; }
  void ResetStatistics() { FHits = 0; }

  bool CheckInvariants() const;

 private:
  void Unlink(TBlock& block) noexcept;
  void LinkAtHead(TBlock& block) noexcept;
  std::unique_ptr<TBlock> Remove(TBlock& block) noexcept;

  TNumberHash<TBlock> FIndex;  // block number -> listed block
  std::vector<std::unique_ptr<TBlock>> FOrphans;
  TBlock* FHead = nullptr;  // most recently used; the list owns its blocks
  TBlock* FTail = nullptr;  // least recently used
  std::int32_t FRoom = 0;
  TBlockStack FStack;
  std::uint64_t FHits = 0;
};

}  // namespace tarn
