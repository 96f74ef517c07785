#include "app/main_form.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>

#include "app/assets/asset_names.h"
#include "app/config.h"
#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/paths.h"
#include "app/sound_player.h"
#include "dbcomp/data_set.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "dbcomp/session_list.h"
#include "dbcomp/table_factory.h"
#include "widgets/bit_btn.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {

namespace {

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& bounds) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setGeometry(bounds);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setAutoFillBackground(true);
  QPalette p = panel->palette();
  p.setColor(QPalette::Window, QColor(219, 219, 219));
  panel->setPalette(p);
  return panel;
}

QFont AnswerFont() {
  QFont f("Times New Roman", 12);
  f.setBold(true);
  return f;
}

}  // namespace

TMainForm::TMainForm(std::unique_ptr<TAudioBackend> audio, QWidget* parent)
    : QMainWindow(parent), FMediaPlayer(std::make_unique<TSoundPlayer>(std::move(audio))) {
  setObjectName("MainForm");
  setWindowTitle("Vantor");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  BuildControls();
  BuildMenu();
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    FIdleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                              [this] { ActionManagerUpdate(); });
  }
}

TMainForm::~TMainForm() {
  disconnect(FIdleConnection);
  FGame.reset();
  FDataSource1.SetDataSet(nullptr);
}

void TMainForm::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("Client");
  client->setFixedSize(592, 396);
  client->setAutoFillBackground(true);
  QPalette grey = client->palette();
  grey.setColor(QPalette::Window, QColor(128, 128, 128));
  client->setPalette(grey);
  setCentralWidget(client);

  FPanel1 = MakePanel(client, "Panel1", QRect(6, 8, 339, 383));
  FDBRichEdit = new widgets::TDBRichEdit(FPanel1);
  FDBRichEdit->setObjectName("DBRichEdit");
  FDBRichEdit->setGeometry(8, 7, 323, 370);
  FDBRichEdit->setReadOnly(true);
  FDBRichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  FDBRichEdit->setFocusPolicy(Qt::NoFocus);
  FDBRichEdit->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FDBRichEdit->SetDataSource(&FDataSource1);
  FDBRichEdit->SetDataField("Question");
  connect(FDBRichEdit, &widgets::TDBRichEdit::Change, this, [this] { RunGuarded(this, [this] { DBRichEditChange(); }); });
  DBRichEditChange();

  FPanel2 = MakePanel(client, "Panel2", QRect(345, 8, 240, 383));
  FImage1 = new QLabel(FPanel2);
  FImage1->setObjectName("Image1");
  FImage1->setGeometry(18, 30, 208, 129);
  FImage1->setAlignment(Qt::AlignCenter);
  FImage1->setPixmap(QPixmap(QString::fromStdString(ExePath(AssetNames::MainPicture))));

  FRAnswer = new widgets::TDBRadioGroup(FPanel2);
  FRAnswer->setObjectName("RAnswer");
  FRAnswer->setGeometry(27, 184, 185, 129);
  FRAnswer->setTitle("My Answer:");
  FRAnswer->setFont(AnswerFont());
  FRAnswer->SetItems({"A", "B", "C", "D"});
  FRAnswer->SetDataSource(&FDataSource1);
  FRAnswer->SetDataField("UserAnswer");

  FBNext = new widgets::TBitBtn(FPanel2);
  FBNext->setObjectName("BNext");
  FBNext->setGeometry(58, 336, 129, 30);
  FBNext->setText("Next");
  FBNext->setFont(AnswerFont());
  const QPixmap glyph(QString::fromStdString(ExePath(AssetNames::NextGlyph)));
  if (!glyph.isNull()) FBNext->SetGlyph(glyph, 2);
  setTabOrder(FRAnswer, FBNext);

  FANext = new QAction("Next", this);
  FANext->setObjectName("ANext");
  connect(FANext, &QAction::triggered, this, [this] { ANextExecute(); });
  connect(FBNext, &QPushButton::clicked, this, [this] { NextClicked(); });

  // Centred on the screen, fixed size.
  adjustSize();
  setFixedSize(sizeHint());
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TMainForm::BuildMenu() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu("File");
  FMNewGame = file->addAction("New Game");
  FMNewGame->setObjectName("MNewGame");
  FMNewGame->setShortcut(QKeySequence(Qt::Key_F2));
  connect(FMNewGame, &QAction::triggered, this, [this] { MNewGameClick(); });
  QAction* exit = file->addAction("Exit");
  exit->setObjectName("MExit");
  connect(exit, &QAction::triggered, this, [this] { MExitClick(); });

  QMenu* help = bar->addMenu("Help");
  QAction* contents = help->addAction("Contents");
  contents->setObjectName("MContents");
  connect(contents, &QAction::triggered, this, [this] { MContentsClick(); });
  QAction* about = help->addAction("About");
  about->setObjectName("MAbout");
  connect(about, &QAction::triggered, this, [this] { MAboutClick(); });

  FMForm = bar->addAction("Form");
  FMForm->setObjectName("MForm");
  FMForm->setVisible(false);
  connect(FMForm, &QAction::triggered, this, [this] { MFormClick(); });
}

bool TMainForm::FormCreate() {
  dbcomp::DefaultSession().AddPassword(TablePassword);
  const std::string iniPath = ExePath(ConfigFileName);
  const std::string databaseName = ReadTablePath(iniPath);
  try {
    FVantorTable = dbcomp::CreateTable(databaseName, QuestionTableName);
    if (!FVantorTable) dbcomp::DatabaseError("Error creating table handle.");
    FVantorTable->SetName("VantorTable");
    FVantorTable->AddField(std::make_unique<dbcomp::TStringField>("QuizName", 20));
    FVantorTable->AddField(std::make_unique<dbcomp::TIntegerField>(dbcomp::TFieldType::Smallint, "Order"));
    FVantorTable->AddField(std::make_unique<dbcomp::TBlobField>(dbcomp::TFieldType::Blob, "Question"));
    FVantorTable->AddField(std::make_unique<dbcomp::TStringField>("AnswerTx", 1));
    FVantorTable->AddField(std::make_unique<dbcomp::TStringField>("UserAnswer", 1));
    FDataSource1.SetDataSet(FVantorTable.get());
    FVantorTable->Open();
  } catch (const std::exception& e) {
    ErrorBox(std::string(e.what()) + ".", 0, true);
    return false;
  }
  FGame = std::make_unique<TQuizGame>(*FVantorTable, static_cast<TQuizView&>(*this));
  MNewGameClick();
  return true;
}

void TMainForm::MNewGameClick() {
  RunGuarded(this, [this] {
    if (FGame) FGame->NewGame();
  });
}

void TMainForm::MExitClick() { close(); }

void TMainForm::MContentsClick() {
  if (FHelpForm != nullptr) FHelpForm->exec();
}

void TMainForm::MAboutClick() {
  if (FAboutForm != nullptr) FAboutForm->exec();
}

void TMainForm::MFormClick() {
  if (FEditorForm != nullptr) FEditorForm->exec();
}

void TMainForm::ANextExecute() {
  RunGuarded(this, [this] {
    if (FGame) FGame->ANextExecute();
  });
}

void TMainForm::NextClicked() {
  // The button is the action's client: the action updates, then executes
  // when it is enabled.
  ActionManagerUpdate();
  if (FANext->isEnabled()) FANext->trigger();
}

void TMainForm::ActionManagerUpdate() {
  RunGuarded(this, [this] {
    if (!FGame) return;
    FGame->ActionManagerUpdate();
    FANext->setEnabled(FGame->NextActionEnabled());
  });
}

void TMainForm::DBRichEditChange() { FDBRichEdit->SetDefaultFont("Times New Roman", 14); }

std::string TMainForm::AnswerValue() const { return FRAnswer->Value().toStdString(); }

int TMainForm::AnswerItemIndex() const { return FRAnswer->ItemIndex(); }

void TMainForm::PlaySound(const std::string& fileName) { FMediaPlayer->Play(fileName); }

void TMainForm::ShowInfo(const std::string& message) { InfoBox(message, 0, true); }

void TMainForm::SetNextButtonEnabled(bool enabled) { FBNext->setEnabled(enabled); }

void TMainForm::FocusAnswer() { FRAnswer->setFocus(); }

}  // namespace vantor
