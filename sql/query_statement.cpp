#include "sql/query_statement.h"

#include <chrono>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/session/data_directory.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_session.h"
#include "sql/parameter_block.h"
#include "sql/sql_data_change.h"
#include "sql/sql_ddl_execution.h"
#include "sql/sql_select.h"
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
  FResult.reset();
  FInsertTarget.reset();
  // Trees first: the parameter list points into them.
  FParameters.clear();
  FQueries.clear();
}

TDataCursor* TQueryStatement::Result() const { return FResult ? &FResult->Cursor() : nullptr; }
bool TQueryStatement::ResultLive() const { return FResult && FResult->Live(); }

void TQueryStatement::SetParameterValues(std::vector<TExpValue> values) {
  FParameterValues.clear();
  FParameterValues.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) FParameterValues[i].CopyFrom(values[i]);
}

TDataCursor* TQueryStatement::Execute(std::size_t count, std::span<const std::uint8_t> descriptors,
                                      std::span<const std::uint8_t> data) {
  SetParameterValues(ReadParameterBlock(count, descriptors, data));
  Execute();
  return Result();
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
  if (!FResolve) return;
  try {
    CheckQueries();
  } catch (...) {
    FParameters.clear();
    FQueries.clear();
    throw;
  }
}

TSqlRunContext TQueryStatement::MakeContext() {
  TSqlRunContext context;
  context.Directory = &FDirectory;
  context.RequestLive = FRequestLive;
  context.MaxRowCount = FMaxRowCount;
  context.Queries = &FQueries;
  context.Progress = FProgress;
  context.ProgressSteps = FDirectory.Session().ProgressSteps();
  context.PrivateDirectory = FDirectory.Session().PrivateDirectory();
  context.MaxDataBufferCount = FDirectory.Session().MaxDataBufferCount();
  context.SortRunFiles = &FSortRunFiles;
  context.Password = TCursorEvent{FPasswordCallback, FPasswordContext};
  return context;
}

void TQueryStatement::CheckQueries() {
  const TSqlRunContext context = MakeContext();
  // From the last query to the master, so that the SELECT of an INSERT has
  // its columns before the INSERT is checked.
  std::vector<std::size_t> columns(FQueries.size(), 0);
  for (std::size_t q = FQueries.size(); q-- > 0;) {
    const TDataQuery& query = *FQueries[q];
    switch (query.Kind()) {
      case TQueryKind::Select:
        columns[q] = CheckSelect(context, FQueries, static_cast<int>(q));
        break;
      case TQueryKind::Insert:
      case TQueryKind::Update:
      case TQueryKind::Delete:
        CheckDataChange(context, query,
                        query.SourceQuery >= 0 ? columns[static_cast<std::size_t>(query.SourceQuery)]
                                               : 0);
        break;
      default:
        break;
    }
  }
  for (std::size_t q = 0; q < FQueries.size(); ++q) {
    const TDataQuery& query = *FQueries[q];
    if (query.Kind() != TQueryKind::Select || query.UnionMember) continue;
    for (int m = query.UnionNext; m >= 0; m = FQueries[static_cast<std::size_t>(m)]->UnionNext)
      if (columns[static_cast<std::size_t>(m)] != columns[q])
        RaiseEngineError(TARN_SQLPARSE,
                         {.Message = "The number of columns in UNIONed queries must match"});
  }
}

void TQueryStatement::Parse(std::string_view text) {
  FResolve = false;
  try {
    Prepare(text);
  } catch (...) {
    FResolve = true;
    throw;
  }
  FResolve = true;
}

void TQueryStatement::Prepare(std::string_view text) {
  FPrepared = false;
  FResult.reset();
  FInsertTarget.reset();
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
      rows = RunDataQuery(master);
      break;
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

std::int32_t TQueryStatement::RunDataQuery(TDataQuery& master) {
  TSqlRunContext context = MakeContext();
  // Parameters belong to the first statement of the text.
  const TSqlParameters none;
  context.Parameters = FFirstStatement ? &FParameterValues : &none;
  switch (master.Kind()) {
    case TQueryKind::Select: {
      FResult = RunSelect(context, FQueries, 0);
      return static_cast<std::int32_t>(FResult->RowsAffected());
    }
    case TQueryKind::Insert: {
      if (master.SourceQuery < 0)
        return ExecuteInsert(context, master, nullptr, FFirstStatement ? &FInsertTarget : nullptr);
      context.RequestLive = false;
      context.MaxRowCount = -1;
      const std::unique_ptr<TSelectResult> source = RunSelect(context, FQueries, master.SourceQuery);
      return ExecuteInsert(context, master, &source->Cursor());
    }
    case TQueryKind::Update:
      return ExecuteUpdate(context, master);
    case TQueryKind::Delete:
      return ExecuteDelete(context, master);
    default:
      return 0;
  }
}

void TQueryStatement::Execute() {
  if (!FPrepared || FQueries.empty())
    RaiseEngineError(TARN_SQLPARSE, {.Message = "The statement has not been prepared"});
  FRowsAffected = 0;
  FExecutionTime = 0;
  FResult.reset();
  FFirstStatement = true;
  FSortRunFiles = 0;
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
    FFirstStatement = false;
    FResult.reset();
    // The statements that follow may drop or change the table it holds.
    FInsertTarget.reset();
    ParseNext();
  }
}

}  // namespace tarn
