#pragma once
// The process-wide list of sessions and the component layer's lock.
//
// The component layer starts with TComponentLayer: it creates the list and
// the default session "Default", and frees every session when it ends (the
// later ones first, the default session last). The lock is one process-wide
// recursive mutex that serialises every call from the component layer into
// the engine (taken by TTarnSession::Enter), the list's own changes, session
// starts and stops, and the auto-session numbers.
//
// Auto-session numbers: a bit set, bit n set while an auto-named session holds
// number n (its name ends in "_<n+1>"). A session takes the lowest clear bit.
//
// Invariants: (1) every session in the list has a distinct name, ignoring
// case, or an empty one; (2) the set bits are exactly the numbers of the
// auto-named sessions in the list; (3) the first session registered is the
// only one flagged FirstSession.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "dbcomp/session.h"

namespace dbcomp {

inline constexpr std::string_view DefaultSessionName = "Default";

class TTarnSessionList {
 public:
  TTarnSessionList();
  ~TTarnSessionList();
  TTarnSessionList(const TTarnSessionList&) = delete;
  TTarnSessionList& operator=(const TTarnSessionList&) = delete;

  // An empty name gives the default session (the first one); otherwise the
  // first session whose name equals the name ignoring case, or null.
  TTarnSession* FindSession(std::string_view name) const;
  // As FindSession; raises "Session name %s is not valid." when none.
  TTarnSession& GetSession(std::string_view name) const;
  // Creates and registers a session with its defaults; with owner, the
  // owner's session. Raises "This auto-session already exists." when the
  // owner has an auto-named session, "Session name %s already exists." for a
  // name in use (ignoring case). The list owns the session.
  TTarnSession& CreateSession(std::string_view name, TComponentOwner* owner = nullptr);
  // Stops, unregisters and frees the session; nothing for one not in the list.
  void FreeSession(TTarnSession& session) noexcept;
  std::size_t Count() const;
  // The first session of the list; raises "Session name Default is not
  // valid." when the list is empty.
  TTarnSession& DefaultSession() const;
  // The sessions in creation order (a snapshot).
  std::vector<TTarnSession*> SessionsSnapshot() const;
  // Numbers of the auto-named sessions, ascending.
  std::vector<int> AutoSessionNumbers() const;
  // Checks the invariants above; for assertions and tests.
  bool CheckInvariants() const;

  std::recursive_mutex& Lock() noexcept { return FLock; }

 private:
  friend class TTarnSession;
  // The lowest free number, now taken. Requires: the lock is held.
  int TakeAutoSessionNumber();
  void ReleaseAutoSessionNumber(int number) noexcept;

  mutable std::recursive_mutex FLock;
  std::vector<std::unique_ptr<TTarnSession>> FSessions;
  std::vector<bool> FAutoSessionNumbers;
};

// The running component layer's list; raises EDatabaseError when the layer
// has not been started.
TTarnSessionList& Sessions();
// Sessions().DefaultSession().
TTarnSession& DefaultSession();

// Starts the component layer for its lifetime (one at a time per process).
class TComponentLayer {
 public:
  TComponentLayer();
  ~TComponentLayer();
  TComponentLayer(const TComponentLayer&) = delete;
  TComponentLayer& operator=(const TComponentLayer&) = delete;

 private:
  std::unique_ptr<TTarnSessionList> FList;
};

}  // namespace dbcomp
