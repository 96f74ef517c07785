#include "expr/expression_evaluator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/index/collation.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/table/field_types.h"

namespace tarn {

namespace {

std::uint32_t CountNodes(const TExpToken& node) {
  std::uint32_t highest = node.Slot;
  if (node.Left) highest = std::max(highest, CountNodes(*node.Left));
  if (node.Right) highest = std::max(highest, CountNodes(*node.Right));
  for (const TExpTokenPtr& item : node.List) highest = std::max(highest, CountNodes(*item));
  return highest;
}

bool IsTextValue(const TExpValue& v) { return v.Type == FieldType::String || v.Type == FieldType::Blob; }
bool IsFloatKind(std::uint8_t t) { return t == FieldType::Float || t == FieldType::Timestamp; }
bool IsBytesKind(std::uint8_t t) { return t == FieldType::Bytes || t == FieldType::VarBytes; }

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// A value on the millisecond scale of timestamps (dates at midnight).
double AsTimestamp(const TExpValue& v) {
  if (v.Type == FieldType::Date) return static_cast<double>(v.Int) * DateScale::MsPerDay;
  return v.Float;
}

double AsDouble(const TExpValue& v) {
  if (v.Null) return 0;
  if (IsFloatKind(v.Type)) return v.Float;
  if (v.Type == FieldType::Bcd) return BcdToDouble(v.Bcd);
  return static_cast<double>(v.Int);
}

std::int64_t SaturatingTimes10000(std::int64_t v) {
  constexpr std::int64_t Limit = std::numeric_limits<std::int64_t>::max() / 10000;
  if (v > Limit) return std::numeric_limits<std::int64_t>::max();
  if (v < -Limit) return std::numeric_limits<std::int64_t>::min();
  return v * 10000;
}

std::int64_t AsFixed(const TExpValue& v) {
  if (v.Null) return 0;
  if (v.Type == FieldType::Bcd) return BcdFixedValue(v.Bcd);
  return SaturatingTimes10000(v.Int);
}

// Integer arithmetic that wraps instead of overflowing.
std::int64_t WrapAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t WrapSub(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
std::int64_t WrapMul(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}

}  // namespace

std::int64_t BcdFixedValue(const TBcd& value) {
  std::array<std::uint8_t, TBcd::StoredSize> bytes{};
  value.Store(bytes);
  return BcdKeyValue(bytes);
}

TBcd BcdFromFixed(std::int64_t fixed, std::uint8_t scale) {
  const bool negative = fixed < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(fixed) : static_cast<std::uint64_t>(fixed);
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(magnitude % 10000);
  text += "." + std::string(4 - fraction.size(), '0') + fraction;
  if (std::optional<TBcd> bcd = BcdFromText(text, scale)) return *bcd;
  return *BcdFromInt64(0, scale);
}

TExpEvaluator::TExpEvaluator(const TExpToken& root, TExpRecordSource& source)
    : FRoot(root),
      FSource(source),
      FSlots(CountNodes(root) + 1),
      FLanguageId(source.LanguageId()),
      FSortId(source.SortId()),
      FDriver(GetLocaleDriver(FLanguageId, FSortId)) {}

TExpEvaluator::~TExpEvaluator() = default;

const TExpValue& TExpEvaluator::Evaluate(const TExpToken& node) {
  switch (node.Kind) {
    case TExpTokenKind::Constant:
      return node.Value;
    case TExpTokenKind::Column: {
      TExpValue& out = Slot(node);
      ReadColumn(node, out);
      return out;
    }
    case TExpTokenKind::Unary: {
      TExpValue& out = Slot(node);
      EvaluateUnary(node, out);
      return out;
    }
    case TExpTokenKind::Binary: {
      TExpValue& out = Slot(node);
      EvaluateBinary(node, out);
      return out;
    }
    case TExpTokenKind::List: {
      TExpValue& out = Slot(node);
      EvaluateList(node, out);
      return out;
    }
    case TExpTokenKind::Function: {
      TExpValue& out = Slot(node);
      EvaluateFunction(node, out);
      return out;
    }
    case TExpTokenKind::None:
    case TExpTokenKind::Aggregate:
    case TExpTokenKind::Parameter:
    case TExpTokenKind::SubSelect:
      break;
  }
  TExpValue& out = Slot(node);
  out.SetNull(FieldType::Unknown);
  return out;
}

void TExpEvaluator::ReadColumn(const TExpToken& node, TExpValue& out) {
  const std::uint8_t type = node.DataType;
  if (type == FieldType::Blob) {
    if (FSource.ReadBlob(node.FieldNo, out.Buffer) && !out.Buffer.empty())
      out.TakeBuffer(type);
    else
      out.SetNull(type);
    return;
  }
  const TFieldRead read = FSource.ReadField(node.FieldNo);
  const std::span<const std::uint8_t> b = read.Bytes;
  if (read.Blank) {
    out.SetNull(type);
    if (type == FieldType::Bcd) out.Bcd = TBcd{};
    return;
  }
  const auto need = [&](std::size_t n) { return b.size() >= n; };
  switch (type) {
    case FieldType::String: {
      const auto* chars = reinterpret_cast<const char*>(b.data());
      const std::size_t length = strnlen(chars, b.size());
      out.Type = type;
      out.Null = length == 0;
      out.Text = std::string_view(chars, length);
      return;
    }
    case FieldType::Date:
    case FieldType::Int32:
    case FieldType::Time:
      if (need(4)) return out.SetInt(type, GetLEI32(b, 0));
      break;
    case FieldType::Boolean:
    case FieldType::UInt16:
      if (need(2)) return out.SetInt(type, type == FieldType::Boolean ? (GetLE16(b, 0) != 0) : GetLE16(b, 0));
      break;
    case FieldType::Int16:
      if (need(2)) return out.SetInt(type, GetLEI16(b, 0));
      break;
    case FieldType::Int64:
      if (need(8)) return out.SetInt(type, GetLEI64(b, 0));
      break;
    case FieldType::Float:
    case FieldType::Timestamp:
      if (need(8)) return out.SetFloat(type, GetLEDouble(b, 0));
      break;
    case FieldType::Bcd:
      if (need(TBcd::StoredSize)) {
        out.Type = type;
        out.Null = false;
        out.Bcd = TBcd::Load(b);
        if (!out.Bcd.IsValid()) out.Bcd = TBcd{};
        return;
      }
      break;
    case FieldType::Bytes:
    case FieldType::VarBytes:
      out.Type = type;
      out.Null = false;
      out.Text = std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
      return;
    default:
      break;
  }
  out.SetNull(type);
}

void TExpEvaluator::EvaluateUnary(const TExpToken& node, TExpValue& out) {
  const TExpValue& v = Evaluate(*node.Left);
  switch (node.Op) {
    case TExpOp::Not:
      out.SetBool(!v.IsTrue());
      return;
    case TExpOp::Plus:
      out.CopyFrom(v);
      return;
    case TExpOp::Negate:
      out.CopyFrom(v);
      if (v.Null) return;
      if (IsFloatKind(v.Type)) {
        out.Float = -v.Float;
      } else if (v.Type == FieldType::Bcd) {
        out.Bcd = BcdFromFixed(-BcdFixedValue(v.Bcd), v.Bcd.Scale());
      } else {
        out.Int = WrapSub(0, v.Int);
        if (v.Type == FieldType::Int16) out.Int = static_cast<std::int16_t>(out.Int);
        if (v.Type == FieldType::Int32 || v.Type == FieldType::Date || v.Type == FieldType::Time)
          out.Int = static_cast<std::int32_t>(out.Int);
      }
      return;
    default:
      out.SetNull(node.DataType);
  }
}

int TExpEvaluator::CompareText(std::string_view a, std::string_view b, bool caseInsensitive) const {
  if (FDriver == nullptr) return -1;
  if (FDriver->IsBytewise()) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t x = static_cast<std::uint8_t>(a[i]);
      std::uint8_t y = static_cast<std::uint8_t>(b[i]);
      if (caseInsensitive) {
        x = FDriver->Upper(x);
        y = FDriver->Upper(y);
      }
      if (x != y) return x < y ? -1 : 1;
    }
    return Sign(a.size(), b.size());
  }
  return FDriver->Collate(reinterpret_cast<const std::uint8_t*>(a.data()), a.size(),
                          reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), caseInsensitive);
}

bool TExpEvaluator::SameChar(std::uint8_t a, std::uint8_t b) const {
  if (FDriver == nullptr) return false;
  if (FDriver->IsBytewise()) return FDriver->Upper(a) == FDriver->Upper(b);
  return a == b || FDriver->Collate(&a, 1, &b, 1, false) == 0;
}

int TExpEvaluator::CompareValues(const TExpValue& a, const TExpValue& b, std::uint16_t prefix,
                                 bool caseInsensitive) const {
  if (IsTextValue(a) || IsTextValue(b)) {
    std::string_view x = a.Text;
    std::string_view y = b.Text;
    if (prefix > 0) {
      x = x.substr(0, prefix);
      y = y.substr(0, prefix);
    }
    return CompareText(x, y, caseInsensitive);
  }
  if (IsBytesKind(a.Type) || IsBytesKind(b.Type)) {
    const std::size_t n = std::min(a.Text.size(), b.Text.size());
    const int c = n == 0 ? 0 : std::memcmp(a.Text.data(), b.Text.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
    return Sign(a.Text.size(), b.Text.size());
  }
  if (IsFloatKind(a.Type) || IsFloatKind(b.Type)) {
    if (a.Type == FieldType::Timestamp || b.Type == FieldType::Timestamp) return Sign(AsTimestamp(a), AsTimestamp(b));
    return Sign(AsDouble(a), AsDouble(b));
  }
  if (a.Type == FieldType::Bcd || b.Type == FieldType::Bcd) return Sign(AsFixed(a), AsFixed(b));
  if (a.Type == FieldType::Boolean || b.Type == FieldType::Boolean) return Sign(a.Int != 0, b.Int != 0);
  return Sign(a.Int, b.Int);
}

bool TExpEvaluator::CompareOp(TExpOp op, const TExpValue& a, const TExpValue& b, std::uint16_t prefix,
                              bool caseInsensitive) const {
  switch (op) {
    case TExpOp::Equal:
    case TExpOp::PartialEqual:
      if (a.Null || b.Null) return a.Null && b.Null;
      return CompareValues(a, b, prefix, caseInsensitive) == 0;
    case TExpOp::NotEqual:
    case TExpOp::PartialNotEqual:
      if (a.Null || b.Null) return !(a.Null && b.Null);
      return CompareValues(a, b, prefix, caseInsensitive) != 0;
    default:
      break;
  }
  if (!(IsTextValue(a) || IsTextValue(b)) && a.Null != b.Null) return false;
  const int c = CompareValues(a, b, prefix, caseInsensitive);
  switch (op) {
    case TExpOp::Less: return c < 0;
    case TExpOp::LessEqual: return c <= 0;
    case TExpOp::Greater: return c > 0;
    case TExpOp::GreaterEqual: return c >= 0;
    default: return false;
  }
}

bool TExpEvaluator::Like(std::string_view subject, std::string_view pattern) const {
  std::size_t p = 0;
  std::size_t s = 0;
  std::size_t star = std::string_view::npos;  // position of the last "%" passed
  std::size_t mark = 0;                       // subject position that "%" resumes from
  while (s < subject.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      star = p++;
      mark = s;
      continue;
    }
    if (p < pattern.size() &&
        (pattern[p] == '_' || SameChar(static_cast<std::uint8_t>(pattern[p]), static_cast<std::uint8_t>(subject[s])))) {
      ++p;
      ++s;
      continue;
    }
    if (star == std::string_view::npos) return false;
    p = star + 1;
    s = ++mark;
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

void TExpEvaluator::EvaluateBinary(const TExpToken& node, TExpValue& out) {
  switch (node.Op) {
    case TExpOp::And: {
      if (!Evaluate(*node.Right).IsTrue()) return out.SetBool(false);
      return out.SetBool(Evaluate(*node.Left).IsTrue());
    }
    case TExpOp::Or: {
      if (Evaluate(*node.Right).IsTrue()) return out.SetBool(true);
      return out.SetBool(Evaluate(*node.Left).IsTrue());
    }
    case TExpOp::Like:
    case TExpOp::NotLike: {
      const TExpValue& a = Evaluate(*node.Left);
      const TExpValue& b = Evaluate(*node.Right);
      const bool match = !a.Null && !b.Null && Like(a.Text, b.Text);
      return out.SetBool(node.Op == TExpOp::Like ? match : !match);
    }
    case TExpOp::Equal:
    case TExpOp::NotEqual:
    case TExpOp::PartialEqual:
    case TExpOp::PartialNotEqual:
    case TExpOp::Less:
    case TExpOp::LessEqual:
    case TExpOp::Greater:
    case TExpOp::GreaterEqual: {
      const TExpValue& a = Evaluate(*node.Left);
      const TExpValue& b = Evaluate(*node.Right);
      return out.SetBool(CompareOp(node.Op, a, b, node.PrefixLength, node.CaseInsensitive));
    }
    case TExpOp::Add:
    case TExpOp::Subtract:
    case TExpOp::Multiply:
    case TExpOp::Divide: {
      const TExpValue& a = Evaluate(*node.Left);
      const TExpValue& b = Evaluate(*node.Right);
      return EvaluateArithmetic(node, a, b, out);
    }
    default:
      out.SetNull(node.DataType);
  }
}

void TExpEvaluator::EvaluateArithmetic(const TExpToken& node, const TExpValue& a, const TExpValue& b,
                                       TExpValue& out) {
  const std::uint8_t type = node.DataType;
  if (type == FieldType::String || type == FieldType::Blob) {
    out.Buffer.assign(a.Text.data(), a.Text.size());
    out.Buffer.append(b.Text.data(), b.Text.size());
    if (type == FieldType::String && node.Size > 0 && out.Buffer.size() > static_cast<std::size_t>(node.Size - 1))
      out.Buffer.resize(node.Size - 1);
    out.TakeBuffer(type);
    out.Null = out.Buffer.empty();
    return;
  }
  if (a.Null || b.Null) return out.SetNull(type);
  const TExpOp op = node.Op;
  switch (type) {
    case FieldType::Float: {
      double x = AsDouble(a);
      double y = AsDouble(b);
      if (a.Type == FieldType::Timestamp && b.Type == FieldType::Timestamp) {
        x = a.Float;
        y = b.Float;
      }
      double r = 0;
      switch (op) {
        case TExpOp::Add: r = x + y; break;
        case TExpOp::Subtract: r = x - y; break;
        case TExpOp::Multiply: r = x * y; break;
        default: r = x / y; break;
      }
      return out.SetFloat(type, r);
    }
    case FieldType::Bcd: {
      const __int128 x = AsFixed(a);
      const __int128 y = AsFixed(b);
      __int128 r = 0;
      switch (op) {
        case TExpOp::Add: r = x + y; break;
        case TExpOp::Subtract: r = x - y; break;
        case TExpOp::Multiply: r = x * y / 10000; break;
        default:
          if (y == 0) return out.SetNull(type);
          r = x * 10000 / y;
          break;
      }
      if (r > std::numeric_limits<std::int64_t>::max() || r < std::numeric_limits<std::int64_t>::min())
        return out.SetNull(type);
      out.Type = type;
      out.Null = false;
      out.Bcd = BcdFromFixed(static_cast<std::int64_t>(r), node.Scale);
      return;
    }
    case FieldType::Timestamp: {
      // timestamp +- milliseconds, or milliseconds + timestamp
      const bool leftIsStamp = a.Type == FieldType::Timestamp;
      const double stamp = leftIsStamp ? a.Float : b.Float;
      const double ms = static_cast<double>(leftIsStamp ? b.Int : a.Int);
      return out.SetFloat(type, op == TExpOp::Subtract ? stamp - ms : stamp + ms);
    }
    default:
      break;
  }
  // Integer kinds: integers, date (days) and time (milliseconds).
  std::int64_t r = 0;
  if (a.Type == FieldType::Timestamp) {
    // timestamp - date gives days, timestamp - time milliseconds
    r = b.Type == FieldType::Date
            ? static_cast<std::int64_t>(std::floor((a.Float - AsTimestamp(b)) / DateScale::MsPerDay))
            : static_cast<std::int64_t>(a.Float) - b.Int;
  } else {
    switch (op) {
      case TExpOp::Add: r = WrapAdd(a.Int, b.Int); break;
      case TExpOp::Subtract: r = WrapSub(a.Int, b.Int); break;
      default: r = WrapMul(a.Int, b.Int); break;
    }
  }
  if (type != FieldType::Int64) r = static_cast<std::int32_t>(r);
  out.SetInt(type, r);
}

void TExpEvaluator::EvaluateList(const TExpToken& node, TExpValue& out) {
  const TExpValue& left = Evaluate(*node.Left);
  bool result = false;
  if (node.Op == TExpOp::In || node.Op == TExpOp::NotIn) {
    for (const TExpTokenPtr& item : node.List) {
      if (CompareOp(TExpOp::Equal, left, Evaluate(*item))) {
        result = true;
        break;
      }
    }
    return out.SetBool(node.Op == TExpOp::In ? result : !result);
  }
  // The left value may live in a slot that evaluating the bounds does not
  // touch: bounds are other subtrees.
  result = CompareOp(TExpOp::GreaterEqual, left, Evaluate(*node.List[0])) &&
           CompareOp(TExpOp::LessEqual, left, Evaluate(*node.List[1]));
  out.SetBool(node.Op == TExpOp::Between ? result : !result);
}

}  // namespace tarn
