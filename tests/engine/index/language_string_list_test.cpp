// The collated, case-insensitive sorted string list.

#include "engine/index/language_string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/index/language_drivers.h"

namespace tarn {
namespace {

std::vector<std::string> Texts(const TLanguageStringList& list) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < list.Count(); ++i) out.push_back(list[i].Text);
  return out;
}

TEST(LanguageStringListTest, KeepsCollatedOrderAndIgnoresCase) {
  TLanguageStringList plain(0, 0);
  for (const char* s : {"pear", "Apple", "banana", "APPLE", "Zebra"}) plain.Add(s);
  EXPECT_EQ(Texts(plain), (std::vector<std::string>{"Apple", "banana", "pear", "Zebra"}));

  const auto german = static_cast<std::uint16_t>(LanguageIdByName("German (Standard)"));
  TLanguageStringList phoneBook(german, PhoneBookSortId);
  TLanguageStringList byDefault(german, DefaultSortId);
  for (const char* s : {"Affe", "\xC4rzte", "Arzt"}) {
    phoneBook.Add(s);
    byDefault.Add(s);
  }
  EXPECT_EQ(Texts(phoneBook), (std::vector<std::string>{"\xC4rzte", "Affe", "Arzt"}));
  EXPECT_EQ(Texts(byDefault), (std::vector<std::string>{"Affe", "Arzt", "\xC4rzte"}));
}

TEST(LanguageStringListTest, FindReportsMatchOrInsertPosition) {
  TLanguageStringList list(0, 0);
  for (const char* s : {"b", "d", "f"}) list.Add(s, 7);
  struct Case {
    const char* target;
    bool found;
    std::size_t index;
  };
  const Case cases[] = {{"a", false, 0}, {"B", true, 0}, {"c", false, 1}, {"d", true, 1},
                        {"e", false, 2}, {"F", true, 2}, {"g", false, 3}};
  for (const Case& c : cases) {
    std::size_t index = 99;
    EXPECT_EQ(list.Find(c.target, index), c.found) << c.target;
    EXPECT_EQ(index, c.index) << c.target;
  }
  EXPECT_EQ(list.Add("D", 1), 1u);  // no duplicate: the item stays as it was
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list[1].Text, "d");
  EXPECT_EQ(list[1].Value, 7u);
  TLanguageStringList empty(0, 0);
  std::size_t index = 99;
  EXPECT_FALSE(empty.Find("x", index));
  EXPECT_EQ(index, 0u);
}

TEST(LanguageStringListTest, DuplicatesAreFoundAtTheFirstEqualItem) {
  TLanguageStringList list(0, 0, true);
  for (const char* s : {"a", "b", "B", "b", "c"}) list.Add(s);
  EXPECT_EQ(list.Count(), 5u);
  std::size_t index = 99;
  EXPECT_TRUE(list.Find("b", index));
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(list[4].Text, "c");
}

TEST(LanguageStringListTest, PrefixSearchComparesFirstCharacters) {
  const auto english = static_cast<std::uint16_t>(LanguageIdByName("English (USA)"));
  TLanguageStringList list(english, 0);
  for (const char* s : {"alpha", "beta", "betamax", "gamma"}) list.Add(s);
  std::size_t index = 99;
  EXPECT_TRUE(list.FindPrefix("BET", 3, index));
  EXPECT_EQ(list[index].Text.substr(0, 3), "bet");
  EXPECT_FALSE(list.FindPrefix("del", 3, index));
  EXPECT_EQ(index, 2u + 1u);                           // after "betamax", before "gamma"
  EXPECT_TRUE(list.FindPrefix("g\xE1mmy", 3, index));  // accents are ignored
  EXPECT_EQ(index, 3u);
}

}  // namespace
}  // namespace tarn
