#pragma once
// The query component: the result of an SQL statement as a dataset.
//
// TTarnQuery keeps an SQL text (SQL, a list of lines) and its parameters,
// prepares the statement (tarn::TQueryStatement) on the engine directory of
// its database and shows the statement's result cursor like a table.
//
// Parameters: with ParamCheck on, every change of the text finds its
// ":name" markers (params.h); Params then holds one parameter per distinct
// name, in the order of first appearance, and keeps the values of the
// parameters of the old list that have the same names. Each marker takes
// the value of its parameter, so a name used twice has one value. With
// ParamCheck off the text is prepared as written (with "?" markers) and the
// parameters go to the markers by position.
//
// Lifecycle:
//   unprepared --Prepare--> prepared --Open--> open --Close--> unprepared
//   Open prepares when needed; Close and a change of the text unprepare.
//   ExecSQL runs a statement that gives no rows (INSERT, UPDATE, DELETE,
//   data definition, transactions) and leaves the query prepared.
//   A failed execution leaves the statement prepared, except for an SQL
//   error (11949), after which it is unprepared.
//
// Results: a SELECT that the engine can give live (RequestLive, one table,
// no join, grouping or DISTINCT, ...) shows the table's own cursor, and
// edits go to the table; any other result is a read-only copy. RowsAffected
// and ExecutionTime are those of the last execution.
//
// Master: with DataSource set, an open query is closed and opened again
// whenever the master becomes active or moves to another record (not in
// set-key state); parameters that are not bound take the values of the
// master's fields of the same names on each open.
//
// Persisting: the component layer has no stream format of its own; the
// state a stored form would need is kept here (Data, ParamData rule,
// BeginLoading / EndLoading).
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
#include "dbcomp/params.h"

namespace tarn {
class TQueryStatement;
class TParameterBlock;
}  // namespace tarn

namespace dbcomp {

class TDataSource;

class TTarnQuery : public TTarnDBDataSet {
 public:
  explicit TTarnQuery(TComponentOwner* owner = nullptr);
  ~TTarnQuery() override;

  // ---- the statement text ----
  const std::vector<std::string>& SQL() const noexcept { return FSQL; }
  // A text different from the present one closes and unprepares the query,
  // drops Data, and (ParamCheck) rebuilds Params; links see a layout change.
  void SetSQL(std::vector<std::string> lines);
  // The lines joined with line breaks; SetSQLText splits at "\n" (a "\r"
  // before it is dropped).
  std::string SQLText() const;
  void SetSQLText(std::string_view text);
  // The text the statement is prepared with (markers replaced).
  const std::string& Text() const noexcept { return FText; }

  // ---- parameters ----
  TParams& Params() noexcept { return FParams; }
  const TParams& Params() const noexcept { return FParams; }
  // Takes a copy of params as the parameter list.
  void SetParams(const TParams& params) { FParams = params; }
  std::size_t ParamCount() const noexcept { return FParams.Count(); }
  // "Parameter '%s' not found" when there is none.
  TParam& ParamByName(std::string_view name) const { return FParams.ParamByName(name); }
  bool ParamCheck() const noexcept { return FParamCheck; }
  void SetParamCheck(bool value) noexcept { FParamCheck = value; }

  // ---- master ----
  TDataSource* DataSource() const noexcept { return FMasterLink.DataSource(); }
  // "Circular data links are not allowed." when source leads back to the query.
  void SetDataSource(TDataSource* source);
  TDataSource* MasterDataSource() const noexcept override { return DataSource(); }
  // For each parameter whose name is a field of the master dataset: that
  // field, paired with the query's field of the same name (pairs where the
  // query has no such field are left out).
  void GetDetailLinkFields(std::vector<TField*>& masterFields,
                           std::vector<TField*>& detailFields) const;

  // ---- settings ----
  // Ask for a live result; a prepared statement takes the new value at once.
  bool RequestLive() const noexcept { return FRequestLive; }
  void SetRequestLive(bool value);
  // Row limit of a SELECT (-1: none); a prepared statement takes it at once.
  std::int32_t MaxRowCount() const noexcept { return FMaxRowCount; }
  void SetMaxRowCount(std::int32_t value);
  // Set while inactive ("Cannot perform this operation on an open dataset.");
  // while open it also reads true when the result is read-only.
  bool ReadOnly() const noexcept { return FReadOnly || FResultReadOnly; }
  void SetReadOnly(bool value);
  std::string EngineVersion() const { return "3.19"; }
  void SetEngineVersion(std::string_view) noexcept {}

  // ---- prepare and run ----
  bool Prepared() const noexcept { return FStatement != nullptr; }
  // Prepare / UnPrepare on an open query raise "Cannot perform this
  // operation on an open dataset"; nothing happens in the state asked for.
  // Prepare needs a text of at least 2 characters ("No SQL statement
  // available") and raises the statement's errors (11949), leaving the
  // query unprepared.
  void SetPrepared(bool value);
  void Prepare() { SetPrepared(true); }
  void UnPrepare() { SetPrepared(false); }
  // The prepared statement; null when unprepared.
  tarn::TQueryStatement* StmtHandle() const noexcept { return FStatement.get(); }
  // Prepares when needed, fills unbound parameters from the master and runs
  // the statement (a SELECT's rows are not shown). Requires an inactive query.
  void ExecSQL();
  // Of the last execution.
  std::int32_t RowsAffected() const noexcept { return FRowsAffected; }
  double ExecutionTime() const noexcept;

  // ---- persisting ----
  // While loading, a new text only finds its markers; Params stay as loaded.
  void BeginLoading() noexcept { FLoading = true; }
  void EndLoading() noexcept { FLoading = false; }
  bool Loading() const noexcept { return FLoading; }
  // The stored image of statement data ("Data"); dropped when the text changes.
  const std::vector<std::uint8_t>& Data() const noexcept { return FStmtData; }
  void SetData(std::vector<std::uint8_t> data) { FStmtData = std::move(data); }
  // Whether Params belong in a stored form ("ParamData"): when they differ
  // from the ancestor's, or without an ancestor when there are any.
  bool ParamDataStored(const TTarnQuery* ancestor) const;

  // ---- closing for the database ----
  void Disconnect() override;
  void CloseQuietly() noexcept override;

  // ---- events ----
  // Progress of an execution in whole percent; setting abortQuery stops the
  // statement after the current row (the rows so far stay).
  std::function<void(TTarnQuery&, int percent, bool& abortQuery)> OnQueryProgress;
  std::function<void(TTarnQuery&, int percent)> OnSaveProgress, OnImportProgress, OnExportProgress;

 protected:
  tarn::TDataCursor* OpenHandle() override;
  void InternalClose() noexcept override;
  bool InternalCanModify() const override;

 private:
  class TMasterLink : public TDataLink {
   public:
    explicit TMasterLink(TTarnQuery& query) : FQuery(query) {}

   protected:
    void ActiveChanged() override;
    void RecordChanged(TField* field) override;
    void CheckBrowseMode() override;

   private:
    TTarnQuery& FQuery;
  };

  void TextChanged();
  void CheckNotOpen() const;
  void PrepareStatement();
  void FreeStatement() noexcept;
  void SetParamsFromMaster();
  tarn::TParameterBlock BuildParameterBlock() const;
  // Runs the prepared statement; the result cursor of a SELECT, else null.
  tarn::TDataCursor* ExecuteStatement();
  void RefreshParams();

  std::vector<std::string> FSQL;
  std::string FText;
  std::vector<std::string> FMarkers;  // names of the "?" markers of FText
  TParams FParams;
  bool FParamCheck = true;
  TMasterLink FMasterLink;
  bool FRequestLive = false;
  std::int32_t FMaxRowCount = -1;
  bool FReadOnly = false;
  bool FResultReadOnly = false;
  std::unique_ptr<tarn::TQueryStatement> FStatement;
  bool FKeepPrepared = false;  // a failed open leaves the statement prepared
  std::int32_t FRowsAffected = 0;
  // The execution time (a double) kept as its two 32-bit halves.
  std::uint32_t FExecutionTimeLow = 0;
  std::uint32_t FExecutionTimeHigh = 0;
  std::vector<std::uint8_t> FStmtData;
  bool FLoading = false;
};

}  // namespace dbcomp
