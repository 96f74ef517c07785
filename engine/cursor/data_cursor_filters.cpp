// TDataCursor: expression filters and record callbacks (cursor_filters.h
// holds them and their bitmaps; this file wires them into the view).
//
// Each operation runs in the cursor's bracket. A filter build that a table
// change breaks off leaves its filter stale and throws TStaleRead; the
// bracket refreshes the view and runs the operation again, which then only
// rebuilds what is stale (an added filter is never added twice).

#include <functional>

#include "engine/cursor/cursor_filters.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/operation_bracket.h"

namespace tarn {

// The filter is added once, however often the bracket starts the operation
// again, and then brought up to date. A failure after it was added drops it
// again.
TFilter& TDataCursor::AddFilterOnce(const std::function<TFilter&()>& add) {
  CheckOpen();
  TFilter* added = nullptr;
  try {
    Run(false, [&] {
      if (added == nullptr) added = &add();
      FFilterSet->Refresh(*added);
    });
  } catch (...) {
    if (added != nullptr) FFilterSet->Drop(*added);
    throw;
  }
  return *added;
}

TFilter& TDataCursor::AddFilter(std::string_view text, const TFilterOptions& options) {
  return AddFilterOnce([&]() -> TFilter& { return FFilterSet->Add(text, options); });
}

TFilter& TDataCursor::AddFilter(TExpTokenPtr tree, const TFilterOptions& options) {
  return AddFilterOnce([&]() -> TFilter& { return FFilterSet->Add(std::move(tree), options); });
}

TFilter& TDataCursor::AddFilter(TFilterCallback callback, const TFilterOptions& options) {
  return AddFilterOnce([&]() -> TFilter& { return FFilterSet->Add(std::move(callback), options); });
}

void TDataCursor::DropFilter(TFilter& filter) {
  CheckOpen();
  if (!FFilterSet->Holds(filter)) return;
  const bool active = FFilterSet->IsActive(filter);
  FFilterSet->Drop(filter);
  if (!active) return;
  Run(false, [&] {
    RecomputeBitmapMode();
    RebuildView();
    Resync();
  });
}

void TDataCursor::ActivateFilter(TFilter& filter) {
  CheckOpen();
  if (!FFilterSet->Holds(filter) || FFilterSet->IsActive(filter)) return;
  try {
    Run(false, [&] {
      FFilterSet->SetActive(filter, true);
      RecomputeBitmapMode();
      RebuildView();
      Resync();
    });
  } catch (...) {
    FFilterSet->SetActive(filter, false);
    RecomputeBitmapMode();
    throw;
  }
}

void TDataCursor::DeactivateFilter(TFilter& filter) {
  CheckOpen();
  if (!FFilterSet->IsActive(filter)) return;
  FFilterSet->SetActive(filter, false);
  Run(false, [&] {
    RecomputeBitmapMode();
    RebuildView();
    Resync();
  });
}

void TDataCursor::RebuildFilter(TFilter& filter) {
  CheckOpen();
  if (!FFilterSet->Holds(filter)) return;
  FFilterSet->MarkStale(filter);
  Run(false, [&] {
    FFilterSet->Refresh(filter);
    if (!FFilterSet->IsActive(filter)) return;
    RebuildView();
    Resync();
  });
}

bool TDataCursor::FilterActive(const TFilter& filter) const { return FFilterSet->IsActive(filter); }

std::size_t TDataCursor::FilterCount() const { return FFilterSet->Count(); }

TExpRecordSource& TDataCursor::ExpressionSource() { return *FFilterSet; }

void TDataCursor::FilterRecordAdded(std::int32_t recordNo, std::span<const std::uint8_t> record) {
  FFilterSet->RecordAdded(static_cast<std::uint32_t>(recordNo), record);
}

void TDataCursor::FilterRecordChanged(std::int32_t recordNo, std::span<const std::uint8_t> record) {
  FFilterSet->RecordChanged(static_cast<std::uint32_t>(recordNo), record);
}

void TDataCursor::FilterRecordDeleted(std::int32_t recordNo) {
  FFilterSet->RecordDeleted(static_cast<std::uint32_t>(recordNo));
}

bool TDataCursor::RecordPassesFilters(std::int32_t recordNo) const {
  return FFilterSet->Passes(static_cast<std::uint32_t>(recordNo));
}

}  // namespace tarn
