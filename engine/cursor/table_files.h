#pragma once
// The files of a table as plain files, for maintenance cleanup. Internal to
// engine/cursor.

#include <string>
#include <string_view>

#include "engine/session/data_directory.h"

namespace tarn {

// The path of table's file with extension ext in directory (".DAT", ".IDX",
// ".BLB", or a backup extension).
std::string TableFilePath(const TDataDirectory& directory, std::string_view table, std::string_view ext);

// Deletes whichever of the table's data, index and blob files exist (a table
// made only in part included); failures are ignored. Requires: no table
// object of the directory has the table open.
void RemoveTableFiles(const TDataDirectory& directory, std::string_view table, bool inMemory) noexcept;

}  // namespace tarn
