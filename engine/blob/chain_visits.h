#pragma once
// TChainVisits: the block numbers met while walking one chain, so that a
// chain that runs into itself (a loop, or a link back into blocks already
// walked) is noticed at the first repeated block instead of being followed
// forever.
//
// Small chains are kept in a short vector searched linearly; longer ones move
// wholly to an open-addressing hash (engine/base/number_hash.h, used as a set: the
// value stored is this object), so a walk stays linear in the chain's length
// and allocates only when the hash doubles.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/base/number_hash.h"

namespace tarn {

class TChainVisits {
 public:
  // Records blockNo; false when it was recorded before.
  bool Visit(std::int32_t blockNo);
  bool Contains(std::int32_t blockNo) const;
  std::size_t Count() const { return FSmall.size() + FLarge.Size(); }
  void Clear();

 private:
  static constexpr std::size_t SmallLimit = 32;
  std::vector<std::int32_t> FSmall;
  TNumberHash<const TChainVisits> FLarge;  // used once FSmall is full
};

}  // namespace tarn
