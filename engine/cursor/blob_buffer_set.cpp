#include "engine/cursor/blob_buffer_set.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace tarn {

TBlobBufferSet::TEntry* TBlobBufferSet::Find(std::int32_t handle) {
  for (TEntry& e : FEntries)
    if (e.Handle == handle) return &e;
  return nullptr;
}

TBlobBufferSet::TEntry& TBlobBufferSet::Add(std::unique_ptr<TBlobBuffer> buffer, std::int32_t originalRef) {
  assert(!Full());
  do {
    FLastHandle = FLastHandle == std::numeric_limits<std::int32_t>::min() ? -1 : FLastHandle - 1;
  } while (Find(FLastHandle) != nullptr);
  FEntries.push_back(TEntry{FLastHandle, originalRef, false, std::move(buffer)});
  return FEntries.back();
}

void TBlobBufferSet::Remove(std::int32_t handle) noexcept {
  std::erase_if(FEntries, [&](const TEntry& e) { return e.Handle == handle; });
}

void TBlobBufferSet::Free(bool all) noexcept {
  if (all) {
    FEntries.clear();
    return;
  }
  std::erase_if(FEntries, [](const TEntry& e) { return !e.Keep; });
}

}  // namespace tarn
