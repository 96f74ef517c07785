#pragma once
// Evaluation of a bound expression tree on the records of a table.
//
// The evaluator keeps one TExpValue per node of the tree (indexed by the
// node's Slot) and fills them bottom-up on each call; the tree itself is only
// read. Once the slots' text buffers have grown to the sizes a table needs,
// evaluating allocates nothing. Columns are read through the record source
// (exp_record_source.h).
//
// Rules (no third truth value: NULL counts as false wherever a truth value is
// needed):
//   AND, OR        the right operand first; AND stops at false, OR at true
//   NOT            NOT NULL is TRUE
//   =  <>          two NULLs are equal; one NULL is unequal to any value
//   <  <=  >  >=   strings compare their text (a NULL string is empty);
//                  other types: one NULL gives FALSE, two NULLs compare zeros
//   partial = <>   as = and <> over the first PrefixLength characters,
//                  ignoring case when CaseInsensitive is set
//   arithmetic     a NULL operand gives NULL; concatenation treats a NULL
//                  string as empty
//   LIKE           a NULL operand gives FALSE (NOT LIKE: TRUE)
//   IN, BETWEEN    = per list value; >= low and <= high
// Strings compare with the table's collation, case-sensitively, over their
// whole text; numbers compare by value across numeric types (BCD as fixed
// point with four decimals); dates meet timestamps at midnight.
//
// Threads: an evaluator belongs to one thread; several evaluators may share
// one tree.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "expr/exp_record_source.h"
#include "expr/exp_token.h"
#include "expr/exp_value.h"

namespace tarn {

class TLocaleDriver;
class TTextKeyBuilder;

class TExpEvaluator {
 public:
  // Requires: root is bound; root and source outlive the evaluator.
  TExpEvaluator(const TExpToken& root, TExpRecordSource& source);
  ~TExpEvaluator();
  TExpEvaluator(const TExpEvaluator&) = delete;
  TExpEvaluator& operator=(const TExpEvaluator&) = delete;

  // Evaluates the tree on the source's current record. The value lives until
  // the next evaluation.
  const TExpValue& Evaluate() { return Evaluate(FRoot); }
  // True when the tree's boolean result is true (NULL counts as false).
  bool Passes() { return Evaluate(FRoot).IsTrue(); }
  // Evaluates one subtree of the tree.
  const TExpValue& Evaluate(const TExpToken& node);

  // The comparison rules above, for callers that hold two values (the filter
  // layer compares constants with them). op is a comparison operator.
  bool CompareOp(TExpOp op, const TExpValue& a, const TExpValue& b, std::uint16_t prefix = 0,
                 bool caseInsensitive = false) const;
  // -1, 0, +1 of two non-NULL-ruled values of comparable types.
  int CompareValues(const TExpValue& a, const TExpValue& b, std::uint16_t prefix = 0,
                    bool caseInsensitive = false) const;
  // LIKE of subject against pattern under the table's character comparison.
  bool Like(std::string_view subject, std::string_view pattern) const;

 private:
  TExpValue& Slot(const TExpToken& node) { return FSlots[node.Slot]; }
  void ReadColumn(const TExpToken& node, TExpValue& out);
  void EvaluateBinary(const TExpToken& node, TExpValue& out);
  void EvaluateArithmetic(const TExpToken& node, const TExpValue& a, const TExpValue& b, TExpValue& out);
  void EvaluateList(const TExpToken& node, TExpValue& out);
  void EvaluateUnary(const TExpToken& node, TExpValue& out);
  // expression_evaluator_functions.cpp
  void EvaluateFunction(const TExpToken& node, TExpValue& out);
  void EvaluateTextSearch(const TExpToken& node, TExpValue& out);
  int CompareText(std::string_view a, std::string_view b, bool caseInsensitive) const;
  bool SameChar(std::uint8_t a, std::uint8_t b) const;

  const TExpToken& FRoot;
  TExpRecordSource& FSource;
  std::vector<TExpValue> FSlots;
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  const TLocaleDriver* FDriver;
  // Made on the first TEXTSEARCH or TEXTOCCURS.
  std::unique_ptr<TTextKeyBuilder> FTextWords;
};

// Fixed-point value (x 10000) of a BCD, saturating at the 64-bit range.
std::int64_t BcdFixedValue(const TBcd& value);
// A BCD of precision 32 and the given scale from a fixed-point value (x 10000).
TBcd BcdFromFixed(std::int64_t fixed, std::uint8_t scale);

}  // namespace tarn
