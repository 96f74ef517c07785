#pragma once
// One open view of one table: TDataCursor.
//
// A cursor owns the choice of index, its position in that index, an optional
// key range, the list of view filters it consults and the current record
// buffer (the only copy of the current record the layers above see). Many
// cursors, of one or of several sessions, may be open on the same shared
// table (TDataTable); they share its files, caches and locks, but each keeps
// its own position.
//
// Active index (IndexNo): 0 the primary index (natural order when the table
// has no primary-key fields), 1..n the secondary indexes in index-file order,
// 255 natural record-number order. The internal indexes 31 ("Sys Deleted")
// and 32 ("Sys Text") are used for a moment only, through TIndexSwitch.
//
// Position:
//   index order    CurPage: a private copy of the leaf that holds the current
//                  key, CurSlot: the 1-based slot in it, SeqNo: the position
//                  of that key among all keys of the index (1-based)
//   natural order  CurRecNo: the current record number (0 = none), SeqNo:
//                  its position among the visible records
//   cracks         AtBOF: before the first visible record; AtEOF: after the
//                  last; both: the view is empty. On a crack the page, slot
//                  and record number still describe the record next to it.
// States and their transitions:
//   closed --OpenCursor--> beginning crack of index 0 (or natural order)
//   on a record   (no crack)  GotoFirst, GotoLast, SeekKey, SetToSeqNo, and
//                             GetNextRecord / GetPriorRecord from a crack
//   beginning     (AtBOF)     SetToBegin, running off the front
//   end           (AtEOF)     SetToEnd, running off the back
//   empty         (both)      any positioning in an empty view
//   any --CloseCursor--> closed
// Invariants (CheckInvariants): (1) in index order CurSlot lies in
// 1..CurPage.EntryCount() unless the view is empty; (2) in natural order
// CurRecNo is 0 or a record slot; (3) with a range RangeFirst and RangeLast are both 0
// (empty range) or 1 <= RangeFirst.
//
// Bitmap mode (natural order, or at least one active filter or view filter): the
// cursor lands only on records set in Visible = RangeSet (with a range) AND
// LiveSet AND every active filter's set; VisibleCount is its population.
//
// Change detection: every operation runs in a bracket. With the session's
// strict change detection the bracket takes the table's read lock (which
// re-reads the headers whose change counters moved); in every case it then
// compares the table's three change counters with the cursor's snapshot and,
// when they differ, takes a new snapshot and re-finds the position (by key,
// then record number). Without strict detection the index, data and blob files
// ask the cursor before they read from disk (TableChanged / ChangeCheck):
// the cursor takes the read lock until the end of the operation and compares
// the counters; a change voids the read, and the operation starts again from
// its beginning on the refreshed position. An exclusive cursor does no change
// detection and takes no read locks.
// Re-finding after a change: a cursor on a crack stays on that crack (before
// the first or after the last visible record as they are now); a cursor on a
// record stays on it, found by its key (record number in natural order), or,
// when the record is gone, stands on the key after it such that the next
// forward move lands on that key: a scan neither repeats nor skips a record.
//
// Results: navigation returns the positional codes 0, TARN_BOF (8705),
// TARN_EOF (8706), TARN_NOCURRREC (8709) and TARN_RECNOTFOUND (8710); every
// other failure raises ETarnEngineError naming the table and the database.
//
// Threads: a cursor is used by one thread at a time (its session's) and takes
// no lock of its own.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/blob/blob_owner.h"
#include "engine/cursor/blob_buffer_set.h"
#include "engine/index/index_descriptor.h"
#include "engine/index/index_file.h"
#include "engine/index/index_page.h"
#include "engine/index/key_def.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_table.h"
#include "engine/session/table_cursor.h"
#include "engine/table/field_desc.h"
#include "engine/table/record.h"
#include "engine/table/record_cache_client.h"
#include "engine/table/records_bitmap_stack.h"
#include "expr/filter.h"

namespace tarn {

class TCursorFilters;
class TDataDirectory;
class TMaintenanceProgress;
class TTextKeyBuilder;
class TViewFilter;

// Index numbers of the cursor.
namespace CursorIndex {
inline constexpr std::uint8_t Primary = 0;
inline constexpr std::uint8_t SysDeleted = 31;
inline constexpr std::uint8_t SysText = 32;
inline constexpr std::uint8_t Natural = 255;
}  // namespace CursorIndex

// Sizes of the cursor's buffers.
namespace CursorLimits {
// Range keys: the longest key of any index (fields and RecAutoInc suffix).
inline constexpr std::size_t RangeKeySize = KeyLimits::MaxKeySize;
// Bookmark of natural order: the record number.
inline constexpr std::size_t NaturalBookmarkSize = 4;
// Slots of the event table.
inline constexpr int EventSlots = 14;
inline constexpr int PasswordEvent = 0;
// Longest table name kept.
inline constexpr std::size_t MaxTableName = 255;
}  // namespace CursorLimits

// One slot of the event table: a callback with its context pointer. The
// password slot's callback returns whether to try again.
struct TCursorEvent {
  using TCallback = bool (*)(void* context, std::intptr_t argument);
  TCallback Callback = nullptr;
  void* Context = nullptr;
};

class TDataCursor final : public TTableCursor,
                          public TTreeContext,
                          public TRecordCacheClient,
                          public TBlobChangeCheck {
 public:
  // A closed cursor of directory, registered with nothing until it opens.
  explicit TDataCursor(TDataDirectory& directory);
  // Closes the cursor when open (failures are swallowed).
  ~TDataCursor() override;
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- open settings (each raises 10031 on an open cursor) ----
  // Drops any directory part and a trailing ".DAT" (any case); cut to 255.
  void SetTableName(std::string_view name);
  void SetExclusive(bool value);
  void SetReadOnly(bool value);
  void SetInMemory(bool value);
  // Open in natural record order instead of the primary index.
  void SetUnordered(bool value);
  // For an exclusive cursor that only appends records to a table it fills
  // (a work table): inserts no longer keep the cursor's view in step, so
  // they cost no bitmap work per record. Read through another cursor, or
  // after ForceRefresh, once the records are in.
  void SetBulkLoad(bool value) { FBulkLoad = value; }
  // One of the engine's own work-table cursors: the open checks only the
  // table's version.
  void SetInternal(bool value);
  // The password callback (event slot 0).
  void SetPasswordCallback(TCursorEvent::TCallback callback, void* context);
  // Any slot 0..13; raises 9985 (TARN_OUTOFRANGE) for another slot.
  void SetEvent(int slot, const TCursorEvent& event);

  const std::string& TableName() const { return FTableName; }
  bool Exclusive() const { return FExclusive; }
  // After opening: whether the table is read-only (requested or forced).
  bool ReadOnly() const { return FReadOnly; }
  bool InMemory() const { return FInMemory; }
  bool IsOpen() const { return FOpen; }

  // ---- open and close ----
  // Opens (or shares) the table, checks it when this open is its first,
  // demands the password of an encrypted table, rebuilds "Sys Deleted" when
  // the index file had to be recreated, selects index 0 (natural order when
  // Unordered) and stands on the beginning crack. Nothing when open. Any
  // failure after the table was obtained closes the cursor again and
  // re-raises.
  void OpenCursor();
  // Releases everything and gives the table back to the directory. Nothing
  // when closed. forceClose: the cursor is closed even when giving the table
  // back fails (the failure is still raised).
  void CloseCursor(bool forceClose = false);

  // ---- the table and its description (Requires: open) ----
  TDataTable& Table() const { return *FTable; }
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  std::uint16_t RecordSize() const { return FRecordSize; }
  // Field n, 1-based.
  const TFieldDesc& Field(int n) const { return FFields[static_cast<std::size_t>(n - 1)]; }
  // "Table.Field".
  const std::string& FieldDisplayName(int n) const {
    return FDisplayNames[static_cast<std::size_t>(n - 1)];
  }
  bool HasAutoIncField() const { return FHasAutoInc; }
  bool HasValueChecks() const { return FHasChecks; }
  bool HasDefaults() const { return FHasDefaults; }
  // The name of the owning directory (the component layer's database).
  const std::string& DatabaseName() const;
  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }

  // ---- index ----
  std::uint8_t IndexNo() const { return FIndexNo; }
  // True in natural record-number order.
  bool InNaturalOrder() const { return FNatural; }
  // The active index's definition (empty in natural order).
  const TIndexDescriptor& IndexDescriptor() const { return FIndexDesc; }
  const TKeyDef& KeyDefinition() const { return FKeyDef; }
  // Key size of the active index; 4 in natural order.
  std::size_t BookmarkSize() const;
  // Selects the index of that name (any letter case; "" is the primary
  // index). Nothing when it is already active (the range stays); otherwise
  // the range is reset. Raises 10022 for an unknown name.
  void SwitchToIndex(std::string_view name);
  // The same by number (0..IndexCount, or 255).
  void SwitchToIndexNo(int indexNo);

  // ---- positions ----
  bool AtBOF() const { return FAtBOF; }
  bool AtEOF() const { return FAtEOF; }
  // The record number the position describes (0 when the view is empty).
  std::int32_t CurrentRecordNo() const;
  // The current record buffer as last loaded (zero bytes when none).
  std::span<const std::uint8_t> CurrentRecord() const;

  // Positions on the beginning (end) crack.
  void SetToBegin();
  void SetToEnd();
  // Moves one visible record forward (back) and copies it into buffer (may
  // be empty). TARN_EOF (TARN_BOF) with the buffer zero-filled at the end.
  [[nodiscard]] TErrorCode GetNextRecord(std::span<std::uint8_t> buffer = {});
  [[nodiscard]] TErrorCode GetPriorRecord(std::span<std::uint8_t> buffer = {});
  // Copies the current record; TARN_NOCURRREC, TARN_BOF or TARN_EOF (buffer
  // zero-filled) on a crack.
  [[nodiscard]] TErrorCode GetCurrentRecord(std::span<std::uint8_t> buffer = {});
  // Reads up to count records forward into buffer (count x RecordSize
  // bytes). On the first failure count becomes the number read and that
  // failure's code is returned.
  [[nodiscard]] TErrorCode GetNextRecords(std::int32_t& count, std::span<std::uint8_t> buffer);
  // Moves n visible records (n may be negative; 0 reloads the current one).
  // The result is that of the last step: 0, TARN_BOF or TARN_EOF.
  [[nodiscard]] TErrorCode MoveBy(std::int64_t n);

  // ---- counts and sequence numbers ----
  std::int64_t GetRecordCount();
  // 1-based position of the current record in the view; 0 on an empty view.
  std::int64_t GetSeqNo();
  // Moves to sequence number n; true when GetSeqNo() then equals n. Below 1
  // the cursor stands on the beginning crack, past the count on the end crack.
  bool SetToSeqNo(std::int64_t n);

  // ---- keys and ranges (nothing in natural order) ----
  // Seeks a key of the active index. source: a raw key (keyIsRaw) or a
  // record image from which the key is built. fieldCount 1..n-1, a non-unique
  // index, or a partialLength make the search partial (see the comparison
  // length below); otherwise exact. nearest: land on the next key when there
  // is no match. When recordOut is given the current record is copied into
  // it. True when a matching (visible) key was found.
  bool SetToKey(bool keyIsRaw, std::span<const std::uint8_t> source, int fieldCount = 0,
                int partialLength = 0, bool nearest = false,
                std::span<std::uint8_t> recordOut = {});
  // Restricts the view to the keys from low to high (inclusive; a partial key
  // covers every key that starts with it). An empty source gives a key of
  // zero bytes. Field counts as for SetToKey.
  void SetRange(std::span<const std::uint8_t> low, int lowFieldCount,
                std::span<const std::uint8_t> high, int highFieldCount, bool keyIsRaw);
  void ResetRange();
  bool RangeActive() const { return FRangeActive; }

  // ---- bookmarks ----
  // Copies the bookmark (BookmarkSize() bytes) of the current position.
  // Requires: buffer.size() >= BookmarkSize().
  void GetBookmark(std::span<std::uint8_t> buffer) const;
  // Moves to a bookmark; with nearest, to the next key when it is gone (the
  // result is then true). Otherwise true when the bookmark was found.
  bool SetToBookmark(std::span<const std::uint8_t> bookmark, bool nearest = false);
  // -1, 0 or 1 in the order of the active index (record numbers in natural
  // order).
  int CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;
  // Moves to the current record of other (a cursor on the same table).
  // TARN_RECNOTFOUND when that record is not in this view.
  [[nodiscard]] TErrorCode SetToCursor(TDataCursor& other);

  // ---- refresh and filters ----
  // Takes the read lock, rereads what changed, rebuilds the view and
  // re-finds the position (keeping a crack).
  void ForceRefresh();
  // The filter seam: the cursor consults filter while it is active. The
  // filter must outlive its registration. After a filter changes its
  // activity or its condition, FiltersChanged rebuilds the view.
  void AddViewFilter(TViewFilter& filter);
  void RemoveViewFilter(TViewFilter& filter);
  void FiltersChanged();
  bool BitmapMode() const { return FBitmapMode; }
  // Visible records in bitmap mode (Requires: BitmapMode()).
  const TRecordsBitmap& VisibleRecords() const { return *FVisible; }

  // ---- expression filters and record callbacks (data_cursor_filters.cpp) ----
  // At most 64 per cursor, each with its own bitmap of the records it passes
  // (cursor_filters.h). A filter is added inactive, its bitmap built at once
  // (by index ranges where the options and the indexes allow, otherwise by
  // reading the records); while at least one is active the cursor is in
  // bitmap mode and lands only on records every active filter passes. The
  // TFilter returned stays valid until DropFilter or CloseCursor.
  // AddFilter throws 9482 when 64 filters are held, 10051 for an empty or bad
  // expression, a tree that is not boolean or an empty callback; nothing is
  // added then and the filters in force stay as they were. Requires: open.
  TFilter& AddFilter(std::string_view text, const TFilterOptions& options = {});
  // A bound tree (bound against ExpressionSource()); the filter takes it.
  TFilter& AddFilter(TExpTokenPtr tree, const TFilterOptions& options = {});
  TFilter& AddFilter(TFilterCallback callback, const TFilterOptions& options = {});
  // Removes a filter (nothing for one this cursor does not hold); an active
  // one widens the view again.
  void DropFilter(TFilter& filter);
  // Switch a filter on or off (nothing when it already is, or for a filter
  // this cursor does not hold); the view is rebuilt and the cursor stays on
  // its record when that is still visible, else on its neighbour.
  void ActivateFilter(TFilter& filter);
  void DeactivateFilter(TFilter& filter);
  // Builds a filter's bitmap afresh (a callback whose answers changed); an
  // active one rebuilds the view.
  void RebuildFilter(TFilter& filter);
  bool FilterActive(const TFilter& filter) const;
  std::size_t FilterCount() const;
  // The fields of the table as expressions bind them (for trees given to
  // AddFilter); values read through it are those of the record a filter
  // last tested.
  TExpRecordSource& ExpressionSource();
  // Upkeep of every filter's bitmap after this cursor changed record
  // recordNo (record: its new image): the bit is set and the record
  // evaluated at once, or cleared for a deleted record. The cursor's Visible
  // set is the caller's to update (RecordPassesFilters).
  void FilterRecordAdded(std::int32_t recordNo, std::span<const std::uint8_t> record);
  void FilterRecordChanged(std::int32_t recordNo, std::span<const std::uint8_t> record);
  void FilterRecordDeleted(std::int32_t recordNo);
  // True when every active filter passes record recordNo.
  bool RecordPassesFilters(std::int32_t recordNo) const;

  // ---- record buffers (data_cursor_fields.cpp; Requires: open) ----
  // A record buffer has at least RecordSize() bytes (9-byte header, then the
  // fields at their offsets, record_layout.h); a shorter one raises 9985.
  // Field numbers are the table's, 1-based; a number outside 1..FieldCount()
  // raises 9985 naming it.
  // Zero-fills buffer and stores the default of every field that has one.
  // Raises 8962 for a default text the field's type cannot read.
  void InitRecord(std::span<std::uint8_t> buffer) const;
  // Reads one field; Bytes points into buffer (a blob field: its 4-byte
  // reference or open-blob handle).
  TFieldRead GetField(int fieldNo, std::span<const std::uint8_t> buffer) const;
  // Writes one field: no value stores it blank (the auto-increment field is
  // left alone); a string is cut, trimmed and case-converted and stored
  // blank when nothing is left (record_layout.h). blobHasValue: for a blob
  // handle, whether the open blob is not empty.
  void PutField(int fieldNo, std::span<std::uint8_t> buffer,
                std::optional<std::span<const std::uint8_t>> value, bool blobHasValue = false) const;
  // The required, minimum and maximum checks in field order; the first
  // failure raises 9732, 9730 or 9731 naming the field.
  void CheckConstraints(std::span<const std::uint8_t> buffer) const;

  // ---- record modification (data_cursor_modify.cpp; Requires: open) ----
  // Each runs under the table's write lock (nothing for an exclusive cursor),
  // keeps every index, "Sys Deleted", "Sys Text" and the blob file in step
  // and writes the buffers before the lock ends. A failure raises and leaves
  // the table, its indexes, blobs and locks as they were. 11013 on a
  // read-only cursor; 9729 naming the index for a duplicate unique key.
  // Adds the record; buffer's RecAutoInc becomes the new record's (unless
  // KeepAutoInc). reposition: the cursor stands on the new record.
  void InsertRecord(std::span<std::uint8_t> buffer, bool reposition);
  // Replaces the current record (its RecAutoInc is kept unless KeepAutoInc).
  // Optimistic protocol: 8708 when the record changed since it was read, and
  // on every later post until UnlockCurrentRecord. unlockAfter: a
  // pessimistic edit lock is released afterwards.
  void ModifyRecord(std::span<std::uint8_t> buffer, bool unlockAfter, bool reposition);
  // Deletes the current record; buffer is the caller's copy of it (8708
  // when the record differs, 10258 when another cursor holds its lock).
  void DeleteRecord(std::span<const std::uint8_t> buffer, bool reposition);
  // GetCurrentRecord; with lock an edit begins: the pessimistic protocol
  // locks the record (10258 when another cursor or program holds it), and
  // both protocols raise 8708 when the record differs from buffer, which
  // then holds the caller's copy. Without lock as GetCurrentRecord(buffer).
  [[nodiscard]] TErrorCode GetCurrentRecord(std::span<std::uint8_t> buffer, bool lock);
  // Ends an edit that is not posted: releases the edit lock (pessimistic) or
  // clears RecordChanged (optimistic).
  void UnlockCurrentRecord();
  // Inserted and modified records keep the buffer's RecAutoInc (only for a
  // table with an auto-increment field; ignored otherwise).
  void SetKeepAutoInc(bool value) { FKeepAutoInc = value && FHasAutoInc; }
  bool KeepAutoInc() const { return FKeepAutoInc; }
  std::int32_t LockedRecNo() const { return FLockedRecNo; }
  bool RecordChanged() const { return FRecordChanged; }

  // ---- blob buffers (data_cursor_blobs.cpp; Requires: open) ----
  // A blob field of a record buffer holds its reference, or, while a buffer
  // is open on it, the buffer's negative handle. Results: 10753 for a field
  // that is not a blob, 10030 for a field without an open buffer of this
  // cursor, 9494 beyond 128 open buffers, 8711 for a read past the end.
  // Changes reach the blob file only when the record is posted.
  enum class TBlobMode : std::uint8_t { Read = 0, Write = 1 };
  static constexpr std::size_t MaxOpenBlobs = 128;
  // Opens (or counts one more use of) the buffer of the field; size gets its size.
  [[nodiscard]] TErrorCode OpenBlob(int fieldNo, std::span<std::uint8_t> buffer, TBlobMode mode,
                                    std::uint32_t& size);
  // Copies up to length bytes from offset into dest (which must hold them);
  // count gets the number copied.
  [[nodiscard]] TErrorCode ReadBlob(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t offset,
                                    std::uint32_t length, std::span<std::uint8_t> dest, std::uint32_t& count);
  [[nodiscard]] TErrorCode WriteBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t offset,
                                     std::span<const std::uint8_t> source);
  [[nodiscard]] TErrorCode TruncateBlob(int fieldNo, std::span<std::uint8_t> buffer, std::uint32_t size);
  [[nodiscard]] TErrorCode GetBlobSize(int fieldNo, std::span<const std::uint8_t> buffer, std::uint32_t& size);
  // One use less; the last use of a buffer not kept for a post frees it and
  // puts the field's reference back.
  [[nodiscard]] TErrorCode CloseBlob(int fieldNo, std::span<std::uint8_t> buffer);
  // Frees every buffer (all) or those not kept for a pending post.
  void FreeBlobs(bool all);
  std::size_t OpenBlobCount() const;
  // Copies every non-blank field of the current record into buffer, blob
  // contents into new buffers (kept for the post); TARN_NOCURRREC on a crack.
  [[nodiscard]] TErrorCode CopyCurrentRecord(std::span<std::uint8_t> buffer);

  // ==== table maintenance (data_cursor_maintenance.cpp, data_cursor_restructure.cpp) ====
  // The cursor names the table by its open settings (TableName, InMemory) and
  // its directory. Precondition failures: 10031 (TARN_TABLEOPEN) when the
  // cursor must be closed and is open, 10253 (TARN_NEEDEXCLACCESS) when it
  // must be exclusive, 11013 (TARN_OSEACCES) when it is read-only or the
  // table is open elsewhere in this process. Definition errors
  // (table_definition_check.h) are raised before any file is touched.
  //
  // Progress is reported in whole percent through the progress handlers, at
  // most once per session ProgressSteps percent, and ends with 100.
  using TProgressHandler = std::function<void(int percent)>;
  // Why a record (or a field of it) did not reach the new structure.
  enum class TDataLossCause : int {
    Other = 0,           // a record could not be stored (context empty)
    KeyViolation = 1,    // a unique index of the new structure (context: index name)
    ValueCheck = 2,      // required, minimum or maximum check (context: field name)
    FieldDropped = 3,    // the old field has no counterpart (context: field name)
    NotConvertible = 4,  // the value cannot take the new type (context: field name)
  };
  // Called for each loss while stopAsking is false. continueRestructure
  // starts true and stopAsking false; both stay as the handler leaves them
  // for the rest of the restructure. continueRestructure false stops it: the
  // table is left exactly as it was.
  using TDataLostHandler = std::function<void(TDataLossCause cause, std::string_view context,
                                              bool& continueRestructure, bool& stopAsking)>;
  // Handlers survive CloseCursor; an empty handler is not called.
  void SetOnIndexProgress(TProgressHandler handler) { FOnIndexProgress = std::move(handler); }
  void SetOnRestructureProgress(TProgressHandler handler) { FOnRestructureProgress = std::move(handler); }
  void SetOnDataLost(TDataLostHandler handler) { FOnDataLost = std::move(handler); }

  // Creates the table's files from definition (checked and completed first,
  // fields numbered 1..n with the index field numbers following them) and
  // leaves the cursor closed. Requires: closed, not read-only. An existing
  // table raises 13060 (TARN_TABLEEXISTS) unless overwrite, which deletes it
  // first (11013 when it is in use). definition.LastAutoInc above 0 becomes
  // the table's RecAutoInc counter. Full-text parameters are written when the
  // table has a "Sys Text" index or parameters are given.
  void CreateTable(const TTableDefinition& definition, bool overwrite);
  // Deletes the table's files. Requires: closed. An encrypted table needs its
  // password (the password callback is asked; refusal 10498); 11013 when the
  // table is open in this process or in use elsewhere.
  void DeleteTable();
  // Renames the table's files to newName (in the table's directory unless
  // newName carries a path), or with backup to the table's own backup names
  // (".DBK", ".IBK", ".BBK"; existing ones are replaced). Preconditions as
  // for DeleteTable.
  void RenameTable(std::string_view newName, bool backup);
  // Removes every record, keeping the fields, indexes and full-text
  // parameters. Requires: open, Exclusive, not read-only. Leaves the cursor
  // on the beginning crack.
  void EmptyTable();
  // Adds a secondary index (key size and field count are computed: 10026 for
  // a key of 0 or above 522 bytes; AddIndexDescriptor's checks: 9487, 10010,
  // 10022, 10027, 12292) and fills it from every record (the tree is built
  // bottom-up from the sorted keys). In a unique index
  // each record whose key is already there is deleted from the table, so
  // that of every group of equal keys only the record with the lowest record
  // number stays; no notification. Reports index progress. Requires: open,
  // Exclusive and not read-only unless definition.Temporary. Leaves the
  // active index as it was and the cursor on the beginning crack.
  void AddIndex(const TIndexDescriptor& definition);
  // Removes the index of that name ("" for the primary index, which makes
  // the table one without primary-key fields), freeing its pages; 10022 for
  // an unknown name. remove: later secondary indexes move down one number.
  // Requires: open, Exclusive, not read-only. Leaves the cursor on the
  // primary index (natural order without one), beginning crack.
  void DeleteIndex(std::string_view name, bool remove = true);
  // Changes the table to definition. Requires: closed (10031), Exclusive
  // (10253), not read-only (11013). Fields of the old and the new structure
  // are matched by field number; the new fields are numbered 1..n in their
  // order afterwards. Three kinds of change:
  //  - full rebuild (encryption, password, blob block size, language, sort
  //    or any field differs): the records are copied into a work table in the
  //    session's private directory ("Memory" for in-memory tables) with the
  //    value conversions of restructure_convert.h, blobs copied, and the work
  //    table then takes the table's name; the old files stay as ".DBK",
  //    ".IBK", ".BBK" unless noBackup or in memory;
  //  - index rebuild (any index or the full-text parameters differ): only
  //    the changed indexes are rebuilt in place, the old index file kept as
  //    ".IBK" unless noBackup;
  //  - otherwise only names, descriptions and table information are stored.
  // Losses are reported through the data-lost handler; a stop leaves the
  // table as it was and removes the work table (or restores the index file).
  // Any other failure is raised after the table has been put back as it was
  // (work table removed, index file restored). Reports restructure progress.
  // definition.TextParams unset keeps the table's full-text parameters;
  // definition.LastAutoInc -1 keeps its RecAutoInc counter.
  void RestructureTable(const TTableDefinition& definition, bool noBackup);

  // ---- errors ----
  // Raises a non-zero code naming the table and database (and arg as the
  // first message argument); nothing for 0.
  void RaiseIfError(TErrorCode code) const;
  void RaiseIfError(TErrorCode code, std::string_view arg) const;

  // Cross-field rules of the position; for assert().
  bool CheckInvariants() const;

  // ---- interfaces for the layers below ----
  bool IsInternalCursor() const override { return FInternal; }
  bool CountsAsSharer() const override { return true; }
  bool RequestPassword() override;
  int IndexSlot() const override { return FActiveSlot; }
  TDescentPath& Path() override { return FPath; }
  // The lazy change check, for the index file (TTreeContext), the blob file
  // (TBlobChangeCheck) and the record cache (TRecordCacheClient).
  bool TableChanged() override { return LazyChangeCheck(); }
  bool ChangeCheck() override { return LazyChangeCheck(); }
  std::int32_t ReadAheadCount(std::int32_t recordNo, bool forward, std::int32_t limit) override;

 private:
  friend class TOperationBracket;
  friend class TIndexSwitch;
  friend class TCursorFilters;
  friend class TTableChecker;

  // ---- filters (data_cursor_filters.cpp) ----
  TFilter& AddFilterOnce(const std::function<TFilter&()>& add);

  // One place in a leaf: page number, slot and the sequence number of the
  // key at that slot.
  struct TSpot {
    std::int32_t Page = 0;
    int Slot = 0;
    std::int64_t SeqNo = 0;
  };

  // ---- open/close and settings (data_cursor.cpp) ----
  void CheckClosed() const;
  void CheckOpen() const;
  void LoadDescription();
  void RebuildDeletedIndex();
  void ReleaseState() noexcept;
  void SelectIndex(int indexNo);
  [[noreturn]] void Raise(TErrorCode code, std::string_view arg = {}) const;

  // ---- brackets and change detection (data_cursor.cpp) ----
  // Runs op inside the operation bracket; a stale read restarts it after
  // the refresh. Nested calls run op directly.
  template <class TOp>
  auto Run(bool strict, TOp&& op) -> decltype(op());
  void TakeSnapshot();
  bool SnapshotDiffers() const;
  bool LazyChangeCheck();
  // Takes a new snapshot and re-finds the position, until no read is stale.
  void RecoverFromChange();
  // Rebuilds the view and re-finds the position: the same record (by key,
  // then record number) or, on a crack, the same crack.
  void RefreshView();

  // ---- tree walks (data_cursor_navigate.cpp) ----
  // The page pinned; throws the stale-read signal when a read was voided.
  TPagePin Page(std::int32_t pageNo);
  // A borrowed callable that picks the 1-based entry to follow in a page;
  // valid for the call it is passed to.
  class TChooser {
   public:
    template <class TFn>
    TChooser(TFn&& fn)  // NOLINT: converts any callable on purpose
        : FObject(const_cast<void*>(static_cast<const void*>(&fn))),
          FCall([](void* object, const TPage& page) {
            return (*static_cast<std::remove_reference_t<TFn>*>(object))(page);
          }) {}
    int operator()(const TPage& page) const { return FCall(FObject, page); }

   private:
    void* FObject;
    int (*FCall)(void*, const TPage&);
  };
  // Descends from the root. choose(page) gives the entry to follow (and at
  // the leaf the landing slot). False for an empty index.
  bool Descend(TSpot& spot, TPagePin& leaf, TChooser choose);
  // Descends by key with the positioned search at each level; without an
  // equal key the leaf slot is the first key after it (after) or the last
  // before it. *found, when given, says whether the leaf holds an equal key.
  bool DescendToKey(const std::uint8_t* key, bool after, TSpot& spot, TPagePin& leaf, bool* found = nullptr);
  // Descends to the key with that sequence number over the subtree counts.
  bool DescendToSeqNo(std::int64_t seqNo, TSpot& spot, TPagePin& leaf);
  int CompareKey(const std::uint8_t* a, const std::uint8_t* b) const;
  bool BelowLow(const std::uint8_t* key) const;
  bool AboveHigh(const std::uint8_t* key) const;
  bool VisibleRef(std::int32_t recordNo) const;
  // One step along the leaf chain; false at the end (spot unchanged).
  bool StepForward(TSpot& spot, TPagePin& leaf);
  bool StepBackward(TSpot& spot, TPagePin& leaf);
  // Walks from spot (inclusive) to a visible key; stops above RangeHigh
  // (below RangeLow) when limited. False when none.
  bool WalkToVisible(TSpot& spot, TPagePin& leaf, bool forward, bool limited);
  void Commit(const TPage& leaf, const TSpot& spot);
  void ClearPosition();
  bool ViewEmpty();
  void GotoFirst();
  void GotoLast();
  void MoveSteps(std::int64_t n);
  bool MoveByCounts(std::int64_t n);
  bool SeekKey(const std::uint8_t* key, bool keepCracks);
  // After this cursor removed the key it stands on, and nothing else from
  // its index: stands on the key that followed it, when that key is in the
  // same leaf, as SeekKey of the removed key would. False (the position
  // unchanged) when the leaf does not show it or a range or filter is in
  // the way.
  bool LandAfterRemovedKey();
  bool SetToSeqNoInner(std::int64_t n);
  void Resync();
  void SetToBookmarkNatural(std::int32_t recordNo);
  bool SetToBookmarkInner(std::span<const std::uint8_t> bookmark, bool nearest);
  void LoadCurrentRecord(bool forward);
  void CopyOut(std::span<std::uint8_t> buffer) const;
  // Starts loading the cached records the next steps of a walk in that
  // direction reach (a hint; changes nothing).
  void PrefetchUpcoming(bool forward) const;
  TErrorCode NextInner(std::span<std::uint8_t> buffer);
  TErrorCode PriorInner(std::span<std::uint8_t> buffer);
  void SetToBeginInner();
  void SetToEndInner();
  // Natural order.
  void NaturalFirst();
  void NaturalLast();
  void NaturalMove(std::int64_t n);
  void NaturalMakeVisible(std::int32_t recordNo);

  // ---- view: keys, ranges, bitmaps, counts (data_cursor_view.cpp) ----
  // Builds a search key from a raw key or a record; returns the compared
  // length (KeySize for an exact key) and pads from there; partial: whether
  // the search is partial.
  std::size_t BuildSearchKey(bool keyIsRaw, std::span<const std::uint8_t> source, int fieldCount,
                             int partialLength, bool padHigh, std::span<std::uint8_t> key,
                             bool& partial) const;
  void PadFrom(std::span<std::uint8_t> key, std::size_t from, bool high) const;
  void ComputeRangeBounds();
  std::int64_t RangeBound(bool low);
  void RebuildView();
  void RebuildBitmaps();
  void CollectSeqRange(std::int64_t first, std::int64_t last, TRecordsBitmap& into);
  void BuildLiveSet();
  void RecomputeBitmapMode();
  bool AnyFilterActive() const;
  std::int64_t IndexRecordCount() const;
  std::int32_t RecordSlots() const;
  std::int64_t CountInner() const;
  std::int64_t SeqNoInner() const;

  // ---- record modification (data_cursor_modify.cpp, data_cursor_keys.cpp) ----
  friend class TWriteBracket;
  friend class TRecordLockGuard;
  [[noreturn]] void RaiseField(TErrorCode code, const TFieldDesc& field) const;
  void CheckRecordBuffer(std::span<const std::uint8_t> buffer) const;
  const TFieldDesc& TableField(int fieldNo) const;
  // Record locks: nothing for an exclusive cursor. Acquire takes the lock
  // (10258 when held elsewhere) and refreshes when the table changed.
  void AcquireRecordLock(std::int32_t recordNo);
  void ReleaseRecordLock(std::int32_t recordNo);
  // The slots the per-index loops visit: 0 when it has key fields, then 1..n.
  int FirstKeySlot() const;
  bool KeyExistsIn(int slot, const std::uint8_t* key);
  // Whether a key of slot may collide with another: unique indexes and the
  // two system indexes. CheckDuplicate raises 9729 when such a key exists.
  static bool ChecksDuplicates(const TKeyDef& def, int slot) {
    return def.Unique || slot >= SysDeletedSlot;
  }
  void CheckDuplicate(int slot, const std::uint8_t* key);
  void AddKeyTo(int slot, const std::uint8_t* key, std::int32_t recordNo);
  void RemoveKeyFrom(int slot, const std::uint8_t* key);
  // AddKeyTo (add) or RemoveKeyFrom on this cursor, as one callable: how the
  // undo of a failed change puts its keys back.
  std::function<void(bool add, int slot, const std::uint8_t* key, std::int32_t recordNo)> KeyChanger();
  void DeletedKey(std::span<const std::uint8_t> record, bool deleted, std::uint8_t* key) const;
  // "Sys Text": whether the table has one, and the keys of a record's words
  // (old: the original content of open memo blobs, for removal).
  bool HasTextIndex();
  void TextKeys(std::span<const std::uint8_t> record, std::int32_t autoInc, bool old,
                std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>>& keys);
  // The position before a modification, to go back to without reposition.
  // TreeEdits is FTreeEdits at the time: while it is unchanged the current
  // index holds the same keys, and the cursor's leaf copy is still true.
  struct TSavedPosition {
    bool AtBOF = false;
    bool AtEOF = false;
    std::uint64_t TreeEdits = 0;
    std::array<std::uint8_t, KeyLimits::MaxKeySize> BookmarkBytes{};
    std::size_t BookmarkLength = 0;
    std::span<const std::uint8_t> Bookmark() const { return std::span(BookmarkBytes).first(BookmarkLength); }
  };
  TSavedPosition SavePosition() const;
  // After a change of record n: range bounds and bitmaps, then the position.
  void RepositionAfter(std::int32_t recordNo, bool inserted, bool deleted, bool reposition,
                       const TSavedPosition& saved);
  void WriteChanges(bool blobsChanged);
  // Blob buffers at a post: saves the changed buffers whose handles record
  // holds, stores every blob reference into slot and frees chains of old that
  // the new record no longer uses. True when the blob file changed.
  bool PostBlobs(std::span<std::uint8_t> record, std::span<std::uint8_t> slot,
                 std::span<const std::uint8_t> old);
  // Reads every blob chain of record into the block cache, so that a post
  // that rewrites or frees them reads nothing more from disk.
  void PreloadBlobs(std::span<const std::uint8_t> record);
  // Frees every blob chain of a record being deleted; true when any.
  bool DeleteBlobs(std::span<const std::uint8_t> record, std::int32_t recordNo);
  // The open buffer of a blob field, or the code why there is none.
  TErrorCode FindBlob(int fieldNo, std::span<const std::uint8_t> buffer, TBlobBufferSet::TEntry*& entry);

  // ---- maintenance (data_cursor_maintenance.cpp, data_cursor_restructure.cpp) ----
  // Deletes record n of the table as DeleteRecord does, without locks and
  // without touching the index slots marked in skip (which do not hold it).
  void PurgeRecord(std::int32_t recordNo, const std::vector<bool>& skip);
  // Fills index slot (empty, its descriptor in place) from every record:
  // the keys are collected in record-number order (progress reported per
  // record slot when given), stably sorted in the index's order and loaded
  // bottom-up (LoadTree). With purgeDuplicates every record whose key
  // equals an earlier record's is deleted from the table (PurgeRecord)
  // instead.
  void BuildIndexSorted(int slot, bool purgeDuplicates, TMaintenanceProgress* progress);
  // Builds the tree of an empty slot bottom-up from count entries in the
  // index's order: leaves filled to the brim (the last two sharing their
  // entries when the last would be less than half full; compressed leaves
  // holding what fits), linked on each level, then interior levels over
  // each level's first keys and subtree counts, up to one root.
  void LoadTree(int slot, std::size_t count, const std::function<const std::uint8_t*(std::size_t)>& keyAt,
                const std::function<std::int32_t(std::size_t)>& refAt);
  // Puts every page of the active slot's tree on its free list, depth first,
  // and clears its root.
  void FreeIndexPages(int slot);
  void FreePageTree(std::int32_t pageNo);
  // The current full-text parameters (the defaults when none are stored).
  TTextIndexParams ReadTextParams();
  void WriteTextParams(const TTextIndexParams& params);
  // Rebuilds the view after a maintenance operation: index reselected,
  // beginning crack.
  void ResetAfterMaintenance(int indexNo);
  // The same after a failed operation; never throws.
  void RecoverView(int indexNo) noexcept;
  // A data-loss notification; false when the restructure is to stop.
  bool ReportDataLoss(TDataLossCause cause, std::string_view context, bool& continueRestructure,
                      bool& stopAsking);
  struct TRestructurePlan;
  void RestructureFull(TRestructurePlan& plan);
  void RestructureIndexes(TRestructurePlan& plan);
  void StoreNamesAndInfo(const TRestructurePlan& plan);

  // Identity and settings.
  TDataDirectory& FDirectory;
  TDataTable* FTable = nullptr;
  bool FOpen = false;
  std::string FTableName;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FInMemory = false;
  bool FUnordered = false;
  bool FInternal = false;
  std::array<TCursorEvent, CursorLimits::EventSlots> FEvents{};
  TProgressHandler FOnIndexProgress;
  TProgressHandler FOnRestructureProgress;
  TDataLostHandler FOnDataLost;

  // Field description and collation.
  std::vector<TFieldDesc> FFields;
  std::vector<std::string> FDisplayNames;
  std::uint16_t FRecordSize = 0;
  bool FHasAutoInc = false;
  bool FHasChecks = false;
  bool FHasDefaults = false;
  std::uint16_t FLanguageId = 0;
  std::uint16_t FSortId = 0;
  std::array<std::uint8_t, 256> FCharMap{};

  // Active index.
  std::uint8_t FIndexNo = CursorIndex::Primary;
  int FActiveSlot = 0;  // the slot tree operations run on
  bool FNatural = false;
  TIndexDescriptor FIndexDesc;
  TKeyDef FKeyDef;
  TDescentPath FPath;

  // Position.
  TPage FCurPage;
  int FCurSlot = 0;
  std::int64_t FSeqNo = 0;
  std::int32_t FCurRecNo = 0;
  bool FAtBOF = false;
  bool FAtEOF = false;
  // The record the position described is gone and the position is the key
  // after it: the next forward move lands on that key without moving.
  bool FBeforeCurrent = false;
  std::unique_ptr<TRecord> FCurRecord;

  // Range.
  bool FRangeActive = false;
  std::array<std::uint8_t, CursorLimits::RangeKeySize> FRangeLow{};
  std::array<std::uint8_t, CursorLimits::RangeKeySize> FRangeHigh{};
  std::int64_t FRangeFirst = 1;
  std::int64_t FRangeLast = 0;

  // Bitmap mode.
  bool FBitmapMode = false;
  TPooledBitmap FVisible;
  TPooledBitmap FRangeSet;
  TPooledBitmap FLiveSet;
  // The table state FLiveSet was built for (a shared cursor only): every
  // change of this process raises the index change count, a rollback or
  // another program's change the discard count. Valid false: build anew.
  struct TLiveSetState {
    bool Valid = false;
    std::int32_t IndexChanges = 0;
    std::uint32_t Discards = 0;
    std::int32_t Slots = 0;
    std::int64_t Records = 0;
    bool operator==(const TLiveSetState&) const = default;
  };
  TLiveSetState FLiveState;
  std::int64_t FVisibleCount = 0;
  std::vector<TViewFilter*> FFilters;
  std::unique_ptr<TCursorFilters> FFilterSet;  // the cursor's own filters, for its whole life

  // Record modification.
  std::int32_t FLockedRecNo = 0;  // the record this cursor's lock is on, 0 when none
  // Keys this cursor added to or removed from its current index (AddKeyTo,
  // RemoveKeyFrom); see TSavedPosition.
  std::uint64_t FTreeEdits = 0;
  bool FRecordChanged = false;    // an optimistic post failed; cleared by UnlockCurrentRecord
  bool FKeepAutoInc = false;
  // A restructure's work cursor: inserts keep no view (the cursor is never
  // moved), and the index slots marked here are left out of every insert, to
  // be built afterwards by BuildIndexSorted.
  bool FBulkLoad = false;
  std::vector<bool> FDeferredSlots;
  std::unique_ptr<TTextKeyBuilder> FTextKeys;  // loaded on first use
  std::unique_ptr<TBlobBufferSet> FBlobs;

  // Change detection.
  std::int32_t FSnapData = 0;
  std::int32_t FSnapIndex = 0;
  std::int32_t FSnapBlob = 0;
  std::uint32_t FSnapDiscards = 0;  // the table's DiscardCount: a rollback voids the view
  int FBracketDepth = 0;
  bool FLazyRead = false;        // the read lock taken by a lazy check, ended with the bracket
  std::uint64_t FRefreshes = 0;  // refreshes after changes found, ever
};

}  // namespace tarn
