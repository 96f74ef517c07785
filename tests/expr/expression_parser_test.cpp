// Parsing and binding: the shape and type of trees, every message, and a
// fuzz run over random token sequences.

#include "expr/expression_parser.h"

#include <gtest/gtest.h>

#include "expr/case_name.h"

#include <clocale>
#include <random>

#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/table/field_types.h"
#include "expr/exp_test_table.h"
#include "expr/exp_token_stack.h"

namespace {

using namespace tarn;
using exptest::PrintTree;
using exptest::TMemoryTable;

// Parses with the filter flags and binds against the standard table; no
// boolean check, so any expression can be looked at.
TExpTokenPtr ParseAndBind(std::string_view text, const TMemoryTable& table, int flags = ExpParseFlags::Filter) {
  TExpressionParser parser(TARN_INVALIDFILTER, "T");
  parser.SetText(text);
  parser.NextToken();
  TExpTokenPtr root = parser.ParseExpression(flags);
  parser.BindExpression(TARN_INVALIDFILTER, "T", *root, table);
  return root;
}

struct TTreeCase {
  const char* Text;
  const char* Tree;
  std::uint8_t Type;
};

class ParseTreeTest : public ::testing::TestWithParam<TTreeCase> {};

TEST_P(ParseTreeTest, PrintsCanonicalTreeAndType) {
  const TMemoryTable table = TMemoryTable::Standard();
  const TTreeCase& c = GetParam();
  TExpTokenPtr root = ParseAndBind(c.Text, table);
  EXPECT_EQ(PrintTree(*root), c.Tree) << c.Text;
  EXPECT_EQ(root->DataType, c.Type) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, ParseTreeTest,
    ::testing::Values(
        // precedence: OR < AND < NOT < comparison < sum < product
        TTreeCase{"Amount = 1 OR Amount = 2 AND Price = 3", "((Amount = 1) OR ((Amount = 2) AND (Price = 3)))", 4},
        TTreeCase{"Flag = TRUE AND NOT Name IS NULL", "((Flag = TRUE) AND (NOT (Name = NULL)))", 4},
        TTreeCase{"Name IS NOT NULL", "(Name <> NULL)", 4},
        TTreeCase{"Amount + Price * 2 - 1", "((Amount + (Price * 2)) - 1)", 6},
        TTreeCase{"(Amount + Price) * 2", "((Amount + Price) * 2)", 6},
        // left associativity
        TTreeCase{"Amount - Price - 1", "((Amount - Price) - 1)", 6},
        TTreeCase{"Amount / Price / 2", "((Amount / Price) / 2)", 7},
        // || is + on strings; sizes add up
        TTreeCase{"Name || 'x'", "(Name + 'x')", 1},
        TTreeCase{"Name + 'x'", "(Name + 'x')", 1},
        // integer widths
        TTreeCase{"Price * 2", "(Price * 2)", 6},
        TTreeCase{"Small * Small", "(Small * Small)", 6},
        TTreeCase{"Price * Big", "(Price * Big)", 18},
        TTreeCase{"Price / 2", "(Price / 2)", 7},
        TTreeCase{"Cost / 2", "(Cost / 2)", 8},
        TTreeCase{"Price / Cost", "(Price / Cost)", 8},
        TTreeCase{"Price + Ratio", "(Price + Ratio)", 7},
        TTreeCase{"2147483647", "2147483647", 6},
        TTreeCase{"2147483648", "2147483648", 18},
        TTreeCase{"99999999999999999999", "99999999999999999999", 7},
        TTreeCase{"1.5", "1.5", 7},
        TTreeCase{"-Amount", "(- Amount)", 6},
        TTreeCase{"+Count16", "(+ Count16)", 12},
        // dates, times and timestamps
        TTreeCase{"Born = '2001-02-28'", "(Born = '2001-02-28')", 4},
        TTreeCase{"Born - Born", "(Born - Born)", 6},
        TTreeCase{"Born + 1", "(Born + 1)", 2},
        TTreeCase{"Stamp - Stamp", "(Stamp - Stamp)", 7},
        TTreeCase{"Stamp - Born", "(Stamp - Born)", 6},
        TTreeCase{"At + 5", "(At + 5)", 10},
        TTreeCase{"At < '9:05 PM'", "(At < '9:05 PM')", 4},
        TTreeCase{"Stamp >= '2001-02-03 10:00'", "(Stamp >= '2001-02-03 10:00')", 4},
        TTreeCase{"CURRENT_DATE()", "CURRENT_DATE", 2},
        // the empty string is NULL; #n characters
        TTreeCase{"Name = ''", "(Name = NULL)", 4},
        TTreeCase{"#65", "'A'", 1},
        // a quoted string naming a column is that column
        TTreeCase{"Name = 'Smith'", "(Name = Smith)", 4},
        TTreeCase{"'Last Name' = [Last Name]", "(Last Name = Last Name)", 4},
        TTreeCase{"T.Name = \"x\"", "(T.Name = 'x')", 4},
        // extended predicates
        TTreeCase{"Name LIKE 'S%'", "(Name LIKE 'S%')", 4},
        TTreeCase{"Name NOT LIKE 'S%'", "(Name NOT LIKE 'S%')", 4},
        TTreeCase{"Amount BETWEEN 1 AND 5 + 1", "(Amount BETWEEN 1 AND (5 + 1))", 4},
        TTreeCase{"Amount NOT IN (1, 2, Price)", "(Amount NOT IN (1, 2, Price))", 4},
        // text after a complete expression is not examined
        TTreeCase{"Amount = 1 B", "(Amount = 1)", 4},
        TTreeCase{"Amount = 1 = 2", "(Amount = 1)", 4},
        // comments and blanks
        TTreeCase{"/* c */ Amount\t<>/**/1", "(Amount <> 1)", 4},
        // functions
        TTreeCase{"UPPER(Name) = 'X'", "(UPPER(Name) = 'X')", 4},
        TTreeCase{"SUBSTRING(Name FROM 2 FOR 3)", "SUBSTRING(Name, 2, 3)", 1},
        TTreeCase{"POS('a' IN Name)", "POS('a', Name)", 6},
        TTreeCase{"REPLACE('a' WITH 'b' IN Name)", "REPLACE('a', 'b', Name)", 1},
        TTreeCase{"TRIM(BOTH '_' FROM Name)", "TRIM('_', Name)", 1},
        TTreeCase{"EXTRACT(YEAR FROM Born)", "EXTRACT(Born)", 6},
        TTreeCase{"ROUND(Ratio TO 2)", "ROUND(Ratio, 2)", 7},
        TTreeCase{"IF(Flag THEN 1 ELSE 2)", "IF(Flag, 1, 2)", 6},
        TTreeCase{"IFNULL(Name, 'a', 'b')", "IFNULL(Name, 'a', 'b')", 1},
        TTreeCase{"COALESCE(NULL, Amount, 3)", "COALESCE(NULL, Amount, 3)", 6},
        TTreeCase{"CAST(Amount AS SMALLINT)", "CAST(Amount AS 5)", 5},
        TTreeCase{"CAST('1' AS DECIMAL(10, 2))", "CAST('1' AS 8)", 8},
        TTreeCase{"CAST(Amount AS VARCHAR(10))", "CAST(Amount AS 1)", 1},
        TTreeCase{"TEXTSEARCH('quiz' IN Notes)", "TEXTSEARCH('quiz', Notes)", 4},
        TTreeCase{"TEXTOCCURS('quiz' IN Name)", "TEXTOCCURS('quiz', Name)", 12},
        TTreeCase{"LENGTH(Name) > 2", "(LENGTH(Name) > 2)", 4}), TCaseName());

TEST(ParseTree, SizesAndStringWidths) {
  const TMemoryTable table = TMemoryTable::Standard();
  // Name holds 20 characters (size 21); 'abc' has size 4: 21 + 4 - 1.
  EXPECT_EQ(ParseAndBind("Name + 'abc'", table)->Size, 24);
  EXPECT_EQ(ParseAndBind("Name + Notes", table)->DataType, FieldType::Blob);
  EXPECT_EQ(ParseAndBind("CAST(Amount AS CHAR(7))", table)->Size, 8);
  EXPECT_EQ(ParseAndBind("CAST(Amount AS AUTOINC)", table)->SubType, FieldSubType::AutoInc);
}

TEST(ParseTree, ConstantsHoldStorageValues) {
  const TMemoryTable table = TMemoryTable::Standard();
  TExpTokenPtr root = ParseAndBind("Born = '2001-02-03'", table);
  EXPECT_EQ(root->Right->Value.Int, *EncodeDate(2001, 2, 3));
  root = ParseAndBind("At = '12:30:05 AM'", table);
  EXPECT_EQ(root->Right->Value.Int, *EncodeTime(0, 30, 5, 0));
  root = ParseAndBind("Ratio > 1.5e1", table);
  EXPECT_DOUBLE_EQ(root->Right->Value.Float, 15.0);
  root = ParseAndBind("Name = 'it''s'", table);
  EXPECT_EQ(root->Right->Value.Text, "it's");
  root = ParseAndBind("Name = \"say \"\"hi\"\"\"", table);
  EXPECT_EQ(root->Right->Value.Text, "say \"hi\"");
}

TEST(ParseTree, DecimalPointIsDotUnderAnyLocale) {
  const TMemoryTable table = TMemoryTable::Standard();
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // may be missing; the check holds either way
  TExpTokenPtr root = ParseAndBind("Ratio > 1.5", table);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_DOUBLE_EQ(root->Right->Value.Float, 1.5);
}

TEST(Scanner, TokenKindsAndTexts) {
  TExpressionParser parser;
  parser.SetText("abc_1$ [a b] 'x''y' #65 12 1.5e+3 .5 <> \"q\"");
  const std::pair<int, const char*> expected[] = {
      {ExpScan::Identifier, "abc_1$"}, {ExpScan::QuotedName, "a b"}, {ExpScan::String, "x'y"},
      {ExpScan::CharConstant, "#65"},  {ExpScan::Integer, "12"},     {ExpScan::Number, "1.5e+3"},
      {ExpScan::Number, ".5"},         {'<', "<"},                   {'>', ">"},
      {ExpScan::String, "q"},          {ExpScan::End, ""},
  };
  for (const auto& [kind, text] : expected) {
    EXPECT_EQ(parser.NextToken(), kind) << text;
    EXPECT_EQ(parser.TokenText(), text);
  }
}

struct TErrorCase {
  const char* Text;
  const char* Message;
  int Flags = ExpParseFlags::Filter;
};

class ParseErrorTest : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(ParseErrorTest, RaisesFilterErrorWithMessage) {
  const TMemoryTable table = TMemoryTable::Standard();
  const TErrorCase& c = GetParam();
  try {
    ParseAndBind(c.Text, table, c.Flags);
    FAIL() << "no error for " << c.Text;
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_INVALIDFILTER) << c.Text;
    EXPECT_EQ(e.ErrorTable(), "T");
    EXPECT_EQ(e.ErrorMessage(), c.Message) << c.Text;
    EXPECT_EQ(std::string(e.what()),
              std::string("Tarn Engine Error # 10051 Filter error for the table 'T' - ") + c.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadInputs, ParseErrorTest,
    ::testing::Values(
        // scanning
        TErrorCase{"Name = 'abc", "Missing single quote after 'abc' in filter expression"},
        TErrorCase{"Name = \"abc", "Missing double quote after 'abc' in filter expression"},
        TErrorCase{"[Name = 1", "Missing right bracket after 'Name = 1' in filter expression"},
        TErrorCase{"Amount = 1 /* open", "Missing ending comment slash and asterisk in filter expression"},
        // literals
        TErrorCase{"Name = #300", "Character constants (#) must be within the range of 0 to 255 in filter expression"},
        TErrorCase{"Ratio = 1.2.3", "Constant '1.2.3' is not a valid number in filter expression"},
        TErrorCase{"Ratio = 1e", "Constant '1e' is not a valid number in filter expression"},
        TErrorCase{"Born = '2001-02-30'",
                   "Date, time, or timestamp expression expected, instead found '2001-02-30' in filter expression"},
        TErrorCase{"At = '25:00'",
                   "Date, time, or timestamp expression expected, instead found '25:00' in filter expression"},
        TErrorCase{"CURRENT_TIME(1", "Right parentheses expected after first CURRENT_TIME function parentheses, "
                                     "instead found '1' in filter expression"},
        // structure
        TErrorCase{"(Amount = 1", "Right parentheses expected, instead found '' in filter expression"},
        TErrorCase{"Amount = ", "Unknown or unexpected symbol '' in filter expression"},
        TErrorCase{"Name | 'x'", "Second concatenation symbol '|' expected after first concatentation symbol, "
                                 "instead found 'x' in filter expression"},
        TErrorCase{"Amount = *", "* (all columns) symbol is not allowed in filter expression"},
        TErrorCase{"Amount = ?", "Parameters are not allowed in filter expression"},
        TErrorCase{"COUNT(Amount) > 1", "Aggregate functions are not allowed in filter expression"},
        TErrorCase{"T.(", "Symbol or string expression expected after table correlation name separator '.', "
                          "instead found '(' in filter expression"},
        // extended predicates
        TErrorCase{"Name LIKE 'a'", "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in "
                                    "filter expression", 0},
        TErrorCase{"Amount BETWEEN 1 OR 2",
                   "Expected AND operator in BETWEEN operator, instead found 'OR' in filter expression"},
        TErrorCase{"Amount NOT BETWEEN 1 , 2",
                   "Expected AND operator in NOT BETWEEN operator, instead found ',' in filter expression"},
        TErrorCase{"Amount IN 1", "Expected left parentheses for IN operator, instead found '1' in filter expression"},
        TErrorCase{"Amount IN (1, 2", "Expected right parentheses after IN operator, instead found '' in filter expression"},
        TErrorCase{"Amount IN ()",
                   "You must provide at least one value as an operand of the IN operator  in filter expression"},
        TErrorCase{"Amount NOT IN 1",
                   "Expected left parentheses for NOT IN operator, instead found '1' in filter expression"},
        TErrorCase{"Amount NOT IN (1 2",
                   "Expected right parentheses after NOT IN operator, instead found '2' in filter expression"},
        TErrorCase{"Amount NOT IN ()",
                   "You must provide at least one value as an operand of the NOT IN operator  in filter expression"},
        TErrorCase{"Amount IN (SELECT 1)", "Sub-select queries are not allowed in filter expression"},
        TErrorCase{"Amount NOT 5", "Unknown or unexpected symbol '5' in filter expression"},
        TErrorCase{"Amount IS 5", "Unknown or unexpected symbol '5' found in filter expression"},
        TErrorCase{"Amount IS NOT 5", "Unknown or unexpected symbol '5' found in filter expression"},
        // names
        TErrorCase{"Nobody = 1",
                   "Invalid column name 'Nobody' or table correlation name '' specified in filter expression"},
        TErrorCase{"X.Nobody = 1",
                   "Invalid column name 'Nobody' or table correlation name 'X' specified in filter expression"},
        TErrorCase{"NOT NOT Flag", "Invalid column name 'NOT' or table correlation name '' specified in filter expression"},
        TErrorCase{"FOO(1)", "Unknown or unexpected function 'FOO' found in filter expression"},
        // operator types
        TErrorCase{"Name = 5", "Type mismatch between column 'Name' and constant '5' in filter expression"},
        TErrorCase{"Flag < TRUE", "Type mismatch between column 'Flag' and constant 'TRUE' in filter expression"},
        TErrorCase{"Raw > Raw", "Type mismatch between column 'Raw' and column 'Raw' in filter expression"},
        TErrorCase{"Pic = Pic", "Type mismatch between column 'Pic' and column 'Pic' in filter expression"},
        TErrorCase{"Amount AND Flag", "Type mismatch between column 'Amount' and column 'Flag' in filter expression"},
        TErrorCase{"Amount + Flag", "Type mismatch between column 'Amount' and column 'Flag' in filter expression"},
        TErrorCase{"Born * 2", "Type mismatch between column 'Born' and constant '2' in filter expression"},
        TErrorCase{"Amount - Born", "Type mismatch between column 'Amount' and column 'Born' in filter expression"},
        TErrorCase{"(Amount + 1) = Name", "Type mismatch between expression '+' and column 'Name' in filter expression"},
        TErrorCase{"NOT Amount", "Type mismatch between 'NOT' operator and 'Amount' in filter expression"},
        TErrorCase{"-Name", "Type mismatch between '-' operator and 'Name' in filter expression"},
        TErrorCase{"-Count16", "Type mismatch between '-' operator and 'Count16' in filter expression"},
        TErrorCase{"Amount LIKE 'a'", "Type mismatch between LIKE operator and expression 'Amount' in filter expression"},
        TErrorCase{"Name NOT LIKE 5", "Type mismatch between NOT LIKE operator and expression '5' in filter expression"},
        TErrorCase{"Amount BETWEEN 1 AND 'x'",
                   "Type mismatch between BETWEEN operator and expression 'x' in filter expression"},
        TErrorCase{"Amount IN (1, Name)", "Type mismatch between IN operator and expression 'Name' in filter expression"},
        // functions
        TErrorCase{"UPPER Name", "Left parentheses expected after UPPER keyword, instead found 'Name' in filter expression"},
        TErrorCase{"LOWER(Name", "Right parentheses expected after LOWER function argument, instead found '' in filter expression"},
        TErrorCase{"SUBSTRING(Name FROM 1 FOR 2",
                   "Right parentheses expected after SUBSTRING function arguments, instead found '' in filter expression"},
        TErrorCase{"SUBSTRING(Name, 1)",
                   "FROM keyword expected after first SUBSTRING function argument, instead found ',' in filter expression"},
        TErrorCase{"REPLACE('a' IN Name)",
                   "WITH keyword expected after first REPLACE function argument, instead found 'IN' in filter expression"},
        TErrorCase{"REPLACE('a' WITH 'b' FROM Name)",
                   "IN keyword expected after second REPLACE function argument, instead found 'FROM' in filter expression"},
        TErrorCase{"POS('a', Name)", "IN keyword expected after first POS function argument, instead found ',' in filter expression"},
        TErrorCase{"OCCURS('a' Name)",
                   "IN keyword expected after first OCCURS function argument, instead found 'Name' in filter expression"},
        TErrorCase{"CAST(Amount TO INT)",
                   "AS keyword expected after first CAST function argument, instead found 'TO' in filter expression"},
        TErrorCase{"CAST(Amount AS DOUBLE)", "SQL data type keyword expected, instead found 'DOUBLE' in filter expression"},
        TErrorCase{"TRIM('a' FROM Name)",
                   "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found 'a' in filter expression"},
        TErrorCase{"TRIM(BOTH 'a' WITH Name)",
                   "FROM keyword expected after second TRIM function argument, instead found 'WITH' in filter expression"},
        TErrorCase{"EXTRACT(CENTURY FROM Born)",
                   "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword expected after EXTRACT "
                   "keyword, instead found 'CENTURY' in filter expression"},
        TErrorCase{"EXTRACT(YEAR Born)",
                   "FROM keyword expected after second EXTRACT function argument, instead found 'Born' in filter expression"},
        TErrorCase{"IF(Flag 1 ELSE 2)",
                   "THEN keyword or comma expected after first IF function argument, instead found '1' in filter expression"},
        TErrorCase{"IFNULL(Name, 1 2)",
                   "ELSE keyword or comma expected after second IFNULL function argument, instead found '2' in filter expression"},
        TErrorCase{"COALESCE()",
                   "You must provide at least one value as an argument of the COALESCE operator  in filter expression"},
        TErrorCase{"COALESCE(1, 2",
                   "Expected right parentheses after COALESCE expression arguments, instead found '' in filter expression"},
        TErrorCase{"TEXTSEARCH('a', Notes)",
                   "IN keyword expected after first TEXTSEARCH function argument, instead found ',' in filter expression"},
        TErrorCase{"TEXTOCCURS('a' Notes)",
                   "IN keyword expected after first TEXTOCCURS function argument, instead found 'Notes' in filter expression"},
        // function argument types
        TErrorCase{"UPPER(Amount)", "Type mismatch between UPPER function and function argument in filter expression"},
        TErrorCase{"LENGTH(Born)", "Type mismatch between LENGTH function and function argument in filter expression"},
        TErrorCase{"SUBSTRING(Amount FROM 1)",
                   "Expression argument of SUBSTRING function must be a string or memo in filter expression"},
        TErrorCase{"SUBSTRING(Name FROM 'a')",
                   "FROM argument of SUBSTRING function must be an integer value in filter expression"},
        TErrorCase{"SUBSTRING(Name FROM 1 FOR 1.5)",
                   "FOR argument of SUBSTRING function must be an integer value in filter expression"},
        TErrorCase{"REPLACE('a' WITH 'b' IN Amount)",
                   "IN argument of REPLACE function must be a string or memo in filter expression"},
        TErrorCase{"REPLACE(1 WITH 'b' IN Name)",
                   "Type mismatch between REPLACE function and search string argument in filter expression"},
        TErrorCase{"POS('a' IN Amount)", "Type mismatch between POS function and IN argument in filter expression"},
        TErrorCase{"OCCURS(1 IN Name)",
                   "Type mismatch between OCCURS function and search string argument in filter expression"},
        TErrorCase{"TRIM(LEADING 'ab' FROM Name)",
                   "Trim character argument of TRIM function must be a single character constant in filter expression"},
        TErrorCase{"TRIM(LEADING 'a' FROM Amount)",
                   "FROM argument of TRIM function must be a string or memo in filter expression"},
        TErrorCase{"EXTRACT(DAY FROM Amount)",
                   "FROM argument of EXTRACT function must be a date, time, or timestamp in filter expression"},
        TErrorCase{"ABS(Name)",
                   "Expression argument of ABS function must be an integer, floating-point, or BCD type in filter expression"},
        TErrorCase{"ROUND(Amount)",
                   "Expression argument of ROUND function must be a floating-point or BCD type in filter expression"},
        TErrorCase{"ROUND(Ratio TO Amount)",
                   "Decimal places argument of ROUND function must be an integer constant in filter expression"},
        TErrorCase{"ROUND(Ratio TO 33)",
                   "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in filter expression"},
        TErrorCase{"IF(Amount, 1, 2)", "First expression argument of IF function must be a boolean type in filter expression"},
        TErrorCase{"IF(Flag, 1, 'a')", "Type mismatch between IF expression arguments in filter expression"},
        TErrorCase{"IFNULL(Name, 1, 'a')", "Type mismatch between IFNULL expression arguments in filter expression"},
        TErrorCase{"COALESCE(1, 'a')", "Type mismatch between COALESCE expression arguments in filter expression"},
        TErrorCase{"COALESCE(NULL, '')",
                   "At least one of the COALESCE expression arguments in filter expression must be a non-NULL value"},
        TErrorCase{"TEXTSEARCH(Name IN Notes)",
                   "TEXTSEARCH search text function argument must be a string constant in filter expression"},
        TErrorCase{"TEXTSEARCH(1 IN Notes)",
                   "Type mismatch between TEXTSEARCH function and search string argument in filter expression"},
        TErrorCase{"TEXTOCCURS('a' IN 'b')",
                   "TEXTOCCURS function column argument must be a valid column name in filter expression"},
        TErrorCase{"TEXTSEARCH('a' IN Amount)", "Type mismatch between TEXTSEARCH function and IN argument in filter expression"},
        TErrorCase{"LASTAUTOINC(1)",
                   "Type mismatch between LASTAUTOINC function and table name function argument in filter expression"},
        TErrorCase{"IDENT_CURRENT(Name)",
                   "IDENT_CURRENT table name function argument must be a string constant in filter expression"},
        // CAST
        TErrorCase{"CAST(Ratio AS BOOLEAN)", "Type mismatch between column 'Ratio' and AS argument in filter expression"},
        TErrorCase{"CAST(Born AS TIME)", "Type mismatch between column 'Born' and AS argument in filter expression"},
        TErrorCase{"CAST(Flag AS INTEGER)", "Type mismatch between column 'Flag' and AS argument in filter expression"},
        TErrorCase{"CAST(Notes AS DATE)", "Type mismatch between column 'Notes' and AS argument in filter expression"},
        TErrorCase{"CAST(1 AS DECIMAL(10, x))", "Scale argument must be an integer in filter expression"},
        TErrorCase{"CAST(1 AS DECIMAL(10, 5))", "Scale argument must be an integer less than or equal to 4 but greater "
                                                "than or equal to 0 for the BCD data type in filter expression"},
        TErrorCase{"CAST(1 AS CHAR(x))", "Length argument must be an integer in filter expression"},
        TErrorCase{"CAST(1 AS CHAR(0))",
                   "Length argument must be an integer greater than 0 and less than or equal to 250 in filter expression"},
        TErrorCase{"CAST(1 AS VARBYTES(251))",
                   "Length argument must be an integer greater than 0 and less than or equal to 250 in filter expression"},
        TErrorCase{"CAST(1 AS BLOB(10, 4))", "BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in filter expression"}), TCaseName());

TEST(ParseFilter, RootMustBeBoolean) {
  const TMemoryTable table = TMemoryTable::Standard();
  TExpressionParser parser(TARN_INVALIDFILTER, "T");
  try {
    parser.ParseFilter("Amount + 1", table);
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_INVALIDFILTER);
    EXPECT_EQ(e.ErrorMessage(), "filter expression must be a boolean expression");
  }
  EXPECT_EQ(PrintTree(*parser.ParseFilter("Amount > 5", table)), "(Amount > 5)");
}

TEST(ParseFilter, DeepNestingFailsInsteadOfExhaustingTheStack) {
  const TMemoryTable table = TMemoryTable::Standard();
  TExpressionParser parser(TARN_INVALIDFILTER, "T");
  std::string nested = std::string(100000, '(') + "Flag" + std::string(100000, ')');
  EXPECT_THROW(parser.ParseFilter(nested, table), ETarnEngineError);
  std::string chain = "Amount";
  for (int i = 0; i < 100000; ++i) chain += " + 1";
  EXPECT_THROW(parser.ParseFilter(chain + " > 0", table), ETarnEngineError);
  // Within the limits all is well.
  EXPECT_NO_THROW(parser.ParseFilter(std::string(50, '(') + "Flag" + std::string(50, ')'), table));
}

// The SQL-only constructs parse only under their flags; sub-selects also
// need the statement parser's hooks.
TEST(SqlConstructs, ParseOnlyWithTheirFlags) {
  const auto parse = [](std::string_view text, int flags) -> std::string {
    TExpressionParser parser(TARN_INVALIDFILTER, "T");
    parser.SetText(text);
    parser.NextToken();
    try {
      return PrintTree(*parser.ParseExpression(flags));
    } catch (const ETarnEngineError& e) {
      return e.ErrorMessage();
    }
  };
  constexpr int all = ExpParseFlags::Aggregates | ExpParseFlags::AllColumns | ExpParseFlags::Extended |
                      ExpParseFlags::Parameters | ExpParseFlags::SubSelects;
  EXPECT_EQ(parse("SUM(Amount) + COUNT(*)", all), "(SUM(Amount) + COUNT(*))");
  EXPECT_EQ(parse("SUM(Amount)", ExpParseFlags::Filter), "Aggregate functions are not allowed in filter expression");
  EXPECT_EQ(parse("MAX(SUM(Amount))", all), "Aggregate functions are not allowed in filter expression");
  EXPECT_EQ(parse("SUM(*)", all), "* (all columns) symbol is not allowed in filter expression");
  EXPECT_EQ(parse("c.*", all), "c.*");
  EXPECT_EQ(parse("*", ExpParseFlags::Filter), "* (all columns) symbol is not allowed in filter expression");
  EXPECT_EQ(parse("Amount = ?", all), "(Amount = ?0)");
  EXPECT_EQ(parse("Amount = ?", ExpParseFlags::Filter), "Parameters are not allowed in filter expression");
  EXPECT_EQ(parse("Amount IN (SELECT x FROM y)", all), "Sub-select queries are not allowed in filter expression");
}

TEST(TokenPool, TreesGoBackToThePool) {
  const TMemoryTable table = TMemoryTable::Standard();
  TExpTokenStack& pool = TExpTokenStack::Instance();
  { TExpTokenPtr warm = ParseAndBind("Amount = 1 AND Name = 'x'", table); }
  const std::size_t spares = pool.SpareCount();
  {
    TExpTokenPtr root = ParseAndBind("Amount = 1 AND Name = 'x'", table);
    EXPECT_EQ(pool.SpareCount(), spares - 7);
  }
  EXPECT_EQ(pool.SpareCount(), spares);
  // A failed parse gives its partial tree back too.
  EXPECT_THROW(ParseAndBind("Amount = 1 AND (Name = 'x'", table), ETarnEngineError);
  EXPECT_EQ(pool.SpareCount(), spares);
}

// Random token sequences drawn from the grammar's tokens: each either parses
// and binds or fails with an engine error; nothing else may happen.
TEST(ParseFuzz, RandomTokenSequencesParseOrFailCleanly) {
  const TMemoryTable table = TMemoryTable::Standard();
  static const char* const Tokens[] = {
      "Name", "Amount", "Price", "Flag", "Born", "At", "Stamp", "Ratio", "Cost", "Notes", "Raw", "[Last Name]",
      "'Smith'", "'abc'", "''", "'2001-02-03'", "'10:00'", "\"x\"", "#65", "#300", "1", "2147483648", "1.5", ".5",
      "1e3", "1.2.3", "TRUE", "FALSE", "NULL", "CURRENT_DATE", "(", ")", ",", ".", "=", "<>", "<", ">", "<=", ">=",
      "+", "-", "*", "/", "||", "|", "AND", "OR", "NOT", "LIKE", "BETWEEN", "IN", "IS", "SELECT", "UPPER", "LOWER",
      "LENGTH", "SUBSTRING", "FROM", "FOR", "REPLACE", "WITH", "POS", "OCCURS", "CAST", "AS", "INTEGER", "CHAR(5)",
      "DECIMAL(10,2)", "TRIM", "BOTH", "EXTRACT", "YEAR", "ABS", "ROUND", "TO", "IF", "THEN", "ELSE", "IFNULL",
      "COALESCE", "TEXTSEARCH", "TEXTOCCURS", "LASTAUTOINC", "COUNT", "?", "/*", "*/", "'open", "[open", "%", "#"};
  std::mt19937 random(20261210);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(Tokens) - 1);
  std::uniform_int_distribution<int> length(1, 12);
  int parsed = 0;
  int failed = 0;
  TExpressionParser parser(TARN_INVALIDFILTER, "T");
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    const int n = length(random);
    for (int k = 0; k < n; ++k) {
      text += Tokens[pick(random)];
      text += ' ';
    }
    try {
      parser.SetText(text);
      parser.NextToken();
      TExpTokenPtr root = parser.ParseExpression(ExpParseFlags::Filter);
      parser.BindExpression(TARN_INVALIDFILTER, "T", *root, table);
      ++parsed;
    } catch (const ETarnEngineError& e) {
      ASSERT_EQ(e.ErrorCode(), TARN_INVALIDFILTER) << text;
      ++failed;
    }
  }
  EXPECT_GT(parsed, 1000);
  EXPECT_GT(failed, 1000);
}

}  // namespace
