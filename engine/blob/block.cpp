#include "engine/blob/block.h"

#include <algorithm>
#include <cassert>

#include "engine/base/byte_order.h"
#include "engine/table/scramble.h"

namespace tarn {

void ScrambleBlockImage(std::span<std::uint8_t> image) {
  assert(image.size() >= BlobBlock::HeaderSize);
  ScrambleBytes(image.first(BlobBlock::HeaderSize), DataScrambleKey);
  ScrambleBytes(image.subspan(BlobBlock::HeaderSize), DataScrambleKey);
}

TBlock::TBlock(std::size_t dataSize) : FData(dataSize, 0) {}

void TBlock::SetPrevBlock(std::int32_t n) {
  FPrevBlock = n;
  FDirty = true;
}

void TBlock::SetNextBlock(std::int32_t n) {
  FNextBlock = n;
  FDirty = true;
}

void TBlock::SetUsedBytes(std::int32_t n) {
  assert(n >= 0 && static_cast<std::size_t>(n) <= FData.size());
  FUsedBytes = n;
  FDirty = true;
}

void TBlock::SetBlobStamp(std::int32_t stamp) {
  FBlobStamp = stamp;
  FDirty = true;
}

void TBlock::SetBlobSize(std::uint32_t size) {
  FBlobSize = size;
  FDirty = true;
}

void TBlock::ClearContents() {
  FPrevBlock = 0;
  FNextBlock = 0;
  FUsedBytes = 0;
  FBlobStamp = 0;
  FBlobSize = 0;
  std::fill(FData.begin(), FData.end(), std::uint8_t{0});
  FDirty = true;
}

void TBlock::Reset(std::int32_t blockNo) {
  ClearContents();
  Renumber(blockNo);
}

void TBlock::Renumber(std::int32_t blockNo) {
  FBlockNo = blockNo;
  FDirty = false;
  FCached = false;
  FPinCount = 0;
  FNewer = nullptr;
  FOlder = nullptr;
}

void TBlock::LoadFrom(std::span<const std::uint8_t> image) {
  assert(image.size() >= BlobBlock::HeaderSize + FData.size());
  FPrevBlock = GetLEI32(image, BlobBlock::PrevBlockAt);
  FNextBlock = GetLEI32(image, BlobBlock::NextBlockAt);
  FUsedBytes = GetLE16(image, BlobBlock::UsedBytesAt);
  FBlobStamp = GetLEI32(image, BlobBlock::BlobStampAt);
  FBlobSize = GetLE32(image, BlobBlock::BlobSizeAt);
  std::copy_n(image.begin() + BlobBlock::HeaderSize, FData.size(), FData.begin());
  FDirty = false;
}

void TBlock::StoreTo(std::span<std::uint8_t> image) const {
  assert(image.size() >= BlobBlock::HeaderSize + FData.size());
  PutLEI32(image, BlobBlock::PrevBlockAt, FPrevBlock);
  PutLEI32(image, BlobBlock::NextBlockAt, FNextBlock);
  PutLE16(image, BlobBlock::UsedBytesAt, static_cast<std::uint16_t>(FUsedBytes));
  PutLEI32(image, BlobBlock::BlobStampAt, FBlobStamp);
  PutLE32(image, BlobBlock::BlobSizeAt, FBlobSize);
  std::copy(FData.begin(), FData.end(), image.begin() + BlobBlock::HeaderSize);
}

void TBlock::Unpin() {
  assert(FPinCount > 0);
  if (FPinCount > 0) --FPinCount;
}

}  // namespace tarn
