#pragma once
// One expression value: what a constant holds and what each node of a tree
// produces when it is evaluated.
//
// The value is kept in the table's storage scales (date_time.h, record
// layout), in the member that suits its type:
//   Int     boolean (0 or 1), 16-, 32- and 64-bit integers, 16-bit unsigned,
//           date (day number), time (milliseconds since midnight)
//   Float   floating point, timestamp (day number x 86400000 + ms)
//   Bcd     BCD
//   Text    string, memo and other blobs, bytes: the characters or bytes
//           without a terminating zero. Text points either into the record
//           being evaluated, into a constant's Buffer or into this value's
//           own Buffer, and is valid until the next evaluation.
// A NULL value has Null set; its members then hold the type's zero value, so
// that the comparisons that order NULLs compare zeros.
//
// Buffer keeps its capacity between evaluations, so a node that builds text
// allocates only while its results keep growing.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/bcd.h"

namespace tarn {

struct TExpValue {
  std::uint8_t Type = 0;  // field type code; 0 = the NULL constant's type
  bool Null = true;
  std::int64_t Int = 0;
  double Float = 0;
  TBcd Bcd{};
  std::string_view Text{};
  std::string Buffer{};

  // Becomes NULL of the given type: every member its zero value.
  void SetNull(std::uint8_t type) {
    Type = type;
    Null = true;
    Int = 0;
    Float = 0;
    Text = {};
  }
  void SetInt(std::uint8_t type, std::int64_t v) {
    Type = type;
    Null = false;
    Int = v;
  }
  void SetFloat(std::uint8_t type, double v) {
    Type = type;
    Null = false;
    Float = v;
  }
  void SetBool(bool v) { SetInt(4, v ? 1 : 0); }
  // Copies text into Buffer and points Text at it.
  void SetOwnText(std::uint8_t type, std::string_view text) {
    Type = type;
    Null = false;
    Buffer.assign(text.data(), text.size());
    Text = Buffer;
  }
  // Points Text at Buffer after the caller filled Buffer.
  void TakeBuffer(std::uint8_t type) {
    Type = type;
    Null = false;
    Text = Buffer;
  }
  // Copies other (text is copied into this value's Buffer).
  void CopyFrom(const TExpValue& other) {
    Type = other.Type;
    Null = other.Null;
    Int = other.Int;
    Float = other.Float;
    Bcd = other.Bcd;
    if (other.Text.data() == nullptr) {
      Text = {};
    } else {
      Buffer.assign(other.Text.data(), other.Text.size());
      Text = Buffer;
    }
  }
  bool IsTrue() const { return !Null && Int != 0; }
};

}  // namespace tarn
