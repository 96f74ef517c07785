#pragma once
// What keys need to know of one index: the descriptor's key flags and key
// fields, resolved against the table's field definitions, plus the table's
// language and sort order.
//
// A `TKeyDef` is a plain value. Whoever owns the index descriptor (the index
// file) fills one from the descriptor slot and the table's field definitions
// and hands it to the key routines of keys.h; they never look anything up
// themselves except the shared collation caches.
//
// Key layout of an ordinary index (slots 0..30), KeySize bytes:
//   for each key field i = 0..FieldCount-1, in order:
//     1 byte          flag: 1 = the field has a value, 0 = null
//     KeyFieldSize    value area (keys.h), zero for a null field
//   then, when Unique is false:
//     4 bytes         the record's RecAutoInc, big-endian, top bit inverted
// Key of "Sys Deleted" (slot 31), 5 bytes:
//     0  1  RecDeleted of the record (0 active, 1 deleted)
//     1  4  RecAutoInc, big-endian, top bit inverted
// Key of "Sys Text" (slot 32), 68 bytes:
//     0  1  always 1
//     1  2  field number, unsigned big-endian
//     3 61  the word, upper-cased, at most 60 characters, zero-padded
//    64  4  RecAutoInc, big-endian, top bit inverted
// Invariants (CheckInvariants):
//   (1) FieldCount <= 16; slots 31 and 32 have no key fields;
//   (2) for slots 0..30 KeySize = sum of (KeyFieldSize + 1) over the fields,
//       plus 4 when not Unique, and the field sum is at most 522;
//   (3) slot 31 has KeySize 5 and slot 32 KeySize 68.

#include <array>
#include <cstdint>

namespace tarn {

class TFieldDesc;

namespace KeyLimits {
inline constexpr std::uint8_t MaxKeyFields = 16;
inline constexpr std::uint16_t MaxFieldsKeySize = 522;  // sum of (KeyFieldSize + 1)
inline constexpr std::uint8_t MaxOrdinarySlot = 30;
inline constexpr std::uint8_t DeletedSlot = 31;  // "Sys Deleted"
inline constexpr std::uint8_t TextSlot = 32;     // "Sys Text"
inline constexpr std::uint16_t AutoIncSize = 4;  // the RecAutoInc suffix
inline constexpr std::uint16_t DeletedKeySize = 5;
inline constexpr std::uint16_t TextKeySize = 68;
inline constexpr std::uint16_t TextFieldNoAt = 1;  // 2 bytes
inline constexpr std::uint16_t TextWordAt = 3;     // 61 bytes
inline constexpr std::uint16_t TextWordSize = 61;
inline constexpr std::uint16_t TextAutoIncAt = 64;  // 4 bytes
inline constexpr std::uint16_t MaxWordLength = 60;
// The longest key of any slot (fields plus suffix).
inline constexpr std::uint16_t MaxKeySize = MaxFieldsKeySize + AutoIncSize;
static_assert(TextWordAt + TextWordSize == TextAutoIncAt);
static_assert(TextAutoIncAt + AutoIncSize == TextKeySize);
}  // namespace KeyLimits

// One key field as the key routines need it: the field definition of the
// table, reduced to type, declared size and place in the record.
struct TKeyField {
  std::uint8_t FieldType = 0;     // FieldType code (engine/table/field_types.h)
  std::uint16_t FieldSize = 0;    // declared size (FieldSize of the definition)
  std::uint32_t FieldOffset = 0;  // record offset of the null-indicator byte;
                                  // for the auto-increment field 5, the value itself
  bool HasNullFlag = true;        // false only for the auto-increment field
                                  // (no indicator byte, never null)
  bool Computed = false;          // a computed field takes no record bytes: always null
};

// The key definition of one index slot.
struct TKeyDef {
  std::uint8_t Slot = 0;  // 0 primary, 1..30 secondary, 31 "Sys Deleted", 32 "Sys Text"
  std::uint16_t KeySize = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  std::uint8_t FieldCount = 0;
  std::array<std::uint8_t, KeyLimits::MaxKeyFields> FieldDescending{};  // 1 = field descends
  std::array<std::int16_t, KeyLimits::MaxKeyFields> FieldNumbers{};     // 1-based
  std::array<TKeyField, KeyLimits::MaxKeyFields> Fields{};              // resolved FieldNumbers
  std::uint16_t LanguageId = 0;  // 0 = no language: keys compare bytewise
  std::uint16_t SortId = 0;

  bool HasLanguage() const { return LanguageId != 0; }
  bool IsInternal() const { return Slot >= KeyLimits::DeletedSlot; }

  // Checks the numbered invariants above; used as assert(def.CheckInvariants()).
  bool CheckInvariants() const;
};

// The key field of a table field definition. The auto-increment field
// (type 6, subtype 29) has no null-indicator byte; a computed field has no
// bytes at all and keys as null.
TKeyField MakeKeyField(const TFieldDesc& field);

// The key definitions of the two internal indexes for a table of the given
// language and sort order.
TKeyDef MakeDeletedKeyDef(std::uint16_t languageId, std::uint16_t sortId);
TKeyDef MakeTextKeyDef(std::uint16_t languageId, std::uint16_t sortId);

// KeySize for Slot 0..30 from the fields and Unique (invariant 2); 5 and 68
// for the internal slots.
std::uint16_t ComputeKeySize(const TKeyDef& def);

}  // namespace tarn
