// The help and about windows: their layout, texts and pictures, Enter closing
// them, and the about window's two animators.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <vector>

#include "app/about_form.h"
#include "app/assets/asset_names.h"
#include "app/help_form.h"
#include "widgets/animator.h"
#include "widgets/bit_btn.h"
#include "widgets/image_list.h"

namespace {

// Shows `form` modally, presses Enter on whatever has the focus, and answers
// the modal result (-1 when the window did not close).
int ExecAndPressEnter(QDialog& form) {
  bool pressed = false;
  QTimer::singleShot(0, &form, [&form, &pressed] {
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &form;
    QTest::keyClick(target, Qt::Key_Return);
    pressed = true;
  });
  // A window that ignores Enter would block the test: close it late with -1.
  QTimer::singleShot(5000, &form, [&form] { form.done(-1); });
  const int result = form.exec();
  EXPECT_TRUE(pressed);
  return result;
}

TEST(HelpForm, LayoutTextsAndPictures) {
  vantor::THelpForm form;
  EXPECT_EQ(form.windowTitle(), "Help");
  EXPECT_EQ(form.size(), QSize(312, 446));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(128, 128, 128));

  auto* title = form.findChild<QLabel*>("Label1");
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), "Welcome to Vantor!");
  EXPECT_EQ(title->font().pointSize(), 21);
  EXPECT_TRUE(title->font().bold());
  EXPECT_EQ(title->geometry(), QRect(3, 6, 297, 32));

  auto* image = form.findChild<QLabel*>("Image1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixmap().size(), QSize(300, 100));

  auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->geometry(), QRect(4, 168, 303, 228));
  const QStringList lines = memo->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 11);
  EXPECT_EQ(lines[0], "In this quiz, click the name of the object ");
  EXPECT_EQ(lines[8], "correctly.  ");
  EXPECT_EQ(lines[10], "Have fun!");

  auto* close = form.findChild<widgets::TBitBtn*>("BitBtn1");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->text(), "&Close");
  EXPECT_TRUE(close->isDefault());
  EXPECT_EQ(close->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(close->Glyph().size(), QSize(36, 18));
  EXPECT_EQ(close->mapTo(&form, QPoint(0, 0)), QPoint(119, 446 - 41 + 8));
}

TEST(AboutForm, LayoutTextsAndPictures) {
  vantor::TAboutForm form;
  EXPECT_EQ(form.windowTitle(), "About");
  EXPECT_EQ(form.size(), QSize(308, 302));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  auto* name = form.findChild<QLabel*>("Label1");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), "Vantor");
  EXPECT_EQ(name->font().pointSize(), 30);
  auto* version = form.findChild<QLabel*>("Label3");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Version 3.1");
  EXPECT_EQ(version->pos(), QPoint(107, 176));
  for (const char* label : {"Label2", "Label4", "Label5"}) {
    auto* l = form.findChild<QLabel*>(label);
    ASSERT_NE(l, nullptr) << label;
    EXPECT_FALSE(l->text().isEmpty()) << label;
  }
  auto* image = form.findChild<QLabel*>("Image1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixmap().size(), QSize(200, 100));
  auto* close = form.findChild<widgets::TBitBtn*>("BClose");
  ASSERT_NE(close, nullptr);
  EXPECT_EQ(close->geometry(), QRect(118, 269, 75, 25));
  EXPECT_TRUE(close->isDefault());
  EXPECT_EQ(close->Glyph().size(), QSize(32, 16));
  EXPECT_EQ(form.ImageList1().Count(), 8);
}

TEST(HelpForm, EnterClosesTheWindowEveryTimeItIsShown) {
  vantor::THelpForm form;
  EXPECT_EQ(ExecAndPressEnter(form), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  // Shown again, not recreated; the focus may sit in the read-only memo.
  form.findChild<QPlainTextEdit*>("Memo1")->setFocusPolicy(Qt::StrongFocus);
  QTimer::singleShot(0, &form, [&form] { form.findChild<QPlainTextEdit*>("Memo1")->setFocus(); });
  EXPECT_EQ(ExecAndPressEnter(form), QDialog::Accepted);
}

TEST(AboutForm, EnterClosesTheWindow) {
  vantor::TAboutForm form;
  EXPECT_EQ(ExecAndPressEnter(form), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
}

// Both animators run from creation and show all eight images in turn, from
// images 6 and 4; each shown frame is that image of the list.
TEST(AboutForm, AnimatorsShowAllEightImagesInTurn) {
  vantor::TAboutForm form;
  auto* first = form.findChild<widgets::TAnimator*>("Animator1");
  auto* second = form.findChild<widgets::TAnimator*>("Animator2");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->geometry(), QRect(24, 208, 32, 32));
  EXPECT_EQ(second->geometry(), QRect(235, 209, 32, 32));
  EXPECT_EQ(first->Interval(), 100);
  EXPECT_TRUE(first->Animate());
  EXPECT_TRUE(second->Animate());

  struct TSeen {
    widgets::TAnimator* Animator;
    std::vector<int> Indexes;
    bool FramesMatch = true;
  };
  TSeen seen[] = {{first, {}}, {second, {}}};
  const widgets::TImageList& list = form.ImageList1();
  for (TSeen& s : seen) {
    QObject::connect(s.Animator, &widgets::TAnimator::ImageShown, &form, [&s, &list](int index) {
      s.Indexes.push_back(index);
      // The frame is the image over the animator's white.
      QImage expected(32, 32, QImage::Format_RGB32);
      expected.fill(Qt::white);
      {
        QPainter p(&expected);
        p.drawPixmap(0, 0, list.Image(index));
      }
      if (s.Animator->Frame().toImage().convertToFormat(QImage::Format_RGB32) != expected) {
        s.FramesMatch = false;
      }
    });
  }
  QTRY_VERIFY_WITH_TIMEOUT(seen[0].Indexes.size() >= 8 && seen[1].Indexes.size() >= 8, 20000);
  seen[0].Indexes.resize(8);
  seen[1].Indexes.resize(8);
  EXPECT_EQ(seen[0].Indexes, (std::vector<int>{6, 7, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(seen[1].Indexes, (std::vector<int>{4, 5, 6, 7, 0, 1, 2, 3}));
  EXPECT_TRUE(seen[0].FramesMatch);
  EXPECT_TRUE(seen[1].FramesMatch);
}

TEST(AboutForm, MissingAssetsLeaveEmptyPicturesNotAFailure) {
  vantor::TAboutForm about(nullptr, QDir::temp().filePath("no-such-asset-dir"));
  EXPECT_EQ(about.ImageList1().Count(), 0);
  vantor::THelpForm help(nullptr, QDir::temp().filePath("no-such-asset-dir"));
  EXPECT_TRUE(help.findChild<QLabel*>("Image1")->pixmap().isNull());
}

}  // namespace

namespace {

// Renders both windows to PNGs beside the test program, for a look by eye,
// and checks what the pictures show at a few places.
TEST(HelpAboutForms, RenderToPng) {
  const QDir out(QCoreApplication::applicationDirPath());
  vantor::THelpForm help;
  help.show();
  const QImage helpShot = help.grab().toImage();
  help.hide();
  EXPECT_EQ(helpShot.size(), QSize(312, 446));
  EXPECT_EQ(helpShot.pixelColor(2, 200), QColor(128, 128, 128));  // grey window
  EXPECT_EQ(helpShot.pixelColor(7, 12), QColor(Qt::white));       // white panel
  EXPECT_TRUE(helpShot.save(out.filePath("help_window.png")));

  vantor::TAboutForm about;
  about.show();
  QTest::qWait(250);  // let the animators draw a frame or two
  const QImage aboutShot = about.grab().toImage();
  about.hide();
  EXPECT_EQ(aboutShot.size(), QSize(308, 302));
  EXPECT_EQ(aboutShot.pixelColor(4, 4), QColor(128, 128, 128));
  EXPECT_TRUE(aboutShot.save(out.filePath("about_window.png")));
}

}  // namespace
