// INI files: the input is the content of "Vantor.ini", read the way the
// program reads it (app/config.h over inih): the table path, and a few other
// lookups (a second section, a key that is not there, a different case).
// Reading a configuration file never fails; every input must end normally.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/config.h"

namespace {

std::string* IniPath = nullptr;

void RemoveIni() {
  if (IniPath != nullptr) std::remove(IniPath->c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code ignored;
  const std::filesystem::path root = std::filesystem::is_directory("/dev/shm", ignored)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
  IniPath =
      new std::string((root / ("ini_fuzzer_" + std::to_string(::getpid()) + ".ini")).string());
  std::atexit(RemoveIni);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(*IniPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  const std::string path = vantor::ReadTablePath(*IniPath);
  if (path.size() > size + vantor::DefaultTablePath.size()) std::abort();
  (void)vantor::ReadProfileString(*IniPath, "z", "PATH", "");
  (void)vantor::ReadProfileString(*IniPath, "Other Section", "Key", "none");
  (void)vantor::ReadProfileString(*IniPath, "", "", "");
  return 0;
}
