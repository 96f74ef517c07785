#pragma once
// A file kept entirely in memory: the files of in-memory tables.
//
// FData holds the bytes; FCapacity (== FData.size()) is a multiple of 4096
// and at least FSize. Each handle has its own position. Region locks are kept
// in FLocks with the same rules as disk locks (refused when any byte is held,
// unlocked only by exact range). The object, and its contents, live from
// CreateFile until the file list deletes it, whether or not handles are open.

#include "engine/files/abstract_file.h"

namespace tarn {

class TMemoryFile : public TAbstractFile {
 public:
  explicit TMemoryFile(std::string_view fileName);

  std::int32_t CreateFile() override;
  std::int32_t OpenFile() override;
  std::int32_t RenameFile(std::string_view newName) override;
  std::int32_t DeleteFile() override;
  // Position p, size s: p < 0 or p >= s reads nothing; p + count > s reads
  // s - p bytes and leaves the position at s.
  std::int32_t Read(std::int32_t handle, std::span<std::uint8_t> buffer) override;
  // Writes at the handle's position, growing FSize and FData (4096-byte steps,
  // gap bytes zero) when the end passes the old size; an empty buffer sets
  // FSize to the position. A negative position fails with -1. Out of memory
  // fails with -1 and LastOsError() ENOMEM.
  std::int32_t Write(std::int32_t handle, std::span<const std::uint8_t> buffer) override;
  bool LockRegion(std::int64_t offset, std::int64_t length) override;
  bool UnlockRegion(std::int64_t offset, std::int64_t length) override;
  bool IsInMemory() const override { return true; }

  // Allocated bytes (tests).
  std::int64_t Capacity() const;

 private:
  std::vector<std::uint8_t> FData;
  std::int64_t FCapacity = 0;
};

}  // namespace tarn
