#include "sql/sql_row.h"

#include <algorithm>
#include <cctype>

#include "engine/table/field_types.h"
#include "expr/exp_token.h"
#include "expr/expression_evaluator.h"

namespace tarn {

namespace {

bool IsTextType(std::uint8_t type) {
  return type == FieldType::String || type == FieldType::Blob || type == FieldType::Bytes ||
         type == FieldType::VarBytes;
}
bool IsFloatType(std::uint8_t type) {
  return type == FieldType::Float || type == FieldType::Timestamp;
}

double AsDouble(const TSqlCell& c) {
  if (c.Type == FieldType::Bcd) return static_cast<double>(BcdFixedValue(c.Bcd)) / 10000.0;
  if (IsFloatType(c.Type)) return c.Float;
  return static_cast<double>(c.Int);
}

int Sign(auto d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

}  // namespace

TSqlCell TSqlCell::From(const TExpValue& value) {
  TSqlCell c;
  c.Type = value.Type;
  c.Null = value.Null;
  if (value.Null) return c;
  c.Int = value.Int;
  c.Float = value.Float;
  c.Bcd = value.Bcd;
  if (value.Text.data() != nullptr) c.Text.assign(value.Text.data(), value.Text.size());
  return c;
}

void TSqlCell::To(TExpValue& out) const {
  out.Type = Type;
  out.Null = Null;
  out.Int = Int;
  out.Float = Float;
  out.Bcd = Bcd;
  out.Buffer = Text;
  out.Text = out.Buffer;
  if (Null) out.Text = {};
}

int CompareCells(const TSqlCell& a, const TSqlCell& b, bool noCase) {
  if (a.Null || b.Null) return a.Null == b.Null ? 0 : (a.Null ? -1 : 1);
  if (IsTextType(a.Type) || IsTextType(b.Type)) {
    if (!noCase) return Sign(a.Text.compare(b.Text));
    const std::size_t n = std::min(a.Text.size(), b.Text.size());
    for (std::size_t i = 0; i < n; ++i) {
      const int x = std::toupper(static_cast<unsigned char>(a.Text[i]));
      const int y = std::toupper(static_cast<unsigned char>(b.Text[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return Sign(static_cast<std::int64_t>(a.Text.size()) -
                static_cast<std::int64_t>(b.Text.size()));
  }
  if (a.Type == b.Type && !IsFloatType(a.Type) && a.Type != FieldType::Bcd)
    return a.Int < b.Int ? -1 : (a.Int > b.Int ? 1 : 0);
  if (a.Type == FieldType::Bcd && b.Type == FieldType::Bcd) {
    const std::int64_t x = BcdFixedValue(a.Bcd), y = BcdFixedValue(b.Bcd);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const double x = AsDouble(a);
  const double y = AsDouble(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace tarn
