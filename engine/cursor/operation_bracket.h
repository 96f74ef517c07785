#pragma once
// The bracket every cursor operation runs in, and the signal of a stale read.
//
// Begin: unless the cursor is exclusive, the table's read lock when the
// session checks strictly (or the operation demands it), then the comparison
// of the table's change counters with the cursor's snapshot; a difference
// re-finds the position before the operation runs. End (destructor): the read
// lock this bracket took, and the one a lazy check took during the operation,
// are given back; nothing is raised from there.
//
// A page or record read that the change check voids throws TStaleRead inside
// the operation. Only the outermost bracket catches it: it takes a new
// snapshot, re-finds the position and runs the operation again from its
// beginning, so a stale read never reaches the caller.
//
// Internal to engine/cursor.

#include <cassert>
#include <optional>
#include <type_traits>

#include "engine/cursor/data_cursor.h"

namespace tarn {

// Thrown when a read was voided because the table changed on disk.
struct TStaleRead {};

class TOperationBracket {
 public:
  TOperationBracket(TDataCursor& cursor, bool strict);
  ~TOperationBracket() { End(); }
  TOperationBracket(const TOperationBracket&) = delete;
  TOperationBracket& operator=(const TOperationBracket&) = delete;

 private:
  void End() noexcept;

  TDataCursor& FCursor;
  std::optional<TTableReadBracket> FRead;
  bool FEnded = false;
};

template <class TOp>
auto TDataCursor::Run(bool strict, TOp&& op) -> decltype(op()) {
  CheckOpen();
  if (FBracketDepth > 0) return op();
  TOperationBracket bracket(*this, strict);
  for (;;) {
    try {
      if constexpr (std::is_void_v<decltype(op())>) {
        op();
        assert(CheckInvariants());
        return;
      } else {
        auto result = op();
        assert(CheckInvariants());
        return result;
      }
    } catch (const TStaleRead&) {
      RecoverFromChange();
    }
  }
}

}  // namespace tarn
