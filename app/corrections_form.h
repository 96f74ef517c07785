#pragma once
// The question editor "CorrectionsForm": a plain data-entry window over the
// question table "velmorn2".
//
// Layout (corrections_form.ui): 600 x 450 pixels, sizeable, the standard
// button-face colour, font "MS Sans Serif" 8 point, centred on the screen.
// "Question" above the editable rich-text editor DBRichEdit1 (field
// "Question", vertical scroll bar, tab order 0), the navigator DBNavigator1
// below it (every button, hints shown), "Order:" over DBEdit1 (field
// "Order") and "Answer:" over DBEdit2 (field "AnswerTx"). Beside them: Bold
// and Italic buttons (also Ctrl+B and Ctrl+I in the editor) and a point-size
// list for the editor's selection, and "Picture..." beside the navigator,
// which inserts a picture from a PNG or JPEG file at the editor's cursor.
//
// Owns its own table component TarnTable1 (a TTarnTable on "velmorn2", no
// database name, inactive, AutoDisplayLabels and CopyOnAppend off, the five
// persistent fields of the game's table with their origins
// "velmorn2.<field>") and the data source DataSource1 that binds the four
// data-aware controls to it. The table's cursor is its own: a change is in
// the table files once it is posted, and another cursor on the same table
// (the game's) sees it when it reads the record again.
//
// Rules the editor adds to the table: the answer is one of the letters "A",
// "B", "C" and "D" (the answer box turns letters to upper case; any other
// value, or none, is refused with AnswerMessage when it is written or the
// record is posted); a record needs an order number (OrderMessage); a new
// record takes the quiz name of the record that was current before it. Two
// questions of one quiz with the same order are refused by the table's
// primary index with the engine's message.
//
// Lifetime: created at start-up after the about window and kept until the
// program ends; shown modally from the main window's invisible "Form" item,
// or as the program's main window with "vantor --edit". When a database name
// is set (SetDatabaseName) and the table is closed, showing the window opens
// the table; closing the window posts a pending change (a change that cannot
// be posted is reported and keeps the window open) and closes the table
// again if showing opened it. Escape during an edit cancels it, and closes
// the window otherwise. Errors go to the application-wide handler.
// User-interface thread only.

#include <QDialog>
#include <memory>
#include <string>
#include <string_view>

#include "dbcomp/data_source.h"

class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace Ui {
class TCorrectionsForm;
}

namespace dbcomp {
class TTarnTable;
}

namespace widgets {
class TDBEdit;
class TDBNavigator;
class TDBRichEdit;
}  // namespace widgets

namespace vantor {

class TCorrectionsForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::string_view AnswerMessage =
      "The answer must be one of the letters A, B, C and D";
  static constexpr std::string_view OrderMessage = "The question needs an order number";
  // The widest picture stored, in pixels: the editor's and the game's
  // question panes both show it whole.
  static constexpr int MaxPictureWidth = 290;

  explicit TCorrectionsForm(QWidget* parent = nullptr);
  ~TCorrectionsForm() override;

  // The directory (or database) the table is opened in when the window is
  // shown. Requires: the table is closed.
  void SetDatabaseName(const std::string& databaseName);
  const std::string& DatabaseName() const noexcept { return FDatabaseName; }
  // Sets the database name and opens the table (the default session must
  // know the table's password). Raises what opening raises; the table then
  // stays closed.
  void OpenTable(const std::string& databaseName);
  // Leaves edit mode (posting a pending change; raises when that fails) and
  // closes the table.
  void CloseTable();

  // Inserts the picture of a PNG or JPEG file at the editor's cursor; a
  // picture wider than MaxPictureWidth is scaled down to that width before it
  // is stored. Raises std::runtime_error when the file
  // cannot be read or is of another kind; answers false when the table
  // cannot be edited.
  bool InsertPictureFile(const std::string& fileName);

  // Components.
  dbcomp::TTarnTable& TarnTable1() noexcept { return *FTarnTable1; }
  dbcomp::TDataSource& DataSource1() noexcept { return FDataSource1; }
  widgets::TDBRichEdit* DBRichEdit1() const noexcept;
  widgets::TDBNavigator* DBNavigator1() const noexcept;
  widgets::TDBEdit* DBEdit1() const noexcept;
  widgets::TDBEdit* DBEdit2() const noexcept;
  QToolButton* BBold() const noexcept;
  QToolButton* BItalic() const noexcept;
  QComboBox* CSize() const noexcept;
  QPushButton* BPicture() const noexcept;

 public Q_SLOTS:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SetUpTable();
  void SetUpControls();
  void ChoosePicture();
  void ShowCharFormat();
  void RememberQuizName();

  std::unique_ptr<Ui::TCorrectionsForm> FUi;
  std::unique_ptr<dbcomp::TTarnTable> FTarnTable1;
  dbcomp::TDataSource FDataSource1;
  std::string FDatabaseName;
  // The quiz name of the last record shown, for new records.
  std::string FQuizName;
  bool FOpenedOnShow = false;
  bool FCentred = false;
};

}  // namespace vantor
