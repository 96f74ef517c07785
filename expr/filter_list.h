#pragma once
// The filters of one cursor (at most 64) and the upkeep of their bitmaps.
//
// AddFilter parses and binds an expression (errors 10051), prepares a copy of
// the tree (filter_preparer.h), works out how far indexes can answer it
// (filter_optimizer.h), takes a bitmap from the pool and builds it: all bits
// of records 1..HighestRecordNo set, then restricted by the expression, by
// index ranges where that is cheaper than reading records, record by record
// otherwise (or by calling the callback on every record).
//
// Order: a filter with LastInOrder goes to the end; any other goes before the
// first filter that has LastInOrder.
//
// Maintenance: the cursor reports inserted, changed and deleted records; a
// new or changed record sets its bit (growing the bitmap) and is evaluated at
// once, clearing the bit when it fails; a deleted record clears its bit.
//
// Threads: the list belongs to its cursor's thread.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "expr/filter.h"
#include "expr/filter_cursor.h"

namespace tarn {

class TFilterList {
 public:
  static constexpr std::size_t MaxFilters = 64;

  explicit TFilterList(TFilterCursor& cursor) : FCursor(cursor) {}
  TFilterList(const TFilterList&) = delete;
  TFilterList& operator=(const TFilterList&) = delete;

  // Adds a filter from expression text. Throws 9482 when 64 filters are held,
  // 10051 for an empty text or a parse or binding error (nothing is added).
  // A build that a table change interrupts leaves the filter invalid; the
  // caller rebuilds it (RebuildFilter).
  TFilter& AddFilter(std::string_view text, const TFilterOptions& options);
  // Adds a filter from a bound tree (the filter takes it). Throws 9482; 10051
  // for a null tree or a tree that is not boolean.
  TFilter& AddFilter(TExpTokenPtr tree, const TFilterOptions& options);
  // Adds a callback filter. Throws 9482; 10051 for an empty callback.
  TFilter& AddFilter(TFilterCallback callback, const TFilterOptions& options);

  // Removes the filter; its bitmap goes back to the pool.
  void DropFilter(TFilter& filter);
  // Recomputes the filter's bitmap from scratch. False (filter invalid) when
  // the table changed during the build: call again.
  bool RebuildFilter(TFilter& filter);

  // Maintenance for every filter (see above). Added and Changed read the
  // record through the cursor first; a record that is not active clears its
  // bit.
  void FilterRecordAdded(std::uint32_t recordNo);
  void FilterRecordChanged(std::uint32_t recordNo);
  void FilterRecordDeleted(std::uint32_t recordNo);
  // The same for one filter. Requires: the record is current in the cursor's
  // record source (Added, Changed).
  void FilterRecordAdded(TFilter& filter, std::uint32_t recordNo);
  void FilterRecordChanged(TFilter& filter, std::uint32_t recordNo) { FilterRecordAdded(filter, recordNo); }
  void FilterRecordDeleted(TFilter& filter, std::uint32_t recordNo);

  // True when every filter's bit of recordNo is set.
  bool RecordPasses(std::uint32_t recordNo) const;

  std::size_t Count() const { return FFilters.size(); }
  TFilter& operator[](std::size_t i) { return *FFilters[i]; }

 private:
  void CheckRoom() const;
  TFilter& Insert(std::unique_ptr<TFilter> filter);
  bool Build(TFilter& filter);

  TFilterCursor& FCursor;
  std::vector<std::unique_ptr<TFilter>> FFilters;
};

}  // namespace tarn
