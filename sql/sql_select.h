#pragma once
// Running a SELECT query: live or copied results.
//
// A live result is the source table's own cursor with the WHERE condition
// as an active filter (and, for an ORDER BY that matches an index, that
// index selected): changes made through it go to the table. It is chosen
// when the statement asks for a live result and the query has one source
// table, no join, INTO, DISTINCT, GROUP BY, HAVING or aggregate, an ORDER BY
// that matches an index (or none), and is the statement's only query.
//
// Otherwise the rows are copied: the combinations of source records (WHERE
// conjuncts on one table attached to its cursor as filters, the rest and the
// JOIN conditions tested per combination, inner tables of equality joins
// reached through an index range) become rows, which are grouped (GROUP BY,
// or one group when every column is an aggregate), made distinct, ordered
// and cut by TOP in memory, then written to a result table: the INTO table,
// or a work table of the in-memory database removed again when the result
// goes away. The result cursor is read-only and stands before its first
// record.
//
// Ordering: rows sort by their values with NULL first, stable, so equal
// rows keep the order in which they were produced. DISTINCT sorts by all
// columns in order; GROUP BY by the group columns; an ORDER BY that names
// exactly those columns ascending adds no second sort.
//
// Failures: 11949 (TARN_SQLPARSE) with the statement's messages; cursor
// failures keep their codes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "expr/expression_evaluator.h"
#include "sql/query_printer.h"
#include "sql/sql_sources.h"

namespace tarn {

class TDataCursor;
class TDataDirectory;

// What a run of a query needs of its statement.
struct TSqlRunContext {
  TDataDirectory* Directory = nullptr;
  bool RequestLive = false;
  std::int32_t MaxRowCount = -1;  // -1: no limit
  const TSqlParameters* Parameters = nullptr;
  // The statement's queries (sub-selects are run from here).
  const TQueryList* Queries = nullptr;
  // Called with a whole percent; returns true to stop (rows so far are kept).
  std::function<bool(int percent)> Progress;
  // Given to every source cursor: asked when a table needs a password.
  TCursorEvent Password;
  std::uint16_t ProgressSteps = 20;
  // Result sorts larger than the record cache go through run files here:
  // runs of at most min(MaxDataBufferCount, 1,048,576 / record size) rows.
  std::string PrivateDirectory;
  std::int32_t MaxDataBufferCount = 8192;
  // Counts the run files the sorts used (may be null).
  std::size_t* SortRunFiles = nullptr;
  // Checking a statement while it is prepared: tables are opened and
  // columns resolved, but no sub-select runs (it reads as NULL) and no row
  // is produced.
  bool CheckOnly = false;
};

// The outcome of one SELECT: the cursor the caller reads, valid until the
// result is destroyed.
class TSelectResult {
 public:
  virtual ~TSelectResult() = default;
  virtual TDataCursor& Cursor() = 0;
  virtual bool Live() const = 0;
  // The query's RowsAffected: the result's record count, except at the head
  // of a UNION chain, where it is the sum of the counts every query of the
  // chain had before the merge.
  std::int64_t RowsAffected() { return FChainCount >= 0 ? FChainCount : Cursor().GetRecordCount(); }
  void SetChainCount(std::int64_t count) { FChainCount = count; }

 private:
  std::int64_t FChainCount = -1;
};

// Readies a copied tree for binding: parameter markers become their
// values, and each sub-select is run: as the operand of IN / NOT IN it
// becomes the list of its first column's values (an empty result makes the
// test FALSE, for NOT IN TRUE), elsewhere the constant of its first row's
// first column (NULL without rows). Sub-selects may not refer to the outer
// query's columns.
void PrepareTree(TExpToken& root, const TSqlRunContext& context);

// Runs SELECT query queryNo of queries (at the head of a UNION chain, the
// whole chain). The trees of the queries are left as parsed, so a statement
// may run again.
std::unique_ptr<TSelectResult> RunSelect(const TSqlRunContext& context, const TQueryList& queries,
                                         int queryNo);

// Checks SELECT query queryNo of queries as a statement is prepared: opens
// its tables (two with one correlation name are refused), resolves and
// binds its result columns, GROUP BY, ORDER BY and HAVING, and raises the
// messages a run would raise for them. Returns the number of result
// columns. Sub-selects are checked as queries of their own.
std::size_t CheckSelect(const TSqlRunContext& context, const TQueryList& queries, int queryNo);

// Reports progress in whole percent at most once per step and always ends
// with 100; remembers a request to stop.
class TSqlProgress {
 public:
  TSqlProgress(const TSqlRunContext& context, std::int64_t total)
      : FContext(context), FTotal(total) {}
  // After item ordinal (1-based); true when the caller asked to stop.
  bool Step(std::int64_t ordinal);
  void Finish();
  bool Stopped() const { return FStopped; }

 private:
  const TSqlRunContext& FContext;
  std::int64_t FTotal;
  int FLast = 0;
  bool FReported = false;
  bool FStopped = false;
};

// The combinations of source records of a query that pass its WHERE and
// JOIN conditions. Prepare attaches the WHERE conjuncts that read one table
// to that table's cursor as active filters, chooses the driving table
// (unless NOJOINOPTIMIZE, or keepFirst: the first table drives) and binds
// the remaining conditions. Run walks the driving table in its cursor's
// order and, for each of its records, the tables joined to it (through an
// index range where an equality with an earlier table meets an index that
// starts with the column); a LEFT OUTER join yields the combination with
// the inner table standing on no record when no record matches. emit is
// called with every source's record buffer filled and returns false to
// stop. Progress runs over the driving table's records. readOnly: emit
// changes no source, so records may be read in batches (the cursors then
// stand ahead of the records in the buffers).
class TSqlCombinations {
 public:
  TSqlCombinations(const TSqlRunContext& context, const TDataQuery& query, TSqlSources& sources,
                   bool keepFirst, bool readOnly);
  ~TSqlCombinations();
  TSqlCombinations(const TSqlCombinations&) = delete;
  TSqlCombinations& operator=(const TSqlCombinations&) = delete;

  void Prepare();
  void Run(const std::function<bool()>& emit);
  // One table whose conditions are all filters.
  bool FiltersOnly() const;
  // Whether a stop was asked through the progress callback.
  bool Stopped() const { return FProgress && FProgress->Stopped(); }

 private:
  void Level(int p);

  const TSqlRunContext& FContext;
  const TDataQuery& FQuery;
  TSqlSources& FSources;
  bool FKeepFirst;
  bool FReadOnly;
  std::vector<TExpTokenPtr> FOwnedConditions;  // copies of WHERE and the joins
  // Per iteration level: the table, its conditions, its index probe.
  struct TLevel {
    int Table = 0;
    bool LeftOuter = false;
    std::vector<std::pair<TExpToken*, std::unique_ptr<TExpEvaluator>>>
        Match;  // must pass for a match
    std::vector<std::pair<TExpToken*, std::unique_ptr<TExpEvaluator>>>
        After;                    // WHERE after a LEFT join
    int ProbeField = 0;           // this table's field for an index range, 0 none
    std::uint16_t ProbeFrom = 0;  // common number of the earlier table's field
    std::vector<std::uint8_t> ProbeKey;
    std::vector<std::uint8_t> Batch;
  };
  std::vector<TLevel> FLevels;
  const std::function<bool()>* FEmit = nullptr;
  bool FStop = false;
  std::unique_ptr<TSqlProgress> FProgress;
  std::int64_t FOrdinal = 0;
};

}  // namespace tarn
