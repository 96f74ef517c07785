#pragma once
// Repair of a damaged table by rebuilding it from its data file.
//
// RepairTable opens the table exclusively (nobody else may use it while it is
// repaired), reads its definition (fields, indexes, full-text index and its
// parameters, language, encryption, blob block size, description, versions,
// last auto-increment value) and creates a fresh work table with it in the
// same directory. It then copies every active record it can read, in record
// order, with its blob contents and its record identifier, into the work
// table, which builds every index, the full-text words, the free lists and the
// blob chains anew. Keys, blob chains and free slots that no record owns are
// thereby gone, and so is the mark of an interrupted write.
//
// Finally the old files become the backups (".DBK", ".IBK", ".BBK", replacing
// older backups) and the work table takes the table's name. A failure before
// that point deletes the work table and leaves the table as it was; the
// renames themselves are undone when the second one fails.
//
// What could not be kept is reported, never silently dropped: records that
// cannot be read, records whose unique keys collide with a record copied
// before them (the first one in record order is kept), records the new table
// refuses for another reason, and blob values that cannot be read (the record
// is kept with that field empty).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class TDataDirectory;

struct TRepairLoss {
  std::int32_t RecordNo = 0;  // in the damaged table
  bool RecordLost = true;     // false: the record was kept without a blob value
  std::string Text;
};

struct TRepairResult {
  std::int64_t RecordsKept = 0;
  std::vector<TRepairLoss> Losses;
  std::string BackupNote;  // where the old files went
};

// Called now and then with the fraction done (0 to 1).
using TRepairProgress = std::function<void(double done)>;

// Repairs table name of directory (a table on disk). Raises when the table
// cannot be opened at all or a file operation fails; the table is then
// unchanged.
TRepairResult RepairTable(TDataDirectory& directory, std::string_view name, const TRepairProgress& progress = {});

}  // namespace tarn
