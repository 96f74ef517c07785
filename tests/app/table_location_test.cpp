// Where the game plays from: a writable table in place, a read-only one from
// the user's copy (made once, then kept with its answers), and a clear
// message when no copy can be made. The installed-data rule of the path unit
// is checked here too.

#include "app/table_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/paths.h"
#include "support/temp_dir.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the scope (unset with nullopt).
class TEnv {
 public:
  TEnv(const char* name, std::optional<std::string> value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~TEnv() {
    if (FOld) setenv(FName, FOld->c_str(), 1);
    else unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string Read(const fs::path& file) {
  std::ifstream in(file);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class TTableLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) Write(Table(ext), std::string("table") + ext);
  }
  fs::path Table(const char* ext) const { return fs::path(FTable.Path()) / (std::string("velmorn2") + ext); }
  void MakeReadOnly() {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      if (fs::exists(Table(ext))) fs::permissions(Table(ext), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
  }

  testing_support::TTempDir FTable;
  testing_support::TTempDir FHome;
};

TEST_F(TTableLocationTest, AWritableTableIsPlayedInPlace) {
  TEnv home("HOME", FHome.Path());
  const TTableLocation where = PlayableTableDirectory(FTable.Path(), "velmorn2");
  EXPECT_EQ(where.Directory, FTable.Path());
  EXPECT_TRUE(where.Error.empty());
  EXPECT_FALSE(fs::exists(fs::path(FHome.Path()) / ".local"));
}

TEST_F(TTableLocationTest, AReadOnlyTableIsCopiedOnceAndTheCopyKept) {
  MakeReadOnly();
  TEnv home("HOME", FHome.Path());
  TEnv xdg("XDG_DATA_HOME", std::nullopt);
  const fs::path copy = fs::path(FHome.Path()) / ".local/share/vantor";
  const TTableLocation first = PlayableTableDirectory(FTable.Path(), "VELMORN2");
  ASSERT_TRUE(first.Error.empty()) << first.Error;
  EXPECT_EQ(first.Directory, copy.string());
  EXPECT_EQ(Read(copy / "velmorn2.DAT"), "table.DAT");
  struct stat st {};
  ASSERT_EQ(::stat((copy / "velmorn2.IDX").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  // The player's answers live in the copy: a later start keeps it.
  Write(copy / "velmorn2.DAT", "answered");
  EXPECT_EQ(PlayableTableDirectory(FTable.Path(), "velmorn2").Directory, copy.string());
  EXPECT_EQ(Read(copy / "velmorn2.DAT"), "answered");
  // XDG_DATA_HOME, when absolute, is the place.
  testing_support::TTempDir xdgDir;
  TEnv xdgSet("XDG_DATA_HOME", xdgDir.Path());
  EXPECT_EQ(PlayableTableDirectory(FTable.Path(), "velmorn2").Directory, (fs::path(xdgDir.Path()) / "vantor").string());
}

TEST_F(TTableLocationTest, NoWritableCopyGivesAClearMessage) {
  MakeReadOnly();
  // The data directory's place is taken by a file: no directory can be made.
  Write(fs::path(FHome.Path()) / "blocked", "x");
  TEnv xdg("XDG_DATA_HOME", (fs::path(FHome.Path()) / "blocked").string());
  const TTableLocation where = PlayableTableDirectory(FTable.Path(), "velmorn2");
  EXPECT_TRUE(where.Directory.empty());
  EXPECT_NE(where.Error.find("The question table in " + FTable.Path() + " is read-only, and it could not be copied to"),
            std::string::npos)
      << where.Error;
  TEnv noXdg("XDG_DATA_HOME", std::nullopt);
  TEnv noHome("HOME", std::nullopt);
  EXPECT_NE(PlayableTableDirectory(FTable.Path(), "velmorn2").Error.find("no user data directory"), std::string::npos);
}

TEST_F(TTableLocationTest, AMissingTableIsLeftToTheOpen) {
  fs::remove(Table(".IDX"));
  MakeReadOnly();
  EXPECT_EQ(PlayableTableDirectory(FTable.Path(), "velmorn2").Directory, FTable.Path());
}

TEST(InstalledPathsTest, AnInstalledProgramFindsItsDataDirectory) {
  // bin/vantor with share/vantor/Vantor.ini beside bin/, and nothing beside
  // the program.
  testing_support::TTempDir root;
  const fs::path bin = fs::path(root.Path()) / "usr/bin";
  const fs::path data = fs::path(root.Path()) / "usr/share/vantor";
  fs::create_directories(bin);
  fs::create_directories(data);
  Write(data / "Vantor.ini", "[Z]\nPath=.\n");
  const fs::path before = fs::current_path();
  InitPaths((bin / "vantor").string());
  EXPECT_EQ(fs::path(ExeDir()), data);
  EXPECT_EQ(fs::current_path(), data);
  // A program with its own Vantor.ini beside it keeps its directory.
  Write(bin / "Vantor.ini", "[Z]\nPath=.\n");
  InitPaths((bin / "vantor").string());
  EXPECT_EQ(fs::path(ExeDir()), bin);
  fs::current_path(before);
  InitPaths();
}

}  // namespace
}  // namespace vantor
