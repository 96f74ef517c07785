#pragma once
// The process-wide table of byte ranges locked on disk files.
//
// Linux OFD locks exclude other open file descriptions, but a process holding
// one descriptor per file could lock the same range twice through it. The
// table keeps every range this process holds, keyed by the file's identity
// (st_dev, st_ino) so that two names of one file meet, and per holder (the
// TPhysicalFile that owns the descriptor). A request that overlaps any range
// held in the process on that file is refused before the OS is asked; only
// then is the OFD lock requested, and the range recorded when it is granted.
// An unlock must name exactly a range held by the same holder.
//
// The ranges of a file are kept ordered by their first byte, so that a lock
// or unlock costs O(log n) in the ranges held: a transaction keeps every
// record it touched locked until it ends, which may be many thousands.
//
// Lock offsets of the table formats are format constants kept beside the
// layouts of the data, index and blob files.
//
// Threads: one mutex (FMutex) guards the table; it is the innermost lock of
// the file layer: taken after the file list's lock and a file object's FLock,
// never the other way round. The OS lock call is made under FMutex (it never
// waits).
//
// State after failures: a refused or failed lock leaves the table unchanged;
// an unlock that the OS refuses still removes the range from the table (it
// counts as released) and returns false.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/files/abstract_file.h"

namespace tarn {

struct TFileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  friend bool operator<(const TFileIdentity& a, const TFileIdentity& b) {
    return std::pair(a.Device, a.Inode) < std::pair(b.Device, b.Inode);
  }
};

class TRangeLockTable {
 public:
  // The one table of the process.
  static TRangeLockTable& Instance();

  // Locks [offset, offset + length) for holder on file through descriptor fd
  // (an OFD write lock, or a read lock when readOnlyFd). False when the range
  // overlaps one held in this process, when the OS refuses it, or when
  // offset < 0 or length <= 0.
  bool Lock(TFileIdentity file, const void* holder, int fd, bool readOnlyFd, std::int64_t offset,
            std::int64_t length);
  // Unlocks the range of holder with exactly this offset and length. False
  // when there is none (nothing changes) or when the OS refuses the unlock
  // (the range is dropped from the table all the same).
  bool Unlock(TFileIdentity file, const void* holder, int fd, std::int64_t offset,
              std::int64_t length);
  // Forgets every range of holder on file, without OS calls: used just before
  // the descriptor closes, which releases its OFD locks.
  void ForgetHolder(TFileIdentity file, const void* holder) noexcept;

  // Ranges held on file by every holder (tests).
  std::size_t HeldCount(TFileIdentity file) const;

  // Ranges well formed; no two ranges on one file overlap.
  bool CheckInvariants() const;

 private:
  struct THeld {
    const void* Holder;
    TLockRange Range;
  };
  // The ranges of one file by their first byte.
  using TRanges = std::map<std::int64_t, THeld>;
  // CheckInvariants with FMutex already held.
  bool CheckInvariantsLocked() const;
  // The entry at first and its neighbours are well formed and apart (the
  // cheap check after each change).
  static bool CheckAround(const TRanges& ranges, std::int64_t first);

  mutable std::mutex FMutex;
  std::map<TFileIdentity, TRanges> FFiles;
};

}  // namespace tarn
