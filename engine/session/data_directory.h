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
// Transactions (data_directory_transactions.cpp): between StartTransaction
// and the end (Commit with endTransaction, or Rollback) every table of the
// directory that is open for writing, and every one opened meanwhile, holds
// its transaction lock and keeps all its changes in its caches; nothing of
// them reaches the files before the commit. Tables are visited in the order
// the directory opened them when joining, in reverse order when committing
// or rolling back. A table stays open, and in FTables, until its transaction
// ends even when no cursor uses it any more. Read-only tables take no part.
//
// Paths: FPath is the directory with a trailing backslash ("" for the
// "Memory" directory, whose tables live in in-memory files).
//
// Threads: one thread at a time (the session's); no lock of its own.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
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
  // Rolls back a transaction still running, then closes and frees every
  // table object (buffers of exclusive tables written, temporary ones
  // discarded); never throws.
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

  // ---- transactions ----
  // Puts every table into the transaction: an exclusive table first writes
  // its buffers; each table takes its transaction lock (10249 when it cannot
  // be had), a shared one then checks for changes by other programs. When a
  // table fails, the tables that joined leave again as in Rollback and the
  // failure is raised; the directory stays outside a transaction. Nothing
  // when a transaction is running already.
  void StartTransaction();
  // The same for the tables given only (those of them that are open here):
  // a statement that changes one table needs no lock on the others. Tables
  // opened during the transaction join it as usual.
  void StartTransaction(std::span<TDataTable* const> tables);
  // Writes every change buffered by the transaction, in three passes over
  // the tables (last opened first): (1) the write lock of each table;
  // (2) the ordered write of the buffers (write_order.h) with its first
  // phase on every table before the second on any, so that a committer
  // killed part way leaves marks that others report; with forceFlush (or the
  // session's ForceBufferFlush) the files are flushed between the phases;
  // with endTransaction the caches are trimmed; (3) always, also after a
  // failure in (1) or (2): the write locks are released and the deferred
  // record unlocks happen; with endTransaction the transaction locks go too,
  // the tables and the directory leave the transaction and tables no cursor
  // uses are closed. Without endTransaction the transaction goes on, with
  // everything so far on disk for good. The first failure is raised after
  // pass 3 (a failed write leaves its marks: the tables report damage).
  // Nothing outside a transaction.
  void Commit(bool endTransaction, bool forceFlush);
  // Drops every change buffered since the start or the last commit: each
  // table (last opened first) discards its caches unwritten, re-reads its
  // headers and trims its caches, then releases its transaction lock and its
  // deferred record locks; tables no cursor uses are closed. Cursors refresh
  // at their next operation and re-find their position in the restored
  // data. Writes nothing; the first failure (a header that cannot be read,
  // a lock that cannot be released) is raised after every table was done.
  // Nothing outside a transaction.
  void Rollback();

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
  // OpenTable without joining a running transaction.
  TDataTable& OpenTableOutside(std::string_view name, const TTableOpenOptions& options);
  // The transaction steps of one table. JoinTransaction returns whether the
  // table joined (false: already in, read-only or closed).
  bool JoinTransaction(TDataTable& table);
  // Drops the table's buffered changes and releases its transaction lock;
  // the first failure is kept in failure.
  static void LeaveTransaction(TDataTable& table, std::exception_ptr& failure) noexcept;
  // The tables in a transaction, last opened first.
  std::vector<TDataTable*> TransactionTables() const;
  // Closes and removes the tables neither open for a user nor in a
  // transaction; the first failure is kept in failure.
  void ReleaseUnusedTables(std::exception_ptr& failure) noexcept;

  TDataSession& FSession;
  std::string FName;
  std::string FPath;
  std::vector<std::unique_ptr<TDataTable>> FTables;
  std::uint16_t FUseCount = 0;
  bool FInTransaction = false;
};

}  // namespace tarn
