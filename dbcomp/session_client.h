#pragma once
// What a session needs of a component that names it: the table, query and
// database components. An auto-named session gives its session name to every
// such component of its owner (component_owner.h); a database component that
// is told a session name binds itself to that session.

#include <string>
#include <string_view>

namespace dbcomp {

class TSessionClient {
 public:
  virtual ~TSessionClient() = default;

  virtual std::string SessionName() const = 0;
  // May raise (a component that cannot change its session while active).
  virtual void SetSessionName(std::string_view name) = 0;
};

}  // namespace dbcomp
