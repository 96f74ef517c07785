#pragma once
// TBlockPin: one pin on a cached block, given back when the guard goes away.
//
// TBlobFile::GetBlock and AllocBlock hand blocks out only inside a TBlockPin.
// The guard pins in its constructor and unpins (TBlobFile::ReleaseBlock) in
// its destructor or at an earlier Release(); it can be moved, never copied.
// An empty guard (default-constructed, moved from or released) holds nothing;
// GetBlock returns one when the caller must start its operation again.

#include "engine/blob/block.h"

namespace tarn {

class TBlobFile;

class TBlockPin {
 public:
  TBlockPin() = default;
  // Pins block, which belongs to file's cache.
  TBlockPin(TBlobFile& file, TBlock& block) : FFile(&file), FBlock(&block) { block.Pin(); }
  ~TBlockPin() { Release(); }
  TBlockPin(const TBlockPin&) = delete;
  TBlockPin& operator=(const TBlockPin&) = delete;
  TBlockPin(TBlockPin&& other) noexcept : FFile(other.FFile), FBlock(other.FBlock) {
    other.FFile = nullptr;
    other.FBlock = nullptr;
  }
  TBlockPin& operator=(TBlockPin&& other) noexcept {
    if (this != &other) {
      Release();
      FFile = other.FFile;
      FBlock = other.FBlock;
      other.FFile = nullptr;
      other.FBlock = nullptr;
    }
    return *this;
  }

  // Gives the pin back; idempotent.
  void Release() noexcept;

  explicit operator bool() const { return FBlock != nullptr; }
  TBlock* Get() const { return FBlock; }
  TBlock* operator->() const { return FBlock; }
  TBlock& operator*() const { return *FBlock; }

 private:
  TBlobFile* FFile = nullptr;
  TBlock* FBlock = nullptr;
};

}  // namespace tarn
