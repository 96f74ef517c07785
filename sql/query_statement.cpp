#include "sql/query_statement.h"

#include <chrono>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/session/data_directory.h"
#include "sql/sql_ddl_execution.h"
#include "sql/sql_parser.h"

namespace tarn {

namespace {

TSqlPosition PositionAt(const std::string& text, std::size_t offset) {
  TSqlPosition position;
  position.Offset = offset;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++position.Line;
      position.Column = 1;
    } else {
      ++position.Column;
    }
  }
  return position;
}

}  // namespace

TQueryStatement::TQueryStatement(TDataDirectory& directory)
    : FDirectory(directory), FScanner(TARN_SQLPARSE, std::string(), "SQL statement") {}

TQueryStatement::~TQueryStatement() {
  // Trees first: the parameter list points into them.
  FParameters.clear();
  FQueries.clear();
}

void TQueryStatement::ParseNext() {
  FParameters.clear();
  FQueries.clear();
  FErrorPosition.reset();
  try {
    TSqlParser parser(FScanner, FQueries, FParameters);
    parser.ParseStatement();
    for (const std::unique_ptr<TDataQuery>& q : FQueries) {
      if (q->Kind() == TQueryKind::Select && q->Having && q->GroupBy.empty())
        RaiseEngineError(
            TARN_SQLPARSE,
            {.Message = "A GROUP BY clause must exist in order to use the HAVING clause"});
    }
  } catch (...) {
    FErrorPosition = PositionAt(FScanner.Text(), FScanner.TokenStart());
    FParameters.clear();
    FQueries.clear();
    throw;
  }
}

void TQueryStatement::Prepare(std::string_view text) {
  FPrepared = false;
  FScanner.SetText(text);
  FErrorPosition.reset();
  try {
    FScanner.NextToken();
  } catch (...) {
    FErrorPosition = PositionAt(FScanner.Text(), FScanner.TokenStart());
    FParameters.clear();
    FQueries.clear();
    throw;
  }
  ParseNext();
  FPrepared = true;
}

std::int32_t TQueryStatement::Run() {
  const auto start = std::chrono::steady_clock::now();
  TDataQuery& master = *FQueries.front();
  std::int32_t rows = 0;
  switch (master.Kind()) {
    case TQueryKind::CreateTable:
      ExecuteCreateTable(FDirectory, master);
      break;
    case TQueryKind::AlterTable:
      ExecuteAlterTable(FDirectory, master);
      break;
    case TQueryKind::DropTable:
      ExecuteDropTable(FDirectory, master);
      break;
    case TQueryKind::CreateIndex:
      ExecuteCreateIndex(FDirectory, master);
      break;
    case TQueryKind::DropIndex:
      ExecuteDropIndex(FDirectory, master);
      break;
    case TQueryKind::StartTransaction:
      ExecuteStartTransaction(FDirectory);
      break;
    case TQueryKind::Rollback:
      ExecuteRollback(FDirectory);
      break;
    case TQueryKind::Commit:
      ExecuteCommit(FDirectory, master);
      break;
    case TQueryKind::Select:
    case TQueryKind::Insert:
    case TQueryKind::Update:
    case TQueryKind::Delete:
    case TQueryKind::None:
      RaiseEngineError(TARN_SQLPARSE, {.Message = std::string(master.KindName()) +
                                                  " statements cannot be executed yet"});
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  master.RowsAffected = rows;
  master.ExecutionTime = static_cast<double>(elapsed.count()) / 1000.0;
  FExecutionTime += master.ExecutionTime;
  return rows;
}

void TQueryStatement::Execute() {
  if (!FPrepared || FQueries.empty())
    RaiseEngineError(TARN_SQLPARSE, {.Message = "The statement has not been prepared"});
  FRowsAffected = 0;
  FExecutionTime = 0;
  std::int32_t remembered = 0;
  bool first = true;
  for (;;) {
    const TQueryKind kind = FQueries.front()->Kind();
    const std::int32_t rows = Run();
    FRowsAffected += rows;
    if (first) remembered = FRowsAffected;
    if (kind == TQueryKind::StartTransaction) remembered = FRowsAffected;
    if (kind == TQueryKind::Rollback) FRowsAffected = remembered;
    first = false;
    if (FScanner.TokenKind() == ExpScan::End) break;
    ParseNext();
  }
}

}  // namespace tarn
