#include "engine/session/data_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/index/text_params_chain.h"
#include "engine/files/fault_file_api.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "session_fixture.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using session_testing::AppendRecords;
using session_testing::CodeOf;
using session_testing::SampleDefinition;
using session_testing::TFakeCursor;

class DataTableTest : public session_testing::TDirectoryFixture {
 protected:
  // Creates the table, writes it and gives it back, so that later opens start
  // from files on disk.
  void Create(const std::string& name, const TTableDefinition& def) {
    TDataTable& t = FDir.CreateTable(name, false, false, def);
    FDir.ReleaseTable(t, false);
  }
};

TEST_F(DataTableTest, TablesOfThreeFilesAreCreatedOpenedVerifiedAndClosed) {
  Create("Quiz", SampleDefinition(true));
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) EXPECT_TRUE(fs::exists(FTemp.File(std::string("Quiz") + ext))) << ext;

  TFakeCursor cursor;
  TDataTable& t = FDir.OpenTableForCursor("quiz", {}, cursor);
  EXPECT_TRUE(t.IsOpen());
  EXPECT_TRUE(t.HasBlobFields());
  EXPECT_TRUE(t.BlobFile().Opened());
  EXPECT_FALSE(t.IndexRecreated());
  EXPECT_FALSE(t.ReadOnly());
  EXPECT_EQ(t.CursorCount(), 1);
  EXPECT_EQ(t.DataFile().GetFieldCount(), 3);
  std::string text = "Quiz";
  t.CaseMapper().Convert(text, TCharCase::Upper);  // the table's language (none: code page 1252)
  EXPECT_EQ(text, "QUIZ");
  EXPECT_EQ(t.DataFile().FileName(), FTemp.Path() + "\\quiz.DAT");  // the name as asked for

  TFakeCursor second;
  TDataTable& again = FDir.OpenTableForCursor("QUIZ", {}, second);
  EXPECT_EQ(&again, &t);
  EXPECT_EQ(t.CursorCount(), 2);
  FDir.ReleaseTableForCursor(t, second, false);
  EXPECT_TRUE(t.BlobFile().Opened());  // the first cursor still uses the files
  FDir.ReleaseTableForCursor(t, cursor, false);
  EXPECT_EQ(FDir.TableCount(), 0u);
}

TEST_F(DataTableTest, AnOpenWithoutIndexFileRecreatesItAndFlagsTheTable) {
  Create("Quiz", SampleDefinition());
  {
    TDataTable& t = FDir.OpenTable("Quiz", {.Exclusive = true});
    AppendRecords(t, 3);
    FDir.ReleaseTable(t, false);
  }
  fs::remove(FTemp.File("Quiz.IDX"));
  TFakeCursor cursor;
  TDataTable& t = FDir.OpenTableForCursor("Quiz", {}, cursor);
  EXPECT_TRUE(t.IndexRecreated());
  EXPECT_TRUE(fs::exists(FTemp.File("Quiz.IDX")));
  EXPECT_EQ(t.IndexFile().IndexCount(), 0);
  EXPECT_EQ(t.DataFile().GetPhysicalRecordCount(), 3);
  FDir.ReleaseTableForCursor(t, cursor, false);
  // The next open finds the file and clears the flag.
  TDataTable& reopened = FDir.OpenTable("Quiz", {});
  EXPECT_FALSE(reopened.IndexRecreated());
  FDir.ReleaseTable(reopened, false);
}

TEST_F(DataTableTest, WriteBuffersRaisesTheChangeCountersOfWrittenHeadersOnly) {
  Create("Quiz", SampleDefinition(true));
  TDataTable& t = FDir.OpenTable("Quiz", {});
  const std::int32_t data = t.DataFile().GetChangeCount();
  const std::int32_t index = t.IndexFile().ChangeCount();
  const std::int32_t blob = t.BlobFile().Header().BlobChangeCount;
  t.WriteBuffers();  // nothing dirty: nothing written
  EXPECT_EQ(t.DataFile().GetChangeCount(), data);
  EXPECT_FALSE(t.DataWritten());
  t.WriteBuffers(false, true, false, true, true);
  EXPECT_EQ(t.DataFile().GetChangeCount(), data + 1);
  EXPECT_EQ(t.IndexFile().ChangeCount(), index + 1);
  EXPECT_EQ(t.BlobFile().Header().BlobChangeCount, blob + 1);
  EXPECT_TRUE(t.DataWritten());

  // Inside a transaction the headers are only marked: the disk keeps the old
  // counters, which a fresh look at the disk shows.
  t.SetInTransaction(true);
  t.WriteBuffers(false, true, false, false, true);
  EXPECT_EQ(t.DataFile().GetChangeCount(), data + 2);
  t.SetInTransaction(false);
  EXPECT_TRUE(t.CheckForChanges());  // the disk differs from memory
  EXPECT_EQ(t.DataFile().GetChangeCount(), data + 1);
  FDir.ReleaseTable(t, false);
}

TEST_F(DataTableTest, ForcedFlushesFollowTheSessionSettingAndTheArgument) {
  Create("Quiz", SampleDefinition(true));
  TDataTable& t = FDir.OpenTable("Quiz", {});
  TFaultFileApi counter;  // no fault armed: it only counts
  TOsFileApiOverride use(counter);
  struct TCase {
    bool SessionFlush;
    bool ForceFlush;
    // Data, index and blob headers are all written, each twice (marked, then
    // cleared), and each write is flushed.
    std::int64_t Flushes;
  } cases[] = {{false, false, 0}, {false, true, 6}, {true, false, 6}};
  for (const TCase& c : cases) {
    FSession.SetForceBufferFlush(c.SessionFlush);
    const std::int64_t before = counter.Calls(TOsCall::FDataSync);
    t.WriteBuffers(false, true, c.ForceFlush, true, true);
    EXPECT_EQ(counter.Calls(TOsCall::FDataSync) - before, c.Flushes) << c.SessionFlush << c.ForceFlush;
  }
  // Nothing written: nothing flushed, whatever the settings.
  const std::int64_t before = counter.Calls(TOsCall::FDataSync);
  t.WriteBuffers(false, false, true);
  EXPECT_EQ(counter.Calls(TOsCall::FDataSync), before);
  FSession.SetForceBufferFlush(false);
  FDir.ReleaseTable(t, false);
}

TEST_F(DataTableTest, AnExclusiveTableWritesItsBuffersWhenItCloses) {
  Create("Quiz", SampleDefinition());
  TDataTable& t = FDir.OpenTable("Quiz", {.Exclusive = true});
  TRecordPin pin = t.DataFile().GetRecord(nullptr, 1);
  pin->MarkModified();
  pin.Release();
  FDir.ReleaseTable(t, false);
  TDataTable& again = FDir.OpenTable("Quiz", {});
  EXPECT_EQ(again.DataFile().GetPhysicalRecordCount(), 1);
  FDir.ReleaseTable(again, false);
}

TEST_F(DataTableTest, EmptyTableAndIndexBackupRoundTrip) {
  Create("Quiz", SampleDefinition(true));
  TDataTable& t = FDir.OpenTable("Quiz", {.Exclusive = true});
  AppendRecords(t, 4);
  t.BackupIndexFile();
  EXPECT_TRUE(fs::exists(FTemp.File("Quiz.IBK")));
  t.EmptyTable();
  EXPECT_EQ(t.DataFile().GetPhysicalRecordCount(), 0);
  t.WriteBuffers(true, true, false, true, true);
  EXPECT_NO_THROW(t.VerifyTable());
  t.RestoreIndexFile(false, true);
  EXPECT_FALSE(fs::exists(FTemp.File("Quiz.IBK")));
  EXPECT_NO_THROW(t.VerifyTable());
  FDir.ReleaseTable(t, false);
}

TEST_F(DataTableTest, VerificationFailuresCloseTheTableAgain) {
  Create("Quiz", SampleDefinition());
  // A data file whose records area is not a whole number of records.
  { std::FILE* f = std::fopen(FTemp.File("Quiz.DAT").c_str(), "ab"); std::fputc(0, f); std::fclose(f); }
  TFakeCursor cursor;
  EXPECT_EQ(CodeOf([&] { FDir.OpenTableForCursor("Quiz", {}, cursor); }), TARN_HEADERCORRUPT);
  EXPECT_EQ(FDir.TableCount(), 0u);
  // An internal cursor checks only the version and gets in.
  TFakeCursor internal;
  internal.Internal = true;
  TDataTable& t = FDir.OpenTableForCursor("Quiz", {}, internal);
  FDir.ReleaseTableForCursor(t, internal, false);
}

// ---- passwords ----

TEST_F(DataTableTest, CreatingAnEncryptedTableChecksThePassword) {
  struct TCase {
    std::string Password;
    TErrorCode Expected;
  } cases[] = {
      {"", TARN_INVALIDPASSWORD},
      {"   ", TARN_INVALIDPASSWORD},
      {std::string(16, 'p'), TARN_INVALIDPASSWORD},
      {std::string(15, 'p'), TARN_NONE},
      {"  Quiz  ", TARN_NONE},
  };
  int n = 0;
  for (const TCase& c : cases) {
    const std::string name = "Enc" + std::to_string(n++);
    EXPECT_EQ(CodeOf([&] { Create(name, SampleDefinition(false, true, c.Password)); }), c.Expected)
        << "'" << c.Password << "'";
    EXPECT_EQ(fs::exists(FTemp.File(name + ".DAT")), c.Expected == TARN_NONE);
  }
}

TEST_F(DataTableTest, PasswordsAreDemandedExactlyThroughTheCursorsCallback) {
  Create("Secret", SampleDefinition(false, true, "Open Sesame"));

  // No password and a callback that declines: 10498.
  TFakeCursor refusing;
  EXPECT_EQ(CodeOf([&] { FDir.OpenTableForCursor("Secret", {}, refusing); }), TARN_NOTSUFFTABLERIGHTS);
  EXPECT_EQ(refusing.PasswordRequests, 1);
  EXPECT_EQ(FDir.TableCount(), 0u);

  // The wrong letter case is not the password.
  FSession.AddPassword("open sesame");
  EXPECT_EQ(CodeOf([&] { FDir.OpenTableForCursor("Secret", {}, refusing); }), TARN_NOTSUFFTABLERIGHTS);

  // The callback adds the password and asks for another try.
  TFakeCursor asking;
  asking.Ask = [&] {
    FSession.AddPassword(asking.PasswordRequests < 2 ? "still wrong" : "Open Sesame");
    return true;
  };
  TDataTable& t = FDir.OpenTableForCursor("Secret", {}, asking);
  EXPECT_EQ(asking.PasswordRequests, 2);

  // With the password among several others no callback is asked.
  TFakeCursor quiet;
  TDataTable& shared = FDir.OpenTableForCursor("Secret", {}, quiet);
  EXPECT_EQ(&shared, &t);
  EXPECT_EQ(quiet.PasswordRequests, 0);
  FDir.ReleaseTableForCursor(t, quiet, false);
  FDir.ReleaseTableForCursor(t, asking, false);
}

TEST_F(DataTableTest, DirectoryTablesAreClosedWithTheSession) {
  auto session = std::make_unique<TDataSession>();
  TDataDirectory& dir = session->OpenDirectory("Quiz", FTemp.Path());
  dir.CreateTable("Quiz", false, false, SampleDefinition(true));
  session.reset();  // writes the exclusive table's buffers and closes it
  TDataTable& t = FDir.OpenTable("Quiz", {.Exclusive = true});
  EXPECT_NO_THROW(t.VerifyTable());
  FDir.ReleaseTable(t, false);
}


// ---- the full-text index ("Sys Text", slot 32) ----

// Full text over "Name" (string) and "Memo" (memo).
TTableDefinition FullTextDefinition(bool encrypted) {
  TTableDefinition def = SampleDefinition(true, encrypted, "Secret");
  TIndexDescriptor text;
  text.FieldCount = 2;
  text.FieldNumbers[0] = 1;
  text.FieldNumbers[1] = 3;
  def.TextIndex = text;
  TTextIndexParams params = TTextIndexParams::Defaults();
  params.StopWords = {"and", "the", std::string(300, 'x')};
  params.IncludeChars.Add('#');
  def.TextParams = params;
  return def;
}

TEST_F(DataTableTest, AFullTextIndexOverAStringAndAMemoIsCreatedReopenedAndVerified) {
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    const std::string name = encrypted ? "Secret" : "Plain";
    const TTableDefinition def = FullTextDefinition(encrypted);
    Create(name, def);
    FSession.AddPassword("Secret");

    TFakeCursor cursor;
    TDataTable& t = FDir.OpenTableForCursor(name, {}, cursor);  // verifies the headers
    const TIndexDescriptor& text = t.IndexFile().Descriptor(SysTextSlot);
    EXPECT_EQ(text.IndexName, "Sys Text");
    EXPECT_EQ(text.KeySize, 68);
    EXPECT_EQ(text.Compression, TKeyCompression::Full);
    EXPECT_FALSE(text.Unique);
    EXPECT_EQ(text.FieldCount, 2);
    EXPECT_EQ(text.FieldNumbers[0], 1);
    EXPECT_EQ(text.FieldNumbers[1], 3);
    EXPECT_EQ(text.RootPage, 0);
    ASSERT_NE(text.TextParamsPage, 0);

    TFixedTreeContext ctx(SysTextSlot);
    TTextIndexParams read;
    ASSERT_TRUE(TTextParamsChain(t.IndexFile()).Read(ctx, read));
    TTextIndexParams expected = *def.TextParams;
    expected.StopWords[2].resize(255);  // words are kept to 255 characters
    EXPECT_EQ(read.StopWords, expected.StopWords);
    EXPECT_EQ(read.SpaceChars, expected.SpaceChars);
    EXPECT_EQ(read.IncludeChars, expected.IncludeChars);
    FDir.ReleaseTableForCursor(t, cursor, false);
  }
}

TEST_F(DataTableTest, AFullTextIndexWithoutParametersGetsTheDefaults) {
  TTableDefinition def = FullTextDefinition(false);
  def.TextParams.reset();
  Create("Quiz", def);
  TFakeCursor cursor;
  TDataTable& t = FDir.OpenTableForCursor("Quiz", {}, cursor);
  TFixedTreeContext ctx(SysTextSlot);
  TTextIndexParams read;
  ASSERT_TRUE(TTextParamsChain(t.IndexFile()).Read(ctx, read));
  const TTextIndexParams defaults = TTextIndexParams::Defaults();
  EXPECT_EQ(read.StopWords, defaults.StopWords);
  EXPECT_EQ(read.SpaceChars, defaults.SpaceChars);
  EXPECT_EQ(read.IncludeChars, defaults.IncludeChars);
  FDir.ReleaseTableForCursor(t, cursor, false);
}

TEST_F(DataTableTest, AFullTextIndexOverANumberIsRefusedAndLeavesNoFiles) {
  TTableDefinition def = FullTextDefinition(false);
  def.TextIndex->FieldNumbers[1] = 2;  // "Order", a 32-bit integer
  EXPECT_EQ(CodeOf([&] { FDir.CreateTable("Quiz", false, false, def); }), TARN_SEARCHCOLREQD);
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Field)), "Order");
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Index)), "Sys Text");
  EXPECT_EQ(FDir.TableCount(), 0u);
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) EXPECT_FALSE(fs::exists(FTemp.File(std::string("Quiz") + ext))) << ext;
}

// One damaged 16-bit field of slot 32 used to size page buffers before
// anything checked it; the open now stops at the header.
TEST_F(DataTableTest, ADamagedFullTextKeySizeStopsTheOpenNamingTheTable) {
  Create("Quiz", FullTextDefinition(false));
  {
    std::fstream io(FTemp.File("Quiz.IDX"), std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(14 + 32 * 120 + 31);  // slot 32, KeySize
    io.put(static_cast<char>(0xF6));
    io.put(static_cast<char>(0xFF));  // -10
  }
  TFakeCursor cursor;
  EXPECT_EQ(CodeOf([&] { FDir.OpenTableForCursor("Quiz", {}, cursor); }), TARN_INDEXCORRUPT);
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Table)), "Quiz");
  EXPECT_EQ(FDir.TableCount(), 0u);
}

}  // namespace
}  // namespace tarn
