#pragma once
// The 127-byte header at offset 0 of a data file (".DAT"), held in memory
// exactly as stored. Everything in it is plain on disk apart from the
// characters of Description and Password, which encrypted tables scramble
// with the text key (their length bytes stay plain).
//
// Layout (all integers little-endian; str[n] = length byte + n characters):
//   offset  size  field
//        0     4  ChangeCount       i32, +1 on every header write
//        4     4  BlobBlockSize     i32, blob file block size; 0 means 512
//        8     1  Version           always 5
//        9     4  FirstFreeRecord   i32, head of the free-slot list, 0 = none
//       13     4  NextRecordNumber  i32, number of the next appended record
//                                   (the file holds NextRecordNumber - 1 slots)
//       17     4  LastAutoInc       i32, last record identifier given out
//       21     2  RecordSize        u16, bytes per record incl. 9 control bytes
//       23     2  FieldCount        u16, at most 1024
//       25     2  BlobFieldCount    u16, fields of type 3, at most 128
//       27     8  LastUpdated       double, local date-time of the last header
//                                   write (days since 1899-12-30) minus 693594
//       35    51  Description       str[50]
//       86     1  Encrypted         1 = encrypted table
//       87    16  Password          str[15]; length 0 when not encrypted
//      103     2  LanguageId        i16, collation language; 0 = bytewise
//      105     2  SortId            i16; locale = SortId << 16 | LanguageId
//      107     2  UserMajorVersion  i16
//      109     2  UserMinorVersion  i16
//      111     1  HeaderDirty       the in-memory "must be written" flag
//      112     4  LastBlobStamp     i32, last stamp given to a written blob
//      116     8  EngineVersion     i64, version of the last writer x 10000 (31900)
//      124     1  WriteInProgress   1 while a write of the table's buffers is under
//                                   way (set by the first header write of the
//                                   write, cleared by its last); 0 otherwise
//      125     2  reserved          zero
//
// File layout: header, then FieldCount 768-byte definitions from offset 127,
// then the records: record R (1-based) at H + (R - 1) x RecordSize with
// H = 127 + 768 x FieldCount.
// Invariants of a verified file: (1) Version = 5; (2) RecordSize = 9 + the
// bytes of all stored fields; (3) the file size is H + (NextRecordNumber - 1) x
// RecordSize; (4) 0 <= FirstFreeRecord <= NextRecordNumber - 1.
// WriteInProgress: a header that carries it while no program holds the
// table's write lock belongs to a write that was interrupted (the writer was
// killed or failed): the files may disagree, and the table counts as damaged
// until a repair clears the byte (TDataTable::ClearInterruptedWrite). Files
// written before the byte was used hold 0 there, so they read as sound.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarn {

namespace DataHeaderLayout {
inline constexpr std::size_t ChangeCount = 0;
inline constexpr std::size_t BlobBlockSize = 4;
inline constexpr std::size_t Version = 8;
inline constexpr std::size_t FirstFreeRecord = 9;
inline constexpr std::size_t NextRecordNumber = 13;
inline constexpr std::size_t LastAutoInc = 17;
inline constexpr std::size_t RecordSize = 21;
inline constexpr std::size_t FieldCount = 23;
inline constexpr std::size_t BlobFieldCount = 25;
inline constexpr std::size_t LastUpdated = 27;
inline constexpr std::size_t Description = 35;
inline constexpr std::size_t Encrypted = 86;
inline constexpr std::size_t Password = 87;
inline constexpr std::size_t LanguageId = 103;
inline constexpr std::size_t SortId = 105;
inline constexpr std::size_t UserMajorVersion = 107;
inline constexpr std::size_t UserMinorVersion = 109;
inline constexpr std::size_t HeaderDirty = 111;
inline constexpr std::size_t LastBlobStamp = 112;
inline constexpr std::size_t EngineVersion = 116;
inline constexpr std::size_t WriteInProgress = 124;
inline constexpr std::size_t Reserved = 125;
inline constexpr std::size_t Size = 127;
inline constexpr std::size_t MaxDescription = 50;
inline constexpr std::size_t MaxPassword = 15;
static_assert(LastUpdated + 8 == Description && Description + 1 + MaxDescription == Encrypted);
static_assert(Password + 1 + MaxPassword == LanguageId && EngineVersion + 8 == WriteInProgress);
static_assert(WriteInProgress + 1 == Reserved && Reserved + 2 == Size);
}  // namespace DataHeaderLayout

namespace DataFormat {
inline constexpr std::uint8_t Version = 5;
inline constexpr std::int64_t EngineVersion = 31900;
inline constexpr std::uint16_t MaxFieldCount = 1024;
inline constexpr std::uint16_t MaxBlobFields = 128;
inline constexpr std::int32_t DefaultBlobBlockSize = 512;
inline constexpr std::int64_t FieldDefsOffset = 127;
inline constexpr std::int64_t FieldDescSize = 768;
// H: where the records start.
inline constexpr std::int64_t RecordsOffset(std::int64_t fieldCount) { return FieldDefsOffset + FieldDescSize * fieldCount; }
}  // namespace DataFormat

class TDataHeader {
 public:
  static constexpr std::size_t Size = DataHeaderLayout::Size;

  TDataHeader() { FBytes.fill(0); }

  std::span<const std::uint8_t> Bytes() const { return FBytes; }
  std::span<std::uint8_t> MutableBytes() { return FBytes; }
  void Clear() { FBytes.fill(0); }

  std::int32_t ChangeCount() const;
  std::int32_t BlobBlockSize() const;
  std::uint8_t Version() const { return FBytes[DataHeaderLayout::Version]; }
  std::int32_t FirstFreeRecord() const;
  std::int32_t NextRecordNumber() const;
  std::int32_t LastAutoInc() const;
  std::uint16_t RecordSize() const;
  std::uint16_t FieldCount() const;
  std::uint16_t BlobFieldCount() const;
  double LastUpdated() const;
  // The stored bytes of the texts (scrambled in encrypted tables).
  std::string RawDescription() const;
  std::string RawPassword() const;
  bool Encrypted() const { return FBytes[DataHeaderLayout::Encrypted] == 1; }
  std::int16_t LanguageId() const;
  std::int16_t SortId() const;
  std::int16_t UserMajorVersion() const;
  std::int16_t UserMinorVersion() const;
  bool HeaderDirty() const { return FBytes[DataHeaderLayout::HeaderDirty] != 0; }
  std::int32_t LastBlobStamp() const;
  std::int64_t EngineVersion() const;
  bool WriteInProgress() const { return FBytes[DataHeaderLayout::WriteInProgress] != 0; }

  void SetChangeCount(std::int32_t v);
  void SetBlobBlockSize(std::int32_t v);
  void SetVersion(std::uint8_t v) { FBytes[DataHeaderLayout::Version] = v; }
  void SetFirstFreeRecord(std::int32_t v);
  void SetNextRecordNumber(std::int32_t v);
  void SetLastAutoInc(std::int32_t v);
  void SetRecordSize(std::uint16_t v);
  void SetFieldCount(std::uint16_t v);
  void SetBlobFieldCount(std::uint16_t v);
  void SetLastUpdated(double v);
  void SetRawDescription(std::string_view v);
  void SetRawPassword(std::string_view v);
  void SetEncrypted(bool v) { FBytes[DataHeaderLayout::Encrypted] = v ? 1 : 0; }
  void SetLanguageId(std::int16_t v);
  void SetSortId(std::int16_t v);
  void SetUserMajorVersion(std::int16_t v);
  void SetUserMinorVersion(std::int16_t v);
  void SetHeaderDirty(bool v) { FBytes[DataHeaderLayout::HeaderDirty] = v ? 1 : 0; }
  void SetLastBlobStamp(std::int32_t v);
  void SetEngineVersion(std::int64_t v);
  void SetWriteInProgress(bool v) { FBytes[DataHeaderLayout::WriteInProgress] = v ? 1 : 0; }

 private:
  std::array<std::uint8_t, Size> FBytes;
};

}  // namespace tarn
