// TDataCursor: creating, deleting, renaming and emptying tables, adding and
// deleting indexes, and the helpers the restructure shares with them.
//
// AddIndex builds the new index from the records' keys sorted first: the
// keys are collected in record-number order, stably sorted in the index's
// order, and inserted in that order (each insertion lands at the right end
// of the tree, so the pages it touches stay in the cache). In a unique index
// the first record of every run of equal keys keeps its key and the others
// are deleted from the table, which leaves exactly the records a
// record-by-record build (that deletes every record whose key is already
// there) would leave.
//
// Failure handling: maintenance of an open table first writes the buffers,
// so that a failure part way can drop everything the operation changed in
// the caches and re-read the headers (TMaintenanceUndo).

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/index_switch.h"
#include "engine/cursor/maintenance_progress.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/cursor/table_definition_check.h"
#include "engine/cursor/table_files.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"

namespace tarn {

namespace {

// Drops the changes of a maintenance step that failed part way: the cached
// records, pages and blocks (written before the step began) and the headers
// read again.
class TMaintenanceUndo {
 public:
  explicit TMaintenanceUndo(TDataTable& table) : FTable(table) {}
  ~TMaintenanceUndo() {
    if (FDone) return;
    try {
      FTable.DiscardBuffers(true, true);
    } catch (...) {
      // The step's own failure is the one reported.
    }
  }
  TMaintenanceUndo(const TMaintenanceUndo&) = delete;
  TMaintenanceUndo& operator=(const TMaintenanceUndo&) = delete;
  void Commit() { FDone = true; }

 private:
  TDataTable& FTable;
  bool FDone = false;
};

}  // namespace

// ------------------------------------------------------------- helpers ----

void TDataCursor::RecoverView(int indexNo) noexcept {
  try {
    ResetAfterMaintenance(indexNo);
  } catch (...) {
    // The operation's own failure is the one reported.
  }
}

void TDataCursor::ResetAfterMaintenance(int indexNo) {
  FTextKeys.reset();
  FIndexDesc.Clear();
  SelectIndex(indexNo);
  Run(false, [&] {
    TakeSnapshot();
    RebuildView();
    SetToBeginInner();
  });
}

TTextIndexParams TDataCursor::ReadTextParams() {
  TTextIndexParams params = TTextIndexParams::Defaults();
  TIndexSwitch to(*this, SysTextSlot);
  TTextParamsChain(FTable->IndexFile()).Read(*this, params);
  return params;
}

void TDataCursor::WriteTextParams(const TTextIndexParams& params) {
  TIndexSwitch to(*this, SysTextSlot);
  TIndexFile::TChangeCheckSuspension steady(FTable->IndexFile());
  TTextParamsChain(FTable->IndexFile()).Write(*this, params);
  FTextKeys.reset();
}

void TDataCursor::FreePageTree(std::int32_t pageNo) {
  TIndexFile& index = FTable->IndexFile();
  std::vector<std::int32_t> children;
  {
    TPagePin pin = index.GetPage(*this, pageNo);
    if (!pin) Raise(TARN_INDEXCORRUPT);
    if (!pin->IsLeaf()) {
      for (int i = 1; i <= pin->EntryCount(); ++i) children.push_back(pin->Ref(i));
    }
  }
  for (const std::int32_t child : children) FreePageTree(child);
  TPagePin pin = index.GetPage(*this, pageNo);
  if (!pin) Raise(TARN_INDEXCORRUPT);
  index.FreePage(*this, *pin);
}

void TDataCursor::FreeIndexPages(int slot) {
  TIndexFile& index = FTable->IndexFile();
  const std::int32_t root = index.Descriptor(slot).RootPage;
  if (root == 0) return;
  TIndexSwitch to(*this, slot);
  TIndexFile::TChangeCheckSuspension steady(index);
  FreePageTree(root);
  index.SetRootPage(slot, 0);
}

void TDataCursor::PurgeRecord(std::int32_t recordNo, const std::vector<bool>& skip) {
  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  TIndexFile::TChangeCheckSuspension steady(index);
  std::vector<std::uint8_t> old;
  {
    TRecordPin pin = data.GetRecord(this, recordNo);
    if (!pin) Raise(TARN_FILECORRUPT);
    old.assign(pin->Data().begin(), pin->Data().end());
  }
  const auto skipped = [&](int slot) { return static_cast<std::size_t>(slot) < skip.size() && skip[slot]; };
  const std::int32_t autoInc = static_cast<std::int32_t>(GetLE32(old, RecordLayout::RecAutoInc));
  std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>> words;
  if (HasTextIndex() && !skipped(SysTextSlot)) TextKeys(old, autoInc, true, words);
  std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
  for (int slot = FirstKeySlot(); slot <= index.IndexCount(); ++slot) {
    if (skipped(slot)) continue;
    const TKeyDef& def = index.KeyDef(slot);
    BuildKey(def, old, std::span<std::uint8_t>(key).first(def.KeySize));
    RemoveKeyFrom(slot, key.data());
  }
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> live{};
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> dead{};
  DeletedKey(old, false, live.data());
  DeletedKey(old, true, dead.data());
  RemoveKeyFrom(SysDeletedSlot, live.data());
  AddKeyTo(SysDeletedSlot, dead.data(), recordNo);
  index.DecRecordCount();
  for (const auto& w : words) RemoveKeyFrom(SysTextSlot, w.data());
  DeleteBlobs(old, recordNo);
  TRecordPin pin = data.GetRecord(this, recordNo);
  if (!pin) Raise(TARN_FILECORRUPT);
  data.FreeRecord(*pin);
  pin->MarkModified();
}

void TDataCursor::BuildIndexSorted(int slot, bool purgeDuplicates, TMaintenanceProgress* progress) {
  TIndexFile& index = FTable->IndexFile();
  TDataFile& data = FTable->DataFile();
  TIndexFile::TChangeCheckSuspension steady(index);
  const std::int32_t slots = data.GetPhysicalRecordCount();
  if (index.RecordCount() == 0 || slots == 0) return;
  const TKeyDef& keyDef = index.KeyDef(slot);
  const std::size_t keySize = keyDef.KeySize;
  std::vector<std::uint8_t> keys;
  std::vector<std::int32_t> records;
  keys.reserve(static_cast<std::size_t>(index.RecordCount()) * keySize);
  records.reserve(static_cast<std::size_t>(index.RecordCount()));
  for (std::int32_t r = 1; r <= slots; ++r) {
    TRecordPin pin = data.GetRecord(this, r);
    if (!pin) Raise(TARN_FILECORRUPT);
    if (pin->IsDeleted()) continue;
    keys.resize(keys.size() + keySize);
    BuildKey(keyDef, pin->Data(), std::span<std::uint8_t>(keys).last(keySize));
    records.push_back(r);
  }
  std::vector<std::uint32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return index.CompareKeys(slot, keys.data() + a * keySize, keys.data() + b * keySize) < 0;
  });
  std::vector<bool> skip(static_cast<std::size_t>(slot) + 1, false);
  skip[static_cast<std::size_t>(slot)] = true;
  TIndexSwitch to(*this, slot);
  TBTree tree(index);
  const std::uint8_t* previous = nullptr;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::uint8_t* key = keys.data() + order[i] * keySize;
    const std::int32_t r = records[order[i]];
    if (purgeDuplicates && previous != nullptr && index.CompareKeys(slot, previous, key) == 0) {
      PurgeRecord(r, skip);
    } else {
      tree.AddKey(*this, key, r);
      previous = key;
    }
    if (progress != nullptr) progress->Step(static_cast<std::int64_t>(i) + 1, static_cast<std::int64_t>(order.size()));
  }
}

// ---------------------------------------------------------- file level ----

void TDataCursor::CreateTable(const TTableDefinition& definition, bool overwrite) {
  CheckClosed();
  if (FReadOnly) Raise(TARN_OSEACCES);
  TTableDefinition def = definition;
  CheckDefinition(def, {.Database = FDirectory.Name(), .Table = FTableName});
  RenumberDefinition(def);
  if (FDirectory.TableExists(FTableName, FInMemory)) {
    if (!overwrite) Raise(TARN_TABLEEXISTS);
    if (TDataTable* held = FDirectory.FindTable(FTableName, FInMemory); held != nullptr && held->IsOpen())
      Raise(TARN_OSEACCES);
    try {
      FDirectory.DeleteTable(FTableName, FInMemory);
    } catch (const ETarnEngineError& e) {
      // A table with files missing is made anew over what is left of it.
      if (e.ErrorCode() == TARN_OSEACCES) throw;
    }
  }
  TDataTable& table = FDirectory.CreateTable(FTableName, FInMemory, false, def);
  try {
    if (def.LastAutoInc > 0) table.DataFile().SetLastAutoInc(def.LastAutoInc);
    table.WriteBuffers(false, true, false, table.HasBlobFields(), true);
    FDirectory.ReleaseTable(table, false);
  } catch (...) {
    // A table that could not be written whole is not left behind.
    if (FDirectory.FindTable(FTableName, FInMemory) == &table) {
      try {
        FDirectory.ReleaseTable(table, true);
      } catch (...) {
        // The first failure is the one reported.
      }
    }
    RemoveTableFiles(FDirectory, FTableName, FInMemory);
    throw;
  }
}

namespace {

// Opens the table only to read its header and demand its password, and gives
// it back unchanged.
void CheckTableAccess(TDataDirectory& directory, std::string_view name, bool inMemory, TTableCursor& cursor) {
  TDataTable& table = directory.OpenTableForCursor(
      name, TTableOpenOptions{.InMemory = inMemory, .Exclusive = true, .ReadOnly = true}, cursor);
  directory.ReleaseTableForCursor(table, cursor, true);
}

}  // namespace

void TDataCursor::DeleteTable() {
  CheckClosed();
  CheckTableAccess(FDirectory, FTableName, FInMemory, *this);
  FDirectory.DeleteTable(FTableName, FInMemory);
}

void TDataCursor::RenameTable(std::string_view newName, bool backup) {
  CheckClosed();
  CheckTableAccess(FDirectory, FTableName, FInMemory, *this);
  // Backups always take the table's own name.
  FDirectory.RenameTable(FTableName, FInMemory, backup ? std::string_view(FTableName) : newName, backup);
}

// ------------------------------------------------------- open table ----

void TDataCursor::EmptyTable() {
  if (!FOpen) Raise(TARN_NOTINITIALIZED);
  if (!FExclusive) Raise(TARN_NEEDEXCLACCESS);
  if (FReadOnly) Raise(TARN_OSEACCES);
  FreeBlobs(true);
  const bool hadParams = FTable->IndexFile().Descriptor(SysTextSlot).TextParamsPage != 0;
  const TTextIndexParams params = ReadTextParams();
  try {
    FTable->EmptyTable();
    if (hadParams || HasTextIndex()) WriteTextParams(params);
    FTable->WriteBuffers(false, true, false, FTable->HasBlobFields(), true);
  } catch (...) {
    RecoverView(FIndexNo);
    throw;
  }
  ResetAfterMaintenance(FIndexNo);
}

void TDataCursor::AddIndex(const TIndexDescriptor& definition) {
  if (!FOpen) Raise(TARN_NOTINITIALIZED);
  TIndexDescriptor def = definition;
  if (!def.Temporary) {
    if (!FExclusive) Raise(TARN_NEEDEXCLACCESS);
    if (FReadOnly) Raise(TARN_OSEACCES);
  }
  CompleteIndexDefinition(def, FFields, false, {.Database = FDirectory.Name(), .Table = FTableName});
  const int activeIndex = FIndexNo;
  try {
    std::optional<TTableWriteBracket> write;
    if (!FExclusive) write.emplace(*FTable);
    ++FBracketDepth;
    struct TDepth {
      int& Depth;
      ~TDepth() { --Depth; }
    } depth{FBracketDepth};
    if (!FTable->InTransaction()) FTable->WriteBuffers();
    TMaintenanceUndo undo(*FTable);
    TIndexFile& index = FTable->IndexFile();
    TIndexFile::TChangeCheckSuspension steady(index);
    const int slot = index.AddIndexDescriptor(def);
    TMaintenanceProgress progress(FOnIndexProgress, FTable->Session().ProgressSteps());
    BuildIndexSorted(slot, def.Unique, &progress);
    if (!FTable->InTransaction()) FTable->WriteBuffers(false, true, false, FTable->HasBlobFields(), true);
    undo.Commit();
    progress.Finish();
  } catch (...) {
    RecoverView(activeIndex);
    throw;
  }
  ResetAfterMaintenance(activeIndex);
}

void TDataCursor::DeleteIndex(std::string_view name, bool remove) {
  if (!FOpen) Raise(TARN_NOTINITIALIZED);
  if (!FExclusive) Raise(TARN_NEEDEXCLACCESS);
  if (FReadOnly) Raise(TARN_OSEACCES);
  TIndexFile& index = FTable->IndexFile();
  const int slot = index.FindIndexName(name);
  if (slot < 0 || (slot == 0 && index.NoPrimaryIndex())) Raise(TARN_INVALIDINDEXNAME, name);
  try {
    ++FBracketDepth;
    struct TDepth {
      int& Depth;
      ~TDepth() { --Depth; }
    } depth{FBracketDepth};
    if (!FTable->InTransaction()) FTable->WriteBuffers();
    TMaintenanceUndo undo(*FTable);
    FreeIndexPages(slot);
    index.DeleteIndexDescriptor(slot, remove);
    if (!FTable->InTransaction()) FTable->WriteBuffers(false, true, false, false, true);
    undo.Commit();
  } catch (...) {
    RecoverView(FIndexNo);
    throw;
  }
  ResetAfterMaintenance(CursorIndex::Primary);
}

}  // namespace tarn
