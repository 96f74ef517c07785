#include "app/paths.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/config.h"

namespace vantor {

namespace {

struct TPathState {
  std::string ExeFileName;
  std::string ExeDir;
  char ExeDrive = '\0';
};

TPathState& State() {
  static TPathState state;
  return state;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

const std::string& ExeFileName() { return State().ExeFileName; }
const std::string& ExeDir() { return State().ExeDir; }
char ExeDrive() { return State().ExeDrive; }

namespace {

// The program's own directory when "Vantor.ini" lies beside it (the build
// tree, or a copy of the program with its files); otherwise the installed
// data directory (share/vantor beside bin/) when that holds it.
std::string InstalledDataDir(const std::string& programDir) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::path(programDir) / ConfigFileName, ec)) return programDir;
#ifdef VANTOR_DATA_DIR_FROM_BIN
  const std::filesystem::path data =
      (std::filesystem::path(programDir) / VANTOR_DATA_DIR_FROM_BIN).lexically_normal();
  if (std::filesystem::exists(data / ConfigFileName, ec)) return StripTrailingBackslash(data.string());
#endif
  return programDir;
}

}  // namespace

void InitPaths(std::string_view exeFileName) {
  std::string exe(exeFileName);
  if (exe.empty()) {
    std::error_code ec;
    exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) throw std::system_error(ec, "cannot find the running program");
  }
  TPathState s;
  s.ExeFileName = exe;
  std::string dir = ExtractFilePath(exe);
  s.ExeDir = dir.empty() ? std::string(".") : StripTrailingBackslash(dir);
  s.ExeDir = InstalledDataDir(s.ExeDir);
  if (::chdir(s.ExeDir.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "cannot enter " + s.ExeDir);
  s.ExeDrive = s.ExeDir.front();
  State() = std::move(s);
  std::srand(static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
}

std::string StripTrailingBackslash(std::string_view path) {
  assert(!path.empty());
  if (path.empty()) return {};
  const char last = path.back();
  bool strip = false;
  if (last == '\\') {
    strip = path.size() > 3;
  } else if (last == '/') {
    const bool driveRoot = path.size() == 3 && path[1] == ':';
    strip = path.size() > 1 && !driveRoot;
  }
  if (strip) path.remove_suffix(1);
  return std::string(path);
}

std::string EscapeAmpersands(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

std::size_t LastPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  std::size_t at = text.rfind(sub);
  return at == std::string_view::npos ? 0 : at + 1;
}

bool EndsWithChar(char c, std::string_view text) { return text.empty() || text.back() == c; }

std::string ExtractFilePath(std::string_view fileName) {
  std::size_t at = fileName.find_last_of("/\\:");
  return at == std::string_view::npos ? std::string() : std::string(fileName.substr(0, at + 1));
}

std::string ExtractFileName(std::string_view fileName) {
  std::size_t at = fileName.find_last_of("/\\:");
  return std::string(at == std::string_view::npos ? fileName : fileName.substr(at + 1));
}

std::string CombinePath(std::string_view fileName, std::string_view directory) {
  if (!ExtractFilePath(fileName).empty()) return std::string(fileName);
  std::string out(directory);
  if (!directory.empty() && !IsSeparator(directory.back())) {
    const bool backslashes =
        directory.find('\\') != std::string_view::npos && directory.find('/') == std::string_view::npos;
    out += backslashes ? '\\' : '/';
  }
  out += fileName;
  return out;
}

std::string ExePath(std::string_view fileName) { return CombinePath(ExtractFileName(fileName), ExeDir()); }

int MaxIntValue(std::initializer_list<int> values) {
  assert(values.size() > 0);
  return values.size() == 0 ? 0 : std::max(values);
}

}  // namespace vantor
