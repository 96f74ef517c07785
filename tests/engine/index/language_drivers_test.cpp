// The language list, sort orders and their lookups.

#include "engine/index/language_drivers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tarn {
namespace {

TEST(LanguageDriversTest, ListHasNinetyNineEntriesInOrder) {
  const auto names = LanguageNames();
  ASSERT_EQ(names.size(), 99u);
  struct Case {
    std::size_t position;
    const char* name;
    std::uint16_t primary;
    std::uint16_t sub;
  };
  const Case cases[] = {
      {0, "ANSI Standard", 0, 0},
      {1, "Afrikaans", 54, 1},
      {3, "Arabic (Saudi Arabia)", 1, 1},
      {18, "Arabic (Qatar)", 1, 16},
      {28, "English (USA)", 9, 1},
      {36, "English (Caribbean)", 9, 9},
      {48, "German (Standard)", 7, 1},
      {52, "German (Liechtenstein)", 7, 5},
      {65, "Portuguese (Standard)", 22, 2},
      {66, "Portuguese (Brazilian)", 22, 1},
      {69, "Serbian (Latin)", 26, 2},
      {73, "Spanish (Castilian)", 10, 1},
      {92, "Spanish (Puerto Rico)", 10, 20},
      {96, "Turkish", 31, 1},
      {97, "Ukranian", 34, 1},
      {98, "Vietnamese", 42, 1},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(names[c.position].Name, c.name) << c.position;
    EXPECT_EQ(names[c.position].LanguageId, MakeLanguageId(c.primary, c.sub)) << c.name;
  }
  EXPECT_EQ(MakeLanguageId(9, 1), 1033);
  EXPECT_EQ(MakeLanguageId(7, 1), 0x0407);
  std::set<std::string> distinctNames;
  std::set<std::uint16_t> distinctIds;
  for (const TLanguageEntry& entry : names) {
    distinctNames.insert(entry.Name);
    distinctIds.insert(entry.LanguageId);
  }
  EXPECT_EQ(distinctNames.size(), 99u);
  EXPECT_EQ(distinctIds.size(), 99u);
}

TEST(LanguageDriversTest, NameLookupsIgnoreCase) {
  EXPECT_EQ(LanguageIdByName("German (Standard)"), 0x0407);
  EXPECT_EQ(LanguageIdByName("english (uk)"), 0x0809);
  EXPECT_EQ(LanguageIdByName("ANSI STANDARD"), 0);
  EXPECT_EQ(LanguageIdByName("Klingon"), -1);
  EXPECT_EQ(LanguageIdByName(""), -1);
  EXPECT_EQ(LanguageNameById(0x041F), "Turkish");
  EXPECT_EQ(LanguageNameById(0), "ANSI Standard");
  EXPECT_EQ(LanguageNameById(0x0FFF), "");
  ASSERT_NE(FindLanguage(0x0419), nullptr);
  EXPECT_STREQ(FindLanguage(0x0419)->Name, "Russian");
}

TEST(LanguageDriversTest, OnlyTheFiveGermanEntriesHavePhoneBookOrder) {
  const auto names = LanguageNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::uint16_t id = names[i].LanguageId;
    const bool german = i >= 48 && i <= 52;
    const auto orders = SortOrderNames(id);
    ASSERT_EQ(orders.size(), german ? 2u : 1u) << names[i].Name;
    EXPECT_STREQ(orders[0], "Default Order");
    EXPECT_EQ(SortIdByName(id, "default order"), 0);
    EXPECT_EQ(SortIdByName(id, "German Phone Book Order"), german ? 1 : -1) << names[i].Name;
    EXPECT_EQ(IsSortOrderOf(id, "GERMAN PHONE BOOK ORDER"), german);
    EXPECT_EQ(IsKnownLanguage(id, 1), german);
    EXPECT_TRUE(IsKnownLanguage(id, 0));
  }
  EXPECT_STREQ(SortOrderNames(0x0407)[1], "German Phone Book Order");
  EXPECT_TRUE(SortOrderNames(0x0FFF).empty());
  EXPECT_EQ(SortIdByName(0x0407, "Dictionary"), -1);
  EXPECT_FALSE(IsKnownLanguage(0x0407, 2));
}

TEST(LanguageDriversTest, LocalesAndCodePages) {
  struct Case {
    const char* name;
    std::uint16_t sortId;
    const char* locale;
    std::uint16_t codePage;
  };
  const Case cases[] = {
      {"ANSI Standard", 0, "", 1252},
      {"German (Standard)", 1, "de_DE@collation=phonebook", 1252},
      {"German (Austrian)", 0, "de_AT", 1252},
      {"English (USA)", 1, "", 1252},  // no phone book outside German
      {"Czech", 0, "cs_CZ", 1250},
      {"Serbian (Latin)", 0, "sr_Latn_RS", 1250},
      {"Serbian (Cyrillic)", 0, "sr_Cyrl_RS", 1251},
      {"Russian", 0, "ru_RU", 1251},
      {"Greek", 0, "el_GR", 1253},
      {"Turkish", 0, "tr_TR", 1254},
      {"Hebrew", 0, "he_IL", 1255},
      {"Farsi", 0, "fa_IR", 1256},
      {"Arabic (Egypt)", 0, "ar_EG", 1256},
      {"Lithuanian", 0, "lt_LT", 1257},
      {"Vietnamese", 0, "vi_VN", 1258},
      {"Thai", 0, "th_TH", 874},
      {"Spanish (Castilian)", 0, "es_ES@collation=traditional", 1252},
      {"Spanish (Modern)", 0, "es_ES", 1252},
  };
  for (const Case& c : cases) {
    const auto id = static_cast<std::uint16_t>(LanguageIdByName(c.name));
    EXPECT_EQ(IcuLocaleName(id, c.sortId), c.locale) << c.name;
    EXPECT_EQ(LanguageCodePage(id), c.codePage) << c.name;
  }
  EXPECT_EQ(LanguageCodePage(0x0FFF), 0);
}

}  // namespace
}  // namespace tarn
