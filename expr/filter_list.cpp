#include "expr/filter_list.h"

#include <algorithm>

#include "engine/base/error_context.h"
#include "engine/table/field_types.h"
#include "engine/table/records_bitmap_stack.h"
#include "expr/expression_parser.h"
#include "expr/filter_optimizer.h"
#include "expr/filter_preparer.h"

namespace tarn {

void TFilterList::CheckRoom() const {
  if (FFilters.size() >= MaxFilters) RaiseEngineError(TARN_INTERNALLIMIT, {.Table = FCursor.FilterTableName()});
}

TFilter& TFilterList::AddFilter(std::string_view text, const TFilterOptions& options) {
  CheckRoom();
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    RaiseEngineError(TARN_INVALIDFILTER, {.Table = FCursor.FilterTableName()});
  TExpressionParser parser(TARN_INVALIDFILTER, std::string(FCursor.FilterTableName()));
  return AddFilter(parser.ParseFilter(text, FCursor.FilterRecordSource()), options);
}

TFilter& TFilterList::AddFilter(TExpTokenPtr tree, const TFilterOptions& options) {
  CheckRoom();
  if (!tree || tree->DataType != FieldType::Boolean)
    RaiseEngineError(TARN_INVALIDFILTER, {.Table = FCursor.FilterTableName(),
                                          .Message = "filter expression must be a boolean expression"});
  auto filter = std::make_unique<TFilter>();
  filter->FOptions = options;
  filter->FTree = PrepareFilterTree(*tree, options, FCursor.FilterRecordSource());
  filter->FEvaluator = std::make_unique<TExpEvaluator>(*filter->FTree, FCursor.FilterRecordSource());
  filter->FBitmap = TRecordsBitmapStack::Instance().Take();
  TFilter& added = Insert(std::move(filter));
  Build(added);
  return added;
}

TFilter& TFilterList::AddFilter(TFilterCallback callback, const TFilterOptions& options) {
  CheckRoom();
  if (!callback) RaiseEngineError(TARN_INVALIDFILTER, {.Table = FCursor.FilterTableName()});
  auto filter = std::make_unique<TFilter>();
  filter->FOptions = options;
  filter->FCallback = std::move(callback);
  filter->FBitmap = TRecordsBitmapStack::Instance().Take();
  TFilter& added = Insert(std::move(filter));
  Build(added);
  return added;
}

TFilter& TFilterList::Insert(std::unique_ptr<TFilter> filter) {
  auto at = FFilters.end();
  if (!filter->FOptions.LastInOrder)
    at = std::find_if(FFilters.begin(), FFilters.end(), [](const auto& f) { return f->FOptions.LastInOrder; });
  return **FFilters.insert(at, std::move(filter));
}

void TFilterList::DropFilter(TFilter& filter) {
  const auto it = std::find_if(FFilters.begin(), FFilters.end(), [&](const auto& f) { return f.get() == &filter; });
  if (it != FFilters.end()) FFilters.erase(it);
}

bool TFilterList::RebuildFilter(TFilter& filter) { return Build(filter); }

bool TFilterList::Build(TFilter& filter) {
  filter.FValid = false;
  TRecordsBitmap& bitmap = *filter.FBitmap;
  bitmap.SetBitCount(FCursor.HighestRecordNo());
  bitmap.SetAll();
  TFilterOptimizer optimizer(FCursor, filter.FOptions, filter);
  bool complete;
  if (filter.FTree) {
    filter.FLevel = optimizer.Analyse(*filter.FTree);
    complete = optimizer.Restrict(bitmap, *filter.FTree);
  } else {
    filter.FLevel = TOptimizeLevel::None;
    complete = optimizer.RestrictByRecords(bitmap, nullptr);
  }
  filter.FValid = complete;
  return complete;
}

void TFilterList::FilterRecordAdded(TFilter& filter, std::uint32_t recordNo) {
  filter.FBitmap->SetBit(recordNo);
  if (!filter.Evaluate(recordNo, FCursor.FilterRecordSource())) filter.FBitmap->ClearBit(recordNo);
}

void TFilterList::FilterRecordDeleted(TFilter& filter, std::uint32_t recordNo) { filter.FBitmap->ClearBit(recordNo); }

void TFilterList::FilterRecordAdded(std::uint32_t recordNo) {
  if (FFilters.empty()) return;
  if (FCursor.ReadFilterRecord(recordNo) != TFilterRead::Active) {
    FilterRecordDeleted(recordNo);
    return;
  }
  for (auto& f : FFilters) FilterRecordAdded(*f, recordNo);
}

void TFilterList::FilterRecordChanged(std::uint32_t recordNo) { FilterRecordAdded(recordNo); }

void TFilterList::FilterRecordDeleted(std::uint32_t recordNo) {
  for (auto& f : FFilters) FilterRecordDeleted(*f, recordNo);
}

bool TFilterList::RecordPasses(std::uint32_t recordNo) const {
  return std::all_of(FFilters.begin(), FFilters.end(), [&](const auto& f) { return f->Passes(recordNo); });
}

}  // namespace tarn
