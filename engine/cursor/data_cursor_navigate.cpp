// TDataCursor: positions and moves, in index order over the B+-tree of the
// active index and in natural order over the visible-record bitmap.
//
// Tree walks take every page through the index file's cache, each held by a
// TPagePin for as long as it is looked at; only the landing leaf is copied
// into the cursor (CurPage). A walk computes its result in locals and stores
// it with Commit at the end, so a walk that a stale read breaks off leaves
// the position as it was, and the operation starts again from it.

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/index/keys.h"

namespace tarn {

// ------------------------------------------------------------ tree walks ----

TPagePin TDataCursor::Page(std::int32_t pageNo) {
  TPagePin pin = FTable->IndexFile().GetPage(*this, pageNo);
  if (!pin) throw TStaleRead{};
  return pin;
}

namespace {

// A page a walk may stand on: a live leaf with entries.
bool UsableLeaf(const TPage& page) {
  return !page.Free() && page.IsLeaf() && page.EntryCount() > 0;
}

// Entry i of leaf a and entry j of leaf b (of one index, keys of keySize
// bytes) hold the same key and record number.
bool SameEntry(const TPage& a, int i, const TPage& b, int j, int keySize) {
  return std::memcmp(a.Key(i), b.Key(j), static_cast<std::size_t>(keySize) + 4) == 0;
}

}  // namespace

bool TDataCursor::Descend(TSpot& spot, TPagePin& leaf, TChooser choose) {
  const std::int32_t root = FTable->IndexFile().Descriptor(FActiveSlot).RootPage;
  FPath.Reset();
  if (root == 0) return false;
  std::int32_t pageNo = root;
  std::int64_t seq = 1;
  std::int64_t below = -1;  // the current page's subtree count, from its parent entry
  for (int level = 1;; ++level) {
    if (level > TDescentPath::MaxLevels) Raise(TARN_INDEXCORRUPT);
    TPagePin pin = Page(pageNo);
    const TPage& page = *pin;
    if (page.Free() || page.Type() == TPageType::TextParams || page.EntryCount() <= 0 ||
        page.IsRoot() != (level == 1))
      Raise(TARN_INDEXCORRUPT);
    const int pos = std::clamp(choose(page), 1, page.EntryCount());
    FPath.PageNo[level] = pageNo;
    FPath.ParentPage[level] = level > 1 ? FPath.PageNo[level - 1] : 0;
    FPath.Position[level] = pos;
    if (page.IsLeaf()) {
      FPath.Level = level;
      spot = TSpot{pageNo, pos, seq + pos - 1};
      leaf = std::move(pin);
      return true;
    }
    if (page.HasCounts()) {
      seq += page.CountBefore(pos, below);
      below = page.Count(pos);
    }
    pageNo = page.Ref(pos);
  }
}

int TDataCursor::CompareKey(const std::uint8_t* a, const std::uint8_t* b) const {
  return TKeyComparer(FKeyDef)(a, b);
}

bool TDataCursor::DescendToKey(const std::uint8_t* key, bool after, TSpot& spot, TPagePin& leaf, bool* found) {
  const TKeyComparer compare(FKeyDef);
  return Descend(spot, leaf, [&](const TPage& page) {
    bool hit = false;
    const int pos = page.SearchPositioned(key, compare, after, hit);
    if (found != nullptr && page.IsLeaf()) *found = hit;
    return pos;
  });
}

bool TDataCursor::DescendToSeqNo(std::int64_t seqNo, TSpot& spot, TPagePin& leaf) {
  std::int64_t wanted = seqNo;
  return Descend(spot, leaf, [&](const TPage& page) {
    if (page.IsLeaf()) return static_cast<int>(std::min<std::int64_t>(wanted, page.EntryCount()));
    int pos = 1;
    while (pos < page.EntryCount() && wanted > page.Count(pos)) {
      wanted -= page.Count(pos);
      ++pos;
    }
    return pos;
  });
}

bool TDataCursor::BelowLow(const std::uint8_t* key) const {
  return FRangeActive && CompareKey(key, FRangeLow.data()) < 0;
}

bool TDataCursor::AboveHigh(const std::uint8_t* key) const {
  return FRangeActive && CompareKey(key, FRangeHigh.data()) > 0;
}

bool TDataCursor::VisibleRef(std::int32_t recordNo) const {
  return !FBitmapMode || FVisible->TestBit(static_cast<std::uint32_t>(recordNo));
}

bool TDataCursor::StepForward(TSpot& spot, TPagePin& leaf) {
  if (spot.Slot < leaf->EntryCount()) {
    ++spot.Slot;
    ++spot.SeqNo;
    return true;
  }
  const std::int32_t next = leaf->NextPage();
  if (next == 0) return false;
  TPagePin pin = Page(next);
  if (!UsableLeaf(*pin)) Raise(TARN_INDEXCORRUPT);
  leaf = std::move(pin);
  spot = TSpot{next, 1, spot.SeqNo + 1};
  return true;
}

bool TDataCursor::StepBackward(TSpot& spot, TPagePin& leaf) {
  if (spot.Slot > 1) {
    --spot.Slot;
    --spot.SeqNo;
    return true;
  }
  const std::int32_t prev = leaf->PrevPage();
  if (prev == 0) return false;
  TPagePin pin = Page(prev);
  if (!UsableLeaf(*pin)) Raise(TARN_INDEXCORRUPT);
  leaf = std::move(pin);
  spot = TSpot{prev, leaf->EntryCount(), spot.SeqNo - 1};
  return true;
}

bool TDataCursor::WalkToVisible(TSpot& spot, TPagePin& leaf, bool forward, bool limited) {
  for (;;) {
    const std::uint8_t* key = leaf->Key(spot.Slot);
    if (limited && (forward ? AboveHigh(key) : BelowLow(key))) return false;
    if (VisibleRef(leaf->Ref(spot.Slot))) return true;
    if (!(forward ? StepForward(spot, leaf) : StepBackward(spot, leaf))) return false;
  }
}

// Copies the landing leaf unless the copy already holds it unchanged at the
// landing slot (the common case of a scan inside one leaf).
void TDataCursor::Commit(const TPage& leaf, const TSpot& spot) {
  const bool same = FCurPage.PageNo() == leaf.PageNo() && FCurPage.EntryCount() == leaf.EntryCount() &&
                    SameEntry(FCurPage, spot.Slot, leaf, spot.Slot, FKeyDef.KeySize);
  if (!same) {
    FCurPage.Bind(leaf.PageNo(), FActiveSlot, FIndexDesc);
    FCurPage.CopyFrom(leaf);
  }
  FCurSlot = spot.Slot;
  FSeqNo = spot.SeqNo;
  FCurRecNo = leaf.Ref(spot.Slot);
  FBeforeCurrent = false;
}

void TDataCursor::ClearPosition() {
  FAtBOF = FAtEOF = true;
  FSeqNo = 0;
  FCurRecNo = 0;
  FCurSlot = 0;
  FBeforeCurrent = false;
  if (!FNatural) FCurPage.SetEntryCount(0);
}

bool TDataCursor::ViewEmpty() { return CountInner() <= 0; }

// ------------------------------------------------------- first and last ----

void TDataCursor::GotoFirst() {
  if (FNatural) return NaturalFirst();
  if (ViewEmpty()) return ClearPosition();
  TSpot spot;
  TPagePin leaf;
  const bool reached = FRangeActive ? DescendToKey(FRangeLow.data(), true, spot, leaf)
                                    : Descend(spot, leaf, [](const TPage&) { return 1; });
  if (!reached) return ClearPosition();
  if (FRangeActive) {
    if (BelowLow(leaf->Key(spot.Slot))) {
      if (!StepForward(spot, leaf) || BelowLow(leaf->Key(spot.Slot)) ||
          AboveHigh(leaf->Key(spot.Slot)))
        return ClearPosition();
    } else if (AboveHigh(leaf->Key(spot.Slot))) {
      if (!StepBackward(spot, leaf) || AboveHigh(leaf->Key(spot.Slot)) ||
          BelowLow(leaf->Key(spot.Slot)))
        return ClearPosition();
    }
  }
  if (FBitmapMode && !WalkToVisible(spot, leaf, true, FRangeActive)) return ClearPosition();
  Commit(*leaf, spot);
  FAtBOF = FAtEOF = false;
}

void TDataCursor::GotoLast() {
  if (FNatural) return NaturalLast();
  if (ViewEmpty()) return ClearPosition();
  TSpot spot;
  TPagePin leaf;
  const bool reached = FRangeActive ? DescendToKey(FRangeHigh.data(), false, spot, leaf)
                                    : Descend(spot, leaf, [](const TPage& page) { return page.EntryCount(); });
  if (!reached) return ClearPosition();
  if (FRangeActive) {
    if (AboveHigh(leaf->Key(spot.Slot))) {
      if (!StepBackward(spot, leaf) || AboveHigh(leaf->Key(spot.Slot)) ||
          BelowLow(leaf->Key(spot.Slot)))
        return ClearPosition();
    } else if (BelowLow(leaf->Key(spot.Slot))) {
      if (!StepForward(spot, leaf) || BelowLow(leaf->Key(spot.Slot)) ||
          AboveHigh(leaf->Key(spot.Slot)))
        return ClearPosition();
    }
  }
  if (FBitmapMode && !WalkToVisible(spot, leaf, false, FRangeActive)) return ClearPosition();
  Commit(*leaf, spot);
  FAtBOF = FAtEOF = false;
}

// ---------------------------------------------------------------- moves ----

// Moves |n| positions. Without bitmap mode, a move longer than a step or two
// goes by the subtree counts: one descent to the target sequence number,
// landing where the walk would have stopped.
bool TDataCursor::MoveByCounts(std::int64_t n) {
  if (FIndexDesc.NoCounts || (n > -3 && n < 3)) return false;
  const std::int64_t keys = IndexRecordCount();
  const std::int64_t first = FRangeFirst;
  const std::int64_t last = FRangeLast;
  const std::int64_t target = FSeqNo + n;
  bool ranOff = false;
  std::int64_t landing = target;
  if (target > last) {
    ranOff = true;
    landing = FRangeActive ? std::min(last + 1, keys) : last;
  } else if (target < first) {
    ranOff = true;
    landing = FRangeActive ? std::max<std::int64_t>(first - 1, 1) : first;
  }
  TSpot spot;
  TPagePin leaf;
  const bool reached = DescendToSeqNo(landing, spot, leaf);
  if (!reached) {
    ClearPosition();
    return true;
  }
  Commit(*leaf, spot);
  FAtBOF = ranOff && n < 0;
  FAtEOF = ranOff && n > 0;
  return true;
}

void TDataCursor::MoveSteps(std::int64_t n) {
  assert(n != 0);
  if (FNatural) return NaturalMove(n);
  if (ViewEmpty()) return ClearPosition();
  if (!FBitmapMode && MoveByCounts(n)) return;
  const bool forward = n > 0;
  if (FCurPage.EntryCount() == 0) return forward ? GotoFirst() : GotoLast();
  // A fresh copy of the current leaf; the walk starts there.
  TSpot spot;
  bool pending = false;  // the walk's first step is the spot itself
  TPagePin leaf = Page(FCurPage.PageNo());
  const bool sameEntry =
      UsableLeaf(*leaf) && FCurSlot >= 1 && FCurSlot <= leaf->EntryCount() &&
      FCurSlot <= FCurPage.EntryCount() &&
      std::memcmp(leaf->Key(FCurSlot), FCurPage.Key(FCurSlot), FKeyDef.KeySize) == 0;
  if (sameEntry) {
    spot = TSpot{leaf->PageNo(), FCurSlot, FSeqNo};
  } else {
    // The leaf changed under the copy: find the key again, standing on it or
    // on the key before it (forward) or after it (backward), so that the
    // first step lands on the key that follows it in the walk's direction.
    std::vector<std::uint8_t> key(
        FCurPage.Key(std::clamp(FCurSlot, 1, std::max(1, FCurPage.EntryCount()))),
        FCurPage.Key(std::clamp(FCurSlot, 1, std::max(1, FCurPage.EntryCount()))) +
            FKeyDef.KeySize);
    if (!DescendToKey(key.data(), !forward, spot, leaf)) return ClearPosition();
    // Landed past the key already (it sorts before every key of its leaf, or
    // after every one going back): that key is the first step.
    const int order = CompareKey(leaf->Key(spot.Slot), key.data());
    pending = forward ? order > 0 : order < 0;
  }
  std::int64_t steps = forward ? n : -n;
  bool ranOff = false;
  while (steps > 0) {
    if (pending) {
      pending = false;
    } else if (!(forward ? StepForward(spot, leaf) : StepBackward(spot, leaf))) {
      ranOff = true;
      break;
    }
    const std::uint8_t* key = leaf->Key(spot.Slot);
    if (forward ? AboveHigh(key) : BelowLow(key)) {
      ranOff = true;
      break;
    }
    if (VisibleRef(leaf->Ref(spot.Slot))) --steps;
  }
  if (ranOff && FBitmapMode && !FRangeActive) {
    // Stay on the visible record next to the crack.
    if (!WalkToVisible(spot, leaf, !forward, false)) return ClearPosition();
  }
  Commit(*leaf, spot);
  FAtBOF = ranOff && !forward;
  FAtEOF = ranOff && forward;
}

// ------------------------------------------------------------- seeking ----

// The landing key is the one sought or, when it is missing, the next one
// (for a caller that wants nothing else the result tells it was missing).
bool TDataCursor::SeekKey(const std::uint8_t* key, bool keepCracks) {
  const bool wasBOF = FAtBOF;
  const bool wasEOF = FAtEOF;
  if (ViewEmpty()) {
    ClearPosition();
    return false;
  }
  if (BelowLow(key)) {
    GotoFirst();
    return false;
  }
  if (AboveHigh(key)) {
    GotoLast();
    return false;
  }
  bool found = false;
  TSpot spot;
  TPagePin leaf;
  const bool reached = DescendToKey(key, true, spot, leaf, &found);
  if (!reached) {
    ClearPosition();
    return false;
  }
  bool eof = false;
  if (!found && CompareKey(leaf->Key(spot.Slot), key) < 0) {
    // Every key of the leaf sorts before the one sought: the next leaf.
    if (!StepForward(spot, leaf)) eof = true;
  }
  if (!eof && AboveHigh(leaf->Key(spot.Slot))) eof = true;
  if (!eof && FBitmapMode && !VisibleRef(leaf->Ref(spot.Slot))) {
    found = false;
    const TSpot landing = spot;
    if (!WalkToVisible(spot, leaf, true, FRangeActive)) {
      spot = landing;
      leaf = Page(landing.Page);
      if (!WalkToVisible(spot, leaf, false, FRangeActive)) {
        ClearPosition();
        return false;
      }
    }
  }
  Commit(*leaf, spot);
  FAtBOF = false;
  FAtEOF = eof;
  if (keepCracks && !(wasBOF && wasEOF)) {
    if (wasBOF) {
      MoveSteps(-1);
      if (!FAtBOF) MoveSteps(1);
    } else if (wasEOF) {
      MoveSteps(1);
      if (!FAtEOF) MoveSteps(-1);
    }
  }
  return found;
}

// The removed key K stood at FCurSlot of the leaf copy, and the copy was true
// until the removal. Keys are unique in a tree, so when a live leaf of this
// index holds the copy's next entry (key and record number) at FCurSlot, that
// entry is K's successor, standing where SeekKey(K) lands; its sequence
// number is K's, one key fewer lying before it.
bool TDataCursor::LandAfterRemovedKey() {
  const int slot = FCurSlot;
  if (FNatural || FBitmapMode || FAtBOF || FAtEOF || slot < 1 || slot >= FCurPage.EntryCount()) return false;
  TPagePin leaf = Page(FCurPage.PageNo());
  if (!UsableLeaf(*leaf) || leaf->Slot() != FActiveSlot || slot > leaf->EntryCount() ||
      !SameEntry(*leaf, slot, FCurPage, slot + 1, FKeyDef.KeySize) || AboveHigh(leaf->Key(slot)))
    return false;
  Commit(*leaf, TSpot{leaf->PageNo(), slot, FSeqNo});
  return true;
}

bool TDataCursor::SetToSeqNoInner(std::int64_t n) {
  if (FNatural) {
    if (n < 1 || FVisibleCount == 0) {
      SetToBeginInner();
      return false;
    }
    std::uint32_t pos = 0;
    std::int64_t seq = 0;
    const bool ok = FVisible->NextSet(
        pos, static_cast<std::uint32_t>(std::min<std::int64_t>(n, FVisibleCount + 1)), seq);
    FCurRecNo = static_cast<std::int32_t>(pos);
    FSeqNo = seq;
    FAtBOF = false;
    FAtEOF = !ok;
    FBeforeCurrent = false;
    LoadCurrentRecord(true);
    return ok && FSeqNo == n;
  }
  if (ViewEmpty()) {
    ClearPosition();
    LoadCurrentRecord(true);
    return false;
  }
  if (!FBitmapMode) {
    if (n < 1) {
      SetToBeginInner();
      return false;
    }
    if (n > CountInner()) {
      SetToEndInner();
      return false;
    }
  } else {
    GotoFirst();
    if (n < SeqNoInner()) {
      FAtBOF = true;
      LoadCurrentRecord(true);
      return false;
    }
    GotoLast();
    if (n > SeqNoInner()) {
      FAtEOF = true;
      LoadCurrentRecord(true);
      return false;
    }
  }
  TSpot spot;
  TPagePin leaf;
  const bool reached = DescendToSeqNo(n + FRangeFirst - 1, spot, leaf);
  if (!reached) {
    ClearPosition();
    LoadCurrentRecord(true);
    return false;
  }
  if (FBitmapMode && !VisibleRef(leaf->Ref(spot.Slot))) {
    const TSpot landing = spot;
    if (!WalkToVisible(spot, leaf, true, FRangeActive)) {
      spot = landing;
      leaf = Page(landing.Page);
      if (!WalkToVisible(spot, leaf, false, FRangeActive)) {
        ClearPosition();
        LoadCurrentRecord(true);
        return false;
      }
    }
  }
  Commit(*leaf, spot);
  FAtBOF = FAtEOF = false;
  LoadCurrentRecord(true);
  return SeqNoInner() == n;
}

// After a change of index, range or filters: the same record if it is still
// in the view, else its neighbour; a crack stays a crack.
void TDataCursor::Resync() {
  if (FAtBOF) {
    SetToBeginInner();
    return;
  }
  if (FAtEOF) {
    SetToEndInner();
    return;
  }
  if (FNatural) {
    NaturalMakeVisible(FCurRecNo);
  } else {
    std::vector<std::uint8_t> key(FKeyDef.KeySize);
    BuildKey(FKeyDef, FCurRecord->Data(), key);
    SeekKey(key.data(), false);
    if (FAtEOF && !FAtBOF) GotoLast();
  }
  LoadCurrentRecord(true);
}

// ------------------------------------------------------- natural order ----

void TDataCursor::NaturalFirst() {
  if (FVisibleCount == 0) return ClearPosition();
  std::uint32_t pos = 0;
  std::int64_t seq = 0;
  FVisible->NextSet(pos, 1, seq);
  FCurRecNo = static_cast<std::int32_t>(pos);
  FSeqNo = seq;
  FAtBOF = FAtEOF = false;
  FBeforeCurrent = false;
}

void TDataCursor::NaturalLast() {
  if (FVisibleCount == 0) return ClearPosition();
  std::uint32_t pos = static_cast<std::uint32_t>(RecordSlots()) + 1;
  std::int64_t seq = FVisibleCount + 1;
  FVisible->PrevSet(pos, 1, seq);
  FCurRecNo = static_cast<std::int32_t>(pos);
  FSeqNo = seq;
  FAtBOF = FAtEOF = false;
  FBeforeCurrent = false;
}

void TDataCursor::NaturalMove(std::int64_t n) {
  if (FVisibleCount == 0) return ClearPosition();
  std::uint32_t pos = static_cast<std::uint32_t>(FCurRecNo);
  std::int64_t seq = FSeqNo;
  const std::uint32_t count =
      static_cast<std::uint32_t>(std::min<std::int64_t>(n > 0 ? n : -n, FVisibleCount + 1));
  const bool ok = n > 0 ? FVisible->NextSet(pos, count, seq) : FVisible->PrevSet(pos, count, seq);
  FCurRecNo = static_cast<std::int32_t>(pos);
  FSeqNo = seq;
  FAtBOF = !ok && n < 0;
  FAtEOF = !ok && n > 0;
  FBeforeCurrent = false;
  if (FCurRecNo == 0) NaturalFirst();
}

void TDataCursor::NaturalMakeVisible(std::int32_t recordNo) {
  const std::int32_t slots = RecordSlots();
  if (slots == 0 || FVisibleCount == 0) return ClearPosition();
  std::uint32_t pos = static_cast<std::uint32_t>(std::clamp(recordNo, 1, slots));
  if (!FVisible->TestBit(pos)) {
    const std::uint32_t from = pos;
    if (!FVisible->NextSet(pos, 1)) {
      pos = from;
      if (!FVisible->PrevSet(pos, 1)) return ClearPosition();
    }
  }
  FCurRecNo = static_cast<std::int32_t>(pos);
  FSeqNo = FVisible->CountSetBefore(pos) + 1;
  FAtBOF = FAtEOF = false;
  FBeforeCurrent = false;
}

// ----------------------------------------------------------- the record ----

std::int32_t TDataCursor::CurrentRecordNo() const { return FCurRecNo; }

std::span<const std::uint8_t> TDataCursor::CurrentRecord() const {
  return FCurRecord ? FCurRecord->Data() : std::span<const std::uint8_t>{};
}

void TDataCursor::LoadCurrentRecord(bool forward) {
  const std::int32_t recordNo = FCurRecNo;
  if (recordNo == 0) {
    std::fill(FCurRecord->MutableData().begin(), FCurRecord->MutableData().end(), 0);
    FCurRecord->SetRecordNo(0);
    return;
  }
  TRecordPin pin = FTable->DataFile().GetRecord(this, recordNo, forward, true, true);
  if (!pin) throw TStaleRead{};
  FCurRecord->CopyFrom(*pin);
}

std::int32_t TDataCursor::ReadAheadCount(std::int32_t recordNo, bool forward, std::int32_t limit) {
  std::int32_t n = 1;
  if (FNatural) {
    const std::int32_t step = forward ? 1 : -1;
    while (n < limit && FVisible->TestBit(static_cast<std::uint32_t>(recordNo + step * n))) ++n;
    return n;
  }
  if (FCurSlot < 1 || FCurSlot > FCurPage.EntryCount() || FCurPage.Ref(FCurSlot) != recordNo)
    return 1;
  n = FCurPage.ConsecutiveRefs(FCurSlot, limit, forward);
  if (FBitmapMode) {
    // Only the run of visible records counts.
    const std::int32_t step = forward ? 1 : -1;
    std::int32_t visible = 1;
    while (visible < n && FVisible->TestBit(static_cast<std::uint32_t>(recordNo + step * visible)))
      ++visible;
    n = visible;
  }
  return std::max(1, n);
}

void TDataCursor::CopyOut(std::span<std::uint8_t> buffer) const {
  if (buffer.empty()) return;
  const std::span<const std::uint8_t> data = FCurRecord->Data();
  const std::size_t n = std::min(buffer.size(), data.size());
  std::memcpy(buffer.data(), data.data(), n);
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(), 0);
}

namespace {

void ZeroFill(std::span<std::uint8_t> buffer) { std::fill(buffer.begin(), buffer.end(), 0); }

}  // namespace

// ------------------------------------------------------ public operations ----

void TDataCursor::SetToBeginInner() {
  GotoFirst();
  if (!(FAtBOF && FAtEOF)) {
    FAtBOF = true;
    FAtEOF = false;
  }
  LoadCurrentRecord(true);
}

void TDataCursor::SetToEndInner() {
  GotoLast();
  if (!(FAtBOF && FAtEOF)) {
    FAtEOF = true;
    FAtBOF = false;
  }
  LoadCurrentRecord(false);
}

void TDataCursor::SetToBegin() {
  Run(false, [&] { SetToBeginInner(); });
}

void TDataCursor::SetToEnd() {
  Run(false, [&] { SetToEndInner(); });
}

// A walk through cached records spends most of its time waiting for memory:
// each record's buffer lies wherever it was made, in no relation to the
// index's order. The records 1, 2 and 4 steps ahead (in the leaf copy, or by
// number in natural order) get their loads started.
void TDataCursor::PrefetchUpcoming(bool forward) const {
  const int step = forward ? 1 : -1;
  auto ahead = [&](int k) -> std::int32_t {
    if (FNatural) return FCurRecNo + step * k;  // past the end: not cached
    const int slot = FCurSlot + step * k;
    return slot >= 1 && slot <= FCurPage.EntryCount() ? FCurPage.Ref(slot) : 0;
  };
  FTable->DataFile().PrefetchAhead(ahead(1), ahead(2), ahead(4));
}

TErrorCode TDataCursor::NextInner(std::span<std::uint8_t> buffer) {
  if (FBeforeCurrent && !FAtBOF && !FAtEOF) {
    FBeforeCurrent = false;
  } else if (FAtBOF) {
    GotoFirst();
  } else if (!FAtEOF) {
    MoveSteps(1);
  }
  if (FAtEOF) {
    ZeroFill(buffer);
    return TARN_EOF;
  }
  PrefetchUpcoming(true);
  LoadCurrentRecord(true);
  CopyOut(buffer);
  return TARN_NONE;
}

TErrorCode TDataCursor::PriorInner(std::span<std::uint8_t> buffer) {
  FBeforeCurrent = false;
  if (FAtEOF) {
    GotoLast();
  } else if (!FAtBOF) {
    MoveSteps(-1);
  }
  if (FAtBOF) {
    ZeroFill(buffer);
    return TARN_BOF;
  }
  PrefetchUpcoming(false);
  LoadCurrentRecord(false);
  CopyOut(buffer);
  return TARN_NONE;
}

TErrorCode TDataCursor::GetNextRecord(std::span<std::uint8_t> buffer) {
  return Run(false, [&] { return NextInner(buffer); });
}

TErrorCode TDataCursor::GetPriorRecord(std::span<std::uint8_t> buffer) {
  return Run(false, [&] { return PriorInner(buffer); });
}

TErrorCode TDataCursor::GetCurrentRecord(std::span<std::uint8_t> buffer) {
  return Run(false, [&]() -> TErrorCode {
    TErrorCode code = TARN_NONE;
    if (FAtBOF && FAtEOF)
      code = TARN_NOCURRREC;
    else if (FAtBOF)
      code = TARN_BOF;
    else if (FAtEOF)
      code = TARN_EOF;
    if (code != TARN_NONE) {
      ZeroFill(buffer);
      return code;
    }
    LoadCurrentRecord(true);
    CopyOut(buffer);
    return TARN_NONE;
  });
}

TErrorCode TDataCursor::GetNextRecords(std::int32_t& count, std::span<std::uint8_t> buffer) {
  const std::size_t size = FRecordSize;
  const std::int32_t wanted = std::max<std::int32_t>(
      0, std::min<std::int64_t>(count, buffer.size() / std::max<std::size_t>(size, 1)));
  std::int32_t done = 0;
  const TErrorCode code = Run(false, [&]() -> TErrorCode {
    for (; done < wanted; ++done) {
      const TErrorCode c = NextInner(buffer.subspan(static_cast<std::size_t>(done) * size, size));
      if (c != TARN_NONE) return c;
    }
    return TARN_NONE;
  });
  count = done;
  return code;
}

TErrorCode TDataCursor::MoveBy(std::int64_t n) {
  return Run(false, [&]() -> TErrorCode {
    std::int64_t rest = n;
    if (rest > 0) {
      if (FBeforeCurrent && !FAtBOF && !FAtEOF) {
        FBeforeCurrent = false;
        --rest;
      } else if (FAtBOF && !FAtEOF) {
        GotoFirst();
        --rest;
      }
      if (rest > 0 && !(FAtBOF && FAtEOF)) MoveSteps(rest);
    } else if (rest < 0) {
      FBeforeCurrent = false;
      if (FAtEOF && !FAtBOF) {
        GotoLast();
        ++rest;
      }
      if (rest < 0 && !(FAtBOF && FAtEOF)) MoveSteps(rest);
    }
    if (FAtBOF && FAtEOF) return n >= 0 ? TARN_EOF : TARN_BOF;
    if (FAtEOF) return TARN_EOF;
    if (FAtBOF) return TARN_BOF;
    LoadCurrentRecord(n >= 0);
    return TARN_NONE;
  });
}

bool TDataCursor::SetToSeqNo(std::int64_t n) {
  return Run(false, [&] { return SetToSeqNoInner(n); });
}

// ------------------------------------------------------------ bookmarks ----

void TDataCursor::GetBookmark(std::span<std::uint8_t> buffer) const {
  assert(buffer.size() >= BookmarkSize());
  if (FNatural) {
    PutLE32(buffer, 0, static_cast<std::uint32_t>(FCurRecNo));
    return;
  }
  const std::size_t size = FKeyDef.KeySize;
  if (FCurPage.EntryCount() == 0 || FCurSlot < 1 || FCurSlot > FCurPage.EntryCount()) {
    std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size), 0);
    return;
  }
  std::memcpy(buffer.data(), FCurPage.Key(FCurSlot), size);
}

int TDataCursor::CompareBookmarks(std::span<const std::uint8_t> a,
                                  std::span<const std::uint8_t> b) const {
  if (FNatural) {
    const auto ra = static_cast<std::int32_t>(GetLE32(a, 0));
    const auto rb = static_cast<std::int32_t>(GetLE32(b, 0));
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
  }
  return CompareKey(a.data(), b.data());
}

void TDataCursor::SetToBookmarkNatural(std::int32_t recordNo) {
  NaturalMakeVisible(recordNo < 1 ? 1 : recordNo);
}

bool TDataCursor::SetToBookmarkInner(std::span<const std::uint8_t> bookmark, bool nearest) {
  if (bookmark.size() < BookmarkSize()) Raise(TARN_INVALIDKEY);
  if (FNatural) {
    const auto recordNo = static_cast<std::int32_t>(GetLE32(bookmark, 0));
    SetToBookmarkNatural(recordNo);
    LoadCurrentRecord(true);
    return nearest || (!FAtBOF && FCurRecNo == recordNo);
  }
  SeekKey(bookmark.data(), nearest);
  LoadCurrentRecord(true);
  if (nearest) return true;
  if (FAtBOF && FAtEOF) return false;
  return CompareKey(FCurPage.Key(FCurSlot), bookmark.data()) == 0;
}

bool TDataCursor::SetToBookmark(std::span<const std::uint8_t> bookmark, bool nearest) {
  return Run(false, [&] { return SetToBookmarkInner(bookmark, nearest); });
}

TErrorCode TDataCursor::SetToCursor(TDataCursor& other) {
  return Run(false, [&]() -> TErrorCode {
    if (FNatural) {
      const std::int32_t recordNo = other.CurrentRecordNo();
      SetToBookmarkNatural(recordNo);
      LoadCurrentRecord(true);
      return FCurRecNo == recordNo && recordNo != 0 ? TARN_NONE : TARN_RECNOTFOUND;
    }
    std::vector<std::uint8_t> key(FKeyDef.KeySize);
    BuildKey(FKeyDef, other.CurrentRecord(), key);
    const bool found = SeekKey(key.data(), false);
    LoadCurrentRecord(true);
    return found ? TARN_NONE : TARN_RECNOTFOUND;
  });
}

}  // namespace tarn
