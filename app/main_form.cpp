#include "app/main_form.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include "app/assets/asset_names.h"
#include "app/config.h"
#include "app/dialogs.h"
#include "app/exception_handler.h"
#include "app/paths.h"
#include "app/table_location.h"
#include "app/sound_player.h"
#include "dbcomp/data_set.h"
#include "dbcomp/db_consts.h"
#include "dbcomp/field.h"
#include "dbcomp/session_list.h"
#include "dbcomp/table_factory.h"
#include "ui_main_form.h"
#include "widgets/bit_btn.h"
#include "widgets/db_radio_group.h"
#include "widgets/db_rich_edit.h"

namespace vantor {

namespace {

const QColor WindowGrey(128, 128, 128);
const QColor PanelGrey(219, 219, 219);

void SetBackground(QWidget* widget, const QColor& colour) {
  QPalette p = widget->palette();
  p.setColor(QPalette::Window, colour);
  widget->setPalette(p);
  widget->setAutoFillBackground(true);
}

// Keeps the family and size the form gives `widget`, and tells the font
// matcher which kind of face to take when that family is not installed.
void SetFallbackKind(QWidget* widget, QFont::StyleHint kind) {
  QFont f = widget->font();
  f.setStyleHint(kind);
  widget->setFont(f);
}

}  // namespace

TMainForm::TMainForm(std::unique_ptr<TAudioBackend> audio, QWidget* parent)
    : QMainWindow(parent),
      FUi(std::make_unique<Ui::TMainForm>()),
      FMediaPlayer(std::make_unique<TSoundPlayer>(std::move(audio))) {
  FUi->setupUi(this);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  SetUpControls();
  ConnectHandlers();
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    FIdleConnection = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                              [this] { ActionManagerUpdate(); });
  }

  // Fixed size around the client area and the menu; centred when shown.
  adjustSize();
  setFixedSize(sizeHint());
}

TMainForm::~TMainForm() {
  disconnect(FIdleConnection);
  FGame.reset();
  FDataSource1.SetDataSet(nullptr);
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FCentred) return;
  FCentred = true;
  // The whole window, frame included, in the middle of the screen's free area.
  if (const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen()) {
    const QRect frame = frameGeometry();
    move(s->availableGeometry().center() -
         QPoint((frame.width() - 1) / 2, (frame.height() - 1) / 2));
  }
}

widgets::TDBRichEdit* TMainForm::DBRichEdit() const noexcept { return FUi->DBRichEdit; }
widgets::TDBRadioGroup* TMainForm::RAnswer() const noexcept { return FUi->RAnswer; }
widgets::TBitBtn* TMainForm::BNext() const noexcept { return FUi->BNext; }
QAction* TMainForm::ANext() const noexcept { return FUi->ANext; }
QAction* TMainForm::MNewGame() const noexcept { return FUi->MNewGame; }
QAction* TMainForm::MForm() const noexcept { return FUi->MForm; }

void TMainForm::SetUpControls() {
  // The window's font first: the controls with fonts of their own then set
  // their fallback kind over the one they would inherit.
  SetFallbackKind(this, QFont::SansSerif);
  SetFallbackKind(FUi->RAnswer, QFont::Serif);
  SetFallbackKind(FUi->BNext, QFont::Serif);

  SetBackground(FUi->Client, WindowGrey);
  SetBackground(FUi->Panel1, PanelGrey);
  SetBackground(FUi->Panel2, PanelGrey);

  widgets::TDBRichEdit* pane = FUi->DBRichEdit;
  pane->SetDataSource(&FDataSource1);
  pane->SetDataField("Question");
  DBRichEditChange();

  // Drawn transparent: the label fills no background, so the panel shows
  // through the picture's transparent pixels.
  FUi->Image1->setPixmap(QPixmap(QString::fromStdString(ExePath(AssetNames::MainPicture))));

  widgets::TDBRadioGroup* answer = FUi->RAnswer;
  answer->SetItems({"A", "B", "C", "D"});
  answer->SetDataSource(&FDataSource1);
  answer->SetDataField("UserAnswer");

  const QPixmap glyph(QString::fromStdString(ExePath(AssetNames::NextGlyph)));
  if (!glyph.isNull()) FUi->BNext->SetGlyph(glyph, 2);
}

void TMainForm::ConnectHandlers() {
  connect(FUi->DBRichEdit, &widgets::TDBRichEdit::Change, this,
          [this] { RunGuarded(this, [this] { DBRichEditChange(); }); });
  connect(FUi->ANext, &QAction::triggered, this, [this] { ANextExecute(); });
  connect(FUi->BNext, &QPushButton::clicked, this, [this] { NextClicked(); });
  connect(FUi->MNewGame, &QAction::triggered, this, [this] { MNewGameClick(); });
  connect(FUi->MExit, &QAction::triggered, this, [this] { MExitClick(); });
  connect(FUi->MContents, &QAction::triggered, this, [this] { MContentsClick(); });
  connect(FUi->MAbout, &QAction::triggered, this, [this] { MAboutClick(); });
  connect(FUi->MForm, &QAction::triggered, this, [this] { MFormClick(); });
}

bool TMainForm::FormCreate() {
  dbcomp::DefaultSession().AddPassword(TablePassword);
  const std::string iniPath = ExePath(ConfigFileName);
  // A read-only (installed) table is played from the user's own copy.
  const TTableLocation location = PlayableTableDirectory(ReadTablePath(iniPath), QuestionTableName);
  if (!location.Error.empty()) {
    ErrorBox(location.Error + ".", 0, true);
    return false;
  }
  const std::string& databaseName = location.Directory;
  FDatabaseName = databaseName;
  try {
    FVantorTable = dbcomp::CreateTable(databaseName, QuestionTableName);
    if (!FVantorTable) dbcomp::DatabaseError("Error creating table handle.");
    FVantorTable->SetName("VantorTable");
    FVantorTable->AddField(std::make_unique<dbcomp::TStringField>("QuizName", 20));
    FVantorTable->AddField(
        std::make_unique<dbcomp::TIntegerField>(dbcomp::TFieldType::Smallint, "Order"));
    FVantorTable->AddField(
        std::make_unique<dbcomp::TBlobField>(dbcomp::TFieldType::Blob, "Question"));
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
  if (FEditorForm == nullptr) return;
  // The editor has a cursor of its own on the table: a pending answer is
  // stored first (giving back its record lock), and what the editor changed
  // is read again afterwards.
  RunGuarded(this, [this] {
    if (FVantorTable && FVantorTable->Active()) FVantorTable->CheckBrowseMode();
  });
  FEditorForm->exec();
  RunGuarded(this, [this] {
    if (FVantorTable && FVantorTable->Active()) FVantorTable->Refresh();
  });
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
  if (FUi->ANext->isEnabled()) FUi->ANext->trigger();
}

void TMainForm::ActionManagerUpdate() {
  RunGuarded(this, [this] {
    if (!FGame) return;
    FGame->ActionManagerUpdate();
    FUi->ANext->setEnabled(FGame->NextActionEnabled());
  });
}

void TMainForm::DBRichEditChange() { FUi->DBRichEdit->SetDefaultFont("Times New Roman", 14); }

std::string TMainForm::AnswerValue() const { return FUi->RAnswer->Value().toStdString(); }

int TMainForm::AnswerItemIndex() const { return FUi->RAnswer->ItemIndex(); }

void TMainForm::PlaySound(const std::string& fileName) { FMediaPlayer->Play(fileName); }

void TMainForm::ShowInfo(const std::string& message) { InfoBox(message, 0, true); }

void TMainForm::SetNextButtonEnabled(bool enabled) { FUi->BNext->setEnabled(enabled); }

void TMainForm::FocusAnswer() { FUi->RAnswer->setFocus(); }

}  // namespace vantor
