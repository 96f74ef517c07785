#pragma once
// One field definition of a data file: a 768-byte block, kept in memory
// exactly as it is stored (plain; scrambled on disk in encrypted tables as
// part of the one run of all definitions).
//
// Layout (all integers little-endian; str[n] = length byte + n characters):
//   offset  size  field
//        0     2  FieldNo            u16, equal to the definition's position (1-based)
//        2    31  FieldName          str[30]
//       33    51  FieldDescription   str[50]
//       84     1  FieldType          type code (field_types.h); 0 not allowed
//       85     1  FieldSubType       subtype code
//       86     1  FieldSize          declared size: string, bytes, varbytes only, <= 250
//       87     1  FieldDecimals      declared scale: BCD only
//       88     1  FieldPhysSize      value bytes in the record (PhysSizeFor)
//       89     1  FieldPhysDecimals  copy of FieldDecimals
//       90     2  FieldOffset        u16, record offset of the null-indicator byte
//       92     1  FieldRequired      1 = a value is required
//       93     1  FieldCharCase      strings: 0 as given, 1 lower, 2 upper
//       94    51  FieldMin           str[50], minimum as text, empty = none
//      145    51  FieldMax           str[50]
//      196    51  FieldDefault       str[50]
//      247     1  FieldComputed      1 = computed, no bytes in the record (offset 0)
//      248   520  reserved           zero
// Invariants of a verified definition i (TDataFile::VerifyDataFile):
// (1) FieldNo = i; (2) the name is a valid, unique identifier of <= 30
// characters; (3) FieldSize is 0 except for string, bytes and varbytes (<= 250);
// (4) FieldDecimals is 0 except for BCD; (5) FieldPhysSize = PhysSizeFor(type,
// size); (6) the auto-increment field (type 6, subtype 29) sits at offset 5,
// every other field at the running offset of the record layout.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/table/field_types.h"

namespace tarn {

namespace FieldDescLayout {
inline constexpr std::size_t FieldNo = 0;
inline constexpr std::size_t FieldName = 2;
inline constexpr std::size_t FieldDescription = 33;
inline constexpr std::size_t FieldType = 84;
inline constexpr std::size_t FieldSubType = 85;
inline constexpr std::size_t FieldSize = 86;
inline constexpr std::size_t FieldDecimals = 87;
inline constexpr std::size_t FieldPhysSize = 88;
inline constexpr std::size_t FieldPhysDecimals = 89;
inline constexpr std::size_t FieldOffset = 90;
inline constexpr std::size_t FieldRequired = 92;
inline constexpr std::size_t FieldCharCase = 93;
inline constexpr std::size_t FieldMin = 94;
inline constexpr std::size_t FieldMax = 145;
inline constexpr std::size_t FieldDefault = 196;
inline constexpr std::size_t FieldComputed = 247;
inline constexpr std::size_t Reserved = 248;
inline constexpr std::size_t Size = 768;
inline constexpr std::size_t MaxNameLength = 30;
inline constexpr std::size_t MaxTextLength = 50;
inline constexpr std::uint8_t MaxFieldSize = 250;
static_assert(FieldName + 1 + MaxNameLength == FieldDescription);
static_assert(FieldDescription + 1 + MaxTextLength == FieldType);
static_assert(FieldCharCase + 1 == FieldMin && FieldMin + 51 == FieldMax && FieldMax + 51 == FieldDefault);
static_assert(FieldDefault + 51 == FieldComputed && Reserved + 520 == Size);
}  // namespace FieldDescLayout

// Bytes a value of the type occupies in a record (declaredSize is
// FieldSize). 0 for the types without value bytes and unknown codes.
std::uint8_t PhysSizeFor(std::uint8_t type, std::uint8_t declaredSize);

class TFieldDesc {
 public:
  static constexpr std::size_t Size = FieldDescLayout::Size;

  TFieldDesc() { FBytes.fill(0); }
  // Requires: bytes.size() >= 768.
  static TFieldDesc FromBytes(std::span<const std::uint8_t> bytes);

  std::span<const std::uint8_t> Bytes() const { return FBytes; }
  std::span<std::uint8_t> MutableBytes() { return FBytes; }

  std::uint16_t FieldNo() const;
  std::string FieldName() const;
  std::string FieldDescription() const;
  std::uint8_t FieldType() const { return FBytes[FieldDescLayout::FieldType]; }
  std::uint8_t FieldSubType() const { return FBytes[FieldDescLayout::FieldSubType]; }
  std::uint8_t FieldSize() const { return FBytes[FieldDescLayout::FieldSize]; }
  std::uint8_t FieldDecimals() const { return FBytes[FieldDescLayout::FieldDecimals]; }
  std::uint8_t FieldPhysSize() const { return FBytes[FieldDescLayout::FieldPhysSize]; }
  std::uint8_t FieldPhysDecimals() const { return FBytes[FieldDescLayout::FieldPhysDecimals]; }
  std::uint16_t FieldOffset() const;
  bool FieldRequired() const { return FBytes[FieldDescLayout::FieldRequired] != 0; }
  TCharCase FieldCharCase() const { return static_cast<TCharCase>(FBytes[FieldDescLayout::FieldCharCase]); }
  std::string FieldMin() const;
  std::string FieldMax() const;
  std::string FieldDefault() const;
  bool FieldComputed() const { return FBytes[FieldDescLayout::FieldComputed] != 0; }

  // Type 6 with subtype 29: the value lives in the record's RecAutoInc.
  bool IsAutoInc() const { return FieldType() == FieldType::Int32 && FieldSubType() == FieldSubType::AutoInc; }
  // True when the field takes bytes in the record (neither auto-increment nor computed).
  bool TakesRecordSpace() const { return !IsAutoInc() && !FieldComputed(); }

  void SetFieldNo(std::uint16_t v);
  void SetFieldName(std::string_view v);
  void SetFieldDescription(std::string_view v);
  void SetFieldType(std::uint8_t v) { FBytes[FieldDescLayout::FieldType] = v; }
  void SetFieldSubType(std::uint8_t v) { FBytes[FieldDescLayout::FieldSubType] = v; }
  void SetFieldSize(std::uint8_t v) { FBytes[FieldDescLayout::FieldSize] = v; }
  void SetFieldDecimals(std::uint8_t v) { FBytes[FieldDescLayout::FieldDecimals] = v; }
  void SetFieldPhysSize(std::uint8_t v) { FBytes[FieldDescLayout::FieldPhysSize] = v; }
  void SetFieldPhysDecimals(std::uint8_t v) { FBytes[FieldDescLayout::FieldPhysDecimals] = v; }
  void SetFieldOffset(std::uint16_t v);
  void SetFieldRequired(bool v) { FBytes[FieldDescLayout::FieldRequired] = v ? 1 : 0; }
  void SetFieldCharCase(TCharCase v) { FBytes[FieldDescLayout::FieldCharCase] = static_cast<std::uint8_t>(v); }
  void SetFieldMin(std::string_view v);
  void SetFieldMax(std::string_view v);
  void SetFieldDefault(std::string_view v);
  void SetFieldComputed(bool v) { FBytes[FieldDescLayout::FieldComputed] = v ? 1 : 0; }

  // Sets FieldPhysSize and FieldPhysDecimals from type, size and decimals.
  void ComputePhysical();

  // True when every str[n] length byte is within its n.
  bool LengthBytesValid() const;

 private:
  std::array<std::uint8_t, Size> FBytes;
};

// Builds the definition the component layer would: number, name, type,
// subtype, size, decimals, and the physical size; the offset is left 0.
TFieldDesc MakeFieldDesc(std::uint16_t fieldNo, std::string_view name, std::uint8_t type,
                         std::uint8_t subType = 0, std::uint8_t size = 0, std::uint8_t decimals = 0);

// Gives every field of defs its FieldOffset in the record layout (the
// auto-increment field 5, computed fields 0, the others one after another from
// offset 9) and returns the record size that results (9 + the bytes of every
// stored field). Also fills the physical sizes.
std::uint32_t AssignFieldOffsets(std::span<TFieldDesc> defs);

// True when text suits the field type as a minimum, maximum or default value:
// any text for string, bytes and varbytes; the CURRENT_* keywords for the
// date types; integer ranges; the literal forms of literal_text.h for boolean,
// float, BCD, date, time and timestamp. An empty text always suits.
bool ValueTextSuitsType(std::string_view text, std::uint8_t type, std::uint8_t decimals);

}  // namespace tarn
