// The dataset contract, run on the in-memory dataset.

#include "dbcomp/data_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbcomp/data_source.h"
#include "dbcomp/field_data_link.h"
#include "dbcomp/memory_data_set.h"
#include "engine/base/engine_error.h"

namespace dbcomp {
namespace {

TFieldDefs QuizDefs() {
  return {{"QuizName", TFieldType::String, 20},
          {"Order", TFieldType::Smallint},
          {"Question", TFieldType::Blob},
          {"AnswerTx", TFieldType::String, 1},
          {"UserAnswer", TFieldType::String, 1}};
}

// Every notification a link receives, in order.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Log;
  std::function<void()> OnUpdate;

 protected:
  void ActiveChanged() override { Log.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { Log.push_back(Editing() ? "editing" : "browsing"); }
  void RecordChanged(TField* field) override {
    Log.push_back(field ? "field:" + field->FieldName() : "record");
  }
  void DataSetScrolled(int distance) override { Log.push_back("scroll:" + std::to_string(distance)); }
  void DataSetChanged() override { Log.push_back("changed"); }
  void UpdateData() override {
    Log.push_back("update");
    if (OnUpdate) OnUpdate();
  }
  void CheckBrowseMode() override { Log.push_back("checkbrowse"); }
};

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Table.SetName("VantorTable");
    Table.AppendRow({"Quiz", "1", "q1", "A", std::nullopt});
    Table.AppendRow({"Quiz", "2", "q2", "B", "C"});
    Table.AppendRow({"Quiz", "3", "q3", "C", std::nullopt});
  }
  TMemoryDataSet Table{QuizDefs()};
};

std::string Answer(TDataSet& t) { return t.FieldByName("UserAnswer").AsString(); }

TEST_F(DataSetTest, OpenBindsFieldsByNameAndStandsOnFirstRecord) {
  Table.Open();
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  EXPECT_TRUE(Table.AtBeginning());
  EXPECT_FALSE(Table.AtEnd());
  EXPECT_EQ(Table.FieldCount(), 5u);
  EXPECT_EQ(Table.FieldByName("answertx").AsString(), "A");
  EXPECT_EQ(Table.FieldByName("ORDER").AsInteger(), 1);
  EXPECT_EQ(Table.FieldByName("Order").FieldNo(), 2);
  EXPECT_EQ(Table.FieldByName("Question").AsString(), "q1");
  EXPECT_TRUE(Table.FieldByName("UserAnswer").IsNull());
  EXPECT_EQ(Table.FindField("Nothing"), nullptr);
  try {
    Table.FieldByName("Nothing");
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "VantorTable: Field 'Nothing' not found");
  }
}

TEST_F(DataSetTest, FirstOnEmptyTableSetsBothFlagsAndEveryFieldIsNull) {
  TMemoryDataSet empty(QuizDefs());
  empty.Open();
  EXPECT_TRUE(empty.AtBeginning());
  EXPECT_TRUE(empty.AtEnd());
  EXPECT_TRUE(empty.IsEmpty());
  empty.First();
  EXPECT_TRUE(empty.AtBeginning());
  EXPECT_TRUE(empty.AtEnd());
  for (std::size_t i = 0; i < empty.FieldCount(); ++i) EXPECT_TRUE(empty.Fields(i).IsNull()) << i;
  empty.Next();
  empty.Prior();
  EXPECT_TRUE(empty.AtEnd());
  EXPECT_THROW(empty.Edit(), tarn::EDatabaseError);
  EXPECT_EQ(empty.State(), TDataSetState::Browse);
}

TEST_F(DataSetTest, NextOnLastRecordSetsAtEndAndKeepsTheRecord) {
  Table.Open();
  Table.Next();
  Table.Next();
  EXPECT_FALSE(Table.AtEnd());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 3);
  EXPECT_NO_THROW(Table.Next());
  EXPECT_TRUE(Table.AtEnd());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 3);
  EXPECT_EQ(Table.FieldByName("Question").AsString(), "q3");
  // Prior from there reads the record before the current one.
  Table.Prior();
  EXPECT_FALSE(Table.AtEnd());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 2);
}

TEST_F(DataSetTest, NextOnLastRecordPostsThePendingEditFirst) {
  Table.Open();
  Table.Last();
  EXPECT_TRUE(Table.AtEnd());
  Table.Edit();
  Table.FieldByName("UserAnswer").SetAsString("C");
  Table.Next();
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  EXPECT_EQ(Table.RowValue(2, "UserAnswer"), "C");
  EXPECT_TRUE(Table.LockedRows().empty());
}

TEST_F(DataSetTest, PriorAndLastMirrorNextAndFirst) {
  Table.Open();
  Table.Last();
  EXPECT_TRUE(Table.AtEnd());
  EXPECT_FALSE(Table.AtBeginning());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 3);
  Table.Prior();
  Table.Prior();
  EXPECT_FALSE(Table.AtBeginning());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 1);
  Table.Prior();
  EXPECT_TRUE(Table.AtBeginning());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 1);
  Table.Next();
  EXPECT_FALSE(Table.AtBeginning());
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 2);
}

TEST_F(DataSetTest, EditWriteAndMoveStoresButEditAndMoveCancels) {
  Table.Open();
  Table.Edit();
  EXPECT_EQ(Table.State(), TDataSetState::Edit);
  EXPECT_EQ(Table.LockedRows().size(), 1u);
  EXPECT_FALSE(Table.RecordModified());
  Table.FieldByName("UserAnswer").SetAsString("D");
  EXPECT_TRUE(Table.RecordModified());
  Table.Next();
  EXPECT_EQ(Table.PostCount(), 1);
  EXPECT_EQ(Table.RowValue(0, "UserAnswer"), "D");

  Table.Edit();  // on row 2, no write
  Table.Next();
  EXPECT_EQ(Table.PostCount(), 1);  // cancelled, not posted
  EXPECT_TRUE(Table.LockedRows().empty());
  EXPECT_EQ(Table.RowValue(1, "UserAnswer"), "C");
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 3);
}

TEST_F(DataSetTest, CancelDiscardsTheBufferReleasesTheLockAndRereads) {
  Table.Open();
  Table.Next();
  Table.Edit();
  Table.FieldByName("UserAnswer").SetAsString("A");
  Table.FieldByName("Question").SetAsString("changed");
  EXPECT_EQ(Table.FieldByName("Question").AsString(), "changed");
  Table.Cancel();
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  EXPECT_FALSE(Table.RecordModified());
  EXPECT_TRUE(Table.LockedRows().empty());
  EXPECT_EQ(Answer(Table), "C");
  EXPECT_EQ(Table.FieldByName("Question").AsString(), "q2");
  Table.Cancel();  // nothing to cancel in browse state
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
}

TEST_F(DataSetTest, NullAndBlobWritesArePosted) {
  Table.Open();
  Table.Next();
  Table.Edit();
  Table.FieldByName("UserAnswer").Clear();
  Table.FieldByName("Question").SetAsString("new text");
  Table.Post();
  EXPECT_EQ(Table.RowValue(1, "UserAnswer"), std::nullopt);
  EXPECT_EQ(Table.RowValue(1, "Question"), "new text");
  EXPECT_TRUE(Table.FieldByName("UserAnswer").IsNull());
}

TEST_F(DataSetTest, FailedPostStaysInEditWithTheBufferUnchanged) {
  Table.Open();
  Table.Edit();
  Table.FieldByName("UserAnswer").SetAsString("B");
  Table.FailNextPost(tarn::TARN_RECLOCKFAILED);
  EXPECT_THROW(Table.Post(), tarn::ETarnEngineError);
  EXPECT_EQ(Table.State(), TDataSetState::Edit);
  EXPECT_TRUE(Table.RecordModified());
  EXPECT_EQ(Answer(Table), "B");
  // A move that posts fails the same way and does not move.
  Table.FailNextPost(tarn::TARN_RECLOCKFAILED);
  EXPECT_THROW(Table.Next(), tarn::ETarnEngineError);
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 1);
  Table.Post();
  EXPECT_EQ(Table.RowValue(0, "UserAnswer"), "B");
}

TEST_F(DataSetTest, FailedEditStaysInBrowse) {
  Table.Open();
  Table.FailNextEdit(tarn::TARN_RECLOCKFAILED);
  try {
    Table.Edit();
    FAIL();
  } catch (const tarn::ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), tarn::TARN_RECLOCKFAILED);
  }
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  EXPECT_TRUE(Table.LockedRows().empty());
  Table.SetReadOnly(true);
  EXPECT_THROW(Table.Edit(), tarn::EDatabaseError);
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
}

TEST_F(DataSetTest, FailedReadIsRaisedAndTheRecordStays) {
  Table.Open();
  Table.FailNextRead(tarn::TARN_RECLOCKFAILED);
  EXPECT_THROW(Table.Next(), tarn::ETarnEngineError);
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 1);
  Table.Next();
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 2);
}

// The field-write rules, one row per refused write.
TEST_F(DataSetTest, FieldWriteRulesRefuseWritesOutsideTheirStates) {
  struct TCase {
    const char* Name;
    std::function<void(TMemoryDataSet&)> Prepare;
    const char* Field;
    const char* Message;
  };
  const std::vector<TCase> cases = {
      {"browse", [](TMemoryDataSet&) {}, "UserAnswer", "Table is not in edit or insert mode."},
      {"browse blob", [](TMemoryDataSet&) {}, "Question", "Table is not in edit or insert mode."},
      {"read-only field",
       [](TMemoryDataSet& t) {
         t.FieldByName("AnswerTx").SetReadOnly(true);
         t.Edit();
       },
       "AnswerTx", "Field AnswerTx cannot be modified."},
      {"set-key, not an index field",
       [](TMemoryDataSet& t) {
         t.SetIndexFields({"Order"});
         t.SetKey();
       },
       "UserAnswer", "Field UserAnswer is not in the current index."},
  };
  for (const TCase& c : cases) {
    TMemoryDataSet t(QuizDefs());
    t.AppendRow({"Quiz", "1", "q1", "A", std::nullopt});
    t.Open();
    c.Prepare(t);
    try {
      t.FieldByName(c.Field).SetAsString("X");
      ADD_FAILURE() << c.Name;
    } catch (const tarn::EDatabaseError& e) {
      EXPECT_STREQ(e.what(), c.Message) << c.Name;
    }
    EXPECT_FALSE(t.RecordModified()) << c.Name;
  }
}

TEST_F(DataSetTest, SetKeyAcceptsIndexFieldsAndReadOnlyFields) {
  Table.Open();
  Table.SetIndexFields({"Order"});
  Table.FieldByName("Order").SetReadOnly(true);
  Table.SetKey();
  Table.FieldByName("Order").SetAsInteger(2);
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 2);
  Table.Post();  // applies the key
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  EXPECT_EQ(Table.FieldByName("Order").AsInteger(), 1);  // the record itself is untouched
}

TEST_F(DataSetTest, CalculatedFieldsLiveInTheCalculatedArea) {
  Table.AddField(std::make_unique<TStringField>("AnswerTx", 1));
  auto& order = Table.AddField(std::make_unique<TIntegerField>(TFieldType::Smallint, "Order"));
  auto& twice = Table.AddField(std::make_unique<TIntegerField>(TFieldType::Integer, "Twice"));
  twice.SetFieldKind(TFieldKind::Calculated);
  std::string refused;
  Table.OnCalcFields = [&](TDataSet& ds) {
    ds.FieldByName("Twice").SetAsInteger(2 * ds.FieldByName("Order").AsInteger());
    try {
      ds.FieldByName("AnswerTx").SetAsString("Z");  // a table field in calc-fields state
    } catch (const tarn::EDatabaseError& e) {
      refused = e.what();
    }
  };
  Table.Open();
  EXPECT_EQ(twice.AsInteger(), 2);
  EXPECT_EQ(refused, "Table is not in edit or insert mode.");
  Table.Next();
  EXPECT_EQ(twice.AsInteger(), 4);
  EXPECT_EQ(order.AsInteger(), 2);
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  Table.SetKey();
  try {
    twice.SetAsInteger(1);
    FAIL();
  } catch (const tarn::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field Twice is not in the current index.");
  }
}

TEST_F(DataSetTest, PersistentFieldsAreBoundOnOpenAndSurviveClose) {
  TField& answer = Table.AddField(std::make_unique<TStringField>("answertx", 1));
  Table.Open();
  EXPECT_EQ(Table.FieldCount(), 1u);
  EXPECT_EQ(answer.FieldNo(), 4);
  EXPECT_EQ(answer.AsString(), "A");
  Table.Close();
  EXPECT_EQ(Table.FindField("AnswerTx"), &answer);
  EXPECT_TRUE(answer.IsNull());
  Table.Open();
  Table.Next();
  EXPECT_EQ(answer.AsString(), "B");
}

TEST_F(DataSetTest, OpenFailuresLeaveTheDatasetInactive) {
  struct TCase {
    const char* Name;
    std::function<void(TMemoryDataSet&)> Prepare;
    const char* Message;
  };
  const std::vector<TCase> cases = {
      {"no handle", [](TMemoryDataSet& t) { t.SetNoHandle(true); }, "Error creating table handle."},
      {"missing field", [](TMemoryDataSet& t) { t.AddField(std::make_unique<TStringField>("Missing", 1)); },
       "VantorTable: Field 'Missing' not found"},
      {"type mismatch",
       [](TMemoryDataSet& t) { t.AddField(std::make_unique<TIntegerField>(TFieldType::Integer, "AnswerTx")); },
       "VantorTable: Type mismatch for field 'AnswerTx', expecting: Integer actual: String"},
      {"size mismatch", [](TMemoryDataSet& t) { t.AddField(std::make_unique<TStringField>("QuizName", 10)); },
       "VantorTable: Size mismatch for field 'QuizName', expecting: 10 actual: 20"},
  };
  for (const TCase& c : cases) {
    TMemoryDataSet t(QuizDefs());
    t.SetName("VantorTable");
    c.Prepare(t);
    TDataSource source(&t);
    TRecordingLink link;
    link.SetDataSource(&source);
    try {
      t.Open();
      ADD_FAILURE() << c.Name;
    } catch (const tarn::EDatabaseError& e) {
      EXPECT_STREQ(e.what(), c.Message) << c.Name;
    }
    EXPECT_FALSE(t.Active()) << c.Name;
    EXPECT_TRUE(link.Log.empty()) << c.Name;
  }
}

TEST_F(DataSetTest, LinksSeeEveryNotificationInOrder) {
  TDataSource source(&Table);
  TRecordingLink link;
  link.SetDataSource(&source);
  Table.Open();
  EXPECT_EQ(link.Log, (std::vector<std::string>{"active"}));
  link.Log.clear();
  Table.Next();
  Table.First();
  EXPECT_EQ(link.Log, (std::vector<std::string>{"checkbrowse", "scroll:1", "checkbrowse", "changed"}));
  link.Log.clear();
  Table.Edit();
  EXPECT_EQ(link.Log, (std::vector<std::string>{"editing", "record"}));
  link.Log.clear();
  link.OnUpdate = [&] { Table.FieldByName("UserAnswer").SetAsString("B"); };
  Table.Next();
  // Leaving edit mode: the link writes its value (its own field change is not
  // echoed back to it), the record is posted, then the move.
  EXPECT_EQ(link.Log, (std::vector<std::string>{"checkbrowse", "update", "update", "checkbrowse", "browsing",
                                                "changed", "scroll:1"}));
  link.Log.clear();
  Table.Close();
  EXPECT_EQ(link.Log, (std::vector<std::string>{"checkbrowse", "inactive"}));
  EXPECT_EQ(Table.RowValue(0, "UserAnswer"), "B");
}

TEST_F(DataSetTest, DisabledControlsHearOnlyTheOutcome) {
  TDataSource source(&Table);
  TRecordingLink link;
  link.SetDataSource(&source);
  Table.Open();
  link.Log.clear();
  struct Case {
    const char* Name;
    std::function<void()> Work;
    std::vector<std::string> Heard;
  };
  const Case cases[] = {
      {"a move", [&] { Table.Next(); }, {"changed"}},
      {"closed and opened again", [&] { Table.Close(); Table.Open(); }, {"changed"}},
      {"closed", [&] { Table.Close(); }, {"inactive"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Table.DisableControls();
    Table.DisableControls();
    c.Work();
    Table.EnableControls();
    EXPECT_TRUE(link.Log.empty()) << "still disabled once";
    Table.EnableControls();
    EXPECT_FALSE(Table.ControlsDisabled());
    EXPECT_EQ(link.Log, c.Heard);
    link.Log.clear();
  }
}

TEST_F(DataSetTest, FieldDataLinkWritesItsPendingValueWhenTheRecordIsPosted) {
  TDataSource source(&Table);
  TFieldDataLink link;
  int reloads = 0;
  std::string shown = "?";
  link.OnDataChange = [&] {
    ++reloads;
    shown = link.Field() ? link.Field()->AsString() : "<none>";
  };
  std::string pending;
  link.OnUpdateData = [&] { link.Field()->SetText(pending); };
  link.SetFieldName("UserAnswer");
  link.SetDataSource(&source);
  EXPECT_EQ(link.Field(), nullptr);
  Table.Open();
  ASSERT_NE(link.Field(), nullptr);
  EXPECT_EQ(shown, "");  // a null field shows nothing
  EXPECT_FALSE(link.Editing());
  // A click: edit, then the control's own value, marked modified.
  EXPECT_TRUE(link.Edit());
  EXPECT_TRUE(link.Editing());
  pending = "B";
  link.MarkModified();
  EXPECT_TRUE(Answer(Table).empty());  // not written yet
  Table.Next();
  EXPECT_EQ(Table.RowValue(0, "UserAnswer"), "B");
  EXPECT_EQ(shown, "C");
  EXPECT_FALSE(link.IsModified());
  // A read-only link does not edit.
  link.SetReadOnly(true);
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(Table.State(), TDataSetState::Browse);
  Table.Close();
  EXPECT_EQ(link.Field(), nullptr);
  EXPECT_EQ(shown, "<none>");
  EXPECT_GT(reloads, 2);
}

TEST_F(DataSetTest, LinksOutliveTheirDatasetAndSource) {
  TFieldDataLink link;
  bool active = true;
  link.OnActiveChange = [&] { active = link.Active(); };
  link.SetFieldName("AnswerTx");
  {
    auto source = std::make_unique<TDataSource>();
    {
      TMemoryDataSet t(QuizDefs());
      t.AppendRow({"Quiz", "1", "q1", "A", std::nullopt});
      source->SetDataSet(&t);
      link.SetDataSource(source.get());
      t.Open();
      EXPECT_TRUE(active);
      t.Edit();
      t.FieldByName("AnswerTx").SetAsString("B");
    }  // the dataset dies open and editing
    EXPECT_FALSE(active);
    EXPECT_EQ(link.Field(), nullptr);
    EXPECT_EQ(source->DataSet(), nullptr);
  }  // the source dies with the link attached
  EXPECT_EQ(link.DataSource(), nullptr);
}

TEST_F(DataSetTest, ClosingPostsAModifiedRecord) {
  Table.Open();
  Table.Edit();
  Table.FieldByName("UserAnswer").SetAsString("A");
  Table.Close();
  EXPECT_FALSE(Table.Active());
  EXPECT_EQ(Table.FieldCount(), 0u);  // created fields go with the close
  EXPECT_EQ(Table.RowValue(0, "UserAnswer"), "A");
  EXPECT_THROW(Table.Next(), tarn::EDatabaseError);
}

}  // namespace
}  // namespace dbcomp
