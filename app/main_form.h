#pragma once
// The main window "Vantor": the question pane, the answer group, the Next
// button and the menu. Its creation handler (FormCreate) opens the question
// table; its handlers run the game through TQuizGame.
//
// Layout (main_form.ui): a fixed client area of 592 x 396 pixels, grey
// (128,128,128), with two light panels (219,219,219): on the left the
// read-only question pane, on the right the picture, the answer group
// "My Answer:" (items "A" to "D", bound to "UserAnswer"; tab order 0) and the
// Next button (tab order 1). Menu: File > New Game (F2), Exit; Help >
// Contents, About; and "Form", a top-level item that is never visible and has
// no shortcut. Named fonts that are not installed fall back to a face of the
// same kind (serif for "Times New Roman") at the given size.
//
// Owns the question table component (created through the table factory), its
// data source and the sound player. The controls bind to the table through
// DataSource1; the data source and the table are members, so they are gone
// before the controls, which then simply lose their link.

#include <QMainWindow>
#include <memory>
#include <string>

#include "app/quiz_game.h"
#include "app/sound_player.h"
#include "dbcomp/data_source.h"

class QAction;
class QDialog;

namespace Ui {
class TMainForm;
}

namespace dbcomp {
class TDataSet;
}

namespace widgets {
class TBitBtn;
class TDBRadioGroup;
class TDBRichEdit;
}  // namespace widgets

namespace vantor {

inline constexpr std::string_view QuestionTableName = "velmorn2";
inline constexpr std::string_view TablePassword = "tamsin";

class TMainForm : public QMainWindow, private TQuizView {
  Q_OBJECT

 public:
  // `audio` plays the sounds (Qt Multimedia when null).
  explicit TMainForm(std::unique_ptr<TAudioBackend> audio = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The creation handler: registers the table password with the default
  // session, reads the table directory from "Vantor.ini", opens the table
  // and starts a new game. When the table cannot be opened it shows the
  // error dialog (the message and ".") and answers false: the program ends.
  bool FormCreate();

  // Handlers.
  void MNewGameClick();
  void MExitClick();
  void MContentsClick();
  void MAboutClick();
  void MFormClick();
  void ANextExecute();
  void ActionManagerUpdate();
  void DBRichEditChange();

  // Windows opened from the menu (modal); absent ones are not shown.
  void SetHelpForm(QDialog* form) noexcept { FHelpForm = form; }
  void SetAboutForm(QDialog* form) noexcept { FAboutForm = form; }
  void SetEditorForm(QDialog* form) noexcept { FEditorForm = form; }

  // The table directory read from "Vantor.ini" by FormCreate.
  const std::string& DatabaseName() const noexcept { return FDatabaseName; }

  // Components, for the windows that share them and for tests.
  dbcomp::TDataSet* VantorTable() const noexcept { return FVantorTable.get(); }
  dbcomp::TDataSource& DataSource1() noexcept { return FDataSource1; }
  widgets::TDBRichEdit* DBRichEdit() const noexcept;
  widgets::TDBRadioGroup* RAnswer() const noexcept;
  widgets::TBitBtn* BNext() const noexcept;
  QAction* ANext() const noexcept;
  QAction* MNewGame() const noexcept;
  QAction* MForm() const noexcept;
  TQuizGame* Game() const noexcept { return FGame.get(); }
  const TSoundPlayer& MediaPlayer() const noexcept { return *FMediaPlayer; }

 protected:
  // The first show centres the window on its screen.
  void showEvent(QShowEvent* event) override;

 private:
  // TQuizView.
  std::string AnswerValue() const override;
  int AnswerItemIndex() const override;
  void PlaySound(const std::string& fileName) override;
  void ShowInfo(const std::string& message) override;
  void SetNextButtonEnabled(bool enabled) override;
  void FocusAnswer() override;

  void SetUpControls();
  void ConnectHandlers();
  void NextClicked();

  // Pointers to the controls, which are children of this window: Qt destroys
  // them after every member below, so they outlive the table they show.
  std::unique_ptr<Ui::TMainForm> FUi;
  std::unique_ptr<dbcomp::TDataSet> FVantorTable;
  dbcomp::TDataSource FDataSource1;
  std::unique_ptr<TSoundPlayer> FMediaPlayer;
  std::unique_ptr<TQuizGame> FGame;
  QDialog* FHelpForm = nullptr;
  QDialog* FAboutForm = nullptr;
  QDialog* FEditorForm = nullptr;
  std::string FDatabaseName;
  QMetaObject::Connection FIdleConnection;
  bool FCentred = false;
};

}  // namespace vantor
