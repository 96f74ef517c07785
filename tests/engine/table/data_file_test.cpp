#include "engine/table/data_file.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "engine/files/fault_file_api.h"
#include "engine/table/scramble.h"
#include "tests/engine/table/data_file_fixture.h"

namespace tarn::testing {
namespace {

using TDataFileTest = TDataFileFixture;

bool Contains(const TBytes& hay, std::string_view needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST_F(TDataFileTest, FreshTableHasHeaderAndDefinitionsOnlyAndVerifies) {
  CreateTable(PeopleFields());
  const TBytes raw = ReadRaw();
  ASSERT_EQ(raw.size(), 127u + 3 * 768);
  // Byte order and placement of a few header fields.
  EXPECT_EQ(raw[8], 5);                           // Version
  EXPECT_EQ(GetLEI32(raw, 13), 1);                // NextRecordNumber
  EXPECT_EQ(GetLE16(raw, 21), 9 + 21 + 1 + 4 + 1);  // RecordSize: Id takes no bytes
  EXPECT_EQ(raw[21], 36);
  EXPECT_EQ(raw[22], 0);
  EXPECT_EQ(GetLE16(raw, 23), 3);                 // FieldCount
  EXPECT_EQ(GetLEI64(raw, 116), 31900);           // EngineVersion
  EXPECT_EQ(GetLEI32(raw, 0), 1);                 // one header write so far
  EXPECT_EQ(raw[127 + 2], 4);                     // first definition's name length
  EXPECT_EQ(std::string(raw.begin() + 127 + 3, raw.begin() + 127 + 7), "Name");

  auto file = OpenHandler();
  EXPECT_EQ(file->GetPhysicalRecordCount(), 0);
  EXPECT_EQ(file->GetUserMajorVersion(), 1);
  EXPECT_EQ(file->GetUserMinorVersion(), 2);
  EXPECT_EQ(file->GetDescription(), "Staff list");
  EXPECT_EQ(file->GetPassword(), "");  // not encrypted: nothing stored
  EXPECT_EQ(file->GetBlobBlockSize(), 512);
  EXPECT_NO_THROW(file->VerifyDataFile());
}

TEST_F(TDataFileTest, RecordsSurviveReopen) {
  CreateTable(PeopleFields(), false, [](TDataFile& f) {
    AddPerson(f, "Anna", 31);
    AddPerson(f, "Bert", 42);
  });
  auto file = OpenHandler();
  EXPECT_NO_THROW(file->VerifyDataFile());
  ASSERT_EQ(file->GetPhysicalRecordCount(), 2);
  EXPECT_EQ(file->GetLastAutoInc(), 2);
  TRecordPin second = file->GetRecord(nullptr, 2);
  EXPECT_EQ(NameOf(*second, *file), "Bert");
  EXPECT_EQ(AgeOf(*second, *file), 42);
  EXPECT_EQ(second->GetAutoInc(), 2);
  EXPECT_FALSE(second->IsDeleted());
}

TEST_F(TDataFileTest, HeaderWritesRaiseTheChangeCountByExactlyOne) {
  CreateTable(PeopleFields());
  auto file = OpenHandler();
  const std::int32_t start = file->GetChangeCount();
  owner.Written = false;
  EXPECT_FALSE(file->WriteDataHeader(false));  // nothing to write
  EXPECT_EQ(file->GetChangeCount(), start);
  EXPECT_FALSE(owner.Written);
  EXPECT_EQ(GetLEI32(ReadRaw(), 0), start);

  EXPECT_TRUE(file->WriteDataHeader(true));
  EXPECT_EQ(file->GetChangeCount(), start + 1);
  EXPECT_EQ(GetLEI32(ReadRaw(), 0), start + 1);
  EXPECT_TRUE(owner.Written);
  EXPECT_FALSE(file->HeaderDirty());

  file->SetLastAutoInc(file->GetLastAutoInc());  // unchanged: not dirty
  EXPECT_FALSE(file->HeaderDirty());
  file->SetLastAutoInc(77);
  EXPECT_TRUE(file->HeaderDirty());
  EXPECT_TRUE(file->WriteDataHeader(false));
  EXPECT_EQ(GetLEI32(ReadRaw(), 0), start + 2);
  EXPECT_EQ(GetLEI32(ReadRaw(), 17), 77);

  // Inside transactions the counter moves in memory only.
  file->BumpChangeCount();
  EXPECT_EQ(file->GetChangeCount(), start + 3);
  EXPECT_TRUE(file->HeaderDirty());
  EXPECT_EQ(GetLEI32(ReadRaw(), 0), start + 2);
}

TEST_F(TDataFileTest, DataHeaderChangedSeesHeaderWritesOnlyNotRecordWrites) {
  CreateTable(PeopleFields(), false, [](TDataFile& f) { AddPerson(f, "Anna", 31); });
  auto reader = NewHandler();
  reader->OpenFile();
  auto writer = NewHandler();
  writer->OpenFile();

  {
    TRecordPin rec = writer->GetRecord(nullptr, 1);
    rec->SetAutoInc(500);
  }
  ASSERT_TRUE(writer->FlushRecords());
  EXPECT_FALSE(reader->DataHeaderChanged());

  AddPerson(*writer, "Bert", 42);
  WriteAll(*writer);
  EXPECT_TRUE(reader->DataHeaderChanged());
  EXPECT_EQ(reader->GetPhysicalRecordCount(), 2);
  EXPECT_EQ(reader->GetChangeCount(), writer->GetChangeCount());
  EXPECT_FALSE(reader->DataHeaderChanged());
}

TEST_F(TDataFileTest, ReReadHeaderThatChangesTheRecordShapeIsRejected) {
  CreateTable(PeopleFields(), false, [](TDataFile& f) { AddPerson(f, "Anna", 31); });
  auto file = OpenHandler();
  Patch([](TBytes& b) {
    PutLEI32(b, 0, 1000);  // a new change count ...
    PutLE16(b, 21, 200);   // ... and a record size the cache was not built for
  });
  EXPECT_EQ(CodeOf([&] { file->DataHeaderChanged(); }), TARN_HEADERCORRUPT);
  EXPECT_EQ(CodeOf([&] { file->ReadDataHeader(); }), TARN_HEADERCORRUPT);
  EXPECT_EQ(file->GetRecordSize(), 36);  // the image is left as it was
  EXPECT_NE(file->GetChangeCount(), 1000);
  TRecordPin rec = file->GetRecord(nullptr, 1);
  EXPECT_EQ(NameOf(*rec, *file), "Anna");
}

TEST_F(TDataFileTest, FailedHeaderWriteLeavesTheHeaderDirty) {
  CreateTable(PeopleFields());
  auto file = OpenHandler();
  file->SetLastAutoInc(9);
  owner.Written = false;
  TFaultFileApi faults;
  {
    TOsFileApiOverride use(faults);
    faults.Fail(TOsCall::PWrite, EIO);
    EXPECT_EQ(CodeOf([&] { file->WriteDataHeader(false); }), TARN_WRITEERR);
  }
  EXPECT_TRUE(file->HeaderDirty());
  EXPECT_FALSE(owner.Written);
  EXPECT_TRUE(file->WriteDataHeader(false));
  EXPECT_EQ(GetLEI32(ReadRaw(), 17), 9);
}

TEST_F(TDataFileTest, ForcedFlushesFollowDefinitionWritesAndEmptying) {
  CreateTable(PeopleFields(), false, [](TDataFile& f) { AddPerson(f, "Anna", 31); });
  auto file = OpenHandler();
  TFaultFileApi counting;  // nothing armed: counts the calls
  TOsFileApiOverride use(counting);
  file->UpdateFieldDef(1, *file->GetFieldDef(1));
  file->WriteFieldDefs();
  EXPECT_EQ(counting.Calls(TOsCall::FDataSync), 0);
  owner.ForceFlush = true;
  file->UpdateFieldDef(1, *file->GetFieldDef(1));
  file->WriteFieldDefs();
  EXPECT_EQ(counting.Calls(TOsCall::FDataSync), 1);
  file->EmptyDataFile();
  EXPECT_EQ(counting.Calls(TOsCall::FDataSync), 2);
}

TEST_F(TDataFileTest, InMemoryTablesWorkTheSameWay) {
  const std::string name = "people_in_memory.DAT";
  {
    TDataFile file(owner);
    file.SetFileName(name);
    file.SetInMemory(true);
    file.CreateDataFile(0, 0, PeopleFields(), 0, "", "pw", true, 0, 0);
    AddPerson(file, "Mem", 5);
    WriteAll(file);
    file.CloseFile();
    file.OpenFile();  // the memory file kept its contents
    EXPECT_NO_THROW(file.VerifyDataFile());
    EXPECT_EQ(file.GetPassword(), "pw");
    TRecordPin rec = file.GetRecord(nullptr, 1);
    EXPECT_EQ(NameOf(*rec, file), "Mem");
    rec.Release();
    file.CloseFile();
    file.DeleteFile();
  }
}

TEST_F(TDataFileTest, EmptyDataFileKeepsDefinitionsAndResetsCounters) {
  CreateTable(PeopleFields(), false, [](TDataFile& f) {
    AddPerson(f, "Anna", 31);
    AddPerson(f, "Bert", 42);
  });
  auto file = OpenHandler();
  { TRecordPin r = file->GetRecord(nullptr, 1); }
  file->EmptyDataFile();
  EXPECT_EQ(file->CachedRecordCount(), 0u);
  EXPECT_EQ(file->GetPhysicalRecordCount(), 0);
  EXPECT_EQ(file->GetLastAutoInc(), 0);
  EXPECT_EQ(file->GetFirstFreeRecord(), 0);
  EXPECT_TRUE(file->HeaderDirty());
  EXPECT_EQ(ReadRaw().size(), 127u + 3 * 768);
  WriteAll(*file);
  EXPECT_EQ(file->GetChangeCount(), 1);
  EXPECT_NO_THROW(file->VerifyDataFile());
}

TEST_F(TDataFileTest, DefinitionLookupsAndUpdates) {
  CreateTable(PeopleFields());
  auto file = OpenHandler();
  EXPECT_EQ(file->FieldNumber("  aGe "), 2);
  EXPECT_EQ(file->FieldNumber("Missing"), 0);
  ASSERT_TRUE(file->FindFieldDef("NAME"));
  EXPECT_EQ(file->FindFieldDef("NAME")->Position, 1);
  EXPECT_EQ(file->GetFieldDefByNumber(3)->Def.FieldName(), "Id");
  EXPECT_FALSE(file->GetFieldDefByNumber(9));
  EXPECT_FALSE(file->GetFieldDef(0));
  EXPECT_FALSE(file->GetFieldDef(4));

  TFieldDesc change = *file->GetFieldDef(2);
  change.SetFieldName("Years");
  change.SetFieldDescription("age in years");
  change.SetFieldRequired(true);
  change.SetFieldMin("0");
  change.SetFieldMax("150");
  change.SetFieldDefault("18");
  change.SetFieldType(FieldType::String);  // type, sizes and offset never change this way
  change.SetFieldOffset(99);
  file->UpdateFieldDef(2, change);
  EXPECT_TRUE(file->FieldDefsDirty());
  EXPECT_EQ(CodeOf([&] { file->UpdateFieldDef(4, change); }), TARN_OUTOFRANGE);
  EXPECT_TRUE(file->WriteFieldDefs());
  EXPECT_FALSE(file->WriteFieldDefs());
  file->CloseFile();

  file->OpenFile();
  const TFieldDesc years = *file->GetFieldDef(2);
  EXPECT_EQ(years.FieldName(), "Years");
  EXPECT_EQ(years.FieldDescription(), "age in years");
  EXPECT_TRUE(years.FieldRequired());
  EXPECT_EQ(years.FieldMax(), "150");
  EXPECT_EQ(years.FieldType(), FieldType::Int32);
  EXPECT_EQ(years.FieldOffset(), 31);
  EXPECT_NO_THROW(file->VerifyDataFile());
}

TEST_F(TDataFileTest, CreationLimitsRaiseBeforeAnythingIsCreated) {
  std::vector<TFieldDesc> blobs;
  for (std::uint16_t i = 1; i <= 129; ++i)
    blobs.push_back(MakeFieldDesc(i, "B" + std::to_string(i), FieldType::Blob, FieldSubType::Memo));
  AssignFieldOffsets(blobs);
  auto file = NewHandler();
  EXPECT_EQ(CodeOf([&] { file->CreateDataFile(0, 0, blobs, 0, "", "", false, 0, 0); }), TARN_BLOBLIMIT);
  blobs.pop_back();  // 128 blob fields are fine
  EXPECT_EQ(CodeOf([&] { file->CreateDataFile(0, 0, blobs, 0, "", "", false, 0, 0); }), 0);
  EXPECT_EQ(file->GetBlobFieldCount(), 128);
  file->CloseFile();

  std::vector<TFieldDesc> wide;
  for (std::uint16_t i = 1; i <= 260; ++i) wide.push_back(MakeFieldDesc(i, "S" + std::to_string(i), FieldType::String, 0, 250));
  AssignFieldOffsets(wide);  // 9 + 260 x 252 = 65529 bytes
  dir.File("x");
  auto wideFile = std::make_unique<TDataFile>(owner);
  wideFile->SetFileName(dir.File("wide.DAT"));
  EXPECT_EQ(CodeOf([&] { wideFile->CreateDataFile(0, 0, wide, 0, "", "", false, 0, 0); }), 0);
  wideFile->CloseFile();
  wide.push_back(MakeFieldDesc(261, "S261", FieldType::String, 0, 250));
  AssignFieldOffsets(wide);
  auto tooWide = std::make_unique<TDataFile>(owner);
  tooWide->SetFileName(dir.File("toowide.DAT"));
  EXPECT_EQ(CodeOf([&] { tooWide->CreateDataFile(0, 0, wide, 0, "", "", false, 0, 0); }), TARN_RECTOOBIG);
  EXPECT_FALSE(tooWide->Opened());
  EXPECT_FALSE(tooWide->FileExists());
}

// ---------------------------------------------------------------- encryption

TEST_F(TDataFileTest, EncryptedTableDiffersOnDiskAndReadsBackEqual) {
  CreateTable(PeopleFields(), true, [](TDataFile& f) { AddPerson(f, "Hello World", 7); }, "Secret", "Staff list");
  const TBytes raw = ReadRaw();
  // Header: the counters, sizes and length bytes stay plain.
  EXPECT_EQ(raw[86], 1);
  EXPECT_EQ(GetLE16(raw, 21), 36);
  EXPECT_EQ(GetLE16(raw, 23), 3);
  EXPECT_EQ(GetLEI32(raw, 13), 2);
  EXPECT_EQ(raw[35], 10);  // "Staff list"
  EXPECT_EQ(raw[87], 6);   // "Secret"
  const std::string storedDesc(raw.begin() + 36, raw.begin() + 46);
  const std::string storedPass(raw.begin() + 88, raw.begin() + 94);
  EXPECT_NE(storedDesc, "Staff list");
  EXPECT_NE(storedPass, "Secret");
  // Descrambling the characters with the text key gives the plain text.
  std::string pass = storedPass;
  ScrambleBytes(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(pass.data()), pass.size()), TextScrambleKey);
  EXPECT_EQ(pass, "Secret");
  // Definitions and records.
  EXPECT_FALSE(Contains(raw, "Name"));
  EXPECT_FALSE(Contains(raw, "Hello World"));

  auto file = OpenHandler();
  EXPECT_TRUE(file->IsEncrypted());
  EXPECT_EQ(file->GetPassword(), "Secret");
  EXPECT_EQ(file->GetDescription(), "Staff list");
  EXPECT_EQ(file->GetFieldDef(1)->FieldName(), "Name");
  EXPECT_NO_THROW(file->VerifyDataFile());
  TRecordPin rec = file->GetRecord(nullptr, 1);
  EXPECT_EQ(NameOf(*rec, *file), "Hello World");
  EXPECT_EQ(AgeOf(*rec, *file), 7);
  EXPECT_EQ(rec->GetAutoInc(), 1);

  // New attributes are stored the same way; the flag itself stays.
  file->SetTableAttributes("Other", "New text", 5, 3, 4);
  file->WriteDataHeader(false);
  const TBytes after = ReadRaw();
  EXPECT_EQ(after[87], 5);
  EXPECT_NE(std::string(after.begin() + 88, after.begin() + 93), "Other");
  EXPECT_EQ(file->GetPassword(), "Other");
  EXPECT_EQ(file->GetLastAutoInc(), 5);
}

TEST_F(TDataFileTest, PasswordAndDescriptionAreCut) {
  CreateTable(PeopleFields(), true, {}, "0123456789abcdefXYZ", std::string(60, 'd'));
  auto file = OpenHandler();
  EXPECT_EQ(file->GetPassword(), "0123456789abcde");
  EXPECT_EQ(file->GetDescription(), std::string(50, 'd'));
}

TEST_F(TDataFileTest, DefinitionsOfA65536ByteRunAreStoredPlain) {
  std::vector<TFieldDesc> defs;
  for (std::uint16_t i = 1; i <= 256; ++i) defs.push_back(MakeFieldDesc(i, "F" + std::to_string(i), FieldType::Int16));
  AssignFieldOffsets(defs);
  ASSERT_EQ(defs.size() * 768 % 65536, 0u);
  CreateTable(defs, true, [](TDataFile& f) {
    TRecordPin rec = f.AllocateRecord(nullptr);
    rec->Clear(true);
    TBytes v(2);
    PutLEI16(v, 0, -1234);
    rec->SetField(*f.GetFieldDef(256), std::span<const std::uint8_t>(v));
  });
  const TBytes raw = ReadRaw();
  // The definitions run is left as it is; the record is still scrambled.
  EXPECT_EQ(std::string(raw.begin() + 127 + 3, raw.begin() + 127 + 5), "F1");
  EXPECT_TRUE(Contains(raw, "F256"));
  const std::size_t h = 127 + 256 * 768;
  EXPECT_NE(raw[h + 1], 1);  // RecLink 1 scrambled

  auto file = OpenHandler();
  EXPECT_EQ(file->GetFieldDef(256)->FieldName(), "F256");
  EXPECT_NO_THROW(file->VerifyDataFile());
  TRecordPin rec = file->GetRecord(nullptr, 1);
  EXPECT_EQ(GetLEI16(rec->GetField(*file->GetFieldDef(256)).Bytes, 0), -1234);
}

// ---------------------------------------------------------------- bad input

TEST_F(TDataFileTest, CorruptedHeadersFailVerification) {
  constexpr std::size_t D1 = 127, D2 = 127 + 768, D3 = 127 + 2 * 768;  // definitions
  struct TCase {
    const char* What;
    std::function<void(TBytes&)> Corrupt;
    TErrorCode Expected;
  };
  const TCase cases[] = {
      {"version 4", [](TBytes& b) { b[8] = 4; }, TARN_OLDVERSION},
      {"locale not installed", [](TBytes& b) { PutLEI16(b, 103, 0x0407); }, TARN_CANNOTLOADLDDRV},
      {"record size too large", [](TBytes& b) { PutLE16(b, 21, 37); }, TARN_HEADERCORRUPT},
      {"next record number", [](TBytes& b) { PutLEI32(b, 13, 5); }, TARN_HEADERCORRUPT},
      {"free-list head past the end", [](TBytes& b) { PutLEI32(b, 9, 3); }, TARN_HEADERCORRUPT},
      {"negative free-list head", [](TBytes& b) { PutLEI32(b, 9, -1); }, TARN_HEADERCORRUPT},
      {"trailing partial record", [](TBytes& b) { b.push_back(0); }, TARN_HEADERCORRUPT},
      {"description length past its slot", [](TBytes& b) { b[35] = 51; }, TARN_HEADERCORRUPT},
      {"empty field name", [=](TBytes& b) { b[D2 + 2] = 0; }, TARN_HEADERCORRUPT},
      {"name length past its slot", [=](TBytes& b) { b[D2 + 2] = 31; }, TARN_HEADERCORRUPT},
      {"name starting with a digit", [=](TBytes& b) { b[D2 + 3] = '9'; }, TARN_HEADERCORRUPT},
      {"duplicate name in other case",
       [=](TBytes& b) {
         b[D2 + 2] = 4;
         std::copy_n("NAME", 4, b.begin() + D2 + 3);
       },
       TARN_HEADERCORRUPT},
      {"duplicate field number", [=](TBytes& b) { PutLE16(b, D2, 1); }, TARN_HEADERCORRUPT},
      {"field number not its position",
       [=](TBytes& b) {
         PutLE16(b, D2, 3);
         PutLE16(b, D3, 2);
       },
       TARN_HEADERCORRUPT},
      {"type 0", [=](TBytes& b) { b[D2 + 84] = 0; }, TARN_HEADERCORRUPT},
      {"unknown type", [=](TBytes& b) { b[D2 + 84] = 99; }, TARN_HEADERCORRUPT},
      {"string size above 250", [=](TBytes& b) { b[D1 + 86] = 251; }, TARN_HEADERCORRUPT},
      {"size on an integer", [=](TBytes& b) { b[D2 + 86] = 4; }, TARN_HEADERCORRUPT},
      {"decimals on an integer", [=](TBytes& b) { b[D2 + 87] = 2; }, TARN_HEADERCORRUPT},
      {"default that is no integer",
       [=](TBytes& b) {
         b[D2 + 196] = 3;
         std::copy_n("abc", 3, b.begin() + D2 + 197);
       },
       TARN_HEADERCORRUPT},
      {"maximum out of the integer range",
       [=](TBytes& b) {
         b[D2 + 145] = 10;
         std::copy_n("2147483648", 10, b.begin() + D2 + 146);
       },
       TARN_HEADERCORRUPT},
      {"wrong offset", [=](TBytes& b) { PutLE16(b, D2 + 90, 40); }, TARN_HEADERCORRUPT},
      {"auto-increment not at 5", [=](TBytes& b) { PutLE16(b, D3 + 90, 36); }, TARN_HEADERCORRUPT},
      {"computed field", [=](TBytes& b) { b[D2 + 247] = 1; PutLE16(b, D2 + 90, 0); }, TARN_HEADERCORRUPT},
      {"wrong physical size is recomputed, offsets then disagree", [=](TBytes& b) { b[D1 + 86] = 10; },
       TARN_HEADERCORRUPT},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    CreateTable(PeopleFields());
    Patch(c.Corrupt);
    auto file = NewHandler();
    ASSERT_EQ(CodeOf([&] { file->OpenFile(); }), 0);
    EXPECT_EQ(CodeOf([&] { file->VerifyDataFile(); }), c.Expected);
    file->CloseFile();
  }
}

TEST_F(TDataFileTest, ValidMinMaxDefaultTextsPass) {
  std::vector<TFieldDesc> defs = {
      MakeFieldDesc(1, "D", FieldType::Date),        MakeFieldDesc(2, "T", FieldType::Time),
      MakeFieldDesc(3, "TS", FieldType::Timestamp),  MakeFieldDesc(4, "S", FieldType::Int16),
      MakeFieldDesc(5, "W", FieldType::UInt16),      MakeFieldDesc(6, "B", FieldType::Boolean),
      MakeFieldDesc(7, "F", FieldType::Float),       MakeFieldDesc(8, "N", FieldType::Bcd, 0, 0, 2),
      MakeFieldDesc(9, "L", FieldType::Int64),       MakeFieldDesc(10, "_Txt", FieldType::String, 0, 5),
  };
  defs[0].SetFieldDefault("CURRENT_DATE");
  defs[0].SetFieldMin("1990-01-01");
  defs[1].SetFieldDefault("current_time");
  defs[1].SetFieldMax("11:59 PM");
  defs[2].SetFieldDefault("CURRENT_DATE");
  defs[2].SetFieldMin("2000-01-01 00:00");
  defs[2].SetFieldMax("10:00");
  defs[3].SetFieldMin("-32768");
  defs[4].SetFieldMax("65535");
  defs[5].SetFieldDefault("False");
  defs[6].SetFieldMax("1.5e10");
  defs[7].SetFieldDefault("-12.345");
  defs[8].SetFieldMin("-9223372036854775808");
  defs[9].SetFieldDefault("anything at all");
  AssignFieldOffsets(defs);
  CreateTable(defs);
  auto file = OpenHandler();
  EXPECT_NO_THROW(file->VerifyDataFile());
}

TEST_F(TDataFileTest, DamagedFilesFailToOpenWithoutReadingPastTheData) {
  struct TCase {
    const char* What;
    std::function<void(TBytes&)> Corrupt;
    TErrorCode Expected;
  };
  const TCase cases[] = {
      {"1025 fields", [](TBytes& b) { PutLE16(b, 23, 1025); }, TARN_HEADERCORRUPT},
      {"65535 fields", [](TBytes& b) { PutLE16(b, 23, 65535); }, TARN_HEADERCORRUPT},
      {"record size 0", [](TBytes& b) { PutLE16(b, 21, 0); }, TARN_HEADERCORRUPT},
      {"truncated header", [](TBytes& b) { b.resize(100); }, TARN_READERR},
      {"empty file", [](TBytes& b) { b.clear(); }, TARN_READERR},
      {"truncated definitions", [](TBytes& b) { b.resize(127 + 2 * 768 + 10); }, TARN_READERR},
      {"more definitions claimed than stored", [](TBytes& b) { PutLE16(b, 23, 40); }, TARN_READERR},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    CreateTable(PeopleFields(), false, [](TDataFile& f) { AddPerson(f, "Anna", 1); });
    Patch(c.Corrupt);
    auto file = NewHandler();
    EXPECT_EQ(CodeOf([&] { file->OpenFile(); }), c.Expected);
    EXPECT_FALSE(file->Opened());  // a failed open leaves the handler closed
  }
}

TEST_F(TDataFileTest, CheckDataVersionLooksAtTheVersionOnly) {
  CreateTable(PeopleFields());
  Patch([](TBytes& b) { PutLE16(b, 21, 99); });
  auto file = OpenHandler();
  EXPECT_NO_THROW(file->CheckDataVersion());
  file->CloseFile();
  Patch([](TBytes& b) { b[8] = 6; });
  file->OpenFile();
  EXPECT_EQ(CodeOf([&] { file->CheckDataVersion(); }), TARN_OLDVERSION);
}

TEST_F(TDataFileTest, ErrorsNameTheTable) {
  CreateTable(PeopleFields());
  Patch([](TBytes& b) { b[8] = 4; });
  auto file = OpenHandler();
  try {
    file->VerifyDataFile();
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorTable(), "people");
  }
}

}  // namespace
}  // namespace tarn::testing
