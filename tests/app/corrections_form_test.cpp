// The question editor: its window, its rules for answers and order numbers,
// and its changes reaching the game, on real question tables in the test's
// directory.

#include "app/corrections_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/message_form.h"
#include "app/main_form.h"
#include "app/questions/question_table.h"
#include "app/questions/sample_questions.h"
#include "app/startup.h"
#include "app_test_support.h"
#include "dbcomp/session_list.h"
#include "dbcomp/tarn_table.h"
#include "widgets/bit_btn.h"
#include "widgets/db_edit.h"
#include "widgets/db_navigator.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {
namespace {

using testing::TDialogRecorder;
using testing::TProgramDir;
using widgets::TNavigateBtn;

// Three questions of the quiz "Quiz", orders 1 to 3, plain texts.
std::vector<TSampleQuestion> ThreeQuestions() {
  std::vector<TSampleQuestion> out;
  const char answers[] = {'A', 'B', 'D'};
  for (int i = 0; i < 3; ++i) {
    const std::string text = "Question " + std::to_string(i + 1);
    out.push_back({"Quiz", static_cast<std::int16_t>(i + 1),
                   std::vector<std::uint8_t>(text.begin(), text.end()), std::string(1, answers[i]),
                   std::nullopt});
  }
  return out;
}

// The pictures of a document, in order.
std::vector<QTextImageFormat> Pictures(const QTextDocument& doc) {
  std::vector<QTextImageFormat> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat())
        out.push_back(it.fragment().charFormat().toImageFormat());
  return out;
}

class CorrectionsFormTest : public ::testing::Test {
 protected:
  CorrectionsFormTest() {
    Program.WriteWave("CrowdCheers.wav");
    Program.WriteWave("wrong answer.wav");
    Program.WriteFile("Vantor.ini", "[Z]\nPath=.\n");
    WriteQuestionTable(Program.Dir.Path(), ThreeQuestions(), "tamsin");
  }
  ~CorrectionsFormTest() override { CloseEditor(); }

  // The editor on the test's table, shown.
  void OpenEditor() {
    Layer.emplace();
    dbcomp::DefaultSession().AddPassword("tamsin");
    Form = std::make_unique<TCorrectionsForm>();
    Form->OpenTable(Program.Dir.Path());
    Form->show();
    QApplication::processEvents();
  }
  void CloseEditor() {
    Form.reset();
    Layer.reset();
  }
  void Click(TNavigateBtn button) { Form->DBNavigator1()->Button(button)->click(); }
  dbcomp::TTarnTable& Table() { return Form->TarnTable1(); }
  int Order() { return Table().FieldByName("Order").AsInteger(); }
  // Replaces the text of an edit box by typing.
  static void Type(widgets::TDBEdit* box, const char* text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  // What the game finds, in its order: "order answer: text" per question.
  std::vector<std::string> GameQuestions(TMainForm& game) {
    std::vector<std::string> out;
    dbcomp::TDataSet& t = *game.VantorTable();
    for (t.First(); !t.IsEmpty();) {
      out.push_back(t.FieldByName("Order").AsString() + " " + t.FieldByName("AnswerTx").AsString() +
                    ": " + game.DBRichEdit()->toPlainText().trimmed().toStdString());
      t.Next();
      if (t.AtEnd()) break;
    }
    return out;
  }

  TProgramDir Program;
  TDialogRecorder Dialogs;
  TExceptionHandler Handler;
  std::optional<dbcomp::TComponentLayer> Layer;
  std::unique_ptr<TCorrectionsForm> Form;
  std::vector<std::string> Played;
};

TEST_F(CorrectionsFormTest, AnAddedQuestionWithAPictureAndADeletedOneReachTheGame) {
  QImage green(120, 80, QImage::Format_RGB32);
  green.fill(QColor(0, 160, 0));
  ASSERT_TRUE(green.save(QString::fromStdString(Program.Dir.File("leaf.png")), "PNG"));
  OpenEditor();

  // A new question: text, a picture, order 4, answer "c" typed as "C".
  Click(TNavigateBtn::Last);
  Click(TNavigateBtn::Insert);
  ASSERT_EQ(Table().State(), dbcomp::TDataSetState::Insert);
  Form->DBRichEdit1()->setFocus();
  QTest::keyClicks(Form->DBRichEdit1(), "Which leaf is green? ");
  ASSERT_TRUE(Form->InsertPictureFile(Program.Dir.File("leaf.png")));
  Type(Form->DBEdit1(), "4");
  Type(Form->DBEdit2(), "c");
  EXPECT_EQ(Form->DBEdit2()->text(), "C");
  Click(TNavigateBtn::Post);
  EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{});
  ASSERT_EQ(Table().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(Order(), 4);
  EXPECT_EQ(Table().FieldByName("QuizName").AsString(), "Quiz");

  // Question 2 deleted, after the program's confirmation.
  Click(TNavigateBtn::First);
  Click(TNavigateBtn::Next);
  ASSERT_EQ(Order(), 2);
  Click(TNavigateBtn::Delete);
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Caption, "Confirm");
  EXPECT_EQ(Dialogs.Shown[0].Message, "Delete record?");
  EXPECT_EQ(Order(), 3);
  Form->close();
  EXPECT_FALSE(Form->isVisible());
  CloseEditor();

  // The game's next start: its own component layer, "Vantor.ini", password.
  Layer.emplace();
  TMainForm game(std::make_unique<testing::TRecordingAudio>(Played));
  ASSERT_TRUE(game.FormCreate());
  EXPECT_EQ(GameQuestions(game),
            (std::vector<std::string>{"1 A: Question 1", "3 D: Question 3",
                                      std::string("4 C: Which leaf is green? ") + "\xef\xbf\xbc"}));
  game.VantorTable()->Last();
  const std::vector<QTextImageFormat> pictures = Pictures(*game.DBRichEdit()->document());
  ASSERT_EQ(pictures.size(), 1u);
  EXPECT_DOUBLE_EQ(pictures[0].width(), 120.0);  // narrower than the editor: not scaled
  const QImage shown = game.DBRichEdit()
                           ->document()
                           ->resource(QTextDocument::ImageResource, QUrl(pictures[0].name()))
                           .value<QImage>();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.size(), QSize(120, 80));
  EXPECT_EQ(shown.pixelColor(60, 40), QColor(0, 160, 0));
  EXPECT_EQ(Dialogs.Shown.size(), 1u);
}

TEST_F(CorrectionsFormTest, TheWindowItsControlsAndItsTable) {
  Layer.emplace();
  TCorrectionsForm form;
  EXPECT_EQ(form.windowTitle(), "CorrectionsForm");
  EXPECT_EQ(form.size(), QSize(600, 450));
  EXPECT_NE(form.minimumSize(), form.maximumSize()) << "sizeable";
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_EQ(form.font().pointSize(), 8);

  struct TPlace {
    const char* Name;
    QRect Geometry;  // width and height 0: a label, only its corner counts
    const char* Text;
  };
  const TPlace places[] = {
      {"Label1", {18, 15, 0, 0}, "Question"},     {"DBRichEdit1", {16, 32, 329, 337}, ""},
      {"DBNavigator1", {21, 379, 320, 28}, ""},   {"Label2", {376, 32, 0, 0}, "Order:"},
      {"DBEdit1", {376, 48, 57, 21}, ""},         {"Label3", {383, 160, 0, 0}, "Answer:"},
      {"DBEdit2", {384, 178, 57, 21}, ""},
  };
  for (const TPlace& p : places) {
    SCOPED_TRACE(p.Name);
    const QWidget* w = form.findChild<QWidget*>(p.Name);
    ASSERT_NE(w, nullptr);
    if (p.Geometry.width() == 0) {
      EXPECT_EQ(w->pos(), p.Geometry.topLeft());
      EXPECT_EQ(qobject_cast<const QLabel*>(w)->text(), p.Text);
    } else {
      EXPECT_EQ(w->geometry(), p.Geometry);
    }
  }
  // Tab order: the question, then the order and the answer.
  const auto nextTabStop = [](QWidget* w) {
    for (QWidget* n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain())
      if ((n->focusPolicy() & Qt::TabFocus) != 0 && n->isEnabled()) return n;
    return w;
  };
  EXPECT_EQ(nextTabStop(form.DBRichEdit1()), form.DBEdit1());
  EXPECT_EQ(nextTabStop(form.DBEdit1()), form.DBEdit2());
  EXPECT_TRUE(form.DBRichEdit1()->tabChangesFocus());

  // The controls and their fields, all on DataSource1.
  EXPECT_FALSE(form.DBRichEdit1()->isReadOnly());
  EXPECT_EQ(form.DBRichEdit1()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.DBRichEdit1()->DataField(), "Question");
  EXPECT_EQ(form.DBEdit1()->DataField(), "Order");
  EXPECT_EQ(form.DBEdit2()->DataField(), "AnswerTx");
  for (dbcomp::TDataSource* s : {form.DBRichEdit1()->DataSource(), form.DBEdit1()->DataSource(),
                                 form.DBEdit2()->DataSource(), form.DBNavigator1()->DataSource()})
    EXPECT_EQ(s, &form.DataSource1());
  EXPECT_EQ(form.DataSource1().DataSet(), &form.TarnTable1());
  EXPECT_TRUE(form.DBNavigator1()->ShowHint());
  EXPECT_EQ(form.DBNavigator1()->Button(TNavigateBtn::Post)->toolTip(), "Post edit");

  // Its own table: "velmorn2", no database name, closed; nothing to navigate.
  dbcomp::TTarnTable& table = form.TarnTable1();
  EXPECT_EQ(table.Name(), "TarnTable1");
  EXPECT_EQ(table.TableName(), "velmorn2");
  EXPECT_EQ(table.DatabaseName(), "");
  EXPECT_EQ(table.EngineVersion(), "3.19");
  EXPECT_FALSE(table.Active());
  EXPECT_FALSE(table.AutoDisplayLabels());
  EXPECT_FALSE(table.CopyOnAppend());
  std::vector<std::string> origins;
  for (const char* name : {"QuizName", "Order", "Question", "AnswerTx", "UserAnswer"})
    origins.push_back(table.FieldByName(name).Origin());
  EXPECT_EQ(origins, (std::vector<std::string>{"velmorn2.QuizName", "velmorn2.Order", "velmorn2.Question",
                                               "velmorn2.AnswerTx", "velmorn2.UserAnswer"}));
  for (std::size_t i = 0; i < widgets::NavigateBtnCount; ++i)
    EXPECT_FALSE(form.DBNavigator1()->Button(static_cast<TNavigateBtn>(i))->isEnabled()) << i;
  // Showing the window with no database name opens nothing.
  form.show();
  QApplication::processEvents();
  EXPECT_FALSE(table.Active());
  form.close();
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(CorrectionsFormTest, AnswersAreTheLettersAToDAndEveryQuestionHasAnOrder) {
  OpenEditor();
  const std::string answerMessage = std::string(TCorrectionsForm::AnswerMessage) + ".";
  const std::string orderMessage = std::string(TCorrectionsForm::OrderMessage) + ".";
  struct TCase {
    const char* Typed;
    const char* Shown;   // the box after typing
    const char* Stored;  // "" when refused
  };
  const TCase cases[] = {{"E", "E", ""}, {"1", "1", ""}, {"b", "B", "B"}, {"D", "D", "D"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Typed);
    Dialogs.Shown.clear();
    Type(Form->DBEdit2(), c.Typed);
    EXPECT_EQ(Form->DBEdit2()->text(), c.Shown);
    Click(TNavigateBtn::Post);
    if (*c.Stored == '\0') {
      EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{answerMessage});
      EXPECT_EQ(Dialogs.Shown[0].Caption, "Error");
      EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Edit);
      // Closing with the refused answer pending keeps the window open.
      Form->close();
      EXPECT_TRUE(Form->isVisible());
      EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{answerMessage, answerMessage}));
    } else {
      EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{});
      EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Browse);
      EXPECT_EQ(Table().FieldByName("AnswerTx").AsString(), c.Stored);
    }
  }

  // A new question without an order, then without an answer.
  Click(TNavigateBtn::Insert);
  Dialogs.Shown.clear();
  Type(Form->DBEdit2(), "A");
  Click(TNavigateBtn::Post);
  EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{orderMessage});
  Type(Form->DBEdit1(), "7");
  Type(Form->DBEdit2(), "");
  QTest::keyClick(Form->DBEdit2(), Qt::Key_Delete);
  Click(TNavigateBtn::Post);
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{orderMessage, answerMessage}));
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Insert);
  // Escape gives the new question up; the window then closes.
  QTest::keyClick(Form.get(), Qt::Key_Escape);
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(Table().RecordCount(), 3);
  QTest::keyClick(Form.get(), Qt::Key_Escape);
  EXPECT_FALSE(Form->isVisible());
}

// With the real dialogs: the error dialog that reports a refused answer takes
// the focus from the answer box, which must not report its value once more.
TEST_F(CorrectionsFormTest, ARefusedAnswerIsReportedOnceByTheRealDialog) {
  OpenEditor();
  Form->activateWindow();
  QApplication::processEvents();
  Type(Form->DBEdit2(), "E");
  ASSERT_TRUE(Form->DBEdit2()->hasFocus());
  TDialogHooks recorderHooks = SetDialogHooks({});
  std::vector<std::string> texts;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* form = qobject_cast<TMessageForm*>(QApplication::activeModalWidget())) {
      texts.push_back(form->MessageLabel()->text().toStdString());
      form->findChild<widgets::TBitBtn*>("OK")->click();
    }
  });
  closer.start(10);
  Click(TNavigateBtn::Post);
  closer.stop();
  SetDialogHooks(std::move(recorderHooks));
  EXPECT_EQ(texts, std::vector<std::string>{std::string(TCorrectionsForm::AnswerMessage) + "."});
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Edit);
  EXPECT_EQ(Form->DBEdit2()->text(), "E");
}

TEST_F(CorrectionsFormTest, ADuplicateOrderIsRefusedByThePrimaryIndex) {
  OpenEditor();
  Click(TNavigateBtn::Insert);
  Type(Form->DBEdit1(), "2");
  Type(Form->DBEdit2(), "A");
  Click(TNavigateBtn::Post);
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Caption, "Error");
  const std::string& message = Dialogs.Shown[0].Message;
  EXPECT_EQ(message.rfind("Tarn Engine Error # 9729 Duplicate key found in the index", 0), 0u) << message;
  EXPECT_EQ(message.back(), '.');
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Insert);
  // Another order goes in.
  Type(Form->DBEdit1(), "5");
  Click(TNavigateBtn::Post);
  EXPECT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Table().RecordCount(), 4);
  EXPECT_EQ(Order(), 5);

  // Changing a question's order to one in use is refused the same way.
  Click(TNavigateBtn::First);
  Type(Form->DBEdit1(), "3");
  Click(TNavigateBtn::Post);
  ASSERT_EQ(Dialogs.Shown.size(), 2u);
  EXPECT_EQ(Dialogs.Shown[1].Message.rfind("Tarn Engine Error # 9729 ", 0), 0u) << Dialogs.Shown[1].Message;
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Edit);
  Click(TNavigateBtn::Cancel);
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Form->DBEdit1()->text(), "1");
}

TEST_F(CorrectionsFormTest, PictureFilesThatAreNoPngOrJpeg) {
  OpenEditor();
  Program.WriteFile("notes.txt", "just some words");
  QImage image(10, 10, QImage::Format_RGB32);
  image.fill(Qt::yellow);
  ASSERT_TRUE(image.save(QString::fromStdString(Program.Dir.File("sun.jpg")), "JPEG"));
  ASSERT_TRUE(image.save(QString::fromStdString(Program.Dir.File("sun.bmp")), "BMP"));
  QImage wide(1000, 50, QImage::Format_RGB32);
  wide.fill(Qt::darkRed);
  ASSERT_TRUE(wide.save(QString::fromStdString(Program.Dir.File("wide.png")), "PNG"));
  struct TCase {
    const char* File;
    const char* Error;  // "" when the picture goes in
  };
  const TCase cases[] = {{"missing.png", "cannot be read"},
                         {"notes.txt", "cannot be read"},
                         {"sun.bmp", "is not a PNG or JPEG file"},
                         {"sun.jpg", ""},
                         {"wide.png", ""}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    if (*c.Error == '\0') {
      EXPECT_TRUE(Form->InsertPictureFile(Program.Dir.File(c.File)));
      continue;
    }
    try {
      Form->InsertPictureFile(Program.Dir.File(c.File));
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << e.what();
    }
  }
  const QTextDocument& doc = *Form->DBRichEdit1()->document();
  const std::vector<QTextImageFormat> pictures = Pictures(doc);
  ASSERT_EQ(pictures.size(), 2u);
  EXPECT_EQ(pictures[0].width(), 10.0);
  // The wide one is stored no wider than the panes show it.
  const QImage stored =
      doc.resource(QTextDocument::ImageResource, QUrl(pictures[1].name())).value<QImage>();
  EXPECT_EQ(stored.size(), QSize(TCorrectionsForm::MaxPictureWidth, 14));  // 1000 x 50 scaled
  EXPECT_EQ(pictures[1].width(), TCorrectionsForm::MaxPictureWidth);
  EXPECT_EQ(pictures[1].height(), 14.0);
  EXPECT_EQ(Table().State(), dbcomp::TDataSetState::Edit);
}

TEST_F(CorrectionsFormTest, BoldItalicAndSizeAreKeptInTheQuestion) {
  OpenEditor();
  widgets::TDBRichEdit* editor = Form->DBRichEdit1();
  QTextCursor word(editor->document());
  word.movePosition(QTextCursor::EndOfWord, QTextCursor::KeepAnchor);  // "Question"
  editor->setTextCursor(word);
  Form->BBold()->click();
  // Italic by its key in the editor.
  Form->activateWindow();
  editor->setFocus();
  QApplication::processEvents();
  QTest::keyClick(editor, Qt::Key_I, Qt::ControlModifier);
  EXPECT_TRUE(Form->BItalic()->isChecked());
  Form->CSize()->setCurrentIndex(Form->CSize()->findData(20));
  Q_EMIT Form->CSize()->activated(Form->CSize()->currentIndex());
  EXPECT_TRUE(Form->BBold()->isChecked());
  Click(TNavigateBtn::Post);
  ASSERT_TRUE(Dialogs.Shown.empty()) << Dialogs.Shown[0].Message;
  Click(TNavigateBtn::Next);
  Click(TNavigateBtn::First);
  QTextCursor c(editor->document());
  c.setPosition(2);
  EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
  EXPECT_TRUE(c.charFormat().fontItalic());
  EXPECT_DOUBLE_EQ(c.charFormat().fontPointSize(), 20.0);
  c.setPosition(10);  // " 1" keeps the plain format
  EXPECT_NE(c.charFormat().fontWeight(), QFont::Bold);
  editor->setTextCursor(c);
  EXPECT_FALSE(Form->BBold()->isChecked());
  EXPECT_EQ(editor->toPlainText(), "Question 1");
}

// The game's hidden "Form" item: the editor opens on the game's table, a
// pending answer of the player is stored first, and the game shows the change.
TEST_F(CorrectionsFormTest, TheHiddenFormItemEditsTheGamesTable) {
  Layer.emplace();
  TMainForm game(std::make_unique<testing::TRecordingAudio>(Played));
  ASSERT_TRUE(game.FormCreate());
  game.show();
  TCorrectionsForm editor(&game);
  editor.SetDatabaseName(game.DatabaseName());
  game.SetEditorForm(&editor);
  game.RAnswer()->Button(3)->click();  // the player's pick: the record is locked for edit
  ASSERT_EQ(game.VantorTable()->State(), dbcomp::TDataSetState::Edit);

  bool active = false;
  QTimer::singleShot(0, &editor, [&] {
    active = editor.TarnTable1().Active();
    editor.DBEdit2()->setFocus();
    editor.DBEdit2()->selectAll();
    QTest::keyClicks(editor.DBEdit2(), "C");
    editor.done(QDialog::Accepted);  // posts the change
  });
  game.MForm()->trigger();
  EXPECT_TRUE(active);
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Shown[0].Message;
  EXPECT_FALSE(editor.TarnTable1().Active());
  EXPECT_EQ(game.VantorTable()->State(), dbcomp::TDataSetState::Browse);
  EXPECT_EQ(game.VantorTable()->FieldByName("AnswerTx").AsString(), "C");
  EXPECT_EQ(game.VantorTable()->FieldByName("UserAnswer").AsString(), "D");
}

// Start-up creates the editor after the about window, set to the game's
// table directory but closed; with the edit option the editor is the window.
TEST_F(CorrectionsFormTest, StartUpMakesTheEditorOrShowsItInsteadOfTheGame) {
  Layer.emplace();
  TStartupOptions options;
  options.ScreenshotFile = Program.Dir.File("game.png");
  std::vector<std::string> created;
  TCorrectionsForm* editor = nullptr;
  options.OnShown = [&](TMainForm& mainForm) {
    for (QObject* child : mainForm.children())
      if (qobject_cast<QDialog*>(child) != nullptr) created.push_back(child->metaObject()->className());
    editor = mainForm.findChild<TCorrectionsForm*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->DatabaseName(), ".");
    EXPECT_FALSE(editor->isVisible());
    EXPECT_FALSE(editor->TarnTable1().Active());
  };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(*qApp, options), ScreenshotWritten);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(created, (std::vector<std::string>{"vantor::THelpForm", "vantor::TAboutForm",
                                               "vantor::TCorrectionsForm"}));
  Layer.reset();

  Layer.emplace();
  options = {};
  options.Edit = true;
  options.ScreenshotFile = Program.Dir.File("editor.png");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(*qApp, options), ScreenshotWritten);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  const QImage shot(QString::fromStdString(options.ScreenshotFile));
  EXPECT_EQ(shot.size(), QSize(600, 450));
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST(CorrectionsCommandLineTest, TheEditOption) {
  const char* edit[] = {"vantor", "--edit", "--screenshot", "/tmp/e.png"};
  const TCommandLine parsed = ParseCommandLine(4, edit);
  EXPECT_EQ(parsed.Error, "");
  EXPECT_TRUE(parsed.Edit);
  EXPECT_EQ(parsed.ScreenshotFile, "/tmp/e.png");
  const char* plain[] = {"vantor"};
  EXPECT_FALSE(ParseCommandLine(1, plain).Edit);
  const char* valued[] = {"vantor", "--edit=yes"};
  EXPECT_NE(ParseCommandLine(2, valued).Error, "");
  EXPECT_NE(HelpText("/opt").find("--edit"), std::string::npos);
}

// "vantor --edit" on the bundled table draws the editor; without a table it
// takes the fatal path.
TEST(CorrectionsProgramTest, EditModeDrawsTheEditorOrEndsWithTheError) {
  const std::filesystem::path programDir = std::filesystem::path(VANTOR_PROGRAM).parent_path();
  testing_support::TTempDir dir;
  std::filesystem::copy_file(programDir / "vantor", dir.File("vantor"));
  const auto run = [&](const std::string& shot) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(dir.File("vantor")),
                  {"--edit", "--screenshot", QString::fromStdString(shot)});
    EXPECT_TRUE(process.waitForFinished(60000));
    return std::pair(process.exitCode(), process.readAllStandardError().toStdString());
  };
  const auto [failed, failure] = run(dir.File("none.png"));
  EXPECT_EQ(failed, ScreenshotNoWindow) << failure;
  EXPECT_NE(failure.find("Tarn Engine Error # 11010"), std::string::npos) << failure;
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.png")));

  for (const char* name : {"velmorn2.DAT", "velmorn2.IDX", "velmorn2.BLB", "Vantor.ini"})
    std::filesystem::copy_file(programDir / name, dir.File(name));
  const auto [code, err] = run(dir.File("editor.png"));
  EXPECT_EQ(code, ScreenshotWritten) << err;
  const QImage image(QString::fromStdString(dir.File("editor.png")));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(600, 450));
}

}  // namespace
}  // namespace vantor
