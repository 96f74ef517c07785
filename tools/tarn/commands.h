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

// tarn dump DIR TABLE [--format csv|json] [--where EXPR] [--index NAME]
struct TDumpCommand {
  std::string Dir;
  std::string Table;
  std::string Format = "json";
  std::string Where;
  std::optional<std::string> Index;
  std::string Output;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

// tarn load DIR TABLE FILE [--format csv|json] [--create] [--skip-bad]
struct TLoadCommand {
  std::string Dir;
  std::string Table;
  std::string File;
  std::string Format;
  bool Create = false;
  bool SkipBad = false;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

// tarn sql DIR [STATEMENT...]
struct TSqlCommand {
  std::string Dir;
  std::vector<std::string> Statements;
  void Register(CLI::App& app, TCommonOptions& common);
  int Run(const TCommonOptions& common) const;
};

}  // namespace tarn_tool
