#include "engine/index/char_maps.h"

#include <algorithm>
#include <numeric>

#include "engine/index/collation.h"

namespace tarn {

bool TCharMap::CheckInvariants() const {
  for (int i = 0; i < 256; ++i) {
    if (Position[Order[i]] != i) return false;
  }
  return true;
}

TLanguageCharMapsList& TLanguageCharMapsList::Global() {
  static TLanguageCharMapsList list;
  return list;
}

const TCharMap& TLanguageCharMapsList::GetMap(std::uint16_t languageId, std::uint16_t sortId) {
  std::lock_guard<std::mutex> lock(FMutex);
  auto& slot = FMaps[{languageId, sortId}];
  if (!slot) {
    auto map = std::make_unique<TCharMap>();
    map->LanguageId = languageId;
    map->SortId = sortId;
    std::iota(map->Order.begin(), map->Order.end(), std::uint8_t{0});
    if (languageId != 0 && IsValidLocale(languageId, sortId)) {
      std::stable_sort(map->Order.begin(), map->Order.end(),
                       [languageId, sortId](std::uint8_t a, std::uint8_t b) {
                         return CompareChar(languageId, sortId, a, b) < 0;
                       });
    }
    for (int i = 0; i < 256; ++i) map->Position[map->Order[i]] = static_cast<std::uint8_t>(i);
    slot = std::move(map);
  }
  return *slot;
}

std::size_t TLanguageCharMapsList::Count() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FMaps.size();
}

const TCharMap& LanguageCharMap(std::uint16_t languageId, std::uint16_t sortId) {
  return TLanguageCharMapsList::Global().GetMap(languageId, sortId);
}

}  // namespace tarn
