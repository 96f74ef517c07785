#pragma once
// One directory of table files opened in a session (a database of the
// component layer), with the shared table objects opened from it.
//
// TDataDirectory owns its TDataTable objects. A table object of the directory
// matches a request when its trimmed name equals the requested name ignoring
// case and it is in memory exactly when the request is. Table objects live
// while they are open (FOpenCount > 0) or a transaction holds them; a table
// object whose open fails is freed again, so a failure never leaves a closed
// object behind.
//
// Paths: FPath is the directory with a trailing backslash ("" for the
// "Memory" directory, whose tables live in in-memory files).
//
// Threads: one thread at a time (the session's); no lock of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session/data_table.h"

namespace tarn {

class TDataSession;
class TTableCursor;

class TDataDirectory {
 public:
  // Made by TDataSession::OpenDirectory.
  TDataDirectory(TDataSession& session, std::string_view name, std::string_view path);
  // Closes and frees every table object (buffers of exclusive tables written,
  // temporary ones discarded); never throws.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return FSession; }
  const std::string& Name() const { return FName; }
  const std::string& Path() const { return FPath; }
  std::uint16_t UseCount() const { return FUseCount; }
  bool InTransaction() const { return FInTransaction; }
  std::size_t TableCount() const { return FTables.size(); }
  // The matching table object, or nullptr.
  TDataTable* FindTable(std::string_view name, bool inMemory) const;

  // Opens or shares the table. A matching table in use is shared (OpenTable,
  // FOpenCount + 1) unless it or the request is exclusive, which raises 11013
  // naming the table, except when the table is held only by a transaction or
  // the request joins anyway. A matching unused table takes the request's
  // flags and is opened; otherwise a new table object is opened and kept only
  // when the open succeeds. Give it back with ReleaseTable.
  TDataTable& OpenTable(std::string_view name, const TTableOpenOptions& options);
  // CloseTable(discard) when open; a table then neither open nor in a
  // transaction is freed. Raises 11010 when the table is not of this directory.
  void ReleaseTable(TDataTable& table, bool discard);

  // What a cursor's open does: OpenTable; the open that makes the table's
  // FOpenCount 1 runs VerifyTable inside a read lock (CheckTableVersion only
  // for internal cursors; nothing when a transaction with written data holds
  // the table); then DemandPassword with the cursor's callback and
  // AttachCursor. Any failure gives the table back and re-raises.
  TDataTable& OpenTableForCursor(std::string_view name, const TTableOpenOptions& options,
                                 TTableCursor& cursor);
  // DetachCursor and ReleaseTable.
  void ReleaseTableForCursor(TDataTable& table, TTableCursor& cursor, bool discard);

  // Creates the table's files; the table stays open exclusively, with
  // everything still to be written, until ReleaseTable. 11013 when a matching
  // table is in use; a new table object is freed again when creation fails.
  TDataTable& CreateTable(std::string_view name, bool inMemory, bool temporary,
                          const TTableDefinition& definition);
  // Deletes the table's files. 11013 naming the table when a matching table
  // object is open (a transaction holding it keeps it open), or when any file
  // of the table is in use in another session or another process; nothing is
  // deleted then (TDataTable::DeleteTable).
  void DeleteTable(std::string_view name, bool inMemory);
  // Renames the table's files (to the backup extensions with backup). 11013 as
  // for DeleteTable, with nothing renamed.
  void RenameTable(std::string_view name, bool inMemory, std::string_view newName, bool backup);
  // True when a table object of the directory has that data file name, or
  // when the data file exists.
  bool TableExists(std::string_view name, bool inMemory) const;
  // The first free temporary table name: thread stem + counter + ".DAT".
  std::string UniqueTableName(bool inMemory) const;

  // Use count, kept by the session.
  void AddUse() { ++FUseCount; }
  std::uint16_t DropUse() { return FUseCount > 0 ? --FUseCount : 0; }

 private:
  // Index of t in FTables, or -1.
  int IndexOf(const TDataTable& t) const;
  void Remove(const TDataTable& t) noexcept;
  // Sets flags on idle (a table object found, but neither open nor held by a
  // transaction) or, when idle is null, on a new object for name, and runs
  // start (OpenTable or CreateTable) on it. A new object joins the list only
  // when start succeeds; an idle one that start leaves closed and outside a
  // transaction is removed. Re-raises start's failure.
  TDataTable& StartTable(TDataTable* idle, std::string_view name, const TTableOpenOptions& flags,
                         const std::function<void(TDataTable&)>& start);
  [[noreturn]] void Raise(TErrorCode code, std::string_view table) const;

  TDataSession& FSession;
  std::string FName;
  std::string FPath;
  std::vector<std::unique_ptr<TDataTable>> FTables;
  std::uint16_t FUseCount = 0;
  bool FInTransaction = false;
};

}  // namespace tarn
