// TDataCursor: settings, open and close, the operation bracket with change
// detection, refresh and index switching.

#include "engine/cursor/data_cursor.h"

#include <algorithm>
#include <cassert>
#include <exception>

#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/cursor_filters.h"
#include "engine/cursor/index_switch.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/cursor/view_filter.h"
#include "engine/files/table_file_name.h"
#include "engine/index/btree.h"
#include "engine/index/char_maps.h"
#include "engine/index/keys.h"
#include "engine/index/text_words.h"
#include "engine/session/data_directory.h"
#include "engine/table/record_layout.h"

namespace tarn {

namespace {

// Longest display name of a field ("Table.Field").
constexpr std::size_t MaxDisplayName = 100;

// The table name without directory part and without a ".DAT" extension.
std::string CleanTableName(std::string_view name) {
  const std::size_t cut = name.find_last_of("\\/:");
  if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
  if (name.size() >= 4 && SameText(name.substr(name.size() - 4), ".DAT")) name.remove_suffix(4);
  if (name.size() > CursorLimits::MaxTableName) name = name.substr(0, CursorLimits::MaxTableName);
  return std::string(name);
}

}  // namespace

// ------------------------------------------------------------ the bracket ----

TOperationBracket::TOperationBracket(TDataCursor& cursor, bool strict) : FCursor(cursor) {
  ++cursor.FBracketDepth;
  try {
    if (cursor.FExclusive) {
      // Only this process writes the table; only a rollback changes it
      // behind the cursor's back.
      if (cursor.FSnapDiscards != cursor.FTable->DiscardCount()) cursor.RecoverFromChange();
      return;
    }
    if (strict || cursor.FTable->StrictChangeDetection()) FRead.emplace(*cursor.FTable);
    if (cursor.SnapshotDiffers()) cursor.RecoverFromChange();
  } catch (...) {
    End();
    throw;
  }
}

void TOperationBracket::End() noexcept {
  if (FEnded) return;
  FEnded = true;
  FRead.reset();
  if (FCursor.FLazyRead) {
    FCursor.FLazyRead = false;
    try {
      FCursor.FTable->EndRead();
    } catch (...) {
      // The table counts the lock as released; nothing more to give back.
    }
  }
  --FCursor.FBracketDepth;
}

// ------------------------------------------------------------- lifetime ----

TDataCursor::TDataCursor(TDataDirectory& directory)
    : FDirectory(directory), FFilterSet(std::make_unique<TCursorFilters>(*this)) {}

TDataCursor::~TDataCursor() {
  if (!FOpen) return;
  try {
    CloseCursor(true);
  } catch (...) {
    // A destructor reports nothing.
  }
}

const std::string& TDataCursor::DatabaseName() const { return FDirectory.Name(); }

void TDataCursor::Raise(TErrorCode code, std::string_view arg) const {
  RaiseEngineError(code, {.Database = FDirectory.Name(), .Table = FTableName, .Index = arg});
}

void TDataCursor::RaiseIfError(TErrorCode code) const {
  if (code != TARN_NONE) Raise(code);
}

void TDataCursor::RaiseIfError(TErrorCode code, std::string_view arg) const {
  if (code != TARN_NONE) Raise(code, arg);
}

void TDataCursor::CheckClosed() const {
  if (FOpen) Raise(TARN_TABLEOPEN);
}

void TDataCursor::CheckOpen() const { assert(FOpen && FTable != nullptr); }

// ------------------------------------------------------------- settings ----

void TDataCursor::SetTableName(std::string_view name) {
  CheckClosed();
  FTableName = CleanTableName(name);
}

void TDataCursor::SetExclusive(bool value) {
  CheckClosed();
  FExclusive = value;
}

void TDataCursor::SetReadOnly(bool value) {
  CheckClosed();
  FReadOnly = value;
}

void TDataCursor::SetInMemory(bool value) {
  CheckClosed();
  FInMemory = value;
}

void TDataCursor::SetUnordered(bool value) {
  CheckClosed();
  FUnordered = value;
}

void TDataCursor::SetInternal(bool value) {
  CheckClosed();
  FInternal = value;
}

void TDataCursor::SetPasswordCallback(TCursorEvent::TCallback callback, void* context) {
  CheckClosed();
  FEvents[CursorLimits::PasswordEvent] = TCursorEvent{callback, context};
}

void TDataCursor::SetEvent(int slot, const TCursorEvent& event) {
  if (slot < 0 || slot >= CursorLimits::EventSlots) Raise(TARN_OUTOFRANGE);
  FEvents[static_cast<std::size_t>(slot)] = event;
}

bool TDataCursor::RequestPassword() {
  const TCursorEvent& e = FEvents[CursorLimits::PasswordEvent];
  return e.Callback != nullptr && e.Callback(e.Context, 0);
}

// ------------------------------------------------------- open and close ----

void TDataCursor::OpenCursor() {
  if (FOpen) return;
  FFields.clear();
  FDisplayNames.clear();
  const TTableOpenOptions options{
      .InMemory = FInMemory, .Exclusive = FExclusive, .ReadOnly = FReadOnly};
  // Checks the table on its first open and demands the password.
  FTable = &FDirectory.OpenTableForCursor(FTableName, options, *this);
  FOpen = true;
  try {
    FReadOnly = FTable->ReadOnly();
    LoadDescription();
    TakeSnapshot();
    FCurRecord = std::make_unique<TRecord>(&FTable->DataFile(), FRecordSize);
    std::fill(FCurRecord->MutableData().begin(), FCurRecord->MutableData().end(), 0);
    FRangeActive = false;
    FRangeLow.fill(0x00);
    FRangeHigh.fill(0xFF);
    FBitmapMode = false;
    FAtBOF = FAtEOF = false;
    if (FTable->IndexRecreated()) RebuildDeletedIndex();
    SelectIndex(FUnordered ? CursorIndex::Natural : CursorIndex::Primary);
    Run(false, [&] {
      RebuildView();
      SetToBeginInner();
    });
  } catch (...) {
    try {
      CloseCursor(true);
    } catch (...) {
      // The open's own failure is the one reported.
    }
    throw;
  }
}

void TDataCursor::LoadDescription() {
  const TDataFile& data = FTable->DataFile();
  const std::span<const TFieldDesc> defs = data.FieldDefs();
  FFields.assign(defs.begin(), defs.end());
  FRecordSize = data.GetRecordSize();
  FHasAutoInc = FHasChecks = FHasDefaults = false;
  FDisplayNames.clear();
  for (const TFieldDesc& f : FFields) {
    std::string display = FTableName + "." + f.FieldName();
    if (display.size() > MaxDisplayName) display.resize(MaxDisplayName);
    FDisplayNames.push_back(std::move(display));
    FHasAutoInc = FHasAutoInc || f.IsAutoInc();
    FHasChecks = FHasChecks || f.FieldRequired() || !f.FieldMin().empty() || !f.FieldMax().empty();
    FHasDefaults = FHasDefaults || !f.FieldDefault().empty();
  }
  FLanguageId = static_cast<std::uint16_t>(data.GetLanguageId());
  FSortId = static_cast<std::uint16_t>(data.GetSortId());
  FCharMap = LanguageCharMap(FLanguageId, FSortId).Order;
}

// An index file made anew holds no keys: "Sys Deleted" gets one key per
// record slot, [RecDeleted][RecAutoInc], the record count is recounted and
// the table is read in natural order (it has no primary-key fields any more).
// A table shared by another cursor that already rebuilt it is left alone.
void TDataCursor::RebuildDeletedIndex() {
  TIndexFile& index = FTable->IndexFile();
  TDataFile& data = FTable->DataFile();
  if (index.Descriptor(SysDeletedSlot).RootPage != 0 || FTable->ReadOnly()) return;
  TTableWriteBracket write(*FTable);
  TakeSnapshot();
  TIndexSwitch deleted(*this, SysDeletedSlot);
  TBTree tree(index);
  index.SetNoPrimaryIndex(true);
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> key{};
  std::int32_t live = 0;
  const std::int32_t slots = data.GetPhysicalRecordCount();
  for (std::int32_t r = 1; r <= slots; ++r) {
    std::int32_t autoInc = 0;
    bool deletedFlag = false;
    {
      TRecordPin pin = data.GetRecord(nullptr, r);
      deletedFlag = pin->IsDeleted();
      autoInc = pin->GetAutoInc();
    }
    key[0] = deletedFlag ? 1 : 0;
    EncodeAutoIncKey(autoInc, std::span<std::uint8_t>(key).subspan(1, KeyLimits::AutoIncSize));
    tree.AddKey(*this, key.data(), r);
    if (!deletedFlag) ++live;
  }
  index.SetRecordCount(live);
  FTable->WriteBuffers(false, false, false, false, true);
  TakeSnapshot();
}

void TDataCursor::ReleaseState() noexcept {
  if (FBlobs) FBlobs->Free(true);
  if (FLockedRecNo != 0) {
    try {
      ReleaseRecordLock(FLockedRecNo);
    } catch (...) {
      // The table counts the lock as released.
    }
  }
  FLockedRecNo = 0;
  FRecordChanged = false;
  FKeepAutoInc = false;
  FTextKeys.reset();
  FFilters.clear();
  FFilterSet->Clear();
  FBitmapMode = false;
  for (TPooledBitmap* b : {&FVisible, &FRangeSet, &FLiveSet}) (*b)->SetBitCount(0);
  FLiveState.Valid = false;
  FRangeActive = false;
  FRangeLow.fill(0x00);
  FRangeHigh.fill(0xFF);
  FCurRecord.reset();
  FCurPage.SetEntryCount(0);
  FCurSlot = 0;
  FSeqNo = 0;
  FCurRecNo = 0;
  FRangeFirst = FRangeLast = 0;
  FVisibleCount = 0;
  FAtBOF = FAtEOF = false;
  FBeforeCurrent = false;
}

void TDataCursor::CloseCursor(bool forceClose) {
  if (!FOpen) return;
  ReleaseState();
  TDataTable* table = FTable;
  std::exception_ptr failure;
  try {
    FDirectory.ReleaseTableForCursor(*table, *this, false);
  } catch (...) {
    failure = std::current_exception();
  }
  FTable = nullptr;
  FFields.clear();
  FDisplayNames.clear();
  FRecordSize = 0;
  FHasAutoInc = FHasChecks = FHasDefaults = false;
  FLanguageId = FSortId = 0;
  FCharMap.fill(0);
  FIndexDesc.Clear();
  FKeyDef = TKeyDef{};
  for (int slot = 0; slot < CursorLimits::EventSlots; ++slot) {
    if (slot != CursorLimits::PasswordEvent)
      FEvents[static_cast<std::size_t>(slot)] = TCursorEvent{};
  }
  FOpen = false;
  if (failure && !forceClose) std::rethrow_exception(failure);
}

// ------------------------------------------------------ change detection ----

void TDataCursor::TakeSnapshot() {
  FSnapData = FTable->DataFile().GetChangeCount();
  FSnapIndex = FTable->IndexFile().ChangeCount();
  FSnapBlob = FTable->HasBlobFields() && FTable->BlobFile().Opened()
                  ? FTable->BlobFile().Header().BlobChangeCount
                  : 0;
  FSnapDiscards = FTable->DiscardCount();
}

bool TDataCursor::SnapshotDiffers() const {
  const std::int32_t blob = FTable->HasBlobFields() && FTable->BlobFile().Opened()
                                ? FTable->BlobFile().Header().BlobChangeCount
                                : 0;
  return FSnapDiscards != FTable->DiscardCount() || FSnapData != FTable->DataFile().GetChangeCount() ||
         FSnapIndex != FTable->IndexFile().ChangeCount() || FSnapBlob != blob;
}

// Asked by the index and data files before a read from disk. Under the
// table's write lock the headers are already current.
bool TDataCursor::LazyChangeCheck() {
  if (!FOpen || FExclusive || FTable->Writing()) return false;
  if (!FTable->Reading() && !FTable->QueryReading()) {
    if (FBracketDepth == 0) {
      TTableReadBracket read(*FTable);
      return SnapshotDiffers();
    }
    FTable->BeginRead();
    FLazyRead = FTable->Reading();
  }
  return SnapshotDiffers();
}

void TDataCursor::RecoverFromChange() {
  ++FRefreshes;
  FFilterSet->MarkStale();
  for (;;) {
    TakeSnapshot();
    try {
      RefreshView();
      return;
    } catch (const TStaleRead&) {
      // Changed again while re-finding: take the newer state.
    }
  }
}

// A crack stays a crack: the beginning crack lies before whatever is now the
// first visible record and the end crack after the last one, so a scan that
// stood on a crack neither repeats nor skips a record. A record that is gone
// leaves the position on the key after it, marked so that the next forward
// move lands there instead of passing it.
void TDataCursor::RefreshView() {
  const bool onBOF = FAtBOF;
  const bool onEOF = FAtEOF;
  const bool before = FBeforeCurrent;
  std::vector<std::uint8_t> bookmark(BookmarkSize());
  GetBookmark(bookmark);
  RebuildView();
  if (onBOF) {
    SetToBeginInner();
    return;
  }
  if (onEOF) {
    SetToEndInner();
    return;
  }
  SetToBookmarkInner(bookmark, true);
  if (!FAtBOF && !FAtEOF) {
    std::vector<std::uint8_t> now(BookmarkSize());
    GetBookmark(now);
    const int order = CompareBookmarks(now, bookmark);
    FBeforeCurrent = order > 0 || (before && order == 0);
  }
}

// When the bracket found a change it has refreshed already.
void TDataCursor::ForceRefresh() {
  CheckOpen();
  const std::uint64_t refreshes = FRefreshes;
  Run(true, [&] {
    if (FRefreshes == refreshes) {
      FFilterSet->MarkStale();
      RefreshView();
    }
  });
}

// ------------------------------------------------------------- indexes ----

std::size_t TDataCursor::BookmarkSize() const {
  return FNatural ? CursorLimits::NaturalBookmarkSize : static_cast<std::size_t>(FKeyDef.KeySize);
}

void TDataCursor::SelectIndex(int indexNo) {
  TIndexFile& index = FTable->IndexFile();
  FIndexNo = static_cast<std::uint8_t>(indexNo);
  FNatural = indexNo == CursorIndex::Natural ||
             (indexNo == CursorIndex::Primary && index.NoPrimaryIndex());
  if (FNatural) {
    FIndexDesc.Clear();
    FKeyDef = TKeyDef{};
    FActiveSlot = CursorIndex::Primary;
  } else {
    FIndexDesc = index.Descriptor(indexNo);
    FKeyDef = index.KeyDef(indexNo);
    FActiveSlot = indexNo;
    FCurPage.Bind(0, indexNo, FIndexDesc);
    FCurPage.Clear();
  }
  FCurSlot = 0;
  FRangeActive = false;
  FRangeLow.fill(0x00);
  FRangeHigh.fill(0xFF);
  FRangeFirst = 1;
  FRangeLast = IndexRecordCount();
  RecomputeBitmapMode();
}

void TDataCursor::SwitchToIndex(std::string_view name) {
  CheckOpen();
  if (FIndexNo != CursorIndex::Natural && SameName(FIndexDesc.IndexName, name)) return;
  Run(true, [&] {
    TIndexFile& index = FTable->IndexFile();
    int found = -1;
    for (int n = 0; n <= index.IndexCount() && found < 0; ++n) {
      if (n == 0 && index.NoPrimaryIndex() && !TrimBlanks(name).empty()) continue;
      if (SameName(index.Descriptor(n).IndexName, name)) found = n;
    }
    if (found < 0) Raise(TARN_INVALIDINDEXNAME, name);
    SelectIndex(found);
    RebuildView();
    Resync();
  });
}

void TDataCursor::SwitchToIndexNo(int indexNo) {
  CheckOpen();
  if (indexNo == FIndexNo) return;
  Run(true, [&] {
    const int count = FTable->IndexFile().IndexCount();
    if (indexNo != CursorIndex::Natural && (indexNo < 0 || indexNo > count))
      Raise(TARN_INVALIDINDEXNAME, std::to_string(indexNo));
    SelectIndex(indexNo);
    RebuildView();
    Resync();
  });
}

// ------------------------------------------------------------- filters ----

void TDataCursor::AddViewFilter(TViewFilter& filter) {
  if (std::find(FFilters.begin(), FFilters.end(), &filter) == FFilters.end())
    FFilters.push_back(&filter);
  if (FOpen) FiltersChanged();
}

void TDataCursor::RemoveViewFilter(TViewFilter& filter) {
  const auto it = std::find(FFilters.begin(), FFilters.end(), &filter);
  if (it == FFilters.end()) return;
  FFilters.erase(it);
  if (FOpen) FiltersChanged();
}

void TDataCursor::FiltersChanged() {
  Run(false, [&] {
    RecomputeBitmapMode();
    RebuildView();
    Resync();
  });
}

bool TDataCursor::AnyFilterActive() const {
  return FFilterSet->AnyActive() ||
         std::any_of(FFilters.begin(), FFilters.end(),
                     [](const TViewFilter* f) { return f->Active(); });
}

void TDataCursor::RecomputeBitmapMode() { FBitmapMode = FNatural || AnyFilterActive(); }

bool TDataCursor::CheckInvariants() const {
  if (!FOpen) return true;
  const bool empty = FAtBOF && FAtEOF;
  if (FNatural) {
    if (FCurRecNo < 0 || FCurRecNo > RecordSlots()) return false;
  } else if (!empty && (FCurSlot < 1 || FCurSlot > FCurPage.EntryCount())) {
    return false;
  }
  if (FRangeFirst < 0 || FRangeLast < 0) return false;
  if (FRangeActive && (FRangeFirst == 0) != (FRangeLast == 0)) return false;
  return true;
}

}  // namespace tarn
