#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class TAboutForm;
}

namespace widgets {
class TImageList;
}

namespace vantor {

// The about window: the program's name, a picture, the version line
// ("Version " and ProgramVersion of version.h), three further lines and two
// animated icons, with a Close button that is the default button, so Enter
// closes the window (modal result OK). Fixed size (client area 308 x 302),
// grey, centred on the screen each time it is shown. Created once at start-up and shown modally
// from Help > About.
//
// The animators cycle through the eight 32 x 32 images of the window's image
// list every 100 ms from creation, Animator1 starting at image 6 and
// Animator2 at image 4. Pictures, glyph and images are read from `assetDir`
// (the program's directory when empty); missing files leave them empty.
class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr, const QString& assetDir = QString());
  ~TAboutForm() override;

  const widgets::TImageList& ImageList1() const noexcept { return *FImageList1; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TAboutForm> FUi;
  std::unique_ptr<widgets::TImageList> FImageList1;
};

}  // namespace vantor
