// Start-up and the game in the main window, on in-memory question tables and
// on real Tarn tables in the test's directory.

#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/assets/asset_names.h"
#include "app/exception_handler.h"
#include "app/questions/question_source.h"
#include "app/questions/question_table.h"
#include "app/questions/sample_questions.h"
#include "app/startup.h"
#include "app_test_support.h"
#include "dbcomp/data_set.h"
#include "dbcomp/memory_data_set.h"
#include "dbcomp/session_list.h"
#include "dbcomp/table_factory.h"
#include "dbcomp/tarn_table.h"
#include "engine/base/error_context.h"
#include "widgets/bit_btn.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {
namespace {

using dbcomp::TFieldType;
using testing::TDialogRecorder;
using testing::TProgramDir;

enum class TTableKind { Memory, Real };

// Installs a table factory for the test: a table exists where a directory
// (the database name with "\\" read as "/", relative to the current
// directory) holds "velmorn2.DAT"; it opens with the given answers, as an
// in-memory table or as a real table written there (encrypted with the
// quiz's password). Without the file the engine's missing-table error is
// raised, naming the data file as the engine does.
class TTestTables {
 public:
  explicit TTestTables(std::string answers = "AB", TTableKind kind = TTableKind::Memory)
      : FAnswers(std::move(answers)), FKind(kind) {
    FPrevious =
        dbcomp::SetTableFactory([this](const std::string& database, const std::string& table) {
          Requests.push_back(database);
          PasswordKnown = dbcomp::DefaultSession().HasPassword("tamsin");
          std::string dir = database;
          for (char& c : dir)
            if (c == '\\') c = '/';
          if (!std::filesystem::exists(std::filesystem::path(dir) / (table + ".DAT")))
            tarn::RaiseEngineError(tarn::TARN_OSENOENT, {.Table = database + "\\" + table + ".DAT"});
          if (FKind == TTableKind::Real) return MakeRealTable(dir, database, table);
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

  // The stored "UserAnswer" of a row, read past the window's table.
  std::optional<std::string> StoredAnswer(std::size_t row) const {
    if (Table != nullptr) return Table->RowValue(row, "UserAnswer");
    dbcomp::TTarnTable reader;
    reader.SetDatabaseName(FDatabase);
    reader.SetTableName("velmorn2");
    reader.Open();
    for (std::size_t i = 0; i < row; ++i) reader.Next();
    dbcomp::TField& f = reader.FieldByName("UserAnswer");
    return f.IsNull() ? std::nullopt : std::optional(f.AsString());
  }
  std::size_t RowCount() const { return Table != nullptr ? Table->RowCount() : FAnswers.size(); }

  std::vector<std::string> Requests;
  bool PasswordKnown = false;
  dbcomp::TMemoryDataSet* Table = nullptr;

 private:
  std::unique_ptr<dbcomp::TDataSet> MakeRealTable(const std::string& dir, const std::string& database,
                                                  const std::string& table) {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(std::filesystem::path(dir) / (table + ext));
    std::vector<TSampleQuestion> questions;
    for (std::size_t i = 0; i < FAnswers.size(); ++i) {
      const std::string text = "Question " + std::to_string(i + 1);
      questions.push_back({"Quiz", static_cast<std::int16_t>(i + 1),
                           std::vector<std::uint8_t>(text.begin(), text.end()), std::string(1, FAnswers[i]), "D"});
    }
    WriteQuestionTable(dir, questions, "tamsin");
    FDatabase = database;
    auto t = std::make_unique<dbcomp::TTarnTable>();
    t->SetDatabaseName(database);
    t->SetTableName(table);
    return t;
  }

  std::string FAnswers;
  TTableKind FKind;
  std::string FDatabase;
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
  EXPECT_EQ(Dialogs.Shown[0].Message, "Tarn Engine Error # 11010 Table 'C:\\T30G\\velmorn2.DAT' does not exist.");
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
  EXPECT_EQ(text, "Tarn Engine Error # 11010 Table 'C:\\T30G\\velmorn2.DAT' does not exist.");
}

TEST_F(StartupTest, TheDefaultDirectoryIsAskedForWhenTheIniSaysNothing) {
  TTestTables tables;
  Program.WriteFile("Vantor.ini", "[Other]\nPath=/somewhere\n");
  TMainForm form;
  EXPECT_FALSE(form.FormCreate());
  EXPECT_EQ(tables.Requests, (std::vector<std::string>{"C:\\T30G"}));
  EXPECT_EQ(
      Dialogs.Messages(),
      (std::vector<std::string>{"Tarn Engine Error # 11010 Table 'C:\\T30G\\velmorn2.DAT' does not exist."}));
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
    EXPECT_EQ(tables.Requests[0].find('/'), std::string::npos)
        << "every / became \\: " << tables.Requests[0];
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
  dbcomp::TTableFactory previous = dbcomp::SetTableFactory([](const std::string&,
                                                              const std::string&) {
    return std::unique_ptr<dbcomp::TDataSet>(std::make_unique<dbcomp::TMemoryDataSet>(
        dbcomp::TFieldDefs{{"QuizName", TFieldType::String, 20}, {"Order", TFieldType::Integer}}));
  });
  const int code = RunProgram(*qApp);
  dbcomp::SetTableFactory(std::move(previous));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(
      Dialogs.Messages(),
      (std::vector<std::string>{
          "VantorTable: Type mismatch for field 'Order', expecting: Smallint actual: Integer."}));
}

class MainFormTest : public StartupTest, public ::testing::WithParamInterface<TTableKind> {
 protected:
  void Start(const std::string& answers, bool withSounds = true) {
    MakeTableDir("q");
    Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
    if (withSounds) {
      Program.WriteWave("CrowdCheers.wav");
      Program.WriteWave("wrong answer.wav");
    }
    Tables = std::make_unique<TTestTables>(answers, GetParam());
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
  void PickAndPress(std::initializer_list<int> items) {
    for (int item : items) {
      Pick(item);
      PressNext();
    }
  }
  int Order() { return Form->VantorTable()->FieldByName("Order").AsInteger(); }

  std::vector<std::string> Played;
  std::unique_ptr<TTestTables> Tables;
  std::unique_ptr<TMainForm> Form;
};

INSTANTIATE_TEST_SUITE_P(Tables, MainFormTest, ::testing::Values(TTableKind::Memory, TTableKind::Real),
                         [](const ::testing::TestParamInfo<TTableKind>& info) {
                           return info.param == TTableKind::Memory ? "InMemory" : "RealTable";
                         });

TEST_P(MainFormTest, TheWindowAndItsMenu) {
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

TEST_P(MainFormTest, APlayedGameThroughTheControls) {
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
  EXPECT_EQ(Dialogs.Messages(),
            (std::vector<std::string>{
                "Try Again!", "You have 0 out of 1 right!", "You have 1 out of 2 right!",
                "You win! Select File | New Game or press F2 to play again!"}));
  EXPECT_EQ(Played, (std::vector<std::string>{Program.Dir.File("wrong answer.wav"),
                                              Program.Dir.File("CrowdCheers.wav"),
                                              Program.Dir.File("CrowdCheers.wav")}));
  EXPECT_FALSE(Form->BNext()->isEnabled());
  EXPECT_EQ(Form->RAnswer()->Value(), "B");
  EXPECT_EQ(Tables->StoredAnswer(0), "A");
  EXPECT_EQ(Tables->StoredAnswer(1), "B");
  // New Game from there, with the Next button disabled.
  Form->MNewGame()->trigger();
  EXPECT_EQ(Order(), 1);
  EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
  EXPECT_EQ(Tables->StoredAnswer(1), std::nullopt);
  EXPECT_EQ(Form->Game()->RightTotal(), 0);
}

TEST_P(MainFormTest, EveryQuestionGetsTheDefaultFontOfThePane) {
  Start("AB");
  Form->DBRichEdit()->SetDefaultFont("Courier", 20);
  Pick(0);
  PressNext();
  const QFont font = Form->DBRichEdit()->DefaultFont();
  EXPECT_EQ(font.pointSizeF(), 14.0);
  EXPECT_EQ(font.family(), "Times New Roman");
}

TEST_P(MainFormTest, AMissingSoundFileReachesTheApplicationHandler) {
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

TEST_P(MainFormTest, TheSampleQuestionsPlayedRightThrough) {
  MakeTableDir("q");
  Program.WriteFile("Vantor.ini", "[Z]\nPath=q\n");
  Program.WriteWave("CrowdCheers.wav");
  Program.WriteWave("wrong answer.wav");
  const std::vector<TSampleQuestion> questions = LoadSampleQuestions();
  ASSERT_FALSE(questions.empty());
  // The real kind plays on the table the build makes, through the program's
  // own table component.
  if (GetParam() == TTableKind::Real) {
    std::filesystem::remove(Program.Dir.File("q/velmorn2.DAT"));
    WriteQuestionTable(Program.Dir.File("q"), questions, "tamsin");
  }
  dbcomp::TTableFactory previous =
      GetParam() == TTableKind::Real ? dbcomp::SetTableFactory(nullptr) :
      dbcomp::SetTableFactory([&](const std::string&, const std::string&) {
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
  EXPECT_EQ(Dialogs.Shown[Dialogs.Shown.size() - 2].Message,
            "You have " + n + " out of " + n + " right!");
  EXPECT_EQ(Dialogs.Shown.back().Message,
            "You win! Select File | New Game or press F2 to play again!");
  EXPECT_FALSE(Form->BNext()->isEnabled());
}

// --- The window as laid out. ---

// The main window's picture and glyph, from beside the test program into the
// test's program directory.
void CopyMainWindowAssets(const TProgramDir& program) {
  const QDir from(QCoreApplication::applicationDirPath());
  for (const char* name : {AssetNames::MainPicture, AssetNames::NextGlyph})
    std::filesystem::copy_file(from.filePath(name).toStdString(), program.Dir.File(name),
                               std::filesystem::copy_options::overwrite_existing);
}

// A face that stands in for a named family that is not installed must still
// be of the named kind.
bool ShowsSerif(const QFont& font) {
  const QString family = QFontInfo(font).family();
  return family == font.family() || (family.contains("Serif") && !family.contains("Sans"));
}

TEST_P(MainFormTest, EveryControlWhereItBelongs) {
  CopyMainWindowAssets(Program);
  Start("AB");
  struct TPlace {
    const char* Name;
    const char* Parent;
    QRect Bounds;
  };
  const TPlace places[] = {
      {"Panel1", "Client", QRect(6, 8, 339, 383)},
      {"DBRichEdit", "Panel1", QRect(8, 7, 323, 370)},
      {"Panel2", "Client", QRect(345, 8, 240, 383)},
      {"Image1", "Panel2", QRect(18, 30, 208, 129)},
      {"RAnswer", "Panel2", QRect(27, 184, 185, 129)},
      {"BNext", "Panel2", QRect(58, 336, 129, 30)},
  };
  for (const TPlace& place : places) {
    auto* w = Form->findChild<QWidget*>(place.Name);
    ASSERT_NE(w, nullptr) << place.Name;
    EXPECT_EQ(w->parentWidget()->objectName(), place.Parent) << place.Name;
    EXPECT_EQ(w->geometry(), place.Bounds) << place.Name;
    EXPECT_TRUE(w->isVisible()) << place.Name;
  }

  struct TColour {
    const char* Name;
    QColor Colour;
  };
  for (const TColour& c :
       {TColour{"Client", QColor(128, 128, 128)}, TColour{"Panel1", QColor(219, 219, 219)},
        TColour{"Panel2", QColor(219, 219, 219)}}) {
    auto* w = Form->findChild<QWidget*>(c.Name);
    ASSERT_NE(w, nullptr) << c.Name;
    EXPECT_TRUE(w->autoFillBackground()) << c.Name;
    EXPECT_EQ(w->palette().color(QPalette::Window), c.Colour) << c.Name;
  }

  // Fixed border around a client area of 592 x 396 below the menu, no
  // maximise box, centred on the screen.
  EXPECT_EQ(Form->centralWidget()->objectName(), "Client");
  EXPECT_EQ(Form->centralWidget()->geometry(), QRect(0, Form->menuBar()->height(), 592, 396));
  EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
  EXPECT_EQ(Form->size(), QSize(592, 396 + Form->menuBar()->height()));
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
  const QPoint screenCentre = Form->screen()->availableGeometry().center();
  EXPECT_LE((Form->frameGeometry().center() - screenCentre).manhattanLength(), 2);

  // Fonts: the window's default, and the answer group's and the button's,
  // which stand in with a serif of the same size where the family is absent.
  struct TFontCase {
    QWidget* Widget;
    const char* Family;
    int Points;
    bool Bold;
  };
  for (const TFontCase& f : {TFontCase{Form.get(), "MS Sans Serif", 8, false},
                             TFontCase{Form->RAnswer(), "Times New Roman", 12, true},
                             TFontCase{Form->BNext(), "Times New Roman", 12, true}}) {
    const QFont font = f.Widget->font();
    EXPECT_EQ(font.family(), f.Family) << f.Widget->objectName().toStdString();
    EXPECT_EQ(font.pointSize(), f.Points) << f.Widget->objectName().toStdString();
    EXPECT_EQ(font.bold(), f.Bold) << f.Widget->objectName().toStdString();
    EXPECT_EQ(QFontInfo(font).pointSize(), f.Points) << f.Widget->objectName().toStdString();
  }
  EXPECT_TRUE(ShowsSerif(Form->RAnswer()->font()))
      << QFontInfo(Form->RAnswer()->font()).family().toStdString();
  EXPECT_TRUE(ShowsSerif(Form->BNext()->font()))
      << QFontInfo(Form->BNext()->font()).family().toStdString();
  EXPECT_FALSE(QFontInfo(Form->font()).family().contains("Serif") &&
               !QFontInfo(Form->font()).family().contains("Sans"));

  // The question pane: read-only, a vertical scroll bar, never a tab stop,
  // no links taken from the text.
  widgets::TDBRichEdit* pane = Form->DBRichEdit();
  EXPECT_TRUE(pane->isReadOnly());
  EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(pane->focusPolicy(), Qt::NoFocus);
  EXPECT_FALSE(pane->textInteractionFlags() & Qt::LinksAccessibleByMouse);
  EXPECT_EQ(pane->DataField(), "Question");
  EXPECT_EQ(pane->DataSource(), &Form->DataSource1());

  EXPECT_EQ(Form->RAnswer()->DataField(), "UserAnswer");
  EXPECT_EQ(Form->RAnswer()->DataSource(), &Form->DataSource1());
  EXPECT_TRUE(Form->RAnswer()->Values().isEmpty());  // each item's value is its caption
  EXPECT_EQ(Form->findChild<QLabel*>("Image1")->pixmap().size(), QSize(200, 123));
  EXPECT_EQ(Form->BNext()->Glyph().size(), QSize(32, 16));
  EXPECT_EQ(Form->BNext()->NumGlyphs(), 2);
  EXPECT_EQ(Form->ANext()->text(), "Next");
}

TEST_P(MainFormTest, TheMenuAndItsHandlers) {
  Start("AB");
  struct TItem {
    std::string Menu;  // "" for an item of the menu bar itself
    std::string Item;
    QKeySequence Shortcut;
    bool Visible;
    bool operator==(const TItem&) const = default;
  };
  std::vector<TItem> items;
  for (QAction* top : Form->menuBar()->actions()) {
    if (QMenu* menu = top->menu()) {
      for (QAction* a : menu->actions())
        items.push_back(
            {menu->title().toStdString(), a->text().toStdString(), a->shortcut(), a->isVisible()});
    } else {
      items.push_back({"", top->text().toStdString(), top->shortcut(), top->isVisible()});
    }
  }
  const std::vector<TItem> expected = {
      {"File", "New Game", QKeySequence(Qt::Key_F2), true},
      {"File", "Exit", {}, true},
      {"Help", "Contents", {}, true},
      {"Help", "About", {}, true},
      {"", "Form", {}, false},
  };
  ASSERT_EQ(items.size(), expected.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].Menu, expected[i].Menu) << i;
    EXPECT_EQ(items[i].Item, expected[i].Item) << i;
    EXPECT_EQ(items[i].Shortcut, expected[i].Shortcut) << items[i].Item;
    EXPECT_EQ(items[i].Visible, expected[i].Visible) << items[i].Item;
  }
  EXPECT_EQ(Form->MForm()->text(), "Form");

  // Contents, About and the hidden Form item each show their window modally.
  struct TWindowItem {
    const char* Action;
    std::function<void(QDialog*)> Attach;
  };
  const TWindowItem windowItems[] = {
      {"MContents", [&](QDialog* d) { Form->SetHelpForm(d); }},
      {"MAbout", [&](QDialog* d) { Form->SetAboutForm(d); }},
      {"MForm", [&](QDialog* d) { Form->SetEditorForm(d); }},
  };
  for (const TWindowItem& w : windowItems) {
    QDialog window(Form.get());
    w.Attach(&window);
    QWidget* modal = nullptr;
    QTimer::singleShot(0, &window, [&] {
      modal = QApplication::activeModalWidget();
      window.done(QDialog::Accepted);
    });
    Form->findChild<QAction*>(w.Action)->trigger();
    EXPECT_EQ(modal, &window) << w.Action;
    w.Attach(nullptr);
  }

  // Exit closes the main window.
  Form->findChild<QAction*>("MExit")->trigger();
  EXPECT_FALSE(Form->isVisible());
}

TEST_P(MainFormTest, F2StartsANewGameFromAnyState) {
  struct TState {
    const char* Name;
    std::function<void()> Reach;
    bool NextDisabledBefore;
  };
  const TState states[] = {
      {"just started", [] {}, true},
      {"a letter picked", [this] { Pick(2); }, false},
      {"a wrong letter pending", [&] { PickAndPress({1}); }, false},
      {"moved on after a right pick",
       [&] {
         PickAndPress({1, 0});
       },
       true},
      {"the game won",
       [&] {
         PickAndPress({0, 1, 2});
       },
       true},
  };
  for (const TState& state : states) {
    SCOPED_TRACE(state.Name);
    CopyMainWindowAssets(Program);
    Start("ABC");
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    state.Reach();
    EXPECT_EQ(!Form->BNext()->isEnabled(), state.NextDisabledBefore);
    const std::size_t dialogs = Dialogs.Shown.size();

    QTest::keyClick(Form.get(), Qt::Key_F2);

    EXPECT_EQ(Order(), 1);
    EXPECT_EQ(Form->VantorTable()->State(), dbcomp::TDataSetState::Browse);
    for (std::size_t row = 0; row < Tables->RowCount(); ++row)
      EXPECT_EQ(Tables->StoredAnswer(row), std::nullopt) << row;
    EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
    EXPECT_EQ(Form->Game()->RightTotal(), 0);
    EXPECT_EQ(Form->Game()->RightFirstTry(), 0);
    EXPECT_FALSE(Form->Game()->Missed());
    EXPECT_TRUE(Form->BNext()->isEnabled());
    EXPECT_EQ(Dialogs.Shown.size(), dialogs);  // a new game says nothing

    // And the new game plays: a right pick at once counts in both numbers.
    Pick(0);
    PressNext();
    EXPECT_EQ(Order(), 2);
    EXPECT_EQ(Dialogs.Shown.back().Message, "You have 1 out of 1 right!");
    Form.reset();
    Tables.reset();
  }
}

// The pane's default format is set again after each change of question,
// whatever it was before, and a null "UserAnswer" shows as no selection.
TEST_P(MainFormTest, EveryQuestionChangeResetsThePaneFontAndShowsANullAnswerAsNone) {
  Start("ABC");
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"right pick on 1", [&] { PickAndPress({0}); }},
      {"right pick on 2 after a wrong one",
       [&] {
         PickAndPress({0, 1});
       }},
      {"F2 on 3",
       [&] {
         QTest::keyClick(Form.get(), Qt::Key_F2);
         Idle();
       }},
      {"right pick on 1 again", [&] { PickAndPress({0}); }},
  };
  const std::pair<QString, double> sabotage[] = {
      {"Courier", 20}, {"DejaVu Sans", 6}, {"Serif", 14.5}, {"Times New Roman", 9}};
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE(changes[i].first);
    Form->DBRichEdit()->SetDefaultFont(sabotage[i].first, sabotage[i].second);
    const int before = Order();
    changes[i].second();
    EXPECT_NE(Order(), before);
    const QFont font = Form->DBRichEdit()->DefaultFont();
    EXPECT_EQ(font.family(), "Times New Roman");
    EXPECT_EQ(font.pointSizeF(), 14.0);
    EXPECT_TRUE(ShowsSerif(font)) << QFontInfo(font).family().toStdString();
    EXPECT_EQ(Tables->StoredAnswer(static_cast<std::size_t>(Order() - 1)),
              std::nullopt);
    EXPECT_EQ(Form->RAnswer()->ItemIndex(), -1);
    EXPECT_EQ(Form->RAnswer()->Value(), "");
    for (int item = 0; item < 4; ++item)
      EXPECT_FALSE(Form->RAnswer()->Button(item)->isChecked()) << item;
  }
}

TEST_P(MainFormTest, NextGivesTheFocusBackToTheAnswerGroup) {
  Start("AB");
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  // Tab order: the answer group, then the Next button; the pane is skipped.
  Form->RAnswer()->setFocus();
  EXPECT_TRUE(Form->RAnswer()->ContainsFocus());
  for (const char* pick : {"wrong", "right"}) {
    SCOPED_TRACE(pick);
    Pick(pick == std::string("wrong") ? 3 : 0);
    Form->BNext()->setFocus();
    ASSERT_TRUE(Form->BNext()->hasFocus());
    QTest::keyClick(Form->BNext(), Qt::Key_Space);  // presses the focused button
    Idle();
    EXPECT_TRUE(Form->RAnswer()->ContainsFocus());
    EXPECT_FALSE(Form->DBRichEdit()->hasFocus());
  }
  EXPECT_EQ(Dialogs.Messages(),
            (std::vector<std::string>{"Try Again!", "You have 0 out of 1 right!"}));
}

// --- The picture of the main window, and screenshot mode. ---

class ScreenshotTest : public StartupTest {
 protected:
  // The sample questions in an in-memory question table, wherever the
  // program looks for it.
  void UseSampleQuestions() {
    Questions = LoadSampleQuestions();
    FPrevious = dbcomp::SetTableFactory([this](const std::string&, const std::string&) {
      auto t = std::make_unique<dbcomp::TMemoryDataSet>(
          dbcomp::TFieldDefs{{"QuizName", TFieldType::String, 20},
                             {"Order", TFieldType::Smallint},
                             {"Question", TFieldType::Blob},
                             {"AnswerTx", TFieldType::String, 1},
                             {"UserAnswer", TFieldType::String, 1}});
      for (const TSampleQuestion& q : Questions) t->AppendRow(RowValues(q));
      return std::unique_ptr<dbcomp::TDataSet>(std::move(t));
    });
    FInstalled = true;
  }
  ~ScreenshotTest() override {
    if (FInstalled) dbcomp::SetTableFactory(std::move(FPrevious));
  }
  static std::string BesideTheTests(const char* name) {
    return QDir(QCoreApplication::applicationDirPath()).filePath(name).toStdString();
  }

  std::vector<TSampleQuestion> Questions;

 private:
  dbcomp::TTableFactory FPrevious;
  bool FInstalled = false;
};

// Writes main_window.png beside the test program, for a look by eye, and
// checks what the picture shows at a few places.
TEST_F(ScreenshotTest, TheMainWindowOnTheFirstSampleQuestion) {
  UseSampleQuestions();
  CopyMainWindowAssets(Program);
  const std::string file = BesideTheTests("main_window.png");
  std::filesystem::remove(file);
  int menuHeight = 0;
  std::string firstQuestion;
  TStartupOptions options;
  bool pictureShown = false;
  options.OnShown = [&](TMainForm& form) {
    menuHeight = form.menuBar()->height();
    firstQuestion = form.DBRichEdit()->toPlainText().toStdString();
    pictureShown = !form.findChild<QLabel*>("Image1")->pixmap().isNull();
  };
  options.ScreenshotFile = file;
  ::testing::internal::CaptureStderr();
  const int code = RunProgram(*qApp, options);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(code, ScreenshotWritten) << err;
  EXPECT_EQ(err, "");
  EXPECT_NE(firstQuestion.find(sample::Prompt), std::string::npos);
  EXPECT_NE(firstQuestion.find(sample::Questions[0].Choices[0]), std::string::npos);
  EXPECT_TRUE(pictureShown);

  const QImage shot(QString::fromStdString(file));
  ASSERT_FALSE(shot.isNull());
  ASSERT_GT(menuHeight, 0);
  EXPECT_EQ(shot.size(), QSize(592, 396 + menuHeight));
  const auto at = [&](int x, int y) { return shot.pixelColor(x, menuHeight + y); };
  EXPECT_EQ(at(2, 200), QColor(128, 128, 128));    // the window, left of Panel1
  EXPECT_EQ(at(588, 200), QColor(128, 128, 128));  // right of Panel2
  EXPECT_EQ(at(10, 10), QColor(219, 219, 219));    // Panel1 around the pane
  EXPECT_EQ(at(350, 180), QColor(219, 219, 219));  // Panel2 between picture and answers
  // The pane shows the question: some dark text on its white page.
  int dark = 0;
  for (int y = 20; y < 370; ++y)
    for (int x = 20; x < 310; ++x)
      if (at(x, y).lightness() < 100) ++dark;
  EXPECT_GT(dark, 200);
}

TEST_F(ScreenshotTest, AFatalStartUpIsPrintedInsteadOfWaitingForThePlayer) {
  const std::string file = Program.Dir.File("never.png");
  TStartupOptions options;
  options.ScreenshotFile = file;
  ::testing::internal::CaptureStderr();
  const int code = RunProgram(*qApp, options);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, ScreenshotNoWindow);
  EXPECT_EQ(err, "vantor: Error: Tarn Engine Error # 11010 Table 'C:\\T30G\\velmorn2.DAT' does not exist.\n" +
                     TableDirectoryLine(Program.Dir.File("Vantor.ini"), "C:\\T30G") + "\n");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(MainFormVisible());
  EXPECT_TRUE(Dialogs.Shown.empty());
  // The test's own dialog hooks are back.
  ErrorBox("after");
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{"after"}));
}

TEST_F(ScreenshotTest, AFileThatCannotBeWrittenEndsNonZero) {
  UseSampleQuestions();
  TStartupOptions options;
  options.ScreenshotFile = Program.Dir.File("no such directory/shot.png");
  ::testing::internal::CaptureStderr();
  const int code = RunProgram(*qApp, options);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, ScreenshotNotSaved);
  EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
}

TEST(CommandLineTest, TheScreenshotOption) {
  const std::string cwd = std::filesystem::current_path().string();
  struct TCase {
    std::vector<const char*> Args;
    std::string File;
    bool Error;
  };
  const TCase cases[] = {
      {{"vantor"}, "", false},
      {{"vantor", "--screenshot", "/tmp/a.png"}, "/tmp/a.png", false},
      {{"vantor", "--screenshot=/tmp/b.png"}, "/tmp/b.png", false},
      {{"vantor", "--screenshot", "rel.png"}, cwd + "/rel.png", false},
      {{"vantor", "-platform", "offscreen", "--screenshot", "c.png"}, cwd + "/c.png", false},
      {{"vantor", "--screenshot"}, "", true},
      {{"vantor", "--screenshot="}, "", true},
      {{"vantor", "--screenshot", ""}, "", true},
      {{"vantor", "--screenshot", "a.png", "--screenshot=b.png"}, "", true},
  };
  for (const TCase& c : cases) {
    const TCommandLine parsed = ParseCommandLine(static_cast<int>(c.Args.size()), c.Args.data());
    const std::string shown = c.Args.size() > 1 ? c.Args[1] : "";
    EXPECT_EQ(!parsed.Error.empty(), c.Error) << shown;
    if (!c.Error) {
      EXPECT_EQ(parsed.ScreenshotFile, c.File) << shown;
    }
  }
}

}  // namespace
}  // namespace vantor
