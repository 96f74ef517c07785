#pragma once
// One filter of a cursor: an expression or a record callback, and the bitmap
// of the records that pass it.
//
// The bitmap has one bit per record number (records_bitmap.h) and comes from
// the engine-wide bitmap pool; it goes back there when the filter is dropped.
// An expression filter owns its prepared tree (a copy of the bound tree, see
// filter_preparer.h) and an evaluator over it.
//
// Threads: a filter belongs to its cursor's thread.

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/table/records_bitmap.h"
#include "expr/exp_record_source.h"
#include "expr/exp_token.h"
#include "expr/expression_evaluator.h"

namespace tarn {

// What AddFilter's callers choose.
struct TFilterOptions {
  bool CaseInsensitive = false;   // string = and <> ignore case (partial comparisons)
  bool NoPartialCompare = false;  // a trailing "*" is a character, not a wildcard
  bool Counting = false;          // count index ranges before choosing to read them
  bool Complement = false;        // read large ranges as their complement
  bool LastInOrder = false;       // keep this filter after the others
};

// A record callback: true when the current record (fields through source)
// passes.
using TFilterCallback = std::function<bool(std::uint32_t recordNo, TExpRecordSource& source)>;

// Optimisation levels of a condition or a whole filter.
enum class TOptimizeLevel : std::uint8_t { None = 0, Partial = 1, Full = 2 };

class TFilter {
 public:
  TFilter() = default;
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  bool IsCallback() const { return static_cast<bool>(FCallback); }
  // The prepared tree; nullptr for a callback filter.
  const TExpToken* Expression() const { return FTree.get(); }
  const TFilterOptions& Options() const { return FOptions; }
  TOptimizeLevel Level() const { return FLevel; }
  bool Valid() const { return FValid; }
  const TRecordsBitmap& Bitmap() const { return *FBitmap; }

  // True when record recordNo's bit is set.
  bool Passes(std::uint32_t recordNo) const { return FBitmap->TestBit(recordNo); }
  // Evaluates the current record of source (expression or callback).
  bool Evaluate(std::uint32_t recordNo, TExpRecordSource& source);

 private:
  friend class TFilterList;
  friend class TFilterOptimizer;

  TExpTokenPtr FTree;
  std::unique_ptr<TExpEvaluator> FEvaluator;
  TFilterCallback FCallback;
  std::unique_ptr<TRecordsBitmap> FBitmap;
  TFilterOptions FOptions;
  TOptimizeLevel FLevel = TOptimizeLevel::None;
  bool FValid = false;
};

}  // namespace tarn
