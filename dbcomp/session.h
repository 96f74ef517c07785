#pragma once
// A session component: the application's handle on one engine session. It
// keeps the list of table passwords that an encrypted table is opened with.
//
// Sessions are registered in the process-wide session list
// (session_list.h), which owns them. Calls into the engine are bracketed by
// Enter/Leave, which take the component layer's lock; a session counts its
// own nested entries, so one session is meant for one thread at a time.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dbcomp {

class TTarnSessionList;

class TTarnSession {
 public:
  ~TTarnSession();
  TTarnSession(const TTarnSession&) = delete;
  TTarnSession& operator=(const TTarnSession&) = delete;

  const std::string& SessionName() const noexcept { return FSessionName; }
  // Raises "Cannot perform this operation on an active session." while
  // active, "Session name %s already exists." when another session of the
  // list has the name (ignoring case).
  void SetSessionName(std::string_view name);

  bool Active() const noexcept { return FActive; }
  // Start: OnStartup, then "Session name is missing." for an empty name; a
  // session other than the default one starts the default session first.
  void Start();
  void Stop() noexcept;
  void SetActive(bool value) { value ? Start() : Stop(); }

  // Each starts the session when it is inactive. Passwords longer than 255
  // characters are cut; comparisons are exact.
  void AddPassword(std::string_view password);
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  const std::vector<std::string>& Passwords() const noexcept { return FPasswords; }
  bool HasPassword(std::string_view password) const;

  // The bracket around every call into the engine (see the class comment).
  void Enter();
  void Leave() noexcept;
  int EnterCount() const noexcept { return FEnterCount; }

  std::function<void(TTarnSession&)> OnStartup;

 private:
  friend class TTarnSessionList;
  TTarnSession(TTarnSessionList& list, std::string name);
  TTarnSessionList& FList;
  std::string FSessionName;
  std::vector<std::string> FPasswords;
  int FEnterCount = 0;
  bool FActive = false;
};

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
