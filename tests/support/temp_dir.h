#pragma once
// A fresh, empty directory for one test, removed with everything in it when
// the object goes away. Path() ends without a separator.

#include <string>

namespace testing_support {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

}  // namespace testing_support
