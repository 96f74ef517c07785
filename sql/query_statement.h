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
// sql_ddl_execution.h; SELECT, INSERT, UPDATE and DELETE are parsed and
// printed but not run yet (Execute raises 11949 for them).
//
// Threads: one thread at a time (its session's).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/expression_parser.h"
#include "sql/data_query.h"
#include "sql/query_printer.h"

namespace tarn {

class TDataDirectory;

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

  std::int32_t RowsAffected() const { return FRowsAffected; }
  double ExecutionTime() const { return FExecutionTime; }
  // Where the last Prepare or Execute failed while parsing; empty after a
  // parse that succeeded.
  const std::optional<TSqlPosition>& ErrorPosition() const { return FErrorPosition; }

  bool RequestLive() const { return FRequestLive; }
  void SetRequestLive(bool value) { FRequestLive = value; }
  std::int32_t MaxRowCount() const { return FMaxRowCount; }
  void SetMaxRowCount(std::int32_t value) { FMaxRowCount = value; }

 private:
  // Parses the statement at the scanner's current token into fresh queries
  // and runs the checks that follow a parse. Records ErrorPosition on failure.
  void ParseNext();
  // Runs the parsed statement; returns its affected rows.
  std::int32_t Run();

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
};

}  // namespace tarn
