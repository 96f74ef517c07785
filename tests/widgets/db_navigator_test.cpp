#include "widgets/db_navigator.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <functional>
#include <QToolButton>
#include <string>
#include <vector>

#include "dbcomp/data_set.h"
#include "dbcomp/field.h"
#include "engine/base/error_codes.h"
#include "widgets/exception_reporter.h"
#include "widgets/question_data_set.h"

namespace {

using widget_testing::TQuestionTable;
using widgets::TNavigateBtn;

// The enabled buttons as a string of their initials in button order
// ("FPNLIDEPCR"), "-" for a disabled one.
std::string Enabled(const widgets::TDBNavigator& nav) {
  static const char Initials[] = "FPNLIDEPCR";
  std::string out;
  for (std::size_t i = 0; i < widgets::NavigateBtnCount; ++i)
    out += nav.Button(static_cast<TNavigateBtn>(i))->isEnabled() ? Initials[i] : '-';
  return out;
}

class NavigatorBound : public ::testing::Test {
 protected:
  NavigatorBound()
      : Table({{std::nullopt, "A", std::nullopt},
               {std::nullopt, "B", std::nullopt},
               {std::nullopt, "C", std::nullopt}}) {
    Nav.SetDataSource(Table.Source.get());
    Nav.OnConfirm = [this](const QString& question) {
      Questions.push_back(question.toStdString());
      return ConfirmAnswer;
    };
    FPreviousReporter = widgets::SetExceptionReporter(
        [this](const std::exception& e) { Reported.push_back(e.what()); });
  }
  ~NavigatorBound() override { widgets::SetExceptionReporter(std::move(FPreviousReporter)); }
  dbcomp::TDataSet& Data() { return *Table.DataSet; }
  std::string Answer() { return Data().FieldByName("AnswerTx").AsString(); }

  TQuestionTable Table;
  widgets::TDBNavigator Nav;
  std::vector<std::string> Questions;
  std::vector<std::string> Reported;
  bool ConfirmAnswer = true;

 private:
  widgets::TExceptionReporter FPreviousReporter;
};

TEST_F(NavigatorBound, ButtonsFollowTheDatasetsPositionAndState) {
  struct TStep {
    const char* Name;
    std::function<void()> Act;
    const char* Enabled;  // one letter per button, "-" when disabled
  };
  const TStep steps[] = {
      {"inactive", [] {}, "----------"},
      {"opened on the first record", [&] { Data().Open(); }, "--NLIDE--R"},
      {"a middle record", [&] { Data().Next(); }, "FPNLIDE--R"},
      {"the last record", [&] { Data().Last(); }, "FP--IDE--R"},
      {"editing", [&] { Data().Edit(); }, "FP--ID-PC-"},
      {"posted", [&] { Data().Post(); }, "FP--IDE--R"},
      {"back to the first", [&] { Data().First(); }, "--NLIDE--R"},
      {"closed", [&] { Data().Close(); }, "----------"},
  };
  for (const TStep& s : steps) {
    SCOPED_TRACE(s.Name);
    s.Act();
    EXPECT_EQ(Enabled(Nav), s.Enabled);
  }
}

TEST(Navigator, ReadOnlyEmptyAndUnboundDatasets) {
  widgets::TDBNavigator nav;
  EXPECT_EQ(Enabled(nav), "----------");

  TQuestionTable readOnly({{std::nullopt, "A", std::nullopt}, {std::nullopt, "B", std::nullopt}});
  readOnly.DataSet->SetReadOnly(true);
  nav.SetDataSource(readOnly.Source.get());
  readOnly.DataSet->Open();
  EXPECT_EQ(Enabled(nav), "--NL-----R");

  TQuestionTable empty({});
  nav.SetDataSource(empty.Source.get());
  EXPECT_EQ(Enabled(nav), "----------");
  empty.DataSet->Open();
  EXPECT_EQ(Enabled(nav), "----I----R");

  nav.SetDataSource(nullptr);
  EXPECT_EQ(Enabled(nav), "----------");
}

TEST_F(NavigatorBound, ClicksRunTheDatasetOperations) {
  Data().Open();
  QSignalSpy clicks(&Nav, &widgets::TDBNavigator::Click);
  struct TClick {
    TNavigateBtn Button;
    const char* Answer;
  };
  const TClick moves[] = {{TNavigateBtn::Next, "B"},  {TNavigateBtn::Last, "C"},
                          {TNavigateBtn::Prior, "B"}, {TNavigateBtn::First, "A"},
                          {TNavigateBtn::Prior, "A"}, {TNavigateBtn::Refresh, "A"}};
  for (const TClick& c : moves) {
    Nav.Button(c.Button)->click();
    EXPECT_EQ(Answer(), c.Answer) << widgets::TDBNavigator::Hint(c.Button).toStdString();
  }
  // Prior on the first record is disabled: its click did nothing.
  EXPECT_EQ(clicks.count(), 5);
  EXPECT_EQ(clicks.back().at(0).value<TNavigateBtn>(), TNavigateBtn::Refresh);

  // Edit, change, Post keeps the change; Edit, change, Cancel drops it.
  Nav.Button(TNavigateBtn::Edit)->click();
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Edit);
  Data().FieldByName("AnswerTx").SetAsString("D");
  Nav.Button(TNavigateBtn::Post)->click();
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(Table.DataSet->RowValue(0, "AnswerTx"), "D");
  Nav.Button(TNavigateBtn::Edit)->click();
  Data().FieldByName("AnswerTx").SetAsString("C");
  Nav.Button(TNavigateBtn::Cancel)->click();
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(Answer(), "D");
  EXPECT_EQ(Table.DataSet->RowValue(0, "AnswerTx"), "D");
  EXPECT_TRUE(Reported.empty());
  EXPECT_TRUE(Questions.empty());
}

TEST_F(NavigatorBound, DeleteAsksFirstAndErrorsGoToTheReporter) {
  Data().Open();
  ConfirmAnswer = false;
  Nav.BtnClick(TNavigateBtn::Delete);
  EXPECT_EQ(Questions, std::vector<std::string>{"Delete record?"});
  EXPECT_TRUE(Reported.empty());  // declined: nothing was tried

  // A failing operation is reported, the dataset stays as it was, and the
  // buttons still follow it.
  Table.DataSet->FailNextEdit(tarn::TARN_LOCKED);
  QSignalSpy clicks(&Nav, &widgets::TDBNavigator::Click);
  Nav.Button(TNavigateBtn::Edit)->click();
  ASSERT_EQ(Reported.size(), 1u);
  EXPECT_NE(Reported[0].find("Tarn Engine Error # 10241"), std::string::npos) << Reported[0];
  EXPECT_EQ(Data().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(Enabled(Nav), "--NLIDE--R");

  // Without confirmation nothing is asked.
  Nav.SetConfirmDelete(false);
  ConfirmAnswer = true;
  Questions.clear();
  Table.DataSet->SetReadOnly(true);
  Nav.BtnClick(TNavigateBtn::Delete);
  EXPECT_TRUE(Questions.empty());
  EXPECT_EQ(Reported.size(), 2u);  // the read-only dataset refuses
}

TEST(Navigator, HintsAndLayout) {
  widgets::TDBNavigator nav;
  const char* hints[] = {"First record", "Prior record", "Next record", "Last record",
                         "Insert record", "Delete record", "Edit record", "Post edit",
                         "Cancel edit", "Refresh data"};
  nav.resize(320, 28);
  nav.show();
  for (std::size_t i = 0; i < widgets::NavigateBtnCount; ++i) {
    const auto b = static_cast<TNavigateBtn>(i);
    EXPECT_EQ(widgets::TDBNavigator::Hint(b), hints[i]);
    EXPECT_EQ(nav.Button(b)->toolTip(), hints[i]);
    EXPECT_EQ(nav.Button(b)->geometry(), QRect(static_cast<int>(i) * 32, 0, 32, 28)) << hints[i];
    EXPECT_FALSE(nav.Button(b)->icon().isNull());
  }
  nav.SetShowHint(false);
  EXPECT_TRUE(nav.Button(TNavigateBtn::First)->toolTip().isEmpty());
  // A width that does not divide evenly gives the first buttons a pixel more.
  nav.resize(325, 28);
  EXPECT_EQ(nav.Button(TNavigateBtn::First)->width(), 33);
  EXPECT_EQ(nav.Button(TNavigateBtn::Refresh)->geometry().right(), 324);
}

}  // namespace
