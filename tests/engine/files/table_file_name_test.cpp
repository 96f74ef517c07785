#include "engine/files/table_file_name.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(TableFileNameTest, ReplacesOnlyTheMatchingExtension) {
  struct TCase {
    const char* Name;
    std::string_view MatchExt;
    std::string_view NewExt;
    const char* Expected;
  };
  const TCase cases[] = {
      {"velmorn2", TableFileExt::Data, TableFileExt::Data, "velmorn2.DAT"},
      {"velmorn2", TableFileExt::Data, TableFileExt::Index, "velmorn2.IDX"},
      {"velmorn2.DAT", TableFileExt::Data, TableFileExt::Index, "velmorn2.IDX"},
      {"velmorn2.dat", TableFileExt::Data, TableFileExt::Blob, "velmorn2.BLB"},  // any case
      {"velmorn2.Dat", TableFileExt::Data, TableFileExt::Data, "velmorn2.DAT"},
      {"quiz.v2", TableFileExt::Data, TableFileExt::Index, "quiz.v2.IDX"},  // other extension
      {"  quiz  ", TableFileExt::Data, TableFileExt::IndexBackup, "quiz.IBK"},  // trimmed
      {"a.dat.dat", TableFileExt::Data, TableFileExt::DataBackup, "a.dat.DBK"},  // last one only
      {"dir.x\\quiz", TableFileExt::Data, TableFileExt::Data, "dir.x\\quiz.DAT"},
      {"quiz.", TableFileExt::Data, TableFileExt::Blob, "quiz..BLB"},
      {"", TableFileExt::Data, TableFileExt::Data, ".DAT"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(MakeTableFileName(c.Name, c.MatchExt, c.NewExt), c.Expected) << c.Name;
  }
}

TEST(TableFileNameTest, ExtractsTheExtensionOfTheLastComponent) {
  EXPECT_EQ(ExtractFileExt("a.b.dat"), ".dat");
  EXPECT_EQ(ExtractFileExt("dir.x\\name"), "");
  EXPECT_EQ(ExtractFileExt("dir.x/name"), "");
  EXPECT_EQ(ExtractFileExt("C:.x"), ".x");
  EXPECT_EQ(ExtractFileExt("C:name"), "");
  EXPECT_EQ(ExtractFileExt("name"), "");
}

}  // namespace
}  // namespace tarn
