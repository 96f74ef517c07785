#pragma once
// A sorted list of 8-bit strings ordered by a table's collation.
//
// Order and search use CompareCollated with case ignored, under the language
// and sort order the list is made with, so "the" and "THE" are one entry
// unless duplicates are accepted. Each item carries a 32-bit value for its
// owner (word lists keep occurrence counts there).
//
// Threads: a list is used by one thread at a time; the collation it calls is
// shared and thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

class TLanguageStringList {
 public:
  struct TItem {
    std::string Text;
    std::uint32_t Value = 0;
  };

  TLanguageStringList(std::uint16_t languageId, std::uint16_t sortId,
                      bool acceptDuplicates = false);

  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }
  bool AcceptDuplicates() const { return FAcceptDuplicates; }

  std::size_t Count() const { return FItems.size(); }
  const TItem& operator[](std::size_t i) const { return FItems[i]; }
  TItem& Item(std::size_t i) { return FItems[i]; }
  void Clear() { FItems.clear(); }
  void Delete(std::size_t i) { FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i)); }

  // Binary search (lo 0, hi Count - 1). Returns whether an equal item exists;
  // index receives the final lo: the match (without duplicates: the one the
  // search met; with duplicates: the first), or where s would be inserted.
  bool Find(std::string_view s, std::size_t& index) const;
  // The same comparing only the first n characters of item and target.
  bool FindPrefix(std::string_view s, std::size_t n, std::size_t& index) const;
  bool Contains(std::string_view s) const {
    std::size_t index;
    return Find(s, index);
  }

  // Inserts s in order and returns its index. Without duplicates an equal
  // item is kept as it is and its index returned.
  std::size_t Add(std::string_view s, std::uint32_t value = 0);

  // CompareCollated of two texts under the list's language, case ignored;
  // length 0 compares whole strings.
  int Compare(const std::string& a, const std::string& b, std::size_t length = 0) const;

 private:
  bool Search(std::string_view s, std::size_t length, std::size_t& index) const;

  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  bool FAcceptDuplicates;
  std::vector<TItem> FItems;
};

}  // namespace tarn
