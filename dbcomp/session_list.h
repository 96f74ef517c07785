#pragma once
// The process-wide list of sessions and the component layer's lock.
//
// The component layer starts with TComponentLayer: it creates the list and
// the default session "Default", and frees every session when it ends. The
// lock is one process-wide recursive mutex that serialises every call from
// the component layer into the engine (taken by TTarnSession::Enter).

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
  // Creates and registers a session. Raises "Session name %s already
  // exists." for a name in use (ignoring case).
  TTarnSession& CreateSession(std::string_view name);
  void FreeSession(TTarnSession& session) noexcept;
  std::size_t Count() const;
  TTarnSession& DefaultSession() const;

  std::recursive_mutex& Lock() noexcept { return FLock; }

 private:
  friend class TTarnSession;
  mutable std::recursive_mutex FLock;
  std::vector<std::unique_ptr<TTarnSession>> FSessions;
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
