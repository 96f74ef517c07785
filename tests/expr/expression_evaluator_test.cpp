// Evaluation on records of an in-memory table: the NULL rules, LIKE, the
// functions and the CAST conversions.

#include "expr/expression_evaluator.h"

#include <gtest/gtest.h>

#include "expr/case_name.h"


#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/index/collation.h"
#include "engine/table/field_types.h"
#include "expr/exp_cast.h"
#include "expr/exp_test_table.h"
#include "expr/expression_parser.h"

namespace {

using namespace tarn;
using exptest::TMemoryTable;

TExpTokenPtr Bind(std::string_view text, const TMemoryTable& table) {
  TExpressionParser parser(TARN_INVALIDFILTER, "T");
  parser.SetText(text);
  parser.NextToken();
  TExpTokenPtr root = parser.ParseExpression(ExpParseFlags::Filter);
  parser.BindExpression(TARN_INVALIDFILTER, "T", *root, table);
  return root;
}

// One record: Name 'Smith', Amount 7, Flag TRUE; Price, Born, Ratio, Cost NULL.
TMemoryTable RecordWithNulls() {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  table.SetText("Name", "Smith");
  table.SetInt("Amount", 7);
  table.SetInt("Flag", 1);
  return table;
}

struct TTruthCase {
  const char* Text;
  bool Passes;
};

class NullRuleTest : public ::testing::TestWithParam<TTruthCase> {};

TEST_P(NullRuleTest, FilterPassesAsTheRulesSay) {
  TMemoryTable table = RecordWithNulls();
  const TTruthCase& c = GetParam();
  TExpTokenPtr root = Bind(c.Text, table);
  TExpEvaluator evaluator(*root, table);
  EXPECT_EQ(evaluator.Passes(), c.Passes) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NullRuleTest,
    ::testing::Values(
        // = and <> with NULL operands
        TTruthCase{"Price = 5", false}, TTruthCase{"Price <> 5", true}, TTruthCase{"Price = NULL", true},
        TTruthCase{"Price <> NULL", false}, TTruthCase{"Price IS NULL", true}, TTruthCase{"Amount IS NULL", false},
        TTruthCase{"Amount IS NOT NULL", true}, TTruthCase{"Price = Ratio", true},
        TTruthCase{"Name = ''", false}, TTruthCase{"Smith = ''", true},
        // ordered comparisons: one NULL is FALSE, two NULLs compare zeros
        TTruthCase{"Price > 5", false}, TTruthCase{"Price < 5", false}, TTruthCase{"Price >= Ratio", true},
        TTruthCase{"Price > Ratio", false}, TTruthCase{"Born <= Born", true},
        // strings compare their text; a NULL string is empty
        TTruthCase{"Smith < 'A'", true}, TTruthCase{"Smith > 'A'", false}, TTruthCase{"Name > 'A'", true},
        // boolean logic without a third value
        TTruthCase{"NOT (Price = 5)", true}, TTruthCase{"(Price > 5) OR Flag", true},
        TTruthCase{"(Price > 5) AND Flag", false}, TTruthCase{"NOT (Price > 5)", true},
        // arithmetic with NULL gives NULL
        TTruthCase{"Price + 1 IS NULL", true}, TTruthCase{"Amount + 1 = 8", true},
        TTruthCase{"Name || Smith = Name", true},
        // LIKE with NULL
        TTruthCase{"Smith LIKE '%'", false}, TTruthCase{"Smith NOT LIKE '%'", true},
        // IN and BETWEEN
        TTruthCase{"Amount IN (1, 7)", true}, TTruthCase{"Amount NOT IN (1, 7)", false},
        TTruthCase{"Price IN (1, NULL)", true}, TTruthCase{"Amount BETWEEN 7 AND 7", true},
        TTruthCase{"Amount NOT BETWEEN 1 AND 6", true}, TTruthCase{"Price BETWEEN 1 AND 6", false},
        // numbers compare by value across types
        TTruthCase{"Amount = 7.0", true}, TTruthCase{"Amount < 7.5", true},
        TTruthCase{"CAST(Amount AS DECIMAL(10,2)) = 7", true}, TTruthCase{"Amount * 2 = 14", true},
        TTruthCase{"Amount / 2 = 3.5", true}), TCaseName());

// A boolean column that is NULL: NULL AND TRUE is FALSE, NULL OR TRUE is
// TRUE, NOT NULL is TRUE.
TEST(Evaluate, NullBooleanOperand) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  for (const auto& [text, expected] : std::initializer_list<std::pair<const char*, bool>>{
           {"Flag AND TRUE", false}, {"Flag OR TRUE", true}, {"NOT Flag", true}, {"Flag OR FALSE", false}}) {
    TExpTokenPtr root = Bind(text, table);
    EXPECT_EQ(TExpEvaluator(*root, table).Passes(), expected) << text;
  }
}

TEST(Evaluate, DatesTimesAndTimestamps) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  table.SetInt("Born", *EncodeDate(2001, 2, 3));
  table.SetInt("At", *EncodeTime(9, 5, 7, 0));
  table.SetFloat("Stamp", EncodeTimestamp(*EncodeDate(2001, 2, 3), 0));
  for (const char* text :
       {"Born = '2001-02-03'", "Born = Stamp", "Born + 1 = '2001-02-04'", "Born - 1 < Born", "Stamp >= '2001-02-03'",
        "Stamp < '2001-02-03 00:00:01'", "At > '9:05'", "At = '09:05:07 AM'", "EXTRACT(YEAR FROM Born) = 2001",
        "EXTRACT(DAYOFWEEK FROM Born) = 6", "EXTRACT(DAYOFYEAR FROM Born) = 34", "EXTRACT(HOUR FROM At) = 9",
        "EXTRACT(SECOND FROM At) = 7", "EXTRACT(MONTH FROM Stamp) = 2", "(Born - CAST('2001-01-01' AS DATE)) = 33",
        "CAST(At + 5 AS CHAR(20)) = '09:05:07.5'", "CAST(CAST('09:05' AS TIME) AS CHAR(10)) = '09:05'",
        "CAST(Stamp AS CHAR(30)) = '2001-02-03 00:00'", "CAST(Born AS CHAR(10)) = '2001-02-03'"}) {
    TExpTokenPtr root = Bind(text, table);
    EXPECT_TRUE(TExpEvaluator(*root, table).Passes()) << text;
  }
}

TEST(Evaluate, WeekNumbers) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  TExpTokenPtr root = Bind("EXTRACT(WEEK FROM Born)", table);
  TExpEvaluator evaluator(*root, table);
  // 2004-01-01 is a Thursday: 4 January (Sunday) lies before the first
  // Monday (5 January), so week 1 starts on Monday 29 December 2003.
  const struct {
    int Y, M, D, Week;
  } cases[] = {{2004, 1, 5, 2}, {2004, 1, 1, 1}, {2003, 12, 29, 1}, {2004, 1, 4, 1}, {2010, 1, 4, 1}, {2010, 1, 3, 53}};
  for (const auto& c : cases) {
    table.SetInt("Born", *EncodeDate(c.Y, c.M, c.D));
    EXPECT_EQ(evaluator.Evaluate().Int, c.Week) << c.Y << "-" << c.M << "-" << c.D;
  }
}

struct TLikeCase {
  const char* Subject;
  const char* Pattern;
  bool Matches;
};

TEST(Evaluate, LikePatterns) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  TExpTokenPtr root = Bind("Name LIKE [Last Name]", table);
  TExpEvaluator evaluator(*root, table);
  const TLikeCase cases[] = {
      {"Smith", "S%", true},      {"Smith", "s%", true},       {"Smith", "S_ith", true},   {"Smith", "S_th", false},
      {"Smith", "%ith", true},    {"Smith", "%i%h", true},     {"Smith", "Smith%", true},  {"Smith", "Smit", false},
      {"aXbXc", "%X%c", true},    {"abcabd", "%abd", true},    {"abc", "a%b%c%", true},    {"abc", "%%", true},
      {"abc", "_", false},        {"abc", "%d", false},        {"a%c", "a%c", true},
  };
  for (const TLikeCase& c : cases) {
    table.SetText("Name", c.Subject);
    table.SetText("Last Name", c.Pattern);
    EXPECT_EQ(evaluator.Passes(), c.Matches) << c.Subject << " LIKE " << c.Pattern;
  }
}

TEST(Evaluate, LikeIsCaseSensitiveWithALanguage) {
  if (!IsValidLocale(1033, 0)) GTEST_SKIP() << "no collator for language 1033";
  TMemoryTable table = TMemoryTable::Standard(1033, 0);
  table.AddRecord();
  table.SetText("Name", "Smith");
  TExpTokenPtr upper = Bind("Name LIKE 'S%'", table);
  TExpTokenPtr lower = Bind("Name LIKE 's%'", table);
  EXPECT_TRUE(TExpEvaluator(*upper, table).Passes());
  EXPECT_FALSE(TExpEvaluator(*lower, table).Passes());
}

struct TValueCase {
  const char* Text;
  const char* Expected;  // the result cast to text; "NULL" for NULL
};

class FunctionTest : public ::testing::TestWithParam<TValueCase> {};

TEST_P(FunctionTest, GivesItsResult) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  table.SetText("Name", "Smith and Smithers");
  table.SetInt("Amount", -7);
  table.SetFloat("Ratio", 2.25);
  table.SetBcd("Cost", "-12.35");
  table.SetBlob("Notes", "The quiz of quizzes, quizzing all");
  const TValueCase& c = GetParam();
  TExpTokenPtr root = Bind(c.Text, table);
  TExpEvaluator evaluator(*root, table);
  const TExpValue& v = evaluator.Evaluate();
  std::string text;
  AppendValueText(v, text);
  EXPECT_EQ(v.Null ? std::string("NULL") : text, c.Expected) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Functions, FunctionTest,
    ::testing::Values(
        TValueCase{"UPPER(Name)", "SMITH AND SMITHERS"}, TValueCase{"LOWER(Name)", "smith and smithers"},
        TValueCase{"LENGTH(Name)", "18"}, TValueCase{"LENGTH(Smith)", "NULL"},
        TValueCase{"SUBSTRING(Name FROM 7 FOR 3)", "and"}, TValueCase{"SUBSTRING(Name FROM 0 FOR 5)", "Smith"},
        TValueCase{"SUBSTRING(Name FROM 11)", "Smithers"}, TValueCase{"SUBSTRING(Name FROM 40)", "NULL"},
        TValueCase{"SUBSTRING(Name FROM 2 FOR -1)", "NULL"},
        TValueCase{"REPLACE('ith' WITH 'ythe' IN Name)", "Smythe and Smytheers"},
        TValueCase{"REPLACE('x' WITH 'x' IN Name)", "Smith and Smithers"},
        TValueCase{"POS('and' IN Name)", "7"}, TValueCase{"POS('zzz' IN Name)", "0"},
        TValueCase{"OCCURS('mith' IN Name)", "2"}, TValueCase{"OCCURS('aa' IN 'aaaa')", "2"},
        TValueCase{"TRIM(LEADING 'S' FROM Name)", "mith and Smithers"},
        TValueCase{"TRIM(TRAILING 's' FROM Name)", "Smith and Smither"},
        TValueCase{"TRIM(BOTH 'x' FROM 'xxaxx')", "a"}, TValueCase{"ABS(Amount)", "7"},
        TValueCase{"ABS(Ratio)", "2.25"}, TValueCase{"ABS(Cost)", "12.35"}, TValueCase{"ABS(Price)", "NULL"},
        TValueCase{"ROUND(Ratio TO 1)", "2.3"}, TValueCase{"ROUND(Ratio)", "2"},
        TValueCase{"ROUND(-Ratio TO 1)", "-2.3"}, TValueCase{"ROUND(Cost TO 1)", "-12.4"},
        TValueCase{"IF(Amount < 0 THEN 'neg' ELSE 'pos')", "neg"}, TValueCase{"IF(Flag, 1, 2)", "2"},
        TValueCase{"IFNULL(Price, 'none', 'some')", "none"}, TValueCase{"COALESCE(Price, Amount, 3)", "-7"},
        TValueCase{"COALESCE(Price, NULL)", "NULL"}, TValueCase{"TEXTSEARCH('quiz' IN Notes)", "True"},
        TValueCase{"TEXTSEARCH('quiz* all' IN Notes)", "True"}, TValueCase{"TEXTSEARCH('quiz nothing' IN Notes)", "False"},
        TValueCase{"TEXTSEARCH('the of' IN Notes)", "True"}, TValueCase{"TEXTSEARCH('QUIZZES' IN Notes)", "True"},
        TValueCase{"TEXTOCCURS('quiz*' IN Notes)", "3"}, TValueCase{"TEXTOCCURS('quiz' IN Notes)", "1"},
        TValueCase{"LASTAUTOINC('T')", "1"}, TValueCase{"LASTAUTOINC('Other')", "NULL"},
        TValueCase{"Name || ' & co'", "Smith and Smithers & co"}), TCaseName());

class CastTest : public ::testing::TestWithParam<TValueCase> {};

TEST_P(CastTest, ConvertsAsTheTableSays) {
  TMemoryTable table = TMemoryTable::Standard();
  table.AddRecord();
  table.SetBytes("Raw", std::string("\x01\x02\x00\x00", 4));
  const TValueCase& c = GetParam();
  TExpTokenPtr root = Bind(c.Text, table);
  TExpEvaluator evaluator(*root, table);
  const TExpValue& v = evaluator.Evaluate();
  std::string text;
  AppendValueText(v, text);
  EXPECT_EQ(v.Null ? std::string("NULL") : text, c.Expected) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, CastTest,
    ::testing::Values(
        // failures leave the zero value without an error
        TValueCase{"CAST('abc' AS INTEGER)", "0"}, TValueCase{"CAST('2001-02-30' AS DATE)", "1899-12-30"},
        TValueCase{"CAST('x' AS TIME)", "00:00"}, TValueCase{"CAST('x' AS TIMESTAMP)", "1899-12-30 00:00"},
        TValueCase{"CAST('x' AS DECIMAL(10,2))", "0"}, TValueCase{"CAST('maybe' AS BOOLEAN)", "False"},
        // string to others
        TValueCase{"CAST('70000' AS SMALLINT)", "4464"}, TValueCase{"CAST('-1' AS WORD)", "65535"},
        TValueCase{"CAST('9000000000' AS LARGEINT)", "9000000000"}, TValueCase{"CAST('1.25' AS FLOAT)", "1.25"},
        TValueCase{"CAST('12.3456' AS DECIMAL(10,2))", "12.35"}, TValueCase{"CAST('true' AS BOOLEAN)", "True"},
        TValueCase{"CAST('2001-2-3' AS DATE)", "2001-02-03"}, TValueCase{"CAST('1:05 PM' AS TIME)", "13:05"},
        TValueCase{"CAST('2001-02-03 10:20:30' AS TIMESTAMP)", "2001-02-03 10:20:30"},
        TValueCase{"CAST('abcdef' AS CHAR(3))", "abc"},
        // numbers
        TValueCase{"CAST(70000 AS SMALLINT)", "4464"}, TValueCase{"CAST(-1 AS WORD)", "65535"},
        TValueCase{"CAST(CAST(-1 AS SMALLINT) AS LARGEINT)", "-1"}, TValueCase{"CAST(CAST(65535 AS WORD) AS INTEGER)", "65535"},
        TValueCase{"CAST(-2.9 AS INTEGER)", "-2"}, TValueCase{"CAST(2.71828 AS DECIMAL(10,4))", "2.7183"},
        TValueCase{"CAST(-2.71828 AS DECIMAL(10,2))", "-2.72"}, TValueCase{"CAST(7 AS DECIMAL(10,2))", "7"},
        TValueCase{"CAST(CAST('-3.75' AS DECIMAL(10,2)) AS INTEGER)", "-3"},
        TValueCase{"CAST(CAST('3.75' AS DECIMAL(10,2)) AS FLOAT)", "3.75"}, TValueCase{"CAST(0.1 AS CHAR(20))", "0.1"},
        TValueCase{"CAST(123456789012345678 AS CHAR(30))", "123456789012345678"},
        TValueCase{"CAST(1e20 AS CHAR(30))", "1E+20"},
        TValueCase{"CAST(CAST('2.50' AS DECIMAL(10,2)) AS CHAR(10))", "2.5"},
        // booleans
        TValueCase{"CAST(TRUE AS SMALLINT)", "1"}, TValueCase{"CAST(CAST(0 AS SMALLINT) AS BOOLEAN)", "False"},
        TValueCase{"CAST(CAST(3 AS WORD) AS BOOLEAN)", "True"}, TValueCase{"CAST(TRUE AS CHAR(5))", "True"},
        TValueCase{"CAST(5 AS BOOLEAN)", "True"},
        // dates
        TValueCase{"CAST(CAST('2001-02-03' AS DATE) AS TIMESTAMP)", "2001-02-03 00:00"},
        TValueCase{"CAST(CAST('10:00' AS TIME) AS TIMESTAMP)", "1899-12-30 10:00"},
        TValueCase{"CAST(CAST('2001-02-03 10:00' AS TIMESTAMP) AS DATE)", "2001-02-03"},
        TValueCase{"CAST(CAST('2001-02-03 10:00:01.25' AS TIMESTAMP) AS TIME)", "10:00:01.25"},
        // bytes
        TValueCase{"CAST(Raw AS INTEGER)", "513"}, TValueCase{"CAST(Raw AS SMALLINT)", "513"},
        TValueCase{"CAST(CAST(258 AS BYTES(2)) AS SMALLINT)", "258"},
        // NULL stays NULL
        TValueCase{"CAST(NULL AS INTEGER)", "NULL"}, TValueCase{"CAST(Price AS CHAR(5))", "NULL"}), TCaseName());

TEST(Evaluate, TreeIsReusableAcrossRecordsAndEvaluators) {
  TMemoryTable table = TMemoryTable::Standard();
  for (int i = 0; i < 10; ++i) {
    table.AddRecord();
    table.SetInt("Amount", i);
    table.SetText("Name", i % 2 == 0 ? "Sam" : "Tom");
  }
  TExpTokenPtr root = Bind("Amount > 5 AND Name LIKE 'S%'", table);
  TExpEvaluator first(*root, table);
  TExpEvaluator second(*root, table);
  int passed = 0;
  for (std::size_t i = 0; i < table.RecordCount(); ++i) {
    table.Select(i);
    const bool a = first.Passes();
    EXPECT_EQ(a, second.Passes());
    passed += a;
  }
  EXPECT_EQ(passed, 2);  // 6 and 8
}

}  // namespace
