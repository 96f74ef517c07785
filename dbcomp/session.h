#pragma once
// A session component: the application's handle on one engine session
// (tarn::TDataSession). It carries the settings the engine session applies to
// every table (locking, change detection, flushing, the private directory),
// the table passwords (kept in the engine session's list) and, for a remote
// session, the server connection's properties.
//
// Sessions are registered in the process-wide session list (session_list.h),
// which owns them; a session may also belong to a component owner
// (component_owner.h). The session that was first in the list ("Default")
// uses the process-wide engine session; every other session has an engine
// session of its own while it is active.
//
// States:
//   Inactive  no engine session; every property may be set. Start() -> Active.
//   Active    the engine session exists and holds the settings; the remote
//             connection's properties and the session name are fixed.
//             Stop() -> Inactive (the engine session and its passwords are
//             dropped). A failed Start leaves the session inactive.
//
// Lock: every call into the engine is bracketed by Enter/Leave, which take the
// component layer's lock (one process-wide recursive mutex of the session
// list). While a session has entered, its engine session is the current one
// (CurrentEngineSession). The re-entry count belongs to the session, not to a
// thread: one session is meant for one thread at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {
class TDataSession;
}

namespace dbcomp {

class TComponentOwner;
class TTarnDatabase;
class TTarnSessionList;

enum class TLockProtocol : std::uint8_t { lpPessimistic = 0, lpOptimistic = 1 };
enum class TSessionType : std::uint8_t { stLocal, stRemote };
enum class TRemoteType : std::uint8_t { rtLAN, rtInternet };

class TTarnSession {
 public:
  // The buffer limits handed to every engine session this component starts.
  static constexpr std::int32_t MaxDataBufferSize = 16384;
  static constexpr std::int32_t MaxDataBufferCount = 8192;
  static constexpr std::int32_t MaxIndexBufferSize = 16384;
  static constexpr std::int32_t MaxBlobBufferSize = 32768;
  static constexpr std::int32_t MaxBlobBufferCount = 8192;
  static constexpr std::uint16_t MaxProgressSteps = 100;
  static constexpr std::int32_t DefaultRemotePort = 12005;

  // Stops the session, gives back its auto-session number and leaves its
  // owner. Made and freed by TTarnSessionList. Requires: not inside its own
  // Enter/Leave.
  ~TTarnSession();
  TTarnSession(const TTarnSession&) = delete;
  TTarnSession& operator=(const TTarnSession&) = delete;

  // ---- component ----
  const std::string& Name() const noexcept { return FName; }
  // Renaming the component renames an auto-named session ("%s_%d"), which
  // raises while the session is active; the name is then unchanged.
  void SetName(std::string_view name);
  TComponentOwner* Owner() const noexcept { return FOwner; }
  TTarnSessionList& List() const noexcept { return FList; }
  // Loading from a stored form: Active set in between only records the
  // value, which EndLoading applies.
  void BeginLoading() noexcept { FLoading = true; }
  void EndLoading();

  // ---- state ----
  bool Active() const noexcept { return FActive; }
  void SetActive(bool value);
  // Under the component layer's lock: OnStartup; "Session name is missing."
  // for an empty name; the default session is started first; the engine
  // session is made (the process-wide one for the first session) and given
  // PrivateDir, StrictChangeDetection, ForceBufferFlush, LockRetryCount,
  // LockWaitTime, LockProtocol, ProgressSteps and the five buffer limits, in
  // that order. A remote session raises the engine's 11280: this engine
  // connects to no server. Any failure stops the session and re-raises.
  void Start();
  // Under the lock: drops the engine session (the first session finalises the
  // process-wide one; another makes the first session's current again).
  void Stop() noexcept;
  // The engine session; null while inactive.
  tarn::TDataSession* EngineSession() const noexcept { return FEngineSession; }
  bool FirstSession() const noexcept { return FFirstSession; }

  // ---- names ----
  const std::string& SessionName() const noexcept { return FSessionName; }
  // Raises "Cannot perform this operation on the active auto-session." on an
  // auto-named session, "Cannot perform this operation on an active session."
  // while active, "Session name %s already exists." when another session of
  // the list has the name (ignoring case).
  void SetSessionName(std::string_view name);
  bool AutoSessionName() const noexcept { return FAutoSessionName; }
  // On: requires an inactive session that is its owner's only session ("The
  // active auto-session can be the only active session." otherwise); takes the
  // lowest free number n of the list, names the session "<Name>_<n+1>" and
  // gives that name to the owner's session clients. Off: frees the number.
  void SetAutoSessionName(bool value);
  // The auto-session number, -1 when none.
  int AutoSessionNumber() const noexcept { return FAutoSessionNumber; }

  // ---- settings (these may change while active: the engine session gets
  // the new value at once, inside Enter/Leave) ----
  const std::string& PrivateDir() const noexcept { return FPrivateDir; }
  void SetPrivateDir(std::string_view value);
  std::uint16_t ProgressSteps() const noexcept { return FProgressSteps; }
  // Values above 100 are ignored.
  void SetProgressSteps(std::uint16_t value);
  std::uint8_t LockRetryCount() const noexcept { return FLockRetryCount; }
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const noexcept { return FLockWaitTime; }
  void SetLockWaitTime(std::uint16_t value);
  TLockProtocol LockProtocol() const noexcept { return FLockProtocol; }
  void SetLockProtocol(TLockProtocol value);
  bool StrictChangeDetection() const noexcept { return FStrictChangeDetection; }
  void SetStrictChangeDetection(bool value);
  bool ForceBufferFlush() const noexcept { return FForceBufferFlush; }
  void SetForceBufferFlush(bool value);
  bool RemoteTrace() const noexcept { return FRemoteTrace; }
  void SetRemoteTrace(bool value);
  bool KeepConnections() const noexcept { return FKeepConnections; }
  void SetKeepConnections(bool value) noexcept { FKeepConnections = value; }

  // ---- the remote connection (each setter raises "Cannot perform this
  // operation on an active session." while active) ----
  TSessionType SessionType() const noexcept { return FSessionType; }
  void SetSessionType(TSessionType value);
  TRemoteType RemoteType() const noexcept { return FRemoteType; }
  void SetRemoteType(TRemoteType value);
  const std::string& RemoteHost() const noexcept { return FRemoteHost; }
  void SetRemoteHost(std::string_view value);
  const std::string& RemoteAddress() const noexcept { return FRemoteAddress; }
  void SetRemoteAddress(std::string_view value);
  std::int32_t RemotePort() const noexcept { return FRemotePort; }
  void SetRemotePort(std::int32_t value);
  const std::string& RemoteService() const noexcept { return FRemoteService; }
  void SetRemoteService(std::string_view value);
  const std::string& RemoteUser() const noexcept { return FRemoteUser; }
  void SetRemoteUser(std::string_view value);
  const std::string& RemotePassword() const noexcept { return FRemotePassword; }
  void SetRemotePassword(std::string_view value);

  // Read only: writing it does nothing.
  std::string EngineVersion() const { return "3.19"; }
  void SetEngineVersion(std::string_view) noexcept {}

  // ---- passwords ----
  // Each runs inside Enter/Leave (starting the session when it is inactive)
  // and hands the password, cut to 255 characters, to the engine session's
  // list. Comparisons are exact; an empty password is never added.
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  // False while inactive (there is no list).
  bool HasPassword(std::string_view password) const;
  // A copy of the engine session's list; empty while inactive.
  std::vector<std::string> Passwords() const;

  // ---- databases ----
  // The first database of the session whose DatabaseName equals name
  // (ignoring case), or null.
  TTarnDatabase* FindDatabase(std::string_view name) const;
  // Inside Enter/Leave: a database of the session with that name and owner
  // and HandleShared on, else any database with that name; without one a
  // temporary database owned by the session (Directory = name unless the name
  // is "Memory"; KeepConnection = KeepConnections). Connects it (a new one is
  // freed again when that fails), adds one to its use count and returns it.
  TTarnDatabase& OpenDatabase(std::string_view name, TComponentOwner* owner = nullptr);
  // One use less (not below 0); at 0 with KeepConnection off a temporary
  // database is freed, any other one disconnected.
  void CloseDatabase(TTarnDatabase& database);
  // The databases of the session, in registration order (a snapshot).
  std::vector<TTarnDatabase*> Databases() const { return FDatabases; }

  // ---- the engine's callbacks ----
  // The password callback: the engine asks it when an encrypted table's
  // password is not in the list. OnPassword when set (Continue starts false),
  // else the password dialog through the installed hook (password_hook.h).
  // True: the list may have changed, try again; false: the open fails
  // with 10498.
  bool RequestPassword();
  // RequestPassword in the form of the engine cursor's password event:
  // context is the TTarnSession, argument unused. The table component
  // installs it with its session as the context.
  static bool PasswordCallback(void* context, std::intptr_t argument);
  // The remote login callback: OnRemoteLogin with Continue starting true;
  // without a handler the login is declined (this program has no login
  // dialog). User name and password are cut to 255 characters.
  bool RequestRemoteLogin(std::string& user, std::string& password);
  // The trace callback: passes the line to OnRemoteTrace; always true.
  bool TraceRemote(std::string_view message);

  // ---- the component layer's lock ----
  // Enter: a nested entry only counts up; otherwise takes the lock, counts up
  // and makes this session's engine session current, starting the session
  // when inactive (a failed start gives the entry back and re-raises).
  void Enter();
  // Counts down; the lock is released when the count reaches zero.
  void Leave() noexcept;
  int EnterCount() const noexcept { return FEnterCount; }

  // ---- events ----
  std::function<void(TTarnSession& sender)> OnStartup;
  std::function<void(TTarnSession& sender, bool& continueOpen)> OnPassword;
  std::function<void(TTarnSession& sender, std::string& user, std::string& password,
                     bool& continueLogin)>
      OnRemoteLogin;
  std::function<void(TTarnSession& sender, std::string_view message)> OnRemoteTrace;

 private:
  friend class TTarnSessionList;
  friend class TTarnDatabase;
  void AddDatabase(TTarnDatabase& database);
  void RemoveDatabase(TTarnDatabase& database) noexcept;
  // Frees a temporary database of this session.
  void FreeTemporary(TTarnDatabase& database) noexcept;
  // Defaults; registered with owner when given. The list checks the owner
  // rules first.
  TTarnSession(TTarnSessionList& list, std::string name, TComponentOwner* owner, bool firstSession);

  // SetSessionName without the auto-session check (the session naming
  // itself).
  void ChangeSessionName(std::string_view name, bool byItself);
  void CheckInactive() const;
  // Gives the session name to every client of the owner whose name differs.
  void NameOwnerClients();
  void ReleaseAutoSessionNumber() noexcept;
  void ApplySettings();
  // Stores a setting and, while active, passes it to the engine session
  // inside Enter/Leave.
  template <typename T>
  void ChangeSetting(T& field, T value, void (*pass)(tarn::TDataSession&, T));

  TTarnSessionList& FList;
  TComponentOwner* FOwner;
  std::string FName;
  bool FActive = false;
  bool FLoading = false;
  bool FStreamedActive = false;
  bool FAutoSessionName = false;
  std::string FSessionName;
  bool FKeepConnections = true;
  std::string FPrivateDir;
  std::uint16_t FProgressSteps = 20;
  std::uint8_t FLockRetryCount = 15;
  std::uint16_t FLockWaitTime = 100;
  TLockProtocol FLockProtocol = TLockProtocol::lpPessimistic;
  bool FStrictChangeDetection = false;
  bool FForceBufferFlush = false;
  TSessionType FSessionType = TSessionType::stLocal;
  TRemoteType FRemoteType = TRemoteType::rtLAN;
  std::string FRemoteHost;
  std::string FRemoteAddress = "127.0.0.1";
  std::int32_t FRemotePort = DefaultRemotePort;
  std::string FRemoteService;
  bool FRemoteTrace = false;
  std::string FRemoteUser;
  std::string FRemotePassword;

  // The engine session while active: the process-wide one for the first
  // session, otherwise FOwnEngineSession.
  tarn::TDataSession* FEngineSession = nullptr;
  // Every database registered with the session; the temporary ones are owned.
  std::vector<TTarnDatabase*> FDatabases;
  std::vector<std::unique_ptr<TTarnDatabase>> FTemporaryDatabases;
  std::unique_ptr<tarn::TDataSession> FOwnEngineSession;
  int FEnterCount = 0;
  bool FFirstSession;
  int FAutoSessionNumber = -1;
};

// The engine session of the session that last entered the component layer's
// lock (or of the first session after another one stopped); null before any.
tarn::TDataSession* CurrentEngineSession() noexcept;

// Brackets a scope with Enter/Leave.
class TSessionGuard {
 public:
  explicit TSessionGuard(TTarnSession& session) : FSession(session) { session.Enter(); }
  ~TSessionGuard() { FSession.Leave(); }
  TSessionGuard(const TSessionGuard&) = delete;
  TSessionGuard& operator=(const TSessionGuard&) = delete;

 private:
  TTarnSession& FSession;
};

}  // namespace dbcomp
