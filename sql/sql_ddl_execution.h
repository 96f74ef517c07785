#pragma once
// Running the data-definition and transaction statements: one function per
// statement kind, each over the statement's database (directory).
//
// A table named with MEMORY lives in the session's in-memory directory
// ("Memory"), one named with a path in the directory of that path; either
// is opened for the call and given back on every exit path.
//
//   CREATE TABLE   the definition (sql_table_definition.h) created by a
//                  cursor's CreateTable, which checks it first; nothing with
//                  IF NOT EXISTS when the table exists
//   ALTER TABLE    the actions applied to a copy of the table's definition,
//                  then the cursor's RestructureTable (NOBACKUP: no backup
//                  files)
//   DROP TABLE     the cursor's DeleteTable; nothing with IF EXISTS when the
//                  table does not exist
//   CREATE INDEX   on an exclusive cursor: AddIndex, unless IF NOT EXISTS
//                  finds a secondary index of that name
//   DROP INDEX     on an exclusive cursor: PRIMARY (any case) drops the
//                  primary key, another name that secondary index
//                  (DeleteIndex, descriptor removed); without such an index
//                  10022, or nothing with IF EXISTS
//   START TRANSACTION, COMMIT [FLUSH], ROLLBACK: the directory's
//                  StartTransaction, Commit (ending it, FLUSH forcing the
//                  flush) and Rollback; "already in progress" / "not in
//                  progress" name the database
// Failures are the engine's own codes, or 11949 (TARN_SQLPARSE) with the
// statement's message.

#include "sql/data_query.h"

namespace tarn {

class TDataDirectory;

void ExecuteCreateTable(TDataDirectory& directory, const TDataQuery& query);
void ExecuteAlterTable(TDataDirectory& directory, const TDataQuery& query);
void ExecuteDropTable(TDataDirectory& directory, const TDataQuery& query);
void ExecuteCreateIndex(TDataDirectory& directory, const TDataQuery& query);
void ExecuteDropIndex(TDataDirectory& directory, const TDataQuery& query);
void ExecuteStartTransaction(TDataDirectory& directory);
void ExecuteCommit(TDataDirectory& directory, const TDataQuery& query);
void ExecuteRollback(TDataDirectory& directory);

}  // namespace tarn
