// Open/close, cracks, the edge cases of navigation, ranges, bookmarks and
// index switches on small tables.

#include "engine/cursor/data_cursor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "cursor_fixture.h"
#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/cursor/view_filter.h"
#include "engine/index/keys.h"

namespace tarn {
namespace {

using cursor_testing::ReadRow;
using cursor_testing::TRow;

TErrorCode CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

class DataCursorTest : public cursor_testing::TCursorFixture {
 protected:
  // Num of the current record.
  std::int32_t Num(TDataCursor& c) { return ReadRow(c, c.CurrentRecord()).Num; }
  // Nums of a forward scan from the beginning crack.
  std::vector<std::int32_t> Scan(TDataCursor& c) {
    std::vector<std::int32_t> out;
    c.SetToBegin();
    std::vector<std::uint8_t> buf(c.RecordSize());
    while (c.GetNextRecord(buf) == TARN_NONE) out.push_back(ReadRow(c, buf).Num);
    return out;
  }
  // The raw key of the active index for row.
  std::vector<std::uint8_t> KeyOf(TDataCursor& c, const TRow& row) {
    std::vector<std::uint8_t> key(c.KeyDefinition().KeySize);
    BuildKey(c.KeyDefinition(), cursor_testing::RecordImage(c.Table(), row), key);
    return key;
  }
};

TEST_F(DataCursorTest, AnEmptyTableLeavesTheCursorEmpty) {
  CreateQuiz();
  for (bool unordered : {false, true}) {
    auto c = OpenQuiz(unordered);
    EXPECT_TRUE(c->AtBOF() && c->AtEOF());
    std::vector<std::uint8_t> buf(c->RecordSize(), 0xAA);
    EXPECT_EQ(c->GetNextRecord(buf), TARN_EOF);
    EXPECT_EQ(buf, std::vector<std::uint8_t>(c->RecordSize(), 0));
    EXPECT_EQ(c->GetPriorRecord(), TARN_BOF);
    EXPECT_EQ(c->GetCurrentRecord(), TARN_NOCURRREC);
    EXPECT_EQ(c->GetRecordCount(), 0);
    EXPECT_EQ(c->GetSeqNo(), 0);
    EXPECT_FALSE(c->SetToSeqNo(1));
    EXPECT_EQ(c->MoveBy(3), TARN_EOF);
    c->SetToEnd();
    EXPECT_EQ(c->GetPriorRecord(), TARN_BOF);
  }
}

TEST_F(DataCursorTest, TheBeginningCrackHoldsAgainstPriorAndGivesTheFirstRecordAgain) {
  CreateQuiz();
  Fill({{"c", 3, 1, "x"}, {"a", 1, 1, "x"}, {"b", 2, 1, "x"}});
  auto c = OpenQuiz();
  EXPECT_TRUE(c->AtBOF());
  EXPECT_FALSE(c->AtEOF());
  EXPECT_EQ(c->GetCurrentRecord(), TARN_BOF);
  ASSERT_EQ(c->GetNextRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 1);
  EXPECT_EQ(c->GetPriorRecord(), TARN_BOF);
  EXPECT_TRUE(c->AtBOF());
  ASSERT_EQ(c->GetNextRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 1);
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(c->GetCurrentRecord(), TARN_EOF);
  ASSERT_EQ(c->GetPriorRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 3);
  EXPECT_EQ(c->GetSeqNo(), 3);
}

TEST_F(DataCursorTest, GetNextRecordsStopsAtTheEndAndCountsWhatItRead) {
  CreateQuiz();
  Fill({{"a", 1, 1, "x"}, {"b", 2, 1, "x"}, {"c", 3, 1, "x"}, {"d", 4, 1, "x"}, {"e", 5, 1, "x"}});
  auto c = OpenQuiz();
  const std::size_t size = c->RecordSize();
  std::vector<std::uint8_t> buf(3 * size);
  std::int32_t count = 3;
  ASSERT_EQ(c->GetNextRecords(count, buf), TARN_NONE);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(ReadRow(*c, std::span(buf).subspan(2 * size, size)).Num, 3);
  count = 3;
  EXPECT_EQ(c->GetNextRecords(count, buf), TARN_EOF);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(ReadRow(*c, std::span(buf).subspan(size, size)).Num, 5);
  EXPECT_EQ(
      std::vector<std::uint8_t>(buf.begin() + 2 * static_cast<std::ptrdiff_t>(size), buf.end()),
      std::vector<std::uint8_t>(size, 0));  // the failing slot is zero-filled
}

TEST_F(DataCursorTest, SetToSeqNoOutsideTheViewLandsOnTheCracks) {
  CreateQuiz();
  Fill({{"a", 1, 1, "x"}, {"b", 2, 1, "x"}, {"c", 3, 1, "x"}});
  for (bool unordered : {false, true}) {
    auto c = OpenQuiz(unordered);
    struct TCase {
      std::int64_t SeqNo;
      bool Result, Bof, Eof;
    };
    for (const TCase& t :
         {TCase{0, false, true, false}, TCase{-5, false, true, false}, TCase{2, true, false, false},
          TCase{4, false, false, true}, TCase{1000, false, false, true}}) {
      EXPECT_EQ(c->SetToSeqNo(t.SeqNo), t.Result) << t.SeqNo;
      EXPECT_EQ(c->AtBOF(), t.Bof) << t.SeqNo;
      EXPECT_EQ(c->AtEOF(), t.Eof) << t.SeqNo;
    }
    ASSERT_TRUE(c->SetToSeqNo(2));
    EXPECT_EQ(Num(*c), 2);
    EXPECT_EQ(c->GetSeqNo(), 2);
  }
}

TEST_F(DataCursorTest, SwitchingIndexByNameInAnyCaseKeepsTheRecord) {
  CreateQuiz();
  Fill({{"delta", 1, 40, "t"},
        {"alpha", 2, 10, "t"},
        {"Charlie", 3, 30, "s"},
        {"bravo", 4, 20, "s"}});
  auto c = OpenQuiz();
  ASSERT_TRUE(c->SetToSeqNo(3));  // Num 3, "Charlie"
  c->SwitchToIndex("BYNAME");
  EXPECT_EQ(c->IndexNo(), 1);
  EXPECT_EQ(Num(*c), 3);
  EXPECT_EQ(c->GetSeqNo(), 3);  // alpha, bravo, Charlie (case-insensitive), delta
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{2, 4, 3, 1}));
  c->SwitchToIndex("bynamedesc");
  EXPECT_EQ(Scan(*c),
            (std::vector<std::int32_t>{1, 4, 2, 3}));  // byte order, reversed: "C" sorts last
  c->SwitchToIndex("ByScore");                         // descending score
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{1, 3, 4, 2}));
  EXPECT_EQ(CodeOf([&] { c->SwitchToIndex("NoSuchIndex"); }), TARN_INVALIDINDEXNAME);
  EXPECT_EQ(LastErrorCode(), TARN_INVALIDINDEXNAME);
  c->SwitchToIndexNo(255);
  EXPECT_TRUE(c->InNaturalOrder());
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{1, 2, 3, 4}));
  c->SwitchToIndexNo(0);
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{1, 2, 3, 4}));
}

TEST_F(DataCursorTest, SwitchingToTheCurrentIndexKeepsTheRange) {
  CreateQuiz();
  Fill({{"a", 1, 1, "x"}, {"b", 2, 1, "x"}, {"c", 3, 1, "x"}});
  auto c = OpenQuiz();
  c->SwitchToIndex("ByName");
  c->SetRange(KeyOf(*c, {"b", 0, 0, ""}), 1, KeyOf(*c, {"c", 0, 0, ""}), 1, true);
  EXPECT_EQ(c->GetRecordCount(), 2);
  c->SwitchToIndex("byname");
  EXPECT_TRUE(c->RangeActive());
  EXPECT_EQ(c->GetRecordCount(), 2);
  c->SwitchToIndex("ByTag");
  EXPECT_FALSE(c->RangeActive());
  EXPECT_EQ(c->GetRecordCount(), 3);
}

TEST_F(DataCursorTest, RangesRestrictCountsSequenceNumbersAndScans) {
  CreateQuiz();
  Fill({{"a", 1, 5, "x"}, {"b", 2, 5, "x"}, {"b", 3, 5, "x"}, {"c", 4, 5, "x"}, {"d", 5, 5, "x"}});
  auto c = OpenQuiz();
  struct TCase {
    const char* Low;
    const char* High;
    std::vector<std::int32_t> Nums;
  };
  c->SwitchToIndex("ByName");
  for (const TCase& t :
       {TCase{"b", "c", {2, 3, 4}}, TCase{"b", "b", {2, 3}}, TCase{"a", "z", {1, 2, 3, 4, 5}},
        TCase{"bb", "bz", {}}, TCase{"c", "b", {}}, TCase{"0", "a", {1}}}) {
    c->SetRange(KeyOf(*c, {t.Low, 0, 0, ""}), 1, KeyOf(*c, {t.High, 0, 0, ""}), 1, true);
    EXPECT_EQ(c->GetRecordCount(), static_cast<std::int64_t>(t.Nums.size()))
        << t.Low << ".." << t.High;
    EXPECT_EQ(Scan(*c), t.Nums) << t.Low << ".." << t.High;
    if (!t.Nums.empty()) {
      ASSERT_TRUE(c->SetToSeqNo(static_cast<std::int64_t>(t.Nums.size())));
      EXPECT_EQ(Num(*c), t.Nums.back());
      EXPECT_EQ(c->GetSeqNo(), static_cast<std::int64_t>(t.Nums.size()));
      c->SetToEnd();
      ASSERT_EQ(c->GetPriorRecord(), TARN_NONE);
      EXPECT_EQ(Num(*c), t.Nums.back());
    } else {
      EXPECT_TRUE(c->AtBOF() && c->AtEOF());
      EXPECT_EQ(c->GetPriorRecord(), TARN_BOF);
    }
  }
  c->ResetRange();
  EXPECT_EQ(c->GetRecordCount(), 5);
}

TEST_F(DataCursorTest, PartialKeysFindTheFirstOfEqualKeys) {
  CreateQuiz();
  Fill({{"bob", 1, 7, "t1"}, {"bo", 2, 7, "t1"}, {"bob", 3, 7, "t2"}, {"carl", 4, 7, "t1"}});
  auto c = OpenQuiz();
  c->SwitchToIndex("ByName");
  // Field count 0 on a non-unique index: every field, still partial.
  EXPECT_TRUE(c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"BOB", 0, 0, ""}), 0));
  EXPECT_EQ(Num(*c), 1);
  EXPECT_EQ(c->GetSeqNo(), 2);
  // Two characters of the name.
  EXPECT_TRUE(c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"bo", 0, 0, ""}), 0, 2));
  EXPECT_EQ(Num(*c), 2);
  EXPECT_FALSE(
      c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"bz", 0, 0, ""}), 0, 2, true));
  EXPECT_EQ(Num(*c), 4);  // nearest: the next key
  EXPECT_FALSE(
      c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"zz", 0, 0, ""}), 0, 0, true));
  EXPECT_FALSE(c->AtEOF());  // beyond the last key: the last record
  EXPECT_EQ(Num(*c), 4);
  // One field of two on a composite index.
  c->SwitchToIndex("ByTag");
  EXPECT_TRUE(c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"", 0, 0, "t2"}), 1));
  EXPECT_EQ(Num(*c), 3);
  // Exact keys of the primary index.
  c->SwitchToIndexNo(0);
  std::vector<std::uint8_t> out(c->RecordSize());
  EXPECT_TRUE(c->SetToKey(true, KeyOf(*c, {"", 3, 0, ""}), 0, 0, false, out));
  EXPECT_EQ(ReadRow(*c, out).Name, "bob");
  EXPECT_FALSE(c->SetToKey(true, KeyOf(*c, {"", 0, 0, ""}), 0, 0, false));
}

TEST_F(DataCursorTest, BookmarksOfDeletedRecordsFindTheNextKeyOnlyWithNearest) {
  CreateQuiz();
  const std::vector<std::int32_t> recs =
      Fill({{"a", 10, 1, "x"}, {"b", 20, 1, "x"}, {"c", 30, 1, "x"}});
  for (bool unordered : {false, true}) {
    auto c = OpenQuiz(unordered);
    ASSERT_TRUE(c->SetToSeqNo(2));
    std::vector<std::uint8_t> bm(c->BookmarkSize());
    c->GetBookmark(bm);
    c->SetToBegin();
    EXPECT_TRUE(c->SetToBookmark(bm));
    EXPECT_EQ(Num(*c), 20);
    EXPECT_EQ(c->CompareBookmarks(bm, bm), 0);
    c.reset();
    {
      TDataTable& t = FDir.OpenTable("Quiz", {});
      cursor_testing::TTableWriter(t).Delete(recs[1]);
      FDir.ReleaseTable(t, false);
    }
    c = OpenQuiz(unordered);
    EXPECT_FALSE(c->SetToBookmark(bm, false));
    EXPECT_EQ(Num(*c), 30);
    c->SetToBegin();
    EXPECT_TRUE(c->SetToBookmark(bm, true));
    EXPECT_EQ(Num(*c), 30);
    c.reset();
    Fill({{"b", 20, 1, "x"}});
  }
}

TEST_F(DataCursorTest, SetToCursorFollowsAnotherCursorOrReportsNotFound) {
  CreateQuiz();
  Fill({{"a", 1, 1, "x"}, {"b", 2, 1, "y"}, {"c", 3, 1, "y"}});
  auto a = OpenQuiz();
  auto b = OpenQuiz();
  ASSERT_TRUE(a->SetToSeqNo(3));
  b->SwitchToIndex("ByTag");
  EXPECT_EQ(b->SetToCursor(*a), TARN_NONE);
  EXPECT_EQ(Num(*b), 3);
  b->SetRange(KeyOf(*b, {"", 0, 0, "x"}), 1, KeyOf(*b, {"", 0, 0, "x"}), 1, true);
  EXPECT_EQ(b->SetToCursor(*a), TARN_RECNOTFOUND);
  auto n = OpenQuiz(true);
  EXPECT_EQ(n->SetToCursor(*a), TARN_NONE);
  EXPECT_EQ(Num(*n), 3);
}

TEST_F(DataCursorTest, MoveByWalksAndJumpsAlike) {
  CreateQuiz();
  std::vector<TRow> rows;
  for (int i = 1; i <= 700; ++i)
    rows.push_back({"n" + std::to_string(i % 37), i, static_cast<std::int16_t>(i % 11), "t"});
  Fill(rows);
  auto c = OpenQuiz();
  EXPECT_EQ(c->MoveBy(1), TARN_NONE);  // from the beginning crack: the first record
  EXPECT_EQ(Num(*c), 1);
  EXPECT_EQ(c->MoveBy(450), TARN_NONE);
  EXPECT_EQ(Num(*c), 451);
  EXPECT_EQ(c->GetSeqNo(), 451);
  EXPECT_EQ(c->MoveBy(-2), TARN_NONE);
  EXPECT_EQ(Num(*c), 449);
  EXPECT_EQ(c->MoveBy(-1000), TARN_BOF);
  EXPECT_EQ(c->MoveBy(1000), TARN_EOF);
  EXPECT_EQ(c->GetPriorRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 700);
  c->SwitchToIndex("ByName");
  ASSERT_TRUE(c->SetToSeqNo(100));
  const std::int32_t at100 = Num(*c);
  ASSERT_TRUE(c->SetToSeqNo(1));
  EXPECT_EQ(c->MoveBy(99), TARN_NONE);
  EXPECT_EQ(Num(*c), at100);
}

TEST_F(DataCursorTest, MovesFollowTheTreeWhenItsLeafChangedUnderTheCopy) {
  CreateQuiz();
  std::vector<TRow> rows;
  for (int i = 1; i <= 300; ++i) rows.push_back({"r", 2 * i, 0, "t"});
  Fill(rows);
  // An exclusive cursor does no change detection: the pages change under it
  // while another writer of the session shares the table.
  TDataCursor owner(FDir);
  owner.SetTableName("Quiz");
  owner.SetExclusive(true);
  owner.OpenCursor();
  TDataCursor* c = &owner;
  TDataTable& t = FDir.OpenTable("Quiz", {.JoinInUse = true});
  ASSERT_EQ(&t, &owner.Table());
  cursor_testing::TTableWriter writer(t);
  struct TCase {
    std::int32_t From;
    std::vector<std::int32_t> Insert;
    std::vector<std::int32_t> DeleteNums;
    int Move;
    std::int32_t Expect;
  };
  const TCase cases[] = {
      {300, {301, 299}, {}, 1, 301}, {300, {}, {}, -1, 299},   {100, {}, {102}, 1, 104},
      {100, {}, {98, 96}, -1, 94},   {580, {}, {300}, 2, 584},
  };
  int extra = 0;
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.From);
    ASSERT_TRUE(c->SetToKey(true, KeyOf(*c, {"", k.From, 0, ""})));
    std::vector<TRow> more;
    for (std::int32_t n : k.Insert) more.push_back({"r", n, 0, "t"});
    // More keys at both ends: pages split, the tree grows.
    for (int i = 0; i < 150; ++i, ++extra) {
      more.push_back({"r", 1000 + extra, 0, "t"});
      more.push_back({"r", -1000 - extra, 0, "t"});
    }
    writer.AppendAll(more);
    for (std::int32_t n : k.DeleteNums) {
      ASSERT_TRUE(c->SetToKey(true, KeyOf(*c, {"", n, 0, ""})));
      const std::int32_t rec = c->CurrentRecordNo();
      ASSERT_TRUE(c->SetToKey(true, KeyOf(*c, {"", k.From, 0, ""})));
      writer.Delete(rec);
    }
    ASSERT_EQ(c->MoveBy(k.Move), TARN_NONE);
    EXPECT_EQ(Num(*c), k.Expect);
  }
  FDir.ReleaseTable(t, false);
}

TEST_F(DataCursorTest, OpenSettingsAreFixedWhileOpen) {
  CreateQuiz();
  auto c = OpenQuiz();
  EXPECT_EQ(CodeOf([&] { c->SetExclusive(true); }), TARN_TABLEOPEN);
  EXPECT_EQ(CodeOf([&] { c->SetTableName("Other"); }), TARN_TABLEOPEN);
  c->CloseCursor();
  EXPECT_FALSE(c->IsOpen());
  c->SetTableName("C:\\data\\quiz.dat");
  EXPECT_EQ(c->TableName(), "quiz");
  c->OpenCursor();
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(c->FieldDisplayName(2), "quiz.Num");
}

TEST_F(DataCursorTest, AnEncryptedTableDemandsItsPasswordThroughTheCallback) {
  TTableDefinition def = cursor_testing::QuizDefinition();
  def.Encrypted = true;
  def.Password = "Secret";
  FDir.ReleaseTable(FDir.CreateTable("Quiz", false, false, def), false);
  TDataCursor c(FDir);
  c.SetTableName("Quiz");
  EXPECT_EQ(CodeOf([&] { c.OpenCursor(); }), TARN_NOTSUFFTABLERIGHTS);
  EXPECT_FALSE(c.IsOpen());
  int asked = 0;
  struct TAsk {
    TDataSession* Session;
    int* Asked;
  } ask{&FSession, &asked};
  c.SetPasswordCallback(
      [](void* context, std::intptr_t) {
        auto* a = static_cast<TAsk*>(context);
        ++*a->Asked;
        a->Session->AddPassword(*a->Asked == 1 ? "secret" : "Secret");
        return true;
      },
      &ask);
  c.OpenCursor();
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(asked, 2);  // letter case counts
}

TEST_F(DataCursorTest, AMissingIndexFileIsRebuiltIntoNaturalOrder) {
  CreateQuiz();
  const std::vector<std::int32_t> recs =
      Fill({{"a", 1, 1, "x"}, {"b", 2, 1, "x"}, {"c", 3, 1, "x"}});
  {
    TDataTable& t = FDir.OpenTable("Quiz", {});
    cursor_testing::TTableWriter(t).Delete(recs[1]);
    FDir.ReleaseTable(t, false);
  }
  std::filesystem::remove(FTemp.File("Quiz.IDX"));
  auto c = OpenQuiz();
  EXPECT_TRUE(c->InNaturalOrder());
  EXPECT_EQ(c->GetRecordCount(), 2);
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{1, 3}));
  auto second = OpenQuiz();  // sharing the table does not rebuild again
  EXPECT_EQ(second->GetRecordCount(), 2);
}

// Passes records whose Num is even.
class TEvenFilter : public TViewFilter {
 public:
  bool On = true;
  bool Active() const override { return On; }
  void Restrict(TDataCursor& cursor, TRecordsBitmap& candidates) override {
    TDataFile& data = cursor.Table().DataFile();
    for (std::uint32_t r = 0; candidates.NextSet(r);) {
      TRecordPin pin = data.GetRecord(nullptr, static_cast<std::int32_t>(r));
      if (ReadRow(cursor, pin->Data()).Num % 2 != 0) candidates.ClearBit(r);
    }
  }
};

TEST_F(DataCursorTest, AnActiveFilterRestrictsNavigationAndCounts) {
  CreateQuiz();
  Fill({{"e", 1, 1, "x"},
        {"d", 2, 1, "x"},
        {"c", 3, 1, "x"},
        {"b", 4, 1, "x"},
        {"a", 5, 1, "x"},
        {"f", 6, 1, "x"}});
  auto c = OpenQuiz();
  c->SwitchToIndex("ByName");
  TEvenFilter even;
  c->AddViewFilter(even);
  EXPECT_TRUE(c->BitmapMode());
  EXPECT_EQ(c->GetRecordCount(), 3);
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{4, 2, 6}));
  c->SetToEnd();
  ASSERT_EQ(c->GetPriorRecord(), TARN_NONE);
  EXPECT_EQ(Num(*c), 6);
  EXPECT_EQ(c->MoveBy(-2), TARN_NONE);
  EXPECT_EQ(Num(*c), 4);
  EXPECT_EQ(c->MoveBy(-1), TARN_BOF);
  // Sequence numbers count every key of the range.
  ASSERT_TRUE(c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"d", 0, 0, ""})));
  EXPECT_EQ(c->GetSeqNo(), 4);
  EXPECT_FALSE(
      c->SetToKey(false, cursor_testing::RecordImage(c->Table(), {"c", 0, 0, ""}), 0, 0, true));
  EXPECT_EQ(Num(*c), 2);  // "c" is filtered out: the next visible key
  c->SetRange(KeyOf(*c, {"b", 0, 0, ""}), 1, KeyOf(*c, {"e", 0, 0, ""}), 1, true);
  EXPECT_EQ(c->GetRecordCount(), 2);
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{4, 2}));
  even.On = false;
  c->FiltersChanged();
  EXPECT_FALSE(c->BitmapMode());
  EXPECT_EQ(Scan(*c), (std::vector<std::int32_t>{4, 3, 2, 1}));
  c->RemoveViewFilter(even);
}

}  // namespace
}  // namespace tarn
