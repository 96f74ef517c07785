// Filters through the real cursor: the records navigation visits, the record
// counts and sequence numbers of a filtered view against the same expression
// evaluated record by record; activation, dropping, the filter limit, bad
// expressions, callbacks, and bitmaps that follow other writers' changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cursor_fixture.h"
#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/base/engine_error.h"
#include "engine/base/names.h"
#include "engine/index/collation.h"
#include "engine/index/keys.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "expr/expression_evaluator.h"
#include "expr/expression_parser.h"
#include "expr/filter_preparer.h"
#include "modify_fixture.h"

namespace {

using namespace tarn;
using cursor_testing::TCursorFixture;
using cursor_testing::TTableWriter;

// Field values of one record of "Mix"; nothing = NULL.
struct TMixRow {
  std::int32_t Id = 0;
  std::optional<std::string> Name{};
  std::optional<std::int32_t> Amount{};
  std::optional<std::int16_t> Score{};
  std::optional<double> Ratio{};
  std::optional<std::int32_t> Born{};  // day number
  std::optional<bool> Flag{};
};

// Table "Mix":
//   1 Id int32 (primary)   2 Name string 10      3 Amount int32
//   4 Score int16          5 Ratio float          6 Born date     7 Flag boolean
// Indexes: 1 ByName (Name), 2 ByNameCI (Name, case-insensitive),
// 3 ByAmount (Amount), 4 ByBorn (Born), 5 ByScoreDesc (Score, descending).
TIndexDescriptor Index(const char* name, std::int16_t field, const std::vector<TFieldDesc>& defs,
                       bool unique) {
  TIndexDescriptor d;
  d.IndexName = name;
  d.Unique = unique;
  d.FieldCount = 1;
  d.FieldNumbers[0] = field;
  const TFieldDesc& def = defs[static_cast<std::size_t>(field - 1)];
  d.KeySize = static_cast<std::int16_t>(KeyFieldSize(def.FieldType(), def.FieldSize()) + 1 +
                                        (unique ? 0 : KeyLimits::AutoIncSize));
  return d;
}

TTableDefinition MixDefinition(std::uint16_t languageId, bool noCounts) {
  TTableDefinition def;
  def.LanguageId = static_cast<std::int16_t>(languageId);
  def.Fields.push_back(MakeFieldDesc(1, "Id", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 10));
  def.Fields.push_back(MakeFieldDesc(3, "Amount", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(4, "Score", FieldType::Int16));
  def.Fields.push_back(MakeFieldDesc(5, "Ratio", FieldType::Float));
  def.Fields.push_back(MakeFieldDesc(6, "Born", FieldType::Date));
  def.Fields.push_back(MakeFieldDesc(7, "Flag", FieldType::Boolean));
  AssignFieldOffsets(def.Fields);
  def.Primary = Index("", 1, def.Fields, true);
  TIndexDescriptor byNameCI = Index("ByNameCI", 2, def.Fields, false);
  byNameCI.CaseInsensitive = true;
  TIndexDescriptor byScore = Index("ByScoreDesc", 4, def.Fields, false);
  byScore.Descending = true;
  def.Secondary = {Index("ByName", 2, def.Fields, false), byNameCI,
                   Index("ByAmount", 3, def.Fields, false), Index("ByBorn", 6, def.Fields, false),
                   byScore};
  def.Primary.NoCounts = noCounts;
  for (TIndexDescriptor& d : def.Secondary) d.NoCounts = noCounts;
  return def;
}

std::vector<std::uint8_t> MixImage(std::span<const TFieldDesc> defs, std::uint16_t recordSize,
                                   const TMixRow& row) {
  std::vector<std::uint8_t> image(recordSize, 0);
  std::array<std::uint8_t, 8> b{};
  const auto store = [&](int i, std::size_t size, bool present) {
    if (present)
      SetFieldValue(image, defs[static_cast<std::size_t>(i)],
                    std::span<const std::uint8_t>(b.data(), size));
    else
      SetFieldValue(image, defs[static_cast<std::size_t>(i)], std::nullopt);
  };
  PutLEI32(b, 0, row.Id);
  store(0, 4, true);
  if (row.Name)
    SetFieldValue(
        image, defs[1],
        std::span(reinterpret_cast<const std::uint8_t*>(row.Name->data()), row.Name->size()));
  else
    SetFieldValue(image, defs[1], std::nullopt);
  PutLEI32(b, 0, row.Amount.value_or(0));
  store(2, 4, row.Amount.has_value());
  PutLEI16(b, 0, row.Score.value_or(0));
  store(3, 2, row.Score.has_value());
  PutLEDouble(b, 0, row.Ratio.value_or(0));
  store(4, 8, row.Ratio.has_value());
  PutLEI32(b, 0, row.Born.value_or(0));
  store(5, 4, row.Born.has_value());
  PutLE16(b, 0, row.Flag.value_or(false) ? 1 : 0);
  store(6, 2, row.Flag.has_value());
  return image;
}

// Evaluation of a filter on record images held by the test: the oracle.
class TImageSource : public TExpRecordSource {
 public:
  TImageSource(std::vector<TFieldDesc> defs, std::uint16_t languageId)
      : FDefs(std::move(defs)), FLanguageId(languageId) {}
  void Use(const std::vector<std::uint8_t>& image) { FImage = &image; }

  std::optional<TExpColumn> FindColumn(std::string_view name) const override {
    for (const TFieldDesc& d : FDefs)
      if (SameName(d.FieldName(), name))
        return TExpColumn{d.FieldNo(), d.FieldType(), d.FieldSubType(), d.FieldSize(),
                          d.FieldDecimals()};
    return std::nullopt;
  }
  std::uint16_t LanguageId() const override { return FLanguageId; }
  std::uint16_t SortId() const override { return 0; }
  TFieldRead ReadField(std::uint16_t fieldNo) override {
    return GetFieldValue(*FImage, FDefs[fieldNo - 1u]);
  }
  bool ReadBlob(std::uint16_t, std::string& content) override {
    content.clear();
    return false;
  }
  std::optional<std::int32_t> LastAutoInc(std::string_view) override { return std::nullopt; }

 private:
  std::vector<TFieldDesc> FDefs;
  std::uint16_t FLanguageId;
  const std::vector<std::uint8_t>* FImage = nullptr;
};

class CursorFilterTest : public TCursorFixture {
 protected:
  // Creates "Mix" and fills it with count random rows (NULLs and duplicates
  // in every field but Id), then deletes about a tenth of them.
  void CreateMix(std::mt19937& random, int count, std::uint16_t languageId = 0,
                 bool noCounts = false) {
    FLanguageId = languageId;
    TDataTable& created =
        FDir.CreateTable(FTableName, false, false, MixDefinition(languageId, noCounts));
    FDir.ReleaseTable(created, false);
    std::vector<TMixRow> rows;
    for (int i = 0; i < count; ++i) rows.push_back(RandomRow(random, i));
    Append(rows);
    TDataTable& table = FDir.OpenTable(FTableName, {});
    TTableWriter writer(table);
    for (int i = 0; i < count / 10; ++i) {
      const auto n = static_cast<std::int32_t>(1 + random() % static_cast<unsigned>(count));
      if (FImages[static_cast<std::size_t>(n)]) {
        writer.Delete(n);
        FImages[static_cast<std::size_t>(n)].reset();
      }
    }
    FDir.ReleaseTable(table, false);
  }

  TMixRow RandomRow(std::mt19937& random, int i) {
    static const char* const Names[] = {"ab", "Ab",    "abc",   "AB",  "b",
                                        "ba", "Smith", "smith", "Smi*"};
    TMixRow row;
    row.Id = i * 3 + 1;
    if (random() % 6 != 0) row.Name = Names[random() % 9];
    if (random() % 6 != 0) row.Amount = static_cast<std::int32_t>(random() % 10) - 3;
    if (random() % 5 != 0)
      row.Score = static_cast<std::int16_t>(static_cast<int>(random() % 11) - 5);
    static const double Ratios[] = {-1.5, 0, 0.5, 2.25, 3};
    if (random() % 5 != 0) row.Ratio = Ratios[random() % 5];
    if (random() % 4 != 0)
      row.Born = *EncodeDate(2001, 1, 1) + static_cast<std::int32_t>(random() % 10);
    if (random() % 4 != 0) row.Flag = random() % 2 == 0;
    return row;
  }

  // Appends rows through a writer on the shared table; the model follows.
  void Append(const std::vector<TMixRow>& rows) {
    TDataTable& table = FDir.OpenTable(FTableName, {});
    std::vector<std::vector<std::uint8_t>> images;
    for (const TMixRow& row : rows)
      images.push_back(
          MixImage(table.DataFile().FieldDefs(), table.DataFile().GetRecordSize(), row));
    const std::vector<std::int32_t> numbers = TTableWriter(table).AppendImages(images);
    FDefs.assign(table.DataFile().FieldDefs().begin(), table.DataFile().FieldDefs().end());
    FDir.ReleaseTable(table, false);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      const auto n = static_cast<std::size_t>(numbers[i]);
      if (FImages.size() <= n) FImages.resize(n + 1);
      FImages[n] = images[i];
    }
  }

  std::unique_ptr<TDataCursor> OpenMix(bool unordered = false) {
    auto cursor = std::make_unique<TDataCursor>(FDir);
    cursor->SetTableName(FTableName);
    cursor->SetUnordered(unordered);
    cursor->OpenCursor();
    return cursor;
  }

  // The live records that pass text, each evaluated on its own.
  std::set<std::int32_t> Evaluated(const std::string& text, const TFilterOptions& options) {
    TImageSource source(FDefs, FLanguageId);
    TExpressionParser parser(TARN_INVALIDFILTER, "Mix");
    const TExpTokenPtr root = PrepareFilterTree(*parser.ParseFilter(text, source), options, source);
    TExpEvaluator evaluator(*root, source);
    std::set<std::int32_t> passing;
    for (std::size_t n = 1; n < FImages.size(); ++n) {
      if (!FImages[n]) continue;
      source.Use(*FImages[n]);
      if (evaluator.Passes()) passing.insert(static_cast<std::int32_t>(n));
    }
    return passing;
  }

  std::string FTableName = "Mix";
  std::uint16_t FLanguageId = 0;
  std::vector<TFieldDesc> FDefs;
  // Record images by record number; nothing for a free slot.
  std::vector<std::optional<std::vector<std::uint8_t>>> FImages{1};
};

// The record numbers GetNextRecord visits from the beginning, checking that
// each record read is the model's.
std::vector<std::int32_t> Forward(
    TDataCursor& cursor,
    const std::vector<std::optional<std::vector<std::uint8_t>>>* images = nullptr) {
  std::vector<std::int32_t> visited;
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(buffer) == TARN_NONE) {
    const std::int32_t n = cursor.CurrentRecordNo();
    visited.push_back(n);
    if (images != nullptr) {
      const auto& image = (*images)[static_cast<std::size_t>(n)];
      EXPECT_TRUE(image.has_value()) << "record " << n << " is deleted";
      if (image) {
        EXPECT_TRUE(std::equal(buffer.begin() + RecordLayout::ControlSize, buffer.end(),
                               image->begin() + RecordLayout::ControlSize))
            << "record " << n;
      }
    }
    if (visited.size() > 100000) break;
  }
  return visited;
}

// The record numbers GetPriorRecord visits from the end, in visiting order.
std::vector<std::int32_t> Backward(TDataCursor& cursor) {
  std::vector<std::int32_t> visited;
  cursor.SetToEnd();
  while (cursor.GetPriorRecord() == TARN_NONE) {
    visited.push_back(cursor.CurrentRecordNo());
    if (visited.size() > 100000) break;
  }
  return visited;
}

std::vector<std::int32_t> Keep(const std::vector<std::int32_t>& order,
                               const std::set<std::int32_t>& passing) {
  std::vector<std::int32_t> kept;
  for (std::int32_t n : order)
    if (passing.count(n) != 0) kept.push_back(n);
  return kept;
}

TErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

// A condition of the test grammar: comparisons of every column (either way
// round), IS [NOT] NULL, LIKE, partial comparisons, UPPER, BETWEEN and IN.
std::string Condition(std::mt19937& random) {
  static const char* const Ops[] = {"=", "<>", "<", "<=", ">", ">="};
  static const char* const Names[] = {"ab", "Ab", "abc", "AB", "b", "ba", "Smith", "smith", "zz"};
  static const char* const Columns[] = {"Id", "Name", "Amount", "Score", "Ratio", "Born", "Flag"};
  const std::string op = Ops[random() % 6];
  const auto amount = [&] { return std::to_string(static_cast<int>(random() % 10) - 3); };
  const auto born = [&] { return "'2001-01-0" + std::to_string(1 + random() % 9) + "'"; };
  const auto name = [&] { return "'" + std::string(Names[random() % 9]) + "'"; };
  switch (random() % 16) {
    case 0:
      return "Amount " + op + " " + amount();
    case 1:
      return amount() + " " + op + " Amount";
    case 2:
      return "Name " + op + " " + name();
    case 3:
      return "Born " + op + " " + born();
    case 4:
      return "Score " + op + " " + std::to_string(static_cast<int>(random() % 11) - 5);
    case 5:
      return "Ratio " + op + " " + (random() % 2 ? "0.5" : "2");
    case 6:
      return "Id " + op + " " + std::to_string(random() % 400);
    case 7:
      return std::string(Columns[random() % 7]) + (random() % 2 ? " IS NULL" : " IS NOT NULL");
    case 8:
      return "Name = '" + std::string(Names[random() % 9]).substr(0, 1 + random() % 2) + "*'";
    case 9:
      return "Name LIKE '" + std::string(random() % 2 ? "_b" : "S") + "%'";
    case 10:
      return "Name LIKE '" + std::string(Names[random() % 9]).substr(0, 1) + "%'";
    case 11:
      return "UPPER(Name) = '" + std::string(random() % 2 ? "AB" : "SMITH") + "'";
    case 12:
      return "Amount " + std::string(random() % 3 ? "" : "NOT ") + "BETWEEN " + amount() + " AND " +
             amount();
    case 13:
      return "Amount " + std::string(random() % 3 ? "" : "NOT ") + "IN (" + amount() + ", " +
             amount() + ")";
    case 14:
      return "Born IN (" + born() + ", " + born() + ")";
    default:
      return random() % 2 ? "Flag = TRUE" : "NOT Flag";
  }
}

std::string Expression(std::mt19937& random, int depth) {
  if (depth == 0 || random() % 3 == 0) return Condition(random);
  switch (random() % 4) {
    case 0:
      return "(" + Expression(random, depth - 1) + ") OR (" + Expression(random, depth - 1) + ")";
    case 1:
      return "NOT (" + Expression(random, depth - 1) + ")";
    default:
      return "(" + Expression(random, depth - 1) + ") AND (" + Expression(random, depth - 1) + ")";
  }
}

// For random filters over tables with and without a language and subtree
// counts: index order (forward and back), natural order (with sequence
// numbers), a range, and a switch to another index while the filter is in
// force all visit exactly the records the expression passes, in the order
// of the view without the filter; the record count is theirs.
TEST_F(CursorFilterTest, NavigationVisitsExactlyThePassingRecords) {
  struct TTableCase {
    std::uint16_t LanguageId;
    bool NoCounts;
  };
  std::vector<TTableCase> tables{{0, false}, {0, true}};
  if (IsValidLocale(1033, 0)) tables.push_back({1033, false});
  std::mt19937 random(71011);
  std::set<TOptimizeLevel> levels;
  for (const TTableCase& tableCase : tables) {
    SCOPED_TRACE("language " + std::to_string(tableCase.LanguageId) +
                 (tableCase.NoCounts ? " without counts" : ""));
    FTableName = "Mix" + std::to_string(&tableCase - tables.data());
    FImages.assign(1, std::nullopt);
    CreateMix(random, 140, tableCase.LanguageId, tableCase.NoCounts);
    auto indexed = OpenMix();
    auto natural = OpenMix(true);
    auto plain = OpenMix();  // the order without filters
    const std::vector<std::int32_t> primaryOrder = Forward(*plain, &FImages);
    std::vector<std::int32_t> naturalOrder;
    for (std::size_t n = 1; n < FImages.size(); ++n)
      if (FImages[n]) naturalOrder.push_back(static_cast<std::int32_t>(n));
    ASSERT_EQ(Forward(*natural), naturalOrder);

    for (int round = 0; round < 40; ++round) {
      const std::string text = Expression(random, 2);
      SCOPED_TRACE(text);
      for (int mode = 0; mode < 8; ++mode) {
        TFilterOptions options;
        options.Counting = (mode & 1) != 0;
        options.Complement = (mode & 2) != 0;
        options.CaseInsensitive = (mode & 4) != 0;
        SCOPED_TRACE("options " + std::to_string(mode));
        const std::set<std::int32_t> expected = Evaluated(text, options);

        TFilter& filter = indexed->AddFilter(text, options);
        levels.insert(filter.Level());
        EXPECT_EQ(indexed->GetRecordCount(), static_cast<std::int64_t>(naturalOrder.size()))
            << "an inactive filter hides nothing";
        indexed->ActivateFilter(filter);
        const std::vector<std::int32_t> want = Keep(primaryOrder, expected);
        ASSERT_EQ(Forward(*indexed, &FImages), want);
        std::vector<std::int32_t> back(want.rbegin(), want.rend());
        ASSERT_EQ(Backward(*indexed), back);
        EXPECT_EQ(indexed->GetRecordCount(), static_cast<std::int64_t>(want.size()));
        indexed->DropFilter(filter);
        EXPECT_EQ(indexed->FilterCount(), 0u);
        if (mode % 4 != 0) continue;

        // Natural order: sequence numbers count the visible records.
        TFilter& onNatural = natural->AddFilter(text, options);
        natural->ActivateFilter(onNatural);
        const std::vector<std::int32_t> wantNatural = Keep(naturalOrder, expected);
        ASSERT_EQ(Forward(*natural), wantNatural);
        ASSERT_EQ(Backward(*natural),
                  std::vector<std::int32_t>(wantNatural.rbegin(), wantNatural.rend()));
        EXPECT_EQ(natural->GetRecordCount(), static_cast<std::int64_t>(wantNatural.size()));
        natural->SetToBegin();
        for (std::size_t i = 0; i < wantNatural.size(); ++i) {
          ASSERT_EQ(natural->GetNextRecord(), TARN_NONE);
          ASSERT_EQ(natural->GetSeqNo(), static_cast<std::int64_t>(i + 1));
        }
        if (!wantNatural.empty()) {
          const std::size_t pick = random() % wantNatural.size();
          EXPECT_TRUE(natural->SetToSeqNo(static_cast<std::int64_t>(pick + 1)));
          EXPECT_EQ(natural->CurrentRecordNo(), wantNatural[pick]);
        }
        natural->DeactivateFilter(onNatural);
        EXPECT_EQ(natural->GetRecordCount(), static_cast<std::int64_t>(naturalOrder.size()));
        natural->DropFilter(onNatural);

        // A range on ByAmount, then a switch to ByName with the filter in force.
        const std::vector<std::uint8_t> low =
            MixImage(FDefs, indexed->RecordSize(),
                     TMixRow{.Amount = static_cast<std::int32_t>(random() % 4) - 2});
        const std::vector<std::uint8_t> high =
            MixImage(FDefs, indexed->RecordSize(),
                     TMixRow{.Amount = static_cast<std::int32_t>(random() % 5)});
        plain->SwitchToIndex("ByAmount");
        plain->SetRange(low, 1, high, 1, false);
        indexed->SwitchToIndex("ByAmount");
        indexed->SetRange(low, 1, high, 1, false);
        TFilter& ranged = indexed->AddFilter(text, options);
        indexed->ActivateFilter(ranged);
        const std::vector<std::int32_t> wantRange = Keep(Forward(*plain), expected);
        ASSERT_EQ(Forward(*indexed), wantRange);
        ASSERT_EQ(Backward(*indexed),
                  std::vector<std::int32_t>(wantRange.rbegin(), wantRange.rend()));
        EXPECT_EQ(indexed->GetRecordCount(), static_cast<std::int64_t>(wantRange.size()));
        plain->SwitchToIndex("ByName");
        indexed->SwitchToIndex("ByName");
        const std::vector<std::int32_t> wantByName = Keep(Forward(*plain), expected);
        ASSERT_EQ(Forward(*indexed), wantByName);
        ASSERT_EQ(Backward(*indexed),
                  std::vector<std::int32_t>(wantByName.rbegin(), wantByName.rend()));
        EXPECT_EQ(indexed->GetRecordCount(), static_cast<std::int64_t>(wantByName.size()));
        indexed->DropFilter(ranged);
        indexed->SwitchToIndexNo(0);
        plain->SwitchToIndexNo(0);
      }
    }
  }
  EXPECT_EQ(levels.size(), 3u) << "the grammar reaches every optimisation level";
}

// Filters stack: the view is the AND of the active ones; deactivating and
// dropping widen it again, and a callback filter reads the record it is
// asked about.
TEST_F(CursorFilterTest, ActiveFiltersCombineAndCallbacksSeeTheirRecord) {
  std::mt19937 random(5);
  CreateMix(random, 90);
  auto cursor = OpenMix();
  const std::vector<std::int32_t> all = Forward(*cursor);
  TFilter& amount = cursor->AddFilter("Amount >= 0");
  TFilter& even = cursor->AddFilter(TFilterCallback([](std::uint32_t, TExpRecordSource& source) {
    const TFieldRead id = source.ReadField(1);
    return !id.Blank && GetLEI32(id.Bytes, 0) % 2 == 0;
  }));
  EXPECT_EQ(cursor->FilterCount(), 2u);
  EXPECT_FALSE(cursor->FilterActive(amount));

  std::set<std::int32_t> evenIds;
  for (std::size_t n = 1; n < FImages.size(); ++n)
    if (FImages[n] && GetLEI32(GetFieldValue(*FImages[n], FDefs[0]).Bytes, 0) % 2 == 0)
      evenIds.insert(static_cast<std::int32_t>(n));
  const std::set<std::int32_t> positive = Evaluated("Amount >= 0", {});
  std::set<std::int32_t> both;
  std::set_intersection(evenIds.begin(), evenIds.end(), positive.begin(), positive.end(),
                        std::inserter(both, both.begin()));
  ASSERT_FALSE(both.empty());

  cursor->ActivateFilter(even);
  EXPECT_EQ(Forward(*cursor), Keep(all, evenIds));
  cursor->ActivateFilter(amount);
  EXPECT_TRUE(cursor->FilterActive(amount));
  EXPECT_EQ(Forward(*cursor), Keep(all, both));
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(both.size()));
  for (std::int32_t n : all) EXPECT_EQ(cursor->RecordPassesFilters(n), both.count(n) != 0) << n;

  // The cursor stays on its record when it is still visible.
  cursor->SetToBegin();
  ASSERT_EQ(cursor->GetNextRecord(), TARN_NONE);
  ASSERT_EQ(cursor->GetNextRecord(), TARN_NONE);
  const std::int32_t standing = cursor->CurrentRecordNo();
  cursor->DeactivateFilter(amount);
  EXPECT_EQ(cursor->CurrentRecordNo(), standing);
  EXPECT_EQ(Forward(*cursor), Keep(all, evenIds));
  cursor->DropFilter(even);
  EXPECT_EQ(cursor->FilterCount(), 1u);
  EXPECT_EQ(Forward(*cursor), all);
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(all.size()));

  // Closing frees every filter.
  cursor->ActivateFilter(amount);
  cursor->CloseCursor();
  cursor->OpenCursor();
  EXPECT_EQ(cursor->FilterCount(), 0u);
  EXPECT_EQ(Forward(*cursor), all);
}

// A callback's answers are taken when its bitmap is built: a changed rule
// shows only after RebuildFilter, which an inactive filter also accepts.
TEST_F(CursorFilterTest, RebuildFilterTakesTheCallbacksNewAnswers) {
  std::mt19937 random(21);
  CreateMix(random, 40);
  auto cursor = OpenMix(true);
  const std::vector<std::int32_t> all = Forward(*cursor);
  std::int32_t below = 10;
  TFilter& filter =
      cursor->AddFilter(TFilterCallback([&](std::uint32_t recordNo, TExpRecordSource&) {
        return static_cast<std::int32_t>(recordNo) < below;
      }));
  const auto under = [&](std::int32_t limit) {
    std::vector<std::int32_t> kept;
    for (std::int32_t n : all)
      if (n < limit) kept.push_back(n);
    return kept;
  };
  cursor->ActivateFilter(filter);
  EXPECT_EQ(Forward(*cursor), under(10));
  below = 20;
  EXPECT_EQ(Forward(*cursor), under(10));
  cursor->RebuildFilter(filter);
  EXPECT_EQ(Forward(*cursor), under(20));
  EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(under(20).size()));
  cursor->DeactivateFilter(filter);
  below = 5;
  cursor->RebuildFilter(filter);
  EXPECT_EQ(Forward(*cursor), all);
  cursor->ActivateFilter(filter);
  EXPECT_EQ(Forward(*cursor), under(5));
}

// A bad filter raises 10051, adds nothing and leaves the view as it was;
// 64 filters are the most a cursor holds.
TEST_F(CursorFilterTest, BadFiltersAndTheSixtyFifthChangeNothing) {
  std::mt19937 random(9);
  CreateMix(random, 60);
  auto cursor = OpenMix();
  TFilter& kept = cursor->AddFilter("Amount > 1");
  cursor->ActivateFilter(kept);
  const std::vector<std::int32_t> before = Forward(*cursor);
  const std::int64_t count = cursor->GetRecordCount();
  ASSERT_GT(count, 0);
  cursor->SetToBegin();
  ASSERT_EQ(cursor->GetNextRecord(), TARN_NONE);
  const std::int32_t standing = cursor->CurrentRecordNo();

  for (const char* text :
       {"", "   ", "Amount >", "Nope = 1", "Amount + 1", "Name = 'a' AND", "(Amount = 1"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(CodeOf([&] { cursor->AddFilter(text); }), TARN_INVALIDFILTER);
    EXPECT_EQ(cursor->FilterCount(), 1u);
    EXPECT_EQ(cursor->CurrentRecordNo(), standing);
    EXPECT_EQ(cursor->GetRecordCount(), count);
  }
  EXPECT_EQ(CodeOf([&] { cursor->AddFilter(TFilterCallback{}); }), TARN_INVALIDFILTER);
  EXPECT_EQ(CodeOf([&] { cursor->AddFilter(TExpTokenPtr{}); }), TARN_INVALIDFILTER);
  EXPECT_EQ(Forward(*cursor), before);

  std::vector<TFilter*> more;
  for (int i = 1; i < 64; ++i)
    more.push_back(&cursor->AddFilter(i % 2 ? "Id > 0" : "Score IS NULL OR Score > -100"));
  EXPECT_EQ(cursor->FilterCount(), 64u);
  EXPECT_EQ(CodeOf([&] { cursor->AddFilter("Id > 0"); }), TARN_INTERNALLIMIT);
  EXPECT_EQ(
      CodeOf([&] {
        cursor->AddFilter(TFilterCallback([](std::uint32_t, TExpRecordSource&) { return true; }));
      }),
      TARN_INTERNALLIMIT);
  EXPECT_EQ(cursor->FilterCount(), 64u);
  for (TFilter* f : more) cursor->ActivateFilter(*f);
  EXPECT_EQ(Forward(*cursor), before);
  cursor->DropFilter(*more.back());
  EXPECT_NO_THROW(cursor->AddFilter("Id > 0"));
  EXPECT_EQ(cursor->FilterCount(), 64u);
}

// Records another writer appends or deletes are filtered at the cursor's
// next operation: the filter is rebuilt when the cursor sees the change.
TEST_F(CursorFilterTest, FiltersFollowAnotherWritersChanges) {
  std::mt19937 random(13);
  CreateMix(random, 50);
  for (bool unordered : {false, true}) {
    SCOPED_TRACE(unordered ? "natural order" : "index order");
    auto cursor = OpenMix(unordered);
    auto plain = OpenMix(unordered);
    TFilter& filter = cursor->AddFilter("Amount = 3 OR Name = 'Smi*'", {.Counting = true});
    cursor->ActivateFilter(filter);
    EXPECT_EQ(Forward(*cursor),
              Keep(Forward(*plain), Evaluated("Amount = 3 OR Name = 'Smi*'", {})));

    std::vector<TMixRow> rows;
    for (int i = 0; i < 30; ++i) {
      TMixRow row = RandomRow(random, 1000 + i + (unordered ? 100 : 0));
      if (i % 3 == 0) row.Amount = 3;
      rows.push_back(row);
    }
    Append(rows);
    TDataTable& table = FDir.OpenTable(FTableName, {});
    for (std::size_t n = 1; n < FImages.size(); n += 7) {
      if (!FImages[n]) continue;
      TTableWriter(table).Delete(static_cast<std::int32_t>(n));
      FImages[n].reset();
    }
    FDir.ReleaseTable(table, false);

    const std::set<std::int32_t> expected = Evaluated("Amount = 3 OR Name = 'Smi*'", {});
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(Forward(*cursor, &FImages), Keep(Forward(*plain), expected));
  }
}

// Inserts, changes and deletes through the filtered cursor itself keep every
// filter's bitmap right, active or not, without rebuilding it: the records a
// filter passes are always those the expression passes.
TEST_F(CursorFilterTest, BitmapsFollowTheCursorsOwnChanges) {
  std::mt19937 random(17);
  CreateMix(random, 60);
  auto cursor = OpenMix();
  auto plain = OpenMix();
  const std::string activeText = "Amount > 0 OR Name = 'ab'";
  const std::string idleText = "NOT (Amount = 3) AND Score IS NOT NULL";
  TFilter& active = cursor->AddFilter(activeText, {.Counting = true, .Complement = true});
  TFilter& idle = cursor->AddFilter(idleText);
  cursor->ActivateFilter(active);
  const auto check = [&](const std::string& step) {
    SCOPED_TRACE(step);
    const std::set<std::int32_t> passing =
        Evaluated(activeText, {.Counting = true, .Complement = true});
    ASSERT_EQ(Forward(*cursor, &FImages), Keep(Forward(*plain), passing));
    EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(passing.size()));
    const std::set<std::int32_t> idlePassing = Evaluated(idleText, {});
    for (std::size_t n = 1; n < FImages.size(); ++n) {
      if (!FImages[n]) continue;
      EXPECT_EQ(idle.Passes(static_cast<std::uint32_t>(n)),
                idlePassing.count(static_cast<std::int32_t>(n)) != 0)
          << n;
    }
  };
  // Stands on the k-th visible record; false when there is none.
  const auto standOn = [&](std::size_t k) {
    cursor->SetToBegin();
    for (std::size_t i = 0; i <= k; ++i)
      if (cursor->GetNextRecord() != TARN_NONE) return false;
    return true;
  };
  check("start");
  for (int step = 0; step < 40; ++step) {
    const bool reposition = random() % 2 == 0;
    const int what = static_cast<int>(random() % 3);
    if (what == 0) {
      std::vector<std::uint8_t> image =
          MixImage(FDefs, cursor->RecordSize(), RandomRow(random, 2000 + step));
      cursor->InsertRecord(image, reposition);
      const auto n = static_cast<std::size_t>(GetLE32(image, RecordLayout::RecLink));
      if (FImages.size() <= n) FImages.resize(n + 1);
      FImages[n] = image;
    } else if (standOn(random() % 5)) {
      const auto n = static_cast<std::size_t>(cursor->CurrentRecordNo());
      std::vector<std::uint8_t> image(cursor->CurrentRecord().begin(),
                                      cursor->CurrentRecord().end());
      if (what == 1) {
        std::array<std::uint8_t, 4> amount{};
        PutLEI32(amount, 0, static_cast<std::int32_t>(random() % 6) - 2);
        SetFieldValue(image, FDefs[2], std::span<const std::uint8_t>(amount));
        if (random() % 3 == 0) SetFieldValue(image, FDefs[3], std::nullopt);
        cursor->ModifyRecord(image, false, reposition);
        FImages[n] = image;
      } else {
        cursor->DeleteRecord(image, reposition);
        FImages[n].reset();
      }
    }
    check("step " + std::to_string(step));
  }
  cursor->ActivateFilter(idle);
  std::set<std::int32_t> both;
  const std::set<std::int32_t> a = Evaluated(activeText, {});
  const std::set<std::int32_t> b = Evaluated(idleText, {});
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::inserter(both, both.begin()));
  EXPECT_EQ(Forward(*cursor), Keep(Forward(*plain), both));
}

// Memo fields are read from the blob file for record-by-record tests, and
// TEXTSEARCH on a column of "Sys Text" reads the word keys; both agree with
// the words of each body.
TEST_F(CursorFilterTest, MemoAndTextSearchFiltersSeeTheBodies) {
  TDataTable& created = FDir.CreateTable("Notes", false, false, modify_testing::NotesDefinition());
  FDir.ReleaseTable(created, false);
  auto cursor = std::make_unique<TDataCursor>(FDir);
  cursor->SetTableName("Notes");
  cursor->OpenCursor();
  static const char* const Bodies[] = {"apple pie",  "Pear and plum", "",       "grape",
                                       "APPLE pear", "plump pears",   "apples", "plum apple grape"};
  std::map<std::int32_t, std::string> bodies;  // record number -> body
  std::vector<std::uint8_t> buffer(cursor->RecordSize());
  for (int i = 0; i < 24; ++i) {
    cursor->InitRecord(buffer);
    modify_testing::TNote note{.Id = i + 1,
                               .Title = "t" + std::to_string(i),
                               .Count = i % 3 ? std::optional(i) : std::nullopt,
                               .Body = Bodies[i % 8]};
    modify_testing::PutNote(*cursor, buffer, note);
    cursor->InsertRecord(buffer, false);
    bodies[static_cast<std::int32_t>(GetLE32(buffer, RecordLayout::RecLink))] = note.Body;
  }
  const auto words = [](std::string body) {
    std::transform(body.begin(), body.end(), body.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    std::vector<std::string> list;
    std::size_t at = 0;
    while (at < body.size()) {
      const std::size_t end = std::min(body.find(' ', at), body.size());
      if (end > at) list.push_back(body.substr(at, end - at));
      at = end + 1;
    }
    return list;
  };
  const auto hasWord = [&](const std::string& body, const std::string& w) {
    const std::vector<std::string> list = words(body);
    return std::find(list.begin(), list.end(), w) != list.end();
  };
  const auto hasPrefix = [&](const std::string& body, const std::string& p) {
    for (const std::string& w : words(body))
      if (w.rfind(p, 0) == 0) return true;
    return false;
  };
  struct TCase {
    const char* Text;
    std::function<bool(std::int32_t, const std::string&)> Passes;
    TOptimizeLevel Level = TOptimizeLevel::Full;  // Count has an index
  };
  const std::vector<TCase> cases{
      {"TEXTSEARCH('apple' IN Body)",
       [&](std::int32_t, const std::string& b) { return hasWord(b, "apple"); }},
      {"TEXTSEARCH('pl*' IN Body)",
       [&](std::int32_t, const std::string& b) { return hasPrefix(b, "pl"); }},
      {"TEXTSEARCH('apple pear' IN Body)",
       [&](std::int32_t, const std::string& b) {
         return hasWord(b, "apple") && hasWord(b, "pear");
       }},
      {"TEXTSEARCH('apple' IN Body) OR Body LIKE 'grape%'",
       [&](std::int32_t, const std::string& b) {
         return hasWord(b, "apple") || b.rfind("grape", 0) == 0;
       },
       TOptimizeLevel::None},
      {"TEXTSEARCH('apple' IN Body) OR Count IS NULL",
       [&](std::int32_t n, const std::string& b) {
         return hasWord(b, "apple") || (n - 1) % 3 == 0;
       }},
      {"Body LIKE '%pear%'",
       [&](std::int32_t, const std::string& b) {
         std::string lower(b);
         std::transform(lower.begin(), lower.end(), lower.begin(),
                        [](unsigned char c) { return std::tolower(c); });
         return lower.find("pear") != std::string::npos;
       },
       TOptimizeLevel::None},
  };
  auto plain = std::make_unique<TDataCursor>(FDir);
  plain->SetTableName("Notes");
  plain->OpenCursor();
  const std::vector<std::int32_t> order = Forward(*plain);
  ASSERT_EQ(order.size(), bodies.size());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::set<std::int32_t> expected;
    for (const auto& [n, body] : bodies)
      if (c.Passes(n, body)) expected.insert(n);
    ASSERT_FALSE(expected.empty());
    for (bool counting : {false, true}) {
      TFilter& filter = cursor->AddFilter(c.Text, {.Counting = counting});
      EXPECT_EQ(filter.Level(), c.Level);
      cursor->ActivateFilter(filter);
      EXPECT_EQ(Forward(*cursor), Keep(order, expected));
      EXPECT_EQ(cursor->GetRecordCount(), static_cast<std::int64_t>(expected.size()));
      cursor->DropFilter(filter);
    }
  }
}

}  // namespace
