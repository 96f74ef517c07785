#include "engine/table/records_bitmap_stack.h"

#include <utility>

namespace tarn {

TRecordsBitmapStack& TRecordsBitmapStack::Instance() {
  static TRecordsBitmapStack pool;
  return pool;
}

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::Take() {
  std::unique_ptr<TRecordsBitmap> bitmap;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FSpares.empty()) {
      bitmap = std::move(FSpares.back());
      FSpares.pop_back();
    }
  }
  if (!bitmap) return std::make_unique<TRecordsBitmap>();
  bitmap->SetBitCount(0);
  return bitmap;
}

void TRecordsBitmapStack::Give(std::unique_ptr<TRecordsBitmap> bitmap) noexcept {
  if (!bitmap || bitmap->BufferBytes() > MaxSpareBytes) return;
  std::lock_guard<std::mutex> lock(FMutex);
  if (FSpares.size() >= Capacity) return;  // bitmap is destroyed on return
  try {
    FSpares.push_back(std::move(bitmap));
  } catch (...) {
    // No room for the pointer: the bitmap is simply destroyed.
  }
}

std::size_t TRecordsBitmapStack::SpareCount() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FSpares.size();
}

TPooledBitmap::TPooledBitmap(std::uint32_t bitCount, TRecordsBitmapStack& pool)
    : FPool(&pool), FBitmap(pool.Take()) {
  FBitmap->SetBitCount(bitCount);
}

TPooledBitmap::TPooledBitmap(TPooledBitmap&& other) noexcept
    : FPool(other.FPool), FBitmap(std::move(other.FBitmap)) {}

TPooledBitmap& TPooledBitmap::operator=(TPooledBitmap&& other) noexcept {
  if (this != &other) {
    Release();
    FPool = other.FPool;
    FBitmap = std::move(other.FBitmap);
  }
  return *this;
}

void TPooledBitmap::Release() noexcept {
  if (FBitmap) FPool->Give(std::move(FBitmap));
}

}  // namespace tarn
