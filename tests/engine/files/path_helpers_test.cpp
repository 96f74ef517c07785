#include "engine/files/path_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/files/temp_names.h"
#include "support/temp_dir.h"

namespace tarn {
namespace {

TEST(PathHelpersTest, BackslashHelpers) {
  EXPECT_EQ(AddTrailingBackslash("  C:\\T30G  "), "C:\\T30G\\");
  EXPECT_EQ(AddTrailingBackslash("C:\\T30G\\"), "C:\\T30G\\");
  EXPECT_EQ(AddTrailingBackslash("/var/quiz/"), "/var/quiz/");
  EXPECT_EQ(AddTrailingBackslash("   "), "");
  EXPECT_EQ(RemoveTrailingBackslash("dir\\\\"), "dir\\");  // one only
  EXPECT_EQ(RemoveTrailingBackslash("dir"), "dir");
  EXPECT_EQ(RemoveTrailingBackslash(""), "");
  EXPECT_EQ(RemoveLeadingBackslash("\\dir\\"), "dir\\");
  EXPECT_EQ(RemoveLeadingBackslash("dir"), "dir");
  EXPECT_EQ(SlashesToBackslashes("a/b\\c/"), "a\\b\\c\\");
  EXPECT_EQ(ToOsPath(" \\tmp\\quiz\\A.DAT "), "/tmp/quiz/A.DAT");
}

TEST(PathHelpersTest, OwnPathAndNameComparison) {
  EXPECT_TRUE(CarriesOwnPath(""));
  EXPECT_TRUE(CarriesOwnPath("C:quiz"));
  EXPECT_TRUE(CarriesOwnPath("dir\\quiz"));
  EXPECT_TRUE(CarriesOwnPath("dir/quiz"));
  EXPECT_FALSE(CarriesOwnPath("quiz.dat"));

  EXPECT_TRUE(SameFileName(" Dir\\Quiz.DAT ", "dir/quiz.dat"));
  EXPECT_FALSE(SameFileName("quiz.dat", "quiz.dat2"));
  EXPECT_FALSE(SameFileName("quiz.dat", "quiz_dat"));
  EXPECT_EQ(TrimName("\t quiz \r\n"), "quiz");
}

TEST(PathHelpersTest, ResolvesMissingComponentsCaseInsensitively) {
  testing_support::TTempDir dir;
  std::filesystem::create_directory(dir.File("Tables"));
  std::ofstream(dir.File("Tables/VELMORN2.DAT")) << "x";
  std::ofstream(dir.File("Tables/both.dat")) << "x";
  std::ofstream(dir.File("Tables/BOTH.DAT")) << "x";

  EXPECT_EQ(ResolveOsPath(dir.Path() + "\\tables\\velmorn2.dat"),
            dir.Path() + "/Tables/VELMORN2.DAT");
  // The exact spelling wins over other case variants.
  EXPECT_EQ(ResolveOsPath(dir.Path() + "/Tables/both.dat"), dir.Path() + "/Tables/both.dat");
  EXPECT_EQ(ResolveOsPath(dir.Path() + "/Tables/Both.Dat"), dir.Path() + "/Tables/BOTH.DAT");
  // A missing name is kept as given, under the resolved directory.
  EXPECT_EQ(ResolveOsPath(dir.Path() + "/TABLES/New.DAT"), dir.Path() + "/Tables/New.DAT");
  EXPECT_EQ(ResolveOsPath(dir.Path() + "/none/x/y.dat"), dir.Path() + "/none/x/y.dat");
}

TEST(TempNamesTest, StemCounterAndExtension) {
  const std::string stem = TempNameStem();
  ASSERT_FALSE(stem.empty());
  EXPECT_LE(stem.size(), 5u);
  EXPECT_EQ(stem.find_first_not_of("0123456789"), std::string::npos);

  std::vector<std::string> asked;
  const std::string name = UniqueTempName(".DAT", [&](const std::string& n) {
    asked.push_back(n);
    return asked.size() < 3;  // the first two are taken
  });
  EXPECT_EQ(name, stem + "2.DAT");
  EXPECT_EQ(asked, (std::vector<std::string>{stem + "0.DAT", stem + "1.DAT", stem + "2.DAT"}));

  testing_support::TTempDir dir;
  const std::string prefix = dir.Path() + "/";
  std::ofstream(prefix + stem + "0.TMP") << "x";
  std::ofstream(prefix + stem + "1.tmp") << "x";  // found case-insensitively
  EXPECT_EQ(UniqueTempFileName(prefix, ".TMP", false), prefix + stem + "2.TMP");
}

}  // namespace
}  // namespace tarn
