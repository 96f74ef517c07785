// Reading "Vantor.ini".

#include "app/config.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace vantor {
namespace {

TEST(ConfigTest, TheTablePathOrItsDefault) {
  struct TCase {
    const char* Name;
    const char* Content;  // null: no file
    const char* Expected;
  };
  const TCase cases[] = {
      {"no file", nullptr, "C:\\T30G"},
      {"empty file", "", "C:\\T30G"},
      {"no section", "[Y]\nPath=/data\n", "C:\\T30G"},
      {"no key", "[Z]\nOther=/data\n", "C:\\T30G"},
      {"plain", "[Z]\nPath=/data/quiz\n", "/data/quiz"},
      {"names ignore case", "[z]\npath = /data/quiz \n", "/data/quiz"},
      {"first occurrence wins", "[Z]\nPath=/one\nPath=/two\n", "/one"},
      {"quoted", "[Z]\nPath=\"/with space/quiz\"\n", "/with space/quiz"},
      {"backslashes", "[Z]\nPath=D:\\Quiz\\Tables\n", "D:\\Quiz\\Tables"},
      {"relative", "[A]\nx=1\n[Z]\nPath=tables\n", "tables"},
      {"garbage lines", "this is not\n[Z]\nPath=/ok\n", "/ok"},
  };
  for (const TCase& c : cases) {
    testing_support::TTempDir dir;
    const std::string ini = dir.File("Vantor.ini");
    if (c.Content != nullptr) std::ofstream(ini) << c.Content;
    EXPECT_EQ(ReadTablePath(ini), c.Expected) << c.Name;
  }
}

}  // namespace
}  // namespace vantor
