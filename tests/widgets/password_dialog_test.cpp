// The password dialog: its texts, the enabling rules and each button's action
// on the session's list; driven modally through the component layer's hook
// while the engine opens an encrypted table.

#include "widgets/password_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "dbcomp/encrypted_table.h"
#include "dbcomp/password_hook.h"
#include "dbcomp/session_list.h"
#include "support/temp_dir.h"

namespace widgets {
namespace {

struct TParts {
  QLineEdit* Edit;
  QPushButton* Add;
  QPushButton* Remove;
  QPushButton* RemoveAll;
  QPushButton* OK;
  QPushButton* Cancel;
};

TParts PartsOf(QWidget& dialog) {
  return {dialog.findChild<QLineEdit*>("Edit"),
          dialog.findChild<QPushButton*>("AddButton"),
          dialog.findChild<QPushButton*>("RemoveButton"),
          dialog.findChild<QPushButton*>("RemoveAllButton"),
          dialog.findChild<QPushButton*>("OKButton"),
          dialog.findChild<QPushButton*>("CancelButton")};
}

// Enabled states of Add, Remove and OK as "ARO" letters, "-" when disabled.
std::string Enabled(const TParts& p) {
  std::string s;
  s += p.Add->isEnabled() ? 'A' : '-';
  s += p.Remove->isEnabled() ? 'R' : '-';
  s += p.OK->isEnabled() ? 'O' : '-';
  return s;
}

TEST(PasswordDialog, TextsAndTheMaskedEdit) {
  dbcomp::TComponentLayer layer;
  TTarnPasswordDialog dialog(dbcomp::DefaultSession());
  EXPECT_EQ(dialog.windowTitle(), "Enter password");
  const TParts p = PartsOf(dialog);
  ASSERT_TRUE(p.Edit && p.Add && p.Remove && p.RemoveAll && p.OK && p.Cancel);
  ASSERT_NE(dialog.findChild<QGroupBox*>(), nullptr);
  EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Password");
  EXPECT_TRUE(dialog.findChild<QGroupBox*>()->isAncestorOf(p.Edit));
  EXPECT_EQ(p.Edit->echoMode(), QLineEdit::Password);
  EXPECT_EQ(p.Add->text(), "&Add");
  EXPECT_EQ(p.Remove->text(), "&Remove");
  EXPECT_EQ(p.RemoveAll->text(), "Re&move all");
  EXPECT_EQ(p.OK->text(), "&OK");
  EXPECT_EQ(p.Cancel->text(), "Cancel");
  EXPECT_TRUE(p.OK->isDefault());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // fixed border
  EXPECT_FALSE(dbcomp::DefaultSession().Active());        // showing it asks the engine nothing
}

TEST(PasswordDialog, ButtonsFollowTheEditAndActOnTheSessionsList) {
  dbcomp::TComponentLayer layer;
  dbcomp::TTarnSession& session = dbcomp::DefaultSession();
  TTarnPasswordDialog dialog(session);
  const TParts p = PartsOf(dialog);
  EXPECT_EQ(Enabled(p), "---");
  EXPECT_TRUE(p.RemoveAll->isEnabled());

  QTest::keyClicks(p.Edit, "tamsin");
  EXPECT_EQ(p.Edit->text(), "tamsin");
  EXPECT_EQ(Enabled(p), "ARO");
  p.Edit->clear();
  EXPECT_EQ(Enabled(p), "---");

  QTest::keyClicks(p.Edit, "tamsin");
  QTest::mouseClick(p.Add, Qt::LeftButton);
  EXPECT_TRUE(session.HasPassword("tamsin"));
  EXPECT_TRUE(dialog.PasswordAdded());
  EXPECT_EQ(p.Edit->text(), "");
  EXPECT_EQ(Enabled(p), "--O");  // a password was added: OK stays

  QTest::keyClicks(p.Edit, "other");
  QTest::mouseClick(p.Add, Qt::LeftButton);
  QTest::keyClicks(p.Edit, "tamsin");
  QTest::mouseClick(p.Remove, Qt::LeftButton);
  EXPECT_FALSE(session.HasPassword("tamsin"));
  EXPECT_TRUE(session.HasPassword("other"));
  EXPECT_EQ(p.Edit->text(), "");

  QTest::keyClicks(p.Edit, "typed");
  QTest::mouseClick(p.RemoveAll, Qt::LeftButton);
  EXPECT_TRUE(session.Passwords().empty());
  EXPECT_EQ(p.Edit->text(), "typed");  // Remove all leaves the edit alone
  EXPECT_FALSE(dialog.isVisible());    // no button but OK and Cancel closes it
}

// Runs action on the modal dialog as soon as the event loop shows it.
void OnModalDialog(const std::function<void(QWidget&)>& action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      ADD_FAILURE() << "no modal dialog";
      return;
    }
    action(*modal);
  });
}

class PasswordDialogModal : public ::testing::Test {
 protected:
  PasswordDialogModal() : FPrevious(dbcomp::SetPasswordHook({})) {
    dbcomp_testing::CreateEncryptedTable(FTemp.Path());
    InstallPasswordDialog();
  }
  ~PasswordDialogModal() override { dbcomp::SetPasswordHook(std::move(FPrevious)); }

  testing_support::TTempDir FTemp;
  dbcomp::TComponentLayer FLayer;
  dbcomp::TPasswordHook FPrevious;
};

TEST_F(PasswordDialogModal, TypingThePasswordAndPressingOKOpensTheTable) {
  dbcomp::TTarnSession& session = dbcomp::DefaultSession();
  bool shown = false;
  OnModalDialog([&](QWidget& dialog) {
    shown = true;
    EXPECT_EQ(dialog.windowTitle(), "Enter password");
    const TParts p = PartsOf(dialog);
    QTest::keyClicks(p.Edit, dbcomp_testing::EncryptedTablePassword);
    QTest::mouseClick(p.OK, Qt::LeftButton);
  });
  EXPECT_EQ(dbcomp_testing::OpenEncryptedTable(session, FTemp.Path()), tarn::TARN_NONE);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(session.HasPassword(dbcomp_testing::EncryptedTablePassword));

  // Registered now: the next open shows nothing.
  EXPECT_EQ(dbcomp_testing::OpenEncryptedTable(session, FTemp.Path()), tarn::TARN_NONE);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(PasswordDialogModal, CancelFailsTheOpenWith10498) {
  dbcomp::TTarnSession& session = dbcomp::DefaultSession();
  bool shown = false;
  OnModalDialog([&](QWidget& dialog) {
    shown = true;
    const TParts p = PartsOf(dialog);
    QTest::keyClicks(p.Edit, dbcomp_testing::EncryptedTablePassword);
    QTest::mouseClick(p.Cancel, Qt::LeftButton);
  });
  EXPECT_EQ(dbcomp_testing::OpenEncryptedTable(session, FTemp.Path()),
            tarn::TARN_NOTSUFFTABLERIGHTS);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(session.HasPassword(dbcomp_testing::EncryptedTablePassword));
}

TEST_F(PasswordDialogModal, AWrongPasswordAsksAgainUntilTheRightOne) {
  dbcomp::TTarnSession& session = dbcomp::DefaultSession();
  int shown = 0;
  std::function<void(QWidget&)> answer = [&](QWidget& dialog) {
    const TParts p = PartsOf(dialog);
    if (++shown == 1) {
      QTest::keyClicks(p.Edit, "open sesame");  // wrong letter case
      OnModalDialog(answer);                    // the engine will ask again
    } else {
      QTest::keyClicks(p.Edit, dbcomp_testing::EncryptedTablePassword);
    }
    QTest::keyClick(p.Edit, Qt::Key_Return);  // OK is the default button
  };
  OnModalDialog(answer);
  EXPECT_EQ(dbcomp_testing::OpenEncryptedTable(session, FTemp.Path()), tarn::TARN_NONE);
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(session.Passwords().size(), 2u);
}

}  // namespace
}  // namespace widgets
