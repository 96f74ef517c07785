#include "engine/files/range_lock_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <iterator>
#include <limits>

#include "engine/files/os_error.h"
#include "engine/files/os_file_api.h"

namespace tarn {

TRangeLockTable& TRangeLockTable::Instance() {
  static TRangeLockTable* table = new TRangeLockTable();  // outlives every file object
  return *table;
}

bool TRangeLockTable::Lock(TFileIdentity file, const void* holder, int fd, bool readOnlyFd,
                           std::int64_t offset, std::int64_t length) {
  if (offset < 0 || length <= 0 || offset > std::numeric_limits<std::int64_t>::max() - length) {
    return false;
  }
  std::lock_guard lock(FMutex);
  const std::int64_t last = offset + length - 1;
  auto found = FFiles.find(file);
  if (found != FFiles.end()) {
    // Held ranges never overlap: only the last one starting at or before
    // last can reach into [offset, last].
    const TRanges& ranges = found->second;
    auto after = ranges.upper_bound(last);
    if (after != ranges.begin() && std::prev(after)->second.Range.Last >= offset) {
      SetLastOsError(EACCES);
      return false;
    }
  }
  if (OsFileApi().OfdSetLock(fd, readOnlyFd ? F_RDLCK : F_WRLCK, static_cast<off_t>(offset),
                             static_cast<off_t>(length)) != 0) {
    SetLastOsError(errno);
    return false;
  }
  TRanges& ranges = FFiles[file];
  ranges.emplace(offset, THeld{holder, TLockRange{offset, last, length}});
  assert(CheckAround(ranges, offset));
  return true;
}

bool TRangeLockTable::Unlock(TFileIdentity file, const void* holder, int fd, std::int64_t offset,
                             std::int64_t length) {
  std::lock_guard lock(FMutex);
  auto found = FFiles.find(file);
  if (found == FFiles.end()) return false;
  TRanges& ranges = found->second;
  const auto it = ranges.find(offset);
  if (it == ranges.end() || it->second.Holder != holder || it->second.Range.Length != length) return false;
  ranges.erase(it);
  if (ranges.empty()) FFiles.erase(found);
  if (OsFileApi().OfdSetLock(fd, F_UNLCK, static_cast<off_t>(offset),
                             static_cast<off_t>(length)) != 0) {
    SetLastOsError(errno);
    return false;
  }
  return true;
}

void TRangeLockTable::ForgetHolder(TFileIdentity file, const void* holder) noexcept {
  std::lock_guard lock(FMutex);
  auto found = FFiles.find(file);
  if (found == FFiles.end()) return;
  std::erase_if(found->second, [&](const auto& entry) { return entry.second.Holder == holder; });
  if (found->second.empty()) FFiles.erase(found);
}

std::size_t TRangeLockTable::HeldCount(TFileIdentity file) const {
  std::lock_guard lock(FMutex);
  auto found = FFiles.find(file);
  return found == FFiles.end() ? 0 : found->second.size();
}

bool TRangeLockTable::CheckInvariants() const {
  std::lock_guard lock(FMutex);
  return CheckInvariantsLocked();
}

bool TRangeLockTable::CheckInvariantsLocked() const {
  for (const auto& [file, ranges] : FFiles) {
    if (ranges.empty()) return false;
    const TLockRange* previous = nullptr;
    for (const auto& [first, held] : ranges) {
      const TLockRange& r = held.Range;
      if (r.First != first || r.First < 0 || r.Length <= 0 || r.Last != r.First + r.Length - 1) return false;
      if (previous != nullptr && previous->Last >= r.First) return false;
      previous = &r;
    }
  }
  return true;
}

bool TRangeLockTable::CheckAround(const TRanges& ranges, std::int64_t first) {
  const auto it = ranges.find(first);
  if (it == ranges.end()) return false;
  const TLockRange& r = it->second.Range;
  if (r.First != first || r.Length <= 0 || r.Last != r.First + r.Length - 1) return false;
  if (it != ranges.begin() && std::prev(it)->second.Range.Last >= r.First) return false;
  const auto next = std::next(it);
  return next == ranges.end() || r.Last < next->second.Range.First;
}

}  // namespace tarn
