#include "tools/tarn/tool_context.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "engine/base/engine_error.h"

namespace tarn_tool {

namespace {

// A password read from the terminal without echo; nullopt at end of input.
std::optional<std::string> ReadHidden(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  termios old{};
  const bool tty = tcgetattr(STDIN_FILENO, &old) == 0;
  if (tty) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (tty) tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  std::cerr << "\n";
  if (!got) return std::nullopt;
  return line;
}

bool HasDataExtension(const std::string& name) {
  if (name.size() < 5) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  return ext == ".DAT";
}

}  // namespace

TToolContext::TToolContext(const std::string& dir, const std::optional<std::string>& password) : FPath(dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) throw TUsageError{"not a directory: " + dir};
  if (password) FSession.AddPassword(*password);
  // The tool works on one table at a time and usually reads or writes all of
  // it: caches of a few megabytes per table (the engine's defaults are sized
  // for many small tables) keep a whole-table pass from rereading pages.
  // 4 MB of index setting holds 2 MB of 4 KB pages; the SQL statements' own
  // commit interval grows with the record cache (2 x its size / record size).
  // The record count stays at the engine's 8,192: it also caps that interval,
  // and a transaction's record locks, all held to its commit, make each
  // further lock dearer (the kernel checks every lock held on the file).
  FSession.SetMaxDataBufferSize(2 << 20);
  FSession.SetMaxIndexBufferSize(4 << 20);
  FSession.SetMaxBlobBufferSize(2 << 20);
  FDirectory = &FSession.OpenDirectory("tarn", dir);
}

TToolContext::~TToolContext() {
  if (FDirectory != nullptr) FSession.CloseDirectory(*FDirectory);
}

std::vector<std::string> TToolContext::TableNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FPath, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const std::string name = entry.path().filename().string();
    if (HasDataExtension(name)) names.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<tarn::TDataCursor> TToolContext::OpenTable(std::string_view table, bool readOnly, bool exclusive) {
  if (!FDirectory->TableExists(table, false)) {
    throw TUsageError{"no table \"" + std::string(table) + "\" in " + FPath};
  }
  auto cursor = std::make_unique<tarn::TDataCursor>(*FDirectory);
  cursor->SetTableName(table);
  cursor->SetReadOnly(readOnly);
  cursor->SetExclusive(exclusive);
  FAsking = std::string(table);
  FAsked = false;
  cursor->SetPasswordCallback(&TToolContext::AskPassword, this);
  cursor->OpenCursor();
  return cursor;
}

bool TToolContext::AskPassword(void* context, std::intptr_t) {
  auto& self = *static_cast<TToolContext*>(context);
  // One question per open; a wrong answer ends in the engine's error.
  if (self.FAsked || !isatty(STDIN_FILENO)) return false;
  self.FAsked = true;
  const std::optional<std::string> password = ReadHidden("Password for table '" + self.FAsking + "': ");
  if (!password || password->empty()) return false;
  self.FSession.AddPassword(*password);
  return true;
}

void PrintError(std::string_view text) { std::cerr << "tarn: " << text << "\n"; }

std::string ErrorText(const std::exception& e) {
  // An engine error's text starts with its code ("Tarn Engine Error # 8961 ...").
  return e.what();
}

void PrintEngineError(const std::exception& e) { std::cerr << "tarn: " << ErrorText(e) << "\n"; }

TProgressBar::TProgressBar(std::string label)
    : FLabel(std::move(label)), FStart(std::chrono::steady_clock::now()), FTerminal(isatty(STDERR_FILENO) != 0) {}

TProgressBar::~TProgressBar() { Done(); }

void TProgressBar::Update(double fraction) {
  if (!FTerminal) return;
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
  if (percent == FLastPercent) return;
  if (!FDrawn && std::chrono::steady_clock::now() - FStart < std::chrono::milliseconds(500)) return;
  FLastPercent = percent;
  FDrawn = true;
  constexpr int width = 30;
  const int filled = percent * width / 100;
  std::cerr << "\r" << FLabel << " [" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << percent << "%" << std::flush;
}

void TProgressBar::Done() {
  if (!FDrawn) return;
  std::cerr << "\r" << std::string(FLabel.size() + 40, ' ') << "\r" << std::flush;
  FDrawn = false;
}

}  // namespace tarn_tool
