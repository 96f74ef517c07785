#include "engine/session/data_session.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "engine/base/error_context.h"
#include "engine/files/path_helpers.h"
#include "engine/session/data_directory.h"

namespace tarn {

namespace {

std::string Cut(std::string_view text) { return std::string(text.substr(0, MaxSessionString)); }

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && *tmp != '\0') return tmp;
  return "/tmp";
}

}  // namespace

TDataSession::TDataSession(bool serverSession)
    : FServerSession(serverSession),
      FDefaultDirectory(Cut(AddTrailingBackslash(CurrentDirectory()))),
      FPrivateDirectory(Cut(AddTrailingBackslash(TempDirectory()))) {}

TDataSession::~TDataSession() {
  // Directories are freed last-opened first; each closes its tables.
  while (!FDirectories.empty()) FDirectories.pop_back();
  FPasswords.clear();
}

void TDataSession::AddPassword(std::string_view password) {
  if (password.empty()) return;
  std::string entry = Cut(password);
  if (HasPassword(entry)) return;
  FPasswords.push_back(std::move(entry));
}

void TDataSession::RemovePassword(std::string_view password) {
  const auto it = std::find(FPasswords.begin(), FPasswords.end(), password);
  if (it != FPasswords.end()) FPasswords.erase(it);
}

void TDataSession::RemoveAllPasswords() { FPasswords.clear(); }

bool TDataSession::HasPassword(std::string_view password) const {
  return std::find(FPasswords.begin(), FPasswords.end(), password) != FPasswords.end();
}

void TDataSession::SetPrivateDirectory(std::string_view path) {
  const std::string trimmed = TrimName(path);
  FPrivateDirectory = trimmed.empty() ? std::string() : Cut(AddTrailingBackslash(trimmed));
}

const std::string& TDataSession::GetTempDirectory() const {
  return FPrivateDirectory.empty() ? FDefaultDirectory : FPrivateDirectory;
}

TDataDirectory& TDataSession::OpenDirectory(std::string_view name, std::string_view path) {
  std::string dirPath;
  const std::string trimmedPath = TrimName(path);
  if (!trimmedPath.empty())
    dirPath = Cut(AddTrailingBackslash(trimmedPath));
  else if (!EqualNoCase(TrimName(name), MemoryDirectoryName))
    dirPath = FDefaultDirectory;
  for (const auto& dir : FDirectories) {
    if (EqualNoCase(TrimName(dir->Path()), TrimName(dirPath))) {
      dir->AddUse();
      return *dir;
    }
  }
  FDirectories.push_back(std::make_unique<TDataDirectory>(*this, Cut(name), dirPath));
  FDirectories.back()->AddUse();
  return *FDirectories.back();
}

void TDataSession::CloseDirectory(TDataDirectory& directory) noexcept {
  const auto it = std::find_if(FDirectories.begin(), FDirectories.end(),
                               [&](const auto& dir) { return dir.get() == &directory; });
  if (it == FDirectories.end()) return;
  if (directory.DropUse() > 0) return;
  FDirectories.erase(it);
}

void TDataSession::SetRemote(bool remote) {
  if (remote) Connect();
  FRemote = false;
}

void TDataSession::Connect() { RaiseEngineError(TARN_REMOTECONNECT, {.Server = FRemoteServer}); }

}  // namespace tarn
