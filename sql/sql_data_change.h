#pragma once
// Running INSERT, UPDATE and DELETE over the target table's cursor.
//
//   INSERT VALUES  one record: every named column (all columns in field
//                  order when none are named, or for "*") gets its value;
//                  NULL leaves the field blank, a blob column gets the
//                  value as its content, other values are converted to the
//                  column's type. Returns 1.
//   INSERT SELECT  one record per row of the select's result cursor,
//                  columns taken by position.
//   UPDATE         for every combination of the target with its FROM tables
//                  that passes WHERE and the joins (TSqlCombinations, the
//                  target driving), the target record is locked, gets its
//                  SET values (all evaluated on the combination as it was)
//                  and is modified; a record met through several joined
//                  rows in a row counts once.
//   DELETE         the target record of every such combination is deleted
//                  (once).
// The target is walked in record-number order, so a changed key never
// brings a record round a second time. NOAUTOINC keeps the auto-increment
// values given. Progress is reported per source row; a stop request ends
// the loop after the current row with the rows so far kept.
//
// Failures: 11949 with the statement messages ("The number of values must
// match the number of table columns", "Invalid column name ...", "Type
// mismatch between column <name> and constant value <text> in INSERT
// statement" / "... in UPDATE statement"); cursor failures keep their
// codes. A record whose change fails is unlocked before the failure is
// raised.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sql/query_printer.h"
#include "sql/sql_select.h"

namespace tarn {

// Returns the number of rows inserted, updated or deleted. source: the
// result cursor of INSERT's SELECT (nullptr for VALUES).
// keep (INSERT VALUES, may be null): the target's cursor kept from an
// earlier run of the same statement, reused when set and stored there
// otherwise, so that a prepared INSERT run many times opens its table once.
std::int32_t ExecuteInsert(const TSqlRunContext& context, const TDataQuery& query,
                           TDataCursor* source, std::unique_ptr<TSqlSources>* keep = nullptr);
// Checks an INSERT, UPDATE or DELETE as its statement is prepared: opens
// the target and FROM tables (two with one correlation name are refused),
// resolves the target columns, compares the number of values with them
// (selectColumns: the result columns of INSERT's SELECT) and binds and
// checks the value expressions, with the messages of a run.
void CheckDataChange(const TSqlRunContext& context, const TDataQuery& query,
                     std::size_t selectColumns);

std::int32_t ExecuteUpdate(const TSqlRunContext& context, const TDataQuery& query);
std::int32_t ExecuteDelete(const TSqlRunContext& context, const TDataQuery& query);

}  // namespace tarn
