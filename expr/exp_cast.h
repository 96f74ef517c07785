#pragma once
// CAST: conversion of an expression value to another field type.
//
// The value is converted into a zero-filled value of the target type; a
// conversion that fails (unreadable text, a value out of range) leaves that
// zero value without an error: 0, FALSE, the empty string, a zero BCD, the
// date 1899-12-30, midnight, or 1899-12-30 00:00:00. A NULL value gives NULL.
// Integer targets keep the low-order bits of wider values (70000 cast to
// SMALLINT gives 4464); floating point is truncated toward zero first.
// Strings are cut to the target length. Text forms:
//   integers   decimal digits, "-" ahead of a negative value
//   float      general form, at most 15 significant digits, "." separator
//   BCD        fixed point without trailing zeros
//   boolean    "True" / "False" (read back case-insensitively from "TRUE"/"FALSE")
//   date       yyyy-mm-dd
//   time       hh:mm, then ":ss" when the second is not 0, then ".ms" (plain
//              decimal) when the milliseconds are not 0
//   timestamp  the date form, a blank, the time form
// Integers, floating point and BCD cast to BOOLEAN give TRUE when not zero.

#include <cstdint>
#include <string>

#include "expr/exp_value.h"

namespace tarn {

// The target of a cast: a field type with its subtype, size (strings:
// characters + 1; bytes: their count) and scale.
struct TCastTarget {
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  std::uint16_t Size = 0;
  std::uint8_t Scale = 0;
};

// Converts from into out. Requires: out is not from.
void CastValue(const TExpValue& from, const TCastTarget& target, TExpValue& out);

// The text forms above, for the value's own type (out is cleared first).
void AppendValueText(const TExpValue& value, std::string& out);

// The stored bytes of a value of a fixed-size type, as a record holds them
// (used when bytes are cast to and from other types). out is cleared first.
void StoredBytesOf(const TExpValue& value, std::string& out);

}  // namespace tarn
