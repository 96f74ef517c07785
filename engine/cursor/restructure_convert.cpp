#include "engine/cursor/restructure_convert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/literal_text.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_value.h"
#include "expr/expression_evaluator.h"

namespace tarn {

namespace {

using namespace FieldType;

bool IsBytesType(std::uint8_t t) { return t == Bytes || t == VarBytes; }
bool IsInteger(std::uint8_t t) { return t == Int16 || t == Int32 || t == UInt16 || t == Int64; }

// The types the value-level conversions understand.
bool IsValueType(std::uint8_t t) {
  return t == String || t == Date || t == Boolean || IsInteger(t) || t == Float || t == Bcd || IsBytesType(t) ||
         t == Time || t == Timestamp;
}

// The value of a field's stored bytes.
void LoadValue(const TFieldDesc& desc, std::span<const std::uint8_t> bytes, TExpValue& v) {
  const std::uint8_t type = desc.FieldType();
  std::array<std::uint8_t, TBcd::StoredSize> buf{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), buf.size()), buf.begin());
  switch (type) {
    case String: {
      const auto end = std::find(bytes.begin(), bytes.end(), 0);
      v.SetOwnText(type, std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<std::size_t>(end - bytes.begin())));
      return;
    }
    case Bytes:
    case VarBytes:
      v.SetOwnText(type, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      return;
    case Int16: v.SetInt(type, GetLEI16(buf, 0)); return;
    case UInt16: v.SetInt(type, GetLE16(buf, 0)); return;
    case Boolean: v.SetInt(type, GetLE16(buf, 0) != 0 ? 1 : 0); return;
    case Int32:
    case Date:
    case Time: v.SetInt(type, GetLEI32(buf, 0)); return;
    case Int64: v.SetInt(type, GetLEI64(buf, 0)); return;
    case Float:
    case Timestamp: v.SetFloat(type, GetLEDouble(buf, 0)); return;
    case Bcd:
      v.Type = type;
      v.Null = false;
      v.Bcd = TBcd::Load(buf);
      return;
    default: v.SetNull(type); return;
  }
}

void StoreText(std::string_view text, std::size_t limit, std::vector<std::uint8_t>& out) {
  text = text.substr(0, std::min(limit, text.find('\0')));
  out.assign(text.begin(), text.end());
}

// The zero value of a definition's type.
void ZeroValue(const TFieldDesc& to, std::vector<std::uint8_t>& out) {
  out.clear();
  if (to.FieldType() == String) return;
  out.assign(to.FieldPhysSize(), 0);
  if (to.FieldType() == Bcd) BcdFromFixed(0, to.FieldDecimals()).Store(out);
}

// A number parsed from text as the value of an integer, float or BCD type.
bool ParseNumber(std::string_view text, const TFieldDesc& to, TExpValue& v) {
  const std::uint8_t type = to.FieldType();
  if (IsInteger(type)) {
    const auto n = ParseIntegerText(text, std::numeric_limits<std::int64_t>::min(),
                                    std::numeric_limits<std::int64_t>::max());
    if (!n) return false;
    v.SetInt(Int64, *n);
    return true;
  }
  if (type == Float) {
    const auto d = ParseFloatText(text);
    if (!d) return false;
    v.SetFloat(Float, *d);
    return true;
  }
  const auto b = BcdFromText(text, 4);
  if (!b) return false;
  v.Type = Bcd;
  v.Null = false;
  v.Bcd = *b;
  return true;
}

}  // namespace

bool ConversionListed(std::uint8_t from, std::uint8_t to) {
  if (from == to) return true;
  if (to == Blob || from == Blob) return false;
  if (IsBytesType(from)) return true;
  const bool toBytes = IsBytesType(to);
  switch (from) {
    case String:
      return to == Date || to == Boolean || IsInteger(to) || to == Float || to == Bcd || toBytes || to == Time ||
             to == Timestamp;
    case Date:
    case Time: return to == String || toBytes || to == Timestamp;
    case Boolean: return to == String || IsInteger(to) || to == Bcd || toBytes;
    case Int16:
    case UInt16: return to == String || to == Boolean || IsInteger(to) || to == Float || to == Bcd || toBytes;
    case Int32:
    case Int64: return to == String || IsInteger(to) || to == Float || to == Bcd || toBytes;
    case Float: return to == String || IsInteger(to) || to == Bcd || toBytes;
    case Bcd: return to == String || IsInteger(to) || to == Float || toBytes;
    case Timestamp: return to == String || to == Date || toBytes || to == Time;
    default: return false;
  }
}

bool ConvertFieldValue(const TFieldDesc& from, std::span<const std::uint8_t> bytes, const TFieldDesc& to,
                       std::vector<std::uint8_t>& out) {
  const std::uint8_t src = from.FieldType();
  const std::uint8_t dst = to.FieldType();
  ZeroValue(to, out);
  if (!ConversionListed(src, dst)) return false;
  if (src == dst && !IsValueType(src)) {
    // Types without conversions of their own keep their bytes.
    out.assign(bytes.begin(), bytes.end());
    out.resize(to.FieldPhysSize(), 0);
    return true;
  }
  if (IsBytesType(src) && !IsBytesType(dst)) {
    if (dst == String) {
      StoreText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), to.FieldSize(), out);
      return true;
    }
    out.assign(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), to.FieldPhysSize()));
    out.resize(to.FieldPhysSize(), 0);
    if (dst == Bcd) {
      const TBcd b = TBcd::Load(out);
      const std::optional<TBcd> fitted = b.IsValid() ? RescaleBcd(b, TBcd::RecordPrecision, to.FieldDecimals())
                                                     : std::nullopt;
      if (!fitted) {
        ZeroValue(to, out);
        return false;
      }
      fitted->Store(out);
    }
    return true;
  }

  TExpValue value;
  LoadValue(from, bytes, value);
  if (src == Bcd && !value.Bcd.IsValid()) return false;

  if (dst == String) {
    std::string text;
    AppendValueText(value, text);
    StoreText(text, to.FieldSize(), out);
    return true;
  }
  if (IsBytesType(dst)) {
    std::string stored;
    StoredBytesOf(value, stored);
    out.assign(stored.begin(), stored.begin() + std::min<std::size_t>(stored.size(), to.FieldPhysSize()));
    out.resize(to.FieldPhysSize(), 0);
    return true;
  }

  // Texts parse into a value of the target's kind first.
  if (src == String) {
    const std::string_view text = value.Text;
    TExpValue parsed;
    switch (dst) {
      case Boolean: {
        const auto b = ParseBooleanText(text);
        if (!b) return false;
        parsed.SetBool(*b);
        break;
      }
      case Date: {
        const auto d = ParseDateText(text);
        if (!d) return false;
        parsed.SetInt(Date, *d);
        break;
      }
      case Time: {
        const auto t = ParseTimeText(text);
        if (!t) return false;
        parsed.SetInt(Time, *t);
        break;
      }
      case Timestamp: {
        const auto t = ParseTimestampText(text);
        if (!t) return false;
        parsed.SetFloat(Timestamp, *t);
        break;
      }
      default:
        if (!ParseNumber(text, to, parsed)) return false;
        break;
    }
    value.CopyFrom(parsed);
  }

  // Checks of the failures CastValue would turn into a silent zero.
  if (value.Type == Float && IsInteger(dst)) {
    const double t = std::trunc(value.Float);
    if (!std::isfinite(t) || t < -9223372036854775808.0 || t >= 9223372036854775808.0) return false;
  }
  const TCastTarget target{dst, to.FieldSubType(), 0, to.FieldDecimals()};
  TExpValue result;
  if (dst == Bcd) {
    std::int64_t fixed = 0;
    if (value.Type == Float) {
      const double scaled = std::nearbyint(value.Float * 10000.0);
      if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) return false;
      fixed = static_cast<std::int64_t>(scaled);
    } else if (value.Type == Bcd) {
      const auto fitted = RescaleBcd(value.Bcd, TBcd::RecordPrecision, to.FieldDecimals());
      if (!fitted) return false;
      fitted->Store(out);
      return true;
    } else {
      if (value.Int > std::numeric_limits<std::int64_t>::max() / 10000 ||
          value.Int < std::numeric_limits<std::int64_t>::min() / 10000)
        return false;
      fixed = value.Int * 10000;
    }
    const auto fitted = RescaleBcd(BcdFromFixed(fixed, 4), TBcd::RecordPrecision, to.FieldDecimals());
    if (!fitted) return false;
    fitted->Store(out);
    return true;
  }
  CastValue(value, target, result);
  std::string stored;
  StoredBytesOf(result, stored);
  out.assign(stored.begin(), stored.end());
  out.resize(to.FieldPhysSize(), 0);
  return true;
}

}  // namespace tarn
