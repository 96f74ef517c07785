// Locate and Lookup over indexes and without them, and master/detail links.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbcomp/data_source.h"
#include "dbcomp/tarn_table.h"
#include "engine/base/engine_error.h"
#include "table_fixture.h"

namespace dbcomp {
namespace {

using dbcomp_testing::TableTest;
using Strings = std::vector<std::string>;

struct TLocateCase {
  const char* Name;
  const char* IndexName;  // the table's active index
  const char* Fields;
  TFieldValues Values;
  TLocateOptions Options;
  int Id;  // the record found; 0 = none
};

// People: 1 Anna Oslo 31, 2 bert Bergen 45, 3 Carla Oslo 27, 4 Dag (no city)
// 45, 5 (no name) Bergen (no age), 6 Anders Oslo 31. Indexes: ByName (case-
// insensitive), ByCity (City;Name), ByAge (not unique).
const TLocateCase LocateCases[] = {
    {"ExactName", "", "Name", {"Carla"}, {}, 3},
    {"NameInOtherCaseNeedsTheOption", "", "Name", {"carla"}, {}, 0},
    {"NameIgnoringCaseOverTheCaseInsensitiveIndex", "", "Name", {"BERT"}, {.CaseInsensitive = true}, 2},
    {"PartialNameInPrimaryOrder", "", "Name", {"An"}, {.PartialKey = true}, 1},
    {"PartialNameIgnoringCaseInNameOrder", "", "Name", {"an"}, {.CaseInsensitive = true, .PartialKey = true}, 6},
    {"PartialWithoutTheOptionIsExact", "", "Name", {"An"}, {}, 0},
    {"TwoFieldsOverTheirIndex", "", "City;Name", {"Oslo", "Anna"}, {}, 1},
    {"TwoFieldsIgnoringCaseWithoutAFittingIndex", "", "City;Name", {"OSLO", "anna"}, {.CaseInsensitive = true}, 1},
    {"TwoFieldsPartialLast", "", "City;Name", {"Oslo", "C"}, {.PartialKey = true}, 3},
    {"NullName", "", "Name", {std::nullopt}, {}, 5},
    {"NullCityOverTheIndexThatBeginsWithCity", "", "City", {std::nullopt}, {}, 4},
    {"NumberOverANonUniqueIndex", "", "Age", {"45"}, {}, 2},
    {"NumberAndNullWithoutAnIndex", "", "Age;City", {"45", std::nullopt}, {}, 4},
    {"NullNumber", "", "Age", {std::nullopt}, {}, 5},
    {"OwnIndexIsUsedInItsOrder", "ByCity", "City", {"Bergen"}, {}, 5},
    {"OwnIndexPartial", "ByCity", "City;Name", {"Oslo", "And"}, {.PartialKey = true}, 6},
    {"NoMatchAnywhere", "ByAge", "Name;Age", {"Anna", "45"}, {}, 0},
    {"PrimaryKey", "ByName", "Id", {"4"}, {}, 4},
};

class LocateTest : public TableTest, public ::testing::WithParamInterface<TLocateCase> {};

TEST_P(LocateTest, FindsTheFirstMatchOrStays) {
  const TLocateCase& c = GetParam();
  auto table = NewTable();
  table->SetIndexName(c.IndexName);
  table->Open();
  table->Last();
  const int before = table->FieldByName("Id").AsInteger();
  const bool found = table->Locate(c.Fields, c.Values, c.Options);
  EXPECT_EQ(found, c.Id != 0);
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), c.Id != 0 ? c.Id : before);
  // Lookup finds the same record and leaves the current one alone.
  if (!c.Options.CaseInsensitive && !c.Options.PartialKey) {
    table->Last();
    const std::optional<TFieldValues> values = table->Lookup(c.Fields, c.Values, "Id;Name");
    EXPECT_EQ(values.has_value(), c.Id != 0);
    if (values) {
      EXPECT_EQ((*values)[0], std::to_string(c.Id));
    }
    EXPECT_EQ(table->FieldByName("Id").AsInteger(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LocateTest, ::testing::ValuesIn(LocateCases),
                         [](const ::testing::TestParamInfo<TLocateCase>& info) { return info.param.Name; });

TEST_F(TableTest, LookupAnswersNullsAndSkipsTheFilteredAndTheRanged) {
  auto table = NewTable();
  table->Open();
  const std::optional<TFieldValues> dag = table->Lookup("Name", {"Dag"}, "City;Age");
  ASSERT_TRUE(dag.has_value());
  EXPECT_EQ(*dag, (TFieldValues{std::nullopt, "45"}));
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 1);
  EXPECT_FALSE(table->Lookup("Name", {"Nobody"}, "Id").has_value());
  // A filter hides records from Locate as from the view.
  table->SetFilter("Age > 30");
  table->SetFiltered(true);
  EXPECT_FALSE(table->Locate("Name", {"Carla"}));
  EXPECT_TRUE(table->Locate("Name", {"Dag"}));
  table->SetFiltered(false);
  // So does a range.
  table->SetIndexName("ByAge");
  table->SetRange({"40"}, {"50"});
  EXPECT_FALSE(table->Locate("City", {"Oslo"}));
  EXPECT_TRUE(table->Locate("City", {"Bergen"}));
  EXPECT_EQ(table->FieldByName("Id").AsInteger(), 2);
  EXPECT_THROW(table->Locate("Nothing", {"x"}), tarn::EDatabaseError);
}

// Cities (master) and People (detail) linked by City.
class MasterDetailTest : public TableTest {
 protected:
  MasterDetailTest() {
    Cities.SetDatabaseName(Dir.Path());
    Cities.SetTableName("Cities");
    Cities.SetFieldDefinitions({{"City", TFieldType::String, 20}, {"Country", TFieldType::String, 20}});
    Cities.SetIndexDefs({{"", "City", {.Primary = true}}});
    Cities.CreateTable();
    Cities.Open();
    for (const char* city : {"Bergen", "Molde", "Oslo"}) {
      Cities.Append();
      Cities.FieldByName("City").SetAsString(city);
      Cities.FieldByName("Country").SetAsString("Norway");
      Cities.Post();
    }
    Cities.First();
    CitiesSource.SetDataSet(&Cities);
    People = NewTable();
    People->SetIndexFieldNames("City");
    People->SetMasterSource(&CitiesSource);
    People->SetMasterFields("City");
  }
  ~MasterDetailTest() override {
    People.reset();
    CitiesSource.SetDataSet(nullptr);
  }

  TTarnTable Cities;
  TDataSource CitiesSource;
  std::unique_ptr<TTarnTable> People;
};

TEST_F(MasterDetailTest, MovingTheMasterChangesTheDetailsRange) {
  People->Open();
  EXPECT_EQ(Column(*People, "Id"), (Strings{"5", "2"})) << "Bergen, in City;Name order";
  Cities.Next();
  EXPECT_TRUE(People->IsEmpty()) << "Molde has nobody";
  EXPECT_EQ(People->RecordCount(), 0);
  Cities.Next();
  EXPECT_EQ(Column(*People, "Id"), (Strings{"6", "1", "3"}));
  Cities.First();
  EXPECT_EQ(People->FieldByName("Id").AsInteger(), 5) << "the detail stands on its first record";
  // Cutting the link shows the whole table again.
  People->SetMasterSource(nullptr);
  EXPECT_EQ(People->RecordCount(), 6);
}

TEST_F(MasterDetailTest, ANewDetailRecordStartsWithTheMastersValues) {
  People->Open();
  Cities.Last();  // Oslo
  People->Append();
  EXPECT_EQ(People->FieldByName("City").AsString(), "Oslo");
  EXPECT_FALSE(People->RecordModified()) << "the link values alone are no change";
  People->FieldByName("Id").SetAsInteger(7);
  People->FieldByName("Name").SetAsString("Eva");
  People->Post();
  EXPECT_EQ(Column(*People, "Name"), (Strings{"Anders", "Anna", "Carla", "Eva"}));
  Cities.Prior();  // Molde
  People->Insert();
  People->FieldByName("Id").SetAsInteger(8);
  People->Post();
  EXPECT_EQ(Column(*People, "Id"), (Strings{"8"}));
  // A move of the master posts a detail edit first.
  People->Edit();
  People->FieldByName("Name").SetAsString("Finn");
  Cities.First();
  Cities.Next();
  EXPECT_EQ(People->FieldByName("Name").AsString(), "Finn");
}

TEST_F(MasterDetailTest, ALinkMayNotLeadBackToTheTable) {
  TDataSource own(People.get());
  People->SetName("People");
  EXPECT_THROW(People->SetMasterSource(&own), tarn::EDatabaseError);
  TTarnTable third;
  TDataSource peopleSource(People.get());
  third.SetMasterSource(&peopleSource);
  TDataSource thirdSource(&third);
  try {
    Cities.SetName("Cities");
    // Cities is no table with a master; a chain through third back to People:
    People->SetMasterSource(&thirdSource);
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Circular data links are not allowed.");
  }
}

}  // namespace
}  // namespace dbcomp
