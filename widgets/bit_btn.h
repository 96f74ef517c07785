#pragma once

#include <QPixmap>
#include <QPushButton>

namespace widgets {

// The standard kinds of bitmap button: each brings a caption, a glyph and a
// modal result. Custom keeps what the program sets.
enum class TBitBtnKind { Custom, OK, Cancel, Help, Yes, No, Close, Abort, Retry, Ignore, All };

// Modal results a button hands to its dialog (QDialog::done) when clicked.
namespace ModalResult {
constexpr int None = 0;
constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Abort = 3;
constexpr int Retry = 4;
constexpr int Ignore = 5;
constexpr int Yes = 6;
constexpr int No = 7;
constexpr int All = 8;
constexpr int NoToAll = 9;
constexpr int YesToAll = 10;
}  // namespace ModalResult

// A push button with a glyph: a horizontal strip of NumGlyphs equal images,
// the first shown while the button is enabled, the second while it is
// disabled (with one image the disabled look is derived from it).
//
// Clicking a button whose ModalResult is not None closes its window when that
// is a QDialog, with QDialog::done(ModalResult). A Close-kind button closes
// its window. A Cancel button is also clicked by Escape.
class TBitBtn : public QPushButton {
  Q_OBJECT

 public:
  explicit TBitBtn(QWidget* parent = nullptr);

  // Sets the glyph strip; `numGlyphs` (1 to 4) images side by side, each
  // glyph.width() / numGlyphs wide. A null glyph removes it.
  void SetGlyph(const QPixmap& glyph, int numGlyphs = 1);
  const QPixmap& Glyph() const noexcept { return FGlyph; }
  int NumGlyphs() const noexcept { return FNumGlyphs; }
  // Image `index` of the strip (0 normal, 1 disabled); null when absent.
  QPixmap GlyphImage(int index) const;
  // The image the button shows in its current state.
  QPixmap CurrentGlyph() const;

  TBitBtnKind Kind() const noexcept { return FKind; }
  // Takes the kind's caption, glyph and modal result (Custom changes nothing).
  void SetKind(TBitBtnKind kind);
  int ModalResult() const noexcept { return FModalResult; }
  void SetModalResult(int result) noexcept { FModalResult = result; }
  bool Cancel() const noexcept { return FCancel; }
  void SetCancel(bool value);

  // The standard glyph strip of a kind (two images, 18 x 18 each); null for
  // Custom.
  static QPixmap KindGlyph(TBitBtnKind kind);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ClickedHandler();
  void UpdateIcon();

  QPixmap FGlyph;
  int FNumGlyphs = 1;
  TBitBtnKind FKind = TBitBtnKind::Custom;
  int FModalResult = ModalResult::None;
  bool FCancel = false;
  QWidget* FFilteredWindow = nullptr;
};

}  // namespace widgets
