#pragma once
// One parsed SQL query: TDataQuery and the parts it is made of.
//
// A statement text becomes one TDataQuery per SELECT, INSERT, UPDATE or
// DELETE (the master query, and one more for every sub-select, every select
// after UNION and the SELECT of an INSERT), or one TDataQuery that describes
// a data-definition or transaction request. The parser (sql_parser.h) fills
// it; the printer (query_printer.h) writes it back in one canonical form; the
// execution reads it. Queries of one statement refer to each other by their
// number in the statement's list (TQueryStatement::Query): 0 is the master.
//
// What each kind fills in:
//   Select       Distinct, Columns, Into*, Sources and Joins, Where, GroupBy,
//                Having, OrderBy / NoCase, Top, WithLocks, Language / Sort,
//                Password, NoJoinOptimize, UnionNext / UnionAll / ChainTop,
//                Parentheses
//   Insert       Target (Sources[0]), UpdateFields (columns, may be empty),
//                UpdateValues (VALUES) or SourceQuery (SELECT), NoAutoInc,
//                CommitInterval / CommitFlush
//   Update       Target (Sources[0]) and further FROM Sources with Joins,
//                UpdateFields with UpdateValues, Where, NoAutoInc, Commit...,
//                NoJoinOptimize
//   Delete       Sources with Joins (the first is the target), Where,
//                Commit..., NoJoinOptimize
//   CreateTable  Sources[0], IfNotExists, CreateFields, PrimaryKey, Table
//   AlterTable   Sources[0], AlterActions, Table, NoBackup
//   DropTable    Sources[0], IfExists
//   CreateIndex  Sources[0], IfNotExists, Index
//   DropIndex    Sources[0], IfExists, IndexName
//   StartTransaction, Rollback: nothing; Commit: CommitFlush

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/index/index_descriptor.h"
#include "engine/table/field_types.h"
#include "expr/exp_token.h"

namespace tarn {

enum class TQueryKind : std::uint8_t {
  None = 0,
  Select = 1,
  Insert = 2,
  Update = 3,
  Delete = 4,
  CreateTable = 5,
  AlterTable = 6,
  DropTable = 7,
  CreateIndex = 8,
  DropIndex = 9,
  StartTransaction = 10,
  Rollback = 11,
  Commit = 12,
};

// The statement name used in messages ("SELECT", "CREATE TABLE", ...).
const char* QueryKindName(TQueryKind kind);

// A table named in a statement: [MEMORY] [path "\"] name [[AS] correlation].
struct TSourceTable {
  std::string Path;  // empty: the statement's database
  std::string Name;
  std::string Correlation;  // empty when none was given
  bool InMemory = false;
  int Position = 0;  // 0-based position among the query's tables
  // The correlation name when given, otherwise the table name.
  const std::string& ReferenceName() const { return Correlation.empty() ? Name : Correlation; }
};

enum class TJoinKind : std::uint8_t { Inner = 0, LeftOuter = 1, RightOuter = 2 };

// One JOIN: the table at Outer (the one before it in its FROM entry) joined
// with the table at Inner on Condition.
struct TTableJoin {
  TJoinKind Kind = TJoinKind::Inner;
  int Outer = 0;
  int Inner = 0;
  TExpTokenPtr Condition;
};

// One item of a SELECT column list.
struct TResultField {
  TExpTokenPtr Expression;  // "*" and t.* are Column nodes named "*"
  std::string Alias;        // empty when none was given
};

// A column named by INSERT or UPDATE: [correlation "."] name, or "*".
struct TUpdateField {
  std::string Correlation;
  std::string Name;
};

// A value of INSERT ... VALUES or of UPDATE ... SET.
struct TUpdateValue {
  TExpTokenPtr Expression;
};

// A GROUP BY item: a column name (optionally qualified) or a column number.
struct TGroupByField {
  std::string Correlation;
  std::string Name;  // empty for a column number
  int ColumnNo = 0;  // 1-based; 0 for a name
};

// An ORDER BY item: as a GROUP BY item, with its direction.
struct TOrderByField {
  std::string Correlation;
  std::string Name;
  int ColumnNo = 0;
  bool Descending = false;
};

// A column definition of CREATE TABLE or ALTER TABLE. Attributes that were
// not written stay unset (REDEFINE replaces only those given).
struct TCreateField {
  std::string Name;
  bool HasType = false;  // REDEFINE may keep the old type
  std::uint8_t Type = 0;
  std::uint8_t SubType = 0;
  std::uint8_t Size = 0;   // declared length of string and bytes columns
  std::uint8_t Scale = 0;  // BCD
  std::optional<std::string> Description;
  std::optional<bool> NotNull;
  std::optional<std::string> Default;
  std::optional<std::string> Minimum;
  std::optional<std::string> Maximum;
  std::optional<TCharCase> CharCase;
  int At = 0;  // ALTER: 1-based position asked for with AT; 0 none
};

// An index definition: CREATE INDEX, or a PRIMARY KEY constraint.
struct TCreateIndex {
  std::string Name;  // the index name; the CONSTRAINT name of a primary key
  bool Primary = false;
  bool Unique = false;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::optional<TKeyCompression> Compression;
  std::vector<std::string> Columns;
};

// Table options of CREATE TABLE and ALTER TABLE.
struct TTableOptions {
  std::optional<std::vector<std::string>> TextIndex;
  std::optional<std::string> StopWords;
  std::optional<std::string> SpaceChars;
  std::optional<std::string> IncludeChars;
  std::optional<std::string> Description;
  std::optional<std::int32_t> BlobBlockSize;
  std::optional<std::string> Language;  // as written; ids below
  std::optional<std::string> Sort;
  std::int16_t LanguageId = 0;
  std::int16_t SortId = 0;
  std::optional<std::string> Password;  // ENCRYPTED WITH; "" means not encrypted
  std::optional<std::int32_t> UserMajorVersion;
  std::optional<std::int32_t> UserMinorVersion;
  std::optional<std::int64_t> LastAutoInc;
};

enum class TAlterKind : std::uint8_t {
  AddColumn,
  RedefineColumn,
  DropColumn,
  AddPrimaryKey,
  RedefinePrimaryKey,
  DropPrimaryKey,
};

// One action of ALTER TABLE.
struct TAlterAction {
  TAlterKind Kind = TAlterKind::AddColumn;
  std::string ColumnName;      // REDEFINE and DROP of a column: the column named
  TCreateField Field;          // ADD and REDEFINE of a column
  TCreateIndex Index;          // ADD and REDEFINE of a primary key
  std::string ConstraintName;  // DROP [CONSTRAINT name] PRIMARY KEY
};

class TDataQuery {
 public:
  explicit TDataQuery(TQueryKind kind) : FKind(kind) {}
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  TQueryKind Kind() const { return FKind; }
  const char* KindName() const { return QueryKindName(FKind); }

  // ---- tables ----
  std::vector<TSourceTable> Sources;
  std::vector<TTableJoin> Joins;

  // ---- SELECT ----
  bool All = false;
  bool Distinct = false;
  std::vector<TResultField> Columns;
  bool Into = false;  // INTO was given
  bool IntoMemory = false;
  std::string IntoPath;
  std::string IntoName;  // empty with INTO MEMORY alone
  TExpTokenPtr Where;
  std::vector<TGroupByField> GroupBy;
  TExpTokenPtr Having;
  std::vector<TOrderByField> OrderBy;  // at the head of a UNION chain: for the whole result
  bool NoCase = false;
  std::optional<std::int32_t> Top;
  // At the head of a UNION chain: the TOP after the chain's ORDER BY (or
  // after the last member's own TOP), for the whole result.
  std::optional<std::int32_t> ChainTop;
  bool WithLocks = false;
  std::optional<std::string> Language;
  std::optional<std::string> Sort;
  std::int16_t LanguageId = 0;
  std::int16_t SortId = 0;
  std::optional<std::string> Password;  // ENCRYPTED WITH; "" means not encrypted
  bool NoJoinOptimize = false;
  int Parentheses = 0;    // "(" written before SELECT
  int UnionNext = -1;     // the next select of the UNION chain, -1 none
  bool UnionAll = false;  // the UNION before UnionNext is UNION ALL
  bool UnionMember = false;
  bool SubSelect = false;  // a sub-select of an expression or of an INSERT

  // ---- INSERT, UPDATE, DELETE ----
  std::vector<TUpdateField> UpdateFields;
  std::vector<TUpdateValue> UpdateValues;
  int SourceQuery = -1;  // INSERT ... SELECT
  bool NoAutoInc = false;
  std::optional<std::int32_t> CommitInterval;
  bool CommitFlush = false;  // also COMMIT [WORK] FLUSH

  // ---- data definition ----
  bool IfExists = false;
  bool IfNotExists = false;
  std::vector<TCreateField> CreateFields;
  std::optional<TCreateIndex> PrimaryKey;
  TCreateIndex Index;     // CREATE INDEX
  std::string IndexName;  // DROP INDEX
  std::vector<TAlterAction> AlterActions;
  TTableOptions Table;
  bool NoBackup = false;

  // ---- results ----
  std::int32_t RowsAffected = 0;
  double ExecutionTime = 0;  // seconds

 private:
  TQueryKind FKind;
};

}  // namespace tarn
