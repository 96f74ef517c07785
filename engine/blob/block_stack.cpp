#include "engine/blob/block_stack.h"

#include <cassert>

namespace tarn {

TBlockStack::TBlockStack(std::size_t dataSize) : FDataSize(dataSize) { FSpares.reserve(MaxSpare); }

std::unique_ptr<TBlock> TBlockStack::Get(std::int32_t blockNo) {
  if (FSpares.empty()) {
    auto block = std::make_unique<TBlock>(FDataSize);
    block->Reset(blockNo);
    return block;
  }
  std::unique_ptr<TBlock> block = std::move(FSpares.back());
  FSpares.pop_back();
  block->Reset(blockNo);
  return block;
}

void TBlockStack::Put(std::unique_ptr<TBlock> block) noexcept {
  if (!block) return;
  assert(block->PinCount() == 0);
  assert(block->DataSize() == FDataSize);
  if (FSpares.size() < MaxSpare && block->DataSize() == FDataSize) {
    FSpares.push_back(std::move(block));  // within the reserved capacity: cannot throw
  }
}

}  // namespace tarn
