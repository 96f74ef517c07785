// Random statements from the SQL grammar, most of them damaged by a few token
// edits: each parses or fails with engine error 11949, never anything else;
// a statement that parses prints a text that parses back to the same text.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/base/engine_error.h"
#include "sql_test_support.h"

namespace {

using namespace tarn;

class TStatementGenerator {
 public:
  explicit TStatementGenerator(std::uint32_t seed) : FRandom(seed) {}

  std::vector<std::string> Statement() {
    FTokens.clear();
    FDepth = 0;
    switch (Pick(10)) {
      case 0:
      case 1:
      case 2:
        Select();
        break;
      case 3:
        Insert();
        break;
      case 4:
        Update();
        break;
      case 5:
        Delete();
        break;
      case 6:
        CreateTable();
        break;
      case 7:
        Alter();
        break;
      case 8:
        Index();
        break;
      default:
        Other();
        break;
    }
    if (Chance(20)) Put(";");
    Mutate();
    return FTokens;
  }

 private:
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(FRandom);
  }
  bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }
  void Put(const std::string& token) { FTokens.push_back(token); }
  template <std::size_t N>
  void One(const char* const (&words)[N]) {
    Put(words[Pick(N)]);
  }

  void Name() {
    static const char* const names[] = {"a",     "b",     "c",      "t",       "u",
                                        "[x y]", "\"q\"", "MEMORY", "PRIMARY", "Name"};
    One(names);
  }
  void Table() {
    if (Chance(15)) Put("MEMORY");
    Name();
    if (Chance(10)) {
      Put("\\");
      Name();
    }
  }
  void Literal() {
    static const char* const literals[] = {"1",  "2147483648",   "1.5e3",   "'x'",
                                           "''", "#65",          "NULL",    "TRUE",
                                           "?",  "CURRENT_DATE", "'it''s'", "99999999999999999999"};
    One(literals);
  }
  void Expression() {
    ++FDepth;
    switch (FDepth > 4 ? Pick(2) : Pick(9)) {
      case 0:
        Name();
        break;
      case 1:
        Literal();
        break;
      case 2:
        Expression();
        {
          static const char* const ops[] = {"=", "<>", "<",  ">=",  "+",  "-",
                                            "*", "/",  "||", "AND", "OR", "LIKE"};
          One(ops);
        }
        Expression();
        break;
      case 3:
        Put("NOT");
        Expression();
        break;
      case 4:
        Put("(");
        Expression();
        Put(")");
        break;
      case 5: {
        static const char* const f[] = {"SUM", "COUNT", "MIN", "UPPER", "ABS", "AVG"};
        One(f);
      }
        Put("(");
        if (Chance(30))
          Put("*");
        else
          Expression();
        Put(")");
        break;
      case 6:
        Name();
        Put("IN");
        Put("(");
        if (Chance(50))
          Select();
        else {
          Literal();
          Put(",");
          Literal();
        }
        Put(")");
        break;
      case 7:
        Put("(");
        Select();
        Put(")");
        break;
      default:
        Name();
        Put("BETWEEN");
        Literal();
        Put("AND");
        Literal();
        break;
    }
    --FDepth;
  }
  void From() {
    if (Chance(15)) Put("(");
    Table();
    if (Chance(30)) Name();
    while (Chance(30)) {
      static const char* const joins[] = {
          "JOIN", "INNER JOIN", "LEFT JOIN", "LEFT OUTER JOIN", "RIGHT JOIN", "FULL JOIN"};
      One(joins);
      Table();
      Put("ON");
      Expression();
    }
    if (Chance(15)) Put(")");
  }
  void Select() {
    ++FDepth;
    if (Chance(10)) Put("(");
    Put("SELECT");
    if (Chance(10)) Put("DISTINCT");
    do {
      if (Chance(20))
        Put("*");
      else
        Expression();
      if (Chance(20)) {
        Put("AS");
        Name();
      }
    } while (Chance(30) && (Put(","), true));
    if (Chance(10)) {
      Put("INTO");
      if (Chance(50)) Put("MEMORY");
      Name();
    }
    Put("FROM");
    From();
    while (Chance(15)) {
      Put(",");
      From();
    }
    if (Chance(40)) {
      Put("WHERE");
      Expression();
    }
    if (Chance(15)) {
      Put("GROUP");
      Put("BY");
      Name();
    }
    if (Chance(10)) {
      Put("HAVING");
      Expression();
    }
    if (Chance(20)) {
      Put("ORDER");
      Put("BY");
      if (Chance(50))
        Put("1");
      else
        Name();
      if (Chance(30)) Put("DESC");
      if (Chance(20)) Put("NOCASE");
    }
    if (Chance(10)) {
      Put("TOP");
      Put("5");
    }
    if (Chance(5)) {
      Put("WITH");
      Put("LOCKS");
    }
    if (Chance(5)) {
      Put("LANGUAGE");
      Put("'ANSI Standard'");
    }
    if (Chance(5)) {
      Put("ENCRYPTED");
      Put("WITH");
      Put("'pw'");
    }
    if (Chance(5)) Put("NOJOINOPTIMIZE");
    if (Chance(10) && FDepth < 3) {
      Put("UNION");
      if (Chance(50)) Put("ALL");
      Select();
    }
    --FDepth;
  }
  void Commit() {
    if (Chance(20)) {
      Put("COMMIT");
      if (Chance(50)) {
        Put("INTERVAL");
        Put("10");
      }
      if (Chance(50)) Put("FLUSH");
    }
  }
  void Insert() {
    Put("INSERT");
    Put("INTO");
    Table();
    if (Chance(30)) {
      Put("(");
      Name();
      Put(",");
      Name();
      Put(")");
    }
    if (Chance(60)) {
      Put("VALUES");
      Put("(");
      Expression();
      while (Chance(40)) {
        Put(",");
        Expression();
      }
      Put(")");
    } else
      Select();
    if (Chance(20)) Put("NOAUTOINC");
    Commit();
  }
  void Update() {
    Put("UPDATE");
    Table();
    Put("SET");
    Name();
    Put("=");
    Expression();
    while (Chance(30)) {
      Put(",");
      Name();
      Put("=");
      Expression();
    }
    if (Chance(20)) {
      Put("FROM");
      From();
    }
    if (Chance(50)) {
      Put("WHERE");
      Expression();
    }
    Commit();
  }
  void Delete() {
    Put("DELETE");
    Put("FROM");
    From();
    if (Chance(50)) {
      Put("WHERE");
      Expression();
    }
    Commit();
  }
  void Column() {
    Name();
    static const char* const types[] = {"INTEGER", "VARCHAR(20)", "DECIMAL(10,2)",
                                        "MEMO",    "BLOB(0,3)",   "DATE",
                                        "AUTOINC", "CHAR(0)",     "BOOL"};
    One(types);
    if (Chance(10)) {
      Put("DESCRIPTION");
      Put("'d'");
    }
    if (Chance(20)) {
      Put("NOT");
      Put("NULL");
    }
    if (Chance(15)) {
      Put("DEFAULT");
      Literal();
    }
    if (Chance(10)) {
      Put("MIN");
      Put("-1");
    }
    if (Chance(10)) {
      Put("CHARCASE");
      Put("UPPER");
    }
  }
  void Key() {
    if (Chance(30)) {
      Put("CONSTRAINT");
      Name();
    }
    if (Chance(20)) Put("UNIQUE");
    if (Chance(20)) Put("DESC");
    Put("PRIMARY");
    Put("KEY");
    Put("(");
    Name();
    Put(")");
    if (Chance(20)) {
      Put("COMPRESS");
      Put("FULL");
    }
  }
  void Options() {
    if (Chance(15)) {
      Put("TEXT");
      Put("INDEX");
      Put("(");
      Name();
      Put(")");
    }
    if (Chance(10)) {
      Put("STOP");
      Put("WORDS");
      Put("'a b'");
    }
    if (Chance(10)) {
      Put("BLOB");
      Put("BLOCK");
      Put("SIZE");
      Put("1024");
    }
    if (Chance(10)) {
      Put("USER");
      Put("MAJOR");
      Put("VERSION");
      Put("2");
    }
    if (Chance(10)) {
      Put("LAST");
      Put("AUTOINC");
      Put("-5");
    }
  }
  void CreateTable() {
    Put("CREATE");
    Put("TABLE");
    if (Chance(20)) {
      Put("IF");
      Put("NOT");
      Put("EXISTS");
    }
    Table();
    Put("(");
    Column();
    while (Chance(50)) {
      Put(",");
      Column();
    }
    if (Chance(40)) {
      Put(",");
      Key();
    }
    Options();
    Put(")");
  }
  void Alter() {
    Put("ALTER");
    Put("TABLE");
    Table();
    do {
      switch (Pick(5)) {
        case 0:
          Put("ADD");
          Column();
          if (Chance(20)) {
            Put("AT");
            Put("1");
          }
          break;
        case 1:
          Put("REDEFINE");
          Name();
          if (Chance(50)) Column();
          break;
        case 2:
          Put("DROP");
          Name();
          break;
        case 3:
          Put("ADD");
          Key();
          break;
        default:
          Put("DROP");
          Put("PRIMARY");
          Put("KEY");
          break;
      }
    } while (Chance(30) && (Put(","), true));
    Options();
    if (Chance(20)) Put("NOBACKUP");
  }
  void Index() {
    if (Chance(50)) {
      Put("CREATE");
      if (Chance(30)) Put("UNIQUE");
      if (Chance(20)) Put("NOCASE");
      Put("INDEX");
      if (Chance(20)) {
        Put("IF");
        Put("NOT");
        Put("EXISTS");
      }
      Name();
      Put("ON");
      Table();
      Put("(");
      Name();
      Put(")");
    } else {
      Put("DROP");
      Put("INDEX");
      if (Chance(30)) {
        Put("IF");
        Put("EXISTS");
      }
      Table();
      Put(".");
      Name();
    }
  }
  void Other() {
    static const char* const others[] = {"START TRANSACTION", "COMMIT",
                                         "COMMIT WORK FLUSH", "ROLLBACK",
                                         "DROP TABLE t",      "DROP TABLE IF EXISTS MEMORY t"};
    One(others);
  }
  // A few random edits: drop, duplicate, swap or insert a stray token.
  void Mutate() {
    if (Chance(25)) return;
    static const char* const strays[] = {
        "(", ")", ",",  ";", ".",    "*",  "=", "SELECT", "FROM",   "UNION", "JOIN", "ON",
        "'", "[", "/*", "#", "#999", "\\", "?", "1e",     "VALUES", "KEY",   ""};
    const std::size_t edits = 1 + Pick(3);
    for (std::size_t i = 0; i < edits && !FTokens.empty(); ++i) {
      const std::size_t at = Pick(FTokens.size());
      switch (Pick(4)) {
        case 0:
          FTokens.erase(FTokens.begin() + static_cast<std::ptrdiff_t>(at));
          break;
        case 1:
          FTokens.insert(FTokens.begin() + static_cast<std::ptrdiff_t>(at), FTokens[at]);
          break;
        case 2:
          std::swap(FTokens[at], FTokens[Pick(FTokens.size())]);
          break;
        default:
          FTokens.insert(FTokens.begin() + static_cast<std::ptrdiff_t>(at),
                         strays[Pick(std::size(strays))]);
          break;
      }
    }
  }

  std::mt19937 FRandom;
  std::vector<std::string> FTokens;
  int FDepth = 0;
};

TEST(SqlFuzz, RandomStatementsParseOrFailWithTheEngineError) {
  sqltest::TStatementFixture f;
  TStatementGenerator generator(20261210);
  int parsed = 0;
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    for (const std::string& token : generator.Statement())
      text += (text.empty() ? "" : " ") + token;
    try {
      f.Statement.Parse(text);
      ++parsed;
      const std::string printed = f.Statement.Print();
      f.Statement.Parse(printed);
      ASSERT_EQ(f.Statement.Print(), printed) << "from: " << text;
    } catch (const ETarnEngineError& e) {
      ASSERT_EQ(e.ErrorCode(), TARN_SQLPARSE) << text << "\n" << e.what();
      ASSERT_TRUE(f.Statement.ErrorPosition().has_value()) << text;
      ASSERT_LE(f.Statement.ErrorPosition()->Offset, text.size()) << text;
    } catch (const std::exception& e) {
      FAIL() << "unexpected exception for: " << text << "\n" << e.what();
    }
  }
  // The generator must reach both outcomes in numbers.
  EXPECT_GT(parsed, 10000);
  EXPECT_LT(parsed, 90000);
}

}  // namespace
