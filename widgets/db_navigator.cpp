#include "widgets/db_navigator.h"

#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolButton>
#include <exception>

#include "dbcomp/data_link.h"
#include "dbcomp/data_set.h"
#include "widgets/exception_reporter.h"

namespace widgets {

namespace {

constexpr int GlyphSize = 16;

constexpr const char* Hints[NavigateBtnCount] = {
    "First record", "Prior record", "Next record", "Last record", "Insert record",
    "Delete record", "Edit record", "Post edit", "Cancel edit", "Refresh data",
};

constexpr const char* ObjectNames[NavigateBtnCount] = {
    "First", "Prior", "Next", "Last", "Insert", "Delete", "Edit", "Post", "Cancel", "Refresh",
};

std::size_t IndexOf(TNavigateBtn button) { return static_cast<std::size_t>(button); }

// The glyph of a button, drawn in `color` into a 16 x 16 cell.
void DrawGlyph(QPainter& p, TNavigateBtn button, const QColor& color) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(color);
  const auto triangle = [&](double tipX, double baseX) {
    QPainterPath path;
    path.moveTo(tipX, 8);
    path.lineTo(baseX, 3);
    path.lineTo(baseX, 13);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (button) {
    case TNavigateBtn::First:
      p.drawLine(QPointF(4, 3), QPointF(4, 13));
      triangle(6, 12);
      break;
    case TNavigateBtn::Prior:
      triangle(5, 11);
      break;
    case TNavigateBtn::Next:
      triangle(11, 5);
      break;
    case TNavigateBtn::Last:
      triangle(10, 4);
      p.drawLine(QPointF(12, 3), QPointF(12, 13));
      break;
    case TNavigateBtn::Insert:
      p.drawLine(QPointF(8, 3), QPointF(8, 13));
      p.drawLine(QPointF(3, 8), QPointF(13, 8));
      break;
    case TNavigateBtn::Delete:
      p.drawLine(QPointF(3, 8), QPointF(13, 8));
      break;
    case TNavigateBtn::Edit: {
      QPainterPath path;
      path.moveTo(8, 4);
      path.lineTo(13, 12);
      path.lineTo(3, 12);
      path.closeSubpath();
      p.drawPath(path);
      break;
    }
    case TNavigateBtn::Post: {
      p.setBrush(Qt::NoBrush);
      QPainterPath tick;
      tick.moveTo(3, 8.5);
      tick.lineTo(6.5, 12);
      tick.lineTo(13, 4);
      p.drawPath(tick);
      break;
    }
    case TNavigateBtn::Cancel:
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    case TNavigateBtn::Refresh: {
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
      p.setBrush(color);
      QPainterPath head;
      head.moveTo(8, 1);
      head.lineTo(11.5, 3);
      head.lineTo(8, 5);
      head.closeSubpath();
      p.drawPath(head);
      break;
    }
  }
}

QIcon GlyphIcon(TNavigateBtn button) {
  QIcon icon;
  for (const auto& [mode, color] : {std::pair{QIcon::Normal, QColor(0, 0, 0)},
                                    std::pair{QIcon::Disabled, QColor(160, 160, 160)}}) {
    QPixmap pixmap(GlyphSize, GlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    DrawGlyph(p, button, color);
    p.end();
    icon.addPixmap(pixmap, mode);
  }
  return icon;
}

}  // namespace

// Tells the navigator about every change of the dataset's state or record.
class TDBNavigator::TLink : public dbcomp::TDataLink {
 public:
  explicit TLink(TDBNavigator& navigator) : FNavigator(navigator) {}

 protected:
  void ActiveChanged() override { FNavigator.UpdateButtons(); }
  void EditingChanged() override { FNavigator.UpdateButtons(); }
  void RecordChanged(dbcomp::TField*) override { FNavigator.UpdateButtons(); }
  void DataSetChanged() override { FNavigator.UpdateButtons(); }
  void DataSetScrolled(int) override { FNavigator.UpdateButtons(); }

 private:
  TDBNavigator& FNavigator;
};

TDBNavigator::TDBNavigator(QWidget* parent)
    : QWidget(parent), FLink(std::make_unique<TLink>(*this)) {
  for (std::size_t i = 0; i < NavigateBtnCount; ++i) {
    const auto button = static_cast<TNavigateBtn>(i);
    auto* b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(ObjectNames[i]));
    b->setIcon(GlyphIcon(button));
    b->setIconSize(QSize(GlyphSize, GlyphSize));
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRaise(false);
    connect(b, &QToolButton::clicked, this, [this, button] { BtnClick(button); });
    FButtons[i] = b;
  }
  SetShowHint(true);
  ArrangeButtons();
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() { FLink->SetDataSource(nullptr); }

void TDBNavigator::SetDataSource(dbcomp::TDataSource* source) {
  FLink->SetDataSource(source);
  UpdateButtons();
}

dbcomp::TDataSource* TDBNavigator::DataSource() const { return FLink->DataSource(); }

void TDBNavigator::SetShowHint(bool value) {
  FShowHint = value;
  for (std::size_t i = 0; i < NavigateBtnCount; ++i)
    FButtons[i]->setToolTip(value ? Hint(static_cast<TNavigateBtn>(i)) : QString());
}

QToolButton* TDBNavigator::Button(TNavigateBtn button) const { return FButtons[IndexOf(button)]; }

QString TDBNavigator::Hint(TNavigateBtn button) {
  return QString::fromLatin1(Hints[IndexOf(button)]);
}

void TDBNavigator::UpdateButtons() {
  const dbcomp::TDataSet* data = FLink->DataSet();
  const bool active = FLink->Active() && data != nullptr;
  const bool editing = active && FLink->Editing();
  const bool hasRecord = active && (!data->IsEmpty() || editing);
  const bool canModify = active && !FLink->ReadOnly() && data->CanModify();
  const bool up = active && !data->AtBeginning();
  const bool down = active && !data->AtEnd();
  const bool enabled[NavigateBtnCount] = {
      up,                                 // First
      up,                                 // Prior
      down,                               // Next
      down,                               // Last
      canModify,                          // Insert
      canModify && hasRecord,             // Delete
      canModify && hasRecord && !editing, // Edit
      canModify && editing,               // Post
      canModify && editing,               // Cancel
      active && !editing,                 // Refresh
  };
  for (std::size_t i = 0; i < NavigateBtnCount; ++i) FButtons[i]->setEnabled(enabled[i]);
}

void TDBNavigator::BtnClick(TNavigateBtn button) {
  try {
    RunButton(button);
  } catch (const std::exception& e) {
    ReportException(e);
  }
  UpdateButtons();
  Q_EMIT Click(button);
}

void TDBNavigator::RunButton(TNavigateBtn button) {
  dbcomp::TDataSet* data = FLink->DataSet();
  if (data == nullptr || !FLink->Active()) return;
  switch (button) {
    case TNavigateBtn::First:
      data->First();
      break;
    case TNavigateBtn::Prior:
      data->Prior();
      break;
    case TNavigateBtn::Next:
      data->Next();
      break;
    case TNavigateBtn::Last:
      data->Last();
      break;
    case TNavigateBtn::Insert:
      data->Insert();
      break;
    case TNavigateBtn::Delete: {
      if (FConfirmDelete) {
        const QString question = QStringLiteral("Delete record?");
        const bool go = OnConfirm ? OnConfirm(question)
                                  : QMessageBox::question(this, QString(), question,
                                                          QMessageBox::Ok | QMessageBox::Cancel,
                                                          QMessageBox::Cancel) == QMessageBox::Ok;
        if (!go) return;
      }
      data->Delete();
      break;
    }
    case TNavigateBtn::Edit:
      data->Edit();
      break;
    case TNavigateBtn::Post:
      data->Post();
      break;
    case TNavigateBtn::Cancel:
      data->Cancel();
      break;
    case TNavigateBtn::Refresh:
      data->Refresh();
      break;
  }
}

void TDBNavigator::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ArrangeButtons();
}

void TDBNavigator::ArrangeButtons() {
  // The width is shared out evenly; what is left over goes to the first buttons.
  const int count = static_cast<int>(NavigateBtnCount);
  const int w = width() / count;
  int extra = width() - w * count;
  int x = 0;
  for (QToolButton* b : FButtons) {
    const int bw = w + (extra > 0 ? 1 : 0);
    if (extra > 0) --extra;
    b->setGeometry(x, 0, bw, height());
    x += bw;
  }
}

}  // namespace widgets
