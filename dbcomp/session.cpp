#include "dbcomp/session.h"

#include <algorithm>

#include "dbcomp/db_consts.h"
#include "dbcomp/session_list.h"

namespace dbcomp {

namespace {
constexpr std::size_t MaxPassword = 255;
}

TTarnSession::TTarnSession(TTarnSessionList& list, std::string name)
    : FList(list), FSessionName(std::move(name)) {}

TTarnSession::~TTarnSession() { Stop(); }

void TTarnSession::SetSessionName(std::string_view name) {
  std::lock_guard lock(FList.Lock());
  if (FActive) DatabaseError(Msg::SessionActive);
  TTarnSession* other = name.empty() ? nullptr : FList.FindSession(name);
  if (other != nullptr && other != this) DatabaseError(FormatMessage(Msg::DuplicateSessionName, {name}));
  FSessionName = std::string(name);
}

void TTarnSession::Start() {
  std::lock_guard lock(FList.Lock());
  if (FActive) return;
  if (OnStartup) OnStartup(*this);
  if (FSessionName.empty()) DatabaseError(Msg::SessionNameMissing);
  TTarnSession& first = FList.DefaultSession();
  if (&first != this) first.Start();
  FActive = true;
}

void TTarnSession::Stop() noexcept {
  std::lock_guard lock(FList.Lock());
  FActive = false;
}

void TTarnSession::AddPassword(std::string_view password) {
  TSessionGuard guard(*this);
  std::string value(password.substr(0, MaxPassword));
  if (!HasPassword(value)) FPasswords.push_back(std::move(value));
}

void TTarnSession::RemovePassword(std::string_view password) {
  TSessionGuard guard(*this);
  std::string value(password.substr(0, MaxPassword));
  FPasswords.erase(std::remove(FPasswords.begin(), FPasswords.end(), value), FPasswords.end());
}

void TTarnSession::RemoveAllPasswords() {
  TSessionGuard guard(*this);
  FPasswords.clear();
}

bool TTarnSession::HasPassword(std::string_view password) const {
  return std::find(FPasswords.begin(), FPasswords.end(), password) != FPasswords.end();
}

void TTarnSession::Enter() {
  if (FEnterCount > 0) {
    ++FEnterCount;
    return;
  }
  FList.Lock().lock();
  ++FEnterCount;
  try {
    if (!FActive) Start();
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
