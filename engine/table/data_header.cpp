#include "engine/table/data_header.h"

#include "engine/base/byte_order.h"
#include "engine/table/short_string.h"

namespace tarn {

namespace L = DataHeaderLayout;

std::int32_t TDataHeader::ChangeCount() const { return GetLEI32(FBytes, L::ChangeCount); }
std::int32_t TDataHeader::BlobBlockSize() const { return GetLEI32(FBytes, L::BlobBlockSize); }
std::int32_t TDataHeader::FirstFreeRecord() const { return GetLEI32(FBytes, L::FirstFreeRecord); }
std::int32_t TDataHeader::NextRecordNumber() const { return GetLEI32(FBytes, L::NextRecordNumber); }
std::int32_t TDataHeader::LastAutoInc() const { return GetLEI32(FBytes, L::LastAutoInc); }
std::uint16_t TDataHeader::RecordSize() const { return GetLE16(FBytes, L::RecordSize); }
std::uint16_t TDataHeader::FieldCount() const { return GetLE16(FBytes, L::FieldCount); }
std::uint16_t TDataHeader::BlobFieldCount() const { return GetLE16(FBytes, L::BlobFieldCount); }
double TDataHeader::LastUpdated() const { return GetLEDouble(FBytes, L::LastUpdated); }
std::string TDataHeader::RawDescription() const { return GetShortString(FBytes, L::Description, L::MaxDescription); }
std::string TDataHeader::RawPassword() const { return GetShortString(FBytes, L::Password, L::MaxPassword); }
std::int16_t TDataHeader::LanguageId() const { return GetLEI16(FBytes, L::LanguageId); }
std::int16_t TDataHeader::SortId() const { return GetLEI16(FBytes, L::SortId); }
std::int16_t TDataHeader::UserMajorVersion() const { return GetLEI16(FBytes, L::UserMajorVersion); }
std::int16_t TDataHeader::UserMinorVersion() const { return GetLEI16(FBytes, L::UserMinorVersion); }
std::int32_t TDataHeader::LastBlobStamp() const { return GetLEI32(FBytes, L::LastBlobStamp); }
std::int64_t TDataHeader::EngineVersion() const { return GetLEI64(FBytes, L::EngineVersion); }

void TDataHeader::SetChangeCount(std::int32_t v) { PutLEI32(FBytes, L::ChangeCount, v); }
void TDataHeader::SetBlobBlockSize(std::int32_t v) { PutLEI32(FBytes, L::BlobBlockSize, v); }
void TDataHeader::SetFirstFreeRecord(std::int32_t v) { PutLEI32(FBytes, L::FirstFreeRecord, v); }
void TDataHeader::SetNextRecordNumber(std::int32_t v) { PutLEI32(FBytes, L::NextRecordNumber, v); }
void TDataHeader::SetLastAutoInc(std::int32_t v) { PutLEI32(FBytes, L::LastAutoInc, v); }
void TDataHeader::SetRecordSize(std::uint16_t v) { PutLE16(FBytes, L::RecordSize, v); }
void TDataHeader::SetFieldCount(std::uint16_t v) { PutLE16(FBytes, L::FieldCount, v); }
void TDataHeader::SetBlobFieldCount(std::uint16_t v) { PutLE16(FBytes, L::BlobFieldCount, v); }
void TDataHeader::SetLastUpdated(double v) { PutLEDouble(FBytes, L::LastUpdated, v); }
void TDataHeader::SetRawDescription(std::string_view v) { PutShortString(FBytes, L::Description, L::MaxDescription, v); }
void TDataHeader::SetRawPassword(std::string_view v) { PutShortString(FBytes, L::Password, L::MaxPassword, v); }
void TDataHeader::SetLanguageId(std::int16_t v) { PutLEI16(FBytes, L::LanguageId, v); }
void TDataHeader::SetSortId(std::int16_t v) { PutLEI16(FBytes, L::SortId, v); }
void TDataHeader::SetUserMajorVersion(std::int16_t v) { PutLEI16(FBytes, L::UserMajorVersion, v); }
void TDataHeader::SetUserMinorVersion(std::int16_t v) { PutLEI16(FBytes, L::UserMinorVersion, v); }
void TDataHeader::SetLastBlobStamp(std::int32_t v) { PutLEI32(FBytes, L::LastBlobStamp, v); }
void TDataHeader::SetEngineVersion(std::int64_t v) { PutLEI64(FBytes, L::EngineVersion, v); }

}  // namespace tarn
