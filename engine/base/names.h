#pragma once
// Comparison of names. The names of tables, directories, fields, indexes and
// files compare ignoring ASCII letter case after trimming blanks. (Passwords
// never come here: they compare exactly.)

#include <string_view>

namespace tarn {

// c with 'a'..'z' raised to 'A'..'Z'; every other byte unchanged.
constexpr char UpperAsciiChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// s without leading and trailing spaces.
constexpr std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// a and b are equal but for ASCII letter case.
constexpr bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAsciiChar(a[i]) != UpperAsciiChar(b[i])) return false;
  return true;
}

// a and b name the same object: equal but for letter case once trimmed.
constexpr bool SameName(std::string_view a, std::string_view b) { return SameText(TrimBlanks(a), TrimBlanks(b)); }

}  // namespace tarn
