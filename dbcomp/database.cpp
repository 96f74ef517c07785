#include "dbcomp/database.h"

#include <algorithm>

#include "dbcomp/component_owner.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/db_data_set.h"
#include "dbcomp/session.h"
#include "dbcomp/session_list.h"
#include "engine/base/names.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"

namespace dbcomp {

namespace {

constexpr std::size_t MaxName = 255;

bool IsPath(std::string_view name) {
  return name.find(':') != std::string_view::npos || name.find('\\') != std::string_view::npos;
}

}  // namespace

std::string NormalizeName(std::string_view name) {
  std::string result(name.substr(0, MaxName));
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

TTarnDatabase::TTarnDatabase(TComponentOwner* owner) : FOwner(owner) {
  if (FOwner != nullptr) {
    if (TTarnSession* autoSession = FOwner->AutoSession()) FSessionName = autoSession->SessionName();
  }
  FSession = &Sessions().GetSession(FSessionName);
  FSession->AddDatabase(*this);
  if (FOwner != nullptr) FOwner->AddSessionClient(*this);
}

TTarnDatabase::TTarnDatabase(TTarnSession& session, std::string_view name)
    : FSession(&session), FDatabaseName(name), FTemporary(true) {
  FSessionName = session.SessionName();
  session.AddDatabase(*this);
}

TTarnDatabase::~TTarnDatabase() {
  CloseNoThrow();
  // Datasets still attached (a failed close) forget the database.
  for (TTarnDBDataSet* dataSet : FDataSets) dataSet->DatabaseGone();
  FDataSets.clear();
  if (FSession != nullptr) FSession->RemoveDatabase(*this);
  if (FOwner != nullptr) FOwner->RemoveSessionClient(*this);
}

void TTarnDatabase::CheckInactive() const {
  if (Connected()) DatabaseError(Msg::DatabaseOpen, FName);
}

void TTarnDatabase::CheckActive() const {
  if (!Connected()) DatabaseError(Msg::DatabaseClosed, FName);
}

void TTarnDatabase::CheckName(std::string_view name) {
  if (!FTemporary && IsPath(name)) DatabaseError(FormatMessage(Msg::InvalidDatabaseName, {name}), FName);
  if (FSession == nullptr || name.empty()) return;
  for (TTarnDatabase* other : FSession->Databases()) {
    if (other == this || !tarn::SameText(other->FDatabaseName, name)) continue;
    if (FHandleShared && other->FHandleShared) continue;
    if (other->FTemporary && other->FUseCount == 0) {
      FSession->FreeTemporary(*other);
      continue;
    }
    DatabaseError(FormatMessage(Msg::DuplicateDatabaseName, {name}), FName);
  }
}

void TTarnDatabase::SetDatabaseName(std::string_view name) {
  CheckInactive();
  const std::string normal = NormalizeName(name);
  if (normal == FDatabaseName) return;
  CheckName(normal);
  FDatabaseName = normal;
}

void TTarnDatabase::SetDirectory(std::string_view path) {
  CheckInactive();
  FDirectory = NormalizeName(path);
}

void TTarnDatabase::SetRemoteDatabase(std::string_view name) {
  CheckInactive();
  FRemoteDatabase = NormalizeName(name);
}

void TTarnDatabase::SetSessionName(std::string_view name) {
  CheckInactive();
  const std::string normal = NormalizeName(name);
  TTarnSession& target = Sessions().GetSession(normal);
  if (&target != FSession) {
    if (FSession != nullptr) FSession->RemoveDatabase(*this);
    FSession = &target;
    target.AddDatabase(*this);
  }
  FSessionName = normal;
}

void TTarnDatabase::SetHandleShared(bool value) {
  CheckInactive();
  FHandleShared = value;
}

void TTarnDatabase::Open() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (!FTemporary && FDatabaseName.empty()) DatabaseError(Msg::DatabaseNameMissing, FName);
  TTarnSession& session = Sessions().GetSession(FSessionName);
  if (&session != FSession) {
    if (FSession != nullptr) FSession->RemoveDatabase(*this);
    FSession = &session;
    session.AddDatabase(*this);
  }
  CheckName(FDatabaseName);
  session.Start();
  if (FHandleShared) {
    for (TTarnDatabase* other : session.Databases()) {
      if (other == this || !other->FHandleShared || other->FHandle == nullptr ||
          !tarn::SameText(other->FDatabaseName, FDatabaseName))
        continue;
      FHandle = other->FHandle;
      FShared = true;
      return;
    }
  }
  TSessionGuard guard(session);
  tarn::TDataSession& engine = *session.EngineSession();
  if (session.SessionType() == TSessionType::stRemote) {
    FHandle = &engine.OpenDirectory(FRemoteDatabase, FRemoteDatabase);
  } else {
    const std::string name = IsPath(FDatabaseName) ? std::string() : FDatabaseName;
    FHandle = &engine.OpenDirectory(name, FDirectory);
  }
  FShared = false;
}

void TTarnDatabase::Close() {
  if (!Connected() || FClosing) return;
  {
    FClosing = true;
    struct TReset {
      bool& flag;
      ~TReset() { flag = false; }
    } reset{FClosing};
    for (std::size_t i = FDataSets.size(); i-- > 0;) {
      if (i < FDataSets.size()) FDataSets[i]->Disconnect();
    }
  }
  if (!FShared && FSession != nullptr && FSession->EngineSession() != nullptr) {
    TSessionGuard guard(*FSession);
    FSession->EngineSession()->CloseDirectory(*FHandle);
  }
  FHandle = nullptr;
  FShared = false;
  FUseCount = 0;
}

void TTarnDatabase::CloseNoThrow() noexcept {
  if (!Connected() || FClosing) return;
  FClosing = true;
  for (std::size_t i = FDataSets.size(); i-- > 0;) {
    if (i >= FDataSets.size()) continue;
    try {
      FDataSets[i]->Disconnect();
    } catch (...) {
      if (i < FDataSets.size()) FDataSets[i]->CloseQuietly();
    }
  }
  FClosing = false;
  try {
    if (!FShared && FSession != nullptr && FSession->EngineSession() != nullptr) {
      TSessionGuard guard(*FSession);
      FSession->EngineSession()->CloseDirectory(*FHandle);
    }
  } catch (...) {
    // The engine session frees its directories when it ends.
  }
  FHandle = nullptr;
  FShared = false;
  FUseCount = 0;
}

void TTarnDatabase::AttachDataSet(TTarnDBDataSet& dataSet) {
  if (std::find(FDataSets.begin(), FDataSets.end(), &dataSet) == FDataSets.end())
    FDataSets.push_back(&dataSet);
}

void TTarnDatabase::DetachDataSet(TTarnDBDataSet& dataSet) noexcept {
  FDataSets.erase(std::remove(FDataSets.begin(), FDataSets.end(), &dataSet), FDataSets.end());
}

// ----------------------------------------------------------- transactions ----

bool TTarnDatabase::InTransaction() const { return FHandle != nullptr && FHandle->InTransaction(); }

void TTarnDatabase::StartTransaction() {
  CheckActive();
  if (InTransaction()) DatabaseError(FormatMessage(Msg::InTransaction, {FDatabaseName}), FName);
  TSessionGuard guard(*FSession);
  FHandle->StartTransaction();
}

void TTarnDatabase::Commit(bool forceFlush) {
  CheckActive();
  if (!InTransaction()) DatabaseError(FormatMessage(Msg::NotInTransaction, {FDatabaseName}), FName);
  TSessionGuard guard(*FSession);
  FHandle->Commit(true, forceFlush);
}

void TTarnDatabase::Rollback() {
  CheckActive();
  if (!InTransaction()) DatabaseError(FormatMessage(Msg::NotInTransaction, {FDatabaseName}), FName);
  TSessionGuard guard(*FSession);
  FHandle->Rollback();
}

}  // namespace dbcomp
