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

[[noreturn]] void NotAvailable(TQueryKind kind) {
  Fail(std::string(QueryKindName(kind)) + " statements cannot be executed yet");
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
      // The cursor is closed; a failure to write back has been reported to
      // whoever closed it explicitly before.
    }
  }
  TStatementCursor(const TStatementCursor&) = delete;
  TStatementCursor& operator=(const TStatementCursor&) = delete;

  TDataCursor& operator*() { return FCursor; }
  TDataCursor* operator->() { return &FCursor; }

 private:
  TDataCursor FCursor;
};

// The password of a new encrypted table, known to the session for as long
// as the statement needs it, and forgotten again unless it was known before.
class TPasswordScope {
 public:
  TPasswordScope(TDataSession& session, const TTableDefinition& definition) : FSession(session) {
    if (definition.Encrypted && !definition.Password.empty() &&
        !session.HasPassword(definition.Password)) {
      session.AddPassword(definition.Password);
      FAdded = definition.Password;
    }
  }
  ~TPasswordScope() {
    if (!FAdded.empty()) FSession.RemovePassword(FAdded);
  }
  TPasswordScope(const TPasswordScope&) = delete;
  TPasswordScope& operator=(const TPasswordScope&) = delete;

 private:
  TDataSession& FSession;
  std::string FAdded;
};

}  // namespace

void ExecuteCreateTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TDataDirectory& directory = scope.Get();
  const TSqlTableDefinition definition = BuildCreateDefinition(query);
  if (definition.LastAutoInc < -1)
    RaiseEngineError(TARN_FLDLIMIT, {.Database = directory.Name(), .Table = table.Name});
  if (directory.TableExists(table.Name, table.InMemory)) {
    if (query.IfNotExists) return;
    RaiseEngineError(TARN_TABLEEXISTS, {.Database = directory.Name(), .Table = table.Name});
  }
  {
    TDataTable& created =
        directory.CreateTable(table.Name, table.InMemory, false, definition.Definition);
    try {
      if (definition.LastAutoInc >= 0)
        created.DataFile().SetLastAutoInc(static_cast<std::int32_t>(definition.LastAutoInc));
    } catch (...) {
      directory.ReleaseTable(created, true);
      directory.DeleteTable(table.Name, table.InMemory);
      throw;
    }
    directory.ReleaseTable(created, false);
  }
  // The first open verifies the new table; a definition it refuses leaves
  // no table behind.
  TPasswordScope password(directory.Session(), definition.Definition);
  try {
    TStatementCursor check(directory, table, false);
    check->OpenCursor();
    check->CloseCursor();
  } catch (...) {
    try {
      directory.DeleteTable(table.Name, table.InMemory);
    } catch (...) {
      // The verification failure is the one to report.
    }
    throw;
  }
}

void ExecuteAlterTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TSqlTableDefinition definition;
  {
    TStatementCursor cursor(scope.Get(), table, true);
    cursor->OpenCursor();
    definition = ReadTableDefinition(*cursor);
  }
  ApplyAlterTable(query, definition);
  NotAvailable(query.Kind());
}

void ExecuteDropTable(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TDataDirectory& directory = scope.Get();
  if (!directory.TableExists(table.Name, table.InMemory)) {
    if (query.IfExists) return;
    RaiseEngineError(TARN_OSENOENT, {.Database = directory.Name(), .Table = table.Name});
  }
  {
    // An encrypted table needs its password known before it may go.
    TStatementCursor check(directory, table, false);
    check->OpenCursor();
    check->CloseCursor();
  }
  directory.DeleteTable(table.Name, table.InMemory);
}

void ExecuteCreateIndex(TDataDirectory& own, const TDataQuery& query) {
  const TSourceTable& table = query.Sources.at(0);
  TTableDirectory scope(own, table);
  TStatementCursor cursor(scope.Get(), table, true);
  cursor->OpenCursor();
  const TSqlTableDefinition present = ReadTableDefinition(*cursor);
  if (query.IfNotExists && cursor->Table().IndexFile().FindIndexName(query.Index.Name) > 0) return;
  const TIndexDescriptor index =
      MakeIndexDescriptor(query.Index, present.Definition.Fields, query.Index.Name);
  (void)index;
  NotAvailable(query.Kind());
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
  if (!exists && query.IfExists) return;
  NotAvailable(query.Kind());
}

void ExecuteStartTransaction(TDataDirectory& directory) {
  if (directory.InTransaction())
    Fail("Transaction already in progress for database '" + directory.Name() + "'");
  NotAvailable(TQueryKind::StartTransaction);
}

void ExecuteCommit(TDataDirectory& directory, const TDataQuery&) {
  if (!directory.InTransaction())
    Fail("Transaction not in progress for database '" + directory.Name() + "'");
  NotAvailable(TQueryKind::Commit);
}

void ExecuteRollback(TDataDirectory& directory) {
  if (!directory.InTransaction())
    Fail("Transaction not in progress for database '" + directory.Name() + "'");
  NotAvailable(TQueryKind::Rollback);
}

}  // namespace tarn
