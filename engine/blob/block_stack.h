#pragma once
// TBlockStack: a pool of spare TBlock objects of one blob file, so that the
// block cache does not allocate a data area for every block it takes in.
//
// Holds at most MaxSpare blocks, all with the data-area size given at
// construction. Single-threaded: used under the serialisation of the shared
// table, like the blob file that owns it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/blob/block.h"

namespace tarn {

class TBlockStack {
 public:
  static constexpr std::size_t MaxSpare = 32;

  explicit TBlockStack(std::size_t dataSize);
  TBlockStack(const TBlockStack&) = delete;
  TBlockStack& operator=(const TBlockStack&) = delete;

  // The last spare, reset to block blockNo (cleared, clean, unpinned), or a
  // new block when none is held. Throws std::bad_alloc.
  std::unique_ptr<TBlock> Get(std::int32_t blockNo);
  // Keeps the block as a spare, or destroys it when MaxSpare are held.
  // Requires: the block is unpinned and has this pool's data-area size.
  void Put(std::unique_ptr<TBlock> block) noexcept;

  std::size_t Count() const { return FSpares.size(); }
  std::size_t DataSize() const { return FDataSize; }

 private:
  std::size_t FDataSize;
  std::vector<std::unique_ptr<TBlock>> FSpares;  // capacity reserved for MaxSpare
};

}  // namespace tarn
