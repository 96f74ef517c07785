#pragma once

#include <QColor>
#include <QWidget>

class QTimer;

namespace widgets {

class TImageList;

// A small control that cycles through the images of an image list, one per
// timer tick (every 100 ms by default), like an animated icon.
//
// State: the image list (not owned; it must outlive the animator or be
// replaced with nullptr first), the index of the next image to show
// (ImageIndex, the starting image until the first tick), and the index shown
// last (ShownIndex, -1 before the first tick).
// Each tick: an ImageIndex not below the list's count becomes 0; the image at
// ImageIndex is drawn on a bitmap of the image size first filled with the
// control's colour, and that bitmap is shown at the control's top-left
// corner; ImageIndex goes up by one and wraps to 0 at the count. With an
// empty list or no list a tick shows nothing and changes nothing.
// Animation is on from creation.
class TAnimator : public QWidget {
  Q_OBJECT

 public:
  explicit TAnimator(QWidget* parent = nullptr);

  const TImageList* ImageList() const noexcept { return FImageList; }
  void SetImageList(const TImageList* list);
  // The next image to show; setting it chooses the starting image.
  int ImageIndex() const noexcept { return FImageIndex; }
  void SetImageIndex(int index);
  int ShownIndex() const noexcept { return FShownIndex; }
  // Milliseconds between ticks.
  int Interval() const;
  void SetInterval(int milliseconds);
  bool Animate() const;
  void SetAnimate(bool on);
  // The colour the frame is filled with before the image is drawn.
  QColor Color() const { return FColor; }
  void SetColor(const QColor& color);
  // The bitmap the last tick made (null before the first tick).
  const QPixmap& Frame() const noexcept { return FFrame; }

  // One step of the animation, as the timer does it.
  void Tick();

  QSize sizeHint() const override;

 Q_SIGNALS:
  // A tick showed the image at `index`.
  void ImageShown(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const TImageList* FImageList = nullptr;
  QTimer* FTimer;
  int FImageIndex = 0;
  int FShownIndex = -1;
  QColor FColor = Qt::white;
  QPixmap FFrame;
};

}  // namespace widgets
