#pragma once
// Running the data-definition and transaction statements: one function per
// statement kind, each over the statement's database (directory).
//
// A table named with MEMORY lives in the session's in-memory directory
// ("Memory"), one named with a path in the directory of that path; either
// is opened for the call and given back on every exit path.
//
//   CREATE TABLE   definition (sql_table_definition.h), then the table is
//                  created; nothing with IF NOT EXISTS when it exists. A
//                  definition the new table fails to verify with is removed
//                  again and the failure raised.
//   ALTER TABLE    the actions applied to a copy of the table's definition,
//                  then the table restructured (NOBACKUP: no backup files)
//   DROP TABLE     the table's files deleted; nothing with IF EXISTS when
//                  the table does not exist
//   CREATE INDEX   on an exclusive cursor: a secondary index added, unless
//                  IF NOT EXISTS finds an index of that name
//   DROP INDEX     on an exclusive cursor: PRIMARY (any case) drops the
//                  primary key, another name that secondary index; nothing
//                  with IF EXISTS when there is none
//   START TRANSACTION, COMMIT [FLUSH], ROLLBACK on the directory; "already
//                  in progress" / "not in progress" name the database
// Failures are the engine's own codes, or 11949 (TARN_SQLPARSE) with the
// statement's message. Operations the engine does not offer yet raise 11949
// naming the statement.

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
