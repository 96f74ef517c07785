#pragma once
// The dataset: a current record, a state, navigation, editing, typed fields
// and the notifications that keep data-aware controls in step.
//
// TDataSet holds everything that does not depend on where the records live;
// a concrete dataset (the engine table component, or TMemoryDataSet in tests)
// implements the protected Internal* hooks and calls CloseNoThrow() in its own
// destructor (the hooks are gone by the time ~TDataSet runs). Not
// thread-safe: one thread drives a dataset and receives its notifications.
//
// States and their guarantees:
//   Inactive    no fields bound, no record buffers. Open() -> Browse.
//   Browse      the active buffer holds the current record (or nothing when
//               the dataset is empty). Edit() -> Edit.
//   Edit        the active buffer holds the record being changed, the old
//               values buffer its values when the edit began; the concrete
//               dataset holds whatever lock Edit took. Post() / Cancel() and
//               every move (through CheckBrowseMode) -> Browse.
//   Insert      a new record being built (used by the table component).
//   SetKey      the key buffer is being filled (table component key searches).
//   CalcFields  OnCalcFields is computing the calculated fields; temporary.
//   Filter      a record filter is looking at a record; temporary.
//
// Record buffer layout (one contiguous byte block, allocated zero-filled):
//   offset                      size            field
//   0                           RecordSize      the record's field values, in the
//                                               concrete dataset's own layout
//   RecordSize                  CalcFieldsSize  calculated fields: per field a
//                                               has-value byte, then its value
//   RecordSize+CalcFieldsSize   8               record information: 4-byte signed
//                                               sequence number, 1-byte bookmark
//                                               flag (TBookmarkFlag), 3 zero bytes
//   ... + 8                     BookmarkSize    the record's bookmark
// All integers little-endian. A new (inserted) record has sequence number -1
// and the flag Inserted.
//
// Invariants: (1) State() != Inactive exactly when Active(); (2) in Browse and
// Edit with a current record the active buffer's flag is Current;
// (3) RecordModified() is false outside Edit and Insert; (4) the old-values
// buffer is meaningful only in Edit.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/data_link.h"
#include "dbcomp/field.h"
#include "dbcomp/field_def.h"

namespace dbcomp {

class TDataSource;

enum class TDataSetState : std::uint8_t {
  Inactive,
  Browse,
  Edit,
  Insert,
  SetKey,
  CalcFields,
  Filter,
  NewValue,      // a field's validation looks at its new value
  InternalCalc,  // the dataset computes its internally calculated fields
};

enum class TBookmarkFlag : std::uint8_t { Current = 0, BeforeFirst = 1, AfterLast = 2, Inserted = 3 };

enum class TGetMode : std::uint8_t { Current, Next, Prior };
enum class TGetResult : std::uint8_t { OK, BeforeFirst, AfterLast, Error };

class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // Component name, used as the prefix of some messages ("%s: %s").
  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }

  // --- Open and close ---
  // Opens the dataset: the concrete dataset opens its storage and reads the
  // field definitions ("Error creating table handle." when it gives no
  // handle); the fields are bound (persistent) or created; the dataset moves
  // to the first record; state Browse; links see ActiveChanged. On failure
  // the dataset stays inactive.
  void Open();
  // Leaves edit mode (posting a modified record), then state Inactive, frees
  // the record buffers, unbinds the fields (created ones are destroyed) and
  // closes the storage. A failed post leaves the dataset open in Edit.
  void Close();
  void SetActive(bool value) { value ? Open() : Close(); }
  bool Active() const noexcept { return FState != TDataSetState::Inactive; }
  TDataSetState State() const noexcept { return FState; }

  // --- Navigation. Each first leaves edit mode (CheckBrowseMode). ---
  // Before the first record, then read forward. AtBeginning true; AtEnd true
  // when the dataset is empty.
  void First();
  // Reads the next record unless AtEnd. When there is none, AtEnd becomes
  // true and the current record stays.
  void Next();
  void Prior();
  void Last();
  // Leaves edit mode and reads the current record again.
  void Refresh();
  bool AtBeginning() const noexcept { return FAtBeginning; }
  bool AtEnd() const noexcept { return FAtEnd; }
  // No current record (an empty dataset or a closed one).
  bool IsEmpty() const noexcept;

  // --- Editing ---
  // From Browse only (does nothing in Edit or Insert): checks that the dataset
  // can be modified, re-reads the current record with a lock, copies it to the
  // old values; state Edit. On failure the dataset stays in Browse.
  void Edit();
  // Lets every data link write its pending value, then stores the record;
  // state Browse. On failure the dataset stays in Edit, the buffer unchanged.
  void Post();
  // Ends an edit: gives up the lock taken by Edit, frees the record's blob
  // buffers, discards the buffer's changes, state Browse, reads the current
  // record again. Does nothing in Browse. Cancelling an insert goes back to
  // the record that was current before it.
  void Cancel();
  // Leaves edit mode, checks that the dataset can be modified and starts a
  // new record (the concrete dataset initialises it; OnNewRecord may fill
  // it); state Insert. Post stores it and makes it the current record.
  void Insert();
  // As Insert; the dataset first moves to its end.
  void Append();
  // Deletes the current record (an insert in progress is cancelled instead)
  // and stands on the record after it, else the one before it.
  void Delete();
  // Leaving edit mode: in Edit or Insert, the links write their pending
  // values, then Post when RecordModified() or else Cancel. In SetKey the key
  // is applied. Requires: Active (raises otherwise).
  void CheckBrowseMode();
  // The links write their pending values. Requires: Edit or Insert.
  void UpdateRecord();
  // A field of the record buffer was written since the edit began.
  bool RecordModified() const noexcept { return FRecordModified; }
  virtual bool CanModify() const;

  // --- Fields ---
  const TFieldDefs& FieldDefs() const noexcept { return FFieldDefs; }
  std::size_t FieldCount() const noexcept { return FFields.size(); }
  TField& Fields(std::size_t index) const { return *FFields.at(index); }
  // Names compare without regard to case. FindField answers null,
  // FieldByName raises "Field '%s' not found" (with the dataset's name).
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;
  // Adds a persistent field. Requires: the dataset is inactive. Raises on a
  // duplicate name.
  TField& AddField(std::unique_ptr<TField> field);
  // Removes every persistent field. Requires: inactive.
  void ClearFields();

  // Field access used by TField. GetFieldData answers false for null.
  bool GetFieldData(const TField& field, std::span<std::uint8_t> dest) const;
  // The field-write rules: checks state, index, read-only; validates; stores
  // (an empty span stores null); notifies; sets RecordModified.
  void SetFieldData(TField& field, std::span<const std::uint8_t> src);
  std::vector<std::uint8_t> GetBlobData(const TField& field) const;
  void SetBlobData(TField& field, std::span<const std::uint8_t> value, bool isNull);

  // --- Data sources ---
  std::size_t DataSourceCount() const noexcept { return FDataSources.size(); }
  // While disabled (the calls nest) the data sources and their links hear
  // nothing. The last EnableControls tells them the state, then that the
  // dataset changed: a layout change when it was closed or its fields
  // changed meanwhile (field links then find their fields again), else a
  // dataset change.
  void DisableControls() noexcept { ++FDisableCount; }
  void EnableControls();
  bool ControlsDisabled() const noexcept { return FDisableCount > 0; }
  // Moves the focus to a control bound to the field.
  void FocusField(TField& field);

  // Events.
  std::function<void(TDataSet&)> OnCalcFields;
  std::function<void(TDataSet&)> BeforePost;
  std::function<void(TDataSet&)> AfterPost;
  std::function<void(TDataSet&)> AfterScroll;
  std::function<void(TDataSet&)> OnNewRecord;

  // The record buffer of the current state, the information part decoded.
  std::int32_t RecordSequence() const;
  TBookmarkFlag BookmarkFlag() const;

 protected:
  // --- Hooks of the concrete dataset ---
  // Opens the storage and fills the definitions (SetFieldDefs) and sizes
  // (SetRecordLayout). Answers false when no handle resulted.
  virtual bool InternalOpen() = 0;
  virtual void InternalClose() noexcept = 0;
  // Positions before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Reads the current, next or prior record into the buffer (record part,
  // record information and bookmark). BeforeFirst/AfterLast when there is none; Error or an
  // exception for a failure (raised when doCheck).
  virtual TGetResult GetRecord(std::span<std::uint8_t> buffer, TGetMode mode, bool doCheck) = 0;
  // Positions the storage on the record of the buffer (from its bookmark).
  virtual void InternalSetToRecord(std::span<const std::uint8_t> buffer) = 0;
  // Re-reads the current record with a lock into the buffer. Raises on failure.
  virtual void InternalEdit(std::span<std::uint8_t> buffer) = 0;
  // Stores the buffer (Edit: modifies, unlocks). Raises on failure, leaving
  // the buffer as it was.
  virtual void InternalPost(std::span<const std::uint8_t> buffer) = 0;
  // Gives up the edit lock (when wasEditing) and frees the buffer's blob buffers.
  virtual void InternalCancel(bool wasEditing) = 0;
  // A new record: initialises the buffer's record part (default: raises
  // "Cannot modify a read-only dataset."). The record information is set by
  // the caller.
  virtual void InternalInitRecord(std::span<std::uint8_t> buffer);
  // Deletes the record of the buffer (default: raises as above).
  virtual void InternalDelete(std::span<const std::uint8_t> buffer);
  // Called by Open once the fields are bound and the buffers made, before the
  // first record is read (filters that look at fields are made here).
  virtual void FieldsBoundHook() {}
  // Called after InternalInitRecord, before OnNewRecord (the table component
  // fills the master link fields here).
  virtual void NewRecordHook() {}
  // Applies the key buffer of SetKey state; default: back to Browse.
  virtual void InternalApplyKey();
  // Field values of a buffer, in the concrete layout. Read answers false for null.
  virtual bool ReadRecordField(std::span<const std::uint8_t> buffer, const TField& field,
                               std::span<std::uint8_t> dest) const = 0;
  virtual void WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                                std::span<const std::uint8_t> src) = 0;  // empty: null
  // Whole blob values of the record in the buffer.
  virtual std::vector<std::uint8_t> ReadBlob(std::span<const std::uint8_t> buffer,
                                             const TField& field) const = 0;
  virtual void WriteBlob(std::span<std::uint8_t> buffer, const TField& field,
                         std::span<const std::uint8_t> value, bool isNull) = 0;
  // Storage is writable.
  virtual bool InternalCanModify() const { return true; }
  // The active index has key fields, and whether the field is one of them.
  virtual bool IndexHasKeyFields() const { return false; }
  virtual bool IsIndexField(const TField& field) const { (void)field; return false; }
  // The buffer of SetKey state (the table component's key buffer).
  virtual std::span<std::uint8_t> KeyBuffer() { return {}; }

  // --- Helpers for the concrete dataset ---
  void SetFieldDefs(TFieldDefs defs) { FFieldDefs = std::move(defs); }
  void SetRecordLayout(int recordSize, int bookmarkSize);
  int RecordSize() const noexcept { return FRecordSize; }
  int CalcFieldsSize() const noexcept { return FCalcFieldsSize; }
  int BookmarkSize() const noexcept { return FBookmarkSize; }
  int RecInfoOffset() const noexcept { return FRecordSize + FCalcFieldsSize; }
  int BookmarkOffset() const noexcept { return RecInfoOffset() + 8; }
  int RecordBufferSize() const noexcept { return BookmarkOffset() + FBookmarkSize; }
  void SetRecInfo(std::span<std::uint8_t> buffer, std::int32_t sequence, TBookmarkFlag flag) const;
  static TBookmarkFlag GetBookmarkFlagOf(std::span<const std::uint8_t> buffer, int recInfoOffset);
  std::span<std::uint8_t> ActiveBuffer() noexcept { return FActiveBuffer; }
  std::span<const std::uint8_t> ActiveBuffer() const noexcept { return FActiveBuffer; }
  std::span<const std::uint8_t> OldValuesBuffer() const noexcept { return FOldBuffer; }
  void SetState(TDataSetState state);
  void DataEvent(TDataEvent event, std::intptr_t info = 0);
  // Temporary state for a calculation or a filter, on a buffer of its own.
  // Restores the previous state and buffer however the scope is left.
  class TTempState {
   public:
    TTempState(TDataSet& dataSet, TDataSetState state, std::span<std::uint8_t> buffer);
    ~TTempState();
    TTempState(const TTempState&) = delete;
    TTempState& operator=(const TTempState&) = delete;
   private:
    TDataSet& FDataSet;
    TDataSetState FOldState;
    std::span<std::uint8_t> FOldBuffer;
  };
  // The storage stands on a record (a key search, a bookmark, a locate): reads
  // it into the active buffer. When there is none there, the record after the
  // position, else the one before; else the dataset is empty. Links see
  // DataSetChange, then AfterScroll.
  void SyncToStorage();
  bool HasRecord() const noexcept { return FHasRecord; }
  // The record buffer's content changed outside a field write (a blob
  // stream): RecordModified becomes true. Requires: Edit or Insert.
  void MarkRecordModified() noexcept { FRecordModified = true; }
  // Refresh: the storage drops what it holds of the current record before it
  // is read again. Default: nothing.
  virtual void InternalRefresh() {}
  // Runs OnCalcFields on the buffer when there are calculated fields.
  void GetCalcFields(std::span<std::uint8_t> buffer);
  // Close for destructors: leaves edit mode (posting, else cancelling),
  // ignores every failure. A concrete dataset calls it in its destructor,
  // while its Internal* hooks still exist.
  void CloseNoThrow() noexcept;

 private:
  friend class TDataSource;
  friend class TTempState;
  void CheckActive() const;
  void BindFields();
  void UnbindFields() noexcept;
  void ReadFirst();
  void ResyncCurrent();
  std::span<std::uint8_t> StateBuffer() const;
  void ClearActiveBuffer();
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source) noexcept;
  void DetachFromSources() noexcept;
  bool CheckInvariants() const;

  std::string FName;
  TDataSetState FState;
  TFieldDefs FFieldDefs;
  std::vector<std::unique_ptr<TField>> FOwnedFields;  // persistent and created
  std::vector<TField*> FFields;                       // bound, in table order then calculated
  bool FHasPersistentFields = false;
  std::vector<TDataSource*> FDataSources;
  std::vector<std::uint8_t> FActiveStorage;
  std::vector<std::uint8_t> FOldBuffer;
  std::vector<std::uint8_t> FCalcStorage;
  std::span<std::uint8_t> FActiveBuffer;
  std::span<std::uint8_t> FTempBuffer;  // buffer of CalcFields/Filter state
  int FRecordSize = 0;
  int FCalcFieldsSize = 0;
  int FBookmarkSize = 0;
  bool FHasRecord = false;
  bool FAtBeginning = false;
  bool FAtEnd = false;
  bool FRecordModified = false;
  bool FInCheckBrowseMode = false;
  bool FInsertHadRecord = false;  // Insert began on a current record
  int FDisableCount = 0;
  bool FLayoutChangedWhileDisabled = false;
};

}  // namespace dbcomp
