#include "app/table_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace vantor {

namespace fs = std::filesystem;

namespace {

constexpr const char* TableExtensions[] = {".DAT", ".IDX", ".BLB"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The file of directory whose name equals name in any letter case.
std::optional<fs::path> FindFile(const fs::path& directory, const std::string& name) {
  std::error_code ec;
  if (fs::exists(directory / name, ec)) return directory / name;
  const std::string wanted = Lower(name);
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    if (Lower(entry.path().filename().string()) == wanted) return entry.path();
  }
  return std::nullopt;
}

bool ReadOnly(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return ::access(file.c_str(), W_OK) != 0;
}

}  // namespace

std::string UserDataDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return (fs::path(xdg) / "vantor").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".local" / "share" / "vantor").string();
  return {};
}

TTableLocation PlayableTableDirectory(const std::string& directory, std::string_view tableName) {
  std::string osDirectory = directory;
  std::replace(osDirectory.begin(), osDirectory.end(), '\\', '/');
  // The table's files; the blob file only when the table has one.
  std::vector<fs::path> files;
  for (const char* ext : TableExtensions) {
    const std::optional<fs::path> file = FindFile(osDirectory, std::string(tableName) + ext);
    if (file) {
      files.push_back(*file);
    } else if (std::string_view(ext) != ".BLB") {
      return {directory, {}};
    }
  }
  if (std::none_of(files.begin(), files.end(), ReadOnly)) return {directory, {}};

  const std::string copy = UserDataDirectory();
  const std::string what = "The question table in " + osDirectory + " is read-only";
  if (copy.empty()) return {{}, what + ", and there is no user data directory to copy it to (HOME is not set)"};
  std::error_code ec;
  const bool present = std::all_of(files.begin(), files.end(), [&](const fs::path& f) {
    return fs::exists(fs::path(copy) / f.filename(), ec);
  });
  if (present) return {copy, {}};
  fs::create_directories(copy, ec);
  for (const fs::path& f : files) {
    if (ec) break;
    const fs::path target = fs::path(copy) / f.filename();
    fs::copy_file(f, target, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                         fs::perms::others_read, ec);
  }
  if (ec) {
    const std::error_code failure = ec;
    // A partial copy would be taken for a whole one next time.
    for (const fs::path& f : files) fs::remove(fs::path(copy) / f.filename(), ec);
    return {{}, what + ", and it could not be copied to " + copy + ": " + failure.message()};
  }
  return {copy, {}};
}

}  // namespace vantor
