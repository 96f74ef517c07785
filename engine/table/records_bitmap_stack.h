#pragma once
// The engine-wide pool of record bitmaps.
//
// Filters, cursors and shared tables take their bitmaps from one pool of the
// process so that the word buffers of bitmaps that come and go are reused.
// Take() hands out a bitmap with no bits (BitCount 0; its buffer is kept);
// Give() takes one back and keeps it while fewer than Capacity are held and
// its buffer is at most MaxSpareBytes, destroying it otherwise (a bitmap that
// once covered 200,000,000 records would otherwise pin 25 MB for good).
//
// TPooledBitmap owns a bitmap taken from the pool and gives it back when it
// goes away, so a bitmap returns to the pool on every path.
//
// Threads: FMutex guards the list of spare bitmaps; it is a leaf lock (no
// other lock is taken while it is held). The bitmaps themselves are not
// guarded: each belongs to the one owner that took it.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/table/records_bitmap.h"

namespace tarn {

class TRecordsBitmapStack {
 public:
  // Spare bitmaps kept at most.
  static constexpr std::size_t Capacity = 64;
  // Largest buffer a spare may keep (8,388,608 records).
  static constexpr std::size_t MaxSpareBytes = 1 << 20;

  // The pool of the process.
  static TRecordsBitmapStack& Instance();

  TRecordsBitmapStack() = default;
  TRecordsBitmapStack(const TRecordsBitmapStack&) = delete;
  TRecordsBitmapStack& operator=(const TRecordsBitmapStack&) = delete;

  // A bitmap with BitCount 0: the last spare, or a new one.
  std::unique_ptr<TRecordsBitmap> Take();
  // Keeps bitmap as a spare, or destroys it when Capacity spares are held or
  // its buffer is larger than MaxSpareBytes.
  // Accepts nullptr.
  void Give(std::unique_ptr<TRecordsBitmap> bitmap) noexcept;

  // Spares held now (tests).
  std::size_t SpareCount() const;

 private:
  mutable std::mutex FMutex;
  std::vector<std::unique_ptr<TRecordsBitmap>> FSpares;
};

// A bitmap of the pool, given back when the handle goes away (or at Release).
class TPooledBitmap {
 public:
  // Takes a bitmap from pool and sizes it for bitCount records, all clear.
  explicit TPooledBitmap(std::uint32_t bitCount = 0,
                         TRecordsBitmapStack& pool = TRecordsBitmapStack::Instance());
  ~TPooledBitmap() { Release(); }
  TPooledBitmap(TPooledBitmap&& other) noexcept;
  TPooledBitmap& operator=(TPooledBitmap&& other) noexcept;
  TPooledBitmap(const TPooledBitmap&) = delete;
  TPooledBitmap& operator=(const TPooledBitmap&) = delete;

  // Gives the bitmap back early; later calls do nothing. Afterwards the handle
  // is empty and must not be dereferenced.
  void Release() noexcept;

  TRecordsBitmap& operator*() const { return *FBitmap; }
  TRecordsBitmap* operator->() const { return FBitmap.get(); }
  TRecordsBitmap* Get() const { return FBitmap.get(); }

 private:
  TRecordsBitmapStack* FPool;
  std::unique_ptr<TRecordsBitmap> FBitmap;
};

}  // namespace tarn
