#include "engine/index/language_string_list.h"

#include "engine/index/collation.h"

namespace tarn {

TLanguageStringList::TLanguageStringList(std::uint16_t languageId, std::uint16_t sortId,
                                         bool acceptDuplicates)
    : FLanguageId(languageId), FSortId(sortId), FAcceptDuplicates(acceptDuplicates) {}

int TLanguageStringList::Compare(const std::string& a, const std::string& b,
                                 std::size_t length) const {
  return CompareCollated(FLanguageId, FSortId, a.c_str(), true, length, b.c_str());
}

bool TLanguageStringList::Search(std::string_view s, std::size_t length, std::size_t& index) const {
  const std::string target(s);
  bool found = false;
  std::ptrdiff_t lo = 0;
  std::ptrdiff_t hi = static_cast<std::ptrdiff_t>(FItems.size()) - 1;
  while (lo <= hi) {
    const std::ptrdiff_t mid = (lo + hi) / 2;
    const int r = Compare(FItems[static_cast<std::size_t>(mid)].Text, target, length);
    if (r < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (r == 0) {
        found = true;
        if (!FAcceptDuplicates) lo = mid;
      }
    }
  }
  index = static_cast<std::size_t>(lo);
  return found;
}

bool TLanguageStringList::Find(std::string_view s, std::size_t& index) const {
  return Search(s, 0, index);
}

bool TLanguageStringList::FindPrefix(std::string_view s, std::size_t n, std::size_t& index) const {
  if (n == 0) {
    index = 0;
    return !FItems.empty();
  }
  return Search(s, n, index);
}

std::size_t TLanguageStringList::Add(std::string_view s, std::uint32_t value) {
  std::size_t index;
  if (Find(s, index) && !FAcceptDuplicates) return index;
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), TItem{std::string(s), value});
  return index;
}

}  // namespace tarn
