#include "widgets/db_edit.h"

#include <gtest/gtest.h>

#include <QTest>
#include <string>
#include <vector>

#include "dbcomp/data_set.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "engine/base/engine_error.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"
#include "widgets/question_data_set.h"

namespace {

using widget_testing::TQuestionTable;

class EditBound : public ::testing::Test {
 protected:
  EditBound()
      : Table({{std::nullopt, "A", std::nullopt},
               {std::nullopt, "B", std::nullopt},
               {std::nullopt, "C", "D"}}) {
    Order.SetDataSource(Table.Source.get());
    Order.SetDataField("Order");
    Answer.SetDataSource(Table.Source.get());
    Answer.SetDataField("AnswerTx");
    FPreviousReporter = widgets::SetExceptionReporter(
        [this](const std::exception& e) { Reported.push_back(e.what()); });
  }
  ~EditBound() override { widgets::SetExceptionReporter(std::move(FPreviousReporter)); }
  dbcomp::TDataSet& Data() { return *Table.DataSet; }

  TQuestionTable Table;
  widgets::TDBEdit Order;
  widgets::TDBEdit Answer;
  std::vector<std::string> Reported;

 private:
  widgets::TExceptionReporter FPreviousReporter;
};

TEST_F(EditBound, ShowsTheFieldOfEveryRecordAndNothingWhenInactive) {
  EXPECT_EQ(Answer.text(), "");
  Data().Open();
  EXPECT_EQ(Order.text(), "1");
  EXPECT_EQ(Answer.text(), "A");
  EXPECT_EQ(Answer.maxLength(), 1);  // a string field of one character
  Data().Last();
  EXPECT_EQ(Order.text(), "3");
  EXPECT_EQ(Answer.text(), "C");
  Data().Close();
  EXPECT_EQ(Order.text(), "");
}

TEST_F(EditBound, TypingEditsAndThePostWritesTheText) {
  Data().Open();
  Order.setFocus();
  Order.selectAll();
  QTest::keyClicks(&Order, "12");
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  EXPECT_TRUE(Order.DataLink().IsModified());
  Data().Post();
  EXPECT_EQ(Table.DataSet->RowValue(0, "Order"), "12");
  EXPECT_EQ(Order.text(), "12");

  // An emptied box stores null.
  Answer.selectAll();
  QTest::keyClick(&Answer, Qt::Key_Delete);
  Data().Next();  // posts on the way
  EXPECT_EQ(Table.DataSet->RowValue(0, "AnswerTx"), std::nullopt);
  EXPECT_EQ(Answer.text(), "B");
}

TEST_F(EditBound, CharCaseEscapeAndRefusedKeys) {
  Data().Open();
  Answer.SetCharCase(widgets::TEditCharCase::UpperCase);
  Answer.selectAll();
  QTest::keyClicks(&Answer, "c");
  EXPECT_EQ(Answer.text(), "C");
  // Escape puts the field's value back and ends nothing else.
  QTest::keyClick(&Answer, Qt::Key_Escape);
  EXPECT_EQ(Answer.text(), "A");
  EXPECT_FALSE(Answer.DataLink().IsModified());
  Data().Cancel();

  // A dataset that cannot edit refuses the keys.
  Table.DataSet->SetReadOnly(true);
  Data().Refresh();
  Answer.selectAll();
  QTest::keyClicks(&Answer, "B");
  EXPECT_EQ(Answer.text(), "A");
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
  EXPECT_TRUE(Reported.empty());
}

TEST_F(EditBound, AValueTheFieldRefusesStaysAndIsReported) {
  Data().Open();
  Data().FieldByName("AnswerTx").OnValidate = [](dbcomp::TField&, std::span<const std::uint8_t> v) {
    if (v.empty() || v[0] < 'A' || v[0] > 'D') dbcomp::DatabaseError("Only A to D");
  };
  Answer.selectAll();
  QTest::keyClicks(&Answer, "X");
  // Through the post: the post raises and the edit goes on.
  EXPECT_THROW(Data().Post(), tarn::EDatabaseError);
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  EXPECT_EQ(Answer.text(), "X");
  // Another window taking the focus (the report's own dialog, say) writes
  // nothing and reports nothing.
  Answer.DataLink().MarkModified();
  for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
    QFocusEvent away(QEvent::FocusOut, reason);
    QApplication::sendEvent(&Answer, &away);
  }
  EXPECT_TRUE(Reported.empty());
  // Leaving the box for another control: reported, and the value is still
  // pending.
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(&Answer, &out);
  ASSERT_EQ(Reported.size(), 1u);
  EXPECT_EQ(Reported[0], "Only A to D");
  EXPECT_TRUE(Answer.DataLink().IsModified());
  // A right letter then goes through.
  Answer.selectAll();
  QTest::keyClicks(&Answer, "D");
  Data().Post();
  EXPECT_EQ(Table.DataSet->RowValue(0, "AnswerTx"), "D");
}

}  // namespace
