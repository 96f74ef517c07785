#pragma once
// The engine-wide pool of spare expression nodes.
//
// Take() hands out the last spare (already cleared) or a new node; Give()
// keeps a node while fewer than Capacity spares are held and destroys it
// otherwise. Whole trees come back through TExpTokenPtr, which releases a
// subtree depth first (left operand, right operand, list, node).
//
// Threads: FMutex guards the spare list and is a leaf lock. A node's operands
// are released before the lock is taken, so releasing a tree never nests it.

#include <cstddef>
#include <mutex>
#include <vector>

#include "expr/exp_token.h"

namespace tarn {

class TExpTokenStack {
 public:
  static constexpr std::size_t Capacity = 256;

  // The pool of the process.
  static TExpTokenStack& Instance();

  TExpTokenStack() { FSpares.reserve(Capacity); }
  ~TExpTokenStack();
  TExpTokenStack(const TExpTokenStack&) = delete;
  TExpTokenStack& operator=(const TExpTokenStack&) = delete;

  // A cleared node owned by the caller.
  TExpTokenPtr Take();
  // Clears token (giving its operands back first) and keeps or destroys it.
  // Accepts nullptr.
  void Give(TExpToken* token) noexcept;

  // Spares held now (tests).
  std::size_t SpareCount() const;

 private:
  mutable std::mutex FMutex;
  std::vector<TExpToken*> FSpares;
};

// Shorthand for TExpTokenStack::Instance().Take().
inline TExpTokenPtr NewExpToken() { return TExpTokenStack::Instance().Take(); }

}  // namespace tarn

namespace tarn {

// A deep copy of a tree, every node from the pool (slots, types and values
// included).
TExpTokenPtr CopyExpTree(const TExpToken& node);

// Numbers the evaluation slots of a tree depth first (0, 1, ...); returns the
// number of nodes.
std::uint32_t NumberExpSlots(TExpToken& root);

}  // namespace tarn
