// The quiz on real question tables: the bundled table the build makes, the
// answers stored in it across runs of the program, and the table's password.

#include "app/questions/question_table.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QRadioButton>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/questions/sample_questions.h"
#include "app_test_support.h"
#include "dbcomp/password_hook.h"
#include "dbcomp/session_list.h"
#include "dbcomp/tarn_table.h"
#include "engine/base/engine_error.h"
#include "widgets/bit_btn.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {
namespace {

using testing::TDialogRecorder;
using testing::TProgramDir;

// Every stored "UserAnswer" of the table in dir, in table order ("-" for null);
// between two runs of the program through a component layer of its own.
std::vector<std::string> StoredAnswers(const std::string& dir) {
  std::optional<dbcomp::TComponentLayer> layer;
  try {
    dbcomp::Sessions();
  } catch (const std::exception&) {
    layer.emplace();
  }
  dbcomp::DefaultSession().AddPassword("tamsin");
  dbcomp::TTarnTable table;
  table.SetDatabaseName(dir);
  table.SetTableName("velmorn2");
  table.Open();
  std::vector<std::string> out;
  for (table.First(); !table.IsEmpty();) {
    const dbcomp::TField& f = table.FieldByName("UserAnswer");
    out.push_back(f.IsNull() ? "-" : f.AsString());
    table.Next();
    if (table.AtEnd()) break;
  }
  return out;
}

class QuestionTableTest : public ::testing::Test {
 protected:
  QuestionTableTest() {
    Program.WriteWave("CrowdCheers.wav");
    Program.WriteWave("wrong answer.wav");
    Program.WriteFile("Vantor.ini", "[Z]\nPath=.\n");
  }
  // A fresh program run: the component layer and the main window.
  void StartProgram() {
    Layer.emplace();
    Form = std::make_unique<TMainForm>(std::make_unique<testing::TRecordingAudio>(Played));
    ASSERT_TRUE(Form->FormCreate());
    Form->show();
    Idle();
  }
  void EndProgram() {
    Form.reset();
    Layer.reset();
  }
  void Idle() {
    QApplication::processEvents();
    Form->ActionManagerUpdate();
  }
  void PickAndPress(int item) {
    Form->RAnswer()->Button(item)->click();
    Idle();
    Form->BNext()->click();
    Idle();
  }

  TProgramDir Program;
  TDialogRecorder Dialogs;
  std::optional<dbcomp::TComponentLayer> Layer;
  std::vector<std::string> Played;
  std::unique_ptr<TMainForm> Form;
};

TEST_F(QuestionTableTest, AnswersAreStoredInTheTableAndANewStartClearsThem) {
  WriteQuestionTable(Program.Dir.Path(), LoadSampleQuestions(), "tamsin");
  const std::vector<std::string> cleared(LoadSampleQuestions().size(), "-");
  StartProgram();
  EXPECT_EQ(StoredAnswers(Program.Dir.Path()), cleared) << "the start-up's new game";
  // Question 1 ("B"): a wrong pick first, then the right one; question 2 ("A").
  PickAndPress(3);
  PickAndPress(1);
  PickAndPress(0);
  EXPECT_EQ(Form->VantorTable()->FieldByName("Order").AsInteger(), 3);
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{"Try Again!", "You have 0 out of 1 right!",
                                                          "You have 1 out of 2 right!"}));
  EndProgram();

  std::vector<std::string> expected = cleared;
  expected[0] = "B";
  expected[1] = "A";
  EXPECT_EQ(StoredAnswers(Program.Dir.Path()), expected) << "what the player answered survives the program";

  // The next start begins with a new game: every answer cleared.
  StartProgram();
  EXPECT_EQ(StoredAnswers(Program.Dir.Path()), cleared);
  EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
  PickAndPress(1);
  Form->MNewGame()->trigger();
  Idle();
  EXPECT_EQ(StoredAnswers(Program.Dir.Path()), cleared) << "New Game clears them too";
  EndProgram();
}

TEST_F(QuestionTableTest, ATableOfAnotherPasswordAsksAndCancelIsFatal) {
  WriteQuestionTable(Program.Dir.Path(), LoadSampleQuestions(), "other");
  Layer.emplace();
  int asked = 0;
  dbcomp::TPasswordHook previous = dbcomp::SetPasswordHook([&](dbcomp::TTarnSession&) {
    ++asked;
    return false;  // Cancel
  });
  TMainForm form(std::make_unique<testing::TRecordingAudio>(Played));
  EXPECT_FALSE(form.FormCreate());
  dbcomp::SetPasswordHook(std::move(previous));
  EXPECT_EQ(asked, 1);
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Caption, "Error");
  EXPECT_EQ(Dialogs.Shown[0].Message.rfind("Tarn Engine Error # 10498 ", 0), 0u) << Dialogs.Shown[0].Message;
}

// The bundled table beside the built program: its five fields, the sample
// questions in order, every answer empty; the program draws its first
// question from it.
TEST(BundledTableTest, TheBuildPutsTheSampleTableBesideTheProgramAndItOpens) {
  const std::filesystem::path programDir = std::filesystem::path(VANTOR_PROGRAM).parent_path();
  testing_support::TTempDir dir;
  for (const char* name : {"vantor", "velmorn2.DAT", "velmorn2.IDX", "velmorn2.BLB", "Vantor.ini",
                           "main_picture.png", "next_glyph.png"})
    std::filesystem::copy_file(programDir / name, dir.File(name));
  std::ifstream ini(dir.File("Vantor.ini"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(ini), std::istreambuf_iterator<char>()), "[Z]\nPath=.\n");
  {
    dbcomp::TComponentLayer layer;
    dbcomp::DefaultSession().AddPassword("tamsin");
    dbcomp::TTarnTable table;
    table.SetDatabaseName(dir.Path());
    table.SetTableName("velmorn2");
    table.Open();
    std::vector<std::string> names;
    for (const dbcomp::TFieldDef& def : table.FieldDefs()) names.push_back(def.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"QuizName", "Order", "Question", "AnswerTx", "UserAnswer"}));
    table.UpdateIndexDefs();
    ASSERT_FALSE(table.IndexDefs().empty());
    EXPECT_TRUE(table.IndexDefs()[0].Options.Primary);
    const std::vector<TSampleQuestion> questions = LoadSampleQuestions();
    EXPECT_EQ(table.RecordCount(), static_cast<std::int64_t>(questions.size()));
    for (const TSampleQuestion& q : questions) {
      EXPECT_EQ(table.FieldByName("Order").AsInteger(), q.Order);
      EXPECT_EQ(table.FieldByName("AnswerTx").AsString(), q.AnswerTx);
      EXPECT_TRUE(table.FieldByName("UserAnswer").IsNull());
      EXPECT_EQ(table.FieldByName("Question").AsBytes(), q.Question);
      table.Next();
    }
  }
  {
    // Without the password the table does not open.
    dbcomp::TComponentLayer layer;
    dbcomp::TPasswordHook previous = dbcomp::SetPasswordHook([](dbcomp::TTarnSession&) { return false; });
    dbcomp::TTarnTable table;
    table.SetDatabaseName(dir.Path());
    table.SetTableName("velmorn2");
    EXPECT_THROW(table.Open(), tarn::ETarnEngineError);
    dbcomp::SetPasswordHook(std::move(previous));
  }
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(env);
  const std::string shot = dir.File("shot.png");
  process.start(QString::fromStdString(dir.File("vantor")), {"--screenshot", QString::fromStdString(shot)});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
  const QImage image(QString::fromStdString(shot));
  ASSERT_FALSE(image.isNull());
  EXPECT_GE(image.width(), 592);
}

}  // namespace
}  // namespace vantor
