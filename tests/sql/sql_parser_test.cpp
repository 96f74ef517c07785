// The statement parser: every statement kind and option in its canonical
// printed form, the parsed form behind it, and the exact messages (with the
// offset of the offending token) of bad statements.

#include "sql/sql_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "sql/query_statement.h"
#include "sql_test_support.h"

namespace {

using sqltest::ParseOutcome;
using sqltest::TStatementFixture;
using namespace tarn;

struct TPrintCase {
  const char* Text;
  const char* Printed;  // nullptr: the text itself
};

// Each text parses and prints as given; printing a parse of the printed text
// gives it back unchanged.
const TPrintCase PrintCases[] = {
    // SELECT: columns, aliases, aggregates, DISTINCT, qualified names.
    {"select * from Customer", "SELECT * FROM Customer"},
    {"SELECT ALL DISTINCT c.*, Name AS N, Amount a, 'x y' AS \"Label\" FROM Customer c",
     "SELECT ALL DISTINCT c.*, Name AS N, Amount AS a, 'x y' AS Label FROM Customer AS c"},
    {"SELECT COUNT(*), SUM(Amount * 2), AVG(Amount), MIN(Name), MAX(Name), RUNSUM(Amount) FROM T",
     "SELECT COUNT(*), SUM(Amount * 2), AVG(Amount), MIN(Name), MAX(Name), RUNSUM(Amount) FROM T"},
    {"SELECT [Order], [First Name] FROM [My Table] AS [x y]",
     "SELECT [Order], [First Name] FROM [My Table] AS [x y]"},
    {"SELECT a FROM MEMORY t, data\\u AS v", "SELECT a FROM MEMORY t, data\\u AS v"},
    {"SELECT a FROM 'c:/dir'\\t", "SELECT a FROM [c:/dir]\\t"},
    {"SELECT \"a]b\".x FROM \"t]\" ORDER BY 'o]'", "SELECT 'a]b'.x FROM 't]' ORDER BY 'o]'"},
    // WHERE, expressions with parameters and sub-selects.
    {"SELECT a FROM t WHERE a = ? AND b LIKE 'x%' OR NOT c IS NULL",
     "SELECT a FROM t WHERE a = ? AND b LIKE 'x%' OR NOT c IS NULL"},
    {"SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE u.c = t.c) AND d NOT IN (1, 2)",
     "SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE u.c = t.c) AND d NOT IN (1, 2)"},
    {"SELECT (SELECT MAX(b) FROM u) AS m FROM t WHERE a BETWEEN 1 AND 5",
     "SELECT (SELECT MAX(b) FROM u) AS m FROM t WHERE a BETWEEN 1 AND 5"},
    {"SELECT SUBSTRING(a FROM 2 FOR 3), CAST(b AS VARCHAR(10)), TRIM(BOTH ' ' FROM c), "
     "EXTRACT(YEAR FROM d) FROM t",
     "SELECT SUBSTRING(a FROM 2 FOR 3), CAST(b AS VARCHAR(10)), TRIM(BOTH ' ' FROM c), "
     "EXTRACT(YEAR FROM d) FROM t"},
    // Parentheses only where the grammar needs them: operations chain to the
    // left, a sign takes a primary, NOT a predicate, a predicate two sums, and
    // an argument read up to IN keeps its IN predicates in parentheses.
    {"SELECT a - (b - c), (a - b) - c, a * (b + c), ((a * b)) / c, a / (b * c), -(-a), -(a + b), "
     "a - -b, a || b + c FROM t",
     "SELECT a - (b - c), a - b - c, a * (b + c), a * b / c, a / (b * c), -(-a), -(a + b), a - -b, "
     "a || b + c FROM t"},
    {"SELECT a FROM t WHERE (NOT (NOT a = 1)) AND (b OR c) AND NOT (d AND e) OR ((f = 1) = (g = "
     "2))",
     "SELECT a FROM t WHERE NOT (NOT a = 1) AND (b OR c) AND NOT (d AND e) OR (f = 1) = (g = 2)"},
    {"SELECT a FROM t WHERE a IN ((b = c), (d + 1)) AND (a BETWEEN (b OR c) AND (d * 2)) AND "
     "((a = 1) IS NULL)",
     "SELECT a FROM t WHERE a IN ((b = c), d + 1) AND a BETWEEN (b OR c) AND d * 2 AND (a = 1) IS "
     "NULL"},
    {"SELECT POS((a IN (1)) IN b), POS((a IN (1) OR c) IN b), REPLACE((a IN (2)) WITH (b IN (3)) "
     "IN c), POS(a NOT IN (1) IN b), POS(x + (a IN (1)) IN b), LOWER(a IN (1)) FROM t",
     "SELECT POS((a IN (1)) IN b), POS((a IN (1)) OR c IN b), REPLACE((a IN (2)) WITH (b IN (3)) "
     "IN c), POS(a NOT IN (1) IN b), POS(x + (a IN (1)) IN b), LOWER(a IN (1)) FROM t"},
    // Joins.
    {"SELECT * FROM a JOIN b ON a.x = b.x INNER JOIN c ON b.y = c.y",
     "SELECT * FROM a INNER JOIN b ON a.x = b.x INNER JOIN c ON b.y = c.y"},
    {"SELECT * FROM a LEFT JOIN b ON a.x = b.x RIGHT OUTER JOIN MEMORY c ON b.y = c.y, d",
     "SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x RIGHT OUTER JOIN MEMORY c ON b.y = c.y, d"},
    {"SELECT * FROM ((a LEFT OUTER JOIN b ON a.x = b.x) JOIN c ON b.y = c.y)",
     "SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x INNER JOIN c ON b.y = c.y"},
    // GROUP BY, HAVING, ORDER BY, options.
    {"SELECT c.Name, COUNT(*) FROM t c GROUP BY c.Name, 2 HAVING COUNT(*) > 1 ORDER BY 2 DESC, "
     "c.Name ASC NOCASE",
     "SELECT c.Name, COUNT(*) FROM t AS c GROUP BY c.Name, 2 HAVING COUNT(*) > 1 ORDER BY 2 "
     "DESC, c.Name NOCASE"},
    {"SELECT a FROM t ORDER BY a DESCENDING TOP 10 WITH LOCKS LANGUAGE 'German (Standard)' SORT "
     "'German Phone Book "
     "Order' ENCRYPTED WITH 'secret' NOJOINOPTIMIZE",
     "SELECT a FROM t ORDER BY a DESC TOP 10 WITH LOCKS LANGUAGE 'German (Standard)' SORT 'German "
     "Phone Book Order' "
     "ENCRYPTED WITH 'secret' NOJOINOPTIMIZE"},
    {"SELECT a INTO Result FROM t", "SELECT a INTO Result FROM t"},
    {"SELECT a INTO MEMORY FROM t", "SELECT a INTO MEMORY FROM t"},
    {"SELECT a INTO MEMORY r FROM t;", "SELECT a INTO MEMORY r FROM t"},
    {"SELECT a INTO [out]\\r FROM t", "SELECT a INTO out\\r FROM t"},
    // UNION.
    {"SELECT a FROM t UNION SELECT b FROM u UNION ALL SELECT c FROM v ORDER BY 1 TOP 3",
     "SELECT a FROM t UNION SELECT b FROM u UNION ALL SELECT c FROM v ORDER BY 1 TOP 3"},
    {"SELECT a FROM t TOP 2 UNION SELECT b FROM u TOP 3 ORDER BY 1 TOP 4", nullptr},
    {"SELECT a FROM t UNION SELECT b FROM u WITH LOCKS TOP 4", nullptr},
    {"((SELECT a FROM t)) UNION (SELECT b FROM u WHERE b > 0)",
     "((SELECT a FROM t)) UNION (SELECT b FROM u WHERE b > 0)"},
    {"(SELECT a FROM t JOIN u ON t.x = u.x)", "(SELECT a FROM t INNER JOIN u ON t.x = u.x)"},
    // Names that are function words are bracketed: unbracketed, LOWER. or
    // Cast would start a function call.
    {"SELECT [lower].[Cast], [Count] FROM t AS [Lower] ORDER BY [CAST]",
     "SELECT [lower].[Cast], Count FROM t AS [Lower] ORDER BY [CAST]"},
    // A column called * in ORDER BY or GROUP BY, which take no bare *.
    {"SELECT a FROM t c GROUP BY [*], c.[*] ORDER BY '*', c.[x y], 2",
     "SELECT a FROM t AS c GROUP BY [*], c.[*] ORDER BY [*], c.[x y], 2"},
    // INSERT.
    {"INSERT INTO t VALUES (1, 'two', NULL, ?)", "INSERT INTO t VALUES (1, 'two', NULL, ?)"},
    // A text that starts like a CURRENT_ keyword stays a text.
    {"INSERT INTO t VALUES ('CURRENT_DATE', CURRENT_DATE, 'current_x')", nullptr},
    // A string that starts like a date constant stays a string.
    {"INSERT INTO t VALUES (1 < '#', '#1#')", "INSERT INTO t VALUES (1 < '#', '#1#')"},
    {"insert into MEMORY t x (a, x.b) values (1 + 2, '') NOAUTOINC COMMIT INTERVAL 100 FLUSH",
     "INSERT INTO MEMORY t x (a, x.b) VALUES (1 + 2, '') NOAUTOINC COMMIT INTERVAL 100 FLUSH"},
    {"INSERT INTO t (*) SELECT * FROM u WHERE a > 1 COMMIT FLUSH",
     "INSERT INTO t (*) SELECT * FROM u WHERE a > 1 COMMIT FLUSH"},
    {"INSERT INTO t (SELECT a, b FROM u)", "INSERT INTO t (SELECT a, b FROM u)"},
    {"INSERT INTO t (SELECT a FROM u) UNION SELECT b FROM v", nullptr},
    {"INSERT INTO d\\t (a) (SELECT a FROM u) UNION SELECT b FROM v",
     "INSERT INTO d\\t (a) (SELECT a FROM u) UNION SELECT b FROM v"},
    // UPDATE.
    {"UPDATE t SET a = a + 1, b = 'x' WHERE c = 2", "UPDATE t SET a = a + 1, b = 'x' WHERE c = 2"},
    {"UPDATE t AS x SET x.a = u.a FROM t LEFT JOIN u ON t.k = u.k WHERE u.a IS NOT NULL NOAUTOINC "
     "COMMIT INTERVAL 5 "
     "NOJOINOPTIMIZE",
     "UPDATE t AS x SET x.a = u.a FROM t LEFT OUTER JOIN u ON t.k = u.k WHERE u.a IS NOT NULL "
     "NOAUTOINC COMMIT "
     "INTERVAL 5 NOJOINOPTIMIZE"},
    {"UPDATE t SET a = 1 FROM t x, u", "UPDATE t AS x SET a = 1 FROM t, u"},
    // DELETE.
    {"DELETE FROM t", "DELETE FROM t"},
    {"DELETE FROM t JOIN u ON t.a = u.a WHERE u.b = 1 COMMIT FLUSH NOJOINOPTIMIZE",
     "DELETE FROM t INNER JOIN u ON t.a = u.a WHERE u.b = 1 COMMIT FLUSH NOJOINOPTIMIZE"},
    // CREATE TABLE.
    {"CREATE TABLE t (a INTEGER, b VARCHAR(20))", "CREATE TABLE t (a INTEGER, b VARCHAR(20))"},
    {"CREATE TABLE IF NOT EXISTS MEMORY t (ID AUTOINC, Name CHAR(30) DESCRIPTION 'the name' NOT "
     "NULL DEFAULT 'x' "
     "CHARCASE UPPER, Amount DECIMAL(10,2) MIN 0 MAXIMUM 1000, Note MEMO, Pic GRAPHIC, Raw "
     "BLOB(0,2), Flag BOOL, "
     "Born DATE, At TIME, Stamp TIMESTAMP, Small SMALLINT, W WORD, Big LARGEINT, F FLOAT, M MONEY, "
     "B BYTES(8))",
     "CREATE TABLE IF NOT EXISTS MEMORY t (ID AUTOINC, Name VARCHAR(30) DESCRIPTION 'the name' NOT "
     "NULL DEFAULT 'x' "
     "CHARCASE UPPER, Amount DECIMAL(20,2) MIN '0' MAX '1000', Note MEMO, Pic GRAPHIC, Raw BLOB, "
     "Flag BOOLEAN, "
     "Born DATE, [At] TIME, Stamp TIMESTAMP, Small SMALLINT, W WORD, Big LARGEINT, F FLOAT, M "
     "MONEY, B BYTES(8))"},
    {"CREATE TABLE t (a INTEGER DEFAULT -5 MIN -10, b VARCHAR(5) CHARCASE NOCHANGE, CONSTRAINT pk "
     "UNIQUE DESC NOCASE "
     "PRIMARY KEY (a, b) COMPRESS FULL TEXT INDEX (b) STOP WORDS 'a an the' SPACE CHARS ' ,' "
     "INCLUDE CHARS '-' "
     "DESCRIPTION 'Table' BLOB BLOCK SIZE 1024 LANGUAGE 'ANSI Standard' ENCRYPTED WITH 'pw' USER "
     "MINOR VERSION 2 "
     "USER MAJOR VERSION 1 LAST AUTOINC 100)",
     "CREATE TABLE t (a INTEGER DEFAULT '-5' MIN '-10', b VARCHAR(5) CHARCASE NOCHANGE, CONSTRAINT "
     "pk UNIQUE DESC "
     "NOCASE PRIMARY KEY (a, b) COMPRESS FULL TEXT INDEX (b) STOP WORDS 'a an the' SPACE CHARS ' "
     ",' INCLUDE CHARS "
     "'-' DESCRIPTION 'Table' BLOB BLOCK SIZE 1024 LANGUAGE 'ANSI Standard' ENCRYPTED WITH 'pw' "
     "USER MAJOR VERSION 1 "
     "USER MINOR VERSION 2 LAST AUTOINC 100)"},
    {"CREATE TABLE t (a INT, PRIMARY KEY (a), DESCRIPTION 'x')",
     "CREATE TABLE t (a INTEGER, PRIMARY KEY (a) DESCRIPTION 'x')"},
    {"CREATE TABLE t (a INT LAST AUTOINC -1)", "CREATE TABLE t (a INTEGER LAST AUTOINC -1)"},
    // CREATE INDEX and DROP INDEX.
    {"CREATE INDEX ByName ON t (Name)", "CREATE INDEX ByName ON t (Name)"},
    {"CREATE UNIQUE DESCENDING NOCASE INDEX IF NOT EXISTS [By Name] ON MEMORY t (Last, First) "
     "COMPRESS DUPBYTE",
     "CREATE UNIQUE DESC NOCASE INDEX IF NOT EXISTS [By Name] ON MEMORY t ([Last], First) COMPRESS "
     "DUPBYTE"},
    {"CREATE ASC INDEX i ON t (a) COMPRESS TRAILBYTE",
     "CREATE INDEX i ON t (a) COMPRESS TRAILBYTE"},
    {"CREATE NOCASE INDEX i ON d\\t (a) COMPRESS NONE",
     "CREATE NOCASE INDEX i ON d\\t (a) COMPRESS NONE"},
    {"DROP INDEX t.ByName", "DROP INDEX t.ByName"},
    {"DROP INDEX IF EXISTS MEMORY t.PRIMARY", "DROP INDEX IF EXISTS MEMORY t.[PRIMARY]"},
    // ALTER TABLE and DROP TABLE.
    {"ALTER TABLE t ADD COLUMN c INTEGER NOT NULL AT 2, DROP b, REDEFINE a x VARCHAR(9) "
     "DESCRIPTION 'n', "
     "REDEFINE COLUMN d DEFAULT 'z' AT 1, DROP COLUMN e",
     "ALTER TABLE t ADD COLUMN c INTEGER NOT NULL AT 2, DROP COLUMN b, REDEFINE COLUMN a x "
     "VARCHAR(9) DESCRIPTION "
     "'n', REDEFINE COLUMN d DEFAULT 'z' AT 1, DROP COLUMN e"},
    {"ALTER TABLE MEMORY t DROP CONSTRAINT pk PRIMARY KEY, ADD CONSTRAINT pk2 UNIQUE PRIMARY KEY "
     "(a) COMPRESS FULL, "
     "REDEFINE NOCASE PRIMARY KEY (b), DROP PRIMARY TEXT INDEX (c) DESCRIPTION 'd' NOBACKUP",
     "ALTER TABLE MEMORY t DROP CONSTRAINT pk PRIMARY KEY, ADD CONSTRAINT pk2 UNIQUE PRIMARY KEY "
     "(a) COMPRESS FULL, "
     "REDEFINE NOCASE PRIMARY KEY (b), DROP PRIMARY KEY TEXT INDEX (c) DESCRIPTION 'd' NOBACKUP"},
    {"ALTER TABLE t ADD a INT, LANGUAGE 'ANSI Standard'",
     "ALTER TABLE t ADD COLUMN a INTEGER LANGUAGE 'ANSI Standard'"},
    {"DROP TABLE t", "DROP TABLE t"},
    {"drop table if exists MEMORY d\\t;", "DROP TABLE IF EXISTS MEMORY d\\t"},
    // Transactions.
    {"START TRANSACTION", "START TRANSACTION"},
    {"COMMIT", "COMMIT"},
    {"commit work flush", "COMMIT FLUSH"},
    {"ROLLBACK WORK;", "ROLLBACK"},
    // Comments and a second statement after ";" (parsed when Execute reaches it).
    {"/* list */ SELECT a FROM t; DELETE FROM t", "SELECT a FROM t"},
};

class SqlPrint : public ::testing::TestWithParam<TPrintCase> {};

TEST_P(SqlPrint, PrintsCanonicallyAndParsesBack) {
  TStatementFixture f;
  const std::string printed = ParseOutcome(f.Statement, GetParam().Text);
  EXPECT_EQ(printed, GetParam().Printed ? GetParam().Printed : GetParam().Text);
  EXPECT_EQ(ParseOutcome(f.Statement, printed), printed);
}

INSTANTIATE_TEST_SUITE_P(Statements, SqlPrint, ::testing::ValuesIn(PrintCases),
                         [](const ::testing::TestParamInfo<TPrintCase>& info) {
                           std::string name = std::to_string(info.index);
                           for (const char* c = info.param.Text; *c != '\0' && name.size() < 40;
                                ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

// A text the parser takes prints as a text it takes again: a long chain
// prints flat, and a text nested to the limit, every level of it crossing
// the grammar's levels, prints no deeper.
TEST(SqlPrint, DeepTextsPrintWithinTheNestingLimit) {
  std::string chain = "a";
  for (int i = 0; i < 500; ++i) chain += i % 2 ? " * b" : " OR c";
  std::string nested = "x OR y";
  for (int i = 0; i < 120; ++i) nested = "a OR b AND NOT c = d + e * -(" + nested + ")";
  for (const std::string& e : {chain, nested}) {
    TStatementFixture f;
    const std::string text = "SELECT a FROM t WHERE " + e;
    const std::string printed = ParseOutcome(f.Statement, text);
    EXPECT_EQ(printed, text);
    EXPECT_EQ(ParseOutcome(f.Statement, printed), printed);
  }
}

struct TErrorCase {
  const char* Text;
  const char* Message;
  std::size_t Offset;  // of the offending token
};

// Every statement message, completed as the parser completes it.
const TErrorCase ErrorCases[] = {
    {"",
     "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found ''",
     0},
    {"GRANT x",
     "SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found "
     "'GRANT'",
     0},
    {"CREATE VIEW v",
     "TABLE, INDEX, UNIQUE, ASC, ASCENDING, DESC, DESCENDING, or NOCASE keyword expected, instead "
     "found 'VIEW'",
     7},
    {"ALTER INDEX i", "TABLE keyword expected, instead found 'INDEX'", 6},
    {"DROP VIEW v", "TABLE or INDEX keyword expected, instead found 'VIEW'", 5},
    {"START WORK", "TRANSACTION keyword expected, instead found 'WORK'", 6},
    {"(DELETE FROM t)", "SELECT keyword expected, instead found 'DELETE'", 1},
    {"SELECT a FROM t x y", "End of SELECT statement expected, instead found 'y'", 18},
    {"DELETE FROM t u v", "End of DELETE statement expected, instead found 'v'", 16},
    {"COMMIT INTERVAL", "End of COMMIT statement expected, instead found 'INTERVAL'", 7},
    {"SELECT a AS 1 FROM t", "Symbol or string expected after AS keyword, instead found '1'", 12},
    {"SELECT a FROM t ORDER BY t.+",
     "Symbol or string expected after table correlation name, instead found '+'", 27},
    {"SELECT a FROM t WHERE a IN (SELECT b INTO x FROM u)",
     "The INTO clause can only be used with the master query", 37},
    {"SELECT a INTO , FROM t", "Result table name expected in INTO clause, instead found ','", 14},
    // An empty quoted name names no table.
    {"SELECT a INTO \"\" FROM t", "Result table name expected in INTO clause, instead found ''",
     14},
    {"SELECT a FROM []", "Table name expected after FROM keyword, instead found ''", 14},
    {"SELECT a FROM data\\'' x", "Table name expected after FROM keyword, instead found ''", 19},
    {"SELECT a WHERE b = 1", "FROM keyword expected, instead found 'WHERE'", 9},
    {"SELECT a FROM WHERE", "Table name expected after FROM keyword, instead found 'WHERE'", 14},
    {"SELECT a FROM t JOIN ON x", "Table name expected after JOIN keyword, instead found 'ON'", 21},
    {"SELECT a FROM t JOIN u WHERE x", "ON keyword expected in JOIN clause, instead found 'WHERE'",
     23},
    {"SELECT a FROM t INNER u", "JOIN keyword expected after INNER keyword, instead found 'u'", 22},
    {"SELECT a FROM t LEFT OUTER u",
     "JOIN keyword expected after LEFT or OUTER keyword, instead found 'u'", 27},
    {"SELECT a FROM t RIGHT u",
     "JOIN keyword expected after RIGHT or OUTER keyword, instead found 'u'", 22},
    {"SELECT a FROM t FULL OUTER JOIN u ON x = y",
     "Full outer joins are currently not supported in Tarn SQL SELECT statements", 16},
    {"SELECT a FROM (t JOIN u ON t.a = u.a", "Mismatched join parentheses", 36},
    {"SELECT a FROM t JOIN u ON t.a = u.a)", "Mismatched join parentheses", 35},
    {"SELECT a FROM t GROUP a", "BY keyword expected after GROUP keyword, instead found 'a'", 22},
    {"SELECT a FROM t ORDER a", "BY keyword expected after ORDER keyword, instead found 'a'", 22},
    {"SELECT a FROM t GROUP BY 'x' + 1", "End of SELECT statement expected, instead found '+'", 29},
    {"SELECT a FROM t GROUP BY (a)",
     "Column name or column number expected in GROUP BY clause, instead found '('", 25},
    {"SELECT a FROM t ORDER BY -1",
     "Column name or column number expected in ORDER BY clause, instead found '-'", 25},
    {"SELECT a FROM t HAVING a > 1",
     "A GROUP BY clause must exist in order to use the HAVING clause", 28},
    {"SELECT a FROM t TOP x", "Integer value expected after TOP keyword, instead found 'x'", 20},
    {"SELECT a FROM t TOP 99999999999",
     "Integer value expected after TOP keyword, instead found '99999999999'", 20},
    {"SELECT a FROM t WITH x", "LOCKS keyword expected after WITH keyword, instead found 'x'", 21},
    {"SELECT a FROM t LANGUAGE 'Klingon'",
     "Invalid language constant 'Klingon' specified after LANGUAGE keyword", 25},
    {"SELECT a FROM t LANGUAGE 'ANSI Standard' SORT 'German Phone Book Order'",
     "Invalid sort constant 'German Phone Book Order' specified after SORT keyword", 46},
    {"SELECT a FROM t ENCRYPTED 'x'",
     "WITH keyword expected after ENCRYPTED keyword, instead found 'x'", 26},
    {"(SELECT a FROM t", "Right parentheses expected after SELECT statement, instead found ''", 16},
    {"SELECT a FROM t ORDER BY a UNION SELECT b FROM u",
     "You cannot use an ORDER BY clause within a UNIONed query", 27},
    {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1 UNION SELECT c FROM v",
     "End of SELECT statement expected, instead found 'UNION'", 49},
    {"INSERT t VALUES (1)", "INTO keyword expected, instead found 't'", 7},
    {"INSERT INTO VALUES (1)", "Table name expected after INTO keyword, instead found 'VALUES'",
     12},
    {"INSERT INTO d\\ VALUES (1)", "Table name expected after INTO clause, instead found 'VALUES'",
     15},
    {"INSERT INTO t (a, b VALUES (1)",
     "Right parentheses expected after list of table columns, instead found 'VALUES'", 20},
    {"INSERT INTO t VALUES 1", "Left parentheses expected after VALUES keyword, instead found '1'",
     21},
    {"INSERT INTO t VALUES (1, 2",
     "Right parentheses expected after list of values, instead found ''", 26},
    {"INSERT INTO t x y", "VALUES or SELECT  keyword expected, instead found 'y'", 16},
    {"INSERT INTO t VALUES (1) COMMIT INTERVAL x",
     "Integer value expected after INTERVAL keyword, instead found 'x'", 41},
    {"INSERT INTO t VALUES (1) COMMIT NOW",
     "INTERVAL and/or FLUSH keywords expected after COMMIT keyword, instead found 'NOW'", 32},
    {"UPDATE SET a = 1", "Table name expected, instead found 'SET'", 7},
    {"UPDATE t a = 1", "SET keyword expected, instead found '='", 11},
    {"UPDATE t SET a 1", "Assignment (=) operator expected after column name, instead found '1'",
     15},
    {"UPDATE t SET a = 1 FROM u",
     "The first source table specified in FROM clause must match the table being updated in "
     "the UPDATE statement",
     25},
    {"DELETE t", "FROM keyword expected, instead found 't'", 7},
    {"CREATE TABLE IF EXISTS t (a INT)",
     "NOT keyword expected after IF keyword, instead found 'EXISTS'", 16},
    {"CREATE TABLE IF NOT t (a INT)",
     "EXISTS keyword expected after NOT keyword, instead found 't'", 20},
    {"CREATE TABLE (a INT)", "Table name expected after CREATE TABLE keywords, instead found '('",
     13},
    {"CREATE TABLE '' (a INT)", "Table name expected after CREATE TABLE keywords, instead found ''",
     13},
    {"CREATE TABLE t a INT",
     "Left parentheses expected before list of table columns, instead found 'a'", 15},
    {"CREATE TABLE t (a INT NOT 5)", "NULL keyword expected after NOT keyword, instead found '5'",
     26},
    {"CREATE TABLE t (a VARCHAR(5) CHARCASE TITLE)",
     "UPPER, LOWER, or NOCHANGE keyword expected after CHARCASE keyword, instead found 'TITLE'",
     38},
    {"CREATE TABLE t (a INT, CONSTRAINT pk KEY (a))",
     "PRIMARY keyword expected, instead found 'KEY'", 37},
    {"CREATE TABLE t (a INT, PRIMARY (a))",
     "KEY keyword expected after PRIMARY keyword, instead found '('", 31},
    {"CREATE TABLE t (a INT, PRIMARY KEY a)", "Left parentheses expected, instead found 'a'", 35},
    {"CREATE TABLE t (a INT, PRIMARY KEY (a b))", "Right parentheses expected, instead found 'b'",
     38},
    {"CREATE TABLE t (a INT, PRIMARY KEY (t.a))",
     "Invalid use of table correlation name 't' specified in indexed columns", 37},
    {"CREATE TABLE t (a INT, PRIMARY KEY (a) COMPRESS ALL)",
     "FULL, DUPBYTE, TRAILBYTE, or NONE keyword expected after COMPRESS keyword, instead found "
     "'ALL'",
     48},
    {"CREATE TABLE t (a INT TEXT (a))",
     "INDEX keyword expected after TEXT keyword, instead found '('", 27},
    {"CREATE TABLE t (a INT TEXT INDEX a)",
     "Left parentheses expected after TEXTINDEX keyword, instead found 'a'", 33},
    {"CREATE TABLE t (a INT TEXT INDEX (a b))",
     "Right parentheses expected after TEXT INDEX clause, instead found 'b'", 36},
    {"CREATE TABLE t (a INT STOP 'x')",
     "WORDS keyword expected after STOP keyword, instead found 'x'", 27},
    {"CREATE TABLE t (a INT SPACE ' ')",
     "CHARS keyword expected after SPACE keyword, instead found ' '", 28},
    {"CREATE TABLE t (a INT INCLUDE '-')",
     "CHARS keyword expected after INCLUDE keyword, instead found '-'", 30},
    {"CREATE TABLE t (a INT BLOB SIZE 5)",
     "BLOCK keyword expected after BLOB keyword, instead found 'SIZE'", 27},
    {"CREATE TABLE t (a INT BLOB BLOCK 5)",
     "SIZE keyword expected after BLOCK keyword, instead found '5'", 33},
    {"CREATE TABLE t (a INT BLOB BLOCK SIZE x)",
     "Integer value expected after SIZE keyword, instead found 'x'", 38},
    {"CREATE TABLE t (a INT USER VERSION 1)",
     "MAJOR or MINOR keyword expected after USER keyword, instead found 'VERSION'", 27},
    {"CREATE TABLE t (a INT USER MAJOR 1)",
     "VERSION keyword expected after MAJOR keyword, instead found '1'", 33},
    {"CREATE TABLE t (a INT USER MINOR 1)",
     "VERSION keyword expected after MINOR keyword, instead found '1'", 33},
    {"CREATE TABLE t (a INT USER MAJOR VERSION x)",
     "Integer value expected after VERSION keyword, instead found 'x'", 41},
    {"CREATE TABLE t (a INT LAST 5)",
     "AUTOINC keyword expected after LAST keyword, instead found '5'", 27},
    {"CREATE TABLE t (a INT LAST AUTOINC)", "Next auto-increment number is empty", 34},
    {"CREATE TABLE t (a INT LAST AUTOINC 2147483648)",
     "Integer value expected after AUTOINC keyword, instead found '2147483648'", 35},
    {"CREATE TABLE t (a INT, b INT",
     "Right parentheses expected after CREATE TABLE statement, instead found ''", 28},
    {"CREATE UNIQUE i ON t (a)", "INDEX keyword expected, instead found 'i'", 14},
    {"CREATE INDEX ON t (a)", "ON keyword expected after index name, instead found 't'", 16},
    {"CREATE INDEX (a)", "Index name expected after INDEX keyword, instead found '('", 13},
    {"CREATE INDEX i t (a)", "ON keyword expected after index name, instead found 't'", 15},
    {"CREATE INDEX i ON (a)", "Table name expected after ON keyword, instead found '('", 18},
    {"ALTER TABLE (a)", "Table name expected after ALTER TABLE keywords, instead found '('", 12},
    {"ALTER TABLE t MODIFY a INT",
     "ADD, DROP, or REDEFINE keyword expected, instead found 'MODIFY'", 14},
    {"ALTER TABLE t ADD a INT, RENAME b",
     "ADD, DROP, or REDEFINE keyword expected, instead found 'RENAME'", 25},
    {"ALTER TABLE t ADD a INT AT x", "Integer value expected after AT keyword, instead found 'x'",
     27},
    {"DROP TABLE IF t", "EXISTS keyword expected after IF keyword, instead found 't'", 14},
    {"DROP TABLE ;", "Table name expected after DROP TABLE keywords, instead found ';'", 11},
    {"DROP INDEX .i", "Table name expected after DROP INDEX keywords, instead found '.'", 11},
};

class SqlError : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(SqlError, RaisesTheExactMessageAtTheOffendingToken) {
  TStatementFixture f;
  const std::string expected =
      "error 11949: " + std::string(GetParam().Message) + " @" + std::to_string(GetParam().Offset);
  EXPECT_EQ(ParseOutcome(f.Statement, GetParam().Text), expected);
  EXPECT_FALSE(f.Statement.Prepared());
  EXPECT_TRUE(f.Statement.Queries().empty());
}

INSTANTIATE_TEST_SUITE_P(Statements, SqlError, ::testing::ValuesIn(ErrorCases),
                         [](const ::testing::TestParamInfo<TErrorCase>& info) {
                           std::string name = std::to_string(info.index);
                           for (const char* c = info.param.Text; *c != '\0' && name.size() < 40;
                                ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

TEST(SqlExpressionErrors, NameTheSqlStatementAsTheirSource) {
  TStatementFixture f;
  EXPECT_EQ(ParseOutcome(f.Statement, "SELECT a FROM t WHERE b = 'x"),
            "error 11949: Missing single quote after 'x' in SQL statement @26");
  EXPECT_EQ(ParseOutcome(f.Statement, "SELECT SUM(COUNT(a)) FROM t"),
            "error 11949: Aggregate functions are not allowed in SQL statement @16");
  EXPECT_EQ(ParseOutcome(f.Statement, "SELECT a FROM t WHERE SUM(a) > 1"),
            "error 11949: Aggregate functions are not allowed in SQL statement @25");
  EXPECT_EQ(ParseOutcome(f.Statement, "SELECT a FROM t WHERE b = *"),
            "error 11949: * (all columns) symbol is not allowed in SQL statement @26");
  EXPECT_EQ(ParseOutcome(f.Statement, "CREATE TABLE t (a VARCHAR(300))"),
            "error 11949: Length argument must be an integer greater than 0 and less than or equal "
            "to 250 in table "
            "column @29");
  EXPECT_EQ(
      ParseOutcome(f.Statement, "CREATE TABLE t (a TEXTUAL)"),
      "error 11949: SQL data type keyword expected, instead found 'TEXTUAL' in table column @18");
}

TEST(SqlPosition, CountsLinesAndColumns) {
  TStatementFixture f;
  EXPECT_THROW(f.Statement.Parse("SELECT a\nFROM t\n  WHERE a = 1 b"), ETarnEngineError);
  ASSERT_TRUE(f.Statement.ErrorPosition().has_value());
  EXPECT_EQ(f.Statement.ErrorPosition()->Line, 3);
  EXPECT_EQ(f.Statement.ErrorPosition()->Column, 15);
  f.Statement.Parse("SELECT a FROM t");
  EXPECT_FALSE(f.Statement.ErrorPosition().has_value());
}

TEST(SqlParsedForm, HoldsWhatExecutionNeeds) {
  TStatementFixture f;
  f.Statement.Parse(
      "SELECT c.a, (SELECT MAX(b) FROM u) FROM t c LEFT JOIN MEMORY v ON c.k = v.k WHERE c.x = ? "
      "AND c.y IN "
      "(SELECT y FROM w WHERE y > ?) UNION ALL SELECT a, b FROM z");
  const TQueryList& q = f.Statement.Queries();
  // The master, its two sub-selects in order of creation, then the UNION member.
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(f.Statement.Kind(), TQueryKind::Select);
  EXPECT_TRUE(q[1]->SubSelect);
  EXPECT_TRUE(q[2]->SubSelect);
  EXPECT_EQ(q[0]->UnionNext, 3);
  EXPECT_TRUE(q[0]->UnionAll);
  EXPECT_TRUE(q[3]->UnionMember);
  ASSERT_EQ(q[0]->Sources.size(), 2u);
  EXPECT_EQ(q[0]->Sources[0].Correlation, "c");
  EXPECT_EQ(q[0]->Sources[0].ReferenceName(), "c");
  EXPECT_TRUE(q[0]->Sources[1].InMemory);
  EXPECT_EQ(q[0]->Sources[1].Position, 1);
  ASSERT_EQ(q[0]->Joins.size(), 1u);
  EXPECT_EQ(q[0]->Joins[0].Kind, TJoinKind::LeftOuter);
  EXPECT_EQ(q[0]->Joins[0].Outer, 0);
  EXPECT_EQ(q[0]->Joins[0].Inner, 1);
  // Parameters in text order, numbered from 1.
  ASSERT_EQ(f.Statement.Parameters().size(), 2u);
  EXPECT_EQ(f.Statement.Parameters()[0]->Reference, 1);
  EXPECT_EQ(f.Statement.Parameters()[1]->Reference, 2);
  EXPECT_EQ(f.Statement.Parameters()[1]->Kind, TExpTokenKind::Parameter);

  // ORDER BY and TOP after the last UNION member belong to the whole chain.
  f.Statement.Parse("SELECT a FROM t TOP 2 UNION SELECT b FROM u TOP 3 ORDER BY 1 TOP 4");
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0]->Top, std::optional<std::int32_t>(2));
  EXPECT_EQ(q[1]->Top, std::optional<std::int32_t>(3));
  EXPECT_TRUE(q[1]->OrderBy.empty());
  ASSERT_EQ(q[0]->OrderBy.size(), 1u);
  EXPECT_EQ(q[0]->ChainTop, std::optional<std::int32_t>(4));

  f.Statement.Parse(
      "CREATE TABLE t (a INT NOT NULL, b VARCHAR(9), PRIMARY KEY (a) LAST AUTOINC 7)");
  const TDataQuery& create = f.Statement.Master();
  ASSERT_EQ(create.CreateFields.size(), 2u);
  EXPECT_EQ(create.CreateFields[1].Type, FieldType::String);
  EXPECT_EQ(create.CreateFields[1].Size, 9);
  EXPECT_EQ(create.CreateFields[0].NotNull, std::optional<bool>(true));
  EXPECT_FALSE(create.CreateFields[1].NotNull.has_value());
  ASSERT_TRUE(create.PrimaryKey.has_value());
  EXPECT_EQ(create.Table.LastAutoInc, std::optional<std::int64_t>(7));
}

TEST(SqlParsedForm, NestedSubSelectsAreBoundedNotACrash) {
  TStatementFixture f;
  std::string text = "SELECT a FROM t WHERE a IN ";
  for (int i = 0; i < 5000; ++i) text += "(SELECT a FROM t WHERE a IN ";
  EXPECT_THROW(f.Statement.Parse(text), ETarnEngineError);
  std::string unions = "SELECT a FROM t";
  for (int i = 0; i < 2000; ++i) unions += " UNION SELECT a FROM t";
  f.Statement.Parse(unions);
  EXPECT_EQ(f.Statement.Queries().size(), 2001u);
}

}  // namespace
