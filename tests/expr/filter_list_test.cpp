// Filters over a real table: bitmaps from index ranges and from record
// reads, the options, the filter limit, bitmap upkeep, and a randomized
// comparison of the optimised build with plain evaluation.

#include "expr/filter_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>

#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/index/collation.h"
#include "expr/expression_parser.h"
#include "expr/filter_optimizer.h"
#include "expr/filter_preparer.h"
#include "expr/filter_test_table.h"

namespace {

using namespace tarn;
using exptest::TFilterTable;
using exptest::TItem;

// The record numbers whose bit is set.
std::vector<std::uint32_t> SetBits(const TRecordsBitmap& bitmap) {
  std::vector<std::uint32_t> bits;
  std::uint32_t position = 0;
  while (bitmap.NextSet(position)) bits.push_back(position);
  return bits;
}

// The record numbers of the active records that pass text, each record read
// and its prepared tree evaluated on it.
std::vector<std::uint32_t> Evaluated(TFilterTable& table, const std::string& text, const TFilterOptions& options = {}) {
  TExpressionParser parser(TARN_INVALIDFILTER, "Items");
  TExpTokenPtr root = PrepareFilterTree(*parser.ParseFilter(text, table), options, table);
  TExpEvaluator evaluator(*root, table);
  std::vector<std::uint32_t> passing;
  for (std::uint32_t n = 1; n <= table.HighestRecordNo(); ++n)
    if (table.ReadFilterRecord(n) == TFilterRead::Active && evaluator.Passes()) passing.push_back(n);
  return passing;
}

// The active records among bits.
std::vector<std::uint32_t> ActiveOnly(TFilterTable& table, const std::vector<std::uint32_t>& bits) {
  std::vector<std::uint32_t> active;
  for (std::uint32_t n : bits)
    if (table.ReadFilterRecord(n) == TFilterRead::Active) active.push_back(n);
  return active;
}

class FilterListTest : public ::testing::Test {
 protected:
  // 100 records: names cycling through a few values (one NULL), Amount n % 10
  // (NULL every 7th), Born from 2001-01-01.
  void SetUp() override {
    static const char* const Names[] = {"Smith", "smithers", "Jones", "Smitty", "Brown", ""};
    for (int n = 0; n < 100; ++n) {
      TItem item;
      if (Names[n % 6][0] != 0) item.Name = Names[n % 6];
      if (n % 7 != 3) item.Amount = n % 10;
      item.Born = *EncodeDate(2001, 1, 1) + n;
      item.Code = static_cast<std::int16_t>(n);
      FTable.Insert(item);
    }
  }

  std::vector<std::uint32_t> Filtered(const std::string& text, const TFilterOptions& options = {}) {
    TFilterList filters(FTable);
    TFilter& filter = filters.AddFilter(text, options);
    EXPECT_TRUE(filter.Valid());
    return ActiveOnly(FTable, SetBits(filter.Bitmap()));
  }

  TFilterTable FTable;
};

TEST_F(FilterListTest, IndexedAndScannedBuildsAgreeWithEvaluation) {
  for (const char* text :
       {"Amount = 5", "Amount <> 5", "Amount > 5", "Amount >= 5", "Amount < 5", "Amount <= 5", "Amount = NULL",
        "Amount <> NULL", "5 < Amount", "Amount BETWEEN 2 AND 4", "Amount NOT BETWEEN 2 AND 4", "Amount IN (1, 3, 9)",
        "Amount NOT IN (1, 3)", "Name = 'Smith'", "Name > 'Smith'", "Name < 'Smith'", "Name <= 'Jones'",
        "Name = 'Smi*'", "Name LIKE 'Smi%'", "Name LIKE 'S_ith'", "UPPER(Name) = 'SMITH'", "UPPER(Name) = 'Smith'",
        "Amount = 5 AND Name = 'Jones'", "Amount = 5 OR Name = 'Jones'", "Amount = 5 OR Code > 50",
        "NOT (Amount = 5)", "Amount > 2 AND Code < 40", "Born >= '2001-03-01'", "Born = '2001-01-05'",
        "Amount = 7.5", "Amount < 7.5", "Code = 12", "Amount + 1 = 6", "Name = ''"}) {
    EXPECT_EQ(Filtered(text), Evaluated(FTable, text)) << text;
  }
}

TEST_F(FilterListTest, IndexedEqualityReadsOnlyItsKeys) {
  TFilterList filters(FTable);
  FTable.ResetCounters();
  TFilter& filter = filters.AddFilter("Amount = 5", {});
  EXPECT_EQ(filter.Level(), TOptimizeLevel::Full);
  EXPECT_EQ(FTable.RecordReads(), 0);
  EXPECT_EQ(FTable.KeysCollected(), 9);  // 5, 15, ... 95 but not 45 (NULL)
  EXPECT_EQ(filter.Bitmap().CountSet(), 9u);

  FTable.ResetCounters();
  TFilter& scanned = filters.AddFilter("Code = 5", {});
  EXPECT_EQ(scanned.Level(), TOptimizeLevel::None);
  EXPECT_EQ(FTable.RecordReads(), 100);
  EXPECT_EQ(FTable.KeysCollected(), 0);
}

TEST_F(FilterListTest, PartialComparisonsAndTheirOptions) {
  // Smith, Smitty (not smithers: case counts)
  EXPECT_EQ(Filtered("Name = 'Smi*'").size(), 34u);
  TFilterOptions noPartial;
  noPartial.NoPartialCompare = true;
  EXPECT_TRUE(Filtered("Name = 'Smi*'", noPartial).empty());
  TFilterOptions caseless;
  caseless.CaseInsensitive = true;
  EXPECT_EQ(Filtered("Name = 'smi*'", caseless).size(), 51u);
  EXPECT_EQ(Filtered("Name = 'SMITH'", caseless).size(), 17u);
  // LIKE ignores case without a language; 'Smi%' becomes a partial comparison
  EXPECT_EQ(Filtered("Name LIKE 'smi%'").size(), 51u);
  TFilterList filters(FTable);
  EXPECT_EQ(filters.AddFilter("Name LIKE 'Smi%'", {}).Level(), TOptimizeLevel::Full);
  EXPECT_EQ(filters.AddFilter("Name LIKE 'S_ith'", {}).Level(), TOptimizeLevel::None);
}

TEST_F(FilterListTest, ComplementReadsTheSmallerSide) {
  TFilterTable table;
  for (int n = 0; n < 1000; ++n) table.Insert(TItem{.Amount = n < 900 ? 1 : 2});
  TFilterOptions counting;
  counting.Counting = true;
  TFilterOptions complement = counting;
  complement.Complement = true;
  for (const auto& [options, keys] : {std::pair{counting, 900}, std::pair{complement, 100}}) {
    TFilterList filters(table);
    table.ResetCounters();
    TFilter& filter = filters.AddFilter("Amount = 1", options);
    EXPECT_EQ(table.KeysCollected(), keys);
    EXPECT_EQ(filter.Bitmap().CountSet(), 900u);
    EXPECT_EQ(table.RecordReads(), 0);
  }
}

TEST_F(FilterListTest, CountingPrefersReadingRecordsWhenRangesAreLarge) {
  TFilterOptions counting;
  counting.Counting = true;
  TFilterList filters(FTable);
  FTable.ResetCounters();
  // The small range is read from the index; the large one is then cheaper to
  // test on the few candidate records left.
  TFilter& filter = filters.AddFilter("Amount = 5 AND Name >= 'A'", counting);
  EXPECT_EQ(FTable.KeysCollected(), 9);
  EXPECT_EQ(FTable.RecordReads(), 9);
  EXPECT_EQ(ActiveOnly(FTable, SetBits(filter.Bitmap())), Evaluated(FTable, "Amount = 5 AND Name >= 'A'"));
}

TEST_F(FilterListTest, SixtyFiveFiltersFailWithTheLimitCode) {
  TFilterList filters(FTable);
  for (int i = 0; i < 64; ++i) filters.AddFilter("Amount = " + std::to_string(i % 10), {});
  try {
    filters.AddFilter("Amount = 1", {});
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), TARN_INTERNALLIMIT);
    EXPECT_EQ(std::string(e.what()), "Tarn Engine Error # 9482 Too many filters defined for the table 'Items'");
  }
  EXPECT_EQ(filters.Count(), 64u);
}

TEST_F(FilterListTest, BadFiltersAddNothing) {
  TFilterList filters(FTable);
  filters.AddFilter("Amount = 1", {});
  for (const char* text : {"", "  ", "Amount +", "Amount + 1", "Nobody = 1"}) {
    try {
      filters.AddFilter(text, {});
      FAIL() << text;
    } catch (const ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), TARN_INVALIDFILTER) << text;
    }
  }
  EXPECT_THROW(filters.AddFilter(TFilterCallback{}, {}), ETarnEngineError);
  EXPECT_THROW(filters.AddFilter(TExpTokenPtr{}, {}), ETarnEngineError);
  EXPECT_EQ(filters.Count(), 1u);
}

TEST_F(FilterListTest, LastInOrderFiltersStayAtTheEnd) {
  TFilterList filters(FTable);
  TFilterOptions last;
  last.LastInOrder = true;
  TFilter& callback = filters.AddFilter(
      [](std::uint32_t, TExpRecordSource& source) {
        const std::optional<TExpColumn> code = source.FindColumn("Code");
        return !source.ReadField(code->FieldNo).Blank && source.ReadField(code->FieldNo).Bytes[0] % 2 == 0;
      },
      last);
  TFilter& first = filters.AddFilter("Amount = 4", {});
  TFilter& second = filters.AddFilter("Name = 'Jones'", {});
  EXPECT_EQ(&filters[0], &first);
  EXPECT_EQ(&filters[1], &second);
  EXPECT_EQ(&filters[2], &callback);
  EXPECT_EQ(callback.Bitmap().CountSet(), 50u);
  // Amount 4, Jones and an even Code: n % 10 == 4 and n % 6 == 2 -> n = 14, 44, 74
  std::vector<std::uint32_t> passing;
  for (std::uint32_t n = 1; n <= FTable.HighestRecordNo(); ++n)
    if (filters.RecordPasses(n)) passing.push_back(n);
  EXPECT_EQ(passing, (std::vector<std::uint32_t>{15, 45, 75}));
  filters.DropFilter(second);
  EXPECT_EQ(filters.Count(), 2u);
}

TEST_F(FilterListTest, BitmapsFollowInsertsChangesAndDeletes) {
  TFilterList filters(FTable);
  TFilter& filter = filters.AddFilter("Amount = 5 AND Name = 'Smith'", {});
  const std::size_t before = filter.Bitmap().CountSet();
  // A passing and a failing insert, beyond the bitmap's end.
  const std::uint32_t passing = FTable.Insert(TItem{.Name = "Smith", .Amount = 5});
  filters.FilterRecordAdded(passing);
  const std::uint32_t failing = FTable.Insert(TItem{.Name = "Smith", .Amount = 6});
  filters.FilterRecordAdded(failing);
  EXPECT_TRUE(filter.Passes(passing));
  EXPECT_FALSE(filter.Passes(failing));
  EXPECT_EQ(filter.Bitmap().CountSet(), before + 1);
  // Changes in both directions.
  FTable.Update(failing, TItem{.Name = "Smith", .Amount = 5});
  filters.FilterRecordChanged(failing);
  FTable.Update(passing, TItem{.Name = "Jones", .Amount = 5});
  filters.FilterRecordChanged(passing);
  EXPECT_TRUE(filter.Passes(failing));
  EXPECT_FALSE(filter.Passes(passing));
  // A delete clears the bit; a rebuild agrees with the upkeep.
  FTable.Delete(failing);
  filters.FilterRecordDeleted(failing);
  EXPECT_FALSE(filter.Passes(failing));
  const std::vector<std::uint32_t> kept = ActiveOnly(FTable, SetBits(filter.Bitmap()));
  ASSERT_TRUE(filters.RebuildFilter(filter));
  EXPECT_EQ(ActiveOnly(FTable, SetBits(filter.Bitmap())), kept);
  EXPECT_EQ(kept, Evaluated(FTable, "Amount = 5 AND Name = 'Smith'"));
}

TEST(FilterText, TextSearchReadsWordKeysOnly) {
  TFilterTable table;
  static const char* const Titles[] = {"The quiz of the year", "Quizzes for all", "A year of music", "",
                                       "music quiz night", "QUIZ"};
  for (int n = 0; n < 60; ++n) {
    TItem item;
    if (Titles[n % 6][0] != 0) item.Title = Titles[n % 6];
    table.Insert(item);
  }
  for (const char* text :
       {"TEXTSEARCH('quiz' IN Title)", "TEXTSEARCH('QUIZ music' IN Title)", "TEXTSEARCH('quiz*' IN Title)",
        "TEXTSEARCH('year of' IN Title)", "TEXTSEARCH('nothing' IN Title)",
        // prefixes whose only matches are stop words, which the index leaves out
        "TEXTSEARCH('th*' IN Title)", "TEXTSEARCH('o* music' IN Title)",
        "TEXTSEARCH('quiz' IN Title) AND NOT TEXTSEARCH('night' IN Title)"}) {
    TFilterList filters(table);
    table.ResetCounters();
    TFilter& filter = filters.AddFilter(text, {});
    EXPECT_EQ(filter.Level(), TOptimizeLevel::Full) << text;
    EXPECT_EQ(table.RecordReads(), 0) << text;
    EXPECT_EQ(ActiveOnly(table, SetBits(filter.Bitmap())), Evaluated(table, text)) << text;
  }
  // Only stop words: every record passes, as when each record is tested.
  TFilterList filters(table);
  EXPECT_EQ(filters.AddFilter("TEXTSEARCH('the of' IN Title)", {}).Bitmap().CountSet(), 60u);
}

// Bounds over descending indexes (both kinds, with and without a language):
// the values at either end, empty ranges, NULL keys (which sort after every
// value here), prefixes, IN and BETWEEN. Each is read from the index alone,
// equals plain evaluation, and its counted estimate is its record count.
TEST(FilterDescending, RangesAtTheEndsOfDescendingIndexes) {
  std::vector<std::int16_t> languages{0};
  if (IsValidLocale(1033, 0)) languages.push_back(1033);
  static const char* const Names[] = {"Ann", "ann", "Bob", "Zed", "Smith", "smithers", ""};
  struct TCase {
    const char* Text;
    bool CaseInsensitive;
    // a case-sensitive prefix, which a collation cannot bound
    bool ByRecordsWithLanguage = false;
  };
  static const TCase Cases[] = {
      // Amount: Descending index; the extremes are stored once each
      {"Amount >= 2147483647", false}, {"Amount > 2147483646", false}, {"Amount > 2147483647", false},
      {"Amount <= -2147483647", false}, {"Amount < -2147483646", false}, {"Amount < -2147483647", false},
      {"Amount = 0", false}, {"Amount <> 0", false}, {"Amount < 0", false}, {"Amount >= 0", false},
      {"Amount = NULL", false}, {"Amount <> NULL", false}, {"Amount BETWEEN -1 AND 1", false},
      {"Amount BETWEEN 1 AND -1", false}, {"Amount IN (-3, 3, 9)", false}, {"Amount NOT IN (0, 1)", false},
      // Born: its key field descends in an ascending index
      {"Born > '2000-01-10'", false}, {"Born <= '2000-01-10'", false}, {"Born < '2000-01-01'", false},
      {"Born >= '2000-01-01'", false}, {"Born BETWEEN '2000-01-03' AND '2000-01-07'", false},
      {"Born = NULL", false}, {"Born <> NULL", false}, {"Born IN ('2000-01-02', '2000-01-30')", false},
      // Code: a Descending index whose field descends as well
      {"Code > 0", false}, {"Code <= -1", false}, {"Code = NULL", false}, {"Code BETWEEN -2 AND 0", false},
      // Name: Descending index; NULL names compare as the empty string
      {"Name < 'Bob'", false}, {"Name <= 'Ann'", false}, {"Name > 'Smith'", false}, {"Name >= 'Zed'", false},
      {"Name = 'Smi*'", false, true}, {"Name <> 'Bob'", false}, {"Name = NULL", false},
      // UPPER(Name) and the case-insensitive option: ascending index, Name descends
      {"UPPER(Name) < 'BOB'", false}, {"UPPER(Name) >= 'SMITH'", false}, {"UPPER(Name) > 'ZED'", false},
      {"Name = 'smi*'", true}, {"Name <> 'a*'", true}, {"Name = 'ann'", true}};
  for (std::int16_t language : languages) {
    TFilterTable table(language, false, true);
    for (int n = 0; n < 70; ++n) {
      TItem item;
      if (Names[n % 7][0] != 0) item.Name = Names[n % 7];
      if (n % 5 != 2) item.Amount = n % 7 - 3;
      if (n == 10) item.Amount = 2147483647;
      if (n == 11) item.Amount = -2147483647;
      if (n % 4 != 1) item.Born = *EncodeDate(2000, 1, 1) + n % 12;
      if (n % 9 != 4) item.Code = static_cast<std::int16_t>(n % 5 - 2);
      table.Insert(item);
    }
    for (const TCase& c : Cases) {
      SCOPED_TRACE(std::string(c.Text) + " language " + std::to_string(language));
      TFilterOptions options;
      options.CaseInsensitive = c.CaseInsensitive;
      const std::vector<std::uint32_t> expected = Evaluated(table, c.Text, options);
      const bool indexed = language == 0 || !c.ByRecordsWithLanguage;
      for (bool counting : {false, true}) {
        options.Counting = counting;
        options.Complement = counting && language == 0;
        TFilterList filters(table);
        table.ResetCounters();
        TFilter& filter = filters.AddFilter(c.Text, options);
        EXPECT_EQ(filter.Level(), indexed ? TOptimizeLevel::Full : TOptimizeLevel::None);
        EXPECT_EQ(table.RecordReads() == 0, indexed);
        EXPECT_EQ(SetBits(filter.Bitmap()), expected);
      }
      if (!indexed) continue;
      TExpressionParser parser(TARN_INVALIDFILTER, "Items");
      TExpTokenPtr root = PrepareFilterTree(*parser.ParseFilter(c.Text, table), options, table);
      TFilter unused;
      TFilterOptimizer optimizer(table, options, unused);
      optimizer.Analyse(*root);
      EXPECT_EQ(optimizer.EstimateOf(*root), static_cast<std::int64_t>(expected.size()));
    }
  }
}

// Random tables and random filters from a small grammar: the bitmap of the
// optimised build equals record-by-record evaluation, with and without the
// counting and complement options, for every level the filters reach, over
// ascending and over descending indexes.
TEST(FilterModel, OptimisedBitmapsEqualEvaluation) {
  std::mt19937 random(151210);
  std::vector<std::int16_t> languages{0};
  if (IsValidLocale(1033, 0)) languages.push_back(1033);
  const std::vector<std::string> names{"Ann", "ann", "Anna", "Bob", "bo", "Zed", "Éva", "Smith", "Smi"};
  std::set<TOptimizeLevel> levels;
  std::set<std::int16_t> descendingUsed;  // languages whose descending tables answered filters by index
  for (std::int16_t language : languages) {
    for (int round = 0; round < 12; ++round) {
      const bool descending = round >= 6;
      TFilterTable table(language, round % 6 == 5, descending);
      const int count = 40 + static_cast<int>(random() % 120);
      for (int i = 0; i < count; ++i) {
        TItem item;
        if (random() % 5 != 0) item.Name = names[random() % names.size()];
        if (random() % 6 != 0) item.Amount = static_cast<std::int32_t>(random() % 12) - 3;
        if (random() % 4 != 0) item.Born = *EncodeDate(2000, 1, 1) + static_cast<std::int32_t>(random() % 40);
        item.Code = static_cast<std::int16_t>(random() % 5);
        table.Insert(item);
      }
      std::set<std::uint32_t> deleted;
      for (int i = 0; i < count / 10; ++i)
        if (const std::uint32_t n = 1 + static_cast<std::uint32_t>(random() % count); deleted.insert(n).second)
          table.Delete(n);

      const auto condition = [&]() -> std::string {
        static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
        const std::string op = Ops[random() % 6];
        switch (random() % 14) {
          case 0: return "Amount " + op + " " + std::to_string(static_cast<int>(random() % 12) - 3);
          case 1: return "Name " + op + " '" + names[random() % names.size()] + "'";
          case 2: return "Born " + op + " '2000-01-" + std::to_string(1 + random() % 28) + "'";
          case 3: return "Code " + op + " " + std::to_string(random() % 5);
          case 4: return "Name = '" + names[random() % names.size()].substr(0, 2) + "*'";
          case 5: return "Name LIKE '" + names[random() % names.size()].substr(0, 1 + random() % 2) + "%'";
          case 6: return "Amount BETWEEN " + std::to_string(random() % 5) + " AND " + std::to_string(random() % 9);
          case 7: return "Amount IN (" + std::to_string(random() % 5) + ", " + std::to_string(random() % 9) + ")";
          case 8: return "Code BETWEEN " + std::to_string(random() % 5) + " AND " + std::to_string(random() % 5);
          case 9: {
            const std::string first = "'2000-01-" + std::to_string(1 + random() % 28) + "'";
            const std::string second = "'2000-01-" + std::to_string(1 + random() % 28) + "'";
            return random() % 2 ? "Born IN (" + first + ", " + second + ")"
                                : "Born BETWEEN " + first + " AND " + second;
          }
          case 10: return "Name IN ('" + names[random() % names.size()] + "', '" + names[random() % names.size()] + "')";
          case 11: return std::string(random() % 2 ? "Name " : "Born ") + (random() % 2 ? "IS NULL" : "IS NOT NULL");
          case 12: {
            std::string upper = names[random() % names.size()];
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return "UPPER(Name) " + op + " '" + upper + "'";
          }
          default: return std::string("Amount ") + (random() % 2 ? "IS NULL" : "IS NOT NULL");
        }
      };
      for (int f = 0; f < 40; ++f) {
        std::string text = condition();
        if (random() % 2) text = "(" + text + (random() % 2 ? ") AND (" : ") OR (") + condition() + ")";
        if (random() % 4 == 0) text = "NOT (" + text + ")";
        std::vector<std::uint32_t> expected;
        for (int mode = 0; mode < 8; ++mode) {
          TFilterOptions options;
          options.Counting = (mode & 1) != 0;
          options.Complement = (mode & 2) != 0;
          options.CaseInsensitive = (mode & 4) != 0;
          if (mode == 0 || mode == 4) expected = Evaluated(table, text, options);
          TFilterList filters(table);
          TFilter& filter = filters.AddFilter(text, options);
          levels.insert(filter.Level());
          if (descending && filter.Level() == TOptimizeLevel::Full) descendingUsed.insert(language);
          std::vector<std::uint32_t> got = SetBits(filter.Bitmap());
          std::erase_if(got, [&](std::uint32_t n) { return deleted.count(n) != 0; });
          ASSERT_EQ(got, expected) << text << " language " << language << " mode " << mode
                                   << (descending ? " descending" : "");
        }
      }
    }
  }
  EXPECT_EQ(levels.size(), 3u);
  EXPECT_EQ(descendingUsed.size(), languages.size());
}

}  // namespace
