#include "dbcomp/tarn_table.h"

#include <algorithm>

#include "dbcomp/data_source.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/session.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"

namespace dbcomp {

namespace {

constexpr std::size_t MaxName = 255;

std::vector<std::string> Split(std::string_view names) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= names.size()) {
    const std::size_t end = names.find(';', start);
    const std::string_view part = names.substr(start, end == std::string_view::npos ? names.npos : end - start);
    const std::string trimmed(tarn::TrimBlanks(part));
    if (!trimmed.empty()) out.push_back(trimmed);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

// "A;B" equal to "a; b", ignoring case and blanks.
bool SameFieldList(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!tarn::SameName(a[i], b[i])) return false;
  return true;
}

bool StartsWithFields(const std::vector<std::string>& list, const std::vector<std::string>& prefix) {
  if (prefix.size() >= list.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (!tarn::SameName(list[i], prefix[i])) return false;
  return true;
}

// The descriptor of an index over the named fields of defs.
tarn::TIndexDescriptor MakeIndex(const std::vector<tarn::TFieldDesc>& fields, const TIndexDef& def,
                                 bool primary) {
  tarn::TIndexDescriptor d;
  d.IndexName = primary ? std::string() : def.Name;
  d.Unique = primary || def.Options.Unique;
  d.Descending = def.Options.Descending;
  d.CaseInsensitive = def.Options.CaseInsensitive;
  int keySize = d.Unique ? 0 : tarn::KeyLimits::AutoIncSize;
  for (const std::string& name : Split(def.Fields)) {
    auto it = std::find_if(fields.begin(), fields.end(),
                           [&](const tarn::TFieldDesc& f) { return tarn::SameName(f.FieldName(), name); });
    if (it == fields.end()) DatabaseError(FormatMessage(Msg::FieldNotFound, {name}));
    if (d.FieldCount >= tarn::MaxKeyFields) tarn::RaiseEngineError(tarn::TARN_INVALIDIDXDESC, {.Index = def.Name});
    d.FieldNumbers[d.FieldCount++] = static_cast<std::int16_t>(it->FieldNo());
    keySize += tarn::KeyFieldSize(it->FieldType(), it->FieldSize()) + 1;
  }
  d.KeySize = static_cast<std::int16_t>(keySize);
  return d;
}

tarn::TTableDefinition BuildDefinition(const TFieldDefs& fieldDefs, const TIndexDefs& indexDefs) {
  tarn::TTableDefinition def;
  std::uint16_t no = 0;
  for (const TFieldDef& f : fieldDefs) {
    // An unknown type is kept as a plain blob.
    const TEngineFieldType type =
        EngineFieldTypeOf(f.DataType).value_or(TEngineFieldType{tarn::FieldType::Blob, 0});
    std::uint8_t size = 0;
    std::uint8_t decimals = 0;
    if (type.Type == tarn::FieldType::String || type.Type == tarn::FieldType::Bytes ||
        type.Type == tarn::FieldType::VarBytes)
      size = static_cast<std::uint8_t>(std::clamp(f.Size, 0, 250));
    if (type.Type == tarn::FieldType::Bcd) decimals = static_cast<std::uint8_t>(std::clamp(f.Size, 0, 32));
    tarn::TFieldDesc d = tarn::MakeFieldDesc(++no, f.Name, type.Type, type.SubType, size, decimals);
    d.SetFieldRequired(f.Required);
    def.Fields.push_back(d);
  }
  tarn::AssignFieldOffsets(def.Fields);
  for (const TIndexDef& index : indexDefs) {
    if (index.Options.Primary)
      def.Primary = MakeIndex(def.Fields, index, true);
    else
      def.Secondary.push_back(MakeIndex(def.Fields, index, false));
  }
  return def;
}

}  // namespace

TTarnTable::TTarnTable(TComponentOwner* owner) : TTarnDBDataSet(owner), FMasterLink(*this) {}

TTarnTable::~TTarnTable() {
  FMasterLink.SetDataSource(nullptr);
  CloseNoThrow();
}

// ---------------------------------------------------------------- names ----

void TTarnTable::SetTableName(std::string_view name) {
  std::string normal(name.substr(0, MaxName));
  std::replace(normal.begin(), normal.end(), '/', '\\');
  if (normal == FTableName) return;
  CheckInactiveDataSet();
  const std::size_t cut = normal.find_last_of(":\\");
  if (cut != std::string::npos) {
    if (!InMemory()) SetDatabaseName(normal.substr(0, cut + 1));
    normal = normal.substr(cut + 1);
  }
  FTableName = normal;
  FIndexDefs.clear();
}

void TTarnTable::SetExclusive(bool value) {
  CheckInactiveDataSet();
  FExclusive = value;
}

void TTarnTable::SetReadOnly(bool value) {
  CheckInactiveDataSet();
  FReadOnly = value;
}

void TTarnTable::CheckTableName() const {
  if (FTableName.empty()) DatabaseError(Msg::NoTableName, Name());
}

// ------------------------------------------------------------ open, close ----

std::unique_ptr<tarn::TDataCursor> TTarnTable::CreateCursor() {
  CheckTableName();
  auto cursor = std::make_unique<tarn::TDataCursor>(*Database()->Handle());
  cursor->SetTableName(FTableName);
  cursor->SetExclusive(FExclusive);
  cursor->SetReadOnly(FReadOnly);
  cursor->SetInMemory(InMemory());
  cursor->SetPasswordCallback(&TTarnSession::PasswordCallback, &DBSession());
  cursor->SetOnIndexProgress([this](int percent) {
    if (OnIndexProgress) OnIndexProgress(*this, percent);
  });
  cursor->SetOnRestructureProgress([this](int percent) {
    if (OnRestructureProgress) OnRestructureProgress(*this, percent);
  });
  cursor->SetOnDataLost([this](tarn::TDataCursor::TDataLossCause cause, std::string_view context,
                               bool& continueRestructure, bool& stopAsking) {
    if (OnDataLost)
      OnDataLost(*this, static_cast<TDataLossCause>(cause), context, continueRestructure, stopAsking);
  });
  return cursor;
}

void TTarnTable::CursorOpened() {
  FReadOnly = Handle()->ReadOnly();
  SelectIndex();
}

void TTarnTable::FieldsBoundHook() {
  TTarnDBDataSet::FieldsBoundHook();
  ResetKeyBuffers();
  FRangeActive = false;
  // The master's range is in force before the first record is read.
  if (FMasterLink.Active() && !FMasterFields.empty()) ApplyMasterRange();
}

void TTarnTable::SelectIndex() {
  tarn::TDataCursor& cursor = *Handle();
  std::string name = FIndexName;
  if (!FIndexFieldNames.empty()) name = IndexNameForFields(FIndexFieldNames);
  if (!name.empty() || cursor.IndexNo() != tarn::CursorIndex::Primary) {
    TEngineCall call(*this);
    cursor.SwitchToIndex(name);
  }
  FIndexFieldNos.clear();
  if (!cursor.InNaturalOrder()) {
    const tarn::TIndexDescriptor& d = cursor.IndexDescriptor();
    for (int i = 0; i < d.FieldCount; ++i) FIndexFieldNos.push_back(d.FieldNumbers[static_cast<std::size_t>(i)]);
  }
}

std::string TTarnTable::IndexNameForFields(std::string_view names) {
  UpdateIndexDefs();
  const std::vector<std::string> wanted = Split(names);
  for (const TIndexDef& def : FIndexDefs)
    if (SameFieldList(Split(def.Fields), wanted)) return def.Name;
  for (const TIndexDef& def : FIndexDefs)
    if (StartsWithFields(Split(def.Fields), wanted)) return def.Name;
  DatabaseError(FormatMessage(Msg::NoFieldIndexes, {names}), Name());
}

void TTarnTable::SetIndexName(std::string_view name) {
  FIndexName = std::string(name);
  FIndexFieldNames.clear();
  IndexChanged();
}

void TTarnTable::SetIndexFieldNames(std::string_view names) {
  FIndexFieldNames = std::string(names);
  FIndexName.clear();
  IndexChanged();
}

void TTarnTable::IndexChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  {
    TEngineCall call(*this);
    if (FRangeActive) Handle()->ResetRange();
    FRangeActive = false;
    DropLookupCursor();
    SelectIndex();
  }
  ResetKeyBuffers();
  if (FMasterLink.Active() && !FMasterFields.empty()) MasterChanged();
  First();
}

int TTarnTable::IndexFieldCount() const { return static_cast<int>(FIndexFieldNos.size()); }

TField& TTarnTable::IndexFields(int i) const {
  if (i < 0 || i >= IndexFieldCount()) DatabaseError(Msg::FieldIndexError, Name());
  const int fieldNo = FIndexFieldNos[static_cast<std::size_t>(i)];
  for (std::size_t n = 0; n < FieldCount(); ++n)
    if (Fields(n).FieldNo() == fieldNo) return Fields(n);
  DatabaseError(FormatMessage(Msg::IndexFieldMissing, {Handle()->Field(fieldNo).FieldName()}), Name());
}

// ---------------------------------------------------------- definitions ----

void TTarnTable::SetFieldDefinitions(TFieldDefs defs) {
  CheckInactiveDataSet();
  int no = 0;
  for (TFieldDef& d : defs) d.FieldNo = ++no;
  SetFieldDefs(std::move(defs));
  FStoreDefs = true;
}

void TTarnTable::SetIndexDefs(TIndexDefs defs) {
  FIndexDefs = std::move(defs);
  FStoreDefs = true;
}

void TTarnTable::WithCursor(THoldReason reason, const std::function<void(tarn::TDataCursor&)>& op) {
  if (Handle() != nullptr) {
    TEngineCall call(*this);
    op(*Handle());
    return;
  }
  CheckTableName();
  HoldDatabase(reason);
  try {
    TEngineCall call(*this);
    std::unique_ptr<tarn::TDataCursor> cursor = CreateCursor();
    cursor->SetReadOnly(true);
    cursor->OpenCursor();
    op(*cursor);
    cursor->CloseCursor(true);
  } catch (...) {
    ReleaseDatabase(reason);
    throw;
  }
  ReleaseDatabase(reason);
}

void TTarnTable::UpdateFieldDefs() {
  WithCursor(HoldFieldDefs, [this](tarn::TDataCursor& cursor) { SetFieldDefs(ReadFieldDefs(cursor)); });
}

void TTarnTable::UpdateIndexDefs() {
  WithCursor(HoldIndexDefs, [this](tarn::TDataCursor& cursor) {
    TIndexDefs defs;
    const tarn::TIndexFile& file = cursor.Table().IndexFile();
    auto fieldsOf = [&](const tarn::TIndexDescriptor& d) {
      std::string list;
      for (int i = 0; i < d.FieldCount; ++i) {
        const int no = d.FieldNumbers[static_cast<std::size_t>(i)];
        if (no < 1 || no > cursor.FieldCount()) continue;
        if (!list.empty()) list += ';';
        list += cursor.Field(no).FieldName();
      }
      return list;
    };
    for (int slot = 0; slot <= file.IndexCount(); ++slot) {
      const tarn::TIndexDescriptor& d = file.Descriptor(slot);
      if (slot == 0 && d.FieldCount == 0) continue;
      TIndexDef def;
      def.Name = slot == 0 ? std::string() : d.IndexName;
      def.Fields = fieldsOf(d);
      def.Options = {slot == 0, d.Unique, d.Descending, d.CaseInsensitive};
      defs.push_back(std::move(def));
    }
    FIndexDefs = std::move(defs);
  });
}

// ------------------------------------------------------------ the table ----

bool TTarnTable::Exists() {
  if (Active()) return true;
  if (FTableName.empty()) return false;
  HoldDatabase(HoldExists);
  bool exists = false;
  try {
    TEngineCall call(*this);
    exists = Database()->Handle()->TableExists(FTableName, InMemory());
  } catch (...) {
    ReleaseDatabase(HoldExists);
    throw;
  }
  ReleaseDatabase(HoldExists);
  return exists;
}

void TTarnTable::CreateTable() {
  CheckInactiveDataSet();
  CheckTableName();
  const tarn::TTableDefinition def = BuildDefinition(FieldDefs(), FIndexDefs);
  WithMaintenanceCursor(false, [&](tarn::TDataCursor& cursor) { cursor.CreateTable(def, true); });
}

void TTarnTable::DeleteTable() {
  CheckInactiveDataSet();
  CheckTableName();
  WithMaintenanceCursor(false, [](tarn::TDataCursor& cursor) { cursor.DeleteTable(); });
}

void TTarnTable::EmptyTable() {
  if (Active()) {
    CheckBrowseMode();
    {
      TEngineCall call(*this);
      Handle()->EmptyTable();
      DropLookupCursor();
    }
    First();
    return;
  }
  CheckTableName();
  WithMaintenanceCursor(true, [](tarn::TDataCursor& cursor) { cursor.EmptyTable(); });
}

void TTarnTable::AddIndex(std::string_view name, std::string_view fields, TIndexOptions options) {
  TIndexDef def{std::string(name), std::string(fields), options};
  auto add = [&](tarn::TDataCursor& cursor) {
    std::vector<tarn::TFieldDesc> descs;
    for (int n = 1; n <= cursor.FieldCount(); ++n) descs.push_back(cursor.Field(n));
    cursor.AddIndex(MakeIndex(descs, def, false));
  };
  if (Active()) {
    CheckBrowseMode();
    {
      TEngineCall call(*this);
      add(*Handle());
      DropLookupCursor();
    }
    UpdateIndexDefs();
    First();
    return;
  }
  CheckTableName();
  WithMaintenanceCursor(true, add);
  FIndexDefs.clear();
}

void TTarnTable::DeleteIndex(std::string_view name) {
  if (Active()) {
    CheckBrowseMode();
    // The cursor stands on the primary index afterwards; the table goes back
    // to its own index unless that was the one deleted.
    const bool wasActive = !Handle()->InNaturalOrder() && Handle()->IndexNo() != tarn::CursorIndex::Primary &&
                           tarn::SameName(Handle()->IndexDescriptor().IndexName, name);
    {
      TEngineCall call(*this);
      Handle()->DeleteIndex(name);
      DropLookupCursor();
    }
    if (wasActive) {
      FIndexName.clear();
      FIndexFieldNames.clear();
    }
    FRangeActive = false;
    ResetKeyBuffers();
    FIndexDefs.clear();
    {
      TEngineCall call(*this);
      SelectIndex();
    }
    First();
    return;
  }
  CheckTableName();
  WithMaintenanceCursor(true, [&](tarn::TDataCursor& cursor) { cursor.DeleteIndex(name); });
  FIndexDefs.clear();
}

void TTarnTable::WithMaintenanceCursor(bool open, const std::function<void(tarn::TDataCursor&)>& op) {
  HoldDatabase(HoldExists);
  try {
    TEngineCall call(*this);
    std::unique_ptr<tarn::TDataCursor> cursor = CreateCursor();
    if (open) {
      cursor->SetExclusive(true);
      cursor->OpenCursor();
    }
    op(*cursor);
    if (open) cursor->CloseCursor();
  } catch (...) {
    ReleaseDatabase(HoldExists);
    throw;
  }
  ReleaseDatabase(HoldExists);
}

// ------------------------------------------------------ keys and ranges ----

bool TTarnTable::IndexHasKeyFields() const { return !FIndexFieldNos.empty(); }

bool TTarnTable::IsIndexField(const TField& field) const { return IndexPosition(field) >= 0; }

int TTarnTable::IndexPosition(const TField& field) const {
  for (std::size_t i = 0; i < FIndexFieldNos.size(); ++i)
    if (FIndexFieldNos[i] == field.FieldNo()) return static_cast<int>(i);
  return -1;
}

std::span<std::uint8_t> TTarnTable::KeyBuffer() { return FKeys[FKeyEditing].Record; }

void TTarnTable::ResetKeyBuffers() {
  for (TKeyBuffer& key : FKeys) key = TKeyBuffer{};
}

void TTarnTable::WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                                  std::span<const std::uint8_t> src) {
  if (State() == TDataSetState::SetKey) {
    TKeyBuffer& key = FKeys[FKeyEditing];
    key.FieldCount = std::max(key.FieldCount, IndexPosition(field) + 1);
    key.Modified = true;
  }
  TTarnDBDataSet::WriteRecordField(buffer, field, src);
}

void TTarnTable::BeginKeyEdit(TKeyIndex which, bool clear) {
  CheckBrowseMode();
  TKeyBuffer& key = FKeys[which];
  if (clear || key.Record.empty()) {
    TEngineCall call(*this);
    key.Record = NewRecordBuffer();
    key.FieldCount = 0;
    key.Modified = false;
  }
  FKeyEditing = which;
  SetState(TDataSetState::SetKey);
  DataEvent(TDataEvent::DataSetChange);
}

void TTarnTable::InternalApplyKey() {
  SetState(TDataSetState::Browse);
  DataEvent(TDataEvent::DataSetChange);
}

int TTarnTable::KeyFieldCount() const { return FKeys[FKeyEditing].FieldCount; }

void TTarnTable::SetKey() { BeginKeyEdit(KeyLookup, true); }
void TTarnTable::EditKey() { BeginKeyEdit(KeyLookup, false); }

bool TTarnTable::GotoKey() {
  CheckBrowseMode();
  TKeyBuffer& key = FKeys[KeyLookup];
  if (key.Record.empty()) return false;
  bool found = false;
  {
    TEngineCall call(*this);
    found = Handle()->SetToKey(false, std::span<const std::uint8_t>(key.Record).first(static_cast<std::size_t>(RecordSize())),
                               key.FieldCount, 0, false);
    if (!found && HasRecord()) InternalSetToRecord(ActiveBuffer());
  }
  if (found) SyncToStorage();
  return found;
}

void TTarnTable::GotoNearest() {
  CheckBrowseMode();
  TKeyBuffer& key = FKeys[KeyLookup];
  if (key.Record.empty()) return;
  {
    TEngineCall call(*this);
    static_cast<void>(Handle()->SetToKey(
        false, std::span<const std::uint8_t>(key.Record).first(static_cast<std::size_t>(RecordSize())),
        key.FieldCount, 0, true));
  }
  SyncToStorage();
}

void TTarnTable::SetKeyValues(const TFieldValues& values) {
  SetKey();
  try {
    for (std::size_t i = 0; i < values.size(); ++i) {
      TField& f = IndexFields(static_cast<int>(i));
      values[i] ? f.SetAsString(*values[i]) : f.Clear();
    }
  } catch (...) {
    Cancel();
    throw;
  }
}

bool TTarnTable::FindKey(const TFieldValues& values) {
  SetKeyValues(values);
  return GotoKey();
}

void TTarnTable::FindNearest(const TFieldValues& values) {
  SetKeyValues(values);
  GotoNearest();
}

void TTarnTable::SetRangeStart() { BeginKeyEdit(KeyRangeStart, true); }
void TTarnTable::SetRangeEnd() { BeginKeyEdit(KeyRangeEnd, true); }
void TTarnTable::EditRangeStart() { BeginKeyEdit(KeyRangeStart, false); }
void TTarnTable::EditRangeEnd() { BeginKeyEdit(KeyRangeEnd, false); }

bool TTarnTable::ApplyRangeBuffers() {
  TEngineCall call(*this);
  tarn::TDataCursor& cursor = *Handle();
  if (cursor.InNaturalOrder()) return false;
  TKeyBuffer& start = FKeys[KeyRangeStart];
  TKeyBuffer& end = FKeys[KeyRangeEnd];
  if (start.Record.empty()) start.Record = NewRecordBuffer();
  if (end.Record.empty()) end.Record = NewRecordBuffer();
  TKeyBuffer& startApplied = FKeys[KeyRangeStartApplied];
  TKeyBuffer& endApplied = FKeys[KeyRangeEndApplied];
  if (FRangeActive && start.Record == startApplied.Record && start.FieldCount == startApplied.FieldCount &&
      end.Record == endApplied.Record && end.FieldCount == endApplied.FieldCount)
    return false;
  // Raw keys: an end without key fields is the lowest (start) or the
  // highest (end) key there is.
  const tarn::TKeyDef& keyDef = cursor.KeyDefinition();
  const std::size_t keySize = keyDef.KeySize;
  std::vector<std::uint8_t> low(keySize, 0x00);
  std::vector<std::uint8_t> high(keySize, 0xFF);
  const std::size_t recordSize = static_cast<std::size_t>(RecordSize());
  if (start.FieldCount > 0)
    tarn::BuildKey(keyDef, std::span<const std::uint8_t>(start.Record).first(recordSize), low);
  if (end.FieldCount > 0)
    tarn::BuildKey(keyDef, std::span<const std::uint8_t>(end.Record).first(recordSize), high);
  cursor.SetRange(low, start.FieldCount, high, end.FieldCount, true);
  startApplied = start;
  endApplied = end;
  FRangeActive = true;
  DropLookupCursor();
  return true;
}

void TTarnTable::ApplyRange() {
  CheckBrowseMode();
  ApplyRangeBuffers();
  First();
}

void TTarnTable::CancelRange() {
  CheckBrowseMode();
  if (FRangeActive) {
    TEngineCall call(*this);
    Handle()->ResetRange();
    FRangeActive = false;
    FKeys[KeyRangeStartApplied] = TKeyBuffer{};
    FKeys[KeyRangeEndApplied] = TKeyBuffer{};
    DropLookupCursor();
  }
  First();
}

void TTarnTable::SetRange(const TFieldValues& start, const TFieldValues& end) {
  for (int pass = 0; pass < 2; ++pass) {
    const TFieldValues& values = pass == 0 ? start : end;
    pass == 0 ? SetRangeStart() : SetRangeEnd();
    try {
      for (std::size_t i = 0; i < values.size(); ++i) {
        TField& f = IndexFields(static_cast<int>(i));
        values[i] ? f.SetAsString(*values[i]) : f.Clear();
      }
    } catch (...) {
      Cancel();
      throw;
    }
  }
  ApplyRange();
}

// --------------------------------------------------------- master/detail ----

TDataSource* TTarnTable::MasterSource() const noexcept { return FMasterLink.DataSource(); }

void TTarnTable::SetMasterSource(TDataSource* source) {
  if (source != nullptr) CheckMasterLoop(source);
  FMasterLink.SetDataSource(source);
  if (Active() && source == nullptr && FRangeActive) CancelRange();
}

void TTarnTable::SetMasterFields(std::string_view names) {
  FMasterFields = std::string(names);
  if (Active() && FMasterLink.Active()) MasterChanged();
}

void TTarnTable::MasterChanged() {
  if (!Active() || FMasterFields.empty() || FMasterLink.DataSet() == nullptr) return;
  if (!FMasterLink.DataSet()->Active()) return;
  CheckBrowseMode();
  if (ApplyMasterRange()) First();
}

bool TTarnTable::ApplyMasterRange() {
  if (Handle() == nullptr || FMasterFields.empty() || FMasterLink.DataSet() == nullptr) return false;
  TDataSet& master = *FMasterLink.DataSet();
  if (!master.Active()) return false;
  const std::vector<std::string> names = Split(FMasterFields);
  TEngineCall call(*this);
  TKeyBuffer& start = FKeys[KeyRangeStart];
  start.Record = NewRecordBuffer();
  start.FieldCount = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    TField& masterField = master.FieldByName(names[i]);
    TField& detailField = IndexFields(static_cast<int>(i));
    PutValue(start.Record, detailField,
             masterField.IsNull() ? TFieldValue{} : TFieldValue{masterField.AsString()});
    start.FieldCount = static_cast<int>(i) + 1;
  }
  FKeys[KeyRangeEnd] = start;
  return ApplyRangeBuffers();
}

void TTarnTable::NewRecordHook() {
  if (!FMasterLink.Active() || FMasterFields.empty() || FMasterLink.DataSet() == nullptr) return;
  TDataSet& master = *FMasterLink.DataSet();
  const std::vector<std::string> names = Split(FMasterFields);
  for (std::size_t i = 0; i < names.size() && i < FIndexFieldNos.size(); ++i) {
    TField& masterField = master.FieldByName(names[i]);
    TField& detailField = IndexFields(static_cast<int>(i));
    if (masterField.IsNull())
      detailField.Clear();
    else
      detailField.SetAsString(masterField.AsString());
  }
}

void TTarnTable::TMasterLink::ActiveChanged() {
  if (Active()) FTable.MasterChanged();
}

void TTarnTable::TMasterLink::RecordChanged(TField* field) {
  // A field of the master being edited does not move the detail; a record
  // read again does.
  if (field == nullptr) FTable.MasterChanged();
}

void TTarnTable::TMasterLink::DataSetChanged() { FTable.MasterChanged(); }

}  // namespace dbcomp
