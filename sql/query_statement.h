#pragma once
// An SQL statement text run against one database: TQueryStatement.
//
// The statement owns the expression parser that scans its text (error code
// 11949, source "SQL statement"), the queries of the statement being run
// (the master first, then every sub-select and UNIONed select in the order
// of creation) and the list of its "?" parameter markers in text order. It
// belongs to a TDataDirectory, which must outlive it.
//
// Lifecycle: created -> prepared (Prepare parses the first statement of the
// text; a failure leaves it unprepared, with ErrorPosition set) -> executed
// any number of times (Execute runs the prepared statement, then parses and
// runs each further statement of the text, separated by ";") -> destroyed.
//
// Data-definition and transaction statements run through the functions of
// sql_ddl_execution.h, SELECT through sql_select.h (live or copied result,
// read through Result()), INSERT, UPDATE and DELETE through
// sql_data_change.h.
//
// Threads: one thread at a time (its session's).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "expr/exp_value.h"
#include "expr/expression_parser.h"
#include "sql/data_query.h"
#include "sql/query_printer.h"

namespace tarn {

class TDataDirectory;
class TSelectResult;
struct TSqlRunContext;
class TSqlSources;

// Where a statement failed: the offending token's byte offset in the text,
// and its 1-based line and column.
struct TSqlPosition {
  std::size_t Offset = 0;
  int Line = 1;
  int Column = 1;
};

class TQueryStatement {
 public:
  explicit TQueryStatement(TDataDirectory& directory);
  ~TQueryStatement();
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  TDataDirectory& Directory() const { return FDirectory; }

  // Parses the first statement of text (up to a zero byte) into its
  // queries, then opens the statement's tables and resolves its columns
  // (unknown tables and columns, duplicate correlation names, value counts
  // and constant types of INSERT and UPDATE, mixed aggregates, UNION column
  // counts are refused here, not at Execute). Throws 11949 (or the
  // expression parser's messages, also 11949; engine errors of opening a
  // table keep their codes) and leaves the statement unprepared.
  void Prepare(std::string_view text);
  // Prepare without opening tables or resolving columns: only the parser's
  // checks (for printing a statement, and for tools that only look at its
  // form). Execute still runs it; what Prepare would refuse fails there.
  void Parse(std::string_view text);
  bool Prepared() const { return FPrepared; }
  // Runs the prepared statement and every further statement of the text.
  // RowsAffected and ExecutionTime add up over the statements, except that
  // START TRANSACTION remembers the count so far and ROLLBACK goes back to
  // it. A failure stops the text there. Requires: prepared.
  void Execute();

  // The statement now parsed (after Execute: the last one of the text).
  TQueryKind Kind() const { return FQueries.empty() ? TQueryKind::None : FQueries.front()->Kind(); }
  const TQueryList& Queries() const { return FQueries; }
  const TDataQuery& Master() const { return *FQueries.front(); }
  // The "?" markers of the statement, in text order (owned by its trees).
  const std::vector<TExpToken*>& Parameters() const { return FParameters; }
  // The canonical text of the statement now parsed (query_printer.h).
  std::string Print() const { return PrintStatement(FQueries); }

  // The cursor on the result of the last statement run when it was a
  // SELECT: the source table's own cursor for a live result (changes go to
  // the table), otherwise a read-only cursor on the copied result table. It
  // stands before its first record and stays valid until the statement is
  // prepared or executed again, or destroyed. nullptr otherwise.
  TDataCursor* Result() const;
  // Whether Result() is live.
  bool ResultLive() const;

  // Parameter values for the "?" markers of the first statement, by
  // position (a NULL value, or a marker beyond the list, reads as NULL).
  // Kept for every later Execute.
  void SetParameterValues(std::vector<TExpValue> values);
  // Binds count parameters from a parameter block (parameter_block.h) by
  // position, as SetParameterValues, then runs as Execute(). Answers the
  // result cursor of a SELECT (Result()), null for other statements.
  TDataCursor* Execute(std::size_t count, std::span<const std::uint8_t> descriptors,
                       std::span<const std::uint8_t> data);
  // Called (with context and the cursor's argument) by the cursors of the
  // statement's tables when a table needs a password the session's list
  // lacks; returning true means a password was added and is tried again.
  void SetPasswordCallback(bool (*callback)(void* context, std::intptr_t argument), void* context) {
    FPasswordCallback = callback;
    FPasswordContext = context;
  }
  // Progress in whole percent during data changes and SELECT production;
  // returning true stops the statement after the current row.
  void SetProgressCallback(std::function<bool(int percent)> callback) { FProgress = std::move(callback); }

  std::int32_t RowsAffected() const { return FRowsAffected; }
  // Run files the result sorts of the last Execute wrote (all removed again).
  std::size_t SortRunFiles() const { return FSortRunFiles; }
  double ExecutionTime() const { return FExecutionTime; }
  // Where the last Prepare or Execute failed while parsing; empty after a
  // parse that succeeded.
  const std::optional<TSqlPosition>& ErrorPosition() const { return FErrorPosition; }

  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool value) { FRequestLive = value; }
  std::int32_t MaxRowCount() const { return FMaxRowCount; }
  // Takes effect at once, also for a prepared statement (the limit is read
  // when the statement runs).
  void SetMaxRowCount(std::int32_t value) { FMaxRowCount = value; }

 private:
  // Parses the statement at the scanner's current token into fresh queries
  // and runs the checks that follow a parse. Records ErrorPosition on failure.
  void ParseNext();
  // Opens the tables of the parsed statement and resolves its columns, so
  // that the errors a run would raise for them are raised now.
  void CheckQueries();
  TSqlRunContext MakeContext();
  // Runs the parsed statement; returns its affected rows.
  std::int32_t Run();
  // SELECT, INSERT, UPDATE and DELETE.
  std::int32_t RunDataQuery(TDataQuery& master);

  TDataDirectory& FDirectory;
  TExpressionParser FScanner;
  TQueryList FQueries;
  std::vector<TExpToken*> FParameters;
  bool FPrepared = false;
  bool FResolve = true;  // Prepare (true) or Parse (false)
  bool FRequestLive = false;
  std::int32_t FMaxRowCount = -1;
  std::int32_t FRowsAffected = 0;
  double FExecutionTime = 0;
  std::optional<TSqlPosition> FErrorPosition;
  std::vector<TExpValue> FParameterValues;
  std::function<bool(int)> FProgress;
  bool (*FPasswordCallback)(void*, std::intptr_t) = nullptr;
  void* FPasswordContext = nullptr;
  std::unique_ptr<TSelectResult> FResult;
  // The target of the prepared INSERT VALUES, open from its first run until
  // the statement is prepared again or destroyed.
  std::unique_ptr<TSqlSources> FInsertTarget;
  bool FFirstStatement = true;
  std::size_t FSortRunFiles = 0;
};

}  // namespace tarn
