#include "engine/cursor/cursor_filters.h"

#include <algorithm>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/base/names.h"
#include "engine/blob/blob_buffer.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/index_switch.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/index/text_params_chain.h"
#include "engine/session/data_directory.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "expr/index_range.h"

namespace tarn {

TCursorFilters::TCursorFilters(TDataCursor& cursor) : FCursor(cursor), FList(*this) {}

TCursorFilters::~TCursorFilters() { Clear(); }

// ------------------------------------------------------------- the list ----

TCursorFilters::TEntry* TCursorFilters::Find(const TFilter& filter) {
  const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                               [&](const TEntry& e) { return e.Filter == &filter; });
  return it == FEntries.end() ? nullptr : &*it;
}

const TCursorFilters::TEntry* TCursorFilters::Find(const TFilter& filter) const {
  return const_cast<TCursorFilters*>(this)->Find(filter);
}

bool TCursorFilters::Holds(const TFilter& filter) const { return Find(filter) != nullptr; }

TFilter& TCursorFilters::Adopt(TFilter& filter) {
  FEntries.push_back(TEntry{&filter, false, FGeneration});
  return filter;
}

void TCursorFilters::DropStrays() noexcept {
  for (std::size_t i = FList.Count(); i-- > 0;) {
    TFilter& f = FList[i];
    if (Find(f) == nullptr) FList.DropFilter(f);
  }
}

// The list inserts a new filter before it builds the bitmap, so a build that
// throws (a damaged record, a failing read) leaves a filter no entry knows:
// it is dropped again before the failure goes on.
TFilter& TCursorFilters::Add(std::string_view text, const TFilterOptions& options) {
  try {
    return Adopt(FList.AddFilter(text, options));
  } catch (...) {
    DropStrays();
    throw;
  }
}

TFilter& TCursorFilters::Add(TExpTokenPtr tree, const TFilterOptions& options) {
  try {
    return Adopt(FList.AddFilter(std::move(tree), options));
  } catch (...) {
    DropStrays();
    throw;
  }
}

TFilter& TCursorFilters::Add(TFilterCallback callback, const TFilterOptions& options) {
  try {
    return Adopt(FList.AddFilter(std::move(callback), options));
  } catch (...) {
    DropStrays();
    throw;
  }
}

void TCursorFilters::Rebuild(TEntry& entry) {
  entry.BuiltAt = FGeneration;
  if (!FList.RebuildFilter(*entry.Filter)) throw TStaleRead{};
}

void TCursorFilters::Refresh(TFilter& filter) {
  TEntry* entry = Find(filter);
  if (entry != nullptr && Stale(*entry)) Rebuild(*entry);
}

void TCursorFilters::MarkStale(const TFilter& filter) {
  if (TEntry* entry = Find(filter)) entry->BuiltAt = 0;
}

void TCursorFilters::Drop(TFilter& filter) {
  const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                               [&](const TEntry& e) { return e.Filter == &filter; });
  if (it == FEntries.end()) return;
  FEntries.erase(it);
  FList.DropFilter(filter);
}

void TCursorFilters::Clear() noexcept {
  FEntries.clear();
  DropStrays();
  FRecord.clear();
  FTextParams.reset();
}

bool TCursorFilters::SetActive(TFilter& filter, bool active) {
  TEntry* entry = Find(filter);
  if (entry == nullptr) return false;
  entry->Active = active;
  return true;
}

bool TCursorFilters::IsActive(const TFilter& filter) const {
  const TEntry* entry = Find(filter);
  return entry != nullptr && entry->Active;
}

bool TCursorFilters::AnyActive() const {
  return std::any_of(FEntries.begin(), FEntries.end(), [](const TEntry& e) { return e.Active; });
}

// ------------------------------------------------------------- the view ----

void TCursorFilters::Restrict(TRecordsBitmap& candidates) {
  for (TEntry& entry : FEntries) {
    if (!entry.Active) continue;
    if (Stale(entry)) Rebuild(entry);
    candidates.AndWith(entry.Filter->Bitmap());
  }
}

bool TCursorFilters::Passes(std::uint32_t recordNo) const {
  return std::all_of(FEntries.begin(), FEntries.end(),
                     [&](const TEntry& e) { return !e.Active || e.Filter->Passes(recordNo); });
}

bool TCursorFilters::AnyActiveStale() const {
  return std::any_of(FEntries.begin(), FEntries.end(),
                     [&](const TEntry& e) { return e.Active && Stale(e); });
}

// ---------------------------------------------------------------- upkeep ----

void TCursorFilters::UseRecord(std::span<const std::uint8_t> record) {
  FRecord.assign(record.begin(), record.end());
}

void TCursorFilters::RecordAdded(std::uint32_t recordNo, std::span<const std::uint8_t> record) {
  if (FEntries.empty()) return;
  UseRecord(record);
  for (TEntry& entry : FEntries) FList.FilterRecordAdded(*entry.Filter, recordNo);
}

void TCursorFilters::RecordChanged(std::uint32_t recordNo, std::span<const std::uint8_t> record) {
  if (FEntries.empty()) return;
  UseRecord(record);
  for (TEntry& entry : FEntries) FList.FilterRecordChanged(*entry.Filter, recordNo);
}

void TCursorFilters::RecordDeleted(std::uint32_t recordNo) {
  for (TEntry& entry : FEntries) FList.FilterRecordDeleted(*entry.Filter, recordNo);
}

// --------------------------------------------------------- TFilterCursor ----

std::string_view TCursorFilters::FilterTableName() const { return FCursor.TableName(); }

std::uint32_t TCursorFilters::HighestRecordNo() {
  return static_cast<std::uint32_t>(
      std::max(FCursor.FTable->DataFile().GetPhysicalRecordCount(), 0));
}

std::uint32_t TCursorFilters::FilterRecordSize() const { return FCursor.FRecordSize; }

TFilterRead TCursorFilters::ReadFilterRecord(std::uint32_t recordNo) {
  TRecordPin pin = FCursor.FTable->DataFile().GetRecord(
      &FCursor, static_cast<std::int32_t>(recordNo), true, false, true);
  if (!pin) return TFilterRead::TableChanged;
  UseRecord(pin->Data());
  return pin->IsDeleted() ? TFilterRead::Deleted : TFilterRead::Active;
}

int TCursorFilters::FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) {
  const TIndexFile& index = FCursor.FTable->IndexFile();
  for (int slot = 0; slot <= index.IndexCount(); ++slot) {
    if (slot == 0 && index.NoPrimaryIndex()) continue;
    const TIndexDescriptor& d = index.Descriptor(slot);
    if (d.FieldCount == 0 || d.FieldNumbers[0] != static_cast<std::int16_t>(fieldNo)) continue;
    if (!matchCase || d.CaseInsensitive == caseInsensitive) return slot;
  }
  return -1;
}

const TKeyDef& TCursorFilters::FilterKeyDef(int slot) {
  return FCursor.FTable->IndexFile().KeyDef(slot);
}

bool TCursorFilters::IndexHasCounts(int slot) {
  return !FCursor.FTable->IndexFile().Descriptor(slot).NoCounts;
}

std::int64_t TCursorFilters::CountKeyRange(int slot, const std::uint8_t* low,
                                           const std::uint8_t* high) {
  TIndexSwitch onSlot(FCursor, slot);
  return CountIndexRange(FCursor.FTable->IndexFile(), FCursor, low, high);
}

bool TCursorFilters::CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high,
                                     TRecordsBitmap& bitmap) {
  TIndexSwitch onSlot(FCursor, slot);
  return CollectIndexRange(FCursor.FTable->IndexFile(), FCursor, low, high, bitmap);
}

std::int64_t TCursorFilters::FilterRecordCount() {
  return FCursor.FTable->IndexFile().RecordCount();
}

bool TCursorFilters::TextIndexCovers(std::uint16_t fieldNo) {
  const TIndexDescriptor& d = FCursor.FTable->IndexFile().Descriptor(KeyLimits::TextSlot);
  for (int i = 0; i < d.FieldCount; ++i)
    if (d.FieldNumbers[static_cast<std::size_t>(i)] == static_cast<std::int16_t>(fieldNo))
      return true;
  return false;
}

// ------------------------------------------------------ TExpRecordSource ----

std::optional<TExpColumn> TCursorFilters::FindColumn(std::string_view name) const {
  for (const TFieldDesc& d : FCursor.FFields)
    if (SameName(d.FieldName(), name))
      return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(),
                        d.FieldDecimals()};
  return std::nullopt;
}

std::uint16_t TCursorFilters::LanguageId() const { return FCursor.FLanguageId; }

std::uint16_t TCursorFilters::SortId() const { return FCursor.FSortId; }

TFieldRead TCursorFilters::ReadField(std::uint16_t fieldNo) {
  if (FRecord.size() != FCursor.FRecordSize) FRecord.assign(FCursor.FRecordSize, 0);
  return GetFieldValue(FRecord, FCursor.Field(fieldNo));
}

// A stored blob is read whole through a buffer of its own. A negative
// reference is a blob the cursor holds open for a post that has not
// happened yet; its stored value is not known here and reads as blank.
bool TCursorFilters::ReadBlob(std::uint16_t fieldNo, std::string& content) {
  content.clear();
  if (FRecord.size() != FCursor.FRecordSize || !FCursor.FTable->HasBlobFields()) return false;
  const TFieldDesc& field = FCursor.Field(fieldNo);
  const TFieldRead read = GetFieldValue(FRecord, field);
  if (read.Blank) return false;
  const auto firstBlock =
      static_cast<std::int32_t>(GetLE32(read.Bytes, RecordLayout::BlobFirstBlock));
  if (firstBlock <= 0) return false;
  const auto recLink = static_cast<std::int32_t>(GetLE32(FRecord, RecordLayout::RecLink));
  TBlobBuffer blob(FCursor.FTable->BlobFile(), &FCursor, fieldNo, firstBlock,
                   GetBlobStamp(FRecord, field), recLink);
  blob.LoadBlob();
  const std::span<const std::uint8_t> data = blob.Data();
  content.assign(reinterpret_cast<const char*>(data.data()), data.size());
  return true;
}

// The cursor's own table, or another table of its directory that is open.
std::optional<std::int32_t> TCursorFilters::LastAutoInc(std::string_view tableName) {
  if (SameName(tableName, FCursor.TableName())) return FCursor.FTable->DataFile().GetLastAutoInc();
  const TDataTable* table = FCursor.FDirectory.FindTable(tableName, FCursor.FTable->InMemory());
  if (table == nullptr || !table->IsOpen()) return std::nullopt;
  return const_cast<TDataTable*>(table)->DataFile().GetLastAutoInc();
}

TTextIndexParams TCursorFilters::TextIndexParams() const {
  if (!FTextParams) {
    TTextIndexParams params = TTextIndexParams::Defaults();
    TIndexSwitch onText(FCursor, KeyLimits::TextSlot);
    TTextParamsChain(FCursor.FTable->IndexFile()).Read(FCursor, params);
    FTextParams = params;
  }
  return *FTextParams;
}

}  // namespace tarn
