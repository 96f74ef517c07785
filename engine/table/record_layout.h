#pragma once
// The bytes of one record and the encoding of every field type.
//
// Record (RecordSize bytes; all integers little-endian):
//   offset  size  field
//        0     1  RecDeleted  0 = active, 1 = deleted (free slot)
//        1     4  RecLink     i32; active: the record's own number;
//                             deleted: next free slot, 0 = end of the list
//        5     4  RecAutoInc  i32, the record identifier, unique in the
//                             table; also the auto-increment field's value
//        9     *  fields      each stored field at its FieldOffset: a
//                             null-indicator byte (0 null, 1 value) and
//                             FieldPhysSize value bytes, in field order
//
// Value bytes per type (FieldPhysSize in brackets):
//   1 string    [size+1] 8-bit characters, zero-terminated
//   2 date      [4]  i32 day number, 0001-01-01 = 1 (date_time.h)
//   3 blob      [8]  i32 BlobFirstBlock (0 = no data), i32 BlobStamp
//   4 boolean   [2]  u16 0 or 1
//   5 int16 [2] i16; 6 int32 [4] i32 (subtype 29: kept in RecAutoInc, no
//     bytes of its own); 12 uint16 [2]; 13 uint32 [4]; 18 int64 [8]
//   7 float     [8]  IEEE double (subtype 21 money, same storage)
//   8 BCD       [34] bcd.h, precision 32 and the field's scale
//   9 bytes, 15 varbytes  [size] raw bytes
//  10 time      [4]  i32 milliseconds since midnight
//  11 timestamp [8]  double, day number x 86400000 + ms of the day
//  14 extended  [10] 80-bit float, raw
//  17, 20-23    [0]  null-indicator byte only
// Invariants: (1) a null field's value bytes are all zero; (2) the
// auto-increment field is never null; (3) computed fields take no bytes.

#include <cstdint>
#include <optional>
#include <span>

#include "engine/table/field_desc.h"
#include "engine/table/text_case_mapper.h"

namespace tarn {

namespace RecordLayout {
inline constexpr std::size_t RecDeleted = 0;
inline constexpr std::size_t RecLink = 1;
inline constexpr std::size_t RecAutoInc = 5;
inline constexpr std::size_t ControlSize = 9;
// The stored blob reference inside a blob field's value bytes.
inline constexpr std::size_t BlobFirstBlock = 0;
inline constexpr std::size_t BlobStamp = 4;
}  // namespace RecordLayout

// What a field read gives: its value bytes (4 for a blob: BlobFirstBlock)
// and whether it is blank (null indicator 0). The span points into the record.
struct TFieldRead {
  std::span<const std::uint8_t> Bytes;
  bool Blank = true;
};

// Stores a field value into a record image.
//   value: the value bytes in storage form, or nothing for null. Strings are
//   characters (a zero byte ends them early), cut to FieldPhysSize - 1, then
//   trailing blanks removed and the case conversion applied; no characters
//   left means null. Booleans above 1 become 1. Blobs take only
//   BlobFirstBlock (4 bytes); the indicator is 1 for a positive block, 0 for 0,
//   and blobOpenHasValue for a negative one (an open blob buffer). The
//   auto-increment field takes 4 bytes into RecAutoInc and ignores null. BCD
//   values are rewritten with precision 32 and the field's scale. Other types
//   copy FieldPhysSize bytes (a shorter value is zero-padded).
// Throws 8961 (TARN_HEADERCORRUPT) when the definition does not fit the
// record; 8962 (TARN_FILECORRUPT) for a BCD value that is malformed or does
// not fit the field. A computed field is left alone.
void SetFieldValue(std::span<std::uint8_t> record, const TFieldDesc& desc,
                   std::optional<std::span<const std::uint8_t>> value,
                   const TTextCaseMapper& caseMapper = AsciiCaseMapper, bool blobOpenHasValue = false);

// Reads a field of a record image. The auto-increment field is never blank;
// a computed field reads as blank with no bytes.
// Throws 8961 when the definition does not fit the record.
TFieldRead GetFieldValue(std::span<const std::uint8_t> record, const TFieldDesc& desc);

// Sets BlobStamp of a blob field (called when the blob is written).
void SetBlobStamp(std::span<std::uint8_t> record, const TFieldDesc& desc, std::int32_t stamp);
std::int32_t GetBlobStamp(std::span<const std::uint8_t> record, const TFieldDesc& desc);

}  // namespace tarn
