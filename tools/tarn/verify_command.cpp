// tarn verify DIR [TABLE...]: the deep check of every table named (all tables
// of the directory by default). One line per problem:
//   TABLE: FILE offset OFFSET [record N]: TEXT
// Exit 0 when every table is clean, 1 when any is damaged or cannot be read.

#include <CLI/CLI.hpp>

#include <iostream>

#include "engine/cursor/table_check.h"
#include "engine/session/data_table.h"
#include "tools/tarn/commands.h"
#include "tools/tarn/tool_context.h"

namespace tarn_tool {

using namespace tarn;

void TVerifyCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the tables")->required();
  app.add_option("TABLE", Tables, "Tables to check (default: every table of the directory)");
  app.add_option("--password", common.Password, "Password of encrypted tables");
  app.add_flag("-q,--quiet", Quiet, "Print problems only, no summary lines");
}

int TVerifyCommand::Run(const TCommonOptions& common) const {
  TToolContext context(Dir, common.Password);
  std::vector<std::string> tables = Tables.empty() ? context.TableNames() : Tables;
  bool damaged = false;
  for (const std::string& name : tables) {
    TTableCheckResult result;
    try {
      auto cursor = context.OpenTable(name, true);
      TProgressBar bar("verify " + name);
      result = CheckTable(*cursor, [&](double done) { bar.Update(done); });
      bar.Done();
      cursor->CloseCursor();
    } catch (const TUsageError&) {
      throw;
    } catch (const std::exception& e) {
      std::cout << name << ": cannot be opened: " << ErrorText(e) << "\n";
      damaged = true;
      continue;
    }
    for (const TTableProblem& p : result.Problems) {
      std::cout << name << ": " << TableFilePartName(p.File) << " offset " << p.Offset;
      if (p.RecordNo != 0) std::cout << " record " << p.RecordNo;
      std::cout << ": " << p.Text << "\n";
    }
    if (result.MoreProblems != 0) std::cout << name << ": " << result.MoreProblems << " more problems\n";
    if (!result.Clean()) damaged = true;
    if (!Quiet) {
      std::cout << name << ": " << (result.Clean() ? "clean" : "DAMAGED") << ", " << result.ActiveRecords
                << " records, " << result.Keys << " keys, " << result.BlobChains << " blobs\n";
    }
  }
  return damaged ? ExitFailure : ExitOk;
}

}  // namespace tarn_tool
