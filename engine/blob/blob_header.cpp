#include "engine/blob/blob_header.h"

#include <algorithm>

#include "engine/base/byte_order.h"

namespace tarn {

TBlobHeader TBlobHeader::Decode(std::span<const std::uint8_t> image) {
  TBlobHeader h;
  h.BlobChangeCount = GetLEI32(image, BlobHeader::ChangeCountAt);
  h.BlobVersion = image[BlobHeader::VersionAt];
  h.FreeBlockList = GetLEI32(image, BlobHeader::FreeBlockListAt);
  h.NextBlockNumber = GetLEI32(image, BlobHeader::NextBlockNumberAt);
  h.WriteInProgress = image[BlobHeader::WriteInProgressAt] != 0;
  return h;
}

void TBlobHeader::Encode(std::span<std::uint8_t> image, bool dirty) const {
  std::fill_n(image.begin(), BlobHeader::Size, std::uint8_t{0});
  PutLEI32(image, BlobHeader::ChangeCountAt, BlobChangeCount);
  image[BlobHeader::VersionAt] = BlobVersion;
  PutLEI32(image, BlobHeader::FreeBlockListAt, FreeBlockList);
  PutLEI32(image, BlobHeader::NextBlockNumberAt, NextBlockNumber);
  image[BlobHeader::HeaderDirtyAt] = dirty ? 1 : 0;
  image[BlobHeader::WriteInProgressAt] = WriteInProgress ? 1 : 0;
}

TErrorCode TBlobHeader::Verify() const {
  if (BlobVersion != BlobHeader::CurrentVersion) return TARN_OLDVERSION;
  if (NextBlockNumber < 1) return TARN_HEADERCORRUPT;
  if (FreeBlockList < 0 || FreeBlockList > NextBlockNumber - 1) return TARN_HEADERCORRUPT;
  return 0;
}

}  // namespace tarn
