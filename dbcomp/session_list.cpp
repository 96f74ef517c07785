#include "dbcomp/session_list.h"

#include <cctype>

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

TTarnSession& TTarnSessionList::CreateSession(std::string_view name) {
  std::lock_guard lock(FLock);
  if (!name.empty() && FindSession(name) != nullptr)
    DatabaseError(FormatMessage(Msg::DuplicateSessionName, {name}));
  FSessions.push_back(std::unique_ptr<TTarnSession>(new TTarnSession(*this, std::string(name))));
  return *FSessions.back();
}

void TTarnSessionList::FreeSession(TTarnSession& session) noexcept {
  std::lock_guard lock(FLock);
  for (auto it = FSessions.begin(); it != FSessions.end(); ++it) {
    if (it->get() == &session) {
      FSessions.erase(it);
      return;
    }
  }
}

std::size_t TTarnSessionList::Count() const {
  std::lock_guard lock(FLock);
  return FSessions.size();
}

TTarnSession& TTarnSessionList::DefaultSession() const {
  std::lock_guard lock(FLock);
  if (FSessions.empty()) DatabaseError(FormatMessage(Msg::InvalidSessionName, {DefaultSessionName}));
  return *FSessions.front();
}

TTarnSessionList& Sessions() {
  if (GSessionList == nullptr) DatabaseError(FormatMessage(Msg::InvalidSessionName, {DefaultSessionName}));
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
