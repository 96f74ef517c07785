// TSqlParser: CREATE TABLE, CREATE INDEX, ALTER TABLE, DROP TABLE and DROP
// INDEX.

#include "engine/base/error_context.h"
#include "engine/base/literal_text.h"
#include "engine/table/field_types.h"
#include "expr/exp_token_stack.h"
#include "sql/sql_parser.h"

namespace tarn {

namespace {

constexpr const char* ConstraintWords[] = {"CONSTRAINT", "UNIQUE",     "ASC",    "ASCENDING",
                                           "DESC",       "DESCENDING", "NOCASE", "PRIMARY"};
constexpr const char* TableOptionWords[] = {"TEXT",        "STOP", "SPACE",    "INCLUDE",
                                            "DESCRIPTION", "BLOB", "LANGUAGE", "ENCRYPTED",
                                            "USER",        "LAST"};
constexpr const char* AttributeWords[] = {"DESCRIPTION", "NOT",     "DEFAULT",  "MIN", "MINIMUM",
                                          "MAX",         "MAXIMUM", "CHARCASE", "AT"};

}  // namespace

bool TSqlParser::AtConstraint() const {
  for (const char* word : ConstraintWords)
    if (Kw(word)) return true;
  return false;
}

bool TSqlParser::AtTableOption() const {
  for (const char* word : TableOptionWords)
    if (Kw(word)) return true;
  return false;
}

bool TSqlParser::AtColumnAttribute() const {
  for (const char* word : AttributeWords)
    if (Kw(word)) return true;
  return false;
}

// ---- columns ----

void TSqlParser::ParseColumnDefinition(TCreateField& field, bool typeRequired) {
  if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
      TokenKind() != ExpScan::String)
    FailFound("Column name expected, instead found '");
  field.Name = Token();
  Next();
  if (typeRequired) {
    TExpTokenPtr type = NewExpToken();
    FScan.ParseDataType(*type, "table column");
    field.HasType = true;
    field.Type = type->DataType;
    field.SubType = type->SubType;
    if (type->DataType == FieldType::String)
      field.Size = static_cast<std::uint8_t>(type->Size - 1);
    else if (type->DataType == FieldType::Bytes)
      field.Size = static_cast<std::uint8_t>(type->Size);
    if (type->DataType == FieldType::Bcd) field.Scale = type->Scale;
  }
  ParseColumnAttributes(field);
}

std::string TSqlParser::ParseValueText(const char* keyword) {
  std::string text;
  if (Ch('-') || Ch('+')) {
    text = Token();
    Next();
  }
  switch (TokenKind()) {
    case ExpScan::String:
    case ExpScan::Integer:
    case ExpScan::Number:
    case ExpScan::Identifier:
      text += Token();
      Next();
      return text;
    default:
      FailFound(std::string("Value expected after ") + keyword + " keyword, instead found '");
  }
}

void TSqlParser::ParseColumnAttributes(TCreateField& field) {
  if (Kw("DESCRIPTION")) {
    Next();
    field.Description = ParseString("DESCRIPTION");
  }
  if (Kw("NOT")) {
    Next();
    Expect("NULL", "NULL keyword expected after NOT keyword, instead found '");
    field.NotNull = true;
  }
  if (Kw("DEFAULT")) {
    Next();
    field.Default = ParseValueText("DEFAULT");
  }
  if (Kw("MIN") || Kw("MINIMUM")) {
    const std::string keyword = Kw("MIN") ? "MIN" : "MINIMUM";
    Next();
    field.Minimum = ParseValueText(keyword.c_str());
  }
  if (Kw("MAX") || Kw("MAXIMUM")) {
    const std::string keyword = Kw("MAX") ? "MAX" : "MAXIMUM";
    Next();
    field.Maximum = ParseValueText(keyword.c_str());
  }
  if (Kw("CHARCASE")) {
    Next();
    if (Kw("UPPER"))
      field.CharCase = TCharCase::Upper;
    else if (Kw("LOWER"))
      field.CharCase = TCharCase::Lower;
    else if (Kw("NOCHANGE"))
      field.CharCase = TCharCase::AsGiven;
    else
      FailFound(
          "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found '");
    Next();
  }
}

// ---- indexes ----

void TSqlParser::ParseIndexFlags(TCreateIndex& index) {
  if (Kw("UNIQUE")) {
    index.Unique = true;
    Next();
  }
  if (Kw("ASC") || Kw("ASCENDING")) {
    Next();
  } else if (Kw("DESC") || Kw("DESCENDING")) {
    index.Descending = true;
    Next();
  }
  if (Kw("NOCASE")) {
    index.CaseInsensitive = true;
    Next();
  }
}

void TSqlParser::ParseIndexColumns(TCreateIndex& index) {
  if (!Ch('(')) FailFound("Left parentheses expected, instead found '");
  Next();
  while (TokenKind() == ExpScan::Identifier || TokenKind() == ExpScan::QuotedName ||
         TokenKind() == ExpScan::String) {
    std::string name = Token();
    Next();
    if (Ch('.'))
      Fail("Invalid use of table correlation name '" + name + "' specified in indexed columns");
    index.Columns.push_back(std::move(name));
    if (!Ch(',')) break;
    Next();
  }
  if (!Ch(')')) FailFound("Right parentheses expected, instead found '");
  Next();
}

void TSqlParser::ParseCompression(TCreateIndex& index) {
  if (!Kw("COMPRESS")) return;
  Next();
  if (Kw("FULL"))
    index.Compression = TKeyCompression::Full;
  else if (Kw("DUPBYTE"))
    index.Compression = TKeyCompression::DupByte;
  else if (Kw("TRAILBYTE"))
    index.Compression = TKeyCompression::TrailByte;
  else if (Kw("NONE"))
    index.Compression = TKeyCompression::None;
  else
    FailFound(
        "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found "
        "'");
  Next();
}

void TSqlParser::ParsePrimaryKey(TCreateIndex& index) {
  index.Primary = true;
  if (Kw("CONSTRAINT")) {
    Next();
    if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
        TokenKind() != ExpScan::String)
      FailFound("Constraint name expected after CONSTRAINT keyword, instead found '");
    index.Name = Token();
    Next();
  }
  ParseIndexFlags(index);
  Expect("PRIMARY", "PRIMARY keyword expected, instead found '");
  Expect("KEY", "KEY keyword expected after PRIMARY keyword, instead found '");
  ParseIndexColumns(index);
  ParseCompression(index);
}

// ---- table options ----

void TSqlParser::ParseTableOptions(TTableOptions& options) {
  if (Kw("TEXT")) {
    Next();
    Expect("INDEX", "INDEX keyword expected after TEXT keyword, instead found '");
    if (!Ch('(')) FailFound("Left parentheses expected after TEXTINDEX keyword, instead found '");
    Next();
    std::vector<std::string> columns;
    while (TokenKind() == ExpScan::Identifier || TokenKind() == ExpScan::QuotedName ||
           TokenKind() == ExpScan::String) {
      columns.push_back(Token());
      Next();
      if (!Ch(',')) break;
      Next();
    }
    if (!Ch(')')) FailFound("Right parentheses expected after TEXT INDEX clause, instead found '");
    Next();
    options.TextIndex = std::move(columns);
  }
  if (Kw("STOP")) {
    Next();
    Expect("WORDS", "WORDS keyword expected after STOP keyword, instead found '");
    options.StopWords = ParseString("WORDS");
  }
  if (Kw("SPACE")) {
    Next();
    Expect("CHARS", "CHARS keyword expected after SPACE keyword, instead found '");
    options.SpaceChars = ParseString("CHARS");
  }
  if (Kw("INCLUDE")) {
    Next();
    Expect("CHARS", "CHARS keyword expected after INCLUDE keyword, instead found '");
    options.IncludeChars = ParseString("CHARS");
  }
  if (Kw("DESCRIPTION")) {
    Next();
    options.Description = ParseString("DESCRIPTION");
  }
  if (Kw("BLOB")) {
    Next();
    Expect("BLOCK", "BLOCK keyword expected after BLOB keyword, instead found '");
    Expect("SIZE", "SIZE keyword expected after BLOCK keyword, instead found '");
    options.BlobBlockSize =
        ParseInteger("Integer value expected after SIZE keyword, instead found '");
  }
  if (Kw("LANGUAGE"))
    ParseLanguage(options.Language, options.Sort, options.LanguageId, options.SortId);
  if (Kw("ENCRYPTED")) ParseEncrypted(options.Password);
  for (int i = 0; i < 2 && Kw("USER"); ++i) {
    Next();
    const bool major = Kw("MAJOR");
    if (!major && !Kw("MINOR"))
      FailFound("MAJOR or MINOR keyword expected after USER keyword, instead found '");
    Next();
    Expect("VERSION", major ? "VERSION keyword expected after MAJOR keyword, instead found '"
                            : "VERSION keyword expected after MINOR keyword, instead found '");
    const std::int32_t version =
        ParseInteger("Integer value expected after VERSION keyword, instead found '");
    (major ? options.UserMajorVersion : options.UserMinorVersion) = version;
  }
  if (Kw("LAST")) {
    Next();
    Expect("AUTOINC", "AUTOINC keyword expected after LAST keyword, instead found '");
    bool negative = false;
    if (Ch('-') || Ch('+')) {
      negative = Ch('-');
      Next();
    }
    if (TokenKind() != ExpScan::Integer) Fail("Next auto-increment number is empty");
    const std::optional<std::int64_t> value = ParseIntegerText(Token(), 0, negative ? 2147483648LL : 2147483647LL);
    if (!value) FailFound("Integer value expected after AUTOINC keyword, instead found '");
    options.LastAutoInc = negative ? -*value : *value;
    Next();
  }
}

// ---- statements ----

void TSqlParser::ParseCreateTable(TDataQuery& q) {
  Next();  // past TABLE
  if (Kw("IF")) {
    Next();
    Expect("NOT", "NOT keyword expected after IF keyword, instead found '");
    Expect("EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
    q.IfNotExists = true;
  }
  TSourceTable table;
  ParseTableName(table, "Table name expected after CREATE TABLE keywords, instead found '",
                 "Table name expected after CREATE TABLE keywords, instead found '");
  q.Sources.push_back(std::move(table));
  if (!Ch('('))
    FailFound("Left parentheses expected before list of table columns, instead found '");
  Next();
  while (!AtConstraint() && !AtTableOption() && !Ch(')')) {
    TCreateField field;
    ParseColumnDefinition(field, true);
    q.CreateFields.push_back(std::move(field));
    if (!Ch(',')) break;
    Next();
  }
  if (AtConstraint()) {
    TCreateIndex key;
    ParsePrimaryKey(key);
    q.PrimaryKey = std::move(key);
    if (Ch(',')) Next();
  }
  ParseTableOptions(q.Table);
  if (!Ch(')'))
    FailFound("Right parentheses expected after CREATE TABLE statement, instead found '");
  Next();
}

void TSqlParser::ParseCreateIndex(TDataQuery& q) {
  ParseIndexFlags(q.Index);
  Expect("INDEX", "INDEX keyword expected, instead found '");
  if (Kw("IF")) {
    Next();
    Expect("NOT", "NOT keyword expected after IF keyword, instead found '");
    Expect("EXISTS", "EXISTS keyword expected after NOT keyword, instead found '");
    q.IfNotExists = true;
  }
  if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
      TokenKind() != ExpScan::String)
    FailFound("Index name expected after INDEX keyword, instead found '");
  q.Index.Name = Token();
  Next();
  Expect("ON", "ON keyword expected after index name, instead found '");
  TSourceTable table;
  ParseTableName(table, "Table name expected after ON keyword, instead found '",
                 "Table name expected after ON keyword, instead found '");
  q.Sources.push_back(std::move(table));
  ParseIndexColumns(q.Index);
  ParseCompression(q.Index);
}

void TSqlParser::ParseAlterTable(TDataQuery& q) {
  TSourceTable table;
  ParseTableName(table, "Table name expected after ALTER TABLE keywords, instead found '",
                 "Table name expected after ALTER TABLE keywords, instead found '");
  q.Sources.push_back(std::move(table));
  for (;;) {
    TAlterAction action;
    if (Kw("ADD") || Kw("REDEFINE")) {
      const bool add = Kw("ADD");
      Next();
      if (Kw("COLUMN") || !AtConstraint()) {
        if (Kw("COLUMN")) Next();
        if (add) {
          action.Kind = TAlterKind::AddColumn;
          ParseColumnDefinition(action.Field, true);
        } else {
          action.Kind = TAlterKind::RedefineColumn;
          if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
              TokenKind() != ExpScan::String)
            FailFound("Column name expected, instead found '");
          action.ColumnName = Token();
          Next();
          // An optional new definition (name and type), then the attributes
          // that replace the old ones.
          const bool newDefinition =
              (TokenKind() == ExpScan::Identifier || TokenKind() == ExpScan::QuotedName) &&
              !AtColumnAttribute() && !AtTableOption() && !Kw("NOBACKUP");
          if (newDefinition) {
            ParseColumnDefinition(action.Field, true);
          } else {
            action.Field.Name = action.ColumnName;
            ParseColumnAttributes(action.Field);
          }
        }
        if (Kw("AT")) {
          Next();
          action.Field.At =
              ParseInteger("Integer value expected after AT keyword, instead found '");
        }
      } else {
        action.Kind = add ? TAlterKind::AddPrimaryKey : TAlterKind::RedefinePrimaryKey;
        ParsePrimaryKey(action.Index);
      }
    } else if (Kw("DROP")) {
      Next();
      if (Kw("CONSTRAINT")) {
        Next();
        if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
            TokenKind() != ExpScan::String)
          FailFound("Constraint name expected after CONSTRAINT keyword, instead found '");
        action.ConstraintName = Token();
        Next();
        if (!Kw("PRIMARY")) FailFound("PRIMARY keyword expected, instead found '");
      }
      if (Kw("PRIMARY")) {
        Next();
        if (Kw("KEY")) Next();
        action.Kind = TAlterKind::DropPrimaryKey;
      } else {
        if (Kw("COLUMN")) Next();
        if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
            TokenKind() != ExpScan::String)
          FailFound("Column name expected, instead found '");
        action.Kind = TAlterKind::DropColumn;
        action.ColumnName = Token();
        Next();
      }
    } else {
      FailFound("ADD, DROP, or REDEFINE keyword expected, instead found '");
    }
    q.AlterActions.push_back(std::move(action));
    if (!Ch(',')) break;
    Next();
    if (AtTableOption()) break;
  }
  ParseTableOptions(q.Table);
  if (Kw("NOBACKUP")) {
    q.NoBackup = true;
    Next();
  }
}

void TSqlParser::ParseDropTable(TDataQuery& q) {
  Next();  // past TABLE
  if (Kw("IF")) {
    Next();
    Expect("EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
    q.IfExists = true;
  }
  TSourceTable table;
  ParseTableName(table, "Table name expected after DROP TABLE keywords, instead found '",
                 "Table name expected after DROP TABLE keywords, instead found '");
  q.Sources.push_back(std::move(table));
}

void TSqlParser::ParseDropIndex(TDataQuery& q) {
  Next();  // past INDEX
  if (Kw("IF")) {
    Next();
    Expect("EXISTS", "EXISTS keyword expected after IF keyword, instead found '");
    q.IfExists = true;
  }
  TSourceTable table;
  ParseTableName(table, "Table name expected after DROP INDEX keywords, instead found '",
                 "Table name expected after DROP INDEX keywords, instead found '");
  q.Sources.push_back(std::move(table));
  if (!Ch('.')) FailFound("Period (.) expected between table name and index name, instead found '");
  Next();
  if (TokenKind() != ExpScan::Identifier && TokenKind() != ExpScan::QuotedName &&
      TokenKind() != ExpScan::String)
    FailFound("Index name expected after period (.), instead found '");
  q.IndexName = Token();
  Next();
}

}  // namespace tarn
