// TSqlParser: statement recognition, SELECT, INSERT, UPDATE and DELETE.
// Every routine starts on its first token and leaves the token after what it
// parsed current.

#include "sql/sql_parser.h"

#include <limits>

#include "engine/base/error_context.h"
#include "engine/base/literal_text.h"
#include "engine/base/names.h"
#include "engine/index/language_drivers.h"

namespace tarn {

namespace {

// Words that end a clause: never taken as a table, correlation or column
// alias name when written without brackets.
constexpr const char* ReservedWords[] = {
    "ALL",   "AND",        "AS",        "ASC",       "ASCENDING",      "BY",   "COMMIT",
    "DESC",  "DESCENDING", "DISTINCT",  "ENCRYPTED", "FLUSH",          "FROM", "FULL",
    "GROUP", "HAVING",     "INNER",     "INTERVAL",  "INTO",           "JOIN", "LANGUAGE",
    "LEFT",  "LOCKS",      "NOAUTOINC", "NOCASE",    "NOJOINOPTIMIZE", "NOT",  "ON",
    "OR",    "ORDER",      "OUTER",     "RIGHT",     "SELECT",         "SET",  "SORT",
    "TOP",   "UNION",      "VALUES",    "WHERE",     "WITH",
};

}  // namespace

TSqlParser::TSqlParser(TExpressionParser& scanner,
                       std::vector<std::unique_ptr<TDataQuery>>& queries,
                       std::vector<TExpToken*>& parameters)
    : FScan(scanner), FQueries(queries), FParameters(parameters) {
  FScan.SetSqlHooks(this);
}

TSqlParser::~TSqlParser() { FScan.SetSqlHooks(nullptr); }

bool TSqlParser::AtReserved() const {
  for (const char* word : ReservedWords)
    if (Kw(word)) return true;
  return false;
}

bool TSqlParser::AtName(bool strings) const {
  switch (TokenKind()) {
    case ExpScan::Identifier:
      return !AtReserved();
    case ExpScan::QuotedName:
      return true;
    case ExpScan::String:
      return strings;
    default:
      return false;
  }
}

void TSqlParser::Fail(const std::string& message) const {
  RaiseEngineError(TARN_SQLPARSE, {.Message = message});
}

void TSqlParser::FailFound(const std::string& message) const { Fail(message + Token() + "'"); }

void TSqlParser::Expect(const char* word, const std::string& message) {
  if (!Kw(word)) FailFound(message);
  Next();
}

int TSqlParser::NewQuery(TQueryKind kind) {
  FQueries.push_back(std::make_unique<TDataQuery>(kind));
  return static_cast<int>(FQueries.size()) - 1;
}

TExpTokenPtr TSqlParser::Expression(int flags) { return FScan.ParseExpression(flags); }

std::int32_t TSqlParser::ParameterFound(TExpToken& parameter) {
  FParameters.push_back(&parameter);
  return static_cast<std::int32_t>(FParameters.size());
}

std::int32_t TSqlParser::ParseSubSelect(TExpressionParser&) { return ParseSelectChain(true); }

std::int32_t TSqlParser::ParseInteger(const std::string& message, bool allowSign) {
  bool negative = false;
  if (allowSign && (Ch('-') || Ch('+'))) {
    negative = Ch('-');
    Next();
  }
  if (TokenKind() != ExpScan::Integer) FailFound(message);
  const std::optional<std::int64_t> value =
      ParseIntegerText(Token(), 0, std::numeric_limits<std::int32_t>::max());
  if (!value) FailFound(message);
  Next();
  return static_cast<std::int32_t>(negative ? -*value : *value);
}

std::string TSqlParser::ParseString(const std::string& afterKeyword) {
  if (TokenKind() != ExpScan::String)
    FailFound("String constant expected after " + afterKeyword + " keyword, instead found '");
  std::string text = Token();
  Next();
  return text;
}

// ---- statements ----

void TSqlParser::ParseStatement() {
  TQueryKind kind = TQueryKind::None;
  if (Kw("SELECT") || Ch('(')) {
    ParseSelectChain(false);
    kind = TQueryKind::Select;
  } else if (Kw("INSERT")) {
    kind = TQueryKind::Insert;
    ParseInsert(Query(NewQuery(kind)));
  } else if (Kw("UPDATE")) {
    kind = TQueryKind::Update;
    ParseUpdate(Query(NewQuery(kind)));
  } else if (Kw("DELETE")) {
    kind = TQueryKind::Delete;
    ParseDelete(Query(NewQuery(kind)));
  } else if (Kw("CREATE")) {
    Next();
    if (Kw("TABLE")) {
      kind = TQueryKind::CreateTable;
      ParseCreateTable(Query(NewQuery(kind)));
    } else if (Kw("INDEX") || Kw("UNIQUE") || Kw("ASC") || Kw("ASCENDING") || Kw("DESC") ||
               Kw("DESCENDING") || Kw("NOCASE")) {
      kind = TQueryKind::CreateIndex;
      ParseCreateIndex(Query(NewQuery(kind)));
    } else {
      FailFound(
          "TABLE, INDEX, UNIQUE, ASC, ASCENDING, DESC, DESCENDING, or NOCASE keyword expected, "
          "instead found '");
    }
  } else if (Kw("ALTER")) {
    Next();
    Expect("TABLE", "TABLE keyword expected, instead found '");
    kind = TQueryKind::AlterTable;
    ParseAlterTable(Query(NewQuery(kind)));
  } else if (Kw("DROP")) {
    Next();
    if (Kw("TABLE")) {
      kind = TQueryKind::DropTable;
      ParseDropTable(Query(NewQuery(kind)));
    } else if (Kw("INDEX")) {
      kind = TQueryKind::DropIndex;
      ParseDropIndex(Query(NewQuery(kind)));
    } else {
      FailFound("TABLE or INDEX keyword expected, instead found '");
    }
  } else if (Kw("START")) {
    Next();
    Expect("TRANSACTION", "TRANSACTION keyword expected, instead found '");
    kind = TQueryKind::StartTransaction;
    NewQuery(kind);
  } else if (Kw("ROLLBACK")) {
    Next();
    if (Kw("WORK")) Next();
    kind = TQueryKind::Rollback;
    NewQuery(kind);
  } else if (Kw("COMMIT")) {
    Next();
    if (Kw("WORK")) Next();
    kind = TQueryKind::Commit;
    TDataQuery& q = Query(NewQuery(kind));
    if (Kw("FLUSH")) {
      q.CommitFlush = true;
      Next();
    }
  } else {
    FailFound(
        "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '");
  }
  if (Ch(';')) {
    Next();
  } else if (TokenKind() != ExpScan::End) {
    FailFound(std::string("End of ") + QueryKindName(kind) +
              " statement expected, instead found '");
  }
}

// ---- SELECT ----

int TSqlParser::ParseSelectChain(bool subSelect, int openParentheses) {
  const int head = NewQuery(TQueryKind::Select);
  Query(head).SubSelect = subSelect;
  Query(head).Parentheses = openParentheses;
  ParseSelectCore(head, !subSelect && head == 0, false);
  int previous = head;
  while (Kw("UNION")) {
    if (!Query(previous).OrderBy.empty())
      Fail("You cannot use an ORDER BY clause within a UNIONed query");
    Next();
    bool all = false;
    if (Kw("ALL")) {
      all = true;
      Next();
    }
    const int member = NewQuery(TQueryKind::Select);
    Query(member).UnionMember = true;
    Query(member).SubSelect = subSelect;
    Query(previous).UnionNext = member;
    Query(previous).UnionAll = all;
    ParseSelectCore(member, false, true);
    previous = member;
  }
  if (previous != head) {
    // ORDER BY and TOP after the last member apply to the whole result.
    TDataQuery& q = Query(head);
    if (Kw("ORDER")) ParseOrderBy(q);
    if (Kw("TOP")) {
      Next();
      q.ChainTop = ParseInteger("Integer value expected after TOP keyword, instead found '");
    }
  }
  return head;
}

void TSqlParser::ParseSelectCore(int queryNo, bool master, bool unionMember) {
  TDataQuery& q = Query(queryNo);
  while (Ch('(')) {
    ++q.Parentheses;
    Next();
  }
  Expect("SELECT", "SELECT keyword expected, instead found '");
  if (Kw("ALL")) {
    q.All = true;
    Next();
  }
  if (Kw("DISTINCT")) {
    q.Distinct = true;
    Next();
  }
  ParseColumns(q);
  if (Kw("INTO")) {
    if (!master) Fail("The INTO clause can only be used with the master query");
    Next();
    q.Into = true;
    if (Kw("MEMORY")) {
      q.IntoMemory = true;
      Next();
    }
    if (AtName(true)) {
      TSourceTable target;
      ParseTableName(target, "Result table name expected in INTO clause, instead found '",
                     "Result table name expected in INTO clause, instead found '");
      q.IntoPath = target.Path;
      q.IntoName = target.Name;
    } else if (!q.IntoMemory) {
      FailFound("Result table name expected in INTO clause, instead found '");
    }
  }
  Expect("FROM", "FROM keyword expected, instead found '");
  // A ")" after a join condition may close this select when it stands in
  // parentheses (its own, or those of a sub-select).
  ParseFromList(q, "Table name expected after FROM keyword, instead found '",
                q.Parentheses > 0 || !master);
  if (Kw("WHERE")) {
    Next();
    q.Where = Expression(SqlExprFlags::Condition);
  }
  if (Kw("GROUP")) ParseGroupBy(q);
  if (Kw("HAVING")) {
    Next();
    q.Having = Expression(SqlExprFlags::Having);
  }
  if (!unionMember && Kw("ORDER")) ParseOrderBy(q);
  ParseSelectOptions(q);
  for (int i = 0; i < q.Parentheses; ++i) {
    if (!Ch(')')) FailFound("Right parentheses expected after SELECT statement, instead found '");
    Next();
  }
}

void TSqlParser::ParseColumns(TDataQuery& q) {
  for (;;) {
    TResultField field;
    field.Expression = Expression(SqlExprFlags::Column);
    if (Kw("AS")) {
      Next();
      if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
          TokenKind() != ExpScan::String)
        FailFound("Symbol or string expected after AS keyword, instead found '");
      field.Alias = Token();
      Next();
    } else if (AtName(false)) {
      field.Alias = Token();
      Next();
    }
    q.Columns.push_back(std::move(field));
    if (!Ch(',')) break;
    Next();
  }
}

void TSqlParser::ParseTableName(TSourceTable& table, const std::string& message,
                                const std::string& pathMessage) {
  if (Kw("MEMORY")) {
    Next();
    if (!AtName(true)) {
      // A table that is itself called MEMORY.
      table.Name = "MEMORY";
      return;
    }
    table.InMemory = true;
  }
  // An empty quoted name ('', "" or []) names no table.
  if (!AtName(true) || Token().empty()) FailFound(message);
  table.Name = Token();
  Next();
  if (Ch('\\')) {
    Next();
    if (!AtName(true) || Token().empty()) FailFound(pathMessage);
    table.Path = std::move(table.Name);
    table.Name = Token();
    Next();
  }
}

void TSqlParser::ParseCorrelation(TSourceTable& table, bool allowAs) {
  if (allowAs && Kw("AS")) {
    Next();
    if (!AtName(true) && TokenKind() != ExpScan::Identifier)
      FailFound("Symbol or string expected after AS keyword, instead found '");
    table.Correlation = Token();
    Next();
  } else if (AtName(false)) {
    table.Correlation = Token();
    Next();
  }
}

void TSqlParser::ParseSource(TDataQuery& q, const std::string& tableMessage) {
  TSourceTable table;
  ParseTableName(table, tableMessage, tableMessage);
  ParseCorrelation(table, true);
  table.Position = static_cast<int>(q.Sources.size());
  q.Sources.push_back(std::move(table));
}

void TSqlParser::ParseFromList(TDataQuery& q, const std::string& tableMessage, bool closeAllowed) {
  for (;;) {
    int open = 0;
    while (Ch('(')) {
      ++open;
      Next();
    }
    ParseSource(q, tableMessage);
    int previous = static_cast<int>(q.Sources.size()) - 1;
    for (;;) {
      TJoinKind kind = TJoinKind::Inner;
      if (Kw("JOIN")) {
        Next();
      } else if (Kw("INNER")) {
        Next();
        Expect("JOIN", "JOIN keyword expected after INNER keyword, instead found '");
      } else if (Kw("LEFT")) {
        kind = TJoinKind::LeftOuter;
        Next();
        if (Kw("OUTER")) Next();
        Expect("JOIN", "JOIN keyword expected after LEFT or OUTER keyword, instead found '");
      } else if (Kw("RIGHT")) {
        kind = TJoinKind::RightOuter;
        Next();
        if (Kw("OUTER")) Next();
        Expect("JOIN", "JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
      } else if (Kw("FULL")) {
        Fail("Full outer joins are currently not supported in Tarn SQL SELECT statements");
      } else {
        break;
      }
      ParseSource(q, "Table name expected after JOIN keyword, instead found '");
      Expect("ON", "ON keyword expected in JOIN clause, instead found '");
      TTableJoin join;
      join.Kind = kind;
      join.Outer = previous;
      join.Inner = static_cast<int>(q.Sources.size()) - 1;
      join.Condition = Expression(SqlExprFlags::Condition);
      q.Joins.push_back(std::move(join));
      previous = static_cast<int>(q.Sources.size()) - 1;
      while (Ch(')')) {
        if (open == 0) {
          if (closeAllowed) break;
          Fail("Mismatched join parentheses");
        }
        --open;
        Next();
      }
    }
    if (open > 0) Fail("Mismatched join parentheses");
    if (!Ch(',')) break;
    Next();
  }
}

void TSqlParser::ParseColumnRef(std::string& correlation, std::string& name, int& columnNo,
                                const std::string& message) {
  if (TokenKind() == ExpScan::Integer) {
    const std::optional<std::int64_t> value = ParseIntegerText(Token(), 1, 65535);
    if (!value) FailFound(message);
    columnNo = static_cast<int>(*value);
    Next();
    return;
  }
  if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
      TokenKind() != ExpScan::String)
    FailFound(message);
  name = Token();
  Next();
  if (Ch('.')) {
    Next();
    if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
        TokenKind() != ExpScan::String)
      FailFound("Symbol or string expected after table correlation name, instead found '");
    correlation = std::move(name);
    name = Token();
    Next();
  }
}

void TSqlParser::ParseGroupBy(TDataQuery& q) {
  Next();
  Expect("BY", "BY keyword expected after GROUP keyword, instead found '");
  for (;;) {
    TGroupByField item;
    ParseColumnRef(item.Correlation, item.Name, item.ColumnNo,
                   "Column name or column number expected in GROUP BY clause, instead found '");
    q.GroupBy.push_back(std::move(item));
    if (!Ch(',')) break;
    Next();
  }
}

void TSqlParser::ParseOrderBy(TDataQuery& q) {
  Next();
  Expect("BY", "BY keyword expected after ORDER keyword, instead found '");
  for (;;) {
    TOrderByField item;
    ParseColumnRef(item.Correlation, item.Name, item.ColumnNo,
                   "Column name or column number expected in ORDER BY clause, instead found '");
    if (Kw("ASC") || Kw("ASCENDING")) {
      Next();
    } else if (Kw("DESC") || Kw("DESCENDING")) {
      item.Descending = true;
      Next();
    }
    q.OrderBy.push_back(std::move(item));
    if (!Ch(',')) break;
    Next();
  }
  if (Kw("NOCASE")) {
    q.NoCase = true;
    Next();
  }
}

void TSqlParser::ParseTop(TDataQuery& q) {
  Next();
  q.Top = ParseInteger("Integer value expected after TOP keyword, instead found '");
}

void TSqlParser::ParseLanguage(std::optional<std::string>& language,
                               std::optional<std::string>& sort, std::int16_t& languageId,
                               std::int16_t& sortId) {
  Next();
  const std::string name = Token();
  const std::int32_t id = TokenKind() == ExpScan::String ? LanguageIdByName(name) : -1;
  if (id < 0) Fail("Invalid language constant '" + name + "' specified after LANGUAGE keyword");
  language = name;
  languageId = static_cast<std::int16_t>(id);
  sortId = 0;
  Next();
  if (Kw("SORT")) {
    Next();
    const std::string sortName = Token();
    const std::int32_t sid = TokenKind() == ExpScan::String
                                 ? SortIdByName(static_cast<std::uint16_t>(id), sortName)
                                 : -1;
    if (sid < 0) Fail("Invalid sort constant '" + sortName + "' specified after SORT keyword");
    sort = sortName;
    sortId = static_cast<std::int16_t>(sid);
    Next();
  }
}

void TSqlParser::ParseEncrypted(std::optional<std::string>& password) {
  Next();
  Expect("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
  password = ParseString("WITH");
}

void TSqlParser::ParseSelectOptions(TDataQuery& q) {
  if (Kw("TOP")) ParseTop(q);
  if (Kw("WITH")) {
    Next();
    Expect("LOCKS", "LOCKS keyword expected after WITH keyword, instead found '");
    q.WithLocks = true;
  }
  if (Kw("LANGUAGE")) ParseLanguage(q.Language, q.Sort, q.LanguageId, q.SortId);
  if (Kw("ENCRYPTED")) ParseEncrypted(q.Password);
  if (Kw("NOJOINOPTIMIZE")) {
    q.NoJoinOptimize = true;
    Next();
  }
}

// ---- INSERT, UPDATE, DELETE ----

void TSqlParser::ParseUpdateColumn(TUpdateField& field, bool allowAll) {
  if (allowAll && Ch('*')) {
    field.Name = "*";
    Next();
    return;
  }
  if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
      TokenKind() != ExpScan::String)
    FailFound("Column name expected, instead found '");
  field.Name = Token();
  Next();
  if (Ch('.')) {
    Next();
    if (allowAll && Ch('*')) {
      field.Correlation = std::move(field.Name);
      field.Name = "*";
      Next();
      return;
    }
    if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
        TokenKind() != ExpScan::String)
      FailFound("Symbol or string expected after table correlation name, instead found '");
    field.Correlation = std::move(field.Name);
    field.Name = Token();
    Next();
  }
}

void TSqlParser::ParseCommitOption(TDataQuery& q) {
  if (!Kw("COMMIT")) return;
  Next();
  if (Kw("INTERVAL")) {
    Next();
    q.CommitInterval =
        ParseInteger("Integer value expected after INTERVAL keyword, instead found '");
    if (Kw("FLUSH")) {
      q.CommitFlush = true;
      Next();
    }
  } else if (Kw("FLUSH")) {
    q.CommitFlush = true;
    Next();
  } else {
    FailFound("INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found '");
  }
}

void TSqlParser::ParseInsert(TDataQuery& q) {
  Next();
  Expect("INTO", "INTO keyword expected, instead found '");
  TSourceTable target;
  ParseTableName(target, "Table name expected after INTO keyword, instead found '",
                 "Table name expected after INTO clause, instead found '");
  ParseCorrelation(target, false);
  q.Sources.push_back(std::move(target));
  bool selectInParentheses = false;
  if (Ch('(')) {
    Next();
    if (Kw("SELECT")) {
      selectInParentheses = true;
    } else {
      for (;;) {
        TUpdateField field;
        ParseUpdateColumn(field, true);
        q.UpdateFields.push_back(std::move(field));
        if (!Ch(',')) break;
        Next();
      }
      if (!Ch(')'))
        FailFound("Right parentheses expected after list of table columns, instead found '");
      Next();
    }
  }
  if (selectInParentheses) {
    // The "(" already read is the select's own.
    q.SourceQuery = ParseSelectChain(true, 1);
  } else if (Kw("VALUES")) {
    Next();
    if (!Ch('(')) FailFound("Left parentheses expected after VALUES keyword, instead found '");
    Next();
    for (;;) {
      q.UpdateValues.push_back({Expression(SqlExprFlags::Condition)});
      if (!Ch(',')) break;
      Next();
    }
    if (!Ch(')')) FailFound("Right parentheses expected after list of values, instead found '");
    Next();
  } else if (Kw("SELECT") || Ch('(')) {
    q.SourceQuery = ParseSelectChain(true);
  } else {
    FailFound("VALUES or SELECT  keyword expected, instead found '");
  }
  if (Kw("NOAUTOINC")) {
    q.NoAutoInc = true;
    Next();
  }
  ParseCommitOption(q);
}

void TSqlParser::ParseUpdate(TDataQuery& q) {
  Next();
  TSourceTable target;
  ParseTableName(target, "Table name expected, instead found '",
                 "Table name expected, instead found '");
  ParseCorrelation(target, true);
  q.Sources.push_back(std::move(target));
  Expect("SET", "SET keyword expected, instead found '");
  for (;;) {
    TUpdateField field;
    ParseUpdateColumn(field, false);
    if (!Ch('=')) FailFound("Assignment (=) operator expected after column name, instead found '");
    Next();
    q.UpdateFields.push_back(std::move(field));
    q.UpdateValues.push_back({Expression(SqlExprFlags::Condition)});
    if (!Ch(',')) break;
    Next();
  }
  if (Kw("FROM")) {
    Next();
    ParseFromList(q, "Table name expected after FROM keyword, instead found '", false);
    // The first FROM table is the updated table itself: it takes the
    // target's place (and lends it its correlation name).
    TSourceTable& target = q.Sources[0];
    const TSourceTable& first = q.Sources[1];
    if (!SameName(first.Name, target.Name) || !SameName(first.Path, target.Path) ||
        first.InMemory != target.InMemory)
      Fail(
          "The first source table specified in FROM clause must match the table being updated in "
          "the UPDATE "
          "statement");
    if (target.Correlation.empty()) target.Correlation = first.Correlation;
    q.Sources.erase(q.Sources.begin() + 1);
    for (std::size_t i = 0; i < q.Sources.size(); ++i) q.Sources[i].Position = static_cast<int>(i);
    for (TTableJoin& join : q.Joins) {
      if (join.Outer > 0) --join.Outer;
      if (join.Inner > 0) --join.Inner;
    }
  }
  if (Kw("WHERE")) {
    Next();
    q.Where = Expression(SqlExprFlags::Condition);
  }
  if (Kw("NOAUTOINC")) {
    q.NoAutoInc = true;
    Next();
  }
  ParseCommitOption(q);
  if (Kw("NOJOINOPTIMIZE")) {
    q.NoJoinOptimize = true;
    Next();
  }
}

void TSqlParser::ParseDelete(TDataQuery& q) {
  Next();
  Expect("FROM", "FROM keyword expected, instead found '");
  ParseFromList(q, "Table name expected after FROM keyword, instead found '", false);
  if (Kw("WHERE")) {
    Next();
    q.Where = Expression(SqlExprFlags::Condition);
  }
  ParseCommitOption(q);
  if (Kw("NOJOINOPTIMIZE")) {
    q.NoJoinOptimize = true;
    Next();
  }
}

}  // namespace tarn
