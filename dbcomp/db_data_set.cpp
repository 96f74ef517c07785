#include "dbcomp/db_data_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dbcomp/blob_stream_host.h"
#include "dbcomp/component_owner.h"
#include "dbcomp/data_source.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/session.h"
#include "dbcomp/session_list.h"
#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/key_def.h"
#include "engine/table/field_types.h"

namespace dbcomp {

namespace {

// The bookmark slot of a record buffer: the longest key of any index.
constexpr int BookmarkSlot = tarn::KeyLimits::MaxKeySize;

bool IsStringType(TFieldType t) { return t == TFieldType::String || t == TFieldType::FixedChar; }

std::string Trim(std::string_view s) { return std::string(tarn::TrimBlanks(s)); }

std::vector<std::string> SplitNames(std::string_view names) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= names.size()) {
    const std::size_t end = names.find(';', start);
    const std::string part = Trim(names.substr(start, end == std::string_view::npos ? names.npos : end - start));
    if (!part.empty()) out.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

TFieldType MapType(const tarn::TFieldDesc& d) {
  using tarn::FieldSubType::AutoInc;
  switch (d.FieldType()) {
    case tarn::FieldType::String:
      return d.FieldSubType() == tarn::FieldSubType::FixedChar ? TFieldType::FixedChar : TFieldType::String;
    case tarn::FieldType::Date: return TFieldType::Date;
    case tarn::FieldType::Blob:
      switch (d.FieldSubType()) {
        case tarn::FieldSubType::Memo: return TFieldType::Memo;
        case tarn::FieldSubType::FormattedMemo: return TFieldType::FmtMemo;
        case tarn::FieldSubType::Graphic: return TFieldType::Graphic;
        case tarn::FieldSubType::TypedBinary: return TFieldType::TypedBinary;
        default: return TFieldType::Blob;
      }
    case tarn::FieldType::Boolean: return TFieldType::Boolean;
    case tarn::FieldType::Int16: return TFieldType::Smallint;
    case tarn::FieldType::Int32: return d.FieldSubType() == AutoInc ? TFieldType::AutoInc : TFieldType::Integer;
    case tarn::FieldType::Float:
      return d.FieldSubType() == tarn::FieldSubType::Money ? TFieldType::Currency : TFieldType::Float;
    case tarn::FieldType::Bcd: return TFieldType::BCD;
    case tarn::FieldType::Bytes: return TFieldType::Bytes;
    case tarn::FieldType::Time: return TFieldType::Time;
    case tarn::FieldType::Timestamp: return TFieldType::DateTime;
    case tarn::FieldType::UInt16: return TFieldType::Word;
    case tarn::FieldType::UInt32: return TFieldType::Integer;
    case tarn::FieldType::VarBytes: return TFieldType::VarBytes;
    case tarn::FieldType::Int64:
    case 19: return TFieldType::Largeint;
    case 20: return TFieldType::ADT;
    case 21: return TFieldType::Array;
    case 22: return TFieldType::Reference;
    case 23: return TFieldType::DataSet;
    default: return TFieldType::Unknown;
  }
}

// A string constant of the expression language.
std::string Quoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

// ------------------------------------------------------------------ basics ----

TTarnDBDataSet::TTarnDBDataSet(TComponentOwner* owner) : FOwner(owner) {
  if (FOwner != nullptr) {
    if (TTarnSession* autoSession = FOwner->AutoSession()) FSessionName = autoSession->SessionName();
    FOwner->AddSessionClient(*this);
  }
}

TTarnDBDataSet::~TTarnDBDataSet() {
  if (FOwner != nullptr) FOwner->RemoveSessionClient(*this);
  if (FDatabase != nullptr) {
    FHoldReasons = 1;
    ReleaseDatabase(static_cast<THoldReason>(1));
  }
}

void TTarnDBDataSet::CheckInactiveDataSet() const {
  if (Active()) DatabaseError(Msg::DataSetOpen, Name());
}

void TTarnDBDataSet::SetDatabaseName(std::string_view name) {
  CheckInactiveDataSet();
  std::string normal = NormalizeName(name);
  // A database held while inactive (a prepared query's statement) belongs
  // to the name it was found by.
  if (FDatabase != nullptr && normal != FDatabaseName) DatabaseError(Msg::DatabaseOpen, Name());
  FDatabaseName = std::move(normal);
  FInMemory = tarn::SameText(FDatabaseName, MemoryDatabaseName);
}

void TTarnDBDataSet::SetSessionName(std::string_view name) {
  CheckInactiveDataSet();
  std::string normal = NormalizeName(name);
  if (FDatabase != nullptr && normal != FSessionName) DatabaseError(Msg::DatabaseOpen, Name());
  FSessionName = std::move(normal);
}

TTarnSession& TTarnDBDataSet::DBSession() const {
  if (FDatabase != nullptr && FDatabase->Session() != nullptr) return *FDatabase->Session();
  return Sessions().GetSession(FSessionName);
}

TTarnDBDataSet::TEngineCall::TEngineCall(const TTarnDBDataSet& dataSet) : FSession(dataSet.DBSession()) {
  FSession.Enter();
}

TTarnDBDataSet::TEngineCall::~TEngineCall() { FSession.Leave(); }

void TTarnDBDataSet::HoldDatabase(THoldReason reason) {
  if (FHoldReasons == 0) {
    TTarnSession& session = Sessions().GetSession(FSessionName);
    TTarnDatabase& database = session.OpenDatabase(FDatabaseName, FOwner);
    FDatabase = &database;
    database.AttachDataSet(*this);
  }
  FHoldReasons |= reason;
}

void TTarnDBDataSet::ReleaseDatabase(THoldReason reason) noexcept {
  if ((FHoldReasons & reason) == 0) return;
  FHoldReasons &= static_cast<std::uint8_t>(~reason);
  if (FHoldReasons != 0 || FDatabase == nullptr) return;
  TTarnDatabase* database = FDatabase;
  FDatabase = nullptr;
  database->DetachDataSet(*this);
  try {
    if (database->Session() != nullptr) database->Session()->CloseDatabase(*database);
  } catch (...) {
    // A database that cannot disconnect stays connected until its session ends.
  }
}

void TTarnDBDataSet::CheckMasterLoop(const TDataSource* source) const {
  // Follow the chain of masters: it must not come back to this dataset.
  const TDataSource* s = source;
  for (int depth = 0; s != nullptr && depth < 64; ++depth) {
    const TDataSet* ds = s->DataSet();
    if (ds == this) DatabaseError(Msg::CircularDataLink, Name());
    const auto* dbDataSet = dynamic_cast<const TTarnDBDataSet*>(ds);
    s = dbDataSet != nullptr ? dbDataSet->MasterDataSource() : nullptr;
  }
}

void TTarnDBDataSet::DatabaseGone() noexcept {
  FLookupCursor.reset();
  FOwnedCursor.reset();
  FCursor = nullptr;
  FDatabase = nullptr;
  FHoldReasons = 0;
}

// ------------------------------------------------------------ open, close ----

TFieldDefs TTarnDBDataSet::ReadFieldDefs(tarn::TDataCursor& cursor) const {
  TFieldDefs defs;
  for (int n = 1; n <= cursor.FieldCount(); ++n) {
    const tarn::TFieldDesc& d = cursor.Field(n);
    if (d.Bytes()[252] != 0) continue;
    TFieldDef def;
    def.Name = d.FieldName();
    def.DataType = MapType(d);
    if (def.DataType == TFieldType::String || def.DataType == TFieldType::FixedChar ||
        def.DataType == TFieldType::Bytes || def.DataType == TFieldType::VarBytes)
      def.Size = d.FieldSize();
    if (def.DataType == TFieldType::BCD) {
      def.Precision = 32;
      def.Size = d.FieldDecimals();
    }
    def.Required = d.FieldRequired();
    def.FieldNo = n;
    // A name already present gets "_1", "_2", ...
    const std::string base = def.Name;
    for (int counter = 1;; ++counter) {
      const bool taken = std::any_of(defs.begin(), defs.end(),
                                     [&](const TFieldDef& other) { return tarn::SameName(other.Name, def.Name); });
      if (!taken) break;
      def.Name = FormatMessage("%s_%d", {base, std::to_string(counter)});
    }
    defs.push_back(std::move(def));
  }
  return defs;
}

std::unique_ptr<tarn::TDataCursor> TTarnDBDataSet::CreateCursor() { return nullptr; }

tarn::TDataCursor* TTarnDBDataSet::OpenHandle() {
  std::unique_ptr<tarn::TDataCursor> cursor = CreateCursor();
  if (!cursor) return nullptr;
  cursor->OpenCursor();
  FOwnedCursor = std::move(cursor);
  return FOwnedCursor.get();
}

bool TTarnDBDataSet::InternalOpen() {
  HoldDatabase(HoldCursor);
  try {
    TEngineCall call(*this);
    tarn::TDataCursor* cursor = OpenHandle();
    if (cursor == nullptr) {
      ReleaseDatabase(HoldCursor);
      return false;
    }
    FCursor = cursor;
    CursorOpened();
    SetFieldDefs(ReadFieldDefs(*FCursor));
    SetRecordLayout(FCursor->RecordSize(), BookmarkSlot);
  } catch (...) {
    InternalClose();
    throw;
  }
  return true;
}

void TTarnDBDataSet::InternalClose() noexcept {
  if (FCursor != nullptr) {
    BeforeCloseHook();
    try {
      TEngineCall call(*this);
      DropFilters();
      FLookupCursor.reset();
      FCursor->FreeBlobs(true);
      // A cursor that belongs to someone else stays open for its owner.
      if (FOwnedCursor) FCursor->CloseCursor(true);
    } catch (...) {
      // The cursor is closed either way (forceClose).
    }
    FCursor = nullptr;
    try {
      TEngineCall call(*this);
      FOwnedCursor.reset();
    } catch (...) {
      FOwnedCursor.reset();
    }
  }
  FLookupCursor.reset();
  FExprFilter = FFuncFilter = nullptr;
  FBlobHosts.clear();
  FModifiedBlobs.clear();
  ReleaseDatabase(HoldCursor);
}

void TTarnDBDataSet::FieldsBoundHook() {
  if (FAutoDisplayLabels) {
    for (std::size_t i = 0; i < FieldCount(); ++i) {
      TField& field = Fields(i);
      if (field.FieldNo() < 1) continue;
      const std::string description = FCursor->Field(field.FieldNo()).FieldDescription();
      if (!description.empty()) field.SetDisplayLabel(description);
    }
  }
  InstallFilters();
}

void TTarnDBDataSet::InternalRefresh() {
  TEngineCall call(*this);
  FCursor->ForceRefresh();
}

// ------------------------------------------------------------ blob streams ----

// What a blob stream needs of its field and this dataset.
class TTarnDBDataSet::TFieldBlobHost : public TBlobStreamHost {
 public:
  TFieldBlobHost(TTarnDBDataSet& dataSet, TField& field) : FDataSet(dataSet), FField(field) {}

  int FieldNo() const override { return FField.FieldNo(); }
  std::string FieldName() const override { return FField.FieldName(); }
  std::string FieldDisplayName() const override { return FField.DisplayName(); }
  bool FieldReadOnly() const override { return FField.ReadOnly(); }
  bool FieldModified() const override { return FDataSet.FModifiedBlobs.count(FField.FieldNo()) != 0; }
  void SetFieldModified() override { FDataSet.FModifiedBlobs.insert(FField.FieldNo()); }
  void NotifyFieldChanged() override {
    if (Editing()) FDataSet.MarkRecordModified();
    FDataSet.DataEvent(TDataEvent::FieldChange, reinterpret_cast<std::intptr_t>(&FField));
  }
  void ReportFieldChangeError(const std::exception_ptr& error) noexcept override {
    try {
      if (FDataSet.OnHandlerError) FDataSet.OnHandlerError(error);
    } catch (...) {
      // Nothing further to report to.
    }
  }
  std::span<std::uint8_t> StateRecordBuffer() override {
    if (!FDataSet.Active() || (FDataSet.State() == TDataSetState::Browse && !FDataSet.HasRecord())) return {};
    return FDataSet.ActiveBuffer();
  }
  bool Editing() const override {
    return FDataSet.State() == TDataSetState::Edit || FDataSet.State() == TDataSetState::Insert;
  }
  bool ShowingOldValues() const override { return false; }
  void Refresh() override {
    if (FDataSet.State() == TDataSetState::Browse) FDataSet.Refresh();
  }
  TBlobAccess& Cursor() override { return FDataSet; }

 private:
  TTarnDBDataSet& FDataSet;
  TField& FField;
};

std::unique_ptr<TTarnBlobStream> TTarnDBDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  if (!Active()) DatabaseError(Msg::DataSetClosed, Name());
  std::unique_ptr<TFieldBlobHost>& host = FBlobHosts[&field];
  if (!host) host = std::make_unique<TFieldBlobHost>(*this, field);
  return std::make_unique<TTarnBlobStream>(*host, mode);
}

// --------------------------------------------------------------- records ----

std::span<const std::uint8_t> TTarnDBDataSet::BookmarkOf(std::span<const std::uint8_t> buffer) const {
  return buffer.subspan(static_cast<std::size_t>(BookmarkOffset()), FCursor->BookmarkSize());
}

void TTarnDBDataSet::FillRecordInfo(std::span<std::uint8_t> buffer) {
  SetRecInfo(buffer, static_cast<std::int32_t>(FCursor->GetSeqNo()), TBookmarkFlag::Current);
  std::span<std::uint8_t> bookmark = buffer.subspan(static_cast<std::size_t>(BookmarkOffset()));
  std::fill(bookmark.begin(), bookmark.end(), std::uint8_t{0});
  FCursor->GetBookmark(bookmark);
}

void TTarnDBDataSet::InternalFirst() {
  TEngineCall call(*this);
  FCursor->SetToBegin();
}

void TTarnDBDataSet::InternalLast() {
  TEngineCall call(*this);
  FCursor->SetToEnd();
}

TGetResult TTarnDBDataSet::GetRecord(std::span<std::uint8_t> buffer, TGetMode mode, bool doCheck) {
  TEngineCall call(*this);
  const std::span<std::uint8_t> record = buffer.first(static_cast<std::size_t>(RecordSize()));
  tarn::TErrorCode code = tarn::TARN_NONE;
  try {
    switch (mode) {
      case TGetMode::Current: code = FCursor->GetCurrentRecord(record); break;
      case TGetMode::Next: code = FCursor->GetNextRecord(record); break;
      case TGetMode::Prior: code = FCursor->GetPriorRecord(record); break;
    }
  } catch (const std::exception&) {
    if (doCheck) throw;
    return TGetResult::Error;
  }
  if (code == tarn::TARN_NONE) {
    FillRecordInfo(buffer);
    return TGetResult::OK;
  }
  if (code == tarn::TARN_BOF) return TGetResult::BeforeFirst;
  if (code == tarn::TARN_EOF) return TGetResult::AfterLast;
  if (doCheck) FCursor->RaiseIfError(code);
  return TGetResult::Error;
}

void TTarnDBDataSet::InternalSetToRecord(std::span<const std::uint8_t> buffer) {
  if (GetBookmarkFlagOf(buffer, RecInfoOffset()) != TBookmarkFlag::Current) return;
  TEngineCall call(*this);
  const std::span<const std::uint8_t> bookmark = BookmarkOf(buffer);
  if (!FCursor->AtBOF() && !FCursor->AtEOF()) {
    std::vector<std::uint8_t> here(FCursor->BookmarkSize());
    FCursor->GetBookmark(here);
    if (std::equal(here.begin(), here.end(), bookmark.begin(), bookmark.end())) return;
  }
  // A record gone meanwhile: the key after it.
  if (!FCursor->SetToBookmark(bookmark, false)) static_cast<void>(FCursor->SetToBookmark(bookmark, true));
}

void TTarnDBDataSet::InternalEdit(std::span<std::uint8_t> buffer) {
  TEngineCall call(*this);
  const tarn::TErrorCode code =
      FCursor->GetCurrentRecord(buffer.first(static_cast<std::size_t>(RecordSize())), true);
  FCursor->RaiseIfError(code);
  FModifiedBlobs.clear();
}

void TTarnDBDataSet::InternalPost(std::span<const std::uint8_t>) {
  TEngineCall call(*this);
  const std::span<std::uint8_t> buffer = ActiveBuffer();
  const std::size_t size = static_cast<std::size_t>(RecordSize());
  // The engine writes into the record it stores (the record identifier); a
  // failed post leaves the dataset's buffer as it was.
  std::vector<std::uint8_t> record(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
  if (State() == TDataSetState::Insert)
    FCursor->InsertRecord(record, true);
  else
    FCursor->ModifyRecord(record, true, true);
  std::copy(record.begin(), record.end(), buffer.begin());
  FillRecordInfo(buffer);
  FModifiedBlobs.clear();
}

void TTarnDBDataSet::InternalCancel(bool wasEditing) {
  TEngineCall call(*this);
  if (wasEditing) FCursor->UnlockCurrentRecord();
  FCursor->FreeBlobs(true);
  FModifiedBlobs.clear();
}

void TTarnDBDataSet::InternalInitRecord(std::span<std::uint8_t> buffer) {
  TEngineCall call(*this);
  const std::span<std::uint8_t> record = buffer.first(static_cast<std::size_t>(RecordSize()));
  FCursor->InitRecord(record);
  if (FCopyOnAppend && HasRecord()) {
    InternalSetToRecord(ActiveBuffer());
    FCursor->RaiseIfError(FCursor->CopyCurrentRecord(record));
  }
  FModifiedBlobs.clear();
}

void TTarnDBDataSet::InternalDelete(std::span<const std::uint8_t> buffer) {
  TEngineCall call(*this);
  FCursor->DeleteRecord(buffer.first(static_cast<std::size_t>(RecordSize())), true);
}

bool TTarnDBDataSet::InternalCanModify() const { return FCursor != nullptr && !FCursor->ReadOnly(); }

std::vector<std::uint8_t> TTarnDBDataSet::NewRecordBuffer() const {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(RecordBufferSize()), 0);
  FCursor->InitRecord(std::span<std::uint8_t>(buffer).first(static_cast<std::size_t>(RecordSize())));
  return buffer;
}

// ---------------------------------------------------------------- fields ----

bool TTarnDBDataSet::ReadRecordField(std::span<const std::uint8_t> buffer, const TField& field,
                                     std::span<std::uint8_t> dest) const {
  const tarn::TFieldRead read = FCursor->GetField(field.FieldNo(), buffer);
  if (read.Blank) return false;
  std::fill(dest.begin(), dest.end(), std::uint8_t{0});
  if (IsStringType(field.DataType())) {
    const std::size_t n = std::min({read.Bytes.size(), dest.size() - 1,
                                    static_cast<std::size_t>(std::find(read.Bytes.begin(), read.Bytes.end(), 0) -
                                                             read.Bytes.begin())});
    std::memcpy(dest.data(), read.Bytes.data(), n);
    return true;
  }
  if (field.DataType() == TFieldType::DateTime && read.Bytes.size() >= 8 && dest.size() >= 8) {
    double ms = 0;
    const std::uint64_t bits = tarn::GetLE64(read.Bytes, 0);
    std::memcpy(&ms, &bits, sizeof ms);
    tarn::PutLEI64(dest, 0, static_cast<std::int64_t>(std::llround(ms)));
    return true;
  }
  std::memcpy(dest.data(), read.Bytes.data(), std::min(read.Bytes.size(), dest.size()));
  return true;
}

void TTarnDBDataSet::WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                                      std::span<const std::uint8_t> src) {
  if (src.empty()) {
    FCursor->PutField(field.FieldNo(), buffer, std::nullopt);
    return;
  }
  if (IsStringType(field.DataType())) {
    const std::size_t n = static_cast<std::size_t>(std::find(src.begin(), src.end(), 0) - src.begin());
    FCursor->PutField(field.FieldNo(), buffer, src.first(n));
    return;
  }
  if (field.DataType() == TFieldType::DateTime && src.size() >= 8) {
    const double ms = static_cast<double>(tarn::GetLEI64(src, 0));
    std::uint64_t bits = 0;
    std::memcpy(&bits, &ms, sizeof bits);
    std::array<std::uint8_t, 8> bytes{};
    tarn::PutLE64(bytes, 0, bits);
    FCursor->PutField(field.FieldNo(), buffer, std::span<const std::uint8_t>(bytes));
    return;
  }
  FCursor->PutField(field.FieldNo(), buffer, src);
}

std::vector<std::uint8_t> TTarnDBDataSet::ReadBlob(std::span<const std::uint8_t> buffer,
                                                   const TField& field) const {
  TEngineCall call(*this);
  // Opening and closing a blob puts a handle into the record and takes it out
  // again: the buffer is the same afterwards.
  const std::span<std::uint8_t> record(const_cast<std::uint8_t*>(buffer.data()), buffer.size());
  std::uint32_t size = 0;
  tarn::TErrorCode code = FCursor->OpenBlob(field.FieldNo(), record, tarn::TDataCursor::TBlobMode::Read, size);
  FCursor->RaiseIfError(code, field.FieldName());
  // The bytes grow to the size plus a quarter when the blob grew meanwhile.
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t count = 0;
  code = FCursor->ReadBlob(field.FieldNo(), record, 0, size, bytes, count);
  const tarn::TErrorCode closed = FCursor->CloseBlob(field.FieldNo(), record);
  if (code != tarn::TARN_NONE && code != tarn::TARN_ENDOFBLOB) FCursor->RaiseIfError(code, field.FieldName());
  FCursor->RaiseIfError(closed, field.FieldName());
  bytes.resize(count);
  return bytes;
}

void TTarnDBDataSet::WriteBlob(std::span<std::uint8_t> buffer, const TField& field,
                               std::span<const std::uint8_t> value, bool isNull) {
  TEngineCall call(*this);
  std::uint32_t size = 0;
  const int fieldNo = field.FieldNo();
  FCursor->RaiseIfError(FCursor->OpenBlob(fieldNo, buffer, tarn::TDataCursor::TBlobMode::Write, size),
                        field.FieldName());
  FCursor->RaiseIfError(FCursor->TruncateBlob(fieldNo, buffer, 0), field.FieldName());
  if (!isNull && !value.empty())
    FCursor->RaiseIfError(FCursor->WriteBlob(fieldNo, buffer, 0, value), field.FieldName());
  // The buffer stays open for the post (opened for writing).
  FCursor->RaiseIfError(FCursor->CloseBlob(fieldNo, buffer), field.FieldName());
  FModifiedBlobs.insert(fieldNo);
}

void TTarnDBDataSet::PutValue(std::span<std::uint8_t> buffer, TField& field, const TFieldValue& value) {
  TTempState filter(*this, TDataSetState::Filter, buffer);
  if (value)
    field.SetAsString(*value);
  else
    field.Clear();
}

std::vector<TField*> TTarnDBDataSet::FieldList(std::string_view names) const {
  std::vector<TField*> fields;
  for (const std::string& name : SplitNames(names)) fields.push_back(&FieldByName(name));
  return fields;
}

// ------------------------------------------------------------ blob access ----

tarn::TErrorCode TTarnDBDataSet::OpenBlob(int fieldNo, std::span<std::uint8_t> record, bool forWrite,
                                          std::uint32_t& size) {
  TEngineCall call(*this);
  try {
    return FCursor->OpenBlob(fieldNo, record,
                             forWrite ? tarn::TDataCursor::TBlobMode::Write : tarn::TDataCursor::TBlobMode::Read,
                             size);
  } catch (const tarn::ETarnEngineError& e) {
    return e.ErrorCode();
  }
}

tarn::TErrorCode TTarnDBDataSet::ReadBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t offset,
                                          std::span<std::uint8_t> dest, std::uint32_t& count) {
  TEngineCall call(*this);
  std::uint32_t size = 0;
  if (FCursor->GetBlobSize(fieldNo, record, size) == tarn::TARN_NONE && offset > size)
    return tarn::TARN_INVALIDBLOBOFFSET;
  return FCursor->ReadBlob(fieldNo, record, offset, static_cast<std::uint32_t>(dest.size()), dest, count);
}

tarn::TErrorCode TTarnDBDataSet::WriteBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t offset,
                                           std::span<const std::uint8_t> source) {
  TEngineCall call(*this);
  return FCursor->WriteBlob(fieldNo, record, offset, source);
}

tarn::TErrorCode TTarnDBDataSet::TruncateBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t size) {
  TEngineCall call(*this);
  return FCursor->TruncateBlob(fieldNo, record, size);
}

tarn::TErrorCode TTarnDBDataSet::GetBlobSize(int fieldNo, std::span<std::uint8_t> record, std::uint32_t& size) {
  TEngineCall call(*this);
  return FCursor->GetBlobSize(fieldNo, record, size);
}

tarn::TErrorCode TTarnDBDataSet::CloseBlob(int fieldNo, std::span<std::uint8_t> record) {
  TEngineCall call(*this);
  return FCursor->CloseBlob(fieldNo, record);
}

void TTarnDBDataSet::RaiseIfError(tarn::TErrorCode code, std::string_view argument) {
  if (code == tarn::TARN_NONE) return;
  TEngineCall call(*this);
  FCursor->RaiseIfError(code, argument);
}

// --------------------------------------------------------------- filters ----

void TTarnDBDataSet::InstallFilters() {
  if (FCursor == nullptr) return;
  TEngineCall call(*this);
  tarn::TFilterOptions options;
  options.CaseInsensitive = FFilterOptions.CaseInsensitive;
  options.NoPartialCompare = FFilterOptions.NoPartialCompare;
  if (!FFilterText.empty() && FExprFilter == nullptr) FExprFilter = &FCursor->AddFilter(FFilterText, options);
  if (FOnFilterRecord && FFuncFilter == nullptr) {
    FFuncFilter = &FCursor->AddFilter(
        tarn::TFilterCallback([this](std::uint32_t, tarn::TExpRecordSource& source) {
          // The record the engine tests, as a record buffer of the dataset.
          FFilterBuffer.assign(static_cast<std::size_t>(RecordBufferSize()), 0);
          const std::span<std::uint8_t> buffer(FFilterBuffer);
          for (int n = 1; n <= FCursor->FieldCount(); ++n) {
            if (FCursor->Field(n).FieldType() == tarn::FieldType::Blob) continue;
            const tarn::TFieldRead read = source.ReadField(static_cast<std::uint16_t>(n));
            if (read.Blank)
              FCursor->PutField(n, buffer, std::nullopt);
            else
              FCursor->PutField(n, buffer, read.Bytes);
          }
          bool accept = true;
          TTempState filter(*this, TDataSetState::Filter, buffer);
          try {
            FOnFilterRecord(*this, accept);
          } catch (...) {
            if (OnHandlerError) OnHandlerError(std::current_exception());
            accept = true;
          }
          return accept;
        }),
        {});
  }
  SetFiltersActive(FFiltered);
}

void TTarnDBDataSet::DropFilters() noexcept {
  try {
    if (FCursor != nullptr) {
      if (FExprFilter != nullptr) FCursor->DropFilter(*FExprFilter);
      if (FFuncFilter != nullptr) FCursor->DropFilter(*FFuncFilter);
    }
  } catch (...) {
    // The cursor frees its filters when it closes.
  }
  FExprFilter = FFuncFilter = nullptr;
}

void TTarnDBDataSet::SetFiltersActive(bool active) {
  if (FCursor == nullptr) return;
  TEngineCall call(*this);
  for (tarn::TFilter* filter : {FExprFilter, FFuncFilter}) {
    if (filter == nullptr) continue;
    if (active)
      FCursor->ActivateFilter(*filter);
    else
      FCursor->DeactivateFilter(*filter);
  }
}

void TTarnDBDataSet::SetFilter(std::string_view text) {
  if (!Active()) {
    FFilterText = std::string(text);
    return;
  }
  CheckBrowseMode();
  {
    TEngineCall call(*this);
    if (FExprFilter != nullptr) FCursor->DropFilter(*FExprFilter);
    FExprFilter = nullptr;
    FFilterText = std::string(text);
    DropLookupCursor();
    InstallFilters();
  }
  First();
}

void TTarnDBDataSet::SetFiltered(bool value) {
  if (!Active()) {
    FFiltered = value;
    return;
  }
  CheckBrowseMode();
  FFiltered = value;
  DropLookupCursor();
  SetFiltersActive(value);
  First();
}

void TTarnDBDataSet::SetFilterOptions(const TFilterOptionsSet& options) {
  FFilterOptions = options;
  if (!Active()) return;
  const std::string text = FFilterText;
  SetFilter(text);
}

void TTarnDBDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (!Active()) {
    FOnFilterRecord = std::move(handler);
    return;
  }
  CheckBrowseMode();
  {
    TEngineCall call(*this);
    if (FFuncFilter != nullptr) FCursor->DropFilter(*FFuncFilter);
    FFuncFilter = nullptr;
    FOnFilterRecord = std::move(handler);
    DropLookupCursor();
    InstallFilters();
  }
  First();
}

bool TTarnDBDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  const bool switched = !FFiltered;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(RecordBufferSize()), 0);
  tarn::TErrorCode code = tarn::TARN_NONE;
  {
    TEngineCall call(*this);
    if (switched) SetFiltersActive(true);
    try {
      if (restart) {
        goForward ? FCursor->SetToBegin() : FCursor->SetToEnd();
      } else {
        InternalSetToRecord(ActiveBuffer());
      }
      const std::span<std::uint8_t> record = std::span<std::uint8_t>(buffer).first(static_cast<std::size_t>(RecordSize()));
      code = goForward ? FCursor->GetNextRecord(record) : FCursor->GetPriorRecord(record);
    } catch (...) {
      if (switched) SetFiltersActive(false);
      throw;
    }
    if (switched) SetFiltersActive(false);
  }
  if (code != tarn::TARN_NONE) return false;
  SyncToStorage();
  return true;
}

bool TTarnDBDataSet::FindFirst() { return FindRecord(true, true); }
bool TTarnDBDataSet::FindNext() { return FindRecord(false, true); }
bool TTarnDBDataSet::FindPrior() { return FindRecord(false, false); }
bool TTarnDBDataSet::FindLast() { return FindRecord(true, false); }

// ---------------------------------------------------- counts, bookmarks ----

std::int64_t TTarnDBDataSet::RecordCount() {
  if (!Active()) DatabaseError(Msg::DataSetClosed, Name());
  TEngineCall call(*this);
  return FCursor->GetRecordCount();
}

std::int64_t TTarnDBDataSet::RecNo() const {
  if (!Active() || IsEmpty() || State() == TDataSetState::Insert) return -1;
  return RecordSequence();
}

void TTarnDBDataSet::SetRecNo(std::int64_t n) {
  CheckBrowseMode();
  {
    TEngineCall call(*this);
    FCursor->SetToSeqNo(n);
  }
  SyncToStorage();
}

TBookmark TTarnDBDataSet::GetBookmark() const {
  if (!Active() || IsEmpty() || BookmarkFlag() != TBookmarkFlag::Current) return {};
  const std::span<const std::uint8_t> bookmark = BookmarkOf(ActiveBuffer());
  return TBookmark(bookmark.begin(), bookmark.end());
}

void TTarnDBDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  bool found = false;
  {
    TEngineCall call(*this);
    found = !bookmark.empty() && FCursor->SetToBookmark(bookmark, false);
  }
  if (!found) tarn::RaiseEngineError(tarn::TARN_RECNOTFOUND, {.Database = FDatabaseName, .Table = Name()});
  SyncToStorage();
}

bool TTarnDBDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!Active() || bookmark.size() != FCursor->BookmarkSize()) return false;
  TEngineCall call(*this);
  std::vector<std::uint8_t> here;
  const bool onRecord = !FCursor->AtBOF() && !FCursor->AtEOF();
  if (onRecord) {
    here.resize(FCursor->BookmarkSize());
    FCursor->GetBookmark(here);
  }
  const bool valid = FCursor->SetToBookmark(bookmark, false);
  if (onRecord) static_cast<void>(FCursor->SetToBookmark(here, true));
  return valid;
}

int TTarnDBDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  return FCursor->CompareBookmarks(a, b);
}

// ------------------------------------------------------- locate, lookup ----

void TTarnDBDataSet::DropLookupCursor() noexcept {
  if (!FLookupCursor) return;
  try {
    TEngineCall call(*this);
    FLookupCursor.reset();
  } catch (...) {
    FLookupCursor.reset();
  }
  FLookupIndex.clear();
}

bool TTarnDBDataSet::IndexFits(const std::vector<TField*>& fields, TLocateOptions options, int indexNo,
                               bool exactly) const {
  const tarn::TIndexDescriptor& d = FCursor->Table().IndexFile().Descriptor(indexNo);
  if (d.FieldCount == 0 || d.FieldCount < fields.size()) return false;
  if (exactly && d.FieldCount != fields.size()) return false;
  bool hasString = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (d.FieldNumbers[i] != fields[i]->FieldNo()) return false;
    if (IsStringType(fields[i]->DataType())) hasString = true;
  }
  return !hasString || d.CaseInsensitive == options.CaseInsensitive;
}

std::optional<std::string> TTarnDBDataSet::LookupIndex(const std::vector<TField*>& fields,
                                                       TLocateOptions options) const {
  const tarn::TIndexFile& file = FCursor->Table().IndexFile();
  for (bool exactly : {true, false}) {
    for (int slot = 0; slot <= file.IndexCount(); ++slot) {
      const tarn::TIndexDescriptor& d = file.Descriptor(slot);
      if (d.Descending) continue;
      if (std::any_of(d.FieldDescending.begin(), d.FieldDescending.begin() + d.FieldCount,
                      [](std::uint8_t b) { return b != 0; }))
        continue;
      if (IndexFits(fields, options, slot, exactly)) return slot == 0 ? std::string() : d.IndexName;
    }
  }
  return std::nullopt;
}

tarn::TDataCursor& TTarnDBDataSet::LookupCursor(const std::string& indexName) {
  if (FLookupCursor && tarn::SameName(FLookupIndex, indexName)) return *FLookupCursor;
  DropLookupCursor();
  auto cursor = std::make_unique<tarn::TDataCursor>(*FDatabase->Handle());
  cursor->SetTableName(FCursor->TableName());
  cursor->SetInMemory(FCursor->InMemory());
  cursor->SetReadOnly(true);
  cursor->SetPasswordCallback(&TTarnSession::PasswordCallback, &DBSession());
  cursor->OpenCursor();
  cursor->SwitchToIndex(indexName);
  FLookupCursor = std::move(cursor);
  FLookupIndex = indexName;
  return *FLookupCursor;
}

std::string TTarnDBDataSet::LocateExpression(const std::vector<TField*>& fields, const TFieldValues& values,
                                             TLocateOptions options) const {
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!text.empty()) text += " AND ";
    std::string name = fields[i]->FieldName();
    text += "[" + name + "]";
    const TFieldValue& value = values[i];
    if (!value || (IsStringType(fields[i]->DataType()) && value->empty())) {
      text += " IS NULL";
      continue;
    }
    if (IsStringType(fields[i]->DataType()) || fields[i]->DataType() == TFieldType::Date ||
        fields[i]->DataType() == TFieldType::Time || fields[i]->DataType() == TFieldType::DateTime) {
      const bool partial = options.PartialKey && i + 1 == fields.size() && IsStringType(fields[i]->DataType());
      text += " = " + Quoted(*value + (partial ? "*" : ""));
    } else if (fields[i]->DataType() == TFieldType::Boolean) {
      const bool truth = *value == "True" || *value == "true" || *value == "T" || *value == "1";
      text += truth ? " = TRUE" : " = FALSE";
    } else {
      text += " = " + *value;
    }
  }
  return text;
}

bool TTarnDBDataSet::LocateByFilter(const std::vector<TField*>& fields, const TFieldValues& values,
                                    TLocateOptions options, std::vector<std::uint8_t>& buffer) {
  TEngineCall call(*this);
  tarn::TFilterOptions filterOptions;
  filterOptions.CaseInsensitive = options.CaseInsensitive;
  // Partial compare only where the expression asks for it (a trailing "*").
  filterOptions.NoPartialCompare = !options.PartialKey;
  tarn::TFilter& filter = FCursor->AddFilter(LocateExpression(fields, values, options), filterOptions);
  tarn::TErrorCode code = tarn::TARN_EOF;
  try {
    FCursor->ActivateFilter(filter);
    FCursor->SetToBegin();
    code = FCursor->GetNextRecord(std::span<std::uint8_t>(buffer).first(static_cast<std::size_t>(RecordSize())));
    if (code == tarn::TARN_NONE) FillRecordInfo(buffer);
  } catch (...) {
    FCursor->DropFilter(filter);
    throw;
  }
  FCursor->DropFilter(filter);
  return code == tarn::TARN_NONE;
}

bool TTarnDBDataSet::LocateRecord(std::string_view keyFields, const TFieldValues& values, TLocateOptions options,
                                  bool syncCursor, std::vector<std::uint8_t>& buffer) {
  CheckBrowseMode();
  const std::vector<TField*> fields = FieldList(keyFields);
  if (fields.empty() || values.size() < fields.size())
    DatabaseError(FormatMessage(Msg::FieldNotFound, {keyFields}), Name());
  for (TField* f : fields)
    if (f->Calculated()) return LocateByFilter(fields, values, options, buffer);
  TEngineCall call(*this);
  buffer = NewRecordBuffer();
  for (std::size_t i = 0; i < fields.size(); ++i) PutValue(buffer, *fields[i], values[i]);

  // The comparison length of a partial last string field.
  int fieldCount = static_cast<int>(fields.size());
  int partialLength = 0;
  TField& last = *fields.back();
  if (options.PartialKey && IsStringType(last.DataType()) && values.back() && !values.back()->empty()) {
    fieldCount -= 1;
    partialLength = static_cast<int>(std::min<std::size_t>(values.back()->size(), static_cast<std::size_t>(last.Size())));
  }
  const std::span<std::uint8_t> record = std::span<std::uint8_t>(buffer).first(static_cast<std::size_t>(RecordSize()));
  const bool ownIndex = !FCursor->InNaturalOrder() && IndexFits(fields, options, FCursor->IndexNo(), false);
  if (ownIndex) {
    const bool found = FCursor->SetToKey(false, record, fieldCount, partialLength, false, record);
    if (found) FillRecordInfo(buffer);
    if (!syncCursor && HasRecord()) InternalSetToRecord(ActiveBuffer());
    return found;
  }
  // A lookup cursor sees neither a range nor the filters: it serves only a
  // view without them. A table open exclusively admits no second cursor.
  const bool plainView = !FCursor->RangeActive() && !(FFiltered && (FExprFilter || FFuncFilter)) &&
                         !FCursor->Exclusive();
  const std::optional<std::string> index = plainView ? LookupIndex(fields, options) : std::nullopt;
  if (!index) return LocateByFilter(fields, values, options, buffer);
  tarn::TDataCursor& lookup = LookupCursor(*index);
  if (!lookup.SetToKey(false, record, fieldCount, partialLength, false, record)) return false;
  if (syncCursor) {
    FCursor->RaiseIfError(FCursor->SetToCursor(lookup));
    FillRecordInfo(buffer);
  }
  return true;
}

bool TTarnDBDataSet::Locate(std::string_view keyFields, const TFieldValues& values, TLocateOptions options) {
  std::vector<std::uint8_t> buffer;
  if (!LocateRecord(keyFields, values, options, true, buffer)) return false;
  SyncToStorage();
  return true;
}

std::optional<TFieldValues> TTarnDBDataSet::Lookup(std::string_view keyFields, const TFieldValues& values,
                                                   std::string_view resultFields) {
  std::vector<std::uint8_t> buffer;
  const bool found = LocateRecord(keyFields, values, {}, false, buffer);
  if (HasRecord()) InternalSetToRecord(ActiveBuffer());
  if (!found) return std::nullopt;
  const std::vector<TField*> results = FieldList(resultFields);
  GetCalcFields(buffer);
  TFieldValues out;
  {
    TTempState filter(*this, TDataSetState::Filter, buffer);
    for (TField* f : results) {
      if (f->IsNull())
        out.emplace_back(std::nullopt);
      else
        out.emplace_back(f->AsString());
    }
  }
  return out;
}

}  // namespace dbcomp
