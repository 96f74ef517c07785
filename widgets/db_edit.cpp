#include "widgets/db_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>
#include <exception>

#include "dbcomp/field.h"
#include "dbcomp/field_data_link.h"
#include "dbcomp/field_def.h"
#include "widgets/code_page_1252.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"

namespace widgets {

namespace {

// Field texts are 8-bit, in code page 1252.
QString FromCodePage1252(const std::string& text) {
  QString out;
  out.reserve(static_cast<qsizetype>(text.size()));
  for (char c : text) out.append(QChar(Cp1252ToUnicode(static_cast<std::uint8_t>(c))));
  return out;
}

// Characters outside the code page become "?".
std::string ToCodePage1252(const QString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  for (QChar c : text) {
    const int b = UnicodeToCp1252(c.unicode());
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

}  // namespace

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent), FLink(new TFieldLink(this)) {
  connect(FLink, &TFieldLink::DataChanged, this, &TDBEdit::LoadFromField);
  connect(FLink, &TFieldLink::EditingChanged, this, &TDBEdit::EditingStateChanged);
  connect(FLink, &TFieldLink::ActiveChanged, this, &TDBEdit::EditingStateChanged);
  connect(this, &QLineEdit::textEdited, this, &TDBEdit::TextEdited);
  FLink->OnUpdateData = [this] { WriteToField(); };
  EditingStateChanged();
}

TDBEdit::~TDBEdit() { FLink->OnUpdateData = nullptr; }

void TDBEdit::SetDataSource(dbcomp::TDataSource* source) {
  FLink->SetDataSource(source);
  EditingStateChanged();
  LoadFromField();
}

dbcomp::TDataSource* TDBEdit::DataSource() const { return FLink->DataSource(); }

void TDBEdit::SetDataField(std::string fieldName) {
  FLink->SetFieldName(std::move(fieldName));
  EditingStateChanged();
  LoadFromField();
}

const std::string& TDBEdit::DataField() const { return FLink->FieldName(); }

void TDBEdit::LoadFromField() {
  QString text;
  int maxLength = 32767;
  try {
    if (dbcomp::TField* field = FLink->Field(); field != nullptr && FLink->Active()) {
      text = FromCodePage1252(field->Text());
      if (field->DataType() == dbcomp::TFieldType::String) maxLength = field->Size();
    }
  } catch (const std::exception& e) {
    ReportException(e);
  }
  FLoading = true;
  setMaxLength(maxLength);
  setText(text);
  setModified(false);
  FLoading = false;
}

void TDBEdit::WriteToField() {
  if (dbcomp::TField* field = FLink->Field()) field->SetText(ToCodePage1252(text()));
}

void TDBEdit::EditingStateChanged() {
  // Typing starts an edit, so only a field that can never change is read-only.
  const dbcomp::TField* field = FLink->Field();
  setReadOnly(FLink->DataSource() != nullptr && !FLink->FieldName().empty() &&
              (field == nullptr || !field->CanModify() || FLink->ReadOnly()));
}

bool TDBEdit::AllowEdit() {
  if (isReadOnly()) return false;
  if (FLink->FieldName().empty() || FLink->DataSource() == nullptr) return true;
  if (FLink->Editing()) return true;
  // Entering edit mode reads the record again, which reloads the text: the
  // cursor and the selection are put back where they were.
  const int start = selectionStart();
  const int length = selectionLength();
  const int position = cursorPosition();
  bool editing = false;
  try {
    editing = FLink->Edit();
  } catch (const std::exception& e) {
    ReportException(e);
    return false;
  }
  if (start >= 0 && start + length <= text().size()) {
    if (position == start)
      setSelection(start + length, -length);
    else
      setSelection(start, length);
  } else {
    setCursorPosition(std::min(position, static_cast<int>(text().size())));
  }
  return editing;
}

QString TDBEdit::ApplyCase(const QString& text) const {
  switch (FCharCase) {
    case TEditCharCase::UpperCase:
      return text.toUpper();
    case TEditCharCase::LowerCase:
      return text.toLower();
    case TEditCharCase::Normal:
      break;
  }
  return text;
}

void TDBEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && FLink->IsModified()) {
    FLink->Link().Reset();
    selectAll();
    event->accept();
    return;
  }
  const QString typed = event->text();
  const bool printable = !typed.isEmpty() && typed.at(0).isPrint();
  const bool edits = printable || event->key() == Qt::Key_Backspace ||
                     event->key() == Qt::Key_Delete || event->matches(QKeySequence::Paste) ||
                     event->matches(QKeySequence::Cut);
  if (edits && !isReadOnly()) {
    if (!AllowEdit()) {
      event->accept();
      return;
    }
    if (printable && FCharCase != TEditCharCase::Normal && ApplyCase(typed) != typed) {
      insert(ApplyCase(typed));
      event->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

void TDBEdit::TextEdited() {
  if (FLoading) return;
  if (FLink->FieldName().empty() || FLink->DataSource() == nullptr) return;
  if (!FLink->Editing()) {
    // A change that did not come through a key (the context menu's paste):
    // entering edit mode reloads the field, so the new text is put back after.
    const QString wanted = text();
    if (!AllowEdit()) {
      LoadFromField();
      return;
    }
    FLoading = true;
    setText(ApplyCase(wanted));
    FLoading = false;
  }
  FLink->MarkModified();
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // Only a move to another control of the window writes: another window
  // taking the focus (a dialog, a menu) leaves the value pending. While a
  // refused value is being reported, the report's own dialog takes the focus.
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  if (FWriting || !FLink->IsModified() || !FLink->Editing()) return;
  FWriting = true;
  try {
    FLink->Link().UpdateRecord();
  } catch (const std::exception& e) {
    ReportException(e);
    selectAll();
    setFocus();
  }
  FWriting = false;
}

}  // namespace widgets
