#pragma once
// The source tables of one query, opened, and seen by expressions as one
// record: TSqlSources.
//
// Every table of the query's FROM list gets a cursor of its own (in the
// in-memory database for MEMORY, in the directory of its path when it has
// one) and a record buffer that iteration fills. Expressions bound through
// the sources see the fields of all tables in one numbering: field f of
// table t is number Base(t) + f. Unqualified names resolve to the first
// table that has such a field; a qualified name (correlation.field) is
// rewritten by PrepareColumns into a private form the resolver maps back.
// A table may be marked as standing on no record (the missing side of a
// LEFT OUTER join): all its fields then read as blank.
//
// Threads: one thread at a time (the statement's).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "expr/exp_record_source.h"
#include "expr/exp_token.h"
#include "expr/exp_value.h"
#include "sql/data_query.h"

namespace tarn {

class TDataDirectory;

class TSqlSources final : public TExpRecordSource {
 public:
  // Opens a cursor on every table (readOnly: no changes through them).
  // Raises 11949 for two tables with one correlation name; open failures
  // keep their codes. Cursors opened before a failure are closed again.
  // password: the callback every cursor asks when a table needs a password
  // the session's list lacks (none when its Callback is null).
  TSqlSources(TDataDirectory& directory, const std::vector<TSourceTable>& tables, bool readOnly,
              const TCursorEvent& password = {});
  ~TSqlSources() override;
  TSqlSources(const TSqlSources&) = delete;
  TSqlSources& operator=(const TSqlSources&) = delete;

  int Count() const { return static_cast<int>(FTables.size()); }
  TDataCursor& Cursor(int t) { return *FTables[static_cast<std::size_t>(t)].Cursor; }
  std::vector<std::uint8_t>& Buffer(int t) { return FTables[static_cast<std::size_t>(t)].Record; }
  // The directory table t was opened in.
  TDataDirectory& Directory(int t) const {
    const TTable& table = FTables[static_cast<std::size_t>(t)];
    return table.OwnDirectory != nullptr ? *table.OwnDirectory : FDirectory;
  }
  const TSourceTable& Table(int t) const { return FTables[static_cast<std::size_t>(t)].Source; }
  void SetNoRecord(int t, bool value) { FTables[static_cast<std::size_t>(t)].NoRecord = value; }
  // Gives a cursor away (a live result keeps the cursor after the sources end).
  std::unique_ptr<TDataCursor> ReleaseCursor(int t);

  int Base(int t) const { return FTables[static_cast<std::size_t>(t)].Base; }
  // The table of a field number in the common numbering.
  int TableOf(std::uint16_t fieldNo) const;
  // The table whose correlation name (or name) is name; -1 when none.
  int FindTable(std::string_view name) const;

  // Checks and rewrites the column references of a tree before binding:
  // "*" stays for the caller; a correlation the FROM list does not define,
  // or a field that table lacks, raises 11949 (whereClause: the WHERE
  // message, otherwise "Invalid column name ... specified in " + source).
  void PrepareColumns(TExpToken& root, bool whereClause, const std::string& source) const;
  // PrepareColumns and binding with messages naming source.
  void Bind(TExpToken& root, bool whereClause, const std::string& source) const;
  // Bit t set for every table a bound tree reads (tables beyond 63 share
  // bit 63).
  std::uint64_t TablesOf(const TExpToken& root) const;
  // A copy of a bound tree that reads only table t, numbered as that
  // table's cursor numbers its fields (for AddFilter).
  TExpTokenPtr LocalCopy(const TExpToken& root, int t) const;

  // ---- TExpRecordSource ----
  std::optional<TExpColumn> FindColumn(std::string_view name) const override;
  std::uint16_t LanguageId() const override;
  std::uint16_t SortId() const override;
  TFieldRead ReadField(std::uint16_t fieldNo) override;
  bool ReadBlob(std::uint16_t fieldNo, std::string& content) override;
  // A table of the sources or one open in the database; 11949 "Illegal use
  // of LASTAUTOINC() or IDENT_CURRENT() functions" for any other.
  std::optional<std::int32_t> LastAutoInc(std::string_view tableName) override;

 private:
  struct TTable {
    TSourceTable Source;
    TDataDirectory* OwnDirectory = nullptr;  // opened for MEMORY or a path; closed at the end
    std::unique_ptr<TDataCursor> Cursor;
    std::vector<std::uint8_t> Record;
    int Base = 0;
    bool NoRecord = false;
  };
  TExpColumn ColumnOf(int t, int fieldNo) const;
  void CloseAll() noexcept;

  TDataDirectory& FDirectory;
  std::vector<TTable> FTables;
};

// Parameter values of a statement, by 1-based position.
using TSqlParameters = std::vector<TExpValue>;

// Turns every parameter marker of a tree into a constant holding its value
// (a marker without a value becomes NULL); again on a later run.
void SubstituteParameters(TExpToken& root, const TSqlParameters& values);

// Splits a condition at its top-level ANDs (the conjuncts, left to right).
void SplitConjuncts(TExpToken& root, std::vector<TExpToken*>& out);

}  // namespace tarn
