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
  // queries. Throws 11949 (or the expression parser's messages, also 11949)
  // and leaves the statement unprepared.
  void Prepare(std::string_view text);
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
  // Called when a source table needs a password the session lacks: answers
  // whether to try again (the cursor's password event).
  void SetPasswordCallback(void* context, TCursorEvent::TCallback callback) {
    FPasswordEvent = TCursorEvent{callback, context};
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
  // Runs the parsed statement; returns its affected rows.
  std::int32_t Run();
  // SELECT, INSERT, UPDATE and DELETE.
  std::int32_t RunDataQuery(TDataQuery& master);

  TDataDirectory& FDirectory;
  TExpressionParser FScanner;
  TQueryList FQueries;
  std::vector<TExpToken*> FParameters;
  bool FPrepared = false;
  bool FRequestLive = false;
  std::int32_t FMaxRowCount = -1;
  std::int32_t FRowsAffected = 0;
  double FExecutionTime = 0;
  std::optional<TSqlPosition> FErrorPosition;
  std::vector<TExpValue> FParameterValues;
  std::function<bool(int)> FProgress;
  TCursorEvent FPasswordEvent;
  std::unique_ptr<TSelectResult> FResult;
  bool FFirstStatement = true;
  std::size_t FSortRunFiles = 0;
};

}  // namespace tarn
