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
inline constexpr std::uint8_t Int64 = 18;
}  // namespace FieldType

}  // namespace tarn
