#include "widgets/db_rich_edit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextDocument>
#include <exception>

#include "dbcomp/field.h"
#include "widgets/exception_reporter.h"
#include "widgets/field_link.h"
#include "widgets/rtf_reader.h"
#include "widgets/rtf_writer.h"

namespace widgets {

TDBRichEdit::TDBRichEdit(QWidget* parent) : QTextEdit(parent), FLink(new TFieldLink(this)) {
  setAcceptRichText(true);
  connect(FLink, &TFieldLink::DataChanged, this, &TDBRichEdit::LoadFromField);
  connect(this, &QTextEdit::textChanged, this, &TDBRichEdit::TextChangedHandler);
  FLink->OnUpdateData = [this] { WriteToField(); };
}

TDBRichEdit::~TDBRichEdit() { FLink->OnUpdateData = nullptr; }

void TDBRichEdit::SetDataSource(dbcomp::TDataSource* source) {
  FLink->SetDataSource(source);
  LoadFromField();
}

dbcomp::TDataSource* TDBRichEdit::DataSource() const { return FLink->DataSource(); }

void TDBRichEdit::SetDataField(std::string fieldName) {
  FLink->SetFieldName(std::move(fieldName));
  LoadFromField();
}

const std::string& TDBRichEdit::DataField() const { return FLink->FieldName(); }

void TDBRichEdit::LoadRichText(std::span<const std::uint8_t> rtf) {
  FLoading = true;
  // The reader rebuilds the document; keep the default font across it.
  const QFont font = document()->defaultFont();
  TRtfReader::Read(rtf, *document());
  document()->setDefaultFont(font);
  FLoading = false;
  Q_EMIT Change();
}

std::vector<std::uint8_t> TDBRichEdit::RichText() const { return TRtfWriter::Write(*document()); }

void TDBRichEdit::SetDefaultFont(const QString& family, double points) {
  QFont font(family);
  font.setStyleHint(QFont::Serif);
  font.setPointSizeF(points);
  document()->setDefaultFont(font);
}

QFont TDBRichEdit::DefaultFont() const { return document()->defaultFont(); }

void TDBRichEdit::LoadFromField() {
  std::vector<std::uint8_t> bytes;
  try {
    dbcomp::TField* field = FLink->Field();
    if (field != nullptr && FLink->Active() && !field->IsNull()) bytes = field->AsBytes();
  } catch (const std::exception& e) {
    ReportException(e);
  }
  LoadRichText(bytes);
}

void TDBRichEdit::WriteToField() {
  dbcomp::TField* field = FLink->Field();
  if (field == nullptr) return;
  if (document()->isEmpty()) {
    field->Clear();
  } else {
    const std::vector<std::uint8_t> rtf = RichText();
    field->SetAsBytes(rtf);
  }
}

bool TDBRichEdit::AllowEdit() {
  if (isReadOnly()) return false;
  if (FLink->FieldName().empty() || FLink->DataSource() == nullptr) return true;
  try {
    return FLink->Edit();
  } catch (const std::exception& e) {
    ReportException(e);
    return false;
  }
}

void TDBRichEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool typed = !text.isEmpty() && (text.at(0).isPrint() || text.at(0) == u'\r');
  const bool edits = typed || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
                     event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut);
  if (edits && !isReadOnly() && !AllowEdit()) {
    event->accept();
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void TDBRichEdit::insertFromMimeData(const QMimeData* source) {
  if (!AllowEdit()) return;
  QTextEdit::insertFromMimeData(source);
}

void TDBRichEdit::TextChangedHandler() {
  if (FLoading) return;
  if (FLink->Editing()) FLink->MarkModified();
  Q_EMIT Change();
}

}  // namespace widgets
