// The index file: header and descriptors, page numbers and limits, the page
// cache, flushing, temporary indexes and encryption.

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <functional>
#include <fstream>

#include "engine/base/byte_order.h"
#include "engine/base/error_context.h"
#include "engine/table/scramble.h"
#include "index_test_fakes.h"

namespace tarn::testing {
namespace {

std::vector<std::uint8_t> ReadRaw(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PatchRaw(const std::string& name, std::size_t at, std::uint8_t value) {
  std::fstream io(name, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(at));
  io.put(static_cast<char>(value));
}

std::span<const std::uint8_t> Slot(const std::vector<std::uint8_t>& header, int slot) {
  return std::span<const std::uint8_t>(header).subspan(14 + static_cast<std::size_t>(slot) * 120, 120);
}

TEST(IndexFileHeader, FreshFileHasTheDocumentedHeader) {
  TIndexFixture fix;
  const auto raw = ReadRaw(fix.FileName());
  ASSERT_EQ(raw.size(), 4096u);
  EXPECT_EQ(GetLEI32(raw, 0), 1);  // written once
  EXPECT_EQ(raw[8], 5);
  EXPECT_EQ(GetLEI32(raw, 9), 1);
  EXPECT_EQ(raw[13], 0);
  const auto deleted = Slot(raw, 31);
  EXPECT_EQ(std::string(deleted.begin() + 1, deleted.begin() + 1 + deleted[0]), "Sys Deleted");
  EXPECT_EQ(GetLEI16(deleted, 31), 5);
  EXPECT_EQ(deleted[36], 0);
  const auto text = Slot(raw, 32);
  EXPECT_EQ(std::string(text.begin() + 1, text.begin() + 1 + text[0]), "Sys Text");
  EXPECT_EQ(GetLEI16(text, 31), 68);
  EXPECT_EQ(text[36], 3);
  EXPECT_EQ(raw[3979], 1);  // the header was dirty when written
  EXPECT_TRUE(fix.File->HeaderDirty());
  EXPECT_EQ(fix.Owner.WrittenMarks, 1);
}

TEST(IndexFileHeader, DescriptorBytesRoundTripInLittleEndian) {
  TIndexDescriptor d;
  d.IndexName = "ByName";
  d.KeySize = 0x0201;
  d.FieldCount = 2;
  d.FieldNumbers = {0x0403, 7};
  d.FieldDescending = {1, 0};
  d.RootPage = 0x08070605;
  d.FreePageList = 9;
  d.TextParamsPage = 10;
  d.NoCounts = true;
  d.Raw[95] = 0;
  d.Raw[110] = 0xAB;  // reserved bytes survive a round trip
  std::array<std::uint8_t, 120> image{};
  d.Encode(image);
  EXPECT_EQ(image[0], 6);
  EXPECT_EQ(image[31], 0x01);
  EXPECT_EQ(image[32], 0x02);
  EXPECT_EQ(image[54], 0x03);
  EXPECT_EQ(image[55], 0x04);
  EXPECT_EQ(image[86], 0x05);
  EXPECT_EQ(image[89], 0x08);
  EXPECT_EQ(image[100], 1);
  EXPECT_EQ(image[110], 0xAB);
  const TIndexDescriptor back = TIndexDescriptor::Decode(image);
  EXPECT_EQ(back.IndexName, "ByName");
  EXPECT_EQ(back.KeySize, 0x0201);
  EXPECT_EQ(back.FieldNumbers[0], 0x0403);
  EXPECT_EQ(back.RootPage, 0x08070605);
  EXPECT_EQ(back.TextParamsPage, 10);
  std::array<std::uint8_t, 120> again{};
  back.Encode(again);
  EXPECT_EQ(image, again);
}

TEST(IndexFileHeader, ChangeCountAndDirtyFlag) {
  TIndexFixture fix;
  fix.Reopen();
  EXPECT_FALSE(fix.File->HeaderDirty());
  const std::int32_t count = fix.File->ChangeCount();
  EXPECT_FALSE(fix.File->WriteIndexHeader(false));
  EXPECT_TRUE(fix.File->WriteIndexHeader(true));  // forced: written with HeaderDirty 0
  EXPECT_EQ(fix.File->ChangeCount(), count + 1);
  EXPECT_EQ(ReadRaw(fix.FileName())[3979], 0);
  fix.File->IncRecordCount();
  EXPECT_TRUE(fix.File->HeaderDirty());
  EXPECT_TRUE(fix.File->WriteIndexHeader(false));
  EXPECT_FALSE(fix.File->HeaderDirty());

  // A second object on the same file sees the change through the counter.
  TIndexFile other(fix.Owner);
  other.SetFileName(fix.FileName());
  other.OpenFile();
  EXPECT_EQ(other.RecordCount(), 1);
  fix.File->IncRecordCount();
  fix.File->WriteIndexHeader(false);
  EXPECT_TRUE(other.IndexHeaderChanged());
  EXPECT_EQ(other.RecordCount(), 2);
  EXPECT_FALSE(other.IndexHeaderChanged());
  other.BumpChangeCount();
  EXPECT_TRUE(other.HeaderDirty());
  EXPECT_EQ(other.ChangeCount(), fix.File->ChangeCount() + 1);
  other.CloseFile();
}

TEST(IndexFileHeader, OpeningRejectsTooManyIndexes) {
  TIndexFixture fix;
  fix.File->CloseFile();
  PatchRaw(fix.FileName(), 13, 40);
  TIndexFile file(fix.Owner);
  file.SetFileName(fix.FileName());
  EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), TARN_HEADERCORRUPT);
  EXPECT_FALSE(file.Opened());
}

void PatchRaw16(const std::string& name, std::size_t at, std::int16_t value) {
  PatchRaw(name, at, static_cast<std::uint8_t>(value & 0xFF));
  PatchRaw(name, at + 1, static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PatchRaw32(const std::string& name, std::size_t at, std::int32_t value) {
  for (int i = 0; i < 4; ++i) PatchRaw(name, at + static_cast<std::size_t>(i), static_cast<std::uint8_t>(value >> (8 * i)));
}

// Offset of a descriptor field in the header.
constexpr std::size_t At(int slot, std::size_t field) { return 14 + static_cast<std::size_t>(slot) * 120 + field; }

// Descriptor fields out of range stop the read of the header before any page
// is touched: a negative key size once sized page buffers and divided by zero.
TEST(IndexFileHeader, DamagedDescriptorFieldsAreIndexCorruptWhenRead) {
  namespace DL = IndexDescriptorLayout;
  struct TCase {
    const char* Name;
    std::function<void(const std::string&)> Damage;
    TErrorCode Code;
  } cases[] = {
      {"nothing damaged", [](const std::string&) {}, 0},
      {"negative key size", [](const std::string& f) { PatchRaw16(f, At(1, DL::KeySize), -10); }, TARN_INDEXCORRUPT},
      {"key size of -1", [](const std::string& f) { PatchRaw16(f, At(1, DL::KeySize), -1); }, TARN_INDEXCORRUPT},
      {"key size above 526", [](const std::string& f) { PatchRaw16(f, At(1, DL::KeySize), 527); }, TARN_INDEXCORRUPT},
      {"negative primary key size", [](const std::string& f) { PatchRaw16(f, At(0, DL::KeySize), -200); }, TARN_INDEXCORRUPT},
      {"Sys Text key size", [](const std::string& f) { PatchRaw16(f, At(32, DL::KeySize), -10); }, TARN_INDEXCORRUPT},
      {"Sys Deleted key size", [](const std::string& f) { PatchRaw16(f, At(31, DL::KeySize), 0); }, TARN_INDEXCORRUPT},
      {"unknown compression", [](const std::string& f) { PatchRaw(f, At(1, DL::Compression), 4); }, TARN_INDEXCORRUPT},
      {"temporary flag on disk", [](const std::string& f) { PatchRaw(f, At(1, DL::Temporary), 1); }, TARN_INDEXCORRUPT},
      {"negative root page", [](const std::string& f) { PatchRaw32(f, At(1, DL::RootPage), -3); }, TARN_INDEXCORRUPT},
      {"root page not yet allocated", [](const std::string& f) { PatchRaw32(f, At(1, DL::RootPage), 3); }, TARN_INDEXCORRUPT},
      {"free list beyond the file", [](const std::string& f) { PatchRaw32(f, At(1, DL::FreePageList), 9); }, TARN_INDEXCORRUPT},
      {"text parameters beyond the file", [](const std::string& f) { PatchRaw32(f, At(32, DL::TextParamsPage), 3); }, TARN_INDEXCORRUPT},
      {"next page number 0", [](const std::string& f) { PatchRaw32(f, 9, 0); }, TARN_INDEXCORRUPT},
      // Slots above IndexCount are rewritten before they are used.
      {"garbage in an unused slot", [](const std::string& f) { PatchRaw16(f, At(5, DL::KeySize), -10); }, 0},
  };
  for (const auto& c : cases) {
    TIndexFixture fix;
    fix.File->AddIndexDescriptor(MakeIndexDef("ByName", 26, false, TKeyCompression::None));
    fix.File->SetNextPageNumber(3);
    fix.File->WriteIndexHeader(true);
    fix.File->CloseFile();
    c.Damage(fix.FileName());
    TIndexFile file(fix.Owner);
    file.SetFileName(fix.FileName());
    EXPECT_EQ(CodeOf([&] { file.OpenFile(); }), c.Code) << c.Name;
    if (c.Code != 0) {
      EXPECT_FALSE(file.Opened()) << c.Name;
      EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Table)), "T") << c.Name;
    }
  }
}

// The check compares the counter alone, on plain and scrambled files: an
// unchanged counter leaves everything as it is, a moved one reloads the
// whole header, whatever other bytes differ.
TEST(IndexFileHeader, ChangeCheckFollowsTheCounterOnPlainAndScrambledFiles) {
  for (bool encrypted : {false, true}) {
    TIndexFixture fix(encrypted);
    fix.Reopen();
    TIndexFile other(fix.Owner);
    other.SetFileName(fix.FileName());
    other.OpenFile();
    EXPECT_FALSE(other.IndexHeaderChanged()) << encrypted;
    fix.File->AddIndexDescriptor(MakeIndexDef("ByName", 26, false, TKeyCompression::None));
    fix.File->IncRecordCount();
    fix.File->WriteIndexHeader(false);
    EXPECT_TRUE(other.IndexHeaderChanged()) << encrypted;
    EXPECT_EQ(other.ChangeCount(), fix.File->ChangeCount()) << encrypted;
    EXPECT_EQ(other.IndexCount(), 1) << encrypted;
    EXPECT_EQ(other.RecordCount(), 1) << encrypted;
    EXPECT_FALSE(other.IndexHeaderChanged()) << encrypted;
    other.CloseFile();
  }
}

// Another program's header write that arrives damaged is refused and the
// header in memory stays as it was.
TEST(IndexFileHeader, ADamagedHeaderSeenAsAChangeKeepsTheMemoryCopy) {
  TIndexFixture fix;
  fix.File->AddIndexDescriptor(MakeIndexDef("ByName", 26, false, TKeyCompression::None));
  fix.File->WriteIndexHeader(true);
  PatchRaw32(fix.FileName(), 0, fix.File->ChangeCount() + 1);
  PatchRaw16(fix.FileName(), At(1, IndexDescriptorLayout::KeySize), -10);
  EXPECT_EQ(CodeOf([&] { fix.File->IndexHeaderChanged(); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(fix.File->Descriptor(1).KeySize, 26);
  EXPECT_EQ(fix.File->IndexCount(), 1);
}

TEST(IndexFileDescriptors, EditsAndTheirErrors) {
  TIndexFixture fix;
  TIndexFile& file = *fix.File;
  auto def = [](const std::string& name) { return MakeIndexDef(name, 26, false, TKeyCompression::None); };
  EXPECT_EQ(file.AddIndexDescriptor(def("ByName")), 1);
  struct TCase {
    const char* Name;
    TIndexDescriptor Def;
    TErrorCode Code;
  } cases[] = {
      {"empty name", def("  "), TARN_INDEXNAMEREQUIRED},
      {"name starting with a digit", def("1st"), TARN_INVALIDINDEXNAME},
      {"same name in other case", def(" byname "), TARN_INDEXEXISTS},
      {"blob key field", [&] { auto d = def("ByNotes"); d.FieldNumbers[0] = 3; return d; }(), TARN_SEARCHCOLREQD},
      {"17 key fields", [&] { auto d = def("Wide"); d.FieldCount = 17; return d; }(), TARN_INDEXLIMIT},
  };
  for (const auto& c : cases) EXPECT_EQ(CodeOf([&] { file.AddIndexDescriptor(c.Def); }), c.Code) << c.Name;
  EXPECT_EQ(GetErrorContextItem(4), "");  // the last raise (17 fields) names no field
  EXPECT_EQ(CodeOf([&] { file.AddIndexDescriptor(cases[3].Def); }), TARN_SEARCHCOLREQD);
  EXPECT_EQ(GetErrorContextItem(4), "Notes");
  EXPECT_EQ(GetErrorContextItem(5), "ByNotes");

  for (int i = 2; i <= 30; ++i) file.AddIndexDescriptor(def("I" + std::to_string(i)));
  EXPECT_EQ(file.IndexCount(), 30);
  EXPECT_EQ(CodeOf([&] { file.AddIndexDescriptor(def("OneTooMany")); }), TARN_INDEXLIMIT);
  EXPECT_EQ(file.FindIndexName(" i7 "), 7);
  EXPECT_EQ(file.FindIndexName("nope"), -1);

  // Removing slot 2 moves the later ones down and parks it after the last.
  file.DeleteIndexDescriptor(2, true);
  EXPECT_EQ(file.IndexCount(), 29);
  EXPECT_EQ(file.Descriptor(2).IndexName, "I3");
  EXPECT_EQ(file.Descriptor(30).IndexName, "I2");

  TIndexDescriptor renamed = def("Renamed");
  renamed.FieldNumbers[0] = 2;
  renamed.KeySize = 99;
  file.RenameIndexDescriptor(1, renamed);
  EXPECT_EQ(file.Descriptor(1).IndexName, "Renamed");
  EXPECT_EQ(file.Descriptor(1).FieldNumbers[0], 2);
  EXPECT_EQ(file.Descriptor(1).KeySize, 26);

  file.ReplaceIndexDescriptor(1, def("Replaced"));
  EXPECT_EQ(file.Descriptor(1).IndexName, "Replaced");
  EXPECT_EQ(file.Descriptor(1).RootPage, 0);
}

TEST(IndexFileDescriptors, TheFullTextSlotTakesStringAndMemoFieldsOnly) {
  TIndexFixture fix;
  TIndexFile& file = *fix.File;
  TIndexDescriptor text = MakeIndexDef("ignored", 3, true, TKeyCompression::None);
  text.FieldCount = 2;
  text.FieldNumbers[1] = 3;  // the memo "Notes"
  TIndexDescriptor number = text;
  number.FieldNumbers[1] = 2;
  EXPECT_EQ(CodeOf([&] { file.SetTextDescriptor(number); }), TARN_SEARCHCOLREQD);
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Field)), "Number");
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Index)), "Sys Text");
  TIndexDescriptor tooMany = text;
  tooMany.FieldCount = 17;
  EXPECT_EQ(CodeOf([&] { file.SetTextDescriptor(tooMany); }), TARN_INDEXLIMIT);
  EXPECT_EQ(file.Descriptor(SysTextSlot).FieldCount, 0);  // nothing stored by a refusal

  file.SetTextDescriptor(text);
  fix.File->SetNoPrimaryIndex(true);
  fix.Reopen();
  const TIndexDescriptor& stored = fix.File->Descriptor(SysTextSlot);
  EXPECT_EQ(stored.IndexName, "Sys Text");
  EXPECT_EQ(stored.KeySize, 68);  // fixed, whatever the definition said
  EXPECT_EQ(stored.Compression, TKeyCompression::Full);
  EXPECT_FALSE(stored.Unique);
  EXPECT_EQ(stored.FieldCount, 2);
  EXPECT_EQ(stored.FieldNumbers[0], 1);
  EXPECT_EQ(stored.FieldNumbers[1], 3);
  EXPECT_EQ(CodeOf([&] { fix.File->VerifyIndexHeader(); }), 0);
}

TEST(IndexFileDescriptors, PrimaryIndex) {
  TIndexFixture fix;
  TIndexFile& file = *fix.File;
  TIndexDescriptor primary = MakeIndexDef("ignored", 22, false, TKeyCompression::None);
  TIndexDescriptor blob = primary;
  blob.FieldNumbers[0] = 3;
  EXPECT_EQ(CodeOf([&] { file.SetPrimaryDescriptor(blob); }), TARN_SEARCHCOLREQD);
  EXPECT_EQ(GetErrorContextItem(5), "Primary");
  file.SetPrimaryDescriptor(primary);
  EXPECT_TRUE(file.Descriptor(0).Unique);
  EXPECT_TRUE(file.Descriptor(0).IndexName.empty());
  EXPECT_FALSE(file.NoPrimaryIndex());
  EXPECT_EQ(CodeOf([&] { file.SetPrimaryDescriptor(primary); }), TARN_PRIMARYKEYREDEFINE);
  file.DeleteIndexDescriptor(0, true);
  EXPECT_TRUE(file.NoPrimaryIndex());
  EXPECT_EQ(file.Descriptor(0).KeySize, 0);
  TIndexDescriptor none;
  file.SetPrimaryDescriptor(none);
  EXPECT_TRUE(file.NoPrimaryIndex());
}

TEST(IndexFileVerify, BrokenRulesAreHeaderCorrupt) {
  struct TCase {
    const char* Name;
    std::function<void(TIndexFile&, TFakeIndexOwner&)> Break;
    TErrorCode Code;
  } cases[] = {
      {"nothing broken", [](TIndexFile&, TFakeIndexOwner&) {}, 0},
      {"gap in the field numbers",
       [](TIndexFile& f, TFakeIndexOwner&) {
         auto d = f.Descriptor(1);
         d.FieldNumbers[1] = 0;
         d.FieldNumbers[2] = 2;
         f.ReplaceIndexDescriptor(1, d);
       },
       TARN_HEADERCORRUPT},
      {"field beyond the table",
       [](TIndexFile& f, TFakeIndexOwner& o) { o.Fields.resize(1); (void)f; }, TARN_HEADERCORRUPT},
      {"key fields too long",
       [](TIndexFile&, TFakeIndexOwner& o) { o.Fields[1].Key = TKeyField{FieldType::String, 600, 0, true}; },
       TARN_HEADERCORRUPT},
      {"secondary of the same name",
       [](TIndexFile& f, TFakeIndexOwner&) {
         f.AddIndexDescriptor(MakeIndexDef("Other", 26, false, TKeyCompression::None));
         TIndexDescriptor d = f.Descriptor(2);
         d.IndexName = "BYNAME";
         f.RenameIndexDescriptor(2, d);
       },
       TARN_HEADERCORRUPT},
      {"root page beyond the file", [](TIndexFile& f, TFakeIndexOwner&) { f.SetRootPage(1, 5); }, TARN_HEADERCORRUPT},
      {"text index on a number",
       [](TIndexFile& f, TFakeIndexOwner& o) {
         (void)o;
         TIndexDescriptor d = f.Descriptor(SysTextSlot);
         d.FieldNumbers[0] = 2;
         f.RenameIndexDescriptor(SysTextSlot, d);
       },
       TARN_HEADERCORRUPT},
      {"text index on a memo",
       [](TIndexFile& f, TFakeIndexOwner&) {
         TIndexDescriptor d = f.Descriptor(SysTextSlot);
         d.FieldNumbers[0] = 3;
         f.RenameIndexDescriptor(SysTextSlot, d);
       },
       0},
  };
  for (const auto& c : cases) {
    TIndexFixture fix;
    TIndexDescriptor d = MakeIndexDef("ByName", 26, false, TKeyCompression::None);
    d.FieldCount = 2;
    d.FieldNumbers[1] = 2;
    fix.File->AddIndexDescriptor(d);
    fix.File->SetNoPrimaryIndex(true);
    c.Break(*fix.File, fix.Owner);
    EXPECT_EQ(CodeOf([&] { fix.File->VerifyIndexHeader(); }), c.Code) << c.Name;
  }
  // A version other than 5.
  TIndexFixture fix;
  fix.File->SetNoPrimaryIndex(true);
  fix.File->WriteIndexHeader(true);
  fix.File->CloseFile();
  PatchRaw(fix.FileName(), 8, 4);
  TIndexFile file(fix.Owner);
  file.SetFileName(fix.FileName());
  file.OpenFile();
  EXPECT_EQ(CodeOf([&] { file.VerifyIndexHeader(); }), TARN_OLDVERSION);
}

class IndexFilePages : public ::testing::Test {
 protected:
  void SetUp() override {
    Slot = Fix.File->AddIndexDescriptor(MakeIndexDef("ByKey", 8, true, TKeyCompression::None));
    Ctx = std::make_unique<TTestContext>(Slot);
  }
  TIndexFixture Fix;
  int Slot = 0;
  std::unique_ptr<TTestContext> Ctx;
};

TEST_F(IndexFilePages, PageNumberLimits) {
  EXPECT_EQ(CodeOf([&] { Fix.File->GetPage(*Ctx, 0); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(CodeOf([&] { Fix.File->GetPage(*Ctx, 1); }), TARN_INDEXCORRUPT);  // not allocated yet
  Fix.File->SetNextPageNumber(976561);  // ends at 3,999,997,952 bytes
  {
    TPagePin last = Fix.File->AllocPage(*Ctx);
    EXPECT_EQ(last->PageNo(), 976561);
    last->MarkClean();  // never written: the file stays small
  }
  EXPECT_EQ(CodeOf([&] { Fix.File->AllocPage(*Ctx); }), TARN_TABLEFULL);
  EXPECT_EQ(Fix.File->NextPageNumber(), 976562);
  EXPECT_EQ(GetErrorContextItem(3), "T");
}

TEST_F(IndexFilePages, FreeListsBelongToTheirIndex) {
  const int other = Fix.File->AddIndexDescriptor(MakeIndexDef("Other", 8, true, TKeyCompression::None));
  TTestContext otherCtx(other);
  std::int32_t freed = 0;
  {
    TPagePin a = Fix.File->AllocPage(*Ctx);
    TPagePin b = Fix.File->AllocPage(*Ctx);
    freed = a->PageNo();
    Fix.File->FreePage(*Ctx, *a);
  }
  EXPECT_EQ(Fix.File->Descriptor(Slot).FreePageList, freed);
  TPagePin fresh = Fix.File->AllocPage(otherCtx);
  EXPECT_NE(fresh->PageNo(), freed);  // another index never takes it
  fresh.Release();
  Fix.Reopen();
  TPagePin reused = Fix.File->AllocPage(*Ctx);
  EXPECT_EQ(reused->PageNo(), freed);
  EXPECT_EQ(Fix.File->Descriptor(Slot).FreePageList, 0);
  EXPECT_EQ(reused->Type(), TPageType::RootInterior);
  EXPECT_EQ(reused->EntryCount(), 0);
  EXPECT_FALSE(reused->Free());
}

TEST_F(IndexFilePages, CacheGrowsWhenPinnedAndTrimsBack) {
  // Default setting: 16384 / 8192 = room for 2 pages per slot. Leaves: the
  // cache keeps interior pages beyond its target (next test).
  std::vector<std::int32_t> pages;
  for (int i = 0; i < 6; ++i) {
    TPagePin pin = Fix.File->AllocPage(*Ctx);
    pin->SetType(TPageType::Leaf);
    pages.push_back(pin->PageNo());
  }
  Fix.File->FlushPages(false);
  Fix.File->DiscardPages(false);
  {
    std::vector<TPagePin> pins;
    for (int i = 0; i < 3; ++i) pins.push_back(Fix.File->GetPage(*Ctx, pages[static_cast<std::size_t>(i)]));
    EXPECT_EQ(Fix.File->Cache(Slot).Room(), 6);  // 2, then + 4 when all were pinned
    EXPECT_TRUE(Fix.File->CheckInvariants());
    // Hits allocate nothing and move the page to the front.
    const auto hits = Fix.File->Stats().Hits;
    TPagePin again = Fix.File->GetPage(*Ctx, pages[0]);
    EXPECT_EQ(Fix.File->Stats().Hits, hits + 1);
    EXPECT_EQ(again.Get(), pins[0].Get());
    EXPECT_EQ(again->Pins(), 2);
  }
  Fix.File->TrimPageCache();
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 2);
  EXPECT_EQ(Fix.File->Cache(Slot).Room(), 2);

  // Inside a transaction dirty pages are not flushed: the cache grows instead.
  Fix.Owner.Transaction = true;
  const auto flushes = Fix.File->Stats().Flushes;
  for (auto no : pages) Fix.File->GetPage(*Ctx, no)->MarkDirty();
  EXPECT_EQ(Fix.File->Stats().Flushes, flushes);
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 6);
  Fix.Owner.Transaction = false;
  Fix.File->FlushPages(false);
  Fix.File->TrimPageCache();
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 2);
}

// Interior pages stay cached beyond the target (up to InteriorReserve more
// pages), so that a descent reads only its leaf; leaves are evicted first, a
// dirty one written on its own; trimming keeps the interior pages too.
TEST_F(IndexFilePages, InteriorPagesStayResidentWhileLeavesAreEvicted) {
  const int interiorCount = TIndexFile::InteriorReserve + 6;
  std::vector<std::int32_t> interior, leaves;
  for (int i = 0; i < interiorCount; ++i) {
    TPagePin pin = Fix.File->AllocPage(*Ctx);
    pin->SetType(TPageType::Interior);
    interior.push_back(pin->PageNo());
  }
  for (int i = 0; i < 4; ++i) {
    TPagePin pin = Fix.File->AllocPage(*Ctx);
    pin->SetType(TPageType::Leaf);
    leaves.push_back(pin->PageNo());
  }
  Fix.File->FlushPages(false);
  Fix.File->DiscardPages(false);
  Fix.File->TrimPageCache();
  ASSERT_EQ(Fix.File->Cache(Slot).Room(), 2);

  // Four interior pages: the room grows for them instead of evicting one.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(Fix.File->GetPage(*Ctx, interior[static_cast<std::size_t>(i)]));
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 4);
  EXPECT_EQ(Fix.File->Cache(Slot).Room(), 6);
  // Changed leaves one after the other: once the room is used, each evicts
  // the least recently used leaf, writing it, and never an interior page.
  const auto flushes = Fix.File->Stats().Flushes;
  for (std::int32_t leaf : leaves) {
    TPagePin pin = Fix.File->GetPage(*Ctx, leaf);
    pin->SetNeighbours(0, 777);
    pin->MarkDirty();
    ASSERT_TRUE(Fix.File->CheckInvariants());
  }
  EXPECT_EQ(Fix.File->Stats().Flushes - flushes, 2);
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 6);
  for (int i = 0; i < 4; ++i) {
    const std::int32_t no = interior[static_cast<std::size_t>(i)];
    const auto& pages = Fix.File->Cache(Slot).Pages();
    EXPECT_TRUE(std::any_of(pages.begin(), pages.end(), [no](const auto& p) { return p->PageNo() == no; })) << no;
  }
  Fix.File->TrimPageCache();
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 6);  // both leaves left are dirty
  Fix.File->FlushPages(false);
  Fix.File->TrimPageCache();
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 4);  // the interior pages stay

  // Past the reserve, interior pages are evicted like any other.
  for (std::int32_t no : interior) ASSERT_TRUE(Fix.File->GetPage(*Ctx, no));
  EXPECT_LT(Fix.File->Cache(Slot).Size(), interiorCount);
  EXPECT_TRUE(Fix.File->CheckInvariants());
  // Every change reached the disk, the evicted leaves' too.
  Fix.File->DiscardPages(false);
  for (std::int32_t leaf : leaves) EXPECT_EQ(Fix.File->GetPage(*Ctx, leaf)->NextPage(), 777) << leaf;
}

TEST_F(IndexFilePages, FlushWritesRunsOfConsecutivePagesInOneWrite) {
  Fix.Owner.BufferSize = 1 << 20;
  Fix.File->TrimPageCache();
  std::vector<std::int32_t> pages;
  for (int i = 0; i < 6; ++i) pages.push_back(Fix.File->AllocPage(*Ctx)->PageNo());
  Fix.File->FlushPages(false);
  for (int i : {0, 1, 2, 4}) Fix.File->GetPage(*Ctx, pages[static_cast<std::size_t>(i)])->MarkDirty();
  const auto before = Fix.File->Stats().Flushes;
  const int marks = Fix.Owner.WrittenMarks;
  EXPECT_TRUE(Fix.File->FlushPages(false));
  EXPECT_EQ(Fix.File->Stats().Flushes, before + 2);
  EXPECT_EQ(Fix.Owner.WrittenMarks, marks + 2);
  EXPECT_FALSE(Fix.File->FlushPages(false));
  // Pinned dirty pages wait.
  TPagePin pinned = Fix.File->GetPage(*Ctx, pages[3]);
  pinned->MarkDirty();
  EXPECT_FALSE(Fix.File->FlushPages(false));
  EXPECT_TRUE(pinned->Dirty());
}

TEST_F(IndexFilePages, DiscardKeepsPinnedPagesValidForTheirHolder) {
  const std::int32_t no = Fix.File->AllocPage(*Ctx)->PageNo();
  TPagePin held = Fix.File->GetPage(*Ctx, no);
  held->SetType(TPageType::Leaf);
  Fix.File->DiscardPages(false);
  EXPECT_EQ(Fix.File->Cache(Slot).Size(), 0);
  EXPECT_EQ(held->Type(), TPageType::Leaf);  // still usable
  held.Release();                            // recycled, not leaked (sanitizer run)
  EXPECT_TRUE(Fix.File->CheckInvariants());
}

TEST_F(IndexFilePages, CorruptPageOnDiskIsIndexCorrupt) {
  TBTree tree(*Fix.File);
  for (std::uint64_t k = 1; k <= 10; ++k) tree.AddKey(*Ctx, IntKey(k).data(), static_cast<std::int32_t>(k));
  const std::int32_t root = Fix.File->Descriptor(Slot).RootPage;
  Fix.Reopen();
  Fix.File->CloseFile();
  PatchRaw(Fix.FileName(), static_cast<std::size_t>(root) * 4096 + 1, 0xF0);  // entry count 0x??F0
  PatchRaw(Fix.FileName(), static_cast<std::size_t>(root) * 4096 + 2, 0x7F);
  Fix.File->OpenFile();
  TBTree reopened(*Fix.File);
  EXPECT_EQ(CodeOf([&] { reopened.FindKey(*Ctx, IntKey(3).data()); }), TARN_INDEXCORRUPT);
  EXPECT_TRUE(NothingPinned(*Fix.File));
}

TEST_F(IndexFilePages, EmptyIndexesTruncatesToTheHeader) {
  TBTree tree(*Fix.File);
  for (std::uint64_t k = 1; k <= 500; ++k) tree.AddKey(*Ctx, IntKey(k).data(), static_cast<std::int32_t>(k));
  Fix.File->SetRecordCount(500);
  Fix.File->FlushPages(false);
  Fix.File->EmptyIndexes();
  EXPECT_EQ(std::filesystem::file_size(Fix.FileName()), 4096u);
  EXPECT_EQ(Fix.File->NextPageNumber(), 1);
  EXPECT_EQ(Fix.File->RecordCount(), 0);
  EXPECT_EQ(Fix.File->Descriptor(Slot).RootPage, 0);
  EXPECT_EQ(Fix.File->Descriptor(Slot).FreePageList, 0);
  EXPECT_EQ(Fix.File->Descriptor(Slot).IndexName, "ByKey");  // definitions stay
  tree.AddKey(*Ctx, IntKey(1).data(), 1);
  EXPECT_EQ(Fix.File->Descriptor(Slot).RootPage, 1);
}

TEST(IndexFileTemporary, TemporaryIndexLeavesNoTraceInTheHeader) {
  TIndexFixture fix;
  fix.File->AddIndexDescriptor(MakeIndexDef("Kept", 8, true, TKeyCompression::None));
  const int temp = fix.File->AddIndexDescriptor([] {
    auto d = MakeIndexDef("Scratch", 8, true, TKeyCompression::Full);
    d.Temporary = true;
    return d;
  }());
  ASSERT_TRUE(fix.File->HasTempFile());
  TTestContext ctx(temp);
  TBTree tree(*fix.File);
  for (std::uint64_t k = 1; k <= 2000; ++k) tree.AddKey(ctx, IntKey(k).data(), static_cast<std::int32_t>(k));
  EXPECT_EQ(fix.File->NextPageNumber(), 1);  // the pages went to the temporary file
  EXPECT_GT(fix.File->TempNextPage(), 2);
  fix.File->FlushPages(true);
  fix.File->FlushPages(false);
  fix.File->WriteIndexHeader(true);

  const auto raw = ReadRaw(fix.FileName());
  EXPECT_EQ(raw.size(), 4096u);
  EXPECT_EQ(raw[13], 1);
  const auto slot2 = Slot(raw, 2);
  EXPECT_TRUE(std::all_of(slot2.begin(), slot2.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(fix.File->IndexCount(), 2);  // still usable in memory
  EXPECT_TRUE(tree.Check(ctx).Ok);

  // A temporary file with the ".IDX" extension lives in the private directory until dropped.
  auto temps = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(fix.Dir.Path())) {
      if (e.path().filename() != "T.IDX") ++n;
    }
    return n;
  };
  EXPECT_EQ(temps(), 1);
  fix.File->DropTemporaryIndexes();
  EXPECT_EQ(temps(), 0);
  EXPECT_EQ(fix.File->IndexCount(), 1);
  EXPECT_FALSE(fix.File->HasTempFile());
  EXPECT_EQ(fix.File->FindIndexName("Scratch"), -1);
}

TEST(IndexFileEncryption, EncryptedPagesDifferOnDiskAndReadBackEqual) {
  std::vector<std::uint8_t> plain;
  std::vector<std::uint8_t> scrambled;
  for (bool encrypted : {false, true}) {
    TIndexFixture fix(encrypted);
    const int slot = fix.File->AddIndexDescriptor(MakeIndexDef("ByKey", 8, false, TKeyCompression::Full));
    TTestContext ctx(slot);
    TBTree tree(*fix.File);
    for (std::uint64_t k = 1; k <= 3000; ++k) tree.AddKey(ctx, IntKey(k * 7).data(), static_cast<std::int32_t>(k));
    fix.Reopen();
    TBTree reopened(*fix.File);
    const TTreeCheck check = reopened.Check(ctx);
    EXPECT_TRUE(check.Ok) << check.Error;
    EXPECT_EQ(check.KeyCount, 3000);
    EXPECT_EQ(fix.File->Descriptor(slot).IndexName, "ByKey");
    (encrypted ? scrambled : plain) = ReadRaw(fix.FileName());
  }
  ASSERT_EQ(plain.size(), scrambled.size());
  // Every page differs, header included, and unscrambles to the plain image
  // (change counters aside).
  for (std::size_t page = 0; page < plain.size() / 4096; ++page) {
    std::vector<std::uint8_t> image(scrambled.begin() + static_cast<long>(page * 4096),
                                    scrambled.begin() + static_cast<long>(page * 4096 + 4096));
    EXPECT_FALSE(std::equal(image.begin(), image.end(), plain.begin() + static_cast<long>(page * 4096))) << page;
    ScrambleBytes(image, DataScrambleKey);
    EXPECT_TRUE(std::equal(image.begin() + (page == 0 ? 4 : 0), image.end(),
                           plain.begin() + static_cast<long>(page * 4096) + (page == 0 ? 4 : 0)))
        << page;
  }
}

}  // namespace
}  // namespace tarn::testing
