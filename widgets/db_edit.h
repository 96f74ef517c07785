#pragma once

#include <QLineEdit>
#include <string>

namespace dbcomp {
class TDataSource;
}

namespace widgets {

class TFieldLink;

// Letter case applied to what is typed into a TDBEdit.
enum class TEditCharCase { Normal, UpperCase, LowerCase };

// A data-aware one-line edit: shows a field's text and edits it.
//
// Binding: SetDataSource + SetDataField. On every record change the edit
// shows the field's Text() ("" for null, an inactive dataset or no field) and
// forgets any pending value; it becomes read-only while the field cannot be
// changed. A string field limits the text to its size.
//
// Typing (or pasting, or deleting) first asks the link for edit mode; when the
// dataset cannot edit the key is refused. An accepted change marks the link
// modified, and the text is written to the field (SetText: the empty text is
// null) when the dataset posts or leaves edit mode, or earlier when the edit
// loses the focus. A value the field refuses (its validation, a text that is
// no number) raises out of the post in the first case; on leaving the edit
// for another control of the window it goes to ReportException and the focus
// comes back to the edit with its text selected (another window taking the
// focus writes nothing). Escape while a value is pending shows the field's value again.
// Exceptions of the component layer inside the control's slots go to
// ReportException.
class TDBEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TDBEdit(QWidget* parent = nullptr);
  ~TDBEdit() override;

  void SetDataSource(dbcomp::TDataSource* source);
  dbcomp::TDataSource* DataSource() const;
  void SetDataField(std::string fieldName);
  const std::string& DataField() const;
  TFieldLink& DataLink() noexcept { return *FLink; }

  // Typed letters are turned to this case (default Normal).
  void SetCharCase(TEditCharCase charCase) noexcept { FCharCase = charCase; }
  TEditCharCase CharCase() const noexcept { return FCharCase; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void LoadFromField();
  void WriteToField();
  void EditingStateChanged();
  void TextEdited();
  bool AllowEdit();
  QString ApplyCase(const QString& text) const;

  TFieldLink* FLink;
  TEditCharCase FCharCase = TEditCharCase::Normal;
  bool FLoading = false;
  bool FWriting = false;
};

}  // namespace widgets
