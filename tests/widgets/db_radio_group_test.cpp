#include "widgets/db_radio_group.h"

#include <ostream>
#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "dbcomp/data_set.h"
#include "dbcomp/field.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"
#include "widgets/question_data_set.h"

namespace {

using widget_testing::TQuestionTable;

int CheckedButtons(const widgets::TDBRadioGroup& group) {
  int n = 0;
  for (int i = 0; i < group.Items().size(); ++i) n += group.Button(i)->isChecked() ? 1 : 0;
  return n;
}

// Collects what reaches ReportException while it lives.
class TReportCapture {
 public:
  TReportCapture() {
    FPrevious = widgets::SetExceptionReporter(
        [this](const std::exception& e) { Messages.push_back(e.what()); });
  }
  ~TReportCapture() { widgets::SetExceptionReporter(FPrevious); }
  std::vector<std::string> Messages;

 private:
  widgets::TExceptionReporter FPrevious;
};

struct TValueCase {
  QStringList Values;
  QString Value;
  int Index;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TValueCase& c, std::ostream* os) {
  *os << "Value" << c.Value.toStdString() << "Index" << c.Index;
}


class RadioGroupValue : public ::testing::TestWithParam<TValueCase> {};

TEST_P(RadioGroupValue, ValueSelectsTheMatchingItemOrNone) {
  widgets::TDBRadioGroup group;
  group.SetItems({"A", "B", "C", "D"});
  group.SetValue("C");  // something selected before
  group.SetValues(GetParam().Values);
  group.SetValue(GetParam().Value);
  EXPECT_EQ(group.ItemIndex(), GetParam().Index);
  EXPECT_EQ(CheckedButtons(group), GetParam().Index >= 0 ? 1 : 0);
  EXPECT_EQ(group.Value(), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RadioGroupValue,
    ::testing::Values(TValueCase{{}, "B", 1}, TValueCase{{}, "D", 3},
                      TValueCase{{}, "b", -1},  // exact, case-sensitive
                      TValueCase{{}, "", -1}, TValueCase{{}, "AB", -1},
                      TValueCase{{"1", "2", "3", "4"}, "2", 1},
                      TValueCase{{"1", "2", "3", "4"}, "B", -1},
                      // An item without a value of its own is worth its caption.
                      TValueCase{{"1"}, "C", 2}));

class RadioGroupBound : public ::testing::Test {
 protected:
  RadioGroupBound()
      : Table({{std::nullopt, "B", std::nullopt},
               {std::nullopt, "C", std::string("C")},
               {std::nullopt, "A", std::nullopt}}) {
    Group.SetItems({"A", "B", "C", "D"});
    Group.SetDataSource(Table.Source.get());
    Group.SetDataField("UserAnswer");
    Table.DataSet->Open();
  }
  dbcomp::TDataSet& Data() { return *Table.DataSet; }

  TQuestionTable Table;
  widgets::TDBRadioGroup Group;
};

TEST_F(RadioGroupBound, NullFieldShowsNoSelectionOnEveryRecordChange) {
  EXPECT_EQ(Group.ItemIndex(), -1);
  EXPECT_EQ(CheckedButtons(Group), 0);
  Data().Next();
  EXPECT_EQ(Group.ItemIndex(), 2);
  EXPECT_EQ(Group.Value(), "C");
  Data().Next();  // from a selection back to a null value
  EXPECT_EQ(Group.ItemIndex(), -1);
  EXPECT_EQ(CheckedButtons(Group), 0);
  EXPECT_EQ(Group.Value(), "");
}

TEST_F(RadioGroupBound, ClickEditsAndThePostStoresTheLetter) {
  QSignalSpy clicks(&Group, &widgets::TDBRadioGroup::Click);
  Group.Button(1)->click();
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  EXPECT_EQ(Group.ItemIndex(), 1);
  EXPECT_TRUE(Group.DataLink().IsModified());
  EXPECT_EQ(clicks.count(), 1);
  Group.Button(3)->click();  // picking again only changes the value
  EXPECT_EQ(Group.Value(), "D");
  Data().Next();  // the move posts the pending letter
  EXPECT_EQ(Table.DataSet->RowValue(0, "UserAnswer"), std::optional<std::string>("D"));
  EXPECT_EQ(Table.DataSet->RowValue(1, "UserAnswer"), std::optional<std::string>("C"));
}

TEST_F(RadioGroupBound, NoSelectionIsWrittenAsNull) {
  Data().Next();
  Group.Button(0)->click();
  Group.SetItemIndex(-1);
  Group.SetValue("");
  Group.DataLink().MarkModified();
  Data().Post();
  EXPECT_EQ(Table.DataSet->RowValue(1, "UserAnswer"), std::nullopt);
}

TEST_F(RadioGroupBound, ClickIsUndoneWhenTheDatasetCannotEdit) {
  TReportCapture reports;
  Data().Next();                       // shows "C"
  Table.DataSet->FailNextEdit(10241);  // a record lock refused
  Group.Button(0)->click();
  EXPECT_EQ(reports.Messages.size(), 1u);
  EXPECT_EQ(Group.ItemIndex(), 2);
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);

  Table.Source->SetAutoEdit(false);
  Group.Button(3)->click();
  EXPECT_EQ(Group.ItemIndex(), 2);
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
}

TEST_F(RadioGroupBound, ClosedOrVanishedDatasetLeavesNoSelection) {
  Data().Next();
  ASSERT_EQ(Group.ItemIndex(), 2);
  Data().Close();
  EXPECT_EQ(Group.ItemIndex(), -1);
  Data().Open();
  Data().Next();
  ASSERT_EQ(Group.ItemIndex(), 2);
  Table.DataSet.reset();  // the dataset goes first, the control lives on
  EXPECT_EQ(Group.ItemIndex(), -1);
  Group.Button(1)->click();  // a source without a dataset cannot edit
  EXPECT_EQ(Group.ItemIndex(), -1);
  Table.Source.reset();  // no source at all: an ordinary radio group
  Group.Button(2)->click();
  EXPECT_EQ(Group.ItemIndex(), 2);
}

TEST(RadioGroup, FocusGoesToTheSelectedOrFirstButton) {
  QWidget window;
  auto* group = new widgets::TDBRadioGroup(&window);
  group->SetItems({"A", "B", "C", "D"});
  group->setGeometry(0, 0, 185, 129);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  group->setFocus();
  EXPECT_TRUE(group->ContainsFocus());
  EXPECT_TRUE(group->Button(0)->hasFocus());
  EXPECT_EQ(group->ItemIndex(), -1);  // focus alone selects nothing
  group->SetValue("C");
  window.setFocus();
  group->setFocus();
  EXPECT_TRUE(group->Button(2)->hasFocus());
}

TEST(RadioGroup, ButtonsShareTheHeightBelowTheCaption) {
  widgets::TDBRadioGroup group;
  group.setTitle("My Answer:");
  group.SetItems({"A", "B", "C", "D"});
  group.resize(185, 129);
  group.show();
  for (int i = 0; i < 4; ++i) {
    const QRect r = group.Button(i)->geometry();
    EXPECT_GE(r.top(), group.fontMetrics().height()) << i;
    EXPECT_LE(r.bottom(), 129) << i;
    if (i > 0) {
      EXPECT_EQ(r.top() - group.Button(i - 1)->geometry().top(), r.height());
    }
  }
}

}  // namespace
