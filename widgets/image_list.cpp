#include "widgets/image_list.h"

#include <QPainter>
#include <QString>

namespace widgets {

TImageList::TImageList(int width, int height) : FWidth(width), FHeight(height) {}

int TImageList::Add(const QPixmap& image) {
  if (image.isNull() || image.width() != FWidth || image.height() != FHeight) return -1;
  FImages.append(image);
  return Count() - 1;
}

int TImageList::AddStrip(const QPixmap& strip) {
  if (strip.isNull() || strip.height() != FHeight || FWidth <= 0) return 0;
  const int n = strip.width() / FWidth;
  for (int i = 0; i < n; ++i) FImages.append(strip.copy(i * FWidth, 0, FWidth, FHeight));
  return n;
}

int TImageList::AddFile(const QString& path) {
  QPixmap image;
  if (!image.load(path)) return -1;
  return Add(image);
}

void TImageList::Draw(QPainter& painter, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return;
  painter.drawPixmap(x, y, FImages.at(index));
}

}  // namespace widgets
