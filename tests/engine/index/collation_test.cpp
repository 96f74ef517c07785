// Collation and case mapping of 8-bit text with and without a language.

#include "engine/index/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/engine_error.h"
#include "engine/base/error_codes.h"
#include "engine/index/language_drivers.h"
#include "engine/index/locale_case_mapper.h"

namespace tarn {
namespace {

constexpr std::uint16_t English = MakeLanguageId(9, 1);  // 1033
constexpr std::uint16_t German = MakeLanguageId(7, 1);   // 1031
constexpr std::uint16_t Russian = MakeLanguageId(25, 1);
constexpr std::uint16_t Polish = MakeLanguageId(21, 1);
constexpr std::uint16_t Greek = MakeLanguageId(8, 1);
constexpr std::uint16_t Turkish = MakeLanguageId(31, 1);

int Collate(std::uint16_t lang, std::uint16_t sort, const std::string& a, const std::string& b,
            bool caseInsensitive = false, std::size_t length = 0) {
  return CompareCollated(lang, sort, a.c_str(), caseInsensitive, length, b.c_str());
}

std::string Upper(std::uint16_t lang, std::string s) {
  UpperCaseLocale(lang, 0, s.data());
  return s;
}

std::string Lower(std::uint16_t lang, std::string s) {
  LowerCaseLocale(lang, 0, s.data());
  return s;
}

// One comparison of a and b and the sign it must give.
struct TCollateCase {
  const char* a;
  const char* b;
  bool caseInsensitive;
  int expected;
};

void ExpectCollations(std::uint16_t lang, std::span<const TCollateCase> cases) {
  for (const TCollateCase& c : cases) {
    EXPECT_EQ(Collate(lang, 0, c.a, c.b, c.caseInsensitive), c.expected)
        << c.a << " vs " << c.b << " ci=" << c.caseInsensitive;
  }
}

TEST(CollationTest, WithoutLanguageComparesBytes) {
  const TCollateCase cases[] = {
      {"abc", "abd", false, -1},
      {"abc", "abc", false, 0},
      {"abc", "ABC", false, 1},  // 'a' 0x61 > 'A' 0x41
      {"abc", "ABC", true, 0},
      {"abc", "ABd", true, -1},
      {"ab", "abc", false, -1},  // the terminator takes part
      {"abc", "ab", true, 1},
      {"\xE4", "\xC4", true, 0},  // code page 1252 upper-cases accented letters
      {"\xE9", "e", true, 1},     // no accent folding: bytes 0xC9 > 'E'
  };
  ExpectCollations(0, cases);
}

TEST(CollationTest, WithoutLanguageExplicitLengthComparesEveryByte) {
  // Over an explicit length even bytes after the terminator count, and only
  // the bytes before each terminator are upper-cased.
  const char a[] = {'a', 0, 'x', 'q'};
  const char b[] = {'A', 0, 'y', 'q'};
  const char c[] = {'A', 0, 'X', 'q'};
  EXPECT_EQ(CompareCollated(0, 0, a, true, 1, b), 0);
  EXPECT_EQ(CompareCollated(0, 0, a, true, 4, b), -1);
  EXPECT_EQ(CompareCollated(0, 0, a, true, 4, c), 1);  // 'x' is not upper-cased
  EXPECT_EQ(CompareCollated(0, 0, a, false, 1, b), 1);
}

TEST(CollationTest, LanguageIgnoresNonSpacingMarksButNotCaseOrPunctuation) {
  const TCollateCase cases[] = {
      {"caf\xE9", "cafe", false, 0},  // café = cafe
      {"r\xE9sum\xE9", "resume", false, 0},
      {"na\xEFve", "naive", true, 0},
      {"abc", "abd", false, -1},
      {"abc", "ABC", false, -1},  // case counts unless ignored
      {"ABC", "abc", false, 1},
      {"abc", "ABC", true, 0},
      {"co-op", "coop", false, -1},  // punctuation is not ignored
      {"co-op", "coop", true, -1},
      {"a b", "ab", false, -1},
      {"", "a", false, -1},
      {"b", "A", true, 1},  // alphabetical, not bytewise
      {"b", "A", false, 1},
  };
  ExpectCollations(English, cases);
}

TEST(CollationTest, LanguageWithLengthStopsAtLengthOrTerminator) {
  EXPECT_EQ(Collate(English, 0, "abcX", "abcY", false, 3), 0);
  EXPECT_EQ(Collate(English, 0, "abcX", "abcY", false, 4), -1);
  const char a[] = {'a', 'b', 0, 'z'};
  const char b[] = {'a', 'b', 0, 'a'};
  EXPECT_EQ(CompareCollated(English, 0, a, false, 4, b), 0);
}

std::vector<std::string> SortedWords(std::uint16_t lang, std::uint16_t sort,
                                     std::vector<std::string> words) {
  std::stable_sort(words.begin(), words.end(), [&](const std::string& a, const std::string& b) {
    return Collate(lang, sort, a, b) < 0;
  });
  return words;
}

TEST(CollationTest, GermanPhoneBookOrderDiffersFromDefaultOrder) {
  // Ä = 0xC4, ö = 0xF6, ü = 0xFC in code page 1252. The phone book reads
  // them as AE, OE, UE; the default order as plain A, O, U.
  const std::vector<std::string> words = {"Arzt",   "\xC4rzte", "Affe", "Adler",
                                          "Goethe", "G\xF6tz",  "Gott"};
  EXPECT_EQ(
      SortedWords(German, DefaultSortId, words),
      (std::vector<std::string>{"Adler", "Affe", "Arzt", "\xC4rzte", "Goethe", "Gott", "G\xF6tz"}));
  EXPECT_EQ(
      SortedWords(German, PhoneBookSortId, words),
      (std::vector<std::string>{"Adler", "\xC4rzte", "Affe", "Arzt", "Goethe", "G\xF6tz", "Gott"}));
  EXPECT_EQ(Collate(German, PhoneBookSortId, "M\xFCller", "Mueller"), 0);
  EXPECT_GT(Collate(German, DefaultSortId, "M\xFCller", "Mueller"), 0);
}

TEST(CollationTest, EightBitTextIsDecodedWithTheLanguagesCodePage) {
  // The same bytes mean different letters under different code pages.
  // cp1251: 0xE0 'а' < 0xE1 'б' < 0xFF 'я'; Russian upper-cases them.
  EXPECT_LT(Collate(Russian, 0, "\xE0", "\xE1"), 0);
  EXPECT_LT(Collate(Russian, 0, "\xE1", "\xFF"), 0);
  EXPECT_EQ(Collate(Russian, 0, "\xE0\xE1", "\xC0\xC1", true), 0);
  // cp1250: 0xB9 'ą' sorts between 'a' and 'b' in Polish.
  EXPECT_LT(Collate(Polish, 0, "a", "\xB9"), 0);
  EXPECT_LT(Collate(Polish, 0, "\xB9", "b"), 0);
}

TEST(CollationTest, CaseMappingUsesTheCodePage) {
  struct Case {
    std::uint16_t lang;
    const char* text;
    const char* upper;
    const char* lower;  // of upper
  };
  const Case cases[] = {
      // Language 0 and Western: ÿ (0xFF) has its capital Ÿ at 0x9F; ß stays.
      {0, "abc\xE4\xF6\xFC\xFF\xDF", "ABC\xC4\xD6\xDC\x9F\xDF", "abc\xE4\xF6\xFC\xFF\xDF"},
      {English, "Hello \xE9t\xE9", "HELLO \xC9T\xC9", "hello \xE9t\xE9"},
      {Russian, "\xEF\xF0\xE8\xE2\xE5\xF2", "\xCF\xD0\xC8\xC2\xC5\xD2",
       "\xEF\xF0\xE8\xE2\xE5\xF2"},                              // привет
      {Polish, "\xB9\xE6\xEA", "\xA5\xC6\xCA", "\xB9\xE6\xEA"},  // ąćę
      {Greek, "\xE1\xE2\xE3", "\xC1\xC2\xC3", "\xE1\xE2\xE3"},   // αβγ
      {Turkish, "i\xFD\xDD", "II\xDD", "iii"},  // i, dotless ı, dotted İ: simple mapping
      {0, "12-_!", "12-_!", "12-_!"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Upper(c.lang, c.text), c.upper) << c.text;
    EXPECT_EQ(Lower(c.lang, c.upper), c.lower) << c.upper;
  }
}

TEST(CollationTest, BoundedCaseMappingStopsAtTerminatorAndEnd) {
  std::uint8_t buf[] = {'a', 'b', 0, 'c', 'd'};
  UpperCaseLocale(0, 0, std::span<std::uint8_t>(buf, 5));
  EXPECT_EQ(buf[1], 'B');
  EXPECT_EQ(buf[3], 'c');
  std::uint8_t full[] = {'a', 'b', 'c'};
  UpperCaseLocale(English, 0, std::span<std::uint8_t>(full, 2));
  EXPECT_EQ(full[1], 'B');
  EXPECT_EQ(full[2], 'c');
}

TEST(CollationTest, LocaleCaseMapperConvertsFieldValues) {
  const TLocaleCaseMapper russian(Russian, 0);
  std::string text = "\xEF\xF0\xE8 ab";
  russian.Convert(text, TCharCase::Upper);
  EXPECT_EQ(text, "\xCF\xD0\xC8 AB");
  russian.Convert(text, TCharCase::Lower);
  EXPECT_EQ(text, "\xEF\xF0\xE8 ab");
  russian.Convert(text, TCharCase::AsGiven);
  EXPECT_EQ(text, "\xEF\xF0\xE8 ab");
  const TLocaleCaseMapper none(0, 0);
  std::string western =
      "stra\xDF"
      "e \xE9";
  none.Convert(western, TCharCase::Upper);
  EXPECT_EQ(western,
            "STRA\xDF"
            "E \xC9");
}

TEST(CollationTest, CompareCharFollowsCollationWithLanguage) {
  EXPECT_EQ(CompareChar(0, 0, 'a', 'A'), 0);  // upper-cased bytes
  EXPECT_EQ(CompareChar(0, 0, 'a', 'b'), -1);
  EXPECT_EQ(CompareChar(0, 0, '_', 'a'), 1);  // '_' 0x5F > 'A' 0x41
  EXPECT_NE(CompareChar(English, 0, 'a', 'A'), 0);
  EXPECT_EQ(CompareChar(English, 0, 'e', 0xE9), 0);
  EXPECT_EQ(CompareChar(English, 0, '_', 'a'), -1);
  EXPECT_EQ(CompareChar(English, 0, 'z', 'a'), 1);
}

TEST(CollationTest, UnusableLanguageSortsFirstAndLeavesTextAlone) {
  constexpr std::uint16_t unknown = 0x0FFF;
  EXPECT_FALSE(IsValidLocale(unknown, 0));
  EXPECT_FALSE(IsValidLocale(English, 1));  // only German has sort id 1
  EXPECT_EQ(Collate(unknown, 0, "b", "a"), -1);
  EXPECT_EQ(Collate(English, 1, "b", "a"), -1);
  EXPECT_EQ(Upper(unknown, "abc"), "abc");
}

TEST(CollationTest, EveryListedLanguageIsValidAndGermanHasPhoneBook) {
  for (const TLanguageEntry& entry : LanguageNames()) {
    EXPECT_TRUE(IsValidLocale(entry.LanguageId, 0)) << entry.Name;
  }
  for (std::uint16_t sub = 1; sub <= 5; ++sub) {
    EXPECT_TRUE(IsValidLocale(MakeLanguageId(7, sub), 1));
  }
  EXPECT_FALSE(IsValidLocale(MakeLanguageId(7, 1), 2));
}

TEST(CollationTest, CheckLanguageDriverRaisesForMissingLocale) {
  EXPECT_NO_THROW(CheckLanguageDriver(German, 1, "people"));
  EXPECT_NO_THROW(CheckLanguageDriver(0, 0, "people"));
  try {
    CheckLanguageDriver(English, 1, "people");
    FAIL() << "expected an engine error";
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_CANNOTLOADLDDRV);
    EXPECT_NE(std::string(e.what()).find("people"), std::string::npos) << e.what();
  }
}

TEST(CollationTest, DriversAreSharedAndSafeAcrossThreads) {
  EXPECT_EQ(GetLocaleDriver(German, 1), GetLocaleDriver(German, 1));
  EXPECT_NE(GetLocaleDriver(German, 0), GetLocaleDriver(German, 1));
  // First use of a language from several threads at once, then concurrent
  // comparisons on the shared collators.
  constexpr std::uint16_t French = MakeLanguageId(12, 1);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (Collate(French, 0, "\xE9t\xE9", "ete") != 0) ++wrong;
        if (Collate(French, 0, "abc", "abd") != -1) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(CollationTest, LongStringsBeyondTheStackBufferStillCompare) {
  std::string a(TLocaleDriver::StackChars + 10, 'a');
  std::string b = a;
  b.back() = 'b';
  EXPECT_EQ(Collate(English, 0, a, b), -1);
  EXPECT_EQ(Collate(English, 0, a, a), 0);
}

}  // namespace
}  // namespace tarn
