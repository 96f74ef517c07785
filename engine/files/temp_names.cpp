#include "engine/files/temp_names.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "engine/files/file_list.h"

namespace tarn {

std::string TempNameStem() {
  const std::int64_t id = static_cast<std::int64_t>(::gettid());
  return std::to_string(std::llabs(id)).substr(0, 5);
}

std::string UniqueTempName(std::string_view ext,
                           const std::function<bool(const std::string& name)>& taken) {
  const std::string stem = TempNameStem();
  for (std::uint64_t counter = 0;; ++counter) {
    std::string name = stem + std::to_string(counter);
    name += ext;
    if (!taken(name)) return name;
  }
}

std::string UniqueTempFileName(std::string_view dir, std::string_view ext, bool inMemory) {
  const std::string prefix(dir);
  return prefix + UniqueTempName(ext, [&](const std::string& name) {
           return FileList().FileExists(prefix + name, inMemory);
         });
}

}  // namespace tarn
