// The path unit's routines.

#include "app/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app_test_support.h"

namespace vantor {
namespace {

TEST(PathsTest, StripTrailingBackslash) {
  struct TCase {
    const char* Path;
    const char* Expected;
  };
  const TCase cases[] = {
      {"C:\\", "C:\\"},            // a drive root keeps its backslash
      {"C:\\T30G\\", "C:\\T30G"},  // longer than 3: removed
      {"C:\\T30G", "C:\\T30G"},
      {"ab\\", "ab\\"},      // 3 characters: kept
      {"abc\\", "abc"},      // 4 characters: removed
      {"C:\\x\\\\", "C:\\x\\"},  // only one is removed
      {"/", "/"},            // the root keeps its slash
      {"/opt/", "/opt"},
      {"/a/", "/a"},
      {"C:/", "C:/"},
      {"/opt/vantor", "/opt/vantor"},
      {"x", "x"},
  };
  for (const TCase& c : cases) EXPECT_EQ(StripTrailingBackslash(c.Path), c.Expected) << c.Path;
}

TEST(PathsTest, TextRoutines) {
  EXPECT_EQ(EscapeAmpersands("Fish & Chips"), "Fish && Chips");
  EXPECT_EQ(EscapeAmpersands("a&&b"), "a&&&&b");
  EXPECT_EQ(EscapeAmpersands("no ampersand"), "no ampersand");
  EXPECT_EQ(EscapeAmpersands(""), "");

  struct TLastPos {
    const char* Sub;
    const char* Text;
    std::size_t Expected;
  };
  const TLastPos lastPos[] = {
      {"\\", "C:\\T30G\\x", 8}, {"ab", "abab", 3}, {"a", "a", 1}, {"x", "abc", 0}, {"", "abc", 0}, {"abcd", "abc", 0},
  };
  for (const TLastPos& c : lastPos) EXPECT_EQ(LastPos(c.Sub, c.Text), c.Expected) << c.Sub << " in " << c.Text;

  EXPECT_TRUE(EndsWithChar('\\', "C:\\"));
  EXPECT_FALSE(EndsWithChar('\\', "C:"));
  EXPECT_TRUE(EndsWithChar('x', ""));  // an empty text ends with anything

  EXPECT_EQ(MaxIntValue({25, 23}), 25);
  EXPECT_EQ(MaxIntValue({-3}), -3);
  EXPECT_EQ(MaxIntValue({1, 30, 25}), 30);
}

TEST(PathsTest, CombinePath) {
  struct TCase {
    const char* File;
    const char* Dir;
    const char* Expected;
  };
  const TCase cases[] = {
      {"Vantor.ini", "C:\\", "C:\\Vantor.ini"},  // 3-character root: no doubled backslash
      {"Vantor.ini", "C:\\Games", "C:\\Games\\Vantor.ini"},
      {"Vantor.ini", "C:\\Games\\", "C:\\Games\\Vantor.ini"},
      {"Vantor.ini", "", "Vantor.ini"},
      {"Vantor.ini", "/", "/Vantor.ini"},
      {"Vantor.ini", "/opt/vantor", "/opt/vantor/Vantor.ini"},
      {"Vantor.ini", "/opt/vantor/", "/opt/vantor/Vantor.ini"},
      {"sub\\Vantor.ini", "C:\\Games", "sub\\Vantor.ini"},  // has a directory: unchanged
      {"/etc/Vantor.ini", "/opt", "/etc/Vantor.ini"},
  };
  for (const TCase& c : cases) EXPECT_EQ(CombinePath(c.File, c.Dir), c.Expected) << c.File << " + " << c.Dir;
}

TEST(PathsTest, InitPathsFixesTheProgramDirectoryAndEntersIt) {
  testing::TProgramDir program;
  const std::string dir = program.Dir.Path();
  EXPECT_EQ(ExeFileName(), dir + "/vantor");
  EXPECT_EQ(ExeDir(), dir);
  EXPECT_EQ(ExeDrive(), '/');
  EXPECT_EQ(std::filesystem::current_path().string(), std::filesystem::path(dir).string());
  // The name part alone is joined to the program directory.
  EXPECT_EQ(ExePath("Vantor.ini"), dir + "/Vantor.ini");
  EXPECT_EQ(ExePath("C:\\other\\dir\\Vantor.ini"), dir + "/Vantor.ini");
  EXPECT_EQ(ExePath("/elsewhere/wrong answer.wav"), dir + "/wrong answer.wav");
}

TEST(PathsTest, AProgramInTheRootDirectory) {
  const std::string oldCwd = std::filesystem::current_path().string();
  InitPaths("/vantor");
  EXPECT_EQ(ExeDir(), "/");
  EXPECT_EQ(ExePath("Vantor.ini"), "/Vantor.ini");
  std::filesystem::current_path(oldCwd);
}

TEST(PathsTest, AMissingProgramDirectoryIsRefused) {
  EXPECT_THROW(InitPaths("/no/such/directory/vantor"), std::system_error);
}

}  // namespace
}  // namespace vantor
