#include "widgets/bit_btn.h"

#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace widgets {

namespace {

constexpr int KindGlyphSize = 18;

struct TKindInfo {
  TBitBtnKind Kind;
  const char* Caption;
  int Result;
};

constexpr TKindInfo Kinds[] = {
    {TBitBtnKind::OK, "OK", ModalResult::OK},
    {TBitBtnKind::Cancel, "Cancel", ModalResult::Cancel},
    {TBitBtnKind::Help, "&Help", ModalResult::None},
    {TBitBtnKind::Yes, "&Yes", ModalResult::Yes},
    {TBitBtnKind::No, "&No", ModalResult::No},
    {TBitBtnKind::Close, "&Close", ModalResult::None},
    {TBitBtnKind::Abort, "Abort", ModalResult::Abort},
    {TBitBtnKind::Retry, "&Retry", ModalResult::Retry},
    {TBitBtnKind::Ignore, "&Ignore", ModalResult::Ignore},
    {TBitBtnKind::All, "&All", ModalResult::All},
};

// Draws the symbol of a kind into an 18 x 18 cell in `color`.
void DrawKindSymbol(QPainter& p, TBitBtnKind kind, const QColor& color) {
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(color, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (kind) {
    case TBitBtnKind::OK:
    case TBitBtnKind::Yes: {
      QPainterPath tick;
      tick.moveTo(3.5, 9.5);
      tick.lineTo(7.5, 13.5);
      tick.lineTo(14.5, 4.5);
      p.drawPath(tick);
      break;
    }
    case TBitBtnKind::All: {
      QPainterPath ticks;
      ticks.moveTo(1.5, 9.5);
      ticks.lineTo(4.5, 12.5);
      ticks.lineTo(9.5, 5.5);
      ticks.moveTo(7.5, 9.5);
      ticks.lineTo(10.5, 12.5);
      ticks.lineTo(16.5, 4.5);
      p.drawPath(ticks);
      break;
    }
    case TBitBtnKind::Cancel:
    case TBitBtnKind::Abort:
      p.drawLine(QPointF(4.5, 4.5), QPointF(13.5, 13.5));
      p.drawLine(QPointF(13.5, 4.5), QPointF(4.5, 13.5));
      break;
    case TBitBtnKind::No:
      p.drawEllipse(QRectF(3, 3, 12, 12));
      p.drawLine(QPointF(5.2, 12.8), QPointF(12.8, 5.2));
      break;
    case TBitBtnKind::Help: {
      QFont f;
      f.setBold(true);
      f.setPixelSize(15);
      p.setFont(f);
      p.drawText(QRectF(0, 0, KindGlyphSize, KindGlyphSize), Qt::AlignCenter, "?");
      break;
    }
    case TBitBtnKind::Close:
      // A door standing open.
      pen.setWidthF(1.6);
      p.setPen(pen);
      p.drawRect(QRectF(4.5, 2.5, 9, 13));
      p.setBrush(color);
      p.drawPolygon(QPolygonF(
          {QPointF(4.5, 2.5), QPointF(10.5, 4.5), QPointF(10.5, 16.5), QPointF(4.5, 15.5)}));
      break;
    case TBitBtnKind::Retry: {
      p.drawArc(QRectF(3.5, 3.5, 11, 11), 90 * 16, 270 * 16);
      p.setBrush(color);
      p.drawPolygon(QPolygonF({QPointF(9, 1.5), QPointF(13, 3.8), QPointF(9, 6.2)}));
      break;
    }
    case TBitBtnKind::Ignore:
      p.drawLine(QPointF(3.5, 9), QPointF(14.5, 9));
      p.drawLine(QPointF(10.5, 5), QPointF(14.5, 9));
      p.drawLine(QPointF(10.5, 13), QPointF(14.5, 9));
      break;
    case TBitBtnKind::Custom:
      break;
  }
}

QColor KindColor(TBitBtnKind kind) {
  switch (kind) {
    case TBitBtnKind::OK:
    case TBitBtnKind::Yes:
    case TBitBtnKind::All:
      return QColor(0, 128, 0);
    case TBitBtnKind::Cancel:
    case TBitBtnKind::Abort:
    case TBitBtnKind::No:
      return QColor(192, 0, 0);
    case TBitBtnKind::Help:
    case TBitBtnKind::Retry:
      return QColor(0, 64, 160);
    default:
      return QColor(128, 96, 32);
  }
}

}  // namespace

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent) {
  connect(this, &QPushButton::clicked, this, &TBitBtn::ClickedHandler);
}

void TBitBtn::SetGlyph(const QPixmap& glyph, int numGlyphs) {
  FGlyph = glyph;
  FNumGlyphs = numGlyphs < 1 ? 1 : (numGlyphs > 4 ? 4 : numGlyphs);
  UpdateIcon();
}

QPixmap TBitBtn::GlyphImage(int index) const {
  if (FGlyph.isNull() || index < 0 || index >= FNumGlyphs) return QPixmap();
  const int w = FGlyph.width() / FNumGlyphs;
  return FGlyph.copy(index * w, 0, w, FGlyph.height());
}

QPixmap TBitBtn::CurrentGlyph() const {
  if (FGlyph.isNull()) return QPixmap();
  if (!isEnabled()) {
    if (FNumGlyphs >= 2) return GlyphImage(1);
    return icon().pixmap(iconSize(), QIcon::Disabled);
  }
  return GlyphImage(0);
}

void TBitBtn::UpdateIcon() {
  if (FGlyph.isNull()) {
    setIcon(QIcon());
    return;
  }
  QIcon icon;
  const QPixmap normal = GlyphImage(0);
  icon.addPixmap(normal, QIcon::Normal);
  icon.addPixmap(normal, QIcon::Active);
  if (FNumGlyphs >= 2) icon.addPixmap(GlyphImage(1), QIcon::Disabled);
  setIcon(icon);
  setIconSize(normal.size());
}

void TBitBtn::SetKind(TBitBtnKind kind) {
  FKind = kind;
  for (const TKindInfo& info : Kinds) {
    if (info.Kind != kind) continue;
    setText(QString::fromLatin1(info.Caption));
    FModalResult = info.Result;
    SetGlyph(KindGlyph(kind), 2);
    if (kind == TBitBtnKind::Cancel) SetCancel(true);
    if (kind == TBitBtnKind::OK) setDefault(true);
  }
}

void TBitBtn::SetCancel(bool value) {
  FCancel = value;
  QWidget* w = window();
  if (FFilteredWindow != nullptr && FFilteredWindow != w) {
    FFilteredWindow->removeEventFilter(this);
    FFilteredWindow = nullptr;
  }
  if (value && w != nullptr && w != this && FFilteredWindow == nullptr) {
    w->installEventFilter(this);
    FFilteredWindow = w;
  }
}

bool TBitBtn::eventFilter(QObject* watched, QEvent* event) {
  if (FCancel && watched == FFilteredWindow && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && isVisible() &&
        isEnabled()) {
      click();
      return true;
    }
  }
  return QPushButton::eventFilter(watched, event);
}

void TBitBtn::ClickedHandler() {
  QWidget* w = window();
  if (w == nullptr || w == this) return;
  if (FModalResult != ModalResult::None) {
    if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->done(FModalResult);
  } else if (FKind == TBitBtnKind::Close) {
    w->close();
  }
}

QPixmap TBitBtn::KindGlyph(TBitBtnKind kind) {
  if (kind == TBitBtnKind::Custom) return QPixmap();
  QImage strip(KindGlyphSize * 2, KindGlyphSize, QImage::Format_ARGB32_Premultiplied);
  strip.fill(Qt::transparent);
  {
    QPainter p(&strip);
    DrawKindSymbol(p, kind, KindColor(kind));
    p.translate(KindGlyphSize, 0);
    DrawKindSymbol(p, kind, QColor(160, 160, 160));
  }
  return QPixmap::fromImage(strip);
}

}  // namespace widgets
