#pragma once
// The SQL shell of `tarn sql`: statements ending with ";" (they may span
// lines) run against the directory's database, and dot-commands at the start
// of a line:
//   .tables            the tables of the directory
//   .schema [TABLE]    the statements that would make a table (all tables)
//   .indexes TABLE     the indexes of a table
//   .mode MODE         how results print: table, csv, json or line
//   .headers on|off    column names above results (table and csv modes)
//   .timer on|off      the time each statement took
//   .read FILE         runs the statements and commands of a file
//   .output [FILE]     sends results to a file (to standard output without one)
//   .help              this list
//   .quit, .exit       leaves the shell
// Errors print the engine's code and message on standard error, in scripts
// with the line the statement starts on; the shell goes on with the next
// statement and exits with 1 at the end when any failed.

#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/tarn/statement_splitter.h"
#include "tools/tarn/tool_context.h"

namespace tarn_tool {

class TSqlShell {
 public:
  explicit TSqlShell(TToolContext& context) : FContext(context) {}

  // Runs each argument as one or more statements, without a prompt.
  int RunArguments(const std::vector<std::string>& statements);
  // Runs the lines of in; with interactive, reads them with line editing and
  // history and shows prompts.
  int RunInput(std::istream& in, bool interactive);

 private:
  // One line of input from a source ("" for the terminal or standard input).
  // False when the shell is to stop.
  bool Line(const std::string& line, int lineNo, const std::string& source, TStatementSplitter& splitter);
  bool DotCommand(const std::string& line, int lineNo, const std::string& source);
  void RunStatement(const TSplitStatement& statement, const std::string& source);
  void Fail(const std::string& source, int lineNo, const std::string& message);
  void ReadFile(const std::string& path);
  void Tables();
  void Schema(const std::string& table);
  void Indexes(const std::string& table);
  std::ostream& Out() { return FFile.is_open() ? static_cast<std::ostream&>(FFile) : std::cout; }

  TToolContext& FContext;
  std::ofstream FFile;
  std::string FMode = "table";
  bool FHeaders = true;
  bool FTimer = false;
  bool FInteractive = false;
  bool FQuit = false;
  int FErrors = 0;
  int FReadDepth = 0;
};

}  // namespace tarn_tool
