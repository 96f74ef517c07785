#include "engine/files/memory_file.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <limits>

#include "engine/base/engine_error.h"
#include "engine/files/grow_buffer.h"
#include "engine/files/os_error.h"

namespace tarn {

TMemoryFile::TMemoryFile(std::string_view fileName) : TAbstractFile(fileName) {}

std::int32_t TMemoryFile::CreateFile() {
  std::lock_guard lock(FLock);
  std::vector<std::uint8_t>().swap(FData);
  FCapacity = 0;
  FSize = 0;
  return AddHandle();
}

std::int32_t TMemoryFile::OpenFile() {
  std::lock_guard lock(FLock);
  return AddHandle();
}

std::int32_t TMemoryFile::RenameFile(std::string_view newName) {
  std::lock_guard lock(FLock);
  FFileName = std::string(newName);
  return 0;
}

std::int32_t TMemoryFile::DeleteFile() { return 0; }

std::int32_t TMemoryFile::Read(std::int32_t handle, std::span<std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  const int index = FindHandle(handle);
  if (index < 0) return -1;
  assert(buffer.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  const std::int64_t position = FHandles[static_cast<std::size_t>(index)].Position;
  if (position < 0 || position >= FSize) return 0;
  const std::int64_t count = std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()),
                                                    FSize - position);
  if (count == 0) return 0;
  std::memcpy(buffer.data(), FData.data() + position, static_cast<std::size_t>(count));
  FHandles[static_cast<std::size_t>(index)].Position = position + count;
  return static_cast<std::int32_t>(count);
}

std::int32_t TMemoryFile::Write(std::int32_t handle, std::span<const std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  const int index = FindHandle(handle);
  if (index < 0) return -1;
  assert(buffer.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()));
  std::int64_t& position = FHandles[static_cast<std::size_t>(index)].Position;
  if (position < 0) return -1;
  const auto count = static_cast<std::int64_t>(buffer.size());
  if (position > std::numeric_limits<std::int64_t>::max() - count) return -1;
  const std::int64_t end = position + count;
  try {
    GrowBuffer(std::max(end, FSize), BufferGranularity, FData, FCapacity);
  } catch (const ETarnEngineError&) {
    SetLastOsError(ENOMEM);
    return -1;
  }
  if (count == 0) {
    // Truncate or extend at the position; bytes past the new end read as zero
    // if the file grows over them again.
    if (position < FSize) {
      std::fill(FData.begin() + position, FData.begin() + FSize, std::uint8_t{0});
    }
    FSize = position;
    return 0;
  }
  std::memcpy(FData.data() + position, buffer.data(), buffer.size());
  position = end;
  FSize = std::max(FSize, end);
  return static_cast<std::int32_t>(count);
}

bool TMemoryFile::LockRegion(std::int64_t offset, std::int64_t length) {
  std::lock_guard lock(FLock);
  if (offset < 0 || length <= 0 || offset > std::numeric_limits<std::int64_t>::max() - length) {
    return false;
  }
  if (Overlaps(FLocks, offset, length)) return false;
  FLocks.push_back(TLockRange{offset, offset + length - 1, length});
  return true;
}

bool TMemoryFile::UnlockRegion(std::int64_t offset, std::int64_t length) {
  std::lock_guard lock(FLock);
  const auto it = std::find_if(FLocks.begin(), FLocks.end(), [&](const TLockRange& r) {
    return r.First == offset && r.Length == length;
  });
  if (it == FLocks.end()) return false;
  FLocks.erase(it);
  return true;
}

std::int64_t TMemoryFile::Capacity() const {
  std::lock_guard lock(FLock);
  return FCapacity;
}

}  // namespace tarn
