#include "engine/index/text_words.h"

#include <algorithm>
#include <span>

#include "engine/index/keys.h"

namespace tarn {

namespace {

// Walks the words of a text and hands each ended one to emit(word, position).
template <typename TEmit>
void ScanWords(const char* text, std::size_t length, bool allowWildcard, const TCharSet& spaceSet,
               const TCharSet& includeSet, TEmit emit) {
  char word[KeyLimits::MaxWordLength + 1];
  std::size_t size = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    const bool wildcard = allowWildcard && c == '*';
    if (!spaceSet.Contains(c) || wildcard) {
      if ((includeSet.Contains(c) || wildcard) && size < KeyLimits::MaxWordLength) {
        if (size == 0) start = i;
        word[size++] = static_cast<char>(c);
      }
    } else if (size > 0) {
      emit(std::string(word, size), start);
      size = 0;
    }
  }
  if (size > 0) emit(std::string(word, size), start);
}

}  // namespace

TTextIndexParams TTextIndexParams::Defaults() {
  TTextIndexParams params;
  params.StopWords = {"A",   "AN",   "AND",  "BE",    "FOR",  "HOW", "IN",   "IS",
                      "IT",  "OF",   "ON",   "OR",    "THAT", "THE", "THIS", "TO",
                      "WAS", "WHAT", "WHEN", "WHICH", "WHY",  "WILL"};
  params.SpaceChars.AddRange(1, 32);
  params.SpaceChars.AddRange('*', '/');
  params.SpaceChars.AddRange(':', '>');
  params.SpaceChars.Add('\\');
  params.SpaceChars.Add('`');
  params.IncludeChars.AddRange('0', '9');
  params.IncludeChars.AddRange('A', 'Z');
  params.IncludeChars.AddRange('a', 'z');
  params.IncludeChars.Add('_');
  params.IncludeChars.AddRange(128, 254);
  return params;
}

void ExtractWords(const char* text, std::size_t length, TLanguageStringList& list,
                  bool allowWildcard, const TCharSet& spaceSet, const TCharSet& includeSet) {
  list.Clear();
  ScanWords(text, length, allowWildcard, spaceSet, includeSet,
            [&list](const std::string& word, std::size_t) {
              std::size_t index;
              if (!list.AcceptDuplicates() && list.Find(word, index)) {
                std::uint32_t& count = list.Item(index).Value;
                count = std::min(count + 1, MaxWordCount);
              } else {
                list.Add(word, 1);
              }
            });
}

void ExtractWords(const char* text, std::size_t length, std::vector<TTextWord>& list,
                  bool allowWildcard, const TCharSet& spaceSet, const TCharSet& includeSet) {
  list.clear();
  ScanWords(text, length, allowWildcard, spaceSet, includeSet,
            [&list](const std::string& word, std::size_t position) {
              list.push_back(TTextWord{word, static_cast<std::uint32_t>(position)});
            });
}

TTextKeyBuilder::TTextKeyBuilder(const TTextIndexParams& params, std::uint16_t languageId,
                                 std::uint16_t sortId)
    : FParams(params), FLanguageId(languageId), FSortId(sortId), FStopWords(languageId, sortId) {
  for (const std::string& word : FParams.StopWords) FStopWords.Add(word);
}

void TTextKeyBuilder::BuildKeys(std::uint16_t fieldNumber, const char* text, std::size_t length,
                                std::int32_t autoInc, std::vector<TTextKey>& keys) const {
  keys.clear();
  TLanguageStringList words(FLanguageId, FSortId);
  ExtractWords(text, length, words, false, FParams.SpaceChars, FParams.IncludeChars);
  for (std::size_t i = 0; i < words.Count(); ++i) {
    const std::string& word = words[i].Text;
    if (IsStopWord(word)) continue;
    TTextKey key;
    BuildTextKey(fieldNumber,
                 std::span(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()),
                 autoInc, FLanguageId, FSortId, key);
    keys.push_back(key);
  }
}

}  // namespace tarn
