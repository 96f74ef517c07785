// Build-time generator of the quiz's pictures, glyphs, animator frames,
// sounds and question pictures. Everything is drawn or synthesised by code,
// deterministically, so the same sources always give the same files.
//
//   make_assets assets DIR...            pictures, glyphs, frames and sounds into each DIR
//   make_assets questions FILE.cpp DIR   the question pictures as C++ source, and as PNGs in DIR
//
// Exits non-zero (with a message) when a file cannot be written.

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/assets/asset_names.h"
#include "app/questions/question_source.h"

namespace {

constexpr double Pi = std::numbers::pi;

// ---------------------------------------------------------------------------
// Files

void SaveImage(const QImage& image, const QString& path) {
  if (!image.save(path, "PNG")) throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray PngBytes(const QImage& image) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) throw std::runtime_error("cannot encode a PNG");
  return out;
}

QImage NewImage(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QFont SerifFont(int pixelSize, bool bold) {
  QFont f("Times New Roman");
  f.setStyleHint(QFont::Serif);
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  return f;
}

// ---------------------------------------------------------------------------
// Question pictures: 160 x 120, an object on a soft card.

using TDrawing = std::function<void(QPainter&)>;

void Card(QPainter& p, const QColor& top, const QColor& bottom) {
  QLinearGradient g(0, 0, 0, 120);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.setPen(QPen(QColor(176, 196, 222), 1.5));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(1, 1, 158, 118), 12, 12);
}

void DayCard(QPainter& p) { Card(p, QColor(226, 240, 255), QColor(255, 255, 255)); }

void Shadow(QPainter& p, QPointF centre, double rx, double ry) {
  QRadialGradient g(centre, rx);
  g.setColorAt(0, QColor(0, 0, 0, 60));
  g.setColorAt(1, QColor(0, 0, 0, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.save();
  p.translate(centre);
  p.scale(1.0, ry / rx);
  p.translate(-centre);
  p.drawEllipse(centre, rx, rx);
  p.restore();
}

void DrawApple(QPainter& p) {
  DayCard(p);
  Shadow(p, {80, 106}, 40, 6);
  QPainterPath body;
  body.moveTo(80, 34);
  body.cubicTo(104, 18, 132, 38, 124, 68);
  body.cubicTo(118, 94, 100, 110, 80, 100);
  body.cubicTo(60, 110, 42, 94, 36, 68);
  body.cubicTo(28, 38, 56, 18, 80, 34);
  QRadialGradient g(QPointF(66, 52), 60);
  g.setColorAt(0, QColor(255, 110, 100));
  g.setColorAt(0.6, QColor(210, 30, 35));
  g.setColorAt(1, QColor(140, 10, 20));
  p.setPen(QPen(QColor(120, 10, 15), 1.5));
  p.setBrush(g);
  p.drawPath(body);
  p.setPen(QPen(QColor(100, 60, 20), 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(80, 36), QPointF(86, 16));
  QPainterPath leaf;
  leaf.moveTo(86, 24);
  leaf.cubicTo(96, 8, 112, 12, 116, 16);
  leaf.cubicTo(108, 28, 96, 30, 86, 24);
  p.setPen(QPen(QColor(40, 110, 30), 1));
  p.setBrush(QColor(80, 170, 60));
  p.drawPath(leaf);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 140));
  p.drawEllipse(QRectF(52, 46, 12, 20));
}

void DrawSun(QPainter& p) {
  Card(p, QColor(140, 200, 255), QColor(225, 242, 255));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 190, 30));
  for (int i = 0; i < 12; ++i) {
    p.save();
    p.translate(80, 60);
    p.rotate(i * 30.0);
    p.drawPolygon(QPolygonF({QPointF(-6, -34), QPointF(6, -34), QPointF(0, -54)}));
    p.restore();
  }
  QRadialGradient g(QPointF(74, 54), 34);
  g.setColorAt(0, QColor(255, 250, 180));
  g.setColorAt(0.7, QColor(255, 210, 40));
  g.setColorAt(1, QColor(245, 160, 20));
  p.setBrush(g);
  p.setPen(QPen(QColor(230, 140, 10), 1.5));
  p.drawEllipse(QPointF(80, 60), 30, 30);
}

void DrawTree(QPainter& p) {
  DayCard(p);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 190, 90));
  p.drawEllipse(QRectF(20, 98, 120, 16));
  QLinearGradient bark(72, 0, 88, 0);
  bark.setColorAt(0, QColor(110, 70, 35));
  bark.setColorAt(1, QColor(150, 100, 55));
  p.setBrush(bark);
  p.drawRect(QRectF(72, 62, 16, 44));
  const QPointF crowns[] = {{60, 52}, {100, 52}, {80, 34}, {80, 60}};
  for (QPointF c : crowns) {
    QRadialGradient g(c - QPointF(6, 8), 30);
    g.setColorAt(0, QColor(120, 200, 90));
    g.setColorAt(1, QColor(30, 120, 40));
    p.setBrush(g);
    p.drawEllipse(c, 26, 24);
  }
  p.setBrush(QColor(220, 40, 40));
  for (QPointF c : {QPointF(64, 44), QPointF(96, 58), QPointF(84, 30), QPointF(74, 66)}) {
    p.drawEllipse(c, 3.5, 3.5);
  }
}

void DrawHouse(QPainter& p) {
  DayCard(p);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 190, 90));
  p.drawRect(QRectF(8, 100, 144, 12));
  p.setPen(QPen(QColor(90, 60, 40), 1.5));
  p.setBrush(QColor(150, 70, 50));
  p.drawRect(QRectF(100, 22, 12, 26));  // chimney
  p.setBrush(QColor(245, 225, 180));
  p.drawRect(QRectF(38, 56, 84, 48));
  QLinearGradient roof(0, 18, 0, 60);
  roof.setColorAt(0, QColor(220, 70, 50));
  roof.setColorAt(1, QColor(160, 40, 30));
  p.setBrush(roof);
  p.drawPolygon(QPolygonF({QPointF(28, 60), QPointF(80, 18), QPointF(132, 60)}));
  p.setBrush(QColor(120, 75, 40));
  p.drawRect(QRectF(72, 74, 18, 30));
  p.setBrush(QColor(150, 210, 250));
  for (double x : {46.0, 98.0}) {
    p.drawRect(QRectF(x, 66, 16, 16));
    p.drawLine(QPointF(x + 8, 66), QPointF(x + 8, 82));
    p.drawLine(QPointF(x, 74), QPointF(x + 16, 74));
  }
  p.setBrush(QColor(240, 200, 60));
  p.drawEllipse(QPointF(86, 90), 1.8, 1.8);
}

void DrawCar(QPainter& p) {
  DayCard(p);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 150, 160));
  p.drawRect(QRectF(8, 96, 144, 14));
  QPainterPath body;
  body.moveTo(18, 88);
  body.lineTo(18, 70);
  body.quadTo(20, 62, 34, 60);
  body.lineTo(50, 58);
  body.lineTo(64, 40);
  body.quadTo(68, 36, 76, 36);
  body.lineTo(104, 36);
  body.quadTo(112, 36, 116, 42);
  body.lineTo(126, 58);
  body.quadTo(142, 60, 144, 70);
  body.lineTo(144, 88);
  body.closeSubpath();
  QLinearGradient g(0, 36, 0, 90);
  g.setColorAt(0, QColor(70, 130, 230));
  g.setColorAt(1, QColor(20, 60, 160));
  p.setPen(QPen(QColor(15, 40, 110), 1.5));
  p.setBrush(g);
  p.drawPath(body);
  p.setBrush(QColor(200, 230, 255));
  p.drawPolygon(QPolygonF({QPointF(56, 58), QPointF(68, 42), QPointF(86, 42), QPointF(86, 58)}));
  p.drawPolygon(QPolygonF({QPointF(92, 58), QPointF(92, 42), QPointF(108, 42), QPointF(118, 58)}));
  p.setBrush(QColor(255, 230, 120));
  p.drawEllipse(QRectF(136, 66, 8, 6));
  for (double x : {46.0, 116.0}) {
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(QPointF(x, 90), 13, 13);
    p.setBrush(QColor(190, 190, 200));
    p.drawEllipse(QPointF(x, 90), 6, 6);
  }
}

void DrawSailboat(QPainter& p) {
  DayCard(p);
  p.setPen(Qt::NoPen);
  QLinearGradient sea(0, 88, 0, 118);
  sea.setColorAt(0, QColor(60, 140, 210));
  sea.setColorAt(1, QColor(20, 80, 160));
  p.setBrush(sea);
  QPainterPath water;
  water.moveTo(2, 92);
  for (int i = 0; i < 8; ++i) water.quadTo(10 + i * 20, 86, 20 + i * 20, 92);
  water.lineTo(158, 118);
  water.lineTo(2, 118);
  water.closeSubpath();
  p.drawPath(water);
  p.setPen(QPen(QColor(90, 60, 30), 3));
  p.drawLine(QPointF(80, 16), QPointF(80, 86));
  p.setPen(QPen(QColor(170, 170, 170), 1));
  p.setBrush(QColor(255, 255, 250));
  p.drawPolygon(QPolygonF({QPointF(83, 18), QPointF(83, 80), QPointF(126, 80)}));
  p.setBrush(QColor(250, 90, 70));
  p.drawPolygon(QPolygonF({QPointF(77, 26), QPointF(77, 80), QPointF(44, 80)}));
  p.setPen(QPen(QColor(80, 40, 20), 1.5));
  p.setBrush(QColor(140, 80, 40));
  p.drawPolygon(QPolygonF({QPointF(36, 84), QPointF(126, 84), QPointF(114, 98), QPointF(48, 98)}));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 40, 40));
  p.drawPolygon(QPolygonF({QPointF(80, 12), QPointF(94, 16), QPointF(80, 20)}));
}

void DrawFish(QPainter& p) {
  Card(p, QColor(190, 230, 250), QColor(120, 190, 230));
  p.setPen(QPen(QColor(180, 80, 10), 1.5));
  p.setBrush(QColor(255, 150, 40));
  p.drawPolygon(
      QPolygonF({QPointF(104, 60), QPointF(136, 38), QPointF(130, 60), QPointF(136, 82)}));
  p.drawPolygon(QPolygonF({QPointF(62, 40), QPointF(78, 24), QPointF(92, 42)}));
  QRadialGradient g(QPointF(60, 52), 50);
  g.setColorAt(0, QColor(255, 210, 90));
  g.setColorAt(1, QColor(245, 120, 20));
  p.setBrush(g);
  p.drawEllipse(QPointF(72, 60), 40, 24);
  p.setPen(QPen(QColor(200, 90, 10), 1.5));
  p.drawArc(QRectF(84, 40, 20, 40), -60 * 16, 120 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(50, 54), 7, 7);
  p.setBrush(QColor(20, 20, 40));
  p.drawEllipse(QPointF(48, 54), 3.5, 3.5);
  p.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(24, 36), 4, 4);
  p.drawEllipse(QPointF(18, 22), 3, 3);
  p.drawEllipse(QPointF(26, 12), 2, 2);
}

void DrawUmbrella(QPainter& p) {
  DayCard(p);
  // Canopy: a half disc whose lower edge is six scallops bulging upwards.
  constexpr double Left = 30, Right = 130, Hem = 64;
  constexpr int Scallops = 6;
  constexpr double Step = (Right - Left) / Scallops;
  QPainterPath canopy;
  canopy.moveTo(Left, Hem);
  canopy.arcTo(QRectF(Left, Hem - 50, 100, 100), 180, -180);
  for (int i = Scallops - 1; i >= 0; --i) {
    canopy.arcTo(QRectF(Left + i * Step, Hem - 5, Step, 10), 0, 180);
  }
  canopy.closeSubpath();
  p.save();
  p.setClipPath(canopy);
  p.setPen(Qt::NoPen);
  const QColor colours[] = {QColor(220, 50, 60), QColor(250, 250, 250)};
  for (int i = 0; i < Scallops; ++i) {
    QPainterPath slice;
    slice.moveTo(80, Hem + 4);
    slice.arcTo(QRectF(20, Hem - 60, 120, 120), 180.0 - i * 30.0, -30.0);
    slice.closeSubpath();
    p.setBrush(colours[i % 2]);
    p.drawPath(slice);
  }
  p.restore();
  p.setPen(QPen(QColor(120, 30, 40), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(canopy);
  p.setPen(QPen(QColor(90, 60, 40), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(80, 60), QPointF(80, 100));
  p.drawArc(QRectF(68, 94, 12, 12), 180 * 16, 180 * 16);
  p.setBrush(QColor(90, 60, 40));
  p.drawEllipse(QPointF(80, 14), 2.5, 2.5);
}

void DrawClock(QPainter& p) {
  DayCard(p);
  Shadow(p, {82, 108}, 38, 5);
  QRadialGradient rim(QPointF(74, 52), 50);
  rim.setColorAt(0, QColor(120, 160, 220));
  rim.setColorAt(1, QColor(30, 60, 130));
  p.setPen(Qt::NoPen);
  p.setBrush(rim);
  p.drawEllipse(QPointF(80, 58), 46, 46);
  p.setBrush(QColor(252, 250, 240));
  p.drawEllipse(QPointF(80, 58), 39, 39);
  for (int i = 0; i < 12; ++i) {
    p.save();
    p.translate(80, 58);
    p.rotate(i * 30.0);
    p.setPen(QPen(QColor(40, 40, 60), i % 3 == 0 ? 3 : 1.5));
    p.drawLine(QPointF(0, -34), QPointF(0, i % 3 == 0 ? -27 : -30));
    p.restore();
  }
  p.setPen(QPen(QColor(30, 30, 40), 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(80, 58),
             QPointF(80 - 16 * std::sin(60 * Pi / 180), 58 - 16 * std::cos(60 * Pi / 180)));
  p.setPen(QPen(QColor(30, 30, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(80, 58),
             QPointF(80 + 28 * std::sin(60 * Pi / 180), 58 - 28 * std::cos(60 * Pi / 180)));
  p.setPen(QPen(QColor(200, 30, 30), 1.2));
  p.drawLine(QPointF(80, 66), QPointF(80, 24));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 30, 30));
  p.drawEllipse(QPointF(80, 58), 3, 3);
}

void DrawKey(QPainter& p) {
  DayCard(p);
  QLinearGradient gold(0, 40, 0, 80);
  gold.setColorAt(0, QColor(255, 225, 110));
  gold.setColorAt(0.5, QColor(225, 170, 40));
  gold.setColorAt(1, QColor(170, 120, 20));
  QPainterPath key;
  key.addEllipse(QPointF(42, 60), 26, 26);
  key.addRect(QRectF(64, 54, 76, 12));
  key.addRect(QRectF(112, 66, 8, 16));
  key.addRect(QRectF(126, 66, 8, 12));
  QPainterPath hole;
  hole.addEllipse(QPointF(38, 60), 11, 11);
  key = key.simplified().subtracted(hole);
  p.setPen(QPen(QColor(130, 90, 10), 1.5));
  p.setBrush(gold);
  p.drawPath(key);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 120));
  p.drawEllipse(QRectF(26, 40, 14, 8));
}

void DrawCup(QPainter& p) {
  DayCard(p);
  Shadow(p, {74, 106}, 42, 5);
  p.setPen(QPen(QColor(180, 180, 180, 200), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  for (double x : {60.0, 74.0, 88.0}) {
    QPainterPath steam;
    steam.moveTo(x, 36);
    steam.cubicTo(x - 8, 28, x + 8, 22, x, 12);
    p.drawPath(steam);
  }
  p.setPen(QPen(QColor(20, 90, 140), 6, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(96, 50, 30, 34), -90 * 16, 180 * 16);
  QLinearGradient g(44, 0, 108, 0);
  g.setColorAt(0, QColor(40, 120, 180));
  g.setColorAt(0.4, QColor(90, 170, 230));
  g.setColorAt(1, QColor(20, 80, 140));
  p.setPen(QPen(QColor(15, 60, 110), 1.5));
  p.setBrush(g);
  QPainterPath mug;
  mug.moveTo(44, 42);
  mug.lineTo(106, 42);
  mug.lineTo(102, 96);
  mug.quadTo(100, 104, 92, 104);
  mug.lineTo(58, 104);
  mug.quadTo(50, 104, 48, 96);
  mug.closeSubpath();
  p.drawPath(mug);
  p.setBrush(QColor(110, 60, 30));
  p.drawEllipse(QRectF(46, 38, 58, 10));
}

void DrawBalloon(QPainter& p) {
  DayCard(p);
  p.setPen(QPen(QColor(90, 90, 90), 1.2));
  p.setBrush(Qt::NoBrush);
  QPainterPath string;
  string.moveTo(80, 86);
  string.cubicTo(70, 96, 92, 104, 80, 116);
  p.drawPath(string);
  QRadialGradient g(QPointF(68, 34), 50);
  g.setColorAt(0, QColor(255, 140, 170));
  g.setColorAt(0.6, QColor(230, 30, 80));
  g.setColorAt(1, QColor(150, 10, 50));
  p.setPen(QPen(QColor(140, 10, 45), 1.2));
  p.setBrush(g);
  p.drawEllipse(QPointF(80, 48), 30, 36);
  p.drawPolygon(QPolygonF({QPointF(76, 88), QPointF(84, 88), QPointF(80, 82)}));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(QRectF(62, 24, 10, 18));
}

QPolygonF StarPolygon(QPointF c, double outer, double inner, double rotation) {
  QPolygonF star;
  for (int i = 0; i < 10; ++i) {
    const double r = i % 2 == 0 ? outer : inner;
    const double a = (rotation - 90.0 + i * 36.0) * Pi / 180.0;
    star << QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
  }
  return star;
}

void DrawStar(QPainter& p) {
  Card(p, QColor(40, 50, 110), QColor(90, 80, 160));
  QRadialGradient g(QPointF(76, 54), 46);
  g.setColorAt(0, QColor(255, 250, 200));
  g.setColorAt(0.6, QColor(255, 210, 40));
  g.setColorAt(1, QColor(240, 150, 10));
  p.setPen(QPen(QColor(200, 120, 0), 1.5));
  p.setBrush(g);
  p.drawPolygon(StarPolygon({80, 62}, 46, 19, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 200));
  for (QPointF c : {QPointF(22, 22), QPointF(136, 30), QPointF(30, 96), QPointF(132, 100)}) {
    p.drawEllipse(c, 1.8, 1.8);
  }
}

void DrawMoon(QPainter& p) {
  Card(p, QColor(15, 25, 70), QColor(50, 60, 120));
  QPainterPath moon;
  moon.addEllipse(QPointF(76, 60), 38, 38);
  QPainterPath bite;
  bite.addEllipse(QPointF(96, 48), 32, 32);
  QRadialGradient g(QPointF(60, 60), 44);
  g.setColorAt(0, QColor(255, 252, 210));
  g.setColorAt(1, QColor(240, 210, 110));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawPath(moon.subtracted(bite));
  p.setBrush(QColor(255, 255, 255, 220));
  for (QPointF c : {QPointF(120, 30), QPointF(136, 74), QPointF(112, 98), QPointF(24, 20)}) {
    p.drawPolygon(StarPolygon(c, 5, 2, 0));
  }
}

const std::map<std::string, TDrawing>& Drawings() {
  static const std::map<std::string, TDrawing> drawings = {
      {"apple", DrawApple}, {"sun", DrawSun},           {"tree", DrawTree},
      {"house", DrawHouse}, {"car", DrawCar},           {"sailboat", DrawSailboat},
      {"fish", DrawFish},   {"umbrella", DrawUmbrella}, {"clock", DrawClock},
      {"key", DrawKey},     {"cup", DrawCup},           {"balloon", DrawBalloon},
      {"star", DrawStar},   {"moon", DrawMoon},
  };
  return drawings;
}

QImage QuestionPicture(const std::string& name) {
  const auto it = Drawings().find(name);
  if (it == Drawings().end()) throw std::runtime_error("no drawing for picture " + name);
  QImage image = NewImage(vantor::sample::PictureWidth, vantor::sample::PictureHeight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  it->second(p);
  p.end();
  // The question pane shows the picture on white: flatten the corners onto it.
  QImage flat(image.size(), QImage::Format_RGB32);
  flat.fill(Qt::white);
  QPainter f(&flat);
  f.drawImage(0, 0, image);
  return flat;
}

// ---------------------------------------------------------------------------
// Window pictures, glyphs and animator frames.

void LetterBadge(QPainter& p, QPointF c, double r, const QColor& colour, const QString& letter) {
  QRadialGradient g(c - QPointF(r / 3, r / 3), r * 1.4);
  g.setColorAt(0, colour.lighter(160));
  g.setColorAt(1, colour.darker(120));
  p.setPen(QPen(colour.darker(170), 1.5));
  p.setBrush(g);
  p.drawEllipse(c, r, r);
  p.setPen(Qt::white);
  p.setFont(SerifFont(static_cast<int>(r * 1.25), true));
  p.drawText(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, letter);
}

const QColor BadgeColours[4] = {QColor(210, 50, 50), QColor(40, 140, 60), QColor(40, 90, 200),
                                QColor(230, 150, 20)};

void QuestionBubble(QPainter& p, QRectF box, double fontPixels) {
  QLinearGradient g(box.topLeft(), box.bottomLeft());
  g.setColorAt(0, QColor(255, 255, 255));
  g.setColorAt(1, QColor(220, 232, 250));
  p.setPen(QPen(QColor(60, 90, 150), 2));
  p.setBrush(g);
  QPainterPath bubble;
  bubble.addRoundedRect(box, box.height() / 3, box.height() / 3);
  QPainterPath tail;
  tail.moveTo(box.left() + box.width() * 0.25, box.bottom() - 2);
  tail.lineTo(box.left() + box.width() * 0.18, box.bottom() + box.height() * 0.28);
  tail.lineTo(box.left() + box.width() * 0.42, box.bottom() - 2);
  tail.closeSubpath();
  p.drawPath(bubble.united(tail));
  p.setPen(QColor(40, 60, 130));
  p.setFont(SerifFont(static_cast<int>(fontPixels), true));
  p.drawText(box, Qt::AlignCenter, "?");
}

QImage MainWindowPicture() {
  QImage image = NewImage(200, 123);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QuestionBubble(p, QRectF(58, 4, 84, 60), 50);
  for (int i = 0; i < 4; ++i) {
    LetterBadge(p, QPointF(31 + i * 46, 98), 19, BadgeColours[i], QString(QChar('A' + i)));
  }
  return image;
}

QImage DesktopIcon() {
  QImage image = NewImage(128, 128);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QuestionBubble(p, QRectF(14, 6, 100, 70), 58);
  LetterBadge(p, QPointF(64, 98), 26, BadgeColours[1], "B");
  return image;
}

QImage Banner(int w, int h, const QString& title, const QString& subtitle, double titlePixels) {
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient g(0, 0, w, h);
  g.setColorAt(0, QColor(20, 40, 110));
  g.setColorAt(1, QColor(90, 40, 130));
  p.fillRect(image.rect(), g);
  // Faint rings behind the text.
  p.setPen(QPen(QColor(255, 255, 255, 28), 6));
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 4; ++i)
    p.drawEllipse(QPointF(w * 0.82, h * 0.5), 20.0 + i * 22, 20.0 + i * 22);
  const double r = h * 0.16;
  for (int i = 0; i < 4; ++i) {
    LetterBadge(p, QPointF(r + 8 + (i % 2) * (2 * r + 6), h / 2.0 + (i < 2 ? -r - 3 : r + 3)), r,
                BadgeColours[i], QString(QChar('A' + i)));
  }
  const double textLeft = 4 * r + 26;
  p.setPen(QColor(255, 215, 90));
  p.setFont(SerifFont(static_cast<int>(titlePixels), true));
  p.drawText(QRectF(textLeft, 4, w - textLeft - 4, h * 0.62), Qt::AlignLeft | Qt::AlignBottom,
             title);
  p.setPen(QColor(230, 235, 255));
  p.setFont(SerifFont(static_cast<int>(titlePixels * 0.36), false));
  p.drawText(QRectF(textLeft + 2, h * 0.64, w - textLeft - 4, h * 0.3),
             Qt::AlignLeft | Qt::AlignTop, subtitle);
  return image;
}

// A glyph strip of two square halves: the symbol in colour, then greyed.
QImage Glyph(int size, const std::function<void(QPainter&, double, bool)>& draw) {
  QImage image = NewImage(size * 2, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p, size, true);
  p.translate(size, 0);
  draw(p, size, false);
  return image;
}

void NextArrow(QPainter& p, double s, bool enabled) {
  const QColor fill = enabled ? QColor(40, 150, 60) : QColor(170, 170, 170);
  p.setPen(QPen(enabled ? QColor(20, 90, 30) : QColor(130, 130, 130), 1));
  p.setBrush(fill);
  p.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({QPointF(s * 0.25, s * 0.40), QPointF(s * 0.52, s * 0.40),
                           QPointF(s * 0.52, s * 0.22), QPointF(s * 0.82, s * 0.5),
                           QPointF(s * 0.52, s * 0.78), QPointF(s * 0.52, s * 0.60),
                           QPointF(s * 0.25, s * 0.60)}));
}

void DoorGlyph(QPainter& p, double s, bool enabled) {
  const QColor frame = enabled ? QColor(90, 60, 30) : QColor(140, 140, 140);
  const QColor door = enabled ? QColor(190, 130, 60) : QColor(190, 190, 190);
  p.setPen(QPen(frame, 1));
  p.setBrush(enabled ? QColor(255, 240, 200) : QColor(225, 225, 225));
  p.drawRect(QRectF(s * 0.2, s * 0.08, s * 0.55, s * 0.84));
  p.setBrush(door);
  p.drawPolygon(QPolygonF({QPointF(s * 0.2, s * 0.08), QPointF(s * 0.55, s * 0.2),
                           QPointF(s * 0.55, s * 0.98), QPointF(s * 0.2, s * 0.92)}));
  p.setPen(Qt::NoPen);
  p.setBrush(frame);
  p.drawEllipse(QPointF(s * 0.48, s * 0.55), s * 0.05, s * 0.05);
}

QImage AnimatorFrame(int index) {
  QImage image = NewImage(32, 32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // A star turning a fifth of a turn over the eight frames, its colour
  // pulsing from gold to orange and back, with a twinkle going round.
  const double t = index / 8.0;
  const double pulse = 0.5 - 0.5 * std::cos(2 * Pi * t);
  const QColor inner(255, 245 - static_cast<int>(40 * pulse), 170 - static_cast<int>(120 * pulse));
  const QColor outer(240, 170 - static_cast<int>(70 * pulse), 20);
  QRadialGradient g(QPointF(15, 14), 16);
  g.setColorAt(0, inner);
  g.setColorAt(1, outer);
  p.setPen(QPen(QColor(180, 100, 0), 1));
  p.setBrush(g);
  p.drawPolygon(StarPolygon({16, 17}, 14, 6, index * 9.0));
  const double a = 2 * Pi * t - Pi / 2;
  const QPointF spark(16 + 13 * std::cos(a), 16 + 13 * std::sin(a));
  p.setPen(QPen(QColor(90, 150, 255), 1.2));
  p.drawLine(spark - QPointF(3, 0), spark + QPointF(3, 0));
  p.drawLine(spark - QPointF(0, 3), spark + QPointF(0, 3));
  return image;
}

// ---------------------------------------------------------------------------
// Sounds.
//
// Wave file as written here (RIFF, PCM, 16-bit mono). All integers little-endian.
//   offset  size  field
//        0     4  "RIFF"
//        4     4  36 + data size
//        8     4  "WAVE"
//       12     4  "fmt "
//       16     4  16 (size of the format chunk)
//       20     2  1 (PCM)
//       22     2  1 (channels)
//       24     4  sample rate
//       28     4  byte rate = sample rate x 2
//       32     2  block align = 2
//       34     2  16 (bits per sample)
//       36     4  "data"
//       40     4  data size = samples x 2
//       44     *  samples, signed 16-bit
// Invariants: (1) the RIFF size is the file size minus 8; (2) data size is even.

constexpr int SampleRate = 22050;

void PutLE(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void SaveWave(const std::vector<double>& samples, const QString& path) {
  std::string out = "RIFF";
  const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
  PutLE(out, 36 + dataSize, 4);
  out += "WAVEfmt ";
  PutLE(out, 16, 4);
  PutLE(out, 1, 2);
  PutLE(out, 1, 2);
  PutLE(out, SampleRate, 4);
  PutLE(out, SampleRate * 2, 4);
  PutLE(out, 2, 2);
  PutLE(out, 16, 2);
  out += "data";
  PutLE(out, dataSize, 4);
  for (double s : samples) {
    const double clipped = std::max(-1.0, std::min(1.0, s));
    PutLE(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(clipped * 32000))),
          2);
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size())) {
    throw std::runtime_error("cannot write " + path.toStdString());
  }
}

// A small deterministic noise source.
class TNoise {
 public:
  explicit TNoise(std::uint32_t seed) : FState(seed) {}
  double Next() {  // uniform in [-1, 1)
    FState = FState * 1664525u + 1013904223u;
    return static_cast<double>(FState >> 8) / static_cast<double>(1u << 23) - 1.0;
  }

 private:
  std::uint32_t FState;
};

// Crowd cheering: band-limited roar swelling and fading, many hand claps,
// and a few voices gliding up.
std::vector<double> CrowdCheers() {
  const int n = static_cast<int>(SampleRate * 2.2);
  std::vector<double> out(n, 0.0);
  TNoise noise(12345);
  double low = 0, band = 0;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / SampleRate;
    const double env = std::min(1.0, t / 0.25) * (t < 1.4 ? 1.0 : std::exp(-(t - 1.4) * 4.0));
    const double x = noise.Next();
    low += 0.18 * (x - low);      // low-pass
    band += 0.35 * (low - band);  // second pole
    out[i] += (low - band) * 1.6 * env;
  }
  // Claps: short bursts of bright noise at pseudo-random times.
  TNoise timing(777);
  for (int k = 0; k < 120; ++k) {
    const double start = 0.05 + (timing.Next() * 0.5 + 0.5) * 1.7;
    const int s0 = static_cast<int>(start * SampleRate);
    const double gain = 0.18 + 0.12 * (timing.Next() * 0.5 + 0.5);
    double prev = 0;
    for (int j = 0; j < SampleRate / 60 && s0 + j < n; ++j) {
      const double x = noise.Next();
      const double hp = x - prev;
      prev = x;
      out[s0 + j] += hp * gain * std::exp(-j / (SampleRate * 0.004));
    }
  }
  // Voices: "woo" glides with vibrato.
  const double voices[][3] = {{0.15, 330, 520}, {0.35, 280, 470}, {0.6, 360, 600}};
  for (const auto& v : voices) {
    double phase = 0;
    const int s0 = static_cast<int>(v[0] * SampleRate);
    const int len = static_cast<int>(0.9 * SampleRate);
    for (int j = 0; j < len && s0 + j < n; ++j) {
      const double u = static_cast<double>(j) / len;
      const double f =
          v[1] + (v[2] - v[1]) * std::sin(u * Pi / 2) + 8 * std::sin(2 * Pi * 6 * j / SampleRate);
      phase += 2 * Pi * f / SampleRate;
      const double env = std::sin(u * Pi) * 0.07;
      out[s0 + j] +=
          env * (std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.15 * std::sin(3 * phase));
    }
  }
  double peak = 0;
  for (double s : out) peak = std::max(peak, std::abs(s));
  for (double& s : out) s = s / peak * 0.85;
  return out;
}

// Wrong answer: a buzzy tone, then a lower one sliding down.
std::vector<double> WrongAnswer() {
  std::vector<double> out;
  double phase = 0;
  const struct {
    double Seconds, From, To;
  } tones[] = {{0.32, 233, 228}, {0.06, 0, 0}, {0.62, 175, 150}};
  for (const auto& tone : tones) {
    const int len = static_cast<int>(tone.Seconds * SampleRate);
    for (int j = 0; j < len; ++j) {
      if (tone.From == 0) {
        out.push_back(0);
        continue;
      }
      const double u = static_cast<double>(j) / len;
      const double f = tone.From + (tone.To - tone.From) * u;
      phase += 2 * Pi * f / SampleRate;
      double s = 0;
      for (int h = 1; h <= 9; h += 2) s += std::sin(h * phase) / h;  // square-ish
      const double attack = std::min(1.0, j / (0.01 * SampleRate));
      const double release = std::min(1.0, (len - j) / (0.05 * SampleRate));
      out.push_back(0.55 * s * attack * release);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------

void WriteAssets(const QString& dir) {
  using namespace vantor::AssetNames;
  if (!QDir().mkpath(dir)) throw std::runtime_error("cannot create " + dir.toStdString());
  const QDir d(dir);
  SaveImage(MainWindowPicture(), d.filePath(MainPicture));
  SaveImage(DesktopIcon(), d.filePath(ProgramIcon));
  SaveImage(Glyph(16, NextArrow), d.filePath(NextGlyph));
  SaveImage(Banner(300, 100, "Vantor", "the picture quiz", 54), d.filePath(HelpPicture));
  SaveImage(Glyph(18, DoorGlyph), d.filePath(HelpCloseGlyph));
  SaveImage(Banner(200, 100, "Vantor", "version 3.1", 30), d.filePath(AboutPicture));
  SaveImage(Glyph(16, DoorGlyph), d.filePath(AboutCloseGlyph));
  for (int i = 0; i < AnimatorFrameCount; ++i) {
    SaveImage(AnimatorFrame(i), d.filePath(QString(AnimatorFramePattern).arg(i)));
  }
  SaveWave(CrowdCheers(), d.filePath(RightSound));
  SaveWave(WrongAnswer(), d.filePath(WrongSound));
}

void WriteQuestionPictures(const QString& cppPath, const QString& pngDir) {
  if (!QDir().mkpath(pngDir)) throw std::runtime_error("cannot create " + pngDir.toStdString());
  std::string cpp =
      "// Made by make_assets from the drawings of the sample questions. Do not edit.\n"
      "#include \"app/questions/question_pictures.h\"\n\n"
      "namespace vantor::sample {\n\nnamespace {\n\n";
  std::string table;
  int n = 0;
  for (const auto& q : vantor::sample::Questions) {
    const QImage image = QuestionPicture(q.Picture);
    SaveImage(image, QDir(pngDir).filePath(QString("%1.png").arg(q.Picture)));
    const QByteArray png = PngBytes(image);
    cpp += "const unsigned char Picture" + std::to_string(n) + "[] = {";
    for (qsizetype i = 0; i < png.size(); ++i) {
      if (i % 20 == 0) cpp += "\n   ";
      cpp += " " + std::to_string(static_cast<unsigned char>(png[i])) + ",";
    }
    cpp += "\n};\n\n";
    table += "    {\"" + std::string(q.Picture) + "\", Picture" + std::to_string(n) +
             ", sizeof(Picture" + std::to_string(n) + ")},\n";
    ++n;
  }
  cpp += "const TPictureData Pictures[] = {\n" + table + "};\n\n}  // namespace\n\n";
  cpp +=
      "std::span<const TPictureData> QuestionPictures() { return Pictures; }\n\n"
      "std::span<const unsigned char> FindQuestionPicture(std::string_view name) {\n"
      "  for (const TPictureData& p : Pictures) {\n"
      "    if (name == p.Name) return {p.Bytes, p.Size};\n"
      "  }\n"
      "  return {};\n"
      "}\n\n}  // namespace vantor::sample\n";
  // Written through a temporary name so an interrupted run leaves no half file.
  const QString tmp = cppPath + ".tmp";
  QFile file(tmp);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(cpp.data(), static_cast<qint64>(cpp.size())) != static_cast<qint64>(cpp.size())) {
    throw std::runtime_error("cannot write " + tmp.toStdString());
  }
  file.close();
  QFile::remove(cppPath);
  if (!QFile::rename(tmp, cppPath))
    throw std::runtime_error("cannot write " + cppPath.toStdString());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  try {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "assets") {
      for (int i = 2; i < args.size(); ++i) WriteAssets(args[i]);
      return 0;
    }
    if (args.size() == 4 && args[1] == "questions") {
      WriteQuestionPictures(args[2], args[3]);
      return 0;
    }
    std::fprintf(stderr,
                 "usage: make_assets assets DIR...\n"
                 "       make_assets questions FILE.cpp PNGDIR\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_assets: %s\n", e.what());
    return 1;
  }
}
