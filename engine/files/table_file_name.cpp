#include "engine/files/table_file_name.h"

#include "engine/files/path_helpers.h"

namespace tarn {

std::string_view ExtractFileExt(std::string_view name) {
  const std::size_t dot = name.find_last_of(".\\/:");
  if (dot == std::string_view::npos || name[dot] != '.') return {};
  return name.substr(dot);
}

std::string MakeTableFileName(std::string_view name, std::string_view matchExt,
                              std::string_view newExt) {
  std::string result = TrimName(name);
  const std::string_view ext = ExtractFileExt(result);
  if (!ext.empty() && EqualNoCase(ext, matchExt)) result.resize(result.size() - ext.size());
  result += newExt;
  return result;
}

}  // namespace tarn
