#include "dbcomp/password_hook.h"

#include <mutex>

namespace dbcomp {

namespace {

std::mutex GHookLock;

TPasswordHook& InstalledHook() {
  static TPasswordHook hook;
  return hook;
}

}  // namespace

TPasswordHook SetPasswordHook(TPasswordHook hook) {
  std::lock_guard lock(GHookLock);
  TPasswordHook previous = std::move(InstalledHook());
  InstalledHook() = std::move(hook);
  return previous;
}

bool CallPasswordHook(TTarnSession& session) {
  TPasswordHook hook;
  {
    std::lock_guard lock(GHookLock);
    hook = InstalledHook();
  }
  return hook ? hook(session) : false;
}

}  // namespace dbcomp
