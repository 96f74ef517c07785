#pragma once
// How much of a filter indexes can answer, and the building of its bitmap.
//
// Analyse walks the prepared tree bottom-up and gives every node a level:
//   2 (full)     a comparison of a column (or of UPPER(column), meaning case
//                ignored) with a constant of the column's type, for which an
//                index can be chosen: the first index, primary first, whose
//                first key field is the column and whose CaseInsensitive flag
//                is the one wanted (any flag for a column that is no string);
//                a partial comparison likewise over its prefix; BETWEEN with
//                constant bounds and IN with constant values on such a
//                column; NOT and unary signs take their operand's level;
//                AND and OR of two level-2 sides; TEXTSEARCH on a column of
//                the "Sys Text" index
//   1 (partial)  AND with one side at level 1 or 2 and the other not at 2
//                (the better side is moved to the left)
//   0 (none)     everything else, evaluated record by record
// With the Counting option the keys of each range are counted with the
// index's subtree counts: estimate = keys, cost = keys x KeySize; AND takes
// the smaller estimate, OR the larger, costs add up. Without it both stay -1.
//
// Restrict narrows a bitmap of candidate records to those that pass a node.
// A node uses indexes when its level is not 0 and its cost is -1 or at most
// (candidates x RecordSize); otherwise every candidate record is read and
// the node evaluated on it. The result is always a subset of the candidates.
//
// Key ranges (keys.h helpers, over the first key field, n = key size of the
// field + 1, or prefix + 1 for a partial comparison; bounds have flag byte 1):
//   = v   v padded low after n .. v padded high after n;  <> v: inverted
//   > v   v padded high after n .. high key;   >= v   v .. high key
//   < v   low key .. v padded low after n;     <= v   low key .. v
//         (indexes whose keys end in the field: the successor and
//         predecessor of v over n instead)
//   = NULL  the keys with flag byte 0;  <> NULL: inverted
// The NULL keys of a string column also belong to < and <= ranges, because
// a NULL string compares as the empty string. Case-sensitive prefix
// comparisons on tables with a language are evaluated record by record (the
// collation's prefix range would also hold other letter cases).
// Descending indexes: a Descending index sorts every key backwards, so its
// range is the one above with the bounds swapped. An ascending index whose
// first key field descends sorts that field backwards and the rest of the key
// forwards; its bounds are built in that order (without a language the field
// is stored inverted, so its value keys begin with 0xFE and its NULL keys
// with 0xFF). In both, NULL keys sort after every value, and for a string
// column they stay part of the < and <= ranges.
// With the Complement option, on tables without a language and indexes with
// counts, a range holding more than half of the records is read as the
// ranges around it, inverted.
//
// Threads: used by the cursor's thread during one filter build.

#include <cstdint>
#include <vector>

#include "engine/table/records_bitmap.h"
#include "expr/exp_token.h"
#include "expr/filter.h"
#include "expr/filter_cursor.h"

namespace tarn {

class TFilterOptimizer {
 public:
  // Counters of one build (tests and benchmarks).
  struct TStats {
    std::int64_t RecordsRead = 0;
    std::int64_t RangesCollected = 0;
  };

  TFilterOptimizer(TFilterCursor& cursor, const TFilterOptions& options, TFilter& filter);

  // Fills the plan of every node of root (which may reorder AND operands).
  TOptimizeLevel Analyse(TExpToken& root);
  // Narrows bitmap to the candidates that pass node. False when the table
  // changed during the build.
  bool Restrict(TRecordsBitmap& bitmap, const TExpToken& node);
  // Narrows bitmap by the filter's whole test, record by record.
  bool RestrictByRecords(TRecordsBitmap& bitmap, const TExpToken* node);

  TOptimizeLevel LevelOf(const TExpToken& node) const { return FPlans[node.Slot].Level; }
  std::int64_t EstimateOf(const TExpToken& node) const { return FPlans[node.Slot].Estimate; }
  const TStats& Stats() const { return FStats; }

 private:
  struct TNodePlan {
    TOptimizeLevel Level = TOptimizeLevel::None;
    std::int64_t Estimate = -1;
    std::int64_t Cost = -1;
    int Slot = -1;
  };
  struct TRange;

  void AnalyseNode(TExpToken& node);
  // The index slot for a comparison of column node with case rule; -1 when none.
  int ChooseIndex(const TExpToken& column, bool caseInsensitive);
  // The column a condition tests (the column itself or UPPER's argument) and
  // whether case is ignored; nullptr when it is no such operand.
  const TExpToken* ConditionColumn(const TExpToken& operand, bool& upper) const;
  bool ConstantFits(const TExpToken& column, const TExpToken& constant, int slot) const;
  // The key range of a comparison of the slot's first key field with
  // constant (n bytes of it for a prefix).
  void BuildRange(int slot, TExpOp op, const TExpToken* constant, std::uint16_t prefix, TRange& range);
  void BuildFlippedRange(const TKeyDef& def, TExpOp op, const TExpToken* constant, std::size_t n, TRange& range);
  // The key range of BETWEEN from AND to.
  void BuildBetweenRange(int slot, const TExpValue& from, const TExpValue& to, TRange& range);
  std::int64_t CountRange(int slot, const TRange& range);
  bool CollectRange(int slot, const TRange& range, TRecordsBitmap& bitmap);
  bool RestrictByIndex(TRecordsBitmap& bitmap, const TExpToken& node);
  // TEXTSEARCH over the "Sys Text" index: the candidates that have every
  // search word (a word ending in "*": a word starting with it) that is not a
  // stop word, in the searched column.
  bool RestrictByWords(TRecordsBitmap& bitmap, const TExpToken& node);

  TFilterCursor& FCursor;
  const TFilterOptions& FOptions;
  TFilter& FFilter;
  std::vector<TNodePlan> FPlans;
  TStats FStats;
};

}  // namespace tarn
