// Model-based run: random navigation over every index of a table (unique and
// non-unique, ascending and descending, case-insensitive, compressed, with
// and without a language) checked step by step against ordered vectors of
// the keys built from the records. Every position, crack, sequence number
// and record count is compared with the model.
//
// TARN_CURSOR_MODEL_SCALE (default 1) multiplies the table size and the
// number of steps.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

#include "cursor_fixture.h"
#include "engine/base/byte_order.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/view_filter.h"
#include "engine/index/keys.h"
#include "engine/index/language_drivers.h"

namespace tarn {
namespace {

using cursor_testing::TRow;

int Scale() {
  const char* s = std::getenv("TARN_CURSOR_MODEL_SCALE");
  const int v = s != nullptr ? std::atoi(s) : 1;
  return v < 1 ? 1 : v;
}

// Passes records whose number is not a multiple of 3.
class TThirdsFilter : public TViewFilter {
 public:
  bool On = false;
  bool Active() const override { return On; }
  void Restrict(TDataCursor&, TRecordsBitmap& candidates) override {
    for (std::uint32_t r = 3; r <= candidates.BitCount(); r += 3) candidates.ClearBit(r);
  }
  static bool Passes(std::int32_t recordNo) { return recordNo % 3 != 0; }
};

struct TEntry {
  std::vector<std::uint8_t> Key;  // empty in natural order
  std::int32_t Rec = 0;
};

class CursorModelTest : public cursor_testing::TCursorFixture,
                        public ::testing::WithParamInterface<std::uint16_t> {
 protected:
  void SetUp() override {
    CreateQuiz(GetParam());
    FTable = &FDir.OpenTable("Quiz", {});
    FWriter = std::make_unique<cursor_testing::TTableWriter>(*FTable);
  }
  void TearDown() override {
    FCursor.reset();
    FWriter.reset();
    FDir.ReleaseTable(*FTable, false);
  }

  TRow RandomRow() {
    static const char* const names[] = {"a",  "A", "ab",  "Ab",  "aB", "b", "ba",
                                        "bA", "c", "cab", "Cab", "d",  ""};
    static const char* const tags[] = {"", "x", "y", "xy", "yx"};
    TRow row;
    row.Name = names[FRandom() % std::size(names)];
    row.Num = FNextNum;
    FNextNum += 1 + static_cast<std::int32_t>(FRandom() % 3);
    row.Score = static_cast<std::int16_t>(static_cast<int>(FRandom() % 41) - 20);
    row.Tag = tags[FRandom() % std::size(tags)];
    return row;
  }

  void Append(int count) {
    std::vector<TRow> rows;
    for (int i = 0; i < count; ++i) rows.push_back(RandomRow());
    for (std::int32_t rec : FWriter->AppendAll(rows)) {
      TRecordPin pin = FTable->DataFile().GetRecord(nullptr, rec);
      FImages[rec] = std::vector<std::uint8_t>(pin->Data().begin(), pin->Data().end());
    }
    ++FVersion;
  }
  void DeleteRandom(int count) {
    for (int i = 0; i < count && !FImages.empty(); ++i) {
      auto it = FImages.begin();
      std::advance(it, static_cast<long>(FRandom() % FImages.size()));
      FWriter->Delete(it->first);
      FImages.erase(it);
      ++FVersion;
    }
  }

  // ---- the model's view ----
  bool Natural() const { return FIndex == CursorIndex::Natural; }
  const TKeyDef& Def() const { return FCursor->KeyDefinition(); }
  int Cmp(const std::vector<std::uint8_t>& a, const std::uint8_t* b, std::size_t length = 0) const {
    return CompareKeys(Def(), a.data(), b, length == 0 ? Def().KeySize : length);
  }
  // Keys of the active index in order (record numbers in natural order),
  // inside the range.
  std::vector<TEntry> RangeList() const {
    std::vector<TEntry> out;
    if (Natural()) {
      for (const auto& [rec, image] : FImages) out.push_back({{}, rec});
      return out;
    }
    auto& [version, sorted] = FSorted[FIndex];
    if (version != FVersion || sorted.size() != FImages.size()) {
      const TKeyDef& def = Def();
      sorted.clear();
      for (const auto& [rec, image] : FImages) {
        TEntry e{std::vector<std::uint8_t>(def.KeySize), rec};
        BuildKey(def, image, e.Key);
        sorted.push_back(std::move(e));
      }
      std::sort(sorted.begin(), sorted.end(),
                [&](const TEntry& a, const TEntry& b) { return Cmp(a.Key, b.Key.data()) < 0; });
      version = FVersion;
    }
    out = sorted;
    if (FRange) {
      std::erase_if(out, [&](const TEntry& e) {
        return Cmp(e.Key, FLow.data()) < 0 || Cmp(e.Key, FHigh.data()) > 0;
      });
    }
    return out;
  }
  std::vector<TEntry> View() const {
    std::vector<TEntry> out = RangeList();
    if (FFilter.On)
      std::erase_if(out, [](const TEntry& e) { return !TThirdsFilter::Passes(e.Rec); });
    return out;
  }
  int IndexOfRec(const std::vector<TEntry>& list, std::int32_t rec) const {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i].Rec == rec) return static_cast<int>(i);
    return -1;
  }
  // The first view entry not below key; the last when there is none.
  int LowerBound(const std::vector<TEntry>& view, const std::uint8_t* key) const {
    for (std::size_t i = 0; i < view.size(); ++i)
      if (Cmp(view[i].Key, key) >= 0) return static_cast<int>(i);
    return static_cast<int>(view.size()) - 1;
  }
  // The visible record at or after rec, else the one before.
  int NaturalNear(const std::vector<TEntry>& view, std::int32_t rec) const {
    for (std::size_t i = 0; i < view.size(); ++i)
      if (view[i].Rec >= rec) return static_cast<int>(i);
    return static_cast<int>(view.size()) - 1;
  }

  // ---- expected state ----
  void ExpectBegin() {
    FBof = true;
    FEof = View().empty();
    FPos = 0;
    FBefore = false;
  }
  void ExpectEnd() {
    FEof = true;
    FBof = View().empty();
    FPos = static_cast<int>(View().size()) - 1;
    FBefore = false;
  }
  void ExpectAt(int pos) {
    FPos = pos;
    FBof = FEof = View().empty();
    FBefore = false;
  }
  // Where Resync and a refresh put a cursor that stood on the record whose
  // image is given: the record itself, else the key after it.
  void ExpectNear(const std::vector<std::uint8_t>& image, std::int32_t rec) {
    const std::vector<TEntry> view = View();
    if (view.empty()) return ExpectBegin();
    if (Natural()) return ExpectAt(NaturalNear(view, rec));
    std::vector<std::uint8_t> key(Def().KeySize);
    BuildKey(Def(), image, key);
    ExpectAt(LowerBound(view, key.data()));
  }

  void Check(const std::string& step) {
    SCOPED_TRACE(step);
    const std::vector<TEntry> view = View();
    ASSERT_EQ(FCursor->GetRecordCount(), static_cast<std::int64_t>(view.size()));
    ASSERT_EQ(FCursor->AtBOF(), FBof);
    ASSERT_EQ(FCursor->AtEOF(), FEof);
    if (view.empty() || FBof || FEof) return;
    ASSERT_GE(FPos, 0);
    ASSERT_LT(FPos, static_cast<int>(view.size()));
    ASSERT_EQ(FCursor->CurrentRecordNo(), view[static_cast<std::size_t>(FPos)].Rec);
    const std::int64_t seq =
        Natural() || !FFilter.On
            ? FPos + 1
            : IndexOfRec(RangeList(), view[static_cast<std::size_t>(FPos)].Rec) + 1;
    ASSERT_EQ(FCursor->GetSeqNo(), seq);
    std::vector<std::uint8_t> buf(FCursor->RecordSize());
    ASSERT_EQ(FCursor->GetCurrentRecord(buf), TARN_NONE);
    ASSERT_EQ(buf, FImages.at(view[static_cast<std::size_t>(FPos)].Rec));
  }

  // ---- steps ----
  void StepNext() {
    const std::vector<TEntry> view = View();
    std::vector<std::uint8_t> buf(FCursor->RecordSize());
    const TErrorCode code = FCursor->GetNextRecord(buf);
    TErrorCode want = TARN_NONE;
    if (view.empty()) {
      want = TARN_EOF;
    } else if (FBefore && !FBof && !FEof) {
      FBefore = false;
    } else if (FBof) {
      ExpectAt(0);
    } else if (FEof || FPos + 1 >= static_cast<int>(view.size())) {
      want = TARN_EOF;
      FEof = true;
      FBof = false;
      FPos = static_cast<int>(view.size()) - 1;
    } else {
      ExpectAt(FPos + 1);
    }
    ASSERT_EQ(code, want);
    if (code == TARN_NONE) {
      ASSERT_EQ(buf, FImages.at(view[static_cast<std::size_t>(FPos)].Rec));
    }
  }
  void StepPrior() {
    const std::vector<TEntry> view = View();
    const TErrorCode code = FCursor->GetPriorRecord();
    TErrorCode want = TARN_NONE;
    FBefore = false;
    if (view.empty()) {
      want = TARN_BOF;
    } else if (FEof) {
      ExpectAt(static_cast<int>(view.size()) - 1);
    } else if (FBof || FPos == 0) {
      want = TARN_BOF;
      FBof = true;
      FPos = 0;
    } else {
      ExpectAt(FPos - 1);
    }
    ASSERT_EQ(code, want);
  }
  void StepMoveBy(std::int64_t n) {
    const int size = static_cast<int>(View().size());
    SCOPED_TRACE("MoveBy " + std::to_string(n) + " from " + std::to_string(FPos) + " of " +
                 std::to_string(size) + (FBof ? " bof" : "") + (FEof ? " eof" : "") +
                 (FBefore ? " before" : "") + (FRange ? " range" : "") +
                 (FFilter.On ? " filter" : "") + " index " + std::to_string(FIndex));
    const TErrorCode code = FCursor->MoveBy(n);
    if (size == 0) {
      ASSERT_EQ(code, n >= 0 ? TARN_EOF : TARN_BOF);
      return;
    }
    if (n == 0) {
      ASSERT_EQ(code, FBof ? TARN_BOF : (FEof ? TARN_EOF : TARN_NONE));
      return;
    }
    std::int64_t start = FPos;
    if (n > 0 && FBefore && !FBof && !FEof) start = FPos - 1;
    if (FBof && !FEof) start = -1;
    if (FEof && !FBof) start = size;
    const std::int64_t target = start + n;
    if (n > 0 && target >= size) {
      ExpectEnd();
      ASSERT_EQ(code, TARN_EOF);
    } else if (n < 0 && target < 0) {
      ExpectBegin();
      ASSERT_EQ(code, TARN_BOF);
    } else {
      ExpectAt(static_cast<int>(target));
      ASSERT_EQ(code, TARN_NONE);
    }
  }
  void StepSeqNo(std::int64_t n) {
    const std::vector<TEntry> view = View();
    const bool ok = FCursor->SetToSeqNo(n);
    if (FFilter.On && !Natural()) {
      // Sequence numbers count hidden keys too: land on the visible record
      // at or after that key.
      const std::vector<TEntry> range = RangeList();
      if (view.empty()) {
        ExpectBegin();
        return;
      }
      const int first = IndexOfRec(range, view.front().Rec) + 1;
      const int last = IndexOfRec(range, view.back().Rec) + 1;
      if (n < first) {
        ExpectBegin();
      } else if (n > last) {
        ExpectEnd();
      } else {
        int pos = 0;
        while (IndexOfRec(range, view[static_cast<std::size_t>(pos)].Rec) + 1 < n) ++pos;
        ExpectAt(pos);
        ASSERT_EQ(ok, IndexOfRec(range, view[static_cast<std::size_t>(pos)].Rec) + 1 == n);
      }
      return;
    }
    if (n < 1) {
      ExpectBegin();
      ASSERT_FALSE(ok);
    } else if (n > static_cast<std::int64_t>(view.size())) {
      ExpectEnd();
      ASSERT_FALSE(ok);
    } else {
      ExpectAt(static_cast<int>(n - 1));
      ASSERT_TRUE(ok);
    }
  }
  void StepSetToKey() {
    if (Natural() || FImages.empty()) return;
    auto it = FImages.begin();
    std::advance(it, static_cast<long>(FRandom() % FImages.size()));
    const std::vector<std::uint8_t>& image = it->second;
    const TKeyDef& def = Def();
    std::vector<std::uint8_t> key(def.KeySize);
    BuildKey(def, image, key);
    const std::vector<TEntry> view = View();
    const int kind = static_cast<int>(FRandom() % 3);
    if (kind == 0 && def.Unique) {
      // Exact search with a raw key.
      const bool found = FCursor->SetToKey(true, key, 0, 0, false);
      const int at = IndexOfRec(view, it->first);
      ASSERT_EQ(found, at >= 0);
      if (view.empty()) {
        ExpectBegin();
      } else {
        ExpectAt(at >= 0 ? at : LowerBound(view, key.data()));
      }
      return;
    }
    // Partial: fields of the record, or the first characters of the first field.
    int fieldCount = 0;
    int partial = 0;
    std::size_t length = 0;
    const std::size_t field0 = KeyFieldSize(def.Fields[0]) + 1u;
    if (kind == 1 && def.FieldCount > 1) {
      fieldCount = 1;
      length = field0;
    } else if (kind == 2 && def.Fields[0].FieldType == FieldType::String) {
      partial = 1 + static_cast<int>(FRandom() % 3);
      length = 1u + static_cast<std::size_t>(partial);
    } else if (!def.Unique) {
      length = def.KeySize - KeyLimits::AutoIncSize;
    } else {
      return;
    }
    std::vector<std::uint8_t> search = key;
    if (def.Descending)
      PadKeyHigh(def, search, length);
    else
      PadKeyLow(def, search, length);
    const bool found = FCursor->SetToKey(false, image, fieldCount, partial, true);
    if (view.empty()) {
      ExpectBegin();
      return;
    }
    const int at = LowerBound(view, search.data());
    ExpectAt(at);
    const bool match = Cmp(view[static_cast<std::size_t>(at)].Key, search.data()) >= 0 &&
                       Cmp(view[static_cast<std::size_t>(at)].Key, search.data(), length) == 0;
    ASSERT_EQ(found, match);
  }
  void StepRange() {
    if (Natural() || FImages.size() < 2) return;
    const TKeyDef& def = Def();
    std::vector<std::uint8_t> bounds[2];
    for (auto& b : bounds) {
      auto it = FImages.begin();
      std::advance(it, static_cast<long>(FRandom() % FImages.size()));
      b.assign(def.KeySize, 0);
      BuildKey(def, it->second, b);
    }
    if (FRandom() % 4 != 0 && Cmp(bounds[0], bounds[1].data()) > 0) std::swap(bounds[0], bounds[1]);
    FCursor->SetRange(bounds[0], def.FieldCount, bounds[1], def.FieldCount, true);
    // The model's bounds: non-unique keys compare every field, padded.
    FLow = bounds[0];
    FHigh = bounds[1];
    if (!def.Unique) {
      const std::size_t length = def.KeySize - KeyLimits::AutoIncSize;
      if (def.Descending) {
        PadKeyHigh(def, FLow, length);
        PadKeyLow(def, FHigh, length);
      } else {
        PadKeyLow(def, FLow, length);
        PadKeyHigh(def, FHigh, length);
      }
    }
    if (def.Descending && def.HasLanguage() && Cmp(FLow, FHigh.data()) > 0) std::swap(FLow, FHigh);
    ResyncExpected([&] { FRange = true; });
  }
  // The expected state after an operation that changes the view and
  // resynchronises: the same record, else the key after it; cracks stay.
  template <class TChange>
  void ResyncExpected(TChange&& change) {
    const bool bof = FBof, eof = FEof;
    const std::int32_t rec = FCursor->CurrentRecordNo();
    const std::vector<std::uint8_t> image(FCursor->CurrentRecord().begin(),
                                          FCursor->CurrentRecord().end());
    change();
    if (bof)
      ExpectBegin();
    else if (eof)
      ExpectEnd();
    else
      ExpectNear(image, rec);
  }
  void StepSwitch() {
    static const char* const names[] = {"", "BYNAME", "bynamedesc", "ByScore", "bytag"};
    const int pick = static_cast<int>(FRandom() % 6);
    const int index = pick == 5 ? CursorIndex::Natural : pick;
    if (index == FIndex) {
      FCursor->SwitchToIndexNo(index);
      return;
    }
    // The record the cursor stands on, as it was before the switch.
    const bool bof = FBof, eof = FEof;
    const std::int32_t rec = FCursor->CurrentRecordNo();
    const std::vector<std::uint8_t> image(FCursor->CurrentRecord().begin(),
                                          FCursor->CurrentRecord().end());
    if (index == CursorIndex::Natural || FRandom() % 2 == 0)
      FCursor->SwitchToIndexNo(index);
    else
      FCursor->SwitchToIndex(names[index]);
    FIndex = index;
    FRange = false;
    if (bof)
      ExpectBegin();
    else if (eof)
      ExpectEnd();
    else
      ExpectNear(image, rec);
  }
  void StepBookmark() {
    if (FBof || FEof) return;
    std::vector<std::uint8_t> bm(FCursor->BookmarkSize());
    FCursor->GetBookmark(bm);
    const int pos = FPos;
    StepMoveBy(static_cast<std::int64_t>(FRandom() % 21) - 10);
    ASSERT_TRUE(FCursor->SetToBookmark(bm));
    ExpectAt(pos);
  }
  void StepFilter() {
    ResyncExpected([&] {
      FFilter.On = !FFilter.On;
      FCursor->FiltersChanged();
    });
  }
  void StepChange() {
    // Another cursor's writer changes the table; the next operation sees it.
    const bool bof = FBof, eof = FEof;
    const std::int32_t rec = FCursor->CurrentRecordNo();
    const std::vector<std::uint8_t> image(FCursor->CurrentRecord().begin(),
                                          FCursor->CurrentRecord().end());
    if (FRandom() % 2 == 0)
      Append(1 + static_cast<int>(FRandom() % 8));
    else
      DeleteRandom(1 + static_cast<int>(FRandom() % 4));
    if (bof) {
      ExpectBegin();
    } else if (eof) {
      ExpectEnd();
    } else {
      const bool before = FBefore;
      ExpectNear(image, rec);
      const std::vector<TEntry> view = View();
      if (!view.empty()) {
        // A vanished record leaves the cursor before the key after it.
        const std::int32_t landed = view[static_cast<std::size_t>(FPos)].Rec;
        int order = 0;
        if (Natural()) {
          order = landed > rec ? 1 : (landed == rec ? 0 : -1);
        } else {
          std::vector<std::uint8_t> key(Def().KeySize), was(Def().KeySize);
          BuildKey(Def(), FImages.at(landed), key);
          BuildKey(Def(), image, was);
          order = Cmp(key, was.data());
        }
        FBefore = order > 0 || (before && order == 0);
      }
    }
    FCursor->ForceRefresh();
  }

  TDataTable* FTable = nullptr;
  std::unique_ptr<cursor_testing::TTableWriter> FWriter;
  std::unique_ptr<TDataCursor> FCursor;
  std::map<std::int32_t, std::vector<std::uint8_t>> FImages;  // live records
  std::uint64_t FVersion = 1;                                 // raised with every change of FImages
  mutable std::map<int, std::pair<std::uint64_t, std::vector<TEntry>>> FSorted;
  std::mt19937 FRandom{20261210u + GetParam()};
  std::int32_t FNextNum = 1;
  TThirdsFilter FFilter;
  int FIndex = 0;
  bool FRange = false;
  std::vector<std::uint8_t> FLow, FHigh;
  int FPos = 0;
  bool FBof = true, FEof = true;
  bool FBefore = false;
};

TEST_P(CursorModelTest, RandomNavigationMatchesTheModel) {
  const int scale = Scale();
  Append(250 * scale);
  DeleteRandom(40 * scale);
  FCursor = OpenQuiz();
  FCursor->AddViewFilter(FFilter);
  ExpectBegin();
  ASSERT_NO_FATAL_FAILURE(Check("open"));
  const int steps = 2500 * scale;
  for (int i = 0; i < steps; ++i) {
    const int size = static_cast<int>(View().size());
    const int op = static_cast<int>(FRandom() % 100);
    std::string name;
    if (op < 8) {
      name = "SetToBegin";
      FCursor->SetToBegin();
      ExpectBegin();
    } else if (op < 12) {
      name = "SetToEnd";
      FCursor->SetToEnd();
      ExpectEnd();
    } else if (op < 30) {
      name = "Next";
      ASSERT_NO_FATAL_FAILURE(StepNext()) << i;
    } else if (op < 42) {
      name = "Prior";
      ASSERT_NO_FATAL_FAILURE(StepPrior()) << i;
    } else if (op < 52) {
      const std::int64_t n = FRandom() % 5 == 0 ? static_cast<std::int64_t>(FRandom() % 401) - 200
                                                : static_cast<std::int64_t>(FRandom() % 15) - 7;
      name = "MoveBy " + std::to_string(n);
      ASSERT_NO_FATAL_FAILURE(StepMoveBy(n)) << i;
    } else if (op < 60) {
      const std::int64_t n =
          static_cast<std::int64_t>(FRandom() % static_cast<unsigned>(size + 4)) - 1;
      name = "SetToSeqNo " + std::to_string(n);
      ASSERT_NO_FATAL_FAILURE(StepSeqNo(n)) << i;
    } else if (op < 72) {
      name = "SetToKey";
      ASSERT_NO_FATAL_FAILURE(StepSetToKey()) << i;
    } else if (op < 78) {
      name = "SetRange";
      ASSERT_NO_FATAL_FAILURE(StepRange()) << i;
    } else if (op < 81) {
      name = "ResetRange";
      ResyncExpected([&] {
        FCursor->ResetRange();
        FRange = false;
      });
    } else if (op < 87) {
      name = "Switch";
      ASSERT_NO_FATAL_FAILURE(StepSwitch()) << i;
    } else if (op < 92) {
      name = "Bookmark";
      ASSERT_NO_FATAL_FAILURE(StepBookmark()) << i;
    } else if (op < 95) {
      name = "Filter";
      StepFilter();
    } else {
      name = "Change";
      StepChange();
    }
    ASSERT_NO_FATAL_FAILURE(
        Check("step " + std::to_string(i) + " " + name + " index " + std::to_string(FIndex)));
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, CursorModelTest,
                         ::testing::Values<std::uint16_t>(0, MakeLanguageId(9, 1)),
                         [](const auto& info) {
                           return info.param == 0 ? std::string("NoLanguage") : "English";
                         });

}  // namespace
}  // namespace tarn
