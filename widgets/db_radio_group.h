#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>
#include <string>

class QButtonGroup;
class QRadioButton;

namespace dbcomp {
class TDataSource;
}

namespace widgets {

class TFieldLink;

// A group box of radio buttons, one per item, that shows and edits a field.
//
// Each item has a value: its entry in Values(), or its caption when Values()
// has no entry for it. Value() is the selected item's value, or "" when no
// item is selected (ItemIndex() -1). Setting Value() selects the first item
// whose value equals it exactly (case-sensitive), or none.
//
// Binding (SetDataSource + SetDataField): on every record change the group
// shows the field's text as its Value, so a null field (or an inactive
// dataset) shows no selection. A click on an item first asks the link for
// edit mode; when the dataset cannot edit (inactive, read-only, AutoEdit off,
// the record lock refused) the click is undone. Otherwise the item becomes
// the selection, the link is marked modified, and the value is written to the
// field as text (the empty text being null) when the dataset posts.
// Exceptions of the component layer inside the click go to ReportException.
// Without a data source or field the group is an ordinary radio group.
//
// Focus: giving the group the focus puts it on the selected button, or on the
// first one when none is selected (without selecting it).
//
// The buttons are laid out like a classic radio group: Columns() columns,
// items spread evenly over the height below the caption.
class TDBRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit TDBRadioGroup(QWidget* parent = nullptr);
  ~TDBRadioGroup() override;

  void SetItems(const QStringList& items);
  QStringList Items() const;
  void SetValues(const QStringList& values) { FValues = values; }
  const QStringList& Values() const noexcept { return FValues; }
  int Columns() const noexcept { return FColumns; }
  void SetColumns(int columns);

  int ItemIndex() const;
  // Selects item `index`; -1 (or any index out of range) selects none.
  void SetItemIndex(int index);
  QString Value() const;
  void SetValue(const QString& value);
  QRadioButton* Button(int index) const;

  void SetDataSource(dbcomp::TDataSource* source);
  dbcomp::TDataSource* DataSource() const;
  void SetDataField(std::string fieldName);
  const std::string& DataField() const;
  TFieldLink& DataLink() noexcept { return *FLink; }

  // The focus is on the group or one of its buttons.
  bool ContainsFocus() const;

 Q_SIGNALS:
  // The user picked an item and the group accepted it.
  void Click();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QString ItemValue(int index) const;
  void ButtonClicked(int index);
  void LoadFromField();
  void WriteToField();
  void ArrangeButtons();

  TFieldLink* FLink;
  QButtonGroup* FGroup;
  QList<QRadioButton*> FButtons;
  QStringList FValues;
  QString FValue;
  int FColumns = 1;
  bool FInSetValue = false;
};

}  // namespace widgets
