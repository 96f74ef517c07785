#pragma once
// The subcommands of the tarn tool. Each registers its options with the
// command line and runs against a TToolContext; Run returns the exit code
// (tool_context.h) and prints its own results on standard output.

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tarn_tool {

// Options every subcommand takes.
struct TCommonOptions {
  std::optional<std::string> Password;
};

// tarn info DIR TABLE
struct TInfoCommand {
  std::string Dir;
  std::string Table;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

// tarn verify DIR [TABLE...]
struct TVerifyCommand {
  std::string Dir;
  std::vector<std::string> Tables;
  bool Quiet = false;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

// tarn repair DIR TABLE
struct TRepairCommand {
  std::string Dir;
  std::string Table;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

}  // namespace tarn_tool
