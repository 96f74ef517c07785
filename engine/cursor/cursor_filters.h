#pragma once
// The expression filters and record callbacks of one cursor, and the side of
// the cursor the filter layer sees.
//
// TCursorFilters is owned by its TDataCursor (one each, for the cursor's
// whole life). It owns the cursor's TFilterList and, per filter, whether the
// filter is active and when its bitmap was last built. It is the cursor's
// TFilterCursor (index choice, key counts and ranges, record reads for
// evaluation) and its TExpRecordSource (field lookup and values, blobs, the
// table's language and full-text rules).
//
// Filter states:
//   inactive  AddFilter builds the bitmap; the cursor's view ignores it.
//             ActivateFilter -> active
//   active    the cursor is in bitmap mode and Visible holds only records
//             whose bit is set. DeactivateFilter -> inactive
//   stale     (either state) the table changed under the cursor (MarkStale,
//             on every refresh after a change found and on ForceRefresh);
//             Restrict rebuilds an active stale filter, ActivateFilter an
//             inactive one. A build that a table change broke off leaves the
//             filter invalid, which counts as stale.
// Every filter, active or not, follows the cursor's own inserts, changes and
// deletes through RecordAdded, RecordChanged and RecordDeleted.
//
// Record reads for evaluation copy the record into a buffer of this object
// (no cache entry is kept between calls). Index walks run on the cursor's tree
// context, switched to the walked slot for the walk (TIndexSwitch).
//
// A read voided by the cursor's change check is reported to the filter layer
// (TFilterRead::TableChanged, a false CollectKeyRange); Restrict and the
// cursor's filter operations turn an unfinished build into TStaleRead, which
// the cursor's operation bracket answers by refreshing and running the
// operation again.
//
// Threads: the cursor's thread, inside the cursor's operations.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/text_words.h"
#include "engine/table/records_bitmap.h"
#include "expr/filter.h"
#include "expr/filter_cursor.h"
#include "expr/filter_list.h"

namespace tarn {

class TDataCursor;

class TCursorFilters final : public TFilterCursor, public TExpRecordSource {
 public:
  explicit TCursorFilters(TDataCursor& cursor);
  ~TCursorFilters() override;
  TCursorFilters(const TCursorFilters&) = delete;
  TCursorFilters& operator=(const TCursorFilters&) = delete;

  // ---- the list (Requires: the cursor is open and inside its bracket) ----
  // Adds an inactive filter and builds its bitmap. Throws 9482 when 64
  // filters are held and 10051 for an empty or bad expression, a tree that is
  // not boolean or an empty callback; nothing is added then. When the table
  // changed during the build the filter is added stale (Refresh builds it).
  TFilter& Add(std::string_view text, const TFilterOptions& options);
  TFilter& Add(TExpTokenPtr tree, const TFilterOptions& options);
  TFilter& Add(TFilterCallback callback, const TFilterOptions& options);
  // Rebuilds filter's bitmap when it is stale; TStaleRead when the table
  // changed during that build.
  void Refresh(TFilter& filter);
  // Removes filter (its bitmap goes back to the pool). Nothing for a filter
  // this list does not hold.
  void Drop(TFilter& filter);
  // Drops every filter. Never throws.
  void Clear() noexcept;
  // Sets a filter's activity; false for a filter this list does not hold.
  bool SetActive(TFilter& filter, bool active);
  bool IsActive(const TFilter& filter) const;
  bool Holds(const TFilter& filter) const;
  bool AnyActive() const;
  std::size_t Count() const { return FList.Count(); }
  // Every filter's bitmap counts as out of date.
  void MarkStale() { ++FGeneration; }
  // That filter's bitmap counts as out of date.
  void MarkStale(const TFilter& filter);

  // ---- the view ----
  // Clears the bits of candidates that an active filter rejects, rebuilding
  // stale filters first. TStaleRead when the table changed during a build.
  void Restrict(TRecordsBitmap& candidates);
  // True when every active filter passes record recordNo.
  bool Passes(std::uint32_t recordNo) const;
  // Whether an active filter's bitmap is out of date (Restrict would
  // rebuild it).
  bool AnyActiveStale() const;

  // ---- upkeep after the cursor's own changes (record: its new image) ----
  void RecordAdded(std::uint32_t recordNo, std::span<const std::uint8_t> record);
  void RecordChanged(std::uint32_t recordNo, std::span<const std::uint8_t> record);
  void RecordDeleted(std::uint32_t recordNo);

  // ---- TFilterCursor ----
  std::string_view FilterTableName() const override;
  TExpRecordSource& FilterRecordSource() override { return *this; }
  std::uint32_t HighestRecordNo() override;
  std::uint32_t FilterRecordSize() const override;
  TFilterRead ReadFilterRecord(std::uint32_t recordNo) override;
  int FindFilterIndex(std::uint16_t fieldNo, bool caseInsensitive, bool matchCase) override;
  const TKeyDef& FilterKeyDef(int slot) override;
  bool IndexHasCounts(int slot) override;
  std::int64_t CountKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high) override;
  bool CollectKeyRange(int slot, const std::uint8_t* low, const std::uint8_t* high,
                       TRecordsBitmap& bitmap) override;
  std::int64_t FilterRecordCount() override;
  bool TextIndexCovers(std::uint16_t fieldNo) override;

  // ---- TExpRecordSource (the record last read for a filter) ----
  std::optional<TExpColumn> FindColumn(std::string_view name) const override;
  std::uint16_t LanguageId() const override;
  std::uint16_t SortId() const override;
  TFieldRead ReadField(std::uint16_t fieldNo) override;
  bool ReadBlob(std::uint16_t fieldNo, std::string& content) override;
  std::optional<std::int32_t> LastAutoInc(std::string_view tableName) override;
  TTextIndexParams TextIndexParams() const override;

 private:
  struct TEntry {
    TFilter* Filter = nullptr;
    bool Active = false;
    std::uint64_t BuiltAt = 0;  // FGeneration when the bitmap was last built
  };

  TEntry* Find(const TFilter& filter);
  const TEntry* Find(const TFilter& filter) const;
  // Records a filter the list has just taken, after its first build.
  TFilter& Adopt(TFilter& filter);
  // Drops whatever the list holds that no entry records (a failed add).
  void DropStrays() noexcept;
  bool Stale(const TEntry& entry) const {
    return !entry.Filter->Valid() || entry.BuiltAt != FGeneration;
  }
  void Rebuild(TEntry& entry);
  // Makes record the current record of the record source.
  void UseRecord(std::span<const std::uint8_t> record);

  TDataCursor& FCursor;
  TFilterList FList;
  std::vector<TEntry> FEntries;
  std::uint64_t FGeneration = 1;
  // The record evaluation reads (a copy; empty before the first read).
  std::vector<std::uint8_t> FRecord;
  // The table's full-text rules, read from the index file on first use.
  mutable std::optional<TTextIndexParams> FTextParams;
};

}  // namespace tarn
