#pragma once
// Field type codes, shared by records, keys and expression values. The code is
// stored in each field descriptor of the data file (one byte) and never
// changes meaning.

#include <cstdint>

namespace tarn {

namespace FieldType {
inline constexpr std::uint8_t Unknown = 0;  // not allowed in a table; "unknown or NULL" in expressions
inline constexpr std::uint8_t String = 1;
inline constexpr std::uint8_t Date = 2;
inline constexpr std::uint8_t Blob = 3;
inline constexpr std::uint8_t Boolean = 4;
inline constexpr std::uint8_t Int16 = 5;
inline constexpr std::uint8_t Int32 = 6;
inline constexpr std::uint8_t Float = 7;
inline constexpr std::uint8_t Bcd = 8;
inline constexpr std::uint8_t Bytes = 9;
inline constexpr std::uint8_t Time = 10;
inline constexpr std::uint8_t Timestamp = 11;
inline constexpr std::uint8_t UInt16 = 12;
inline constexpr std::uint8_t UInt32 = 13;    // never produced by the component layer
inline constexpr std::uint8_t Extended = 14;  // 80-bit float; never produced by the component layer
inline constexpr std::uint8_t VarBytes = 15;
inline constexpr std::uint8_t Int64 = 18;
// Codes of the component layer's type map that hold no value bytes (only the
// null-indicator byte): 17, 20, 21, 22 and 23.
inline constexpr bool HasNoValueBytes(std::uint8_t type) {
  return type == 17 || (type >= 20 && type <= 23);
}
// True for every code a table may hold.
inline constexpr bool IsKnown(std::uint8_t type) {
  return (type >= String && type <= VarBytes) || type == 17 || type == Int64 || (type >= 20 && type <= 23);
}
}  // namespace FieldType

// Subtype codes (FieldSubType).
namespace FieldSubType {
inline constexpr std::uint8_t None = 0;
inline constexpr std::uint8_t Money = 21;           // float
inline constexpr std::uint8_t Memo = 22;            // blob
inline constexpr std::uint8_t FormattedMemo = 24;   // blob
inline constexpr std::uint8_t Graphic = 26;         // blob
inline constexpr std::uint8_t TypedBinary = 28;     // blob
inline constexpr std::uint8_t AutoInc = 29;         // 32-bit integer kept in the record's RecAutoInc
inline constexpr std::uint8_t FixedChar = 31;       // string
inline constexpr std::uint8_t WideString = 32;      // string
}  // namespace FieldSubType

// FieldCharCase of string fields.
enum class TCharCase : std::uint8_t { AsGiven = 0, Lower = 1, Upper = 2 };

}  // namespace tarn
