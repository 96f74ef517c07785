#pragma once
// One byte-range lock held on a table file, given back when the guard goes.
//
// TRegionLock exists only for a range that was actually locked: TryLock
// returns an empty optional when the file layer refuses the range. The guard
// releases exactly that range in its destructor or at Release; it can be
// moved but not copied. The file handler must stay open while the guard holds
// the range (the shared table releases its locks before it closes its files).
//
// State after failures: a refused lock leaves nothing held; an unlock that the
// file layer refuses still counts as released (the range is forgotten) and
// Release reports it, never throwing.

#include <cstdint>
#include <optional>

#include "engine/files/file_handler.h"

namespace tarn {

class TRegionLock {
 public:
  // One non-blocking attempt on [offset, offset + length) of file.
  static std::optional<TRegionLock> TryLock(TFileHandler& file, std::int64_t offset, std::int64_t length);

  ~TRegionLock() { Release(); }
  TRegionLock(TRegionLock&& other) noexcept;
  TRegionLock& operator=(TRegionLock&& other) noexcept;
  TRegionLock(const TRegionLock&) = delete;
  TRegionLock& operator=(const TRegionLock&) = delete;

  // Unlocks the range; later calls do nothing and return true. False when the
  // file layer refused the unlock (the range counts as released all the same).
  bool Release() noexcept;

  bool Held() const { return FFile != nullptr; }
  std::int64_t Offset() const { return FOffset; }
  std::int64_t Length() const { return FLength; }

 private:
  TRegionLock(TFileHandler& file, std::int64_t offset, std::int64_t length)
      : FFile(&file), FOffset(offset), FLength(length) {}

  TFileHandler* FFile;
  std::int64_t FOffset;
  std::int64_t FLength;
};

}  // namespace tarn
