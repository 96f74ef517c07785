#pragma once
// A small table of people on disk, made and filled through the table
// component, for the table component's tests.
//
// "People": Id (integer, primary key), Name (string 20), City (string 20),
// Age (16-bit integer), Note (memo). Indexes: "ByName" (Name, case-
// insensitive), "ByCity" (City;Name), "ByAge" (Age, not unique).

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbcomp/database.h"
#include "dbcomp/session_list.h"
#include "dbcomp/tarn_table.h"
#include "engine/base/engine_error.h"
#include "support/temp_dir.h"

namespace dbcomp_testing {

// The message of what fn raises ("(nothing raised)" when it returns).
template <class TFn>
std::string MessageOf(TFn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// The engine error code fn raises (0 when it returns); any other exception
// fails the test.
template <class TFn>
int CodeOf(TFn&& fn) {
  try {
    fn();
  } catch (const tarn::ETarnEngineError& e) {
    return e.ErrorCode();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not an engine error: " << e.what();
    return -1;
  }
  return 0;
}

struct TPerson {
  int Id;
  std::optional<std::string> Name;
  std::optional<std::string> City;
  std::optional<int> Age;
  std::string Note;
};

inline const std::vector<TPerson>& People() {
  static const std::vector<TPerson> people = {
      {1, "Anna", "Oslo", 31, "likes tea"},
      {2, "bert", "Bergen", 45, ""},
      {3, "Carla", "Oslo", 27, "plays chess"},
      {4, "Dag", std::nullopt, 45, ""},
      {5, std::nullopt, "Bergen", std::nullopt, ""},
      {6, "Anders", "Oslo", 31, ""},
  };
  return people;
}

inline dbcomp::TFieldDefs PeopleFields() {
  using dbcomp::TFieldType;
  return {{"Id", TFieldType::Integer},
          {"Name", TFieldType::String, 20},
          {"City", TFieldType::String, 20},
          {"Age", TFieldType::Smallint},
          {"Note", TFieldType::Memo}};
}

inline dbcomp::TIndexDefs PeopleIndexes() {
  return {{"", "Id", {.Primary = true, .Unique = true}},
          {"ByName", "Name", {.CaseInsensitive = true}},
          {"ByCity", "City;Name", {}},
          {"ByAge", "Age", {}}};
}

inline void SetValue(dbcomp::TField& field, const std::optional<std::string>& value) {
  value ? field.SetAsString(*value) : field.Clear();
}

inline void AppendPerson(dbcomp::TTarnTable& table, const TPerson& p) {
  table.Append();
  table.FieldByName("Id").SetAsInteger(p.Id);
  SetValue(table.FieldByName("Name"), p.Name);
  SetValue(table.FieldByName("City"), p.City);
  SetValue(table.FieldByName("Age"), p.Age ? std::optional(std::to_string(*p.Age)) : std::nullopt);
  if (!p.Note.empty()) table.FieldByName("Note").SetAsString(p.Note);
  table.Post();
}

class TableTest : public ::testing::Test {
 protected:
  TableTest() {
    dbcomp::TTarnTable maker;
    maker.SetDatabaseName(Dir.Path());
    maker.SetTableName("People");
    maker.SetFieldDefinitions(PeopleFields());
    maker.SetIndexDefs(PeopleIndexes());
    maker.CreateTable();
    maker.Open();
    for (const TPerson& p : People()) AppendPerson(maker, p);
    maker.Close();
  }

  // A closed table component on "People".
  std::unique_ptr<dbcomp::TTarnTable> NewTable() const {
    auto table = std::make_unique<dbcomp::TTarnTable>();
    table->SetDatabaseName(Dir.Path());
    table->SetTableName("People");
    return table;
  }

  // The values of one field over the whole view, in order ("-" for null).
  static std::vector<std::string> Column(dbcomp::TDataSet& table, const char* field) {
    std::vector<std::string> out;
    for (table.First(); !table.IsEmpty();) {
      dbcomp::TField& f = table.FieldByName(field);
      out.push_back(f.IsNull() ? "-" : f.AsString());
      table.Next();
      if (table.AtEnd()) break;
    }
    return out;
  }

  dbcomp::TComponentLayer Layer;
  testing_support::TTempDir Dir;
};

}  // namespace dbcomp_testing
