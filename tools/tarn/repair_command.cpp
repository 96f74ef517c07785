// tarn repair DIR TABLE: rebuilds the table from its data file. The old files
// are kept as TABLE.DBK, .IBK and .BBK; what could not be kept is written to
// TABLE-repair.log in the directory (one line per record) and counted on
// standard output. Exit 0 when the table was rebuilt, 1 when it could not be.

#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>

#include "engine/cursor/table_repair.h"
#include "tools/tarn/commands.h"
#include "tools/tarn/tool_context.h"

namespace tarn_tool {

using namespace tarn;

void TRepairCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the table")->required();
  app.add_option("TABLE", Table, "Table to repair")->required();
  app.add_option("--password", common.Password, "Password of an encrypted table");
}

int TRepairCommand::Run(const TCommonOptions& common) const {
  TToolContext context(Dir, common.Password);
  {
    // Asks for the password of an encrypted table before the work starts.
    auto cursor = context.OpenTable(Table, true);
  }
  TProgressBar bar("repair " + Table);
  const TRepairResult result = RepairTable(context.Directory(), Table, [&](double done) { bar.Update(done); });
  bar.Done();
  std::size_t lost = 0;
  if (!result.Losses.empty()) {
    const std::string logName = Dir + "/" + Table + "-repair.log";
    std::ofstream log(logName, std::ios::trunc);
    for (const TRepairLoss& loss : result.Losses) {
      if (loss.RecordLost) ++lost;
      log << "record " << loss.RecordNo << ": " << (loss.RecordLost ? "not kept: " : "kept: ") << loss.Text << "\n";
    }
    if (!log) {
      PrintError("cannot write " + logName);
      return ExitFailure;
    }
    std::cout << Table << ": " << result.Losses.size() << " problems written to " << logName << "\n";
  }
  std::cout << Table << ": repaired, " << result.RecordsKept << " records kept, " << lost
            << " not kept; the old files are " << result.BackupNote << "\n";
  return ExitOk;
}

}  // namespace tarn_tool
