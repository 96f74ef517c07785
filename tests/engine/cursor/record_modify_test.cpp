// Record modification through the cursor: defaults, constraints, inserts,
// modifications and deletes with every index, free-slot reuse, auto-increment
// values, unique violations, record locks and blob buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

class TModifyTest : public ::testing::Test {
 protected:
  void CreateNotes(bool withPrimary = true) {
    TDataTable& t = FDir.CreateTable("Notes", false, false, NotesDefinition(withPrimary));
    FDir.ReleaseTable(t, false);
  }
  std::unique_ptr<TDataCursor> Open(std::string_view name = "Notes") {
    auto c = std::make_unique<TDataCursor>(FDir);
    c->SetTableName(name);
    c->OpenCursor();
    return c;
  }
  std::vector<std::uint8_t> Buffer(TDataCursor& c) {
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    return b;
  }
  // Inserts a note and records it in FModel.
  std::int32_t Insert(TDataCursor& c, const TNote& note) {
    std::vector<std::uint8_t> b = Buffer(c);
    PutNote(c, b, note);
    c.InsertRecord(b, true);
    const std::int32_t r = c.CurrentRecordNo();
    FModel[r] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
    return r;
  }
  // Positions c on the note with that Id (primary index).
  void Seek(TDataCursor& c, std::int32_t id) {
    std::vector<std::uint8_t> b = Buffer(c);
    std::array<std::uint8_t, 4> v{};
    PutLE32(v, 0, static_cast<std::uint32_t>(id));
    c.PutField(1, b, std::span<const std::uint8_t>(v));
    ASSERT_TRUE(c.SetToKey(false, b, 1));
  }
  // The ids of FModel's notes in the order of an index of "Notes" (nullptr:
  // the primary index; "ByCount" orders equal counts by RecAutoInc).
  std::vector<std::int32_t> IndexOrder(const char* index) const {
    std::vector<std::pair<std::string, std::int32_t>> keys;
    for (const auto& [r, m] : FModel) {
      char key[32];
      if (!index)
        std::snprintf(key, sizeof key, "%08d", m.Note.Id);
      else if (std::string(index) == "ByTitle")
        std::snprintf(key, sizeof key, "%s", m.Note.Title->c_str());
      else
        std::snprintf(key, sizeof key, "%08d %08d", *m.Note.Count, m.AutoInc);
      keys.emplace_back(key, m.Note.Id);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::int32_t> ids;
    for (const auto& k : keys) ids.push_back(k.second);
    return ids;
  }
  TErrorCode CodeOf(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const ETarnEngineError& e) {
      FLastError = e.ErrorIndex().empty() ? e.ErrorField() : e.ErrorIndex();
      return e.ErrorCode();
    }
    return TARN_NONE;
  }

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDir = FSession.OpenDirectory("Notes", FTemp.Path());
  TModel FModel;
  std::string FLastError;
};

TEST_F(TModifyTest, InsertedRecordsReachEveryIndexAndSurviveReopening) {
  CreateNotes();
  auto c = Open();
  for (int i = 0; i < 40; ++i) {
    TNote n{100 - i, "title " + std::to_string(i), i % 3 == 0 ? std::nullopt : std::optional(i % 5),
            i % 4 == 0 ? std::string() : "body of the note number " + std::to_string(i) + std::string(static_cast<std::size_t>(i * 37), 'x')};
    Insert(*c, n);
    ASSERT_EQ(c->CurrentRecordNo(), i + 1);
  }
  CheckTable(*c, FModel);
  // The cursor stands on the last insert and walks the primary index in order.
  ASSERT_EQ(c->GetRecordCount(), 40);
  c->SetToBegin();
  std::vector<std::uint8_t> b(c->RecordSize());
  std::int32_t last = 0;
  while (c->GetNextRecord(b) == TARN_NONE) {
    const std::int32_t id = static_cast<std::int32_t>(GetLE32(c->GetField(1, b).Bytes, 0));
    EXPECT_GT(id, last);
    last = id;
  }
  c->CloseCursor();
  auto again = Open();
  CheckTable(*again, FModel);
}

TEST_F(TModifyTest, UniqueViolationNamesTheIndexAndChangesNothing) {
  CreateNotes();
  auto c = Open();
  Insert(*c, {1, "one", 5, "first body"});
  Insert(*c, {2, "two", 5, "second body"});
  const std::int32_t lastAutoInc = c->Table().DataFile().GetLastAutoInc();
  const std::int32_t blocks = c->Table().BlobFile().Header().NextBlockNumber;
  struct TCase {
    TNote Note;
    const char* Index;
  } cases[] = {{{1, "three", 1, "a body that is never stored"}, ""},
               {{3, "two", 1, "another body never stored"}, "ByTitle"}};
  for (const TCase& k : cases) {
    std::vector<std::uint8_t> b = Buffer(*c);
    PutNote(*c, b, k.Note);
    EXPECT_EQ(CodeOf([&] { c->InsertRecord(b, true); }), TARN_KEYVIOL);
    EXPECT_EQ(FLastError, k.Index);
    c->FreeBlobs(true);
    CheckTable(*c, FModel);
    EXPECT_EQ(c->Table().DataFile().GetLastAutoInc(), lastAutoInc);
    EXPECT_EQ(c->Table().BlobFile().Header().NextBlockNumber, blocks);
  }
  // A modification onto an existing unique key fails the same way.
  Seek(*c, 2);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  ASSERT_EQ(c->GetCurrentRecord(b, true), TARN_NONE);
  c->PutField(2, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("one"), 3));
  EXPECT_EQ(CodeOf([&] { c->ModifyRecord(b, true, true); }), TARN_KEYVIOL);
  EXPECT_EQ(FLastError, "ByTitle");
  c->UnlockCurrentRecord();
  EXPECT_EQ(c->LockedRecNo(), 0);
  CheckTable(*c, FModel);
}

TEST_F(TModifyTest, SlotReuseAndAutoIncValues) {
  struct TCase {
    bool WithPrimary;
    std::vector<std::int32_t> Expected;  // slots of the two inserts after deleting 1 then 3
  } cases[] = {{true, {3, 1}}, {false, {4, 5}}};
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.WithPrimary);
    testing_support::TTempDir dir;
    TDataDirectory& d = FSession.OpenDirectory(k.WithPrimary ? "P" : "N", dir.Path());
    TDataTable& t = d.CreateTable("Notes", false, false, NotesDefinition(k.WithPrimary));
    d.ReleaseTable(t, false);
    TDataCursor c(d);
    c.SetTableName("Notes");
    c.OpenCursor();
    FModel.clear();
    for (int i = 1; i <= 3; ++i) Insert(c, {i, "t" + std::to_string(i), i, ""});
    // Deleting the record with the highest RecAutoInc does not lower LastAutoInc.
    for (std::int32_t id : {1, 3}) {
      c.SetToBegin();
      std::vector<std::uint8_t> b(c.RecordSize());
      while (c.GetNextRecord(b) == TARN_NONE)
        if (static_cast<std::int32_t>(GetLE32(c.GetField(1, b).Bytes, 0)) == id) break;
      const std::int32_t r = c.CurrentRecordNo();
      c.DeleteRecord(b, true);
      FModel.erase(r);
    }
    CheckTable(c, FModel);
    EXPECT_EQ(c.Table().DataFile().GetLastAutoInc(), 3);
    std::vector<std::int32_t> got;
    for (int i = 4; i <= 5; ++i) got.push_back(Insert(c, {i, "t" + std::to_string(i), i, "x"}));
    EXPECT_EQ(got, k.Expected);
    EXPECT_EQ(FModel[got[0]].AutoInc, 4);
    EXPECT_EQ(FModel[got[1]].AutoInc, 5);
    CheckTable(c, FModel);
  }
}

TEST_F(TModifyTest, ModifyReplacesOnlyChangedKeysAndWords) {
  CreateNotes();
  auto c = Open();
  Insert(*c, {1, "alpha beta", 1, "the quick brown fox"});
  Insert(*c, {2, "gamma", std::nullopt, "jumps over the lazy dog"});
  Seek(*c, 1);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  ASSERT_EQ(c->GetCurrentRecord(b, true), TARN_NONE);
  EXPECT_EQ(c->LockedRecNo(), c->CurrentRecordNo());
  const TNote changed{1, "alpha delta", std::nullopt, "the slow brown cat"};
  PutNote(*c, b, changed);
  c->ModifyRecord(b, true, true);
  EXPECT_EQ(c->LockedRecNo(), 0);
  FModel[c->CurrentRecordNo()].Note = changed;
  CheckTable(*c, FModel);
  // Changing the primary key moves the record in index order; the cursor follows.
  Seek(*c, 2);
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  ASSERT_EQ(c->GetCurrentRecord(b, true), TARN_NONE);
  std::array<std::uint8_t, 4> id{};
  PutLE32(id, 0, 0);
  c->PutField(1, b, std::span<const std::uint8_t>(id));
  c->ModifyRecord(b, true, true);
  FModel[c->CurrentRecordNo()].Note.Id = 0;
  EXPECT_EQ(c->GetSeqNo(), 1);
  CheckTable(*c, FModel);
}

// Where a modify leaves the cursor, in each index, with and without
// reposition, outside and inside a transaction: on the record when its key in
// the current index stayed (the cursor keeps the place it had) or with
// reposition; on the crack where the record was when that key changed
// without reposition. The table spans many leaves, and the other indexes'
// trees change under the cursor's.
TEST_F(TModifyTest, AModifyLeavesTheCursorOnTheRecordOrWhereItWas) {
  CreateNotes();
  constexpr int Count = 600;
  {
    auto c = Open();
    for (int i = 1; i <= Count; ++i) {
      char title[8];
      std::snprintf(title, sizeof title, "t%03d", i);
      Insert(*c, {i, std::string(title), i % 7, ""});
    }
  }
  struct TCase {
    const char* Index;  // nullptr: primary
    bool TitleChanges;  // else Count changes
    bool Reposition;
    bool Transaction;
  };
  std::vector<TCase> cases;
  for (const char* index : {static_cast<const char*>(nullptr), "ByTitle", "ByCount"})
    for (bool title : {false, true})
      for (bool reposition : {false, true})
        for (bool transaction : {false, true}) cases.push_back({index, title, reposition, transaction});
  std::int32_t target = 100;
  for (const TCase& k : cases) {
    SCOPED_TRACE(std::string(k.Index ? k.Index : "primary") + (k.TitleChanges ? " title" : " count") +
                 (k.Reposition ? " reposition" : "") + (k.Transaction ? " transaction" : ""));
    target += 7;
    auto c = Open();
    if (k.Index) c->SwitchToIndex(k.Index);
    if (k.Transaction) FDir.StartTransaction();
    // Find the target by walking the current index.
    std::vector<std::uint8_t> b(c->RecordSize());
    auto id = [&] { return static_cast<std::int32_t>(GetLE32(c->GetField(1, b).Bytes, 0)); };
    c->SetToBegin();
    while (c->GetNextRecord(b) == TARN_NONE && id() != target) {
    }
    ASSERT_EQ(id(), target);
    const std::vector<std::int32_t> before = IndexOrder(k.Index);
    const auto recordNo = c->CurrentRecordNo();
    TNote changed = FModel[recordNo].Note;
    // Both changes move the record to the middle of its index elsewhere.
    if (k.TitleChanges) {
      char title[8];
      std::snprintf(title, sizeof title, "t%03dx", (target + 250) % Count);
      changed.Title = title;
    } else {
      changed.Count = (*changed.Count + 3) % 7;
    }
    PutNote(*c, b, changed);
    c->ModifyRecord(b, true, k.Reposition);
    FModel[recordNo].Note = changed;
    const std::vector<std::int32_t> after = IndexOrder(k.Index);
    const bool keyStayed = !k.Index || (std::string(k.Index) == "ByTitle") != k.TitleChanges;
    const auto at = [&](const std::vector<std::int32_t>& ids, std::int32_t whose) {
      return std::find(ids.begin(), ids.end(), whose) - ids.begin();
    };
    if (keyStayed || k.Reposition) {
      const auto rank = at(after, target);
      ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
      EXPECT_EQ(id(), target);
      EXPECT_EQ(c->GetSeqNo(), rank + 1);
      ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
      EXPECT_EQ(id(), after[static_cast<std::size_t>(rank + 1)]);
      ASSERT_EQ(c->GetPriorRecord(b), TARN_NONE);
      ASSERT_EQ(c->GetPriorRecord(b), TARN_NONE);
      EXPECT_EQ(id(), after[static_cast<std::size_t>(rank - 1)]);
    } else {
      // The crack where the old key was: the next record is the one that
      // followed it.
      const auto rank = at(before, target);
      ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
      EXPECT_EQ(id(), before[static_cast<std::size_t>(rank + 1)]);
    }
    if (k.Transaction) FDir.Commit(false, false);
  }
  auto c = Open();
  CheckTable(*c, FModel);
}

// A delete leaves the cursor on the crack before the record that followed the
// deleted one in the current index, whether that record is in the same leaf
// or the next, or there is none, or it lies past the cursor's range: a walk
// that deletes every other record checks the crack at each step.
TEST_F(TModifyTest, ADeleteLeavesTheCursorBeforeTheNextRecord) {
  CreateNotes();
  constexpr int Count = 600;
  for (const char* index : {static_cast<const char*>(nullptr), "ByTitle", "ByCount"}) {
    for (const bool ranged : {false, true}) {
      SCOPED_TRACE(std::string(index ? index : "primary") + (ranged ? " range" : ""));
      auto c = Open();
      FModel.clear();
      c->SetToBegin();
      std::vector<std::uint8_t> b(c->RecordSize());
      while (c->GetNextRecord(b) == TARN_NONE) c->DeleteRecord(b, true);
      for (int i = 1; i <= Count; ++i) {
        char title[8];
        std::snprintf(title, sizeof title, "t%03d", (i * 7) % Count);
        Insert(*c, {i, std::string(title), i % 5, ""});
      }
      if (index) c->SwitchToIndex(index);
      std::vector<std::int32_t> order = IndexOrder(index);
      auto id = [&] { return static_cast<std::int32_t>(GetLE32(c->GetField(1, b).Bytes, 0)); };
      if (ranged) {
        // Bounds on the first key field: from the lowest value to the one of
        // the record at three quarters.
        const std::int32_t last = order[Count * 3 / 4];
        std::vector<std::uint8_t> low(c->RecordSize());
        std::vector<std::uint8_t> high(c->RecordSize());
        c->InitRecord(low);
        c->InitRecord(high);
        const TModelRecord* lastRecord = nullptr;
        for (const auto& [r, m] : FModel)
          if (m.Note.Id == last) lastRecord = &m;
        PutNote(*c, high, lastRecord->Note);
        PutNote(*c, low, {0, std::string(""), 0, ""});
        c->SetRange(low, 1, high, 1, false);
        std::vector<std::int32_t> inRange;
        c->SetToBegin();
        while (c->GetNextRecord(b) == TARN_NONE) inRange.push_back(id());
        ASSERT_FALSE(inRange.empty());
        ASSERT_LT(inRange.size(), order.size());
        order = inRange;
      }
      // Delete every other record of the walk; the next record is then the
      // one after the deleted one.
      c->SetToBegin();
      std::size_t at = 0;
      bool reposition = false;
      while (at < order.size()) {
        ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
        ASSERT_EQ(id(), order[at]);
        c->DeleteRecord(b, reposition);
        reposition = !reposition;
        if (at + 1 == order.size()) {
          EXPECT_EQ(c->GetNextRecord(b), TARN_EOF);
          break;
        }
        ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
        ASSERT_EQ(id(), order[at + 1]);
        EXPECT_EQ(c->GetSeqNo(), static_cast<std::int64_t>(at / 2 + 1));
        at += 2;
      }
      // The last record of the view: nothing follows it.
      c->SetToEnd();
      ASSERT_EQ(c->GetPriorRecord(b), TARN_NONE);
      const std::int32_t lastId = id();
      c->DeleteRecord(b, false);
      EXPECT_EQ(c->GetNextRecord(b), TARN_EOF);
      for (auto it = FModel.begin(); it != FModel.end();) {
        const auto pos = std::find(order.begin(), order.end(), it->second.Note.Id);
        if (it->second.Note.Id == lastId || (pos != order.end() && (pos - order.begin()) % 2 == 0))
          it = FModel.erase(it);
        else
          ++it;
      }
      c->ResetRange();
      CheckTable(*c, FModel);
    }
  }
}

TEST_F(TModifyTest, DeletingRecordsWithStopWordsKeepsTheTextIndex) {
  CreateNotes();
  auto c = Open();
  Insert(*c, {1, "the and of", 1, "THE a an the AND words"});
  Insert(*c, {2, "of the", 2, "what when which"});
  Seek(*c, 1);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  const std::int32_t r = c->CurrentRecordNo();
  c->DeleteRecord(b, true);
  FModel.erase(r);
  CheckTable(*c, FModel);
  // The cursor lands next to the deleted record: the next record is Id 2.
  ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
  EXPECT_EQ(GetLE32(c->GetField(1, b).Bytes, 0), 2u);
}

TEST_F(TModifyTest, DeleteRefusesAStaleCopy) {
  CreateNotes();
  auto c = Open();
  auto other = Open();
  Insert(*c, {1, "one", 1, "body"});
  Seek(*c, 1);
  std::vector<std::uint8_t> stale(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(stale), TARN_NONE);
  Seek(*other, 1);
  std::vector<std::uint8_t> b(other->RecordSize());
  ASSERT_EQ(other->GetCurrentRecord(b), TARN_NONE);
  ASSERT_EQ(other->GetCurrentRecord(b, true), TARN_NONE);
  PutNote(*other, b, {1, "uno", 1, "new body"});
  other->ModifyRecord(b, true, true);
  FModel.begin()->second.Note = {1, "uno", 1, "new body"};
  EXPECT_EQ(CodeOf([&] { c->DeleteRecord(stale, true); }), TARN_KEYORRECDELETED);
  CheckTable(*c, FModel);
}

// ------------------------------------------------------------- constraints ----

TEST_F(TModifyTest, ConstraintsNameTheFieldThatFails) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Name", FieldType::String, 0, 10));
  def.Fields.push_back(MakeFieldDesc(2, "Qty", FieldType::Int32));
  def.Fields.push_back(MakeFieldDesc(3, "Price", FieldType::Float));
  def.Fields.push_back(MakeFieldDesc(4, "Day", FieldType::Date));
  def.Fields[0].SetFieldRequired(true);
  def.Fields[0].SetFieldDefault("anon");
  def.Fields[1].SetFieldMin("1");
  def.Fields[1].SetFieldMax("100");
  def.Fields[1].SetFieldDefault("7");
  def.Fields[2].SetFieldMax("9.5");
  def.Fields[3].SetFieldMin("2000-01-01");
  def.Fields[3].SetFieldDefault("2001-2-3");
  AssignFieldOffsets(def.Fields);
  TDataTable& t = FDir.CreateTable("Checked", false, false, def);
  FDir.ReleaseTable(t, false);
  auto c = Open("Checked");
  std::vector<std::uint8_t> b = Buffer(*c);
  // The defaults, converted by type.
  EXPECT_STREQ(reinterpret_cast<const char*>(c->GetField(1, b).Bytes.data()), "anon");
  EXPECT_EQ(GetLE32(c->GetField(2, b).Bytes, 0), 7u);
  EXPECT_TRUE(c->GetField(3, b).Blank);
  EXPECT_FALSE(c->GetField(4, b).Blank);
  c->CheckConstraints(b);

  auto put32 = [&](std::vector<std::uint8_t>& r, int field, std::int32_t v) {
    std::array<std::uint8_t, 4> x{};
    PutLE32(x, 0, static_cast<std::uint32_t>(v));
    c->PutField(field, r, std::span<const std::uint8_t>(x));
  };
  auto putDouble = [&](std::vector<std::uint8_t>& r, int field, double v) {
    std::array<std::uint8_t, 8> x{};
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, 8);
    PutLE64(x, 0, bits);
    c->PutField(field, r, std::span<const std::uint8_t>(x));
  };
  struct TCase {
    const char* What;
    std::function<void(std::vector<std::uint8_t>&)> Change;
    TErrorCode Code;
    const char* Field;
  } cases[] = {
      {"required blank", [&](auto& r) { c->PutField(1, r, std::nullopt); }, TARN_REQDERR, "Name"},
      {"blank spaces are blank", [&](auto& r) { c->PutField(1, r, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("   "), 3)); }, TARN_REQDERR, "Name"},
      {"below minimum", [&](auto& r) { put32(r, 2, 0); }, TARN_MINVALERR, "Qty"},
      {"blank compares as zero", [&](auto& r) { c->PutField(2, r, std::nullopt); }, TARN_MINVALERR, "Qty"},
      {"at minimum", [&](auto& r) { put32(r, 2, 1); }, TARN_NONE, ""},
      {"at maximum", [&](auto& r) { put32(r, 2, 100); }, TARN_NONE, ""},
      {"above maximum", [&](auto& r) { put32(r, 2, 101); }, TARN_MAXVALERR, "Qty"},
      {"float above", [&](auto& r) { putDouble(r, 3, 9.51); }, TARN_MAXVALERR, "Price"},
      {"negative float", [&](auto& r) { putDouble(r, 3, -3); }, TARN_NONE, ""},
      {"date below", [&](auto& r) { put32(r, 4, 1000); }, TARN_MINVALERR, "Day"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.What);
    std::vector<std::uint8_t> r = Buffer(*c);
    k.Change(r);
    FLastError.clear();
    EXPECT_EQ(CodeOf([&] { c->InsertRecord(r, false); }), k.Code);
    EXPECT_EQ(FLastError, k.Field);
  }
  EXPECT_EQ(c->GetRecordCount(), 3);  // the three cases that passed
}

TEST_F(TModifyTest, KeepAutoIncKeepsTheGivenValueAndRaisesLastAutoInc) {
  TTableDefinition def;
  def.Fields.push_back(MakeFieldDesc(1, "Key", FieldType::Int32, FieldSubType::AutoInc));
  def.Fields.push_back(MakeFieldDesc(2, "Name", FieldType::String, 0, 10));
  AssignFieldOffsets(def.Fields);
  TDataTable& t = FDir.CreateTable("Auto", false, false, def);
  FDir.ReleaseTable(t, false);
  auto c = Open("Auto");
  auto insert = [&](std::int32_t key) {
    std::vector<std::uint8_t> b = Buffer(*c);
    std::array<std::uint8_t, 4> v{};
    PutLE32(v, 0, static_cast<std::uint32_t>(key));
    c->PutField(1, b, std::span<const std::uint8_t>(v));
    c->InsertRecord(b, true);
    return static_cast<std::int32_t>(GetLE32(c->GetField(1, b).Bytes, 0));
  };
  EXPECT_EQ(insert(77), 1);  // without KeepAutoInc the table numbers the record
  c->SetKeepAutoInc(true);
  EXPECT_EQ(insert(50), 50);
  EXPECT_EQ(c->Table().DataFile().GetLastAutoInc(), 50);
  EXPECT_EQ(insert(20), 20);
  EXPECT_EQ(c->Table().DataFile().GetLastAutoInc(), 50);  // never lowered
  EXPECT_EQ(CodeOf([&] { insert(20); }), TARN_KEYVIOL);
  EXPECT_EQ(FLastError, "Sys Deleted");
  c->SetKeepAutoInc(false);
  EXPECT_EQ(insert(0), 51);
  EXPECT_EQ(c->GetRecordCount(), 4);
}

// ------------------------------------------------------------ record locks ----

TEST_F(TModifyTest, PessimisticEditLocksAgainstOtherCursors) {
  CreateNotes();
  auto a = Open();
  auto b = Open();
  Insert(*a, {1, "one", 1, ""});
  Seek(*a, 1);
  Seek(*b, 1);
  std::vector<std::uint8_t> ra(a->RecordSize());
  std::vector<std::uint8_t> rb(b->RecordSize());
  ASSERT_EQ(a->GetCurrentRecord(ra), TARN_NONE);
  ASSERT_EQ(b->GetCurrentRecord(rb), TARN_NONE);
  ASSERT_EQ(a->GetCurrentRecord(ra, true), TARN_NONE);
  EXPECT_EQ(CodeOf([&] { (void)b->GetCurrentRecord(rb, true); }), TARN_RECLOCKFAILED);
  EXPECT_EQ(CodeOf([&] { b->DeleteRecord(rb, true); }), TARN_RECLOCKFAILED);
  std::array<std::uint8_t, 4> v{};
  PutLE32(v, 0, 9);
  a->PutField(3, ra, std::span<const std::uint8_t>(v));
  a->ModifyRecord(ra, true, true);
  EXPECT_EQ(a->LockedRecNo(), 0);
  // b still holds the old copy: its edit now meets the change.
  EXPECT_EQ(CodeOf([&] { (void)b->GetCurrentRecord(rb, true); }), TARN_KEYORRECDELETED);
  EXPECT_EQ(b->LockedRecNo(), 0);
  ASSERT_EQ(b->GetCurrentRecord(rb), TARN_NONE);
  ASSERT_EQ(b->GetCurrentRecord(rb, true), TARN_NONE);
  b->UnlockCurrentRecord();
  EXPECT_EQ(b->LockedRecNo(), 0);
  ASSERT_EQ(a->GetCurrentRecord(ra, true), TARN_NONE);  // free again
  // Deleting the record under edit ends the edit's lock with it.
  a->DeleteRecord(ra, true);
  EXPECT_EQ(a->LockedRecNo(), 0);
  EXPECT_FALSE(a->Table().CursorLocked(1));
  FModel.clear();
  CheckTable(*a, FModel);
}

TEST_F(TModifyTest, OptimisticPostOfAChangedRecordFailsUntilCancelled) {
  FSession.SetLockProtocol(TLockProtocol::Optimistic);
  CreateNotes();
  auto a = Open();
  auto b = Open();
  Insert(*a, {1, "one", 1, ""});
  Seek(*a, 1);
  Seek(*b, 1);
  std::vector<std::uint8_t> ra(a->RecordSize());
  std::vector<std::uint8_t> rb(b->RecordSize());
  ASSERT_EQ(a->GetCurrentRecord(ra), TARN_NONE);
  ASSERT_EQ(b->GetCurrentRecord(rb), TARN_NONE);
  ASSERT_EQ(a->GetCurrentRecord(ra, true), TARN_NONE);
  ASSERT_EQ(b->GetCurrentRecord(rb, true), TARN_NONE);
  EXPECT_EQ(a->LockedRecNo(), 0);
  std::array<std::uint8_t, 4> v{};
  PutLE32(v, 0, 10);
  a->PutField(3, ra, std::span<const std::uint8_t>(v));
  a->ModifyRecord(ra, true, true);
  PutLE32(v, 0, 20);
  b->PutField(3, rb, std::span<const std::uint8_t>(v));
  EXPECT_EQ(CodeOf([&] { b->ModifyRecord(rb, true, true); }), TARN_KEYORRECDELETED);
  EXPECT_TRUE(b->RecordChanged());
  // Even with the current image reloaded, the post keeps failing ...
  ASSERT_EQ(b->GetCurrentRecord(rb), TARN_NONE);
  b->PutField(3, rb, std::span<const std::uint8_t>(v));
  EXPECT_EQ(CodeOf([&] { b->ModifyRecord(rb, true, true); }), TARN_KEYORRECDELETED);
  // ... until the edit is cancelled.
  b->UnlockCurrentRecord();
  EXPECT_FALSE(b->RecordChanged());
  ASSERT_EQ(b->GetCurrentRecord(rb), TARN_NONE);
  ASSERT_EQ(b->GetCurrentRecord(rb, true), TARN_NONE);
  b->PutField(3, rb, std::span<const std::uint8_t>(v));
  b->ModifyRecord(rb, true, true);
  FModel.begin()->second.Note.Count = 20;
  CheckTable(*b, FModel);
  EXPECT_EQ(b->Table().CursorLocked(b->CurrentRecordNo()), false);
}

// ------------------------------------------------------------ blob buffers ----

TEST_F(TModifyTest, BlobBufferResults) {
  CreateNotes();
  auto c = Open();
  Insert(*c, {1, "one", 1, "0123456789"});
  Seek(*c, 1);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  std::uint32_t size = 0;
  std::uint32_t count = 0;
  std::array<std::uint8_t, 16> dest{};
  EXPECT_EQ(c->ReadBlob(4, b, 0, 1, dest, count), TARN_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->OpenBlob(2, b, TDataCursor::TBlobMode::Read, size), TARN_NOTABLOB);
  ASSERT_EQ(c->OpenBlob(4, b, TDataCursor::TBlobMode::Read, size), TARN_NONE);
  EXPECT_EQ(size, 10u);
  struct TCase {
    std::uint32_t Offset, Length, Count;
    TErrorCode Code;
  } cases[] = {{0, 10, 10, TARN_NONE}, {9, 10, 1, TARN_ENDOFBLOB}, {10, 10, 0, TARN_ENDOFBLOB},
               {50, 1, 0, TARN_ENDOFBLOB}, {3, 4, 4, TARN_NONE}};
  for (const TCase& k : cases) {
    EXPECT_EQ(c->ReadBlob(4, b, k.Offset, k.Length, dest, count), k.Code) << k.Offset;
    EXPECT_EQ(count, k.Count) << k.Offset;
  }
  EXPECT_EQ(dest[0], '3');
  // A second open counts a use; two closes put the reference back.
  ASSERT_EQ(c->OpenBlob(4, b, TDataCursor::TBlobMode::Read, size), TARN_NONE);
  EXPECT_EQ(c->OpenBlobCount(), 1u);
  ASSERT_EQ(c->CloseBlob(4, b), TARN_NONE);
  ASSERT_EQ(c->CloseBlob(4, b), TARN_NONE);
  EXPECT_EQ(c->OpenBlobCount(), 0u);
  std::vector<std::uint8_t> current(c->RecordSize());
  ASSERT_EQ(c->GetCurrentRecord(current), TARN_NONE);
  EXPECT_EQ(b, current);
  // 128 buffers at most per cursor.
  std::vector<std::vector<std::uint8_t>> many(TDataCursor::MaxOpenBlobs + 1, b);
  for (std::size_t i = 0; i < TDataCursor::MaxOpenBlobs; ++i)
    ASSERT_EQ(c->OpenBlob(4, many[i], TDataCursor::TBlobMode::Read, size), TARN_NONE);
  EXPECT_EQ(c->OpenBlob(4, many.back(), TDataCursor::TBlobMode::Read, size), TARN_OPENBLOBLIMIT);
  c->FreeBlobs(true);
  EXPECT_EQ(c->OpenBlobCount(), 0u);
}

TEST_F(TModifyTest, CopyCurrentRecordDuplicatesTheBlob) {
  CreateNotes();
  auto c = Open();
  Insert(*c, {1, "one", 1, "shared words here"});
  Seek(*c, 1);
  std::vector<std::uint8_t> b(c->RecordSize());
  ASSERT_EQ(c->CopyCurrentRecord(b), TARN_NONE);
  std::array<std::uint8_t, 4> v{};
  PutLE32(v, 0, 2);
  c->PutField(1, b, std::span<const std::uint8_t>(v));
  c->PutField(2, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("two"), 3));
  c->InsertRecord(b, true);
  FModel[c->CurrentRecordNo()] = {{2, "two", 1, "shared words here"}, 2};
  CheckTable(*c, FModel);
  // Deleting the copy leaves the original's blob intact.
  ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
  const std::int32_t r = c->CurrentRecordNo();
  c->DeleteRecord(b, true);
  FModel.erase(r);
  CheckTable(*c, FModel);
}

}  // namespace
