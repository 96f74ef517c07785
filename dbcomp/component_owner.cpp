#include "dbcomp/component_owner.h"

#include <algorithm>

#include "dbcomp/session.h"
#include "dbcomp/session_client.h"
#include "dbcomp/session_list.h"

namespace dbcomp {

TComponentOwner::~TComponentOwner() {
  while (!FSessions.empty()) {
    TTarnSession* session = FSessions.back();
    session->List().FreeSession(*session);  // ~TTarnSession calls RemoveSession
    if (!FSessions.empty() && FSessions.back() == session) FSessions.pop_back();
  }
}

TTarnSession* TComponentOwner::AutoSession() const noexcept {
  for (TTarnSession* session : FSessions)
    if (session->AutoSessionName()) return session;
  return nullptr;
}

void TComponentOwner::AddSessionClient(TSessionClient& client) {
  if (std::find(FClients.begin(), FClients.end(), &client) == FClients.end())
    FClients.push_back(&client);
  TTarnSession* autoSession = AutoSession();
  if (autoSession != nullptr && client.SessionName() != autoSession->SessionName())
    client.SetSessionName(autoSession->SessionName());
}

void TComponentOwner::RemoveSessionClient(TSessionClient& client) noexcept {
  FClients.erase(std::remove(FClients.begin(), FClients.end(), &client), FClients.end());
}

void TComponentOwner::AddSession(TTarnSession& session) {
  if (std::find(FSessions.begin(), FSessions.end(), &session) == FSessions.end())
    FSessions.push_back(&session);
}

void TComponentOwner::RemoveSession(TTarnSession& session) noexcept {
  FSessions.erase(std::remove(FSessions.begin(), FSessions.end(), &session), FSessions.end());
}

}  // namespace dbcomp
