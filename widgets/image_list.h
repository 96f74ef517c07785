#pragma once

#include <QList>
#include <QPixmap>

class QPainter;
class QString;

namespace widgets {

// A list of equally sized images, drawn by index (the animator's frames,
// toolbar glyphs). Every image has exactly Width() x Height() pixels: Add
// scales nothing and refuses an image of another size.
class TImageList {
 public:
  TImageList(int width, int height);

  int Width() const noexcept { return FWidth; }
  int Height() const noexcept { return FHeight; }
  int Count() const noexcept { return static_cast<int>(FImages.size()); }

  // Appends one image; answers its index, or -1 when it is null or not of
  // the list's size.
  int Add(const QPixmap& image);
  // Splits a horizontal strip into images of the list's width and appends
  // them; answers how many were added (0 when the strip's height differs).
  int AddStrip(const QPixmap& strip);
  // Loads one image file and appends it; -1 when it cannot be read or has
  // another size.
  int AddFile(const QString& path);
  void Clear() { FImages.clear(); }

  // The image at `index`. Requires: 0 <= index < Count().
  const QPixmap& Image(int index) const { return FImages.at(index); }
  // Draws the image at `index` with its top-left corner at (x, y); nothing
  // for an index out of range.
  void Draw(QPainter& painter, int x, int y, int index) const;

 private:
  int FWidth;
  int FHeight;
  QList<QPixmap> FImages;
};

}  // namespace widgets
