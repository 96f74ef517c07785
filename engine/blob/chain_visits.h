#pragma once
// TChainVisits: the block numbers met while walking one chain, so that a
// chain that runs into itself (a loop, or a link back into blocks already
// walked) is noticed at the first repeated block instead of being followed
// forever.
//
// Small chains are kept in a short vector searched linearly; longer ones move
// to a hash set, so a walk stays linear in the chain's length.

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace tarn {

class TChainVisits {
 public:
  // Records blockNo; false when it was recorded before.
  bool Visit(std::int32_t blockNo);
  bool Contains(std::int32_t blockNo) const;
  std::size_t Count() const { return FSmall.size() + FLarge.size(); }
  void Clear();

 private:
  static constexpr std::size_t SmallLimit = 32;
  std::vector<std::int32_t> FSmall;
  std::unordered_set<std::int32_t> FLarge;  // used once FSmall is full
};

}  // namespace tarn
