#pragma once
// The dialog that asks the user for a table password ("Enter password").
//
// A masked edit with "&Add", "&Remove" and "Re&move all" acting on the
// session's password list at once, and "&OK" / "Cancel" to close. "&OK" adds
// the edit's text before closing with OK, so typing the password and pressing
// Enter is enough. Enabling: "&Add" and "&Remove" while the edit is not empty;
// "&OK" while the edit is not empty or a password was added since the dialog
// opened.
//
// The component layer reaches the dialog only through its password hook:
// InstallPasswordDialog() installs ShowPasswordDialog there. The session must
// outlive the dialog. User-interface thread only.

#include <QDialog>
#include <memory>

namespace Ui {
class TTarnPasswordDialog;
}

namespace dbcomp {
class TTarnSession;
}

namespace widgets {

class TTarnPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TTarnPasswordDialog(dbcomp::TTarnSession& session, QWidget* parent = nullptr);
  ~TTarnPasswordDialog() override;

  dbcomp::TTarnSession& Session() const noexcept { return FSession; }
  // A password was added (by "&Add") while the dialog was open.
  bool PasswordAdded() const noexcept { return FPasswordAdded; }

 private:
  void EditChanged();
  void AddClick();
  void RemoveClick();
  void RemoveAllClick();
  void OKClick();
  void ResetEdit();

  std::unique_ptr<Ui::TTarnPasswordDialog> FUi;
  dbcomp::TTarnSession& FSession;
  bool FPasswordAdded = false;
};

// Shows the dialog modally, centred on the screen, for session; true when it
// was closed with OK.
bool ShowPasswordDialog(dbcomp::TTarnSession& session);

// Makes ShowPasswordDialog the component layer's password hook.
void InstallPasswordDialog();

}  // namespace widgets
