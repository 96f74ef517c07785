#pragma once
// The SQL statement parser: turns the next statement of a text into the
// queries of a statement (data_query.h).
//
// The statement text is scanned by the expression parser (expression_parser.h)
// with the SQL-only constructs switched on: this class installs itself as its
// TExpSqlHooks, parses the statement grammar on top of the shared tokens and
// hands every expression (WHERE, HAVING, JOIN conditions, columns, values)
// to ParseExpression. Keywords are identifiers compared without regard to
// case. Every statement failure raises engine error 11949 (TARN_SQLPARSE)
// with the message as its argument; messages ending in "instead found '"
// are completed with the offending token's text and a closing "'".
// Failures inside expressions are the expression parser's own, naming the
// source "SQL statement".
//
// Statement grammar (keywords in capitals, [] optional, {} repeated):
//   select   {"("} SELECT [ALL] [DISTINCT] item {"," item} [INTO [MEMORY] [table]]
//            FROM from {"," from} [WHERE cond] [GROUP BY ref {"," ref}] [HAVING cond]
//            [ORDER BY ref [ASC|DESC] {"," ...} [NOCASE]] [TOP n] [WITH LOCKS]
//            [LANGUAGE 'l' [SORT 's']] [ENCRYPTED WITH 'p'] [NOJOINOPTIMIZE] {")"}
//            {UNION [ALL] select} [ORDER BY ... (whole chain)] [TOP n]
//   from     {"("} table {[INNER|LEFT [OUTER]|RIGHT [OUTER]] JOIN table ON cond {")"}}
//   table    [MEMORY] name ["\" name] [[AS] correlation]
//   insert   INSERT INTO table [correlation] ["(" column {"," column} ")"]
//            (VALUES "(" value {"," value} ")" | select | "(" select ")")
//            [NOAUTOINC] [COMMIT (INTERVAL n [FLUSH] | FLUSH)]
//   update   UPDATE table [[AS] correlation] SET column = value {"," ...}
//            [FROM from {"," from}] [WHERE cond] [NOAUTOINC] [COMMIT ...] [NOJOINOPTIMIZE]
//   delete   DELETE FROM from {"," from} [WHERE cond] [COMMIT ...] [NOJOINOPTIMIZE]
//   and the data-definition and transaction statements of query_statement.h.
// After a statement a ";" is skipped; otherwise the text must end there.
//
// Threads: one parser per statement, used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expr/expression_parser.h"
#include "sql/data_query.h"

namespace tarn {

class TSqlParser final : public TExpSqlHooks {
 public:
  // queries receives the new queries (the master first); parameters the
  // "?" markers in text order. Both belong to the caller and must outlive
  // the parse. Installs the hooks on scanner for its own lifetime.
  TSqlParser(TExpressionParser& scanner, std::vector<std::unique_ptr<TDataQuery>>& queries,
             std::vector<TExpToken*>& parameters);
  ~TSqlParser() override;
  TSqlParser(const TSqlParser&) = delete;
  TSqlParser& operator=(const TSqlParser&) = delete;

  // Parses one statement from the scanner's current token into a new master
  // query (queries must be empty) and checks the end of the statement.
  // Throws TARN_SQLPARSE; queries then holds whatever was made so far.
  void ParseStatement();

  // TExpSqlHooks.
  std::int32_t ParseSubSelect(TExpressionParser& parser) override;
  std::int32_t ParameterFound(TExpToken& parameter) override;

 private:
  // Scanner shorthands.
  bool Kw(const char* word) const { return FScan.IsKeyword(word); }
  bool Ch(char c) const { return FScan.IsChar(c); }
  void Next() { FScan.NextToken(); }
  int TokenKind() const { return FScan.TokenKind(); }
  std::string Token() const { return FScan.TokenText(); }
  // A name: an identifier that is no clause keyword, a [quoted name] or,
  // with strings, a quoted string.
  bool AtName(bool strings) const;
  bool AtReserved() const;
  [[noreturn]] void Fail(const std::string& message) const;
  [[noreturn]] void FailFound(const std::string& message) const;
  void Expect(const char* word, const std::string& message);

  int NewQuery(TQueryKind kind);
  TDataQuery& Query(int n) { return *FQueries[static_cast<std::size_t>(n)]; }
  TExpTokenPtr Expression(int flags);

  // SELECT.
  // A SELECT and the selects UNIONed to it; openParentheses: "(" before
  // the SELECT already read by the caller. Returns the head's number.
  int ParseSelectChain(bool subSelect, int openParentheses = 0);
  void ParseSelectCore(int queryNo, bool master, bool unionMember);
  void ParseColumns(TDataQuery& q);
  void ParseFromList(TDataQuery& q, const std::string& tableMessage, bool closeAllowed);
  void ParseSource(TDataQuery& q, const std::string& tableMessage);
  void ParseTableName(TSourceTable& table, const std::string& message,
                      const std::string& pathMessage);
  void ParseCorrelation(TSourceTable& table, bool allowAs);
  void ParseGroupBy(TDataQuery& q);
  void ParseOrderBy(TDataQuery& q);
  void ParseColumnRef(std::string& correlation, std::string& name, int& columnNo,
                      const std::string& message);
  void ParseTop(TDataQuery& q);
  void ParseLanguage(std::optional<std::string>& language, std::optional<std::string>& sort,
                     std::int16_t& languageId, std::int16_t& sortId);
  void ParseEncrypted(std::optional<std::string>& password);
  void ParseSelectOptions(TDataQuery& q);
  std::int32_t ParseInteger(const std::string& message, bool allowSign = false);
  std::string ParseString(const std::string& afterKeyword);

  // INSERT, UPDATE, DELETE.
  void ParseInsert(TDataQuery& q);
  void ParseUpdate(TDataQuery& q);
  void ParseDelete(TDataQuery& q);
  void ParseUpdateColumn(TUpdateField& field, bool allowAll);
  void ParseCommitOption(TDataQuery& q);

  // Data definition and transactions.
  void ParseCreateTable(TDataQuery& q);
  void ParseCreateIndex(TDataQuery& q);
  void ParseAlterTable(TDataQuery& q);
  void ParseDropTable(TDataQuery& q);
  void ParseDropIndex(TDataQuery& q);
  void ParseColumnDefinition(TCreateField& field, bool typeRequired);
  void ParseColumnAttributes(TCreateField& field);
  std::string ParseValueText(const char* keyword);
  bool AtConstraint() const;
  bool AtTableOption() const;
  bool AtColumnAttribute() const;
  void ParseIndexFlags(TCreateIndex& index);
  void ParsePrimaryKey(TCreateIndex& index);
  void ParseIndexColumns(TCreateIndex& index);
  void ParseCompression(TCreateIndex& index);
  void ParseTableOptions(TTableOptions& options);

  TExpressionParser& FScan;
  std::vector<std::unique_ptr<TDataQuery>>& FQueries;
  std::vector<TExpToken*>& FParameters;
};

// Flags the statement parser passes to ParseExpression.
namespace SqlExprFlags {
inline constexpr int Condition =
    ExpParseFlags::Extended | ExpParseFlags::Parameters | ExpParseFlags::SubSelects;
inline constexpr int Column = Condition | ExpParseFlags::Aggregates | ExpParseFlags::AllColumns;
inline constexpr int Having = Condition | ExpParseFlags::Aggregates;
}  // namespace SqlExprFlags

}  // namespace tarn
