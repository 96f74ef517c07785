#include "engine/files/path_helpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "engine/files/os_file_api.h"

namespace tarn {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Exists(const std::string& osPath) {
  struct stat info;
  return OsFileApi().Stat(osPath.empty() ? "." : osPath, &info) == 0;
}

// The entry of directory dir matching component case-insensitively; the
// smallest in byte order when several do. Empty when none does.
std::string FindNoCase(const std::string& dir, const std::string& component) {
  std::vector<std::string> names;
  if (OsFileApi().ListDirectory(dir.empty() ? "." : dir, names) != 0) return {};
  std::string best;
  for (const std::string& name : names) {
    if (EqualNoCase(name, component) && (best.empty() || name < best)) best = name;
  }
  return best;
}

}  // namespace

std::string TrimName(std::string_view name) {
  std::size_t first = 0;
  std::size_t last = name.size();
  while (first < last && IsBlank(name[first])) ++first;
  while (last > first && IsBlank(name[last - 1])) --last;
  return std::string(name.substr(first, last - first));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool SameFileName(std::string_view a, std::string_view b) {
  const std::string ta = TrimName(a);
  const std::string tb = TrimName(b);
  if (ta.size() != tb.size()) return false;
  for (std::size_t i = 0; i < ta.size(); ++i) {
    const char ca = IsSeparator(ta[i]) ? '\\' : LowerAscii(ta[i]);
    const char cb = IsSeparator(tb[i]) ? '\\' : LowerAscii(tb[i]);
    if (ca != cb) return false;
  }
  return true;
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string result = TrimName(path);
  if (!result.empty() && !IsSeparator(result.back())) result += '\\';
  return result;
}

std::string RemoveTrailingBackslash(std::string_view path) {
  if (!path.empty() && IsSeparator(path.back())) path.remove_suffix(1);
  return std::string(path);
}

std::string RemoveLeadingBackslash(std::string_view path) {
  if (!path.empty() && IsSeparator(path.front())) path.remove_prefix(1);
  return std::string(path);
}

std::string SlashesToBackslashes(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

bool CarriesOwnPath(std::string_view name) {
  return name.empty() || name.find_first_of(":\\/") != std::string_view::npos;
}

std::string ToOsPath(std::string_view name) {
  std::string result = TrimName(name);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

std::string ResolveOsPath(std::string_view name) {
  const std::string path = ToOsPath(name);
  if (path.empty() || Exists(path)) return path;
  // Walk the components; keep the existing prefix as it is and resolve each
  // missing component against its parent.
  std::string resolved;
  std::size_t at = 0;
  if (path[0] == '/') {
    resolved = "/";
    at = 1;
  }
  bool parentExists = true;
  while (at <= path.size()) {
    std::size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(at, end - at);
    const bool last = end == path.size();
    if (!component.empty() && component != "." && component != "..") {
      std::string candidate = resolved + component;
      if (parentExists && !Exists(candidate)) {
        const std::string match = FindNoCase(resolved.empty() ? std::string() : resolved, component);
        if (!match.empty()) {
          candidate = resolved + match;
        } else {
          parentExists = false;
        }
      }
      resolved = candidate;
    } else {
      resolved += component;
    }
    if (last) break;
    resolved += '/';
    at = end + 1;
  }
  return resolved;
}

}  // namespace tarn
