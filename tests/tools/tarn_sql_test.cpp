// The SQL shell of tarn, run as a program: a session piped through standard
// input with every dot-command, statements as arguments, and errors with the
// line they start on.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "run_tarn.h"
#include "support/temp_dir.h"

namespace {

using namespace tool_testing;

class TSqlShellTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& text) {
    const std::string path = FFiles.File(name);
    std::ofstream(path) << text;
    return path;
  }
  testing_support::TTempDir FDir;
  testing_support::TTempDir FFiles;
};

TEST_F(TSqlShellTest, PipedSessionWithEveryDotCommand) {
  Script("more.sql", "CREATE TABLE \"Extra\" (\"N\" INTEGER);\n");
  const std::string session =
      "CREATE TABLE \"Quiz\" (\"Id\" INTEGER NOT NULL,\n"
      "  \"Name\" VARCHAR(20) DEFAULT 'x', \"Body\" MEMO,\n"
      "  PRIMARY KEY (\"Id\"));\n"
      ".tables\n"
      ".schema Quiz\n"
      ".indexes Quiz\n"
      ".mode csv\n"
      ".headers off\n"
      ".timer on\n"
      "START TRANSACTION; COMMIT;\n"
      ".timer off\n"
      ".read " + FFiles.File("more.sql") + "\n"
      ".output " + FFiles.File("out.txt") + "\n"
      ".tables\n"
      ".output\n"
      ".help\n"
      ".quit\n"
      "CREATE TABLE \"Never\" (\"N\" INTEGER);\n";
  const TRun run = RunTarn("sql " + FDir.Path(), Script("session.sql", session));
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  for (const char* text : {"Quiz\n", "CREATE TABLE \"Quiz\" (\n  \"Id\" INTEGER NOT NULL,\n  \"Name\" VARCHAR(20) DEFAULT 'x'",
                           "PRIMARY KEY (\"Id\")", "(primary) Id\n", "Run Time: ", ".read FILE"}) {
    EXPECT_NE(run.Output.find(text), std::string::npos) << text << "\n" << run.Output;
  }
  std::ifstream out(FFiles.File("out.txt"));
  std::string tables((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_EQ(tables, "Extra\nQuiz\n");
  EXPECT_EQ(RunTarn("sql " + FDir.Path() + " \".tables\"").Output.find("Never"), std::string::npos);
}

TEST_F(TSqlShellTest, ErrorsNameTheLineAndTheShellGoesOn) {
  const std::string script =
      "CREATE TABLE \"A\" (\"N\" INTEGER);\n"
      "\n"
      "CREATE TABLE \"B\"\n"
      "  (\"N\" NOTATYPE);\n"
      "CREATE TABLE \"C\" (\"N\" INTEGER);\n"
      ".mode bogus\n"
      "CREATE TABLE \"D\" (\"N\" INTEGER)\n";
  const TRun run = RunTarn("sql " + FDir.Path(), Script("bad.sql", script));
  EXPECT_EQ(run.ExitCode, 1) << run.Output;
  EXPECT_NE(run.Output.find("line 4: Tarn Engine Error # 11949"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("line 6: unknown or incomplete command \".mode bogus\""), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("line 7: the last statement has no closing \";\""), std::string::npos) << run.Output;
  const TRun tables = RunTarn("sql " + FDir.Path() + " .tables");
  EXPECT_EQ(tables.Output, "A\nC\n");
}

TEST_F(TSqlShellTest, StatementsAsArguments) {
  const TRun run = RunTarn("sql " + FDir.Path() + " 'CREATE TABLE \"T\" (\"N\" INTEGER)' 'START TRANSACTION; ROLLBACK'");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  const TRun again = RunTarn("sql " + FDir.Path() + " 'CREATE TABLE \"T\" (\"N\" INTEGER)'");
  EXPECT_EQ(again.ExitCode, 1);
  EXPECT_NE(again.Output.find("Tarn Engine Error # 13060"), std::string::npos) << again.Output;
}

}  // namespace
