#include "expr/exp_token.h"

#include "engine/table/field_types.h"

namespace tarn {

void TExpToken::Clear() noexcept {
  Left.reset();
  Right.reset();
  List.clear();
  Kind = TExpTokenKind::None;
  Op = TExpOp::None;
  Text.clear();
  DataType = 0;
  SubType = 0;
  Size = 0;
  Scale = 0;
  Value.SetNull(0);
  Value.Buffer.clear();
  Value.Bcd = TBcd{};
  Quoted = false;
  ColumnName.clear();
  Correlation.clear();
  FieldNo = 0;
  Option = 0;
  Reference = 0;
  PrefixLength = 0;
  CaseInsensitive = false;
  Slot = 0;
  Height = 1;
}

const char* ExpOpName(TExpOp op) {
  switch (op) {
    case TExpOp::None: return "";
    case TExpOp::Not: return "NOT";
    case TExpOp::Negate: return "-";
    case TExpOp::Plus: return "+";
    case TExpOp::Or: return "OR";
    case TExpOp::And: return "AND";
    case TExpOp::Equal: return "=";
    case TExpOp::NotEqual: return "<>";
    case TExpOp::Less: return "<";
    case TExpOp::LessEqual: return "<=";
    case TExpOp::Greater: return ">";
    case TExpOp::GreaterEqual: return ">=";
    case TExpOp::Add: return "+";
    case TExpOp::Subtract: return "-";
    case TExpOp::Multiply: return "*";
    case TExpOp::Divide: return "/";
    case TExpOp::Like: return "LIKE";
    case TExpOp::NotLike: return "NOT LIKE";
    case TExpOp::PartialEqual: return "=*";
    case TExpOp::PartialNotEqual: return "<>*";
    case TExpOp::Between: return "BETWEEN";
    case TExpOp::NotBetween: return "NOT BETWEEN";
    case TExpOp::In: return "IN";
    case TExpOp::NotIn: return "NOT IN";
    case TExpOp::Lower: return "LOWER";
    case TExpOp::Upper: return "UPPER";
    case TExpOp::Length: return "LENGTH";
    case TExpOp::Substring: return "SUBSTRING";
    case TExpOp::Replace: return "REPLACE";
    case TExpOp::Pos: return "POS";
    case TExpOp::Occurs: return "OCCURS";
    case TExpOp::Cast: return "CAST";
    case TExpOp::Trim: return "TRIM";
    case TExpOp::Extract: return "EXTRACT";
    case TExpOp::Abs: return "ABS";
    case TExpOp::Round: return "ROUND";
    case TExpOp::If: return "IF";
    case TExpOp::IfNull: return "IFNULL";
    case TExpOp::Coalesce: return "COALESCE";
    case TExpOp::TextSearch: return "TEXTSEARCH";
    case TExpOp::TextOccurs: return "TEXTOCCURS";
    case TExpOp::LastAutoInc: return "LASTAUTOINC";
    case TExpOp::IdentCurrent: return "IDENT_CURRENT";
  }
  return "";
}

const char* ExpAggregateName(TExpAggregate aggregate) {
  switch (aggregate) {
    case TExpAggregate::Sum: return "SUM";
    case TExpAggregate::RunSum: return "RUNSUM";
    case TExpAggregate::Avg: return "AVG";
    case TExpAggregate::Min: return "MIN";
    case TExpAggregate::Max: return "MAX";
    case TExpAggregate::Count: return "COUNT";
  }
  return "";
}

const char* ExpKindWord(const TExpToken& token) {
  switch (token.Kind) {
    case TExpTokenKind::Column: return "column";
    case TExpTokenKind::Constant: return "constant";
    case TExpTokenKind::Function: return "function";
    default: return "expression";
  }
}

namespace ExpTypes {

bool IsInteger(std::uint8_t type) {
  return type == FieldType::Int16 || type == FieldType::Int32 || type == FieldType::UInt16 ||
         type == FieldType::Int64;
}

bool IsNumber(std::uint8_t type) { return IsInteger(type) || type == FieldType::Float || type == FieldType::Bcd; }

bool IsMemo(std::uint8_t type, std::uint8_t subType) {
  return type == FieldType::Blob && (subType == FieldSubType::Memo || subType == FieldSubType::FormattedMemo);
}

bool IsText(std::uint8_t type, std::uint8_t subType) { return type == FieldType::String || IsMemo(type, subType); }

}  // namespace ExpTypes

}  // namespace tarn
