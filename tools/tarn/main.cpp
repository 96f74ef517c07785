// tarn: the command-line tool of the Tarn engine.

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "tools/tarn/commands.h"
#include "tools/tarn/tool_context.h"

int main(int argc, char** argv) {
  using namespace tarn_tool;
  CLI::App app{"Inspect, check and repair Tarn tables.", "tarn"};
  app.set_version_flag("--version", std::string("tarn ") + TARN_TOOL_VERSION);
  app.require_subcommand(1);

  TCommonOptions common;
  TInfoCommand info;
  TVerifyCommand verify;
  CLI::App* infoApp = app.add_subcommand("info", "Show the structure and state of a table.");
  info.Register(*infoApp, common);
  CLI::App* verifyApp = app.add_subcommand("verify", "Check tables deeply; exit 1 when any is damaged.");
  verify.Register(*verifyApp, common);
  TRepairCommand repair;
  CLI::App* repairApp = app.add_subcommand("repair", "Rebuild a damaged table from its data file, keeping a backup.");
  repair.Register(*repairApp, common);
  TDumpCommand dump;
  CLI::App* dumpApp = app.add_subcommand("dump", "Write a table's records as JSON or CSV.");
  dump.Register(*dumpApp, common);
  TLoadCommand load;
  CLI::App* loadApp = app.add_subcommand("load", "Add records from a JSON or CSV file, all or nothing.");
  load.Register(*loadApp, common);
  TSqlCommand sql;
  CLI::App* sqlApp = app.add_subcommand("sql", "Run SQL statements, or an interactive SQL shell.");
  sql.Register(*sqlApp, common);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ExitUsage;
  }

  try {
    if (*infoApp) return info.Run(common);
    if (*verifyApp) return verify.Run(common);
    if (*repairApp) return repair.Run(common);
    if (*dumpApp) return dump.Run(common);
    if (*loadApp) return load.Run(common);
    if (*sqlApp) return sql.Run(common);
  } catch (const TUsageError& e) {
    PrintError(e.Message);
    return ExitUsage;
  } catch (const std::exception& e) {
    PrintEngineError(e);
    return ExitFailure;
  }
  return ExitUsage;
}
