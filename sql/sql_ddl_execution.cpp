#include "sql/sql_ddl_execution.h"

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/base/names.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "sql/sql_table_definition.h"

namespace tarn {

namespace {

[[noreturn]] void Fail(const std::string& message) {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

// The directory a statement's table lives in: the statement's own, the
// in-memory directory for MEMORY, or the directory of the table's path.
// Opened directories are given back when the scope ends.
class TTableDirectory {
 public:
  TTableDirectory(TDataDirectory& own, const TSourceTable& table) {
    if (table.InMemory) {
      FOpened = &own.Session().OpenDirectory(MemoryDirectoryName);
    } else if (!table.Path.empty()) {
      FOpened = &own.Session().OpenDirectory(table.Path, table.Path);
    }
    FDirectory = FOpened != nullptr ? FOpened : &own;
  }
  ~TTableDirectory() {
    if (FOpened != nullptr) FOpened->Session().CloseDirectory(*FOpened);
  }
  TTableDirectory(const TTableDirectory&) = delete;
  TTableDirectory& operator=(const TTableDirectory&) = delete;

  TDataDirectory& Get() const { return *FDirectory; }

 private:
  TDataDirectory* FOpened = nullptr;
  TDataDirectory* FDirectory = nullptr;
};

// A cursor on the statement's table, closed on every exit path.
class TStatementCursor {
 public:
  TStatementCursor(TDataDirectory& directory, const TSourceTable& table, bool exclusive)
      : FCursor(directory) {
    FCursor.SetTableName(table.Name);
    FCursor.SetInMemory(table.InMemory);
    FCursor.SetExclusive(exclusive);
  }
  ~TStatementCursor() {
    try {
      FCursor.CloseCursor(true);
    } catch (...) {
      // Reached on the way out of a failure (paths that succeed close the
      // cursor themselves, so that a failed write is raised): the first
      // failure is the one to report.
    }
  }
  TStatementCursor(const TStatementCursor&) = delete;
  TStatementCursor& operator=(const TStatementCursor&) = delete;

  TDataCursor& operator*() { return FCursor; }
  TDataCursor* operator->() { return &FCursor; }

 private:
  TDataCursor FCursor;
};

}  // namespace

void ExecuteCreateTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TDataDirectory& directory = scope.Get();
  TSqlTableDefinition definition = BuildCreateDefinition(query);
  if (query.IfNotExists && directory.TableExists(table.Name, table.InMemory)) return;
  definition.Definition.LastAutoInc = static_cast<std::int32_t>(definition.LastAutoInc);
  TStatementCursor cursor(directory, table, true);
  cursor->CreateTable(definition.Definition, false);
}

void ExecuteAlterTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TStatementCursor cursor(scope.Get(), table, true);
  TSqlTableDefinition definition;
  cursor->OpenCursor();
  definition = ReadTableDefinition(*cursor);
  cursor->CloseCursor();
  ApplyAlterTable(query, definition);
  definition.Definition.LastAutoInc = static_cast<std::int32_t>(definition.LastAutoInc);
  cursor->RestructureTable(definition.Definition, query.NoBackup);
}

void ExecuteDropTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TDataDirectory& directory = scope.Get();
  if (query.IfExists && !directory.TableExists(table.Name, table.InMemory)) return;
  TStatementCursor cursor(directory, table, false);
  cursor->DeleteTable();
}

void ExecuteCreateIndex(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TStatementCursor cursor(scope.Get(), table, true);
  cursor->OpenCursor();
  if (query.IfNotExists && cursor->Table().IndexFile().FindIndexName(query.Index.Name) > 0) return;
  const TSqlTableDefinition present = ReadTableDefinition(*cursor);
  cursor->AddIndex(MakeIndexDescriptor(query.Index, present.Definition.Fields, query.Index.Name));
  cursor->CloseCursor();
}

void ExecuteDropIndex(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TStatementCursor cursor(scope.Get(), table, true);
  cursor->OpenCursor();
  const TIndexFile& index = cursor->Table().IndexFile();
  const bool primary = SameName(query.IndexName, "PRIMARY");
  const bool exists = primary ? !index.NoPrimaryIndex() && index.Descriptor(0).FieldCount > 0
                              : index.FindIndexName(query.IndexName) > 0;
  if (!exists) {
    if (query.IfExists) return;
    RaiseEngineError(
        TARN_INVALIDINDEXNAME,
        {.Database = cursor->DatabaseName(), .Table = table.Name, .Index = query.IndexName});
  }
  cursor->DeleteIndex(primary ? std::string_view() : std::string_view(query.IndexName), true);
  cursor->CloseCursor();
}

void ExecuteStartTransaction(TDataDirectory& directory) {
  if (directory.InTransaction())
    Fail("Transaction already in progress for database '" + directory.Name() + "'");
  directory.StartTransaction();
}

void ExecuteCommit(TDataDirectory& directory, const TDataQuery& query) {
  if (!directory.InTransaction())
    Fail("Transaction not in progress for database '" + directory.Name() + "'");
  directory.Commit(true, query.CommitFlush);
}

void ExecuteRollback(TDataDirectory& directory) {
  if (!directory.InTransaction())
    Fail("Transaction not in progress for database '" + directory.Name() + "'");
  directory.Rollback();
}

}  // namespace tarn
