#pragma once
// The table component: one table of a database as a dataset.
//
// TTarnTable opens the table TableName of the database DatabaseName (a
// database component's name, or a directory for which the session makes a
// temporary database; "Memory" for in-memory tables) through one engine
// cursor, and adds to TTarnDBDataSet what is particular to tables: the choice
// of index, key searches and ranges, master/detail links, the field and index
// definitions, and creating, emptying and deleting the table and its indexes.
//
// Index selection: IndexName (empty = the primary index) or IndexFieldNames
// ("A;B": the index whose fields are exactly these, else the first whose
// fields begin with them); setting one clears the other. While open a change
// leaves edit mode, drops the range, switches the cursor, re-applies a master
// range and moves to the first record.
//
// Keys and ranges: SetKey / SetRangeStart / SetRangeEnd (and the Edit*
// forms, which keep the values already there) put the dataset into the
// set-key state on one of the key buffers; writes there may only touch the
// active index's fields. GotoKey / GotoNearest search the key, ApplyRange
// restricts the view to the keys from start to end (a key of fewer fields
// covers every key that begins with it), CancelRange gives the view back.
//
// Master/detail: with MasterSource and MasterFields ("A;B") the table shows
// only the records whose first active-index fields equal the master's fields,
// in order; it follows every move of the master. A record inserted into the
// table starts with the master's values in those fields.
//
// Threads: one thread, the session's.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/data_link.h"
#include "dbcomp/db_data_set.h"

namespace dbcomp {

class TDataSource;
class TTarnTable;

struct TIndexOptions {
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
};

struct TIndexDef {
  std::string Name;    // empty for the primary index
  std::string Fields;  // field names separated by ";"
  TIndexOptions Options;
};

using TIndexDefs = std::vector<TIndexDef>;

// Why a record (or a field of it) would not reach a table's new structure
// (OnDataLost); the context names the index or the field.
enum class TDataLossCause : std::uint8_t {
  Other = 0,           // a record could not be stored
  KeyViolation = 1,    // a unique index of the new structure
  ValueCheck = 2,      // a required, minimum or maximum check
  FieldDropped = 3,    // the old field has no counterpart
  NotConvertible = 4,  // the value cannot take the new type
};

class TTarnTable : public TTarnDBDataSet {
 public:
  explicit TTarnTable(TComponentOwner* owner = nullptr);
  ~TTarnTable() override;

  // ---- names ----
  const std::string& TableName() const noexcept { return FTableName; }
  // Requires an inactive table. Every "/" becomes "\"; a name with ":" or "\"
  // puts its directory part (with the trailing "\") into DatabaseName, unless
  // the table is in memory.
  void SetTableName(std::string_view name);
  bool Exclusive() const noexcept { return FExclusive; }
  void SetExclusive(bool value);
  // After opening: whether the table really is read-only.
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  std::string EngineVersion() const { return "3.19"; }
  void SetEngineVersion(std::string_view) noexcept {}
  bool StoreDefs() const noexcept { return FStoreDefs; }
  void SetStoreDefs(bool value) noexcept { FStoreDefs = value; }

  // ---- definitions ----
  // Field definitions used to create the table (inactive only); reading them
  // back from the table is UpdateFieldDefs.
  void SetFieldDefinitions(TFieldDefs defs);
  // Reads the field definitions from the table (an open cursor, or one made
  // for the purpose).
  void UpdateFieldDefs();
  const TIndexDefs& IndexDefs() const noexcept { return FIndexDefs; }
  void SetIndexDefs(TIndexDefs defs);
  // Reads the index definitions from the table.
  void UpdateIndexDefs();

  // ---- the table ----
  // An active table exists; otherwise the engine directory is asked.
  bool Exists();
  // Creates the table from the field and index definitions (inactive only);
  // a table of that name is replaced.
  void CreateTable();
  // Deletes the table's files (inactive only; an encrypted table asks for
  // its password as an open does).
  void DeleteTable();
  // Deletes every record. An open table must have been opened Exclusive
  // (10253 otherwise); a closed one is opened exclusively for it.
  void EmptyTable();
  // Adds a secondary index ("A;B" fields; OnIndexProgress reports the
  // build), or deletes one ("" the primary index). Exclusive use as for
  // EmptyTable. An open table moves to its first record afterwards; deleting
  // its active index leaves it on the primary index.
  void AddIndex(std::string_view name, std::string_view fields, TIndexOptions options = {});
  void DeleteIndex(std::string_view name);

  // ---- index ----
  const std::string& IndexName() const noexcept { return FIndexName; }
  void SetIndexName(std::string_view name);
  const std::string& IndexFieldNames() const noexcept { return FIndexFieldNames; }
  void SetIndexFieldNames(std::string_view names);
  // Fields of the active index (0 in natural order or with no primary key).
  int IndexFieldCount() const;
  // The i-th field of the active index: "Field index out of range." outside
  // 0..IndexFieldCount()-1, "Cannot access index field %s." for a table
  // field without a field object.
  TField& IndexFields(int i) const;

  // ---- keys and ranges ----
  void SetKey();
  void EditKey();
  bool GotoKey();
  void GotoNearest();
  // SetKey, the values into the first index fields, GotoKey / GotoNearest.
  bool FindKey(const TFieldValues& values);
  void FindNearest(const TFieldValues& values);
  // Alias of GotoKey for an exact key search.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  // SetRangeStart with start, SetRangeEnd with end, ApplyRange.
  void SetRange(const TFieldValues& start, const TFieldValues& end);
  // Number of key fields given in the key buffer being edited (set-key).
  int KeyFieldCount() const;

  // ---- master/detail ----
  TDataSource* MasterSource() const noexcept;
  TDataSource* MasterDataSource() const noexcept override { return MasterSource(); }
  // "Circular data links are not allowed." when the source leads back to this table.
  void SetMasterSource(TDataSource* source);
  const std::string& MasterFields() const noexcept { return FMasterFields; }
  void SetMasterFields(std::string_view names);

  // ---- events ----
  std::function<void(TTarnTable&, std::string_view step, int percent)> OnVerifyProgress, OnRepairProgress,
      OnUpgradeProgress;
  std::function<void(TTarnTable&, std::string_view message)> OnVerifyLog, OnRepairLog, OnUpgradeLog;
  std::function<void(TTarnTable&, int percent)> OnIndexProgress, OnCopyProgress, OnOptimizeProgress,
      OnRestructureProgress, OnImportProgress, OnExportProgress;
  std::function<void(TTarnTable&, TDataLossCause cause, std::string_view context, bool& continueRestructure,
                     bool& stopAsking)>
      OnDataLost;

 protected:
  std::unique_ptr<tarn::TDataCursor> CreateCursor() override;
  void CursorOpened() override;
  void FieldsBoundHook() override;
  void NewRecordHook() override;
  void InternalApplyKey() override;
  bool IndexHasKeyFields() const override;
  bool IsIndexField(const TField& field) const override;
  std::span<std::uint8_t> KeyBuffer() override;
  void WriteRecordField(std::span<std::uint8_t> buffer, const TField& field,
                        std::span<const std::uint8_t> src) override;

 private:
  // SetKey, then the index fields take values (nothing: blank); a failure
  // cancels the key edit.
  void SetKeyValues(const TFieldValues& values);
  class TMasterLink : public TDataLink {
   public:
    explicit TMasterLink(TTarnTable& table) : FTable(table) {}

   protected:
    void ActiveChanged() override;
    void RecordChanged(TField* field) override;
    void DataSetChanged() override;
    void DataSetScrolled(int) override { DataSetChanged(); }
    void LayoutChanged() override { DataSetChanged(); }

   private:
    TTarnTable& FTable;
  };

  // The key buffers: a lookup key, the range start and end being edited, the
  // range start and end in force, and a saved copy.
  enum TKeyIndex : std::uint8_t { KeyLookup, KeyRangeStart, KeyRangeEnd, KeyRangeStartApplied, KeyRangeEndApplied, KeySaved, KeyCount };
  struct TKeyBuffer {
    std::vector<std::uint8_t> Record;  // a record buffer of the dataset
    int FieldCount = 0;                // key fields set
    bool Modified = false;
  };

  void CheckTableName() const;
  // The index name that IndexFieldNames means ("No index for fields '%s'").
  std::string IndexNameForFields(std::string_view names);
  void SelectIndex();
  void IndexChanged();
  void BeginKeyEdit(TKeyIndex which, bool clear);
  void ResetKeyBuffers();
  // Position of field among the active index's fields, or -1.
  int IndexPosition(const TField& field) const;
  bool ApplyRangeBuffers();
  void MasterChanged();
  // Puts the master's values into the range; true when the range changed.
  bool ApplyMasterRange();
  // Runs op with a cursor on the table: the open one, or one made for the
  // call (database held for reason while it runs).
  void WithCursor(THoldReason reason, const std::function<void(tarn::TDataCursor&)>& op);
  // Runs op with a cursor of the component's settings made for it: closed
  // (create, delete), or opened exclusively (empty, indexes).
  void WithMaintenanceCursor(bool open, const std::function<void(tarn::TDataCursor&)>& op);

  std::string FTableName;
  std::string FIndexName;
  std::string FIndexFieldNames;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FStoreDefs = false;
  TIndexDefs FIndexDefs;
  std::string FMasterFields;
  TMasterLink FMasterLink;
  bool FRangeActive = false;
  TKeyBuffer FKeys[KeyCount];
  TKeyIndex FKeyEditing = KeyLookup;
  std::vector<int> FIndexFieldNos;  // the active index's field numbers
};

}  // namespace dbcomp
