// Start-up and the game in the main window, on in-memory question tables.

#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/exception_handler.h"
#include "app/questions/sample_questions.h"
#include "app/startup.h"
#include "app_test_support.h"
#include "dbcomp/memory_data_set.h"
#include "dbcomp/session_list.h"
#include "dbcomp/table_factory.h"
#include "engine/base/error_context.h"
#include "widgets/bit_btn.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {
namespace {

using dbcomp::TFieldType;
using testing::TDialogRecorder;
using testing::TProgramDir;

// Installs a table factory for the test: a table exists where a directory
// (the database name with "\" read as "/", relative to the current
// directory) holds "velmorn2.DAT"; it opens as an in-memory table with the
// given answers. Without the file the engine's missing-table error is raised.
class TTestTables {
 public:
  explicit TTestTables(std::string answers = "AB") : FAnswers(std::move(answers)) {
    FPrevious = dbcomp::SetTableFactory([this](const std::string& database, const std::string& table) {
      Requests.push_back(database);
      PasswordKnown = dbcomp::DefaultSession().HasPassword("tamsin");
      std::string dir = database;
      for (char& c : dir)
        if (c == '\\') c = '/';
      if (!std::filesystem::exists(std::filesystem::path(dir) / (table + ".DAT")))
        tarn::RaiseEngineError(tarn::TARN_OSENOENT, {.Database = database, .Table = table});
      auto t = std::make_unique<dbcomp::TMemoryDataSet>(
          dbcomp::TFieldDefs{{"QuizName", TFieldType::String, 20},
                             {"Order", TFieldType::Smallint},
                             {"Question", TFieldType::Blob},
                             {"AnswerTx", TFieldType::String, 1},
                             {"UserAnswer", TFieldType::String, 1}});
      for (std::size_t i = 0; i < FAnswers.size(); ++i)
        t->AppendRow({"Quiz", std::to_string(i + 1), "Question " + std::to_string(i + 1),
                      std::string(1, FAnswers[i]), "D"});
      Table = t.get();
      return std::unique_ptr<dbcomp::TDataSet>(std::move(t));
    });
  }
  ~TTestTables() { dbcomp::SetTableFactory(std::move(FPrevious)); }

  std::vector<std::string> Requests;
  bool PasswordKnown = false;
  dbcomp::TMemoryDataSet* Table = nullptr;

 private:
  std::string FAnswers;
  dbcomp::TTableFactory FPrevious;
};

bool MainFormVisible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TMainForm*>(w) != nullptr && w->isVisible()) return true;
  return false;
}

class StartupTest : public ::testing::Test {
 protected:
  void MakeTableDir(const std::string& relative) {
    std::filesystem::create_directories(Program.Dir.File(relative));
    Program.WriteFile(relative + "/velmorn2.DAT", "");
  }
  dbcomp::TComponentLayer Layer;
  TProgramDir Program;
  TDialogRecorder Dialogs;
};

TEST_F(StartupTest, NoIniAndNoDirectoryShowOneErrorAndEndWithoutTheMainWindow) {
  bool visibleDuringDialog = true;
  Dialogs.OnShow = [&](TMessageForm&) { visibleDuringDialog = MainFormVisible(); };
  bool shown = false;
  const int code = RunProgram(*qApp, {[&](TMainForm&) { shown = true; }});
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(shown);
  EXPECT_FALSE(visibleDuringDialog);
  EXPECT_FALSE(MainFormVisible());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Caption, "Error");
  EXPECT_EQ(Dialogs.Shown[0].Type, TMsgDlgType::Error);
  EXPECT_EQ(Dialogs.Shown[0].Message, "Tarn Engine Error # 11010 Table 'velmorn2' does not exist.");
}

TEST_F(StartupTest, ClosingTheRealErrorDialogEndsTheProgram) {
  TDialogHooks recorderHooks = SetDialogHooks({});
  std::string text;
  QTimer::singleShot(0, [&] {
    auto* form = qobject_cast<TMessageForm*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    text = form->MessageLabel()->text().toStdString();
    EXPECT_FALSE(MainFormVisible());
    form->findChild<widgets::TBitBtn*>("OK")->click();
  });
  EXPECT_EQ(RunProgram(*qApp), 0);
  SetDialogHooks(std::move(recorderHooks));
  EXPECT_EQ(text, "Tarn Engine Error # 11010 Table 'velmorn2' does not exist.");
}

TEST_F(StartupTest, TheDefaultDirectoryIsAskedForWhenTheIniSaysNothing) {
  TTestTables tables;
  Program.WriteFile("Vantor.ini", "[Other]\nPath=/somewhere\n");
  TMainForm form;
  EXPECT_FALSE(form.FormCreate());
  EXPECT_EQ(tables.Requests, (std::vector<std::string>{"C:\\T30G"}));
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{"Tarn Engine Error # 11010 Table 'velmorn2' does not exist."}));
}

TEST_F(StartupTest, SlashesBackslashesAndRelativePathsReachTheSameDirectory) {
  MakeTableDir("tables/quiz");
  const std::string absolute = Program.Dir.File("tables/quiz");
  for (const std::string& path : {std::string("tables/quiz"), std::string("tables\\quiz"), absolute,
                                  std::string("./tables/quiz/")}) {
    TTestTables tables;
    Program.WriteFile("Vantor.ini", "[Z]\nPath=" + path + "\n");
    TMainForm form;
    EXPECT_TRUE(form.FormCreate()) << path;
    ASSERT_EQ(tables.Requests.size(), 1u);
    EXPECT_EQ(tables.Requests[0].find('/'), std::string::npos) << "every / became \\: " << tables.Requests[0];
    EXPECT_TRUE(form.VantorTable()->Active()) << path;
  }
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(StartupTest, TheRelativePathFollowsTheProgramDirectoryNotTheStartingOne) {
  MakeTableDir("tables");
  Program.WriteFile("Vantor.ini", "[Z]\nPath=tables\n");
  std::filesystem::current_path("/");
  InitPaths(Program.Dir.File("vantor"));  // start-up enters the program directory
  TTestTables tables;
  TMainForm form;
  EXPECT_TRUE(form.FormCreate());
}

TEST_F(StartupTest, ThePasswordIsRegisteredBeforeTheTableOpens) {
  MakeTableDir("q");
  Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
  TTestTables tables;
  TMainForm form;
  EXPECT_FALSE(dbcomp::DefaultSession().Active());
  ASSERT_TRUE(form.FormCreate());
  EXPECT_TRUE(tables.PasswordKnown);
  EXPECT_TRUE(dbcomp::DefaultSession().Active());
}

TEST_F(StartupTest, AFieldThatDoesNotMatchIsFatalToo) {
  MakeTableDir("q");
  Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
  dbcomp::TTableFactory previous = dbcomp::SetTableFactory([](const std::string&, const std::string&) {
    return std::unique_ptr<dbcomp::TDataSet>(std::make_unique<dbcomp::TMemoryDataSet>(
        dbcomp::TFieldDefs{{"QuizName", TFieldType::String, 20}, {"Order", TFieldType::Integer}}));
  });
  const int code = RunProgram(*qApp);
  dbcomp::SetTableFactory(std::move(previous));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{
                                    "VantorTable: Type mismatch for field 'Order', expecting: Smallint actual: Integer."}));
}

class MainFormTest : public StartupTest {
 protected:
  void Start(const std::string& answers, bool withSounds = true) {
    MakeTableDir("q");
    Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
    if (withSounds) {
      Program.WriteWave("CrowdCheers.wav");
      Program.WriteWave("wrong answer.wav");
    }
    Tables = std::make_unique<TTestTables>(answers);
    Form = std::make_unique<TMainForm>(std::make_unique<testing::TRecordingAudio>(Played));
    ASSERT_TRUE(Form->FormCreate());
    Form->show();
    Idle();
  }
  void Idle() {
    QApplication::processEvents();
    Form->ActionManagerUpdate();
  }
  void Pick(int item) {
    Form->RAnswer()->Button(item)->click();
    Idle();
  }
  void PressNext() {
    Form->BNext()->click();
    Idle();
  }
  int Order() { return Form->VantorTable()->FieldByName("Order").AsInteger(); }

  std::vector<std::string> Played;
  std::unique_ptr<TTestTables> Tables;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(MainFormTest, TheWindowAndItsMenu) {
  Start("AB");
  EXPECT_EQ(Form->windowTitle(), "Vantor");
  EXPECT_EQ(Form->centralWidget()->size(), QSize(592, 396));
  EXPECT_FALSE(Form->MForm()->isVisible());
  EXPECT_TRUE(Form->MForm()->shortcut().isEmpty());
  EXPECT_EQ(Form->MNewGame()->shortcut(), QKeySequence(Qt::Key_F2));
  EXPECT_EQ(Form->RAnswer()->Items(), (QStringList{"A", "B", "C", "D"}));
  EXPECT_EQ(Form->RAnswer()->title(), "My Answer:");
  EXPECT_EQ(Form->BNext()->text(), "Next");
  EXPECT_EQ(Form->DBRichEdit()->focusPolicy(), Qt::NoFocus);
  EXPECT_TRUE(Form->DBRichEdit()->isReadOnly());
}

TEST_F(MainFormTest, APlayedGameThroughTheControls) {
  Start("AB");
  EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
  EXPECT_FALSE(Form->BNext()->isEnabled());  // nothing picked
  EXPECT_EQ(Form->DBRichEdit()->toPlainText().toStdString(), "Question 1");
  Pick(1);  // "B": wrong
  EXPECT_TRUE(Form->BNext()->isEnabled());
  PressNext();
  Pick(0);
  PressNext();
  EXPECT_EQ(Order(), 2);
  EXPECT_EQ(Form->DBRichEdit()->toPlainText().toStdString(), "Question 2");
  EXPECT_FALSE(Form->BNext()->isEnabled());
  Pick(1);
  PressNext();
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{"Try Again!", "You have 0 out of 1 right!",
                                                          "You have 1 out of 2 right!",
                                                          "You win! Select File | New Game or press F2 to play again!"}));
  EXPECT_EQ(Played, (std::vector<std::string>{Program.Dir.File("wrong answer.wav"), Program.Dir.File("CrowdCheers.wav"),
                                              Program.Dir.File("CrowdCheers.wav")}));
  EXPECT_FALSE(Form->BNext()->isEnabled());
  EXPECT_EQ(Form->RAnswer()->Value(), "B");
  EXPECT_EQ(Tables->Table->RowValue(0, "UserAnswer"), "A");
  EXPECT_EQ(Tables->Table->RowValue(1, "UserAnswer"), "B");
  // New Game from there, with the Next button disabled.
  Form->MNewGame()->trigger();
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
  EXPECT_EQ(Tables->Table->RowValue(1, "UserAnswer"), std::nullopt);
  EXPECT_EQ(Form->Game()->RightTotal(), 0);
}

TEST_F(MainFormTest, EveryQuestionGetsTheDefaultFontOfThePane) {
  Start("AB");
  Form->DBRichEdit()->SetDefaultFont("Courier", 20);
  Pick(0);
  PressNext();
  const QFont font = Form->DBRichEdit()->DefaultFont();
  EXPECT_EQ(font.pointSizeF(), 14.0);
  EXPECT_EQ(font.family(), "Times New Roman");
}

TEST_F(MainFormTest, AMissingSoundFileReachesTheApplicationHandler) {
  TExceptionHandler handler;
  Start("AB", false);
  Program.WriteFile("CrowdCheers.wav", "not a wave file at all");
  Pick(1);
  PressNext();  // wrong: "wrong answer.wav" is missing
  EXPECT_FALSE(Form->Game()->Missed());
  Pick(0);
  PressNext();  // right: "CrowdCheers.wav" is no wave file
  ASSERT_EQ(Dialogs.Shown.size(), 2u);
  EXPECT_EQ(Dialogs.Shown[0].Caption, "Error");
  EXPECT_EQ(Dialogs.Shown[0].Message,
            "The sound file \"" + Program.Dir.File("wrong answer.wav") + "\" cannot be opened.");
  EXPECT_EQ(Dialogs.Shown[1].Message,
            "The sound file \"" + Program.Dir.File("CrowdCheers.wav") + "\" is not a wave file.");
  EXPECT_EQ(Form->Game()->RightTotal(), 1);
  EXPECT_EQ(Form->Game()->RightFirstTry(), 1);
  EXPECT_EQ(Order(), 1);  // the table did not move
  EXPECT_TRUE(Form->BNext()->isEnabled());
  EXPECT_TRUE(Played.empty());
}

TEST_F(MainFormTest, TheSampleQuestionsPlayedRightThrough) {
  MakeTableDir("q");
  Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
  Program.WriteWave("CrowdCheers.wav");
  Program.WriteWave("wrong answer.wav");
  const std::vector<TSampleQuestion> questions = LoadSampleQuestions();
  ASSERT_FALSE(questions.empty());
  dbcomp::TTableFactory previous = dbcomp::SetTableFactory([&](const std::string&, const std::string&) {
    auto t = std::make_unique<dbcomp::TMemoryDataSet>(
        dbcomp::TFieldDefs{{"QuizName", TFieldType::String, 20},
                           {"Order", TFieldType::Smallint},
                           {"Question", TFieldType::Blob},
                           {"AnswerTx", TFieldType::String, 1},
                           {"UserAnswer", TFieldType::String, 1}});
    for (const TSampleQuestion& q : questions) t->AppendRow(RowValues(q));
    return std::unique_ptr<dbcomp::TDataSet>(std::move(t));
  });
  Form = std::make_unique<TMainForm>(std::make_unique<testing::TRecordingAudio>(Played));
  ASSERT_TRUE(Form->FormCreate());
  Form->show();
  Idle();
  for (const TSampleQuestion& q : questions) {
    EXPECT_FALSE(Form->DBRichEdit()->toPlainText().isEmpty()) << q.Order;
    EXPECT_EQ(Form->DBRichEdit()->DefaultFont().pointSizeF(), 14.0) << q.Order;
    Pick(q.AnswerTx[0] - 'A');
    PressNext();
  }
  dbcomp::SetTableFactory(std::move(previous));
  const std::string n = std::to_string(questions.size());
  ASSERT_GE(Dialogs.Shown.size(), 2u);
  EXPECT_EQ(Dialogs.Shown[Dialogs.Shown.size() - 2].Message, "You have " + n + " out of " + n + " right!");
  EXPECT_EQ(Dialogs.Shown.back().Message, "You win! Select File | New Game or press F2 to play again!");
  EXPECT_FALSE(Form->BNext()->isEnabled());
}

}  // namespace
}  // namespace vantor
