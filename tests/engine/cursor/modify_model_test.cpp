// Random inserts, modifications and deletes through the cursor against an
// in-memory model: unique violations, NULL fields, memo blobs of random sizes
// and full-text words. After each phase the whole table (records, every index,
// "Sys Deleted", "Sys Text", the free list, every blob chain) is compared
// with the model, and again after reopening from disk.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

const char* const Words[] = {"apple", "the", "river", "AND", "stone", "of", "quiz", "answer",
                             "Apple", "zebra", "a", "question", "light", "night"};

class TModifyModelTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {
 protected:
  std::string RandomText(std::size_t maxWords) {
    std::string s;
    const std::size_t n = FRandom() % (maxWords + 1);
    for (std::size_t i = 0; i < n; ++i) {
      if (!s.empty()) s += FRandom() % 5 == 0 ? ", " : " ";
      s += Words[FRandom() % std::size(Words)];
    }
    return s;
  }
  TNote RandomNote() {
    TNote n;
    n.Id = static_cast<std::int32_t>(FRandom() % 120);
    if (FRandom() % 6 != 0) {
      n.Title = RandomText(2);
      if (n.Title->empty()) n.Title.reset();
      if (n.Title) n.Title = n.Title->substr(0, 15);
      while (n.Title && !n.Title->empty() && n.Title->back() == ' ') n.Title->pop_back();
      if (n.Title && n.Title->empty()) n.Title.reset();
    }
    if (FRandom() % 4 != 0) n.Count = static_cast<std::int32_t>(FRandom() % 10) - 3;
    switch (FRandom() % 4) {
      case 0:
        break;
      case 1:
        n.Body = RandomText(8);
        break;
      default:
        n.Body = RandomText(FRandom() % 2 ? 40 : 600);
    }
    return n;
  }
  // Whether note (replacing record `self`, 0 for none) would repeat a unique key.
  bool Violates(const TNote& note, std::int32_t self) const {
    for (const auto& [r, rec] : FModel) {
      if (r == self) continue;
      if ((FWithPrimary && rec.Note.Id == note.Id) || rec.Note.Title == note.Title) return true;
    }
    return false;
  }
  TErrorCode Try(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const ETarnEngineError& e) {
      return e.ErrorCode();
    }
    return TARN_NONE;
  }
  // Stands on a random live record; false when the table is empty.
  bool PickRecord(TDataCursor& c, std::vector<std::uint8_t>& b) {
    if (FModel.empty()) return false;
    auto it = FModel.begin();
    std::advance(it, static_cast<long>(FRandom() % FModel.size()));
    std::array<std::uint8_t, 4> v{};
    if (c.InNaturalOrder()) {
      PutLE32(v, 0, static_cast<std::uint32_t>(it->first));
      EXPECT_TRUE(c.SetToBookmark(v));
    } else {
      PutLE32(v, 0, static_cast<std::uint32_t>(it->second.Note.Id));
      c.InitRecord(b);
      c.PutField(1, b, std::span<const std::uint8_t>(v));
      EXPECT_TRUE(c.SetToKey(false, b, 1));
    }
    EXPECT_EQ(c.GetCurrentRecord(b), TARN_NONE);
    EXPECT_EQ(c.CurrentRecordNo(), it->first);
    return true;
  }

  void Phase(TDataCursor& c, int steps) {
    std::vector<std::uint8_t> b(c.RecordSize());
    for (int step = 0; step < steps; ++step) {
      const unsigned op = FRandom() % 10;
      if (op < 5 || FModel.empty()) {
        const TNote note = RandomNote();
        c.InitRecord(b);
        PutNote(c, b, note);
        const bool bad = Violates(note, 0);
        const TErrorCode code = Try([&] { c.InsertRecord(b, true); });
        ASSERT_EQ(code, bad ? TARN_KEYVIOL : TARN_NONE) << "insert at step " << step;
        c.FreeBlobs(true);
        if (!bad) {
          ++FInserts;
          FModel[c.CurrentRecordNo()] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
        }
      } else if (op < 8) {
        ASSERT_TRUE(PickRecord(c, b));
        const std::int32_t r = c.CurrentRecordNo();
        ASSERT_EQ(c.GetCurrentRecord(b, true), TARN_NONE);
        TNote note = FModel[r].Note;
        const TNote other = RandomNote();
        switch (FRandom() % 4) {
          case 0: note.Id = other.Id; break;
          case 1: note.Title = other.Title; break;
          case 2: note.Count = other.Count; break;
          default: note.Body = other.Body; break;
        }
        if (FRandom() % 3 == 0) note.Body = other.Body;
        PutNote(c, b, note);
        const bool bad = Violates(note, r);
        const TErrorCode code = Try([&] { c.ModifyRecord(b, true, true); });
        ASSERT_EQ(code, bad ? TARN_KEYVIOL : TARN_NONE) << "modify at step " << step;
        if (bad) c.UnlockCurrentRecord();
        c.FreeBlobs(true);
        ASSERT_EQ(c.LockedRecNo(), 0);
        if (!bad) FModel[r].Note = note;
      } else {
        ASSERT_TRUE(PickRecord(c, b));
        const std::int32_t r = c.CurrentRecordNo();
        c.DeleteRecord(b, true);
        FModel.erase(r);
      }
    }
  }

  std::mt19937 FRandom{20261210};
  TModel FModel;
  int FInserts = 0;
  bool FWithPrimary = true;
};

TEST_P(TModifyModelTest, RandomModificationsMatchTheModel) {
  const bool withPrimary = std::get<0>(GetParam());
  // An exclusive cursor keeps its changes in the caches until it closes.
  const bool exclusive = std::get<1>(GetParam());
  FWithPrimary = withPrimary;
  testing_support::TTempDir temp;
  TDataSession session;
  TDataDirectory& dir = session.OpenDirectory("Model", temp.Path());
  TDataTable& t = dir.CreateTable("Notes", false, false, NotesDefinition(withPrimary));
  dir.ReleaseTable(t, false);
  {
    TDataCursor c(dir);
    c.SetTableName("Notes");
    c.SetExclusive(exclusive);
    c.OpenCursor();
    for (int phase = 0; phase < 4; ++phase) {
      SCOPED_TRACE(phase);
      Phase(c, 150);
      if (HasFatalFailure()) return;
      CheckTable(c, FModel);
      EXPECT_EQ(c.GetRecordCount(), static_cast<std::int64_t>(FModel.size()));
    }
    // LastAutoInc counts every insert and never went down.
    EXPECT_EQ(c.Table().DataFile().GetLastAutoInc(), FInserts);
  }
  TDataSession fresh;
  TDataDirectory& again = fresh.OpenDirectory("Again", temp.Path());
  TDataCursor c(again);
  c.SetTableName("Notes");
  c.OpenCursor();
  CheckTable(c, FModel);
}

INSTANTIATE_TEST_SUITE_P(PrimaryOrNot, TModifyModelTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "WithPrimary" : "NaturalOrder") +
                                  (std::get<1>(info.param) ? "Exclusive" : "Shared");
                         });

}  // namespace
