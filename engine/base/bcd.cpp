#include "engine/base/bcd.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <charconv>
#include <vector>

namespace tarn {

namespace {

// A decimal number as plain digits: value = digits x 10^-scale.
struct TDecimal {
  bool Negative = false;
  std::string Digits;  // most significant first, no sign
  std::int32_t Scale = 0;
};

// Puts count zeros in front of digits. (Built anew rather than with insert(),
// which GCC 12 at -O3 misreads as an overlapping copy.)
void PadLeft(std::string& digits, std::size_t count, char fill = '0') {
  std::string padded(count, fill);
  padded += digits;
  digits.swap(padded);
}

TDecimal ToDecimal(const TBcd& v) {
  TDecimal d;
  d.Negative = v.IsNegative();
  for (std::size_t i = 0; i < v.Precision; ++i) d.Digits.push_back(static_cast<char>('0' + v.Digit(i)));
  d.Scale = v.Scale();
  return d;
}

// Rounds (half away from zero) or pads d to the scale and packs it.
std::optional<TBcd> FromDecimal(TDecimal d, std::uint8_t precision, std::uint8_t scale) {
  if (precision < 1 || precision > TBcd::MaxPrecision || scale > precision || scale > 63) return std::nullopt;
  if (d.Digits.empty()) d.Digits.assign(1, '0');
  if (d.Scale > scale) {
    const std::size_t drop = static_cast<std::size_t>(d.Scale - scale);
    if (drop > d.Digits.size()) PadLeft(d.Digits, drop - d.Digits.size());
    const bool roundUp = d.Digits[d.Digits.size() - drop] >= '5';
    d.Digits.erase(d.Digits.size() - drop);
    if (d.Digits.empty()) d.Digits.assign(1, '0');
    d.Scale = scale;
    if (roundUp) {
      std::size_t i = d.Digits.size();
      for (;;) {
        if (i == 0) {
          PadLeft(d.Digits, 1, '1');
          break;
        }
        --i;
        if (d.Digits[i] == '9') {
          d.Digits[i] = '0';
        } else {
          ++d.Digits[i];
          break;
        }
      }
    }
  }
  while (d.Scale < scale) {
    d.Digits.push_back('0');
    ++d.Scale;
  }
  // Strip leading zeros of the integer part, then check it fits.
  const std::size_t fraction = scale;
  std::size_t lead = 0;
  while (lead + fraction < d.Digits.size() && d.Digits[lead] == '0') ++lead;
  d.Digits.erase(0, lead);
  if (d.Digits.size() > precision) return std::nullopt;
  PadLeft(d.Digits, precision - d.Digits.size());
  TBcd out;
  out.Precision = precision;
  bool zero = true;
  for (std::size_t i = 0; i < d.Digits.size(); ++i) {
    const auto digit = static_cast<std::uint8_t>(d.Digits[i] - '0');
    if (digit != 0) zero = false;
    out.SetDigit(i, digit);
  }
  out.SignSpecialPlaces = static_cast<std::uint8_t>(scale | (d.Negative && !zero ? 0x80 : 0));
  return out;
}

}  // namespace

void TBcd::SetDigit(std::size_t i, std::uint8_t d) {
  assert(i < 64 && d <= 9);
  std::uint8_t& b = Fraction[i / 2];
  b = i % 2 == 0 ? static_cast<std::uint8_t>((b & 0x0F) | (d << 4)) : static_cast<std::uint8_t>((b & 0xF0) | d);
}

bool TBcd::IsValid() const {
  if (Precision < 1 || Precision > MaxPrecision || Scale() > Precision) return false;
  if ((SignSpecialPlaces & 0x40) != 0) return false;
  for (std::size_t i = 0; i < 64; ++i) {
    const std::uint8_t d = Digit(i);
    if (i < Precision ? d > 9 : d != 0) return false;
  }
  return true;
}

bool TBcd::IsZero() const {
  for (std::size_t i = 0; i < Precision && i < 64; ++i)
    if (Digit(i) != 0) return false;
  return true;
}

TBcd TBcd::Load(std::span<const std::uint8_t> bytes) {
  assert(bytes.size() >= StoredSize);
  TBcd v;
  v.Precision = bytes[0];
  v.SignSpecialPlaces = bytes[1];
  for (std::size_t i = 0; i < 32; ++i) v.Fraction[i] = bytes[2 + i];
  return v;
}

void TBcd::Store(std::span<std::uint8_t> bytes) const {
  assert(bytes.size() >= StoredSize);
  bytes[0] = Precision;
  bytes[1] = SignSpecialPlaces;
  for (std::size_t i = 0; i < 32; ++i) bytes[2 + i] = Fraction[i];
}

std::optional<TBcd> RescaleBcd(const TBcd& value, std::uint8_t precision, std::uint8_t scale) {
  if (!value.IsValid()) return std::nullopt;
  return FromDecimal(ToDecimal(value), precision, scale);
}

std::optional<TBcd> BcdFromText(std::string_view text, std::uint8_t scale) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  std::size_t end = n;
  while (end > i && text[end - 1] == ' ') --end;
  TDecimal d;
  if (i < end && (text[i] == '+' || text[i] == '-')) d.Negative = text[i++] == '-';
  bool point = false;
  bool anyDigit = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      anyDigit = true;
      d.Digits.push_back(c);
      if (point) ++d.Scale;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return std::nullopt;
  if (i < end && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool expNegative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    std::int32_t exponent = 0;
    bool expDigit = false;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
      expDigit = true;
      if (exponent > 1000) return std::nullopt;
      exponent = exponent * 10 + (text[i] - '0');
    }
    if (!expDigit) return std::nullopt;
    d.Scale += expNegative ? exponent : -exponent;
  }
  if (i != end) return std::nullopt;
  if (d.Scale < 0) {
    if (-d.Scale > 128) return std::nullopt;
    d.Digits.append(static_cast<std::size_t>(-d.Scale), '0');
    d.Scale = 0;
  }
  if (d.Scale > 1000) return std::nullopt;
  return FromDecimal(std::move(d), TBcd::RecordPrecision, scale);
}

std::string BcdToText(const TBcd& value) {
  assert(value.IsValid());
  const std::size_t scale = value.Scale();
  const std::size_t intDigits = value.Precision - scale;
  std::string out;
  if (value.IsNegative() && !value.IsZero()) out.push_back('-');
  bool started = false;
  for (std::size_t i = 0; i < intDigits; ++i) {
    const std::uint8_t d = value.Digit(i);
    if (d != 0 || started) {
      started = true;
      out.push_back(static_cast<char>('0' + d));
    }
  }
  if (!started) out.push_back('0');
  if (scale > 0) {
    out.push_back('.');
    for (std::size_t i = intDigits; i < value.Precision; ++i) out.push_back(static_cast<char>('0' + value.Digit(i)));
  }
  return out;
}

std::optional<TBcd> BcdFromInt64(std::int64_t value, std::uint8_t scale) {
  TDecimal d;
  d.Negative = value < 0;
  std::uint64_t magnitude = d.Negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  d.Digits = std::to_string(magnitude);
  return FromDecimal(std::move(d), TBcd::RecordPrecision, scale);
}

std::optional<TBcd> BcdFromDouble(double value, std::uint8_t scale) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e32) return std::nullopt;
  // to_chars writes "." whatever the locale.
  char buf[512];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, static_cast<int>(scale));
  if (ec != std::errc()) return std::nullopt;
  return BcdFromText(std::string_view(buf, static_cast<std::size_t>(end - buf)), scale);
}

double BcdToDouble(const TBcd& value) {
  const std::string text = BcdToText(value);
  double v = 0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

int CompareBcd(const TBcd& a, const TBcd& b) {
  const TDecimal da = ToDecimal(a);
  const TDecimal db = ToDecimal(b);
  const bool aNeg = a.IsNegative() && !a.IsZero();
  const bool bNeg = b.IsNegative() && !b.IsZero();
  if (aNeg != bNeg) return aNeg ? -1 : 1;
  // Align both to the larger scale and to equal length.
  const std::int32_t scale = std::max(da.Scale, db.Scale);
  std::string x = da.Digits + std::string(static_cast<std::size_t>(scale - da.Scale), '0');
  std::string y = db.Digits + std::string(static_cast<std::size_t>(scale - db.Scale), '0');
  if (x.size() < y.size()) PadLeft(x, y.size() - x.size());
  if (y.size() < x.size()) PadLeft(y, x.size() - y.size());
  const int c = x.compare(y);
  const int sign = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return aNeg ? -sign : sign;
}

}  // namespace tarn
