// TDataCursor: creating, deleting, renaming and emptying tables, adding and
// deleting indexes, and the helpers the restructure shares with them.
//
// AddIndex builds the new index from the records' keys sorted first: the
// keys are collected in record-number order, stably sorted in the index's
// order, and the tree is built bottom-up from them (LoadTree): full leaves
// left to right, then each interior level over the first keys of the level
// below. The tree holds the same keys as one built by inserting the records
// one by one; its pages are simply fuller. In a unique index the first
// record of every run of equal keys keeps its key and the others are
// deleted from the table, which leaves exactly the records a
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
    if (progress != nullptr) progress->Step(r, slots);
  }
  std::vector<std::uint32_t> order(records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return index.CompareKeys(slot, keys.data() + a * keySize, keys.data() + b * keySize) < 0;
  });
  // Later records of a run of equal keys leave the table.
  std::vector<std::uint32_t> kept;
  kept.reserve(order.size());
  std::vector<bool> skip(static_cast<std::size_t>(slot) + 1, false);
  skip[static_cast<std::size_t>(slot)] = true;
  for (const std::uint32_t i : order) {
    if (purgeDuplicates && !kept.empty() &&
        index.CompareKeys(slot, keys.data() + kept.back() * keySize, keys.data() + i * keySize) == 0) {
      PurgeRecord(records[i], skip);
    } else {
      kept.push_back(i);
    }
  }
  TIndexSwitch to(*this, slot);
  LoadTree(slot, kept.size(), [&](std::size_t i) { return keys.data() + kept[i] * keySize; },
           [&](std::size_t i) { return records[kept[i]]; });
}

void TDataCursor::LoadTree(int slot, std::size_t count, const std::function<const std::uint8_t*(std::size_t)>& keyAt,
                           const std::function<std::int32_t(std::size_t)>& refAt) {
  TIndexFile& index = FTable->IndexFile();
  if (count == 0) return;
  // One level of the tree: its entries (first key, reference, count).
  struct TEntry {
    const std::uint8_t* Key;
    std::int32_t Ref;
    std::int32_t Count;
  };
  std::vector<TEntry> entries(count);
  for (std::size_t i = 0; i < count; ++i) entries[i] = {keyAt(i), refAt(i), 0};
  bool leaf = true;
  for (;;) {
    std::vector<TEntry> above;
    TPagePin previous;
    // Builds one page from entries[from..] and returns the number taken.
    const auto fill = [&](std::size_t from, std::size_t limit) {
      TPagePin page = index.AllocPage(*this);
      if (!page) Raise(TARN_INDEXCORRUPT);
      page->SetType(leaf ? TPageType::Leaf : TPageType::Interior);
      std::size_t taken = 0;
      std::int64_t total = 0;
      while (from + taken < entries.size() && taken < limit) {
        const TEntry& e = entries[from + taken];
        const int n = page->EntryCount();
        page->InsertEntry(n, e.Key, e.Ref, e.Count);
        if (page->IsCompressedLeaf()) {
          page->RepackRange(n + 1, n + 1);
          if (page->Overflows()) {
            page->RemoveEntry(n + 1);
            break;
          }
        }
        total += leaf ? 1 : e.Count;
        ++taken;
      }
      if (previous) {
        previous->SetNextPage(page->PageNo());
        page->SetPrevPage(previous->PageNo());
      }
      above.push_back({entries[from].Key, page->PageNo(), static_cast<std::int32_t>(total)});
      previous = std::move(page);
      return taken;
    };
    const bool compressed = leaf && index.Descriptor(slot).Compression != TKeyCompression::None;
    if (compressed) {
      // Compressed leaves hold what fits; none of them counts as underfull.
      for (std::size_t from = 0; from < entries.size();) from += fill(from, entries.size());
    } else {
      // Full pages; the last two share their entries when the last would be
      // less than half full.
      TPage probe;
      probe.Bind(0, slot, index.Descriptor(slot));
      probe.SetType(leaf ? TPageType::Leaf : TPageType::Interior);
      const std::size_t capacity = static_cast<std::size_t>(probe.MaxEntries());
      const std::size_t n = entries.size();
      const std::size_t pages = (n + capacity - 1) / capacity;
      std::size_t last = n - (pages - 1) * capacity;
      std::size_t beforeLast = capacity;
      if (pages > 1 && last < capacity / 2) {
        const std::size_t both = capacity + last;
        beforeLast = (both + 1) / 2;
        last = both / 2;
      }
      std::size_t from = 0;
      for (std::size_t p = 0; p < pages; ++p) {
        const std::size_t size = p + 1 == pages ? last : (p + 2 == pages ? beforeLast : capacity);
        from += fill(from, size);
      }
    }
    if (above.size() == 1) {
      previous->SetType(leaf ? TPageType::RootLeaf : TPageType::RootInterior);
      index.SetRootPage(slot, previous->PageNo());
      return;
    }
    previous.Release();
    entries.swap(above);
    leaf = false;
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
