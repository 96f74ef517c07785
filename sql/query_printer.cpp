#include "sql/query_printer.h"

#include "engine/base/names.h"
#include "engine/table/field_types.h"
#include "expr/expression_parser.h"

namespace tarn {

namespace {

// Words the parsers treat specially at some place where a plain name may
// stand; such names are always bracketed.
constexpr const char* KeywordNames[] = {
    "ADD",          "ALL",
    "AND",          "AS",
    "ASC",          "ASCENDING",
    "AT",           "AUTOINC",
    "BETWEEN",      "BLOB",
    "BLOCK",        "BY",
    "CHARCASE",     "CHARS",
    "COLUMN",       "COMMIT",
    "COMPRESS",     "CONSTRAINT",
    "CREATE",       "CURRENT_DATE",
    "CURRENT_TIME", "CURRENT_TIMESTAMP",
    "DEFAULT",      "DELETE",
    "DESC",         "DESCENDING",
    "DESCRIPTION",  "DISTINCT",
    "DROP",         "ENCRYPTED",
    "EXISTS",       "FALSE",
    "FLUSH",        "FROM",
    "FULL",         "GROUP",
    "HAVING",       "IF",
    "IN",           "INCLUDE",
    "INDEX",        "INNER",
    "INSERT",       "INTERVAL",
    "INTO",         "IS",
    "JOIN",         "KEY",
    "LANGUAGE",     "LAST",
    "LEFT",         "LIKE",
    "LOCKS",        "MAX",
    "MAXIMUM",      "MEMORY",
    "MIN",          "MINIMUM",
    "NOAUTOINC",    "NOBACKUP",
    "NOCASE",       "NOJOINOPTIMIZE",
    "NOT",          "NULL",
    "ON",           "OR",
    "ORDER",        "OUTER",
    "PRIMARY",      "REDEFINE",
    "RIGHT",        "SELECT",
    "SET",          "SORT",
    "SPACE",        "STOP",
    "TABLE",        "TEXT",
    "TOP",          "TRUE",
    "UNION",        "UNIQUE",
    "UPDATE",       "USER",
    "VALUES",       "WHERE",
    "WITH",         "WORDS",
};

bool IsPlainIdentifier(const std::string& name) {
  if (name.empty()) return false;
  const auto start = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
  };
  if (!start(static_cast<unsigned char>(name[0]))) return false;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (!start(c) && !(c >= '0' && c <= '9') && c != 33 && c != 36 && c != 64) return false;
  }
  for (const char* word : KeywordNames)
    if (SameText(name, word)) return false;
  return !TExpressionParser::IsFunctionName(name);
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    out += c;
    if (c == '\'') out += c;
  }
  return out + "'";
}

// A column of ORDER BY or GROUP BY, which take no *: a column of that name
// is bracketed like any other name that is not an identifier.
std::string NamedColumn(const std::string& correlation, const std::string& name) {
  return correlation.empty() ? PrintName(name) : PrintName(correlation) + "." + PrintName(name);
}

// A column of an expression or the select list, where a bare * stands for
// all columns.
std::string Qualified(const std::string& correlation, const std::string& name) {
  if (name != "*") return NamedColumn(correlation, name);
  return correlation.empty() ? name : PrintName(correlation) + ".*";
}

std::string Compression(TKeyCompression compression) {
  switch (compression) {
    case TKeyCompression::None:
      return "NONE";
    case TKeyCompression::DupByte:
      return "DUPBYTE";
    case TKeyCompression::TrailByte:
      return "TRAILBYTE";
    case TKeyCompression::Full:
      return "FULL";
  }
  return "NONE";
}

const char* TrimSideName(std::uint8_t side) {
  switch (static_cast<TTrimSide>(side)) {
    case TTrimSide::Leading:
      return "LEADING";
    case TTrimSide::Trailing:
      return "TRAILING";
    case TTrimSide::Both:
      return "BOTH";
  }
  return "BOTH";
}

constexpr const char* ExtractPartNames[] = {"YEAR",      "MONTH", "WEEK",   "DAY",   "DAYOFWEEK",
                                            "DAYOFYEAR", "HOUR",  "MINUTE", "SECOND"};

class TPrinter {
 public:
  explicit TPrinter(const TQueryList& queries) : FQueries(queries) {}

  // A whole expression: parentheses only where the grammar needs them.
  std::string Expression(const TExpToken& node) const { return Operand(node, LevelOr, false); }
  std::string Query(int queryNo) const;

 private:
  // The grammar's levels, loosest first; a node of one level is read where
  // that level or a looser one is expected (see Operand).
  enum : int {
    LevelOr = 1,
    LevelAnd,
    LevelNot,
    LevelPredicate,
    LevelSum,
    LevelProduct,
    LevelSigned,
    LevelPrimary,
  };
  static int Level(const TExpToken& node);
  // node where the parser reads a construct of level `least`: in parentheses
  // when its own level is looser. With stopAtIn the parser takes a plain IN
  // for the keyword that ends a function argument, so an IN predicate not
  // inside parentheses gets its own.
  std::string Operand(const TExpToken& node, int least, bool stopAtIn) const;
  std::string Bare(const TExpToken& node, bool stopAtIn) const;
  std::string Constant(const TExpToken& node) const;
  std::string Function(const TExpToken& node) const;
  std::string List(const std::vector<TExpTokenPtr>& items, int least, bool stopAtIn) const;
  std::string Table(const TSourceTable& table, bool withCorrelation) const;
  std::string From(const TDataQuery& q, std::size_t first) const;
  std::string Select(int queryNo) const;
  std::string SelectCore(const TDataQuery& q) const;
  std::string OrderBy(const TDataQuery& q) const;
  std::string Options(const TDataQuery& q) const;
  std::string Language(const std::optional<std::string>& language,
                       const std::optional<std::string>& sort) const;
  std::string Commit(const TDataQuery& q) const;
  std::string Field(const TCreateField& field) const;
  std::string Attributes(const TCreateField& field) const;
  std::string Index(const TCreateIndex& index) const;
  std::string TableOptions(const TTableOptions& options) const;

  const TQueryList& FQueries;
};

std::string TPrinter::Constant(const TExpToken& node) const {
  if (node.DataType == FieldType::Unknown) return node.Quoted ? "''" : "NULL";
  if (node.DataType == FieldType::Boolean) return node.Value.Int != 0 ? "TRUE" : "FALSE";
  // CURRENT_DATE and its kin print as the keyword; a text that merely starts
  // with those letters stays a quoted text.
  if (!node.Quoted && SameText(node.Text.substr(0, 8), "CURRENT_")) return node.Text;
  if (!node.Quoted && !node.Text.empty() && node.Text[0] == '#') return node.Text;
  if (node.DataType == FieldType::String) return Quote(std::string(node.Value.Text));
  return node.Text;
}

std::string TPrinter::List(const std::vector<TExpTokenPtr>& items, int least, bool stopAtIn) const {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i)
    s += (i ? ", " : "") + Operand(*items[i], least, stopAtIn);
  return s;
}

std::string TPrinter::Function(const TExpToken& node) const {
  const std::string name = ExpOpName(node.Op);
  const auto arg = [&](std::size_t i) {
    return Operand(*node.List[i], LevelOr, TExpressionParser::ArgumentStopsAtIn(node.Op, i));
  };
  switch (node.Op) {
    case TExpOp::Substring:
      return name + "(" + arg(0) + " FROM " + arg(1) +
             (node.List.size() > 2 ? " FOR " + arg(2) : "") + ")";
    case TExpOp::Replace:
      return name + "(" + arg(0) + " WITH " + arg(1) + " IN " + arg(2) + ")";
    case TExpOp::Pos:
    case TExpOp::Occurs:
    case TExpOp::TextSearch:
    case TExpOp::TextOccurs:
      return name + "(" + arg(0) + " IN " + arg(1) + ")";
    case TExpOp::Cast:
      return name + "(" + arg(0) + " AS " +
             PrintDataType(node.DataType, node.SubType,
                           node.DataType == FieldType::String ? node.Size - 1 : node.Size,
                           node.Scale) +
             ")";
    case TExpOp::Trim:
      return name + "(" + TrimSideName(node.Option) + " " + arg(0) + " FROM " + arg(1) + ")";
    case TExpOp::Extract:
      return name + "(" + ExtractPartNames[node.Option < 9 ? node.Option : 0] + " FROM " + arg(0) +
             ")";
    case TExpOp::Round:
      return name + "(" + arg(0) + (node.List.size() > 1 ? " TO " + arg(1) : "") + ")";
    case TExpOp::If:
    case TExpOp::IfNull:
      return name + "(" + arg(0) + " THEN " + arg(1) + " ELSE " + arg(2) + ")";
    default:
      return name + "(" + List(node.List, LevelOr, false) + ")";
  }
}

int TPrinter::Level(const TExpToken& node) {
  switch (node.Kind) {
    case TExpTokenKind::Unary:
      return node.Op == TExpOp::Not ? LevelNot : LevelSigned;
    case TExpTokenKind::Binary:
      switch (node.Op) {
        case TExpOp::Or:
          return LevelOr;
        case TExpOp::And:
          return LevelAnd;
        case TExpOp::Add:
        case TExpOp::Subtract:
          return LevelSum;
        case TExpOp::Multiply:
        case TExpOp::Divide:
          return LevelProduct;
        default:
          return LevelPredicate;  // comparisons, LIKE
      }
    case TExpTokenKind::List:
      return LevelPredicate;  // BETWEEN, IN
    default:
      return LevelPrimary;
  }
}

std::string TPrinter::Operand(const TExpToken& node, int least, bool stopAtIn) const {
  const bool parens = Level(node) < least ||
                      (stopAtIn && node.Kind == TExpTokenKind::List && node.Op == TExpOp::In);
  // Inside parentheses the parser reads IN again.
  return parens ? "(" + Bare(node, false) + ")" : Bare(node, stopAtIn);
}

// Every operation is left-associative: a chain such as a - b - c prints
// without inner parentheses, and a right operand of the same level gets them.
// A printed text therefore nests no deeper than the text it was parsed from.
std::string TPrinter::Bare(const TExpToken& node, bool stopAtIn) const {
  switch (node.Kind) {
    case TExpTokenKind::Constant:
      return Constant(node);
    case TExpTokenKind::Column:
      return Qualified(node.Correlation, node.ColumnName);
    case TExpTokenKind::Unary:
      if (node.Op == TExpOp::Not) return "NOT " + Operand(*node.Left, LevelPredicate, stopAtIn);
      return ExpOpName(node.Op) + Operand(*node.Left, LevelPrimary, stopAtIn);
    case TExpTokenKind::Binary: {
      // x = NULL and x <> NULL come from IS [NOT] NULL.
      if (node.Right->IsNullConstant() && !node.Right->Quoted &&
          (node.Op == TExpOp::Equal || node.Op == TExpOp::NotEqual))
        return Operand(*node.Left, LevelSum, stopAtIn) +
               (node.Op == TExpOp::Equal ? " IS NULL" : " IS NOT NULL");
      const char* op = node.Text == "||" ? "||" : ExpOpName(node.Op);
      // A predicate compares two sums; the other levels chain to the left.
      const int level = Level(node);
      const bool predicate = level == LevelPredicate;
      return Operand(*node.Left, predicate ? LevelSum : level, stopAtIn) + " " + op + " " +
             Operand(*node.Right, predicate ? LevelSum : level + 1, stopAtIn);
    }
    case TExpTokenKind::List: {
      const std::string left = Operand(*node.Left, LevelSum, stopAtIn) + " " + ExpOpName(node.Op);
      if (node.Op == TExpOp::Between || node.Op == TExpOp::NotBetween)
        return left + " " + Operand(*node.List[0], LevelSum, stopAtIn) + " AND " +
               Operand(*node.List[1], LevelSum, stopAtIn);
      if (node.List.size() == 1 && node.List[0]->Kind == TExpTokenKind::SubSelect)
        return left + " (" + Query(node.List[0]->Reference) + ")";
      return left + " (" + List(node.List, LevelSum, stopAtIn) + ")";
    }
    case TExpTokenKind::Function:
      return Function(node);
    case TExpTokenKind::Aggregate:
      return std::string(ExpAggregateName(static_cast<TExpAggregate>(node.Option))) + "(" +
             Expression(*node.List[0]) + ")";
    case TExpTokenKind::Parameter:
      return "?";
    case TExpTokenKind::SubSelect:
      return "(" + Query(node.Reference) + ")";
    case TExpTokenKind::None:
      break;
  }
  return "?";
}

std::string TPrinter::Table(const TSourceTable& table, bool withCorrelation) const {
  std::string s = table.InMemory ? "MEMORY " : "";
  if (!table.Path.empty()) s += PrintName(table.Path) + "\\";
  s += PrintName(table.Name);
  if (withCorrelation && !table.Correlation.empty()) s += " AS " + PrintName(table.Correlation);
  return s;
}

std::string TPrinter::From(const TDataQuery& q, std::size_t first) const {
  std::string s;
  for (std::size_t i = first; i < q.Sources.size(); ++i) {
    const TTableJoin* join = nullptr;
    for (const TTableJoin& j : q.Joins)
      if (j.Inner == static_cast<int>(i)) join = &j;
    if (join == nullptr) {
      s += (i > first ? ", " : "") + Table(q.Sources[i], true);
      continue;
    }
    switch (join->Kind) {
      case TJoinKind::Inner:
        s += " INNER JOIN ";
        break;
      case TJoinKind::LeftOuter:
        s += " LEFT OUTER JOIN ";
        break;
      case TJoinKind::RightOuter:
        s += " RIGHT OUTER JOIN ";
        break;
    }
    s += Table(q.Sources[i], true) + " ON " + Expression(*join->Condition);
  }
  return s;
}

std::string TPrinter::OrderBy(const TDataQuery& q) const {
  if (q.OrderBy.empty()) return "";
  std::string s = " ORDER BY ";
  for (std::size_t i = 0; i < q.OrderBy.size(); ++i) {
    const TOrderByField& item = q.OrderBy[i];
    s += i ? ", " : "";
    s += item.ColumnNo > 0 ? std::to_string(item.ColumnNo)
                           : NamedColumn(item.Correlation, item.Name);
    if (item.Descending) s += " DESC";
  }
  return s + (q.NoCase ? " NOCASE" : "");
}

std::string TPrinter::Language(const std::optional<std::string>& language,
                               const std::optional<std::string>& sort) const {
  if (!language) return "";
  return " LANGUAGE " + Quote(*language) + (sort ? " SORT " + Quote(*sort) : "");
}

std::string TPrinter::Options(const TDataQuery& q) const {
  std::string s;
  if (q.Top) s += " TOP " + std::to_string(*q.Top);
  if (q.WithLocks) s += " WITH LOCKS";
  s += Language(q.Language, q.Sort);
  if (q.Password) s += " ENCRYPTED WITH " + Quote(*q.Password);
  if (q.NoJoinOptimize) s += " NOJOINOPTIMIZE";
  return s;
}

std::string TPrinter::SelectCore(const TDataQuery& q) const {
  std::string s(static_cast<std::size_t>(q.Parentheses), '(');
  s += "SELECT";
  if (q.All) s += " ALL";
  if (q.Distinct) s += " DISTINCT";
  for (std::size_t i = 0; i < q.Columns.size(); ++i) {
    s += i ? ", " : " ";
    s += Expression(*q.Columns[i].Expression);
    if (!q.Columns[i].Alias.empty()) s += " AS " + PrintName(q.Columns[i].Alias);
  }
  if (q.Into) {
    s += " INTO";
    if (q.IntoMemory) s += " MEMORY";
    if (!q.IntoName.empty())
      s += " " + (q.IntoPath.empty() ? "" : PrintName(q.IntoPath) + "\\") + PrintName(q.IntoName);
  }
  s += " FROM " + From(q, 0);
  if (q.Where) s += " WHERE " + Expression(*q.Where);
  if (!q.GroupBy.empty()) {
    s += " GROUP BY ";
    for (std::size_t i = 0; i < q.GroupBy.size(); ++i) {
      const TGroupByField& item = q.GroupBy[i];
      s += i ? ", " : "";
      s += item.ColumnNo > 0 ? std::to_string(item.ColumnNo)
                             : NamedColumn(item.Correlation, item.Name);
    }
  }
  if (q.Having) s += " HAVING " + Expression(*q.Having);
  const bool chainHead = q.UnionNext >= 0 && !q.UnionMember;
  if (!chainHead) s += OrderBy(q);
  s += Options(q);
  s += std::string(static_cast<std::size_t>(q.Parentheses), ')');
  return s;
}

std::string TPrinter::Select(int queryNo) const {
  const TDataQuery& head = *FQueries[static_cast<std::size_t>(queryNo)];
  std::string s = SelectCore(head);
  if (head.UnionNext < 0) return s;
  for (int at = queryNo; FQueries[static_cast<std::size_t>(at)]->UnionNext >= 0;) {
    const TDataQuery& before = *FQueries[static_cast<std::size_t>(at)];
    at = before.UnionNext;
    s += before.UnionAll ? " UNION ALL " : " UNION ";
    s += SelectCore(*FQueries[static_cast<std::size_t>(at)]);
  }
  s += OrderBy(head);
  if (head.ChainTop) s += " TOP " + std::to_string(*head.ChainTop);
  return s;
}

std::string TPrinter::Commit(const TDataQuery& q) const {
  if (q.CommitInterval)
    return " COMMIT INTERVAL " + std::to_string(*q.CommitInterval) +
           (q.CommitFlush ? " FLUSH" : "");
  return q.CommitFlush ? " COMMIT FLUSH" : "";
}

std::string TPrinter::Attributes(const TCreateField& field) const {
  std::string s;
  if (field.Description) s += " DESCRIPTION " + Quote(*field.Description);
  if (field.NotNull && *field.NotNull) s += " NOT NULL";
  if (field.Default) s += " DEFAULT " + Quote(*field.Default);
  if (field.Minimum) s += " MIN " + Quote(*field.Minimum);
  if (field.Maximum) s += " MAX " + Quote(*field.Maximum);
  if (field.CharCase) {
    switch (*field.CharCase) {
      case TCharCase::Upper:
        s += " CHARCASE UPPER";
        break;
      case TCharCase::Lower:
        s += " CHARCASE LOWER";
        break;
      case TCharCase::AsGiven:
        s += " CHARCASE NOCHANGE";
        break;
    }
  }
  return s;
}

std::string TPrinter::Field(const TCreateField& field) const {
  std::string s = PrintName(field.Name);
  if (field.HasType) s += " " + PrintDataType(field.Type, field.SubType, field.Size, field.Scale);
  return s + Attributes(field);
}

std::string TPrinter::Index(const TCreateIndex& index) const {
  std::string s;
  if (index.Primary && !index.Name.empty()) s += "CONSTRAINT " + PrintName(index.Name) + " ";
  if (index.Unique) s += "UNIQUE ";
  if (index.Descending) s += "DESC ";
  if (index.CaseInsensitive) s += "NOCASE ";
  return s;
}

std::string TPrinter::TableOptions(const TTableOptions& o) const {
  std::string s;
  if (o.TextIndex) {
    s += " TEXT INDEX (";
    for (std::size_t i = 0; i < o.TextIndex->size(); ++i)
      s += (i ? ", " : "") + PrintName((*o.TextIndex)[i]);
    s += ")";
  }
  if (o.StopWords) s += " STOP WORDS " + Quote(*o.StopWords);
  if (o.SpaceChars) s += " SPACE CHARS " + Quote(*o.SpaceChars);
  if (o.IncludeChars) s += " INCLUDE CHARS " + Quote(*o.IncludeChars);
  if (o.Description) s += " DESCRIPTION " + Quote(*o.Description);
  if (o.BlobBlockSize) s += " BLOB BLOCK SIZE " + std::to_string(*o.BlobBlockSize);
  s += Language(o.Language, o.Sort);
  if (o.Password) s += " ENCRYPTED WITH " + Quote(*o.Password);
  if (o.UserMajorVersion) s += " USER MAJOR VERSION " + std::to_string(*o.UserMajorVersion);
  if (o.UserMinorVersion) s += " USER MINOR VERSION " + std::to_string(*o.UserMinorVersion);
  if (o.LastAutoInc) s += " LAST AUTOINC " + std::to_string(*o.LastAutoInc);
  return s;
}

std::string TPrinter::Query(int queryNo) const {
  if (queryNo < 0 || static_cast<std::size_t>(queryNo) >= FQueries.size()) return "?";
  const TDataQuery& q = *FQueries[static_cast<std::size_t>(queryNo)];
  const auto columnList = [&](const std::vector<std::string>& columns) {
    std::string s = "(";
    for (std::size_t i = 0; i < columns.size(); ++i) s += (i ? ", " : "") + PrintName(columns[i]);
    return s + ")";
  };
  const auto primaryKey = [&](const TCreateIndex& key) {
    std::string s = Index(key) + "PRIMARY KEY " + columnList(key.Columns);
    if (key.Compression) s += " COMPRESS " + Compression(*key.Compression);
    return s;
  };
  switch (q.Kind()) {
    case TQueryKind::None:
      return "";
    case TQueryKind::Select:
      return Select(queryNo);
    case TQueryKind::Insert: {
      std::string s = "INSERT INTO " + Table(q.Sources[0], false);
      if (!q.Sources[0].Correlation.empty()) s += " " + PrintName(q.Sources[0].Correlation);
      if (!q.UpdateFields.empty()) {
        s += " (";
        for (std::size_t i = 0; i < q.UpdateFields.size(); ++i)
          s += (i ? ", " : "") + Qualified(q.UpdateFields[i].Correlation, q.UpdateFields[i].Name);
        s += ")";
      }
      if (q.SourceQuery >= 0) {
        s += " " + Query(q.SourceQuery);
      } else {
        s += " VALUES (";
        for (std::size_t i = 0; i < q.UpdateValues.size(); ++i)
          s += (i ? ", " : "") + Expression(*q.UpdateValues[i].Expression);
        s += ")";
      }
      if (q.NoAutoInc) s += " NOAUTOINC";
      return s + Commit(q);
    }
    case TQueryKind::Update: {
      std::string s = "UPDATE " + Table(q.Sources[0], true) + " SET ";
      for (std::size_t i = 0; i < q.UpdateFields.size(); ++i)
        s += (i ? ", " : "") + Qualified(q.UpdateFields[i].Correlation, q.UpdateFields[i].Name) +
             " = " + Expression(*q.UpdateValues[i].Expression);
      if (q.Sources.size() > 1) {
        s += " FROM " + Table(q.Sources[0], false);
        const std::string rest = From(q, 1);
        s += rest.empty() || rest[0] == ' ' ? rest : ", " + rest;
      }
      if (q.Where) s += " WHERE " + Expression(*q.Where);
      if (q.NoAutoInc) s += " NOAUTOINC";
      s += Commit(q);
      return s + (q.NoJoinOptimize ? " NOJOINOPTIMIZE" : "");
    }
    case TQueryKind::Delete: {
      std::string s = "DELETE FROM " + From(q, 0);
      if (q.Where) s += " WHERE " + Expression(*q.Where);
      s += Commit(q);
      return s + (q.NoJoinOptimize ? " NOJOINOPTIMIZE" : "");
    }
    case TQueryKind::CreateTable: {
      std::string s = std::string("CREATE TABLE ") + (q.IfNotExists ? "IF NOT EXISTS " : "") +
                      Table(q.Sources[0], false) + " (";
      for (std::size_t i = 0; i < q.CreateFields.size(); ++i)
        s += (i ? ", " : "") + Field(q.CreateFields[i]);
      if (q.PrimaryKey) s += (q.CreateFields.empty() ? "" : ", ") + primaryKey(*q.PrimaryKey);
      std::string options = TableOptions(q.Table);
      if (q.CreateFields.empty() && !q.PrimaryKey && !options.empty()) options.erase(0, 1);
      return s + options + ")";
    }
    case TQueryKind::AlterTable: {
      std::string s = "ALTER TABLE " + Table(q.Sources[0], false);
      for (std::size_t i = 0; i < q.AlterActions.size(); ++i) {
        const TAlterAction& a = q.AlterActions[i];
        s += i ? ", " : " ";
        switch (a.Kind) {
          case TAlterKind::AddColumn:
            s += "ADD COLUMN " + Field(a.Field);
            break;
          case TAlterKind::RedefineColumn:
            s += "REDEFINE COLUMN " + PrintName(a.ColumnName);
            s += a.Field.HasType ? " " + Field(a.Field) : Attributes(a.Field);
            break;
          case TAlterKind::DropColumn:
            s += "DROP COLUMN " + PrintName(a.ColumnName);
            break;
          case TAlterKind::AddPrimaryKey:
            s += "ADD " + primaryKey(a.Index);
            break;
          case TAlterKind::RedefinePrimaryKey:
            s += "REDEFINE " + primaryKey(a.Index);
            break;
          case TAlterKind::DropPrimaryKey:
            s += "DROP " +
                 (a.ConstraintName.empty() ? ""
                                           : "CONSTRAINT " + PrintName(a.ConstraintName) + " ") +
                 "PRIMARY KEY";
            break;
        }
        if ((a.Kind == TAlterKind::AddColumn || a.Kind == TAlterKind::RedefineColumn) &&
            a.Field.At > 0)
          s += " AT " + std::to_string(a.Field.At);
      }
      s += TableOptions(q.Table);
      return s + (q.NoBackup ? " NOBACKUP" : "");
    }
    case TQueryKind::DropTable:
      return std::string("DROP TABLE ") + (q.IfExists ? "IF EXISTS " : "") +
             Table(q.Sources[0], false);
    case TQueryKind::CreateIndex: {
      std::string s = "CREATE " + Index(q.Index) + "INDEX " +
                      (q.IfNotExists ? "IF NOT EXISTS " : "") + PrintName(q.Index.Name) + " ON " +
                      Table(q.Sources[0], false) + " " + columnList(q.Index.Columns);
      if (q.Index.Compression) s += " COMPRESS " + Compression(*q.Index.Compression);
      return s;
    }
    case TQueryKind::DropIndex:
      return std::string("DROP INDEX ") + (q.IfExists ? "IF EXISTS " : "") +
             Table(q.Sources[0], false) + "." + PrintName(q.IndexName);
    case TQueryKind::StartTransaction:
      return "START TRANSACTION";
    case TQueryKind::Rollback:
      return "ROLLBACK";
    case TQueryKind::Commit:
      return q.CommitFlush ? "COMMIT FLUSH" : "COMMIT";
  }
  return "";
}

}  // namespace

std::string PrintName(const std::string& name) {
  if (IsPlainIdentifier(name)) return name;
  // A name with "]" cannot stand in brackets; it is written as a string,
  // which every place that takes a name also takes.
  if (name.find(']') != std::string::npos) return Quote(name);
  return "[" + name + "]";
}

std::string PrintDataType(std::uint8_t type, std::uint8_t subType, std::uint16_t length,
                          std::uint8_t scale) {
  switch (type) {
    case FieldType::String:
      return "VARCHAR(" + std::to_string(length) + ")";
    case FieldType::Bytes:
      return "BYTES(" + std::to_string(length) + ")";
    case FieldType::Int16:
      return "SMALLINT";
    case FieldType::UInt16:
      return "WORD";
    case FieldType::Int32:
      return subType == FieldSubType::AutoInc ? "AUTOINC" : "INTEGER";
    case FieldType::Int64:
      return "LARGEINT";
    case FieldType::Bcd:
      return "DECIMAL(20," + std::to_string(scale) + ")";
    case FieldType::Float:
      return subType == FieldSubType::Money ? "MONEY" : "FLOAT";
    case FieldType::Date:
      return "DATE";
    case FieldType::Time:
      return "TIME";
    case FieldType::Timestamp:
      return "TIMESTAMP";
    case FieldType::Boolean:
      return "BOOLEAN";
    case FieldType::Blob:
      switch (subType) {
        case FieldSubType::Memo:
          return "MEMO";
        case FieldSubType::FormattedMemo:
          return "BLOB(0,3)";
        case FieldSubType::Graphic:
          return "GRAPHIC";
        case FieldSubType::TypedBinary:
          return "BLOB(0,7)";
        default:
          return "BLOB";
      }
    default:
      return "?";
  }
}

std::string PrintExpression(const TQueryList& queries, const TExpToken& node) {
  return TPrinter(queries).Expression(node);
}

std::string PrintQuery(const TQueryList& queries, int queryNo) {
  return TPrinter(queries).Query(queryNo);
}

std::string PrintStatement(const TQueryList& queries) {
  return queries.empty() ? "" : PrintQuery(queries, 0);
}

}  // namespace tarn
