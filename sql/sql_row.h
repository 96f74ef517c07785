#pragma once
// Rows of a copied SQL result while they are grouped, sorted and cut:
// TSqlCell and its comparison.
//
// A cell owns its value (text included), so rows can be moved and kept
// after the records they came from are gone.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/bcd.h"
#include "expr/exp_value.h"

namespace tarn {

struct TSqlCell {
  std::uint8_t Type = 0;
  bool Null = true;
  std::int64_t Int = 0;
  double Float = 0;
  TBcd Bcd{};
  std::string Text;

  static TSqlCell From(const TExpValue& value);
  // out's Text points into out's own Buffer.
  void To(TExpValue& out) const;
};

using TSqlRow = std::vector<TSqlCell>;

// -1, 0, +1; NULL sorts first; numbers compare by value across types, text
// bytewise (noCase: ASCII letters folded).
int CompareCells(const TSqlCell& a, const TSqlCell& b, bool noCase);

}  // namespace tarn
