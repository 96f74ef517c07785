#include "engine/blob/chain_visits.h"

#include <algorithm>

namespace tarn {

bool TChainVisits::Contains(std::int32_t blockNo) const {
  if (std::find(FSmall.begin(), FSmall.end(), blockNo) != FSmall.end()) return true;
  return !FLarge.empty() && FLarge.count(blockNo) != 0;
}

bool TChainVisits::Visit(std::int32_t blockNo) {
  if (Contains(blockNo)) return false;
  if (FSmall.size() < SmallLimit)
    FSmall.push_back(blockNo);
  else
    FLarge.insert(blockNo);
  return true;
}

void TChainVisits::Clear() {
  FSmall.clear();
  FLarge.clear();
}

}  // namespace tarn
