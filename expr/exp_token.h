#pragma once
// One node of an expression tree.
//
// The parser (expression_parser.h) builds the tree, the binding pass fixes
// every node's data type, and from then on the tree is read-only: evaluators
// keep their results in slots of their own, indexed by Slot, so one bound tree
// can be evaluated any number of times without allocating.
//
// Shape per kind:
//   Unary      Op NOT, Negate, Plus; Left the operand
//   Binary     Op a comparison, AND, OR, + - * /, LIKE, NOT LIKE, or a
//              partial comparison; Left and Right the operands
//   Column     ColumnName (and Correlation when qualified); after binding
//              FieldNo and the field's type, subtype, size and scale
//   Constant   Value (Type 0 with Null set for the NULL constant)
//   Function   Op the function; List the arguments in the order written;
//              Option the TRIM side or EXTRACT part
//   List       Op BETWEEN, NOT BETWEEN, IN, NOT IN; Left the tested value,
//              List the bounds or the values
//   Aggregate, Parameter, SubSelect: SQL statements only (see the kinds);
//              "*" (all columns) is a Column whose ColumnName is "*"
// Text is the node's own source text: the operator symbol or keyword, the
// literal as written (string quotes removed) or the name.
//
// Nodes come from and go back to the engine-wide pool (exp_token_stack.h);
// TExpTokenPtr returns a whole subtree to the pool when it goes away, left
// operand first, then right operand, then the list, then the node itself.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "expr/exp_value.h"

namespace tarn {

enum class TExpTokenKind : std::uint8_t {
  None = 0,
  Unary = 1,
  Binary = 2,
  Column = 4,
  Constant = 5,
  // SQL statements only (ParseExpression flags of expression_parser.h):
  Aggregate = 6,   // Option the TExpAggregate; List[0] the argument ("*" column for COUNT(*))
  Parameter = 7,   // "?"; Reference its 1-based position among the statement's markers
  SubSelect = 8,   // "(" SELECT ... ")"; Reference the statement's number for the query
  Function = 10,
  List = 12,
};

// Operator and function codes.
enum class TExpOp : std::uint8_t {
  None = 0,
  // unary
  Not,
  Negate,
  Plus,
  // binary
  Or,
  And,
  Equal,
  NotEqual,
  Less,
  LessEqual,
  Greater,
  GreaterEqual,
  Add,
  Subtract,
  Multiply,
  Divide,
  Like,
  NotLike,
  // comparison of a string prefix, made when a filter is prepared
  PartialEqual,
  PartialNotEqual,
  // list predicates
  Between,
  NotBetween,
  In,
  NotIn,
  // functions
  Lower,
  Upper,
  Length,
  Substring,
  Replace,
  Pos,
  Occurs,
  Cast,
  Trim,
  Extract,
  Abs,
  Round,
  If,
  IfNull,
  Coalesce,
  TextSearch,
  TextOccurs,
  LastAutoInc,
  IdentCurrent,
};

// TRIM sides (Option of a TRIM node).
enum class TTrimSide : std::uint8_t { Leading = 0, Trailing = 1, Both = 2 };
// Aggregate functions (Option of an Aggregate node).
enum class TExpAggregate : std::uint8_t { Sum = 0, RunSum = 1, Avg = 2, Min = 3, Max = 4, Count = 5 };
// "SUM", "RUNSUM", "AVG", "MIN", "MAX" or "COUNT".
const char* ExpAggregateName(TExpAggregate aggregate);

// EXTRACT parts (Option of an EXTRACT node).
enum class TExtractPart : std::uint8_t { Year, Month, Week, Day, DayOfWeek, DayOfYear, Hour, Minute, Second };

struct TExpToken;

// Gives a subtree back to the pool (exp_token_stack.cpp).
struct TExpTokenRelease {
  void operator()(TExpToken* token) const noexcept;
};
using TExpTokenPtr = std::unique_ptr<TExpToken, TExpTokenRelease>;

struct TExpToken {
  TExpTokenKind Kind = TExpTokenKind::None;
  TExpOp Op = TExpOp::None;
  std::string Text;

  // Data type after binding (field type codes; 0 = unknown or NULL).
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::uint16_t Size = 0;  // strings: characters + 1; bytes: their count
  std::uint8_t Scale = 0;  // BCD: digits after the point

  // Constants: the value; a string constant also remembers that it was written
  // in quotes (binding may turn it into a column reference).
  TExpValue Value;
  bool Quoted = false;

  TExpTokenPtr Left;
  TExpTokenPtr Right;
  std::vector<TExpTokenPtr> List;

  // Column references.
  std::string ColumnName;
  std::string Correlation;
  std::uint16_t FieldNo = 0;

  // TRIM side, EXTRACT part, aggregate function.
  std::uint8_t Option = 0;
  // Parameters and sub-selects: see their kinds.
  std::int32_t Reference = 0;
  // Partial comparisons: characters compared (0 = the whole string) and
  // whether letter case is ignored.
  std::uint16_t PrefixLength = 0;
  bool CaseInsensitive = false;

  // Evaluation slot, numbered by the binding pass (0 .. node count - 1).
  std::uint32_t Slot = 0;
  // Nodes on the longest path down from here (1 for a leaf).
  std::uint16_t Height = 1;

  // Gives the operands back to the pool and resets every member; Text,
  // ColumnName and the list keep their capacity.
  void Clear() noexcept;

  bool IsConstant() const { return Kind == TExpTokenKind::Constant; }
  bool IsColumn() const { return Kind == TExpTokenKind::Column; }
  bool IsNullConstant() const { return Kind == TExpTokenKind::Constant && DataType == 0; }
};

// Calls fn on node and then on every node below it, operands before list
// items. TToken is TExpToken or const TExpToken.
template <class TToken, class TFn>
void ForEachNode(TToken& node, TFn&& fn) {
  static_assert(std::is_same_v<std::remove_const_t<TToken>, TExpToken>);
  fn(node);
  if (node.Left) ForEachNode<TToken>(*node.Left, fn);
  if (node.Right) ForEachNode<TToken>(*node.Right, fn);
  for (const TExpTokenPtr& item : node.List)
    if (item) ForEachNode<TToken>(*item, fn);
}

// Names used in messages and in printed trees.
const char* ExpOpName(TExpOp op);
// "expression", "column", "constant" or "function".
const char* ExpKindWord(const TExpToken& token);

// Type classes of the binding rules.
namespace ExpTypes {
bool IsInteger(std::uint8_t type);  // 5, 6, 12, 18
bool IsNumber(std::uint8_t type);   // integers, 7, 8
// A blob of subtype memo or formatted memo.
bool IsMemo(std::uint8_t type, std::uint8_t subType);
// A string, or a memo blob.
bool IsText(std::uint8_t type, std::uint8_t subType);
}  // namespace ExpTypes

}  // namespace tarn
