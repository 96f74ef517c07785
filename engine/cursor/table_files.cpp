#include "engine/cursor/table_files.h"

#include "engine/files/file_list.h"
#include "engine/files/table_file_name.h"

namespace tarn {

std::string TableFilePath(const TDataDirectory& directory, std::string_view table, std::string_view ext) {
  return directory.Path() + MakeTableFileName(table, TableFileExt::Data, ext);
}

void RemoveTableFiles(const TDataDirectory& directory, std::string_view table, bool inMemory) noexcept {
  for (const std::string_view ext : {TableFileExt::Data, TableFileExt::Index, TableFileExt::Blob}) {
    try {
      const std::string path = TableFilePath(directory, table, ext);
      if (FileList().FileExists(path, inMemory)) (void)FileList().DeleteFile(path, inMemory);
    } catch (...) {
      // Whatever cannot be removed stays.
    }
  }
}

}  // namespace tarn
