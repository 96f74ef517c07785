#include "app/config.h"

#include <ini.h>
#include <strings.h>

#include <optional>

namespace vantor {

namespace {

struct TLookup {
  std::string Section;
  std::string Key;
  std::optional<std::string> Value;
};

int Handler(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<TLookup*>(user);
  if (!lookup->Value && strcasecmp(section, lookup->Section.c_str()) == 0 &&
      strcasecmp(name, lookup->Key.c_str()) == 0)
    lookup->Value = value;
  return 1;
}

}  // namespace

std::string ReadProfileString(const std::string& iniPath, std::string_view section, std::string_view key,
                              std::string_view defaultValue) {
  TLookup lookup{std::string(section), std::string(key), std::nullopt};
  if (ini_parse(iniPath.c_str(), &Handler, &lookup) < 0 || !lookup.Value) return std::string(defaultValue);
  std::string value = *lookup.Value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string ReadTablePath(const std::string& iniPath) {
  return ReadProfileString(iniPath, "Z", "Path", DefaultTablePath);
}

}  // namespace vantor
