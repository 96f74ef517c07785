#pragma once
// One engine session: its settings, its table passwords and the directories
// opened in it.
//
// TDataSession carries the settings that govern locking, flushing and caching
// of every table opened through it (the component layer's session copies its
// published properties in when it starts), the list of table passwords the
// user has given, and the directories (TDataDirectory) opened in it, which it
// owns. Every shared table reads its settings from the session of its
// directory at the moment it needs them.
//
// Settings and their defaults:
//   PrivateDirectory       the OS temporary directory (TMPDIR, else /tmp), with
//                          a trailing separator; where temporary files go
//   DefaultDirectory       the process's current directory at creation, with a
//                          trailing backslash (fixed)
//   ProgressSteps          20
//   ForceBufferFlush       false
//   StrictChangeDetection  false
//   LockRetryCount         15 (a record lock is tried LockRetryCount + 1 times)
//   LockWaitTime           100 ms between record-lock attempts
//   LockProtocol           0 pessimistic, 1 optimistic
//   MaxDataBufferSize      16384, MaxDataBufferCount 8192
//   MaxIndexBufferSize     16384
//   MaxBlobBufferSize      32768, MaxBlobBufferCount 8192
//
// Remote sessions (requests forwarded to a database server) are not part of
// this engine: asking for one raises 11280 (TARN_REMOTECONNECT) naming the
// server.
//
// Threads: a session, its directories and their tables take no locks of their
// own; one thread at a time (the component layer serialises every call).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class TDataDirectory;

// The name of the in-memory directory (compared ignoring case).
inline constexpr std::string_view MemoryDirectoryName = "Memory";
// Longest password, directory name or path kept.
inline constexpr std::size_t MaxSessionString = 255;

enum class TLockProtocol : std::uint8_t { Pessimistic = 0, Optimistic = 1 };

class TDataSession {
 public:
  // A local session with every default. serverSession: the session serves a
  // database server (its directories then also track cursors and statements).
  explicit TDataSession(bool serverSession = false);
  // Closes every directory (and with it every table); passwords are dropped.
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // ---- passwords (compared exactly, letter case included) ----
  // Adds a non-empty password not yet in the list (cut to 255 characters).
  void AddPassword(std::string_view password);
  // Removes the first entry equal to password.
  void RemovePassword(std::string_view password);
  void RemoveAllPasswords();
  bool HasPassword(std::string_view password) const;
  const std::vector<std::string>& Passwords() const { return FPasswords; }

  // ---- directories ----
  // Empty clears the private directory; otherwise the trimmed path with a
  // trailing backslash is stored.
  void SetPrivateDirectory(std::string_view path);
  const std::string& PrivateDirectory() const { return FPrivateDirectory; }
  const std::string& DefaultDirectory() const { return FDefaultDirectory; }
  // The private directory when set, else the default directory.
  const std::string& GetTempDirectory() const;

  // Opens (or reuses) the directory of path and raises its use count. The path
  // is the trimmed path with a trailing backslash; an empty path means the
  // default directory, except for the name "Memory" (any letter case), whose
  // path stays empty. A directory of the session with the same path (trimmed,
  // case-insensitive) is reused. The directory belongs to the session; give it
  // back with CloseDirectory.
  TDataDirectory& OpenDirectory(std::string_view name, std::string_view path = {});
  // Lowers the use count; at 0 the directory (and every table object left in
  // it) is freed. A directory of another session is ignored.
  void CloseDirectory(TDataDirectory& directory) noexcept;
  std::size_t DirectoryCount() const { return FDirectories.size(); }

  // ---- settings ----
  bool ServerSession() const { return FServerSession; }
  std::uint16_t ProgressSteps() const { return FProgressSteps; }
  void SetProgressSteps(std::uint16_t value) { FProgressSteps = value; }
  bool ForceBufferFlush() const { return FForceBufferFlush; }
  void SetForceBufferFlush(bool value) { FForceBufferFlush = value; }
  bool StrictChangeDetection() const { return FStrictChangeDetection; }
  void SetStrictChangeDetection(bool value) { FStrictChangeDetection = value; }
  std::uint8_t LockRetryCount() const { return FLockRetryCount; }
  void SetLockRetryCount(std::uint8_t value) { FLockRetryCount = value; }
  std::uint16_t LockWaitTime() const { return FLockWaitTime; }
  void SetLockWaitTime(std::uint16_t value) { FLockWaitTime = value; }
  TLockProtocol LockProtocol() const { return FLockProtocol; }
  void SetLockProtocol(TLockProtocol value) { FLockProtocol = value; }
  std::int32_t MaxDataBufferSize() const { return FMaxDataBufferSize; }
  void SetMaxDataBufferSize(std::int32_t value) { FMaxDataBufferSize = value; }
  std::int32_t MaxDataBufferCount() const { return FMaxDataBufferCount; }
  void SetMaxDataBufferCount(std::int32_t value) { FMaxDataBufferCount = value; }
  std::int32_t MaxIndexBufferSize() const { return FMaxIndexBufferSize; }
  void SetMaxIndexBufferSize(std::int32_t value) { FMaxIndexBufferSize = value; }
  std::int32_t MaxBlobBufferSize() const { return FMaxBlobBufferSize; }
  void SetMaxBlobBufferSize(std::int32_t value) { FMaxBlobBufferSize = value; }
  std::int32_t MaxBlobBufferCount() const { return FMaxBlobBufferCount; }
  void SetMaxBlobBufferCount(std::int32_t value) { FMaxBlobBufferCount = value; }

  // ---- remote sessions ----
  bool Remote() const { return FRemote; }
  // false keeps the session local; true raises 11280 naming the server.
  void SetRemote(bool remote);
  // The server a remote session would use (host name or address).
  void SetRemoteServer(std::string_view server) { FRemoteServer = std::string(server); }
  const std::string& RemoteServer() const { return FRemoteServer; }
  // Raises 11280 (TARN_REMOTECONNECT) naming RemoteServer(): this engine
  // connects to no server.
  [[noreturn]] void Connect();

 private:
  bool FServerSession;
  std::vector<std::unique_ptr<TDataDirectory>> FDirectories;
  std::string FDefaultDirectory;
  std::string FPrivateDirectory;
  std::uint16_t FProgressSteps = 20;
  std::vector<std::string> FPasswords;
  bool FForceBufferFlush = false;
  bool FStrictChangeDetection = false;
  std::uint8_t FLockRetryCount = 15;
  std::uint16_t FLockWaitTime = 100;
  TLockProtocol FLockProtocol = TLockProtocol::Pessimistic;
  bool FRemote = false;
  std::int32_t FMaxDataBufferSize = 16384;
  std::int32_t FMaxDataBufferCount = 8192;
  std::int32_t FMaxIndexBufferSize = 16384;
  std::int32_t FMaxBlobBufferSize = 32768;
  std::int32_t FMaxBlobBufferCount = 8192;
  std::string FRemoteServer;
};

}  // namespace tarn
