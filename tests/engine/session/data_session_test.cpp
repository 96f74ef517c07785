#include "engine/session/data_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/session/data_directory.h"
#include "session_fixture.h"

namespace tarn {
namespace {

using session_testing::CodeOf;
using session_testing::SampleDefinition;

TEST(DataSessionTest, StartsWithTheDocumentedDefaults) {
  TDataSession s;
  EXPECT_FALSE(s.ServerSession());
  EXPECT_EQ(s.ProgressSteps(), 20);
  EXPECT_FALSE(s.ForceBufferFlush());
  EXPECT_FALSE(s.StrictChangeDetection());
  EXPECT_EQ(s.LockRetryCount(), 15);
  EXPECT_EQ(s.LockWaitTime(), 100);
  EXPECT_EQ(s.LockProtocol(), TLockProtocol::Pessimistic);
  EXPECT_FALSE(s.Remote());
  EXPECT_EQ(s.MaxDataBufferSize(), 16384);
  EXPECT_EQ(s.MaxDataBufferCount(), 8192);
  EXPECT_EQ(s.MaxIndexBufferSize(), 16384);
  EXPECT_EQ(s.MaxBlobBufferSize(), 32768);
  EXPECT_EQ(s.MaxBlobBufferCount(), 8192);
  EXPECT_TRUE(s.Passwords().empty());
  EXPECT_EQ(s.DirectoryCount(), 0u);

  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(s.DefaultDirectory(), std::string(cwd) + "\\");
  EXPECT_FALSE(s.PrivateDirectory().empty());
  EXPECT_TRUE(s.PrivateDirectory().back() == '\\' || s.PrivateDirectory().back() == '/');
  EXPECT_EQ(s.GetTempDirectory(), s.PrivateDirectory());
}

TEST(DataSessionTest, PasswordsCompareExactlyAndIgnoreEmptyAndDuplicates) {
  TDataSession s;
  s.AddPassword("");
  s.AddPassword("Secret");
  s.AddPassword("Secret");
  s.AddPassword("other");
  EXPECT_EQ(s.Passwords().size(), 2u);
  EXPECT_TRUE(s.HasPassword("Secret"));
  EXPECT_FALSE(s.HasPassword("secret"));
  EXPECT_FALSE(s.HasPassword("Secret "));
  s.RemovePassword("SECRET");  // no exact match: nothing removed
  EXPECT_EQ(s.Passwords().size(), 2u);
  s.RemovePassword("Secret");
  EXPECT_FALSE(s.HasPassword("Secret"));
  s.AddPassword(std::string(300, 'x'));  // kept as its first 255 characters
  EXPECT_TRUE(s.HasPassword(std::string(255, 'x')));
  s.RemoveAllPasswords();
  EXPECT_TRUE(s.Passwords().empty());
}

TEST(DataSessionTest, PrivateDirectoryIsTrimmedAndEmptyFallsBackToTheDefault) {
  TDataSession s;
  s.SetPrivateDirectory("  /var/tmp/work  ");
  EXPECT_EQ(s.PrivateDirectory(), "/var/tmp/work\\");
  EXPECT_EQ(s.GetTempDirectory(), "/var/tmp/work\\");
  s.SetPrivateDirectory("C:\\Temp\\");
  EXPECT_EQ(s.PrivateDirectory(), "C:\\Temp\\");
  s.SetPrivateDirectory("   ");
  EXPECT_EQ(s.PrivateDirectory(), "");
  EXPECT_EQ(s.GetTempDirectory(), s.DefaultDirectory());
}

TEST(DataSessionTest, DirectoriesAreReusedByPathAndFreedWithTheirLastUse) {
  TDataSession s;
  TDataDirectory& a = s.OpenDirectory("Quiz", " /data/quiz ");
  EXPECT_EQ(a.Path(), "/data/quiz\\");
  EXPECT_EQ(a.Name(), "Quiz");
  TDataDirectory& b = s.OpenDirectory("Other name", "/DATA/Quiz\\");
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.UseCount(), 2);
  TDataDirectory& def = s.OpenDirectory("Work");
  EXPECT_EQ(def.Path(), s.DefaultDirectory());
  EXPECT_EQ(s.DirectoryCount(), 2u);
  s.CloseDirectory(a);
  EXPECT_EQ(s.DirectoryCount(), 2u);
  s.CloseDirectory(b);
  EXPECT_EQ(s.DirectoryCount(), 1u);
  s.CloseDirectory(def);
  EXPECT_EQ(s.DirectoryCount(), 0u);
}

TEST(DataSessionTest, TheMemoryDirectoryIsFoundInAnyLetterCase) {
  TDataSession s;
  TDataDirectory& m1 = s.OpenDirectory("memory");
  TDataDirectory& m2 = s.OpenDirectory("MEMORY");
  TDataDirectory& m3 = s.OpenDirectory(" Memory ");
  EXPECT_EQ(m1.Path(), "");
  EXPECT_EQ(&m1, &m2);
  EXPECT_EQ(&m1, &m3);
  EXPECT_EQ(m1.UseCount(), 3);
  // Tables made there live in memory files and outlive their table object.
  m1.CreateTable("Scores", true, false, SampleDefinition());
  m1.ReleaseTable(*m1.FindTable("Scores", true), false);
  EXPECT_TRUE(m1.TableExists("scores", true));
  EXPECT_FALSE(m1.TableExists("scores", false));
  m1.DeleteTable("Scores", true);
  EXPECT_FALSE(m1.TableExists("Scores", true));
}

TEST(DataSessionTest, RemoteSessionsRaiseTheConnectionErrorNamingTheServer) {
  TDataSession s;
  s.SetRemoteServer("quizhost:12005");
  EXPECT_EQ(CodeOf([&] { s.SetRemote(true); }), TARN_REMOTECONNECT);
  EXPECT_EQ(GetErrorContextItem(static_cast<int>(TErrorItem::Server)), "quizhost:12005");
  EXPECT_FALSE(s.Remote());
  EXPECT_EQ(CodeOf([&] { s.Connect(); }), TARN_REMOTECONNECT);
  s.SetRemote(false);
}

class DataDirectoryTest : public session_testing::TDirectoryFixture {};

TEST_F(DataDirectoryTest, OpensShareOneTableObjectAndTheLastReleaseFreesIt) {
  FDir.CreateTable("velmorn2", false, false, SampleDefinition());
  FDir.ReleaseTable(*FDir.FindTable("velmorn2", false), false);
  EXPECT_EQ(FDir.TableCount(), 0u);

  TDataTable& a = FDir.OpenTable("velmorn2", {});
  TDataTable& b = FDir.OpenTable(" VELMORN2 ", {});
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.OpenCount(), 2);
  FDir.ReleaseTable(a, false);
  EXPECT_TRUE(a.IsOpen());
  EXPECT_EQ(FDir.TableCount(), 1u);
  FDir.ReleaseTable(b, false);
  EXPECT_EQ(FDir.TableCount(), 0u);
}

TEST_F(DataDirectoryTest, ExclusiveRequestsConflictWithTablesInUse) {
  FDir.CreateTable("T", false, false, SampleDefinition());
  TDataTable& created = *FDir.FindTable("T", false);
  // A freshly created table is open exclusively.
  EXPECT_EQ(CodeOf([&] { FDir.OpenTable("T", {}); }), TARN_OSEACCES);
  EXPECT_EQ(CodeOf([&] { FDir.CreateTable("T", false, false, SampleDefinition()); }), TARN_OSEACCES);
  EXPECT_EQ(CodeOf([&] { FDir.DeleteTable("T", false); }), TARN_OSEACCES);
  EXPECT_EQ(CodeOf([&] { FDir.RenameTable("T", false, "U", false); }), TARN_OSEACCES);
  FDir.ReleaseTable(created, false);

  TDataTable& shared = FDir.OpenTable("T", {});
  EXPECT_EQ(CodeOf([&] { FDir.OpenTable("T", {.Exclusive = true}); }), TARN_OSEACCES);
  TDataTable& joined = FDir.OpenTable("T", {.Exclusive = true, .JoinInUse = true});
  EXPECT_EQ(&joined, &shared);
  FDir.ReleaseTable(joined, false);
  FDir.ReleaseTable(shared, false);
  EXPECT_EQ(FDir.TableCount(), 0u);
}

TEST_F(DataDirectoryTest, AFailedOpenLeavesNoTableObject) {
  EXPECT_EQ(CodeOf([&] { FDir.OpenTable("missing", {}); }), TARN_OSENOENT);
  EXPECT_EQ(FDir.TableCount(), 0u);
  TDataTable stranger(FDir, "x");
  EXPECT_EQ(CodeOf([&] { FDir.ReleaseTable(stranger, false); }), TARN_OSENOENT);
}

TEST_F(DataDirectoryTest, DeleteRenameAndExistence) {
  namespace fs = std::filesystem;
  FDir.CreateTable("Plain", false, false, SampleDefinition());
  FDir.ReleaseTable(*FDir.FindTable("Plain", false), false);
  EXPECT_TRUE(fs::exists(FTemp.File("Plain.DAT")));
  EXPECT_TRUE(fs::exists(FTemp.File("Plain.IDX")));
  EXPECT_FALSE(fs::exists(FTemp.File("Plain.BLB")));
  EXPECT_TRUE(FDir.TableExists("plain", false));
  EXPECT_TRUE(FDir.TableExists("Plain.dat", false));

  FDir.RenameTable("Plain", false, "Renamed", false);
  EXPECT_FALSE(FDir.TableExists("Plain", false));
  EXPECT_TRUE(fs::exists(FTemp.File("Renamed.DAT")));
  EXPECT_TRUE(fs::exists(FTemp.File("Renamed.IDX")));

  // With backup the files take the backup extensions, replacing old backups.
  { std::FILE* f = std::fopen(FTemp.File("Renamed.DBK").c_str(), "w"); std::fclose(f); }
  FDir.RenameTable("Renamed", false, "Renamed", true);
  EXPECT_TRUE(fs::exists(FTemp.File("Renamed.DBK")));
  EXPECT_GT(fs::file_size(FTemp.File("Renamed.DBK")), 0u);
  EXPECT_TRUE(fs::exists(FTemp.File("Renamed.IBK")));
  EXPECT_FALSE(FDir.TableExists("Renamed", false));

  // A table without blob fields deletes without complaint about its .BLB.
  FDir.CreateTable("Gone", false, false, SampleDefinition());
  FDir.ReleaseTable(*FDir.FindTable("Gone", false), false);
  FDir.DeleteTable("Gone", false);
  EXPECT_FALSE(fs::exists(FTemp.File("Gone.DAT")));
  EXPECT_FALSE(fs::exists(FTemp.File("Gone.IDX")));
  EXPECT_EQ(CodeOf([&] { FDir.DeleteTable("Gone", false); }), TARN_OSENOENT);
}

TEST_F(DataDirectoryTest, UniqueTableNamesSkipExistingTables) {
  const std::string first = FDir.UniqueTableName(false);
  EXPECT_EQ(first.substr(first.size() - 4), ".DAT");
  FDir.CreateTable(first, false, false, SampleDefinition());
  const std::string second = FDir.UniqueTableName(false);
  EXPECT_NE(first, second);
  FDir.ReleaseTable(*FDir.FindTable(first, false), false);
  EXPECT_NE(FDir.UniqueTableName(false), first);
}

}  // namespace
}  // namespace tarn
