#pragma once
// A dataset over one engine cursor (tarn::TDataCursor) of a database found
// through a session: the base of the table component (tarn_table.h) and of
// the query component.
//
// TTarnDBDataSet realises the dataset contract (data_set.h) on its cursor:
//   open       the concrete component makes and opens the cursor (OpenCursor),
//              then the dataset reads forward from the beginning
//   First      SetToBegin, GetNextRecord;  Last  SetToEnd, GetPriorRecord
//   Next/Prior GetNextRecord / GetPriorRecord from the record of the buffer
//   Edit       GetCurrentRecord with a lock (raised when not 0)
//   Post       ModifyRecord (edit: unlock afterwards) or InsertRecord, both
//              repositioning on the stored record
//   Cancel     UnlockCurrentRecord (edit only), FreeBlobs
//   Delete     DeleteRecord
//   fields     GetField / PutField; blobs OpenBlob, ReadBlob, WriteBlob, ...
// Results 8705 and 8706 end a move without an error; any other result, or an
// engine exception of a read, is raised when the caller asks for errors.
//
// Record buffer: the engine's record image (cursor RecordSize bytes), the
// calculated fields, 8 bytes of record information, then the bookmark: the
// key of the active index or the 4-byte record number, in a slot of the
// longest key so that the index may change while the dataset is open.
//
// Field values: the dataset's native form (field.h) equals the engine's
// value bytes except for timestamps (engine: a double of milliseconds;
// dataset: a signed 64-bit number) and strings (the engine trims trailing
// blanks and stores an empty text as null).
//
// Database: the dataset holds its database (TTarnSession::OpenDatabase)
// while it has a reason to (the cursor is open, definitions are being read,
// an existence check) and is attached to it; closing the database closes the
// dataset. Every engine call runs inside the session's Enter/Leave.
//
// Filters: at most two engine filters on the cursor, an expression filter
// (Filter, FilterOptions) and a callback filter (OnFilterRecord), active
// while Filtered is on.
//
// Threads: one thread, the session's.

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/blob_access.h"
#include "dbcomp/blob_stream.h"
#include "dbcomp/data_set.h"
#include "dbcomp/session_client.h"

namespace tarn {
class TDataCursor;
class TFilter;
}  // namespace tarn

namespace dbcomp {

class TComponentOwner;
class TTarnDatabase;
class TTarnSession;

// A field value as text; nullopt is null.
using TFieldValue = std::optional<std::string>;
using TFieldValues = std::vector<TFieldValue>;

struct TFilterOptionsSet {
  bool CaseInsensitive = false;  // foCaseInsensitive
  bool NoPartialCompare = false; // foNoPartialCompare
};

struct TLocateOptions {
  bool CaseInsensitive = false;  // loCaseInsensitive
  bool PartialKey = false;       // loPartialKey
};

// A bookmark: the bytes of the active index's key (or the record number).
using TBookmark = std::vector<std::uint8_t>;

class TTarnDBDataSet : public TDataSet, public TSessionClient, private TBlobAccess {
 public:
  explicit TTarnDBDataSet(TComponentOwner* owner = nullptr);
  // Leaves its owner and its database. A concrete component closes itself in
  // its own destructor.
  ~TTarnDBDataSet() override;

  TComponentOwner* Owner() const noexcept { return FOwner; }

  // ---- database and session (each name requires an inactive dataset, and
  // a new name one that holds no database: "Cannot perform this operation
  // on an open database.") ----
  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  // Every "/" becomes "\" (at most 255 characters). "Memory" (any case)
  // makes the dataset an in-memory one.
  void SetDatabaseName(std::string_view name);
  std::string SessionName() const override { return FSessionName; }
  void SetSessionName(std::string_view name) override;
  bool InMemory() const noexcept { return FInMemory; }
  // The database while held; null otherwise.
  TTarnDatabase* Database() const noexcept { return FDatabase; }
  // The session named by SessionName (empty: the default session).
  TTarnSession& DBSession() const;
  // The engine cursor while open; null otherwise.
  tarn::TDataCursor* Handle() const noexcept { return FCursor; }

  // ---- settings ----
  // When on, each field's display label becomes the table field's
  // description (where it has one) when the dataset opens.
  bool AutoDisplayLabels() const noexcept { return FAutoDisplayLabels; }
  void SetAutoDisplayLabels(bool value) noexcept { FAutoDisplayLabels = value; }
  // When on, a new record starts as a copy of the current one (blobs
  // included; the record identifier is the new record's own).
  bool CopyOnAppend() const noexcept { return FCopyOnAppend; }
  void SetCopyOnAppend(bool value) noexcept { FCopyOnAppend = value; }

  // ---- filters ----
  const std::string& Filter() const noexcept { return FFilterText; }
  // While open: leaves edit mode, replaces the expression filter (raising
  // 10051 for a bad expression, the old filter then stays dropped) and moves
  // to the first record.
  void SetFilter(std::string_view text);
  bool Filtered() const noexcept { return FFiltered; }
  void SetFiltered(bool value);
  const TFilterOptionsSet& FilterOptions() const noexcept { return FFilterOptions; }
  void SetFilterOptions(const TFilterOptionsSet& options);
  // Asked for each record the engine tests: Accept starts true. An exception
  // of the handler goes to OnHandlerError (or is dropped) and the record is
  // accepted.
  using TFilterRecordEvent = std::function<void(TDataSet& dataSet, bool& accept)>;
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
  void SetOnFilterRecord(TFilterRecordEvent handler);
  // Receives what an event handler raised where it cannot leave (a filter
  // callback inside the engine, a data link while a blob stream ends): the
  // application's exception handler.
  std::function<void(std::exception_ptr)> OnHandlerError;

  // Find first, next, prior, last: the filters are switched on for the
  // search when Filtered is off. True when a record was found (it is then
  // current).
  bool FindFirst();
  bool FindNext();
  bool FindPrior();
  bool FindLast();

  // ---- records ----
  // Records of the view (range and filters applied).
  std::int64_t RecordCount();
  // 1-based position of the current record; -1 when there is none.
  std::int64_t RecNo() const;
  // Moves to position n of the view.
  void SetRecNo(std::int64_t n);

  // ---- bookmarks ----
  // The current record's bookmark; empty when there is none.
  TBookmark GetBookmark() const;
  // Leaves edit mode and moves to the record; raises 8710 when it is gone.
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1 in the order of the active index; an empty bookmark sorts first.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;

  // ---- searches ----
  // keyFields: names separated by ";". values: one per key field. Locate
  // makes the found record current; Lookup leaves the current record alone
  // and answers the values of resultFields (";"-separated) of the found
  // record, or nothing when none matches. An index whose leading fields are
  // the key fields is used when its case-insensitivity fits (a string field
  // among them); otherwise the records are scanned with an expression filter.
  // PartialKey compares the last key field, when it is a string, over the
  // length of its value only.
  bool Locate(std::string_view keyFields, const TFieldValues& values, TLocateOptions options = {});
  std::optional<TFieldValues> Lookup(std::string_view keyFields, const TFieldValues& values,
                                     std::string_view resultFields);

  // ---- blobs ----
  // The engine's open-blob operations for blob streams (blob_stream.h).
  TBlobAccess& BlobAccess() noexcept { return *this; }
  // A stream over a blob field of the current record buffer. The stream must
  // end before the dataset closes.
  std::unique_ptr<TTarnBlobStream> CreateBlobStream(TField& field, TBlobStreamMode mode);

  // Closes for a database that is going away: Disconnect also gives back
  // whatever else the component keeps on the database (a query's prepared
  // statement); CloseQuietly ignores failures.
  virtual void Disconnect() { Close(); }
  virtual void CloseQuietly() noexcept { CloseNoThrow(); }

  // The data source whose dataset supplies this one's master values (a
  // table's MasterSource, a query's DataSource); null when none.
  virtual TDataSource* MasterDataSource() const noexcept { return nullptr; }

 protected:
  // ---- for the concrete component ----
  // Makes a closed cursor of the database's directory with the component's
  // open settings; the caller opens it. Requires: the database is held.
  // Default: none.
  virtual std::unique_ptr<tarn::TDataCursor> CreateCursor();
  // The open cursor the dataset shows, or null when none results. Default:
  // CreateCursor, opened and owned by the dataset. A component may hand out
  // a cursor it keeps elsewhere (a query's result cursor): the dataset then
  // neither closes nor frees it, and the cursor must stay valid until
  // InternalClose has run.
  virtual tarn::TDataCursor* OpenHandle();
  // Raises "Circular data links are not allowed." when source leads back
  // to this dataset through the masters of the datasets on the way.
  void CheckMasterLoop(const TDataSource* source) const;
  // After the cursor opened, before the fields are bound: the component's
  // own settings (index selection). Default: nothing.
  virtual void CursorOpened() {}
  // After the dataset's open finished (first record read).
  virtual void AfterOpenHook() {}
  // Before the cursor is closed.
  virtual void BeforeCloseHook() noexcept {}
  // Field definitions of the open cursor (the table's fields).
  TFieldDefs ReadFieldDefs(tarn::TDataCursor& cursor) const;

  // Reasons to hold the database.
  enum THoldReason : std::uint8_t {
    HoldCursor = 1,
    HoldExists = 2,
    HoldFieldDefs = 4,
    HoldIndexDefs = 8,
    HoldPrepared = 16,  // a query's prepared statement
  };
  void HoldDatabase(THoldReason reason);
  void ReleaseDatabase(THoldReason reason) noexcept;
  // Enter/Leave of the dataset's session for a scope.
  class TEngineCall {
   public:
    explicit TEngineCall(const TTarnDBDataSet& dataSet);
    ~TEngineCall();
    TEngineCall(const TEngineCall&) = delete;
    TEngineCall& operator=(const TEngineCall&) = delete;

   private:
    TTarnSession& FSession;
  };
  void CheckInactiveDataSet() const;
  // Rebuilds the view after the active index, the range or the filters changed.
  void DropLookupCursor() noexcept;
  // A record buffer of the dataset's size, initialised by the engine.
  std::vector<std::uint8_t> NewRecordBuffer() const;
  // Writes a text value into a field of a buffer (in the filter state).
  void PutValue(std::span<std::uint8_t> buffer, TField& field, const TFieldValue& value);
  // The fields named in a ";"-separated list ("Field '%s' not found").
  std::vector<TField*> FieldList(std::string_view names) const;
  // The dataset's open hooks.
  bool InternalOpen() override;
  void InternalClose() noexcept override;
  void InternalFirst() override;
  void InternalLast() override;
  TGetResult GetRecord(std::span<std::uint8_t> buffer, TGetMode mode, bool doCheck) override;
  void InternalSetToRecord(std::span<const std::uint8_t> buffer) override;
  void InternalEdit(std::span<std::uint8_t> buffer) override;
  void InternalPost(std::span<const std::uint8_t> buffer) override;
  void InternalCancel(bool wasEditing) override;
  void InternalInitRecord(std::span<std::uint8_t> buffer) override;
  void InternalDelete(std::span<const std::uint8_t> buffer) override;
  bool ReadRecordField(std::span<const std::uint8_t> buffer, const TField& field,
                       std::span<std::uint8_t> dest) const override;
  void WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                        std::span<const std::uint8_t> src) override;
  std::vector<std::uint8_t> ReadBlob(std::span<const std::uint8_t> buffer,
                                     const TField& field) const override;
  void WriteBlob(std::span<std::uint8_t> buffer, const TField& field,
                 std::span<const std::uint8_t> value, bool isNull) override;
  bool InternalCanModify() const override;
  // Sets the record information and bookmark of buffer from the cursor.
  void FillRecordInfo(std::span<std::uint8_t> buffer);
  // The bookmark part of a buffer (the active index's size).
  std::span<const std::uint8_t> BookmarkOf(std::span<const std::uint8_t> buffer) const;
  void FieldsBoundHook() override;
  void InternalRefresh() override;
  // Filters: (re)creates and (de)activates the engine filters.
  void InstallFilters();
  void DropFilters() noexcept;
  void SetFiltersActive(bool active);

 private:
  friend class TTarnDatabase;
  void DatabaseGone() noexcept;
  // TBlobAccess over the cursor.
  tarn::TErrorCode OpenBlob(int fieldNo, std::span<std::uint8_t> record, bool forWrite,
                            std::uint32_t& size) override;
  tarn::TErrorCode ReadBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t offset,
                            std::span<std::uint8_t> dest, std::uint32_t& count) override;
  tarn::TErrorCode WriteBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t offset,
                             std::span<const std::uint8_t> source) override;
  tarn::TErrorCode TruncateBlob(int fieldNo, std::span<std::uint8_t> record, std::uint32_t size) override;
  tarn::TErrorCode GetBlobSize(int fieldNo, std::span<std::uint8_t> record, std::uint32_t& size) override;
  tarn::TErrorCode CloseBlob(int fieldNo, std::span<std::uint8_t> record) override;
  void RaiseIfError(tarn::TErrorCode code, std::string_view argument) override;

  class TFieldBlobHost;
  bool FindRecord(bool restart, bool goForward);
  // The search of Locate and Lookup; found: buffer holds the record and, for
  // Locate, the cursor stands on it.
  bool LocateRecord(std::string_view keyFields, const TFieldValues& values, TLocateOptions options,
                    bool syncCursor, std::vector<std::uint8_t>& buffer);
  bool LocateByFilter(const std::vector<TField*>& fields, const TFieldValues& values,
                      TLocateOptions options, std::vector<std::uint8_t>& buffer);
  std::string LocateExpression(const std::vector<TField*>& fields, const TFieldValues& values,
                               TLocateOptions options) const;
  // The index (name) whose fields fit the key fields for a lookup cursor, or
  // nothing.
  std::optional<std::string> LookupIndex(const std::vector<TField*>& fields,
                                         TLocateOptions options) const;
  bool IndexFits(const std::vector<TField*>& fields, TLocateOptions options, int indexNo,
                 bool exactly) const;
  tarn::TDataCursor& LookupCursor(const std::string& indexName);

  TComponentOwner* FOwner;
  std::string FDatabaseName;
  std::string FSessionName;
  bool FInMemory = false;
  bool FAutoDisplayLabels = false;
  bool FCopyOnAppend = false;
  TTarnDatabase* FDatabase = nullptr;
  std::uint8_t FHoldReasons = 0;
  // The cursor shown (FOwnedCursor, or one that belongs to the component).
  tarn::TDataCursor* FCursor = nullptr;
  std::unique_ptr<tarn::TDataCursor> FOwnedCursor;
  std::unique_ptr<tarn::TDataCursor> FLookupCursor;
  std::string FLookupIndex;
  // Filters.
  std::string FFilterText;
  bool FFiltered = false;
  TFilterOptionsSet FFilterOptions;
  TFilterRecordEvent FOnFilterRecord;
  tarn::TFilter* FExprFilter = nullptr;
  tarn::TFilter* FFuncFilter = nullptr;
  std::vector<std::uint8_t> FFilterBuffer;
  // Blob streams: a host per field handed a stream, and the blob fields
  // written in the current edit (their buffers stay open until the post).
  std::map<const TField*, std::unique_ptr<TFieldBlobHost>> FBlobHosts;
  std::set<int> FModifiedBlobs;
};

}  // namespace dbcomp
