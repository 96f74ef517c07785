#pragma once
// The standard message dialog: an icon, the message and one push button per
// requested button (standard caption, modal result), laid out in fixed
// positions like the classic message dialog. ReplaceButtons then swaps each
// push button for a bitmap button of the same bounds (at least 25 pixels
// high), which is the program's own style.
//
// Escape clicks the cancel button when there is one; the window has no close
// box, and closing it otherwise does nothing.

#include <QDialog>
#include <string>

#include "app/dialogs.h"

class QLabel;

namespace vantor {

class TMessageForm : public QDialog {
  Q_OBJECT

 public:
  // Requires: a QApplication exists.
  TMessageForm(const std::string& message, TMsgDlgType type, TMsgDlgButtons buttons, QWidget* parent = nullptr);

  // Replaces every push button, from the last to the first, by a bitmap
  // button; see the table in ReplaceButtons.
  void ReplaceButtons();
  // Gives the focus to the first button whose modal result belongs to `button`.
  void FocusDefaultButton(TMsgDlgBtn button);

  QLabel* MessageLabel() const noexcept { return FMessage; }
  TMsgDlgType DialogType() const noexcept { return FType; }
  int HelpContext() const noexcept { return FHelpContext; }
  void SetHelpContext(int value) noexcept { FHelpContext = value; }

  // Standard height of the push buttons before they are replaced.
  static constexpr int PushButtonHeight = 23;
  static constexpr int MinBitButtonHeight = 25;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* FMessage = nullptr;
  TMsgDlgType FType;
  int FHelpContext = 0;
};

}  // namespace vantor
