// Table maintenance through the cursor: the definition checks, creating,
// deleting, renaming and emptying tables, adding indexes (duplicates of a new
// unique index deleted) and deleting them.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"
#include "modify_fixture.h"
#include "restructure_fixture.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace modify_testing;
namespace fs = std::filesystem;

TErrorCode CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

TIndexDescriptor IndexOver(std::string name, std::initializer_list<std::int16_t> fields, bool unique) {
  TIndexDescriptor d;
  d.IndexName = std::move(name);
  d.Unique = unique;
  int i = 0;
  for (std::int16_t f : fields) d.FieldNumbers[static_cast<std::size_t>(i++)] = f;
  return d;
}

class TMaintenanceTest : public ::testing::Test {
 protected:
  std::unique_ptr<TDataCursor> Cursor(std::string_view name = "Notes", bool exclusive = true) {
    auto c = std::make_unique<TDataCursor>(FDir);
    c->SetTableName(name);
    c->SetExclusive(exclusive);
    return c;
  }
  std::unique_ptr<TDataCursor> Open(std::string_view name = "Notes", bool exclusive = true) {
    auto c = Cursor(name, exclusive);
    c->OpenCursor();
    return c;
  }
  void CreateNotes() { Cursor()->CreateTable(NotesDefinition(), false); }
  std::int32_t Insert(TDataCursor& c, const TNote& note) {
    std::vector<std::uint8_t> b(c.RecordSize());
    c.InitRecord(b);
    PutNote(c, b, note);
    c.InsertRecord(b, true);
    const std::int32_t r = c.CurrentRecordNo();
    FModel[r] = {note, static_cast<std::int32_t>(GetLE32(b, RecordLayout::RecAutoInc))};
    return r;
  }
  bool Exists(const std::string& file) const { return fs::exists(FTemp.File(file)); }

  testing_support::TTempDir FTemp;
  TDataSession FSession;
  TDataDirectory& FDir = FSession.OpenDirectory("Maint", FTemp.Path());
  TModel FModel;
};

// Each broken definition is refused with its code before any file exists.
TEST_F(TMaintenanceTest, DefinitionErrors) {
  struct TCase {
    const char* What;
    std::function<void(TTableDefinition&)> Break;
    TErrorCode Code;
  };
  const TCase cases[] = {
      {"encrypted without password", [](TTableDefinition& d) { d.Encrypted = true; d.Password = "   "; }, TARN_INVALIDPASSWORD},
      {"password of 16", [](TTableDefinition& d) { d.Encrypted = true; d.Password = std::string(16, 'p'); }, TARN_INVALIDPASSWORD},
      {"language not installed", [](TTableDefinition& d) { d.LanguageId = 0x7F3F; }, TARN_CANNOTLOADLDDRV},
      {"no fields", [](TTableDefinition& d) { d.Fields.clear(); d.Primary = {}; d.Secondary.clear(); d.TextIndex.reset(); }, TARN_FLDLIMIT},
      {"1025 fields", [](TTableDefinition& d) {
         for (int i = 5; i <= 1025; ++i) d.Fields.push_back(MakeFieldDesc(static_cast<std::uint16_t>(i), "F" + std::to_string(i), FieldType::Int16));
       }, TARN_FLDLIMIT},
      {"auto-increment below -1", [](TTableDefinition& d) { d.LastAutoInc = -2; }, TARN_FLDLIMIT},
      {"31 secondary indexes", [](TTableDefinition& d) {
         for (int i = 0; i < 29; ++i) d.Secondary.push_back(IndexOver("X" + std::to_string(i), {3}, false));
       }, TARN_INDEXLIMIT},
      {"blob block of 63", [](TTableDefinition& d) { d.BlobBlockSize = 63; }, TARN_BLOBLIMIT},
      {"name starting with a digit", [](TTableDefinition& d) { d.Fields[1].SetFieldName("2Title"); }, TARN_INVALIDFIELDNAME},
      {"empty name", [](TTableDefinition& d) { d.Fields[1].SetFieldName("  "); }, TARN_INVALIDFIELDNAME},
      {"names differing in case", [](TTableDefinition& d) { d.Fields[2].SetFieldName(" TITLE "); }, TARN_INVALIDFIELDNAME},
      {"two fields numbered 2", [](TTableDefinition& d) { d.Fields[2].SetFieldNo(2); }, TARN_INVALIDFLDTYPE},
      {"field without a type", [](TTableDefinition& d) { d.Fields[2].SetFieldType(0); }, TARN_INVALIDFLDTYPE},
      {"string of 251", [](TTableDefinition& d) { d.Fields[1].SetFieldSize(251); }, TARN_INVALIDFLDTYPE},
      {"default not a number", [](TTableDefinition& d) { d.Fields[2].SetFieldDefault("many"); }, TARN_INVALIDVCHKSTRUCT},
      {"index name with a digit first", [](TTableDefinition& d) { d.Secondary[0].IndexName = "1st"; }, TARN_INVALIDINDEXNAME},
      {"index names differing in case", [](TTableDefinition& d) { d.Secondary[1].IndexName = "bytitle"; }, TARN_INDEXEXISTS},
      {"zero before a field number", [](TTableDefinition& d) { d.Secondary[1].FieldNumbers[1] = 0; d.Secondary[1].FieldNumbers[2] = 2; }, TARN_INVALIDIDXDESC},
      {"unknown key field", [](TTableDefinition& d) { d.Primary.FieldNumbers[0] = 9; }, TARN_INVALIDIDXDESC},
      {"blob key field", [](TTableDefinition& d) { d.Secondary[1].FieldNumbers[0] = 4; }, TARN_SEARCHCOLREQD},
      {"full text over an integer", [](TTableDefinition& d) { d.TextIndex->FieldNumbers[0] = 3; }, TARN_SEARCHCOLREQD},
      {"key over 522 bytes", [](TTableDefinition& d) {
         d.Fields.clear();
         TIndexDescriptor big;
         big.IndexName = "Big";
         for (int i = 1; i <= 16; ++i) {
           d.Fields.push_back(MakeFieldDesc(static_cast<std::uint16_t>(i), "S" + std::to_string(i), FieldType::String, 0, 250));
           big.FieldNumbers[static_cast<std::size_t>(i - 1)] = static_cast<std::int16_t>(i);
         }
         d.Primary = {};
         d.Secondary = {big};
         d.TextIndex.reset();
       }, TARN_INVALIDKEY},
  };
  for (const TCase& c : cases) {
    TTableDefinition def = NotesDefinition();
    c.Break(def);
    EXPECT_EQ(CodeOf([&] { Cursor()->CreateTable(def, false); }), c.Code) << c.What;
    EXPECT_FALSE(Exists("Notes.DAT")) << c.What;
  }
  // A last field named with a character above 127 and a 250-character string pass.
  TTableDefinition def = NotesDefinition();
  def.Fields[1].SetFieldName("\xC4sop");
  def.Fields[1].SetFieldSize(250);
  def.Secondary[0].KeySize = 0;
  EXPECT_EQ(CodeOf([&] { Cursor()->CreateTable(def, false); }), TARN_NONE);
  auto c = Open();
  EXPECT_EQ(c->Field(2).FieldName(), "\xC4sop");
  EXPECT_EQ(c->Table().IndexFile().Descriptor(1).KeySize, 252);
}

TEST_F(TMaintenanceTest, CreateRefusesAnExistingTableUnlessOverwriting) {
  CreateNotes();
  {
    auto c = Open();
    Insert(*c, {1, "one", 1, "body"});
  }
  EXPECT_EQ(CodeOf([&] { Cursor()->CreateTable(NotesDefinition(), false); }), TARN_TABLEEXISTS);
  {
    auto c = Open();
    EXPECT_EQ(c->GetRecordCount(), 1);
    // Open in this process: not even Overwrite replaces it.
    EXPECT_EQ(CodeOf([&] { Cursor()->CreateTable(NotesDefinition(), true); }), TARN_OSEACCES);
  }
  TTableDefinition other;
  other.Fields = {MakeFieldDesc(1, "Only", FieldType::Int64)};
  Cursor()->CreateTable(other, true);
  auto c = Open();
  EXPECT_EQ(c->FieldCount(), 1);
  EXPECT_EQ(c->GetRecordCount(), 0);
  EXPECT_FALSE(Exists("Notes.BLB"));  // the old blob file went with the old table
  EXPECT_EQ(CodeOf([&] { c->CreateTable(other, true); }), TARN_TABLEOPEN);
}

TEST_F(TMaintenanceTest, CreateRenumbersFieldsAndSetsTheAutoIncCounter) {
  TTableDefinition def;
  def.Fields = {MakeFieldDesc(10, "Id", FieldType::Int32, FieldSubType::AutoInc),
                MakeFieldDesc(20, "Name", FieldType::String, 0, 12)};
  def.Primary = IndexOver("", {10}, false);
  def.Secondary = {IndexOver("ByName", {20}, false)};
  def.LastAutoInc = 41;
  Cursor("Auto")->CreateTable(def, false);
  auto c = Open("Auto");
  EXPECT_EQ(c->Field(2).FieldNo(), 2);
  EXPECT_EQ(c->Table().IndexFile().Descriptor(0).FieldNumbers[0], 1);
  EXPECT_TRUE(c->Table().IndexFile().Descriptor(0).Unique);
  EXPECT_EQ(c->Table().IndexFile().Descriptor(1).FieldNumbers[0], 2);
  EXPECT_EQ(c->Table().IndexFile().Descriptor(1).KeySize, 13 + 1 + 4);
  std::vector<std::uint8_t> b(c->RecordSize());
  c->InitRecord(b);
  c->InsertRecord(b, true);
  EXPECT_EQ(GetLE32(b, RecordLayout::RecAutoInc), 42u);
}

TEST_F(TMaintenanceTest, EncryptedAndInMemoryTables) {
  TTableDefinition def = NotesDefinition();
  def.Encrypted = true;
  def.Password = " secret ";
  Cursor()->CreateTable(def, false);
  EXPECT_EQ(CodeOf([&] { Open(); }), TARN_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(CodeOf([&] { Cursor()->DeleteTable(); }), TARN_NOTSUFFTABLERIGHTS);
  FSession.AddPassword("secret");
  { Insert(*Open(), {1, "hidden", 2, "words"}); }
  Cursor()->DeleteTable();
  EXPECT_FALSE(Exists("Notes.DAT"));
  EXPECT_FALSE(Exists("Notes.IDX"));
  EXPECT_FALSE(Exists("Notes.BLB"));

  auto memory = Cursor("Scratch");
  memory->SetInMemory(true);
  memory->CreateTable(NotesDefinition(), false);
  EXPECT_EQ(CodeOf([&] { memory->CreateTable(NotesDefinition(), false); }), TARN_TABLEEXISTS);
  memory->OpenCursor();
  Insert(*memory, {5, "kept", 1, "in memory"});
  EXPECT_FALSE(Exists("Scratch.DAT"));
  memory->CloseCursor();
  memory->OpenCursor();
  EXPECT_EQ(memory->GetRecordCount(), 1);
}

TEST_F(TMaintenanceTest, DeleteAndRenameRefuseATableInUse) {
  CreateNotes();
  {
    auto open = Open("Notes", false);
    EXPECT_EQ(CodeOf([&] { Cursor()->DeleteTable(); }), TARN_OSEACCES);
    EXPECT_EQ(CodeOf([&] { Cursor()->RenameTable("Other", false); }), TARN_OSEACCES);
    EXPECT_EQ(CodeOf([&] { open->DeleteTable(); }), TARN_TABLEOPEN);
  }
  { Insert(*Open(), {1, "one", 1, "body"}); }
  Cursor()->RenameTable("Other", false);
  EXPECT_FALSE(Exists("Notes.DAT"));
  EXPECT_TRUE(Exists("Other.DAT") && Exists("Other.IDX") && Exists("Other.BLB"));
  EXPECT_EQ(Open("Other")->GetRecordCount(), 1);
  Cursor("Other")->RenameTable("ignored", true);
  EXPECT_TRUE(Exists("Other.DBK") && Exists("Other.IBK") && Exists("Other.BBK"));
  EXPECT_FALSE(Exists("Other.DAT"));
  EXPECT_EQ(CodeOf([&] { Cursor("Missing")->DeleteTable(); }), TARN_OSENOENT);
}

TEST_F(TMaintenanceTest, EmptyTableKeepsDefinitionsAndTextParameters) {
  TTableDefinition def = NotesDefinition();
  TTextIndexParams params;  // empty character sets: the defaults are stored
  params.StopWords = {"river"};
  def.TextParams = params;
  Cursor()->CreateTable(def, false);
  auto shared = Open("Notes", false);
  for (int i = 1; i <= 30; ++i) Insert(*shared, {i, "t" + std::to_string(i), i % 3, "river stone " + std::to_string(i)});
  EXPECT_EQ(CodeOf([&] { shared->EmptyTable(); }), TARN_NEEDEXCLACCESS);
  shared.reset();
  auto c = Open();
  c->EmptyTable();
  EXPECT_EQ(c->GetRecordCount(), 0);
  EXPECT_TRUE(c->AtBOF());
  FModel.clear();
  EXPECT_EQ(c->Table().DataFile().GetPhysicalRecordCount(), 0);
  TTextIndexParams stored;
  TFixedTreeContext ctx(SysTextSlot);
  ASSERT_TRUE(TTextParamsChain(c->Table().IndexFile()).Read(ctx, stored));
  EXPECT_EQ(stored.StopWords, std::vector<std::string>{"river"});
  EXPECT_TRUE(stored.SpaceChars == TTextIndexParams::Defaults().SpaceChars);
  EXPECT_TRUE(stored.IncludeChars == TTextIndexParams::Defaults().IncludeChars);
  Insert(*c, {7, "again", 1, "stone"});
  c->CloseCursor();
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), 1);
  EXPECT_EQ(CodeOf([&] {
              auto ro = Cursor();
              ro->SetReadOnly(true);
              ro->OpenCursor();
              ro->EmptyTable();
            }),
            TARN_OSEACCES);
}

// A unique index over duplicate values keeps the first record (in record
// number order) of every group; the others leave the table with all their
// keys, words and blobs.
TEST_F(TMaintenanceTest, AddUniqueIndexDeletesLaterDuplicates) {
  CreateNotes();
  auto c = Open();
  std::vector<std::int32_t> recs;
  const std::int32_t counts[] = {3, 1, 3, 2, 1, 3, 5};
  for (int i = 0; i < 7; ++i)
    recs.push_back(Insert(*c, {100 - i, "n" + std::to_string(i), counts[i], "body " + std::to_string(i)}));
  std::vector<int> percents;
  c->SetOnIndexProgress([&](int p) { percents.push_back(p); });
  FSession.SetProgressSteps(30);
  c->AddIndex(IndexOver("UCount", {3}, true));
  EXPECT_EQ(percents, (std::vector<int>{42, 85, 100}));
  for (const int i : {4, 5, 2}) FModel.erase(recs[static_cast<std::size_t>(i)]);
  EXPECT_EQ(c->GetRecordCount(), 4);
  CheckTable(*c, FModel);
  EXPECT_EQ(c->Table().IndexFile().IndexCount(), 3);
  EXPECT_EQ(c->IndexNo(), 0);
  // The new index is live for later changes.
  std::vector<std::uint8_t> b(c->RecordSize());
  c->InitRecord(b);
  PutNote(*c, b, {200, "dup", 5, ""});
  EXPECT_EQ(CodeOf([&] { c->InsertRecord(b, false); }), TARN_KEYVIOL);
  c->SwitchToIndex("UCount");
  std::vector<std::int32_t> order;
  while (c->GetNextRecord(b) == TARN_NONE) order.push_back(static_cast<std::int32_t>(GetLE32(c->GetField(1, b).Bytes, 0)));
  EXPECT_EQ(order, (std::vector<std::int32_t>{99, 97, 100, 94}));
}

// Indexes built bottom-up, three levels deep, under every leaf compression:
// each tree passes its own check and holds the live records' keys, and
// stays sound under later inserts and deletes.
TEST_F(TMaintenanceTest, BulkBuiltIndexesOfEveryCompression) {
  for (const bool unique : {false, true}) {
    for (const TKeyCompression compression :
         {TKeyCompression::None, TKeyCompression::DupByte, TKeyCompression::TrailByte, TKeyCompression::Full}) {
      SCOPED_TRACE(std::string(unique ? "unique " : "non-unique ") + std::to_string(static_cast<int>(compression)));
      TTableDefinition def;
      def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Text", FieldType::String, 0, 200)};
      def.Primary = IndexOver("", {1}, true);
      Cursor("Wide")->CreateTable(def, true);
      auto c = Open("Wide");
      std::vector<std::uint8_t> b(c->RecordSize());
      const auto put = [&](std::int32_t id, int value) {
        c->InitRecord(b);
        std::array<std::uint8_t, 4> v{};
        PutLE32(v, 0, static_cast<std::uint32_t>(id));
        c->PutField(1, b, std::span<const std::uint8_t>(v));
        const std::string text = "shared prefix " + std::to_string(100000 + value);
        c->PutField(2, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        c->InsertRecord(b, false);
      };
      for (std::int32_t i = 1; i <= 900; ++i) put(i, static_cast<int>(i * 37 % 800));
      TIndexDescriptor index = IndexOver("ByText", {2}, unique);
      index.Compression = compression;
      c->AddIndex(index);
      EXPECT_EQ(c->GetRecordCount(), unique ? 800 : 900);
      restructure_testing::CheckIndexes(*c);
      // Later changes go through the ordinary tree operations.
      c->SwitchToIndex("");
      for (std::int32_t i = 1; i <= 300; i += 3) {
        if (!restructure_testing::SeekId(*c, i)) continue;
        ASSERT_EQ(c->GetCurrentRecord(b), TARN_NONE);
        c->DeleteRecord(b, false);
      }
      for (std::int32_t i = 1000; i < 1150; ++i) put(i, 900 + i);
      restructure_testing::CheckIndexes(*c);
      c->DeleteIndex("ByText");
    }
  }
}

TEST_F(TMaintenanceTest, AddIndexChecksAndPreconditions) {
  CreateNotes();
  {
    auto shared = Open("Notes", false);
    EXPECT_EQ(CodeOf([&] { shared->AddIndex(IndexOver("X", {3}, false)); }), TARN_NEEDEXCLACCESS);
    TIndexDescriptor temp = IndexOver("Temp", {2}, false);
    temp.Temporary = true;
    Insert(*shared, {1, "b", 1, ""});
    Insert(*shared, {2, "a", 1, ""});
    shared->AddIndex(temp);
    shared->SwitchToIndex("Temp");
    std::vector<std::uint8_t> b(shared->RecordSize());
    ASSERT_EQ(shared->GetNextRecord(b), TARN_NONE);
    EXPECT_EQ(GetLE32(shared->GetField(1, b).Bytes, 0), 2u);
  }
  auto c = Open();
  EXPECT_EQ(c->Table().IndexFile().IndexCount(), 2);  // the temporary index is gone
  EXPECT_EQ(CodeOf([&] { c->AddIndex(IndexOver("ByTitle", {3}, false)); }), TARN_INDEXEXISTS);
  EXPECT_EQ(CodeOf([&] { c->AddIndex(IndexOver("Blob", {4}, false)); }), TARN_SEARCHCOLREQD);
  EXPECT_EQ(CodeOf([&] { c->AddIndex(IndexOver("None", {}, false)); }), TARN_INVALIDKEY);
  EXPECT_EQ(c->Table().IndexFile().IndexCount(), 2);
}

TEST_F(TMaintenanceTest, DeleteIndexFreesItsPages) {
  CreateNotes();
  auto c = Open();
  for (int i = 1; i <= 400; ++i) Insert(*c, {i, "title " + std::to_string(i), i % 9, ""});
  EXPECT_EQ(CodeOf([&] { c->DeleteIndex("Nope"); }), TARN_INVALIDINDEXNAME);
  c->SwitchToIndex("ByCount");
  c->DeleteIndex(" bytitle ");
  EXPECT_EQ(c->Table().IndexFile().IndexCount(), 1);
  EXPECT_EQ(c->Table().IndexFile().Descriptor(1).IndexName, "ByCount");
  EXPECT_EQ(c->IndexNo(), 0);
  CheckTable(*c, FModel);
  c->DeleteIndex("");
  EXPECT_TRUE(c->Table().IndexFile().NoPrimaryIndex());
  EXPECT_TRUE(c->InNaturalOrder());
  EXPECT_EQ(CodeOf([&] { c->DeleteIndex(""); }), TARN_INVALIDINDEXNAME);
  CheckTable(*c, FModel);
  c->CloseCursor();
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), 400);
  // A new index over a table whose pages were freed reuses nothing it must not.
  c->AddIndex(IndexOver("ByTitle2", {2}, true));
  CheckTable(*c, FModel);
}

}  // namespace
