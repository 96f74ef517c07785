#include "widgets/db_radio_group.h"

#include <QApplication>
#include <QButtonGroup>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QRadioButton>
#include <exception>

#include "dbcomp/field.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"

namespace widgets {

TDBRadioGroup::TDBRadioGroup(QWidget* parent)
    : QGroupBox(parent), FLink(new TFieldLink(this)), FGroup(new QButtonGroup(this)) {
  FGroup->setExclusive(true);
  setFocusPolicy(Qt::TabFocus);
  connect(FGroup, &QButtonGroup::idClicked, this, &TDBRadioGroup::ButtonClicked);
  connect(FLink, &TFieldLink::DataChanged, this, &TDBRadioGroup::LoadFromField);
  FLink->OnUpdateData = [this] { WriteToField(); };
}

TDBRadioGroup::~TDBRadioGroup() { FLink->OnUpdateData = nullptr; }

void TDBRadioGroup::SetItems(const QStringList& items) {
  const QString value = FValue;
  for (QRadioButton* b : FButtons) {
    FGroup->removeButton(b);
    delete b;
  }
  FButtons.clear();
  for (qsizetype i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    b->setFocusPolicy(Qt::StrongFocus);
    FGroup->addButton(b, static_cast<int>(i));
    FButtons.append(b);
    b->show();
  }
  ArrangeButtons();
  SetValue(value);
}

QStringList TDBRadioGroup::Items() const {
  QStringList items;
  for (QRadioButton* b : FButtons) items.append(b->text());
  return items;
}

void TDBRadioGroup::SetColumns(int columns) {
  FColumns = columns < 1 ? 1 : columns;
  ArrangeButtons();
}

int TDBRadioGroup::ItemIndex() const { return FGroup->checkedId(); }

void TDBRadioGroup::SetItemIndex(int index) {
  const bool saved = FInSetValue;
  FInSetValue = true;
  if (index >= 0 && index < FButtons.size()) {
    FButtons[index]->setChecked(true);
  } else if (QAbstractButton* checked = FGroup->checkedButton()) {
    // An exclusive group refuses to uncheck its last button.
    FGroup->setExclusive(false);
    checked->setChecked(false);
    FGroup->setExclusive(true);
  }
  FInSetValue = saved;
}

QString TDBRadioGroup::ItemValue(int index) const {
  if (index < FValues.size() && !FValues[index].isEmpty()) return FValues[index];
  return FButtons[index]->text();
}

QString TDBRadioGroup::Value() const { return FValue; }

void TDBRadioGroup::SetValue(const QString& value) {
  FValue = value;
  int found = -1;
  for (qsizetype i = 0; i < FButtons.size(); ++i) {
    if (ItemValue(static_cast<int>(i)) == value) {
      found = static_cast<int>(i);
      break;
    }
  }
  SetItemIndex(found);
}

QRadioButton* TDBRadioGroup::Button(int index) const {
  return index >= 0 && index < FButtons.size() ? FButtons[index] : nullptr;
}

void TDBRadioGroup::SetDataSource(dbcomp::TDataSource* source) {
  FLink->SetDataSource(source);
  LoadFromField();
}

dbcomp::TDataSource* TDBRadioGroup::DataSource() const { return FLink->DataSource(); }

void TDBRadioGroup::SetDataField(std::string fieldName) {
  FLink->SetFieldName(std::move(fieldName));
  LoadFromField();
}

const std::string& TDBRadioGroup::DataField() const { return FLink->FieldName(); }

bool TDBRadioGroup::ContainsFocus() const {
  const QWidget* f = QApplication::focusWidget();
  return f != nullptr && (f == this || isAncestorOf(f));
}

void TDBRadioGroup::ButtonClicked(int index) {
  if (FInSetValue) return;
  const bool bound = !FLink->FieldName().empty() && FLink->DataSource() != nullptr;
  bool allowed = true;
  if (bound) {
    try {
      allowed = FLink->Edit();
    } catch (const std::exception& e) {
      ReportException(e);
      allowed = false;
    }
  }
  if (!allowed) {
    SetValue(FValue);  // undo the click: back to the shown value
    return;
  }
  // Edit mode re-reads the record and reloads the group; the pick wins.
  SetValue(ItemValue(index));
  if (FLink->Editing()) FLink->MarkModified();
  Q_EMIT Click();
}

void TDBRadioGroup::LoadFromField() {
  QString value;
  try {
    dbcomp::TField* field = FLink->Field();
    if (field != nullptr && FLink->Active()) value = QString::fromStdString(field->Text());
  } catch (const std::exception& e) {
    ReportException(e);
  }
  SetValue(value);
}

void TDBRadioGroup::WriteToField() {
  dbcomp::TField* field = FLink->Field();
  if (field == nullptr) return;
  field->SetText(FValue.toStdString());
}

void TDBRadioGroup::ArrangeButtons() {
  if (FButtons.isEmpty()) return;
  const int count = static_cast<int>(FButtons.size());
  const int perColumn = (count + FColumns - 1) / FColumns;
  const int textHeight = QFontMetrics(font()).height();
  const int buttonWidth = (width() - 10) / FColumns;
  const int space = height() - textHeight - 5;
  const int buttonHeight = space / perColumn;
  const int topMargin = textHeight + 1 + (space % perColumn) / 2;
  for (int i = 0; i < count; ++i) {
    FButtons[i]->setGeometry((i / perColumn) * buttonWidth + 8,
                             (i % perColumn) * buttonHeight + topMargin, buttonWidth, buttonHeight);
  }
}

void TDBRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  ArrangeButtons();
}

void TDBRadioGroup::changeEvent(QEvent* event) {
  QGroupBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) ArrangeButtons();
}

void TDBRadioGroup::focusInEvent(QFocusEvent* event) {
  QGroupBox::focusInEvent(event);
  // The focus belongs on a button: the selected one, else the first.
  QAbstractButton* target = FGroup->checkedButton();
  if (target == nullptr && !FButtons.isEmpty()) target = FButtons.first();
  if (target != nullptr) target->setFocus(event->reason());
}

}  // namespace widgets
