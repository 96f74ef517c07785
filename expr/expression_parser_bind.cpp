// TExpressionParser: the binding pass. Resolves names, converts string
// constants that stand next to dates, times and timestamps, checks every
// operator's and function's operand types and fixes each node's data type.

#include <algorithm>

#include "engine/base/literal_text.h"
#include "engine/table/field_types.h"
#include "expr/expression_parser.h"

namespace tarn {

namespace {

using ExpTypes::IsInteger;
using ExpTypes::IsMemo;
using ExpTypes::IsNumber;

bool IsText(const TExpToken& n) { return ExpTypes::IsText(n.DataType, n.SubType); }
bool IsTextOrNull(const TExpToken& n) { return n.DataType == FieldType::Unknown || IsText(n); }
bool IsDateKind(std::uint8_t t) {
  return t == FieldType::Date || t == FieldType::Time || t == FieldType::Timestamp;
}
bool IsBytesType(std::uint8_t t) { return t == FieldType::Bytes || t == FieldType::VarBytes; }

// The = and <> rules (ordered: the <, <=, >, >= rules).
bool Comparable(const TExpToken& l, const TExpToken& r, bool ordered) {
  const std::uint8_t lt = l.DataType;
  const std::uint8_t rt = r.DataType;
  if (rt == FieldType::Unknown || lt == FieldType::Unknown) {
    if (lt == FieldType::Unknown) return true;
    // NULL on the right: every type that takes part in comparisons at all.
    if (!ordered) return true;
    return !(lt == FieldType::Boolean || IsBytesType(lt) || (lt == FieldType::Blob && !IsMemo(lt, l.SubType)));
  }
  if (IsText(l)) return IsText(r);
  if (lt == FieldType::Date || lt == FieldType::Timestamp) return rt == FieldType::Date || rt == FieldType::Timestamp;
  if (lt == FieldType::Time) return rt == FieldType::Time;
  if (lt == FieldType::Boolean || IsBytesType(lt)) return !ordered && rt == lt;
  if (IsNumber(lt)) return IsNumber(rt);
  return false;
}

// The type of integer, floating point and BCD arithmetic (+, - and *).
std::uint8_t NumberResult(std::uint8_t l, std::uint8_t r) {
  if (IsInteger(l) && IsInteger(r)) return (l == FieldType::Int64 || r == FieldType::Int64) ? FieldType::Int64 : FieldType::Int32;
  if (l == FieldType::Float || r == FieldType::Float) return FieldType::Float;
  return FieldType::Bcd;
}

// Result type of + - * / for the operand types, 0xFF when the pair is not
// allowed. A NULL right operand takes the type that keeps the left's result.
std::uint8_t ArithmeticResult(TExpOp op, std::uint8_t l, std::uint8_t r) {
  constexpr std::uint8_t Bad = 0xFF;
  if (l == FieldType::Unknown && r == FieldType::Unknown) return FieldType::Unknown;
  if (r == FieldType::Unknown) r = IsDateKind(l) ? FieldType::Int32 : l;
  if (l == FieldType::Unknown) return IsNumber(r) || r == FieldType::String ? r : Bad;
  switch (op) {
    case TExpOp::Add:
      if (l == FieldType::Date || l == FieldType::Time || l == FieldType::Timestamp) return IsInteger(r) ? l : Bad;
      if (IsInteger(l)) {
        if (IsInteger(r)) return NumberResult(l, r);
        if (r == FieldType::Float || r == FieldType::Bcd || IsDateKind(r)) return r;
        return Bad;
      }
      if (l == FieldType::Float) return IsNumber(r) ? FieldType::Float : Bad;
      if (l == FieldType::Bcd) return IsNumber(r) ? NumberResult(l, r) : Bad;
      return Bad;
    case TExpOp::Subtract:
      if (l == FieldType::Date) {
        if (r == FieldType::Date) return FieldType::Int32;
        return IsInteger(r) ? FieldType::Date : Bad;
      }
      if (l == FieldType::Time) {
        if (r == FieldType::Time) return FieldType::Int32;
        return IsInteger(r) ? FieldType::Time : Bad;
      }
      if (l == FieldType::Timestamp) {
        if (r == FieldType::Date || r == FieldType::Time) return FieldType::Int32;
        if (r == FieldType::Timestamp) return FieldType::Float;
        return IsInteger(r) ? FieldType::Timestamp : Bad;
      }
      return IsNumber(l) && IsNumber(r) ? NumberResult(l, r) : Bad;
    case TExpOp::Multiply:
      return IsNumber(l) && IsNumber(r) ? NumberResult(l, r) : Bad;
    case TExpOp::Divide:
      if (!IsNumber(l) || !IsNumber(r)) return Bad;
      if (l == FieldType::Bcd) return r == FieldType::Float ? FieldType::Float : FieldType::Bcd;
      return r == FieldType::Bcd ? FieldType::Bcd : FieldType::Float;
    default:
      return Bad;
  }
}

// The CAST table: whether a value of type from may be cast to type to.
bool CastAllowed(std::uint8_t from, std::uint8_t to) {
  if (from == FieldType::Unknown) return true;
  const auto in = [from](std::initializer_list<std::uint8_t> types) {
    return std::find(types.begin(), types.end(), from) != types.end();
  };
  using namespace FieldType;
  switch (to) {
    case String:
    case Blob:
    case Bytes:
    case VarBytes:
      return true;
    case Boolean:
      return in({String, Boolean, Int16, Int32, Int64, UInt16, Bcd, Bytes, VarBytes});
    case Int16:
    case UInt16:
      return in({String, Boolean, Int16, Int32, Int64, UInt16, Float, Bcd, Bytes, VarBytes});
    case Int32:
    case Float:
    case Bcd:
    case Int64:
      return in({String, Int16, Int32, Int64, UInt16, Float, Bcd, Bytes, VarBytes});
    case Date:
      return in({String, Date, Timestamp, Bytes, VarBytes});
    case Time:
      return in({String, Time, Timestamp, Bytes, VarBytes});
    case Timestamp:
      return in({String, Date, Time, Timestamp, Bytes, VarBytes});
    default:
      return false;
  }
}

// Types that agree as IF, IFNULL and COALESCE results.
bool Agree(const TExpToken& a, const TExpToken& b) {
  if (a.DataType == FieldType::Unknown || b.DataType == FieldType::Unknown) return true;
  if (IsText(a) && IsText(b)) return true;
  return a.DataType == b.DataType;
}

void CopyType(TExpToken& to, const TExpToken& from) {
  to.DataType = from.DataType;
  to.SubType = from.SubType;
  to.Size = from.Size;
  to.Scale = from.Scale;
}

std::string Quote(const TExpToken& n) { return std::string("'") + n.Text + "'"; }

// Walks the binding depth for the life of one node.
class TDepthGuard {
 public:
  explicit TDepthGuard(int& depth) : FDepth(depth) { ++FDepth; }
  ~TDepthGuard() { --FDepth; }
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;

 private:
  int& FDepth;
};

}  // namespace

void TExpressionParser::BindExpression(TErrorCode errorCode, std::string_view tableName, TExpToken& root,
                                       const TExpColumnResolver& resolveColumn) {
  FErrorCode = errorCode;
  FTableName.assign(tableName);
  FResolver = &resolveColumn;
  FNextSlot = 0;
  FBindDepth = 0;
  BindNode(root);
}

void TExpressionParser::BindNode(TExpToken& node) {
  TDepthGuard depth(FBindDepth);
  // Trees come from the parser, which bounds their height; a hand-built tree
  // deeper than that is refused here rather than exhausting the stack.
  if (FBindDepth > MaxHeight + 1) FailIn("Expression is too complex in");
  node.Slot = FNextSlot++;
  switch (node.Kind) {
    case TExpTokenKind::Constant:
      if (node.Quoted && node.DataType == FieldType::String && node.Text != "*") {
        if (const std::optional<TExpColumn> column = FResolver->FindColumn(node.Text)) {
          node.Kind = TExpTokenKind::Column;
          node.ColumnName = node.Text;
          node.Quoted = false;
          node.Value.SetNull(FieldType::Unknown);
          node.Value.Buffer.clear();
        }
      }
      if (node.Kind == TExpTokenKind::Constant) return;
      [[fallthrough]];
    case TExpTokenKind::Column: {
      const std::optional<TExpColumn> column = FResolver->FindColumn(node.ColumnName);
      if (!column)
        Fail("Invalid column name '" + node.ColumnName + "' or table correlation name '" + node.Correlation +
             "' specified in " + FSourceName);
      node.FieldNo = column->FieldNo;
      node.DataType = column->Type;
      node.SubType = column->SubType;
      node.Size = column->Type == FieldType::String ? static_cast<std::uint16_t>(column->Size + 1) : column->Size;
      node.Scale = column->Scale;
      return;
    }
    case TExpTokenKind::Unary:
      BindUnary(node);
      return;
    case TExpTokenKind::Binary:
      BindBinary(node);
      return;
    case TExpTokenKind::List:
      BindList(node);
      return;
    case TExpTokenKind::Function:
      BindFunction(node);
      return;
    case TExpTokenKind::None:
    case TExpTokenKind::Aggregate:
    case TExpTokenKind::Parameter:
    case TExpTokenKind::SubSelect:
      break;
  }
  FailIn("Unknown or unexpected expression in");
}

void TExpressionParser::BindUnary(TExpToken& node) {
  BindNode(*node.Left);
  const TExpToken& operand = *node.Left;
  const std::uint8_t t = operand.DataType;
  bool ok = false;
  switch (node.Op) {
    case TExpOp::Not:
      ok = t == FieldType::Boolean;
      break;
    case TExpOp::Plus:
      ok = t == FieldType::UInt16;
      [[fallthrough]];
    case TExpOp::Negate:
      ok = ok || t == FieldType::Date || t == FieldType::Int16 || t == FieldType::Int32 || t == FieldType::Int64 ||
           t == FieldType::Float || t == FieldType::Bcd || t == FieldType::Time || t == FieldType::Timestamp ||
           t == FieldType::Unknown;
      break;
    default:
      break;
  }
  if (!ok) Fail("Type mismatch between '" + node.Text + "' operator and " + Quote(operand) + " in " + FSourceName);
  CopyType(node, operand);
  if (node.Op == TExpOp::Not) {
    node.DataType = FieldType::Boolean;
    node.Size = 2;
  }
}

void TExpressionParser::ConvertDateConstant(TExpToken& constant, std::uint8_t type) {
  const std::string& text = constant.Text;
  bool ok = false;
  if (type == FieldType::Date) {
    if (const auto day = ParseDateText(text)) {
      constant.Value.SetInt(FieldType::Date, *day);
      ok = true;
    }
  } else if (type == FieldType::Time) {
    if (const auto ms = ParseTimeText(text)) {
      constant.Value.SetInt(FieldType::Time, *ms);
      ok = true;
    }
  } else if (const auto stamp = ParseTimestampText(text)) {
    constant.Value.SetFloat(FieldType::Timestamp, *stamp);
    ok = true;
  }
  if (!ok) FailQuoted("Date, time, or timestamp expression expected, instead found '", text);
  constant.DataType = type;
  constant.SubType = 0;
  constant.Size = type == FieldType::Timestamp ? 8 : 4;
  constant.Quoted = false;
  constant.Value.Buffer.clear();
  constant.Value.Text = {};
}

void TExpressionParser::ConvertDateOperands(TExpToken& a, TExpToken& b) {
  if (a.IsConstant() && a.DataType == FieldType::String && IsDateKind(b.DataType))
    ConvertDateConstant(a, b.DataType);
  else if (b.IsConstant() && b.DataType == FieldType::String && IsDateKind(a.DataType))
    ConvertDateConstant(b, a.DataType);
}

void TExpressionParser::BindBinary(TExpToken& node) {
  BindNode(*node.Left);
  BindNode(*node.Right);
  TExpToken& l = *node.Left;
  TExpToken& r = *node.Right;
  const auto mismatch = [&] {
    Fail(std::string("Type mismatch between ") + ExpKindWord(l) + " " + Quote(l) + " and " + ExpKindWord(r) + " " +
         Quote(r) + " in " + FSourceName);
  };
  switch (node.Op) {
    case TExpOp::And:
    case TExpOp::Or:
      if ((l.DataType != FieldType::Boolean && l.DataType != FieldType::Unknown) ||
          (r.DataType != FieldType::Boolean && r.DataType != FieldType::Unknown))
        mismatch();
      node.DataType = FieldType::Boolean;
      node.Size = 2;
      return;
    case TExpOp::Like:
    case TExpOp::NotLike:
      for (const TExpToken* operand : {&l, &r})
        if (!IsTextOrNull(*operand))
          Fail("Type mismatch between " + node.Text + " operator and expression " + Quote(*operand) + " in " +
               FSourceName);
      node.DataType = FieldType::Boolean;
      node.Size = 2;
      return;
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::PartialEqual:
    case TExpOp::PartialNotEqual:
    case TExpOp::Less:
    case TExpOp::LessEqual:
    case TExpOp::Greater:
    case TExpOp::GreaterEqual: {
      ConvertDateOperands(l, r);
      const bool ordered = node.Op != TExpOp::Equal && node.Op != TExpOp::NotEqual &&
                           node.Op != TExpOp::PartialEqual && node.Op != TExpOp::PartialNotEqual;
      if (!Comparable(l, r, ordered)) mismatch();
      node.DataType = FieldType::Boolean;
      node.Size = 2;
      return;
    }
    case TExpOp::Add:
    case TExpOp::Subtract:
    case TExpOp::Multiply:
    case TExpOp::Divide: {
      ConvertDateOperands(l, r);
      if (node.Op == TExpOp::Add && IsTextOrNull(l) && IsTextOrNull(r) &&
          (l.DataType != FieldType::Unknown || r.DataType != FieldType::Unknown)) {
        const bool memo = IsMemo(l.DataType, l.SubType) || IsMemo(r.DataType, r.SubType);
        node.DataType = memo ? FieldType::Blob : FieldType::String;
        node.SubType = memo ? FieldSubType::Memo : 0;
        const int size = std::max<int>(l.Size, 1) + std::max<int>(r.Size, 1) - 1;
        node.Size = static_cast<std::uint16_t>(std::min(size, 65535));
        return;
      }
      const std::uint8_t result = ArithmeticResult(node.Op, l.DataType, r.DataType);
      if (result == 0xFF) mismatch();
      node.DataType = result;
      node.SubType = 0;
      node.Size = 0;
      node.Scale = result == FieldType::Bcd ? 4 : 0;
      return;
    }
    default:
      break;
  }
  FailIn("Unknown or unexpected expression in");
}

void TExpressionParser::BindList(TExpToken& node) {
  BindNode(*node.Left);
  for (TExpTokenPtr& item : node.List) BindNode(*item);
  TExpToken& left = *node.Left;
  for (TExpTokenPtr& item : node.List) {
    ConvertDateOperands(left, *item);
    if (!Comparable(left, *item, node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween))
      Fail("Type mismatch between " + node.Text + " operator and expression " + Quote(*item) + " in " + FSourceName);
  }
  node.DataType = FieldType::Boolean;
  node.Size = 2;
}

void TExpressionParser::BindFunction(TExpToken& node) {
  for (TExpTokenPtr& arg : node.List) BindNode(*arg);
  const std::string& name = node.Text;
  std::vector<TExpTokenPtr>& a = node.List;
  const auto needText = [&](const TExpToken& arg, const std::string& message) {
    if (!IsTextOrNull(arg)) FailIn(message);
  };
  const auto needInteger = [&](const TExpToken& arg, const std::string& message) {
    if (!IsInteger(arg.DataType) && arg.DataType != FieldType::Unknown) FailIn(message);
  };
  const auto setResult = [&](std::uint8_t type, std::uint16_t size) {
    node.DataType = type;
    node.SubType = 0;
    node.Size = size;
    node.Scale = 0;
  };
  switch (node.Op) {
    case TExpOp::Lower:
    case TExpOp::Upper:
      needText(*a[0], "Type mismatch between " + name + " function and function argument in");
      setResult(FieldType::String, a[0]->Size);
      return;
    case TExpOp::Length:
      needText(*a[0], "Type mismatch between LENGTH function and function argument in");
      setResult(FieldType::Int32, 4);
      return;
    case TExpOp::Substring:
      needText(*a[0], "Expression argument of SUBSTRING function must be a string or memo in");
      needInteger(*a[1], "FROM argument of SUBSTRING function must be an integer value in");
      if (a.size() > 2) needInteger(*a[2], "FOR argument of SUBSTRING function must be an integer value in");
      setResult(FieldType::String, a[0]->Size);
      return;
    case TExpOp::Replace:
      needText(*a[2], "IN argument of REPLACE function must be a string or memo in");
      needText(*a[0], "Type mismatch between REPLACE function and search string argument in");
      needText(*a[1], "Type mismatch between REPLACE function and replace string argument in");
      setResult(FieldType::String, 0);
      return;
    case TExpOp::Pos:
    case TExpOp::Occurs:
      needText(*a[1], "Type mismatch between " + name + " function and IN argument in");
      needText(*a[0], "Type mismatch between " + name + " function and search string argument in");
      setResult(FieldType::Int32, 4);
      return;
    case TExpOp::Cast:
      if (!CastAllowed(a[0]->DataType, node.DataType))
        Fail(std::string("Type mismatch between ") + ExpKindWord(*a[0]) + " " + Quote(*a[0]) + " and AS argument in " +
             FSourceName);
      return;
    case TExpOp::Trim: {
      needText(*a[1], "FROM argument of TRIM function must be a string or memo in");
      const TExpToken& c = *a[0];
      if (!c.IsConstant() || c.DataType != FieldType::String || c.Value.Text.size() != 1)
        FailIn("Trim character argument of TRIM function must be a single character constant in");
      setResult(FieldType::String, a[1]->Size);
      return;
    }
    case TExpOp::Extract:
      if (!IsDateKind(a[0]->DataType) && a[0]->DataType != FieldType::Unknown)
        FailIn("FROM argument of EXTRACT function must be a date, time, or timestamp in");
      setResult(FieldType::Int32, 4);
      return;
    case TExpOp::Abs:
      if (!IsNumber(a[0]->DataType) && a[0]->DataType != FieldType::Unknown)
        FailIn("Expression argument of ABS function must be an integer, floating-point, or BCD type in");
      CopyType(node, *a[0]);
      return;
    case TExpOp::Round:
      if (a[0]->DataType != FieldType::Float && a[0]->DataType != FieldType::Bcd &&
          a[0]->DataType != FieldType::Unknown)
        FailIn("Expression argument of ROUND function must be a floating-point or BCD type in");
      if (a.size() > 1) {
        const TExpToken& places = *a[1];
        if (!places.IsConstant() || !IsInteger(places.DataType))
          FailIn("Decimal places argument of ROUND function must be an integer constant in");
        if (places.Value.Int < 0 || places.Value.Int > 32)
          FailIn("Decimal places argument of ROUND function must be an integer constant between 0 and 32 in");
      }
      CopyType(node, *a[0]);
      return;
    case TExpOp::If:
    case TExpOp::IfNull:
      if (node.Op == TExpOp::If && a[0]->DataType != FieldType::Boolean)
        FailIn("First expression argument of IF function must be a boolean type in");
      if (!Agree(*a[1], *a[2])) FailIn("Type mismatch between " + name + " expression arguments in");
      CopyType(node, a[1]->DataType != FieldType::Unknown ? *a[1] : *a[2]);
      return;
    case TExpOp::Coalesce: {
      const TExpToken* typed = nullptr;
      for (const TExpTokenPtr& arg : a) {
        if (arg->DataType == FieldType::Unknown) continue;
        if (typed != nullptr && !Agree(*typed, *arg)) FailIn("Type mismatch between COALESCE expression arguments in");
        if (typed == nullptr) typed = arg.get();
      }
      if (typed == nullptr)
        Fail("At least one of the COALESCE expression arguments in " + FSourceName + " must be a non-NULL value");
      CopyType(node, *typed);
      return;
    }
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs: {
      const TExpToken& text = *a[0];
      const TExpToken& column = *a[1];
      if (!text.IsConstant()) FailIn(name + " search text function argument must be a string constant in");
      if (text.DataType != FieldType::String)
        FailIn("Type mismatch between " + name + " function and search string argument in");
      if (!column.IsColumn()) FailIn(name + " function column argument must be a valid column name in");
      if (!IsText(column)) FailIn("Type mismatch between " + name + " function and IN argument in");
      if (node.Op == TExpOp::TextSearch)
        setResult(FieldType::Boolean, 2);
      else
        setResult(FieldType::UInt16, 2);
      return;
    }
    case TExpOp::LastAutoInc:
    case TExpOp::IdentCurrent:
      if (a[0]->DataType != FieldType::String)
        FailIn("Type mismatch between " + name + " function and table name function argument in");
      if (!a[0]->IsConstant()) FailIn(name + " table name function argument must be a string constant in");
      setResult(FieldType::Int32, 4);
      return;
    default:
      break;
  }
  FailIn("Unknown or unexpected expression in");
}

}  // namespace tarn
