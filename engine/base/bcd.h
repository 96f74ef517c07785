#pragma once
// Binary-coded decimal values (field type 8).
//
// Stored form, 34 bytes:
//   offset  size  field
//        0     1  Precision          number of digits held, 1 to 64
//        1     1  SignSpecialPlaces  bit 7 = negative; bits 0-5 = Scale, the
//                                    number of digits after the point
//        2    32  Fraction           packed decimal digits, two per byte,
//                                    high nibble first; the first Precision
//                                    nibbles are the digits, the last Scale of
//                                    them after the point; every other nibble 0
// Invariants: (1) Scale <= Precision; (2) every used nibble is 0-9;
// (3) zero is never negative in values built here.
// Records store BCD values with precision 32 and the field's scale.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarn {

struct TBcd {
  static constexpr std::size_t StoredSize = 34;
  static constexpr std::uint8_t MaxPrecision = 64;
  // Precision of the values records hold.
  static constexpr std::uint8_t RecordPrecision = 32;

  std::uint8_t Precision = 1;
  std::uint8_t SignSpecialPlaces = 0;
  std::array<std::uint8_t, 32> Fraction{};

  bool IsNegative() const { return (SignSpecialPlaces & 0x80) != 0; }
  std::uint8_t Scale() const { return SignSpecialPlaces & 0x3F; }
  // Digit i (0 = most significant). Requires: i < 64.
  std::uint8_t Digit(std::size_t i) const {
    const std::uint8_t b = Fraction[i / 2];
    return i % 2 == 0 ? static_cast<std::uint8_t>(b >> 4) : static_cast<std::uint8_t>(b & 0x0F);
  }
  void SetDigit(std::size_t i, std::uint8_t d);

  // The invariants above (negative zero allowed, as stored files may hold it).
  bool IsValid() const;
  bool IsZero() const;

  // Stored-form codecs. Load takes the bytes as they are; check IsValid()
  // before interpreting digits from a file. Requires: 34 bytes.
  static TBcd Load(std::span<const std::uint8_t> bytes);
  void Store(std::span<std::uint8_t> bytes) const;

  friend bool operator==(const TBcd&, const TBcd&) = default;
};

// The value rewritten with the given precision and scale: fraction digits
// beyond the scale are rounded half away from zero. Nothing when the integer
// part does not fit in precision - scale digits or the input is invalid.
std::optional<TBcd> RescaleBcd(const TBcd& value, std::uint8_t precision, std::uint8_t scale);

// Decimal text: optional blanks, optional sign, digits with at most one ".",
// optional exponent ("E" or "e", optional sign, digits), optional blanks. The
// decimal separator is always ".". The result has precision 32 and the given
// scale (rounded as in RescaleBcd); nothing for malformed text or a value that
// does not fit.
std::optional<TBcd> BcdFromText(std::string_view text, std::uint8_t scale);
// "-123.40" style: a leading "-" when negative, at least one integer digit,
// then "." and exactly Scale digits when Scale > 0. Requires: value.IsValid().
std::string BcdToText(const TBcd& value);

std::optional<TBcd> BcdFromInt64(std::int64_t value, std::uint8_t scale);
// From a double, rounded to the scale; nothing for NaN, infinities or a value
// that does not fit.
std::optional<TBcd> BcdFromDouble(double value, std::uint8_t scale);
double BcdToDouble(const TBcd& value);

// -1, 0 or 1. Values of any precision and scale compare by their numbers.
int CompareBcd(const TBcd& a, const TBcd& b);

}  // namespace tarn
