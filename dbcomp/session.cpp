#include "dbcomp/session.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <mutex>
#include <string>

#include "dbcomp/component_owner.h"
#include "dbcomp/database.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/password_hook.h"
#include "dbcomp/session_client.h"
#include "dbcomp/session_list.h"
#include "engine/base/names.h"
#include "engine/session/data_session.h"

namespace dbcomp {

namespace {

constexpr std::size_t MaxPassword = tarn::MaxSessionString;

// The engine's process-wide session: made when the first session starts,
// finalised when it stops. Touched only under the component layer's lock.
std::unique_ptr<tarn::TDataSession> GProcessSession;
// Written under the component layer's lock; read anywhere.
std::atomic<tarn::TDataSession*> GCurrentSession{nullptr};

std::string Cut(std::string_view text) { return std::string(text.substr(0, MaxPassword)); }

}  // namespace

tarn::TDataSession* CurrentEngineSession() noexcept { return GCurrentSession.load(); }

TTarnSession::TTarnSession(TTarnSessionList& list, std::string name, TComponentOwner* owner,
                           bool firstSession)
    : FList(list), FOwner(owner), FSessionName(std::move(name)), FFirstSession(firstSession) {
  if (FOwner != nullptr) FOwner->AddSession(*this);
}

TTarnSession::~TTarnSession() {
  assert(FEnterCount == 0);  // freed inside its own Enter/Leave: the lock would stay taken
  Stop();
  // Databases made by others outlive the session without it.
  for (TTarnDatabase* database : FDatabases) database->SessionGone();
  FDatabases.clear();
  ReleaseAutoSessionNumber();
  if (FOwner != nullptr) FOwner->RemoveSession(*this);
}

// ------------------------------------------------------------- component ----

void TTarnSession::SetName(std::string_view name) {
  if (FAutoSessionName) {
    ChangeSessionName(FormatMessage("%s_%d", {name, std::to_string(FAutoSessionNumber + 1)}), true);
    FName = std::string(name);
    NameOwnerClients();
    return;
  }
  FName = std::string(name);
}

void TTarnSession::EndLoading() {
  FLoading = false;
  if (FStreamedActive) Start();
}

// ----------------------------------------------------------------- state ----

void TTarnSession::SetActive(bool value) {
  if (FLoading) {
    FStreamedActive = value;
    return;
  }
  value ? Start() : Stop();
}

void TTarnSession::Start() {
  std::lock_guard lock(FList.Lock());
  if (FActive) return;
  if (OnStartup) OnStartup(*this);
  if (FSessionName.empty()) DatabaseError(Msg::SessionNameMissing);
  TTarnSession& defaultSession = FList.DefaultSession();
  if (&defaultSession != this) defaultSession.Start();
  try {
    if (FFirstSession) {
      if (!GProcessSession) GProcessSession = std::make_unique<tarn::TDataSession>();
      FEngineSession = GProcessSession.get();
    } else {
      FOwnEngineSession = std::make_unique<tarn::TDataSession>();
      FEngineSession = FOwnEngineSession.get();
    }
    FActive = true;
    GCurrentSession = FEngineSession;
    ApplySettings();
    if (FSessionType == TSessionType::stRemote) {
      FEngineSession->SetRemoteServer(FRemoteHost.empty() ? FRemoteAddress : FRemoteHost);
      FEngineSession->Connect();
    }
    FEngineSession->SetRemote(false);
  } catch (...) {
    Stop();
    throw;
  }
}

void TTarnSession::ApplySettings() {
  tarn::TDataSession& engine = *FEngineSession;
  engine.SetPrivateDirectory(FPrivateDir);
  engine.SetStrictChangeDetection(FStrictChangeDetection);
  engine.SetForceBufferFlush(FForceBufferFlush);
  engine.SetLockRetryCount(FLockRetryCount);
  engine.SetLockWaitTime(FLockWaitTime);
  engine.SetLockProtocol(static_cast<tarn::TLockProtocol>(FLockProtocol));
  engine.SetProgressSteps(FProgressSteps);
  engine.SetMaxDataBufferSize(MaxDataBufferSize);
  engine.SetMaxDataBufferCount(MaxDataBufferCount);
  engine.SetMaxIndexBufferSize(MaxIndexBufferSize);
  engine.SetMaxBlobBufferSize(MaxBlobBufferSize);
  engine.SetMaxBlobBufferCount(MaxBlobBufferCount);
}

void TTarnSession::Stop() noexcept {
  std::lock_guard lock(FList.Lock());
  if (FEngineSession == nullptr) {
    FActive = false;
    return;
  }
  GCurrentSession = FEngineSession;
  // Databases last to first: temporary ones are freed, the others closed.
  for (std::size_t i = FDatabases.size(); i-- > 0;) {
    if (i >= FDatabases.size()) continue;
    TTarnDatabase* database = FDatabases[i];
    if (database->Temporary())
      FreeTemporary(*database);
    else
      database->CloseNoThrow();
  }
  // The engine session's destructor closes its directories and their tables.
  FEngineSession = nullptr;
  FActive = false;
  if (FFirstSession) {
    GProcessSession.reset();
    GCurrentSession = nullptr;
  } else {
    FOwnEngineSession.reset();
    GCurrentSession = GProcessSession.get();
  }
}

// ----------------------------------------------------------------- names ----

void TTarnSession::SetSessionName(std::string_view name) { ChangeSessionName(name, false); }

void TTarnSession::ChangeSessionName(std::string_view name, bool byItself) {
  std::lock_guard lock(FList.Lock());
  if (FAutoSessionName && !byItself) DatabaseError(Msg::AutoSessionActive);
  CheckInactive();
  TTarnSession* other = name.empty() ? nullptr : FList.FindSession(name);
  if (other != nullptr && other != this)
    DatabaseError(FormatMessage(Msg::DuplicateSessionName, {name}));
  FSessionName = std::string(name);
}

void TTarnSession::CheckInactive() const {
  if (FActive) DatabaseError(Msg::SessionActive);
}

void TTarnSession::SetAutoSessionName(bool value) {
  if (value == FAutoSessionName) return;
  std::lock_guard lock(FList.Lock());
  if (!value) {
    ReleaseAutoSessionNumber();
    FAutoSessionName = false;
    return;
  }
  CheckInactive();
  if (FOwner != nullptr && FOwner->OwnedSessions().size() > 1) DatabaseError(Msg::AutoSessionOnly);
  const int number = FList.TakeAutoSessionNumber();
  try {
    ChangeSessionName(FormatMessage("%s_%d", {FName, std::to_string(number + 1)}), true);
  } catch (...) {
    FList.ReleaseAutoSessionNumber(number);
    throw;
  }
  FAutoSessionNumber = number;
  FAutoSessionName = true;
  NameOwnerClients();
}

void TTarnSession::NameOwnerClients() {
  if (FOwner == nullptr) return;
  // A client may unregister itself while it is renamed: walk a copy.
  const std::vector<TSessionClient*> clients = FOwner->SessionClients();
  for (TSessionClient* client : clients)
    if (client->SessionName() != FSessionName) client->SetSessionName(FSessionName);
}

void TTarnSession::ReleaseAutoSessionNumber() noexcept {
  if (FAutoSessionNumber < 0) return;
  FList.ReleaseAutoSessionNumber(FAutoSessionNumber);
  FAutoSessionNumber = -1;
}

// -------------------------------------------------------------- settings ----

template <typename T>
void TTarnSession::ChangeSetting(T& field, T value, void (*pass)(tarn::TDataSession&, T)) {
  if (!FActive) {
    field = value;
    return;
  }
  TSessionGuard guard(*this);
  if (field == value) return;
  field = value;
  if (pass != nullptr) pass(*FEngineSession, value);
}

void TTarnSession::SetPrivateDir(std::string_view value) {
  ChangeSetting<std::string>(
      FPrivateDir, std::string(value),
      [](tarn::TDataSession& s, std::string v) { s.SetPrivateDirectory(v); });
}

void TTarnSession::SetProgressSteps(std::uint16_t value) {
  if (value > MaxProgressSteps) return;
  ChangeSetting<std::uint16_t>(
      FProgressSteps, value, [](tarn::TDataSession& s, std::uint16_t v) { s.SetProgressSteps(v); });
}

void TTarnSession::SetLockRetryCount(std::uint8_t value) {
  ChangeSetting<std::uint8_t>(FLockRetryCount, value, [](tarn::TDataSession& s, std::uint8_t v) {
    s.SetLockRetryCount(v);
  });
}

void TTarnSession::SetLockWaitTime(std::uint16_t value) {
  ChangeSetting<std::uint16_t>(
      FLockWaitTime, value, [](tarn::TDataSession& s, std::uint16_t v) { s.SetLockWaitTime(v); });
}

void TTarnSession::SetLockProtocol(TLockProtocol value) {
  ChangeSetting<TLockProtocol>(FLockProtocol, value, [](tarn::TDataSession& s, TLockProtocol v) {
    s.SetLockProtocol(static_cast<tarn::TLockProtocol>(v));
  });
}

void TTarnSession::SetStrictChangeDetection(bool value) {
  ChangeSetting<bool>(FStrictChangeDetection, value,
                      [](tarn::TDataSession& s, bool v) { s.SetStrictChangeDetection(v); });
}

void TTarnSession::SetForceBufferFlush(bool value) {
  ChangeSetting<bool>(FForceBufferFlush, value,
                      [](tarn::TDataSession& s, bool v) { s.SetForceBufferFlush(v); });
}

// A local engine session has no trace to switch; a remote one never becomes
// active here.
void TTarnSession::SetRemoteTrace(bool value) { ChangeSetting<bool>(FRemoteTrace, value, nullptr); }

void TTarnSession::SetSessionType(TSessionType value) {
  CheckInactive();
  FSessionType = value;
}

void TTarnSession::SetRemoteType(TRemoteType value) {
  CheckInactive();
  FRemoteType = value;
}

void TTarnSession::SetRemoteHost(std::string_view value) {
  CheckInactive();
  FRemoteHost = std::string(value);
}

void TTarnSession::SetRemoteAddress(std::string_view value) {
  CheckInactive();
  FRemoteAddress = std::string(value);
}

void TTarnSession::SetRemotePort(std::int32_t value) {
  CheckInactive();
  FRemotePort = value;
}

void TTarnSession::SetRemoteService(std::string_view value) {
  CheckInactive();
  FRemoteService = std::string(value);
}

void TTarnSession::SetRemoteUser(std::string_view value) {
  CheckInactive();
  FRemoteUser = std::string(value);
}

void TTarnSession::SetRemotePassword(std::string_view value) {
  CheckInactive();
  FRemotePassword = std::string(value);
}

// ------------------------------------------------------------- passwords ----

void TTarnSession::AddPassword(std::string_view password) {
  TSessionGuard guard(*this);
  FEngineSession->AddPassword(Cut(password));
}

void TTarnSession::RemovePassword(std::string_view password) {
  TSessionGuard guard(*this);
  FEngineSession->RemovePassword(Cut(password));
}

void TTarnSession::RemoveAllPasswords() {
  TSessionGuard guard(*this);
  FEngineSession->RemoveAllPasswords();
}

bool TTarnSession::HasPassword(std::string_view password) const {
  std::lock_guard lock(FList.Lock());
  return FEngineSession != nullptr && FEngineSession->HasPassword(password);
}

std::vector<std::string> TTarnSession::Passwords() const {
  std::lock_guard lock(FList.Lock());
  return FEngineSession != nullptr ? FEngineSession->Passwords() : std::vector<std::string>();
}

// ------------------------------------------------------------- callbacks ----

bool TTarnSession::RequestPassword() {
  if (OnPassword) {
    bool continueOpen = false;
    OnPassword(*this, continueOpen);
    return continueOpen;
  }
  return CallPasswordHook(*this);
}

bool TTarnSession::PasswordCallback(void* context, std::intptr_t /*argument*/) {
  return static_cast<TTarnSession*>(context)->RequestPassword();
}

bool TTarnSession::RequestRemoteLogin(std::string& user, std::string& password) {
  bool continueLogin = false;
  if (OnRemoteLogin) {
    continueLogin = true;
    OnRemoteLogin(*this, user, password, continueLogin);
  }
  user = Cut(user);
  password = Cut(password);
  return continueLogin;
}

bool TTarnSession::TraceRemote(std::string_view message) {
  if (OnRemoteTrace) OnRemoteTrace(*this, message);
  return true;
}

// ------------------------------------------------------------------ lock ----

void TTarnSession::Enter() {
  if (FEnterCount > 0) {
    ++FEnterCount;
    return;
  }
  FList.Lock().lock();
  ++FEnterCount;
  try {
    if (!FActive) Start();
    GCurrentSession = FEngineSession;
  } catch (...) {
    if (--FEnterCount == 0) FList.Lock().unlock();
    throw;
  }
}

void TTarnSession::Leave() noexcept {
  if (FEnterCount == 0) return;
  if (--FEnterCount == 0) FList.Lock().unlock();
}

}  // namespace dbcomp

namespace dbcomp {

// -------------------------------------------------------------- databases ----

void TTarnSession::AddDatabase(TTarnDatabase& database) {
  if (std::find(FDatabases.begin(), FDatabases.end(), &database) == FDatabases.end())
    FDatabases.push_back(&database);
}

void TTarnSession::RemoveDatabase(TTarnDatabase& database) noexcept {
  FDatabases.erase(std::remove(FDatabases.begin(), FDatabases.end(), &database), FDatabases.end());
}

void TTarnSession::FreeTemporary(TTarnDatabase& database) noexcept {
  for (auto it = FTemporaryDatabases.begin(); it != FTemporaryDatabases.end(); ++it) {
    if (it->get() != &database) continue;
    std::unique_ptr<TTarnDatabase> owned = std::move(*it);
    FTemporaryDatabases.erase(it);
    owned.reset();  // closes it and leaves the list
    return;
  }
}

TTarnDatabase* TTarnSession::FindDatabase(std::string_view name) const {
  for (TTarnDatabase* database : FDatabases)
    if (tarn::SameText(database->DatabaseName(), name)) return database;
  return nullptr;
}

TTarnDatabase& TTarnSession::OpenDatabase(std::string_view name, TComponentOwner* owner) {
  TSessionGuard guard(*this);
  const std::string normal = NormalizeName(name);
  TTarnDatabase* found = nullptr;
  for (TTarnDatabase* database : FDatabases)
    if (tarn::SameText(database->DatabaseName(), normal) && database->Owner() == owner &&
        database->HandleShared()) {
      found = database;
      break;
    }
  if (found == nullptr) found = FindDatabase(normal);
  if (found != nullptr) {
    found->Open();
    ++found->FUseCount;
    return *found;
  }
  auto made = std::unique_ptr<TTarnDatabase>(new TTarnDatabase(*this, normal));
  if (!tarn::SameText(normal, MemoryDatabaseName)) made->FDirectory = normal;
  if (FSessionType == TSessionType::stRemote) made->FRemoteDatabase = normal;
  made->FKeepConnection = FKeepConnections;
  TTarnDatabase& database = *made;
  FTemporaryDatabases.push_back(std::move(made));
  try {
    database.Open();
  } catch (...) {
    FreeTemporary(database);
    throw;
  }
  ++database.FUseCount;
  return database;
}

void TTarnSession::CloseDatabase(TTarnDatabase& database) {
  if (database.FUseCount > 0) --database.FUseCount;
  if (database.FUseCount > 0 || database.KeepConnection() || database.FClosing) return;
  if (database.Temporary() && database.FSession == this)
    FreeTemporary(database);
  else
    database.Close();
}

}  // namespace dbcomp
