#pragma once
// The owner of a group of components (a window or a data module): it knows its
// session components and the components that name a session.
//
// The owner rules of sessions: at most one auto-named session per owner, and
// an auto-named session is the owner's only session. While the owner has an
// auto-named session, every session client added to it takes that session's
// name.
//
// Ownership: the session list owns the sessions; the owner keeps plain
// pointers and frees its remaining sessions (through their list) when it is
// destroyed. A session leaves its owner when it is freed, so either may go
// first. Clients are not owned; a client removes itself before it goes.
//
// Threads: one thread at a time per owner (the thread that uses its sessions).

#include <vector>

namespace dbcomp {

class TSessionClient;
class TTarnSession;

class TComponentOwner {
 public:
  TComponentOwner() = default;
  // Frees every session still owned (each is stopped first).
  ~TComponentOwner();
  TComponentOwner(const TComponentOwner&) = delete;
  TComponentOwner& operator=(const TComponentOwner&) = delete;

  const std::vector<TTarnSession*>& OwnedSessions() const noexcept { return FSessions; }
  // The owned session whose AutoSessionName is on, or null.
  TTarnSession* AutoSession() const noexcept;

  // Registers a table, query or database component. When the owner has an
  // auto-named session whose name differs from the client's, the client is
  // given it (which may raise; the client is registered either way).
  void AddSessionClient(TSessionClient& client);
  void RemoveSessionClient(TSessionClient& client) noexcept;
  const std::vector<TSessionClient*>& SessionClients() const noexcept { return FClients; }

 private:
  friend class TTarnSession;
  friend class TTarnSessionList;
  void AddSession(TTarnSession& session);
  void RemoveSession(TTarnSession& session) noexcept;

  std::vector<TTarnSession*> FSessions;
  std::vector<TSessionClient*> FClients;
};

}  // namespace dbcomp
