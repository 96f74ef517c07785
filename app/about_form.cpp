#include "app/about_form.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>

#include "app/assets/asset_names.h"
#include "app/version.h"
#include "ui_about_form.h"
#include "widgets/animator.h"
#include "widgets/bit_btn.h"
#include "widgets/image_list.h"

namespace vantor {

TAboutForm::TAboutForm(QWidget* parent, const QString& assetDir)
    : QDialog(parent),
      FUi(std::make_unique<Ui::TAboutForm>()),
      FImageList1(std::make_unique<widgets::TImageList>(32, 32)) {
  FUi->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(308, 302);

  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(128, 128, 128));
  setPalette(grey);
  setAutoFillBackground(true);
  QPalette white = FUi->Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  FUi->Panel1->setPalette(white);
  FUi->Label3->setText(QStringLiteral("Version ") + QString::fromUtf8(ProgramVersion));

  const QDir dir(assetDir.isEmpty() ? QCoreApplication::applicationDirPath() : assetDir);
  FUi->Image1->setPixmap(QPixmap(dir.filePath(AssetNames::AboutPicture)));
  FUi->BClose->SetGlyph(QPixmap(dir.filePath(AssetNames::AboutCloseGlyph)), 2);
  FUi->BClose->SetModalResult(widgets::ModalResult::OK);

  for (int i = 0; i < AssetNames::AnimatorFrameCount; ++i) {
    FImageList1->AddFile(dir.filePath(QString(AssetNames::AnimatorFramePattern).arg(i)));
  }
  FUi->Animator1->SetColor(Qt::white);
  FUi->Animator1->SetImageList(FImageList1.get());
  FUi->Animator1->SetImageIndex(6);
  FUi->Animator2->SetColor(Qt::white);
  FUi->Animator2->SetImageList(FImageList1.get());
  FUi->Animator2->SetImageIndex(4);
}

TAboutForm::~TAboutForm() {
  // The animators are destroyed with the window, after the image list they
  // point to would be: let them forget it first.
  FUi->Animator1->SetImageList(nullptr);
  FUi->Animator2->SetImageList(nullptr);
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

}  // namespace vantor
