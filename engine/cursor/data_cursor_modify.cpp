// TDataCursor: inserting, modifying and deleting records, and record locks.
//
// Every modification runs in a write bracket (TWriteBracket): the table's
// write lock (inside a transaction only the index and blob file locks: the
// transaction lock covers the data file), a refresh when the table changed
// since the cursor's snapshot, and the nesting depth that lets the
// navigation used inside run directly.
// Inside it the work happens in a fixed order, each step owned by a guard
// declared in acquisition order:
//   1. the record lock of the record concerned     TRecordLockGuard
//   2. the undo of everything changed in the caches TModifyUndo
//   3. the record's cache slot                      TRecordPin
// Keys, the record image and blobs change only in the caches; the one write
// to disk is WriteChanges at the end, before the write lock ends. A failure
// before that point is undone by TModifyUndo: a cursor sharing the table
// (outside a transaction) starts every modification with clean caches, so
// dropping the caches and re-reading the headers gives back exactly the table
// as it was; an exclusive cursor or a transaction, whose caches hold earlier
// unwritten work, undoes its key and record changes one by one in reverse
// order instead, and puts the blob blocks it touched back from the blob
// file's journal.
//
// Record locks: one per cursor (LockedRecNo). The pessimistic protocol takes
// it at the edit (GetCurrentRecord with lock) and keeps it until the post with
// unlockAfter or UnlockCurrentRecord; the optimistic protocol holds it only
// during a post or delete. Another cursor of this table meets the shared
// table's in-process set (10258 at once), another program the OS lock
// (10258 after the session's retries).

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/blob_buffer_set.h"
#include "engine/cursor/cursor_filters.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/cursor/view_filter.h"
#include "engine/index/keys.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"

namespace tarn {

using TKeyBytes = std::array<std::uint8_t, KeyLimits::MaxKeySize>;
using TTextKeys = std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>>;

// The write lock of one modification (see the file comment). Nothing is
// locked for an exclusive cursor.
class TWriteBracket {
 public:
  explicit TWriteBracket(TDataCursor& cursor) : FCursor(cursor) {
    ++cursor.FBracketDepth;
    try {
      if (!cursor.FExclusive) {
        FWrite.emplace(*cursor.FTable);
        if (FWrite->Changed() || cursor.SnapshotDiffers()) cursor.RecoverFromChange();
      }
    } catch (...) {
      FWrite.reset();
      --cursor.FBracketDepth;
      throw;
    }
  }
  ~TWriteBracket() {
    FWrite.reset();
    --FCursor.FBracketDepth;
  }
  TWriteBracket(const TWriteBracket&) = delete;
  TWriteBracket& operator=(const TWriteBracket&) = delete;

 private:
  TDataCursor& FCursor;
  std::optional<TTableWriteBracket> FWrite;
};

// A record lock taken for one operation, released at the end of the scope
// unless Keep() hands it over to the cursor's edit state.
class TRecordLockGuard {
 public:
  TRecordLockGuard(TDataCursor& cursor, std::int32_t recordNo) : FCursor(cursor), FRecordNo(recordNo) {
    cursor.AcquireRecordLock(recordNo);
  }
  ~TRecordLockGuard() { Release(); }
  TRecordLockGuard(const TRecordLockGuard&) = delete;
  TRecordLockGuard& operator=(const TRecordLockGuard&) = delete;
  void Keep() { FRecordNo = 0; }
  void Release() noexcept {
    if (FRecordNo == 0) return;
    const std::int32_t n = std::exchange(FRecordNo, 0);
    try {
      FCursor.ReleaseRecordLock(n);
    } catch (...) {
      // The table counts the lock as released.
    }
  }

 private:
  TDataCursor& FCursor;
  std::int32_t FRecordNo;
};

namespace {

// Undoes the changes of a failed modification (see the file comment).
//
// Most steps put an index key back or take one out again, or put a record's
// cache slot back as it was; those are kept as (kind, slot, record number,
// bytes) with the bytes in one arena, so recording them copies only the
// bytes themselves. Other steps are closures. Steps are undone in reverse
// order of recording, whatever their kind.
//
// The step lists of a finished undo are kept for the next one on the same
// thread, so that once they have grown a modification allocates nothing to
// record its steps.
class TModifyUndo {
 public:
  // The cursor's key changes: add (true) key to slot for recordNo, or remove
  // it from slot.
  using TKeyChange = std::function<void(bool add, int slot, const std::uint8_t* key, std::int32_t recordNo)>;

  // client: whose record cache slots the record steps put back.
  TModifyUndo(TDataTable& table, bool discard, TKeyChange keyChange, TRecordCacheClient* client)
      : FTable(table), FDiscard(discard), FKeyChange(std::move(keyChange)), FClient(client) {
    if (!FDiscard) {
      FLists = TakeLists();
      // Blob chains change block by block; their blocks are put back from
      // the blob file's journal.
      if (FTable.HasBlobFields() && FTable.BlobFile().Opened() && !FTable.BlobFile().JournalOpen()) {
        FTable.BlobFile().BeginJournal();
        FJournal = true;
      }
    }
  }
  ~TModifyUndo() {
    if (FDone) {
      if (FJournal) FTable.BlobFile().EndJournal();
    } else if (FDiscard) {
      FTable.DiscardBuffers(false, true);
    } else {
      UndoSteps();
      if (FJournal) FTable.BlobFile().RollBackJournal();
    }
    if (!FDiscard) GiveLists(std::move(FLists));
  }
  TModifyUndo(const TModifyUndo&) = delete;
  TModifyUndo& operator=(const TModifyUndo&) = delete;

  // Records a step and its reverse.
  template <class TFn>
  void Step(TFn&& undo) {
    if (FDiscard) return;
    FLists.Calls.emplace_back(std::forward<TFn>(undo));
    FLists.Steps.push_back(TStep{TKind::Call, 0, 0, FLists.Calls.size() - 1, 0});
  }
  // Records that key was taken out of slot: undone by adding it back for
  // recordNo.
  void KeyRemoved(int slot, std::span<const std::uint8_t> key, std::int32_t recordNo) {
    BytesStep(TKind::AddKey, slot, key, recordNo);
  }
  // Records that key was added to slot: undone by taking it out again.
  void KeyAdded(int slot, std::span<const std::uint8_t> key) { BytesStep(TKind::RemoveKey, slot, key, 0); }
  // Records the cache slot of record recordNo as it is before a change:
  // undone by copying image back into it and marking it modified.
  void RecordChanging(std::int32_t recordNo, std::span<const std::uint8_t> image) {
    BytesStep(TKind::RecordImage, 0, image, recordNo);
  }
  void Commit() { FDone = true; }

 private:
  enum class TKind : std::uint8_t { Call, AddKey, RemoveKey, RecordImage };
  struct TStep {
    TKind Kind;
    int Slot;
    std::int32_t RecordNo;
    std::size_t Index;  // into Calls (Call) or Bytes (the first byte)
    std::size_t Size;   // bytes in Bytes (RecordImage)
  };
  struct TLists {
    std::vector<TStep> Steps;
    std::vector<std::function<void()>> Calls;
    std::vector<std::uint8_t> Bytes;
  };
  // Lists bigger than this are not kept for the next undo.
  static constexpr std::size_t KeptBytes = 64 * 1024;
  static constexpr std::size_t KeptSteps = 1024;

  static std::vector<TLists>& Spare() {
    thread_local std::vector<TLists> spare;
    return spare;
  }
  static TLists TakeLists() {
    std::vector<TLists>& spare = Spare();
    if (spare.empty()) return {};
    TLists lists = std::move(spare.back());
    spare.pop_back();
    return lists;
  }
  static void GiveLists(TLists&& lists) noexcept {
    if (lists.Bytes.capacity() > KeptBytes || lists.Steps.capacity() > KeptSteps ||
        lists.Calls.capacity() > KeptSteps)
      return;
    lists.Steps.clear();
    lists.Calls.clear();
    lists.Bytes.clear();
    try {
      Spare().push_back(std::move(lists));
    } catch (...) {
      // Not kept; the next undo allocates its own.
    }
  }

  void BytesStep(TKind kind, int slot, std::span<const std::uint8_t> bytes, std::int32_t recordNo) {
    if (FDiscard) return;
    const std::size_t at = FLists.Bytes.size();
    FLists.Bytes.insert(FLists.Bytes.end(), bytes.begin(), bytes.end());
    FLists.Steps.push_back(TStep{kind, slot, recordNo, at, bytes.size()});
  }
  void UndoSteps() noexcept {
    for (auto it = FLists.Steps.rbegin(); it != FLists.Steps.rend(); ++it) {
      try {
        switch (it->Kind) {
          case TKind::Call:
            FLists.Calls[it->Index]();
            break;
          case TKind::AddKey:
          case TKind::RemoveKey:
            FKeyChange(it->Kind == TKind::AddKey, it->Slot, FLists.Bytes.data() + it->Index, it->RecordNo);
            break;
          case TKind::RecordImage:
            if (TRecordPin p = FTable.DataFile().GetRecord(FClient, it->RecordNo)) {
              std::memcpy(p->MutableData().data(), FLists.Bytes.data() + it->Index,
                          std::min(it->Size, p->MutableData().size()));
              p->MarkModified();
            }
            break;
        }
      } catch (...) {
        // Keep undoing the rest; the table's own check finds what is left.
      }
    }
  }

  TDataTable& FTable;
  bool FDiscard;
  TKeyChange FKeyChange;
  TRecordCacheClient* FClient;
  bool FJournal = false;
  bool FDone = false;
  TLists FLists;
};

}  // namespace

std::function<void(bool, int, const std::uint8_t*, std::int32_t)> TDataCursor::KeyChanger() {
  return [this](bool add, int slot, const std::uint8_t* key, std::int32_t recordNo) {
    if (add)
      AddKeyTo(slot, key, recordNo);
    else
      RemoveKeyFrom(slot, key);
  };
}

// ---------------------------------------------------------- record locks ----

void TDataCursor::AcquireRecordLock(std::int32_t recordNo) {
  if (FExclusive) return;
  if (recordNo == 0) recordNo = FCurRecNo;
  const bool wasReading = FTable->Reading();
  const bool changed = FTable->LockCursorRecord(recordNo);
  FLockedRecNo = recordNo;
  // LockRecord leaves a read lock of its own for the caller to end.
  struct TEndRead {
    TDataTable& Table;
    bool Own;
    ~TEndRead() {
      if (!Own || !Table.Reading()) return;
      try {
        Table.EndRead();
      } catch (...) {
        // The table counts the lock as released.
      }
    }
  } endRead{*FTable, !wasReading && FTable->Reading()};
  try {
    if (changed || SnapshotDiffers()) RecoverFromChange();
  } catch (...) {
    ReleaseRecordLock(recordNo);
    throw;
  }
}

void TDataCursor::ReleaseRecordLock(std::int32_t recordNo) {
  if (FExclusive) return;
  if (recordNo == 0) recordNo = FLockedRecNo;
  if (recordNo == 0) return;
  if (FLockedRecNo == recordNo) FLockedRecNo = 0;
  FTable->UnlockCursorRecord(recordNo);
}

void TDataCursor::UnlockCurrentRecord() {
  CheckOpen();
  if (FTable->Session().LockProtocol() == TLockProtocol::Optimistic) {
    FRecordChanged = false;
    return;
  }
  if (FLockedRecNo != 0) ReleaseRecordLock(FLockedRecNo);
}

TErrorCode TDataCursor::GetCurrentRecord(std::span<std::uint8_t> buffer, bool lock) {
  if (!lock) return GetCurrentRecord(buffer);
  return Run(false, [&]() -> TErrorCode {
    if (FAtBOF || FAtEOF) return GetCurrentRecord(buffer);
    const bool pessimistic = FTable->Session().LockProtocol() == TLockProtocol::Pessimistic;
    if (pessimistic) {
      const std::int32_t n = FCurRecNo;
      const bool own = FLockedRecNo != n;
      if (own) AcquireRecordLock(n);
      try {
        LoadCurrentRecord(true);
        if (!FExclusive && !FCurRecord->SameAs(buffer)) Raise(TARN_KEYORRECDELETED);
      } catch (...) {
        if (own) ReleaseRecordLock(n);
        throw;
      }
    } else {
      LoadCurrentRecord(true);
      if (!FCurRecord->SameAs(buffer)) Raise(TARN_KEYORRECDELETED);
    }
    return GetCurrentRecord(buffer);
  });
}

// ------------------------------------------------------------- helpers ----

void TDataCursor::WriteChanges(bool blobsChanged) {
  if (!FExclusive) {
    const bool flush = FTable->Session().ForceBufferFlush();
    FTable->WriteBuffers(false, true, flush, blobsChanged && FTable->HasBlobFields(), true);
  }
  TakeSnapshot();
}

// The view follows the one record that changed: the live set and the visible
// set gain or lose its bit; with the cursor's own filters active the visible
// bit is what they now say of the record (they followed the change already).
// A key range, a view filter or a filter whose bitmap is out of date means a
// full rebuild. With reposition the cursor then stands on the record, or,
// after a delete, on the record after it such that the next forward move
// lands there;
// without, it goes back to where it stood before the change (saved), a crack
// staying a crack.
void TDataCursor::RepositionAfter(std::int32_t recordNo, bool inserted, bool deleted, bool reposition,
                                  const TSavedPosition& saved) {
  if (FBulkLoad) return;
  const bool viewFilters = std::any_of(FFilters.begin(), FFilters.end(),
                                       [](const TViewFilter* f) { return f->Active(); });
  if (FBitmapMode && (viewFilters || (FRangeActive && !FNatural) || FFilterSet->AnyActiveStale())) {
    RebuildView();
  } else {
    ComputeRangeBounds();
    if (FBitmapMode) {
      const auto slots = static_cast<std::uint32_t>(RecordSlots());
      const bool grown = slots >= FVisible->BitCount();
      const auto bit = static_cast<std::uint32_t>(recordNo);
      const bool wasVisible = FVisible->TestBit(bit);
      FLiveSet->SetBitCount(slots);
      FVisible->SetBitCount(slots);
      if (inserted) FLiveSet->SetBit(bit);
      if (deleted) FLiveSet->ClearBit(bit);
      FLiveState.Valid = false;
      if (deleted) {
        FVisible->ClearBit(bit);
      } else if (FFilterSet->AnyActive()) {
        if (FLiveSet->TestBit(bit) && FFilterSet->Passes(bit))
          FVisible->SetBit(bit);
        else
          FVisible->ClearBit(bit);
      } else if (inserted) {
        FVisible->SetBit(bit);
      }
      // Only this record's bit changed (slots are only ever added here).
      if (grown)
        FVisibleCount += static_cast<std::int64_t>(FVisible->TestBit(bit)) - (wasVisible ? 1 : 0);
      else
        FVisibleCount = FVisible->CountSet();
    }
  }
  // A changed record that kept its place in the current index: with no key
  // of that index added or removed, the leaf copy, slot and sequence number
  // the cursor holds are still true, and both ways below would find the same
  // record again.
  if (!inserted && !deleted && !FNatural && !FBitmapMode && !saved.AtBOF && !saved.AtEOF &&
      FTreeEdits == saved.TreeEdits && !FAtBOF && !FAtEOF && FCurRecNo == recordNo) {
    FBeforeCurrent = false;
    LoadCurrentRecord(true);
    return;
  }
  // A deleted record's successor in the same leaf: where the seek below
  // lands, found without a descent.
  if (deleted && !saved.AtBOF && !saved.AtEOF && FTreeEdits == saved.TreeEdits + 1 && FCurRecNo == recordNo &&
      LandAfterRemovedKey()) {
    FBeforeCurrent = true;
    LoadCurrentRecord(true);
    return;
  }
  if (reposition && !deleted) {
    FAtBOF = FAtEOF = false;
    Resync();
    return;
  }
  if (!reposition && saved.AtBOF) return SetToBeginInner();
  if (!reposition && saved.AtEOF) return SetToEndInner();
  FAtBOF = FAtEOF = false;
  SetToBookmarkInner(saved.Bookmark(), true);
  if (!FAtBOF && !FAtEOF) {
    std::array<std::uint8_t, KeyLimits::MaxKeySize> now{};
    GetBookmark(now);
    FBeforeCurrent = CompareBookmarks(now, saved.Bookmark()) > 0;
  }
}

TDataCursor::TSavedPosition TDataCursor::SavePosition() const {
  static_assert(CursorLimits::NaturalBookmarkSize <= KeyLimits::MaxKeySize);
  TSavedPosition saved;
  saved.AtBOF = FAtBOF;
  saved.AtEOF = FAtEOF;
  saved.TreeEdits = FTreeEdits;
  saved.BookmarkLength = BookmarkSize();
  GetBookmark(saved.BookmarkBytes);
  return saved;
}

namespace {

std::span<std::uint8_t> KeySpan(TKeyBytes& key, const TKeyDef& def) {
  return std::span<std::uint8_t>(key).first(def.KeySize);
}

}  // namespace

// ---------------------------------------------------------------- insert ----

void TDataCursor::InsertRecord(std::span<std::uint8_t> buffer, bool reposition) {
  CheckRecordBuffer(buffer);
  if (FReadOnly) Raise(TARN_OSEACCES);
  const std::span<std::uint8_t> image = buffer.first(FRecordSize);
  CheckConstraints(image);
  TWriteBracket bracket(*this);
  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  const TSavedPosition saved = SavePosition();
  const std::int32_t n = data.AllocateRecordNo();
  TRecordLockGuard lock(*this, n);
  TModifyUndo undo(*FTable, !FExclusive && !FTable->InTransaction(), KeyChanger(), this);

  if (!FKeepAutoInc) {
    std::int32_t next = data.GetLastAutoInc();
    next = next == std::numeric_limits<std::int32_t>::max() ? 1 : next + 1;
    PutLE32(image, RecordLayout::RecAutoInc, static_cast<std::uint32_t>(next));
  }
  const std::int32_t autoInc = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));

  // Duplicate checks before anything changes.
  TKeyBytes key{};
  const int count = index.IndexCount();
  const bool checks = !(FInternal && !FNatural);
  const auto deferred = [&](int slot) {
    return static_cast<std::size_t>(slot) < FDeferredSlots.size() && FDeferredSlots[static_cast<std::size_t>(slot)];
  };
  if (checks) {
    for (int slot = FirstKeySlot(); slot <= count; ++slot) {
      if (deferred(slot)) continue;
      const TKeyDef& def = index.KeyDef(slot);
      if (!ChecksDuplicates(def, slot)) continue;  // skip building a key no check reads
      BuildKey(def, image, KeySpan(key, def));
      CheckDuplicate(slot, key.data());
    }
    if (FKeepAutoInc) {
      DeletedKey(image, false, key.data());
      CheckDuplicate(SysDeletedSlot, key.data());
    }
  }

  for (int slot = FirstKeySlot(); slot <= count; ++slot) {
    if (deferred(slot)) continue;
    const TKeyDef& def = index.KeyDef(slot);
    BuildKey(def, image, KeySpan(key, def));
    AddKeyTo(slot, key.data(), n);
    undo.KeyAdded(slot, KeySpan(key, def));
  }

  TRecordPin pin = data.AllocateRecord(this);
  if (!pin) Raise(TARN_FILECORRUPT);
  assert(pin->RecordNo() == n);
  // A reused slot goes back to the head of the free list with its old image;
  // an appended one stays as a free slot of the file. (Undone in reverse:
  // the image first, then the free list.)
  const bool reusedSlot = pin->IsDeleted();
  undo.Step([this, &data, n, reusedSlot, autoInc] {
    TRecordPin p = data.GetRecord(this, n);
    if (!p) return;
    if (!reusedSlot) {
      PutLE32(p->MutableData(), RecordLayout::RecAutoInc, static_cast<std::uint32_t>(autoInc));
      std::array<std::uint8_t, KeyLimits::DeletedKeySize> freeKey{};
      DeletedKey(p->Data(), true, freeKey.data());
      AddKeyTo(SysDeletedSlot, freeKey.data(), n);
    }
    data.FreeRecord(*p);
    p->MarkModified();
  });
  undo.RecordChanging(n, pin->Data());
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> newDeleted{};
  DeletedKey(image, false, newDeleted.data());
  if (pin->IsDeleted()) {
    std::array<std::uint8_t, KeyLimits::DeletedKeySize> oldDeleted{};
    DeletedKey(pin->Data(), true, oldDeleted.data());
    RemoveKeyFrom(SysDeletedSlot, oldDeleted.data());
    undo.KeyRemoved(SysDeletedSlot, oldDeleted, n);
  }
  AddKeyTo(SysDeletedSlot, newDeleted.data(), n);
  undo.KeyAdded(SysDeletedSlot, newDeleted);

  // The record image in its slot.
  pin->Clear(false);
  const std::int32_t lastAutoInc = data.GetLastAutoInc();
  undo.Step([&data, lastAutoInc] { data.SetLastAutoInc(lastAutoInc); });
  if (FKeepAutoInc) {
    if (autoInc > data.GetLastAutoInc()) data.SetLastAutoInc(autoInc);
  } else {
    const std::int32_t given = data.NextAutoInc();
    assert(given == autoInc);
    (void)given;
  }
  std::span<std::uint8_t> slot = pin->MutableData();
  slot[RecordLayout::RecDeleted] = 0;
  PutLE32(slot, RecordLayout::RecLink, static_cast<std::uint32_t>(n));
  std::memcpy(slot.data() + RecordLayout::ControlSize, image.data() + RecordLayout::ControlSize,
              FRecordSize - RecordLayout::ControlSize);
  PutLE32(slot, RecordLayout::RecAutoInc, static_cast<std::uint32_t>(autoInc));
  pin->MarkModified();
  index.IncRecordCount();
  undo.Step([&index] { index.DecRecordCount(); });

  if (HasTextIndex()) {
    TTextKeys words;
    TextKeys(image, autoInc, false, words);
    for (const auto& w : words) {
      AddKeyTo(SysTextSlot, w.data(), n);
      undo.KeyAdded(SysTextSlot, w);
    }
  }

  const bool blobs = PostBlobs(image, slot, {});
  std::memcpy(image.data(), slot.data(), FRecordSize);
  if (reposition) {
    FCurRecord->SetRecordNo(n);
    std::memcpy(FCurRecord->MutableData().data(), slot.data(), FRecordSize);
    FCurRecord->ClearModified();
    FCurRecNo = n;
  }
  pin.Release();
  WriteChanges(blobs);
  undo.Commit();
  FilterRecordAdded(n, image);
  RepositionAfter(n, true, false, reposition, saved);
}

// ---------------------------------------------------------------- modify ----

void TDataCursor::ModifyRecord(std::span<std::uint8_t> buffer, bool unlockAfter, bool reposition) {
  CheckRecordBuffer(buffer);
  if (FReadOnly) Raise(TARN_OSEACCES);
  const std::span<std::uint8_t> image = buffer.first(FRecordSize);
  CheckConstraints(image);
  const bool optimistic = FTable->Session().LockProtocol() == TLockProtocol::Optimistic;
  // The optimistic protocol posts only over the record as the edit read it.
  std::vector<std::uint8_t> before;
  if (optimistic && !FExclusive) before.assign(FCurRecord->Data().begin(), FCurRecord->Data().end());
  TWriteBracket bracket(*this);
  if (FAtBOF || FAtEOF || FCurRecNo == 0) Raise(TARN_NOCURRREC);
  LoadCurrentRecord(true);
  const std::int32_t n = FCurRecNo;
  const TSavedPosition saved = SavePosition();
  if (optimistic && !FExclusive &&
      (FRecordChanged || !std::equal(before.begin(), before.end(), FCurRecord->Data().begin()))) {
    FRecordChanged = true;
    Raise(TARN_KEYORRECDELETED);
  }
  // A post holds the record's lock: the edit's, or one taken for the post.
  std::optional<TRecordLockGuard> lock;
  if (!FExclusive && FLockedRecNo != n) lock.emplace(*this, n);
  if (FCurRecord->Data()[RecordLayout::RecDeleted] != 0) Raise(TARN_KEYORRECDELETED);
  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  TModifyUndo undo(*FTable, !FExclusive && !FTable->InTransaction(), KeyChanger(), this);

  const std::vector<std::uint8_t> old(FCurRecord->Data().begin(), FCurRecord->Data().end());
  const std::int32_t oldAutoInc = static_cast<std::int32_t>(GetLE32(old, RecordLayout::RecAutoInc));
  if (FKeepAutoInc) {
    const auto given = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));
    if (given > data.GetLastAutoInc()) {
      const std::int32_t last = data.GetLastAutoInc();
      data.SetLastAutoInc(given);
      undo.Step([&data, last] { data.SetLastAutoInc(last); });
    }
  } else {
    PutLE32(image, RecordLayout::RecAutoInc, static_cast<std::uint32_t>(oldAutoInc));
  }
  const std::int32_t autoInc = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));

  // Keys whose value changed: checked first, then replaced.
  const int count = index.IndexCount();
  const bool checks = !(FInternal && !FNatural);
  struct TChange {
    int Slot;
    std::uint16_t KeySize;
    TKeyBytes Old;
    TKeyBytes New;
  };
  std::vector<TChange> changes;
  changes.reserve(static_cast<std::size_t>(count) + 2);
  for (int slot = FirstKeySlot(); slot <= count; ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    TChange c{slot, def.KeySize, {}, {}};
    BuildKey(def, old, KeySpan(c.Old, def));
    BuildKey(def, image, KeySpan(c.New, def));
    if (std::memcmp(c.Old.data(), c.New.data(), def.KeySize) == 0) continue;
    if (checks) CheckDuplicate(slot, c.New.data());
    changes.push_back(c);
  }
  if (FKeepAutoInc && autoInc != oldAutoInc) {
    TChange c{SysDeletedSlot, KeyLimits::DeletedKeySize, {}, {}};
    DeletedKey(old, false, c.Old.data());
    DeletedKey(image, false, c.New.data());
    if (checks) CheckDuplicate(SysDeletedSlot, c.New.data());
    changes.push_back(c);
  }
  // Everything that reads from disk comes before the first change: the words
  // of both images, the blob chains a post rewrites or frees, the record slot.
  TTextKeys oldWords;
  TTextKeys newWords;
  if (HasTextIndex()) {
    TextKeys(old, oldAutoInc, true, oldWords);
    TextKeys(image, autoInc, false, newWords);
    if (autoInc == oldAutoInc) {
      std::sort(oldWords.begin(), oldWords.end());
      std::sort(newWords.begin(), newWords.end());
      TTextKeys gone;
      TTextKeys added;
      std::set_difference(oldWords.begin(), oldWords.end(), newWords.begin(), newWords.end(),
                          std::back_inserter(gone));
      std::set_difference(newWords.begin(), newWords.end(), oldWords.begin(), oldWords.end(),
                          std::back_inserter(added));
      oldWords.swap(gone);
      newWords.swap(added);
    }
  }
  if (FExclusive || FTable->InTransaction()) PreloadBlobs(old);
  TRecordPin pin = data.GetRecord(this, n);
  if (!pin) Raise(TARN_FILECORRUPT);

  for (const TChange& c : changes) {
    const auto size = static_cast<std::size_t>(c.KeySize);
    RemoveKeyFrom(c.Slot, c.Old.data());
    undo.KeyRemoved(c.Slot, std::span<const std::uint8_t>(c.Old).first(size), n);
    AddKeyTo(c.Slot, c.New.data(), n);
    undo.KeyAdded(c.Slot, std::span<const std::uint8_t>(c.New).first(size));
  }

  for (const auto& w : oldWords) {
    RemoveKeyFrom(SysTextSlot, w.data());
    undo.KeyRemoved(SysTextSlot, w, n);
  }
  for (const auto& w : newWords) {
    AddKeyTo(SysTextSlot, w.data(), n);
    undo.KeyAdded(SysTextSlot, w);
  }

  // The new image: the old one's control bytes, the given fields, the
  // auto-increment value decided above.
  std::span<std::uint8_t> slot = pin->MutableData();
  undo.RecordChanging(n, slot);
  std::memcpy(slot.data(), old.data(), RecordLayout::ControlSize);
  std::memcpy(slot.data() + RecordLayout::ControlSize, image.data() + RecordLayout::ControlSize,
              FRecordSize - RecordLayout::ControlSize);
  PutLE32(slot, RecordLayout::RecAutoInc, static_cast<std::uint32_t>(autoInc));
  const bool blobs = PostBlobs(image, slot, old);
  pin->MarkModified();
  std::memcpy(FCurRecord->MutableData().data(), slot.data(), FRecordSize);
  FCurRecord->ClearModified();
  pin.Release();
  WriteChanges(blobs);
  undo.Commit();
  FilterRecordChanged(n, FCurRecord->Data());
  std::memcpy(image.data(), FCurRecord->Data().data(), FRecordSize);
  if (unlockAfter && !optimistic && FLockedRecNo == n && !lock) ReleaseRecordLock(n);
  RepositionAfter(n, false, false, reposition, saved);
}

// ---------------------------------------------------------------- delete ----

void TDataCursor::DeleteRecord(std::span<const std::uint8_t> buffer, bool reposition) {
  CheckRecordBuffer(buffer);
  if (FReadOnly) Raise(TARN_OSEACCES);
  TWriteBracket bracket(*this);
  if (FAtBOF || FAtEOF || FCurRecNo == 0) Raise(TARN_NOCURRREC);
  const std::int32_t n = FCurRecNo;
  const TSavedPosition saved = SavePosition();
  LoadCurrentRecord(true);
  std::optional<TRecordLockGuard> lock;
  if (!FExclusive && FTable->CursorLocked(n)) {
    if (FLockedRecNo != n) Raise(TARN_RECLOCKFAILED);
    if (FBlobs) FBlobs->Free(true);
  } else {
    if (!FExclusive && !FCurRecord->SameAs(buffer.first(FRecordSize))) Raise(TARN_KEYORRECDELETED);
    lock.emplace(*this, n);
  }
  if (FCurRecord->Data()[RecordLayout::RecDeleted] != 0) Raise(TARN_KEYORRECDELETED);
  TDataFile& data = FTable->DataFile();
  TIndexFile& index = FTable->IndexFile();
  TModifyUndo undo(*FTable, !FExclusive && !FTable->InTransaction(), KeyChanger(), this);
  const std::vector<std::uint8_t> old(FCurRecord->Data().begin(), FCurRecord->Data().end());
  const std::int32_t autoInc = static_cast<std::int32_t>(GetLE32(old, RecordLayout::RecAutoInc));
  // Reads before the first change (see ModifyRecord).
  TTextKeys words;
  if (HasTextIndex()) TextKeys(old, autoInc, true, words);
  if (FExclusive || FTable->InTransaction()) PreloadBlobs(old);
  TRecordPin pin = data.GetRecord(this, n);
  if (!pin) Raise(TARN_FILECORRUPT);

  TKeyBytes key{};
  for (int slot = FirstKeySlot(); slot <= index.IndexCount(); ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    BuildKey(def, old, KeySpan(key, def));
    RemoveKeyFrom(slot, key.data());
    undo.KeyRemoved(slot, KeySpan(key, def), n);
  }
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> live{};
  std::array<std::uint8_t, KeyLimits::DeletedKeySize> dead{};
  DeletedKey(old, false, live.data());
  DeletedKey(old, true, dead.data());
  RemoveKeyFrom(SysDeletedSlot, live.data());
  undo.KeyRemoved(SysDeletedSlot, live, n);
  AddKeyTo(SysDeletedSlot, dead.data(), n);
  undo.KeyAdded(SysDeletedSlot, dead);
  index.DecRecordCount();
  undo.Step([&index] { index.IncRecordCount(); });

  for (const auto& w : words) {
    RemoveKeyFrom(SysTextSlot, w.data());
    undo.KeyRemoved(SysTextSlot, w, n);
  }

  const bool blobs = DeleteBlobs(old, n);
  data.FreeRecord(*pin);
  pin->MarkModified();
  pin.Release();
  WriteChanges(blobs);
  undo.Commit();
  FilterRecordDeleted(n);
  FCurRecord->MutableData()[RecordLayout::RecDeleted] = 1;
  // The edit lock of a record that is gone ends with it.
  if (!lock && FLockedRecNo == n) ReleaseRecordLock(n);
  RepositionAfter(n, false, true, reposition, saved);
}

}  // namespace tarn
