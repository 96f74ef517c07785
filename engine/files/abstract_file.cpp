#include "engine/files/abstract_file.h"

#include <algorithm>
#include <limits>
#include <set>

namespace tarn {

TAbstractFile::TAbstractFile(std::string_view fileName) : FFileName(fileName) {}

TAbstractFile::~TAbstractFile() = default;

int TAbstractFile::FindHandle(std::int32_t handle) const {
  std::lock_guard lock(FLock);
  if (FOpenCount == 0) return -1;
  for (std::size_t i = 0; i < FHandles.size(); ++i) {
    if (FHandles[i].Handle == handle) return static_cast<int>(i);
  }
  return -1;
}

std::int64_t TAbstractFile::GetSize() {
  std::lock_guard lock(FLock);
  return FSize;
}

std::int32_t TAbstractFile::CloseFile(std::int32_t handle) {
  std::lock_guard lock(FLock);
  const int index = FindHandle(handle);
  if (index >= 0) {
    FHandles.erase(FHandles.begin() + index);
    --FOpenCount;
  }
  return 0;
}

bool TAbstractFile::Flush() { return true; }

std::int64_t TAbstractFile::Seek(std::int32_t handle, TSeekOrigin origin, std::int64_t offset) {
  std::lock_guard lock(FLock);
  const int index = FindHandle(handle);
  if (index < 0) return 0;
  return SeekRecord(index, origin, offset);
}

std::int32_t TAbstractFile::ReadAt(std::int32_t handle, std::int64_t offset,
                                   std::span<std::uint8_t> buffer) {
  std::lock_guard lock(FLock);
  if (offset < 0 || Seek(handle, TSeekOrigin::Begin, offset) != offset) return -2;
  return Read(handle, buffer);
}

std::int64_t TAbstractFile::SeekRecord(int index, TSeekOrigin origin, std::int64_t offset) {
  std::int64_t& position = FHandles[static_cast<std::size_t>(index)].Position;
  std::int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::Begin:
      base = 0;
      break;
    case TSeekOrigin::Current:
      base = position;
      break;
    case TSeekOrigin::End:
      base = FSize;
      break;
    default:
      return -1;
  }
  const std::int64_t target = SeekTarget(base, offset);
  if (target < 0) return -1;
  position = target;
  return position;
}

std::int64_t TAbstractFile::SeekTarget(std::int64_t base, std::int64_t offset) {
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) || base + offset < 0) {
    return -1;
  }
  return base + offset;
}

std::int32_t TAbstractFile::AddHandle() {
  ++FLastHandleId;
  FHandles.push_back(THandleRecord{FLastHandleId, 0});
  ++FOpenCount;
  return FLastHandleId;
}

bool TAbstractFile::Overlaps(const std::vector<TLockRange>& ranges, std::int64_t offset,
                             std::int64_t length) {
  const std::int64_t last = offset + length - 1;
  return std::any_of(ranges.begin(), ranges.end(), [&](const TLockRange& r) {
    return (r.First <= offset && offset <= r.Last) || (offset <= r.First && r.First <= last);
  });
}

bool TAbstractFile::Exclusive() const {
  std::lock_guard lock(FLock);
  return FExclusive;
}

bool TAbstractFile::ReadOnly() const {
  std::lock_guard lock(FLock);
  return FReadOnly;
}

bool TAbstractFile::ReadOnlyAttr() const {
  std::lock_guard lock(FLock);
  return FReadOnlyAttr;
}

bool TAbstractFile::Temporary() const {
  std::lock_guard lock(FLock);
  return FTemporary;
}

std::string TAbstractFile::FileName() const {
  std::lock_guard lock(FLock);
  return FFileName;
}

std::uint16_t TAbstractFile::OpenCount() const {
  std::lock_guard lock(FLock);
  return FOpenCount;
}

bool TAbstractFile::CheckInvariants() const {
  std::lock_guard lock(FLock);
  if (FOpenCount != FHandles.size() || FSize < 0) return false;
  std::set<std::int32_t> seen;
  for (const THandleRecord& h : FHandles) {
    if (h.Handle <= 0 || h.Handle > FLastHandleId || !seen.insert(h.Handle).second) return false;
  }
  for (std::size_t i = 0; i < FLocks.size(); ++i) {
    const TLockRange& r = FLocks[i];
    if (r.First < 0 || r.Length <= 0 || r.Last != r.First + r.Length - 1) return false;
    for (std::size_t j = i + 1; j < FLocks.size(); ++j) {
      if (!(FLocks[j].Last < r.First || FLocks[j].First > r.Last)) return false;
    }
  }
  return true;
}

}  // namespace tarn
