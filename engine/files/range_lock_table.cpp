#include "engine/files/range_lock_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
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
    const bool conflict =
        std::any_of(found->second.begin(), found->second.end(), [&](const THeld& held) {
          return held.Range.First <= last && offset <= held.Range.Last;
        });
    if (conflict) {
      SetLastOsError(EACCES);
      return false;
    }
  }
  if (OsFileApi().OfdSetLock(fd, readOnlyFd ? F_RDLCK : F_WRLCK, static_cast<off_t>(offset),
                             static_cast<off_t>(length)) != 0) {
    SetLastOsError(errno);
    return false;
  }
  FFiles[file].push_back(THeld{holder, TLockRange{offset, last, length}});
  assert(CheckInvariantsLocked());
  return true;
}

bool TRangeLockTable::Unlock(TFileIdentity file, const void* holder, int fd, std::int64_t offset,
                             std::int64_t length) {
  std::lock_guard lock(FMutex);
  auto found = FFiles.find(file);
  if (found == FFiles.end()) return false;
  std::vector<THeld>& ranges = found->second;
  const auto it = std::find_if(ranges.begin(), ranges.end(), [&](const THeld& held) {
    return held.Holder == holder && held.Range.First == offset && held.Range.Length == length;
  });
  if (it == ranges.end()) return false;
  ranges.erase(it);
  if (ranges.empty()) FFiles.erase(found);
  assert(CheckInvariantsLocked());
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
  std::erase_if(found->second, [&](const THeld& held) { return held.Holder == holder; });
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
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      const TLockRange& r = ranges[i].Range;
      if (r.First < 0 || r.Length <= 0 || r.Last != r.First + r.Length - 1) return false;
      for (std::size_t j = i + 1; j < ranges.size(); ++j) {
        const TLockRange& o = ranges[j].Range;
        if (o.First <= r.Last && r.First <= o.Last) return false;
      }
    }
  }
  return true;
}

}  // namespace tarn
