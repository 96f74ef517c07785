#pragma once
// Building and comparing index keys, and the range helpers over them.
//
// A key is a fixed-length byte string (layout in key_def.h) built so that
// byte order is value order. Value areas, all multi-byte values big-endian:
//   type 1 string      characters then zero bytes; upper-cased first when the
//                      index is case-insensitive (UpperCaseLocale)
//   types 2, 6, 10     signed 32-bit, top bit inverted
//   type 5             signed 16-bit, top bit inverted
//   types 4, 12        unsigned 16-bit, unchanged
//   type 18            signed 64-bit, top bit inverted
//   types 7, 11        double: >= 0 big-endian with the top bit set,
//                      < 0 all eight big-endian bytes inverted
//   type 8             BCD as value x 10000 rounded to nearest, signed 64-bit,
//                      top bit inverted (precision byte 0 counts as 0)
//   others             the stored bytes unchanged
// Descending fields: in a table without a language, a field whose
// FieldDescending is 1 in an index that is not Descending has its flag byte
// and value area inverted. With a language, or in a Descending index, nothing
// is inverted and CompareKeys handles the order.
//
// Threads: every routine works on caller-owned buffers; the collation and
// character-map caches they consult are shared and guarded (collation.h,
// char_maps.h). Nothing here throws; nothing allocates per comparison.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "engine/index/index_descriptor.h"
#include "engine/index/key_def.h"
#include "engine/table/field_desc.h"

namespace tarn {

// Bytes of a field's value area in a key: string declared size + 1;
// types 2, 6, 10, 13: 4; 3, 7, 11, 18: 8; 4, 5, 12: 2; BCD 8; 14: 10;
// any other type its declared size.
std::uint16_t KeyFieldSize(std::uint8_t fieldType, std::uint16_t declaredSize);
inline std::uint16_t KeyFieldSize(const TKeyField& field) {
  return KeyFieldSize(field.FieldType, field.FieldSize);
}

// Writes one key field part: part[0] the flag byte (1 when value is given,
// 0 when value is nullptr), part[1..] the value area, encoded as above.
// value points at the field's stored value bytes (its FieldPhysSize bytes,
// string bytes need not be zero-terminated within them). When languageId is
// 0 and descendingField is set, the whole part is inverted afterwards; the
// caller passes descendingField = FieldDescending[i] && !Descending.
// Requires: part.size() == KeyFieldSize(field) + 1; valueSize is the number
// of readable bytes at value.
void EncodeFieldKey(const TKeyField& field, const std::uint8_t* value, std::size_t valueSize,
                    std::uint16_t languageId, std::uint16_t sortId, bool descendingField,
                    bool caseInsensitive, std::span<std::uint8_t> part);

// The fixed-point key value of a 34-byte BCD (Delphi-style: precision byte,
// sign-and-scale byte, packed digits high nibble first): value x 10000
// rounded to nearest, half away from zero, saturating at the 64-bit range.
// Precision 0 (or fewer than 34 bytes) gives 0; a nibble above 9 counts as 9.
std::int64_t BcdKeyValue(std::span<const std::uint8_t> bcd);

// RecAutoInc as it appears in keys: signed 32-bit big-endian, top bit
// inverted. out must hold 4 bytes.
void EncodeAutoIncKey(std::int32_t autoInc, std::span<std::uint8_t> out);

// Builds the key of def.Slot for one record image (a record buffer's bytes
// or a raw, descrambled record). key must hold def.KeySize bytes; it is
// zero-filled first. Slot 31 gives the "Sys Deleted" key; slot 32 has no
// key per record (see BuildTextKey). A field that does not lie wholly inside
// the record is encoded as null; nothing is written past def.KeySize.
void BuildKey(const TKeyDef& def, std::span<const std::uint8_t> record,
              std::span<std::uint8_t> key);

// The "Sys Text" key of one word: 1, field number, the word upper-cased in
// the table's language (cut to 60 characters), autoInc. key holds 68 bytes.
void BuildTextKey(std::uint16_t fieldNumber, std::span<const std::uint8_t> word,
                  std::int32_t autoInc, std::uint16_t languageId, std::uint16_t sortId,
                  std::span<std::uint8_t> key);

// Unsigned byte comparison of n bytes: -1, 0, +1 (negated when descending).
// A null a compares as +1.
int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n, bool descending);

// Compares the first length bytes of the stored key a with the search key b
// in def's order: -1 a sorts first, 0 equal, +1 a sorts after. Slots 0..30
// of a table without a language and slot 31 are one memcmp; with a language
// string parts are collated (case-sensitive, non-spacing marks ignored).
// Requires: length <= def.KeySize. A null a compares as +1.
int CompareKeys(const TKeyDef& def, const std::uint8_t* a, const std::uint8_t* b,
                std::size_t length);

// CompareKeys for the many comparisons of a search: whether def's keys
// compare as plain bytes is decided once, and such keys are compared inline,
// eight bytes at a time. Same results as CompareKeys.
class TKeyComparer {
 public:
  explicit TKeyComparer(const TKeyDef& def)
      : FDef(def),
        FPlain(def.Slot == KeyLimits::DeletedSlot || (def.Slot != KeyLimits::TextSlot && !def.HasLanguage())),
        FDescending(def.Slot != KeyLimits::DeletedSlot && def.Descending) {}
  int operator()(const std::uint8_t* a, const std::uint8_t* b) const { return Compare(a, b, FDef.KeySize); }
  int Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) const {
    if (!FPlain) return CompareKeys(FDef, a, b, length);
    if (a == nullptr) return 1;
    const int r = CompareByteOrder(a, b, length);
    return FDescending ? -r : r;
  }

 private:
  static int CompareByteOrder(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      if (const int r = CompareWord<std::uint64_t>(a + i, b + i); r != 0) return r;
    }
    // A tail of 4 to 7 bytes (keys of one integer field are 5): two 4-byte
    // words, the second overlapping bytes already found equal.
    if (n - i >= 4) {
      if (const int r = CompareWord<std::uint32_t>(a + i, b + i); r != 0) return r;
      return CompareWord<std::uint32_t>(a + n - 4, b + n - 4);
    }
    for (; i < n; ++i) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
  }
  // The sizeof(T) bytes at a and b compared as big-endian numbers.
  template <class T>
  static int CompareWord(const std::uint8_t* a, const std::uint8_t* b) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    T x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    if (x == y) return 0;
    if constexpr (std::endian::native == std::endian::little) {
      if constexpr (sizeof(T) == 8) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
      } else {
        x = __builtin_bswap32(x);
        y = __builtin_bswap32(y);
      }
    }
    return x < y ? -1 : 1;
  }

  const TKeyDef& FDef;
  bool FPlain;
  bool FDescending;
};

// A key below (LowKey) or above (HighKey) every real key of the slot.
// key must hold def.KeySize bytes.
void LowKey(const TKeyDef& def, std::span<std::uint8_t> key);
void HighKey(const TKeyDef& def, std::span<std::uint8_t> key);

// Makes a partial search key full: every byte from position from on takes its
// lowest (highest) value: 0x00 (0xFF) bytes, and in string value areas of a
// table with a language the lowest (highest) character of the locale.
// Flag bytes count as plain bytes. key must hold def.KeySize bytes.
void PadKeyLow(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t from);
void PadKeyHigh(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t from);

// Turns the first length bytes of key into the next key after (before) every
// key that starts with them: a big-endian add (subtract) of one with carry;
// in string value areas of a table with a language a byte steps to the next
// (previous) distinct character of the locale's order instead. When every
// byte is already the highest (lowest), all length bytes become 0xFF (0x00).
// Requires: 0 < length <= def.KeySize; key holds def.KeySize bytes (bytes
// after length may be padded).
void KeySuccessor(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t length);
void KeyPredecessor(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t length);

// The descriptor of an index over one field (field: its 1-based number in
// fields) with its key size: the field's key size + 1, plus the RecAutoInc
// suffix when not unique. For tables built in code (tests, tools, benchmarks).
TIndexDescriptor SingleFieldIndex(std::string_view name, std::int16_t field, std::span<const TFieldDesc> fields,
                                  bool unique);

}  // namespace tarn
