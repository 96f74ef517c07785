#pragma once
// TChainVisits: the block numbers met while walking one chain, so that a
// chain that runs into itself (a loop, or a link back into blocks already
// walked) is noticed at the first repeated block instead of being followed
// forever.
//
// Chains are mostly runs of consecutive blocks, so one run of consecutive
// numbers [FRunFirst, FRunLast] is kept as its two ends: the first number
// visited starts it and each visit of FRunLast + 1 extends it, at no cost per
// block. The other numbers are kept in a short vector searched linearly; once
// that is full they move wholly to an open-addressing hash
// (engine/base/number_hash.h, used as a set: the value stored is this object),
// so a walk stays linear in the chain's length and allocates only when the
// hash doubles. The run and the set never share a number.

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
  std::size_t Count() const {
    return FSmall.size() + FLarge.Size() + (FRunLast == 0 ? 0 : static_cast<std::size_t>(FRunLast - FRunFirst) + 1);
  }
  void Clear();

 private:
  static constexpr std::size_t SmallLimit = 32;
  bool InSet(std::int32_t blockNo) const;
  bool InRun(std::int32_t blockNo) const { return FRunLast != 0 && blockNo >= FRunFirst && blockNo <= FRunLast; }
  std::int32_t FRunFirst = 0;  // 0, 0: no run yet
  std::int32_t FRunLast = 0;
  std::vector<std::int32_t> FSmall;
  TNumberHash<const TChainVisits> FLarge;  // used once FSmall is full
};

}  // namespace tarn
