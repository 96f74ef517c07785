#include "tools/tarn/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/base/bcd.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/literal_text.h"
#include "engine/table/field_types.h"

namespace tarn_tool {

using namespace tarn;

namespace {

std::string DateText(std::int32_t day) {
  const TCivilDate d = DecodeDate(day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
  return buf;
}

std::string TimeText(std::int32_t ms) {
  const TTimeOfDay t = DecodeTime(ms);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.Hour, t.Minute, t.Second, t.Millisecond);
  return buf;
}

double ReadDouble(std::span<const std::uint8_t> bytes) {
  const std::uint64_t bits = GetLE64(bytes, 0);
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void PutDouble(std::vector<std::uint8_t>& out, double v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  out.resize(8);
  PutLE64(out, 0, bits);
}

std::string FloatText(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.f" with 1 to 3 fraction digits (a
// fraction of the second, "5" = 500 ms).
std::optional<std::int32_t> ParseIsoTime(std::string_view t) {
  std::size_t at = 0;
  const auto number = [&](std::size_t digits) -> std::optional<int> {
    if (at + digits > t.size()) return std::nullopt;
    int v = 0;
    for (std::size_t i = 0; i < digits; ++i) {
      const char c = t[at + i];
      if (c < '0' || c > '9') return std::nullopt;
      v = v * 10 + (c - '0');
    }
    at += digits;
    return v;
  };
  const auto expect = [&](char c) { return at < t.size() && t[at] == c ? (++at, true) : false; };
  const std::optional<int> hour = number(2);
  if (!hour || !expect(':')) return std::nullopt;
  const std::optional<int> minute = number(2);
  if (!minute) return std::nullopt;
  int second = 0;
  int ms = 0;
  if (expect(':')) {
    const std::optional<int> s = number(2);
    if (!s) return std::nullopt;
    second = *s;
    if (expect('.')) {
      const std::size_t digits = t.size() - at;
      if (digits < 1 || digits > 3) return std::nullopt;
      const std::optional<int> f = number(digits);
      if (!f) return std::nullopt;
      ms = *f * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
  }
  if (at != t.size()) return std::nullopt;
  return EncodeTime(*hour, *minute, second, ms);
}

TParsedValue Fail(std::string why) { return {{}, std::move(why)}; }

TParsedValue Integer(std::string_view text, std::int64_t lo, std::int64_t hi, std::size_t size) {
  const std::optional<std::int64_t> v = ParseIntegerText(text, lo, hi);
  if (!v) return Fail("not an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
  TParsedValue p;
  p.Bytes.resize(size);
  const auto u = static_cast<std::uint64_t>(*v);
  for (std::size_t i = 0; i < size; ++i) p.Bytes[i] = static_cast<std::uint8_t>(u >> (8 * i));
  return p;
}

}  // namespace

TValueKind ValueKindOf(const TFieldDesc& field) {
  switch (field.FieldType()) {
    case FieldType::Boolean: return TValueKind::Boolean;
    case FieldType::Int16:
    case FieldType::Int32:
    case FieldType::UInt16:
    case FieldType::UInt32:
    case FieldType::Int64:
    case FieldType::Float: return TValueKind::Number;
    default: return FieldType::HasNoValueBytes(field.FieldType()) ? TValueKind::Boolean : TValueKind::Text;
  }
}

std::string ValueToText(const TFieldDesc& field, std::span<const std::uint8_t> bytes) {
  switch (field.FieldType()) {
    case FieldType::String: {
      const auto* chars = reinterpret_cast<const char*>(bytes.data());
      return std::string(chars, strnlen(chars, bytes.size()));
    }
    case FieldType::Date: return DateText(static_cast<std::int32_t>(GetLE32(bytes, 0)));
    case FieldType::Time: return TimeText(static_cast<std::int32_t>(GetLE32(bytes, 0)));
    case FieldType::Timestamp: {
      const std::optional<TTimestampParts> parts = SplitTimestamp(ReadDouble(bytes));
      if (!parts) return FloatText(ReadDouble(bytes));
      return DateText(parts->Day) + "T" + TimeText(parts->Ms);
    }
    case FieldType::Boolean: return GetLE16(bytes, 0) != 0 ? "true" : "false";
    case FieldType::Int16: return std::to_string(static_cast<std::int16_t>(GetLE16(bytes, 0)));
    case FieldType::UInt16: return std::to_string(GetLE16(bytes, 0));
    case FieldType::Int32: return std::to_string(static_cast<std::int32_t>(GetLE32(bytes, 0)));
    case FieldType::UInt32: return std::to_string(GetLE32(bytes, 0));
    case FieldType::Int64: return std::to_string(static_cast<std::int64_t>(GetLE64(bytes, 0)));
    case FieldType::Float: return FloatText(ReadDouble(bytes));
    case FieldType::Bcd: {
      const TBcd v = TBcd::Load(bytes);
      return v.IsValid() ? BcdToText(v) : Base64Encode(bytes);
    }
    default:
      if (FieldType::HasNoValueBytes(field.FieldType())) return "true";
      return Base64Encode(bytes);
  }
}

TParsedValue TextToValue(const TFieldDesc& field, std::string_view text) {
  TParsedValue p;
  switch (field.FieldType()) {
    case FieldType::String:
      if (text.size() > field.FieldSize()) {
        return Fail("longer than " + std::to_string(field.FieldSize()) + " characters");
      }
      p.Bytes.assign(text.begin(), text.end());
      return p;
    case FieldType::Date: {
      const std::optional<std::int32_t> d = ParseDateText(text);
      if (!d) return Fail("not a date (YYYY-MM-DD)");
      p.Bytes.resize(4);
      PutLE32(p.Bytes, 0, static_cast<std::uint32_t>(*d));
      return p;
    }
    case FieldType::Time: {
      const std::optional<std::int32_t> ms = ParseIsoTime(text);
      if (!ms) return Fail("not a time (HH:MM:SS.mmm)");
      p.Bytes.resize(4);
      PutLE32(p.Bytes, 0, static_cast<std::uint32_t>(*ms));
      return p;
    }
    case FieldType::Timestamp: {
      const std::size_t sep = text.find_first_of("T ");
      const std::optional<std::int32_t> day = ParseDateText(text.substr(0, sep));
      const std::optional<std::int32_t> ms =
          sep == std::string_view::npos ? std::optional<std::int32_t>(0) : ParseIsoTime(text.substr(sep + 1));
      if (!day || !ms) return Fail("not a timestamp (YYYY-MM-DDTHH:MM:SS.mmm)");
      PutDouble(p.Bytes, EncodeTimestamp(*day, *ms));
      return p;
    }
    case FieldType::Boolean: {
      const std::optional<bool> b = ParseBooleanText(text);
      if (!b) return Fail("not true or false");
      p.Bytes = {static_cast<std::uint8_t>(*b ? 1 : 0), 0};
      return p;
    }
    case FieldType::Int16: return Integer(text, -32768, 32767, 2);
    case FieldType::UInt16: return Integer(text, 0, 65535, 2);
    case FieldType::Int32: return Integer(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 4);
    case FieldType::UInt32: return Integer(text, 0, std::numeric_limits<std::uint32_t>::max(), 4);
    case FieldType::Int64: return Integer(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 8);
    case FieldType::Float: {
      double v = 0;
      if (text == "nan") v = std::numeric_limits<double>::quiet_NaN();
      else if (text == "inf") v = std::numeric_limits<double>::infinity();
      else if (text == "-inf") v = -std::numeric_limits<double>::infinity();
      else if (const std::optional<double> f = ParseFloatText(text)) v = *f;
      else return Fail("not a number");
      PutDouble(p.Bytes, v);
      return p;
    }
    case FieldType::Bcd: {
      const std::optional<TBcd> v = BcdFromText(text, field.FieldDecimals());
      if (!v) return Fail("not a decimal number that fits the field");
      p.Bytes.resize(TBcd::StoredSize);
      v->Store(p.Bytes);
      return p;
    }
    default: {
      if (FieldType::HasNoValueBytes(field.FieldType())) return p;
      std::optional<std::vector<std::uint8_t>> bytes = Base64Decode(text);
      if (!bytes) return Fail("not base64");
      if (field.FieldType() != FieldType::Blob && bytes->size() > field.FieldPhysSize()) {
        return Fail("longer than " + std::to_string(field.FieldPhysSize()) + " bytes");
      }
      p.Bytes = std::move(*bytes);
      return p;
    }
  }
}

namespace {
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    out += Alphabet[v >> 18];
    out += Alphabet[v >> 12 & 63];
    out += Alphabet[v >> 6 & 63];
    out += Alphabet[v & 63];
  }
  if (i < bytes.size()) {
    const std::uint32_t v = bytes[i] << 16 | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
    out += Alphabet[v >> 18];
    out += Alphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? Alphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = 0;
    int pad = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      int d = 0;
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
      } else if (pad > 0) {
        return std::nullopt;
      } else if (const char* at = std::strchr(Alphabet, c); at != nullptr && c != '\0') {
        d = static_cast<int>(at - Alphabet);
      } else {
        return std::nullopt;
      }
      v = v << 6 | static_cast<std::uint32_t>(d);
    }
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    if (pad < 2) out.push_back(static_cast<std::uint8_t>(v >> 8 & 0xFF));
    if (pad < 1) out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return out;
}

}  // namespace tarn_tool
