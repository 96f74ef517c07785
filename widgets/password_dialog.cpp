#include "widgets/password_dialog.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <exception>
#include <string>

#include "dbcomp/password_hook.h"
#include "dbcomp/session.h"
#include "ui_password_dialog.h"
#include "widgets/code_page_1252.h"
#include "widgets/exception_reporter.h"

namespace widgets {

namespace {

// Runs a button's action; an exception (the engine refusing the list change)
// goes to the exception reporter, never out of the slot.
template <typename F>
void Guarded(F action) {
  try {
    action();
  } catch (const std::exception& e) {
    ReportException(e);
  }
}

// The engine keeps passwords as 8-bit text: code page 1252, "?" for a
// character it lacks.
std::string EngineText(const QString& text) {
  std::string result;
  result.reserve(static_cast<std::size_t>(text.size()));
  for (const QChar ch : text) {
    const int byte = UnicodeToCp1252(ch.unicode());
    result += byte < 0 ? '?' : static_cast<char>(byte);
  }
  return result;
}

}  // namespace

TTarnPasswordDialog::TTarnPasswordDialog(dbcomp::TTarnSession& session, QWidget* parent)
    : QDialog(parent), FUi(std::make_unique<Ui::TTarnPasswordDialog>()), FSession(session) {
  FUi->setupUi(this);
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                 ~Qt::WindowContextHelpButtonHint);
  connect(FUi->Edit, &QLineEdit::textChanged, this, [this] { EditChanged(); });
  connect(FUi->AddButton, &QPushButton::clicked, this, [this] { Guarded([this] { AddClick(); }); });
  connect(FUi->RemoveButton, &QPushButton::clicked, this,
          [this] { Guarded([this] { RemoveClick(); }); });
  connect(FUi->RemoveAllButton, &QPushButton::clicked, this,
          [this] { Guarded([this] { RemoveAllClick(); }); });
  connect(FUi->OKButton, &QPushButton::clicked, this, [this] { Guarded([this] { OKClick(); }); });
  connect(FUi->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  EditChanged();
  FUi->Edit->setFocus();
}

TTarnPasswordDialog::~TTarnPasswordDialog() = default;

void TTarnPasswordDialog::EditChanged() {
  const bool hasText = !FUi->Edit->text().isEmpty();
  FUi->AddButton->setEnabled(hasText);
  FUi->RemoveButton->setEnabled(hasText);
  FUi->OKButton->setEnabled(hasText || FPasswordAdded);
}

void TTarnPasswordDialog::AddClick() {
  FSession.AddPassword(EngineText(FUi->Edit->text()));
  FPasswordAdded = true;
  ResetEdit();
}

void TTarnPasswordDialog::RemoveClick() {
  FSession.RemovePassword(EngineText(FUi->Edit->text()));
  ResetEdit();
}

void TTarnPasswordDialog::RemoveAllClick() {
  FSession.RemoveAllPasswords();
  FUi->Edit->setFocus();
}

void TTarnPasswordDialog::OKClick() {
  FSession.AddPassword(EngineText(FUi->Edit->text()));
  accept();
}

void TTarnPasswordDialog::ResetEdit() {
  FUi->Edit->clear();
  EditChanged();  // clear() of an empty edit emits nothing
  FUi->Edit->setFocus();
}

bool ShowPasswordDialog(dbcomp::TTarnSession& session) {
  TTarnPasswordDialog dialog(session);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = dialog.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    dialog.move(frame.topLeft());
  }
  return dialog.exec() == QDialog::Accepted;
}

void InstallPasswordDialog() { dbcomp::SetPasswordHook(&ShowPasswordDialog); }

}  // namespace widgets
