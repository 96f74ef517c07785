// The deep table check: clean on tables that record modification wrote (with
// deletes, free slots, blobs and full-text words), and each kind of damage
// reported with its file, record and place.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/cursor/table_check.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;

class TTableCheckTest : public ::testing::Test {
 protected:
  // "Notes" with 30 records, every third deleted again, bodies of 0 to a few
  // blocks, titles with words for "Sys Text".
  void SetUp() override {
    TDataTable& t = FDir.CreateTable("Notes", false, false, NotesDefinition());
    FDir.ReleaseTable(t, false);
    auto c = Open();
    std::vector<std::uint8_t> b(c->RecordSize());
    for (int i = 0; i < 30; ++i) {
      c->InitRecord(b);
      PutNote(*c, b,
              TNote{i + 1, "title number " + std::to_string(i), i % 4 == 0 ? std::nullopt : std::optional(i % 5),
                    i % 3 == 1 ? std::string() : std::string(static_cast<std::size_t>(i * 61), 'a' + i % 26)});
      c->InsertRecord(b, false);
    }
    c->SetToBegin();
    for (int i = 0; i < 30; ++i) {
      ASSERT_EQ(c->GetNextRecord(b), TARN_NONE);
      if (i % 3 == 2) c->DeleteRecord(b, false);
    }
  }

  std::unique_ptr<TDataCursor> Open() {
    auto c = std::make_unique<TDataCursor>(FDir);
    c->SetTableName("Notes");
    c->OpenCursor();
    return c;
  }

  TTableCheckResult Check() {
    auto c = Open();
    return CheckTable(*c);
  }

  // The problems as "file record text" lines, for messages.
  static std::string Describe(const TTableCheckResult& r) {
    std::string s;
    for (const TTableProblem& p : r.Problems) {
      s += std::string(TableFilePartName(p.File)) + " @" + std::to_string(p.Offset) + " #" +
           std::to_string(p.RecordNo) + " " + p.Text + "\n";
    }
    return s;
  }

  static bool Reports(const TTableCheckResult& r, TTableFilePart file, const std::string& text,
                      std::int32_t recordNo = -1) {
    return std::any_of(r.Problems.begin(), r.Problems.end(), [&](const TTableProblem& p) {
      return p.File == file && p.Text.find(text) != std::string::npos && (recordNo < 0 || p.RecordNo == recordNo);
    });
  }

  // Changes the shared table under a write bracket and writes the buffers.
  void Damage(const std::function<void(TDataTable&)>& change) {
    auto c = Open();
    TDataTable& t = c->Table();
    {
      TTableWriteBracket lock(t);
      change(t);
      t.WriteBuffers();
    }
  }

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDir = FSession.OpenDirectory("Notes", FTemp.Path());
};

TEST_F(TTableCheckTest, WrittenTableIsClean) {
  const TTableCheckResult r = Check();
  EXPECT_TRUE(r.Clean()) << Describe(r);
  EXPECT_EQ(r.ActiveRecords, 20);
  EXPECT_EQ(r.DeletedRecords, 10);
  EXPECT_EQ(r.BlobChains, 9);  // bodies of the live records
  EXPECT_GE(r.BlobBlocks, r.BlobChains);
  EXPECT_GT(r.FreeBlocks, 0);  // the deleted records' bodies
  // Keys: primary, ByTitle, ByCount and "Sys Deleted" per slot, plus words.
  EXPECT_GT(r.Keys, 20 * 3 + 30);
}

TEST_F(TTableCheckTest, MarkOfAnInterruptedWriteIsReported) {
  {
    auto c = Open();
    c->CloseCursor();
  }
  // Byte 4 of the index header is the in-progress mark.
  const std::string idx = FTemp.Path() + "/Notes.IDX";
  FILE* f = std::fopen(idx.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 4, SEEK_SET);
  std::fputc(1, f);
  std::fclose(f);
  const TTableCheckResult r = Check();
  EXPECT_TRUE(Reports(r, TTableFilePart::Index, "interrupted write")) << Describe(r);
}

TEST_F(TTableCheckTest, DamageIsReportedWhereItIs) {
  struct TCase {
    const char* Name;
    std::function<void(TDataTable&)> Change;
    TTableFilePart File;
    std::string Text;
    std::int32_t RecordNo;
  };
  const auto removeKey = [](int slot, std::int32_t recordNo) {
    return [slot, recordNo](TDataTable& t) {
      TRecordPin pin = t.DataFile().GetRecord(nullptr, recordNo);
      const TKeyDef& def = t.IndexFile().KeyDef(slot);
      std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
      BuildKey(def, pin->Data(), std::span<std::uint8_t>(key.data(), def.KeySize));
      TFixedTreeContext ctx(slot);
      TBTree(t.IndexFile()).RemoveKey(ctx, key.data());
    };
  };
  const std::vector<TCase> cases = {
      {"key missing from a secondary index", removeKey(1, 4), TTableFilePart::Index, "lacks the key", 4},
      {"key missing from the primary index", removeKey(0, 7), TTableFilePart::Index, "primary index lacks", 7},
      {"record changed behind the indexes",
       [](TDataTable& t) {
         TRecordPin pin = t.DataFile().GetRecord(nullptr, 5);
         pin->MutableData()[RecordLayout::ControlSize + 1] ^= 0x40;  // low byte of Id
         pin->MarkModified();
       },
       TTableFilePart::Index, "lacks the key", 5},
      {"two records with one identifier",
       [](TDataTable& t) {
         const std::int32_t id = TRecordPin(t.DataFile().GetRecord(nullptr, 1))->GetAutoInc();
         TRecordPin pin = t.DataFile().GetRecord(nullptr, 2);
         pin->SetAutoInc(id);
         pin->MarkModified();
       },
       TTableFilePart::Data, "also that of record 1", 2},
      {"free list through an active record",
       [](TDataTable& t) {
         TRecordPin pin = t.DataFile().GetRecord(nullptr, t.DataFile().GetFirstFreeRecord());
         pin->SetLink(1);
         pin->MarkModified();
       },
       TTableFilePart::Data, "free list leads to active record 1", 0},
      {"foreign stamp in a blob block",
       [](TDataTable& t) {
         // Record 28's body (field 4) spans four blocks; stamp its second.
         TRecordPin rec = t.DataFile().GetRecord(nullptr, 28);
         const TFieldRead body = GetFieldValue(rec->Data(), t.DataFile().FieldDefs()[3]);
         TBlockPin first = t.BlobFile().GetBlock(nullptr, static_cast<std::int32_t>(GetLE32(body.Bytes, 0)), 1, false);
         TBlockPin pin = t.BlobFile().GetBlock(nullptr, first->NextBlock(), 1, false);
         pin->SetBlobStamp(pin->BlobStamp() + 1);
       },
       TTableFilePart::Blob, "foreign stamp", 28},
      {"blob block lost from the free list",
       [](TDataTable& t) {
         TBlockPin pin = t.BlobFile().GetBlock(nullptr, t.BlobFile().Header().FreeBlockList, 1, false);
         pin->SetNextBlock(0);
       },
       TTableFilePart::Blob, "neither in a blob nor free", 0},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    testing_support::TTempDir dir;
    // Each case damages a fresh copy of the table.
    for (const char* ext : {"DAT", "IDX", "BLB"}) {
      const std::string from = FTemp.Path() + "/Notes." + ext;
      const std::string to = dir.Path() + "/Notes." + ext;
      std::FILE* in = std::fopen(from.c_str(), "rb");
      std::FILE* out = std::fopen(to.c_str(), "wb");
      ASSERT_TRUE(in && out);
      std::array<char, 4096> buf{};
      std::size_t n = 0;
      while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) std::fwrite(buf.data(), 1, n, out);
      std::fclose(in);
      std::fclose(out);
    }
    TDataSession session;
    TDataDirectory& d = session.OpenDirectory("Copy", dir.Path());
    {
      TDataCursor c(d);
      c.SetTableName("Notes");
      c.OpenCursor();
      TDataTable& t = c.Table();
      TTableWriteBracket lock(t);
      k.Change(t);
      t.WriteBuffers();
    }
    TDataCursor c(d);
    c.SetTableName("Notes");
    c.OpenCursor();
    const TTableCheckResult r = CheckTable(c);
    EXPECT_FALSE(r.Clean());
    const std::int32_t recordNo = k.RecordNo == 0 ? -1 : k.RecordNo;
    EXPECT_TRUE(Reports(r, k.File, k.Text, recordNo)) << Describe(r);
  }
  // The original was not touched.
  EXPECT_TRUE(Check().Clean());
}

}  // namespace
