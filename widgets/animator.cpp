#include "widgets/animator.h"

#include <QPainter>
#include <QTimer>

#include "widgets/image_list.h"

namespace widgets {

namespace {
constexpr int DefaultInterval = 100;
}

TAnimator::TAnimator(QWidget* parent) : QWidget(parent), FTimer(new QTimer(this)) {
  FTimer->setInterval(DefaultInterval);
  connect(FTimer, &QTimer::timeout, this, &TAnimator::Tick);
  FTimer->start();
}

void TAnimator::SetImageList(const TImageList* list) {
  FImageList = list;
  FShownIndex = -1;
  FFrame = QPixmap();
  update();
}

void TAnimator::SetImageIndex(int index) { FImageIndex = index < 0 ? 0 : index; }

int TAnimator::Interval() const { return FTimer->interval(); }
void TAnimator::SetInterval(int milliseconds) { FTimer->setInterval(milliseconds); }
bool TAnimator::Animate() const { return FTimer->isActive(); }

void TAnimator::SetAnimate(bool on) {
  if (on) {
    FTimer->start();
  } else {
    FTimer->stop();
  }
}

void TAnimator::SetColor(const QColor& color) {
  FColor = color;
  update();
}

void TAnimator::Tick() {
  if (FImageList == nullptr || FImageList->Count() == 0) return;
  const int count = FImageList->Count();
  if (FImageIndex >= count) FImageIndex = 0;
  QPixmap frame(FImageList->Width(), FImageList->Height());
  frame.fill(FColor);
  {
    QPainter painter(&frame);
    FImageList->Draw(painter, 0, 0, FImageIndex);
  }
  FFrame = frame;
  FShownIndex = FImageIndex;
  FImageIndex = FImageIndex + 1 >= count ? 0 : FImageIndex + 1;
  update();
  Q_EMIT ImageShown(FShownIndex);
}

QSize TAnimator::sizeHint() const {
  if (FImageList != nullptr) return QSize(FImageList->Width(), FImageList->Height());
  return QSize(32, 32);
}

void TAnimator::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), FColor);
  if (!FFrame.isNull()) painter.drawPixmap(0, 0, FFrame);
}

}  // namespace widgets
