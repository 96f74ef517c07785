#include "tools/tarn/sql_shell.h"

#include <editline/readline.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/index_file.h"
#include "sql/query_statement.h"
#include "tools/tarn/field_names.h"
#include "tools/tarn/schema_sql.h"

namespace tarn_tool {

using namespace tarn;

namespace {

constexpr const char* HelpText =
    ".tables            the tables of the directory\n"
    ".schema [TABLE]    the statements that would make a table (all tables)\n"
    ".indexes TABLE     the indexes of a table\n"
    ".mode MODE         how results print: table, csv, json or line\n"
    ".headers on|off    column names above results (table and csv modes)\n"
    ".timer on|off      the time each statement takes\n"
    ".read FILE         run the statements and commands of a file\n"
    ".output [FILE]     send results to a file (standard output without one)\n"
    ".help              this list\n"
    ".quit, .exit       leave the shell\n"
    "Statements end with \";\" and may span lines.\n";

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool OnOff(const std::string& word, bool& value) {
  if (word == "on") value = true;
  else if (word == "off") value = false;
  else return false;
  return true;
}

std::string HistoryFile() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? std::string(home) + "/.tarn_history" : std::string();
}

}  // namespace

int TSqlShell::RunArguments(const std::vector<std::string>& statements) {
  TStatementSplitter splitter;
  int lineNo = 0;
  for (const std::string& text : statements) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line) && !FQuit;) Line(line, ++lineNo, "", splitter);
    // An argument is complete in itself: a missing final ";" is forgiven.
    if (auto rest = splitter.Flush()) RunStatement(*rest, "");
  }
  return FErrors == 0 ? ExitOk : ExitFailure;
}

int TSqlShell::RunInput(std::istream& in, bool interactive) {
  FInteractive = interactive;
  TStatementSplitter splitter;
  int lineNo = 0;
  const std::string history = HistoryFile();
  if (interactive) {
    std::cout << "tarn " << TARN_TOOL_VERSION << " on " << FContext.Path() << "; .help for the commands\n";
    if (!history.empty()) read_history(history.c_str());
  }
  while (!FQuit) {
    std::string line;
    if (interactive) {
      char* raw = readline(splitter.Pending() ? "  ...> " : "tarn> ");
      if (raw == nullptr) break;
      line = raw;
      std::free(raw);
      if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
    } else if (!std::getline(in, line)) {
      break;
    }
    Line(line, ++lineNo, "", splitter);
  }
  if (auto rest = splitter.Flush(); rest && !FQuit) {
    Fail("", rest->Line, "the last statement has no closing \";\"");
  }
  if (interactive && !history.empty()) write_history(history.c_str());
  return FErrors == 0 ? ExitOk : ExitFailure;
}

bool TSqlShell::Line(const std::string& line, int lineNo, const std::string& source, TStatementSplitter& splitter) {
  const std::size_t first = line.find_first_not_of(" \t");
  if (!splitter.Pending() && first != std::string::npos && line[first] == '.') {
    return DotCommand(line.substr(first), lineNo, source);
  }
  for (const TSplitStatement& s : splitter.Feed(line, lineNo)) {
    RunStatement(s, source);
    if (FQuit) return false;
  }
  return true;
}

void TSqlShell::Fail(const std::string& source, int lineNo, const std::string& message) {
  ++FErrors;
  if (FInteractive && source.empty()) {
    std::cerr << "Error: " << message << "\n";
  } else {
    std::cerr << (source.empty() ? "" : source + ":") << "line " << lineNo << ": " << message << "\n";
  }
}

void TSqlShell::RunStatement(const TSplitStatement& statement, const std::string& source) {
  TQueryStatement query(FContext.Directory());
  const auto start = std::chrono::steady_clock::now();
  try {
    query.Prepare(statement.Text);
    query.Execute();
  } catch (const std::exception& e) {
    int line = statement.Line;
    std::string where;
    if (const auto& position = query.ErrorPosition()) {
      // The statement's text starts at its first character on its first line.
      line += position->Line - 1;
      where = " (column " + std::to_string(position->Column) + ")";
    }
    Fail(source, line, ErrorText(e) + where);
    return;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  switch (query.Kind()) {
    case TQueryKind::Insert:
    case TQueryKind::Update:
    case TQueryKind::Delete: Out() << query.RowsAffected() << " rows affected\n"; break;
    default: break;
  }
  if (FTimer) Out() << "Run Time: " << seconds << " s\n";
}

bool TSqlShell::DotCommand(const std::string& line, int lineNo, const std::string& source) {
  const std::vector<std::string> w = Words(line);
  const std::string& command = w[0];
  const std::string arg = w.size() > 1 ? w[1] : std::string();
  try {
    if (command == ".quit" || command == ".exit") {
      FQuit = true;
      return false;
    }
    if (command == ".help") {
      Out() << HelpText;
    } else if (command == ".tables") {
      Tables();
    } else if (command == ".schema") {
      Schema(arg);
    } else if (command == ".indexes" && !arg.empty()) {
      Indexes(arg);
    } else if (command == ".mode" && (arg == "table" || arg == "csv" || arg == "json" || arg == "line")) {
      FMode = arg;
    } else if (command == ".headers" && OnOff(arg, FHeaders)) {
    } else if (command == ".timer" && OnOff(arg, FTimer)) {
    } else if (command == ".read" && !arg.empty()) {
      ReadFile(arg);
    } else if (command == ".output") {
      if (FFile.is_open()) FFile.close();
      if (!arg.empty()) {
        FFile.open(arg, std::ios::trunc);
        if (!FFile) Fail(source, lineNo, "cannot write " + arg);
      }
    } else {
      Fail(source, lineNo, "unknown or incomplete command \"" + line + "\"; .help lists the commands");
    }
  } catch (const TUsageError& e) {
    Fail(source, lineNo, e.Message);
  } catch (const std::exception& e) {
    Fail(source, lineNo, ErrorText(e));
  }
  return !FQuit;
}

void TSqlShell::ReadFile(const std::string& path) {
  if (FReadDepth >= 16) throw TUsageError{".read nested too deeply at " + path};
  std::ifstream in(path);
  if (!in) throw TUsageError{"cannot read " + path};
  ++FReadDepth;
  TStatementSplitter splitter;
  int lineNo = 0;
  for (std::string line; !FQuit && std::getline(in, line);) Line(line, ++lineNo, path, splitter);
  if (auto rest = splitter.Flush(); rest && !FQuit) Fail(path, rest->Line, "the last statement has no closing \";\"");
  --FReadDepth;
}

void TSqlShell::Tables() {
  for (const std::string& name : FContext.TableNames()) Out() << name << "\n";
}

void TSqlShell::Schema(const std::string& table) {
  const std::vector<std::string> names = table.empty() ? FContext.TableNames() : std::vector<std::string>{table};
  for (const std::string& name : names) {
    auto cursor = FContext.OpenTable(name, true);
    Out() << CreateTableSql(*cursor);
  }
}

void TSqlShell::Indexes(const std::string& table) {
  auto cursor = FContext.OpenTable(table, true);
  TIndexFile& index = cursor->Table().IndexFile();
  const auto columns = [&](const TIndexDescriptor& d) {
    std::string s;
    for (int i = 0; i < d.FieldCount; ++i) {
      const int n = d.FieldNumbers[static_cast<std::size_t>(i)];
      s += (i > 0 ? ", " : "") + (n >= 1 && n <= cursor->FieldCount() ? cursor->Field(n).FieldName() : std::to_string(n));
    }
    return s;
  };
  if (!index.NoPrimaryIndex()) Out() << "(primary) " << columns(index.Descriptor(0)) << "\n";
  for (int slot = 1; slot <= index.IndexCount(); ++slot) {
    const TIndexDescriptor& d = index.Descriptor(slot);
    Out() << d.IndexName << " " << columns(d) << (d.Unique ? " unique" : "") << (d.CaseInsensitive ? " nocase" : "")
          << (d.Descending ? " desc" : "") << "\n";
  }
  if (index.Descriptor(KeyLimits::TextSlot).FieldCount > 0) {
    Out() << "(full text) " << columns(index.Descriptor(KeyLimits::TextSlot)) << "\n";
  }
}

}  // namespace tarn_tool
