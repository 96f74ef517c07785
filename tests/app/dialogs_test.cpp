// The dialog unit and the application-wide exception handler.

#include "app/dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <map>

#include "app/exception_handler.h"
#include "app/message_form.h"
#include "app_test_support.h"
#include "engine/base/error_context.h"
#include "widgets/bit_btn.h"

namespace vantor {
namespace {

using testing::TDialogRecorder;
using widgets::TBitBtn;
using widgets::TBitBtnKind;

QList<QPushButton*> Buttons(QDialog& form) {
  return form.findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
}

TBitBtn* ButtonNamed(QDialog& form, const char* name) {
  return form.findChild<TBitBtn*>(name, Qt::FindDirectChildrenOnly);
}

TEST(DialogsTest, ErrorBoxShowsOneBitmapOkButtonAtLeast25PixelsHigh) {
  TDialogRecorder recorder;
  recorder.OnShow = [](TMessageForm& form) {
    EXPECT_EQ(form.windowTitle(), "Error");
    EXPECT_TRUE(form.windowModality() == Qt::ApplicationModal);
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    const QList<QPushButton*> buttons = Buttons(form);
    ASSERT_EQ(buttons.size(), 1);
    auto* ok = qobject_cast<TBitBtn*>(buttons.front());
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->objectName(), "OK");
    EXPECT_EQ(ok->Kind(), TBitBtnKind::OK);
    EXPECT_EQ(ok->ModalResult(), 1);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_GE(ok->height(), 25);
    EXPECT_EQ(form.HelpContext(), 0);
  };
  recorder.Answer = 1;
  EXPECT_EQ(ErrorBox("Tarn Engine Error # 11010 Table 'velmorn2' does not exist."), 1);
  ASSERT_EQ(recorder.Shown.size(), 1u);
  EXPECT_EQ(recorder.Shown[0].Message, "Tarn Engine Error # 11010 Table 'velmorn2' does not exist.");
  EXPECT_EQ(recorder.Shown[0].Type, TMsgDlgType::Error);
}

TEST(DialogsTest, InfoBoxesAndFormatting) {
  TDialogRecorder recorder;
  InfoBox("Try Again!");
  InfoBoxFmt("You have %d out of %d right!", {2, 3});
  InfoBoxFmt("%s: 100%% & more", {std::string("Done")});
  ASSERT_EQ(recorder.Shown.size(), 3u);
  for (const auto& shown : recorder.Shown) {
    EXPECT_EQ(shown.Caption, "Information");
    EXPECT_EQ(shown.Type, TMsgDlgType::Information);
  }
  EXPECT_EQ(recorder.Messages(),
            (std::vector<std::string>{"Try Again!", "You have 2 out of 3 right!", "Done: 100% & more"}));
}

TEST(DialogsTest, EveryPushButtonIsReplacedByItsBitmapButton) {
  struct TRow {
    TBitBtnKind Kind;
    int Result;
    int Width;
    bool Cancel;
  };
  const std::map<std::string, TRow> expected = {
      {"Yes", {TBitBtnKind::Yes, 6, 75, false}},       {"No", {TBitBtnKind::No, 7, 75, false}},
      {"OK", {TBitBtnKind::OK, 1, 75, false}},          {"Cancel", {TBitBtnKind::Cancel, 2, 75, true}},
      {"Abort", {TBitBtnKind::Abort, 3, 75, false}},    {"Retry", {TBitBtnKind::Retry, 4, 75, false}},
      {"Ignore", {TBitBtnKind::Ignore, 5, 75, false}},  {"All", {TBitBtnKind::All, 8, 75, false}},
      {"NoToAll", {TBitBtnKind::No, 9, 79, false}},     {"YesToAll", {TBitBtnKind::Yes, 10, 79, false}},
      {"Help", {TBitBtnKind::Help, 0, 75, false}},
  };
  TDialogRecorder recorder;
  recorder.OnShow = [&](TMessageForm& form) {
    const QList<QPushButton*> buttons = Buttons(form);
    EXPECT_EQ(buttons.size(), 11);
    for (QPushButton* b : buttons) {
      auto* bit = qobject_cast<TBitBtn*>(b);
      ASSERT_NE(bit, nullptr) << b->objectName().toStdString();
      const std::string name = b->objectName().toStdString();
      ASSERT_EQ(expected.count(name), 1u) << name;
      const TRow& row = expected.at(name);
      EXPECT_EQ(bit->Kind(), row.Kind) << name;
      EXPECT_EQ(bit->ModalResult(), row.Result) << name;
      EXPECT_EQ(bit->width(), row.Width) << name;
      EXPECT_EQ(bit->height(), 25) << name;
      EXPECT_EQ(bit->Cancel(), row.Cancel) << name;
    }
    EXPECT_EQ(ButtonNamed(form, "NoToAll")->text(), "N&o to All");
    EXPECT_TRUE(ButtonNamed(form, "OK")->isDefault());
    EXPECT_EQ(form.HelpContext(), 7);
    EXPECT_EQ(form.focusWidget(), ButtonNamed(form, "Retry"));  // the requested default button
  };
  ShowMessageDialog("Choose", "Question", TMsgDlgType::Confirmation,
                    {TMsgDlgBtn::Yes, TMsgDlgBtn::No, TMsgDlgBtn::OK, TMsgDlgBtn::Cancel, TMsgDlgBtn::Abort,
                     TMsgDlgBtn::Retry, TMsgDlgBtn::Ignore, TMsgDlgBtn::All, TMsgDlgBtn::NoToAll,
                     TMsgDlgBtn::YesToAll},
                    7, 0, true, TMsgDlgBtn::Retry, true);
  EXPECT_EQ(recorder.Shown.size(), 1u);
}

TEST(DialogsTest, AModalDialogAnswersTheClickedButtonAndEscapeOnlyItsCancelButton) {
  struct TCase {
    TMsgDlgButtons Buttons;
    const char* Click;  // null: press Escape
    int Expected;
  };
  const TCase cases[] = {
      {{TMsgDlgBtn::OK, TMsgDlgBtn::Cancel}, "Cancel", 2},
      {{TMsgDlgBtn::OK, TMsgDlgBtn::Cancel}, nullptr, 2},
      {{TMsgDlgBtn::Yes, TMsgDlgBtn::No}, "No", 7},
      {{TMsgDlgBtn::YesToAll, TMsgDlgBtn::NoToAll}, "YesToAll", 10},
  };
  for (const TCase& c : cases) {
    QTimer::singleShot(0, [&c] {
      auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      if (c.Click != nullptr)
        ButtonNamed(*form, c.Click)->click();
      else
        QTest::keyClick(form, Qt::Key_Escape);
    });
    EXPECT_EQ(ShowMessageDialog("m", "c", TMsgDlgType::Warning, c.Buttons, 0, 0, false, TMsgDlgBtn::OK, true),
              c.Expected);
  }
  // "No" is never a cancel button: Escape leaves the dialog open.
  QTimer::singleShot(0, [] {
    auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    QTest::keyClick(form, Qt::Key_Escape);
    QTimer::singleShot(0, [form] {
      EXPECT_TRUE(form->isVisible());
      ButtonNamed(*form, "Yes")->click();
    });
  });
  EXPECT_EQ(ShowMessageDialog("m", "c", TMsgDlgType::Confirmation, {TMsgDlgBtn::Yes, TMsgDlgBtn::No}, 0, 0, false,
                              TMsgDlgBtn::Yes, true),
            6);
}

TEST(DialogsTest, ANonModalDialogWaitsWhileTheOtherWindowsStayUsable) {
  QWidget other;
  auto* button = new QPushButton("Other", &other);
  int otherClicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++otherClicks; });
  other.show();
  QDialog* seen = nullptr;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<TMessageForm*>(w); d != nullptr && d->isVisible()) seen = d;
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->windowModality(), Qt::NonModal);
    EXPECT_TRUE(seen->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(DialogClosed());
    button->click();  // the other window works while the dialog waits
    QTimer::singleShot(0, [&] { ButtonNamed(*seen, "OK")->click(); });
  });
  EXPECT_EQ(InfoBox("Not blocking", 0, false), 1);
  EXPECT_TRUE(DialogClosed());
  EXPECT_EQ(otherClicks, 1);
}

TEST(DialogsTest, AFailingDialogFallsBackToTheMessageBox) {
  std::vector<std::string> fallback;
  const std::string longMessage(300, 'm');
  TDialogHooks previous = SetDialogHooks(
      {[](QDialog&) -> std::optional<int> { throw std::runtime_error("cannot show"); },
       [&](const std::string& message, const std::string& caption, std::uint32_t flags) {
         fallback.push_back(caption + "|" + message + "|" + std::to_string(flags));
         return 1;
       }});
  EXPECT_EQ(ShowMessageDialog("text", "Caption", TMsgDlgType::Error, {TMsgDlgBtn::OK}, 0, 0x1000, false,
                              TMsgDlgBtn::OK, true),
            1);
  ErrorBox(longMessage);
  SetDialogHooks(std::move(previous));
  ASSERT_EQ(fallback.size(), 2u);
  EXPECT_EQ(fallback[0], "Caption|text|4096");
  EXPECT_EQ(fallback[1], "Error|" + longMessage + "|0");  // the whole message, not 255 characters
}

TEST(ExceptionHandlerTest, TheTextOfEachKindOfException) {
  const void* address = reinterpret_cast<const void*>(std::uintptr_t{0x4A3F10});
  EXPECT_EQ(AppExceptionText(EDivByZero("Division by zero", address)), "Division by zero.");
  EXPECT_EQ(AppExceptionText(ERangeError("Range check error", address)), "Range check error at 004A3F10.");
  EXPECT_EQ(AppExceptionText(EIntOverflow("Integer overflow", address)), "Integer overflow at 004A3F10.");
  EXPECT_EQ(AppExceptionText(std::runtime_error("Plain")), "Plain.");
  try {
    tarn::RaiseEngineError(tarn::TARN_OSENOENT, {.Table = "velmorn2"});
  } catch (const std::exception& e) {
    EXPECT_EQ(AppExceptionText(e), "Tarn Engine Error # 11010 Table 'velmorn2' does not exist.");
  }
}

// Throws from its event handler, as a faulty slot would.
class TThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw ERangeError("Range check error", nullptr);
    return QObject::event(e);
  }
};

TEST(ExceptionHandlerTest, EscapingExceptionsReachTheErrorDialog) {
  TDialogRecorder recorder;
  {
    TExceptionHandler handler;
    RunGuarded(nullptr, [] { throw std::runtime_error("Slot failed"); });
    RunGuarded(nullptr, [] { throw 42; });
    TThrowingObject object;
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&object, QEvent::User);
  }
  EXPECT_EQ(recorder.Messages(), (std::vector<std::string>{"Slot failed.", "Unknown exception.",
                                                           "Range check error at 00000000."}));
  for (const auto& shown : recorder.Shown) EXPECT_EQ(shown.Caption, "Error");
  // Once the handler object is gone the previous (empty) handler is back.
  EXPECT_FALSE(ApplicationExceptionHandler());
  RunGuarded(nullptr, [] { throw std::runtime_error("only logged"); });
  EXPECT_EQ(recorder.Shown.size(), 3u);
}

}  // namespace
}  // namespace vantor
