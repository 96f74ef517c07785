// Word extraction and the keys of the full-text index.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/index/key_def.h"
#include "engine/index/keys.h"
#include "engine/index/language_drivers.h"
#include "engine/index/text_words.h"

namespace tarn {
namespace {

const TTextIndexParams Defaults = TTextIndexParams::Defaults();

std::vector<std::pair<std::string, std::uint32_t>> Counted(const std::string& text,
                                                           bool wildcard = false,
                                                           std::uint16_t lang = 0) {
  TLanguageStringList list(lang, 0);
  list.Add("stale");
  ExtractWords(text.data(), text.size(), list, wildcard, Defaults.SpaceChars,
               Defaults.IncludeChars);
  std::vector<std::pair<std::string, std::uint32_t>> out;
  for (std::size_t i = 0; i < list.Count(); ++i) out.emplace_back(list[i].Text, list[i].Value);
  return out;
}

TEST(WordsTest, DefaultParameters) {
  EXPECT_EQ(Defaults.StopWords.size(), 22u);
  EXPECT_EQ(Defaults.StopWords.front(), "A");
  EXPECT_EQ(Defaults.StopWords.back(), "WILL");
  std::string spaces;
  std::string includes;
  for (int c = 0; c < 256; ++c) {
    if (Defaults.SpaceChars.Contains(static_cast<std::uint8_t>(c))) spaces += static_cast<char>(c);
    if (Defaults.IncludeChars.Contains(static_cast<std::uint8_t>(c)))
      includes += static_cast<char>(c);
  }
  std::string expectedSpaces;
  for (int c = 1; c <= 32; ++c) expectedSpaces += static_cast<char>(c);
  expectedSpaces += "*+,-./:;<=>\\`";
  EXPECT_EQ(spaces, expectedSpaces);
  std::string expectedIncludes = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  for (int c = 128; c <= 254; ++c) expectedIncludes += static_cast<char>(c);
  EXPECT_EQ(includes, expectedIncludes);
  // Stored form: bit c % 8 of byte c / 8, least significant bit first.
  EXPECT_EQ(Defaults.SpaceChars.Bits()[0], 0xFE);     // 1..7
  EXPECT_EQ(Defaults.SpaceChars.Bits()[5], 0xFC);     // 42..47
  EXPECT_EQ(Defaults.IncludeChars.Bits()[31], 0x7F);  // 248..254, not 255
}

TEST(WordsTest, CountingFormListsDistinctWordsWithCounts) {
  struct Case {
    const char* text;
    bool wildcard;
    std::vector<std::pair<std::string, std::uint32_t>> expected;
  };
  const Case cases[] = {
      {"the cat and THE dog; the end",
       false,
       {{"and", 1}, {"cat", 1}, {"dog", 1}, {"end", 1}, {"the", 3}}},
      {"", false, {}},
      {"  ,,  ", false, {}},
      {"don't stop", false, {{"dont", 1}, {"stop", 1}}},  // "'" is dropped, not a space
      {"a*b c*", false, {{"a", 1}, {"b", 1}, {"c", 1}}},
      {"a*b c*", true, {{"a*b", 1}, {"c*", 1}}},
      {"x1_y2/z\xE9t\xE9", false, {{"x1_y2", 1}, {"z\xE9t\xE9", 1}}},
      {"tab\there\nnow", false, {{"here", 1}, {"now", 1}, {"tab", 1}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Counted(c.text, c.wildcard), c.expected) << c.text;
  }
}

TEST(WordsTest, WordsAreCutToSixtyCharactersAndCountsStopAt65535) {
  const std::string longWord = std::string(65, 'a') + "bcdef";  // 70 characters
  const auto words = Counted(longWord + " " + longWord);
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0].first, std::string(60, 'a'));
  EXPECT_EQ(words[0].second, 2u);

  std::string many;
  for (int i = 0; i < 70000; ++i) many += "w ";
  const auto counted = Counted(many);
  ASSERT_EQ(counted.size(), 1u);
  EXPECT_EQ(counted[0].second, MaxWordCount);
}

TEST(WordsTest, PositionalFormKeepsEveryWordWithItsStart) {
  const std::string text = "  'quoted' and,and x";
  std::vector<TTextWord> words;
  ExtractWords(text.data(), text.size(), words, false, Defaults.SpaceChars, Defaults.IncludeChars);
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[0].Text, "quoted");
  EXPECT_EQ(words[0].Position, 3u);  // the first kept character, after the quote
  EXPECT_EQ(words[1].Text, "and");
  EXPECT_EQ(words[1].Position, 11u);
  EXPECT_EQ(words[2].Position, 15u);
  EXPECT_EQ(words[3].Position, 19u);
}

TEST(WordsTest, TextKeysSkipStopWordsButKeepLongerWordsStartingWithThem) {
  const auto english = static_cast<std::uint16_t>(LanguageIdByName("English (USA)"));
  for (std::uint16_t lang : {std::uint16_t{0}, english}) {
    const TTextKeyBuilder builder(Defaults, lang, 0);
    EXPECT_TRUE(builder.IsStopWord("the"));
    EXPECT_FALSE(builder.IsStopWord("theory"));
    const std::string text = "The theory of THE Anthem, and an answer. " + std::string(70, 'q');
    std::vector<TTextKey> keys;
    builder.BuildKeys(3, text.data(), text.size(), 42, keys);
    std::vector<std::string> indexed;
    for (const TTextKey& key : keys) {
      EXPECT_EQ(key[0], 1);
      EXPECT_EQ(key[1], 0);
      EXPECT_EQ(key[2], 3);
      EXPECT_EQ(key[64], 0x80);
      EXPECT_EQ(key[67], 42);
      indexed.emplace_back(reinterpret_cast<const char*>(key.data() + KeyLimits::TextWordAt));
    }
    EXPECT_EQ(indexed,
              (std::vector<std::string>{"ANSWER", "ANTHEM", std::string(60, 'Q'), "THEORY"}))
        << lang;
  }
}

TEST(WordsTest, CustomParametersChangeWhatIsAWord) {
  TTextIndexParams params;
  params.StopWords = {"skip"};
  params.SpaceChars.Add('|');
  params.IncludeChars.AddRange('a', 'z');
  const TTextKeyBuilder builder(params, 0, 0);
  const std::string text = "keep|SKIP|skip|a b|x9y";
  std::vector<TTextKey> keys;
  builder.BuildKeys(1, text.data(), text.size(), 1, keys);
  std::vector<std::string> indexed;
  for (const TTextKey& key : keys) {
    indexed.emplace_back(reinterpret_cast<const char*>(key.data() + KeyLimits::TextWordAt));
  }
  // "SKIP" drops its capitals (not included) and becomes empty; blanks are
  // not spaces here, so "a b" is one word "ab".
  EXPECT_EQ(indexed, (std::vector<std::string>{"AB", "KEEP", "XY"}));
}

}  // namespace
}  // namespace tarn
