#pragma once
// A database component: a name that datasets find through their session, and
// the engine directory (tarn::TDataDirectory) it holds while connected.
//
// A database names a directory of table files (Directory), the in-memory
// store ("Memory"), or a database on a server (RemoteDatabase; a remote
// session is refused by the engine). Datasets find it by DatabaseName through
// their session (TTarnSession::OpenDatabase); a name that no database
// component has is taken as a directory, for which the session makes a
// temporary database of its own.
//
// Registration: a database is always in the database list of one session (its
// SessionName; empty = the default session), from construction until it is
// freed. The session owns the temporary databases it makes; every other
// database belongs to whoever made it. A session that is freed first leaves
// its databases with no session (they can then only be freed).
//
// States:
//   Disconnected  no directory; every name may be set.
//   Connected     the engine directory is open (or borrowed from another
//                 database of the same name with HandleShared); the names are
//                 fixed ("Cannot perform this operation on an open database.").
// Close() closes every attached dataset (last first), then the directory.
//
// Names: every "/" of DatabaseName, Directory and RemoteDatabase becomes "\",
// each is cut to 255 characters. A database that is not temporary may not
// have ":" or "\" in its DatabaseName.
//
// Threads: the thread that uses the session. Every engine call runs inside
// the session's Enter/Leave.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dbcomp/session_client.h"

namespace tarn {
class TDataDirectory;
}

namespace dbcomp {

class TComponentOwner;
class TTarnDBDataSet;
class TTarnSession;

class TTarnDatabase : public TSessionClient {
 public:
  // Registers with the session named by the owner's auto-session, else the
  // default session. Requires: the component layer is running.
  explicit TTarnDatabase(TComponentOwner* owner = nullptr);
  // Disconnects (failures ignored) and leaves the session and the owner.
  ~TTarnDatabase() override;
  TTarnDatabase(const TTarnDatabase&) = delete;
  TTarnDatabase& operator=(const TTarnDatabase&) = delete;

  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TComponentOwner* Owner() const noexcept { return FOwner; }

  // ---- names (each requires a disconnected database) ----
  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  // Runs the name check: ":" or "\" in a non-temporary database raises
  // "Database name %s is not valid."; another database of the session with
  // the name raises "Database name %s already exists." unless both share
  // their handle (an unused temporary one is freed instead).
  void SetDatabaseName(std::string_view name);
  const std::string& Directory() const noexcept { return FDirectory; }
  void SetDirectory(std::string_view path);
  const std::string& RemoteDatabase() const noexcept { return FRemoteDatabase; }
  void SetRemoteDatabase(std::string_view name);
  // TSessionClient: moves the database to that session's list.
  std::string SessionName() const override { return FSessionName; }
  void SetSessionName(std::string_view name) override;
  // The session the database is registered with; null after it was freed.
  TTarnSession* Session() const noexcept { return FSession; }

  // ---- connection ----
  bool Connected() const noexcept { return FHandle != nullptr; }
  void SetConnected(bool value) { value ? Open() : Close(); }
  // BeforeConnect; "Database name is missing." for a nameless non-temporary
  // database; the session (by SessionName) is started; a HandleShared
  // database borrows the directory of a connected one of the same name;
  // otherwise the engine session opens the directory. Nothing when connected.
  void Open();
  // Closes every attached dataset (last first) and gives the directory back.
  void Close();
  bool KeepConnection() const noexcept { return FKeepConnection; }
  void SetKeepConnection(bool value) noexcept { FKeepConnection = value; }
  bool HandleShared() const noexcept { return FHandleShared; }
  void SetHandleShared(bool value);
  // Made by a session for a directory name.
  bool Temporary() const noexcept { return FTemporary; }
  // The engine directory; null while disconnected.
  tarn::TDataDirectory* Handle() const noexcept { return FHandle; }
  std::string EngineVersion() const { return "3.19"; }
  void SetEngineVersion(std::string_view) noexcept {}

  // ---- transactions (each requires a connected database: "Cannot perform
  // this operation on a closed database.") ----
  bool InTransaction() const;
  // "Database %s already has an active transaction." when one is active.
  void StartTransaction();
  // "Database %s has no active transaction." when none is. forceFlush asks the
  // operating system to flush the written files.
  void Commit(bool forceFlush = false);
  void Rollback();

  // ---- datasets ----
  std::size_t DataSetCount() const noexcept { return FDataSets.size(); }
  TTarnDBDataSet* DataSets(std::size_t i) const { return FDataSets.at(i); }
  // Datasets holding the database (TTarnSession::OpenDatabase / CloseDatabase).
  int UseCount() const noexcept { return FUseCount; }

  std::function<void(TTarnDatabase& sender)> BeforeConnect;

 private:
  friend class TTarnSession;
  friend class TTarnDBDataSet;
  // A temporary database of session (made by TTarnSession::OpenDatabase).
  TTarnDatabase(TTarnSession& session, std::string_view name);
  void CheckInactive() const;
  void CheckActive() const;
  // The name check; the database itself is skipped.
  void CheckName(std::string_view name);
  void AttachDataSet(TTarnDBDataSet& dataSet);
  void DetachDataSet(TTarnDBDataSet& dataSet) noexcept;
  // Close for destructors and the session's stop: failures are ignored.
  void CloseNoThrow() noexcept;
  // The session forgets the database (it is being freed).
  void SessionGone() noexcept { FSession = nullptr; FHandle = nullptr; FShared = false; }

  std::string FName;
  TComponentOwner* FOwner = nullptr;
  TTarnSession* FSession = nullptr;
  std::string FDatabaseName;
  std::string FDirectory;
  std::string FRemoteDatabase;
  std::string FSessionName;
  bool FKeepConnection = true;
  bool FHandleShared = false;
  bool FTemporary = false;
  bool FShared = false;  // FHandle belongs to another database
  tarn::TDataDirectory* FHandle = nullptr;
  std::vector<TTarnDBDataSet*> FDataSets;
  int FUseCount = 0;
  // True while Close disconnects the datasets: a dataset letting the
  // database go meanwhile must not close (or free) it a second time.
  bool FClosing = false;
};

// The name of the in-memory database (compared ignoring case).
inline constexpr std::string_view MemoryDatabaseName = "Memory";

// A name as the component layer keeps it: every "/" replaced by "\", at most
// 255 characters.
std::string NormalizeName(std::string_view name);

}  // namespace dbcomp
