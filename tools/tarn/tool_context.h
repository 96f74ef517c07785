#pragma once
// What every subcommand of the tarn tool shares: one engine session with the
// directory it works on, the password path, messages on standard error and
// the progress bar.
//
// Passwords: a --password given on the command line is registered with the
// session before any table opens. Without one, opening an encrypted table
// asks on the terminal (no echo) when standard input is a terminal; otherwise
// the open fails with the engine's password error.
//
// Exit codes of the tool: 0 success, 1 a failure of the work (or a damaged
// table for verify), 2 a usage error.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"

namespace tarn_tool {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// Raised for usage errors found after parsing (a missing directory, an
// unknown table): printed, exit 2.
struct TUsageError {
  std::string Message;
};

class TToolContext {
 public:
  // Opens a session on the directory dir (which must exist).
  TToolContext(const std::string& dir, const std::optional<std::string>& password);
  ~TToolContext();
  TToolContext(const TToolContext&) = delete;
  TToolContext& operator=(const TToolContext&) = delete;

  tarn::TDataSession& Session() { return FSession; }
  tarn::TDataDirectory& Directory() { return *FDirectory; }
  const std::string& Path() const { return FPath; }

  // The names of the tables of the directory (every file with the data
  // extension, any letter case), sorted, without the extension.
  std::vector<std::string> TableNames() const;
  // A cursor on the table, open; readOnly and exclusive as asked. Raises
  // TUsageError when the table does not exist.
  std::unique_ptr<tarn::TDataCursor> OpenTable(std::string_view table, bool readOnly, bool exclusive = false);

 private:
  static bool AskPassword(void* context, std::intptr_t argument);

  tarn::TDataSession FSession;
  tarn::TDataDirectory* FDirectory = nullptr;
  std::string FPath;
  std::string FAsking;  // the table whose password is being asked
  bool FAsked = false;
};

// One line on standard error: "tarn: " + text.
void PrintError(std::string_view text);
// The text of an error: for an engine error its code and message.
std::string ErrorText(const std::exception& e);
// ErrorText on standard error.
void PrintEngineError(const std::exception& e);

// A progress bar on standard error, drawn only when it is a terminal and the
// work has run for more than half a second; erased by Done or the destructor.
class TProgressBar {
 public:
  explicit TProgressBar(std::string label);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;
  // fraction in 0..1.
  void Update(double fraction);
  void Done();

 private:
  std::string FLabel;
  std::chrono::steady_clock::time_point FStart;
  bool FTerminal = false;
  bool FDrawn = false;
  int FLastPercent = -1;
};

}  // namespace tarn_tool
