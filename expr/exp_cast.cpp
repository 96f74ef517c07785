#include "expr/exp_cast.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/literal_text.h"
#include "engine/table/field_types.h"
#include "expr/expression_evaluator.h"

namespace tarn {

namespace {

using namespace FieldType;

bool IsIntegerType(std::uint8_t t) { return t == Int16 || t == Int32 || t == UInt16 || t == Int64; }
bool IsBytesType(std::uint8_t t) { return t == Bytes || t == VarBytes; }

// Keeps the low-order bits of v that the target integer type holds.
std::int64_t NarrowTo(std::uint8_t type, std::int64_t v) {
  switch (type) {
    case Int16: return static_cast<std::int16_t>(v);
    case UInt16: return static_cast<std::uint16_t>(v);
    case Int32: return static_cast<std::int32_t>(v);
    default: return v;
  }
}

// A double truncated toward zero as a 64-bit integer; nothing when it does
// not fit or is not a number.
std::optional<std::int64_t> TruncateDouble(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  const double t = std::trunc(v);
  if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

void AppendTwo(std::string& out, std::int32_t v) {
  out.push_back(static_cast<char>('0' + v / 10 % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

void AppendDate(std::string& out, std::int32_t day) {
  if (day < DateScale::MinDay || day > DateScale::MaxDay) day = DateScale::DateTimeEpochDay;
  const TCivilDate d = DecodeDate(day);
  char year[8];
  std::snprintf(year, sizeof year, "%04d", d.Year);
  out += year;
  out.push_back('-');
  AppendTwo(out, d.Month);
  out.push_back('-');
  AppendTwo(out, d.Day);
}

void AppendTime(std::string& out, std::int32_t ms) {
  if (ms < 0 || ms >= DateScale::MsPerDay) ms = 0;
  const TTimeOfDay t = DecodeTime(ms);
  AppendTwo(out, t.Hour);
  out.push_back(':');
  AppendTwo(out, t.Minute);
  if (t.Second != 0 || t.Millisecond != 0) {
    if (t.Second != 0) {
      out.push_back(':');
      AppendTwo(out, t.Second);
    }
    if (t.Millisecond != 0) {
      if (t.Second == 0) {
        out.push_back(':');
        AppendTwo(out, 0);
      }
      out.push_back('.');
      out += std::to_string(t.Millisecond);
    }
  }
}

// The zero value of a type, as a failed conversion leaves it.
void SetZero(const TCastTarget& target, TExpValue& out) {
  out.Type = target.Type;
  out.Null = false;
  out.Int = 0;
  out.Float = 0;
  out.Text = {};
  out.Buffer.clear();
  switch (target.Type) {
    case Date: out.Int = DateScale::DateTimeEpochDay; break;
    case Timestamp: out.Float = static_cast<double>(DateScale::DateTimeEpochDay) * DateScale::MsPerDay; break;
    case Bcd: out.Bcd = BcdFromFixed(0, target.Scale); break;
    case String:
    case Blob:
      out.Null = true;  // the empty string is NULL
      break;
    default: break;
  }
}

// Fills a fixed-size value from stored bytes (as many as the type holds).
void FromStoredBytes(std::string_view bytes, const TCastTarget& target, TExpValue& out) {
  std::array<std::uint8_t, TBcd::StoredSize> buf{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), buf.size()), buf.begin());
  switch (target.Type) {
    case Int16: out.Int = GetLEI16(buf, 0); break;
    case UInt16:
    case Boolean: out.Int = GetLE16(buf, 0); break;
    case Int32:
    case Date:
    case Time: out.Int = GetLEI32(buf, 0); break;
    case Int64: out.Int = GetLEI64(buf, 0); break;
    case Float:
    case Timestamp: out.Float = GetLEDouble(buf, 0); break;
    case Bcd:
      out.Bcd = TBcd::Load(buf);
      if (!out.Bcd.IsValid()) out.Bcd = BcdFromFixed(0, target.Scale);
      break;
    default: break;
  }
  if (target.Type == Boolean) out.Int = out.Int != 0;
}

}  // namespace

void AppendValueText(const TExpValue& value, std::string& out) {
  out.clear();
  if (value.Null) return;
  switch (value.Type) {
    case String:
    case Blob:
    case Bytes:
    case VarBytes:
      out.assign(value.Text.data(), value.Text.size());
      return;
    case Boolean:
      out = value.Int != 0 ? "True" : "False";
      return;
    case Int16:
    case Int32:
    case UInt16:
    case Int64:
      out = std::to_string(value.Int);
      return;
    case Float: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15G", value.Float);
      out = buf;
      return;
    }
    case Bcd: {
      if (!value.Bcd.IsValid()) return;
      out = BcdToText(value.Bcd);
      if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
      }
      if (out == "-0") out = "0";
      return;
    }
    case Date:
      AppendDate(out, static_cast<std::int32_t>(value.Int));
      return;
    case Time:
      AppendTime(out, static_cast<std::int32_t>(value.Int));
      return;
    case Timestamp: {
      const std::optional<TTimestampParts> parts = SplitTimestamp(value.Float);
      AppendDate(out, parts ? parts->Day : DateScale::DateTimeEpochDay);
      out.push_back(' ');
      AppendTime(out, parts ? parts->Ms : 0);
      return;
    }
    default:
      return;
  }
}

void StoredBytesOf(const TExpValue& value, std::string& out) {
  out.clear();
  std::array<std::uint8_t, TBcd::StoredSize> buf{};
  std::size_t n = 0;
  switch (value.Type) {
    case String:
    case Blob:
    case Bytes:
    case VarBytes:
      out.assign(value.Text.data(), value.Text.size());
      return;
    case Int16: PutLEI16(buf, 0, static_cast<std::int16_t>(value.Int)); n = 2; break;
    case UInt16:
    case Boolean: PutLE16(buf, 0, static_cast<std::uint16_t>(value.Int)); n = 2; break;
    case Int32:
    case Date:
    case Time: PutLEI32(buf, 0, static_cast<std::int32_t>(value.Int)); n = 4; break;
    case Int64: PutLEI64(buf, 0, value.Int); n = 8; break;
    case Float:
    case Timestamp: PutLEDouble(buf, 0, value.Float); n = 8; break;
    case Bcd: value.Bcd.Store(buf); n = TBcd::StoredSize; break;
    default: return;
  }
  out.assign(reinterpret_cast<const char*>(buf.data()), n);
}

void CastValue(const TExpValue& from, const TCastTarget& target, TExpValue& out) {
  if (from.Null) {
    out.SetNull(target.Type);
    return;
  }
  SetZero(target, out);
  const std::uint8_t to = target.Type;
  const std::uint8_t src = from.Type;

  // Text and bytes targets.
  if (to == String || to == Blob || IsBytesType(to)) {
    if (to == String)
      AppendValueText(from, out.Buffer);
    else
      StoredBytesOf(from, out.Buffer);
    if (to == String) {
      const std::size_t zero = out.Buffer.find('\0');
      if (zero != std::string::npos) out.Buffer.resize(zero);
    }
    const bool keepsSize = to == Blob || (IsBytesType(to) && src == Blob);
    if (!keepsSize && target.Size > 0) {
      const std::size_t limit = to == String ? target.Size - 1u : target.Size;
      if (out.Buffer.size() > limit) out.Buffer.resize(limit);
    }
    out.TakeBuffer(to);
    if (to == String || to == Blob) out.Null = out.Buffer.empty();
    return;
  }

  if (IsBytesType(src)) {
    FromStoredBytes(from.Text, target, out);
    return;
  }

  if (src == String) {
    const std::string_view text = from.Text;
    switch (to) {
      case Int16:
      case Int32:
      case UInt16:
        if (const auto v = ParseIntegerText(text, std::numeric_limits<std::int32_t>::min(),
                                            std::numeric_limits<std::int32_t>::max()))
          out.Int = NarrowTo(to, *v);
        return;
      case Int64:
        if (const auto v = ParseIntegerText(text, std::numeric_limits<std::int64_t>::min(),
                                            std::numeric_limits<std::int64_t>::max()))
          out.Int = *v;
        return;
      case Float:
        if (const auto v = ParseFloatText(text)) out.Float = *v;
        return;
      case Bcd:
        if (const auto v = BcdFromText(text, 4))
          if (const auto scaled = RescaleBcd(*v, TBcd::RecordPrecision, target.Scale)) out.Bcd = *scaled;
        return;
      case Boolean:
        if (const auto v = ParseBooleanText(text)) out.Int = *v ? 1 : 0;
        return;
      case Date:
        if (const auto v = ParseDateText(text)) out.Int = *v;
        return;
      case Time:
        if (const auto v = ParseTimeText(text)) out.Int = *v;
        return;
      case Timestamp:
        if (const auto v = ParseTimestampText(text)) out.Float = *v;
        return;
      default:
        return;
    }
  }

  if (IsIntegerType(src) || src == Boolean) {
    const std::int64_t v = from.Int;
    if (IsIntegerType(to)) {
      out.Int = NarrowTo(to, v);
    } else if (to == Float) {
      out.Float = static_cast<double>(v);
    } else if (to == Bcd) {
      if (const auto bcd = BcdFromInt64(v, target.Scale)) out.Bcd = *bcd;
    } else if (to == Boolean) {
      out.Int = v != 0 ? 1 : 0;
    }
    return;
  }

  if (src == Float) {
    if (IsIntegerType(to)) {
      if (const auto v = TruncateDouble(from.Float)) out.Int = NarrowTo(to, *v);
    } else if (to == Float) {
      out.Float = from.Float;
    } else if (to == Bcd) {
      // x * 10000 rounded to nearest, ties to even, as a four-decimal value.
      const double fixed = std::nearbyint(from.Float * 10000.0);
      if (std::isfinite(fixed) && std::fabs(fixed) < 9.2e18)
        out.Bcd = BcdFromFixed(static_cast<std::int64_t>(fixed), target.Scale);
    }
    return;
  }

  if (src == Bcd) {
    if (IsIntegerType(to)) {
      out.Int = NarrowTo(to, BcdFixedValue(from.Bcd) / 10000);
    } else if (to == Float) {
      out.Float = BcdToDouble(from.Bcd);
    } else if (to == Bcd) {
      if (const auto v = RescaleBcd(from.Bcd, TBcd::RecordPrecision, target.Scale)) out.Bcd = *v;
    } else if (to == Boolean) {
      out.Int = from.Bcd.IsZero() ? 0 : 1;
    }
    return;
  }

  if (src == Date || src == Time || src == Timestamp) {
    if (to == src) {
      out.Int = from.Int;
      out.Float = from.Float;
    } else if (to == Timestamp) {
      out.Float = src == Date ? static_cast<double>(from.Int) * DateScale::MsPerDay
                              : static_cast<double>(DateScale::DateTimeEpochDay) * DateScale::MsPerDay +
                                    static_cast<double>(from.Int);
    } else if (src == Timestamp) {
      if (const std::optional<TTimestampParts> parts = SplitTimestamp(from.Float))
        out.Int = to == Date ? parts->Day : parts->Ms;
    }
    return;
  }

  if (src == Blob && to != Blob) FromStoredBytes(from.Text, target, out);
}

}  // namespace tarn
