#include "dbcomp/data_set.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbcomp/data_source.h"
#include "dbcomp/db_consts.h"
#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"

namespace dbcomp {

namespace {

bool IsEditOrInsert(TDataSetState s) { return s == TDataSetState::Edit || s == TDataSetState::Insert; }

bool TypesCompatible(TFieldType field, TFieldType def) {
  if (field == def) return true;
  // A string field reads fixed-length strings; a blob field reads every kind
  // of blob (memo, formatted memo, graphic, ...) as bytes.
  auto stringLike = [](TFieldType t) { return t == TFieldType::String || t == TFieldType::FixedChar; };
  return (stringLike(field) && stringLike(def)) || (field == TFieldType::Blob && IsBlobType(def));
}

}  // namespace

TDataSet::TDataSet() : FState(TDataSetState::Inactive) {}

TDataSet::~TDataSet() {
  // A concrete dataset closes itself in its own destructor (CloseNoThrow);
  // here only what this class owns is given back.
  if (Active()) {
    FState = TDataSetState::Inactive;
    UnbindFields();
  }
  DetachFromSources();
}

// ------------------------------------------------------------ open and close

void TDataSet::Open() {
  if (Active()) return;
  try {
    if (!InternalOpen()) DatabaseError(Msg::HandleError);
    BindFields();
    const std::size_t size = static_cast<std::size_t>(RecordBufferSize());
    FActiveStorage.assign(size, 0);
    FOldBuffer.assign(size, 0);
    FCalcStorage.assign(size, 0);
    FActiveBuffer = FActiveStorage;
    FRecordModified = false;
    FieldsBoundHook();
    ReadFirst();
  } catch (...) {
    UnbindFields();
    FActiveStorage.clear();
    FOldBuffer.clear();
    FCalcStorage.clear();
    FActiveBuffer = {};
    FHasRecord = false;
    InternalClose();
    throw;
  }
  SetState(TDataSetState::Browse);
  assert(CheckInvariants());
}

void TDataSet::Close() {
  if (!Active()) return;
  CheckBrowseMode();  // a failed post leaves the dataset open in edit state
  try {
    SetState(TDataSetState::Inactive);
  } catch (...) {
    CloseNoThrow();
    throw;
  }
  CloseNoThrow();
}

void TDataSet::CloseNoThrow() noexcept {
  if (FState != TDataSetState::Inactive) {
    try {
      CheckBrowseMode();
    } catch (...) {
      try {
        Cancel();
      } catch (...) {
        // Nothing more can be done for the record: the storage is closed below.
      }
    }
    FState = TDataSetState::Inactive;
    FRecordModified = false;
    try {
      DataEvent(TDataEvent::UpdateState);
    } catch (...) {
      // Controls that fail while their dataset closes keep their last view.
    }
  }
  if (!FActiveStorage.empty()) {
    FActiveStorage.clear();
    FOldBuffer.clear();
    FCalcStorage.clear();
    FActiveBuffer = {};
    FHasRecord = false;
    FAtBeginning = FAtEnd = false;
    UnbindFields();
    InternalClose();
  }
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(Msg::DataSetClosed);
}

void TDataSet::BindFields() {
  FCalcFieldsSize = 0;
  if (FHasPersistentFields) {
    for (auto& owned : FOwnedFields) {
      TField& f = *owned;
      f.FDataSet = this;
      if (f.Calculated()) {
        f.FFieldNo = 0;
        continue;
      }
      auto def = std::find_if(FFieldDefs.begin(), FFieldDefs.end(),
                              [&](const TFieldDef& d) { return tarn::SameName(d.Name, f.FieldName()); });
      if (def == FFieldDefs.end()) DatabaseError(FormatMessage(Msg::FieldNotFound, {f.FieldName()}), FName);
      if (!TypesCompatible(f.DataType(), def->DataType))
        DatabaseError(FormatMessage(Msg::FieldTypeMismatch,
                                    {f.FieldName(), FieldTypeName(f.DataType()), FieldTypeName(def->DataType)}),
                      FName);
      if ((f.DataType() == TFieldType::String || f.DataType() == TFieldType::FixedChar ||
           f.DataType() == TFieldType::Bytes || f.DataType() == TFieldType::VarBytes) &&
          f.Size() != def->Size)
        DatabaseError(FormatMessage(Msg::FieldSizeMismatch,
                                    {f.FieldName(), std::to_string(f.Size()), std::to_string(def->Size)}),
                      FName);
      f.FFieldNo = def->FieldNo;
    }
  } else {
    FFields.clear();
    for (const TFieldDef& def : FFieldDefs) {
      std::unique_ptr<TField> f = CreateField(def);
      f->FFieldNo = def.FieldNo;
      f->FRequired = def.Required;
      f->FDataSet = this;
      FFields.push_back(f.get());
      FOwnedFields.push_back(std::move(f));
    }
  }
  for (TField* f : FFields) {
    if (!f->Calculated()) continue;
    f->FCalcOffset = FCalcFieldsSize;
    FCalcFieldsSize += 1 + f->DataSize();
  }
}

void TDataSet::UnbindFields() noexcept {
  if (FHasPersistentFields) {
    for (auto& owned : FOwnedFields) owned->FFieldNo = 0;
    return;
  }
  FFields.clear();
  FOwnedFields.clear();
}

// ------------------------------------------------------------ fields

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* f : FFields)
    if (tarn::SameName(f->FieldName(), name)) return f;
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseError(FormatMessage(Msg::FieldNotFound, {name}), FName);
  return *f;
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  if (Active()) DatabaseError(Msg::DataSetOpen, FName);
  if (FindField(field->FieldName()) != nullptr)
    DatabaseError(FormatMessage(Msg::DuplicateFieldName, {field->FieldName()}), FName);
  if (!FHasPersistentFields) {
    FFields.clear();
    FOwnedFields.clear();
  }
  FHasPersistentFields = true;
  field->FPersistent = true;
  field->FDataSet = this;
  TField& ref = *field;
  FFields.push_back(field.get());
  FOwnedFields.push_back(std::move(field));
  return ref;
}

void TDataSet::ClearFields() {
  if (Active()) DatabaseError(Msg::DataSetOpen, FName);
  FFields.clear();
  FOwnedFields.clear();
  FHasPersistentFields = false;
}

std::span<std::uint8_t> TDataSet::StateBuffer() const {
  switch (FState) {
    case TDataSetState::Browse:
    case TDataSetState::Edit:
    case TDataSetState::Insert:
      return FActiveBuffer;
    case TDataSetState::SetKey:
      return const_cast<TDataSet*>(this)->KeyBuffer();
    case TDataSetState::CalcFields:
    case TDataSetState::Filter:
    case TDataSetState::NewValue:
    case TDataSetState::InternalCalc:
      return FTempBuffer;
    case TDataSetState::Inactive:
      break;
  }
  return {};
}

bool TDataSet::GetFieldData(const TField& field, std::span<std::uint8_t> dest) const {
  if (!Active()) return false;
  if (FState == TDataSetState::Browse && !FHasRecord) return false;
  std::span<std::uint8_t> buffer = StateBuffer();
  if (buffer.empty()) return false;
  const std::size_t size = static_cast<std::size_t>(field.DataSize());
  if (dest.size() < size) return false;
  if (field.Calculated()) {
    const std::size_t at = static_cast<std::size_t>(FRecordSize + field.FCalcOffset);
    if (at + 1 + size > buffer.size() || buffer[at] == 0) return false;
    std::memcpy(dest.data(), buffer.data() + at + 1, size);
    return true;
  }
  return ReadRecordField(buffer, field, dest);
}

void TDataSet::SetFieldData(TField& field, std::span<const std::uint8_t> src) {
  // 1. The state must allow writes.
  switch (FState) {
    case TDataSetState::Edit:
    case TDataSetState::Insert:
    case TDataSetState::SetKey:
    case TDataSetState::CalcFields:
    case TDataSetState::Filter:
    case TDataSetState::NewValue:
    case TDataSetState::InternalCalc:
      break;
    default:
      DatabaseError(Msg::NotEditing);
  }
  // 2. Key fields only while a key is being built.
  if (FState == TDataSetState::SetKey &&
      (field.Calculated() || (IndexHasKeyFields() && !IsIndexField(field))))
    DatabaseError(FormatMessage(Msg::NotIndexField, {field.DisplayName()}));
  std::span<std::uint8_t> buffer = StateBuffer();
  const std::size_t size = static_cast<std::size_t>(field.DataSize());
  if (!src.empty() && src.size() < size) DatabaseError(Msg::NotEditing);
  if (field.Calculated()) {
    // 3. Has-value byte and value in the calculated-field area.
    const std::size_t at = static_cast<std::size_t>(FRecordSize + field.FCalcOffset);
    if (at + 1 + size > buffer.size()) DatabaseError(Msg::NotEditing);
    buffer[at] = src.empty() ? 0 : 1;
    if (src.empty())
      std::memset(buffer.data() + at + 1, 0, size);
    else
      std::memcpy(buffer.data() + at + 1, src.data(), size);
  } else {
    // 4. A table field.
    if (FState == TDataSetState::CalcFields) DatabaseError(Msg::NotEditing);
    if (field.ReadOnly() && FState != TDataSetState::SetKey && FState != TDataSetState::Filter)
      DatabaseError(FormatMessage(Msg::FieldReadOnly, {field.DisplayName()}));
    if (field.OnValidate) field.OnValidate(field, src);
    WriteRecordField(buffer, field, src);
  }
  // 5. Notify and mark the record modified.
  if (FState != TDataSetState::CalcFields && FState != TDataSetState::Filter &&
      FState != TDataSetState::NewValue) {
    FRecordModified = true;
    DataEvent(TDataEvent::FieldChange, reinterpret_cast<std::intptr_t>(&field));
  }
  if (field.OnChange) field.OnChange(field);
}

std::vector<std::uint8_t> TDataSet::GetBlobData(const TField& field) const {
  if (!Active()) return {};
  if (FState == TDataSetState::Browse && !FHasRecord) return {};
  std::span<std::uint8_t> buffer = StateBuffer();
  if (buffer.empty()) return {};
  return ReadBlob(buffer, field);
}

void TDataSet::SetBlobData(TField& field, std::span<const std::uint8_t> value, bool isNull) {
  if (!IsEditOrInsert(FState)) DatabaseError(Msg::NotEditing);
  if (field.ReadOnly()) DatabaseError(FormatMessage(Msg::FieldReadOnly, {field.DisplayName()}));
  if (field.OnValidate) field.OnValidate(field, isNull ? std::span<const std::uint8_t>{} : value);
  WriteBlob(FActiveBuffer, field, value, isNull);
  FRecordModified = true;
  DataEvent(TDataEvent::FieldChange, reinterpret_cast<std::intptr_t>(&field));
  if (field.OnChange) field.OnChange(field);
}

// ------------------------------------------------------------ navigation

bool TDataSet::IsEmpty() const noexcept { return !Active() || !FHasRecord; }

void TDataSet::ClearActiveBuffer() {
  std::fill(FActiveStorage.begin(), FActiveStorage.end(), std::uint8_t{0});
  FHasRecord = false;
}

void TDataSet::ReadFirst() {
  InternalFirst();
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Next, true);
  if (r == TGetResult::Error) tarn::RaiseErrorCode(tarn::LastErrorCode());
  if (r == TGetResult::OK) {
    FActiveStorage = std::move(scratch);
    FActiveBuffer = FActiveStorage;
    FHasRecord = true;
    GetCalcFields(FActiveBuffer);
    FAtBeginning = true;
    FAtEnd = false;
  } else {
    ClearActiveBuffer();
    FAtBeginning = true;
    FAtEnd = true;
  }
}

void TDataSet::First() {
  CheckBrowseMode();
  ReadFirst();
  DataEvent(TDataEvent::DataSetChange);
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::Last() {
  CheckBrowseMode();
  InternalLast();
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Prior, true);
  if (r == TGetResult::Error) tarn::RaiseErrorCode(tarn::LastErrorCode());
  if (r == TGetResult::OK) {
    std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
    FHasRecord = true;
    GetCalcFields(FActiveBuffer);
    FAtBeginning = false;
    FAtEnd = true;
  } else {
    ClearActiveBuffer();
    FAtBeginning = true;
    FAtEnd = true;
  }
  DataEvent(TDataEvent::DataSetChange);
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::Next() {
  CheckBrowseMode();
  if (FAtEnd || !FHasRecord) {
    FAtEnd = true;
    return;
  }
  InternalSetToRecord(FActiveBuffer);
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Next, true);
  if (r == TGetResult::Error) tarn::RaiseErrorCode(tarn::LastErrorCode());
  if (r != TGetResult::OK) {
    FAtEnd = true;  // the current record stays
    return;
  }
  std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
  GetCalcFields(FActiveBuffer);
  FAtBeginning = false;
  FAtEnd = false;
  DataEvent(TDataEvent::DataSetScroll, 1);
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::Prior() {
  CheckBrowseMode();
  if (FAtBeginning || !FHasRecord) {
    FAtBeginning = true;
    return;
  }
  InternalSetToRecord(FActiveBuffer);
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Prior, true);
  if (r == TGetResult::Error) tarn::RaiseErrorCode(tarn::LastErrorCode());
  if (r != TGetResult::OK) {
    FAtBeginning = true;
    return;
  }
  std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
  GetCalcFields(FActiveBuffer);
  FAtBeginning = false;
  FAtEnd = false;
  DataEvent(TDataEvent::DataSetScroll, -1);
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::ResyncCurrent() {
  if (!FHasRecord) return;
  InternalSetToRecord(FActiveBuffer);
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Current, false);
  if (r == TGetResult::OK) {
    std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
    GetCalcFields(FActiveBuffer);
    return;
  }
  // The record is gone: stand on the next one, else the prior one.
  r = GetRecord(scratch, TGetMode::Next, true);
  if (r != TGetResult::OK) r = GetRecord(scratch, TGetMode::Prior, true);
  if (r == TGetResult::OK) {
    std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
    GetCalcFields(FActiveBuffer);
  } else {
    ClearActiveBuffer();
    FAtBeginning = FAtEnd = true;
  }
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  InternalRefresh();
  ResyncCurrent();
  DataEvent(TDataEvent::DataSetChange);
}

// ------------------------------------------------------------ editing

bool TDataSet::CanModify() const { return InternalCanModify(); }

void TDataSet::Edit() {
  if (IsEditOrInsert(FState)) return;
  CheckActive();
  if (FState != TDataSetState::Browse) CheckBrowseMode();
  if (!CanModify()) DatabaseError(Msg::DataSetReadOnly);
  if (!FHasRecord) DatabaseError(Msg::DataSetEmpty);
  InternalSetToRecord(FActiveBuffer);
  std::vector<std::uint8_t> scratch(FActiveStorage.begin(), FActiveStorage.end());
  InternalEdit(scratch);  // raises: still browsing, buffer untouched
  std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
  GetCalcFields(FActiveBuffer);
  FOldBuffer = FActiveStorage;
  SetState(TDataSetState::Edit);
  DataEvent(TDataEvent::RecordChange, 0);
  assert(CheckInvariants());
}

void TDataSet::Insert() {
  CheckBrowseMode();
  if (!CanModify()) DatabaseError(Msg::DataSetReadOnly);
  FOldBuffer = FActiveStorage;
  FInsertHadRecord = FHasRecord;
  std::vector<std::uint8_t> fresh(FActiveStorage.size(), 0);
  InternalInitRecord(fresh);  // raises: still browsing
  SetRecInfo(fresh, -1, TBookmarkFlag::Inserted);
  std::copy(fresh.begin(), fresh.end(), FActiveStorage.begin());
  SetState(TDataSetState::Insert);
  try {
    NewRecordHook();
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  FRecordModified = false;
  DataEvent(TDataEvent::DataSetChange);
  assert(CheckInvariants());
}

void TDataSet::Append() {
  CheckBrowseMode();
  Last();
  Insert();
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == TDataSetState::Insert) {
    Cancel();
    return;
  }
  if (!FHasRecord) DatabaseError(Msg::DataSetEmpty);
  CheckBrowseMode();
  if (!CanModify()) DatabaseError(Msg::DataSetReadOnly);
  InternalSetToRecord(FActiveBuffer);
  InternalDelete(FActiveBuffer);
  SyncToStorage();
}

void TDataSet::InternalInitRecord(std::span<std::uint8_t>) { DatabaseError(Msg::DataSetReadOnly); }

void TDataSet::InternalDelete(std::span<const std::uint8_t>) { DatabaseError(Msg::DataSetReadOnly); }

void TDataSet::SyncToStorage() {
  std::vector<std::uint8_t> scratch(FActiveStorage.size(), 0);
  TGetResult r = GetRecord(scratch, TGetMode::Current, false);
  bool atEnd = false;
  if (r != TGetResult::OK) {
    r = GetRecord(scratch, TGetMode::Next, true);
    if (r != TGetResult::OK) {
      atEnd = true;
      r = GetRecord(scratch, TGetMode::Prior, true);
    }
  }
  if (r == TGetResult::OK) {
    std::copy(scratch.begin(), scratch.end(), FActiveStorage.begin());
    FHasRecord = true;
    GetCalcFields(FActiveBuffer);
    FAtBeginning = false;
    FAtEnd = atEnd;
  } else {
    ClearActiveBuffer();
    FAtBeginning = FAtEnd = true;
  }
  DataEvent(TDataEvent::DataSetChange);
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::UpdateRecord() {
  if (!IsEditOrInsert(FState) && FState != TDataSetState::SetKey) DatabaseError(Msg::NotEditing);
  DataEvent(TDataEvent::UpdateRecord);
}

void TDataSet::Post() {
  UpdateRecord();
  if (FState == TDataSetState::SetKey) {
    InternalApplyKey();
    return;
  }
  DataEvent(TDataEvent::CheckBrowseMode);
  if (BeforePost) BeforePost(*this);
  InternalPost(FActiveBuffer);  // raises: still editing, buffer untouched
  if (FState == TDataSetState::Insert) {
    // The stored record is current now, wherever it went in the order: no
    // move has found either end from it yet.
    FHasRecord = true;
    FAtBeginning = false;
    FAtEnd = false;
  }
  SetState(TDataSetState::Browse);
  ResyncCurrent();
  DataEvent(TDataEvent::DataSetChange);
  if (AfterPost) AfterPost(*this);
  assert(CheckInvariants());
}

void TDataSet::Cancel() {
  if (FState == TDataSetState::SetKey) {
    SetState(TDataSetState::Browse);
    return;
  }
  if (!IsEditOrInsert(FState)) return;
  const bool wasEditing = FState == TDataSetState::Edit;
  InternalCancel(wasEditing);
  if (FOldBuffer.size() == FActiveStorage.size())
    std::copy(FOldBuffer.begin(), FOldBuffer.end(), FActiveStorage.begin());
  if (!wasEditing && !FInsertHadRecord) ClearActiveBuffer();
  SetState(TDataSetState::Browse);
  ResyncCurrent();
  DataEvent(TDataEvent::DataSetChange);
  assert(CheckInvariants());
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (FInCheckBrowseMode) return;
  struct TReentry {
    bool& Flag;
    explicit TReentry(bool& f) : Flag(f) { f = true; }
    ~TReentry() { Flag = false; }
  } reentry(FInCheckBrowseMode);
  DataEvent(TDataEvent::CheckBrowseMode);
  switch (FState) {
    case TDataSetState::Edit:
    case TDataSetState::Insert:
      UpdateRecord();
      if (FRecordModified)
        Post();
      else
        Cancel();
      break;
    case TDataSetState::SetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::InternalApplyKey() { SetState(TDataSetState::Browse); }

// ------------------------------------------------------------ state and events

void TDataSet::SetState(TDataSetState state) {
  if (state == FState) return;
  FState = state;
  FRecordModified = false;
  DataEvent(TDataEvent::UpdateState);
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0 || --FDisableCount > 0) return;
  const bool layout = FLayoutChangedWhileDisabled;
  FLayoutChangedWhileDisabled = false;
  DataEvent(TDataEvent::UpdateState);
  if (Active()) DataEvent(layout ? TDataEvent::LayoutChange : TDataEvent::DataSetChange);
}

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (FDisableCount > 0) {
    if (event == TDataEvent::LayoutChange || (event == TDataEvent::UpdateState && !Active()))
      FLayoutChangedWhileDisabled = true;
    return;
  }
  const std::vector<TDataSource*> snapshot = FDataSources;
  for (TDataSource* source : snapshot) {
    if (std::find(FDataSources.begin(), FDataSources.end(), source) == FDataSources.end()) continue;
    source->DataEvent(event, info);
  }
}

void TDataSet::FocusField(TField& field) {
  DataEvent(TDataEvent::FocusControl, reinterpret_cast<std::intptr_t>(&field));
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(FDataSources.begin(), FDataSources.end(), source) == FDataSources.end())
    FDataSources.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) noexcept {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), source), FDataSources.end());
}

void TDataSet::DetachFromSources() noexcept {
  std::vector<TDataSource*> sources;
  sources.swap(FDataSources);
  for (TDataSource* source : sources) {
    source->FDataSet = nullptr;
    try {
      source->DataEvent(TDataEvent::UpdateState, 0);
    } catch (...) {
      // Controls that fail while losing their dataset keep their last view.
    }
  }
}

// ------------------------------------------------------------ buffers

void TDataSet::SetRecordLayout(int recordSize, int bookmarkSize) {
  FRecordSize = recordSize;
  FBookmarkSize = bookmarkSize;
}

void TDataSet::SetRecInfo(std::span<std::uint8_t> buffer, std::int32_t sequence, TBookmarkFlag flag) const {
  const std::size_t at = static_cast<std::size_t>(RecInfoOffset());
  tarn::PutLEI32(buffer, at, sequence);
  buffer[at + 4] = static_cast<std::uint8_t>(flag);
  buffer[at + 5] = buffer[at + 6] = buffer[at + 7] = 0;
}

TBookmarkFlag TDataSet::GetBookmarkFlagOf(std::span<const std::uint8_t> buffer, int recInfoOffset) {
  return static_cast<TBookmarkFlag>(buffer[static_cast<std::size_t>(recInfoOffset) + 4]);
}

std::int32_t TDataSet::RecordSequence() const {
  std::span<std::uint8_t> buffer = StateBuffer();
  if (buffer.size() < static_cast<std::size_t>(BookmarkOffset())) return -1;
  return tarn::GetLEI32(buffer, static_cast<std::size_t>(RecInfoOffset()));
}

TBookmarkFlag TDataSet::BookmarkFlag() const {
  std::span<std::uint8_t> buffer = StateBuffer();
  if (buffer.size() < static_cast<std::size_t>(BookmarkOffset())) return TBookmarkFlag::BeforeFirst;
  return GetBookmarkFlagOf(buffer, RecInfoOffset());
}

TDataSet::TTempState::TTempState(TDataSet& dataSet, TDataSetState state, std::span<std::uint8_t> buffer)
    : FDataSet(dataSet), FOldState(dataSet.FState), FOldBuffer(dataSet.FTempBuffer) {
  dataSet.FState = state;
  dataSet.FTempBuffer = buffer;
}

TDataSet::TTempState::~TTempState() {
  FDataSet.FState = FOldState;
  FDataSet.FTempBuffer = FOldBuffer;
}

void TDataSet::GetCalcFields(std::span<std::uint8_t> buffer) {
  if (FCalcFieldsSize == 0 || !OnCalcFields) return;
  std::fill(buffer.begin() + FRecordSize, buffer.begin() + FRecordSize + FCalcFieldsSize, std::uint8_t{0});
  TTempState calc(*this, TDataSetState::CalcFields, buffer);
  OnCalcFields(*this);
}

bool TDataSet::CheckInvariants() const {
  if (Active() != (FState != TDataSetState::Inactive)) return false;
  if (FRecordModified && !IsEditOrInsert(FState) && FState != TDataSetState::SetKey) return false;
  if (Active() && FActiveStorage.size() != static_cast<std::size_t>(RecordBufferSize())) return false;
  if (FState == TDataSetState::Edit && !FHasRecord) return false;
  return true;
}

}  // namespace dbcomp
