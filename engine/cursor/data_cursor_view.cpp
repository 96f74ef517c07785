// TDataCursor: what the view consists of: search keys, the key range and its
// bounds, the visible-record bitmaps, record counts and sequence numbers.
//
// Range bounds: RangeFirst and RangeLast are the sequence numbers of the
// first and the last key of the active index inside [RangeLow, RangeHigh],
// both 0 for an empty range; without a range 1 and the record count.
// Bitmaps (bitmap mode only; one bit per record slot):
//   RangeSet  records whose key lies in the range (with a range)
//   LiveSet   records that are not deleted
//   Visible   RangeSet AND LiveSet AND what every active filter passes (the
//             cursor's own filters, cursor_filters.h, and the view filters)

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/cursor/data_cursor.h"
#include "engine/cursor/cursor_filters.h"
#include "engine/cursor/index_switch.h"
#include "engine/cursor/operation_bracket.h"
#include "engine/cursor/view_filter.h"
#include "engine/index/keys.h"

namespace tarn {

// ------------------------------------------------------------ search keys ----

void TDataCursor::PadFrom(std::span<std::uint8_t> key, std::size_t from, bool high) const {
  if (from >= key.size()) return;
  if (high)
    PadKeyHigh(FKeyDef, key, from);
  else
    PadKeyLow(FKeyDef, key, from);
}

// The compared length of a partial key: the first fieldCount key fields
// (each with its flag byte), plus the flag byte and partialLength characters
// of the next field. A non-unique index compares every field (but not the
// RecAutoInc suffix) when neither is given, so that the first of several
// equal keys is found.
std::size_t TDataCursor::BuildSearchKey(bool keyIsRaw, std::span<const std::uint8_t> source,
                                        int fieldCount, int partialLength, bool padHigh,
                                        std::span<std::uint8_t> key, bool& partial) const {
  const std::size_t keySize = FKeyDef.KeySize;
  assert(key.size() >= keySize);
  key = key.first(keySize);
  std::fill(key.begin(), key.end(), 0);
  if (keyIsRaw) {
    std::memcpy(key.data(), source.data(), std::min(keySize, source.size()));
  } else if (!source.empty()) {
    BuildKey(FKeyDef, source, key);
  }
  const int fields = FKeyDef.FieldCount;
  partial = (fieldCount >= 1 && fieldCount <= fields - 1) || !FKeyDef.Unique ||
            (fieldCount == 0 && partialLength > 0);
  if (!partial) return keySize;
  int counted = std::clamp(fieldCount, 0, fields);
  if (!FKeyDef.Unique && fieldCount == 0 && partialLength == 0) counted = fields;
  std::size_t length = 0;
  for (int i = 0; i < counted; ++i)
    length += KeyFieldSize(FKeyDef.Fields[static_cast<std::size_t>(i)]) + 1u;
  if (partialLength > 0 && counted < fields)
    length +=
        std::min<std::size_t>(static_cast<std::size_t>(partialLength),
                              KeyFieldSize(FKeyDef.Fields[static_cast<std::size_t>(counted)])) +
        1u;
  length = std::min(length, keySize);
  PadFrom(key, length, padHigh);
  return length;
}

bool TDataCursor::SetToKey(bool keyIsRaw, std::span<const std::uint8_t> source, int fieldCount,
                           int partialLength, bool nearest, std::span<std::uint8_t> recordOut) {
  CheckOpen();
  // Without a match the cursor lands on the next key whether or not the
  // caller asked for the nearest one; the result tells the two apart.
  static_cast<void>(nearest);
  if (FNatural) return false;
  return Run(false, [&] {
    std::array<std::uint8_t, CursorLimits::RangeKeySize> key{};
    bool partial = false;
    const std::size_t length = BuildSearchKey(keyIsRaw, source, fieldCount, partialLength,
                                              FKeyDef.Descending, key, partial);
    bool found = false;
    if (partial) {
      SeekKey(key.data(), false);
      found = !(FAtBOF && FAtEOF) && !FAtEOF &&
              CompareKeys(FKeyDef, FCurPage.Key(FCurSlot), key.data(), length) == 0;
    } else {
      found = SeekKey(key.data(), false);
    }
    if (FAtEOF && !FAtBOF) GotoLast();
    LoadCurrentRecord(true);
    CopyOut(recordOut);
    return found;
  });
}

// ----------------------------------------------------------------- ranges ----

void TDataCursor::SetRange(std::span<const std::uint8_t> low, int lowFieldCount,
                           std::span<const std::uint8_t> high, int highFieldCount, bool keyIsRaw) {
  CheckOpen();
  if (FNatural) return;
  Run(false, [&] {
    std::array<std::uint8_t, CursorLimits::RangeKeySize> lowKey{};
    std::array<std::uint8_t, CursorLimits::RangeKeySize> highKey{};
    bool partial = false;
    const bool descending = FKeyDef.Descending;
    if (!low.empty()) BuildSearchKey(keyIsRaw, low, lowFieldCount, 0, descending, lowKey, partial);
    if (!high.empty())
      BuildSearchKey(keyIsRaw, high, highFieldCount, 0, !descending, highKey, partial);
    // Collated string parts of a descending index order the two ends by the
    // locale, not by how the caller named them.
    if (descending && FKeyDef.HasLanguage() && CompareKey(lowKey.data(), highKey.data()) > 0)
      std::swap(lowKey, highKey);
    FRangeLow = lowKey;
    FRangeHigh = highKey;
    FRangeActive = true;
    RebuildView();
    Resync();
  });
}

void TDataCursor::ResetRange() {
  CheckOpen();
  if (FNatural) return;
  Run(false, [&] {
    FRangeActive = false;
    FRangeLow.fill(0x00);
    FRangeHigh.fill(0xFF);
    RebuildView();
    Resync();
  });
}

// The sequence number of the first key not below RangeLow (low) or of the
// last key not above RangeHigh; 0 when there is none inside the range.
std::int64_t TDataCursor::RangeBound(bool low) {
  TSpot spot;
  TPagePin leaf;
  const std::uint8_t* bound = low ? FRangeLow.data() : FRangeHigh.data();
  const bool reached = Descend(spot, leaf, [&](const TPage& page) {
    bool found = false;
    return page.SearchPositioned(
        bound, [&](const std::uint8_t* a, const std::uint8_t* b) { return CompareKey(a, b); }, low,
        found);
  });
  if (!reached) return 0;
  if (low) {
    if (BelowLow(leaf->Key(spot.Slot)) &&
        (!StepForward(spot, leaf) || BelowLow(leaf->Key(spot.Slot))))
      return 0;
  } else {
    if (AboveHigh(leaf->Key(spot.Slot)) &&
        (!StepBackward(spot, leaf) || AboveHigh(leaf->Key(spot.Slot))))
      return 0;
  }
  return spot.SeqNo;
}

void TDataCursor::ComputeRangeBounds() {
  if (FNatural || !FRangeActive) {
    FRangeFirst = 1;
    FRangeLast = IndexRecordCount();
    return;
  }
  FRangeFirst = FRangeLast = 0;
  if (CompareKey(FRangeLow.data(), FRangeHigh.data()) > 0) return;
  const std::int64_t first = RangeBound(true);
  const std::int64_t last = first == 0 ? 0 : RangeBound(false);
  if (first == 0 || last == 0 || last < first) return;
  FRangeFirst = first;
  FRangeLast = last;
}

// ---------------------------------------------------------------- bitmaps ----

void TDataCursor::RebuildView() {
  ComputeRangeBounds();
  if (FBitmapMode) RebuildBitmaps();
}

// Sets the bits of the records whose keys have sequence numbers first..last.
void TDataCursor::CollectSeqRange(std::int64_t first, std::int64_t last, TRecordsBitmap& into) {
  if (first > last) return;
  TSpot spot;
  TPagePin leaf;
  const bool reached = DescendToSeqNo(first, spot, leaf);
  if (!reached) return;
  for (std::int64_t n = first; n <= last; ++n) {
    into.SetBit(static_cast<std::uint32_t>(leaf->Ref(spot.Slot)));
    if (n < last && !StepForward(spot, leaf)) break;
  }
}

// The live records: every slot when the record count says no slot is free;
// otherwise the complement of the deleted records, whose "Sys Deleted" keys
// begin with 1.
void TDataCursor::BuildLiveSet() {
  const std::int32_t slots = RecordSlots();
  const TLiveSetState state{true, FTable->IndexFile().ChangeCount(), FTable->DiscardCount(), slots,
                            IndexRecordCount()};
  if (!FExclusive && FLiveState == state &&
      FLiveSet->BitCount() == static_cast<std::uint32_t>(slots))
    return;
  FLiveState.Valid = false;
  FLiveSet->SetBitCount(static_cast<std::uint32_t>(slots));
  if (IndexRecordCount() == slots) {
    FLiveSet->SetAll();
    FLiveState = state;
    return;
  }
  FLiveSet->ClearAll();
  TIndexSwitch deleted(*this, SysDeletedSlot);
  const std::array<std::uint8_t, KeyLimits::DeletedKeySize> firstDeleted{1, 0, 0, 0, 0};
  TSpot spot;
  TPagePin leaf;
  const bool reached = Descend(spot, leaf, [&](const TPage& page) {
    bool found = false;
    return page.SearchPositioned(
        firstDeleted.data(),
        [](const std::uint8_t* a, const std::uint8_t* b) {
          return CompareBytes(a, b, KeyLimits::DeletedKeySize, false);
        },
        true, found);
  });
  if (reached) {
    bool more = true;
    if (leaf->Key(spot.Slot)[0] == 0) more = StepForward(spot, leaf);
    while (more && leaf->Key(spot.Slot)[0] == 1) {
      FLiveSet->SetBit(static_cast<std::uint32_t>(leaf->Ref(spot.Slot)));
      more = StepForward(spot, leaf);
    }
  }
  FLiveSet->SetBitCount(static_cast<std::uint32_t>(slots));
  FLiveSet->Invert();
  FLiveState = state;
}

void TDataCursor::RebuildBitmaps() {
  const auto slots = static_cast<std::uint32_t>(RecordSlots());
  FVisible->SetBitCount(slots);
  BuildLiveSet();
  FVisible->CopyFrom(*FLiveSet);
  if (FRangeActive && !FNatural) {
    FRangeSet->SetBitCount(slots);
    FRangeSet->ClearAll();
    if (FRangeFirst > 0) {
      // From the smaller side: the keys inside the range, or the two runs
      // outside it and the complement.
      const std::int64_t keys = IndexRecordCount();
      const std::int64_t inside = FRangeLast - FRangeFirst + 1;
      if (inside * 2 > keys) {
        CollectSeqRange(1, FRangeFirst - 1, *FRangeSet);
        CollectSeqRange(FRangeLast + 1, keys, *FRangeSet);
        FRangeSet->SetBitCount(slots);
        FRangeSet->Invert();
      } else {
        CollectSeqRange(FRangeFirst, FRangeLast, *FRangeSet);
      }
    }
    FVisible->AndWith(*FRangeSet);
  } else {
    FRangeSet->SetBitCount(0);
  }
  FFilterSet->Restrict(*FVisible);
  for (TViewFilter* filter : FFilters) {
    if (filter->Active()) filter->Restrict(*this, *FVisible);
  }
  FVisible->SetBitCount(slots);
  FVisibleCount = FVisible->CountSet();
}

// ----------------------------------------------------------------- counts ----

std::int64_t TDataCursor::IndexRecordCount() const { return FTable->IndexFile().RecordCount(); }

std::int32_t TDataCursor::RecordSlots() const {
  return FTable->DataFile().GetPhysicalRecordCount();
}

std::int64_t TDataCursor::CountInner() const {
  if (FBitmapMode) return FVisibleCount;
  if (FRangeFirst <= 0 || FRangeLast <= 0) return 0;
  return std::max<std::int64_t>(0, FRangeLast - FRangeFirst + 1);
}

std::int64_t TDataCursor::SeqNoInner() const {
  if (FNatural) return FSeqNo;
  if (FSeqNo <= 0) return 0;
  return FSeqNo - FRangeFirst + 1;
}

std::int64_t TDataCursor::GetRecordCount() {
  return Run(false, [&] { return CountInner(); });
}

std::int64_t TDataCursor::GetSeqNo() {
  return Run(false, [&] { return SeqNoInner(); });
}

}  // namespace tarn
