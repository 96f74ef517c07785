#include "engine/index/index_descriptor.h"

#include <algorithm>
#include <cctype>

#include "engine/base/byte_order.h"

namespace tarn {

namespace L = IndexDescriptorLayout;

TIndexDescriptor TIndexDescriptor::Decode(std::span<const std::uint8_t> image) {
  TIndexDescriptor d;
  std::copy_n(image.begin(), L::Size, d.Raw.begin());
  const std::size_t nameLen = std::min<std::size_t>(image[L::Name], MaxIndexNameLength);
  d.IndexName.assign(reinterpret_cast<const char*>(image.data() + L::Name + 1), nameLen);
  d.KeySize = GetLEI16(image, L::KeySize);
  d.Descending = image[L::Descending] != 0;
  d.CaseInsensitive = image[L::CaseInsensitive] != 0;
  d.Unique = image[L::Unique] != 0;
  d.Compression = static_cast<TKeyCompression>(image[L::Compression] & 3);
  d.FieldCount = image[L::FieldCount];
  for (int i = 0; i < MaxKeyFields; ++i) {
    d.FieldDescending[i] = image[L::FieldDescending + i];
    d.FieldNumbers[i] = GetLEI16(image, L::FieldNumbers + 2 * i);
  }
  d.RootPage = GetLEI32(image, L::RootPage);
  d.FreePageList = GetLEI32(image, L::FreePageList);
  d.TextParamsPage = GetLEI32(image, L::TextParamsPage);
  d.NoCounts = image[L::NoCounts] != 0;
  d.Temporary = image[L::Temporary] != 0;
  return d;
}

void TIndexDescriptor::Encode(std::span<std::uint8_t> image) const {
  std::copy(Raw.begin(), Raw.end(), image.begin());
  const std::size_t nameLen = std::min(IndexName.size(), MaxIndexNameLength);
  std::fill_n(image.begin() + L::Name, 31, std::uint8_t{0});
  image[L::Name] = static_cast<std::uint8_t>(nameLen);
  std::copy_n(IndexName.begin(), nameLen, image.begin() + L::Name + 1);
  PutLEI16(image, L::KeySize, KeySize);
  image[L::Descending] = Descending ? 1 : 0;
  image[L::CaseInsensitive] = CaseInsensitive ? 1 : 0;
  image[L::Unique] = Unique ? 1 : 0;
  image[L::Compression] = static_cast<std::uint8_t>(Compression);
  image[L::FieldCount] = FieldCount;
  for (int i = 0; i < MaxKeyFields; ++i) {
    image[L::FieldDescending + i] = FieldDescending[i];
    PutLEI16(image, L::FieldNumbers + 2 * i, FieldNumbers[i]);
  }
  PutLEI32(image, L::RootPage, RootPage);
  PutLEI32(image, L::FreePageList, FreePageList);
  PutLEI32(image, L::TextParamsPage, TextParamsPage);
  image[L::NoCounts] = NoCounts ? 1 : 0;
  image[L::Temporary] = Temporary ? 1 : 0;
}

bool IsNameStartChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 128 && u <= 254);
}


}  // namespace tarn
