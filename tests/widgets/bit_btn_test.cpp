#include "widgets/bit_btn.h"

#include <ostream>
#include <gtest/gtest.h>

#include <QDialog>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

namespace {

// A strip of two 8 x 8 halves: green, then grey.
QPixmap TwoHalves() {
  QImage strip(16, 8, QImage::Format_RGB32);
  strip.fill(QColor(0, 160, 0));
  for (int y = 0; y < 8; ++y) {
    for (int x = 8; x < 16; ++x) strip.setPixelColor(x, y, QColor(128, 128, 128));
  }
  return QPixmap::fromImage(strip);
}

TEST(BitBtn, ShowsTheNormalOrTheDisabledHalfOfItsGlyph) {
  widgets::TBitBtn button;
  button.SetGlyph(TwoHalves(), 2);
  EXPECT_EQ(button.iconSize(), QSize(8, 8));
  EXPECT_EQ(button.CurrentGlyph().toImage().pixelColor(4, 4), QColor(0, 160, 0));
  button.setEnabled(false);
  EXPECT_EQ(button.CurrentGlyph().toImage().pixelColor(4, 4), QColor(128, 128, 128));
  EXPECT_EQ(button.icon().pixmap(QSize(8, 8), QIcon::Disabled).toImage().pixelColor(4, 4),
            QColor(128, 128, 128));
  button.setEnabled(true);
  EXPECT_EQ(button.icon().pixmap(QSize(8, 8), QIcon::Normal).toImage().pixelColor(4, 4),
            QColor(0, 160, 0));
}

TEST(BitBtn, GlyphHalvesOutOfRangeAreNull) {
  widgets::TBitBtn button;
  EXPECT_TRUE(button.CurrentGlyph().isNull());
  button.SetGlyph(TwoHalves(), 2);
  EXPECT_TRUE(button.GlyphImage(2).isNull());
  EXPECT_TRUE(button.GlyphImage(-1).isNull());
  button.SetGlyph(QPixmap(), 2);
  EXPECT_TRUE(button.icon().isNull());
}

struct TKindCase {
  widgets::TBitBtnKind Kind;
  const char* Caption;
  int Result;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TKindCase& c, std::ostream* os) { *os << "Kind" << static_cast<int>(c.Kind); }


class BitBtnKind : public ::testing::TestWithParam<TKindCase> {};

TEST_P(BitBtnKind, KindGivesCaptionGlyphAndResult) {
  QDialog dialog;
  auto* button = new widgets::TBitBtn(&dialog);
  button->SetKind(GetParam().Kind);
  EXPECT_EQ(button->text(), GetParam().Caption);
  EXPECT_EQ(button->ModalResult(), GetParam().Result);
  EXPECT_EQ(button->Glyph().size(), QSize(36, 18));
  EXPECT_EQ(button->NumGlyphs(), 2);
  QTimer::singleShot(0, button, &QPushButton::click);
  EXPECT_EQ(dialog.exec(), GetParam().Result);
}

using widgets::TBitBtnKind;
namespace MR = widgets::ModalResult;
INSTANTIATE_TEST_SUITE_P(Kinds, BitBtnKind,
                         ::testing::Values(TKindCase{TBitBtnKind::OK, "OK", MR::OK},
                                           TKindCase{TBitBtnKind::Cancel, "Cancel", MR::Cancel},
                                           TKindCase{TBitBtnKind::Yes, "&Yes", MR::Yes},
                                           TKindCase{TBitBtnKind::No, "&No", MR::No},
                                           TKindCase{TBitBtnKind::Abort, "Abort", MR::Abort},
                                           TKindCase{TBitBtnKind::Retry, "&Retry", MR::Retry},
                                           TKindCase{TBitBtnKind::Ignore, "&Ignore", MR::Ignore},
                                           TKindCase{TBitBtnKind::All, "&All", MR::All}));

TEST(BitBtn, CloseKindClosesItsWindow) {
  QDialog dialog;
  auto* button = new widgets::TBitBtn(&dialog);
  button->SetKind(widgets::TBitBtnKind::Close);
  dialog.show();
  button->click();
  EXPECT_FALSE(dialog.isVisible());
}

// The default button is clicked by Enter even when it takes no focus and a
// read-only text holds the focus.
TEST(BitBtn, EnterClicksTheDefaultButton) {
  QDialog dialog;
  auto* memo = new QPlainTextEdit(&dialog);
  memo->setReadOnly(true);
  auto* button = new widgets::TBitBtn(&dialog);
  button->setFocusPolicy(Qt::NoFocus);
  button->setDefault(true);
  button->SetModalResult(widgets::ModalResult::OK);
  QTimer::singleShot(0, memo, [memo] {
    memo->setFocus();
    QTest::keyClick(memo, Qt::Key_Return);
  });
  EXPECT_EQ(dialog.exec(), widgets::ModalResult::OK);
}

TEST(BitBtn, EscapeClicksTheCancelButton) {
  QDialog dialog;
  auto* ok = new widgets::TBitBtn(&dialog);
  ok->SetKind(widgets::TBitBtnKind::OK);
  auto* cancel = new widgets::TBitBtn(&dialog);
  cancel->SetKind(widgets::TBitBtnKind::Cancel);
  QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
  EXPECT_EQ(dialog.exec(), widgets::ModalResult::Cancel);
}

}  // namespace
