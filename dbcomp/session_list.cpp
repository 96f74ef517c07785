#include "dbcomp/session_list.h"

#include <cassert>

#include "dbcomp/component_owner.h"
#include "dbcomp/db_consts.h"
#include "engine/base/names.h"

namespace dbcomp {

namespace {

TTarnSessionList* GSessionList = nullptr;

}  // namespace

TTarnSessionList::TTarnSessionList() = default;

TTarnSessionList::~TTarnSessionList() {
  std::lock_guard lock(FLock);
  // Later sessions first: the default one goes last.
  while (!FSessions.empty()) FSessions.pop_back();
}

TTarnSession* TTarnSessionList::FindSession(std::string_view name) const {
  std::lock_guard lock(FLock);
  if (FSessions.empty()) return nullptr;
  if (name.empty()) return FSessions.front().get();
  for (const auto& s : FSessions)
    if (tarn::SameName(s->SessionName(), name)) return s.get();
  return nullptr;
}

TTarnSession& TTarnSessionList::GetSession(std::string_view name) const {
  TTarnSession* s = FindSession(name);
  if (s == nullptr) DatabaseError(FormatMessage(Msg::InvalidSessionName, {name}));
  return *s;
}

TTarnSession& TTarnSessionList::CreateSession(std::string_view name, TComponentOwner* owner) {
  std::lock_guard lock(FLock);
  if (owner != nullptr && owner->AutoSession() != nullptr) DatabaseError(Msg::AutoSessionExists);
  if (!name.empty() && FindSession(name) != nullptr)
    DatabaseError(FormatMessage(Msg::DuplicateSessionName, {name}));
  const bool first = FSessions.empty();
  FSessions.reserve(FSessions.size() + 1);  // the push below cannot fail once the session exists
  FSessions.push_back(
      std::unique_ptr<TTarnSession>(new TTarnSession(*this, std::string(name), owner, first)));
  assert(CheckInvariants());
  return *FSessions.back();
}

void TTarnSessionList::FreeSession(TTarnSession& session) noexcept {
  std::lock_guard lock(FLock);
  for (auto it = FSessions.begin(); it != FSessions.end(); ++it) {
    if (it->get() == &session) {
      std::unique_ptr<TTarnSession> doomed = std::move(*it);
      FSessions.erase(it);
      doomed.reset();  // stops it and gives its number back
      assert(CheckInvariants());
      return;
    }
  }
}

std::vector<TTarnSession*> TTarnSessionList::SessionsSnapshot() const {
  std::lock_guard lock(FLock);
  std::vector<TTarnSession*> result;
  for (const auto& s : FSessions) result.push_back(s.get());
  return result;
}

std::vector<int> TTarnSessionList::AutoSessionNumbers() const {
  std::lock_guard lock(FLock);
  std::vector<int> result;
  for (std::size_t n = 0; n < FAutoSessionNumbers.size(); ++n)
    if (FAutoSessionNumbers[n]) result.push_back(static_cast<int>(n));
  return result;
}

int TTarnSessionList::TakeAutoSessionNumber() {
  std::lock_guard lock(FLock);
  std::size_t n = 0;
  while (n < FAutoSessionNumbers.size() && FAutoSessionNumbers[n]) ++n;
  if (n == FAutoSessionNumbers.size()) FAutoSessionNumbers.push_back(false);
  FAutoSessionNumbers[n] = true;
  return static_cast<int>(n);
}

void TTarnSessionList::ReleaseAutoSessionNumber(int number) noexcept {
  std::lock_guard lock(FLock);
  if (number >= 0 && static_cast<std::size_t>(number) < FAutoSessionNumbers.size())
    FAutoSessionNumbers[static_cast<std::size_t>(number)] = false;
}

bool TTarnSessionList::CheckInvariants() const {
  std::lock_guard lock(FLock);
  std::vector<bool> numbers(FAutoSessionNumbers.size(), false);
  for (std::size_t i = 0; i < FSessions.size(); ++i) {
    const TTarnSession* s = FSessions[i].get();
    if (s->FirstSession() && i != 0) return false;
    for (std::size_t j = i + 1; j < FSessions.size(); ++j)
      if (!s->SessionName().empty() &&
          tarn::SameName(s->SessionName(), FSessions[j]->SessionName()))
        return false;
    const int n = s->AutoSessionNumber();
    if (n >= 0) {
      if (static_cast<std::size_t>(n) >= numbers.size() || numbers[static_cast<std::size_t>(n)])
        return false;
      numbers[static_cast<std::size_t>(n)] = true;
    }
  }
  return numbers == FAutoSessionNumbers;
}

std::size_t TTarnSessionList::Count() const {
  std::lock_guard lock(FLock);
  return FSessions.size();
}

TTarnSession& TTarnSessionList::DefaultSession() const {
  std::lock_guard lock(FLock);
  if (FSessions.empty())
    DatabaseError(FormatMessage(Msg::InvalidSessionName, {DefaultSessionName}));
  return *FSessions.front();
}

TTarnSessionList& Sessions() {
  if (GSessionList == nullptr)
    DatabaseError(FormatMessage(Msg::InvalidSessionName, {DefaultSessionName}));
  return *GSessionList;
}

TTarnSession& DefaultSession() { return Sessions().DefaultSession(); }

TComponentLayer::TComponentLayer() : FList(std::make_unique<TTarnSessionList>()) {
  FList->CreateSession(DefaultSessionName);
  GSessionList = FList.get();
}

TComponentLayer::~TComponentLayer() {
  if (GSessionList == FList.get()) GSessionList = nullptr;
}

}  // namespace dbcomp
