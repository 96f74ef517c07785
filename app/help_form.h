#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

namespace Ui {
class THelpForm;
}

namespace vantor {

// The help window: a welcome title, a picture and the rules of the game, and
// a Close button that is the default button, so Enter closes the window
// (modal result OK). Fixed size (client area 312 x 446), grey, centred on the
// screen each time it is shown. Created once at start-up and shown modally
// (exec) from the main window's Help > Contents, then hidden again.
//
// The picture and the button's glyph are read from `assetDir` (the program's
// directory when empty); a missing file leaves the picture or glyph empty.
class THelpForm : public QDialog {
  Q_OBJECT

 public:
  explicit THelpForm(QWidget* parent = nullptr, const QString& assetDir = QString());
  ~THelpForm() override;

  // The eleven stored lines of the help text.
  static QStringList HelpLines();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::THelpForm> FUi;
};

}  // namespace vantor
