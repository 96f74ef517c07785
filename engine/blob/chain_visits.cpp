#include "engine/blob/chain_visits.h"

#include <algorithm>

namespace tarn {

bool TChainVisits::Contains(std::int32_t blockNo) const { return InRun(blockNo) || InSet(blockNo); }

bool TChainVisits::InSet(std::int32_t blockNo) const {
  // Once the hash is in use it holds every positive number of the set.
  if (blockNo > 0 && !FLarge.Empty()) return FLarge.Find(blockNo) != nullptr;
  return std::find(FSmall.begin(), FSmall.end(), blockNo) != FSmall.end();
}

bool TChainVisits::Visit(std::int32_t blockNo) {
  if (blockNo > 0 && FRunLast != 0 && blockNo - 1 == FRunLast && !InSet(blockNo)) {
    ++FRunLast;
    return true;
  }
  if (Contains(blockNo)) return false;
  if (blockNo > 0 && FRunLast == 0) {
    FRunFirst = FRunLast = blockNo;
    return true;
  }
  // The hash takes positive numbers only; anything else (never a valid
  // block) stays in the vector.
  if (blockNo <= 0 || (FLarge.Empty() && FSmall.size() < SmallLimit)) {
    FSmall.push_back(blockNo);
    return true;
  }
  if (FLarge.Empty()) {
    // The vector is full: its positive numbers move to the hash.
    std::size_t kept = 0;
    for (std::int32_t n : FSmall) {
      if (n > 0)
        FLarge.Insert(n, this);
      else
        FSmall[kept++] = n;
    }
    FSmall.resize(kept);
  }
  FLarge.Insert(blockNo, this);
  return true;
}

void TChainVisits::Clear() {
  FRunFirst = FRunLast = 0;
  FSmall.clear();
  FLarge.Clear();
}

}  // namespace tarn
