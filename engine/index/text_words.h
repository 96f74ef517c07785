#pragma once
// Words of the full-text index ("Sys Text"): the index parameters, word
// extraction and the keys of one record's text.
//
// Parameters (stored by the index file as stop words plus two 32-byte
// character sets; these are the defaults when none are stored):
//   stop words  "A", "AN", "AND", "BE", "FOR", "HOW", "IN", "IS", "IT", "OF",
//               "ON", "OR", "THAT", "THE", "THIS", "TO", "WAS", "WHAT",
//               "WHEN", "WHICH", "WHY", "WILL"
//   space set   codes 1..32, "*" to "/" (42..47), ":" to ">" (58..62), "\", "`"
//   include set digits, "A".."Z", "a".."z", "_", codes 128..254
// A character set has one bit per code: bit c % 8 (least significant first)
// of byte c / 8.
//
// Word extraction: a character outside the space set (or "*" when wildcards
// are allowed) is appended to the current word when it is in the include set
// (or is that "*") and the word has fewer than 60 characters; other such
// characters are dropped and the word goes on. A space character ends a
// non-empty word; the word still open at the end of the text ends too.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/index/key_def.h"
#include "engine/index/language_string_list.h"

namespace tarn {

// A set of 8-bit character codes, in its stored 32-byte form.
class TCharSet {
 public:
  static constexpr std::size_t ByteSize = 32;

  TCharSet() = default;
  explicit TCharSet(const std::array<std::uint8_t, ByteSize>& bits) : FBits(bits) {}

  bool Contains(std::uint8_t c) const { return (FBits[c / 8] >> (c % 8) & 1) != 0; }
  void Add(std::uint8_t c) {
    FBits[c / 8] = static_cast<std::uint8_t>(FBits[c / 8] | 1 << (c % 8));
  }
  void AddRange(std::uint8_t first, std::uint8_t last) {
    for (unsigned c = first; c <= last; ++c) Add(static_cast<std::uint8_t>(c));
  }
  const std::array<std::uint8_t, ByteSize>& Bits() const { return FBits; }
  bool operator==(const TCharSet&) const = default;

 private:
  std::array<std::uint8_t, ByteSize> FBits{};
};

struct TTextIndexParams {
  std::vector<std::string> StopWords;
  TCharSet SpaceChars;
  TCharSet IncludeChars;

  static TTextIndexParams Defaults();
};

// A word of the positional form: its text and the 0-based position of its
// first kept character in the text.
struct TTextWord {
  std::string Text;
  std::uint32_t Position = 0;
};

inline constexpr std::uint32_t MaxWordCount = 65535;

// Counting form: list is cleared and receives every distinct word once (in
// the list's collation, case ignored), its Value the number of occurrences,
// at most 65535.
void ExtractWords(const char* text, std::size_t length, TLanguageStringList& list,
                  bool allowWildcard, const TCharSet& spaceSet, const TCharSet& includeSet);
// Positional form: list is cleared and receives every word in text order.
void ExtractWords(const char* text, std::size_t length, std::vector<TTextWord>& list,
                  bool allowWildcard, const TCharSet& spaceSet, const TCharSet& includeSet);

using TTextKey = std::array<std::uint8_t, KeyLimits::TextKeySize>;

// Builds the "Sys Text" keys of a table: holds the parameters and the stop
// words (a TLanguageStringList in the table's language and sort order).
class TTextKeyBuilder {
 public:
  TTextKeyBuilder(const TTextIndexParams& params, std::uint16_t languageId, std::uint16_t sortId);

  bool IsStopWord(const std::string& word) const { return FStopWords.Contains(word); }
  const TTextIndexParams& Params() const { return FParams; }

  // The keys of one field's text: one per distinct word that is not a stop
  // word, in the word list's order. keys is cleared first.
  void BuildKeys(std::uint16_t fieldNumber, const char* text, std::size_t length,
                 std::int32_t autoInc, std::vector<TTextKey>& keys) const;

 private:
  TTextIndexParams FParams;
  std::uint16_t FLanguageId;
  std::uint16_t FSortId;
  TLanguageStringList FStopWords;
};

}  // namespace tarn
