#pragma once
// One index definition as held in the index file header.
//
// IndexDescriptor (120 bytes per slot; all integers little-endian):
//   offset  size  field
//        0    31  IndexName        length byte + up to 30 characters; empty for slot 0
//       31     2  KeySize          signed 16-bit total key length in bytes
//       33     1  Descending       1 = the whole index sorts descending
//       34     1  CaseInsensitive  1 = string key parts are upper-cased when built
//       35     1  Unique           1 = no RecAutoInc suffix; always 1 for slot 0
//       36     1  Compression      leaf compression: 0 NONE, 1 DUPBYTE, 2 TRAILBYTE, 3 FULL
//       37     1  FieldCount       0..16
//       38    16  FieldDescending  one byte per key field, 1 = that field descends
//       54    32  FieldNumbers     16 signed 16-bit 1-based field numbers, unused 0
//       86     4  RootPage         page of the root, 0 = empty index
//       90     4  FreePageList     first free page of this index, 0 = none
//       94     2  reserved         zero
//       96     4  TextParamsPage   slot 32 only: first text-parameter page, 0 = none
//      100     1  NoCounts         1 = interior entries carry no subtree count
//      101     1  Temporary        1 = lives in the temporary file, never written
//      102    18  reserved         zero
// Invariants: (1) FieldNumbers has no gap (a zero entry is followed by zeros only);
// (2) page numbers lie in 0 .. NextPageNumber - 1 of the file that holds the index.
// Decoding keeps every byte (reserved ones included) so that a descriptor read and
// written back is unchanged.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/base/names.h"

namespace tarn {

enum class TKeyCompression : std::uint8_t { None = 0, DupByte = 1, TrailByte = 2, Full = 3 };

namespace IndexDescriptorLayout {
inline constexpr std::size_t Name = 0;
inline constexpr std::size_t KeySize = 31;
inline constexpr std::size_t Descending = 33;
inline constexpr std::size_t CaseInsensitive = 34;
inline constexpr std::size_t Unique = 35;
inline constexpr std::size_t Compression = 36;
inline constexpr std::size_t FieldCount = 37;
inline constexpr std::size_t FieldDescending = 38;
inline constexpr std::size_t FieldNumbers = 54;
inline constexpr std::size_t RootPage = 86;
inline constexpr std::size_t FreePageList = 90;
inline constexpr std::size_t Reserved94 = 94;
inline constexpr std::size_t TextParamsPage = 96;
inline constexpr std::size_t NoCounts = 100;
inline constexpr std::size_t Temporary = 101;
inline constexpr std::size_t Reserved102 = 102;
inline constexpr std::size_t Size = 120;
static_assert(Reserved102 + 18 == Size);
static_assert(FieldNumbers + 32 == RootPage);
}  // namespace IndexDescriptorLayout

inline constexpr int MaxKeyFields = 16;
inline constexpr std::size_t MaxIndexNameLength = 30;

struct TIndexDescriptor {
  std::string IndexName;  // at most 30 characters
  std::int16_t KeySize = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  TKeyCompression Compression = TKeyCompression::None;
  std::uint8_t FieldCount = 0;
  std::array<std::uint8_t, MaxKeyFields> FieldDescending{};
  std::array<std::int16_t, MaxKeyFields> FieldNumbers{};
  std::int32_t RootPage = 0;
  std::int32_t FreePageList = 0;
  std::int32_t TextParamsPage = 0;
  bool NoCounts = false;
  bool Temporary = false;
  // Bytes of the slot this structure does not interpret (reserved areas, the
  // unused tail of the name), kept so a decode/encode round trip is exact.
  std::array<std::uint8_t, IndexDescriptorLayout::Size> Raw{};

  // True when the slot holds no index (all of KeySize, FieldCount and name empty).
  bool IsEmpty() const { return KeySize == 0 && FieldCount == 0 && IndexName.empty(); }

  // Clears every field and every raw byte.
  void Clear() { *this = TIndexDescriptor{}; }

  // Reads a slot image. Never fails: values are checked by the header verification.
  static TIndexDescriptor Decode(std::span<const std::uint8_t> image);
  // Writes the slot image (120 bytes): the raw bytes first, then every field.
  void Encode(std::span<std::uint8_t> image) const;
};

// True for a character that may start an index name: "A".."Z", "a".."z", "_", 128..254.
bool IsNameStartChar(char c);


}  // namespace tarn
