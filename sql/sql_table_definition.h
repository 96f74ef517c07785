#pragma once
// From parsed data-definition statements to the engine's table definitions.
//
// CREATE TABLE becomes a TTableDefinition (fields, primary index, full-text
// index and parameters, table options); CREATE INDEX a TIndexDescriptor;
// ALTER TABLE applies its actions, in order, to a copy of a table's present
// definition. Index and text-index columns must name columns of the
// definition; the names compare without regard to case. Failures are engine
// error 11949 (TARN_SQLPARSE) with the statement message; what the
// definition itself breaks (names, sizes, key lengths, passwords) is left to
// the maintenance operations' own checks.
//
// Field numbers: a table's fields keep their numbers through ALTER TABLE
// (a restructure maps old fields to new ones by number); a new field gets
// the next number above all others, and the index descriptors name fields
// by those numbers. A CREATE TABLE definition numbers its fields 1..n.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/session/data_table.h"
#include "engine/table/field_desc.h"
#include "sql/data_query.h"

namespace tarn {

class TDataCursor;

// A table definition together with what TTableDefinition does not carry.
struct TSqlTableDefinition {
  TTableDefinition Definition;
  // LAST AUTOINC; -1 keeps the table's present value.
  std::int64_t LastAutoInc = -1;
  // The definition has full-text parameters only because STOP WORDS, SPACE
  // CHARS or INCLUDE CHARS were given (the table's own apply otherwise).
  bool StopWordsGiven = false;
  // The full-text parameters a table holds (ReadTableDefinition): where
  // ALTER TABLE changes some of them, the others stay as they are.
  std::optional<TTextIndexParams> TableTextParams;
};

// One column definition as a field definition numbered fieldNo (offsets are
// assigned when the whole definition is complete).
TFieldDesc MakeColumnField(const TCreateField& column, std::uint16_t fieldNo);

// An index definition over fields; indexName names the index in messages.
// Raises 11949 "Invalid field name '<column>' specified for index '<name>'".
TIndexDescriptor MakeIndexDescriptor(const TCreateIndex& index,
                                     const std::vector<TFieldDesc>& fields,
                                     const std::string& indexName);

// The definition of CREATE TABLE, with offsets assigned.
TSqlTableDefinition BuildCreateDefinition(const TDataQuery& create);

// The present definition of the table open on cursor (fields, indexes,
// full-text index and parameters, table information). Definition.TextParams
// stays unset (a restructure then keeps the table's parameters).
TSqlTableDefinition ReadTableDefinition(TDataCursor& cursor);

// Applies the actions and table options of ALTER TABLE to definition (a
// copy of the table's present one) and assigns offsets. Raises 11949:
// "Column <name> not found", "Cannot REDEFINE the primary key using the ADD
// keyword", and the index column messages.
void ApplyAlterTable(const TDataQuery& alter, TSqlTableDefinition& definition);

}  // namespace tarn
