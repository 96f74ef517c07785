#include "app/help_form.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "app/assets/asset_names.h"
#include "ui_help_form.h"
#include "widgets/bit_btn.h"

namespace vantor {

namespace {
const QColor Grey(128, 128, 128);
}

THelpForm::THelpForm(QWidget* parent, const QString& assetDir)
    : QDialog(parent), FUi(std::make_unique<Ui::THelpForm>()) {
  FUi->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(312, 446);

  QPalette grey = palette();
  grey.setColor(QPalette::Window, Grey);
  setPalette(grey);
  setAutoFillBackground(true);
  QPalette white = FUi->Panel2->palette();
  white.setColor(QPalette::Window, Qt::white);
  FUi->Panel2->setPalette(white);

  const QDir dir(assetDir.isEmpty() ? QCoreApplication::applicationDirPath() : assetDir);
  FUi->Image1->setPixmap(QPixmap(dir.filePath(AssetNames::HelpPicture)));
  FUi->Memo1->setPlainText(HelpLines().join(u'\n'));

  widgets::TBitBtn* close = FUi->BitBtn1;
  close->SetGlyph(QPixmap(dir.filePath(AssetNames::HelpCloseGlyph)), 2);
  close->SetModalResult(widgets::ModalResult::OK);
  QPalette button = close->palette();
  button.setColor(QPalette::Button, Grey);
  close->setPalette(button);
}

THelpForm::~THelpForm() = default;

QStringList THelpForm::HelpLines() {
  return {"In this quiz, click the name of the object ",
          "that you see on the screen. ",
          "",
          "Click on the NEXT button to move to the ",
          "next question.",
          "",
          "In order to be able to move to the next ",
          "question, you must answer each question ",
          "correctly.  ",
          "",
          "Have fun!"};
}

void THelpForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

}  // namespace vantor
