#include "dbcomp/memory_data_set.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "dbcomp/db_consts.h"
#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"

namespace dbcomp {

namespace {

// Bytes of a field's native value (field.h); 0 for blobs.
int NativeSize(const TFieldDef& def) {
  switch (def.DataType) {
    case TFieldType::String:
    case TFieldType::FixedChar:
      return def.Size + 1;
    case TFieldType::Smallint:
    case TFieldType::Word:
    case TFieldType::Boolean:
      return 2;
    case TFieldType::Integer:
    case TFieldType::AutoInc:
    case TFieldType::Date:
    case TFieldType::Time:
      return 4;
    case TFieldType::Largeint:
    case TFieldType::Float:
    case TFieldType::Currency:
    case TFieldType::DateTime:
      return 8;
    case TFieldType::Bytes:
    case TFieldType::VarBytes:
      return def.Size;
    default:
      return 0;
  }
}

}  // namespace

TMemoryDataSet::TMemoryDataSet(TFieldDefs defs) { SetDefinitions(std::move(defs)); }

TMemoryDataSet::~TMemoryDataSet() { CloseNoThrow(); }

void TMemoryDataSet::SetDefinitions(TFieldDefs defs) {
  if (Active()) DatabaseError(Msg::DataSetOpen, Name());
  FOffsets.clear();
  FRecordBytes = 0;
  for (std::size_t i = 0; i < defs.size(); ++i) {
    defs[i].FieldNo = static_cast<int>(i) + 1;
    FOffsets.push_back(FRecordBytes);
    if (!IsBlobType(defs[i].DataType)) FRecordBytes += 1 + NativeSize(defs[i]);
  }
  FRows.clear();
  SetFieldDefs(std::move(defs));
}

int TMemoryDataSet::FieldOffset(int fieldNo) const { return FOffsets.at(static_cast<std::size_t>(fieldNo - 1)); }

void TMemoryDataSet::AppendRow(const TRowValues& values) {
  const TFieldDefs& defs = FieldDefs();
  TRow row;
  row.Record.assign(static_cast<std::size_t>(FRecordBytes), 0);
  for (std::size_t i = 0; i < defs.size() && i < values.size(); ++i) {
    if (!values[i]) continue;
    const TFieldDef& def = defs[i];
    const std::string& text = *values[i];
    if (IsBlobType(def.DataType)) {
      row.Blobs[def.FieldNo] = std::vector<std::uint8_t>(text.begin(), text.end());
      continue;
    }
    std::span<std::uint8_t> value(row.Record.data() + FOffsets[i] + 1, static_cast<std::size_t>(NativeSize(def)));
    row.Record[static_cast<std::size_t>(FOffsets[i])] = 1;
    switch (def.DataType) {
      case TFieldType::String:
      case TFieldType::FixedChar:
      case TFieldType::Bytes:
      case TFieldType::VarBytes:
        std::memcpy(value.data(), text.data(), std::min(text.size(), static_cast<std::size_t>(def.Size)));
        break;
      case TFieldType::Smallint:
      case TFieldType::Word:
        tarn::PutLE16(value, 0, static_cast<std::uint16_t>(std::stol(text)));
        break;
      case TFieldType::Boolean:
        tarn::PutLE16(value, 0, text == "True" || text == "T" || text == "1" ? 1 : 0);
        break;
      case TFieldType::Integer:
      case TFieldType::AutoInc:
      case TFieldType::Date:
      case TFieldType::Time:
        tarn::PutLEI32(value, 0, static_cast<std::int32_t>(std::stol(text)));
        break;
      case TFieldType::Largeint:
      case TFieldType::DateTime:
        tarn::PutLEI64(value, 0, std::stoll(text));
        break;
      case TFieldType::Float:
      case TFieldType::Currency: {
        double d = std::stod(text);
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        tarn::PutLE64(value, 0, bits);
        break;
      }
      default:
        break;
    }
  }
  FRows.push_back(std::move(row));
}

std::optional<std::string> TMemoryDataSet::RowValue(std::size_t rowNo, std::string_view fieldName) const {
  const TFieldDefs& defs = FieldDefs();
  const TRow& row = FRows.at(rowNo);
  for (std::size_t i = 0; i < defs.size(); ++i) {
    const TFieldDef& def = defs[i];
    if (!tarn::SameText(def.Name, fieldName)) continue;
    if (IsBlobType(def.DataType)) {
      auto it = row.Blobs.find(def.FieldNo);
      if (it == row.Blobs.end()) return std::nullopt;
      return std::string(it->second.begin(), it->second.end());
    }
    const std::size_t at = static_cast<std::size_t>(FOffsets[i]);
    if (row.Record[at] == 0) return std::nullopt;
    std::span<const std::uint8_t> value(row.Record.data() + at + 1, static_cast<std::size_t>(NativeSize(def)));
    switch (def.DataType) {
      case TFieldType::String:
      case TFieldType::FixedChar: {
        const char* p = reinterpret_cast<const char*>(value.data());
        return std::string(p, strnlen(p, static_cast<std::size_t>(def.Size)));
      }
      case TFieldType::Smallint: return std::to_string(tarn::GetLEI16(value, 0));
      case TFieldType::Word: return std::to_string(tarn::GetLE16(value, 0));
      case TFieldType::Boolean: return tarn::GetLE16(value, 0) ? "True" : "False";
      case TFieldType::Integer:
      case TFieldType::AutoInc:
      case TFieldType::Date:
      case TFieldType::Time:
        return std::to_string(tarn::GetLEI32(value, 0));
      case TFieldType::Largeint:
      case TFieldType::DateTime:
        return std::to_string(tarn::GetLEI64(value, 0));
      default:
        return std::string(value.begin(), value.end());
    }
  }
  DatabaseError(FormatMessage(Msg::FieldNotFound, {fieldName}), Name());
}

void TMemoryDataSet::SetKey() {
  CheckBrowseMode();
  FKeyBuffer.assign(static_cast<std::size_t>(RecordBufferSize()), 0);
  SetState(TDataSetState::SetKey);
}

bool TMemoryDataSet::InternalOpen() {
  if (FNoHandle) return false;
  SetRecordLayout(FRecordBytes, 4);
  FCursor = -1;
  FEditBlobs.clear();
  return true;
}

void TMemoryDataSet::InternalClose() noexcept {
  FCursor = -1;
  FEditBlobs.clear();
  FLocks.clear();
  FKeyBuffer.clear();
}

void TMemoryDataSet::InternalFirst() { FCursor = -1; }

void TMemoryDataSet::InternalLast() { FCursor = static_cast<std::ptrdiff_t>(FRows.size()); }

void TMemoryDataSet::FillBuffer(std::span<std::uint8_t> buffer, std::size_t row) const {
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  std::copy(FRows[row].Record.begin(), FRows[row].Record.end(), buffer.begin());
  SetRecInfo(buffer, static_cast<std::int32_t>(row) + 1, TBookmarkFlag::Current);
  tarn::PutLE32(buffer, static_cast<std::size_t>(BookmarkOffset()), static_cast<std::uint32_t>(row));
}

std::size_t TMemoryDataSet::RowOf(std::span<const std::uint8_t> buffer) const {
  return tarn::GetLE32(buffer, static_cast<std::size_t>(BookmarkOffset()));
}

TGetResult TMemoryDataSet::GetRecord(std::span<std::uint8_t> buffer, TGetMode mode, bool doCheck) {
  if (FFailRead != 0) {
    std::uint16_t code = FFailRead;
    FFailRead = 0;
    if (doCheck) tarn::RaiseEngineError(code, {.Table = Name()});
    return TGetResult::Error;
  }
  const auto count = static_cast<std::ptrdiff_t>(FRows.size());
  switch (mode) {
    case TGetMode::Current:
      if (FCursor < 0) return TGetResult::BeforeFirst;
      if (FCursor >= count) return TGetResult::AfterLast;
      break;
    case TGetMode::Next:
      if (FCursor + 1 >= count) {
        FCursor = count;
        return TGetResult::AfterLast;
      }
      ++FCursor;
      break;
    case TGetMode::Prior:
      if (FCursor > count) FCursor = count;
      if (FCursor - 1 < 0) {
        FCursor = -1;
        return TGetResult::BeforeFirst;
      }
      --FCursor;
      break;
  }
  FillBuffer(buffer, static_cast<std::size_t>(FCursor));
  return TGetResult::OK;
}

void TMemoryDataSet::InternalSetToRecord(std::span<const std::uint8_t> buffer) {
  FCursor = static_cast<std::ptrdiff_t>(RowOf(buffer));
}

void TMemoryDataSet::InternalEdit(std::span<std::uint8_t> buffer) {
  if (FFailEdit != 0) {
    std::uint16_t code = FFailEdit;
    FFailEdit = 0;
    tarn::RaiseEngineError(code, {.Table = Name()});
  }
  if (FCursor < 0 || FCursor >= static_cast<std::ptrdiff_t>(FRows.size()))
    tarn::RaiseEngineError(tarn::TARN_NOCURRREC, {.Table = Name()});
  const auto row = static_cast<std::size_t>(FCursor);
  FillBuffer(buffer, row);
  FLocks.insert(row);
  FEditBlobs.clear();
}

void TMemoryDataSet::InternalPost(std::span<const std::uint8_t> buffer) {
  if (FFailPost != 0) {
    std::uint16_t code = FFailPost;
    FFailPost = 0;
    tarn::RaiseEngineError(code, {.Table = Name()});
  }
  const std::size_t row = RowOf(buffer);
  if (row >= FRows.size()) tarn::RaiseEngineError(tarn::TARN_NOCURRREC, {.Table = Name()});
  std::copy(buffer.begin(), buffer.begin() + FRecordBytes, FRows[row].Record.begin());
  for (auto& [fieldNo, value] : FEditBlobs) {
    if (value)
      FRows[row].Blobs[fieldNo] = std::move(*value);
    else
      FRows[row].Blobs.erase(fieldNo);
  }
  FEditBlobs.clear();
  FLocks.erase(row);
  ++FPostCount;
}

void TMemoryDataSet::InternalCancel(bool wasEditing) {
  if (wasEditing) FLocks.erase(RowOf(ActiveBuffer()));
  FEditBlobs.clear();
}

bool TMemoryDataSet::ReadRecordField(std::span<const std::uint8_t> buffer, const TField& field,
                                     std::span<std::uint8_t> dest) const {
  const std::size_t at = static_cast<std::size_t>(FieldOffset(field.FieldNo()));
  if (buffer[at] == 0) return false;
  const std::size_t size = static_cast<std::size_t>(field.DataSize());
  std::memcpy(dest.data(), buffer.data() + at + 1, size);
  return true;
}

void TMemoryDataSet::WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                                      std::span<const std::uint8_t> src) {
  const std::size_t at = static_cast<std::size_t>(FieldOffset(field.FieldNo()));
  const std::size_t size = static_cast<std::size_t>(field.DataSize());
  buffer[at] = src.empty() ? 0 : 1;
  if (src.empty())
    std::memset(buffer.data() + at + 1, 0, size);
  else
    std::memcpy(buffer.data() + at + 1, src.data(), size);
}

std::vector<std::uint8_t> TMemoryDataSet::ReadBlob(std::span<const std::uint8_t> buffer,
                                                   const TField& field) const {
  if (buffer.data() == ActiveBuffer().data()) {
    auto edited = FEditBlobs.find(field.FieldNo());
    if (edited != FEditBlobs.end()) return edited->second.value_or(std::vector<std::uint8_t>{});
  }
  const std::size_t row = RowOf(buffer);
  if (row >= FRows.size()) return {};
  auto it = FRows[row].Blobs.find(field.FieldNo());
  return it == FRows[row].Blobs.end() ? std::vector<std::uint8_t>{} : it->second;
}

void TMemoryDataSet::WriteBlob(std::span<std::uint8_t>, const TField& field, std::span<const std::uint8_t> value,
                               bool isNull) {
  if (isNull)
    FEditBlobs[field.FieldNo()] = std::nullopt;
  else
    FEditBlobs[field.FieldNo()] = std::vector<std::uint8_t>(value.begin(), value.end());
}

bool TMemoryDataSet::IsIndexField(const TField& field) const {
  for (const std::string& name : FIndexFields) {
    if (tarn::SameText(name, field.FieldName())) return true;
  }
  return false;
}

}  // namespace dbcomp
