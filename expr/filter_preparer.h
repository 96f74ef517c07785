#pragma once
// Preparing a bound filter tree for evaluation and for index use.
//
// The result is a new tree (the input is left alone) in which:
//   1. every comparison (=, <>, <, <=, >, >=) whose left side is no column
//      but whose right side is one has its operands swapped and its operator
//      mirrored (< with >, <= with >=);
//   2. every operand of a comparison, LIKE, BETWEEN or IN that refers to no
//      column is evaluated once and replaced by a constant; when that constant
//      is not a string and its type differs from the other operand's, it is
//      converted to that type, but only when the conversion keeps its value
//      (7.5 stays 7.5 next to an integer column, so Amount = 7.5 stays false
//      for 7);
//   3. = and <> with a string constant on the right become partial
//      comparisons when the constant ends in "*" or case is ignored: with
//      partial compare allowed the "*" is dropped and only the characters
//      before it are compared; with NoPartialCompare the "*" stays and the
//      whole string must match;
//   4. LIKE and NOT LIKE with a pattern longer than one character that has no
//      "_" and one "%", at its end, become a partial = or <> on the text
//      before the "%" (ignoring case as LIKE does on tables without a
//      language).
// Slots are renumbered for the new tree.

#include "expr/exp_record_source.h"
#include "expr/exp_token.h"
#include "expr/filter.h"

namespace tarn {

// Requires: bound is a bound tree. source supplies the language.
TExpTokenPtr PrepareFilterTree(const TExpToken& bound, const TFilterOptions& options, TExpRecordSource& source);

}  // namespace tarn
