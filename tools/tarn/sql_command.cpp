// tarn sql DIR [STATEMENT...]: statements given as arguments run without a
// prompt; otherwise standard input is read, with line editing, history and
// prompts when it is a terminal.

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <iostream>

#include "tools/tarn/commands.h"
#include "tools/tarn/sql_shell.h"
#include "tools/tarn/tool_context.h"

namespace tarn_tool {

void TSqlCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the database")->required();
  app.add_option("STATEMENT", Statements, "Statements to run (default: read standard input)");
  app.add_option("--password", common.Password, "Password of encrypted tables");
}

int TSqlCommand::Run(const TCommonOptions& common) const {
  TToolContext context(Dir, common.Password);
  TSqlShell shell(context);
  if (!Statements.empty()) return shell.RunArguments(Statements);
  return shell.RunInput(std::cin, isatty(STDIN_FILENO) != 0);
}

}  // namespace tarn_tool
